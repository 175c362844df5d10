// The ANSI view on the real window: received sequences acting on the pane,
// the output of real programs through a pseudo-terminal, and the pane as the
// keyboard of the send port.
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"
#include "support/chunk_splits.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using AnsiTerminal = WindowTest;

std::string esc(const std::string &rest) { return "\x1b" + rest; }

std::string repeat(const std::string &piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += piece;
  return out;
}

// The pane's text with '|' where the caret stands.
std::string screen(DisplayPane *pane) {
  std::string text = pane->model().text();
  text.insert(size_t(pane->model().selection().caret), "|");
  return text;
}

// Feeds bytes received on COM1 to the ANSI view in chunks ending at `cuts`,
// as the pump hands them over; with `gather`, through a sink that shows the
// text between the terminal's actions in one piece, as the pump's does.
void receive_in_chunks(HWND window, const std::string &bytes, const std::vector<size_t> &cuts,
                       bool gather = false) {
  HexWindowSink sink(window, gather);
  for_each_chunk(bytes, cuts, [&](char *chunk, int count) {
    hex_show_received(HEX_VIEW_ANSI, hex_obj[HEX_SIDE_A], 0, 0, chunk, count, sink);
  });
}

std::vector<std::vector<size_t>> splits_of(size_t size) { return chunk_splits(size, false, 6); }

void empty_screen(HWND window) {
  dlg_pane_set_text(window, IDC_PANE, "", 0);
  hex_obj[HEX_SIDE_A].ansi_state = HEX_ANSI_TEXT;
}

}  // namespace

// Each stream starts on an empty pane; the screen shows the caret as '|'.
TEST_F(AnsiTerminal, SequencesGiveTheSameScreenInEveryChunkSplit) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ANSI);
  const std::string thirty = repeat("x\r\n", 30);
  struct Row {
    const char *what;
    std::string bytes;
    std::string screen;
    int firstVisible;
  };
  const Row rows[] = {
      {"CR dropped", "AB\r\nCD", "AB\nCD|", 0},
      {"a clear after text in the same run empties the screen", "ABC" + esc("[2J"), "|", 0},
      {"position on an empty screen makes the line and the column", esc("[05;10H"),
       "\n\n\n\n\n          |", 0},
      {"bytes up to a letter dropped", esc("[05;10") + "12345Hello", "\n\n\n\n\n          ello|",
       0},
      {"a one-digit line is no position", esc("[5;10H"), "10H|", 0},
      {"columns above 80 are 80", esc("[02;99"), "\n\n" + std::string(80, ' ') + "|", 0},
      {"a short line is filled with blanks", "ab\r\ncd" + esc("[00;05H"), "ab   |\ncd", 0},
      {"text goes in at the caret", "abcdef\r\nxy" + esc("[00;03H") + "Z", "abcZ|def\nxy", 0},
      {"lines below the screen are its last line", esc("[30;00H") + "z",
       std::string(24, '\n') + "z|", 0},
      {"positions are within the caret's screen", thirty + esc("[00;00H"),
       repeat("x\n", 25) + "|" + repeat("x\n", 5), 25},
      {"BS moves left", "abc\bX", "abX|c", 0},
      {"left, left, erase to line end", "abc" + esc("[D") + esc("[D") + esc("[K") + "\r\nz",
       "a\nz|", 0},
      {"erase to the end of the text", "one\r\ntwo\r\nthree" + esc("[01;01H") + esc("[J"),
       "one\nt|", 0},
      {"home is the start of the text", "one\r\ntwo" + esc("[H") + "X", "X|one\ntwo", 0},
      {"erase a line, its break stays", "one\r\ntwo\r\nthree" + esc("[01;00H") + esc("[2K"),
       "one\n|\nthree", 0},
      {"up, right, down", "one\r\ntwo" + esc("[A") + esc("[D") + esc("[D") + esc("[C") + esc("[B"),
       "one\ntw|o", 0},
      {"up and down start from the column the caret was put in",
       "abc\r\ndef" + esc("[A") + esc("[01;01H") + esc("[A"), "a|bc\ndef", 0},
      {"end of the line", "abc\r\nd" + esc("[00;01H") + esc("OQ"), "abc|\nd", 0},
      {"erases with a digit",
       "ab\r\ncd" + esc("[00;01H") + esc("[0K") + esc("[01;00H") + esc("[0J"), "a\n|", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    for (const std::vector<size_t> &cuts : splits_of(row.bytes.size())) {
      for (bool gather : {false, true}) {
        empty_screen(window_);
        receive_in_chunks(window_, row.bytes, cuts, gather);
        ASSERT_EQ(screen(pane()), row.screen) << ::testing::PrintToString(cuts) << gather;
        ASSERT_EQ(pane()->firstVisibleLine(), row.firstVisible);
      }
    }
  }
}

