// The Terminal view on the real window: each side's screen as a terminal
// shows what real programs write, the screens as the send side's keyboard,
// answers to the far end, and the view's place among the others.
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "hex/log_reading.h"
#include "pane/pane_screens.h"
#include "resources/ids.h"
#include "support/chunk_splits.h"
#include "support/event_loop.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class TerminalView : public WindowTest {
protected:
  TerminalScreens *screens() const { return window_->screens(); }
  void startTerminal() {
    start();
    dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_TERMINAL);
    ASSERT_TRUE(screens()->isVisible());
  }
  // What the far end reads within `ms` while the window runs.
  std::string farEndReads(PtyPair &pty, size_t count, int ms = 3000) {
    std::string got;
    processEventsUntil(
        [&] {
          const std::vector<uint8_t> more = pty.drain(5);
          got.append(more.begin(), more.end());
          return got.size() >= count;
        },
        ms);
    return got;
  }
  bool screenShows(int side, const std::string &text, int ms = 5000) {
    return processEventsUntil(
        [&] { return screens()->text(side).find(text) != std::string::npos; }, ms);
  }
};

std::string output_of(const std::string &script) {
  std::string out;
  if (std::FILE *pipe = popen(script.c_str(), "r")) {
    char buffer[256];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << script;
  }
  return out;
}

}  // namespace

// A program's screen through terminfo: overwriting, erasures, a progress
// line rewritten with CR and a colour line, received on the port and, for
// Port B, handed over in every chunk split.
TEST_F(TerminalView, ScreenOfARealProgramIsTheOneATerminalShows) {
  const std::string bytes = output_of(
      "export TERM=vt100; tput clear; printf 'header\\r\\nSecond line\\r\\n';"
      "tput cup 1 0; printf top-left; tput cup 3 0; printf 'keep this, not this';"
      "tput cup 3 10; tput el; tput cup 5 0;"
      "for i in 1 2 3 4 5 6 7 8 9 10; do printf '\\rprogress %d%%' $((i * 10)); done;"
      "tput cup 7 0; tput -T xterm setaf 1; printf red; tput sgr0; printf ' plain';"
      "tput cup 9 0; printf 'gone\\r\\ngone too'; tput cup 9 0; tput ed; tput cup 20 30; printf end");
  const std::string screen = "header\ntop-leftine\n\nkeep this,\n\nprogress 100%\n\nred plain" +
                             std::string(13, '\n') + std::string(30, ' ') + "end\n\n\n";
  startTerminal();
  com1_.send(bytes);
  ASSERT_TRUE(screenShows(0, "end"));
  EXPECT_EQ(screens()->text(0), screen);
  const ScreenCell &red = screens()->cell(0, 7, 0);
  EXPECT_GT(red.foreground >> 16, 0x80u);
  EXPECT_LT(red.foreground & 0xFFFFu, 0x4040u);
  EXPECT_EQ(screens()->cell(0, 7, 4).foreground, ScreenCell{}.foreground);
  for (const std::vector<size_t> &cuts : chunk_splits(bytes.size(), false, 6)) {
    dlg_user_click(window_, IDC_CLEAR);
    HexWindowSink sink(window_, true);
    for_each_chunk(bytes, cuts, [&](char *chunk, int count) {
      hex_show_received(HEX_VIEW_TERMINAL, hex_obj[HEX_SIDE_B], 1, 0, chunk, count, sink);
    });
    sink.flush();  // the run's end: its changes drawn
    ASSERT_EQ(screens()->text(1), screen) << ::testing::PrintToString(cuts);
  }
}

// What xterm's terminfo writes for the alternate screen, scroll regions and
// line and character edits, in every chunk split.
TEST_F(TerminalView, AlternateScreenScrollRegionsAndEditsOfARealProgram) {
  startTerminal();
  struct Case {
    const char *script;
    const char *rows;  // the first five
  };
  const Case cases[] = {
      {"printf main; tput smcup; tput clear; printf alt; tput rmcup", "main\n\n\n\n"},
      {"printf 'a\\r\\nb\\r\\nc\\r\\nd\\r\\ne'; tput csr 1 3; tput cup 3 0; printf '\\n';"
       "tput csr 0 23; printf top",
       "top\nc\nd\n\ne"},
      {"printf 'one\\r\\ntwo'; tput cup 1 0; tput il1; printf new; tput cup 0 0; tput dch1;"
       "tput cup 2 1; tput ich 1",
       "ne\nnew\nt wo\n\n"},
  };
  for (const Case &c : cases) {
    const std::string bytes = output_of(std::string("export TERM=xterm; tput clear; ") + c.script);
    for (const std::vector<size_t> &cuts : chunk_splits(bytes.size(), false, 3)) {
      dlg_user_click(window_, IDC_CLEAR);
      HexWindowSink sink(window_);
      for_each_chunk(bytes, cuts, [&](char *chunk, int count) {
        hex_show_received(HEX_VIEW_TERMINAL, hex_obj[HEX_SIDE_B], 1, 0, chunk, count, sink);
      });
      ASSERT_EQ(screens()->text(1, 0, 4), c.rows) << c.script << ::testing::PrintToString(cuts);
    }
  }
}

