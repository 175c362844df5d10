// The Terminal view's screens: one libvterm terminal per side. Changed
// cells are gathered per row while a chunk is fed and handed to the sink as
// rectangles once the chunk is done, so a row rewritten many times in one
// chunk is drawn once.
#include "hex/core/hexcore.h"

#include <vterm.h>

#include <algorithm>
#include <vector>

struct HexScreen {
  VTerm *vt = nullptr;
  VTermScreen *screen = nullptr;
  int rows = 0;
  int columns = 0;
  // Per row, the changed columns [first, end); first == end: none.
  std::vector<int> first, end;
  VTermPos cursor{0, 0};
  bool cursorVisible = true;
  VTermPos shownCursor{-1, -1};
  bool shownVisible = true;
  std::string out;  // what the terminal writes: answers, a key's bytes
};

namespace {

void mark(HexScreen &s, VTermRect rect) {
  const int rowEnd = std::min(rect.end_row, s.rows);
  const int columnEnd = std::min(rect.end_col, s.columns);
  for (int row = std::max(0, rect.start_row); row < rowEnd; ++row) {
    const size_t r = size_t(row);
    if (s.first[r] == s.end[r]) {
      s.first[r] = std::max(0, rect.start_col);
      s.end[r] = columnEnd;
    } else {
      s.first[r] = std::min(s.first[r], std::max(0, rect.start_col));
      s.end[r] = std::max(s.end[r], columnEnd);
    }
  }
}

void mark_all(HexScreen &s) { mark(s, VTermRect{0, s.rows, 0, s.columns}); }

int on_damage(VTermRect rect, void *user) {
  mark(*static_cast<HexScreen *>(user), rect);
  return 1;
}

int on_move_cursor(VTermPos pos, VTermPos, int visible, void *user) {
  auto &s = *static_cast<HexScreen *>(user);
  s.cursor = pos;
  s.cursorVisible = visible != 0;
  return 1;
}

int on_property(VTermProp prop, VTermValue *value, void *user) {
  if (prop == VTERM_PROP_CURSORVISIBLE)
    static_cast<HexScreen *>(user)->cursorVisible = value->boolean != 0;
  return 1;
}

void on_output(const char *bytes, size_t length, void *user) {
  static_cast<HexScreen *>(user)->out.append(bytes, length);
}

const VTermScreenCallbacks kCallbacks = {
    on_damage, nullptr, on_move_cursor, on_property, nullptr, nullptr, nullptr, nullptr,
};

void set_size(HexScreen &s, int rows, int columns) {
  s.rows = std::clamp(rows, HEX_SCREEN_MIN, HEX_SCREEN_MAX);
  s.columns = std::clamp(columns, HEX_SCREEN_MIN, HEX_SCREEN_MAX);
  s.first.assign(size_t(s.rows), 0);
  s.end.assign(size_t(s.rows), 0);
}

// Hands the changed rows over, rows with the same columns as one rectangle,
// then the cursor if it moved.
void report(HexScreen &s, HexSink &sink) {
  for (int row = 0; row < s.rows;) {
    const size_t r = size_t(row);
    if (s.first[r] == s.end[r]) {
      ++row;
      continue;
    }
    int last = row + 1;
    while (last < s.rows && s.first[size_t(last)] == s.first[r] && s.end[size_t(last)] == s.end[r])
      ++last;
    sink.screen_changed(s, row, s.first[r], last - row, s.end[r] - s.first[r]);
    for (int done = row; done < last; ++done)
      s.first[size_t(done)] = s.end[size_t(done)] = 0;
    row = last;
  }
  if (s.cursor.row != s.shownCursor.row || s.cursor.col != s.shownCursor.col ||
      s.cursorVisible != s.shownVisible) {
    s.shownCursor = s.cursor;
    s.shownVisible = s.cursorVisible;
    sink.screen_cursor(s);
  }
}

HexScreen *make_screen(int rows, int columns) {
  auto *s = new HexScreen;
  set_size(*s, rows, columns);
  s->vt = vterm_new(s->rows, s->columns);
  vterm_set_utf8(s->vt, 1);
  vterm_output_set_callback(s->vt, on_output, s);
  s->screen = vterm_obtain_screen(s->vt);
  vterm_screen_set_callbacks(s->screen, &kCallbacks, s);
  vterm_screen_enable_altscreen(s->screen, 1);
  // Bold with one of the eight colours shows its bright form, as on xterm.
  vterm_state_set_bold_highbright(vterm_obtain_state(s->vt), 1);
  vterm_screen_reset(s->screen, 1);
  // Blank as made: nothing to draw yet but the cursor.
  s->first.assign(s->first.size(), 0);
  s->end.assign(s->end.size(), 0);
  return s;
}

std::string take_output(HexScreen &s) {
  std::string bytes;
  bytes.swap(s.out);
  return bytes;
}

int copy_output(HexScreen &s, char *out) {
  const std::string bytes = take_output(s);
  const int length = int(std::min<size_t>(bytes.size(), HEX_SCREEN_KEY_MAX));
  std::copy_n(bytes.data(), length, out);
  return length;
}

VTermModifier modifier_bits(int modifiers) {
  int bits = VTERM_MOD_NONE;
  if (modifiers & HEX_MOD_SHIFT)
    bits |= VTERM_MOD_SHIFT;
  if (modifiers & HEX_MOD_ALT)
    bits |= VTERM_MOD_ALT;
  if (modifiers & HEX_MOD_CTRL)
    bits |= VTERM_MOD_CTRL;
  return VTermModifier(bits);
}

VTermKey vterm_key(int key) {
  if (key >= HEX_SCREEN_KEY_F1 && key <= HEX_SCREEN_KEY_F12)
    return VTermKey(VTERM_KEY_FUNCTION(key - HEX_SCREEN_KEY_F1 + 1));
  switch (key) {
  case HEX_SCREEN_KEY_BACK: return VTERM_KEY_BACKSPACE;
  case HEX_SCREEN_KEY_TAB: return VTERM_KEY_TAB;
  case HEX_SCREEN_KEY_RETURN: return VTERM_KEY_ENTER;
  case HEX_SCREEN_KEY_ESCAPE: return VTERM_KEY_ESCAPE;
  case HEX_SCREEN_KEY_PAGE_UP: return VTERM_KEY_PAGEUP;
  case HEX_SCREEN_KEY_PAGE_DOWN: return VTERM_KEY_PAGEDOWN;
  case HEX_SCREEN_KEY_END: return VTERM_KEY_END;
  case HEX_SCREEN_KEY_HOME: return VTERM_KEY_HOME;
  case HEX_SCREEN_KEY_LEFT: return VTERM_KEY_LEFT;
  case HEX_SCREEN_KEY_UP: return VTERM_KEY_UP;
  case HEX_SCREEN_KEY_RIGHT: return VTERM_KEY_RIGHT;
  case HEX_SCREEN_KEY_DOWN: return VTERM_KEY_DOWN;
  case HEX_SCREEN_KEY_INSERT: return VTERM_KEY_INS;
  case HEX_SCREEN_KEY_DELETE: return VTERM_KEY_DEL;
  default: return VTERM_KEY_NONE;
  }
}

uint32_t rgb_of(const VTermScreen *screen, VTermColor colour) {
  vterm_screen_convert_color_to_rgb(screen, &colour);
  return uint32_t(colour.rgb.red) << 16 | uint32_t(colour.rgb.green) << 8 | colour.rgb.blue;
}

}  // namespace

