// The HTML log on the real window, offscreen, with pseudo-terminals as COM
// ports: choosing and ending a log every way there is, records written and
// flushed as the pump runs and messages go out, failures, the file-choice
// dialog, and a finished log read back by a real browser.
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "log_reading.h"
#include "resources/ids.h"
#include "shell/shell.h"
#include "support/dialog_reads.h"
#include "support/event_loop.h"
#include "support/file_dialog_person.h"
#include "support/window_fixture.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string fileText(const std::string &path) {
  const std::vector<uint8_t> bytes = readFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// What the pane shows, with no-break spaces (byte 0xA0) read as blanks, as
// the log's reading gives them.
std::string paneShows(const std::string &bytes) {
  std::string text = paneBytesToUtf8(bytes);
  for (size_t at; (at = text.find("\xC2\xA0")) != std::string::npos;)
    text.replace(at, 2, " ");
  return text;
}

bool endsWith(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string received(const std::string &text) {
  return std::string("<font color=\"#0000FF\">") + text + "</font>";
}

class HexLog : public WindowTest {
protected:
  // "Log" with the file dialog answering `path` (an empty path: cancelled).
  void chooseLog(const std::string &path) {
    dlg_set_file_dialog_hook([path](bool, std::string &chosen) {
      chosen = path;
      return !path.empty();
    });
    dlg_user_click(window_, IDC_LOG);
  }

  // Bytes arrive on a COM port's far end and one pump run takes them.
  void pumpRun(const std::string &onCom1, const std::string &onCom2 = "") {
    if (!onCom1.empty())
      com1_.send(onCom1);
    if (!onCom2.empty())
      com2_.send(onCom2);
    ASSERT_TRUE(waitForQueue(0, int(onCom1.size())));
    ASSERT_TRUE(waitForQueue(1, int(onCom2.size())));
    win_periodic(window_);
  }

  void expectNoLogState() {
    EXPECT_EQ(dlg_button_state(window_, IDC_NO_LOG), BST_CHECKED);
    EXPECT_EQ(dlg_button_state(window_, IDC_LOG), BST_UNCHECKED);
    EXPECT_EQ(controlText(window_, IDC_FILE_NAME), "");
    EXPECT_EQ(hex_log, 0);
    EXPECT_EQ(hex_log, 0);
  }

  void expectLogging(const std::string &path) {
    EXPECT_EQ(dlg_button_state(window_, IDC_LOG), BST_CHECKED);
    EXPECT_EQ(dlg_button_state(window_, IDC_NO_LOG), BST_UNCHECKED);
    EXPECT_EQ(controlText(window_, IDC_FILE_NAME), path);
    EXPECT_EQ(hex_log, 1);
  }
};

TEST_F(HexLog, OpenedAndClosedAtOnceTheFileHoldsHeaderAndTrailer) {
  start();
  const std::string path = dir_.file("session.htm");
  writeFileBytes(path, std::vector<uint8_t>(100, 'x'));  // replaced, as answered
  chooseLog(path);
  expectLogging(path);
  dlg_user_click(window_, IDC_NO_LOG);
  expectNoLogState();
  const std::string closed = std::string(HEX_LOG_HEADER) + HEX_LOG_TRAILER;
  EXPECT_EQ(fileText(path), closed);
  // A second "No Log", and records offered while no log is open, write nothing.
  dlg_user_click(window_, IDC_NO_LOG);
  hex_save_rx_log(0, "late", 4);
  hex_save_tx_log(0, "late", 4);
  pumpRun("late");
  expectNoLogState();
  EXPECT_EQ(fileText(path), closed);
  EXPECT_EQ(boxes_.size(), 1u) << "only the question before replacing";
}

// Records reach the file when the pump run that showed them ends, and a
// sent message's record at once: a crash loses at most one run. The same
// traffic cut into runs reads as the pane shows it.
TEST_F(HexLog, RecordsAreOnDiskAfterEachPumpRunAndEachSend) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  const std::string path = dir_.file("runs.htm");
  chooseLog(path);
  pumpRun("A\r", "b  ");
  EXPECT_EQ(fileText(path), std::string(HEX_LOG_HEADER) + received("A<br>\n") +
                                "<font color=\"#00007F\">b&nbsp;&nbsp;</font>");
  pumpRun("\nC\t", " d<&>");
  LogReading reading = readLogBody(fileText(path));
  ASSERT_EQ(reading.records.size(), 4u);
  EXPECT_EQ(reading.records[2].shown, "C");
  EXPECT_EQ(reading.records[3].shown, "d<&>");
  EXPECT_EQ(reading.records[3].colour, "#00007F");

  dlg_user_type(window_, IDC_MESSAGE, "hello");
  dlg_user_click(window_, IDC_SEND);
  ASSERT_EQ(com1_.receive(7).size(), 7u);
  reading = readLogBody(fileText(path));
  ASSERT_EQ(reading.records.size(), 5u);
  EXPECT_EQ(reading.records[4].colour, "#00FF00");
  EXPECT_EQ(reading.records[4].shown, "hello");

  dlg_user_click(window_, IDC_NO_LOG);
  const std::string log = fileText(path);
  EXPECT_TRUE(endsWith(log, HEX_LOG_TRAILER));
  reading = readLogBody(log);
  EXPECT_EQ(reading.fault, "");
  EXPECT_EQ(reading.text, paneShows(paneText()));
}

