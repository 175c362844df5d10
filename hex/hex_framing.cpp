// CheckSum and Add Frame: the check of the edited message in a message box,
// and the message wrapped in a frame, written back into the message field.
#include "hex/hex_framing.h"

#include "hex/hex_msgbox.h"
#include "resources/ids.h"

namespace {

constexpr int kMessageTextMax = HEX_BUF_SIZE - 1;  // characters the message field gives
constexpr int kCheckSumTextSize = 64;

// The edited message: its text (at most 25343 characters) and its bytes.
char g_text[HEX_BUF_SIZE];
uint8_t g_message[HEX_BUF_SIZE];
uint8_t g_frame[HEX_FRAME_MAX];
char g_frame_text[kMessageTextMax + 1];  // only frames whose text fits are written

int read_message(HWND dialog) {
  dlg_get_text(dialog, IDC_MESSAGE, g_text, kMessageTextMax + 1);
  return hex_hexstr_to_bin(g_text, g_message, HEX_BUF_SIZE);
}

}  // namespace

void hex_history_add(HWND window, const char *text) {
  if (dlg_combo_find_exact(window, IDC_MESSAGE, -1, text) == CB_ERR)
    dlg_combo_add(window, IDC_MESSAGE, text);
  if (dlg_combo_count(window, IDC_MESSAGE) > HEX_HISTORY_LINES)
    dlg_combo_delete(window, IDC_MESSAGE, HEX_HISTORY_LINES - 1);
}

void hex_checksum(HWND dialog) {
  const int kind = dlg_combo_get_sel(dialog, IDC_CHECK_KIND);
  const int length = read_message(dialog);
  char report[kCheckSumTextSize];
  hex_checksum_text(kind, g_message, length, report, sizeof report);
  hex_dbg_msg(report);
}

// A frame whose text the message field cannot hold is refused whole: the
// field and the history stay as they were.
void hex_frameit(HWND dialog) {
  const int kind = dlg_combo_get_sel(dialog, IDC_CHECK_KIND);
  const int length = read_message(dialog);
  const int type = dlg_combo_get_sel(dialog, IDC_FRAME_TYPE);
  const int frame_length = hex_build_frame(type, kind, g_message, length, g_frame);
  const char *text = g_text;  // nothing built: the field keeps its text
  if (frame_length > 0) {
    if (3 * frame_length > kMessageTextMax) {
      hex_dbg_msg("Frame too long");
      return;
    }
    hex_to_hexstr(g_frame, g_frame_text, frame_length);
    text = g_frame_text;
  }
  dlg_set_text(dialog, IDC_MESSAGE, text);
  hex_history_add(dialog, text);
}
