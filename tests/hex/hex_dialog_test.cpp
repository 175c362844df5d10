// The monitor core against the real dialog, offscreen, with pseudo-terminals
// as COM ports: start-up state, the configuration file, exit, settings
// reaching the device, port changes, views, pane output and message boxes.
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "support/dialog_reads.h"
#include "support/window_fixture.h"

#include <QComboBox>
#include <QLineEdit>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using HexDialog = WindowTest;

// --- Start-up -------------------------------------------------------------------

TEST_F(HexDialog, StartStateOfListsButtonsAndRecords) {
  start();
  // Each list holds its name table in order, with its start entry chosen.
  struct List {
    int id;
    std::vector<std::string> items;
    int selection;
  };
  auto table = [](const auto &names) {
    return std::vector<std::string>(std::begin(names), std::end(names));
  };
  const std::vector<List> lists{
      {IDC_PORT_A, table(hex_portnames), 0}, {IDC_PORT_B, table(hex_portnames), 1},
      {IDC_SPEED_A, table(hex_baudcode), 5}, {IDC_SPEED_B, table(hex_baudcode), 5},
      {IDC_DATA_A, table(hex_data), 3},      {IDC_DATA_B, table(hex_data), 3},
      {IDC_STOP_A, table(hex_stop), 0},      {IDC_STOP_B, table(hex_stop), 0},
      {IDC_PARITY_A, table(hex_parity), 0},  {IDC_PARITY_B, table(hex_parity), 0},
      {IDC_FLOW_A, table(hex_flow), 2},      {IDC_FLOW_B, table(hex_flow), 2},
      {IDC_CHECK_KIND, table(hex_sum), 0},   {IDC_PROTOCOL, table(hex_protocol), 0},
      {IDC_VIEW, table(hex_view), 0},        {IDC_FRAME_TYPE, table(hex_frame), 0},
  };
  for (const List &list : lists) {
    EXPECT_EQ(listEntries(window_, list.id), list.items) << "list " << list.id;
    EXPECT_EQ(dlg_combo_get_sel(window_, list.id), list.selection) << "list " << list.id;
    EXPECT_EQ(controlText(window_, list.id), list.items[size_t(list.selection)])
        << "list " << list.id;
  }
  EXPECT_EQ(controlText(window_, IDC_SPEED_A), "9600");
  EXPECT_EQ(controlText(window_, IDC_DATA_A), "8");
  EXPECT_EQ(controlText(window_, IDC_FLOW_A), "NONE");
  EXPECT_EQ(dlg_button_state(window_, IDC_NO_LOG), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_LOG), BST_UNCHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_RUN), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_STOP), BST_UNCHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_SEND_PORT_A), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_SEND_PORT_B), BST_UNCHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_XFER_SEND), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_XFER_GET), BST_UNCHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_LOCAL_ECHO), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_CHECKED);
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "");
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), "");
  EXPECT_EQ(dlg_combo_count(window_, IDC_MESSAGE), 0);

  EXPECT_EQ(hex_run, 1);
  EXPECT_EQ(hex_ascii, 0);
  EXPECT_EQ(hex_local_echo, 1);
  EXPECT_EQ(hex_send_port, 0);
  EXPECT_EQ(hex_send_file, 1);
  EXPECT_EQ(hex_view_mode, 0);
  EXPECT_EQ(hex_log, 0);
  EXPECT_EQ(hex_time_stamp, 0);
  EXPECT_TRUE(pane()->wrap());
  for (int side = 0; side < 2; ++side) {
    const hex_obj_t &r = hex_obj[side];
    EXPECT_EQ(r.port, side);
    EXPECT_EQ(r.open, 1);
    EXPECT_EQ(r.baud, 5);
    EXPECT_EQ(r.data_bits, 8);
    EXPECT_EQ(r.parity, 0);
    EXPECT_EQ(r.stop_bits, 0);
    EXPECT_STREQ(r.flow, "");
    EXPECT_EQ(r.icni_len, 255);
    EXPECT_EQ(PortDCB[side].ByteSize, 8);
    EXPECT_EQ(PortDCB[side].Parity, 0);
    EXPECT_EQ(PortDCB[side].StopBits, 0);
    EXPECT_EQ(SioDTR(side, 'R'), 1) << "DTR raised";
    EXPECT_EQ(SioRTS(side, 'R'), 0) << "RTS lowered";
  }
  for (const PtyPair *pty : {&com1_, &com2_}) {
    termios tio = pty->deviceSettings();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(HexDialog, DeviceTooltipsAndAPortThatDoesNotOpen) {
  // A device path in the file system's encoding (UTF-8 here), not ASCII.
  const std::string missing = dir_.file("n\xC3\xB6-such-tty");
  setenv("KESTRELON_COM2", missing.c_str(), 1);
  start();
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_INDETERMINATE);
  EXPECT_EQ(hex_obj[1].open, 0);
  EXPECT_LT(hex_obj[1].status, 0);
  EXPECT_EQ(controlText(window_, IDC_PORT_B), "COM2");
  // Why it failed, with the device the port stands for.
  std::string tip_b = tooltip(IDC_OPEN_B);
  EXPECT_NE(tip_b.find("COM2"), std::string::npos) << tip_b;
  EXPECT_NE(tip_b.find(missing), std::string::npos) << tip_b;
  EXPECT_NE(tip_b.find("No such file"), std::string::npos) << tip_b;
  EXPECT_NE(tooltip(IDC_OPEN_A).find(com1_.slavePath()), std::string::npos);
  auto *list = qobject_cast<QComboBox *>(window_->control(IDC_PORT_A));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->itemData(0, Qt::ToolTipRole).toString().toStdString(), com1_.slavePath());
  EXPECT_EQ(list->itemData(1, Qt::ToolTipRole).toString().toStdString(), missing);
  EXPECT_TRUE(boxes_.empty()) << "a port that fails at start reports nothing";
}

