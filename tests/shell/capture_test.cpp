// Capture through the real window on pseudo-terminals: bytes read as they
// arrive, shown in the order they came across both ports however busy the
// window is, lines of the Time view where the pauses were, a flood the pane
// cannot keep up with marked there and logged whole, a transfer's port taken
// alone, line events, and rates typed into the Speed lists.
#include "support/dialog_reads.h"
#include "support/random_text.h"
#include "support/stepped_clock.h"
#include "support/window_fixture.h"

#include "../hex/log_reading.h"
#include "../ser/device_view.h"

#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs the window's events until `done` holds, waking for each event (a
// port turning readable, a timer) rather than polling; false after
// `timeoutMs`.
bool runUntil(const std::function<bool()> &done, int timeoutMs = 5000) {
  QTimer wake;  // the loop also wakes when nothing else happens
  wake.start(20);
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs)
      return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Runs the window's events for `ms` milliseconds, to the millisecond.
void runFor(int ms) {
  bool over = false;
  QTimer end;
  end.setTimerType(Qt::PreciseTimer);
  end.setSingleShot(true);
  QObject::connect(&end, &QTimer::timeout, [&] { over = true; });
  end.start(ms);
  runUntil([&] { return over; }, ms + 1000);
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty())
      out.push_back(line);
  return out;
}

class CaptureTest : public WindowTest {
protected:
  void TearDown() override {
    if (writer_.joinable()) {
      // A test that failed may have left the writer waiting on a full line.
      if (HasFailure())
        com1_.closeMaster();
      writer_.join();
    }
    hex_xmodem_busy = 0;
    WindowTest::TearDown();
    SteppedClock::uninstall();  // the capture thread has stopped
  }

  // The view chosen as the user chooses it; with `time` the Time box ticked.
  void startIn(int view, bool time) {
    start();
    dlg_user_choose(window_, IDC_VIEW, view);
    if (time)
      dlg_user_click(window_, IDC_TIME);
    ASSERT_EQ(hex_time.on, time ? 1 : 0);
  }

  // Sends to a far end and waits until the monitor has read the bytes.
  void sendAndWaitRead(PtyPair &far, int side, const std::string &bytes) {
    const uint64_t before = hex_capture_read_total(side);
    far.send(bytes);
    ASSERT_TRUE(runUntil([&] { return hex_capture_read_total(side) >= before + bytes.size(); }))
        << "the monitor did not read what came";
  }

  // Runs of the pump until nothing read is left to show.
  void showAll() {
    for (int i = 0; i < 100; ++i) {
      win_periodic(window_);
      if (hex_capture_waiting(HEX_SIDE_A) + hex_capture_waiting(HEX_SIDE_B) == 0)
        return;
    }
  }

  // A finished log as a browser shows it.
  static LogReading logOf(const std::string &path) {
    const std::vector<uint8_t> html = readFileBytes(path);
    return readLogBody(std::string(html.begin(), html.end()));
  }

  void floodFromAnotherThread(PtyPair &far, std::string bytes) {
    writer_ = std::thread([&far, bytes = std::move(bytes)] { far.send(bytes); });
  }

  std::thread writer_;
};

}  // namespace

// A responder answers each request on Port A 1 ms later on Port B while
// the window's thread is kept busy, 40 ms at a time with no event handled:
// in the pane and in the log every answer stands behind its request.
TEST_F(CaptureTest, AnswersStandBehindTheirRequestsWhileTheWindowIsBusy) {
  constexpr int kBursts = 500;
  startIn(HEX_VIEW_ASCII, false);
  const std::string logPath = startLogging("order.htm");
  std::string expected;
  for (int k = 0; k < kBursts; ++k)
    expected += "a" + std::to_string(k) + ";b" + std::to_string(k) + ";";
  // Each answer goes 1 ms after the monitor has read its request.
  std::atomic<bool> done{false}, unread{false};
  writer_ = std::thread([&] {
    uint64_t sent[2] = {0, 0};
    for (int k = 0; k < kBursts && !unread; ++k) {
      for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
        const std::string burst = (side ? "b" : "a") + std::to_string(k) + ";";
        (side ? com2_ : com1_).send(burst);
        sent[side] += burst.size();
        const auto start = std::chrono::steady_clock::now();
        while (hex_capture_read_total(side) < sent[side] && !unread)
          unread = std::chrono::steady_clock::now() - start > std::chrono::seconds(2);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    done = true;
  });
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    QCoreApplication::processEvents();
  }
  ASSERT_FALSE(unread) << "a request was not read while the window was busy";
  showAll();
  dlg_user_click(window_, IDC_NO_LOG);
  EXPECT_EQ(paneText(), expected);
  EXPECT_EQ(logOf(logPath).text, expected);
}