// Every way a log ends writes its trailer and leaves the "No Log" state.
enum class WayOut { NoLog, ExitButton, Sigterm };

class HexLogEnd : public HexLog, public ::testing::WithParamInterface<WayOut> {};

TEST_P(HexLogEnd, WritesTheTrailerAfterTheLastRecord) {
  start();
  const std::string path = dir_.file("end.htm");
  chooseLog(path);
  pumpRun("\x01\x02\x03");
  switch (GetParam()) {
  case WayOut::NoLog:
    dlg_user_click(window_, IDC_NO_LOG);
    expectNoLogState();
    break;
  case WayOut::ExitButton:
    dlg_user_click(window_, IDC_EXIT);
    EXPECT_TRUE(dlg_ended(window_, nullptr));
    break;
  case WayOut::Sigterm:
    dlg_close_on_signals();
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(processEventsUntil([&] { return dlg_ended(window_, nullptr); }));
    break;
  }
  EXPECT_EQ(hex_log, 0);
  EXPECT_EQ(hex_log, 0);
  EXPECT_EQ(fileText(path),
            std::string(HEX_LOG_HEADER) + received("&nbsp;01 02 03") + HEX_LOG_TRAILER);
}

std::string wayName(const ::testing::TestParamInfo<WayOut> &way) {
  static const char *const kNames[] = {"NoLog", "ExitButton", "Sigterm"};
  return kNames[int(way.param)];
}

INSTANTIATE_TEST_SUITE_P(Ways, HexLogEnd,
                         ::testing::Values(WayOut::NoLog, WayOut::ExitButton, WayOut::Sigterm),
                         wayName);

TEST_F(HexLog, ASecondLogFinishesTheFirst) {
  start();
  const std::string first = dir_.file("first.htm");
  const std::string second = dir_.file("second.htm");
  chooseLog(first);
  pumpRun("\x11");
  chooseLog(second);
  expectLogging(second);
  EXPECT_EQ(fileText(first), std::string(HEX_LOG_HEADER) + received("&nbsp;11") + HEX_LOG_TRAILER);
  pumpRun("\x22");
  dlg_user_click(window_, IDC_NO_LOG);
  // The second starts a new page: its first blank opens a line again.
  EXPECT_EQ(fileText(second), std::string(HEX_LOG_HEADER) + received("&nbsp;22") + HEX_LOG_TRAILER);
  EXPECT_TRUE(boxes_.empty());
}

