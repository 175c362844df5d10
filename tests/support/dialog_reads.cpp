#include "support/dialog_reads.h"

std::string controlText(HWND window, int id) {
  char buffer[32768];
  dlg_get_text(window, id, buffer, sizeof buffer);
  return buffer;
}

std::vector<std::string> listEntries(HWND window, int id) {
  std::vector<std::string> entries;
  char buffer[32768];
  for (int i = 0; i < dlg_combo_count(window, id); ++i) {
    dlg_combo_item_text(window, id, i, buffer, sizeof buffer);
    entries.emplace_back(buffer);
  }
  return entries;
}
