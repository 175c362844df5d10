// kestrelon: the monitor's executable.
#include "shell/shell.h"

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const char kNoDisplay[] =
    "kestrelon: cannot open a window: %s.\n"
    "Start it from a desktop session, or without a screen under a virtual one:\n"
    "  xvfb-run -a kestrelon\n";

// Qt ends the process when its platform plugin cannot connect to the
// display; say why in plain words and leave without a crash.
void onQtMessage(QtMsgType type, const QMessageLogContext &, const QString &message) {
  const QByteArray text = message.toLocal8Bit();
  std::fprintf(stderr, "%s\n", text.constData());
  if (type == QtFatalMsg) {
    std::fprintf(stderr, kNoDisplay, "the display could not be opened");
    std::fflush(stderr);
    _exit(1);
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::string why;
  if (!win_display_available(why)) {
    std::fprintf(stderr, kNoDisplay, why.c_str());
    return 1;
  }

  QtMessageHandler previous = qInstallMessageHandler(onQtMessage);
  QApplication application(argc, argv);
  qInstallMessageHandler(previous);

  // The program takes no arguments; the line goes to WinMain as it would
  // on the platform the monitor comes from.
  std::string commandLine;
  for (int i = 0; i < argc; ++i) {
    if (i)
      commandLine += ' ';
    commandLine += argv[i];
  }
  std::string rest = win_skip_program_name(commandLine.c_str());
  return WinMain(nullptr, nullptr, rest.data(), SW_SHOWNORMAL);
}