// On a clock the test steps: each burst is stamped when it is read, not when
// the pump shows it; lines start exactly at pauses longer than the gap, at
// another port, and across the clock's wrap; the same text is logged.
TEST_F(CaptureTest, TimeViewStartsLinesExactlyAtPausesLongerThanTheGap) {
  SteppedClock::install();
  startIn(HEX_VIEW_ASCII, true);
  const std::string logPath = startLogging("time.htm");
  dlg_kill_timer(window_, TIMER_PUMP);  // no run until the end
  hex_time.face = HexClockFace{SteppedClock::now, 0};
  struct Burst {
    uint32_t pause;
    int side;
    const char *bytes;
  } bursts[] = {
      {0, 0, "a"},  {5, 0, "b"},  {5, 0, "c"}, {50, 0, "d"}, {5, 0, "e"},
      {21, 0, "f"}, {20, 0, "g"}, {0, 1, "h"}, {50, 1, "i"},
  };
  for (const Burst &burst : bursts) {
    SteppedClock::advance(burst.pause);
    sendAndWaitRead(burst.side == 0 ? com1_ : com2_, burst.side, burst.bytes);
    ASSERT_FALSE(HasFatalFailure());
  }
  EXPECT_EQ(paneText(), "") << "shown before a run";
  SteppedClock::advance(1000);
  win_periodic(window_);
  const std::vector<std::string> expected = {
      "00:00:00.000 +0 Rx1 abc", "00:00:00.060 +60 Rx1 de", "00:00:00.086 +26 Rx1 fg",
      "00:00:00.106 +20 Rx2 h",  "00:00:00.156 +50 Rx2 i",
  };
  EXPECT_EQ(lines(paneText()), expected);
  // A message sent starts its own line, headed with the time it went.
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_HEXADECIMAL);
  dlg_user_type(window_, IDC_MESSAGE, "01 02");
  dlg_user_click(window_, IDC_SEND);
  EXPECT_EQ(lines(paneText()).back(), "00:00:01.156 +1000 Tx1  01 02");
  // Keys typed into the pane go on the line of what was sent just before,
  // and start one of their own after a pause.
  DisplayPane *pane = window_->pane();
  pane->setFocus();
  QTest::keyClicks(pane, "k");
  SteppedClock::advance(30);
  QTest::keyClicks(pane, "ey");
  EXPECT_EQ(lines(paneText()).back(), "00:00:01.186 +30 Tx1 ey");
  EXPECT_EQ(lines(paneText()).end()[-2], "00:00:01.156 +1000 Tx1  01 02k");
  dlg_user_click(window_, IDC_NO_LOG);
  EXPECT_EQ(lines(logOf(logPath).text), lines(paneText()));
}

// 25 days on, across the clock's 32-bit wrap, the time of day is still right.
TEST_F(CaptureTest, TimeOfDayStaysRightAfterTwentyFiveDays) {
  SteppedClock::install();
  startIn(HEX_VIEW_ASCII, true);
  hex_time.face = HexClockFace{SteppedClock::now, 0};
  for (int day = 0; day < 25; ++day) {
    SteppedClock::advance(HEX_DAY_MS);
    win_periodic(window_);
  }
  SteppedClock::advance(1234);
  sendAndWaitRead(com1_, HEX_SIDE_A, "x");
  win_periodic(window_);
  EXPECT_EQ(lines(paneText()).back(), "00:00:01.234 +0 Rx1 x");
}

