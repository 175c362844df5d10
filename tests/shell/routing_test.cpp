// Commands, notifications, the pane's key filter and the ways out, through
// the real widgets.
#include "support/event_loop.h"
#include "support/window_fixture.h"
#include "support/dialog_reads.h"

#include "../ser/device_view.h"

#include "dlg/dlg_window.h"
#include "pane/pane_view.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <termios.h>

using ShellTest = WindowTest;

namespace {

speed_t speedOf(const PtyPair &pty) {
  const termios tio = pty.deviceSettings();
  return cfgetospeed(&tio);
}

std::vector<std::string> history(HWND window) { return listEntries(window, IDC_MESSAGE); }

int filter(HWND window, unsigned message, int code) {
  DlgNotify notify{IDC_PANE, EN_MSGFILTER, message, uintptr_t(code)};
  EXPECT_EQ(DialogFunc(window, WM_NOTIFY, IDC_PANE, reinterpret_cast<intptr_t>(&notify)), 1);
  return int(notify.wParam);
}

std::vector<uint8_t> tenEmptyLines() {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 10; ++i) {
    bytes.push_back('\r');
    bytes.push_back('\n');
  }
  return bytes;
}

}  // namespace

TEST_F(ShellTest, EverySettingsListReachesItsOwnSidesHandler) {
  // What each choice does to the device is the core's test; here, that each
  // list is routed to the handler of its own side, and only there.
  start();
  struct Route {
    int id;
    int side;
    int index;
    int32_t hex_obj_t::*field;
    int32_t value;
  };
  // Ports without a device first: the sides keep what is chosen for them.
  const Route routes[] = {
      {IDC_PORT_A, 0, 6, &hex_obj_t::port, 6},      {IDC_PORT_B, 1, 5, &hex_obj_t::port, 5},
      {IDC_SPEED_A, 0, 9, &hex_obj_t::baud, 9},     {IDC_SPEED_B, 1, 7, &hex_obj_t::baud, 7},
      {IDC_DATA_A, 0, 2, &hex_obj_t::data_bits, 7}, {IDC_DATA_B, 1, 0, &hex_obj_t::data_bits, 5},
      {IDC_STOP_A, 0, 1, &hex_obj_t::stop_bits, 2}, {IDC_STOP_B, 1, 1, &hex_obj_t::stop_bits, 2},
      {IDC_PARITY_A, 0, 1, &hex_obj_t::parity, 1},  {IDC_PARITY_B, 1, 2, &hex_obj_t::parity, 2},
  };
  for (const Route &route : routes) {
    SCOPED_TRACE(route.id);
    const hex_obj_t other = hex_obj[1 - route.side];
    dlg_user_choose(window_, route.id, route.index);
    EXPECT_EQ(hex_obj[route.side].*route.field, route.value);
    EXPECT_EQ(hex_obj[1 - route.side].*route.field, other.*route.field);
  }
  dlg_user_choose(window_, IDC_FLOW_A, 0);
  EXPECT_STREQ(hex_obj[0].flow, "RT");
  EXPECT_STREQ(hex_obj[1].flow, "");
  dlg_user_choose(window_, IDC_FLOW_B, 1);
  EXPECT_STREQ(hex_obj[1].flow, "XO");
  EXPECT_STREQ(hex_obj[0].flow, "RT");
}

TEST_F(ShellTest, SelectingByProgramNotifiesNothingChoosingDoes) {
  start();
  dlg_combo_set_sel(window_, IDC_SPEED_A, 9);
  EXPECT_EQ(commandsFor(IDC_SPEED_A, CBN_SELCHANGE), 0);
  EXPECT_EQ(speedOf(com1_), speed_t(B9600));
  dlg_user_choose(window_, IDC_SPEED_A, 8);
  EXPECT_EQ(commandsFor(IDC_SPEED_A, CBN_SELCHANGE), 1);
  EXPECT_EQ(speedOf(com1_), speed_t(B57600));
}

