// Capture: both sides' ports read on a thread of their own the moment they
// are readable, stamped there, and shown by the pump in the order they came.
#include "hex/hex_capture.h"

#include "hex/hex_log.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_transfer.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kNoPort = -1;
// How long a run works before it leaves the rest to the next one.
constexpr auto kRunTime = std::chrono::milliseconds(30);
// How often a side held by a full ring looks for room again.
constexpr int kFullRetryMs = 5;

using Watch = HexWatch;
using Port = HexCaptureHandOver::Port;

std::unique_ptr<HexCapture> g_capture;  // made at the first start
HexCaptureHandOver g_hand;
std::thread g_thread;
int g_wake = -1;                // eventfd: the thread looks at the hand-over again
std::atomic<bool> g_stop{false};
std::atomic<bool> g_keep{true};  // Run: what is read is kept (Stop: dropped)
bool g_on = false;               // between the pump's start and its stop
uint64_t g_before = 0;           // a run takes the chunks before this place
std::chrono::steady_clock::time_point g_run_end;
bool g_cut = false;        // the run ended at its time with chunks left to show
std::string g_line_state;  // the status text last shown
std::atomic<uint64_t> g_read_total[2];  // bytes read from each side, by the thread
uint64_t g_taken[2];                    // bytes the pump took of each side
uint64_t g_order_errors = 0;            // pieces stamped before the one taken before them
uint32_t g_last_ms = 0;

void wake_thread() {
  const uint64_t one = 1;
  if (g_wake >= 0)
    (void)!write(g_wake, &one, sizeof one);
}

// --- The capture thread ---------------------------------------------------------------

// What the thread alone knows of a side.
struct Reading {
  Port port;
  bool failed = false;     // the port's device went: not waited on again
  bool counted = false;    // its driver counts breaks
  uint32_t breaks = 0;     // breaks counted so far
  bool room = true;        // the ring had room at the last look
};

// Breaks counted since the last look: a chunk of their own, ahead of the
// bytes read with them.
void look_at_breaks(Reading &reading, int side, uint32_t ms) {
  SioLineCounts now;
  if (!reading.counted || SioCounts(reading.port.port, &now) != 1 || now.breaks == reading.breaks)
    return;
  if (hex_capture_breaks(*g_capture, side, reading.port.port, ms, now.breaks - reading.breaks))
    reading.breaks = now.breaks;
}

// Reads what waits on the side's port, as long as its ring has room. A
// full ring leaves the bytes to the kernel and the line's flow control.
void read_port(Reading &reading, int side) {
  static thread_local uint8_t dropped[64 * 1024];
  const uint32_t ms = SioTimer();
  look_at_breaks(reading, side, ms);
  for (int reads = 0; reads < 16; ++reads) {
    const bool keep = g_keep.load(std::memory_order_relaxed);
    uint32_t room = sizeof dropped;
    uint8_t *into = keep ? hex_capture_room(*g_capture, side, &room) : dropped;
    reading.room = room > 0;
    if (room == 0)
      return;
    const int want = int(std::min<uint32_t>(room, sizeof dropped));
    const int count = SioGets(reading.port.port, into, want);
    if (count < 0) {
      // The device has gone: its descriptor would report a hang-up for ever.
      reading.failed = hex_capture_event(*g_capture, side, reading.port.port, ms, HEX_PORT_GONE);
      return;
    }
    if (keep)
      hex_capture_commit(*g_capture, side, reading.port.port, ms, uint32_t(count));
    g_read_total[side].fetch_add(uint64_t(count), std::memory_order_relaxed);
    if (count < want)
      return;
  }
}

