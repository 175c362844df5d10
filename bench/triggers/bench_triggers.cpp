// Throughput of one side's trigger matcher with 100 rules, as the receive
// pump feeds it: 8192-byte chunks of a received stream.
//
//   cmake --build build --target bench_triggers
//   ./build/bench/triggers/bench_triggers [megabytes]   (default 32 per round)
//
// The rules: 60 text commands ("CMD0000\r" ...), 30 hex patterns of 4 to 9
// bytes and 10 expressions with classes, counts and choices. The stream:
// random printable text, binary runs and line ends, with a command of the
// rules every kilobyte or so, so that matches are found all along. Each
// figure is the best of five rounds in process CPU time; the first round
// also makes the matcher's states. A line before gives the hard case, a
// counted wildcard over bytes that keep starting it. The last line is
//   triggers: 100 rules, <x> MB/s matched
// Target: x at least 12 (ten times a 12 Mbit/s port).
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kChunk = 8192;
constexpr int kRounds = 5;

struct CountingSink final : HexMatchSink {
  long matches = 0;
  void matched(int, int) override { ++matches; }
};

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::vector<std::string> text_rules() {
  std::vector<std::string> out;
  char text[16];
  for (int i = 0; i < 60; ++i) {
    std::snprintf(text, sizeof text, "CMD%04d\r", i * 37);
    out.push_back(text);
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 32.0;
  const size_t size = size_t(megabytes * 1024 * 1024);
  std::mt19937 rng(11);

  HexMatcher matcher;
  std::string why;
  const std::vector<std::string> texts = text_rules();
  for (const std::string &text : texts)
    matcher.add_bytes(text, &why);
  std::vector<std::string> hexes;
  for (int i = 0; i < 30; ++i) {
    std::string bytes(4 + rng() % 6, '\0');
    for (char &b : bytes)
      b = char(rng());
    bytes[0] = char(0x7E);
    hexes.push_back(bytes);
    matcher.add_bytes(bytes, &why);
  }
  const char *expressions[] = {
      "\\x02ID[0-9]{3}\\x03", "ERR[A-Z]+;",      "(OK|READY)\\r\\n",
      "AT\\+[A-Z]{2,8}=\\d+", "\\x02.{12}\\x03", "T[0-9]+\\.[0-9]+C",
      "[Pp][Ii][Nn][Gg]",     "#[0-9A-F]{8}#",   "SET (LED|RELAY)[0-9] (ON|OFF)",
      "\\x1B\\[[0-9;]*m",
  };
  for (const char *expression : expressions)
    if (matcher.add_regex(expression, &why) < 0) {
      std::fprintf(stderr, "%s: %s\n", expression, why.c_str());
      return 1;
    }

  std::vector<uint8_t> stream;
  stream.reserve(size + 64);
  while (stream.size() < size) {
    const unsigned kind = rng() % 100;
    if (kind < 2) {
      const std::string &command = texts[rng() % texts.size()];
      stream.insert(stream.end(), command.begin(), command.end());
    } else if (kind < 3) {
      const std::string &bytes = hexes[rng() % hexes.size()];
      stream.insert(stream.end(), bytes.begin(), bytes.end());
    } else if (kind < 10) {
      for (int i = 0; i < 8; ++i)
        stream.push_back(uint8_t(rng()));
    } else {
      for (int i = 0; i < 12; ++i)
        stream.push_back(uint8_t(0x20 + rng() % 95));
      stream.push_back('\r');
      stream.push_back('\n');
    }
  }
  stream.resize(size);

  const auto measure = [&](HexMatcher &rules, const std::vector<uint8_t> &bytes, long *found) {
    double best = 0;
    for (int round = 0; round < kRounds; ++round) {
      HexMatchState state{};
      CountingSink sink;
      const double start = cpu_seconds();
      for (size_t at = 0; at < bytes.size(); at += kChunk)
        rules.scan(state, bytes.data() + at, int(std::min<size_t>(kChunk, bytes.size() - at)),
                   sink);
      const double seconds = cpu_seconds() - start;
      best = std::max(best, double(bytes.size()) / (1024.0 * 1024.0) / seconds);
      *found = sink.matches;
    }
    return best;
  };

  // The hard case: a counted wildcard over bytes that keep starting it,
  // where nearly every byte makes a state of its own.
  HexMatcher hard;
  hard.add_regex("a.{12}b", &why);
  std::vector<uint8_t> abc(stream.size());
  for (uint8_t &b : abc)
    b = uint8_t("abc"[rng() % 3]);
  long hard_matches = 0;
  const double hard_rate = measure(hard, abc, &hard_matches);
  std::printf("a.{12}b over random a, b, c: %ld matches, %.1f MB/s\n", hard_matches, hard_rate);

  long matches = 0;
  const double best = measure(matcher, stream, &matches);
  std::printf("%ld matches in %.0f MB per round\n", matches, megabytes);
  std::printf("triggers: %d rules, %.1f MB/s matched\n", matcher.patterns(), best);
  return 0;
}
