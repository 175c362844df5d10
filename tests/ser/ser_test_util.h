// Shared set-up of the serial library tests: one port mapped to a fresh
// pseudo-terminal, every port closed and every default restored afterwards,
// so the tests also pass when one process runs them all.
#pragma once

#include "ser/ser.h"
#include "support/pty_pair.h"
#include "support/stepped_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

class SerTest : public ::testing::Test {
protected:
  static constexpr int kPort = 2;  // COM3

  void SetUp() override { pty_.mapTo(kPort); }

  void TearDown() override {
    for (int p = 0; p < SIO_MAX_PORTS; ++p)
      SioDone(p);
    SteppedClock::uninstall();
    BaudRateDefault = 9600;
    ParityDefault = 0;
    StopBitsDefault = 0;
    DataBitsDefault = 8;
  }

  void openPort() { ASSERT_EQ(SioReset(kPort, 8192, 8192), 0) << "errno " << LastWinError; }

  // Waits until the port's input queue holds at least n bytes.
  bool waitForInput(int n, int timeout_ms = 2000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (SioRxQue(kPort) < n) {
      if (std::chrono::steady_clock::now() > until)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // Collects n bytes through SioGets, or what came within the time-out.
  std::vector<uint8_t> readBytes(size_t n, int timeout_ms = 2000) {
    std::vector<uint8_t> got;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    uint8_t buf[512];
    while (got.size() < n && std::chrono::steady_clock::now() < until) {
      int r = SioGets(kPort, buf, int(std::min(sizeof buf, n - got.size())));
      if (r < 0) {
        ADD_FAILURE() << "SioGets gave " << r;
        break;
      }
      if (r == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

  PtyPair pty_;
};

inline long elapsedMs(std::chrono::steady_clock::time_point since) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - since)
                  .count());
}