// A cancelled dialog is no error; a file that cannot be opened is. Either
// way nothing is logged and "No Log" is selected, also after a log that was
// open (it is finished first).
TEST_F(HexLog, CancelAndOpenFailureLeaveNoLog) {
  start();
  const std::string open = dir_.file("open.htm");
  ASSERT_EQ(mkdir(dir_.file("folder").c_str(), 0700), 0);
  struct Case {
    std::string path;
    std::vector<std::string> boxes;
  };
  const std::string err = "Kestrelon Windows Error: Log File open error: ";
  const Case cases[] = {
      {"", {}},
      {dir_.file("missing/x"), {err + dir_.file("missing/x: No such file or directory")}},
      {dir_.file("folder"), {err + dir_.file("folder: is a directory")}},
      {com2_.slavePath(), {err + com2_.slavePath() + ": is a terminal device"}},
  };
  for (const Case &c : cases) {
    chooseLog(open);
    boxes_.clear();
    chooseLog(c.path);
    expectNoLogState();
    std::vector<std::string> shown;
    for (const RecordedBox &box : boxes_)
      shown.push_back(box.caption + ": " + box.text);
    EXPECT_EQ(shown, c.boxes) << c.path;
    EXPECT_TRUE(endsWith(fileText(open), HEX_LOG_TRAILER)) << c.path;
  }
}

// An existing file is left alone, appended to or replaced as the user
// answers.
TEST_F(HexLog, AnExistingFileIsReplacedOrAppendedToOnlyWhenTheUserSaysSo) {
  start();
  const std::string path = dir_.file("old"), log = HEX_LOG_HEADER + std::string(HEX_LOG_TRAILER);
  int button = 2;  // Cancel, Append, Replace
  for (const std::string &after : {std::string("old"), "old" + log, log}) {
    writeFileBytes(path, {'o', 'l', 'd'});
    answers_ = {button--};
    chooseLog(path);
    dlg_user_click(window_, IDC_NO_LOG);
    EXPECT_EQ(boxes_.back().text, path + " exists.\nReplace it, or append to it?");
    EXPECT_EQ(fileText(path), after);
  }
}

// A file system that takes no more: the first failed write says so once,
// keeps what was written and selects "No Log"; traffic goes on unlogged.
TEST_F(HexLog, AWriteFailureEndsTheLogOnce) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  struct Case {
    std::string path;
    rlim_t sizeLimit;  // the first case's takes not even the header
    std::string box;
  };
  const Case cases[] = {
      {dir_.file("tiny.htm"), 100, "Log File write error = 27"},     // at the header
      {dir_.file("limited.htm"), 700, "Log File write error = 27"},  // in a record
  };
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
  for (const Case &c : cases) {
    boxes_.clear();
    rlimit limit = saved;
    limit.rlim_cur = c.sizeLimit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    chooseLog(c.path);
    pumpRun(std::string(1000, 'x'));
    pumpRun("more");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    ASSERT_EQ(boxes_.size(), 1u) << c.path;
    EXPECT_EQ(boxes_[0].caption, "Kestrelon Windows Error");
    EXPECT_EQ(boxes_[0].text, c.box);
    expectNoLogState();
    if (c.sizeLimit > sizeof HEX_LOG_HEADER) {
      const std::string kept = fileText(c.path);
      EXPECT_EQ(kept.size(), c.sizeLimit);
      EXPECT_EQ(kept.substr(0, sizeof HEX_LOG_HEADER - 1), HEX_LOG_HEADER);
    }
  }
  std::signal(SIGXFSZ, SIG_DFL);
}

// The file-choice dialog itself, answered as a person would: any name, an
// existing file without a question, the extension added to a bare name.
TEST_F(HexLog, TheFileDialogTakesAnyNameAndAddsItsExtension) {
  start();
  FileDialogPerson person(QStringLiteral("session"));
  // It starts in the current directory: the fixture's.
  dlg_user_click(window_, IDC_LOG);
  EXPECT_EQ(person.title().toStdString(), "Select or enter a Log File name");
  const std::string log = dir_.file("session.htm");
  expectLogging(log);
  dlg_user_click(window_, IDC_NO_LOG);

  person.willType(QStringLiteral("session.htm"));
  dlg_user_click(window_, IDC_LOG);
  expectLogging(log);
  EXPECT_EQ(fileText(log), HEX_LOG_HEADER);  // emptied and begun again

  // The file transfer's use: a name for a file that is not there yet.
  person.willType(QStringLiteral("image"));
  char path[HEX_PATH_SIZE];
  ASSERT_NE(hex_file_dlg("bin", "Select or enter a File to transfer", path, sizeof path), 0);
  EXPECT_EQ(person.title().toStdString(), "Select or enter a File to transfer");
  EXPECT_EQ(std::string(path), dir_.file("image.bin"));
  EXPECT_NE(access(path, F_OK), 0);
  EXPECT_EQ(person.windowsClosed(), 0);  // not even over the existing file
}

