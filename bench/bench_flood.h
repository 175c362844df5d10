// What the window benchmarks that flood both ports share: pseudo-terminals
// whose far ends child processes write as fast as the line takes the bytes,
// the process's CPU time, the machine's load and running the window's
// events for a while.
#pragma once

#include <QEventLoop>
#include <QTimer>

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

// A raw pseudo-terminal whose far end a child process floods for ever (until
// bench_far_stop or the pair going away) with 4096-byte pieces of `stream`
// (more than 4096 bytes), each `step` bytes on from the last, wrapping. Fork
// before any thread exists.
inline BenchFar bench_flooded_pair(const std::string &stream, size_t step) {
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
