// Reconnect benchmark: each side's device pulled and plugged in again, many
// times, through the real window.
//
//   cmake --build build --target bench_reconnect
//   QT_QPA_PLATFORM=offscreen ./build/bench/reconnect/bench_reconnect [cycles per side]
//
// (default 50). COM1 and COM2 are socat pseudo-terminal pairs under link
// names in a scratch directory; the window (offscreen, with its own dialog
// procedure, timers and readiness messages, logging to a file) runs in real
// time. A cycle, on Port A and then on Port B: socat is ended (the near end
// hangs up and its link goes), the window must say "disconnected"; socat is
// started again under the same names, and from the moment both links are
// there the window must open the device again within 2 s and say
// "reconnected"; a marker then written into the far end must show in the
// pane. At the end the log must hold exactly one disconnect and one
// reconnect line per side and cycle, and the process as many descriptors as
// before the first cycle. Last line:
//   reconnect: <good>/<cycles> cycles, longest <ms> ms, log lines <d>/<r>, fds <before>/<after>
// where a good cycle is one whose both sides came back within 2 s with the
// marker shown, the longest is from a device back to its side open again,
// and d and r count the log's lines of both sides.
#include "bench/bench_events.h"
#include "bench/bench_scratch.h"
#include "dlg/dlg.h"
#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "shell/shell.h"
#include "support/socat_link.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int kBackWithinMs = 2000;
constexpr int kGiveUpMs = 10000;

std::string pane_text(HWND window) { return window->pane()->model().text(); }

}  // namespace

int main(int argc, char **argv) {
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  const std::string dir = bench_scratch_dir("bench_reconnect");
  if (dir.empty())
    return 1;
  std::unique_ptr<SocatLink> links[2];
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    links[side] = std::make_unique<SocatLink>(dir, "com" + std::to_string(side + 1));
    if (!links[side]->plug()) {
      std::fprintf(stderr, "bench_reconnect: socat did not start\n");
      return 1;
    }
    setenv(("KESTRELON_COM" + std::to_string(side + 1)).c_str(), links[side]->nearPath().c_str(),
           1);
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  dlg_set_message_box_hook([](const std::string &text, const std::string &caption) {
    std::fprintf(stderr, "bench_reconnect: %s: %s\n", caption.c_str(), text.c_str());
  });
  HWND window = dlg_create(DialogFunc);
  dlg_user_choose(window, IDC_VIEW, HEX_VIEW_ASCII);
  const std::string log_path = dir + "/reconnect.htm";
  const int fds_before = openDescriptorCount();
  hex_log_open_file(window, log_path.c_str());

  std::string line[2][2];  // [side][gone, back]
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const std::string head =
        "COM" + std::to_string(side + 1) + " (" + links[side]->nearPath() + ") ";
    line[side][0] = head + "disconnected";
    line[side][1] = head + "reconnected";
  }
  int good = 0;
  qint64 longest = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    bool cycle_good = true;
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      links[side]->unplug();
      const qint64 gone = run_until(
          [&] { return count_of(pane_text(window), line[side][0]) >= size_t(cycle); }, kGiveUpMs);
      if (!links[side]->plug()) {
        std::fprintf(stderr, "bench_reconnect: socat did not start again\n");
        return 1;
      }
      const qint64 back = run_until([&] { return hex_obj[side].open == 1; }, kGiveUpMs);
      const bool said =
          run_until([&] { return count_of(pane_text(window), line[side][1]) >= size_t(cycle); },
                    1000) >= 0;
      const std::string marker =
          "<" + std::string(side == HEX_SIDE_A ? "A" : "B") + std::to_string(cycle) + ">";
      const bool shown =
          links[side]->send(marker) &&
          run_until([&] { return pane_text(window).find(marker) != std::string::npos; },
                    kGiveUpMs) >= 0;
      if (back > longest)
        longest = back;
      const bool side_good = gone >= 0 && back >= 0 && back <= kBackWithinMs && said && shown;
      if (!side_good)
        std::printf("cycle %d Port %c: gone %lld ms, back %lld ms, said %d, shown %d\n", cycle,
                    side == HEX_SIDE_A ? 'A' : 'B', static_cast<long long>(gone),
                    static_cast<long long>(back), int(said), int(shown));
      cycle_good = cycle_good && side_good;
    }
    good += cycle_good ? 1 : 0;
  }
  // Whatever the last run has not shown yet, and the log's end.
  run_until([] { return false; }, 200);
  hex_log_close(window);
  const int fds_after = openDescriptorCount();

  std::ifstream file(log_path, std::ios::binary);
  std::stringstream html;
  html << file.rdbuf();
  // The log writes blanks as &nbsp; where a browser would fold them.
  const std::string text = std::regex_replace(html.str(), std::regex("&nbsp;"), " ");
  size_t lines[2] = {0, 0};
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const size_t gone = count_of(text, line[side][0]), back = count_of(text, line[side][1]);
    std::printf("Port %c: log lines %zu disconnected, %zu reconnected of %d cycles\n",
                side == HEX_SIDE_A ? 'A' : 'B', gone, back, cycles);
    lines[0] += gone;
    lines[1] += back;
  }
  hex_quit(window);
  dlg_destroy(window);
  for (auto &link : links)
    link.reset();
  std::filesystem::remove_all(dir);
  std::printf("reconnect: %d/%d cycles, longest %lld ms, log lines %zu/%zu, fds %d/%d\n", good,
              cycles, static_cast<long long>(longest), lines[0], lines[1], fds_before, fds_after);
  return good == cycles && lines[0] == size_t(2 * cycles) && lines[1] == size_t(2 * cycles) &&
                 fds_before == fds_after
             ? 0
             : 1;
}