// Typing into a list's field and leaving it (Tab, a click elsewhere) or
// pressing Enter there: text equal to an entry, letter case ignored, chooses
// that entry, and its handler runs as for a click.
TEST_F(ShellTest, TypedTextEqualToAnEntryChoosesItAsAClickDoes) {
  PtyPair com3;
  com3.mapTo(2);
  start();
  enum class End { Leave, Enter };
  struct Typed {
    int list;
    const char *text;
    End end;
    const char *shown;
    std::function<void()> handled;
  };
  const Typed typed[] = {
      {IDC_PORT_A, "com3", End::Leave, "COM3",
       [&] {
         EXPECT_EQ(hex_obj[0].port, 2);
         EXPECT_EQ(hex_obj[0].open, 1);
         EXPECT_EQ(SioRxQue(0), SIO_NOT_OPEN) << "COM1 was not closed";
       }},
      {IDC_SPEED_A, "1200", End::Enter, "1200", [&] { EXPECT_EQ(speedOf(com3), speed_t(B1200)); }},
      {IDC_PARITY_B, "Odd", End::Leave, "NONE",
       [&] { EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM2 refused ODD parity"); }},
      {IDC_DATA_B, "7", End::Leave, "8", [] { EXPECT_EQ(hex_obj[1].data_bits, 8); }},
      {IDC_FLOW_A, "rts", End::Enter, "RTS",
       [&] { EXPECT_TRUE(com3.deviceSettings().c_cflag & CRTSCTS); }},
      {IDC_VIEW, "ascii", End::Leave, "ASCII", [] { EXPECT_EQ(hex_view_mode, HEX_VIEW_ASCII); }},
      {IDC_FRAME_TYPE, "icni", End::Enter, "ICNI",
       [&] {
         EXPECT_EQ(hex_view_mode, HEX_VIEW_ICNI);
         EXPECT_EQ(controlText(window_, IDC_CHECK_KIND), "XOR");
       }},
      {IDC_CHECK_KIND, "sum", End::Leave, "SUM",
       [&] { EXPECT_EQ(dlg_combo_get_sel(window_, IDC_CHECK_KIND), int(HEX_CHECK_SUM)); }},
  };
  for (const Typed &t : typed) {
    SCOPED_TRACE(t.text);
    const int clicks = commandsFor(t.list, CBN_SELCHANGE);
    dlg_user_type(window_, t.list, t.text);
    if (t.end == End::Leave)
      dlg_user_focus(window_, IDC_PANE);
    else
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(controlText(window_, t.list), t.shown);
    EXPECT_EQ(commandsFor(t.list, CBN_SELCHANGE), clicks + 1);
    t.handled();
  }
  // The send port chosen now is the port Port A opened.
  dlg_user_click(window_, IDC_SEND_PORT_A);
  EXPECT_EQ(hex_send_port, 2);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ShellTest, TypedTextNamingNoEntryGoesBackAndPassingThroughChoosesNothing) {
  start();
  struct Typed {
    int list;
    const char *text;
    const char *back;
  };
  const Typed typed[] = {
      {IDC_PORT_A, "COM99", "COM1"},
      {IDC_SPEED_A, "fast", "9600"},
      {IDC_VIEW, "", "Hexadecimal"},
      {IDC_FRAME_TYPE, "None at all", "None"},
  };
  for (const Typed &t : typed) {
    SCOPED_TRACE(t.text);
    dlg_user_type(window_, t.list, t.text);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(controlText(window_, t.list), t.back);
    dlg_user_type(window_, t.list, t.text);
    dlg_user_focus(window_, IDC_PANE);
    EXPECT_EQ(controlText(window_, t.list), t.back);
    EXPECT_EQ(commandsFor(t.list, CBN_SELCHANGE), 0);
  }
  // Passing through a list without typing chooses nothing, not even its own
  // entry again (which would reopen the port).
  dlg_user_focus(window_, IDC_PORT_A);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  dlg_user_focus(window_, IDC_PANE);
  EXPECT_EQ(commandsFor(IDC_PORT_A, CBN_SELCHANGE), 0);
  EXPECT_EQ(SioRxQue(0), 0) << "COM1 open throughout";
  EXPECT_EQ(speedOf(com1_), speed_t(B9600));
  EXPECT_EQ(hex_view_mode, HEX_VIEW_HEXADECIMAL);
  // The message field keeps what was typed.
  dlg_user_type(window_, IDC_MESSAGE, "com1");
  dlg_user_focus(window_, IDC_PANE);
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), "com1");
}

