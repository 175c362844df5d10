// The modem lines through the real window: on pseudo-terminals every lamp is
// unknown and says why; with a stand-in device behind the serial library's
// line calls, input changes become lines in their place among the bytes,
// the switches, the pulse and Break drive the device, each side's pulse and
// break last as long as its lists say, and --dtr off keeps DTR down from the
// open on.
#include "support/dialog_reads.h"
#include "support/event_loop.h"
#include "support/window_fixture.h"

#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <fstream>
#include <map>
#include <sstream>

namespace {

std::map<int, int> g_lines;     // the stand-in's SIO_LINE_* bits, by descriptor
std::vector<std::string> g_did;  // what it was told, in order ("dtr 1", "break 0")

const SioModemDevice kFake = {
    [](int fd, int *bits) { return *bits = g_lines[fd], 0; },
    [](int fd, int bit, bool on) {
      g_lines[fd] = on ? g_lines[fd] | bit : g_lines[fd] & ~bit;
      g_did.push_back(std::string(bit == SIO_LINE_DTR ? "dtr " : "rts ") + (on ? "1" : "0"));
      return 0;
    },
    [](int, bool on) { return g_did.push_back(on ? "break 1" : "break 0"), 0; },
};

class LinesTest : public WindowTest {
protected:
  void TearDown() override {
    SioSetModemDevice(nullptr);
    hex_lines_set_start(-1, -1);
    WindowTest::TearDown();
    g_lines.clear();
    g_did.clear();
  }
  int lamp(int line) const { return IDC_LINES_A + line; }
  bool paneShows(const std::string &text) {
    return processEventsUntil([&] { return paneText().find(text) != std::string::npos; });
  }
};

}  // namespace

TEST_F(LinesTest, OnPseudoTerminalsEveryLampIsUnknownAndSaysWhy) {
  start();
  for (int first : {IDC_LINES_A, IDC_LINES_B})
    for (int line = HEX_LINE_CTS; line <= HEX_LINE_RTS; ++line) {
      EXPECT_EQ(dlg_button_state(window_, first + line), BST_INDETERMINATE);
      EXPECT_NE(tooltip(first + line).find("reports no modem lines"), std::string::npos);
    }
  dlg_user_click(window_, lamp(HEX_LINE_DTR));
  EXPECT_NE(controlText(window_, IDC_XFER_STATUS).find("COM1 has no modem lines"),
            std::string::npos);
  EXPECT_EQ(dlg_button_state(window_, lamp(HEX_LINE_DTR)), BST_INDETERMINATE);
  EXPECT_EQ(paneText().find("DTR"), std::string::npos) << "no line moved";
}

TEST_F(LinesTest, ChangesAreLinesAmongTheBytesAndTheSwitchesDriveTheDevice) {
  SioSetModemDevice(&kFake);
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  dlg_user_click(window_, IDC_TIME);
  const std::string log = startLogging("lines.htm");
  const int fd = SioHandle(0);
  ASSERT_TRUE(processEventsUntil([&] { return dlg_button_state(window_, lamp(HEX_LINE_DTR)) == BST_CHECKED; }));
  EXPECT_EQ(dlg_button_state(window_, lamp(HEX_LINE_CTS)), BST_UNCHECKED);

  com1_.send("before");
  ASSERT_TRUE(paneShows("before"));
  g_lines[fd] |= SIO_LINE_CTS | SIO_LINE_DCD;
  ASSERT_TRUE(paneShows("COM1 DCD on"));
  com1_.send("after");
  ASSERT_TRUE(paneShows("after"));
  const std::string text = paneText();
  EXPECT_LT(text.find("before"), text.find("COM1 CTS on"));
  EXPECT_LT(text.find("COM1 CTS on"), text.find("COM1 DCD on"));
  EXPECT_LT(text.find("COM1 DCD on"), text.find("after"));
  EXPECT_EQ(dlg_button_state(window_, lamp(HEX_LINE_CTS)), BST_CHECKED);

  // DTR down by a click, kept by the port's Flags; a pulse; a break.
  g_did.clear();
  dlg_user_click(window_, lamp(HEX_LINE_DTR));
  EXPECT_EQ(SioDTR(0, 'R'), 0);
  dlg_send_message(window_, WM_CONTEXTMENU, uintptr_t(lamp(HEX_LINE_RTS)), 0);
  dlg_user_click(window_, IDC_BREAK_A);
  ASSERT_TRUE(paneShows("COM1 break off"));
  ASSERT_TRUE(paneShows("COM1 RTS on"));
  EXPECT_EQ(g_did, (std::vector<std::string>{"dtr 0", "rts 0", "break 1", "rts 1", "break 0"}));
  EXPECT_NE(tooltip(IDC_OPEN_A).find("CTS 1, DSR 0, DCD 1, RI 0, DTR 1, RTS 2, break 2"),
            std::string::npos)
      << tooltip(IDC_OPEN_A);

  // RTS/CTS flow control takes RTS from the user.
  dlg_user_choose(window_, IDC_FLOW_A, 0);
  ASSERT_TRUE(processEventsUntil([&] { return !dlg_enabled(window_, lamp(HEX_LINE_RTS)); }));
  g_did.clear();
  dlg_send_message(window_, WM_CONTEXTMENU, uintptr_t(lamp(HEX_LINE_RTS)), 0);
  EXPECT_TRUE(g_did.empty());

  finish();
  std::stringstream logged;
  logged << std::ifstream(log).rdbuf();
  for (const char *line : {"COM1 CTS on", "COM1 DTR off", "COM1 break on", "COM1 RTS on"})
    EXPECT_NE(logged.str().find(line), std::string::npos) << line;
}

