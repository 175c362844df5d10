// The main dialog's procedure: every event of the window goes to the routine
// that handles it.
#include "shell/shell.h"

#include "hex/hex.h"
#include "hex/hex_auto.h"
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
  if (hex_run == 1 && hex_xmodem_busy == 0 && hex_dump_busy == 0)
    hex_send_msg(window);
}

// Send Port buttons: a side whose port is not open cannot be chosen; the
// send port is a port index, read from the side's Comm Port list now.
void choose_send_port(HWND window, int side) {
  const int other = side == HEX_SIDE_A ? HEX_SIDE_B : HEX_SIDE_A;
  if (!hex_obj[side].open) {
    // The click is undone: the other side's button is the chosen one.
    dlg_check_button(window, hex_side_send_button(side), BST_UNCHECKED);
    dlg_check_button(window, hex_side_send_button(other), BST_CHECKED);
    return;
  }
  if (dlg_button_state(window, hex_side_send_button(side)) == BST_CHECKED)
    hex_send_port = dlg_combo_get_sel(window, hex_side_port_list(side));
  else
    hex_send_port = dlg_combo_get_sel(window, hex_side_port_list(other));
}

bool checked(HWND window, int id) { return dlg_button_state(window, id) == BST_CHECKED; }

// Keys whose key-down goes to a key routine, and the code the pane then acts
// on. Esc and, where the routine sends it, Enter make a character as well:
// the key-down has sent the key already, so that character is not sent again.
struct KeyRoute {
  int key;
  int (*routine)(HWND);
  int passOn;     // what the pane acts on: Esc nothing, Delete as Backspace
  int character;  // the character message the same key press makes, 0: none
};
constexpr KeyRoute kKeyRoutes[] = {
    {VK_ESCAPE, hex_ansi_escape, 0, CHAR_ESCAPE},
    {VK_PRIOR, hex_ansi_pg_up, VK_PRIOR, 0},
    {VK_NEXT, hex_ansi_pg_dn, VK_NEXT, 0},
    {VK_END, hex_ansi_end, VK_END, 0},
    {VK_HOME, hex_ansi_home, VK_HOME, 0},
    {VK_LEFT, hex_ansi_left, VK_LEFT, 0},
    {VK_UP, hex_ansi_up, VK_UP, 0},
    {VK_RIGHT, hex_ansi_right, VK_RIGHT, 0},
    {VK_DOWN, hex_ansi_down, VK_DOWN, 0},
    {VK_DELETE, hex_ansi_back, VK_BACK, 0},
    {VK_RETURN, hex_ansi_return, VK_RETURN, CHAR_RETURN},
};

// The character of the last key-down that went to a routine, and whether its
// bytes could not go out.
int g_key_down_character = 0;
bool g_key_down_refused = false;

bool is_clipboard_key(int character) {
  return character == CHAR_COPY || character == CHAR_PASTE || character == CHAR_CUT;
}

// The pane reports each key before acting on it; the code left in the
// notification is what it acts on (0: nothing). A key whose bytes should have
// gone out and did not (the send side's port is not open) does not act on
// the pane either.
void key_filter(HWND window, DlgNotify *notify) {
  const int code = int(notify->wParam);
  bool refused = false;
  if (notify->msg == WM_KEYDOWN) {
    if (code == VK_PROCESSKEY) {
      // The terminal's key: the pane acts on it whatever the echo.
      notify->wParam = uintptr_t(unsigned(hex_escape_code));
      return;
    }
    g_key_down_character = 0;
    g_key_down_refused = false;
    for (const KeyRoute &route : kKeyRoutes) {
      if (route.key != code)
        continue;
      const int result = route.routine(window);
      notify->wParam = uintptr_t(route.passOn);
      if (result != 0) {
        g_key_down_character = route.character;
        g_key_down_refused = result < 0;
      }
      refused = result < 0;
      break;
    }
    // Backspace goes out by its character, after the pane has acted on the
    // key-down.
    if (code == VK_BACK)
      refused = !hex_send_side_open(window);
  } else if (notify->msg == WM_CHAR) {
    const int sentByKeyDown = g_key_down_character;
    g_key_down_character = 0;
    if (is_clipboard_key(code) && hex_text_selected(window))
      return;  // copy, paste and cut of the selection, echo or not
    if (sentByKeyDown != 0 && code == sentByKeyDown)
      refused = g_key_down_refused;
    else
      refused = hex_ansi_char(window, code) < 0;
  }
  if (refused || hex_local_echo == 0)
    notify->wParam = 0;
}

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
    {IDC_VIEW, hex_ViewSelChange},
};

