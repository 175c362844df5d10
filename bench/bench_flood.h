// What the window benchmarks that flood both ports share: pseudo-terminals
// whose far ends child processes write as fast as the line takes the bytes,
// the process's CPU time, the machine's load and running the window's
// events for a while.
#pragma once

#include "dlg/dlg.h"
#include "hex/hex.h"
#include "resources/ids.h"

#include <QByteArray>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

struct BenchFar {
  int master = -1;
  pid_t writer = -1;
  std::string slave;
};

// A raw pseudo-terminal; its master for the caller to write.
inline BenchFar bench_raw_pair() {
  BenchFar far;
  int slave = -1;
  char name[256] = {};
  if (openpty(&far.master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    std::exit(1);
  }
  termios raw{};
  tcgetattr(far.master, &raw);
  cfmakeraw(&raw);
  tcsetattr(far.master, TCSANOW, &raw);
  close(slave);
  far.slave = name;
  return far;
}

// A raw pseudo-terminal whose far end a child process floods for ever (until
// bench_far_stop or the pair going away) with 4096-byte pieces of `stream`
// (more than 4096 bytes), each `step` bytes on from the last, wrapping. Fork
// before any thread exists.
inline BenchFar bench_flooded_pair(const std::string &stream, size_t step) {
  BenchFar far = bench_raw_pair();
  far.writer = fork();
  if (far.writer == 0) {
    for (size_t at = 0;; at = (at + step) % (stream.size() - 4096))
      if (write(far.master, stream.data() + at, 4096) < 0)
        _exit(0);
  }
  return far;
}

inline void bench_far_stop(BenchFar &far) {
  kill(far.writer, SIGTERM);
  waitpid(far.writer, nullptr, 0);
  close(far.master);
}

// This process's CPU time, user and system, in seconds.
inline double bench_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

inline std::string bench_load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

inline void bench_run_events_for(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

// Before the QApplication: COM1 and COM2 name the two far ends' pairs, Qt
// draws offscreen unless told otherwise, and message boxes go to stderr
// under the benchmark's name.
inline void bench_use_far_ends(const BenchFar (&far)[2], const char *name) {
  setenv("KESTRELON_COM1", far[0].slave.c_str(), 1);
  setenv("KESTRELON_COM2", far[1].slave.c_str(), 1);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  dlg_set_message_box_hook([name](const std::string &text, const std::string &caption) {
    std::fprintf(stderr, "%s: %s: %s\n", name, caption.c_str(), text.c_str());
  });
}

struct BenchCase {
  double rate[2];    // bytes read per second, each port
  double logged[2];  // bytes the pump took (each into the log) per second, each port
  double cpu;        // seconds per second
  uint64_t dropped;  // bytes read that neither reached the log nor wait in the rings
  uint64_t not_shown[2];
  uint64_t order_errors;
};

// Clear, half a second to settle, then `seconds` measured (while `busy`
// is set, the window's thread is held 30 ms of every 60 ms with no event
// handled): bytes read and logged from each port per second, this
// process's CPU time per second of wall time, bytes lost, bytes only
// logged, pieces out of the order of their stamps.
inline BenchCase bench_measure(HWND window, double seconds, bool busy = false) {
  dlg_user_click(window, IDC_CLEAR);
  QTimer hold;
  QObject::connect(&hold, &QTimer::timeout, [] { usleep(30000); });
  if (busy)
    hold.start(60);
  bench_run_events_for(0.5);
  HexCaptureFigures was[2];
  for (int side : {0, 1})
    was[side] = hex_capture_figures(side);
  const double cpu = bench_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  bench_run_events_for(seconds);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  BenchCase result{};
  result.cpu = (bench_cpu_seconds() - cpu) / wall;
  for (int side : {0, 1}) {
    const HexCaptureFigures now = hex_capture_figures(side);
    result.rate[side] = double(now.read - was[side].read) / wall;
    result.logged[side] = double(now.taken - was[side].taken) / wall;
    result.dropped += now.read - now.taken - now.waiting;
    result.not_shown[side] = now.not_shown - was[side].not_shown;
    result.order_errors = now.order_errors - was[side].order_errors;
  }
  return result;
}
