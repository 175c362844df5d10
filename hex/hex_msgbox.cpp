// The three message boxes through which the monitor reports to the user.
#include "hex/hex_msgbox.h"

#include "hex/hex_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int g_err_msg_holds = 0;  // hex_hold_err_msg calls still holding

// "text = code" in the box's 256 bytes; a text too long is cut so that the
// code stays readable.
void show_with_code(const char *text, int code, const char *caption) {
  char suffix[32];
  int suffix_len = std::snprintf(suffix, sizeof suffix, " = %d", code);
  int room = HEX_MSGBOX_SIZE - 1 - suffix_len;
  char message[HEX_MSGBOX_SIZE];
  std::snprintf(message, sizeof message, "%.*s%s", room, text ? text : "", suffix);
  dlg_message_box(nullptr, message, caption, MB_OK);
}

}  // namespace

// On Linux the system's last error code is errno; it is read before anything
// here can change it.
void hex_err_msg(const char *text) {
  int last_error = errno;
  if (g_err_msg_holds > 0)
    return;
  show_with_code(text, last_error, "Kestrelon Windows Error");
}

void hex_hold_err_msg(bool hold) { g_err_msg_holds += hold ? 1 : -1; }

void hex_errcode_msg(const char *text, int code) {
  show_with_code(text, code, "Kestrelon Internal Error");
}

void hex_dbg_msg(const char *text) {
  dlg_message_box(nullptr, text ? text : "", "Kestrelon", MB_OK);
}
