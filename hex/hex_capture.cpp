// Capture: each side's port watched while the pump runs, read as bytes
// arrive, and the line events its driver counts.
#include "hex/hex_capture.h"

#include "hex/hex_reconnect.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_transfer.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// At most this many reads per side when a run begins: a port that a fast
// writer keeps full must not keep the run from showing anything.
constexpr int kRunReadsMax = 16;

constexpr int kNoPort = -1;
constexpr int kNoDescriptor = -1;

using Watch = HexWatch;

HexCapture g_capture;
bool g_on = false;         // between the pump's start and its stop
bool g_in_run = false;     // a run is showing chunks
std::string g_line_state;  // the status text last shown

bool capturing() { return g_on && !hex_transfer_running(); }

void unwatch(HWND window, Watch &watch) {
  if (watch.watched)
    dlg_watch_readable(window, watch.fd, 0);
  watch.watched = false;
}

void watch_port(HWND window, Watch &watch) {
  if (!watch.watched && watch.fd != kNoDescriptor)
    watch.watched = dlg_watch_readable(window, watch.fd, HEX_PORT_READY) != 0;
  watch.held = false;
}

// The port a side reads: the one it holds open. A side whose open failed
// reads nothing, even when it names the port the other side holds.
int side_port(int side) {
  const hex_obj_t &record = hex_obj[side];
  return record.open ? record.port : kNoPort;
}

// Breaks counted since the last look become a chunk of their own, ahead of
// the bytes read with them.
void look_at_counts(int side, uint32_t ms) {
  Watch &watch = hex_obj[side].watch;
  if (!watch.counted)
    return;
  SioLineCounts now;
  if (SioCounts(watch.port, &now) != 1)
    return;
  const uint32_t breaks = now.breaks - watch.counts.breaks;
  watch.counts = now;
  if (breaks != 0 && hex_run != 0)
    hex_capture_breaks(g_capture, side, watch.port, ms, breaks);
}

// One read of a side's port. Returns the bytes read (0 when none were
// waiting, or the side is held), or -1 when the port failed.
int read_side(HWND window, int side, bool may_hold) {
  Watch &watch = hex_obj[side].watch;
  const uint32_t ms = SioTimer();
  look_at_counts(side, ms);
  int count = 0;
  if (hex_run == 0) {
    // Stop: read and dropped.
    static uint8_t dropped[HEX_READ_MAX];
    count = SioGets(watch.port, dropped, int(sizeof dropped));
  } else {
    if (may_hold && hex_capture_pending(g_capture, side) >= HEX_RUN_SHARE) {
      unwatch(window, watch);
      watch.held = true;
      return 0;
    }
    uint32_t room = 0;
    uint8_t *into = hex_capture_room(g_capture, side, HEX_READ_MAX, &room);
    count = SioGets(watch.port, into, int(room < HEX_READ_MAX ? room : HEX_READ_MAX));
    if (count > 0)
      hex_capture_commit(g_capture, side, watch.port, ms, uint32_t(count));
  }
  if (count < 0) {
    // The device has gone: its descriptor would report a hang-up for ever.
    // The side lets the port go and waits for the device to come back.
    unwatch(window, watch);
    hex_port_gone(window, side, ms);
    hex_capture_sync(window);
    return -1;
  }
  watch.read_total += uint64_t(count);
  return count;
}

void append_counts(std::string &text, const Watch &watch, uint64_t dropped, bool all) {
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
  if (all || dropped != 0) {
    std::snprintf(piece, sizeof piece, "%s%llu dropped by the display", first ? "" : ", ",
                  static_cast<unsigned long long>(dropped));
    text += piece;
  }
}

// The status text: what went wrong on each side, empty when nothing did;
// the tooltips of the indicators give every count.
void show_line_state(HWND window) {
  std::string text;
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const Watch &watch = hex_obj[side].watch;
    if (watch.port == kNoPort)
      continue;
    std::string counts;
    append_counts(counts, watch, hex_capture_dropped(side), false);
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
    append_counts(line, watch, hex_capture_dropped(side), true);
  }
  std::snprintf(text, size_t(size), "%s", line.c_str());
}

