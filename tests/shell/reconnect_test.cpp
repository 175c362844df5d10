// Ports whose device goes away and comes back, through the real window on
// socat pseudo-terminal pairs that are ended and started again under the
// same link names: the disconnect and reconnect lines in the pane and the
// log, bytes sent afterwards shown, the side's settings on the device again,
// the waiting ended by another Comm Port or Exit, and no descriptor left
// behind.
#include "support/dialog_reads.h"
#include "support/event_loop.h"
#include "support/socat_link.h"
#include "support/stepped_clock.h"
#include "support/window_fixture.h"

#include "../hex/log_reading.h"

#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <memory>
#include <regex>
#include <termios.h>

namespace {

constexpr int kWaitMs = 5000;

size_t countOf(const std::string &text, const std::string &needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

std::string hourMinute(uint32_t ms) {
  char text[16];
  std::snprintf(text, sizeof text, "12:00:%02u.%03u", ms / 1000 % 60, ms % 1000);
  return text;
}

class ReconnectTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      links_[side] =
          std::make_unique<SocatLink>(dir_.path(), "com" + std::to_string(side + 1));
      ASSERT_TRUE(links_[side]->plug()) << "socat did not start";
      ASSERT_EQ(SioMapDevice(side, links_[side]->nearPath().c_str()), 0);
    }
  }

  void TearDown() override {
    SteppedClock::uninstall();
    SioParms(-1, 0, 0, 8);
    WindowTest::TearDown();
    for (auto &link : links_)
      link.reset();
  }

  std::string line(int side, const char *what) const {
    return "COM" + std::to_string(side + 1) + " (" + links_[side]->nearPath() + ") " + what;
  }

  // Runs the window until the pane shows `needle` `count` times.
  bool paneShows(const std::string &needle, size_t count) {
    return processEventsUntil([&] { return countOf(paneText(), needle) >= count; }, kWaitMs);
  }

  // Pulls a side's device and waits until the window says so.
  void pull(int side, size_t times) {
    links_[side]->unplug();
    ASSERT_TRUE(paneShows(line(side, "disconnected"), times)) << paneText();
  }

  void plugBack(int side, size_t times) {
    ASSERT_TRUE(links_[side]->plug());
    ASSERT_TRUE(paneShows(line(side, "reconnected"), times)) << paneText();
  }

  std::unique_ptr<SocatLink> links_[2];
};

}  // namespace

// Each side pulled and plugged in again a few times, one after the other:
// grey with "device gone" while away, each time a disconnect and a reconnect
// line at the times the clock gave, in the port's colour in the pane and the
// log, bytes sent after each return shown behind its line, and as many
// descriptors held at the end as before.
TEST_F(ReconnectTest, EachSideComesBackAndShowsWhatIsSentAfterwards) {
  constexpr size_t kCycles = 3;
  SteppedClock::install();
  start();
  hex_time.face = HexClockFace{SteppedClock::now, 12 * 3600 * 1000};
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  const int descriptors = openDescriptorCount();
  const std::string logPath = startLogging("reconnect.htm");
  uint32_t elapsed = 0;
  std::string expected;
  for (size_t cycle = 1; cycle <= kCycles; ++cycle) {
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      SCOPED_TRACE("cycle " + std::to_string(cycle) + " side " + std::to_string(side));
      elapsed += 1000;
      SteppedClock::now = SteppedClock::kNearWrap + elapsed;
      pull(side, cycle);
      if (HasFatalFailure())
        return;
      EXPECT_EQ(hex_obj[side].open, 0);
      EXPECT_EQ(hex_reconnect_waiting(side), 1);
      EXPECT_EQ(dlg_button_state(window_, hex_side_indicator(side)), BST_INDETERMINATE);
      EXPECT_NE(tooltip(hex_side_indicator(side)).find("device gone"), std::string::npos);
      EXPECT_LT(SioHandle(side), 0) << "the port was not let go";
      expected += "\n" + hourMinute(elapsed) + " " + line(side, "disconnected") + "\n";

      elapsed += 250;
      SteppedClock::now = SteppedClock::kNearWrap + elapsed;
      plugBack(side, cycle);
      if (HasFatalFailure())
        return;
      EXPECT_EQ(hex_obj[side].open, 1);
      EXPECT_EQ(hex_reconnect_waiting(side), 0);
      EXPECT_EQ(dlg_button_state(window_, hex_side_indicator(side)), BST_CHECKED);
      expected += "\n" + hourMinute(elapsed) + " " + line(side, "reconnected") + "\n";

      const std::string sent = "side" + std::to_string(side) + "cycle" + std::to_string(cycle);
      ASSERT_TRUE(links_[side]->send(sent));
      ASSERT_TRUE(paneShows(sent, 1)) << paneText();
      expected += sent;
    }
  }
  EXPECT_EQ(paneText(), expected);
  // The lines in their port's colour, as received text is.
  const std::string shown = paneText();
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const int64_t event = int64_t(shown.find(line(side, "disconnected")));
    EXPECT_EQ(pane()->model().colourAt(event), hex_colour[side][HEX_RECEIVED]);
  }
  dlg_user_click(window_, IDC_NO_LOG);
  const std::vector<uint8_t> html = readFileBytes(logPath);
  const LogReading log = readLogBody(std::string(html.begin(), html.end()));
  ASSERT_EQ(log.fault, "");
  EXPECT_EQ(log.text, expected);
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    EXPECT_EQ(countOf(log.text, line(side, "disconnected")), kCycles);
    EXPECT_EQ(countOf(log.text, line(side, "reconnected")), kCycles);
    std::string sentColour, eventColour;
    for (const LogRecord &record : log.records) {
      if (record.shown.find("side" + std::to_string(side)) != std::string::npos)
        sentColour = record.colour;
      if (record.shown.find("COM" + std::to_string(side + 1)) != std::string::npos)
        eventColour = record.colour;
    }
    EXPECT_FALSE(eventColour.empty());
    EXPECT_EQ(eventColour, sentColour);
  }
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

