// Automation through the window on socat pseudo-terminals: a trigger that
// answers a simulated device, macros by button, F key and period, the
// editor's rules in force once saved, and the loop guard on a rule that
// answers its own reply.
#include "support/dialog_reads.h"
#include "support/event_loop.h"
#include "support/socat_link.h"
#include "support/window_fixture.h"

#include "../hex/log_reading.h"

#include "hex/hex.h"
#include "dlg/dlg_window.h"
#include "hex/hex_auto.h"
#include "pane/pane_find_bar.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <memory>
#include <regex>

namespace {

class AutoTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    hex_auto_set_path(nullptr);  // kestrelon.macros in the test's directory
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      links_[side] = std::make_unique<SocatLink>(dir_.path(), "com" + std::to_string(side + 1));
      ASSERT_TRUE(links_[side]->plug()) << "socat did not start";
      ASSERT_EQ(SioMapDevice(side, links_[side]->nearPath().c_str()), 0);
    }
  }
  void TearDown() override {
    WindowTest::TearDown();
    for (auto &link : links_)
      link.reset();
  }

  void startWith(const std::string &rules, int view = HEX_VIEW_ASCII) {
    writeFileBytes(dir_.file(HEX_AUTO_NAME), std::vector<uint8_t>(rules.begin(), rules.end()));
    start();
    dlg_user_choose(window_, IDC_VIEW, view);
  }

  // Bytes into a side's far end, read and shown by one run of the pump.
  void oneRunAfter(int side, const std::string &bytes) {
    ASSERT_TRUE(links_[side]->send(bytes));
    ASSERT_TRUE(waitForQueue(side, int(bytes.size())));
    win_periodic(window_);
  }

  static void runFor(int ms) {
    bool over = false;
    QTimer::singleShot(ms, [&] { over = true; });
    processEventsUntil([&] { return over; }, ms + 1000);
  }

  std::unique_ptr<SocatLink> links_[2];
};

}  // namespace

// The request comes on Port A in two pieces, in two runs; the run that
// shows its end (as hex text, written over the bytes read) has the answer
// leave Port B for the device on its far end, said in the pane and the log
// behind the request, and echoed as sent.
TEST_F(AutoTest, ATriggerOnPortAAnswersTheDeviceOnPortBWithinOneRun) {
  startWith("trigger A name=\"ping\" text=\"REQ?\" reply-text=\"ANS!\" to=B\n",
            HEX_VIEW_HEXADECIMAL);
  const std::string logPath = startLogging("auto.htm");
  oneRunAfter(HEX_SIDE_A, "xxRE");
  EXPECT_EQ(links_[HEX_SIDE_B]->receive(4, 100), "");
  oneRunAfter(HEX_SIDE_A, "Q?yy");
  EXPECT_EQ(links_[HEX_SIDE_B]->receive(4, 1000), "ANS!");
  const std::regex shown(
      " 78 78 52 45 51 3F 79 79\\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d COM1 trigger 'ping' "
      "answered\\nANS!");
  EXPECT_TRUE(std::regex_match(paneText(), shown)) << paneText();
  dlg_user_click(window_, IDC_NO_LOG);
  const std::vector<uint8_t> html = readFileBytes(logPath);
  const LogReading log = readLogBody(std::string(html.begin(), html.end()));
  EXPECT_TRUE(std::regex_search(log.text, shown)) << log.text;
  ASSERT_FALSE(log.records.empty());
  char sentColour[8];
  std::snprintf(sentColour, sizeof sentColour, "#%06X", unsigned(hex_port_rgb(1, HEX_SENT)));
  EXPECT_EQ(log.records.back().colour, sentColour);
  EXPECT_EQ(log.records.back().shown, "ANS!");
}

// A rule fires once, another never, a third each time, its reply later.
TEST_F(AutoTest, OnceOffAndDelayedRulesOnTheSameBytes) {
  startWith("trigger B text=\"x\" reply-text=\"1\" once\n"
            "trigger B text=\"x\" reply-text=\"2\" off\n"
            "trigger B text=\"x\" reply-hex=\"33\" after=30\n");
  for (const char *now : {"1", ""}) {
    oneRunAfter(HEX_SIDE_B, "x");
    EXPECT_EQ(links_[HEX_SIDE_B]->receive(2, 100), now);
    runFor(60);
    EXPECT_EQ(links_[HEX_SIDE_B]->receive(2, 500), "3");
  }
}