// A number typed into a Speed list is a rate: the port takes it as the
// driver keeps it, and the list shows it as its last entry, which can be
// chosen again. A rate refused goes back to the last one, saying so.
TEST_F(ShellTest, RatesTypedIntoTheSpeedListsReachThePort) {
  start();
  auto rate = [&] { return viewDevice(com1_.masterFd()).ospeed; };
  auto type = [&](const char *text) {
    dlg_user_type(window_, IDC_SPEED_A, text);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  };
  for (unsigned typed : {250000u, 921600u, 3000000u}) {
    SCOPED_TRACE(typed);
    type(std::to_string(typed).c_str());
    EXPECT_EQ(rate(), typed);
    EXPECT_EQ(controlText(window_, IDC_SPEED_A), std::to_string(typed));
    EXPECT_EQ(dlg_combo_count(window_, IDC_SPEED_A), 11);
    EXPECT_EQ(hex_obj[HEX_SIDE_A].baud, int32_t(typed));
  }
  dlg_user_choose(window_, IDC_SPEED_A, 9);
  EXPECT_EQ(rate(), 115200u);
  dlg_user_choose(window_, IDC_SPEED_A, 10);
  EXPECT_EQ(rate(), 3000000u);
  // Refused: below 10 (speed codes) and beyond 32 bits.
  for (const char *refused : {"5", "99999999999"}) {
    SCOPED_TRACE(refused);
    type(refused);
    EXPECT_EQ(controlText(window_, IDC_SPEED_A), "3000000");
    EXPECT_EQ(rate(), 3000000u);
    EXPECT_EQ(hex_obj[HEX_SIDE_A].baud, 3000000);
    std::string number = refused;
    number.erase(0, number.find_first_not_of(' '));
    number.erase(number.find_last_not_of(' ') + 1);
    EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM1 refused " + number + " bit/s");
  }
  // Settings applied later keep the last rate taken.
  dlg_user_choose(window_, IDC_STOP_A, 1);
  EXPECT_EQ(rate(), 3000000u);
  // A rate taken clears the refusal.
  type("460800");
  EXPECT_EQ(rate(), 460800u);
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "");
  EXPECT_TRUE(boxes_.empty());
}

// A real driver's refusal: a 16550 UART makes no rate above its clock's
// 115200 bit/s. Runs on the UART named by KESTRELON_TEST_UART.
TEST_F(ShellTest, ARateTheUartCannotMakeIsRefusedAndTheLastOneStays) {
  const char *uart = getenv("KESTRELON_TEST_UART");
  if (!uart || !*uart)
    GTEST_SKIP() << "set KESTRELON_TEST_UART to a UART to run";
  setenv("KESTRELON_COM1", uart, 1);
  start();
  ASSERT_EQ(hex_obj[HEX_SIDE_A].open, 1);
  dlg_user_type(window_, IDC_SPEED_A, "57600");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  ASSERT_EQ(PortDCB[0].BaudRate, 57600u);
  dlg_user_type(window_, IDC_SPEED_A, "3000000");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  if (controlText(window_, IDC_SPEED_A) == "3000000")
    GTEST_SKIP() << "this UART makes 3000000 bit/s";
  EXPECT_EQ(controlText(window_, IDC_SPEED_A), "57600");
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM1 refused 3000000 bit/s");
  EXPECT_EQ(PortDCB[0].BaudRate, 57600u);
}