// The side's speed, stop bits and flow control are on the device again
// after it came back, as read from the device itself.
TEST_F(ReconnectTest, TheSidesSettingsAreOnTheDeviceAgain) {
  start();
  struct Row {
    int side;
    const char *speed, *stop, *flow;
    speed_t code;
    tcflag_t cflags, iflags;
  } rows[] = {
      {HEX_SIDE_A, "57600", "2", "XON", B57600, CSTOPB, IXON | IXOFF},
      {HEX_SIDE_B, "1200", "1", "RTS", B1200, CRTSCTS, 0},
  };
  const int speedList[] = {IDC_SPEED_A, IDC_SPEED_B};
  const int stopList[] = {IDC_STOP_A, IDC_STOP_B};
  const int flowList[] = {IDC_FLOW_A, IDC_FLOW_B};
  auto choose = [&](int list, const char *text) {
    const int entry = dlg_combo_find_exact(window_, list, -1, text);
    ASSERT_NE(entry, CB_ERR) << text;
    dlg_user_choose(window_, list, entry);
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.speed);
    choose(speedList[row.side], row.speed);
    choose(stopList[row.side], row.stop);
    choose(flowList[row.side], row.flow);
    ASSERT_TRUE(boxes_.empty()) << boxes_.front().text;
    for (size_t time = 1; time <= 2; ++time) {
      termios device{};
      ASSERT_EQ(tcgetattr(SioHandle(row.side), &device), 0);
      EXPECT_EQ(cfgetospeed(&device), row.code);
      EXPECT_EQ(device.c_cflag & (CSTOPB | CRTSCTS | CSIZE | PARENB), row.cflags | CS8);
      EXPECT_EQ(device.c_iflag & (IXON | IXOFF), row.iflags);
      if (time == 2)
        break;
      pull(row.side, time);
      plugBack(row.side, time);
      if (HasFatalFailure())
        return;
    }
    EXPECT_EQ(SioDTR(row.side, 'R'), 1);
  }
  EXPECT_TRUE(boxes_.empty());
}

// Another Comm Port chosen for a waiting side, or Exit, ends the waiting:
// the device back later is not opened, and the timer is not left running.
TEST_F(ReconnectTest, AnotherCommPortOrExitEndsTheWaiting) {
  enum class End { OtherPort, Exit };
  for (End end : {End::OtherPort, End::Exit}) {
    SCOPED_TRACE(end == End::Exit ? "exit" : "other port");
    start();
    pull(HEX_SIDE_A, 1);
    if (HasFatalFailure())
      return;
    ASSERT_EQ(hex_reconnect_waiting(HEX_SIDE_A), 1);
    if (end == End::OtherPort)
      dlg_user_choose(window_, IDC_PORT_A, 2);  // COM3: no device
    else
      dlg_user_click(window_, IDC_EXIT);
    EXPECT_EQ(hex_reconnect_waiting(HEX_SIDE_A), 0);
    EXPECT_EQ(dlg_kill_timer(window_, TIMER_RECONNECT), 0) << "the timer still ran";
    ASSERT_TRUE(links_[HEX_SIDE_A]->plug());
    hex_reconnect_tick(window_);  // as the timer would
    win_periodic(window_);
    EXPECT_LT(SioHandle(0), 0) << "COM1 opened again";
    EXPECT_EQ(countOf(paneText(), "reconnected"), 0u);
    finish();
  }
}

// A port whose open failed after the device was opened (it refused the
// line's defaults) is let go: its descriptor is not held, and choosing it
// once the device takes the settings opens it. A port the other side holds
// stays open for it.
TEST_F(ReconnectTest, APortThatFailedToOpenIsLetGo) {
  PtyPair com3;
  com3.mapTo(2);
  start();
  const int descriptors = openDescriptorCount();
  SioParms(-1, 2, 0, 8);  // even parity: a pseudo-terminal refuses it
  dlg_user_choose(window_, IDC_PORT_A, 2);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].open, 0);
  EXPECT_LT(SioHandle(2), 0);
  EXPECT_EQ(openDescriptorCount(), descriptors - 1) << "COM1 closed, COM3 not held";
  SioParms(-1, 0, 0, 8);
  dlg_user_choose(window_, IDC_PORT_A, 0);
  dlg_user_choose(window_, IDC_PORT_A, 2);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].open, 1);
  EXPECT_GE(SioHandle(2), 0);
  // Port B's port chosen for Port A: refused, and Port B keeps it.
  dlg_user_choose(window_, IDC_PORT_A, 1);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].open, 0);
  EXPECT_GE(SioHandle(1), 0);
  EXPECT_EQ(hex_obj[HEX_SIDE_B].open, 1);
}

