// The ANSI terminal's screen.
#pragma once

#include "hex/hex_state.h"

// In the ANSI view the pane is a terminal screen of HEX_SCREEN_LINES lines
// (the block of 25 lines holding the caret) and columns 0 to 80.

constexpr int HEX_SCREEN_LAST_COLUMN = 80;  // a column above it is taken as it

// Has the pane act on a navigation key as if it were typed; nothing is sent
// on a port.
void hex_screen_key(HWND dialog, int virtualKey);
void hex_ansi_go_home(HWND dialog);     // caret to the start of the pane's whole text
void hex_ansi_go_end(HWND dialog);      // caret to the end of its line
void hex_ansi_go_clr_eos(HWND dialog);  // erase from the selection's start to the end
void hex_ansi_go_clr_eol(HWND dialog);  // erase from the selection's start to its line's end
void hex_ansi_clr_line(HWND dialog);    // erase the caret's line; its break stays
// Caret to a line of the caret's screen (0 = its first; beyond the last, 24,
// the last) and to a column of the caret's line (0 = the first; above 80,
// 80). A line the text does not reach yet is made with line feeds at its
// end, a column beyond the line's end with blanks; the screen is shown.
void hex_goto_line(HWND dialog, int line);
void hex_goto_column(HWND dialog, int column);
void hex_goto_line_column(HWND dialog, int line, int column);