// What text typed into a list's field means once the field is left or
// Enter is pressed there: the one place where a list gets a rule of its own.
enum class TypedText {
  Free,   // it stands as typed (the message field and its history)
  Entry,  // it names an entry, or it goes
  Rate,   // it names an entry, or it is a rate (the Speed lists)
};

TypedText typed_text_rule(int list) {
  if (list == IDC_MESSAGE)
    return TypedText::Free;
  if (list == IDC_SPEED_A || list == IDC_SPEED_B)
    return TypedText::Rate;
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
    else
      dlg_combo_set_sel(window, list, selected);
    return;
  }
  win_choose_entry(window, list, found);
}

bool is_list(HWND window, int id) { return dlg_combo_count(window, id) != CB_ERR; }

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
    return 1;
  }

  // A macro's button, or its F key (an accelerator).
  if (id >= IDC_MACRO_1 && id <= IDC_MACRO_12) {
    hex_auto_macro(window, id - IDC_MACRO_1);
    return 1;
  }

  switch (id) {
  case IDOK: {
    // Enter where no control takes it. In the message field it sends the
    // message as the Send button does, after the field's history rule; in
    // another list it settles what was typed there; elsewhere it does
    // nothing (it never ends the program).
    const int focus = dlg_focus_id(window);
    if (focus == IDC_MESSAGE) {
      history_add_edited(window);
      send_edited(window);
    } else if (is_list(window, focus) && typed_text_rule(focus) != TypedText::Free) {
      settle_typed_entry(window, focus);
    }
    return 1;
  }
  case IDC_EXIT:
    hex_quit(window);
    dlg_end(window, 0);
    return 1;

  case IDC_FRAME_TYPE:
    hex_frameChanged(window);
    return 1;
  case IDC_LOG:
    hex_log_open(window);
    return 1;
  case IDC_NO_LOG:
    hex_log_close(window);
    return 1;

  case IDC_RUN:
    hex_run = checked(window, IDC_RUN) ? 1 : 0;
    dlg_set_focus(window, IDC_PANE);
    return 1;
  case IDC_STOP:
    hex_run = checked(window, IDC_STOP) ? 0 : 1;
    dlg_set_focus(window, IDC_PANE);
    return 1;
  case IDC_LOCAL_ECHO:
    hex_local_echo = checked(window, IDC_LOCAL_ECHO) ? 1 : 0;
    dlg_set_focus(window, IDC_PANE);
    return 1;
  case IDC_TIME:
    hex_timeChanged(window);
    return 1;
  case IDC_XFER_SEND:
    hex_send_file = checked(window, IDC_XFER_SEND) ? 1 : 0;
    return 1;
  case IDC_XFER_GET:
    hex_send_file = checked(window, IDC_XFER_GET) ? 0 : 1;
    return 1;

  case IDC_SEND_PORT_A:
    choose_send_port(window, HEX_SIDE_A);
    return 1;
  case IDC_SEND_PORT_B:
    choose_send_port(window, HEX_SIDE_B);
    return 1;

  case IDC_OPEN_A:
    dlg_check_button(window, IDC_OPEN_A,
                     hex_obj[HEX_SIDE_A].open ? BST_CHECKED : BST_INDETERMINATE);
    return 1;
  case IDC_OPEN_B:
    dlg_check_button(window, IDC_OPEN_B,
                     hex_obj[HEX_SIDE_B].open ? BST_CHECKED : BST_INDETERMINATE);
    return 1;

  case IDC_CLEAR:
    dlg_pane_set_text(window, IDC_PANE, "", 0);
    dlg_set_focus(window, IDC_PANE);
    return 1;

  case IDC_MESSAGE:
    if (notification != CBN_KILLFOCUS)
      return 0;
    history_add_edited(window);
    return 1;
  case IDC_SEND:
    send_edited(window);
    return 1;
  case IDC_CHECKSUM:
    hex_checksum(window);
    return 1;
  case IDC_ADD_FRAME:
    hex_frameit(window);
    return 1;
  case IDC_XFER_START:
    hex_file_transfer(window, message, wParam, lParam);
    return 1;
  case IDC_XFER_ABORT:
    hex_file_abort(window, message, wParam, lParam);
    return 1;
  case IDC_MACRO_EDIT:
    hex_auto_edit(window);
    return 1;

  default:
    return 0;
  }
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
    default:
      return 0;
    }
  case HEX_PORT_READY:
    hex_capture_ready(window, int(wParam));
    return 1;
  case WM_NOTIFY: {
    auto *notify = reinterpret_cast<DlgNotify *>(lParam);
    if (notify && notify->idFrom == IDC_PANE && notify->code == EN_MSGFILTER) {
      key_filter(window, notify);
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