// Port A leaves a sequence unfinished; Port B's bytes in between are its own
// text and do not finish it.
TEST_F(AnsiTerminal, EachPortKeepsItsOwnSequence) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ANSI);
  auto run = [&](PtyPair &pty, int port, const std::string &bytes) {
    pty.send(bytes);
    ASSERT_TRUE(waitForQueue(port, int(bytes.size())));
    win_periodic(window_);
  };
  run(com1_, 0, "abc" + esc("[D") + esc("[D") + esc("["));
  run(com2_, 1, "2J");
  EXPECT_EQ(screen(pane()), "a2J|bc");
  run(com1_, 0, "K");
  EXPECT_EQ(screen(pane()), "a2J|");
  EXPECT_EQ(pane()->model().colourAt(1), hex_colour[1][0]);
}

// --- Real programs' output -------------------------------------------------------------

namespace {

// What the system's terminfo makes `tput <capability>` write for TERM=ansi.
std::string tput(const char *capability) {
  const std::string command = std::string("TERM=ansi tput ") + capability;
  std::FILE *pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  std::string out;
  if (!pipe)
    return out;
  char buffer[64];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  EXPECT_FALSE(out.empty()) << command;
  return out;
}

// The pane's lines with blanks at their ends left out, and no empty lines at
// the end: what a terminal's screen shows of them.
std::vector<std::string> shown_lines(const PaneModel &model) {
  std::vector<std::string> lines;
  for (std::int64_t line = 0; line < model.lineCount(); ++line) {
    std::string text = model.text(model.lineStart(line), model.lineEnd(line));
    text.erase(text.find_last_not_of(' ') + 1);
    lines.push_back(text);
  }
  while (!lines.empty() && lines.back().empty())
    lines.pop_back();
  return lines;
}

}  // namespace

// Each scenario is text and terminfo capabilities, written by a program to a
// terminal; the screen and cursor are those a terminal shows for them.
TEST_F(AnsiTerminal, TerminfoOutputForAnsiGivesTheScreenATerminalShows) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ANSI);
  struct Scenario {
    const char *what;
    std::vector<std::string> steps;  // "tput:<cap>" or text
    std::vector<std::string> lines;
    int row, column;
  };
  const Scenario scenarios[] = {
      {"clear, then text at the top", {"hello\r\nworld", "tput:clear", "top"}, {"top"}, 0, 3},
      {"back three, erase to line end",
       {"abcdef", "tput:cub1", "tput:cub1", "tput:cub1", "tput:el"},
       {"abc"},
       0,
       3},
      {"back two on the last line, erase to the end of the screen",
       {"one\r\ntwo\r\nthree", "tput:cub1", "tput:cub1", "tput:ed"},
       {"one", "two", "thr"},
       2,
       3},
      {"home, erase to the end of the screen", {"one\r\ntwo", "tput:home", "tput:ed"}, {}, 0, 0},
      {"home, erase the first line", {"one\r\ntwo", "tput:home", "tput:el"}, {"", "two"}, 0, 0},
      {"home and new text on an empty screen",
       {"tput:clear", "tput:home", "hi\r\nthere"},
       {"hi", "there"},
       1,
       5},
  };
  for (const Scenario &s : scenarios) {
    SCOPED_TRACE(s.what);
    empty_screen(window_);
    std::string bytes;
    for (const std::string &step : s.steps)
      bytes += step.rfind("tput:", 0) == 0 ? tput(step.c_str() + 5) : step;
    com1_.send(bytes);
    ASSERT_TRUE(waitForQueue(0, int(bytes.size())));
    win_periodic(window_);
    const PaneModel &model = pane()->model();
    EXPECT_EQ(shown_lines(model), s.lines);
    const std::int64_t caret = model.selection().caret;
    const std::int64_t row = model.lineFromPosition(caret);
    EXPECT_EQ(row, s.row);
    EXPECT_EQ(caret - model.lineStart(row), s.column);
  }
}