// A transfer running on a port that goes away ends with its failure text;
// the device back, the port opens again as any other, and the transfer is
// not started again.
TEST_F(ReconnectTest, ATransferOnAPortThatGoesAwayFailsAndIsNotStartedAgain) {
  const std::string file = dir_.file("out.bin");
  writeFileBytes(file, std::vector<uint8_t>(256 * 1024, 0x55));
  struct Row {
    int protocol;  // Protocol list: Dump, XModem
    const char *failure;
  } rows[] = {{0, "Dump Failed: "}, {1, "X-Modem Failed: "}};
  size_t times = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.failure);
    start();
    dlg_user_choose(window_, IDC_PROTOCOL, row.protocol);
    dlg_user_click(window_, IDC_XFER_SEND);
    dlg_set_file_dialog_hook([file](bool, std::string &chosen) {
      chosen = file;
      return true;
    });
    dlg_user_click(window_, IDC_XFER_START);
    ASSERT_TRUE(hex_xmodem_busy || hex_dump_busy);
    processEventsFor(100);  // the far end reads nothing: the transfer waits
    ASSERT_TRUE(hex_xmodem_busy || hex_dump_busy);
    links_[HEX_SIDE_A]->unplug();
    ASSERT_TRUE(processEventsUntil([] { return !hex_xmodem_busy && !hex_dump_busy; }, kWaitMs));
    const std::string failed = controlText(window_, IDC_XFER_STATUS);
    EXPECT_EQ(failed.rfind(row.failure, 0), 0u) << failed;
    ++times;
    ASSERT_TRUE(paneShows(line(HEX_SIDE_A, "disconnected"), 1)) << paneText();
    plugBack(HEX_SIDE_A, 1);
    if (HasFatalFailure())
      return;
    processEventsFor(2 * HEX_RECONNECT_PERIOD_MS);
    EXPECT_FALSE(hex_xmodem_busy || hex_dump_busy);
    EXPECT_EQ(SioTxQue(0), 0) << "something went out again";
    EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), failed);
    EXPECT_EQ(hex_obj[HEX_SIDE_A].open, 1);
    finish();
  }
  EXPECT_EQ(times, 2u);
}

// Port A names COM2, which Port B holds. COM2 pulled: Port B, which holds
// it, lets it go and waits, and Port A follows; back, Port B has it again,
// reads what comes, and Port A is as it was.
TEST_F(ReconnectTest, TheSideHoldingAPortBothNameLetsItGoAndHasItBack) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  dlg_user_choose(window_, IDC_PORT_A, 1);
  ASSERT_EQ(hex_obj[HEX_SIDE_A].open, 0);
  pull(HEX_SIDE_B, 1);
  if (HasFatalFailure())
    return;
  EXPECT_LT(SioHandle(1), 0) << "the descriptor of the device gone is held";
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    EXPECT_EQ(hex_obj[side].open, 0);
    EXPECT_EQ(hex_reconnect_waiting(side), 1);
    EXPECT_NE(tooltip(hex_side_indicator(side)).find("device gone"), std::string::npos);
  }
  plugBack(HEX_SIDE_B, 1);
  if (HasFatalFailure())
    return;
  EXPECT_EQ(hex_obj[HEX_SIDE_B].open, 1);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].open, 0);
  EXPECT_EQ(hex_reconnect_waiting(HEX_SIDE_A), 0);
  ASSERT_TRUE(links_[HEX_SIDE_B]->send("after"));
  EXPECT_TRUE(paneShows("after", 1)) << paneText();
}

// A frame begun before the device went, or on the port left, is never
// finished by bytes that come after.
TEST_F(ReconnectTest, DecodersStartFreshWhenThePortGoesComesBackOrIsChanged) {
  PtyPair com3;
  com3.mapTo(2);
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_PPP);
  const std::string begun = "\x7e\x41\x42";
  ASSERT_TRUE(links_[HEX_SIDE_A]->send(begun));
  processEventsFor(3 * HEX_PUMP_PERIOD_MS);
  pull(HEX_SIDE_A, 1);
  plugBack(HEX_SIDE_A, 1);
  if (HasFatalFailure())
    return;
  ASSERT_TRUE(links_[HEX_SIDE_A]->send("\x43\x44\x7e" + begun));
  processEventsFor(3 * HEX_PUMP_PERIOD_MS);
  dlg_user_choose(window_, IDC_PORT_A, 2);
  com3.send(std::vector<uint8_t>{0x43, 0x44, 0x7E, 0x45, 0x46, 0x7E});
  ASSERT_TRUE(paneShows("7E 45 46", 1)) << paneText();
  EXPECT_EQ(paneText().find("41 42"), std::string::npos) << paneText();
}