TEST_F(AutoTest, MacrosGoOutByButtonByFKeyAndPeriodically) {
  startWith(
      "macro 1 name=\"Hello\" text=\"hi\\r\" to=B\n"
      "macro 2 name=\"Beat\" hex=\"01 02\" frame=PPP check=XOR every=100\n");
  EXPECT_EQ(controlText(window_, IDC_MACRO_1), "F1 Hello");
  EXPECT_EQ(dlg_enabled(window_, IDC_MACRO_1 + 2), 0);
  QTest::keyClick(pane(), Qt::Key_F1);
  EXPECT_EQ(links_[HEX_SIDE_B]->receive(3, 1000), "hi\r");
  dlg_user_click(window_, IDC_MACRO_1);
  EXPECT_EQ(links_[HEX_SIDE_B]->receive(3, 1000), "hi\r");

  const std::string frame = "\x7E\x7D\x21\x7D\x22\x7D\x23\x7E";  // 01 02, XOR 03, escaped
  dlg_user_click(window_, IDC_MACRO_1 + 1);                      // to the send side, Port A
  EXPECT_EQ(dlg_button_state(window_, IDC_MACRO_1 + 1), BST_CHECKED);
  runFor(550);
  const std::string sent = links_[HEX_SIDE_A]->receive(100 * frame.size(), 100);
  EXPECT_GE(sent.size(), 5 * frame.size());
  EXPECT_LE(sent.size(), 7 * frame.size());
  for (size_t at = 0; at < sent.size(); at += frame.size())
    EXPECT_EQ(sent.substr(at, frame.size()), frame);
  QTest::keyClick(pane(), Qt::Key_F2);
  EXPECT_EQ(dlg_button_state(window_, IDC_MACRO_1 + 1), BST_UNCHECKED);
  runFor(300);
  EXPECT_EQ(links_[HEX_SIDE_A]->receive(frame.size(), 100), "");
}

TEST_F(AutoTest, TheEditorChecksEachLineAndSavedRulesAreInForce) {
  startWith("");
  dlg_user_click(window_, IDC_MACRO_EDIT);
  HWND editor = hex_auto_editor();
  ASSERT_NE(editor, nullptr);
  auto put = [&](const char *line, int button) {
    dlg_user_type(editor, IDC_AUTO_RULES, line);
    dlg_user_click(editor, button);
    return controlText(editor, IDC_AUTO_STATUS);
  };
  EXPECT_EQ(put("trigger B name=\"x\" text=\"x\" reply=4", IDC_AUTO_ADD), "reply=4 names no macro");
  EXPECT_EQ(put("macro 4 name=\"Ack\" text=\"ok\"", IDC_AUTO_ADD), "");
  EXPECT_EQ(put("trigger B name=\"x\" text=\"x\" reply=4", IDC_AUTO_ADD), "");
  dlg_user_click(editor, IDC_AUTO_ENABLE);
  EXPECT_EQ(controlText(editor, IDC_AUTO_RULES), "trigger B name=\"x\" text=\"x\" reply=4 off");
  EXPECT_EQ(put("trigger B name=\"x\" text=\"x\" reply=4 after=20", IDC_AUTO_CHANGE), "");
  dlg_user_choose(editor, IDC_AUTO_RULES, 0);
  EXPECT_EQ(put("", IDC_AUTO_REMOVE), "a trigger answers with macro 4");
  EXPECT_TRUE(hex_auto_rules().triggers.empty());  // nothing in force before Save

  dlg_user_click(editor, IDC_AUTO_SAVE);
  const std::vector<uint8_t> file = readFileBytes(dir_.file(HEX_AUTO_NAME));
  HexAutoRules saved;
  ASSERT_TRUE(hex_auto_parse(std::string(file.begin(), file.end()), saved, nullptr));
  EXPECT_EQ(saved, hex_auto_rules());
  ASSERT_EQ(saved.triggers.size(), 1u);
  EXPECT_EQ(saved.triggers[0].after_ms, 20u);
  EXPECT_EQ(controlText(window_, IDC_MACRO_1 + 3), "F4 Ack");
  oneRunAfter(HEX_SIDE_B, "x");
  runFor(100);  // after=20
  EXPECT_EQ(links_[HEX_SIDE_B]->receive(2, 1000), "ok");
}

