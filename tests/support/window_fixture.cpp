#include "support/window_fixture.h"

#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <QElapsedTimer>
#include <QThread>
#include <climits>
#include <cstdlib>
#include <unistd.h>

std::vector<RecordedMessage> WindowTest::recorded;

namespace {

int recordingProc(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  WindowTest::recorded.push_back({message, wParam});
  return DialogFunc(window, message, wParam, lParam);
}

std::string comVariable(int port) { return "KESTRELON_COM" + std::to_string(port + 1); }

}  // namespace

void WindowTest::SetUp() {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  oldCwd_ = cwd;
  // The configuration file goes where the program runs: never the repository.
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  com1_.mapTo(0);
  com2_.mapTo(1);
  for (int port = 2; port < HEX_PORTS; ++port)
    mapMissing(port);
  recorded.clear();
  boxes_.clear();
  dlg_set_message_box_hook([this](const std::string &text, const std::string &caption) {
    boxes_.push_back({text, caption});
  });
  dlg_set_question_hook(
      [this](const std::string &text, const std::string &caption, const auto &) {
        boxes_.push_back({text, caption});
        const int answer = answers_.empty() ? 0 : answers_.front();
        return answers_.empty() ? answer : (answers_.erase(answers_.begin()), answer);
      });
}

void WindowTest::start() {
  window_ = dlg_create(recordingProc);
  ASSERT_NE(window_, nullptr);
}

void WindowTest::finish() {
  if (window_) {
    if (!dlg_ended(window_, nullptr)) {
      hex_quit(window_);
      dlg_end(window_, 0);
    }
    // Hidden first: the window lets go of the focus while still whole.
    window_->hide();
    dlg_destroy(window_);
    window_ = nullptr;
  }
  for (int port = 0; port < HEX_PORTS; ++port)
    SioDone(port);
}

void WindowTest::TearDown() {
  finish();
  for (int port = 2; port < HEX_PORTS; ++port)
    unsetenv(comVariable(port).c_str());
  dlg_set_message_box_hook(nullptr);
  dlg_set_question_hook(nullptr);
  dlg_set_file_dialog_hook(nullptr);
  if (!oldCwd_.empty()) {
    EXPECT_EQ(chdir(oldCwd_.c_str()), 0);
  }
}

void WindowTest::mapMissing(int port) {
  setenv(comVariable(port).c_str(), dir_.file("no-such-tty").c_str(), 1);
}

DisplayPane *WindowTest::pane() const { return window_ ? window_->pane() : nullptr; }

std::string WindowTest::paneText() const {
  DisplayPane *shown = pane();
  return shown ? shown->model().text() : std::string();
}

std::string WindowTest::tooltip(int id) const {
  QWidget *control = window_ ? window_->control(id) : nullptr;
  return control ? control->toolTip().toStdString() : std::string();
}

int WindowTest::commandsFor(int id, unsigned notification) const {
  int count = 0;
  for (const RecordedMessage &m : recorded)
    if (m.message == WM_COMMAND && LOWORD(m.wParam) == unsigned(id) &&
        HIWORD(m.wParam) == notification)
      ++count;
  return count;
}

bool WindowTest::waitForQueue(int port, int count, int timeoutMs) const {
  QElapsedTimer clock;
  clock.start();
  // Waiting for the pump: read by the capture, or in the queue of a port
  // it does not read.
  auto waiting = [port] {
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      SioLineCounts counts;
      if (hex_capture_line_counts(side, &counts) == port)
        return int(hex_capture_waiting(side));
    }
    return SioRxQue(port);
  };
  while (waiting() < count) {
    if (clock.elapsed() > timeoutMs)
      return false;
    QThread::msleep(2);
  }
  return true;
}

std::vector<uint8_t> WindowTest::configBytes() const {
  return readFileBytes(dir_.file(HEX_CFG_NAME));
}

std::string WindowTest::startLogging(const char *name) {
  const std::string path = dir_.file(name);
  dlg_set_file_dialog_hook([path](bool, std::string &chosen) {
    chosen = path;
    return true;
  });
  dlg_user_click(window_, IDC_LOG);
  EXPECT_EQ(hex_log, 1);
  return path;
}
