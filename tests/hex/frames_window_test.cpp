// CheckSum, Add Frame and the frame views in the real window: reports in
// message boxes, frames written back into the message field with its
// history, and frames sent on one port of a null-modem cable (a socat
// pseudo-terminal pair) shown on the other.
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "shell/shell.h"
#include "support/dialog_reads.h"
#include "support/window_fixture.h"
#include "xy_harness.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using FrameWindow = WindowTest;

std::string header(int port, uint16_t stamp) {
  char text[32];
  std::snprintf(text, sizeof text, "\nRx%d %5d ", port + 1, int(stamp));
  return text;
}

std::string repeated(const char *piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += piece;
  return out;
}

TEST_F(FrameWindow, CheckSumReportsTheChosenKind) {
  start();
  dlg_user_type(window_, IDC_MESSAGE, "31 32 33 34 35 36 37 38 39");
  const char *reports[] = {"CRC 16 (ITU) = 6F91, != 906E", "CRC 32 = 340BC6D9, != CBF43926",
                           "Arithmetic Checksum = DD", "Modulo 2 XOR Checksum = 31"};
  for (int kind = HEX_CHECK_CRC16; kind <= HEX_CHECK_XOR; ++kind) {
    dlg_user_choose(window_, IDC_CHECK_KIND, kind);
    dlg_user_click(window_, IDC_CHECKSUM);
  }
  dlg_combo_set_sel(window_, IDC_CHECK_KIND, -1);  // typed text: no choice
  dlg_user_click(window_, IDC_CHECKSUM);
  ASSERT_EQ(boxes_.size(), 5u);
  for (int kind = HEX_CHECK_CRC16; kind <= HEX_CHECK_XOR; ++kind)
    EXPECT_EQ(boxes_[size_t(kind)].text, reports[kind]);
  EXPECT_EQ(boxes_[4].text, "No check kind selected");
  for (const RecordedBox &box : boxes_)
    EXPECT_EQ(box.caption, "Kestrelon");
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), "31 32 33 34 35 36 37 38 39");
}

TEST_F(FrameWindow, AddFrameWritesTheFrameBackAndRecordsIt) {
  start();
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_PPP);  // CRC16
  dlg_user_type(window_, IDC_MESSAGE, "ff 03 c0 21");
  dlg_user_click(window_, IDC_ADD_FRAME);
  const std::string frame = " 7E FF 7D 23 C0 21 49 2C 7E";
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), frame);
  // A second Add Frame frames the frame.
  dlg_user_click(window_, IDC_ADD_FRAME);
  const std::string twice = controlText(window_, IDC_MESSAGE);
  EXPECT_EQ(twice.substr(0, 12), " 7E 7D 5E FF");
  // None keeps the text; one entry for it whatever the letter case.
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_NONE);
  dlg_user_type(window_, IDC_MESSAGE, " 7e ff 7d 23 c0 21 49 2c 7e");
  dlg_user_click(window_, IDC_ADD_FRAME);
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), " 7e ff 7d 23 c0 21 49 2c 7e");
  EXPECT_EQ(listEntries(window_, IDC_MESSAGE),
            (std::vector<std::string>{"ff 03 c0 21", frame, twice}));
  // With ten entries the tenth makes room for the newest frame.
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_ICNI);  // XOR
  for (int i = 0; i < 7; ++i)
    dlg_combo_add(window_, IDC_MESSAGE, ("0" + std::to_string(i)).c_str());
  dlg_set_text(window_, IDC_MESSAGE, "01 00 11 22");
  dlg_user_click(window_, IDC_ADD_FRAME);
  const std::vector<std::string> history = listEntries(window_, IDC_MESSAGE);
  ASSERT_EQ(history.size(), 10u);
  EXPECT_EQ(history[8], "05");
  EXPECT_EQ(history[9], " EE 01 02 11 22 30");
  EXPECT_TRUE(boxes_.empty());
}

