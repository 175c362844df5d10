// Output into the display pane and the pane's positioning.
#include "hex/hex_display.h"
#include "hex/hex_pcap.h"

#include "hex/hex_log.h"
#include "hex/hex_screen.h"
#include "hex/hex_state.h"
#include "resources/ids.h"

#include <cstdio>
#include <cstring>

void hex_pane_put(HWND window, const char *text, int length, uint32_t colour) {
  if (length < 1)
    return;
  if (hex_view_mode == HEX_VIEW_ANSI) {
    // The caret is the terminal's cursor: text goes where it stands.
    dlg_pane_replace_sel(window, IDC_PANE, text, length, colour);
    return;
  }
  dlg_pane_append(window, IDC_PANE, text, length, colour);
}

void hex_display_msg(HWND dialog, int port, const char *text, int length) {
  if (length < 1)
    return;
  hex_pane_put(dialog, text, length, hex_port_colour(port, HEX_RECEIVED));
  // Other views follow the end through the pane's follow mode.
  if (hex_view_mode == HEX_VIEW_ANSI)
    hex_ansi_scroll(dialog);
  hex_save_rx_log(port, text, length);
}

namespace {

// Text a gathering sink holds back: one port's, in one piece.
constexpr int kGatherMax = 256 * 1024;
char g_gathered[kGatherMax];
int g_gathered_length = 0;
int g_gathered_port = 0;

}  // namespace

void HexWindowSink::show(int port, const char *text, int length) {
  if (!gather_) {
    hex_display_msg(window_, port, text, length);
    return;
  }
  if (length < 1)
    return;
  if (port != g_gathered_port || g_gathered_length + length > kGatherMax)
    flush();
  if (length > kGatherMax) {
    hex_display_msg(window_, port, text, length);
    return;
  }
  std::memcpy(g_gathered + g_gathered_length, text, size_t(length));
  g_gathered_length += length;
  g_gathered_port = port;
}

void HexWindowSink::flush() {
  if (!gather_)
    return;
  hex_screens_flush(window_);
  if (g_gathered_length == 0)
    return;
  const int length = g_gathered_length;
  g_gathered_length = 0;
  hex_display_msg(window_, g_gathered_port, g_gathered, length);
}

void HexWindowSink::show_alert(int, const char *text, int length) {
  if (length < 1)
    return;
  flush();
  hex_pane_put(window_, text, length, HEX_ALERT_COLOUR);
  hex_save_alert_log(text, length);
}

void HexWindowSink::frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict) {
  hex_pcap_frame(port, bytes, count, verdict);
}

void HexLogSink::show(int port, const char *text, int length) {
  if (length > 0)
    hex_save_rx_log(port, text, length);
}

void HexLogSink::show_alert(int, const char *text, int length) {
  if (length > 0)
    hex_save_alert_log(text, length);
}

void HexLogSink::frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict) {
  hex_pcap_frame(port, bytes, count, verdict);
}

void hex_show_gap(HWND window, int port, uint64_t count) {
  char text[128];
  const int length = std::snprintf(text, sizeof text, "\n%llu bytes of %s not shown, see the log\n",
                                   static_cast<unsigned long long>(count), hex_portnames[port]);
  hex_pane_put(window, text, length, HEX_ALERT_COLOUR);
}

int hex_caretline(HWND dialog) {
  int64_t start = 0;
  dlg_pane_get_sel(dialog, IDC_PANE, &start, nullptr);
  return int(dlg_pane_line_from_char(dialog, IDC_PANE, start));
}

void hex_ansi_scroll(HWND dialog) {
  const int64_t top = int64_t(hex_caretline(dialog)) / HEX_SCREEN_LINES * HEX_SCREEN_LINES;
  const int64_t first = dlg_pane_first_visible_line(dialog, IDC_PANE);
  if (first != top)
    dlg_pane_line_scroll(dialog, IDC_PANE, top - first);
}

void hex_caret_end(HWND dialog) {
  const int64_t end = dlg_pane_text_length(dialog, IDC_PANE);
  dlg_pane_set_sel(dialog, IDC_PANE, end, end);
}
