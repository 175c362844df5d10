// Display pane benchmark: appends received chunks and repaints after each,
// until the pane is at its cap and keeps dropping old text.
//
//   cmake --build build --target bench_pane
//   QT_QPA_PLATFORM=offscreen ./build/bench/pane/bench_pane [chunks]   (default 2800: full, then four drops)
//
// Times are process CPU time (wall-clock tick medians are printed too).
// Two shapes of traffic, each in 24,576-character chunks (one 8192-byte
// chunk as hex text): one endless line (the Hexadecimal view) and 80-char
// lines (the frame views). Each chunk is put in as the window puts received
// text in while nothing is selected (note whether the caret is at the end,
// set the insertion colour, append, put the caret back at the end if it was
// there); the view keeps the end in sight through its follow mode. Then the
// pane is painted into an 800x500 image. Prints
// microseconds per append and per paint for the first and last 100 chunks,
// the median tick (two chunks and one paint), memory, and as the last line
//   pane: append late/early <ratio>, paint late/early <ratio>, bytes/char <n>
// (the worst of the two shapes; ratios of the medians, which a busy machine
// disturbs less than the means, printed as well). Targets: ratios <= 1.5,
// <= 4 bytes/char, median tick under 5 ms.
#include "pane/pane_view.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kChunkChars = 24576;
constexpr PaneColour kPortColours[2] = {0xFF0000, 0x7F0000};  // blue, navy

// Process CPU time: what the pane costs, unaffected by other programs that
// take the processor meanwhile (the machine is shared while this runs).
double nowMicros() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

double wallMicros() {
  using namespace std::chrono;
  return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

long peakKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::atol(line.c_str() + 6);
  return -1;
}

std::string hexText(std::mt19937 &random, std::size_t bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes * 3);
  for (std::size_t i = 0; i < bytes; ++i) {
    unsigned v = random() & 0xFF;
    out += ' ';
    out += digits[v >> 4];
    out += digits[v & 15];
  }
  return out;
}

// Frame-view lines of 80 characters (78 shown, CR LF), cut into chunks
// without regard for line ends, as the decoders' output arrives.
class FrameLines {
public:
  std::string next(std::mt19937 &random) {
    while (pending_.size() < kChunkChars) {
      char header[32];
      std::snprintf(header, sizeof header, "%d %02d:%02d:%02d.%03d", count_ % 2,
                    (count_ / 3600000) % 24, (count_ / 60000) % 60, (count_ / 1000) % 60,
                    count_ % 1000);
      std::string line = header;
      line += hexText(random, (78 - line.size()) / 3);
      line.resize(78, ' ');
      line += "\r\n";
      pending_ += line;
      ++count_;
    }
    std::string chunk = pending_.substr(0, kChunkChars);
    pending_.erase(0, kChunkChars);
    return chunk;
  }

private:
  std::string pending_;
  int count_ = 0;
};

double mean(const std::vector<double> &v, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i)
    sum += v[i];
  return sum / double(to - from);
}

// Received text goes in as the window puts it in when the selection is
// empty (nothing selects text here, so it always is).
void putReceived(PaneModel &model, const std::string &bytes, PaneColour colour) {
  const PaneSelection kept = model.selection();
  if (!kept.empty()) {
    std::fprintf(stderr, "bench_pane: unexpected selection %lld..%lld\n",
                 static_cast<long long>(kept.anchor), static_cast<long long>(kept.caret));
    std::exit(1);
  }
  const bool caretAtEnd = kept.caret >= model.length();
  model.setSelectionColour(colour);
  model.append(bytes);
  if (caretAtEnd)
    model.setCaret(model.length());
}

