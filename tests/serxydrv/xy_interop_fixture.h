// Our driver on port 0 at one end of a linked pty pair, an lrzsz program at
// the other, with its stdin and stdout on the device as on a real line.
#pragma once

#include "serxydrv/serxydrv.h"
#include "ser/ser.h"
#include "support/pty_pair.h"
#include "xy_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

class LinkedPeer : public ::testing::Test {
protected:
  static constexpr int kPort = 0;
  using Bytes = std::vector<uint8_t>;

  void SetUp() override {
    peerDir_ = dir_.file("peer");
    ourDir_ = dir_.file("ours");
    mkdir(peerDir_.c_str(), 0755);
    mkdir(ourDir_.c_str(), 0755);
    SioSetClock(nullptr);
    xyDebug(0);
    xySetParameter(kPort, 52, 4);
    while (xyGetMessage(nullptr, 0)) {
    }
  }

  void TearDown() override {
    xyAbort(kPort);
    xyRelease(kPort);
    SioDone(kPort);
    unsetenv("KESTRELON_COM1");
    peer_.stop();
  }

  // Opens our port on end a of the line and acquires the driver.
  bool openOurs(xytest::Line &line) {
    setenv("KESTRELON_COM1", line.a().c_str(), 1);
    return SioReset(kPort, 8192, 8192) == 0 && xyAcquire(kPort) == 0;
  }

  // Starts an lrzsz program on end b, in the peer's directory.
  bool startPeer(xytest::Line &line, const std::vector<std::string> &argv) {
    peerLog_ = dir_.file("peer.log");
    bool ok = peer_.start(argv, peerDir_, line.b(), peerLog_);
    // Let it set its terminal up before our side speaks.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return ok;
  }

  // A receiving lrzsz program on end b through pipes (see Line).
  bool startReceiver(xytest::Line &line, const std::string &command) {
    peerLog_ = dir_.file("peer.log");
    return line.startSocatProgram(command, peerDir_, peerLog_);
  }

  xytest::DriveResult finishReceiver(xytest::Line &line, int tickMs, int deadlineMs) {
    xytest::DriveResult r = xytest::driveToEnd(kPort, tickMs, deadlineMs);
    line.wait(15000);
    return r;
  }

  std::string peerLog() const {
    std::ifstream in(peerLog_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string ourMessages() {
    std::string all;
    char text[XY_MESSAGE_SIZE];
    while (xyGetMessage(text, sizeof text))
      all += std::string(text) + "\n";
    return all;
  }

  // Runs our side to its end as the window does, then waits for the peer.
  xytest::DriveResult finish(int tickMs, int deadlineMs) {
    xytest::DriveResult r = xytest::driveToEnd(kPort, tickMs, deadlineMs);
    if (!peer_.wait(15000))
      peer_.stop();
    return r;
  }

  TempDir dir_;
  std::string peerDir_, ourDir_, peerLog_;
  xytest::Process peer_;
};
