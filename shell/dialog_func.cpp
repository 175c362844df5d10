// The main dialog's procedure: every event of the window goes to the routine
// that handles it.
#include "shell/shell.h"

#include "hex/hex_auto.h"
#include "hex/hex_capture.h"
#include "hex/hex_framing.h"
#include "hex/hex_init.h"
#include "hex/hex_keys.h"
#include "hex/hex_help.h"
#include "hex/hex_lines.h"
#include "hex/hex_log.h"
#include "hex/hex_ports.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_screen.h"
#include "hex/hex_send.h"
#include "hex/hex_settings.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_timer.h"
#include "hex/hex_transfer.h"
#include "hex/hex_views.h"
#include "hex/hex_pcap.h"
#include "resources/ids.h"
#include "shell/options.h"

#include <cstring>

namespace {

constexpr int kHistoryKeep = HEX_HISTORY_LINES;  // entries of the message history
constexpr int kMessageMax = HEX_BUF_SIZE;        // message text with its NUL
constexpr int kListTextMax = 256;                // typed into a settings list

// Focus lost by the message field: the edited text joins the history.
void history_add_edited(HWND window) {
  static char text[kMessageMax];
  dlg_get_text(window, IDC_MESSAGE, text, kMessageMax);
  hex_history_add(window, text);
}

// Send: the oldest entry makes room first; the message goes out only while
// Run is selected and no transfer holds the port.
void send_edited(HWND window) {
  if (dlg_combo_count(window, IDC_MESSAGE) > kHistoryKeep - 1)
    dlg_combo_delete(window, IDC_MESSAGE, 0);
  if (hex_run == 1 && !hex_transfer_running())
    hex_send_msg(window);
}

bool checked(HWND window, int id) { return dlg_button_state(window, id) == BST_CHECKED; }

// Lists whose choice by the user goes to a handler that gets the message as
// it came (selection changes only; the other notifications are not handled).
using ListHandler = void (*)(HWND, unsigned, uintptr_t, intptr_t);
struct ListRoute {
  int id;
  ListHandler handler;
};
constexpr ListRoute kListRoutes[] = {
    {IDC_SPEED_A, hex_speed1SelChange}, {IDC_DATA_A, hex_data1SelChange},
    {IDC_STOP_A, hex_stop1SelChange},   {IDC_PARITY_A, hex_parity1SelChange},
    {IDC_SPEED_B, hex_speed2SelChange}, {IDC_DATA_B, hex_data2SelChange},
    {IDC_STOP_B, hex_stop2SelChange},   {IDC_PARITY_B, hex_parity2SelChange},
    {IDC_FLOW_A, hex_flow1SelChange},   {IDC_FLOW_B, hex_flow2SelChange},
    {IDC_PORT_A, hex_PortASelChange},   {IDC_PORT_B, hex_PortBSelChange},
    {IDC_VIEW, hex_ViewSelChange},      {IDC_CHECK_KIND, hex_checkKindSelChange},
};

// What text typed into a list's field means once the field is left or
// Enter is pressed there: the one place where a list gets a rule of its own.
enum class TypedText {
  Free,    // it stands as typed (the message field and its history)
  Entry,   // it names an entry, or it goes
  Rate,    // it names an entry, or it is a rate (the Speed lists)
  Device,  // it names an entry, or a device the chosen entry maps to (Comm Port)
};

TypedText typed_text_rule(int list) {
  if (list == IDC_MESSAGE)
    return TypedText::Free;
  if (list == IDC_SPEED_A || list == IDC_SPEED_B)
    return TypedText::Rate;
  if (list == IDC_PORT_A || list == IDC_PORT_B)
    return TypedText::Device;
  return TypedText::Entry;
}

// Typed text that differs from the chosen entry's: equal to an entry (letter
// case ignored), it chooses that entry and the list's handler runs as for a
// click; any other text goes back to the chosen entry. So the selection, which
// the pump and the handlers read, never changes without its handler.
void settle_typed_entry(HWND window, int list) {
  char typed[kListTextMax];
  char chosen[kListTextMax] = "";
  dlg_get_text(window, list, typed, sizeof typed);
  const int selected = dlg_combo_get_sel(window, list);
  if (selected != CB_ERR)
    dlg_combo_item_text(window, list, selected, chosen, sizeof chosen);
  if (std::strcmp(typed, chosen) == 0)
    return;  // nothing typed
  const int found = dlg_combo_find_exact(window, list, -1, typed);
  if (found == CB_ERR) {
    if (typed_text_rule(list) == TypedText::Rate)
      hex_speed_typed(window, list);  // a rate, or back to the last one
    else if (!(typed_text_rule(list) == TypedText::Device
                   ? hex_port_typed(window, list)
                   : hex_lines_length(window, list)))  // a pulse's or a break's length
      dlg_combo_set_sel(window, list, selected);
    return;
  }
  win_choose_entry(window, list, found);
}

bool is_list(HWND window, int id) { return dlg_combo_count(window, id) != CB_ERR; }

// Enter where no control takes it. In the message field it sends the
// message as the Send button does, after the field's history rule; in
// another list it settles what was typed there; elsewhere it does nothing
// (it never ends the program).
void enter_pressed(HWND window) {
  const int focus = dlg_focus_id(window);
  if (focus == IDC_MESSAGE) {
    history_add_edited(window);
    send_edited(window);
  } else if (is_list(window, focus) && typed_text_rule(focus) != TypedText::Free) {
    settle_typed_entry(window, focus);
  }
}

// Run, Stop and Local Echo hand the focus back to the pane.
void set_from_button(HWND window, int id, int32_t *flag, bool checkedMeans) {
  *flag = checked(window, id) == checkedMeans ? 1 : 0;
  dlg_set_focus(window, IDC_PANE);
}

// The indicators show the side's open state whatever a click did.
void show_open_state(HWND window, int side) {
  dlg_check_button(window, hex_side_indicator(side),
                   hex_obj[side].open ? BST_CHECKED : BST_INDETERMINATE);
}

// Buttons and lists whose every command goes to one routine.
struct CommandRoute {
  int id;
  void (*handler)(HWND window);
};
constexpr CommandRoute kCommandRoutes[] = {
    {IDOK, enter_pressed},
    {IDC_EXIT,
     [](HWND w) {
       hex_quit(w);
       dlg_end(w, 0);
     }},
    {IDC_FRAME_TYPE, hex_frameChanged},
    {IDC_LOG, hex_log_open},
    {IDC_NO_LOG, hex_log_close},
    {IDC_PCAP, hex_pcap_clicked},
    {IDC_RUN,
     [](HWND w) {
       set_from_button(w, IDC_RUN, &hex_run, true);
       hex_capture_sync(w);
     }},
    {IDC_STOP,
     [](HWND w) {
       set_from_button(w, IDC_STOP, &hex_run, false);
       hex_capture_sync(w);
     }},
    {IDC_LOCAL_ECHO, [](HWND w) { set_from_button(w, IDC_LOCAL_ECHO, &hex_local_echo, true); }},
    {IDC_TIME, hex_timeChanged},
    {IDC_PORT_NAMES, hex_portNamesChanged},
    {IDC_XFER_SEND, [](HWND w) { hex_send_file = checked(w, IDC_XFER_SEND) ? 1 : 0; }},
    {IDC_XFER_GET, [](HWND w) { hex_send_file = checked(w, IDC_XFER_GET) ? 0 : 1; }},
    // The Terminal view's focus mark follows the send side.
    {IDC_SEND_PORT_A,
     [](HWND w) {
       hex_choose_send_side(w, HEX_SIDE_A);
       hex_screens_update(w);
     }},
    {IDC_SEND_PORT_B,
     [](HWND w) {
       hex_choose_send_side(w, HEX_SIDE_B);
       hex_screens_update(w);
     }},
    {IDC_OPEN_A, [](HWND w) { show_open_state(w, HEX_SIDE_A); }},
    {IDC_OPEN_B, [](HWND w) { show_open_state(w, HEX_SIDE_B); }},
    {IDC_CLEAR,
     [](HWND w) {
       dlg_pane_set_text(w, IDC_PANE, "", 0);
       hex_screens_reset(w);
       dlg_set_focus(w, IDC_PANE);
     }},
    {IDC_SEND, send_edited},
    {IDC_CHECKSUM, hex_checksum},
    {IDC_ADD_FRAME, hex_frameit},
    {IDC_XFER_START,
     [](HWND w) { hex_file_transfer(w, WM_COMMAND, MAKEWPARAM(IDC_XFER_START, BN_CLICKED), 0); }},
    {IDC_XFER_ABORT,
     [](HWND w) { hex_file_abort(w, WM_COMMAND, MAKEWPARAM(IDC_XFER_ABORT, BN_CLICKED), 0); }},
    {IDC_MACRO_EDIT, hex_auto_edit},
};

int route_command(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  const int id = int(LOWORD(wParam));
  const unsigned notification = HIWORD(wParam);
  if (notification == CBN_KILLFOCUS && typed_text_rule(id) != TypedText::Free)
    settle_typed_entry(window, id);
  for (const ListRoute &route : kListRoutes) {
    if (route.id != id)
      continue;
    if (notification != CBN_SELCHANGE)
      return 0;
    route.handler(window, message, wParam, lParam);
    hex_screens_update(window);  // a screen's heading names its port
    return 1;
  }
  // The message field's text joins the history when the field is left.
  if (id == IDC_MESSAGE) {
    if (notification != CBN_KILLFOCUS)
      return 0;
    history_add_edited(window);
    return 1;
  }
  if (hex_help_command(window, id))
    return 1;
  // A macro's button, or its F key (an accelerator).
  if (id >= IDC_MACRO_1 && id <= IDC_MACRO_12) {
    hex_auto_macro(window, id - IDC_MACRO_1);
    return 1;
  }
  if (notification == BN_CLICKED && hex_lines_command(window, id))
    return 1;
  if (notification == CBN_SELCHANGE && hex_lines_length(window, id))
    return 1;
  for (const CommandRoute &route : kCommandRoutes) {
    if (route.id == id) {
      route.handler(window);
      return 1;
    }
  }
  return 0;
}

}  // namespace

