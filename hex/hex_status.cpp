// The status field and the text it shows.
#include "hex/hex_status.h"

#include "resources/ids.h"

#include <string>

namespace {

std::string g_shown;

}  // namespace

void hex_status_show(HWND window, const char *text) {
  if (g_shown == text)
    return;
  g_shown = text;
  dlg_set_text(window, IDC_XFER_STATUS, text);
}

void hex_status_take_back(HWND window, const char *text, const char *replacement) {
  if (g_shown == text)
    hex_status_show(window, replacement);
}