// With Ports on, a line that another port's text starts is headed by that
// port in its colour, sent text too, in the pane and in the log alike.
TEST_F(CaptureTest, PortsHeadTheLinesOfEachPortInThePaneAndTheLog) {
  startIn(HEX_VIEW_ASCII, false);
  dlg_user_click(window_, IDC_PORT_NAMES);
  const std::string logPath = startLogging("ports.htm");
  sendAndWaitRead(com1_, HEX_SIDE_A, "ab");
  showAll();
  sendAndWaitRead(com1_, HEX_SIDE_A, "c");
  showAll();
  dlg_set_text(window_, IDC_MESSAGE, "hi");
  dlg_user_click(window_, IDC_SEND);
  sendAndWaitRead(com2_, HEX_SIDE_B, "de");
  showAll();
  dlg_user_click(window_, IDC_NO_LOG);
  EXPECT_EQ(paneText(), "\nRx1 abc\nTx1 hi\r\n\nRx2 de");  // the message ends in CR LF
  const LogReading log = logOf(logPath);
  EXPECT_EQ(lines(log.text), (std::vector<std::string>{"Rx1 abc", "Tx1 hi", "Rx2 de"}));
  ASSERT_FALSE(log.records.empty());
  char colour[8];
  std::snprintf(colour, sizeof colour, "#%06X", unsigned(hex_port_rgb(1, HEX_RECEIVED)));
  EXPECT_EQ(log.records.back().colour, colour);
  EXPECT_EQ(log.records.back().shown, "Rx2de");
}

// The same on the real clock, sparingly: the lines start where the pauses
// between the writes, as measured here, were longer than the gap, and the
// printed deltas are within 2 ms of them. The deltas are between the times
// the monitor read the bytes: a write the busy machine let it read only
// more than a millisecond later, or a pause stretched to within 2 ms of the
// gap, decides nothing, and the writes are made again (at most five times).
TEST_F(CaptureTest, TimeViewDeltasOnTheRealClockAreWithinTwoMillisecondsOfThePauses) {
  startIn(HEX_VIEW_ASCII, true);
  dlg_kill_timer(window_, TIMER_PUMP);
  const int pauses[] = {0, 50, 5, 50, 5, 5, 50};
  const double gap = hex_time.gap_ms, tolerance = 2.0, latest_read = 1.0;
  auto since = [](std::chrono::steady_clock::time_point first) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - first)
        .count();
  };
  for (int attempt = 0; attempt < 5; ++attempt) {
    dlg_user_click(window_, IDC_CLEAR);
    dlg_user_click(window_, IDC_TIME);  // off and on: the first line is +0 again
    dlg_user_click(window_, IDC_TIME);
    std::vector<double> written;  // ms of each write, from the first
    bool decided = true;
    const auto first = std::chrono::steady_clock::now();
    for (int pause : pauses) {
      runFor(pause);
      written.push_back(since(first));
      sendAndWaitRead(com1_, HEX_SIDE_A, "x");
      ASSERT_FALSE(HasFatalFailure());
      decided = decided && since(first) - written.back() <= latest_read;
    }
    win_periodic(window_);
    // The lines the measured pauses make: where each starts, how many bytes.
    std::vector<double> starts{written.front()};
    std::vector<long> sizes{1};
    for (size_t i = 1; i < written.size(); ++i) {
      const double pause = written[i] - written[i - 1];
      decided = decided && std::abs(pause - gap) > tolerance;
      if (pause > gap) {
        starts.push_back(written[i]);
        sizes.push_back(1);
      } else {
        ++sizes.back();
      }
    }
    if (!decided)
      continue;
    const std::vector<std::string> shown = lines(paneText());
    const std::regex head(R"(^\d\d:\d\d:\d\d\.\d{3} \+(\d+) Rx1 (x+)$)");
    ASSERT_EQ(shown.size(), starts.size()) << paneText();
    std::string measured = "writes at";
    for (double ms : written)
      measured += " " + std::to_string(ms);
    SCOPED_TRACE(measured);
    for (size_t i = 0; i < shown.size(); ++i) {
      SCOPED_TRACE(shown[i]);
      std::smatch match;
      ASSERT_TRUE(std::regex_match(shown[i], match, head));
      EXPECT_EQ(match[2].length(), sizes[i]);
      if (i > 0) {
        EXPECT_NEAR(std::stod(match[1]), starts[i] - starts[i - 1], tolerance);
      }
    }
    return;
  }
  GTEST_SKIP() << "the machine was too busy: five times a byte was read more than 1 ms after "
                  "it was written, or a pause came within 2 ms of the gap";
}

