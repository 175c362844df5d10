// View and frame-type choices, and whether the user has text selected.
#include "hex/hex_internal.h"

#include "resources/ids.h"

namespace {

void set_local_echo(HWND window, bool on) {
  hex_local_echo = on ? 1 : 0;
  dlg_check_button(window, IDC_LOCAL_ECHO, on ? BST_CHECKED : BST_UNCHECKED);
}

}  // namespace

void hex_apply_view_layout(HWND window) { dlg_pane_set_wrap(window, IDC_PANE, hex_view_mode != 2); }

void hex_ViewSelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  int view = dlg_combo_get_sel(window, IDC_VIEW);
  if (view >= 0 && view <= 5) {
    hex_view_mode = view;
    hex_ascii = (view == 1 || view == 2) ? 1 : 0;  // ASCII and ANSI send typed text
    set_local_echo(window, view != 2);             // the terminal echoes for itself
    hex_apply_view_layout(window);
  }
  dlg_set_focus(window, IDC_PANE);
}

void hex_frameChanged(HWND window) {
  // Frame type -> checksum kind and view: None, HDLC, PPP, ICNI.
  static const int kCheckKind[4] = {0, 0, 0, 3};
  static const int kView[4] = {0, 3, 4, 5};
  int frame = dlg_combo_get_sel(window, IDC_FRAME_TYPE);
  int kind = 0;
  int view = 0;
  if (frame >= 1 && frame <= 3) {
    kind = kCheckKind[frame];
    view = kView[frame];
  }
  dlg_combo_set_sel(window, IDC_CHECK_KIND, kind);
  dlg_combo_set_sel(window, IDC_VIEW, view);
  hex_ascii = 0;
  hex_view_mode = view;
  set_local_echo(window, true);
  hex_apply_view_layout(window);
}

int hex_text_selected(HWND window) {
  int64_t start = 0;
  int64_t end = 0;
  dlg_pane_get_sel(window, IDC_PANE, &start, &end);
  return start != end ? 1 : 0;
}
