// XMODEM through the window, against lrzsz, over the line simulator.
//
// Run:
//   cmake --build build --target bench_xmodem linesim
//   ./build/bench/xmodem/bench_xmodem            (offscreen; about 20 minutes)
//   ./build/bench/xmodem/bench_xmodem --speed    (the speed part alone)
//   ./build/bench/xmodem/bench_xmodem --noise ONE_IN SEED
//       (one seed of the noise part; its directories are kept, with rx -vv's
//       log and the driver's trace in driver.log, for a look at the wire)
//
// Speed: a 256 KiB random file at 115200 bit/s (10 bits per byte), sent
// three ways: the window (Start, "XModem 1K", its timers running as they do
// for a user, offscreen) to `rx -c`; `sx -k` to the window (Get, "XModem
// 1K"); and `sx -k` to `rx -c` as the baseline. Each window transfer is
// timed from Start to the status line's end. Every xyDriver call the window
// makes is timed (the bench links with --wrap=xyDriver), and so are the
// runs of the transfer timer and the gaps between them.
//
// Noise: 16 KiB files at 115200 bit/s with 1 byte in 5000 and then 1 in
// 1000 corrupted at random in both directions, 20 seeds each; on each seed
// the window sends to rx -c and receives from sx -k, and sx -k sends to
// rx -c laid out both ways on the line, so lrzsz runs as often as ours. A
// run is ok when success was reported and the file is right; a wrong file
// reported as success is counted apart.
//
// Last lines:
//   xmodem: ours-send/lrzsz <r>, ours-receive/lrzsz <r>, longest call <ms> ms
//   xmodem noise: ours <n>/<N> ok, lrzsz <m>/<N> ok, wrong files reported ok <k>
#include "dlg/dlg.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "shell/shell.h"
#include "ser/ser.h"
#include "serxydrv/serxydrv.h"
#include "support/pty_pair.h"
#include "xy_harness.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

// --- Every xyDriver call the window makes, timed ---------------------------------

// The linker sends the window's calls of xyDriver(int) here, and this
// wrapper's call of the real one to the driver.
extern "C" int __real__Z8xyDriveri(int port);
extern "C" int __wrap__Z8xyDriveri(int port);

