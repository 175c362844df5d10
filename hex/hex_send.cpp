// The Send command: the edited message goes to the send port, is echoed in
// the port's sent colour and handed to the send log.
#include "hex/hex_internal.h"

#include "resources/ids.h"
#include "ser/ser.h"

#include <cstdio>
#include <cstring>

namespace {

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
  const int side = hex_send_side(dialog);
  const hex_obj_t &record = hex_obj[side];
  if (record.open)
    return false;
  std::snprintf(g_refusal, sizeof g_refusal, "Send port COM%d (Port %c) is not open",
                record.port + 1, side == HEX_SIDE_A ? 'A' : 'B');
  dlg_set_text(dialog, IDC_XFER_STATUS, g_refusal);
  return true;
}

void take_back_refusal(HWND dialog) {
  if (g_refusal[0] == '\0')
    return;
  char shown[sizeof g_refusal];
  dlg_get_text(dialog, IDC_XFER_STATUS, shown, sizeof shown);
  if (std::strcmp(shown, g_refusal) == 0)
    dlg_set_text(dialog, IDC_XFER_STATUS, "");
  g_refusal[0] = '\0';
}

// Every byte Send puts on the line goes through here. Returns how many bytes
// the port took, or the serial library's negative error code.
int write_to_send_port(const uint8_t *bytes, int count) {
  return SioPuts(hex_send_port, bytes, count);
}

}  // namespace

int hex_send_side(HWND window) {
  return dlg_button_state(window, IDC_SEND_PORT_B) == BST_CHECKED ? HEX_SIDE_B : HEX_SIDE_A;
}

// The echo and the log show what went out: a write that failed (closed port,
// device error) shows nothing, a write cut short shows the part written.
void hex_send_msg(HWND dialog) {
  if (send_side_refused(dialog))
    return;
  int text_len = dlg_get_text(dialog, IDC_MESSAGE, g_text, HEX_BUF_SIZE);
  const char *echo = g_echo;
  int echo_len = 0;
  if (hex_ascii == 0) {
    int n = hex_hexstr_to_bin(g_text, g_bytes, HEX_BUF_SIZE);
    const char *shown = g_text;  // no bytes: the text is echoed as typed
    if (n >= 1) {
      int written = write_to_send_port(g_bytes, n);
      if (written <= 0)
        return;
      hex_to_hexstr(g_bytes, g_hex, written < n ? written : n);
      shown = g_hex;
    }
    echo_len = std::snprintf(g_echo, sizeof g_echo, "\nTx%d %5d %s", hex_send_port + 1,
                             int(hex_time_stamp), shown);
    if (echo_len >= int(sizeof g_echo))
      echo_len = int(sizeof g_echo) - 1;
  } else {
    g_text[text_len] = '\r';
    g_text[text_len + 1] = '\n';
    text_len += 2;
    int written = write_to_send_port(reinterpret_cast<const uint8_t *>(g_text), text_len);
    if (written <= 0)
      return;
    echo = g_text;
    echo_len = written < text_len ? written : text_len;
  }
  take_back_refusal(dialog);
  if (hex_local_echo)
    hex_pane_put(dialog, echo, echo_len, hex_port_colour(hex_send_port, HEX_SENT));
  hex_save_tx_log(hex_send_port, echo, echo_len);
}