// --- The pane as a keyboard ------------------------------------------------------------

namespace {

struct Key {
  Qt::Key key;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

const std::vector<Key> &every_key() {
  static const std::vector<Key> keys{
      {Qt::Key_Up},
      {Qt::Key_Down},
      {Qt::Key_Right},
      {Qt::Key_Left},
      {Qt::Key_Home},
      {Qt::Key_End},
      {Qt::Key_PageUp},
      {Qt::Key_PageDown},
      {Qt::Key_Return},
      {Qt::Key_Escape},
      {Qt::Key_Delete},
      {Qt::Key_Backspace},
      {Qt::Key_Tab},
      {Qt::Key_A},
      {Qt::Key_C, Qt::ControlModifier},
      {Qt::Key_V, Qt::ControlModifier},
      {Qt::Key_X, Qt::ControlModifier},
  };
  return keys;
}

void type_keys(DisplayPane *pane, const std::vector<Key> &keys) {
  for (const Key &k : keys)
    QTest::keyClick(pane, k.key, k.modifiers);
}

std::vector<uint8_t> bytes(const std::string &text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

TEST_F(AnsiTerminal, EveryKeyGoesOutOnceWithItsBytesAsTheViewSays) {
  start();
  struct Row {
    int view;
    std::string sent;
  };
  const Row rows[] = {
      {HEX_VIEW_ANSI, esc("[A") + esc("[B") + esc("[C") + esc("[D") + esc("OP") + esc("OQ") +
                          esc("OP") + esc("OS") + "\r\n" + esc("") + "\b\b\ta\x03\x16\x18"},
      {HEX_VIEW_HEXADECIMAL, "\r" + esc("") + "\b\b\ta\x03\x16\x18"},
      {HEX_VIEW_ASCII, "\r" + esc("") + "\b\b\ta\x03\x16\x18"},
  };
  DisplayPane *pane = this->pane();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.view);
    dlg_user_choose(window_, IDC_VIEW, row.view);
    pane->setFocus();
    pane->model().clear();
    type_keys(pane, every_key());
    EXPECT_EQ(com1_.receive(row.sent.size()), bytes(row.sent));
    EXPECT_TRUE(com1_.drain(50).empty()) << "a key went out twice";
    EXPECT_TRUE(com2_.drain(0).empty());
  }
}

TEST_F(AnsiTerminal, WithoutEchoThePaneStaysAsItWasWithEchoKeysShowInTheSentColour) {
  start();
  DisplayPane *pane = this->pane();
  PaneModel &model = pane->model();
  dlg_user_click(window_, IDC_SEND_PORT_B);
  ASSERT_EQ(hex_send_port, 1);
  // ANSI: local echo off; the received text and the caret stay put.
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ANSI);
  hex_display_msg(window_, 0, "received", 8);
  model.setSelection(2, 5);
  pane->setFocus();
  type_keys(pane, {{Qt::Key_Q}, {Qt::Key_Left}, {Qt::Key_Return}, {Qt::Key_Delete}});
  EXPECT_EQ(com2_.receive(7), bytes("q" + esc("[D") + "\r\n\b"));
  EXPECT_EQ(model.text(), "received");
  EXPECT_EQ(model.selection(), (PaneSelection{2, 5}));
  for (std::int64_t i = 0; i < model.length(); ++i)
    EXPECT_EQ(model.colourAt(i), hex_colour[0][0]) << "the selection took the sent colour";
  // Echo on: typed text shows at the caret in COM2's sent colour.
  dlg_user_click(window_, IDC_LOCAL_ECHO);
  ASSERT_EQ(hex_local_echo, 1);
  model.setCaret(8);
  pane->setFocus();
  type_keys(pane, {{Qt::Key_O}, {Qt::Key_K}});
  EXPECT_EQ(com2_.receive(2), bytes("ok"));
  EXPECT_EQ(model.text(), "receivedok");
  EXPECT_EQ(model.colourAt(8), hex_colour[1][1]);
  EXPECT_EQ(model.colourAt(9), hex_colour[1][1]);
  // Outside the ANSI view the pane is not paged by screens: a key leaves the
  // view where it follows the received text.
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  const std::string lines = repeat("some line\r\n", 110);
  hex_display_msg(window_, 0, lines.data(), int(lines.size()));
  const std::int64_t top = pane->firstVisibleLine();
  ASSERT_GT(top, 50);
  pane->setFocus();
  type_keys(pane, {{Qt::Key_Z}});
  EXPECT_EQ(com2_.receive(1), bytes("z"));
  EXPECT_EQ(pane->firstVisibleLine(), top);
  EXPECT_TRUE(com1_.drain(0).empty());
}

