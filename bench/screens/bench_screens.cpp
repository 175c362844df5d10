// Terminal view benchmark: both ports flooded through pseudo-terminals with
// a full-screen redraw stream, the screens shown and painted.
//
//   cmake --build build --target bench_screens
//   QT_QPA_PLATFORM=offscreen ./build/bench/screens/bench_screens [seconds]   (default 5)
//
// The real window (offscreen, shown) in the Terminal view with its own
// dialog procedure, timers and readiness messages; COM1 and COM2 are
// pseudo-terminals whose far ends two child processes write as fast as the
// line discipline takes the bytes. The stream is what a full-screen program
// sends to repaint: cursor home, then 24 rows each addressed with
// ESC [ r ; 1 H, in changing colours (SGR 3x, bold, reverse), each row's
// text different from the last frame's, erased to its end; a frame is
// about 2.3 kB. The pump holds a side that has a run's share waiting, so
// what the monitor absorbs is what it shows. After half a second to settle,
// `seconds` are measured: bytes read from each port per second (kB = 1000
// bytes), the monitor process's CPU time (user and system) per second of
// wall time, bytes the display dropped, and the load average before and
// after (other work on the two cores disturbs the figures). Last line:
//   terminal view: <x> kB/s per port, cpu <c> s/s
// with the lower port's rate. Targets: x >= 1,000 at c <= 0.5.
#include "bench/bench_flood.h"
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_screens.h"
#include "resources/ids.h"
#include "shell/shell.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// 64 frames of the redraw stream, back to back.
std::string redraw_frames(int seed) {
  std::string out;
  for (int frame = 0; frame < 64; ++frame) {
    out += "\x1b[H";
    for (int row = 1; row <= 24; ++row) {
      out += "\x1b[" + std::to_string(row) + ";1H\x1b[" +
             std::to_string(31 + (row + frame + seed) % 7) + (row % 5 == 0 ? ";1" : "") +
             (row % 7 == 0 ? ";7" : "") + "m";
      for (int column = 0; column < 78; ++column)
        out += char('!' + (row * 3 + column + frame + seed) % 94);
      out += "\x1b[0m\x1b[K";
    }
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 5.0;
  // The far ends first: the writers are forked before any thread exists.
  BenchFar far[2] = {bench_flooded_pair(redraw_frames(1), 4096),
                     bench_flooded_pair(redraw_frames(2), 4096)};
  const std::string dir = bench_scratch_dir("bench_screens");
  if (dir.empty())
    return 1;
  bench_use_far_ends(far, "bench_screens");
  QApplication app(argc, argv);
  std::printf("load average before: %s\n", bench_load_average().c_str());
  HWND window = dlg_create(DialogFunc);
  window->show();
  dlg_user_choose(window, IDC_VIEW, HEX_VIEW_TERMINAL);
  const BenchCase result = bench_measure(window, seconds);
  const TerminalScreens *screens = window->screens();
  std::printf("Port A %.0f kB/s, Port B %.0f kB/s; screens %dx%d, shown %s; dropped %llu\n",
              result.rate[0] / 1000, result.rate[1] / 1000, screens->columns(0), screens->rows(0),
              screens->isVisible() ? "yes" : "NO", static_cast<unsigned long long>(result.dropped));
  std::printf("row 1 of Port A: %s\n", screens->text(0, 0, 0).c_str());

  hex_quit(window);
  dlg_destroy(window);
  for (BenchFar &end : far)
    bench_far_stop(end);
  std::filesystem::remove_all(dir);
  std::printf("load average after: %s\n", bench_load_average().c_str());
  std::printf("terminal view: %.0f kB/s per port, cpu %.2f s/s\n",
              std::min(result.rate[0], result.rate[1]) / 1000, result.cpu);
  return 0;
}
