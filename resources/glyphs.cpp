#include "resources/glyphs.h"

namespace {

// Windows-1252 characters of 0x80..0x9F; 0 where the code page has none.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

char32_t paneGlyph(std::uint8_t byte) {
  if (byte == '\t' || byte == '\n' || byte == '\r')
    return byte;
  if (byte < 0x20)
    return 0x2400 + byte;
  if (byte == 0x7F)
    return 0x2421;
  if (byte < 0x80)
    return byte;
  if (byte < 0xA0) {
    char32_t glyph = kCp1252High[byte - 0x80];
    return glyph ? glyph : kPaneUndefinedGlyph;
  }
  return byte;  // 0xA0..0xFF: the same code points as Latin-1
}

int paneByteFromUnicode(char32_t character) {
  if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
    return static_cast<int>(character);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == character)
      return 0x80 + i;
  return -1;
}

int paneByteFromGlyph(char32_t character) {
  if (character >= 0x2400 && character < 0x2420)
    return static_cast<int>(character - 0x2400);
  if (character == 0x2421)
    return 0x7F;
  if (character >= 0x80 && character < 0xA0 && kCp1252High[character - 0x80] == 0)
    return static_cast<int>(character);
  return paneByteFromUnicode(character);
}

char32_t paneTextChar(std::uint8_t byte) {
  const char32_t glyph = paneGlyph(byte);
  return glyph == kPaneUndefinedGlyph ? char32_t(byte) : glyph;
}

void paneAppendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string paneBytesToUtf8(std::string_view bytes, PaneRenderState &state) {
  struct Utf8Out {
    std::string text;
    void lineBreak() { text += '\n'; }
    void blanks(int count) { text.append(static_cast<std::size_t>(count), ' '); }
    void characters(const char *run, std::size_t count) {
      for (std::size_t i = 0; i < count; ++i)
        paneAppendUtf8(text, paneGlyph(static_cast<std::uint8_t>(run[i])));
    }
  } out;
  out.text.reserve(bytes.size());
  paneLayOut(bytes, state, out);
  return std::move(out.text);
}

std::string paneBytesToUtf8(std::string_view bytes) {
  PaneRenderState state;
  return paneBytesToUtf8(bytes, state);
}
