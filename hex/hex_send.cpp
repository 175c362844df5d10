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

// Every byte sent goes through here: what the port does not take at once
// is kept and written by the receive pump, so a long message on a slow line
// never holds the window. Returns how many bytes were taken in, or the
// serial library's negative error code.
int write_to_port(HWND dialog, int port, const uint8_t *bytes, int count) {
  const int taken = hex_out_put(port, bytes, count);
  if (taken > 0 && hex_out_waiting() > 0) {
    g_message_length = taken;
    show_progress(dialog);
  }
  return taken;
}

// What went out, in the pane (with local echo) and the log: hex text on a
// line headed "Tx<n> <stamp>" (or the time), text on the line it is on
// unless the Time view starts one.
void echo_sent(HWND dialog, int port, const char *shown, int length, bool as_text) {
  int echo_len = 0;
  if (!as_text) {
    char head[HEX_HEAD_MAX];
    if (hex_time.on) {
      hex_time_line(hex_time, port, HEX_SENT, SioTimer(), head);
    } else {
      std::snprintf(head, sizeof head, "\nTx%d %5d ", port + 1, int(hex_time_stamp));
      hex_time.last_port = -1;  // with Ports on, what follows is headed anew
    }
    echo_len = std::snprintf(g_echo, sizeof g_echo, "%s%.*s", head, length, shown);
    if (echo_len >= int(sizeof g_echo))
      echo_len = int(sizeof g_echo) - 1;
  } else {
    echo_len = hex_lines_headed(hex_time)
                   ? hex_time_chunk(hex_time, port, HEX_SENT, SioTimer(), g_echo)
                   : 0;
    if (length > int(sizeof g_echo) - echo_len)
      length = int(sizeof g_echo) - echo_len;
    std::memcpy(g_echo + echo_len, shown, size_t(length));
    echo_len += length;
  }
  if (hex_local_echo)
    hex_pane_put(dialog, g_echo, echo_len, hex_port_colour(port, HEX_SENT));
  hex_save_tx_log(port, g_echo, echo_len);
}

}  // namespace

int hex_send_port_refused(HWND window) { return send_side_refused(window) ? 1 : 0; }

int hex_read_hex_message(HWND dialog, const char *text, uint8_t *bytes) {
  char why[sizeof g_refusal];
  if (hex_hex_form_check(text, why, sizeof why) >= 0) {
    std::memcpy(g_refusal, why, sizeof why);
    hex_status_show(dialog, g_refusal);
    return -1;
  }
  return hex_hexstr_to_bin(text, bytes, HEX_BUF_SIZE);
}

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

int hex_send_bytes(HWND dialog, int port, const uint8_t *bytes, int count, bool as_text) {
  const int written = write_to_port(dialog, port, bytes, count);
  if (written <= 0)
    return written;
  if (as_text) {
    echo_sent(dialog, port, reinterpret_cast<const char *>(bytes), written, true);
  } else {
    const int length = hex_to_hexstr(bytes, g_hex, written);
    echo_sent(dialog, port, g_hex, length, false);
  }
  return written;
}

// The echo and the log show what went out: a write that failed (closed port,
// device error) shows nothing, a write cut short shows the part written.
void hex_send_msg(HWND dialog) {
  if (hex_out_waiting() > 0)
    return;  // the message before is still going out: the status field shows it
  if (send_side_refused(dialog))
    return;
  int text_len = dlg_get_text(dialog, IDC_MESSAGE, g_text, HEX_BUF_SIZE);
  if (hex_ascii == 0) {
    const int n = hex_read_hex_message(dialog, g_text, g_bytes);
    if (n < 0)
      return;  // nothing sent, echoed or logged
    if (n == 0)
      echo_sent(dialog, hex_send_port, g_text, text_len, false);  // no bytes: the text as typed
    else if (hex_send_bytes(dialog, hex_send_port, g_bytes, n, false) <= 0)
      return;
  } else {
    g_text[text_len] = '\r';
    g_text[text_len + 1] = '\n';
    text_len += 2;
    if (hex_send_bytes(dialog, hex_send_port, reinterpret_cast<const uint8_t *>(g_text), text_len,
                       true) <= 0)
      return;
  }
  take_back_refusal(dialog);
}