// Under the side's lock: a port new to the thread is counted from here,
// what waits is read, then the events the window posted go behind it.
void serve_side(Reading &reading, int side, bool readable,
                std::vector<HexCaptureHandOver::Event> &events) {
  if (reading.port.port != kNoPort && !reading.failed) {
    if (readable || !events.empty() || !reading.room)
      read_port(reading, side);
  }
  size_t written = 0;
  while (written < events.size()) {
    const HexCaptureHandOver::Event &event = events[written];
    if (!hex_capture_event(*g_capture, side, event.port, event.ms, event.event))
      break;
    ++written;
  }
  events.erase(events.begin(), events.begin() + long(written));
}

void capture_thread() {
  Reading readings[2];
  bool again = false;      // poll without waiting
  bool unwritten = false;  // events wait for a place in the ring
  while (!g_stop.load()) {
    pollfd fds[3] = {{g_wake, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
    bool full = false;
    const uint64_t generation = g_hand.generation();
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      Reading &reading = readings[side];
      const Port now = g_hand.get(side);
      if (!(now == reading.port)) {
        reading = Reading{};
        reading.port = now;
        g_hand.read_side(side, now, [&](auto &) {
          SioLineCounts counts{};
          reading.counted = now.port != kNoPort && SioCounts(now.port, &counts) == 1;
          reading.breaks = counts.breaks;
        });
      }
      full = full || !reading.room;
      if (reading.port.fd >= 0 && !reading.failed && reading.room)
        fds[1 + side].fd = reading.port.fd;
    }
    g_hand.settled(generation);
    if (poll(fds, 3, again ? 0 : full || unwritten ? kFullRetryMs : -1) < 0 && errno != EINTR)
      break;
    again = unwritten = false;
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      (void)!read(g_wake, &count, sizeof count);
    }
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      Reading &reading = readings[side];
      const bool readable = fds[1 + side].fd >= 0 && fds[1 + side].revents != 0;
      // A side handed a new port meanwhile is served again at once: the
      // events posted with it must not wait for its next byte. Events the
      // ring had no place for are tried again as a full ring is.
      const bool served = g_hand.read_side(side, reading.port, [&](auto &events) {
        serve_side(reading, side, readable, events);
        unwritten = unwritten || !events.empty();
      });
      again = again || !served;
    }
  }
}

// --- The window's side --------------------------------------------------------------

// The thread waits on `port` for the side from now on, and on nothing it
// was given before: it wakes at once, so the window waits microseconds
// (at most kSettleMs on a machine too busy to run it), and only when a
// descriptor is let go: one given alone is taken up in the thread's time.
constexpr int kSettleMs = 100;
void hand_over(int side, Port port) {
  const bool letting_go = g_hand.get(side).fd >= 0;
  const uint64_t generation = g_hand.set(side, port);
  if (!g_thread.joinable())
    return;
  wake_thread();
  if (letting_go)
    g_hand.wait_settled(generation, kSettleMs);
}

// The Terminal view's screen is shown whole; the others may leave bytes to
// the log alone.
bool view_skips() { return hex_view_mode != HEX_VIEW_TERMINAL; }

// The port a side reads: the one it holds open, unless a transfer has it. A
// side whose open failed reads nothing, even when it names the port the
// other side holds.
int side_port(int side) {
  const hex_obj_t &record = hex_obj[side];
  if (!g_on || !record.open || record.port == hex_transfer_port())
    return kNoPort;
  return record.port;
}

void append_counts(std::string &text, const Watch &watch, bool all) {
  struct Count {
    uint64_t value;
    const char *name;
  };
  const Count counts[] = {
      {watch.counts.overrun, "overrun"},          {watch.counts.parity, "parity"},
      {watch.counts.framing, "framing"},          {watch.counts.breaks, "break"},
      {watch.counts.overflow, "driver overflow"},
  };
  char piece[64];
  bool first = true;
  if (watch.counted) {
    for (const Count &count : counts) {
      if (!all && count.value == 0)
        continue;
      std::snprintf(piece, sizeof piece, "%s%llu %s", first ? "" : ", ",
                    static_cast<unsigned long long>(count.value), count.name);
      text += piece;
      first = false;
    }
  }
  if (all || watch.not_shown != 0) {
    std::snprintf(piece, sizeof piece, "%s%llu bytes not shown (in the log)", first ? "" : ", ",
                  static_cast<unsigned long long>(watch.not_shown));
    text += piece;
  }
}

