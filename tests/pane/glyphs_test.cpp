#include "resources/glyphs.h"

#include <gtest/gtest.h>

TEST(PaneGlyphs, EveryByteHasAVisibleGlyph) {
  EXPECT_EQ(paneGlyph('A'), U'A');
  EXPECT_EQ(paneGlyph(' '), U' ');
  EXPECT_EQ(paneGlyph('~'), U'~');
  EXPECT_EQ(paneGlyph(0x00), U'\u2400');
  EXPECT_EQ(paneGlyph(0x1B), U'\u241B');
  EXPECT_EQ(paneGlyph(0x1F), U'\u241F');
  EXPECT_EQ(paneGlyph(0x7F), U'\u2421');
  EXPECT_EQ(paneGlyph(0x80), U'\u20AC');
  EXPECT_EQ(paneGlyph(0x9F), U'\u0178');
  EXPECT_EQ(paneGlyph(0xA0), U'\u00A0');
  EXPECT_EQ(paneGlyph(0xE9), U'\u00E9');
  EXPECT_EQ(paneGlyph(0xFF), U'\u00FF');
  for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(paneGlyph(b), kPaneUndefinedGlyph) << b;
  // TAB and the line-break bytes are left to the renderer.
  EXPECT_EQ(paneGlyph('\t'), U'\t');
  EXPECT_EQ(paneGlyph('\n'), U'\n');
  EXPECT_EQ(paneGlyph('\r'), U'\r');
}

TEST(PaneGlyphs, TypedCharactersMapBackToTheirBytes) {
  for (int b = 0; b < 256; ++b) {
    char32_t glyph = paneGlyph(static_cast<std::uint8_t>(b));
    if (b < 0x20 || b == 0x7F || glyph == kPaneUndefinedGlyph)
      continue;
    EXPECT_EQ(paneByteFromUnicode(glyph), b);
  }
  EXPECT_EQ(paneByteFromUnicode(U'\u4E00'), -1);
  EXPECT_EQ(paneByteFromUnicode(3), 3);
}

TEST(PaneGlyphs, RendersBreaksTabsAndControlPictures) {
  EXPECT_EQ(paneBytesToUtf8("a\tb"), "a       b");
  EXPECT_EQ(paneBytesToUtf8("abcdefgh\tX"), "abcdefgh        X");
  EXPECT_EQ(paneBytesToUtf8("1\r\n2\r3\n4"), "1\n2\n3\n4");
  EXPECT_EQ(paneBytesToUtf8("x\ty\n\tz"), "x       y\n        z");
  EXPECT_EQ(paneBytesToUtf8(std::string("\x01\x7f\x80", 3)), "\u2401\u2421\u20AC");
}

TEST(PaneGlyphs, PiecesRenderAsTheWhole) {
  PaneRenderState state;
  std::string out = paneBytesToUtf8("ab\r", state);
  out += paneBytesToUtf8("\ncd\t", state);
  out += paneBytesToUtf8("e", state);
  EXPECT_EQ(out, paneBytesToUtf8("ab\r\ncd\te"));
  EXPECT_EQ(out, "ab\ncd      e");
}

TEST(PaneGlyphs, ControlTextsShowEveryByteAsThePaneDoesAndGiveItBack) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    const char32_t shown = paneTextChar(byte);
    if (paneGlyph(byte) == kPaneUndefinedGlyph)
      EXPECT_EQ(shown, char32_t(b)) << b;  // the platform's C1 character
    else
      EXPECT_EQ(shown, paneGlyph(byte)) << b;
    EXPECT_EQ(paneByteFromGlyph(shown), b) << b;
  }
  EXPECT_EQ(paneByteFromGlyph(U'\u20AC'), 0x80);
  EXPECT_EQ(paneByteFromGlyph(U'\u201C'), 0x93);
  EXPECT_EQ(paneByteFromGlyph(U'\u0080'), -1) << "0x80 is the euro sign";
  EXPECT_EQ(paneByteFromGlyph(U'\u4E00'), -1);
}