void hex_capture_start(HWND window) {
  // The dialog starts: nothing read, nothing watched yet.
  for (HexSideRecord &record : hex_obj) {
    record.watch = Watch{};
    record.tip.clear();
  }
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    hex_capture_clear(g_capture, side);
    g_capture.sides[side].dropped = 0;
  }
  g_line_state.clear();
  g_in_run = false;
  g_on = true;
  // The time of day now, against the clock the reads are stamped with.
  timespec real{};
  clock_gettime(CLOCK_REALTIME, &real);
  tm local{};
  localtime_r(&real.tv_sec, &local);
  hex_time.face.clock_ms = SioTimer();
  hex_time.face.day_ms = uint32_t(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
                                  real.tv_nsec / 1000000);
  hex_capture_sync(window);
}

void hex_capture_stop(HWND window) {
  g_on = false;
  hex_capture_sync(window);
}

void hex_capture_sync(HWND window) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    Watch &watch = hex_obj[side].watch;
    const int port = capturing() ? side_port(side) : kNoPort;
    int fd = port == kNoPort ? kNoDescriptor : SioHandle(port);
    if (fd < 0)
      fd = kNoDescriptor;
    if (port != watch.port || fd != watch.fd) {
      unwatch(window, watch);
      const uint64_t read_total = watch.read_total;
      watch = Watch{};
      watch.read_total = read_total;
      watch.port = port;
      watch.fd = fd;
      watch.dropped_before = g_capture.sides[side].dropped;
      if (fd != kNoDescriptor)
        watch.counted = SioCounts(port, &watch.counts) == 1;
    }
    if (fd == kNoDescriptor) {
      unwatch(window, watch);
      continue;
    }
    if (!watch.watched || watch.held)
      watch_port(window, watch);
  }
}

void hex_capture_ready(HWND window, int descriptor) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    Watch &watch = hex_obj[side].watch;
    if (!watch.watched || watch.fd != descriptor)
      continue;
    // The port may have been closed (a transfer, a port change) since the
    // watch began: the descriptor is then no longer its own.
    if (!capturing() || SioHandle(watch.port) != descriptor) {
      hex_capture_sync(window);
      return;
    }
    read_side(window, side, !g_in_run);
    return;
  }
  dlg_watch_readable(window, descriptor, 0);  // no side's any more
}

uint64_t hex_capture_run_begin(HWND window) {
  g_in_run = true;
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    Watch &watch = hex_obj[side].watch;
    if (watch.fd == kNoDescriptor || !capturing())
      continue;
    for (int reads = 0; reads < kRunReadsMax; ++reads) {
      if (hex_capture_pending(g_capture, side) >= HEX_RUN_SHARE)
        break;
      if (read_side(window, side, false) <= 0)
        break;
    }
  }
  return g_capture.next_seq;
}

void hex_capture_run_end(HWND window) {
  g_in_run = false;
  hex_capture_sync(window);
  show_line_state(window);
}

int hex_capture_next(uint64_t before, uint8_t *out, int max, HexCapturePiece *piece) {
  return hex_capture_take(g_capture, before, out, max, piece);
}

void hex_capture_port_event(int side, int port, uint32_t ms, HexPortEvent event) {
  hex_capture_event(g_capture, side, port, ms, event);
}

void hex_show_capture_event(const HexCapturePiece &piece, HexSink &sink) {
  hex_show_port_event(hex_time, piece.port, SioDevicePath(piece.port),
                      HexPortEvent(piece.event), piece.ms, sink);
}

uint64_t hex_capture_read_total(int side) { return hex_obj[side].watch.read_total; }

uint32_t hex_capture_waiting(int side) { return hex_capture_pending(g_capture, side); }

uint64_t hex_capture_dropped(int side) {
  return g_capture.sides[side].dropped - hex_obj[side].watch.dropped_before;
}