HexScreen &hex_screen_of(hex_obj_t &record) {
  if (!record.screen)
    record.screen = make_screen(HEX_SCREEN_ROWS, HEX_SCREEN_COLUMNS);
  return *record.screen;
}

void hex_screen_release(hex_obj_t &record) {
  if (!record.screen)
    return;
  vterm_free(record.screen->vt);
  delete record.screen;
  record.screen = nullptr;
}

void hex_screen_receive(hex_obj_t &record, int port, const char *bytes, int count, HexSink &sink) {
  if (count <= 0)
    return;
  HexScreen &s = hex_screen_of(record);
  sink.record(port, bytes, count);
  vterm_input_write(s.vt, bytes, size_t(count));
  report(s, sink);
  if (!s.out.empty()) {
    const std::string answer = take_output(s);
    sink.screen_answer(port, answer.data(), int(answer.size()));
  }
}

void hex_screen_resize(HexScreen &s, int rows, int columns, HexSink &sink) {
  set_size(s, rows, columns);
  vterm_set_size(s.vt, s.rows, s.columns);
  mark_all(s);
  report(s, sink);
}

void hex_screen_size(const HexScreen &s, int *rows, int *columns) {
  *rows = s.rows;
  *columns = s.columns;
}

void hex_screen_reset(HexScreen &s, HexSink &sink) {
  vterm_screen_reset(s.screen, 1);
  s.out.clear();
  mark_all(s);
  report(s, sink);
}

