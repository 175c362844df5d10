// Receive pump benchmark: both ports flooded through pseudo-terminals with
// no rate limit, every view, the log on, the Time view off and on, the
// window's thread kept busy; then the Hexadecimal view alone into the log;
// then requests on Port A answered on Port B 1 ms later.
//
//   cmake --build build --target bench_pump
//   QT_QPA_PLATFORM=offscreen ./build/bench/pump/bench_pump [seconds per case] [view]
//
// (default 3 seconds; all views, or the one numbered 0 to 6; a number past
// them, e.g. 9, runs none: `bench_pump 0.5 9` gives the flood into the log
// and the order alone).
//
// The real window (offscreen, shown, so the pane paints as on a screen) with
// its own dialog procedure and timers; COM1 and COM2 are pseudo-terminals
// whose far ends are written by two child processes as fast as the line
// discipline takes the bytes (random bytes, the same for every case). Each
// case runs half a second to settle, then `seconds` measured: bytes read
// from each port per second (kB = 1000 bytes), the monitor process's CPU
// time (user and system, the writers are other processes) per second of
// wall time, bytes lost (read but neither logged nor waiting), pieces taken
// out of the order of their stamps. "Busy": the window's thread is held
// 30 ms of every 60 ms. The machine's load average is printed before and
// after. The lines the targets are about:
//   capture: absorbed <kB/s> per port (worst view), cpu <s/s>, dropped <n>, order errors <n>
//     under a busy window                      (>= 1,200 kB/s, <= 0.5 s/s, 0, 0)
//   capture flood: <kB/s> per port into the log, pane behind by <bytes>   (>= 6,000 kB/s)
//   order: <n> of 5000 replies after their request at 1 ms     (>= 4,995)
// and what taking a port from the capture thread and giving it back (a
// transfer's start and end) costs the window under the flood.
#include "bench/bench_flood.h"
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "shell/shell.h"

#include <QApplication>

#include <algorithm>
#include <cctype>
#include <vector>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>
#include <thread>
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

constexpr int kRequests = 5000;

// A child that, once a byte comes on `go`, writes request k to `a` and its
// answer to `b` 1 ms later, 1 ms apart, kRequests times.
pid_t start_responder(int a, int b, int go) {
  const pid_t child = fork();
  if (child != 0)
    return child;
  char byte;
  if (read(go, &byte, 1) != 1)
    _exit(1);
  for (int k = 0; k < kRequests; ++k) {
    const std::string request = "q" + std::to_string(k) + ";", answer = "r" + std::to_string(k) + ";";
    if (write(a, request.data(), request.size()) < 0)
      _exit(1);
    usleep(1000);
    if (write(b, answer.data(), answer.size()) < 0)
      _exit(1);
    usleep(1000);
  }
  _exit(0);
}

// Answers found after their request in a log's text. One pass: the log
// holds megabytes of the flood, too much to search once per request.
int answers_in_place(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string log = text.str();
  constexpr size_t kNone = std::string::npos;
  std::vector<size_t> first[2] = {std::vector<size_t>(kRequests, kNone),
                                  std::vector<size_t>(kRequests, kNone)};
  for (size_t at = 0; at < log.size(); ++at) {
    if (log[at] != 'q' && log[at] != 'r')
      continue;
    size_t end = at + 1;
    int k = 0;
    for (; end < log.size() && end - at <= 5 && std::isdigit(static_cast<unsigned char>(log[end]));
         ++end)
      k = k * 10 + (log[end] - '0');
    if (end == at + 1 || end >= log.size() || log[end] != ';' || k >= kRequests)
      continue;
    size_t &slot = first[log[at] == 'r' ? 1 : 0][size_t(k)];
    slot = std::min(slot, at);
  }
  int in_place = 0;
  for (int k = 0; k < kRequests; ++k)
    in_place += first[0][size_t(k)] != kNone && first[1][size_t(k)] != kNone &&
                first[0][size_t(k)] < first[1][size_t(k)];
  return in_place;
}

}  // namespace

