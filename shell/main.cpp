// kestrelon: the monitor's executable.
#include "shell/options.h"
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
  // The command line first: help, version and a wrong line need no display.
  const WinParsed parsed = win_parse_options(argc, argv);
  switch (parsed.command) {
  case WinCommand::Help:
    std::fputs(win_usage().c_str(), stdout);
    return 0;
  case WinCommand::Version:
    std::fputs(win_version().c_str(), stdout);
    return 0;
  case WinCommand::Error:
    std::fprintf(stderr, "%s\n%s\n", parsed.error.c_str(), WIN_TRY_HELP);
    return WIN_EXIT_USAGE;
  case WinCommand::Run:
    break;
  }

  std::string why;
  if (!win_display_available(why)) {
    std::fprintf(stderr, kNoDisplay, why.c_str());
    return 1;
  }
  win_set_start_options(parsed.options);

  // Qt is given the program's name alone: every argument has been read as
  // the monitor's own.
  int qtArgc = 1;
  QtMessageHandler previous = qInstallMessageHandler(onQtMessage);
  QApplication application(qtArgc, argv);
  qInstallMessageHandler(previous);

  // The line goes to WinMain as it would on the platform the monitor comes
  // from; the options have been taken from it already.
  std::string commandLine;
  for (int i = 0; i < argc; ++i) {
    if (i)
      commandLine += ' ';
    commandLine += argv[i];
  }
  std::string rest = win_skip_program_name(commandLine.c_str());
  return WinMain(nullptr, nullptr, rest.data(), SW_SHOWNORMAL);
}