// --- Configuration file ------------------------------------------------------------

// The history's bytes show as the pane shows them (Windows-1252, control
// pictures) and go back to the file unchanged.
TEST_F(HexDialog, HistoryBytesShowAsThePaneShowsThemAndAreSavedUnchanged) {
  const std::string cfg = "\x93quoted\x94\r\n\x80 41\r\n\x81\x01x\r\n";
  writeFileBytes(HEX_CFG_NAME, std::vector<uint8_t>(cfg.begin(), cfg.end()));
  start();
  auto *list = qobject_cast<QComboBox *>(window_->control(IDC_MESSAGE));
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->itemText(0), QString::fromUtf8("\u201Cquoted\u201D"));
  EXPECT_EQ(list->currentText(), QString::fromUtf8("\u201Cquoted\u201D"));
  EXPECT_EQ(list->itemText(1), QString::fromUtf8("\u20AC 41"));
  EXPECT_EQ(list->itemText(2), QString::fromUtf8("\u0081\u2401x"));
  hex_quit(window_);
  std::vector<uint8_t> expected(cfg.begin(), cfg.end());
  for (int i = 3; i < 10; ++i) {
    expected.push_back('\r');
    expected.push_back('\n');
  }
  EXPECT_EQ(configBytes(), expected);
}

TEST_F(HexDialog, HistoryIsLoadedIntoTheMessageList) {
  writeFileBytes(HEX_CFG_NAME, {'0',  '1',  ' ', '0',  '2', '\r', '\n', '\r', '\n', 'A',  'A',
                                '\r', '\n', 'x', '\n', 'l', 'f',  '\n', '7',  'E',  '\r', '\n'});
  start();
  EXPECT_EQ(listEntries(window_, IDC_MESSAGE),
            (std::vector<std::string>{"01 02", "AA", "x", "lf", "7E"}));
  EXPECT_EQ(dlg_combo_get_sel(window_, IDC_MESSAGE), 0);
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), "01 02");
}

