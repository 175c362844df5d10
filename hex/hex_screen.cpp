// The Terminal view on the window: the screens' cells carried into the
// pane's place as they change, keys and pastes out to the send side's port,
// answers back to the asking side's port.
#include "hex/hex_screen.h"

#include "hex/hex_display.h"
#include "hex/hex_keys.h"
#include "hex/hex_log.h"
#include "hex/hex_port_out.h"
#include "hex/hex_send.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_views.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <algorithm>
#include <cstdio>
#include <utility>

static_assert(int(HEX_SCREEN_KEY_F1) == VK_F1 && int(HEX_SCREEN_KEY_PAGE_UP) == VK_PRIOR &&
                  int(HEX_SCREEN_KEY_DELETE) == VK_DELETE && int(HEX_SCREEN_KEY_BACK) == VK_BACK,
              "the screens' keys are the window's key codes");
static_assert(int(HEX_CELL_BOLD) == SCREEN_CELL_BOLD && int(HEX_CELL_STRIKE) == SCREEN_CELL_STRIKE &&
                  int(HEX_MOD_CTRL) == DLG_MOD_CTRL && int(HEX_MOD_ALT) == DLG_MOD_ALT,
              "one set of attribute and modifier bits");

namespace {

int32_t g_rows = HEX_SCREEN_ROWS;  // the size both screens have
int32_t g_columns = HEX_SCREEN_COLUMNS;

int side_of(const HexScreen &screen) {
  return hex_obj[HEX_SIDE_B].screen == &screen ? HEX_SIDE_B : HEX_SIDE_A;
}

HexScreen &screen_of(HWND window, int side) {
  HexScreen &screen = hex_screen_of(hex_obj[side]);
  int rows = 0, columns = 0;
  hex_screen_size(screen, &rows, &columns);
  if (rows != g_rows || columns != g_columns) {
    HexWindowSink sink(window);
    hex_screen_resize(screen, g_rows, g_columns, sink);
  }
  return screen;
}

// The cells of an area of a side's screen into the pane's place.
void put_cells(HWND window, HexScreen &screen, int row, int column, int rows, int columns) {
  static ScreenCell cells[HEX_SCREEN_MAX];
  const int side = side_of(screen);
  for (int r = row; r < row + rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      HexScreenCell cell;
      hex_screen_cell(screen, r, column + c, &cell);
      ScreenCell &out = cells[c];
      for (int i = 0; i < kScreenCellChars; ++i)
        out.chars[i] = char32_t(cell.chars[i]);
      out.width = uint8_t(cell.width);
      out.attributes = uint8_t(cell.attributes & ~HEX_CELL_REVERSE);
      out.foreground = cell.foreground;
      out.background = cell.background;
    }
    dlg_screen_put(window, side, r, column, cells, columns);
  }
}

// What the pump's sink gathered of a side's screen in a run, drawn once at
// its flush: a flood changes the whole screen many times a run.
struct Changed {
  int first_row = HEX_SCREEN_MAX, end_row = 0, first_column = HEX_SCREEN_MAX, end_column = 0;
  bool cursor = false;
};
Changed g_changed[2];

void put_cursor(HWND window, HexScreen &screen) {
  int row = 0, column = 0;
  bool visible = true;
  hex_screen_cursor(screen, &row, &column, &visible);
  dlg_screen_set_cursor(window, side_of(screen), row, column, visible);
}

// A whole screen as it stands, at its size.
void put_screen(HWND window, int side) {
  HexScreen &screen = screen_of(window, side);
  dlg_screen_set_size(window, side, g_rows, g_columns);
  put_cells(window, screen, 0, 0, g_rows, g_columns);
  put_cursor(window, screen);
}

// An answer goes out on the asking side's port, which need not be the send
// port, logged as sent. Bytes kept for another port (a message going out)
// do not hold it back: it goes beside them at once.
int send_answer(int port, const char *bytes, int length) {
  const auto *data = reinterpret_cast<const uint8_t *>(bytes);
  int written = hex_out_put(port, data, length);
  if (written == 0 && hex_out_waiting() > 0)
    written = SioPutsNow(port, data, length);
  if (written > 0)
    hex_save_tx_log(port, bytes, written);
  return written;
}

}  // namespace