TEST_F(ShellTest, ThePumpReadsTheCommPortChosenLast) {
  PtyPair com3;
  com3.mapTo(2);
  start();
  dlg_user_choose(window_, IDC_PORT_A, 2);  // COM3
  ASSERT_EQ(hex_obj[0].open, 1);
  com1_.send(std::vector<uint8_t>{0x11});
  com3.send(std::vector<uint8_t>{0x33});
  ASSERT_TRUE(waitForQueue(2, 1));
  win_periodic(window_);
  EXPECT_EQ(paneText(), " 33");
}

TEST_F(ShellTest, SendPortButtonsTakeThePortIndexOfTheSidesList) {
  PtyPair com5;
  com5.mapTo(4);
  start();
  dlg_user_choose(window_, IDC_PORT_B, 4);  // COM5
  ASSERT_EQ(hex_obj[1].open, 1);
  dlg_user_click(window_, IDC_SEND_PORT_B);
  EXPECT_EQ(dlg_button_state(window_, IDC_SEND_PORT_B), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_SEND_PORT_A), BST_UNCHECKED);
  EXPECT_EQ(hex_send_port, 4);
  dlg_user_click(window_, IDC_SEND_PORT_A);
  EXPECT_EQ(hex_send_port, 0);
  // Send goes to the chosen port.
  dlg_user_click(window_, IDC_SEND_PORT_B);
  dlg_user_type(window_, IDC_MESSAGE, "7E 01");
  dlg_user_click(window_, IDC_SEND);
  EXPECT_EQ(com5.receive(2, 2000), (std::vector<uint8_t>{0x7E, 0x01}));
}

TEST_F(ShellTest, RunStopEchoDirectionAndClearButtons) {
  start();
  dlg_user_click(window_, IDC_LOCAL_ECHO);
  EXPECT_EQ(hex_local_echo, 0);
  EXPECT_EQ(window_->controlIdOf(QApplication::focusWidget()), IDC_PANE);
  dlg_user_click(window_, IDC_LOCAL_ECHO);
  EXPECT_EQ(hex_local_echo, 1);
  dlg_user_click(window_, IDC_XFER_GET);
  EXPECT_EQ(hex_send_file, 0);
  dlg_user_click(window_, IDC_XFER_SEND);
  EXPECT_EQ(hex_send_file, 1);
  com1_.send(std::vector<uint8_t>{0x10});
  ASSERT_TRUE(waitForQueue(0, 1));
  win_periodic(window_);
  ASSERT_EQ(paneText(), " 10");
  dlg_user_focus(window_, IDC_SPEED_A);
  dlg_user_click(window_, IDC_CLEAR);
  EXPECT_EQ(paneText(), "");
  EXPECT_EQ(window_->controlIdOf(QApplication::focusWidget()), IDC_PANE);
}

TEST_F(ShellTest, FrameTypeListActsOnEveryNotification) {
  start();
  dlg_user_choose(window_, IDC_VIEW, 1);  // ASCII
  ASSERT_EQ(hex_view_mode, 1);
  dlg_user_focus(window_, IDC_FRAME_TYPE);  // focus alone resets the view
  EXPECT_EQ(commandsFor(IDC_FRAME_TYPE, CBN_SETFOCUS), 1);
  EXPECT_EQ(hex_view_mode, 0);
  dlg_user_focus(window_, IDC_PANE);
  EXPECT_EQ(commandsFor(IDC_FRAME_TYPE, CBN_KILLFOCUS), 1);
  dlg_user_choose(window_, IDC_FRAME_TYPE, 3);  // ICNI
  EXPECT_EQ(commandsFor(IDC_FRAME_TYPE, CBN_DROPDOWN), 1);
  EXPECT_EQ(commandsFor(IDC_FRAME_TYPE, CBN_CLOSEUP), 1);
  EXPECT_EQ(commandsFor(IDC_FRAME_TYPE, CBN_SELCHANGE), 1);
  EXPECT_EQ(hex_view_mode, 5);
  char kind[16];
  dlg_get_text(window_, IDC_CHECK_KIND, kind, sizeof kind);
  EXPECT_STREQ(kind, "XOR");
}