TEST_F(HexDialog, QuitWritesHistoryLowersLinesClosesPortsAndStopsThePump) {
  start();
  hex_timer = dlg_set_timer(window_, TIMER_PUMP, 50);
  ASSERT_NE(hex_timer, 0u);
  for (const char *text : {"01 02", "AA", "7E FF 7E"})
    dlg_combo_add(window_, IDC_MESSAGE, text);
  // Both lines up, so lowering them shows.
  for (int port = 0; port < 2; ++port) {
    SioRTS(port, 'S');
    ASSERT_EQ(SioRTS(port, 'R'), 2);
  }
  hex_quit(window_);
  EXPECT_EQ(
      readFileBytes(HEX_CFG_NAME),
      (std::vector<uint8_t>{'0',  '1',  ' ',  '0',  '2',  '\r', '\n', 'A',  'A',  '\r', '\n', '7',
                            'E',  ' ',  'F',  'F',  ' ',  '7',  'E',  '\r', '\n', '\r', '\n', '\r',
                            '\n', '\r', '\n', '\r', '\n', '\r', '\n', '\r', '\n', '\r', '\n'}));
  EXPECT_EQ(hex_timer, 0u);
  EXPECT_EQ(dlg_kill_timer(window_, TIMER_PUMP), 0) << "pump timer still armed";
  for (int port = 0; port < 2; ++port) {
    EXPECT_EQ(SioRxQue(port), SIO_NOT_OPEN) << "port " << port << " left open";
    EXPECT_EQ(hex_obj[port].open, 0);
    // The levels last set survive the close: reopen to read them.
    ASSERT_EQ(SioReset(port, HEX_PORT_QUEUE, HEX_PORT_QUEUE), 0);
    EXPECT_EQ(SioDTR(port, 'R'), 0) << "DTR not lowered on port " << port;
    EXPECT_EQ(SioRTS(port, 'R'), 0) << "RTS not lowered on port " << port;
  }
  EXPECT_TRUE(boxes_.empty());
}

// A FIFO in the file's place would hang start-up and Exit in the open.
TEST_F(HexDialog, AHistoryFileThatIsNoRegularFileIsLeftAloneWithAMessage) {
  ASSERT_EQ(mkfifo(HEX_CFG_NAME, 0600), 0);
  start();
  hex_quit(window_);
  EXPECT_EQ(boxes_.at(0).text, "Message history not read: kestrelon.cfg: is a FIFO");
  EXPECT_EQ(boxes_.at(1).text, "Message history not saved: kestrelon.cfg: is a FIFO");
}

TEST_F(HexDialog, QuitWithoutHistoryWritesTenEmptyLines) {
  start();
  hex_quit(window_);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 10; ++i) {
    expected.push_back('\r');
    expected.push_back('\n');
  }
  EXPECT_EQ(readFileBytes(HEX_CFG_NAME), expected);
}

TEST_F(HexDialog, QuitClosesThePortChosenLast) {
  PtyPair c;
  c.mapTo(4);
  start();
  dlg_user_choose(window_, IDC_PORT_A, 4);
  ASSERT_EQ(hex_obj[0].port, 4);
  ASSERT_EQ(SioRxQue(4), 0) << "COM5 not open";
  hex_quit(window_);
  EXPECT_EQ(SioRxQue(4), SIO_NOT_OPEN);
  ASSERT_EQ(SioReset(4, HEX_PORT_QUEUE, HEX_PORT_QUEUE), 0);
  EXPECT_EQ(SioDTR(4, 'R'), 0);
}

// --- Port settings -------------------------------------------------------------------

TEST_F(HexDialog, SettingsReachTheDevice) {
  start();
  dlg_user_choose(window_, IDC_SPEED_A, 9);
  EXPECT_EQ(hex_obj[0].baud, 9);
  EXPECT_EQ(cfgetospeed(&static_cast<const termios &>(com1_.deviceSettings())), speed_t(B115200));

  dlg_user_choose(window_, IDC_STOP_A, 1);
  EXPECT_EQ(hex_obj[0].stop_bits, 2);
  EXPECT_TRUE(com1_.deviceSettings().c_cflag & CSTOPB);
  dlg_user_choose(window_, IDC_STOP_A, 0);
  EXPECT_EQ(hex_obj[0].stop_bits, 0);
  EXPECT_FALSE(com1_.deviceSettings().c_cflag & CSTOPB);

  dlg_user_choose(window_, IDC_FLOW_B, 0);
  EXPECT_STREQ(hex_obj[1].flow, "RT");
  EXPECT_TRUE(com2_.deviceSettings().c_cflag & CRTSCTS);
  dlg_user_choose(window_, IDC_FLOW_B, 1);
  EXPECT_STREQ(hex_obj[1].flow, "XO");
  termios tio = com2_.deviceSettings();
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
  dlg_user_choose(window_, IDC_FLOW_B, 2);
  EXPECT_STREQ(hex_obj[1].flow, "NO");
  EXPECT_EQ(com2_.deviceSettings().c_iflag & (IXON | IXOFF), 0u);

  dlg_user_choose(window_, IDC_SPEED_B, 0);
  EXPECT_EQ(cfgetospeed(&static_cast<const termios &>(com2_.deviceSettings())), speed_t(B110));
  // Port A kept its own settings.
  EXPECT_EQ(cfgetospeed(&static_cast<const termios &>(com1_.deviceSettings())), speed_t(B115200));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(hex_obj[0].status, 0);
}

