// Remote-port benchmark: two RFC 2217 ports, each a real ser2net on
// 127.0.0.1 serving its own socat pseudo-terminal.
//
//   cmake --build build --target bench_remote
//   QT_QPA_PLATFORM=offscreen ./build/bench/remote/bench_remote [MB per port] [cycles]
//
// (defaults 4 and 10). Throughput: both ports at once, first the far ends
// write the bytes (every value, 0xFF doubled by ser2net) and the library
// reads them through SioGets as the capture does, then the library writes
// them (SioPutsNow) and the far ends read them; every byte is checked. Then
// the window (offscreen, real time) holds both ports while each server is
// stopped, left stopped for a second (refusing), and started again, `cycles`
// times per port; from the moment it listens again the side must be open
// within 2 s and say "reconnected". Last line:
//   remote: <x> kB/s per port, reconnect longest <r> ms
// where x is the slowest port in the slower direction.
#include "bench/bench_events.h"
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"
#include "support/ser2net_server.h"
#include "support/socat_link.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBackWithinMs = 2000;
constexpr int kGiveUpMs = 10000;

uint8_t pattern(size_t i) { return uint8_t(i * 7 + i / 256); }

double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Moves `total` bytes on both ports at once, writer to reader; kB/s of the
// slower port, or -1 when a byte was lost or wrong or it stalled.
double flow(int ports, size_t total, const std::function<int(int, const uint8_t *, int)> &put,
            const std::function<int(int, uint8_t *, int)> &get) {
  std::vector<size_t> sent(size_t(ports), 0), got(size_t(ports), 0);
  std::vector<double> done(size_t(ports), 0);
  std::vector<uint8_t> chunk(16384), in(16384);
  const double start = now_s();
  for (bool busy = true; busy;) {
    busy = false;
    for (int p = 0; p < ports; ++p) {
      if (got[size_t(p)] == total)
        continue;
      busy = true;
      size_t n = std::min(chunk.size(), total - sent[size_t(p)]);
      for (size_t i = 0; i < n; ++i)
        chunk[i] = pattern(sent[size_t(p)] + i);
      if (n > 0) {
        const int w = put(p, chunk.data(), int(n));
        if (w < 0)
          return -1;
        sent[size_t(p)] += size_t(w);
      }
      const int r = get(p, in.data(), int(in.size()));
      if (r < 0)
        return -1;
      for (int i = 0; i < r; ++i)
        if (in[size_t(i)] != pattern(got[size_t(p)] + size_t(i)))
          return -1;
      got[size_t(p)] += size_t(r);
      if (got[size_t(p)] == total)
        done[size_t(p)] = now_s();
    }
    if (now_s() - start > 120)
      return -1;
    if (busy)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  double slowest = 0;
  for (double d : done)
    slowest = std::max(slowest, d - start);
  return double(total) / 1000.0 / slowest;
}

}  // namespace

int main(int argc, char **argv) {
  const size_t total = size_t(argc > 1 ? std::max(1, std::atoi(argv[1])) : 4) << 20;
  const int cycles = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  const std::string dir = bench_scratch_dir("bench_remote");
  if (dir.empty())
    return 1;
  std::unique_ptr<SocatLink> links[2];
  std::unique_ptr<Ser2netServer> servers[2];
  int far[2];
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    links[side] = std::make_unique<SocatLink>(dir, "com" + std::to_string(side + 1));
    servers[side] = std::make_unique<Ser2netServer>(dir + "/" + std::to_string(side),
                                                    links[side]->nearPath());
    std::filesystem::create_directory(dir + "/" + std::to_string(side));
    if (!links[side]->plug() || !servers[side]->start()) {
      std::fprintf(stderr, "bench_remote: socat or ser2net did not start\n");
      return 1;
    }
    far[side] = open(links[side]->farPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    SioMapDevice(side, servers[side]->url().c_str());
    if (SioReset(side, 4096, 4096) != 0) {
      std::fprintf(stderr, "bench_remote: COM%d did not open\n", side + 1);
      return 1;
    }
  }
  SioSleep(300);  // the options agreed
  const double in_kbs = flow(
      2, total, [&](int p, const uint8_t *b, int n) { return std::max(0, int(write(far[p], b, size_t(n)))); },
      [&](int p, uint8_t *b, int n) { return SioGets(p, b, n); });
  const double out_kbs = flow(
      2, total, [&](int p, const uint8_t *b, int n) { return SioPutsNow(p, b, n); },
      [&](int p, uint8_t *b, int n) { return std::max(0, int(read(far[p], b, size_t(n)))); });
  std::printf("received %.0f kB/s, sent %.0f kB/s per port (%zu bytes each way)\n", in_kbs,
              out_kbs, total);
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    SioDone(side);
    close(far[side]);
  }

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  HWND window = dlg_create(DialogFunc);
  qint64 longest = 0;
  int good = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      const std::string head = "COM" + std::to_string(side + 1) + " (" + servers[side]->url() + ") ";
      auto text = [&] { return window->pane()->model().text(); };
      servers[side]->stop();
      const qint64 gone =
          run_until([&] { return count_of(text(), head + "disconnected") >= size_t(cycle); },
                    kGiveUpMs);
      run_until([] { return false; }, 1000);
      servers[side]->start();
      const qint64 back = run_until([&] { return hex_obj[side].open == 1; }, kGiveUpMs);
      const bool said =
          run_until([&] { return count_of(text(), head + "reconnected") >= size_t(cycle); },
                    1000) >= 0;
      longest = std::max(longest, back < 0 ? qint64(kGiveUpMs) : back);
      if (gone >= 0 && back >= 0 && back <= kBackWithinMs && said)
        ++good;
      else
        std::printf("cycle %d Port %c: gone %lld ms, back %lld ms, said %d\n", cycle,
                    side == HEX_SIDE_A ? 'A' : 'B', static_cast<long long>(gone),
                    static_cast<long long>(back), int(said));
    }
  }
  hex_quit(window);
  dlg_destroy(window);
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    servers[side].reset();
    links[side].reset();
  }
  std::filesystem::remove_all(dir);
  const double x = std::min(in_kbs, out_kbs);
  std::printf("reconnect: %d/%d good\n", good, 2 * cycles);
  std::printf("remote: %.0f kB/s per port, reconnect longest %lld ms\n", x,
              static_cast<long long>(longest));
  return x >= 1000 && longest <= kBackWithinMs && good == 2 * cycles ? 0 : 1;
}
