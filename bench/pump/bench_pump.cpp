// Receive pump benchmark: both ports flooded through pseudo-terminals with
// no rate limit, every view, the Time view off and on.
//
//   cmake --build build --target bench_pump
//   QT_QPA_PLATFORM=offscreen ./build/bench/pump/bench_pump [seconds per case] [view]
//
// (default 3 seconds; all views, or the one numbered 0 to 6).
//
// The real window (offscreen, shown, so the pane paints as on a screen) with
// its own dialog procedure, timers and readiness messages; COM1 and COM2 are
// pseudo-terminals whose far ends are written by two child processes as fast
// as the line discipline takes the bytes (random bytes, the same for every
// case). The pump holds a side that has a run's share waiting, so a writer
// with no rate limit is held at the pump's pace: what the monitor absorbs is
// what it shows. Each case runs half a second to settle, then `seconds`
// measured: bytes read from each port per second (kB = 1000 bytes), the
// monitor process's CPU time (user and system, the writers are other
// processes) per second of wall time, and the bytes the display dropped
// (counted by the capture rings). The pane is emptied before each case.
// The machine's load average is printed before and after: other work on
// the two cores disturbs the figures. Last line:
//   capture: absorbed <kB/s> per port, cpu <s/s>, dropped <n>
// with the lowest per-port rate and the highest CPU of all cases and the
// bytes dropped in all of them. Targets: >= 300 kB/s per port with both
// ports flooded, cpu <= 0.5 s/s, 0 dropped in the Hexadecimal view.
#include "bench/bench_flood.h"
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "shell/shell.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace {

// Random bytes, the same for every case.
std::string random_block(uint32_t seed) {
  std::mt19937 random(seed);
  std::string block(64 * 1024, '\0');
  for (char &b : block)
    b = char(random());
  return block;
}

}  // namespace

int main(int argc, char **argv) {
  const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 3.0;
  const int only = argc > 2 ? std::atoi(argv[2]) : -1;
  // The far ends first: the writers are forked before any thread exists.
  BenchFar far[2] = {bench_flooded_pair(random_block(1), 4093),
                     bench_flooded_pair(random_block(2), 4093)};
  const std::string dir = bench_scratch_dir("bench_pump");
  if (dir.empty())
    return 1;
  bench_use_far_ends(far, "bench_pump");
  QApplication app(argc, argv);
  std::printf("load average before: %s\n", bench_load_average().c_str());
  HWND window = dlg_create(DialogFunc);

  double lowest = 1e30, highest_cpu = 0;
  uint64_t dropped = 0;
  for (int view = HEX_VIEW_HEXADECIMAL; view <= HEX_VIEW_TERMINAL; ++view) {
    if (only >= 0 && view != only)
      continue;
    dlg_user_choose(window, IDC_VIEW, view);
    for (bool time : {false, true}) {
      if (time && view == HEX_VIEW_TERMINAL)
        continue;  // the Time view is off there
      if ((hex_time.on != 0) != time)
        dlg_user_click(window, IDC_TIME);
      const BenchCase result = bench_measure(window, seconds);
      std::printf("%-11s Time %-3s: absorbed %7.0f and %7.0f kB/s, cpu %.2f s/s, dropped %llu\n",
                  hex_view[view], time ? "on" : "off", result.rate[0] / 1000, result.rate[1] / 1000,
                  result.cpu, static_cast<unsigned long long>(result.dropped));
      std::fflush(stdout);
      lowest = std::min({lowest, result.rate[0], result.rate[1]});
      highest_cpu = std::max(highest_cpu, result.cpu);
      dropped += result.dropped;
    }
  }
  hex_quit(window);
  dlg_destroy(window);
  for (BenchFar &end : far)
    bench_far_stop(end);
  std::filesystem::remove_all(dir);
  std::printf("load average after: %s\n", bench_load_average().c_str());
  std::printf("capture: absorbed %.0f kB/s per port, cpu %.2f s/s, dropped %llu\n", lowest / 1000,
              highest_cpu, static_cast<unsigned long long>(dropped));
  return 0;
}
