// How the display pane shows a byte: the character set of every text of the
// window. The HTML log and the texts of the window's other controls (the
// message field and its history, the status fields, message boxes) use the
// same mapping, so a byte reads the same everywhere.
//
//  - printable ASCII 0x20..0x7E: itself;
//  - LF, and CR (alone or in CR LF): a line break (paneGlyph gives U+000A and
//    U+000D; the renderers below turn every break into one '\n');
//  - TAB: blanks up to the next multiple of 8 columns (paneGlyph gives
//    U+0009; paneTabWidth says how many blanks);
//  - other control bytes and DEL: the Unicode control pictures, U+2400 + byte
//    and U+2421;
//  - 0x80..0xFF: the Windows-1252 character, or U+FFFD for the five bytes that
//    Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kPaneTabStop = 8;
inline constexpr char32_t kPaneUndefinedGlyph = U'\uFFFD';

// The glyph of one byte (see above).
char32_t paneGlyph(std::uint8_t byte);

// Blanks a TAB stands for when it starts at `column` (zero-based).
inline int paneTabWidth(int column) { return kPaneTabStop - column % kPaneTabStop; }

// Windows-1252 byte for a Unicode character typed or pasted into the pane, or
// -1 when Windows-1252 has no such character. Control characters below 0x20
// map to themselves.
int paneByteFromUnicode(char32_t character);

// The byte a character of a text stands for: paneByteFromUnicode, and also
// the control pictures back to their control bytes and the C1 control
// characters of the five undefined bytes back to those bytes; -1 when none.
int paneByteFromGlyph(char32_t character);

// A byte as a character of a control's text (a field, a list entry, a status
// line): its glyph, except that the five bytes Windows-1252 leaves undefined
// are the C1 control characters of the same number, as the platform's
// code-page conversion gives them, so that the text comes back as the same
// bytes through paneByteFromGlyph.
char32_t paneTextChar(std::uint8_t byte);

// Where the layout of bytes stands between pieces of text: the column
// within its tab stop (all a TAB needs, so a line may run on for ever) and a
// CR at the end of one piece, whose break a LF at the start of the next
// shares. Bytes laid out piece by piece with one state come out as if laid
// out whole.
struct PaneRenderState {
  int column = 0;          // 0 .. kPaneTabStop - 1
  bool pendingCr = false;  // last byte was CR: a following LF adds no break
};

// Lays bytes out as the pane shows them, step by step into `out`:
// out.characters(run, count) for a run of bytes that each take one column,
// shown as their glyphs (no LF, CR or TAB among them); out.lineBreak() where
// a line ends (LF, lone CR, the CR of CR LF; the LF of CR LF adds nothing);
// out.blanks(n) for a TAB.
template <class Out>
void paneLayOut(std::string_view bytes, PaneRenderState &state, Out &out) {
  auto special = [](char c) { return c == '\n' || c == '\r' || c == '\t'; };
  const char *p = bytes.data();
  const char *const end = p + bytes.size();
  while (p < end) {
    if (!special(*p)) {
      const char *const run = p;
      do
        ++p;
      while (p < end && !special(*p));
      const std::size_t count = static_cast<std::size_t>(p - run);
      out.characters(run, count);
      state.column = static_cast<int>((std::size_t(state.column) + count) % kPaneTabStop);
      state.pendingCr = false;
      continue;
    }
    const char byte = *p++;
    const bool afterCr = state.pendingCr;
    state.pendingCr = false;
    if (byte == '\n') {
      if (!afterCr)
        out.lineBreak();
      state.column = 0;
    } else if (byte == '\r') {
      out.lineBreak();
      state.column = 0;
      state.pendingCr = true;
    } else {
      const int width = paneTabWidth(state.column);
      out.blanks(width);
      state.column = (state.column + width) % kPaneTabStop;
    }
  }
}

// Renders bytes to UTF-8 text: glyphs, TABs as blanks, every line break as
// one '\n'.
std::string paneBytesToUtf8(std::string_view bytes, PaneRenderState &state);
std::string paneBytesToUtf8(std::string_view bytes);

// Appends the UTF-8 encoding of one character.
void paneAppendUtf8(std::string &out, char32_t character);
