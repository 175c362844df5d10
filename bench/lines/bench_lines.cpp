// Modem lines benchmark: what one reading of both sides' lines costs the
// window's thread.
//
//   cmake --build build --target bench_lines
//   QT_QPA_PLATFORM=offscreen ./build/bench/lines/bench_lines [readings]
//
// (default 2000). COM1 and COM2 are pseudo-terminals; the window (offscreen,
// its own dialog procedure) reads both sides as its 100 ms timer does, first
// on the pseudo-terminals themselves (no lines: every lamp unknown), then
// with a stand-in device behind the serial library whose CTS, DSR, DCD and
// RI all change at every reading (four events a side, lamps and tooltips
// shown anew each time). With KESTRELON_TEST_UART set, COM1 is that device
// instead. Last lines:
//   lines <case>: <n> readings of both sides, mean <us> us, 99% within <us> us, longest <us> us
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
#include <vector>

namespace {

int g_bits = 0;

const SioModemDevice kChanging = {
    [](int, int *bits) { return *bits = g_bits, 0; },
    [](int, int, bool) { return 0; },
    [](int, bool) { return 0; },
};

void measure(HWND window, const char *name, int readings, bool change) {
  std::vector<qint64> took;
  QElapsedTimer clock;
  for (int i = 0; i < readings; ++i) {
    if (change)
      g_bits ^= SIO_LINE_CTS | SIO_LINE_DSR | SIO_LINE_DCD | SIO_LINE_RI;
    clock.start();
    hex_lines_tick(window);
    took.push_back(clock.nsecsElapsed());
    QCoreApplication::processEvents();  // the pump shows the events meanwhile
  }
  std::sort(took.begin(), took.end());
  double total = 0;
  for (qint64 ns : took)
    total += double(ns);
  // The longest also counts the times the system let another process run.
  std::printf("lines %s: %d readings of both sides, mean %.1f us, 99%% within %.1f us, "
              "longest %.1f us\n",
              name, readings, total / readings / 1000.0, double(took[took.size() * 99 / 100]) / 1000.0,
              double(took.back()) / 1000.0);
}

}  // namespace

int main(int argc, char **argv) {
  const int readings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  if (bench_scratch_dir("bench_lines").empty())
    return 1;
  int masters[2];
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    int slave = -1;
    char path[256];
    if (openpty(&masters[side], &slave, path, nullptr, nullptr) != 0) {
      std::perror("bench_lines: openpty");
      return 1;
    }
    close(slave);
    SioMapDevice(side, path);
  }
  const char *uart = std::getenv("KESTRELON_TEST_UART");
  if (uart && *uart)
    SioMapDevice(HEX_SIDE_A, uart);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  HWND window = dlg_create(DialogFunc);
  measure(window, uart && *uart ? "uart and pseudo-terminal" : "pseudo-terminals", readings,
          false);
  SioSetModemDevice(&kChanging);
  measure(window, "every input changing", readings, true);
  SioSetModemDevice(nullptr);
  hex_quit(window);
  dlg_destroy(window);
  return 0;
}
