// A monitor window on pseudo-terminals: COM1 and COM2 are mapped to fresh
// pairs before the window starts, the working directory is a fresh temporary
// one (kestrelon.cfg lands there), and message boxes are recorded instead of
// shown.
#pragma once

#include "dlg/dlg.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct RecordedMessage {
  unsigned message;
  uintptr_t wParam;
};

class ShellTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the window with the monitor's dialog procedure, every message
  // also recorded.
  void start();
  // Ends a window that is still running the way Exit does, and removes it.
  void finish();

  std::string paneText() const;
  // Commands recorded for a control with a notification code.
  int commandsFor(int id, unsigned notification) const;
  // Waits (without running Qt events, so the pump does not run by itself)
  // until the port reports at least `count` bytes waiting.
  bool waitForQueue(int port, int count, int timeoutMs = 3000) const;
  // Runs Qt events until `done` holds or the time is up.
  template <class Done>
  bool processUntil(Done done, int timeoutMs = 5000);
  std::vector<uint8_t> configBytes() const;

  std::unique_ptr<TempDir> dir_;
  std::string oldCwd_;
  PtyPair com1_;
  PtyPair com2_;
  HWND window_ = nullptr;
  std::vector<std::pair<std::string, std::string>> boxes_;  // text, caption

public:
  static std::vector<RecordedMessage> recorded;
};

void processEventsFor(int ms);
bool processEventsUntilImpl(const std::function<bool()> &done, int timeoutMs);

template <class Done>
bool ShellTest::processUntil(Done done, int timeoutMs) {
  return processEventsUntilImpl(std::function<bool()>(done), timeoutMs);
}
