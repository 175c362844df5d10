// The Send command: the edited message goes to the send port, is echoed in
// the port's sent colour and handed to the send log.
#include "hex/hex_send.h"

#include "hex/hex_display.h"
#include "hex/hex_log.h"
#include "hex/hex_port_out.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_status.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <cstdio>
#include <cstring>

namespace {

int g_send_side = HEX_SIDE_A;  // whose Send Port button is on

void show_send_side(HWND window) {
  dlg_check_radio(window, IDC_SEND_PORT_A, IDC_SEND_PORT_B, hex_side_send_button(g_send_side));
}

// Sized for the longest results: every character of a 25343-character text
// can be one byte, written back as three characters, plus the echo's header.
char g_text[HEX_BUF_SIZE + 2];
uint8_t g_bytes[HEX_BUF_SIZE];
char g_hex[3 * HEX_BUF_SIZE + 1];
char g_echo[3 * HEX_BUF_SIZE + 32];
// The refusal last shown in the status field, taken back by the next send
// that goes out.
char g_refusal[64];

// While the send side's own port is not open nothing may go out: not on the
// port it names, which may be the other side's.
bool send_side_refused(HWND dialog) {
  const int side = g_send_side;
  const hex_obj_t &record = hex_obj[side];
  if (record.open)
    return false;
  std::snprintf(g_refusal, sizeof g_refusal, "Send port COM%d (Port %c) is not open",
                record.port + 1, side == HEX_SIDE_A ? 'A' : 'B');
  hex_status_show(dialog, g_refusal);
  return true;
}

void take_back_refusal(HWND dialog) {
  if (g_refusal[0] != '\0')
    hex_status_take_back(dialog, g_refusal);
  g_refusal[0] = '\0';
}

// A message going out: its length, and what the status field shows of it.
int g_message_length = 0;
char g_progress[64];

void show_progress(HWND dialog) {
  const int out = g_message_length - hex_out_waiting();
  std::snprintf(g_progress, sizeof g_progress, "Sending... %d of %d bytes ", out, g_message_length);
  hex_status_show(dialog, g_progress);
}

// The status field's progress goes once the message is out (unless the
// field shows something else by now).
void take_back_progress(HWND dialog, const char *replacement) {
  hex_status_take_back(dialog, g_progress, replacement);
  g_progress[0] = '\0';
}

// Every byte Send puts on the line goes through here: what the port does not
// take at once is kept and written by the receive pump, so a long message on
// a slow line never holds the window. Returns how many bytes were taken in,
// or the serial library's negative error code.
int write_to_send_port(HWND dialog, const uint8_t *bytes, int count) {
  const int taken = hex_out_put(hex_send_port, bytes, count);
  if (taken > 0 && hex_out_waiting() > 0) {
    g_message_length = taken;
    show_progress(dialog);
  }
  return taken;
}

}  // namespace

int hex_send_port_refused(HWND window) { return send_side_refused(window) ? 1 : 0; }

void hex_send_drain(HWND window) {
  const int waiting = hex_out_waiting();
  if (waiting == 0)
    return;
  const int written = hex_out_push();
  if (written < 0) {
    char text[sizeof g_progress];
    std::snprintf(text, sizeof text, "Sending stopped: %d of %d bytes went out ",
                  g_message_length - waiting, g_message_length);
    take_back_progress(window, text);
    return;
  }
  if (written == 0)
    return;
  if (hex_out_waiting() > 0)
    show_progress(window);
  else
    take_back_progress(window, "");
}

const HexSendPort hex_send_port;

HexSendPort::operator int32_t() const { return hex_obj[g_send_side].port; }

int hex_send_side() { return g_send_side; }

void hex_start_send_side(HWND window) {
  g_send_side = HEX_SIDE_A;
  show_send_side(window);
}

void hex_choose_send_side(HWND window, int side) {
  if (hex_obj[side].open)
    g_send_side = side;
  show_send_side(window);
}

// The echo and the log show what went out: a write that failed (closed port,
// device error) shows nothing, a write cut short shows the part written.
void hex_send_msg(HWND dialog) {
  if (hex_out_waiting() > 0)
    return;  // the message before is still going out: the status field shows it
  if (send_side_refused(dialog))
    return;
  int text_len = dlg_get_text(dialog, IDC_MESSAGE, g_text, HEX_BUF_SIZE);
  const char *echo = g_echo;
  int echo_len = 0;
  if (hex_ascii == 0) {
    int n = hex_hexstr_to_bin(g_text, g_bytes, HEX_BUF_SIZE);
    const char *shown = g_text;  // no bytes: the text is echoed as typed
    if (n >= 1) {
      int written = write_to_send_port(dialog, g_bytes, n);
      if (written <= 0)
        return;
      hex_to_hexstr(g_bytes, g_hex, written < n ? written : n);
      shown = g_hex;
    }
    // The Time view heads the line with the time it was sent instead.
    char head[HEX_HEAD_MAX];
    if (hex_time.on)
      hex_time_line(hex_time, hex_send_port, HEX_SENT, SioTimer(), head);
    else
      std::snprintf(head, sizeof head, "\nTx%d %5d ", hex_send_port + 1, int(hex_time_stamp));
    echo_len = std::snprintf(g_echo, sizeof g_echo, "%s%s", head, shown);
    if (echo_len >= int(sizeof g_echo))
      echo_len = int(sizeof g_echo) - 1;
  } else {
    g_text[text_len] = '\r';
    g_text[text_len + 1] = '\n';
    text_len += 2;
    int written = write_to_send_port(dialog, reinterpret_cast<const uint8_t *>(g_text), text_len);
    if (written <= 0)
      return;
    const int sent = written < text_len ? written : text_len;
    // Text sent goes on the line it is on, unless the Time view starts one.
    echo_len = hex_time.on ? hex_time_chunk(hex_time, hex_send_port, HEX_SENT, SioTimer(), g_echo)
                           : 0;
    std::memcpy(g_echo + echo_len, g_text, size_t(sent));
    echo_len += sent;
  }
  take_back_refusal(dialog);
  if (hex_local_echo)
    hex_pane_put(dialog, echo, echo_len, hex_port_colour(hex_send_port, HEX_SENT));
  hex_save_tx_log(hex_send_port, echo, echo_len);
}