int main(int argc, char **argv) {
  const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 3.0;
  const int only = argc > 2 ? std::atoi(argv[2]) : -1;
  // The far ends first: the writers are forked before any thread exists.
  BenchFar far[2] = {bench_flooded_pair(random_block(1), 4093),
                     bench_flooded_pair(random_block(2), 4093)};
  BenchFar asked = bench_raw_pair(), answered = bench_raw_pair();
  int go[2];
  if (pipe(go) != 0)
    return 1;
  const pid_t responder = start_responder(asked.master, answered.master, go[0]);
  const std::string dir = bench_scratch_dir("bench_pump");
  if (dir.empty())
    return 1;
  bench_use_far_ends(far, "bench_pump");
  QApplication app(argc, argv);
  std::printf("load average before: %s\n", bench_load_average().c_str());
  HWND window = dlg_create(DialogFunc);

  const std::string log = dir + "/flood.htm";
  double lowest = 1e30, highest_cpu = 0;
  uint64_t dropped = 0, order_errors = 0;
  for (int view = HEX_VIEW_HEXADECIMAL; view <= HEX_VIEW_TERMINAL; ++view) {
    if (only >= 0 && view != only)
      continue;
    dlg_user_choose(window, IDC_VIEW, view);
    for (bool time : {false, true}) {
      if (time && view == HEX_VIEW_TERMINAL)
        continue;  // the Time view is off there
      if ((hex_time.on != 0) != time)
        dlg_user_click(window, IDC_TIME);
      hex_log_open_file(window, log.c_str());
      const BenchCase result = bench_measure(window, seconds, true);
      dlg_user_click(window, IDC_NO_LOG);
      std::printf("%-11s Time %-3s: absorbed %7.0f and %7.0f kB/s, cpu %.2f s/s, dropped %llu, "
                  "order errors %llu\n",
                  hex_view[view], time ? "on" : "off", result.rate[0] / 1000, result.rate[1] / 1000,
                  result.cpu, static_cast<unsigned long long>(result.dropped),
                  static_cast<unsigned long long>(result.order_errors));
      std::fflush(stdout);
      lowest = std::min({lowest, result.rate[0], result.rate[1]});
      highest_cpu = std::max(highest_cpu, result.cpu);
      dropped = std::max(dropped, result.dropped);
      order_errors += result.order_errors;
    }
  }
  if (lowest < 1e30)  // a view ran
    std::printf("capture: absorbed %.0f kB/s per port (worst view), cpu %.2f s/s, dropped %llu, "
                "order errors %llu under a busy window\n",
                lowest / 1000, highest_cpu, static_cast<unsigned long long>(dropped),
                static_cast<unsigned long long>(order_errors));
  std::fflush(stdout);

  dlg_user_choose(window, IDC_VIEW, HEX_VIEW_HEXADECIMAL);
  if (hex_time.on)
    dlg_user_click(window, IDC_TIME);
  hex_log_open_file(window, log.c_str());
  const BenchCase flood = bench_measure(window, seconds);
  dlg_user_click(window, IDC_NO_LOG);
  std::printf("capture flood: %.0f kB/s per port into the log, pane behind by %llu bytes\n",
              std::min(flood.logged[0], flood.logged[1]) / 1000,
              static_cast<unsigned long long>(std::max(flood.not_shown[0], flood.not_shown[1])));
  std::fflush(stdout);

  // What a transfer's start and end cost the window under the flood: COM1
  // taken from the capture thread and given back, every 20 ms, timed.
  double longest_ms = 0, total_ms = 0;
  int hand_overs = 0;
  QTimer toggle;
  QObject::connect(&toggle, &QTimer::timeout, [&] {
    hex_xmodem_busy = !hex_xmodem_busy;  // COM1 is the send port
    const auto begin = std::chrono::steady_clock::now();
    hex_capture_sync(window);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    longest_ms = std::max(longest_ms, ms);
    total_ms += ms;
    ++hand_overs;
  });
  toggle.start(20);
  bench_run_events_for(seconds);
  toggle.stop();
  hex_xmodem_busy = 0;
  hex_capture_sync(window);
  std::printf("hand-over under the flood: %d, mean %.3f ms, longest %.2f ms\n", hand_overs,
              total_ms / std::max(hand_overs, 1), longest_ms);
  std::fflush(stdout);

  // The order: the flooded ports give way to the responder's.
  for (BenchFar &end : far)
    bench_far_stop(end);
  SioMapDevice(2, asked.slave.c_str());
  SioMapDevice(3, answered.slave.c_str());
  dlg_user_choose(window, IDC_PORT_A, 2);
  dlg_user_choose(window, IDC_PORT_B, 3);
  dlg_user_choose(window, IDC_VIEW, HEX_VIEW_ASCII);
  const std::string order_log = dir + "/order.htm";
  hex_log_open_file(window, order_log.c_str());
  QTimer hold;
  QObject::connect(&hold, &QTimer::timeout, [] { usleep(30000); });
  hold.start(60);
  if (!hex_obj[HEX_SIDE_A].open || !hex_obj[HEX_SIDE_B].open)
    std::fprintf(stderr, "bench_pump: the responder's ports did not open\n");
  (void)!write(go[1], "g", 1);
  // The window runs (busy) while the responder works, 60 s at most.
  for (int waited = 0; waited < 600 && waitpid(responder, nullptr, WNOHANG) == 0; ++waited)
    bench_run_events_for(0.1);
  kill(responder, SIGTERM);
  waitpid(responder, nullptr, 0);
  bench_run_events_for(1.0);
  hold.stop();
  dlg_user_click(window, IDC_NO_LOG);
  std::printf("order: %d of %d replies after their request at 1 ms, busy window\n",
              answers_in_place(order_log), kRequests);
  std::fflush(stdout);
  hex_quit(window);
  dlg_destroy(window);
  close(asked.master);
  close(answered.master);
  std::filesystem::remove_all(dir);
  std::printf("load average after: %s\n", bench_load_average().c_str());
  return 0;
}
