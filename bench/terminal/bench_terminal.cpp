// ANSI terminal benchmark: the parser alone and the parser with the screen
// updates on the real window's pane, at the receive pump's ceiling, then an
// hour's worth of full-screen redraws.
//
//   cmake --build build --target bench_terminal
//   QT_QPA_PLATFORM=offscreen ./build/bench/terminal/bench_terminal [redraws]   (default 72000)
//
// Times are process CPU time. The pump reads at most 8192 bytes per port and
// run, every 50 ms: that is the ceiling. The mixed traffic is a screen
// program's: each 8192-byte run clears the screen, then positions lines with
// ESC [ d d ; d d, writes text, erases to the line's end, moves the caret
// with the cursor keys and BS, and ends lines with CR LF.
//
// Redraws: each run is what a full-screen program sends to repaint: ESC [ 2 J,
// then 25 lines of 80 characters, each positioned with ESC [ d d ; 0 0 H. One
// run every 50 ms for an hour is 72,000 runs; they go through as fast as they
// can; between two runs the window's events are handled (the pane paints),
// as between two ticks of the pump, timed apart. Printed: microseconds per
// redraw in the first and the last tenth (medians of batches of 1000, which
// a busy machine disturbs less than means), the pane's lines, characters and
// memory and the process's resident memory early and late. Last line:
//   terminal: parse <x> times the pump ceiling, apply late/early <r>
// x: 50 ms over the parser's time for 8192 bytes of the mixed traffic;
// r: the late redraw time over the early one. Targets: x >= 100, r <= 1.2.
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "shell/shell.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRunBytes = 8192;  // the pump's most per port and run
constexpr double kRunMs = 50.0;  // the pump's period
constexpr int kBatch = 1000;     // redraws per timed batch
constexpr int kScreenColumns = 80;

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

