// Comm Port lists benchmark: what a look at the sixteen entries' devices
// costs the window's thread, as each hot-plug notice makes one.
//
//   cmake --build build --target bench_ports
//   QT_QPA_PLATFORM=offscreen ./build/bench/ports/bench_ports [looks]
//
// (default 2000). COM1 and COM2 are pseudo-terminals, the others the
// machine's defaults (udev asked where it runs). First nothing changes
// between looks; then every entry's device changes at each look (the
// sixteen entries of both lists shown anew). Last lines:
//   ports <case>: <n> looks, mean <us> us, 99% within <us> us, longest <us> us
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "hex/hex.h"
#include "shell/shell.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <pty.h>
#include <string>
#include <vector>

namespace {

void measure(HWND window, const char *name, int looks, bool change) {
  std::vector<qint64> took;
  QElapsedTimer clock;
  for (int i = 0; i < looks; ++i) {
    if (change)
      for (int port = 2; port < HEX_PORTS; ++port)
        SioMapDevice(port,
                     ((i % 2 ? "/dev/ttyUSB" : "/dev/ttyACM") + std::to_string(port)).c_str());
    clock.start();
    hex_ports_show(window);
    took.push_back(clock.nsecsElapsed());
    QCoreApplication::processEvents();
  }
  std::sort(took.begin(), took.end());
  double total = 0;
  for (qint64 ns : took)
    total += double(ns);
  // The longest also counts the times the system let another process run.
  std::printf("ports %s: %d looks, mean %.1f us, 99%% within %.1f us, longest %.1f us\n", name,
              looks, total / looks / 1000.0, double(took[took.size() * 99 / 100]) / 1000.0,
              double(took.back()) / 1000.0);
}

}  // namespace

int main(int argc, char **argv) {
  const int looks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  if (bench_scratch_dir("bench_ports").empty())
    return 1;
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    int master = -1, slave = -1;
    char path[256];
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0) {
      std::perror("bench_ports: openpty");
      return 1;
    }
    close(slave);
    SioMapDevice(side, path);
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  HWND window = dlg_create(DialogFunc);
  measure(window, "nothing changing", looks, false);
  measure(window, "every entry changing", looks, true);
  hex_quit(window);
  dlg_destroy(window);
  return 0;
}