// The message field holds 25343 characters: a frame of 8447 bytes is the
// longest whose text fits.
TEST_F(FrameWindow, AFrameTooLongForTheFieldIsRefusedWhole) {
  start();
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_PPP);
  dlg_user_choose(window_, IDC_CHECK_KIND, HEX_CHECK_SUM);
  // 41 needs no escape, nor do the sums FC and 3D: flag, message, sum, flag.
  const std::string fits = repeated("41", 8444);
  dlg_set_text(window_, IDC_MESSAGE, fits.c_str());
  dlg_user_click(window_, IDC_ADD_FRAME);
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), " 7E" + repeated(" 41", 8444) + " FC 7E");
  EXPECT_TRUE(boxes_.empty());
  const std::vector<std::string> history = listEntries(window_, IDC_MESSAGE);

  const std::string too_long = repeated("41", 8445);
  dlg_set_text(window_, IDC_MESSAGE, too_long.c_str());
  dlg_user_click(window_, IDC_ADD_FRAME);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Frame too long");
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), too_long);
  EXPECT_EQ(listEntries(window_, IDC_MESSAGE), history);
}

// COM1 and COM2 joined by a null-modem cable.
class FramesOnACable : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(cable_.startSocat());
    setenv("KESTRELON_COM1", cable_.a().c_str(), 1);
    setenv("KESTRELON_COM2", cable_.b().c_str(), 1);
  }

  // One pump run after `count` bytes have reached each listed port; the
  // pane shows only what the run adds.
  std::string pumpRun(const std::vector<std::pair<int, int>> &waiting) {
    for (auto [port, count] : waiting)
      EXPECT_TRUE(waitForQueue(port, count)) << "port " << port;
    pane()->model().clear();
    win_periodic(window_);
    return paneText();
  }

  void sendText(int side, const char *text) {
    dlg_user_click(window_, side == HEX_SIDE_A ? IDC_SEND_PORT_A : IDC_SEND_PORT_B);
    dlg_set_text(window_, IDC_MESSAGE, text);
    dlg_user_click(window_, IDC_SEND);
  }

  xytest::Line cable_{dir_.path()};
};

TEST_F(FramesOnACable, AFrameBuiltAndSentOnOnePortShowsOnTheOther) {
  start();
  struct Row {
    int type;
    const char *message;
    const char *line;
  };
  const Row rows[] = {
      {HEX_FRAME_HDLC, "FF 03 C0 21 7E 7D", " 7E FF 03 C0 21 7E 7D E1 B7"},
      {HEX_FRAME_PPP, "FF 03 C0 21", " 7E FF 03 C0 21 49 2C"},
      {HEX_FRAME_ICNI, "01 00 11 22", " EE 01 02 11 22 30"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.message);
    dlg_user_choose(window_, IDC_FRAME_TYPE, row.type);
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      const int receiver = side == HEX_SIDE_A ? 1 : 0;
      dlg_user_click(window_, side == HEX_SIDE_A ? IDC_SEND_PORT_A : IDC_SEND_PORT_B);
      dlg_user_type(window_, IDC_MESSAGE, row.message);
      dlg_user_click(window_, IDC_ADD_FRAME);
      const std::string frame = controlText(window_, IDC_MESSAGE);
      dlg_user_click(window_, IDC_SEND);
      const uint16_t stamp = hex_time_stamp;
      EXPECT_EQ(pumpRun({{receiver, int(frame.size() / 3)}}), header(receiver, stamp) + row.line);
    }
  }
}

// Both directions of one link at once, each frame in two pieces: the pieces
// of one port never join those of the other.
TEST_F(FramesOnACable, FramesOfBothDirectionsArriveInAlternatingPieces) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_PPP);
  dlg_user_click(window_, IDC_LOCAL_ECHO);  // off: the pane shows received lines only
  sendText(HEX_SIDE_A, "7E 01 02 7D");
  sendText(HEX_SIDE_B, "7E 0A");
  EXPECT_EQ(pumpRun({{0, 2}, {1, 4}}), "");
  sendText(HEX_SIDE_A, "23 7E");
  sendText(HEX_SIDE_B, "0B 0C 7E");
  const uint16_t stamp = hex_time_stamp;
  EXPECT_EQ(pumpRun({{0, 3}, {1, 2}}),
            header(0, stamp) + " 7E 0A 0B 0C" + header(1, stamp) + " 7E 01 02 03");
}

}  // namespace
