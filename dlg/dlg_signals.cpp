// Shutdown, Ctrl+C and hang-up become a close request of the running dialog,
// handled on the GUI thread like the close box.
#include "dlg/dlg.h"
#include "dlg/dlg_window.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  // Nothing else is safe in a handler; a full pipe already holds a request.
  [[maybe_unused]] ssize_t written = write(g_signalPipe[1], &number, 1);
  errno = saved;
}

}  // namespace

void dlg_close_on_signals() {
  if (g_signalPipe[0] >= 0)
    return;
  if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return;
  auto *notifier =
      new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    unsigned char numbers[64];
    while (read(g_signalPipe[0], numbers, sizeof numbers) > 0) {
    }
    if (DlgWindow *window = dlg_current(); window && !window->ended()) {
      if (!window->send(WM_CLOSE, 0, 0))
        window->command(IDCANCEL, BN_CLICKED);
    }
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signal, &action, nullptr);
}