// --- A real browser -------------------------------------------------------------------------

// The program's path when it is on PATH, else empty.
std::string onPath(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (end > start && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

std::string quoted(const std::string &text) { return "'" + text + "'"; }

// Headless Chromium opens the finished log; what it made of the document is
// compared with what the pane showed: the text line by line, the elements,
// each record's colour and characters.
TEST_F(HexLog, ABrowserReadsTheLogAsThePaneShowedIt) {
  const std::string browser = onPath("chromium");
  if (browser.empty()) {
    if (std::getenv("CI"))
      FAIL() << "chromium is missing; scripts/setup.sh installs it";
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it): "
                    "no browser reads the log here";
  }
  start();
  const std::string log = dir_.file("browser.htm");
  chooseLog(log);
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_ASCII);
  std::string everyByte;
  for (int value = 0; value < 256; ++value)
    everyByte += char(value);
  const std::string markup =
      "<script>document.body.textContent='run'</script></font><!-- hidden &amp; -->\"end\"";
  pumpRun(everyByte, markup);
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_HEXADECIMAL);
  pumpRun("<&", "\n");
  dlg_user_type(window_, IDC_MESSAGE, "01 FF");
  dlg_user_click(window_, IDC_SEND);
  ASSERT_EQ(com1_.receive(2).size(), 2u);
  dlg_user_click(window_, IDC_NO_LOG);

  // The records as the pane got them, in order.
  const std::string pane = paneText();
  const size_t lengths[] = {256, markup.size(), 6, 3};
  const char *colours[] = {"#0000FF", "#00007F", "#0000FF", "#00007F", "#00FF00"};
  std::vector<std::string> pieces;
  size_t at = 0;
  for (size_t length : lengths) {
    pieces.push_back(pane.substr(at, length));
    at += length;
  }
  pieces.push_back(pane.substr(at));  // the sent message's echo
  ASSERT_EQ(pieces[0], everyByte);
  ASSERT_EQ(pieces[1], markup);

  const std::string profile = dir_.file("profile");
  const std::string dump = dir_.file("dom.html");
  const std::string errors = dir_.file("chromium.err");
  ASSERT_EQ(mkdir(profile.c_str(), 0700), 0);
  const std::string run =
      "timeout 120 " + quoted(browser) +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --user-data-dir=" +
      quoted(profile) + " --dump-dom " + quoted("file://" + log) + " > " + quoted(dump) + " 2> " +
      quoted(errors);
  ASSERT_EQ(std::system(run.c_str()), 0) << fileText(errors);
  const std::string body = dir_.file("body.txt");
  const std::string rewrite =
      "python3 " + quoted(LOG_DOM_SCRIPT) + " " + quoted(dump) + " > " + quoted(body);
  ASSERT_EQ(std::system(rewrite.c_str()), 0);

  const LogReading reading = readLogBody(fileText(body));
  ASSERT_EQ(reading.fault, "");
  // Nothing but the format's elements: the header's paragraph, fonts, breaks.
  ASSERT_FALSE(reading.elements.empty());
  EXPECT_EQ(reading.elements[0], "p");
  for (size_t i = 1; i < reading.elements.size(); ++i)
    EXPECT_TRUE(reading.elements[i] == "font" || reading.elements[i] == "br")
        << "element " << reading.elements[i];
  ASSERT_EQ(reading.records.size(), pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(reading.records[i].colour, colours[i]) << "record " << i;
    EXPECT_EQ(reading.records[i].shown, shownCharacters(paneShows(pieces[i]))) << "record " << i;
  }
  EXPECT_EQ(reading.text, paneShows(pane));
}

}  // namespace