// The device on Port A sends back whatever it gets: a rule whose reply
// holds its pattern twice fires twice as often each round, until the guard
// holds it to a hundred firings in any second, saying so once; the loop
// then ends for want of replies.
TEST_F(AutoTest, ARuleAnsweringItsOwnReplyIsHeldToAHundredFiringsASecond) {
  startWith("trigger A name=\"loop\" text=\"ping\" reply-text=\"pingping\"\n");
  dlg_user_click(window_, IDC_LOCAL_ECHO);  // the pane holds the event lines alone
  links_[HEX_SIDE_A]->send("ping");
  for (int round = 0; round < 150; ++round) {
    runFor(10);
    links_[HEX_SIDE_A]->send(links_[HEX_SIDE_A]->receive(1 << 16, 0));
  }
  std::vector<int> times;
  const std::string text = paneText();
  const std::regex answered("(\\d\\d):(\\d\\d)\\.(\\d\\d\\d) COM1 trigger 'loop' answered");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), answered);
       it != std::sregex_iterator(); ++it)
    times.push_back(std::stoi((*it)[1]) * 60000 + std::stoi((*it)[2]) * 1000 + std::stoi((*it)[3]));
  ASSERT_GE(times.size(), size_t(HEX_TRIGGER_RATE_MAX)) << "the loop did not reach the limit";
  for (size_t first = 0, last = 0; last < times.size(); ++last) {
    while ((times[last] - times[first] + 3600000) % 3600000 >= 1000)
      ++first;
    ASSERT_LE(last - first + 1, size_t(HEX_TRIGGER_RATE_MAX)) << "at " << times[last];
  }
  const std::string held = "trigger 'loop' held: more than 100 firings a second";
  const size_t at = text.find(held);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(text.find(held, at + 1), std::string::npos) << "said more than once";
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM1 " + held);
}

// Ctrl+F, F3 and Shift+F3 as typed: the bar finds hex bytes as the
// Hexadecimal view shows them, marks and shows each match without moving
// the caret, and takes F3 from macro 3 only while it is open.
TEST_F(AutoTest, FindBarTakesCtrlFAndF3FromTheMacroWhileOpen) {
  startWith("macro 3 text=\"3\" to=B\n", HEX_VIEW_HEXADECIMAL);
  std::string text;
  for (int i = 0; i < 40000; ++i)
    text += i % 10000 == 5000 ? " 7E FF" : " 01 02";  // matches at 4 places
  dlg_pane_set_text(window_, IDC_PANE, text.data(), int(text.size()));
  const PaneSelection caret = pane()->model().selection();
  PaneFindBar &bar = *window_->findBar();
  QTest::keyClick(pane(), Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(bar.isVisible());
  QTest::keyClicks(QApplication::focusWidget(), "7eff");
  auto at = [&](int index) {
    return processEventsUntil([&] { return bar.finder().matchStart() == (index * 10000 + 5000) * 6; })
               ? bar.status().toStdString()
               : "not at " + std::to_string(index);
  };
  EXPECT_EQ(at(0), "1 of 4");  // from the top of the view, around the end
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
  EXPECT_EQ(at(1), "2 of 4");
  QTest::keyClick(pane(), Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(at(0), "1 of 4");
  QTest::keyClick(pane(), Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(at(3), "4 of 4");
  const std::int64_t shown = pane()->firstVisiblePosition();
  EXPECT_LE(shown, bar.finder().matchStart());
  EXPECT_GT(shown + pane()->visibleRows() * pane()->visibleColumns(), bar.finder().matchEnd());
  EXPECT_EQ(pane()->model().selection(), caret);
  EXPECT_EQ(links_[HEX_SIDE_B]->receive(1, 200), "");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(bar.isVisible());
  EXPECT_EQ(QApplication::focusWidget(), pane());
  QTest::keyClick(pane(), Qt::Key_F3);
  EXPECT_EQ(links_[HEX_SIDE_B]->receive(1, 1000), "3");
}
