// The monitor's window on pseudo-terminals, for the tests of the monitor core
// and of the shell. The working directory is a fresh temporary one
// (kestrelon.cfg lands there), COM1 and COM2 are fresh pseudo-terminal
// pairs, every other COM port names a device that is not there, and message
// boxes are recorded instead of shown. The window runs the monitor's own
// dialog procedure; every message it gets is recorded as well.
#pragma once

#include "dlg/dlg.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class DisplayPane;

struct RecordedMessage {
  unsigned message;
  uintptr_t wParam;
};

struct RecordedBox {
  std::string text, caption;
};

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the window with the monitor's dialog procedure.
  void start();
  // Ends a window that is still running the way Exit does, removes it, and
  // closes every port still open.
  void finish();

  // Points COM<port+1> at a device that is not there.
  void mapMissing(int port);

  DisplayPane *pane() const;
  std::string paneText() const;
  std::string tooltip(int id) const;
  // Commands recorded for a control with a notification code.
  int commandsFor(int id, unsigned notification) const;
  // Waits (without running Qt events, so the pump does not run by itself)
  // until at least `count` bytes of the port wait for the pump (read by the
  // capture, or in the queue of a port it does not read).
  bool waitForQueue(int port, int count, int timeoutMs = 3000) const;
  std::vector<uint8_t> configBytes() const;
  // Logging from now on into a file of the test's directory, chosen as a
  // user chooses it; its path.
  std::string startLogging(const char *name);

  TempDir dir_;
  std::string oldCwd_;
  PtyPair com1_;
  PtyPair com2_;
  HWND window_ = nullptr;
  std::vector<RecordedBox> boxes_;
  std::vector<int> answers_;  // buttons pressed in the next questions (else the first)

public:
  static std::vector<RecordedMessage> recorded;
};
