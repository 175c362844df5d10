// The pane as the far end's keyboard: keys typed into the pane go to the
// send port, the navigation keys as the sequences the terminal acts on, so
// two monitors on one cable move each other's caret.
#include "hex/hex_keys.h"

#include "hex/hex_display.h"
#include "hex/hex_log.h"
#include "hex/hex_port_out.h"
#include "hex/hex_send.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_transfer.h"
#include "hex/hex_views.h"
#include "resources/ids.h"
#include "ser/ser.h"

// The one place key bytes are written: on the send port, and logged as sent
// as far as they went out. Nothing goes while the send side's own port is not
// open (its port index may name the other side's line), nor while a transfer
// runs.
int hex_send_key_bytes(HWND dialog, const char *bytes, int length) {
  // A transfer holds the port: a key's bytes would go into its stream.
  if (!hex_send_side_open(dialog) || hex_transfer_running())
    return HEX_KEY_NOT_SENT;
  // Behind a message still going out, never before it.
  const int written = hex_out_put(hex_send_port, reinterpret_cast<const uint8_t *>(bytes), length);
  if (written <= 0)
    return HEX_KEY_NOT_SENT;
  // The Time view starts a line for keys that follow other traffic; the
  // echo of the key itself is the pane's.
  char head[HEX_HEAD_MAX];
  if (hex_lines_headed(hex_time)) {
    if (const int head_length =
            hex_time_chunk(hex_time, hex_send_port, HEX_SENT, SioTimer(), head)) {
      if (hex_local_echo)
        hex_pane_put(dialog, head, head_length, hex_port_colour(hex_send_port, HEX_SENT));
      hex_save_tx_log(hex_send_port, head, head_length);
    }
  }
  hex_save_tx_log(hex_send_port, bytes, written);
  return written;
}

namespace {

// Where a key's bytes go out.
enum class KeyViews { AnsiOnly, Every };

int send_key(HWND dialog, const char *bytes, int length, KeyViews views) {
  if (views == KeyViews::AnsiOnly && hex_view_mode != HEX_VIEW_ANSI)
    return 0;
  return hex_send_key_bytes(dialog, bytes, length);
}

}  // namespace

int hex_send_side_open(HWND) { return hex_obj[hex_send_side()].open ? 1 : 0; }

int hex_ansi_up(HWND dialog) { return send_key(dialog, "\x1b[A", 3, KeyViews::AnsiOnly); }
int hex_ansi_down(HWND dialog) { return send_key(dialog, "\x1b[B", 3, KeyViews::AnsiOnly); }
int hex_ansi_right(HWND dialog) { return send_key(dialog, "\x1b[C", 3, KeyViews::AnsiOnly); }
int hex_ansi_left(HWND dialog) { return send_key(dialog, "\x1b[D", 3, KeyViews::AnsiOnly); }
int hex_ansi_home(HWND dialog) { return send_key(dialog, "\x1bOP", 3, KeyViews::AnsiOnly); }
int hex_ansi_end(HWND dialog) { return send_key(dialog, "\x1bOQ", 3, KeyViews::AnsiOnly); }
int hex_ansi_pg_up(HWND dialog) { return send_key(dialog, "\x1bOP", 3, KeyViews::AnsiOnly); }
int hex_ansi_pg_dn(HWND dialog) { return send_key(dialog, "\x1bOS", 3, KeyViews::AnsiOnly); }
int hex_ansi_return(HWND dialog) { return send_key(dialog, "\r\n", 2, KeyViews::AnsiOnly); }
int hex_ansi_escape(HWND dialog) { return send_key(dialog, "\x1b", 1, KeyViews::Every); }
int hex_ansi_back(HWND dialog) { return send_key(dialog, "\x08", 1, KeyViews::Every); }

int hex_ansi_char(HWND dialog, int character) {
  // Outside the ANSI view the pane is not paged by screens: its text need not
  // have lines, and the view follows the end instead.
  if (hex_view_mode == HEX_VIEW_ANSI)
    hex_ansi_scroll(dialog);
  if (character == CHAR_TAB)
    dlg_set_focus(dialog, IDC_PANE);
  const char byte = char(character);
  const int sent = send_key(dialog, &byte, 1, KeyViews::Every);
  // What the pane shows of the key, it shows in the sent colour; without an
  // echo a selection keeps its colours.
  if (sent > 0 && hex_local_echo)
    dlg_pane_set_sel_colour(dialog, IDC_PANE, hex_port_colour(hex_send_port, HEX_SENT));
  return sent;
}

namespace {

// Key-downs that go out as the terminal's sequences, and the key the pane
// then acts on: Delete as Backspace.
struct KeyRoute {
  int key;
  int (*routine)(HWND);
  int act;
};
constexpr KeyRoute kKeyRoutes[] = {
    {VK_PRIOR, hex_ansi_pg_up, VK_PRIOR}, {VK_NEXT, hex_ansi_pg_dn, VK_NEXT},
    {VK_END, hex_ansi_end, VK_END},       {VK_HOME, hex_ansi_home, VK_HOME},
    {VK_LEFT, hex_ansi_left, VK_LEFT},    {VK_UP, hex_ansi_up, VK_UP},
    {VK_RIGHT, hex_ansi_right, VK_RIGHT}, {VK_DOWN, hex_ansi_down, VK_DOWN},
    {VK_DELETE, hex_ansi_back, VK_BACK},
};

bool is_clipboard_key(int character) {
  return character == CHAR_COPY || character == CHAR_PASTE || character == CHAR_CUT;
}

HexKeyResult key_down(HWND window, int code) {
  // Esc and Enter go out by their characters, which the same press makes.
  if (code == VK_ESCAPE)
    return {0, 0};
  for (const KeyRoute &route : kKeyRoutes)
    if (route.key == code)
      return {route.routine(window), route.act};
  // Backspace goes out by its character, after the pane has acted on the
  // key-down.
  if (code == VK_BACK && !hex_send_side_open(window))
    return {HEX_KEY_NOT_SENT, code};
  return {0, code};
}

HexKeyResult key_char(HWND window, int code) {
  if (code == CHAR_ESCAPE)
    return {hex_ansi_escape(window), code};
  if (code == CHAR_RETURN && hex_view_mode == HEX_VIEW_ANSI)
    return {hex_ansi_return(window), code};
  return {hex_ansi_char(window, code), code};
}

}  // namespace

HexKeyResult hex_key_filter(HWND window, HexKeyKind kind, int code) {
  // Copy, paste and cut of the selection, echo or not.
  if (kind == HexKeyKind::Char && is_clipboard_key(code) && hex_text_selected(window))
    return {0, code};
  HexKeyResult result = kind == HexKeyKind::Down ? key_down(window, code) : key_char(window, code);
  // A key whose bytes should have gone out and did not does not act on the
  // pane either; without local echo the pane shows no key.
  if (result.sent < 0 || hex_local_echo == 0)
    result.act = 0;
  return result;
}
