// linesim: a serial line between two pseudo-terminals, for tests and the
// benchmark. It opens two pty pairs, links their device names to the given
// paths and relays every byte from one to the other at a given bit rate
// (10 bits per byte), optionally corrupting chosen bytes.
//
//   linesim --a PATH --b PATH [--bps N] [--corrupt-ab OFF,OFF...]
//           [--corrupt-ba OFF,...] [--random-ab N] [--random-ba N]
//           [--seed S] [--stats PATH]
//
// --bps 0 (the default) relays at once. --corrupt-xy flips all bits of the
// bytes at those offsets (counted from 0) of the x-to-y stream; --random-xy N
// corrupts one byte in N at random (seeded by --seed). On SIGTERM or SIGINT
// it removes the links and, with --stats, writes "ab <bytes> <corrupted>" and
// "ba <bytes> <corrupted>" lines to that file. Prints "ready" once the links
// exist.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <set>
#include <string>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t stopRequested = 0;
void onStop(int) { stopRequested = 1; }

int64_t nowMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct End {
  int master = -1;
  int slave = -1;  // held open so the master never sees a hang-up
  std::string link;
};

// One direction of the line.
struct Direction {
  int from = -1;
  int to = -1;
  std::set<uint64_t> corruptAt;
  uint64_t randomOneIn = 0;
  uint64_t offset = 0;
  uint64_t corrupted = 0;
  int64_t lineFreeAt = 0;                          // when the last queued byte has left the line
  std::deque<std::pair<uint8_t, int64_t>> onLine;  // byte, arrival time
  std::string pending;                             // arrived, not yet written
};

bool openEnd(End &end) {
  char name[256] = {};
  if (openpty(&end.master, &end.slave, name, nullptr, nullptr) != 0)
    return false;
  termios tio{};
  tcgetattr(end.slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(end.slave, TCSANOW, &tio);
  fcntl(end.master, F_SETFL, fcntl(end.master, F_GETFL) | O_NONBLOCK);
  unlink(end.link.c_str());
  return symlink(name, end.link.c_str()) == 0;
}

std::set<uint64_t> parseOffsets(const char *text) {
  std::set<uint64_t> offsets;
  std::string s(text);
  size_t at = 0;
  while (at < s.size()) {
    size_t comma = s.find(',', at);
    if (comma == std::string::npos)
      comma = s.size();
    offsets.insert(std::strtoull(s.substr(at, comma - at).c_str(), nullptr, 10));
    at = comma + 1;
  }
  return offsets;
}

void usage() {
  fprintf(stderr,
          "usage: linesim --a PATH --b PATH [--bps N] [--corrupt-ab OFFS] "
          "[--corrupt-ba OFFS] [--random-ab N] [--random-ba N] [--seed S] "
          "[--stats PATH]\n");
  exit(2);
}

}  // namespace

int main(int argc, char **argv) {
  End a, b;
  Direction ab, ba;
  uint64_t bps = 0;
  unsigned seed = 1;
  std::string statsPath;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    if (i + 1 >= argc)
      usage();
    const char *value = argv[++i];
    if (opt == "--a")
      a.link = value;
    else if (opt == "--b")
      b.link = value;
    else if (opt == "--bps")
      bps = std::strtoull(value, nullptr, 10);
    else if (opt == "--corrupt-ab")
      ab.corruptAt = parseOffsets(value);
    else if (opt == "--corrupt-ba")
      ba.corruptAt = parseOffsets(value);
    else if (opt == "--random-ab")
      ab.randomOneIn = std::strtoull(value, nullptr, 10);
    else if (opt == "--random-ba")
      ba.randomOneIn = std::strtoull(value, nullptr, 10);
    else if (opt == "--seed")
      seed = unsigned(std::strtoul(value, nullptr, 10));
    else if (opt == "--stats")
      statsPath = value;
    else
      usage();
  }
  if (a.link.empty() || b.link.empty())
    usage();
  if (!openEnd(a) || !openEnd(b)) {
    perror("linesim: pty");
    return 1;
  }
  ab.from = a.master;
  ab.to = b.master;
  ba.from = b.master;
  ba.to = a.master;
  signal(SIGTERM, onStop);
  signal(SIGINT, onStop);
  signal(SIGPIPE, SIG_IGN);
  printf("ready\n");
  fflush(stdout);

  std::mt19937_64 random(seed);
  const int64_t byteMicros = bps ? int64_t(10000000 / bps) : 0;
  const size_t maxOnLine = 65536;  // beyond this the sender is held back

  while (!stopRequested) {
    int64_t now = nowMicros();
    Direction *dirs[2] = {&ab, &ba};
    // Bytes whose time on the line has passed arrive at the far end.
    for (Direction *d : dirs) {
      while (!d->onLine.empty() && d->onLine.front().second <= now) {
        d->pending.push_back(char(d->onLine.front().first));
        d->onLine.pop_front();
      }
      while (!d->pending.empty()) {
        ssize_t n = write(d->to, d->pending.data(), d->pending.size());
        if (n <= 0)
          break;
        d->pending.erase(0, size_t(n));
      }
    }
    pollfd fds[2];
    int64_t wakeAt = now + 100000;
    for (int i = 0; i < 2; ++i) {
      Direction *d = dirs[i];
      fds[i] = {d->from, 0, 0};
      if (d->onLine.size() < maxOnLine)
        fds[i].events |= POLLIN;
      if (!d->onLine.empty())
        wakeAt = std::min(wakeAt, d->onLine.front().second);
      if (!d->pending.empty())
        wakeAt = std::min(wakeAt, now + 1000);  // the far end is full: retry soon
    }
    int64_t waitMicros = std::max<int64_t>(0, wakeAt - now);
    timespec timeout{time_t(waitMicros / 1000000), long(waitMicros % 1000000) * 1000};
    int ready = ppoll(fds, 2, &timeout, nullptr);
    if (ready < 0 && errno != EINTR)
      break;
    if (ready <= 0)
      continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & POLLIN))
        continue;
      Direction *d = dirs[i];
      uint8_t buf[4096];
      ssize_t n = read(d->from, buf, sizeof buf);
      if (n <= 0)
        continue;
      int64_t arrival = nowMicros();
      for (ssize_t k = 0; k < n; ++k) {
        uint8_t byte = buf[k];
        bool corrupt = d->corruptAt.count(d->offset) > 0;
        if (d->randomOneIn && random() % d->randomOneIn == 0)
          corrupt = true;
        if (corrupt) {
          byte ^= 0xFF;
          ++d->corrupted;
        }
        ++d->offset;
        d->lineFreeAt = std::max(d->lineFreeAt, arrival) + byteMicros;
        d->onLine.emplace_back(byte, d->lineFreeAt);
      }
    }
  }
  unlink(a.link.c_str());
  unlink(b.link.c_str());
  if (!statsPath.empty()) {
    FILE *f = fopen(statsPath.c_str(), "w");
    if (f) {
      fprintf(f, "ab %llu %llu\nba %llu %llu\n", (unsigned long long)ab.offset,
              (unsigned long long)ab.corrupted, (unsigned long long)ba.offset,
              (unsigned long long)ba.corrupted);
      fclose(f);
    }
  }
  return 0;
}