TEST_F(ShellTest, MessageHistoryRules) {
  start();
  // Leaving the field adds its text once, letter case ignored.
  dlg_user_type(window_, IDC_MESSAGE, "aa 01");
  dlg_user_focus(window_, IDC_PANE);
  dlg_user_type(window_, IDC_MESSAGE, "AA 01");
  dlg_user_focus(window_, IDC_PANE);
  EXPECT_EQ(history(window_), (std::vector<std::string>{"aa 01"}));
  // More than ten: the tenth goes and the newest takes its place.
  for (int i = 2; i <= 11; ++i) {
    dlg_user_type(window_, IDC_MESSAGE, ("0" + std::to_string(i % 10)).c_str());
    dlg_user_focus(window_, IDC_PANE);
  }
  std::vector<std::string> h = history(window_);
  ASSERT_EQ(h.size(), 10u);
  EXPECT_EQ(h[0], "aa 01");
  EXPECT_EQ(h[8], "09");
  EXPECT_EQ(h[9], "01");  // "011" % 10 -> "01"; "00" was the tenth and went
  // Send with Stop selected sends nothing but still makes room.
  dlg_user_click(window_, IDC_STOP);
  dlg_user_type(window_, IDC_MESSAGE, "55");
  dlg_user_click(window_, IDC_SEND);  // focus lost adds "55", Send drops the first
  h = history(window_);
  EXPECT_EQ(h.size(), 9u);
  EXPECT_EQ(h[0], "02");
  EXPECT_TRUE(com1_.drain(100).empty());
  // The field still shows what was typed.
  char field[64];
  dlg_get_text(window_, IDC_MESSAGE, field, sizeof field);
  EXPECT_STREQ(field, "55");
}

TEST_F(ShellTest, KeyFilterSwallowsWithEchoOffAndTheTerminalMovesTheCaret) {
  start();
  EXPECT_EQ(filter(window_, WM_CHAR, 'a'), 'a');
  EXPECT_EQ(filter(window_, WM_KEYDOWN, VK_LEFT), VK_LEFT);
  EXPECT_EQ(filter(window_, WM_KEYDOWN, VK_ESCAPE), 0);
  EXPECT_EQ(filter(window_, WM_KEYDOWN, VK_DELETE), VK_BACK);
  dlg_user_click(window_, IDC_LOCAL_ECHO);
  ASSERT_EQ(hex_local_echo, 0);
  EXPECT_EQ(filter(window_, WM_CHAR, 'a'), 0);
  EXPECT_EQ(filter(window_, WM_KEYDOWN, VK_LEFT), 0);

  // Through the real pane: typed keys show only with echo on.
  DisplayPane *pane = window_->pane();
  pane->setFocus();
  QTest::keyClicks(pane, "xy");
  EXPECT_EQ(paneText(), "");
  dlg_user_click(window_, IDC_LOCAL_ECHO);
  pane->setFocus();
  QTest::keyClicks(pane, "xy");
  EXPECT_EQ(paneText(), "xy");
  // The terminal moves the caret as the far end asked, echo or not.
  dlg_user_click(window_, IDC_LOCAL_ECHO);
  HexWindowSink(window_).ansi_key(VK_LEFT);
  EXPECT_EQ(pane->model().selection().caret, 1);
}

TEST_F(ShellTest, ExitSavesTheHistoryAndEnds) {
  start();
  dlg_user_click(window_, IDC_EXIT);
  int result = -1;
  ASSERT_TRUE(dlg_ended(window_, &result));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(configBytes(), tenEmptyLines());
  EXPECT_EQ(SioRxQue(0), SIO_NOT_OPEN);
}

