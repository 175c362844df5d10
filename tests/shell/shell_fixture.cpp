#include "tests/shell/shell_fixture.h"

#include "dlg/dlg_window.h"
#include "pane/pane_view.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <climits>
#include <unistd.h>

std::vector<RecordedMessage> ShellTest::recorded;

namespace {

int recordingProc(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  ShellTest::recorded.push_back({message, wParam});
  return DialogFunc(window, message, wParam, lParam);
}

}  // namespace

void processEventsFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool processEventsUntilImpl(const std::function<bool()> &done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs)
      return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void ShellTest::SetUp() {
  dir_ = std::make_unique<TempDir>();
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  oldCwd_ = cwd;
  ASSERT_EQ(chdir(dir_->path().c_str()), 0);
  com1_.mapTo(0);
  com2_.mapTo(1);
  recorded.clear();
  boxes_.clear();
  dlg_set_message_box_hook([this](const std::string &text, const std::string &caption) {
    boxes_.emplace_back(text, caption);
  });
}

void ShellTest::start() {
  window_ = dlg_create(recordingProc);
  ASSERT_NE(window_, nullptr);
}

void ShellTest::finish() {
  if (!window_)
    return;
  if (!dlg_ended(window_, nullptr)) {
    hex_quit(window_);
    dlg_end(window_, 0);
  }
  dlg_destroy(window_);
  window_ = nullptr;
}

void ShellTest::TearDown() {
  finish();
  dlg_set_message_box_hook(nullptr);
  dlg_set_file_dialog_hook(nullptr);
  if (!oldCwd_.empty()) {
    EXPECT_EQ(chdir(oldCwd_.c_str()), 0);
  }
  dir_.reset();
}

std::string ShellTest::paneText() const {
  DisplayPane *pane = window_->pane();
  return pane ? pane->model().text() : std::string();
}

int ShellTest::commandsFor(int id, unsigned notification) const {
  int count = 0;
  for (const RecordedMessage &m : recorded)
    if (m.message == WM_COMMAND && LOWORD(m.wParam) == unsigned(id) &&
        HIWORD(m.wParam) == notification)
      ++count;
  return count;
}

bool ShellTest::waitForQueue(int port, int count, int timeoutMs) const {
  QElapsedTimer clock;
  clock.start();
  while (SioRxQue(port) < count) {
    if (clock.elapsed() > timeoutMs)
      return false;
    QThread::msleep(2);
  }
  return true;
}

std::vector<uint8_t> ShellTest::configBytes() const {
  return readFileBytes(dir_->file("kestrelon.cfg"));
}
