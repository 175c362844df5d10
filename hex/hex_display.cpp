// Output into the display pane and the pane's positioning.
#include "hex/hex_internal.h"

#include "pane/pane_view.h"
#include "resources/ids.h"

#include <algorithm>
#include <string_view>

void hex_pane_put(HWND window, const char *text, int length, uint32_t colour) {
  DisplayPane *pane = dlg_pane(window, IDC_PANE);
  if (!pane || length < 1)
    return;
  PaneModel &model = pane->model();
  std::string_view bytes(text, size_t(length));
  if (hex_view_mode == 2) {
    // The caret is the terminal's cursor: text goes where it stands.
    model.setSelectionColour(colour);
    model.replaceSelection(bytes);
    return;
  }
  PaneSelection kept = model.selection();
  if (kept.empty()) {
    // An empty selection carries the insertion colour; a caret at the end
    // stays at the end.
    bool caret_at_end = kept.caret >= model.length();
    model.setSelectionColour(colour);
    model.append(bytes);
    if (caret_at_end)
      model.setCaret(model.length());
    return;
  }
  // Colouring a selection would recolour the user's text: take the colour at
  // an empty selection, then give the user's selection back.
  std::int64_t dropped_before = model.droppedTotal();
  model.setCaret(model.length());
  model.setSelectionColour(colour);
  model.append(bytes);
  // Old text dropped to bound the pane moves the user's text towards 0.
  std::int64_t shift = model.droppedTotal() - dropped_before;
  model.setSelection(std::max<std::int64_t>(0, kept.anchor - shift),
                     std::max<std::int64_t>(0, kept.caret - shift));
}

void hex_display_msg(HWND dialog, int port, const char *text, int length) {
  if (length < 1)
    return;
  hex_pane_put(dialog, text, length, hex_port_colour(port, 0));
  // Other views follow the end through the pane's follow mode.
  if (hex_view_mode == 2)
    hex_ansi_scroll(dialog);
  hex_save_rx_log(port, text, length);
}

int hex_caretline(HWND dialog) {
  DisplayPane *pane = dlg_pane(dialog, IDC_PANE);
  if (!pane)
    return 0;
  const PaneModel &model = pane->model();
  return int(model.lineFromPosition(model.selection().start()));
}

void hex_scroll_bottom(HWND dialog, int line) {
  DisplayPane *pane = dlg_pane(dialog, IDC_PANE);
  if (!pane)
    return;
  std::int64_t target = line;
  std::int64_t count = pane->model().lineCount();
  if (target > count)
    target = count;
  pane->scrollLines(target - pane->firstVisibleLine() - HEX_SCREEN_LINES);
}

void hex_caretbottom(HWND dialog) { hex_scroll_bottom(dialog, hex_caretline(dialog)); }

void hex_ansi_scroll(HWND dialog) {
  DisplayPane *pane = dlg_pane(dialog, IDC_PANE);
  if (!pane)
    return;
  std::int64_t top = std::int64_t(hex_caretline(dialog)) / HEX_SCREEN_LINES * HEX_SCREEN_LINES;
  std::int64_t first = pane->firstVisibleLine();
  if (first != top)
    pane->scrollLines(top - first);
}

void hex_caret_end(HWND dialog) {
  DisplayPane *pane = dlg_pane(dialog, IDC_PANE);
  if (pane)
    pane->model().setCaret(pane->model().length());
}