// A shell's line editing on the far end of a socat pseudo-terminal: what is
// typed, rubbed out and typed again reads on the screen as on a terminal.
TEST_F(TerminalView, LineEditingWithARealShell) {
  const std::string link = dir_.file("shell");
  const pid_t socat = fork();
  if (socat == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);  // the window's end signals are its own
    setenv("TERM", "vt100", 1);
    setenv("PS1", "$ ", 1);
    execlp("socat", "socat", ("PTY,raw,echo=0,link=" + link).c_str(),
           "EXEC:bash --norc --noprofile -i,pty,setsid,ctty,stderr,sane", nullptr);
    _exit(127);
  }
  ASSERT_TRUE(processEventsUntil([&] { return access(link.c_str(), F_OK) == 0; }));
  setenv("KESTRELON_COM1", link.c_str(), 1);
  startTerminal();
  screens()->setFocus();
  // The prompt bash wrote before the port was open may be gone: Enter asks again.
  QTest::keyClick(screens(), Qt::Key_Return);
  ASSERT_TRUE(screenShows(0, "$")) << screens()->text(0);
  QTest::keyClicks(screens(), "echo abc");
  ASSERT_TRUE(screenShows(0, "echo abc"));
  for (int i = 0; i < 3; ++i)
    QTest::keyClick(screens(), Qt::Key_Backspace);
  QTest::keyClicks(screens(), "XY");
  QTest::keyClick(screens(), Qt::Key_Return);
  EXPECT_TRUE(screenShows(0, "$ echo XY\nXY\n$")) << screens()->text(0);
  kill(socat, SIGTERM);
  waitpid(socat, nullptr, 0);
}