// The frames the side's decoders verified: "12 frames ok, 1 BAD"; nothing
// before the first.
void append_frames(std::string &text, const hex_obj_t &record) {
  if (record.frames_good == 0 && record.frames_bad == 0)
    return;
  char piece[96];
  std::snprintf(piece, sizeof piece, "%s%llu frames ok, %llu BAD", text.empty() ? "" : ", ",
                static_cast<unsigned long long>(record.frames_good),
                static_cast<unsigned long long>(record.frames_bad));
  text += piece;
}

// The status text: what went wrong on each side, empty when nothing did;
// the tooltips of the indicators give every count.
void show_line_state(HWND window) {
  std::string text;
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    Watch &watch = hex_obj[side].watch;
    if (watch.port == kNoPort)
      continue;
    if (watch.counted)
      SioCounts(watch.port, &watch.counts);
    std::string counts;
    append_counts(counts, watch, false);
    append_frames(counts, hex_obj[side]);
    if (counts.empty())
      continue;
    if (!text.empty())
      text += "; ";
    text += hex_portnames[watch.port];
    text += ": ";
    text += counts;
  }
  if (text != g_line_state) {
    g_line_state = text;
    dlg_set_text(window, IDC_LINE_STATUS, text.c_str());
  }
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    char tip[256];
    hex_capture_line_text(side, tip, sizeof tip);
    if (hex_obj[side].tip != tip && hex_obj[side].open) {
      hex_obj[side].tip = tip;
      hex_show_port_state(window, side, nullptr);
    }
  }
}

}  // namespace

void hex_capture_line_text(int side, char *text, int size) {
  const Watch &watch = hex_obj[side].watch;
  std::string line;
  if (watch.port == hex_obj[side].port && watch.port != kNoPort) {
    line = watch.counted ? "Since it opened: "
                         : "Since it opened (the device counts no line errors): ";
    append_counts(line, watch, true);
    append_frames(line, hex_obj[side]);
  }
  std::snprintf(text, size_t(size), "%s", line.c_str());
}

void hex_capture_start(HWND window) {
  hex_capture_stop(window);  // a window that went without its stop
  if (!g_capture)
    g_capture = std::make_unique<HexCapture>();
  // The dialog starts: nothing read, nothing watched yet.
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    HexSideRecord &record = hex_obj[side];
    record.watch.port = record.watch.fd = kNoPort;
    record.watch.not_shown = record.watch.hidden = record.watch.skip = 0;
    g_read_total[side] = 0;
    g_taken[side] = 0;
    record.tip.clear();
    hand_over(side, Port{});
    hex_capture_clear(*g_capture, side);
  }
  g_line_state.clear();
  g_order_errors = 0;
  g_last_ms = SioTimer();
  // The time of day now, against the clock the reads are stamped with.
  timespec real{};
  clock_gettime(CLOCK_REALTIME, &real);
  tm local{};
  localtime_r(&real.tv_sec, &local);
  hex_time.face.clock_ms = SioTimer();
  hex_time.face.day_ms = uint32_t(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
                                  real.tv_nsec / 1000000);
  g_on = true;
  g_stop = false;
  g_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  g_thread = std::thread(capture_thread);
  hex_capture_sync(window);
}

void hex_capture_stop(HWND window) {
  g_on = false;
  hex_capture_sync(window);
  if (!g_thread.joinable())
    return;
  g_stop = true;
  wake_thread();
  g_thread.join();
  close(g_wake);
  g_wake = -1;
}