TEST_F(LinesTest, PulseAndBreakLastAsLongAsTheSideSays) {
  SioSetModemDevice(&kFake);
  start();
  const struct {
    int list;
    const char *typed;  // nullptr: the entry "500 ms" chosen
    const char *shown;
    const char *said;
  } rows[] = {
      {IDC_PULSE_A, "300", "300 ms", "COM1 pulses DTR or RTS down for 300 ms"},
      {IDC_PULSE_A, "0", "300 ms", "COM1 refused '0' as a pulse length (1 to 10000 ms)"},
      {IDC_BREAK_LENGTH_B, " 40 MS ", "40 ms", "COM2 sends breaks of 40 ms"},
      {IDC_BREAK_LENGTH_B, "10001", "40 ms", "COM2 refused '10001'"},
      {IDC_BREAK_LENGTH_B, nullptr, "500 ms", "COM2 sends breaks of 500 ms"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.typed ? row.typed : "chosen");
    if (row.typed) {
      dlg_user_type(window_, row.list, row.typed);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    } else {
      dlg_user_choose(window_, row.list, 4);
    }
    EXPECT_EQ(controlText(window_, row.list), row.shown);
    EXPECT_NE(controlText(window_, IDC_XFER_STATUS).find(row.said), std::string::npos)
        << controlText(window_, IDC_XFER_STATUS);
  }
  EXPECT_EQ(controlText(window_, IDC_BREAK_LENGTH_A), "250 ms") << "each side its own";
  const struct {
    int id;
    bool pulse;
    const char *said;
    const char *end;
    int ms;
  } actions[] = {{lamp(HEX_LINE_DTR), true, "COM1 pulses DTR: down for 300 ms", "dtr 1", 300},
                 {IDC_BREAK_B, false, "COM2 sends a break of 500 ms", "break 0", 500}};
  for (const auto &action : actions) {
    g_did.clear();
    QElapsedTimer lasted;
    lasted.start();
    if (action.pulse)
      dlg_send_message(window_, WM_CONTEXTMENU, uintptr_t(action.id), 0);
    else
      dlg_user_click(window_, action.id);
    EXPECT_NE(controlText(window_, IDC_XFER_STATUS).find(action.said), std::string::npos);
    ASSERT_TRUE(processEventsUntil([&] { return !g_did.empty() && g_did.back() == action.end; }));
    EXPECT_GE(lasted.elapsed(), action.ms) << action.said;
  }
}

TEST_F(LinesTest, DtrOffFromTheCommandLineStaysDownFromTheOpenOn) {
  SioSetModemDevice(&kFake);
  hex_lines_set_start(0, 1);
  start();
  for (const std::string &told : g_did)
    EXPECT_NE(told, "dtr 1");
  EXPECT_EQ(g_lines[SioHandle(0)] & (SIO_LINE_DTR | SIO_LINE_RTS), SIO_LINE_RTS);
  EXPECT_EQ(SioDTR(1, 'R'), 0);
}
