// A port on another machine: COM1 names rfc2217://127.0.0.1:PORT of a real
// ser2net serving a socat pseudo-terminal, through the real window: every
// byte value both ways (0xFF doubled on the wire only), the side's speed and
// stop bits on the served device, the server stopped and started again, and
// a host that refuses.
#include "support/dialog_reads.h"
#include "support/event_loop.h"
#include "support/ser2net_server.h"
#include "support/socat_link.h"
#include "support/window_fixture.h"

#include "../hex/log_reading.h"

#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <memory>

namespace {

constexpr int kWaitMs = 5000;

std::string hexOf(const std::vector<uint8_t> &bytes, const char *format) {
  std::string out;
  char group[8];
  for (uint8_t b : bytes) {
    std::snprintf(group, sizeof group, format, b);
    out += group;
  }
  return out;
}

// What `stty -a` says of the served device.
std::string sttyOf(const std::string &path) {
  std::string out;
  if (FILE *p = popen(("stty -a -F " + path + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, p))
      out.append(buffer, n);
    pclose(p);
  }
  return out;
}

class RemoteTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    link_ = std::make_unique<SocatLink>(dir_.path(), "served");
    ASSERT_TRUE(link_->plug()) << "socat did not start";
    server_ = std::make_unique<Ser2netServer>(dir_.path(), link_->nearPath());
    ASSERT_TRUE(server_->start()) << "ser2net did not start";
    ASSERT_EQ(SioMapDevice(0, server_->url().c_str()), 0);
  }
  void TearDown() override {
    EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;
    WindowTest::TearDown();
    server_.reset();
    link_.reset();
  }
  bool paneShows(const std::string &needle) {
    return processEventsUntil([&] { return paneText().find(needle) != std::string::npos; },
                              kWaitMs);
  }
  void choose(int list, const char *text) {
    const int entry = dlg_combo_find_exact(window_, list, -1, text);
    ASSERT_NE(entry, CB_ERR) << text;
    dlg_user_choose(window_, list, entry);
  }

  std::unique_ptr<SocatLink> link_;
  std::unique_ptr<Ser2netServer> server_;
};

}  // namespace

TEST_F(RemoteTest, EveryByteValueCrossesBothWaysOnceInPaneAndLog) {
  start();
  EXPECT_NE(tooltip(IDC_OPEN_A).find("open on " + server_->url()), std::string::npos);
  const std::string logPath = startLogging("remote.htm");
  std::vector<uint8_t> all(256);
  for (int b = 0; b < 256; ++b)
    all[size_t(b)] = uint8_t(b);
  ASSERT_TRUE(link_->send(std::string(all.begin(), all.end())));
  ASSERT_TRUE(processEventsUntil([] { return hex_capture_read_total(HEX_SIDE_A) == 256; }, kWaitMs))
      << hex_capture_read_total(HEX_SIDE_A);
  std::string expected = hexOf(all, " %02X");
  ASSERT_TRUE(processEventsUntil([&] { return paneText() == expected; }, kWaitMs)) << paneText();
  // Sent from the message field, echoed as the window echoes a message.
  auto *field = qobject_cast<QComboBox *>(window_->control(IDC_MESSAGE));
  for (size_t from = 0; from < all.size(); from += 64) {
    const std::vector<uint8_t> piece(all.begin() + long(from), all.begin() + long(from + 64));
    dlg_user_type(window_, IDC_MESSAGE, hexOf(piece, "%02x ").c_str());
    QTest::keyClick(field->lineEdit(), Qt::Key_Return);
    char head[32];
    std::snprintf(head, sizeof head, "\nTx1 %5d ", int(hex_time_stamp));
    expected += head + hexOf(piece, " %02X");
  }
  EXPECT_EQ(link_->receive(256, 3000), std::string(all.begin(), all.end()));
  EXPECT_EQ(paneText(), expected);
  dlg_user_click(window_, IDC_NO_LOG);
  const std::vector<uint8_t> html = readFileBytes(logPath);
  const LogReading log = readLogBody(std::string(html.begin(), html.end()));
  EXPECT_EQ(log.text, expected);
}

// Speed and stop bits chosen in the window reach the served device, and the
// server's notified modem lines answer for the lamps.
TEST_F(RemoteTest, SpeedAndStopBitsReachTheServedDevice) {
  start();
  choose(IDC_SPEED_A, "57600");
  choose(IDC_STOP_A, "2");
  EXPECT_TRUE(processEventsUntil(
      [&] {
        const std::string stty = sttyOf(link_->nearPath());
        return stty.find("speed 57600 baud") != std::string::npos &&
               stty.find(" cstopb") != std::string::npos;
      },
      kWaitMs))
      << sttyOf(link_->nearPath());
  int bits = -1;
  EXPECT_EQ(SioModemLines(0, &bits), 1);
  processEventsFor(1500);  // every answer in, none refused
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "");
  EXPECT_EQ(dlg_combo_get_sel(window_, IDC_SPEED_A), 8);
}

// A server stopped is a device gone; started again, the port comes back.
TEST_F(RemoteTest, AServerStoppedAndStartedAgainIsAPortGoneAndBack) {
  start();
  const std::string name = "COM1 (" + server_->url() + ") ";
  server_->stop();
  ASSERT_TRUE(paneShows(name + "disconnected")) << paneText();
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_INDETERMINATE);
  EXPECT_NE(tooltip(IDC_OPEN_A).find("device gone"), std::string::npos);
  processEventsFor(1200);  // refused a few times meanwhile
  ASSERT_TRUE(server_->start());
  ASSERT_TRUE(paneShows(name + "reconnected")) << paneText();
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_CHECKED);
  ASSERT_TRUE(link_->send("back"));
  EXPECT_TRUE(paneShows(" 62 61 63 6B")) << paneText();
}

TEST_F(RemoteTest, AHostThatRefusesFailsTheOpenWithTheReason) {
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(freeTcpPort());
  ASSERT_EQ(SioMapDevice(1, url.c_str()), 0);
  start();
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_INDETERMINATE);
  EXPECT_EQ(tooltip(IDC_OPEN_B), "COM2 (" + url + ") did not open: Connection refused");
}
