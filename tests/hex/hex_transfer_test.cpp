// File transfers from the real window, offscreen: XMODEM with lrzsz as the
// far end on a socat line, the Dump on a null-modem cable and on a
// pseudo-terminal whose far end reads when the test says so, Start and
// Abort, refusals, failures reported as failures, and the window never
// waiting for the line. Time limits run on the stepped clock; those tests
// run the timers' routines through the dialog procedure themselves.
#include "hex/hex.h"
#include "resources/ids.h"
#include "shell/shell.h"
#include "support/dialog_reads.h"
#include "support/event_loop.h"
#include "support/stepped_clock.h"
#include "support/window_fixture.h"
#include "ser/ser.h"
#include "serxydrv/serxydrv.h"
#include "xy_harness.h"
#include "xy_port_fixture.h"
#include "../ser/device_view.h"

#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

enum Protocol { kDump = 0, kXModem = 1, kXModemCrc = 2, kXModem1K = 3 };

Bytes concat(const Bytes &a, const Bytes &b) {
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

class HexTransfer : public WindowTest {
protected:
  void TearDown() override {
    WindowTest::TearDown();
    SteppedClock::uninstall();
  }

  // Chooses protocol and direction and presses Start; the file dialog
  // answers `path` (an empty one: cancelled).
  void startTransfer(int protocol, bool send, const std::string &path) {
    dlg_user_choose(window_, IDC_PROTOCOL, protocol);
    dlg_user_click(window_, send ? IDC_XFER_SEND : IDC_XFER_GET);
    dlg_set_file_dialog_hook([this, path](bool, std::string &chosen) {
      ++dialogs_;
      chosen = path;
      return !path.empty();
    });
    dlg_user_click(window_, IDC_XFER_START);
  }

  // A timer's routine, as the dialog procedure runs it.
  void timer(unsigned id) { dlg_send_message(window_, WM_TIMER, id, 0); }
  // Timer 2 again and again, the clock stepping as the timer's period,
  // until the transfer ends or `ms` pass.
  void runTransfer(uint32_t ms) {
    for (uint32_t waited = 0; hex_xmodem_busy && waited < ms; waited += HEX_XMODEM_STEP_MS) {
      timer(TIMER_TRANSFER);
      SteppedClock::advance(HEX_XMODEM_STEP_MS);
    }
  }

  std::string status() const { return controlText(window_, IDC_XFER_STATUS); }
  bool idle() const { return !hex_xmodem_busy && !hex_dump_busy; }

  // A transfer has ended, showing `shown`, and the window is as before it.
  void expectEnded(const std::string &shown) {
    EXPECT_EQ(status(), shown);
    EXPECT_TRUE(idle());
    expectLocked(false);
  }

  // The window as a transfer leaves it, or as it is without one.
  void expectLocked(bool locked) {
    for (int id :
         {int(IDC_XFER_START), int(IDC_SEND_PORT_A), int(IDC_SEND_PORT_B), int(IDC_PORT_A)})
      EXPECT_EQ(dlg_enabled(window_, id), locked ? 0 : 1) << id;
    EXPECT_EQ(dlg_enabled(window_, IDC_PORT_B), 1);
    EXPECT_NE(hex_timer, 0u) << "the pump runs throughout: the other port is shown";
  }

  // The far end of COM1: waits until the port, or the capture, has the bytes
  // (no event runs meanwhile: a transfer's step would take them).
  void farEndSends(const Bytes &bytes) {
    com1_.send(bytes);
    ASSERT_TRUE(waitForQueue(0, int(bytes.size())));
  }

  int dialogs_ = 0;
};

// --- Start, refusals, and the window's state around a transfer -------------------------

// A cancelled file dialog starts nothing and changes nothing: an open log
// stays open, the pump runs, no file is made. A transfer that starts keeps
// the log open; its path takes the name field until the end.
TEST_F(HexTransfer, CancelledDialogChangesNothingAndAStartKeepsTheLog) {
  start();
  const std::string log = dir_.file("session.htm");
  dlg_set_file_dialog_hook([log](bool, std::string &chosen) {
    chosen = log;
    return true;
  });
  dlg_user_click(window_, IDC_LOG);
  ASSERT_EQ(hex_log, 1);
  for (int protocol : {kDump, kXModem, kXModemCrc, kXModem1K}) {
    for (bool send : {true, false}) {
      SCOPED_TRACE(protocol * 10 + send);
      dialogs_ = 0;
      startTransfer(protocol, send, "");
      EXPECT_EQ(dialogs_, 1);
      EXPECT_TRUE(idle());
      EXPECT_EQ(hex_log, 1);
      EXPECT_EQ(controlText(window_, IDC_FILE_NAME), log);
      EXPECT_EQ(status(), "");
      expectLocked(false);
    }
  }
  EXPECT_TRUE(boxes_.empty());
  const std::string path = dir_.file("in.bin");
  startTransfer(kDump, false, path);
  EXPECT_EQ(hex_log, 1);
  EXPECT_EQ(dlg_button_state(window_, IDC_LOG), BST_CHECKED);
  EXPECT_EQ(controlText(window_, IDC_FILE_NAME), path);
  dlg_user_click(window_, IDC_XFER_ABORT);
  EXPECT_EQ(controlText(window_, IDC_FILE_NAME), log);
}

// A file that cannot be used (HexOpenUserFile) is refused before anything
// starts, by either protocol, however long its path; none is made.
TEST_F(HexTransfer, FilesThatCannotBeUsedAreRefusedBeforeAnythingStarts) {
  start();
  const std::string deep = dir_.file(std::string(130, 'd'));
  mkdir(deep.c_str(), 0755);
  symlink(dir_.file("elsewhere").c_str(), (deep + "/link").c_str());
  for (int protocol : {kDump, kXModemCrc})
    for (bool send : {true, false}) {
      boxes_.clear();
      startTransfer(protocol, send, deep + "/link");
      ASSERT_EQ(boxes_.size(), 1u);
      EXPECT_TRUE(boxes_[0].text.starts_with(protocol == kDump ? "Dump file open" : "File open") &&
                  boxes_[0].text.ends_with("/link: is a symbolic link")) << boxes_[0].text;
      EXPECT_TRUE(idle());
    }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

// The open log is never received into, and a file being received never
// becomes the log: the received file would take the log's place on disk.
TEST_F(HexTransfer, TheOpenLogAndAFileBeingReceivedAreNeverOneFile) {
  start();
  const std::string log = dir_.file("session.htm"), in = dir_.file("in.bin");
  hex_log_open_file(window_, log.c_str());
  startTransfer(kDump, false, log);
  EXPECT_TRUE(idle());
  ASSERT_FALSE(boxes_.empty());
  EXPECT_TRUE(boxes_.back().text.ends_with("session.htm: is the open log")) << boxes_.back().text;
  startTransfer(kDump, false, in);
  ASSERT_FALSE(idle());
  hex_log_open_file(window_, in.c_str());
  EXPECT_EQ(hex_log, 0);
  EXPECT_TRUE(boxes_.back().text.ends_with("in.bin: is the file being received"));
}

// The device goes while the file dialog is up: nothing starts, and the file
// chosen to receive into stays as it was.
TEST_F(HexTransfer, ADeviceGoneWhileTheDialogIsUpStartsNothing) {
  start();
  const std::string path = dir_.file("old.bin");
  writeFileBytes(path, {'o', 'l', 'd'});
  dlg_set_file_dialog_hook([this, path](bool, std::string &chosen) {
    com1_.closeMaster();
    EXPECT_TRUE(processEventsUntil([] { return hex_reconnect_waiting(HEX_SIDE_A) == 1; }));
    return chosen = path, true;
  });
  dlg_user_click(window_, IDC_XFER_GET);
  dlg_user_click(window_, IDC_XFER_START);
  EXPECT_TRUE(idle());
  EXPECT_EQ(readFileBytes(path), Bytes({'o', 'l', 'd'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

// While a transfer runs: Start, the Send Port buttons and the transfer
// side's Comm Port list take no click; Start called anyway asks nothing;
// Send and typed keys put nothing on the port; the steps keep to the port
// saved at Start.
TEST_F(HexTransfer, WhileATransferRunsItsPortStaysItsOwn) {
  SteppedClock::install();
  start();
  const std::string path = dir_.file("in.bin");
  startTransfer(kDump, false, path);
  ASSERT_EQ(hex_dump_busy, 1);
  expectLocked(true);
  EXPECT_EQ(controlText(window_, IDC_FILE_NAME), path);
  EXPECT_EQ(status(), "Get file... ");

  dialogs_ = 0;
  dlg_user_click(window_, IDC_XFER_START);
  hex_file_transfer(window_, WM_COMMAND, IDC_XFER_START, 0);
  EXPECT_EQ(dialogs_, 0);
  dlg_user_choose(window_, IDC_PORT_A, 4);
  dlg_user_click(window_, IDC_SEND_PORT_B);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].port, 0);
  EXPECT_EQ(dlg_button_state(window_, IDC_SEND_PORT_A), BST_CHECKED);
  dlg_set_text(window_, IDC_MESSAGE, "41 42");
  dlg_user_click(window_, IDC_SEND);
  EXPECT_EQ(hex_ansi_char(window_, 'k'), HEX_KEY_NOT_SENT);
  EXPECT_TRUE(com1_.drain(20).empty());
  EXPECT_TRUE(com2_.drain(20).empty());

  farEndSends({1, 2, 3});
  timer(TIMER_DUMP);
  EXPECT_EQ(status(), "Bytes = 3 ");
  dlg_user_click(window_, IDC_XFER_ABORT);
  expectEnded("Dump Completed ");
  EXPECT_EQ(readFileBytes(path), (Bytes{1, 2, 3}));
}

// Exit during a transfer lets go of everything: the driver, the dump file.
TEST_F(HexTransfer, ExitDuringATransferLetsGoOfDriverAndFile) {
  auto descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  for (int protocol : {kXModemCrc, kDump}) {
    start();
    const auto before = descriptors();
    startTransfer(protocol, false, dir_.file("in.bin"));
    ASSERT_FALSE(idle());
    dlg_user_click(window_, IDC_EXIT);
    EXPECT_TRUE(idle());
    EXPECT_LE(descriptors(), before - 2) << "the dump file or a port is still held";
    EXPECT_EQ(xyAcquire(0), 0) << "the driver was not released";
    xyRelease(0);
    finish();
  }
}

// Abort with nothing running shows "Dump Completed " and leaves every port
// alone: bytes waiting on COM1 are still there for the pump.
TEST_F(HexTransfer, AbortWithNothingRunningTouchesNoPort) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  farEndSends({'o', 'k'});
  dlg_user_click(window_, IDC_XFER_ABORT);
  EXPECT_EQ(status(), "Dump Completed ");
  win_periodic(window_);
  EXPECT_NE(paneText().find("ok"), std::string::npos) << paneText();
  hex_status_show(window_, "shown by Send");
  dlg_user_click(window_, IDC_XFER_ABORT);
  EXPECT_EQ(status(), "Dump Completed ");
}

// The port reopened for a transfer, and again at its end, gets the side's
// settings back, a rate typed into the Speed list as well as one chosen from
// it (a pseudo-terminal keeps the speed, the stop bits and the flow control;
// data bits and parity stay 8 and none there).
TEST_F(HexTransfer, SettingsAreAppliedAgainAtEveryReopen) {
  SteppedClock::install();
  start();
  dlg_user_choose(window_, IDC_STOP_A, 1);  // 2
  dlg_user_choose(window_, IDC_FLOW_A, 0);  // RTS/CTS
  struct Rate {
    const char *typed;  // else chosen from the list
    uint32_t rate;
  } rates[] = {{nullptr, 38400}, {"250000", 250000}};
  for (const Rate &r : rates) {
    SCOPED_TRACE(r.rate);
    if (r.typed) {
      dlg_user_type(window_, IDC_SPEED_A, r.typed);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    } else {
      dlg_user_choose(window_, IDC_SPEED_A, HEX_BAUD_9600 + 2);
    }
    auto expectSettings = [this, &r](const char *when) {
      SCOPED_TRACE(when);
      const DeviceView device = viewDevice(com1_.masterFd());
      EXPECT_EQ(device.ospeed, r.rate);
      EXPECT_TRUE(device.cflag & CSTOPB);
      EXPECT_TRUE(device.cflag & CRTSCTS);
    };
    expectSettings("before");
    startTransfer(kXModemCrc, false, dir_.file("in.bin"));
    expectSettings("reopened at Start");
    dlg_user_click(window_, IDC_XFER_ABORT);
    EXPECT_EQ(status(), "X-Modem Aborted ");
    expectSettings("reopened at the end");
  }
}

// While a transfer runs the bytes that come to its port are the transfer's:
// none is read for the display, however the port's readiness is told. Once
// it has ended they are read as they arrive again, before any run of the
// pump. The window runs on its real timers here.
TEST_F(HexTransfer, ThePortIsTheTransfersAloneAndReadAsBytesArriveAfter) {
  start();
  const std::string path = dir_.file("in.bin");
  for (int protocol : {kDump, kXModemCrc}) {
    SCOPED_TRACE(protocol);
    std::remove(path.c_str());
    startTransfer(protocol, false, path);
    const uint64_t read = hex_capture_read_total(HEX_SIDE_A);
    const Bytes data = xytest::randomBytes(protocol == kDump ? 3000 : 128, 11);
    if (protocol == kDump) {
      com1_.send(data);
    } else {
      ASSERT_TRUE(processEventsUntil([this] { return com1_.receive(1, 0) == Bytes{'C'}; }));
      com1_.send(makePacket(1, data, true));
    }
    ASSERT_TRUE(processEventsUntil([&] {
      return protocol == kDump ? status() == "Bytes = 3000 " : com1_.receive(1, 0) == Bytes{ACK};
    }));
    EXPECT_EQ(hex_capture_read_total(HEX_SIDE_A), read) << "the display took the transfer's bytes";
    dlg_user_click(window_, IDC_XFER_ABORT);
    ASSERT_TRUE(idle());
    EXPECT_EQ(readFileBytes(path), protocol == kDump ? data : Bytes{});  // XMODEM: cut short
    com1_.drain(20);
    dlg_kill_timer(window_, TIMER_PUMP);  // only the port's readiness reads now
    com1_.send(std::string("ok"));
    EXPECT_TRUE(processEventsUntil([&] { return hex_capture_read_total(HEX_SIDE_A) == read + 2; }))
        << "not read as it arrived";
    win_periodic(window_);
  }
}

// --- XMODEM on a pseudo-terminal, the far end played here ------------------------------

// Progress with the share done, and a failure reported as one: the far end
// takes the first packet and then falls silent.
TEST_F(HexTransfer, XModemShowsPacketsAndReportsATimeOutAsAFailure) {
  SteppedClock::install();
  start();
  const std::string path = dir_.file("out.bin");
  writeFileBytes(path, xytest::randomBytes(3000, 7));
  startTransfer(kXModem1K, true, path);
  EXPECT_EQ(status(), "X-Modem 1K Negotiating... ");
  expectLocked(true);
  farEndSends({'C'});
  timer(TIMER_TRANSFER);
  SteppedClock::advance(125);  // the first packet's check bytes wait so long
  timer(TIMER_TRANSFER);
  EXPECT_EQ(com1_.receive(1029).size(), 1029u);
  EXPECT_EQ(status(), "Packets = 1 (0%) ");
  farEndSends({ACK});
  timer(TIMER_TRANSFER);
  EXPECT_EQ(com1_.receive(1029).size(), 1029u);
  EXPECT_EQ(status(), "Packets = 2 (34%) ");
  EXPECT_EQ(xyGetMessage(nullptr, 0), 0) << "the driver's messages are fetched every run";
  const uint32_t silent = SteppedClock::now;
  runTransfer(20000);
  EXPECT_GT(SteppedClock::now - silent, 10000u);
  expectEnded("X-Modem Failed: Timed out awaiting incoming character ");
  EXPECT_EQ(com1_.receive(3), (Bytes{CAN, CAN, CAN}));
}

// A run calls the driver again while it makes progress, but never longer
// than HEX_TRANSFER_RUN_MS: packets that are all there are taken in one run
// while the clock stands still; on a clock that moves 1 ms at every look the
// run stops at its budget and the next runs take the rest.
TEST_F(HexTransfer, ARunCallsTheDriverWhileItProgressesWithinItsBudget) {
  SteppedClock::install();
  start();
  const std::string path = dir_.file("in.bin");
  startTransfer(kXModemCrc, false, path);
  timer(TIMER_TRANSFER);
  ASSERT_EQ(com1_.receive(1), (Bytes{'C'}));
  Bytes content;
  auto packets = [&content](uint8_t first) {
    Bytes stream;
    for (uint8_t n = first; n < first + 8; ++n) {
      Bytes data = xytest::randomBytes(128, n);
      stream = concat(stream, makePacket(n, data, true));
      content = concat(content, data);
    }
    return stream;
  };
  farEndSends(packets(1));
  timer(TIMER_TRANSFER);
  EXPECT_EQ(com1_.receive(8), Bytes(8, ACK)) << "all eight packets in one run";

  static uint32_t ticking;
  ticking = SteppedClock::now;
  SioClock clock{[] { return ++ticking; }, [](uint32_t ms) { ticking += ms; }};
  SioSetClock(&clock);
  farEndSends(packets(9));
  const int calls = xyGetParameter(0, XY_PARAM_DRIVER_COUNT);
  timer(TIMER_TRANSFER);
  EXPECT_LE(xyGetParameter(0, XY_PARAM_DRIVER_COUNT) - calls, int(HEX_TRANSFER_RUN_MS));
  Bytes answers = com1_.receive(8, 100);
  EXPECT_LT(answers.size(), 8u) << "the run went on past its budget";
  for (int run = 0; run < 20 && answers.size() < 8; ++run) {
    timer(TIMER_TRANSFER);
    answers = concat(answers, com1_.receive(8 - answers.size(), 20));
  }
  EXPECT_EQ(answers, Bytes(8, ACK));
  SteppedClock::install(ticking);
  for (int eot = 0; eot < 2; ++eot)  // the first is refused
    farEndSends({EOT}), runTransfer(500);
  expectEnded("X-Modem Completed ");
  EXPECT_EQ(readFileBytes(path), content);
}

// --- The Dump on a pseudo-terminal --------------------------------------------------------

// A sending dump tops the port's queue up to 8192 bytes a step; every byte
// value goes out unchanged and in order; the dump ends once its last byte
// has left, and an empty file ends at the first step.
TEST_F(HexTransfer, SendingDumpGoesOutInStepsOfTheQueue) {
  SteppedClock::install();
  start();
  Bytes content;
  for (int i = 0; i < 20000; ++i)
    content.push_back(uint8_t(i * 7 + i / 256));
  const std::string path = dir_.file("out.bin");
  writeFileBytes(path, content);
  startTransfer(kDump, true, path);
  EXPECT_EQ(status(), "Send file... ");
  Bytes got;
  for (const char *shown : {"Bytes = 8192 ", "Bytes = 16384 ", "Dump Completed "}) {
    timer(TIMER_DUMP);
    EXPECT_EQ(status(), shown);
    const Bytes step = com1_.drain(20);
    got = concat(got, step);
  }
  EXPECT_EQ(got, content);
  expectEnded("Dump Completed ");

  writeFileBytes(path, {});
  startTransfer(kDump, true, path);
  timer(TIMER_DUMP);
  EXPECT_EQ(status(), "Dump Completed ");
  EXPECT_TRUE(idle());
}

// The far end reads slowly: no step waits for the line (the stepped clock
// would move), what the line cannot take waits for the next steps, and the
// dump ends only when the last byte is out. A far end that stops reading
// makes the dump fail after 15 s without progress.
TEST_F(HexTransfer, SendingDumpToASlowReaderNeverWaitsAndEndsWhenAllIsOut) {
  SteppedClock::install();
  start();
  const Bytes content = xytest::randomBytes(100000, 3);
  const std::string path = dir_.file("out.bin");
  writeFileBytes(path, content);
  startTransfer(kDump, true, path);
  Bytes got;
  int steps = 0;
  while (hex_dump_busy && steps++ < 400) {
    const uint32_t before = SteppedClock::now;
    timer(TIMER_DUMP);
    EXPECT_EQ(SteppedClock::now, before) << "a step waited";
    got = concat(got, com1_.receive(1000, 20));  // a slow reader
    SteppedClock::advance(HEX_DUMP_STEP_MS);
  }
  got = concat(got, com1_.drain(20));
  EXPECT_EQ(status(), "Dump Completed ");
  EXPECT_EQ(got, content);

  writeFileBytes(path, xytest::randomBytes(200000, 4));
  startTransfer(kDump, true, path);
  // Steps until the far end's side is full: the kernel moves bytes between a
  // pseudo-terminal's two sides in its own time, so room can come late.
  for (std::string before; status() != before;) {
    before = status();
    for (int i = 0; i < 4; ++i, usleep(5000))
      timer(TIMER_DUMP);
  }
  SteppedClock::advance(HEX_DUMP_IDLE_MS - 1);
  timer(TIMER_DUMP);
  timer(TIMER_DUMP_IDLE);
  EXPECT_EQ(hex_dump_busy, 1) << "ended before 15 s without progress";
  SteppedClock::advance(1);
  timer(TIMER_DUMP_IDLE);
  expectEnded("Dump Failed: nothing went out for 15 s ");
}

// A receiving dump writes every byte and ends 15 s after the last one came.
TEST_F(HexTransfer, ReceivingDumpEndsFifteenSecondsAfterTheLastByte) {
  SteppedClock::install();
  start();
  const std::string path = dir_.file("in.bin");
  startTransfer(kDump, false, path);
  const Bytes one = xytest::randomBytes(12000, 5), two = xytest::randomBytes(100, 6);
  for (size_t at = 0; at < one.size(); at += 3000) {
    farEndSends(Bytes(one.begin() + long(at), one.begin() + long(at + 3000)));
    timer(TIMER_DUMP);
    EXPECT_EQ(status(), "Bytes = " + std::to_string(at + 3000) + " ");
  }
  SteppedClock::advance(10000);
  timer(TIMER_DUMP_IDLE);  // early: set again for the rest
  farEndSends(two);
  timer(TIMER_DUMP);
  SteppedClock::advance(HEX_DUMP_IDLE_MS - 1);
  timer(TIMER_DUMP_IDLE);
  EXPECT_EQ(hex_dump_busy, 1);
  SteppedClock::advance(1);
  timer(TIMER_DUMP_IDLE);
  expectEnded("Dump Completed ");
  EXPECT_EQ(readFileBytes(path), concat(one, two));
}

// A receiving dump's device goes: it fails saying why, the side waits for it.
TEST_F(HexTransfer, ReceivingDumpOnAVanishedDeviceFailsAndTheSideWaits) {
  SteppedClock::install();
  start();
  startTransfer(kDump, false, dir_.file("in.bin"));
  farEndSends({1, 2});
  timer(TIMER_DUMP);
  EXPECT_EQ(status(), "Bytes = 2 ");
  com1_.closeMaster();
  timer(TIMER_DUMP);
  expectEnded("Dump Failed: Input/output error ");
  EXPECT_EQ(hex_reconnect_waiting(HEX_SIDE_A), 1);
}

// --- Send on a slow line ----------------------------------------------------------------

// A long message the line cannot take at once: Send returns at once, the
// pump's runs write the rest as the far end reads, the status field shows
// how far it got, a second Send is refused meanwhile and a typed key goes
// behind the message; all arrives in order.
TEST_F(HexTransfer, LongMessageOnASlowLineNeverHoldsTheWindow) {
  SteppedClock::install();
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  std::string text;
  for (int i = 0; text.size() < 25000; ++i)
    text += "line " + std::to_string(i) + " of a long message to a slow reader. ";
  text.resize(25000);
  dlg_set_text(window_, IDC_MESSAGE, text.c_str());
  const uint32_t before = SteppedClock::now;
  dlg_user_click(window_, IDC_SEND);
  EXPECT_EQ(SteppedClock::now, before) << "Send waited for the line";
  ASSERT_GT(hex_out_waiting(), 0) << "the far end took all at once";
  EXPECT_EQ(status().rfind("Sending... ", 0), 0u) << status();
  dlg_set_text(window_, IDC_MESSAGE, "second");
  dlg_user_click(window_, IDC_SEND);
  EXPECT_EQ(hex_ansi_char(window_, '!'), 1);
  dialogs_ = 0;
  dlg_user_click(window_, IDC_XFER_START);
  EXPECT_EQ(dialogs_, 0) << "a transfer started under a message going out";
  std::string got;
  for (int runs = 0; runs < 200 && (hex_out_waiting() > 0 || got.size() < text.size() + 3);
       ++runs) {
    const Bytes piece = com1_.receive(2000, 20);
    got.append(piece.begin(), piece.end());
    const uint32_t at = SteppedClock::now;
    win_periodic(window_);
    EXPECT_EQ(SteppedClock::now, at) << "a pump run waited for the line";
  }
  const Bytes rest = com1_.drain(20);
  got.append(rest.begin(), rest.end());
  EXPECT_EQ(got, text + "\r\n!");
  EXPECT_EQ(status(), "");
}

// --- With lrzsz at the far end -------------------------------------------------------------

// COM1 at one end of a socat line, an lrzsz program at the other; the
// window runs on its real timers.
class HexTransferLrzsz : public HexTransfer {
protected:
  void SetUp() override {
    HexTransfer::SetUp();
    peerDir_ = dir_.file("peer");
    mkdir(peerDir_.c_str(), 0755);
  }
  void TearDown() override {
    HexTransfer::TearDown();
    peer_.stop();
    line_.stop();
  }

  // The line, sx at its end b when a sender is given, then the window on
  // COM1 at end a.
  void startWithLine(const std::vector<std::string> &sender = {}) {
    ASSERT_TRUE(line_.startSocat());
    if (!sender.empty()) {
      ASSERT_TRUE(peer_.start(sender, peerDir_, line_.b(), dir_.file("peer.log")));
    }
    setenv("KESTRELON_COM1", line_.a().c_str(), 1);
    start();
  }

  // rx through pipes at end b, started once Start has been pressed: the
  // window shows what comes before, rx's first start character too, and rx
  // repeats it only 10 s later.
  void startReceiver(const std::string &command) {
    ASSERT_TRUE(peer_.start(
        {"socat", "OPEN:" + line_.b() + ",raw,echo=0", "EXEC:" + command + ",pipes"}, peerDir_,
        "", dir_.file("peer.log")));
  }

  bool runUntilIdle(int timeoutMs) {
    return processEventsUntil([this] { return idle(); }, timeoutMs);
  }

  std::string peerDir_;
  xytest::Line line_{dir_.path()};
  xytest::Process peer_;
};

TEST_F(HexTransferLrzsz, EveryProtocolBothWays) {
  struct Case {
    int protocol;
    const char *receiver;
    std::vector<std::string> sender;
  } cases[] = {
      {kXModem, "rx received.bin", {"sx", "source.bin"}},
      {kXModemCrc, "rx -c received.bin", {"sx", "source.bin"}},
      {kXModem1K, "rx -c received.bin", {"sx", "-k", "source.bin"}},
  };
  for (const Case &c : cases) {
    for (bool send : {true, false}) {
      SCOPED_TRACE(c.protocol * 10 + send);
      const Bytes content = xytest::randomBytes(3000, uint32_t(c.protocol * 2 + send));
      // A path longer than the driver's record holds.
      const std::string folder = dir_.file(std::string(120, 'd'));
      mkdir(folder.c_str(), 0755);
      const std::string ours = folder + "/ours.bin";
      std::remove(ours.c_str());
      std::remove((peerDir_ + "/received.bin").c_str());
      if (send) {
        writeFileBytes(ours, content);
        startWithLine();
      } else {
        writeFileBytes(peerDir_ + "/source.bin", content);
        startWithLine(c.sender);
      }
      startTransfer(c.protocol, send, ours);
      if (send)
        startReceiver(c.receiver);
      EXPECT_EQ(status(), std::string(c.protocol == kXModem      ? "X-Modem Negotiating... "
                                      : c.protocol == kXModemCrc ? "X-Modem CRC Negotiating... "
                                                                 : "X-Modem 1K Negotiating... "));
      ASSERT_TRUE(runUntilIdle(60000)) << status();
      expectEnded("X-Modem Completed ");
      peer_.wait(5000);  // socat ends with rx
      const Bytes got = readFileBytes(send ? peerDir_ + "/received.bin" : ours);
      EXPECT_TRUE(xytest::equalSaveFill(content, got)) << got.size();
      // The far end saw the end too: our last answer reached it.
      const Bytes log = readFileBytes(dir_.file("peer.log"));
      EXPECT_NE(std::string(log.begin(), log.end()).find("Transfer complete"), std::string::npos)
          << std::string(log.begin(), log.end());
      if (!send) {
        EXPECT_EQ(peer_.exitCode(), 0);
      }
      finish();
      peer_.stop();
      line_.stop();
    }
  }
}

// Abort in the middle, either way: "X-Modem Aborted ", the pump runs again
// and the next transfer can start; a file received into keeps its old bytes.
TEST_F(HexTransferLrzsz, AbortInTheMiddle) {
  for (bool send : {true, false}) {
    SCOPED_TRACE(send);
    const Bytes content = xytest::randomBytes(400000, 9);
    const std::string ours = dir_.file("ours.bin");
    if (send) {
      writeFileBytes(ours, content);
      startWithLine();
    } else {
      writeFileBytes(ours, {'o', 'l', 'd'});
      writeFileBytes(peerDir_ + "/source.bin", content);
      startWithLine({"sx", "-k", "source.bin"});
      answers_ = {1};  // Cancel: nothing starts
      startTransfer(kXModem1K, send, ours);
      ASSERT_TRUE(idle() && boxes_.size() == 1 && boxes_[0].text == ours + " exists.\nReplace it?");
    }
    startTransfer(kXModem1K, send, ours);
    if (send)
      startReceiver("rx -c received.bin");
    // A run may carry several packets: the status can pass "Packets = 5 ".
    ASSERT_TRUE(processEventsUntil([] { return xyGetParameter(0, XY_PARAM_PACKET) >= 5; }))
        << status();
    ASSERT_EQ(status().rfind("Packets = ", 0), 0u) << status();
    dlg_user_click(window_, IDC_XFER_ABORT);
    expectEnded("X-Modem Aborted ");
    EXPECT_TRUE(peer_.wait(3000)) << "the far end was not cancelled";
    EXPECT_EQ(readFileBytes(ours), send ? content : Bytes({'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(dir_.file(".ours.bin.part")));
    EXPECT_EQ(xyAcquire(0), 0) << "the driver was not released";
    xyRelease(0);
    finish();
    peer_.stop();
    line_.stop();
  }
}

// While a file goes out on COM1, what comes on COM2 is read, shown and
// logged as it comes, and the file arrives whole.
TEST_F(HexTransferLrzsz, PortBIsShownWhileAFileGoesOutOnPortA) {
  const Bytes content = xytest::randomBytes(200000, 4);
  const std::string ours = dir_.file("ours.bin");
  writeFileBytes(ours, content);
  startWithLine();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  hex_log_open_file(window_, dir_.file("log.htm").c_str());
  startTransfer(kXModem1K, true, ours);
  startReceiver("rx -c received.bin");
  ASSERT_TRUE(processEventsUntil([] { return xyGetParameter(0, XY_PARAM_PACKET) >= 2; }));
  com2_.send(std::string("during"));
  ASSERT_TRUE(processEventsUntil([this] { return paneText().find("during") != std::string::npos; }));
  EXPECT_FALSE(idle()) << "the transfer had ended";
  ASSERT_TRUE(runUntilIdle(60000)) << status();
  expectEnded("X-Modem Completed ");
  peer_.wait(5000);
  EXPECT_TRUE(xytest::equalSaveFill(content, readFileBytes(peerDir_ + "/received.bin")));
  hex_log_flush();
  const Bytes log = readFileBytes(dir_.file("log.htm"));
  EXPECT_NE(std::string(log.begin(), log.end()).find(">during"), std::string::npos);
}

// The Dump on a null-modem cable: the far end reads what the window sends
// and sends what the window receives.
TEST_F(HexTransferLrzsz, DumpOnACable) {
  startWithLine();
  const int far = open(line_.b().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(far, 0);
  termios raw{};
  tcgetattr(far, &raw);
  cfmakeraw(&raw);
  tcsetattr(far, TCSANOW, &raw);
  const Bytes content = xytest::randomBytes(50000, 10);
  const std::string out = dir_.file("out.bin"), in = dir_.file("in.bin");
  writeFileBytes(out, content);
  startTransfer(kDump, true, out);
  Bytes got;
  auto readFarEnd = [&] {
    uint8_t buffer[4096];
    for (ssize_t n; (n = read(far, buffer, sizeof buffer)) > 0;)
      got.insert(got.end(), buffer, buffer + n);
  };
  ASSERT_TRUE(processEventsUntil([&] {
    readFarEnd();
    return idle();
  }));
  processEventsUntil([&] {
    readFarEnd();
    return got.size() >= content.size();
  });
  EXPECT_EQ(status(), "Dump Completed ");
  EXPECT_EQ(got, content);

  startTransfer(kDump, false, in);
  size_t sent = 0;
  ASSERT_TRUE(processEventsUntil([&] {
    const ssize_t n = write(far, content.data() + sent, content.size() - sent);
    sent += n > 0 ? size_t(n) : 0;
    return status() == "Bytes = " + std::to_string(content.size()) + " ";
  }));
  dlg_user_click(window_, IDC_XFER_ABORT);
  EXPECT_EQ(status(), "Dump Completed ");
  EXPECT_EQ(readFileBytes(in), content);
  close(far);
}

}  // namespace
