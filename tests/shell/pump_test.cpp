// The receive pump on pseudo-terminals, one run at a time.
#include "support/event_loop.h"
#include "support/window_fixture.h"

#include "dlg/dlg_window.h"
#include "pane/pane_view.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <cstdlib>

using ShellTest = WindowTest;

namespace {

std::string hexOf(const std::vector<uint8_t> &bytes) {
  std::string out;
  char group[4];
  for (uint8_t b : bytes) {
    std::snprintf(group, sizeof group, " %02X", b);
    out += group;
  }
  return out;
}

}  // namespace

// Bytes are taken off the line as they arrive, whether or not the pump runs;
// a run shows them in the order they came, in each port's colour.
TEST_F(ShellTest, PumpShowsHexGroupsInTheReceivingPortsColourInTheOrderTheyCame) {
  start();
  DisplayPane *pane = window_->pane();
  com2_.send(std::vector<uint8_t>{0xFF, 0x00});
  ASSERT_TRUE(processEventsUntil([] { return hex_capture_read_total(HEX_SIDE_B) == 2; }));
  com1_.send(std::vector<uint8_t>{0x41, 0x42, 0x0D});
  ASSERT_TRUE(processEventsUntil([] { return hex_capture_read_total(HEX_SIDE_A) == 3; }));
  EXPECT_EQ(SioRxQue(0) + SioRxQue(1), 0) << "read before the run";
  win_periodic(window_);
  EXPECT_EQ(paneText(), " FF 00 41 42 0D");
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(pane->model().colourAt(i), hex_colour[1][0]) << i;
  for (int i = 6; i < 15; ++i)
    EXPECT_EQ(pane->model().colourAt(i), hex_colour[0][0]) << i;
  EXPECT_NE(hex_colour[0][0], hex_colour[1][0]);
  // The pump re-armed itself.
  EXPECT_EQ(hex_timer, unsigned(TIMER_PUMP));
}

TEST_F(ShellTest, PumpDrainsTenThousandBytesInOrderLosingNothing) {
  start();
  std::vector<uint8_t> bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = uint8_t(i * 7 + i / 256);
  const std::string expected = hexOf(bytes);
  // The far end writes while the pump drains, as a line would deliver. A
  // pseudo-terminal's line discipline holds at most 4095 bytes, so the
  // 8192-byte cap of one run cannot be reached here; what is checked is that
  // a flow larger than the queue arrives whole and in order.
  size_t sent = 0;
  int runs = 0;
  while (paneText().size() < expected.size() && runs < 2000) {
    if (sent < bytes.size()) {
      const size_t piece = std::min<size_t>(2500, bytes.size() - sent);
      com1_.send(
          std::vector<uint8_t>(bytes.begin() + long(sent), bytes.begin() + long(sent + piece)));
      sent += piece;
    }
    waitForQueue(0, 1, 200);
    win_periodic(window_);
    ++runs;
  }
  EXPECT_EQ(sent, bytes.size());
  EXPECT_EQ(paneText().size(), expected.size());
  EXPECT_TRUE(paneText() == expected) << "bytes lost or reordered";
}

TEST_F(ShellTest, StopDropsWhatArrivesAndRunShowsOnlyNewBytes) {
  start();
  dlg_user_click(window_, IDC_STOP);
  EXPECT_EQ(hex_run, 0);
  com1_.send(std::vector<uint8_t>{1, 2, 3});
  ASSERT_TRUE(processEventsUntil([] { return hex_capture_read_total(HEX_SIDE_A) == 3; }));
  win_periodic(window_);
  EXPECT_EQ(paneText(), "");
  EXPECT_EQ(SioRxQue(0), 0);  // read, not left waiting
  dlg_user_click(window_, IDC_RUN);
  EXPECT_EQ(hex_run, 1);
  com1_.send(std::vector<uint8_t>{4});
  ASSERT_TRUE(waitForQueue(0, 1));
  win_periodic(window_);
  EXPECT_EQ(paneText(), " 04");
}

TEST_F(ShellTest, TimeStampAdvances50PerRunAndWrapsAt16Bits) {
  start();
  hex_time_stamp = 0;
  for (int i = 0; i < 1310; ++i)
    win_periodic(window_);
  EXPECT_EQ(hex_time_stamp, 65500);
  win_periodic(window_);
  EXPECT_EQ(hex_time_stamp, 14);
  win_periodic(window_);
  EXPECT_EQ(hex_time_stamp, 64);
}

TEST_F(ShellTest, AsciiViewShowsTheWholeChunkAndAFrameViewNoBytesOutsideFrames) {
  start();
  dlg_user_choose(window_, IDC_VIEW, 1);
  ASSERT_EQ(hex_view_mode, 1);
  com1_.send(std::string("Hi\0there", 8));
  ASSERT_TRUE(waitForQueue(0, 8));
  win_periodic(window_);
  EXPECT_EQ(paneText(), std::string("Hi\0there", 8));
  // ANSI shows the bytes as ASCII does until its terminal exists.
  dlg_user_choose(window_, IDC_VIEW, 2);
  com1_.send(std::string("ok"));
  ASSERT_TRUE(waitForQueue(0, 2));
  win_periodic(window_);
  EXPECT_EQ(paneText().substr(8), "ok");
  // A frame view shows nothing of bytes that hold no frame.
  dlg_user_choose(window_, IDC_VIEW, 3);
  com1_.send(std::string("zz"));
  ASSERT_TRUE(waitForQueue(0, 2));
  win_periodic(window_);
  EXPECT_EQ(paneText().size(), 10u);
  EXPECT_EQ(SioRxQue(0), 0);
}

// A side whose port failed to open is skipped silently on every run.
class ShellFailedPortTest : public ShellTest {
protected:
  void SetUp() override {
    ShellTest::SetUp();
    mapMissing(1);
  }
};

TEST_F(ShellFailedPortTest, APortThatFailedToOpenCostsNothing) {
  start();
  EXPECT_EQ(hex_obj[1].open, 0);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_INDETERMINATE);
  EXPECT_FALSE(window_->control(IDC_OPEN_B)->toolTip().isEmpty());
  com1_.send(std::vector<uint8_t>{0x55});
  ASSERT_TRUE(waitForQueue(0, 1));
  for (int i = 0; i < 20; ++i)
    win_periodic(window_);
  EXPECT_EQ(paneText(), " 55");
  EXPECT_TRUE(boxes_.empty());
  // Its indicator stays greyed when clicked; Port A's stays checked.
  dlg_user_click(window_, IDC_OPEN_B);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_INDETERMINATE);
  dlg_user_click(window_, IDC_OPEN_A);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_CHECKED);
  // And it cannot be the send port.
  dlg_user_click(window_, IDC_SEND_PORT_B);
  EXPECT_EQ(dlg_button_state(window_, IDC_SEND_PORT_A), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_SEND_PORT_B), BST_UNCHECKED);
  EXPECT_EQ(hex_send_port, 0);
}