void hex_screen_cell(const HexScreen &s, int row, int column, HexScreenCell *cell) {
  *cell = HexScreenCell{};
  VTermScreenCell v{};
  if (row < 0 || row >= s.rows || column < 0 || column >= s.columns ||
      !vterm_screen_get_cell(s.screen, VTermPos{row, column}, &v)) {
    cell->width = 1;
    cell->foreground = 0xF0F0F0;
    return;
  }
  std::copy_n(v.chars, HEX_SCREEN_CELL_CHARS, cell->chars);
  cell->width = v.width;
  cell->foreground = rgb_of(s.screen, v.fg);
  cell->background = rgb_of(s.screen, v.bg);
  uint8_t bits = 0;
  if (v.attrs.bold)
    bits |= HEX_CELL_BOLD;
  if (v.attrs.underline)
    bits |= HEX_CELL_UNDERLINE;
  if (v.attrs.italic)
    bits |= HEX_CELL_ITALIC;
  if (v.attrs.blink)
    bits |= HEX_CELL_BLINK;
  if (v.attrs.strike)
    bits |= HEX_CELL_STRIKE;
  if (v.attrs.reverse) {
    bits |= HEX_CELL_REVERSE;
    std::swap(cell->foreground, cell->background);
  }
  cell->attributes = bits;
}

void hex_screen_cursor(const HexScreen &s, int *row, int *column, bool *visible) {
  *row = s.cursor.row;
  *column = s.cursor.col;
  *visible = s.cursorVisible;
}

int hex_screen_key(HexScreen &s, int key, int modifiers, char *out) {
  const VTermKey k = vterm_key(key);
  if (k == VTERM_KEY_NONE)
    return 0;
  s.out.clear();
  vterm_keyboard_key(s.vt, k, modifier_bits(modifiers));
  return copy_output(s, out);
}

int hex_screen_char(HexScreen &s, uint32_t character, int modifiers, char *out) {
  if (character == 0 || character > 0x10FFFF)
    return 0;
  s.out.clear();
  vterm_keyboard_unichar(s.vt, character, modifier_bits(modifiers));
  return copy_output(s, out);
}

std::string hex_screen_paste(HexScreen &s, const char *text, int length) {
  s.out.clear();
  vterm_keyboard_start_paste(s.vt);
  for (int i = 0; i < length; ++i) {
    // A line break is Enter, whatever the clipboard's convention.
    if (text[i] == '\r' && i + 1 < length && text[i + 1] == '\n')
      continue;
    s.out += text[i] == '\n' ? '\r' : text[i];
  }
  vterm_keyboard_end_paste(s.vt);
  return take_output(s);
}
