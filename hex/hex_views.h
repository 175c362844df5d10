// View and frame-type choices, the Time check box, the selection.
#pragma once

#include "hex/hex_state.h"

void hex_ViewSelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
// The Check Kind list's choice: what the frame decoders of both sides verify
// each frame against from now on (no choice: nothing).
void hex_checkKindSelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
// Every notification of the Frame Type list: sets checksum kind and view.
void hex_frameChanged(HWND window);
// 1 when text is selected in the pane, 0 for a caret alone.
int hex_text_selected(HWND window);

// The Time check box: heads lines with the time from now on, or stops.
void hex_timeChanged(HWND window);
// The Ports check box: heads the lines of another port with its name.
void hex_portNamesChanged(HWND window);

// Wrapping is off in the ANSI view (the terminal's lines are rows), on in
// every other view.
void hex_apply_view_layout(HWND window);
