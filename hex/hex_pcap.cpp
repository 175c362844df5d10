// The capture file for Wireshark: opening, the packets of each pump run,
// writing them out whole, and closing.
#include "hex/hex_pcap.h"
#include "hex/hex_help.h"

#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr char kExtension[] = "pcapng";
constexpr char kTitle[] = "Select or enter a Wireshark capture file name";
constexpr char kApplication[] = "Kestrelon";
constexpr uint64_t kEventsMax = 64;

struct Capture {
  int fd = -1;
  HWND window = nullptr;
  std::unique_ptr<HexPcapWriter> writer;
  off_t written = 0;  // on disk, up to the end of the last whole block
  // The time of the piece being shown, in nanoseconds since 1970, moved
  // along the clock the reads are stamped with.
  uint32_t clock_ms = 0;
  uint64_t ns = 0;
  int side = HEX_SIDE_A;
  // What each side's line counted when last written.
  int counted_port[2] = {-1, -1};
  SioLineCounts counted[2];
};

Capture g_capture;

uint64_t now_ns() {
  timespec real{};
  clock_gettime(CLOCK_REALTIME, &real);
  return uint64_t(real.tv_sec) * 1000000000u + uint64_t(real.tv_nsec);
}

// The clock wraps after 49 days; times are moved along by differences.
void set_time(uint32_t ms) {
  g_capture.ns += uint64_t(int64_t(int32_t(ms - g_capture.clock_ms)) * 1000000);
  g_capture.clock_ms = ms;
}

uint8_t line_bits(int port) {
  uint8_t bits = 0;
  if (SioCTS(port) > 0)
    bits |= HEX_PCAP_CTS;
  if (SioDSR(port) > 0)
    bits |= HEX_PCAP_DSR;
  if (SioDCD(port) > 0)
    bits |= HEX_PCAP_DCD;
  if (SioRI(port) > 0)
    bits |= HEX_PCAP_RING;
  if (SioDTR(port, 'R') > 0)
    bits |= HEX_PCAP_DTR;
  if (SioRTS(port, 'R') > 0)
    bits |= HEX_PCAP_RTS;
  return bits;
}

void show_closed(HWND window) {
  if (window) {
    dlg_check_button(window, IDC_PCAP, BST_UNCHECKED);
    dlg_set_tooltip(window, IDC_PCAP, hex_help_tip(IDC_PCAP));
  }
}

void release() {
  if (g_capture.fd >= 0)
    ::close(g_capture.fd);
  g_capture.fd = -1;
  g_capture.writer.reset();
}

// Whole blocks to the file. A write that fails takes back what part of a
// block reached the file, so the file ends behind its last whole block.
bool write_blocks() {
  std::string &blocks = g_capture.writer->blocks();
  size_t done = 0;
  while (done < blocks.size()) {
    const ssize_t n = ::write(g_capture.fd, blocks.data() + done, blocks.size() - done);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    const int error = n == 0 ? ENOSPC : errno;
    if (ftruncate(g_capture.fd, g_capture.written) != 0) {
      // The file cannot be cut back: nothing more to do than report.
    }
    errno = error;
    return false;
  }
  g_capture.written += off_t(done);
  blocks.clear();
  return true;
}

void write_failed() {
  const int error = errno;
  HWND window = g_capture.window;
  release();
  show_closed(window);
  errno = error;
  hex_err_msg("Capture File write error");
}

// Events without bytes, at most kEventsMax of a kind at a time: a line that
// keeps failing says so often enough.
void write_events(int port, uint8_t event, uint64_t count) {
  const char *device = SioDevicePath(port);
  for (uint64_t i = 0; i < count && i < kEventsMax; ++i)
    g_capture.writer->serial(port, device, g_capture.ns, event, 0, nullptr, 0);
}

// Line errors the drivers counted since the last run: events of their own
// at the run's end, stamped as its last bytes. A port seen first counts from there.
void write_line_events() {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    SioLineCounts now;
    const int port = hex_capture_line_counts(side, &now);
    const bool seen = port == g_capture.counted_port[side];
    g_capture.counted_port[side] = port;
    const SioLineCounts &was = g_capture.counted[side];
    if (seen && port >= 0 && hex_view_mode != HEX_VIEW_PPP) {
      write_events(port, HEX_PCAP_FRAMING, now.framing - was.framing);
      write_events(port, HEX_PCAP_PARITY, now.parity - was.parity);
      write_events(port, HEX_PCAP_OVERFLOW,
                   uint64_t(now.overrun - was.overrun) + (now.overflow - was.overflow));
    }
    g_capture.counted[side] = now;
  }
}

}  // namespace

int hex_pcap_running() { return g_capture.fd >= 0 ? 1 : 0; }

int hex_pcap_open_file(HWND window, const char *path, bool ask) {
  hex_pcap_close(window);
  if (ask && hex_ask_existing(window, path, false) != HEX_EXISTING_REPLACE)
    return 0;
  std::string why;
  const int fd = hex_open_user_file(path, HexOpen::Replace, &why);
  if (fd < 0) {
    hex_file_refused("Capture File open error", path, why.c_str());
    return 0;
  }
  g_capture.fd = fd;
  g_capture.window = window;
  g_capture.written = 0;
  g_capture.writer = std::make_unique<HexPcapWriter>(kApplication);
  g_capture.clock_ms = SioTimer();
  g_capture.ns = now_ns();
  g_capture.counted_port[HEX_SIDE_A] = g_capture.counted_port[HEX_SIDE_B] = -1;
  dlg_check_button(window, IDC_PCAP, BST_CHECKED);
  dlg_set_tooltip(window, IDC_PCAP, path);
  // On disk at once: a file that takes nothing is found out now.
  if (!write_blocks()) {
    write_failed();
    return 0;
  }
  return 1;
}

void hex_pcap_clicked(HWND window) {
  if (dlg_button_state(window, IDC_PCAP) != BST_CHECKED) {
    hex_pcap_close(window);
    return;
  }
  char path[HEX_PATH_SIZE];
  if (!hex_file_dlg(kExtension, kTitle, path, sizeof path)) {
    show_closed(window);
    return;
  }
  hex_pcap_open_file(window, path, true);
}

void hex_pcap_close(HWND window) {
  if (g_capture.fd >= 0 && !write_blocks()) {
    write_failed();
    return;
  }
  release();
  show_closed(window ? window : g_capture.window);
}

void hex_pcap_piece(const HexCapturePiece &piece, const uint8_t *bytes) {
  if (!g_capture.writer)
    return;
  set_time(piece.ms);
  g_capture.side = piece.side;
  // The PPP view writes the frames its decoder finds in these bytes.
  if (hex_view_mode == HEX_VIEW_PPP || piece.event != HEX_PORT_NO_EVENT)
    return;
  write_events(piece.port, HEX_PCAP_BREAK, piece.breaks);
  if (piece.count > 0)
    g_capture.writer->serial(piece.port, SioDevicePath(piece.port), g_capture.ns,
                             HEX_PCAP_RX_START, line_bits(piece.port), bytes, piece.count);
}

void hex_pcap_frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict) {
  if (!g_capture.writer || hex_view_mode != HEX_VIEW_PPP)
    return;
  g_capture.writer->ppp(g_capture.side, port, SioDevicePath(port), g_capture.ns, bytes, count,
                        verdict);
}

void hex_pcap_flush() {
  if (!g_capture.writer)
    return;
  write_line_events();
  if (!g_capture.writer->blocks().empty() && !write_blocks())
    write_failed();
}
