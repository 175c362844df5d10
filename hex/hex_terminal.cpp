// The ANSI terminal's screen: caret moves and erasures on the pane, and the
// window's sink carrying out what the terminal's parser asks for.
#include "hex/hex_terminal.h"

#include "hex/hex_display.h"
#include "hex/hex_state.h"
#include "resources/ids.h"

#include <cstring>

static_assert(int(HEX_ANSI_KEY_PAGE_UP) == VK_PRIOR && int(HEX_ANSI_KEY_PAGE_DOWN) == VK_NEXT &&
                  int(HEX_ANSI_KEY_LEFT) == VK_LEFT && int(HEX_ANSI_KEY_UP) == VK_UP &&
                  int(HEX_ANSI_KEY_RIGHT) == VK_RIGHT && int(HEX_ANSI_KEY_DOWN) == VK_DOWN,
              "the parser names the pane's own key codes");

namespace {

constexpr int kScreenLastLine = HEX_SCREEN_LINES - 1;

// Inserts `count` copies of a filler byte at the caret in the colour of what
// is inserted there (the line feeds and blanks that make a position exist).
void insert_filler(HWND dialog, char filler, int count) {
  char fill[HEX_SCREEN_LAST_COLUMN + HEX_SCREEN_LINES];
  if (count <= 0)
    return;
  if (count > int(sizeof fill))
    count = int(sizeof fill);
  std::memset(fill, filler, size_t(count));
  dlg_pane_replace_sel(dialog, IDC_PANE, fill, count, dlg_pane_sel_colour(dialog, IDC_PANE));
}

// Deletes from `from` to `to`, leaving the caret there.
void erase(HWND dialog, int64_t from, int64_t to) {
  dlg_pane_set_sel(dialog, IDC_PANE, from, to);
  dlg_pane_replace_sel(dialog, IDC_PANE, "", 0, dlg_pane_sel_colour(dialog, IDC_PANE));
}

int64_t selection_start(HWND dialog) {
  int64_t start = 0;
  dlg_pane_get_sel(dialog, IDC_PANE, &start, nullptr);
  return start;
}

int64_t line_end(HWND dialog, int64_t line) {
  return dlg_pane_line_index(dialog, IDC_PANE, line) +
         dlg_pane_line_length(dialog, IDC_PANE, line);
}

void set_caret(HWND dialog, int64_t position) {
  dlg_pane_set_sel(dialog, IDC_PANE, position, position);
}

}  // namespace

void hex_screen_key(HWND dialog, int virtualKey) {
  dlg_pane_act_on_key(dialog, IDC_PANE, virtualKey);
}

void hex_ansi_go_home(HWND dialog) { set_caret(dialog, 0); }

void hex_ansi_go_end(HWND dialog) { set_caret(dialog, line_end(dialog, hex_caretline(dialog))); }

void hex_ansi_go_clr_eos(HWND dialog) { erase(dialog, selection_start(dialog), -1); }

void hex_ansi_go_clr_eol(HWND dialog) {
  const int64_t start = selection_start(dialog);
  erase(dialog, start, line_end(dialog, dlg_pane_line_from_char(dialog, IDC_PANE, start)));
}

void hex_ansi_clr_line(HWND dialog) {
  const int64_t line = hex_caretline(dialog);
  erase(dialog, dlg_pane_line_index(dialog, IDC_PANE, line), line_end(dialog, line));
}

void hex_goto_line(HWND dialog, int line) {
  // A line below the screen is its last line, as on a terminal.
  if (line > kScreenLastLine)
    line = kScreenLastLine;
  if (line < 0)
    line = 0;
  const int64_t top = int64_t(hex_caretline(dialog)) / HEX_SCREEN_LINES * HEX_SCREEN_LINES;
  const int64_t target = top + line;
  const int64_t lines = dlg_pane_line_count(dialog, IDC_PANE);
  if (target >= lines) {
    hex_caret_end(dialog);
    insert_filler(dialog, '\n', int(target - lines + 1));
  }
  set_caret(dialog, dlg_pane_line_index(dialog, IDC_PANE, target));
  hex_ansi_scroll(dialog);
}

void hex_goto_column(HWND dialog, int column) {
  if (column > HEX_SCREEN_LAST_COLUMN)
    column = HEX_SCREEN_LAST_COLUMN;
  if (column < 0)
    column = 0;
  const int64_t line = hex_caretline(dialog);
  const int64_t start = dlg_pane_line_index(dialog, IDC_PANE, line);
  const int64_t length = dlg_pane_line_length(dialog, IDC_PANE, line);
  if (column > length) {
    set_caret(dialog, start + length);
    insert_filler(dialog, ' ', int(column - length));
  }
  set_caret(dialog, start + column);
  hex_ansi_scroll(dialog);
}

void hex_goto_line_column(HWND dialog, int line, int column) {
  hex_goto_line(dialog, line);
  hex_goto_column(dialog, column);
}

// --- The window's sink ----------------------------------------------------------------

// Each action acts on the text shown before it: what a gathering sink holds
// goes into the pane first.
void HexWindowSink::ansi_key(int key) {
  flush();
  hex_screen_key(window_, key);
  hex_ansi_scroll(window_);
}

void HexWindowSink::ansi_home() {
  flush();
  hex_ansi_go_home(window_);
}
void HexWindowSink::ansi_line_end() {
  flush();
  hex_ansi_go_end(window_);
}
void HexWindowSink::ansi_clear_to_end() {
  flush();
  hex_ansi_go_clr_eos(window_);
}
void HexWindowSink::ansi_clear_to_line_end() {
  flush();
  hex_ansi_go_clr_eol(window_);
}
void HexWindowSink::ansi_clear_line() {
  flush();
  hex_ansi_clr_line(window_);
}
void HexWindowSink::ansi_clear_all() {
  flush();
  dlg_pane_set_text(window_, IDC_PANE, "", 0);
}

void HexWindowSink::ansi_goto(int line, int column) {
  flush();
  hex_goto_line_column(window_, line, column);
}