TEST_F(ShellTest, CloseBoxRunsTheQuitSequenceFirst) {
  start();
  dlg_user_type(window_, IDC_MESSAGE, "01 02");
  dlg_user_focus(window_, IDC_PANE);
  window_->close();
  int result = -1;
  ASSERT_TRUE(dlg_ended(window_, &result));
  EXPECT_EQ(result, 0);
  std::vector<uint8_t> expected = {'0', '1', ' ', '0', '2', '\r', '\n'};
  for (int i = 0; i < 9; ++i) {
    expected.push_back('\r');
    expected.push_back('\n');
  }
  EXPECT_EQ(configBytes(), expected);
  EXPECT_EQ(SioRxQue(0), SIO_NOT_OPEN);
  EXPECT_EQ(SioRxQue(1), SIO_NOT_OPEN);
}

TEST_F(ShellTest, EnterInTheMessageFieldSendsInsteadOfEnding) {
  start();
  dlg_user_type(window_, IDC_MESSAGE, "7e ff 03");
  auto *field = qobject_cast<QComboBox *>(window_->control(IDC_MESSAGE));
  QTest::keyClick(field->lineEdit(), Qt::Key_Return);
  EXPECT_FALSE(dlg_ended(window_, nullptr));
  EXPECT_EQ(com1_.receive(3, 2000), (std::vector<uint8_t>{0x7E, 0xFF, 0x03}));
  EXPECT_EQ(history(window_), (std::vector<std::string>{"7e ff 03"}));
  // Echoed in the pane in COM1's sent colour.
  DisplayPane *pane = window_->pane();
  const std::string text = paneText();
  ASSERT_NE(text.find(" 7E FF 03"), std::string::npos);
  EXPECT_EQ(pane->model().colourAt(int64_t(text.find(" 7E FF 03"))), hex_colour[0][1]);
}

TEST_F(ShellTest, EnterInOtherControlsNeitherSendsNorEnds) {
  start();
  dlg_user_type(window_, IDC_MESSAGE, "41 42");
  for (int id : {IDC_SPEED_B, IDC_PORT_A, IDC_RUN, IDC_LOCAL_ECHO}) {
    SCOPED_TRACE(id);
    dlg_user_focus(window_, id);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(dlg_ended(window_, nullptr));
  }
  EXPECT_TRUE(com1_.drain(200).empty()) << "nothing is sent from outside the message field";
  EXPECT_EQ(hex_run, 1);
  EXPECT_EQ(hex_local_echo, 1);
}

TEST_F(ShellTest, EscapeOutsideThePaneExitsInsideItDoesNot) {
  start();
  DisplayPane *pane = window_->pane();
  pane->setFocus();
  QTest::keyClick(pane, Qt::Key_Escape);
  QTest::keyClick(pane, Qt::Key_Return);
  EXPECT_FALSE(dlg_ended(window_, nullptr));
  dlg_user_focus(window_, IDC_SPEED_A);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  int result = -1;
  ASSERT_TRUE(dlg_ended(window_, &result));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(configBytes(), tenEmptyLines());
}

TEST_F(ShellTest, BytesFromTheFarEndOfCom1ShowInItsColourInHexAndAscii) {
  start();
  DisplayPane *pane = window_->pane();
  // The pump runs from its own timer here.
  com1_.send(std::string("AB\r"));
  ASSERT_TRUE(processEventsUntil([&] { return paneText() == " 41 42 0D"; }));
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(pane->model().colourAt(i), hex_colour[0][0]);
  EXPECT_EQ(hex_colour[0][0], 0xFF0000u);  // blue
  dlg_user_choose(window_, IDC_VIEW, 1);
  com1_.send(std::string("Hello"));
  ASSERT_TRUE(processEventsUntil([&] { return paneText() == " 41 42 0DHello"; }));
  for (int i = 9; i < 14; ++i)
    EXPECT_EQ(pane->model().colourAt(i), 0xFF0000u);
  EXPECT_TRUE(boxes_.empty());
}