void win_choose_entry(HWND window, int list, int entry) {
  dlg_combo_set_sel(window, list, entry);
  dlg_send_message(window, WM_COMMAND, MAKEWPARAM(unsigned(list), CBN_SELCHANGE), 0);
}

int InitializeApp(HWND window, uintptr_t, intptr_t) {
  // Green text on the window colour; the pane's fixed-pitch font stands in
  // for Fixedsys. The pane reports every key to the filter above.
  dlg_pane_set_default_colour(window, IDC_PANE, WIN_PANE_TEXT_COLOUR);
  win_init_periodic(window);
  dlg_set_focus(window, IDC_PANE);
  hex_init(window);
  win_apply_start_options(window);  // the command line's choices
  hex_auto_start(window);
  return 1;
}

int DialogFunc(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
  case WM_INITDIALOG:
    return InitializeApp(window, wParam, lParam);
  case WM_CLOSE:
    // The close box, the window manager and the end signals leave as Exit
    // does: history saved, lines lowered, ports and log closed.
    hex_quit(window);
    dlg_end(window, 0);
    return 1;
  case WM_TIMER:
    hex_timer_expired(window, unsigned(wParam));
    switch (wParam) {
    case TIMER_PUMP:
      win_periodic(window);
      return 1;
    case TIMER_TRANSFER:
      hex_periodic_transfer(window);
      return 1;
    case TIMER_DUMP:
      hex_periodic_dump(window);
      return 1;
    case TIMER_DUMP_IDLE:
      hex_file_abort(window, message, wParam, lParam);
      return 1;
    case TIMER_RECONNECT:
      hex_reconnect_tick(window);
      return 1;
    case TIMER_AUTO:
      hex_auto_tick(window);
      return 1;
    case TIMER_LINES:
      hex_lines_tick(window);
      return 1;
    case TIMER_ANSWERS:
      hex_answers_tick(window);
      return 1;
    default:
      return hex_lines_timer(window, unsigned(wParam)) ? 1 : 0;
    }
  case WM_CONTEXTMENU:
    return hex_lines_pulse(window, int(wParam)) ? 1 : 0;
  case HEX_PORTS_CHANGED:
    hex_ports_ready(window, int(wParam));
    return 1;
  case WM_NOTIFY: {
    auto *notify = reinterpret_cast<DlgNotify *>(lParam);
    if (notify && notify->idFrom == IDC_PANE && notify->code == EN_MSGFILTER) {
      // The pane acts on what the filter leaves in the notification.
      const HexKeyKind kind = notify->msg == WM_KEYDOWN ? HexKeyKind::Down : HexKeyKind::Char;
      notify->wParam = uintptr_t(hex_key_filter(window, kind, int(notify->wParam)).act);
      return 1;
    }
    if (notify && notify->idFrom == IDC_PANE) {
      hex_screens_notify(window, *notify);
      return 1;
    }
    return 0;
  }
  case WM_COMMAND:
    return route_command(window, message, wParam, lParam);
  default:
    return 0;
  }
}