// Keys typed into the screens go to the send side's port as the terminal
// encodes them, in the modes the far end set.
TEST_F(TerminalView, KeysGoToTheSendSideAsTheTerminalEncodesThem) {
  startTerminal();
  struct Key {
    int key;
    Qt::KeyboardModifiers modifiers;
    std::string bytes;
  };
  const Key keys[] = {
      {Qt::Key_Up, Qt::NoModifier, "\x1b[A"},        {Qt::Key_Left, Qt::NoModifier, "\x1b[D"},
      {Qt::Key_Home, Qt::NoModifier, "\x1b[H"},      {Qt::Key_End, Qt::NoModifier, "\x1b[F"},
      {Qt::Key_PageUp, Qt::NoModifier, "\x1b[5~"},   {Qt::Key_PageDown, Qt::NoModifier, "\x1b[6~"},
      {Qt::Key_Insert, Qt::NoModifier, "\x1b[2~"},   {Qt::Key_Delete, Qt::NoModifier, "\x1b[3~"},
      {Qt::Key_F1, Qt::NoModifier, "\x1bOP"},        {Qt::Key_F5, Qt::NoModifier, "\x1b[15~"},
      {Qt::Key_F12, Qt::NoModifier, "\x1b[24~"},     {Qt::Key_Return, Qt::NoModifier, "\r"},
      {Qt::Key_Tab, Qt::NoModifier, "\t"},           {Qt::Key_Backspace, Qt::NoModifier, "\x7f"},
      {Qt::Key_Escape, Qt::NoModifier, "\x1b"},      {Qt::Key_C, Qt::ControlModifier, "\x03"},
      {Qt::Key_X, Qt::AltModifier, "\x1bx"},         {Qt::Key_Up, Qt::ControlModifier, "\x1b[1;5A"},
  };
  for (const Key &k : keys) {
    QTest::keyClick(screens(), Qt::Key(k.key), k.modifiers);
    EXPECT_EQ(farEndReads(com1_, k.bytes.size()), k.bytes) << k.key << " " << int(k.modifiers);
  }
  QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("z\u00e9"));
  QApplication::sendEvent(screens(), &typed);
  EXPECT_EQ(farEndReads(com1_, 3), "z\xc3\xa9");
  QApplication::clipboard()->setText(QStringLiteral("ls\nx"));
  QTest::keyClick(screens(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(farEndReads(com1_, 4), "ls\rx");
  // The far end asks for application cursor keys; the send side moves to
  // Port B and the focus mark with it.
  com1_.send("\x1b[?1h");
  processEventsFor(150);
  QTest::keyClick(screens(), Qt::Key_Up);
  EXPECT_EQ(farEndReads(com1_, 3), "\x1bOA");
  dlg_user_click(window_, IDC_SEND_PORT_B);
  EXPECT_EQ(screens()->focusSide(), HEX_SIDE_B);
  EXPECT_EQ(screens()->heading(HEX_SIDE_B).toStdString(), "\u25b6 Port B: COM2   80x24");
  QTest::keyClick(screens(), Qt::Key_Up);
  EXPECT_EQ(farEndReads(com2_, 3), "\x1b[A");
  EXPECT_EQ(farEndReads(com1_, 1, 100), "");
}

// The far end's status requests are answered on the asking side's port,
// whichever side sends.
TEST_F(TerminalView, StatusRequestsAreAnsweredOnTheAskingPort) {
  startTerminal();
  com1_.send("\x1b[5n");
  EXPECT_EQ(farEndReads(com1_, 4), "\x1b[0n");
  com2_.send("\x1b[3;5H\x1b[6n");
  EXPECT_EQ(farEndReads(com2_, 6), "\x1b[3;5R");
  EXPECT_EQ(farEndReads(com1_, 1, 100), "");
}

// The log keeps the bytes as the ASCII view shows them; Time is off while
// the screens are shown; other views leave the screens as they are; copy
// takes the focused screen's rows; Clear resets both screens.
TEST_F(TerminalView, LogTimeSwitchingCopyAndClear) {
  start();
  dlg_user_click(window_, IDC_TIME);
  ASSERT_EQ(hex_time.on, 1);
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_TERMINAL);
  EXPECT_EQ(hex_time.on, 0);
  EXPECT_EQ(dlg_enabled(window_, IDC_TIME), 0);
  const std::string log = startLogging("terminal.htm");
  com1_.send("\x1b[2Jhi   \x1b[1;1HH\r\n  two");
  com2_.send("B side");
  ASSERT_TRUE(screenShows(0, "two") && screenShows(1, "B side"));
  dlg_user_click(window_, IDC_NO_LOG);
  const std::vector<uint8_t> html = readFileBytes(log);
  const LogReading reading = readLogBody(std::string(html.begin(), html.end()));
  EXPECT_NE(reading.text.find("\u241b[2Jhi   \u241b[1;1HH"), std::string::npos) << reading.text;

  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  EXPECT_FALSE(screens()->isVisible());
  EXPECT_EQ(dlg_enabled(window_, IDC_TIME), 1);
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_TERMINAL);
  EXPECT_EQ(screens()->text(0, 0, 1), "Hi\n  two");

  // A drag selects from cell to cell, a row's trailing blanks left out.
  const QRect grid = screens()->gridRect(0);
  auto cell = [&](int row, int column) {
    return QPointF(grid.x() + (column + 0.5) * grid.width() / 80,
                   grid.y() + (row + 0.5) * grid.height() / 24);
  };
  QMouseEvent press(QEvent::MouseButtonPress, cell(0, 0), screens()->mapToGlobal(cell(0, 0)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent drag(QEvent::MouseMove, cell(1, 3), screens()->mapToGlobal(cell(1, 3)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(screens(), &press);
  QApplication::sendEvent(screens(), &drag);
  EXPECT_EQ(screens()->selectedText(), "Hi\n  tw");

  screens()->setFocus();
  QTest::keyClick(screens(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(screens(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "Hi\n  two" + std::string(22, '\n'));
  dlg_user_click(window_, IDC_CLEAR);
  EXPECT_EQ(screens()->text(0) + screens()->text(1), std::string(46, '\n'));
}

// The size the pane gives reaches both screens and their terminals (a line
// wraps at it); the default size comes back.
TEST_F(TerminalView, ScreensTakeTheSizeThePaneGives) {
  startTerminal();
  int rows = 0, columns = 0;
  screens()->setSizeFromPane(true);
  window_->resize(window_->size() + QSize(100, 0));
  screens()->roomSize(&rows, &columns);
  ASSERT_TRUE(columns != 80 || rows != 24);
  EXPECT_EQ(screens()->columns(HEX_SIDE_B), columns);
  EXPECT_EQ(screens()->rows(HEX_SIDE_A), rows);
  com2_.send(std::string(size_t(columns), 'x') + "y");
  EXPECT_TRUE(screenShows(1, std::string(size_t(columns), 'x') + "\ny"));
  screens()->setSizeFromPane(false);
  EXPECT_EQ(screens()->heading(HEX_SIDE_B).toStdString(), "  Port B: COM2   80x24");
}

// Only what changed is drawn again: the cells written and where the cursor
// left and went, not the screen.
TEST_F(TerminalView, OnlyTheCellsThatChangedAreDrawnAgain) {
  startTerminal();
  processEventsFor(100);
  struct PaintWatch : QObject {
    QRegion painted;
    bool eventFilter(QObject *, QEvent *event) override {
      if (event->type() == QEvent::Paint)
        painted += static_cast<QPaintEvent *>(event)->region();
      return false;
    }
  } watch;
  screens()->installEventFilter(&watch);
  com1_.send("\x1b[5;10Hab");
  ASSERT_TRUE(screenShows(0, std::string(9, ' ') + "ab"));
  processEventsFor(100);
  const QRect grid = screens()->gridRect(0);
  const int width = grid.width() / 80, height = grid.height() / 24;
  const QRegion expected = QRegion(grid.x(), grid.y(), width, height) +
                           QRect(grid.x() + 9 * width, grid.y() + 4 * height, 3 * width, height);
  EXPECT_EQ(watch.painted, expected);
}