TEST_F(HexDialog, SettingOnAClosedSideIsKeptAndAppliedLater) {
  mapMissing(1);
  PtyPair d;
  d.mapTo(3);
  start();
  dlg_user_choose(window_, IDC_PARITY_B, 2);
  dlg_user_choose(window_, IDC_SPEED_B, 6);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(hex_obj[1].parity, 2);
  EXPECT_EQ(hex_obj[1].baud, 6);

  dlg_user_choose(window_, IDC_PORT_B, 3);
  EXPECT_EQ(hex_obj[1].open, 1);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_CHECKED);
  termios tio = d.deviceSettings();
  EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
  // The parity the device refused is said, and the side has what it keeps.
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM4 refused EVEN parity");
  EXPECT_EQ(controlText(window_, IDC_PARITY_B), "NONE");
  EXPECT_EQ(hex_obj[1].parity, 0);
  EXPECT_NE(tooltip(IDC_OPEN_B).find(d.slavePath()), std::string::npos);
}

TEST_F(HexDialog, CommPortChangeReappliesSettingsAndSendPortFollows) {
  PtyPair c;
  c.mapTo(2);
  start();
  dlg_user_choose(window_, IDC_SPEED_A, 6);
  dlg_user_choose(window_, IDC_DATA_A, 2);
  dlg_user_choose(window_, IDC_PARITY_A, 2);
  dlg_user_choose(window_, IDC_FLOW_A, 0);
  ASSERT_EQ(hex_send_port, 0);

  dlg_user_choose(window_, IDC_PORT_A, 2);
  EXPECT_EQ(SioRxQue(0), SIO_NOT_OPEN) << "COM1 still open";
  EXPECT_EQ(hex_obj[0].port, 2);
  EXPECT_EQ(hex_obj[0].open, 1);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_CHECKED);
  termios tio = c.deviceSettings();
  EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8 | CRTSCTS));
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM1 refused EVEN parity");
  EXPECT_EQ(SioDTR(2, 'R'), 1);
  EXPECT_EQ(hex_send_port, 2) << "the send side moved to COM3";

  // Port B is not the send side: its change leaves the send port alone.
  PtyPair e;
  e.mapTo(5);  // mapped after start: the entry's tooltip follows
  dlg_user_choose(window_, IDC_PORT_B, 5);
  EXPECT_EQ(hex_obj[1].port, 5);
  EXPECT_EQ(hex_obj[1].open, 1);
  auto *list = qobject_cast<QComboBox *>(window_->control(IDC_PORT_B));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->itemData(5, Qt::ToolTipRole).toString().toStdString(), e.slavePath());
  EXPECT_EQ(hex_send_port, 2);
  dlg_user_click(window_, IDC_SEND_PORT_B);
  EXPECT_EQ(hex_send_port, 5);
  dlg_user_choose(window_, IDC_PORT_B, 1);
  EXPECT_EQ(hex_send_port, 1);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(HexDialog, ChoosingAPortThatCannotOpen) {
  start();
  // COM1 is held by Port A: the second open is refused.
  dlg_user_choose(window_, IDC_PORT_B, 0);
  EXPECT_EQ(hex_obj[1].open, 0);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_INDETERMINATE);
  EXPECT_EQ(SioRxQue(1), SIO_NOT_OPEN) << "the previous port was closed";
  EXPECT_EQ(SioRxQue(0), 0) << "Port A keeps COM1";
  EXPECT_NE(tooltip(IDC_OPEN_B)
                .find("COM1 (" + com1_.slavePath() + ") did not open: Device or resource busy"),
            std::string::npos)
      << tooltip(IDC_OPEN_B);
  dlg_user_choose(window_, IDC_PORT_A, 7);  // a device that is not there
  EXPECT_EQ(hex_obj[0].open, 0);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_INDETERMINATE);
  EXPECT_NE(tooltip(IDC_OPEN_A).find("COM8"), std::string::npos);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(HexDialog, ASideWhoseOpenFailedLeavesTheOtherSidesPortAlone) {
  PtyPair com3;
  com3.mapTo(2);
  start();
  dlg_user_choose(window_, IDC_PORT_A, 1);  // COM2, which Port B holds
  ASSERT_EQ(hex_obj[0].open, 0);
  dlg_user_choose(window_, IDC_PORT_A, 2);  // moving on must not close COM2
  EXPECT_EQ(hex_obj[0].open, 1);
  EXPECT_EQ(hex_obj[1].open, 1);
  const uint64_t read = hex_capture_read_total(HEX_SIDE_B);
  com2_.send("B");
  EXPECT_TRUE(waitForQueue(1, 1) && hex_capture_read_total(HEX_SIDE_B) == read + 1)
      << "Port B still reads COM2";

  // The same at exit: a side left on the other side's port closes nothing.
  dlg_user_choose(window_, IDC_PORT_A, 1);
  ASSERT_EQ(hex_obj[0].open, 0);
  hex_obj[1].open = 0;  // as if Port B had let go: only its own record closes it
  hex_quit(window_);
  EXPECT_EQ(SioRxQue(1), 0) << "a side that is not open closes no port at exit";
  EXPECT_TRUE(boxes_.empty());
}

