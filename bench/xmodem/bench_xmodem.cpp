// XMODEM throughput at 115200 bit/s over the line simulator, against lrzsz.
//
// Run:
//   cmake --build build --target bench_xmodem linesim
//   ./build/bench/xmodem/bench_xmodem
//
// Sends a 256 KiB random file three ways: our sender (1K packets) to `rx -c`,
// `sx -k` to our receiver (start character 'C'), and `sx -k` to `rx -c` as
// the baseline. Our side is driven as the transfer window drives it: one
// xyDriver call, then 50 ms. Prints the time and the efficiency against the
// line rate for each, how much one driver call moved, runs of ours with a
// 1 ms tick to show what the 50 ms tick costs, 32 KiB runs of ours with
// 128-byte packets, and as its last line the time ratios to the baseline.
#include "serxydrv/serxydrv.h"
#include "ser/ser.h"
#include "support/pty_pair.h"
#include "xy_harness.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPort = 0;
constexpr size_t kFileSize = 256 * 1024;
constexpr size_t kSmallSize = 32 * 1024;
constexpr int kBitRate = 115200;
const std::vector<std::string> kLine{"--bps", std::to_string(kBitRate)};

using Clock = std::chrono::steady_clock;

struct Run {
  bool ok = false;
  double seconds = 0;
  int calls = 0;
};

struct Dirs {
  std::string root, ours, peer;
  explicit Dirs(const std::string &name) {
    root = "/tmp/bench-xmodem-" + std::to_string(getpid()) + "-" + name;
    ours = root + "/ours";
    peer = root + "/peer";
    std::filesystem::create_directories(ours);
    std::filesystem::create_directories(peer);
  }
  ~Dirs() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

// rx on end b of the line, through pipes (it flushes its last ACK off a pty).
bool startRx(xytest::Process &rx, const xytest::Line &line, const std::string &dir) {
  bool ok = rx.start({"socat", "OPEN:" + line.b() + ",raw,echo=0", "EXEC:rx -c received.bin,pipes"},
                     dir, "", dir + "/../rx.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  return ok;
}

bool openOurs(const xytest::Line &line) {
  setenv("KESTRELON_COM1", line.a().c_str(), 1);
  return SioReset(kPort, 8192, 8192) == 0 && xyAcquire(kPort) == 0;
}

void closeOurs() {
  xyRelease(kPort);
  SioDone(kPort);
}

Run oursToRx(const std::vector<uint8_t> &content, int tickMs, int oneK = 1) {
  Dirs d("send");
  Run run;
  xytest::Line line(d.root);
  xytest::Process rx;
  if (!line.startSim(kLine) || !startRx(rx, line, d.peer) || !openOurs(line))
    return run;
  writeFileBytes(d.ours + "/source.bin", content);
  xyStartTx(kPort, (d.ours + "/source.bin").c_str(), oneK, 0);
  xytest::DriveResult r = xytest::driveToEnd(kPort, tickMs, 600000);
  rx.wait(15000);
  closeOurs();
  run.seconds = r.seconds;
  run.calls = r.calls;
  run.ok = r.ended && r.lastError == 0 &&
           xytest::equalSaveFill(content, readFileBytes(d.peer + "/received.bin"));
  return run;
}

Run sxToOurs(const std::vector<uint8_t> &content, int tickMs, bool oneK = true) {
  Dirs d("receive");
  Run run;
  xytest::Line line(d.root);
  xytest::Process sx;
  writeFileBytes(d.peer + "/source.bin", content);
  std::vector<std::string> argv{"sx", "source.bin"};
  if (oneK)
    argv.insert(argv.begin() + 1, "-k");
  if (!line.startSim(kLine) || !sx.start(argv, d.peer, line.b(), d.root + "/sx.log"))
    return run;
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  if (!openOurs(line))
    return run;
  std::string target = d.ours + "/received.bin";
  xyStartRx(kPort, target.c_str(), 'C', 0);
  xytest::DriveResult r = xytest::driveToEnd(kPort, tickMs, 600000);
  sx.wait(15000);
  closeOurs();
  run.seconds = r.seconds;
  run.calls = r.calls;
  run.ok = r.ended && r.lastError == 0 && xytest::equalSaveFill(content, readFileBytes(target));
  return run;
}

Run sxToRx(const std::vector<uint8_t> &content) {
  Dirs d("baseline");
  Run run;
  xytest::Line line(d.root);
  xytest::Process rx, sx;
  writeFileBytes(d.ours + "/source.bin", content);
  if (!line.startSim(kLine) || !startRx(rx, line, d.peer))
    return run;
  auto start = Clock::now();
  if (!sx.start({"sx", "-k", "source.bin"}, d.ours, line.a(), d.root + "/sx.log"))
    return run;
  bool ended = sx.wait(600000) && rx.wait(15000);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.ok = ended && sx.exitCode() == 0 &&
           xytest::equalSaveFill(content, readFileBytes(d.peer + "/received.bin"));
  return run;
}

double lineSeconds(size_t bytes = kFileSize) { return double(bytes) * 10.0 / kBitRate; }

void report(const char *name, const Run &run, size_t bytes = kFileSize) {
  printf("%-34s %s  %7.2f s  efficiency %5.1f %%", name, run.ok ? "ok    " : "FAILED", run.seconds,
         100.0 * lineSeconds(bytes) / run.seconds);
  if (run.calls > 0)
    printf("  %d xyDriver calls, %.0f file bytes per call", run.calls, double(bytes) / run.calls);
  printf("\n");
  fflush(stdout);
}

}  // namespace

int main() {
  std::vector<uint8_t> content = xytest::randomBytes(kFileSize, 2024);
  printf("XMODEM, %zu bytes at %d bit/s (10 bits per byte): the line alone needs %.2f s\n",
         kFileSize, kBitRate, lineSeconds());

  Run baseline = sxToRx(content);
  report("sx -k -> rx -c (baseline)", baseline);
  Run send = oursToRx(content, 50);
  report("ours 1K -> rx -c, 50 ms tick", send);
  Run receive = sxToOurs(content, 50);
  report("sx -k -> ours, 50 ms tick", receive);
  Run sendFast = oursToRx(content, 1);
  report("ours 1K -> rx -c, 1 ms tick", sendFast);
  Run receiveFast = sxToOurs(content, 1);
  report("sx -k -> ours, 1 ms tick", receiveFast);
  // 128-byte packets take 11.5 ms on this line, far less than the tick.
  std::vector<uint8_t> small(content.begin(), content.begin() + kSmallSize);
  report("ours 128 -> rx -c, 50 ms tick, 32K", oursToRx(small, 50, 0), kSmallSize);
  report("sx -> ours 'C', 50 ms tick, 32K", sxToOurs(small, 50, false), kSmallSize);

  printf("xmodem: ours-send/lrzsz %.2f, ours-receive/lrzsz %.2f\n", send.seconds / baseline.seconds,
         receive.seconds / baseline.seconds);
  return baseline.ok && send.ok && receive.ok ? 0 : 1;
}
