// Port 0 on a real pseudo-terminal, the driver acquired for it and its clock
// stepped: the test plays the far end byte by byte through the master.
#pragma once

#include "serxydrv/serxydrv.h"
#include "serxydrv/xyinternal.h"
#include "ser/ser.h"
#include "support/pty_pair.h"
#include "support/stepped_clock.h"
#include "xy_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class SteppedPort : public ::testing::Test {
protected:
  static constexpr int kPort = 0;

  void SetUp() override {
    pty_.mapTo(kPort);
    ASSERT_EQ(SioReset(kPort, 8192, 8192), 0);
    SteppedClock::install();
    ASSERT_EQ(xyAcquire(kPort), 0);
    xyDebug(0);
    xySetParameter(kPort, XY_SET_NAK_RATE, 4);
    xySetParameter(kPort, XY_SET_EOF_CHAR, 0x1A);
    while (xyGetMessage(nullptr, 0)) {
    }
  }

  void TearDown() override {
    xyAbort(kPort);
    xyRelease(kPort);
    SteppedClock::uninstall();
    SioDone(kPort);
  }

  // The far end sends bytes; returns once the port has them waiting, so the
  // next driver step sees them whatever the pty's own latency.
  void feed(const std::vector<uint8_t> &bytes) {
    int before = SioRxQue(kPort);
    pty_.send(bytes);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (SioRxQue(kPort) < before + int(bytes.size()) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  void feed(uint8_t byte) { feed(std::vector<uint8_t>{byte}); }

  // What the driver has sent so far (waits up to timeoutMs for count bytes).
  std::vector<uint8_t> wire(size_t count, int timeoutMs = 1000) {
    return pty_.receive(count, timeoutMs);
  }
  std::vector<uint8_t> wireRest() { return pty_.drain(50); }

  std::vector<std::string> messages() {
    std::vector<std::string> all;
    char text[XY_MESSAGE_SIZE];
    while (xyGetMessage(text, sizeof text))
      all.push_back(text);
    return all;
  }

  int param(int id) { return xyGetParameter(kPort, id); }
  uint32_t now() const { return SteppedClock::now; }

  // The window's timer: the clock moves this much between two driver calls.
  static constexpr uint32_t kTickMs = 50;

  // Calls the driver as the window's timer does until the transfer ends (at
  // most `calls` calls); returns the time that passed on the clock.
  uint32_t runToEnd(int calls = 100000) {
    const uint32_t start = now();
    for (int i = 0; i < calls && xyDriver(kPort) != 0; ++i)
      SteppedClock::advance(kTickMs);
    return now() - start;
  }

  // Sets the clock so that it wraps ms from now: a wait that begins next is
  // timed across the wrap. Only while none of the driver's waits is running.
  uint32_t wrapIn(uint32_t ms) { return SteppedClock::now = 0u - ms; }

  PtyPair pty_;
  TempDir dir_;
};

// Reference CRC-16/XMODEM, bit by bit, independent of the driver's table.
inline uint16_t referenceCrc(const uint8_t *data, size_t size) {
  uint16_t crc = 0;
  for (size_t i = 0; i < size; ++i) {
    crc ^= uint16_t(data[i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

// A packet as a sender puts it on the wire: SOH for 128 data bytes, STX for
// 1024 (or `header`), number, complement, data, CRC-16 or checksum.
inline std::vector<uint8_t> makePacket(uint8_t number, const std::vector<uint8_t> &data, bool crc,
                                       uint8_t header = 0) {
  std::vector<uint8_t> p;
  p.reserve(data.size() + 5);
  p.push_back(header ? header : (data.size() == 1024 ? STX : SOH));
  p.push_back(number);
  p.push_back(uint8_t(255 - number));
  for (uint8_t b : data)
    p.push_back(b);
  if (crc) {
    uint16_t c = referenceCrc(data.data(), data.size());
    p.push_back(uint8_t(c >> 8));
    p.push_back(uint8_t(c));
  } else {
    uint8_t sum = 0;
    for (uint8_t b : data)
      sum = uint8_t(sum + b);
    p.push_back(sum);
  }
  return p;
}