// --- Views and frame types ------------------------------------------------------------

TEST_F(HexDialog, ViewChoiceSetsModeTextSendingEchoAndWrapping) {
  start();
  struct Row {
    int view, ascii, echo;
  };
  const Row rows[] = {{2, 1, 0}, {1, 1, 1}, {3, 0, 1}, {2, 1, 0}, {4, 0, 1}, {5, 0, 1}, {0, 0, 1}};
  for (const Row &row : rows) {
    dlg_user_choose(window_, IDC_VIEW, row.view);
    EXPECT_EQ(hex_view_mode, row.view);
    EXPECT_EQ(hex_ascii, row.ascii) << "view " << row.view;
    EXPECT_EQ(hex_local_echo, row.echo) << "view " << row.view;
    EXPECT_EQ(dlg_button_state(window_, IDC_LOCAL_ECHO), row.echo ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(pane()->wrap(), row.view != 2) << "view " << row.view;
    EXPECT_EQ(dlg_combo_get_sel(window_, IDC_FRAME_TYPE), 0) << "the frame type stays";
  }
}

TEST_F(HexDialog, FrameTypeSetsCheckKindAndView) {
  start();
  struct Row {
    int frame, kind, view;
  };
  const Row rows[] = {{3, 3, 5}, {1, 0, 3}, {2, 0, 4}, {0, 0, 0}};
  for (const Row &row : rows) {
    dlg_user_choose(window_, IDC_VIEW, 2);  // ANSI: echo off, text sending, no wrapping
    dlg_combo_set_sel(window_, IDC_CHECK_KIND, 2);
    dlg_user_choose(window_, IDC_FRAME_TYPE, row.frame);
    EXPECT_EQ(dlg_combo_get_sel(window_, IDC_CHECK_KIND), row.kind) << "frame " << row.frame;
    EXPECT_EQ(dlg_combo_get_sel(window_, IDC_VIEW), row.view) << "frame " << row.frame;
    EXPECT_EQ(hex_view_mode, row.view);
    EXPECT_EQ(hex_ascii, 0);
    EXPECT_EQ(hex_local_echo, 1);
    EXPECT_EQ(dlg_button_state(window_, IDC_LOCAL_ECHO), BST_CHECKED);
    EXPECT_TRUE(pane()->wrap());
  }
  // No frame type selected: checksum kind 0, view 0.
  dlg_combo_set_sel(window_, IDC_FRAME_TYPE, -1);
  dlg_combo_set_sel(window_, IDC_CHECK_KIND, 2);
  dlg_combo_set_sel(window_, IDC_VIEW, 4);
  hex_frameChanged(window_);
  EXPECT_EQ(dlg_combo_get_sel(window_, IDC_CHECK_KIND), 0);
  EXPECT_EQ(dlg_combo_get_sel(window_, IDC_VIEW), 0);
  EXPECT_EQ(hex_view_mode, 0);
}

TEST_F(HexDialog, TextSelectedOnlyForANonEmptySelection) {
  start();
  EXPECT_EQ(hex_text_selected(window_), 0);
  pane()->model().setText("some text");
  pane()->model().setCaret(4);
  EXPECT_EQ(hex_text_selected(window_), 0);
  pane()->model().setSelection(4, 5);
  EXPECT_EQ(hex_text_selected(window_), 1);
  pane()->model().setSelection(9, 0);
  EXPECT_EQ(hex_text_selected(window_), 1);
}

// --- Display output ------------------------------------------------------------------------

TEST_F(HexDialog, ReceivedTextInItsPortsColour) {
  start();
  PaneModel &m = pane()->model();
  hex_display_msg(window_, 0, " 41", 3);
  hex_display_msg(window_, 1, " 42", 3);
  hex_display_msg(window_, 2, "c", 1);
  hex_display_msg(window_, 1, "ignored", 0);
  hex_display_msg(window_, 1, "ignored", -4);
  EXPECT_EQ(m.text(), " 41 42c");
  EXPECT_EQ(m.colourAt(1), 0xFF0000u) << "COM1 received: blue";
  EXPECT_EQ(m.colourAt(4), 0x7F0000u) << "COM2 received: navy";
  EXPECT_EQ(m.colourAt(6), hex_colour[2][0]);
}

TEST_F(HexDialog, WholeChunkIsShownNulIncluded) {
  start();
  dlg_user_choose(window_, IDC_VIEW, 1);
  const char chunk[] = {'A', '\0', 'B', '\r', '\n'};
  hex_display_msg(window_, 0, chunk, 5);
  EXPECT_EQ(pane()->model().text(), std::string(chunk, 5));
}

TEST_F(HexDialog, OutsideAnsiTextIsAppendedAndTheUsersSelectionStays) {
  start();
  PaneModel &m = pane()->model();
  hex_display_msg(window_, 1, "hello world", 11);
  m.setSelection(6, 2);
  hex_display_msg(window_, 0, " 7E", 3);
  EXPECT_EQ(m.text(), "hello world 7E");
  EXPECT_EQ(m.selection(), (PaneSelection{6, 2}));
  EXPECT_EQ(m.colourAt(3), 0x7F0000u) << "the selected text kept its colour";
  EXPECT_EQ(m.colourAt(12), 0xFF0000u);
  m.setCaret(5);  // a click in the middle
  hex_display_msg(window_, 0, "!", 1);
  EXPECT_EQ(m.text(), "hello world 7E!");
  EXPECT_EQ(m.selection(), (PaneSelection{5, 5}));
  m.setCaret(m.length());  // a caret at the end stays at the end
  hex_display_msg(window_, 0, "??", 2);
  EXPECT_EQ(m.selection().caret, m.length());
}

TEST_F(HexDialog, SelectionKeepsItsTextWhenOldTextIsDropped) {
  start();
  PaneModel &m = pane()->model();
  std::string chunk;
  for (int i = 0; i < (1 << 20) / 8; ++i)
    chunk += " 41 42\r\n";
  for (int i = 0; i < 10; ++i)
    hex_display_msg(window_, 0, chunk.data(), int(chunk.size()));
  std::int64_t mark = m.length();
  hex_display_msg(window_, 0, "MARK", 4);
  m.setSelection(mark, mark + 4);
  while (m.droppedTotal() == 0 && m.length() < 2 * m.capacity())
    hex_display_msg(window_, 0, chunk.data(), int(chunk.size()));
  ASSERT_GT(m.droppedTotal(), 0);
  EXPECT_EQ(m.selectedText(), "MARK");
}

TEST_F(HexDialog, OutsideAnsiTheViewFollowsTheEndUnlessScrolledUp) {
  start();
  std::string lines;
  for (int i = 0; i < 200; ++i)
    lines += " 41 42\r\n";
  hex_display_msg(window_, 0, lines.data(), int(lines.size()));
  EXPECT_TRUE(pane()->showsEnd());
  EXPECT_GT(pane()->firstVisibleLine(), 100);
  // The user scrolls up and selects: new text leaves both where they are.
  pane()->scrollLines(-80);
  std::int64_t top = pane()->firstVisibleLine();
  PaneModel &m = pane()->model();
  m.setSelection(m.lineStart(top), m.lineStart(top) + 3);
  PaneSelection chosen = m.selection();
  hex_display_msg(window_, 1, lines.data(), int(lines.size()));
  EXPECT_EQ(pane()->firstVisibleLine(), top);
  EXPECT_EQ(m.selection(), chosen);
  EXPECT_FALSE(pane()->showsEnd());
  // Back at the end, it follows again.
  pane()->scrollToEnd();
  hex_display_msg(window_, 1, lines.data(), int(lines.size()));
  EXPECT_TRUE(pane()->showsEnd());
  EXPECT_EQ(m.selection(), chosen);
}

TEST_F(HexDialog, AnsiTextGoesToTheCaretAndPagesByScreens) {
  start();
  dlg_user_choose(window_, IDC_VIEW, 2);
  PaneModel &m = pane()->model();
  hex_display_msg(window_, 0, "abcdef", 6);
  m.setSelection(2, 4);
  hex_display_msg(window_, 1, "XY", 2);
  EXPECT_EQ(m.text(), "abXYef");
  EXPECT_EQ(m.selection(), (PaneSelection{4, 4}));
  EXPECT_EQ(m.colourAt(2), 0x7F0000u);
  m.setCaret(m.length());
  std::string lines;
  for (int i = 0; i < 30; ++i)
    lines += "\r\n";
  hex_display_msg(window_, 0, lines.data(), int(lines.size()));
  EXPECT_EQ(hex_caretline(window_), 30);
  EXPECT_EQ(pane()->firstVisibleLine(), 25);
  m.setCaret(m.lineStart(3));
  hex_ansi_scroll(window_);
  EXPECT_EQ(pane()->firstVisibleLine(), 0);
}

// --- Message boxes -----------------------------------------------------------------------------

TEST_F(HexDialog, MessageBoxTextsAndCaptions) {
  errno = 5;
  hex_err_msg("Timer is broken");
  hex_errcode_msg("Bad thing", -7);
  hex_dbg_msg("CRC16 = 0x1234");
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0].text, "Timer is broken = 5");
  EXPECT_EQ(boxes_[0].caption, "Kestrelon Windows Error");
  EXPECT_EQ(boxes_[1].text, "Bad thing = -7");
  EXPECT_EQ(boxes_[1].caption, "Kestrelon Internal Error");
  EXPECT_EQ(boxes_[2].text, "CRC16 = 0x1234");
  EXPECT_EQ(boxes_[2].caption, "Kestrelon");
}

