// One cell of a terminal screen as the window draws it: shared by the
// display pane's screens, the dialog layer and the monitor's window side
// that fills them. Plain C++, no Qt.
#pragma once

#include <cstdint>

inline constexpr int kScreenCellChars = 6;  // a character and its combining marks

enum ScreenCellAttribute : std::uint8_t {
  SCREEN_CELL_BOLD = 1,
  SCREEN_CELL_UNDERLINE = 2,
  SCREEN_CELL_ITALIC = 4,
  SCREEN_CELL_BLINK = 8,
  SCREEN_CELL_STRIKE = 16,
};

struct ScreenCell {
  char32_t chars[kScreenCellChars] = {};  // 0 behind the last; none: a blank
  std::uint8_t width = 1;                 // 2: wide, the next cell (width 0) is its right half
  std::uint8_t attributes = 0;            // ScreenCellAttribute bits
  std::uint32_t foreground = 0xF0F0F0;    // 0xRRGGBB, reverse video applied
  std::uint32_t background = 0x000000;
  bool operator==(const ScreenCell &) const = default;
};