void hex_screens_show(HWND window, bool on) {
  if (on) {
    for (int side : {HEX_SIDE_A, HEX_SIDE_B})
      put_screen(window, side);
    hex_screens_update(window);
    // A screen is no record of time.
    if (hex_time.on) {
      dlg_check_button(window, IDC_TIME, BST_UNCHECKED);
      hex_timeChanged(window);
    }
  }
  dlg_enable(window, IDC_TIME, !on);
  dlg_enable(window, IDC_PORT_NAMES, !on);
  dlg_screens_show(window, on);
}

void hex_screens_update(HWND window) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    char title[64];
    std::snprintf(title, sizeof title, "Port %c: %s", side == HEX_SIDE_A ? 'A' : 'B',
                  hex_portnames[hex_obj[side].port & (HEX_PORTS - 1)]);
    dlg_screen_set_title(window, side, title);
  }
  dlg_screen_set_focus_mark(window, hex_send_side());
}

void hex_screens_reset(HWND window) {
  HexWindowSink sink(window);
  for (int side : {HEX_SIDE_A, HEX_SIDE_B})
    hex_screen_reset(screen_of(window, side), sink);
}

void hex_screens_notify(HWND window, const DlgNotify &notify) {
  if (notify.code == EN_SCREEN_SIZE) {
    const int columns = int(LOWORD(notify.wParam));
    const int rows = int(HIWORD(notify.wParam));
    g_rows = rows > 0 ? std::clamp(rows, HEX_SCREEN_MIN, HEX_SCREEN_MAX) : HEX_SCREEN_ROWS;
    g_columns =
        columns > 0 ? std::clamp(columns, HEX_SCREEN_MIN, HEX_SCREEN_MAX) : HEX_SCREEN_COLUMNS;
    for (int side : {HEX_SIDE_A, HEX_SIDE_B})
      put_screen(window, side);
    return;
  }
  // Keys are encoded by the screen they are typed into: its modes decide
  // (an application's cursor keys, a bracketed paste).
  HexScreen &screen = screen_of(window, hex_send_side());
  if (notify.code == EN_SCREEN_PASTE) {
    const std::string bytes = hex_screen_paste(screen, notify.text, notify.length);
    if (!bytes.empty())
      hex_send_key_bytes(window, bytes.data(), int(bytes.size()));
    return;
  }
  if (notify.code != EN_SCREEN_KEY)
    return;
  char bytes[HEX_SCREEN_KEY_MAX];
  const int length = notify.msg == WM_KEYDOWN
                         ? hex_screen_key(screen, int(notify.wParam), notify.modifiers, bytes)
                         : hex_screen_char(screen, uint32_t(notify.wParam), notify.modifiers, bytes);
  if (length > 0)
    hex_send_key_bytes(window, bytes, length);
}

void hex_screens_release() {
  for (hex_obj_t &record : hex_obj)
    hex_screen_release(record);
  // The next window's screens start at the default size.
  g_rows = HEX_SCREEN_ROWS;
  g_columns = HEX_SCREEN_COLUMNS;
}

// --- The window's sink in the Terminal view ----------------------------------------

void HexWindowSink::screen_changed(HexScreen &screen, int row, int column, int rows,
                                   int columns) {
  if (!gather_) {
    put_cells(window_, screen, row, column, rows, columns);
    return;
  }
  Changed &changed = g_changed[side_of(screen)];
  changed.first_row = std::min(changed.first_row, row);
  changed.end_row = std::max(changed.end_row, row + rows);
  changed.first_column = std::min(changed.first_column, column);
  changed.end_column = std::max(changed.end_column, column + columns);
}

void HexWindowSink::screen_cursor(HexScreen &screen) {
  if (gather_)
    g_changed[side_of(screen)].cursor = true;
  else
    put_cursor(window_, screen);
}

void hex_screens_flush(HWND window) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const Changed changed = std::exchange(g_changed[side], Changed{});
    HexScreen *screen = hex_obj[side].screen;  // gone with its side's port
    if (!screen)
      continue;
    int rows = 0, columns = 0;
    hex_screen_size(*screen, &rows, &columns);
    const int end_row = std::min(changed.end_row, rows);
    const int end_column = std::min(changed.end_column, columns);
    if (changed.first_row < end_row && changed.first_column < end_column)
      put_cells(window, *screen, changed.first_row, changed.first_column,
                end_row - changed.first_row, end_column - changed.first_column);
    if (changed.cursor)
      put_cursor(window, *screen);
  }
}

void HexWindowSink::screen_answer(int port, const char *bytes, int length) {
  send_answer(port, bytes, length);
}

void HexWindowSink::record(int port, const char *text, int length) {
  flush();  // after what was shown before it
  hex_save_rx_log(port, text, length);
}