// A side with more than a run's share waiting shows its newest share
// behind a mark of the bytes not shown, counted in the tooltip; the log has
// every byte in order.
TEST_F(CaptureTest, WhatThePaneCannotKeepUpWithIsMarkedAndLoggedWhole) {
  startIn(HEX_VIEW_ASCII, false);
  const std::string logPath = startLogging("flood.htm");
  dlg_kill_timer(window_, TIMER_PUMP);
  std::string bytes = random_text(5 * HEX_RUN_SHARE, 5);
  for (char &byte : bytes)
    byte = char('a' + uint8_t(byte) % 26);  // the log's text is the bytes
  floodFromAnotherThread(com1_, bytes);
  ASSERT_TRUE(runUntil([&] { return hex_capture_read_total(HEX_SIDE_A) == bytes.size(); }));
  showAll();
  const std::string hidden = std::to_string(bytes.size() - HEX_RUN_SHARE);
  EXPECT_TRUE(paneText() == "\n" + hidden + " bytes of COM1 not shown, see the log\n" +
                                bytes.substr(bytes.size() - HEX_RUN_SHARE));
  EXPECT_NE(tooltip(IDC_OPEN_A).find(hidden + " bytes not shown"), std::string::npos);
  dlg_user_click(window_, IDC_NO_LOG);
  EXPECT_TRUE(logOf(logPath).text == bytes) << "the log lost bytes";
}

// A transfer takes its own port from the capture: its bytes wait for it,
// while the other port is read and shown on. Afterwards both are read.
TEST_F(CaptureTest, ATransferTakesOnlyItsOwnPort) {
  startIn(HEX_VIEW_HEXADECIMAL, false);
  hex_xmodem_busy = 1;  // on COM1, the send port
  hex_capture_sync(window_);
  com1_.send(std::string("\x01\x02", 2));
  ASSERT_TRUE(waitForQueue(0, 2));
  sendAndWaitRead(com2_, HEX_SIDE_B, "\x05");
  runFor(150);
  EXPECT_EQ(hex_capture_read_total(HEX_SIDE_A), 0u);
  EXPECT_EQ(SioRxQue(0), 2);
  EXPECT_EQ(paneText(), " 05");
  hex_xmodem_busy = 0;
  ASSERT_TRUE(runUntil([&] { return paneText() == " 05 01 02"; }));
}

// A run that ends at its time with bytes left is behind, so that the pump
// comes back sooner, only where every byte is shown: the Terminal view.
TEST_F(CaptureTest, ARunEndingAtItsTimeIsBehindOnlyWhereEveryByteIsShown) {
  startIn(HEX_VIEW_HEXADECIMAL, false);
  for (int view : {HEX_VIEW_HEXADECIMAL, HEX_VIEW_TERMINAL}) {
    dlg_user_choose(window_, IDC_VIEW, view);
    sendAndWaitRead(com1_, HEX_SIDE_A, std::string(512 * 1024, 'x'));
    const uint64_t before = hex_capture_run_begin(window_);
    uint8_t chunk[WIN_RX_CHUNK];
    HexCapturePiece piece{};
    bool shown = true;
    while (hex_capture_next(before, chunk, WIN_RX_CHUNK, &piece, &shown))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // 64 pieces: over 30 ms
    EXPECT_EQ(hex_capture_run_end(window_), view == HEX_VIEW_TERMINAL) << view;
  }
}