TEST_F(HexDialog, LongMessageBoxTextsAreCutKeepingTheCode) {
  std::string long_text(400, 'w');
  errno = 13;
  hex_err_msg(long_text.c_str());
  hex_errcode_msg(long_text.c_str(), -2147483647 - 1);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, std::string(250, 'w') + " = 13");
  EXPECT_EQ(boxes_[1].text.size(), 255u);
  EXPECT_EQ(boxes_[1].text.substr(boxes_[1].text.size() - 14), " = -2147483648");
}

// --- Sending -----------------------------------------------------------------------------------

TEST_F(HexDialog, SendHexTextWritesBytesAndEchoesTheHeader) {
  start();
  hex_time_stamp = 1250;
  dlg_set_text(window_, IDC_MESSAGE, "7e ff 03");
  hex_send_msg(window_);
  EXPECT_EQ(com1_.receive(3), (std::vector<uint8_t>{0x7E, 0xFF, 0x03}));
  PaneModel &m = pane()->model();
  EXPECT_EQ(m.text(), "\nTx1  1250  7E FF 03");
  EXPECT_EQ(m.colourAt(5), 0x00FF00u) << "COM1 sent: green";

  dlg_user_click(window_, IDC_SEND_PORT_B);
  dlg_set_text(window_, IDC_MESSAGE, " \t");
  hex_send_msg(window_);
  EXPECT_TRUE(com2_.drain(100).empty());
  EXPECT_EQ(m.text().substr(20), "\nTx2  1250  \t");
  EXPECT_EQ(m.colourAt(25), 0x007F00u) << "COM2 sent: dark green";
}

