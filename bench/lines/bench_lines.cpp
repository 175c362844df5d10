// Modem lines benchmark: what one poll of both sides' lines costs the
// window's thread.
//
//   cmake --build build --target bench_lines
//   QT_QPA_PLATFORM=offscreen ./build/bench/lines/bench_lines [polls]
//
// (default 5000). COM1 and COM2 are pseudo-terminals; the window (offscreen
// but shown, its own dialog procedure) polls both sides as its 100 ms timer
// does, in three cases: the pseudo-terminals themselves (no lines: every
// lamp unknown); a stand-in device behind the serial library whose lines
// stay as they are (the steady path of a real UART); and the same device
// with CTS, DSR, DCD and RI changing at every poll on both sides (four line
// events a side, lamps and tooltips shown anew each time). With
// KESTRELON_TEST_UART set, COM1 is that device in the first case.
//
// Each poll is timed on the wall clock and on the thread's own CPU clock
// (CLOCK_THREAD_CPUTIME_ID: what the thread did, without the times the
// system ran another process), and its allocations (malloc, calloc, realloc
// on the window's thread) are counted. Between polls the window's events run
// (the pump shows the events, the lamps repaint); their time is printed
// apart, as it is not the poll's. Nothing is left out of the figures. Each
// case prints:
//   lines <case>: <n> polls of both sides
//     poll, wall clock:  mean <us> us, 99% within <us> us, worst <us> us, <n> over 1 ms
//     poll, thread's CPU: (the same)
//     poll, allocations:  mean <n>, most <n>
//     events after, wall: (the same as the wall clock's)
#include "bench/bench_flood.h"
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "hex/hex.h"
#include "shell/shell.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pty.h>
#include <vector>

// Every allocation of the window's thread is counted on its way to the C
// library's own allocator.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *old, size_t size);
}
namespace {
thread_local unsigned long t_allocations = 0;
}
extern "C" void *malloc(size_t size) {
  ++t_allocations;
  return __libc_malloc(size);
}
extern "C" void *calloc(size_t count, size_t size) {
  ++t_allocations;
  return __libc_calloc(count, size);
}
extern "C" void *realloc(void *old, size_t size) {
  ++t_allocations;
  return __libc_realloc(old, size);
}

namespace {

int g_bits = SIO_LINE_DTR;

const SioModemDevice kStandIn = {
    [](int, int *bits) { return *bits = g_bits, 0; },
    [](int, int, bool) { return 0; },
    [](int, bool) { return 0; },
};

int64_t now_ns(clockid_t clock) {
  timespec at{};
  clock_gettime(clock, &at);
  return int64_t(at.tv_sec) * 1000000000 + at.tv_nsec;
}

struct Figures {
  std::vector<int64_t> ns;
  void add(int64_t value) { ns.push_back(value); }
  // "mean <us> us, 99% within <us> us, worst <us> us, <n> over 1 ms"
  void print(const char *what) {
    std::sort(ns.begin(), ns.end());
    double total = 0;
    size_t over = 0;
    for (int64_t value : ns) {
      total += double(value);
      over += value > 1000000;
    }
    std::printf("  %-22s mean %7.1f us, 99%% within %7.1f us, worst %8.1f us, %zu over 1 ms\n",
                what, total / double(ns.size()) / 1000.0,
                double(ns[ns.size() * 99 / 100]) / 1000.0, double(ns.back()) / 1000.0, over);
  }
};

void measure(HWND window, const char *name, int polls, bool change) {
  Figures wall, cpu, loop;
  unsigned long allocations = 0, most = 0;
  for (int i = 0; i < polls; ++i) {
    if (change)
      g_bits ^= SIO_LINE_CTS | SIO_LINE_DSR | SIO_LINE_DCD | SIO_LINE_RI;
    const unsigned long allocated = t_allocations;
    const int64_t wall_start = now_ns(CLOCK_MONOTONIC);
    const int64_t cpu_start = now_ns(CLOCK_THREAD_CPUTIME_ID);
    hex_lines_tick(window);
    const int64_t cpu_end = now_ns(CLOCK_THREAD_CPUTIME_ID);
    const int64_t wall_end = now_ns(CLOCK_MONOTONIC);
    const unsigned long made = t_allocations - allocated;
    wall.add(wall_end - wall_start);
    cpu.add(cpu_end - cpu_start);
    allocations += made;
    most = std::max(most, made);
    QCoreApplication::processEvents();
    loop.add(now_ns(CLOCK_MONOTONIC) - wall_end);
  }
  std::printf("lines %s: %d polls of both sides\n", name, polls);
  wall.print("poll, wall clock:");
  cpu.print("poll, thread's CPU:");
  std::printf("  %-22s mean %7.2f, most %lu\n", "poll, allocations:",
              double(allocations) / polls, most);
  loop.print("events after, wall:");
}

}  // namespace

int main(int argc, char **argv) {
  const int polls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
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
  std::printf("load average at the start: %s\n", bench_load_average().c_str());
  measure(window, uart && *uart ? "uart and pseudo-terminal" : "pseudo-terminals", polls, false);
  SioSetModemDevice(&kStandIn);
  measure(window, "stand-in, steady", polls, false);
  measure(window, "stand-in, inputs changing", polls, true);
  SioSetModemDevice(nullptr);
  std::printf("load average at the end: %s\n", bench_load_average().c_str());
  hex_quit(window);
  dlg_destroy(window);
  return 0;
}