// Copy, paste and cut of a selection belong to the pane, in every view and
// whatever the echo; without a selection the keys are characters to send.
TEST_F(AnsiTerminal, ClipboardKeysActOnASelectionAndSendNothing) {
  start();
  DisplayPane *pane = this->pane();
  PaneModel &model = pane->model();
  for (int view : {HEX_VIEW_ANSI, HEX_VIEW_ASCII}) {
    SCOPED_TRACE(view);
    dlg_user_choose(window_, IDC_VIEW, view);
    model.setText("copy me");
    model.setSelection(0, 4);
    pane->setFocus();
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "copy");
    model.setSelection(4, 7);
    QTest::keyClick(pane, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(model.text(), "copy");
    model.setSelection(0, 2);
    QTest::keyClick(pane, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(model.text(), " mepy");
    EXPECT_TRUE(com1_.drain(50).empty()) << "a clipboard key was sent";
  }
}

TEST_F(AnsiTerminal, KeysWhileTheSendSidesPortIsNotOpenGoNowhereAndShowNothing) {
  start();
  // Port A, the send side, moves to COM2, which Port B holds: the open fails,
  // and the send port names Port B's line.
  dlg_user_choose(window_, IDC_PORT_A, 1);
  ASSERT_EQ(hex_obj[HEX_SIDE_A].open, 0);
  DisplayPane *pane = this->pane();
  PaneModel &model = pane->model();
  // Outside the ANSI view the navigation keys are the pane's own.
  std::vector<Key> sending(every_key().begin() + 8, every_key().end());
  struct Row {
    int view;
    std::vector<Key> keys;
  };
  for (const Row &row : {Row{HEX_VIEW_ANSI, every_key()}, Row{HEX_VIEW_ASCII, sending}}) {
    SCOPED_TRACE(row.view);
    dlg_user_choose(window_, IDC_VIEW, row.view);
    if (!hex_local_echo)
      dlg_user_click(window_, IDC_LOCAL_ECHO);
    model.setText("abc");
    model.setCaret(2);
    pane->setFocus();
    type_keys(pane, row.keys);
    EXPECT_TRUE(com2_.drain(50).empty()) << "sent on Port B's line";
    EXPECT_EQ(screen(pane), "ab|c") << "a key that went nowhere acted on the pane";
  }
}

// Two monitors on one cable: what the pane types on COM1 arrives at COM2 and
// moves that side's caret. Here the cable runs from COM1's far end to COM2's.
TEST_F(AnsiTerminal, KeysTypedOnOneSideMoveTheOtherSidesCaret) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ANSI);
  DisplayPane *pane = this->pane();
  auto cable = [&](size_t count) {
    const std::vector<uint8_t> crossing = com1_.receive(count);
    ASSERT_EQ(crossing.size(), count);
    com2_.send(crossing);
    ASSERT_TRUE(waitForQueue(1, int(count)));
    win_periodic(window_);
  };
  com2_.send(std::string("abc"));
  ASSERT_TRUE(waitForQueue(1, 3));
  win_periodic(window_);
  pane->setFocus();
  type_keys(pane, {{Qt::Key_Left}, {Qt::Key_Left}});
  cable(6);
  EXPECT_EQ(screen(pane), "a|bc");
  type_keys(pane, {{Qt::Key_X}, {Qt::Key_Return}, {Qt::Key_End}});
  cable(6);
  EXPECT_EQ(screen(pane), "ax\nbc|");
  type_keys(pane, {{Qt::Key_Up}, {Qt::Key_Left}});
  cable(6);
  EXPECT_EQ(screen(pane), "a|x\nbc");
}