// Send, CheckSum and Add Frame refuse alike text in the hex form that is not
// hex: the status field says why, nothing is sent, shown, framed or logged.
TEST_F(HexDialog, TextThatIsNotHexIsNeitherSentNorCheckedNorFramed) {
  start();
  const std::string log = startLogging("log.htm");
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_PPP);
  for (int command : {IDC_SEND, IDC_CHECKSUM, IDC_ADD_FRAME})
    for (const char *text : {"41 Hello world", "41 \x07"}) {
      dlg_set_text(window_, IDC_MESSAGE, text);
      dlg_user_click(window_, command);
      EXPECT_EQ(controlText(window_, IDC_XFER_STATUS),
                std::string(text[3] == 7 ? "0x07" : "'H'") + " at column 4 is not a hex digit");
      EXPECT_EQ(controlText(window_, IDC_MESSAGE), text);
    }
  EXPECT_TRUE(com1_.drain(50).empty() && paneText().empty() && boxes_.empty());
  EXPECT_EQ(readFileBytes(log).size(), sizeof HEX_LOG_HEADER - 1);
}

TEST_F(HexDialog, SendTextAddsCrLfAndEchoesItUnchanged) {
  start();
  dlg_user_choose(window_, IDC_VIEW, 1);
  dlg_set_text(window_, IDC_MESSAGE, "AT");
  hex_send_msg(window_);
  EXPECT_EQ(com1_.receive(4), (std::vector<uint8_t>{'A', 'T', '\r', '\n'}));
  EXPECT_EQ(pane()->model().text(), "AT\r\n");
  dlg_set_text(window_, IDC_MESSAGE, "");
  hex_send_msg(window_);
  EXPECT_EQ(com1_.receive(2), (std::vector<uint8_t>{'\r', '\n'}));
  // ANSI: echo is off, nothing is shown.
  dlg_user_choose(window_, IDC_VIEW, 2);
  pane()->model().clear();
  dlg_set_text(window_, IDC_MESSAGE, "ls");
  hex_send_msg(window_);
  EXPECT_EQ(com1_.receive(4), (std::vector<uint8_t>{'l', 's', '\r', '\n'}));
  EXPECT_EQ(pane()->model().length(), 0);
}

