// How the display pane shows a byte. The HTML log uses the same mapping, so
// the log reads exactly as the pane did.
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

// Renders bytes to UTF-8 text: glyphs, TABs expanded, every line break (LF,
// CR LF, lone CR) as one '\n'. The state carries the column and a CR at the
// end of one piece into the next, so text rendered piece by piece comes out
// as if rendered whole.
struct PaneRenderState {
  int column = 0;
  bool pendingCr = false;  // last byte was CR: a following LF adds no break
};
std::string paneBytesToUtf8(std::string_view bytes, PaneRenderState &state);
std::string paneBytesToUtf8(std::string_view bytes);

// Appends the UTF-8 encoding of one character.
void paneAppendUtf8(std::string &out, char32_t character);