void hex_capture_sync(HWND) {
  g_keep = hex_run != 0;
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    Watch &watch = hex_obj[side].watch;
    const int port = side_port(side);
    int fd = port == kNoPort ? -1 : SioHandle(port);
    if (fd < 0)
      fd = -1;
    if (port == watch.port && fd == watch.fd)
      continue;
    if (port != watch.port) {
      watch.not_shown = watch.hidden = 0;
      watch.counted = port != kNoPort && SioCounts(port, &watch.counts) == 1;
    }
    watch.port = port;
    watch.fd = fd;
    hand_over(side, Port{fd < 0 ? kNoPort : port, fd});
  }
}

void hex_capture_release(int side) {
  Watch &watch = hex_obj[side].watch;
  watch.port = watch.fd = kNoPort;
  hand_over(side, Port{});
}

uint64_t hex_capture_run_begin(HWND window) {
  hex_capture_sync(window);
  hex_clock_face_move(hex_time.face, SioTimer());
  g_run_end = std::chrono::steady_clock::now() + kRunTime;
  g_before = g_capture ? hex_capture_published(*g_capture) : 0;
  // A side with more than a run's share waiting shows only its newest
  // bytes; the rest goes to the log alone.
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const uint32_t waiting = g_capture ? hex_capture_pending(*g_capture, side) : 0;
    const bool may_skip = waiting > HEX_RUN_SHARE && view_skips();
    hex_obj[side].watch.skip = may_skip ? waiting - HEX_RUN_SHARE : 0;
  }
  return g_before;
}

bool hex_capture_run_end(HWND window) {
  hex_capture_sync(window);
  show_line_state(window);
  const bool cut = g_cut;
  g_cut = false;
  return cut && !view_skips();
}

int hex_capture_next(uint64_t before, uint8_t *out, int max, HexCapturePiece *piece,
                     bool *shown) {
  if (!g_capture)
    return 0;
  const int side = hex_capture_oldest_side(*g_capture, before);
  if (side < 0)
    return 0;
  if (std::chrono::steady_clock::now() > g_run_end) {
    g_cut = true;
    return 0;
  }
  Watch &watch = hex_obj[side].watch;
  *shown = watch.skip == 0;
  if (!*shown)
    max = int(std::min<uint32_t>(uint32_t(max), watch.skip));
  if (!hex_capture_take(*g_capture, before, out, max, piece))
    return 0;
  g_order_errors += int32_t(piece->ms - g_last_ms) < 0 ? 1 : 0;
  g_last_ms = piece->ms;
  g_taken[side] += uint64_t(piece->count);
  if (!*shown) {
    watch.skip -= uint32_t(piece->count);
    watch.not_shown += uint64_t(piece->count);
    watch.hidden += uint64_t(piece->count);
  }
  return 1;
}

uint64_t hex_capture_gap(int side) {
  const uint64_t hidden = hex_obj[side].watch.hidden;
  hex_obj[side].watch.hidden = 0;
  return hidden;
}

void hex_capture_port_event(int side, int port, uint32_t ms, HexPortEvent event) {
  g_hand.post(side, HexCaptureHandOver::Event{port, ms, event});
  wake_thread();
}

void hex_show_capture_event(const HexCapturePiece &piece, HexSink &sink) {
  hex_show_port_event(hex_time, piece.port, SioDevicePath(piece.port),
                      HexPortEvent(piece.event), piece.ms, sink);
}

uint64_t hex_capture_read_total(int side) { return g_read_total[side].load(); }

uint32_t hex_capture_waiting(int side) {
  return g_capture ? hex_capture_pending(*g_capture, side) : 0;
}

int hex_capture_line_counts(int side, SioLineCounts *counts) {
  *counts = hex_obj[side].watch.counts;
  return hex_obj[side].watch.port;
}

HexCaptureFigures hex_capture_figures(int side) {
  return HexCaptureFigures{g_read_total[side].load(), g_taken[side], hex_capture_waiting(side),
                           hex_obj[side].watch.not_shown, g_order_errors};
}