// A far end that goes away leaves a descriptor that reports a hang-up for
// ever: its side stops reading once and says so, and the other side reads
// on.
TEST_F(CaptureTest, APortWhoseDeviceWentAwayIsNotReadInALoop) {
  startIn(HEX_VIEW_HEXADECIMAL, false);
  const std::string gone = "COM2 (" + com2_.slavePath() + ") disconnected\n";
  com2_.closeMaster();
  runFor(300);
  sendAndWaitRead(com1_, HEX_SIDE_A, "\x11");
  showAll();
  std::string shown = paneText();
  ASSERT_GE(shown.size(), gone.size());
  EXPECT_EQ(shown.substr(shown.size() - gone.size() - 3), gone + " 11");
  // Its Comm Port chosen again on another device (the descriptor's number
  // is likely the old one): read again.
  PtyPair again;
  again.mapTo(1);
  dlg_user_choose(window_, IDC_PORT_B, 1);
  ASSERT_EQ(hex_obj[HEX_SIDE_B].open, 1);
  win_periodic(window_);
  sendAndWaitRead(again, HEX_SIDE_B, "\x22");
  showAll();
  EXPECT_EQ(paneText(), shown + " 22");
}

// Under Stop the bytes are read as they come and dropped; Run shows only
// what comes after it; neither counts as dropped by the display.
TEST_F(CaptureTest, StopReadsAndDropsWithoutCountingIt) {
  startIn(HEX_VIEW_HEXADECIMAL, false);
  dlg_user_click(window_, IDC_STOP);
  sendAndWaitRead(com1_, HEX_SIDE_A, "\x01\x02");
  EXPECT_EQ(hex_capture_waiting(HEX_SIDE_A), 0u);
  dlg_user_click(window_, IDC_RUN);
  sendAndWaitRead(com1_, HEX_SIDE_A, "\x03");
  showAll();
  EXPECT_EQ(paneText(), " 03");
}

// A pseudo-terminal counts no line events; its indicator says so, with the
// bytes the display dropped, and the status text stays empty.
TEST_F(CaptureTest, IndicatorsTellTheLineCountsOrThatTheDeviceKeepsNone) {
  startIn(HEX_VIEW_HEXADECIMAL, false);
  win_periodic(window_);
  for (int id : {IDC_OPEN_A, IDC_OPEN_B}) {
    const std::string tip = tooltip(id);
    EXPECT_NE(tip.find("is open on"), std::string::npos) << tip;
    EXPECT_NE(tip.find("the device counts no line errors"), std::string::npos) << tip;
    EXPECT_NE(tip.find("0 bytes not shown (in the log)"), std::string::npos) << tip;
  }
  EXPECT_EQ(controlText(window_, IDC_LINE_STATUS), "");
}

// A break from the far end is a line of its own on the port that got it,
// never a byte. A pseudo-terminal cannot carry a break (tcsendbreak on its
// master does nothing): this runs on a UART named by KESTRELON_TEST_UART,
// through its internal loopback, where that loopback carries one.
TEST_F(CaptureTest, ABreakIsShownAsAnEventOfItsPortNotAsAByte) {
  const char *uart = getenv("KESTRELON_TEST_UART");
  if (!uart || !*uart)
    GTEST_SKIP() << "set KESTRELON_TEST_UART to a UART to run";
  setenv("KESTRELON_COM2", uart, 1);
  // Opened first: once the monitor holds the port only root gets past its
  // exclusive mode.
  const int watch = open(uart, O_RDONLY | O_NOCTTY | O_NONBLOCK);
  int loop = 0x8000;  // TIOCM_LOOP
  if (watch < 0 || ioctl(watch, TIOCMBIS, &loop) != 0)
    GTEST_SKIP() << "no loopback on this device";
  startIn(HEX_VIEW_HEXADECIMAL, false);
  ASSERT_EQ(hex_obj[HEX_SIDE_B].open, 1);
  win_periodic(window_);
  ASSERT_NE(SioBrkSig(1, 'A'), 0);
  runFor(50);
  ASSERT_NE(SioBrkSig(1, 'C'), 0);
  ASSERT_EQ(SioPutc(1, 0x42), 0);
  runFor(100);
  showAll();
  ioctl(watch, TIOCMBIC, &loop);
  close(watch);
  SioLineCounts counts;
  if (SioCounts(1, &counts) != 1 || counts.breaks == 0)
    GTEST_SKIP() << "this UART's loopback does not carry a break";
  EXPECT_EQ(paneText(), "\nRx2 <BREAK> 42");
  EXPECT_NE(tooltip(IDC_OPEN_B).find("1 break"), std::string::npos);
}