namespace {

double g_longest_call_ms = 0;
// One seed alone: the driver's trace goes to this file.
std::FILE *g_trace = nullptr;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int __wrap__Z8xyDriveri(int port) {
  const auto start = Clock::now();
  const int result = __real__Z8xyDriveri(port);
  g_longest_call_ms = std::max(g_longest_call_ms, msSince(start));
  char text[XY_MESSAGE_SIZE];
  while (g_trace && xyGetMessage(text, sizeof text))
    std::fprintf(g_trace, "%u %s\n", unsigned(SioTimer()), text);
  return result;
}

namespace {

constexpr int kPortRate = 115200;
constexpr size_t kSpeedSize = 256 * 1024;
constexpr size_t kNoiseSize = 16 * 1024;
constexpr int kSeeds = 20;
constexpr int kProtocol1K = 3;  // "XModem 1K" in the Protocol list

// --- The window ---------------------------------------------------------------------

// Runs and gaps of the transfer timer (timer 2).
double g_longest_run_ms = 0, g_longest_gap_ms = 0;
bool g_run_ended = false;
Clock::time_point g_last_run_end;

int benchProc(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (message != WM_TIMER || wParam != uintptr_t(TIMER_TRANSFER))
    return DialogFunc(window, message, wParam, lParam);
  const auto start = Clock::now();
  if (g_run_ended)
    g_longest_gap_ms =
        std::max(g_longest_gap_ms,
                 std::chrono::duration<double, std::milli>(start - g_last_run_end).count());
  const int result = DialogFunc(window, message, wParam, lParam);
  g_last_run_end = Clock::now();
  g_run_ended = true;
  g_longest_run_ms = std::max(g_longest_run_ms, msSince(start));
  return result;
}

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
    if (g_trace) {
      std::printf("kept %s\n", root.c_str());
      return;
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

struct Run {
  bool reportedOk = false;  // the window said "X-Modem Completed ", or sx exited with 0
  bool rightFile = false;
  double seconds = 0;
  std::string status;
  bool ok() const { return reportedOk && rightFile; }
  bool wrongReportedOk() const { return reportedOk && !rightFile; }
};

// The window on COM1 = end a of the line: Start with "XModem 1K", the file
// dialog answering `path`, `afterStart` called, its timers running until the
// transfer has ended.
Run windowTransfer(const xytest::Line &line, bool send, const std::string &path,
                   const std::string &workDir, int timeoutMs,
                   const std::function<bool()> &afterStart) {
  Run run;
  setenv("KESTRELON_COM1", line.a().c_str(), 1);
  setenv("KESTRELON_COM2", (workDir + "/no-such-tty").c_str(), 1);
  char oldDir[4096];
  if (!getcwd(oldDir, sizeof oldDir) || chdir(workDir.c_str()) != 0)
    return run;
  dlg_set_message_box_hook([](const std::string &text, const std::string &) {
    std::fprintf(stderr, "message box: %s\n", text.c_str());
  });
  dlg_set_file_dialog_hook([path](bool, std::string &chosen) {
    chosen = path;
    return true;
  });
  HWND window = dlg_create(benchProc);
  dlg_user_choose(window, IDC_PROTOCOL, kProtocol1K);
  dlg_user_click(window, send ? IDC_XFER_SEND : IDC_XFER_GET);
  g_run_ended = false;
  const auto start = Clock::now();
  dlg_user_click(window, IDC_XFER_START);
  if (!afterStart())
    dlg_user_click(window, IDC_XFER_ABORT);
  QTimer deadline;
  deadline.start(timeoutMs);
  while (hex_xmodem_busy && deadline.isActive())
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (hex_xmodem_busy)
    dlg_user_click(window, IDC_XFER_ABORT);
  char status[128];
  dlg_get_text(window, IDC_XFER_STATUS, status, sizeof status);
  run.status = status;
  run.reportedOk = run.status == "X-Modem Completed ";
  hex_quit(window);
  dlg_end(window, 0);
  dlg_destroy(window);
  dlg_set_file_dialog_hook(nullptr);
  dlg_set_message_box_hook(nullptr);
  if (chdir(oldDir) != 0)
    std::perror("chdir");
  return run;
}

// rx -c on end b, through pipes (it exits right after its last ACK).
bool startRx(xytest::Process &rx, const std::string &end, const std::string &dir) {
  const std::string command = g_trace ? "rx -vv -c received.bin" : "rx -c received.bin";
  return rx.start({"socat", "OPEN:" + end + ",raw,echo=0", "EXEC:" + command + ",pipes"}, dir,
                  "", dir + "/../rx.log");
}

std::vector<std::string> lineOptions(int oneIn, int seed) {
  std::vector<std::string> options{"--bps", std::to_string(kPortRate)};
  if (oneIn > 0) {
    for (const char *o : {"--random-ab", "--random-ba"}) {
      options.push_back(o);
      options.push_back(std::to_string(oneIn));
    }
    options.push_back("--seed");
    options.push_back(std::to_string(seed));
  }
  return options;
}

Run oursSend(const std::vector<uint8_t> &content, int oneIn, int seed, int timeoutMs) {
  Dirs d("send");
  xytest::Line line(d.root);
  xytest::Process rx;
  if (!line.startSim(lineOptions(oneIn, seed)))
    return {};
  const std::string source = d.ours + "/source.bin";
  writeFileBytes(source, content);
  // rx starts once Start is pressed, its time counted: the window shows
  // what comes before Start, and rx repeats its start character only 10 s
  // after the first.
  Run run = windowTransfer(line, true, source, d.ours, timeoutMs,
                           [&] { return startRx(rx, line.b(), d.peer); });
  rx.wait(15000);
  run.rightFile = xytest::equalSaveFill(content, readFileBytes(d.peer + "/received.bin"));
  return run;
}

Run oursReceive(const std::vector<uint8_t> &content, int oneIn, int seed, int timeoutMs) {
  Dirs d("receive");
  xytest::Line line(d.root);
  xytest::Process sx;
  writeFileBytes(d.peer + "/source.bin", content);
  if (!line.startSim(lineOptions(oneIn, seed)) ||
      !sx.start({"sx", g_trace ? "-vvk" : "-k", "source.bin"}, d.peer, line.b(), d.root + "/sx.log"))
    return {};
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const std::string target = d.ours + "/received.bin";
  Run run = windowTransfer(line, false, target, d.ours, timeoutMs, [] { return true; });
  sx.wait(15000);
  run.rightFile = xytest::equalSaveFill(content, readFileBytes(target));
  return run;
}

// sx -k to rx -c; the sender on end a (where the window sends from) or on
// end b (where the window's sender is when it receives).
Run lrzsz(const std::vector<uint8_t> &content, int oneIn, int seed, bool senderOnA, int timeoutMs) {
  Dirs d("baseline");
  xytest::Line line(d.root);
  xytest::Process rx, sx;
  writeFileBytes(d.ours + "/source.bin", content);
  if (!line.startSim(lineOptions(oneIn, seed)) ||
      !startRx(rx, senderOnA ? line.b() : line.a(), d.peer))
    return {};
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Run run;
  const auto start = Clock::now();
  if (!sx.start({"sx", "-k", "source.bin"}, d.ours, senderOnA ? line.a() : line.b(),
                d.root + "/sx.log"))
    return run;
  const bool ended = sx.wait(timeoutMs) && rx.wait(15000);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.reportedOk = ended && sx.exitCode() == 0;
  run.rightFile = xytest::equalSaveFill(content, readFileBytes(d.peer + "/received.bin"));
  return run;
}

double lineSeconds(size_t bytes) { return double(bytes) * 10.0 / kPortRate; }

void report(const char *name, const Run &run, size_t bytes) {
  std::printf("%-40s %s  %7.2f s  efficiency %5.1f %%  %s\n", name, run.ok() ? "ok    " : "FAILED",
              run.seconds, 100.0 * lineSeconds(bytes) / run.seconds, run.status.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const bool speedOnly = argc > 1 && std::strcmp(argv[1], "--speed") == 0;
  if (argc == 4 && std::strcmp(argv[1], "--noise") == 0) {
    const int oneIn = std::atoi(argv[2]), seed = std::atoi(argv[3]);
    const std::string trace = "/tmp/bench-xmodem-" + std::to_string(getpid()) + "-driver.log";
    g_trace = std::fopen(trace.c_str(), "w");
    xyDebug(2);
    const std::vector<uint8_t> file = xytest::randomBytes(kNoiseSize, uint32_t(seed));
    std::fprintf(g_trace, "--- send\n");
    const Run send = oursSend(file, oneIn, seed, 300000);
    std::fprintf(g_trace, "--- receive\n");
    const Run receive = oursReceive(file, oneIn, seed, 300000);
    std::printf("1 in %d, seed %2d: ours send %s, receive %s; driver trace %s\n", oneIn, seed,
                send.ok() ? "ok" : send.status.c_str(), receive.ok() ? "ok" : receive.status.c_str(),
                trace.c_str());
    std::fclose(g_trace);
    return send.ok() && receive.ok() ? 0 : 1;
  }

  const std::vector<uint8_t> content = xytest::randomBytes(kSpeedSize, 2024);
  std::printf("XMODEM 1K, %zu bytes at %d bit/s: the line alone needs %.2f s\n", kSpeedSize,
              kPortRate, lineSeconds(kSpeedSize));
  const Run baseline = lrzsz(content, 0, 0, true, 600000);
  report("sx -k -> rx -c (baseline)", baseline, kSpeedSize);
  const Run send = oursSend(content, 0, 0, 600000);
  report("window Send -> rx -c", send, kSpeedSize);
  const Run receive = oursReceive(content, 0, 0, 600000);
  report("sx -k -> window Get", receive, kSpeedSize);
  std::printf("longest transfer timer run %.2f ms, longest gap between two runs %.2f ms\n",
              g_longest_run_ms, g_longest_gap_ms);
  const double longestCall = g_longest_call_ms;

  int oursOk = 0, lrzszOk = 0, runs = 0, wrongOk = 0, lrzszWrongOk = 0;
  if (!speedOnly) {
    for (int oneIn : {5000, 1000}) {
      int levelOurs = 0, levelLrzsz = 0;
      for (int seed = 1; seed <= kSeeds; ++seed) {
        const std::vector<uint8_t> file = xytest::randomBytes(kNoiseSize, uint32_t(seed));
        const Run runs4[] = {
            oursSend(file, oneIn, seed, 300000), oursReceive(file, oneIn, seed, 300000),
            lrzsz(file, oneIn, seed, true, 300000), lrzsz(file, oneIn, seed, false, 300000)};
        std::printf("1 in %d, seed %2d: ours send %s, receive %s; lrzsz %s, %s\n", oneIn, seed,
                    runs4[0].ok() ? "ok" : runs4[0].status.c_str(),
                    runs4[1].ok() ? "ok" : runs4[1].status.c_str(), runs4[2].ok() ? "ok" : "failed",
                    runs4[3].ok() ? "ok" : "failed");
        std::fflush(stdout);
        levelOurs += runs4[0].ok() + runs4[1].ok();
        levelLrzsz += runs4[2].ok() + runs4[3].ok();
        wrongOk += runs4[0].wrongReportedOk() + runs4[1].wrongReportedOk();
        lrzszWrongOk += runs4[2].wrongReportedOk() + runs4[3].wrongReportedOk();
      }
      std::printf("1 in %d: ours %d/%d ok, lrzsz %d/%d ok\n", oneIn, levelOurs, 2 * kSeeds,
                  levelLrzsz, 2 * kSeeds);
      oursOk += levelOurs;
      lrzszOk += levelLrzsz;
      runs += 2 * kSeeds;
    }
    std::printf("lrzsz wrong files reported ok %d\n", lrzszWrongOk);
  }

  std::printf("xmodem: ours-send/lrzsz %.2f, ours-receive/lrzsz %.2f, longest call %.2f ms\n",
              send.seconds / baseline.seconds, receive.seconds / baseline.seconds, longestCall);
  if (!speedOnly)
    std::printf("xmodem noise: ours %d/%d ok, lrzsz %d/%d ok, wrong files reported ok %d\n", oursOk,
                runs, lrzszOk, runs, wrongOk);
  return baseline.ok() && send.ok() && receive.ok() ? 0 : 1;
}
