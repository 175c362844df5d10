// HTML log benchmark: what logging adds to a receive-pump tick at the pump's
// ceiling, both ports delivering 8192 bytes each per run.
//
//   cmake --build build --target bench_log
//   ./build/bench/log/bench_log [runs]   (default 300 per view and log state)
//
// The real window (offscreen, no port opened) and the real monitor core. A
// tick is what the GUI thread does for one pump run, as the pane benchmark
// counts it: the run hands Port A's and then Port B's 8192 random bytes to
// the view's routine, which puts them into the pane and, with a log open,
// the log; the run ends with the log's flush, as the pump's does; then the
// pane is painted once. Reading the ports is left out: it costs the same
// with and without a log. Views: Hexadecimal and ASCII. Log off and on
// alternate in blocks of 25 runs, and the pane is emptied before each block,
// so both see the same pane. Times are process CPU time (user and system:
// the log's writes included), medians. The log file goes to a fresh
// directory under /tmp. Prints, per view, the median tick and the median run
// alone (without the paint) without and with the log, their ratios, the
// log's bytes per byte received, and what writing that many bytes to a file
// costs by itself; as the last line the worse of the two views:
//   log: tick with/without <r>, bytes written per byte received <n>
// Target: r <= 1.3.
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "shell/shell.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRunBytes = WIN_RX_CHUNK;  // each port's bytes in one run
constexpr int kBlockRuns = 25;

double cpuMicros() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
  return v[v.size() / 2];
}

struct ViewResult {
  double ratio, bytesPerByte;
};

ViewResult runView(HWND window, int view, const char *name, int runs, const std::string &dir) {
  dlg_user_choose(window, IDC_VIEW, view);
  std::mt19937 random(7);
  // A few different chunks, so no run sees the same bytes as the last.
  std::vector<std::string> chunks(8, std::string(kRunBytes, '\0'));
  for (std::string &chunk : chunks)
    for (char &c : chunk)
      c = char(random() & 0xFF);
  static char buffer[WIN_RX_BUFFER];
  HexWindowSink sink(window);

  const std::string logPath = dir + "/" + name + ".htm";
  dlg_set_file_dialog_hook([logPath](bool, std::string &path) {
    path = logPath;
    return true;
  });

  DisplayPane *pane = window->pane();
  QImage image(pane->size(), QImage::Format_RGB32);
  std::vector<double> without, with, runWithout, runWith;
  long long received = 0;
  int next = 0;
  for (int block = 0; block * kBlockRuns < runs; ++block) {
    for (bool logging : {false, true}) {
      dlg_pane_set_text(window, IDC_PANE, "", 0);
      if (logging && hex_log == 0)
        hex_log_open(window);
      for (int i = 0; i < kBlockRuns; ++i) {
        const double start = cpuMicros();
        for (int port = 0; port < 2; ++port) {
          const std::string &chunk = chunks[size_t(next++) % chunks.size()];
          std::copy(chunk.begin(), chunk.end(), buffer);
          buffer[kRunBytes] = '\0';
          hex_show_received(hex_view_mode, hex_obj[port], port, 0, buffer, kRunBytes, sink);
        }
        hex_log_flush();
        const double ran = cpuMicros();
        {
          QPainter painter(&image);
          pane->render(&painter);
        }
        (logging ? runWith : runWithout).push_back(ran - start);
        (logging ? with : without).push_back(cpuMicros() - start);
        if (logging)
          received += 2 * kRunBytes;
      }
      // Closed after each block and emptied when opened for the next, so
      // the file ends holding one block's records.
      if (logging)
        hex_log_close(window);
    }
  }
  const double oneBlock = double(std::filesystem::file_size(logPath)) -
                          double(sizeof HEX_LOG_HEADER - 1 + sizeof HEX_LOG_TRAILER - 1);
  const double bytesPerByte = oneBlock / double(kBlockRuns * 2 * kRunBytes);
  const double off = median(without), on = median(with);
  const double runOff = median(runWithout), runOn = median(runWith);
  std::printf(
      "%s: %zu runs each; median tick without log %.0f us, with log %.0f us, "
      "ratio %.2f\n",
      name, without.size(), off, on, on / off);
  std::printf(
      "%s: the run alone (no paint): without log %.0f us, with log %.0f us, "
      "ratio %.2f\n",
      name, runOff, runOn, runOn / runOff);
  std::printf("%s: log %.2f bytes per byte received (%lld bytes received with log on)\n", name,
              bytesPerByte, received);
  // The file system's share: the same amount written and flushed per run,
  // without any formatting.
  const std::string plainPath = dir + "/plain.bin";
  std::FILE *plain = std::fopen(plainPath.c_str(), "wb");
  const std::string runOfLog(size_t(bytesPerByte * 2 * kRunBytes), 'x');
  std::vector<double> writes;
  for (int i = 0; i < runs; ++i) {
    const double start = cpuMicros();
    std::fwrite(runOfLog.data(), 1, runOfLog.size(), plain);
    std::fflush(plain);
    writes.push_back(cpuMicros() - start);
  }
  std::fclose(plain);
  std::remove(plainPath.c_str());
  std::printf("%s: writing a run's %zu bytes of log to a file, nothing else: %.0f us\n", name,
              runOfLog.size(), median(writes));
  return {on / off, bytesPerByte};
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  const int runs = argc > 1 ? std::max(kBlockRuns, std::atoi(argv[1])) : 300;
  const std::string dir = bench_scratch_dir("bench_log");
  if (dir.empty())
    return 1;
  QApplication app(argc, argv);
  dlg_set_message_box_hook([](const std::string &text, const std::string &caption) {
    std::fprintf(stderr, "bench_log: %s: %s\n", caption.c_str(), text.c_str());
  });
  HWND window = dlg_create(DialogFunc);
  dlg_kill_timer(window, TIMER_PUMP);  // runs are driven here

  const ViewResult hex = runView(window, HEX_VIEW_HEXADECIMAL, "Hexadecimal", runs, dir);
  const ViewResult ascii = runView(window, HEX_VIEW_ASCII, "ASCII", runs, dir);

  hex_quit(window);
  dlg_destroy(window);
  std::filesystem::remove_all(dir);
  std::printf("log: tick with/without %.2f, bytes written per byte received %.2f\n",
              std::max(hex.ratio, ascii.ratio), std::max(hex.bytesPerByte, ascii.bytesPerByte));
  return 0;
}