long resident_kib() {
  long pages = 0, resident = 0;
  if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
      resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string two_digits(int n) {
  char text[3];
  std::snprintf(text, sizeof text, "%02d", n % 100);
  return text;
}

// One run of a screen program's output, exactly kRunBytes long.
std::string mixed_run(int seed) {
  std::string run = "\x1b[2J";
  int line = 0;
  while (run.size() < size_t(kRunBytes)) {
    run += "\x1b[" + two_digits(line % 25) + ";" + two_digits((line * 7) % 40) + "H";
    for (int i = 0; i < 50; ++i)
      run += char('A' + (seed + line + i) % 26);
    run += "\x1b[K\x1b[A\x1b[C\b\b\x1b[B\x1bOQ";
    run += "status " + std::to_string(line) + "\r\n";
    ++line;
  }
  run.resize(size_t(kRunBytes));
  return run;
}

std::string redraw_run() {
  std::string run = "\x1b[2J";
  for (int line = 0; line < 25; ++line) {
    run += "\x1b[" + two_digits(line) + ";00H";
    for (int column = 0; column < kScreenColumns; ++column)
      run += char('!' + (line + column) % 90);
  }
  return run;
}

// Counts what the parser gives, so nothing is optimised away.
struct CountingSink final : HexSink {
  long text = 0, actions = 0;
  void show(int, const char *, int length) override { text += length; }
  void ansi_key(int) override { ++actions; }
  void ansi_home() override { ++actions; }
  void ansi_line_end() override { ++actions; }
  void ansi_clear_to_end() override { ++actions; }
  void ansi_clear_to_line_end() override { ++actions; }
  void ansi_clear_line() override { ++actions; }
  void ansi_clear_all() override { ++actions; }
  void ansi_goto(int, int) override { ++actions; }
};

// Hands one run to the ANSI view as the pump does: into its buffer, parsed in
// place.
void receive(HWND window, const std::string &run) {
  static std::vector<char> buffer(static_cast<size_t>(WIN_RX_BUFFER));
  std::copy(run.begin(), run.end(), buffer.begin());
  buffer[run.size()] = '\0';
  HexWindowSink sink(window);
  hex_show_received(HEX_VIEW_ANSI, hex_obj[HEX_SIDE_A], 0, 0, buffer.data(), int(run.size()), sink);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  const long redraws = argc > 1 ? std::atol(argv[1]) : 72000;
  // No device is touched: every COM port names one that is not there.
  for (int port = 1; port <= HEX_PORTS; ++port)
    setenv(("KESTRELON_COM" + std::to_string(port)).c_str(), "/nonexistent/kestrelon-bench", 1);
  QApplication app(argc, argv);

  // --- The parser alone ---------------------------------------------------------
  std::vector<std::string> runs;
  for (int i = 0; i < 8; ++i)
    runs.push_back(mixed_run(i));
  std::vector<char> out(size_t(kRunBytes) + 1);
  hex_obj_t record{};
  CountingSink counter;
  const int parseRuns = 20000;
  double start = cpu_seconds();
  for (int i = 0; i < parseRuns; ++i) {
    const std::string &run = runs[size_t(i) % runs.size()];
    hex_parse_ansi(record, 0, run.data(), out.data(), kRunBytes, counter);
  }
  const double parseRunMs = (cpu_seconds() - start) * 1e3 / parseRuns;
  std::printf("parse: %.1f us per 8192-byte run (%ld text bytes, %ld actions per run)\n",
              parseRunMs * 1e3, counter.text / parseRuns, counter.actions / parseRuns);

  // --- With the screen updates on the window's pane -------------------------------
  HWND window = dlg_create(DialogFunc);
  if (!window) {
    std::fprintf(stderr, "no window\n");
    return 1;
  }
  dlg_user_choose(window, IDC_VIEW, HEX_VIEW_ANSI);
  DisplayPane *pane = window->pane();
  // Between runs the window's events are handled (the pane paints), as
  // between two ticks of the pump; that time is not counted.
  const int applyRuns = 400;
  double applied = 0;
  for (int i = 0; i < applyRuns; ++i) {
    start = cpu_seconds();
    receive(window, runs[size_t(i) % runs.size()]);
    applied += cpu_seconds() - start;
    QCoreApplication::processEvents();
  }
  const double applyRunMs = applied * 1e3 / applyRuns;
  std::printf(
      "parse and apply: %.1f us per 8192-byte run, %.1f times the pump ceiling; "
      "pane %lld lines\n",
      applyRunMs * 1e3, kRunMs / applyRunMs, (long long)pane->model().lineCount());

  // --- An hour of full-screen redraws ---------------------------------------------
  const std::string redraw = redraw_run();
  std::vector<double> batchUs, paintUs;  // per redraw, one figure a batch
  long earlyKib = 0;
  std::size_t earlyPaneBytes = 0;
  bool oneScreen = true;
  for (long done = 0; done < redraws;) {
    const long n = std::min<long>(kBatch, redraws - done);
    double receiving = 0, painting = 0;
    for (long i = 0; i < n; ++i) {
      start = cpu_seconds();
      receive(window, redraw);
      const double received = cpu_seconds();
      QCoreApplication::processEvents();
      receiving += received - start;
      painting += cpu_seconds() - received;
    }
    batchUs.push_back(receiving * 1e6 / double(n));
    paintUs.push_back(painting * 1e6 / double(n));
    done += n;
    oneScreen = oneScreen && pane->model().lineCount() == HEX_SCREEN_LINES &&
                pane->model().length() == HEX_SCREEN_LINES * kScreenColumns + 24;
    if (batchUs.size() == 2) {
      earlyKib = resident_kib();
      earlyPaneBytes = pane->model().memoryBytes();
    }
  }
  const size_t tenth = std::max<size_t>(1, batchUs.size() / 10);
  // The first batch warms up; the early figure is taken after it.
  const size_t earlyFrom = batchUs.size() > 2 * tenth ? 1 : 0;
  const double early = median(std::vector<double>(batchUs.begin() + long(earlyFrom),
                                                  batchUs.begin() + long(earlyFrom + tenth)));
  const double late = median(std::vector<double>(batchUs.end() - long(tenth), batchUs.end()));
  std::printf(
      "redraws: %ld (%zu bytes each), early %.1f us, late %.1f us per redraw; "
      "painting early %.1f us, late %.1f us\n",
      redraws, redraw.size(), early, late,
      median(std::vector<double>(paintUs.begin() + long(earlyFrom),
                                 paintUs.begin() + long(earlyFrom + tenth))),
      median(std::vector<double>(paintUs.end() - long(tenth), paintUs.end())));
  std::printf("pane: %lld lines, %lld characters, %s after every batch; memory %zu -> %zu bytes\n",
              (long long)pane->model().lineCount(), (long long)pane->model().length(),
              oneScreen ? "one screen" : "NOT one screen", earlyPaneBytes,
              pane->model().memoryBytes());
  std::printf("resident: %ld KiB early, %ld KiB late\n", earlyKib, resident_kib());
  std::printf("terminal: parse %.0f times the pump ceiling, apply late/early %.2f\n",
              kRunMs / parseRunMs, late / early);
  dlg_destroy(window);
  return oneScreen ? 0 : 1;
}