TEST_F(HexDialog, TypedTextIsSentAsThePaneShowsIt) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  dlg_user_type(window_, IDC_MESSAGE, "");
  auto *field = qobject_cast<QComboBox *>(window_->control(IDC_MESSAGE));
  field->lineEdit()->insert(QString::fromUtf8("\u20AC 41 \u201Cok\u201D \u2013 \u00E9 \u03A9"));
  dlg_user_click(window_, IDC_SEND);
  const std::string sent = "\x80 41 \x93ok\x94 \x96 \xE9 ?\r\n";
  EXPECT_EQ(com1_.receive(sent.size()), std::vector<uint8_t>(sent.begin(), sent.end()));
  EXPECT_EQ(paneText(), sent) << "the echo";
  EXPECT_EQ(listEntries(window_, IDC_MESSAGE),
            std::vector<std::string>{sent.substr(0, sent.size() - 2)});
}

TEST_F(HexDialog, SendWhileTheSendSidesPortIsNotOpenSendsNothingAnywhere) {
  start();
  // Port A, the send side, moves to COM2, which Port B holds: the open fails,
  // and the send port names Port B's line.
  dlg_user_choose(window_, IDC_PORT_A, 1);
  ASSERT_EQ(hex_obj[0].open, 0);
  dlg_set_file_dialog_hook([](bool, std::string &) { return ADD_FAILURE(), false; });
  // Send in each view, and Start (which asks for no file).
  for (auto [view, button] : {std::pair<int, int>{HEX_VIEW_HEXADECIMAL, IDC_SEND},
                              {HEX_VIEW_ASCII, IDC_SEND}, {HEX_VIEW_ASCII, IDC_XFER_START}}) {
    SCOPED_TRACE(button);
    dlg_user_choose(window_, IDC_VIEW, view);
    dlg_user_type(window_, IDC_MESSAGE, "01 02");
    hex_status_show(window_, "");
    dlg_user_click(window_, button);
    EXPECT_TRUE(com2_.drain(30).empty()) << "sent on Port B's line";
    EXPECT_EQ(paneText(), "") << "an echo of what never went out";
    EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "Send port COM2 (Port A) is not open");
  }
  // With a port of its own again, Port A sends, and the refusal goes.
  PtyPair com3;
  com3.mapTo(2);
  dlg_user_choose(window_, IDC_PORT_A, 2);
  ASSERT_EQ(hex_obj[0].open, 1);
  dlg_user_click(window_, IDC_SEND);
  EXPECT_EQ(com3.receive(7), (std::vector<uint8_t>{'0', '1', ' ', '0', '2', '\r', '\n'}));
  EXPECT_EQ(paneText(), "01 02\r\n");
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "");
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