double median(std::vector<double> v) {
  if (v.empty())
    return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

struct Result {
  double appendRatio, paintRatio, bytesPerChar, tickMedian;
};

Result runShape(const char *name, bool endlessLine, int chunks) {
  DisplayPane pane;
  pane.resize(800, 500);
  pane.show();
  QApplication::processEvents();
  QImage image(pane.size(), QImage::Format_RGB32);
  std::mt19937 random(42);
  FrameLines frames;

  std::vector<double> appendUs, paintUs, wallTicks;
  double tickStart = 0;
  double worstBytesPerChar = 0;
  std::int64_t drops = 0, lastDropped = 0;
  for (int i = 0; i < chunks; ++i) {
    const std::string chunk = endlessLine ? hexText(random, kChunkChars / 3) : frames.next(random);
    if (i % 2 == 0)
      tickStart = wallMicros();
    const double t0 = nowMicros();
    PaneModel &model = pane.model();
    putReceived(model, chunk, kPortColours[i % 2]);
    const double t1 = nowMicros();
    {
      QPainter painter(&image);
      pane.render(&painter);
    }
    const double t2 = nowMicros();
    if (i % 2 == 1)
      wallTicks.push_back(wallMicros() - tickStart);
    appendUs.push_back(t1 - t0);
    paintUs.push_back(t2 - t1);
    if (model.droppedTotal() != lastDropped) {
      ++drops;
      lastDropped = model.droppedTotal();
    }
    if (model.length() > model.capacity() / 2)
      worstBytesPerChar =
          std::max(worstBytesPerChar, double(model.memoryBytes()) / double(model.length()));
  }
  const std::size_t n = appendUs.size();
  const std::size_t window = std::min<std::size_t>(100, n / 2);
  const double appendEarly = mean(appendUs, 0, window), appendLate = mean(appendUs, n - window, n);
  const double paintEarly = mean(paintUs, 0, window), paintLate = mean(paintUs, n - window, n);
  std::vector<double> ticks;
  for (std::size_t i = 1; i < n; i += 2)
    ticks.push_back(appendUs[i - 1] + appendUs[i] + paintUs[i]);
  std::vector<double> lateTicks(ticks.end() - std::min<std::ptrdiff_t>(50, ticks.size()),
                                ticks.end());

  std::printf(
      "%s: %d chunks, %lld characters kept (cap %lld), %lld dropped in %lld steps, %lld lines\n",
      name, chunks, static_cast<long long>(pane.model().length()),
      static_cast<long long>(pane.model().capacity()),
      static_cast<long long>(pane.model().droppedTotal()), static_cast<long long>(drops),
      static_cast<long long>(pane.model().lineCount()));
  std::printf("%s: append us first 100 %.1f (median %.1f), last 100 %.1f (median %.1f)\n", name,
              appendEarly, median({appendUs.begin(), appendUs.begin() + window}), appendLate,
              median({appendUs.end() - window, appendUs.end()}));
  std::printf("%s: paint  us first 100 %.1f (median %.1f), last 100 %.1f (median %.1f)\n", name,
              paintEarly, median({paintUs.begin(), paintUs.begin() + window}), paintLate,
              median({paintUs.end() - window, paintUs.end()}));
  std::printf(
      "%s: tick (2 chunks + 1 paint) median %.0f us over all, %.0f us over the last 50; worst %.0f "
      "us; "
      "wall-clock median %.0f us\n",
      name, median(ticks), median(lateTicks), *std::max_element(ticks.begin(), ticks.end()),
      median(wallTicks));
  std::printf("%s: model %.3f bytes/char (worst while over half full), now %zu bytes\n", name,
              worstBytesPerChar, pane.model().memoryBytes());
  const double appendRatio = median({appendUs.end() - window, appendUs.end()}) /
                             median({appendUs.begin(), appendUs.begin() + window});
  const double paintRatio = median({paintUs.end() - window, paintUs.end()}) /
                            median({paintUs.begin(), paintUs.begin() + window});
  std::printf(
      "%s: late/early of means: append %.2f, paint %.2f; of medians: append %.2f, paint %.2f\n",
      name, appendLate / appendEarly, paintLate / paintEarly, appendRatio, paintRatio);
  return {appendRatio, paintRatio, worstBytesPerChar, median(ticks)};
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int chunks = argc > 1 ? std::atoi(argv[1]) : 2800;
  Result hex = runShape("hex line", true, chunks);
  Result frames = runShape("80-char lines", false, chunks);
  std::printf("peak memory (VmHWM): %ld KiB\n", peakKilobytes());
  std::printf("median tick: %.0f us (hex line), %.0f us (80-char lines)\n", hex.tickMedian,
              frames.tickMedian);
  std::printf("pane: append late/early %.2f, paint late/early %.2f, bytes/char %.2f\n",
              std::max(hex.appendRatio, frames.appendRatio),
              std::max(hex.paintRatio, frames.paintRatio),
              std::max(hex.bytesPerChar, frames.bytesPerChar));
  return 0;
}
