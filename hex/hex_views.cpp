// View and frame-type choices, and whether the user has text selected.
#include "hex/hex_views.h"

#include "hex/hex_screen.h"
#include "hex/hex_state.h"
#include "resources/ids.h"

namespace {

void set_local_echo(HWND window, bool on) {
  hex_local_echo = on ? 1 : 0;
  dlg_check_button(window, IDC_LOCAL_ECHO, on ? BST_CHECKED : BST_UNCHECKED);
}

// A view that changes starts its decoders afresh on both sides.
void set_view(int32_t view) {
  if (view != hex_view_mode)
    for (hex_obj_t &record : hex_obj)
      hex_frames_reset(record);
  hex_view_mode = view;
}

}  // namespace

void hex_apply_view_layout(HWND window) {
  dlg_pane_set_wrap(window, IDC_PANE, hex_view_mode != HEX_VIEW_ANSI);
  // The Hexadecimal and frame views show bytes as hex groups.
  const bool groups = hex_view_mode == HEX_VIEW_HEXADECIMAL || hex_view_mode == HEX_VIEW_HDLC ||
                      hex_view_mode == HEX_VIEW_PPP || hex_view_mode == HEX_VIEW_ICNI;
  dlg_pane_set_hex_groups(window, IDC_PANE, groups);
  hex_screens_show(window, hex_view_mode == HEX_VIEW_TERMINAL);
}

void hex_ViewSelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  int view = dlg_combo_get_sel(window, IDC_VIEW);
  if (view >= HEX_VIEW_HEXADECIMAL && view <= HEX_VIEW_TERMINAL) {
    set_view(view);
    // ASCII and the terminals send typed text; a terminal echoes for itself.
    const bool terminal = view == HEX_VIEW_ANSI || view == HEX_VIEW_TERMINAL;
    hex_ascii = (view == HEX_VIEW_ASCII || terminal) ? 1 : 0;
    set_local_echo(window, !terminal);
    hex_apply_view_layout(window);
  }
  dlg_set_focus(window, IDC_PANE);
}

void hex_checkKindSelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  int kind = dlg_combo_get_sel(window, IDC_CHECK_KIND);
  if (kind < HEX_CHECK_CRC16 || kind > HEX_CHECK_XOR)
    kind = HEX_CHECK_NONE;
  for (hex_obj_t &record : hex_obj)
    record.frame_check = kind;
}

void hex_frameChanged(HWND window) {
  // Frame type -> checksum kind and view; no frame type chosen is None.
  struct FrameSettings {
    HexCheck kind;
    HexView view;
  };
  static const FrameSettings kFrameSettings[] = {
      {HEX_CHECK_CRC16, HEX_VIEW_HEXADECIMAL},  // None
      {HEX_CHECK_CRC16, HEX_VIEW_HDLC},
      {HEX_CHECK_CRC16, HEX_VIEW_PPP},
      {HEX_CHECK_XOR, HEX_VIEW_ICNI},
  };
  int frame = dlg_combo_get_sel(window, IDC_FRAME_TYPE);
  if (frame < HEX_FRAME_NONE || frame > HEX_FRAME_ICNI)
    frame = HEX_FRAME_NONE;
  const int kind = kFrameSettings[frame].kind;
  const int view = kFrameSettings[frame].view;
  dlg_combo_set_sel(window, IDC_CHECK_KIND, kind);
  hex_checkKindSelChange(window, 0, 0, 0);
  dlg_combo_set_sel(window, IDC_VIEW, view);
  hex_ascii = 0;
  set_view(view);
  set_local_echo(window, true);
  hex_apply_view_layout(window);
}

int hex_text_selected(HWND window) {
  int64_t start = 0;
  int64_t end = 0;
  dlg_pane_get_sel(window, IDC_PANE, &start, &end);
  return start != end ? 1 : 0;
}

void hex_timeChanged(HWND window) {
  hex_time.on = dlg_button_state(window, IDC_TIME) == BST_CHECKED ? 1 : 0;
  // The first line headed from now on tells no time since an earlier one.
  hex_time.lines = 0;
  hex_time.last_port = -1;
  dlg_set_focus(window, IDC_PANE);
}

void hex_portNamesChanged(HWND window) {
  hex_time.names = dlg_button_state(window, IDC_PORT_NAMES) == BST_CHECKED ? 1 : 0;
  hex_time.last_port = -1;  // the next text heads a line
  dlg_set_focus(window, IDC_PANE);
}
