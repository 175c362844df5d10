// Renders the monitor's window with a little traffic into a PNG, for the
// README. Run by hand (headless):
//   QT_QPA_PLATFORM=offscreen build/tests/shell/shell_screenshot docs/screenshot.png
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "shell/shell.h"
#include "support/pty_pair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <cstdio>
#include <unistd.h>

namespace {

void runEventsFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s output.png\n", argv[0]);
    return 2;
  }
  const std::string output =
      argv[1][0] == '/' ? argv[1] : std::string(get_current_dir_name()) + "/" + argv[1];
  QApplication application(argc, argv);
  TempDir dir;
  if (chdir(dir.path().c_str()) != 0)
    return 1;
  PtyPair com1;
  PtyPair com2;
  com1.mapTo(0);
  com2.mapTo(1);
  HWND window = dlg_create(DialogFunc);

  // A request on COM1 and its answer on COM2, then a message sent by hand.
  com1.send(std::vector<uint8_t>{0x7E, 0xFF, 0x03, 0xC0, 0x21, 0x01, 0x01, 0x00, 0x0E, 0x7E});
  runEventsFor(200);
  com2.send(std::vector<uint8_t>{0x7E, 0xFF, 0x03, 0xC0, 0x21, 0x02, 0x01, 0x00, 0x0E, 0x7E});
  runEventsFor(200);
  dlg_user_type(window, IDC_MESSAGE, "7E FF 03 C0 21 09 02 00 08 7E");
  dlg_user_click(window, IDC_SEND);
  runEventsFor(200);
  com2.send(std::string("ATI\r\nKestrelon test modem\r\nOK\r\n"));
  runEventsFor(300);

  const bool saved = window->grab().save(QString::fromLocal8Bit(output.c_str()), "PNG");
  hex_quit(window);
  dlg_end(window, 0);
  dlg_destroy(window);
  if (!saved) {
    std::fprintf(stderr, "could not write %s\n", output.c_str());
    return 1;
  }
  return 0;
}
