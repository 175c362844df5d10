// Helpers shared by the monitor core's dialog-facing sources.
#pragma once

#include "hex/hex.h"

// Shows a side's open state on its indicator, with the device path and, when
// the port did not open, the reason in the indicator's tooltip.
void hex_show_port_state(HWND window, int side, const char *reason);

// Applies the side's speed, data bits, parity, stop bits and flow control to
// its open port; DTR and RTS then stand as they were last set.
void hex_apply_side_settings(hex_obj_t &record);

// Text explaining a serial library result code (the system's error text for
// a failed system call).
void hex_sio_error_text(int code, char *buffer, int size);

// Wrapping is off in the ANSI view (the terminal's lines are rows), on in
// every other view.
void hex_apply_view_layout(HWND window);

// Puts text into the pane in a colour: in the ANSI view at the caret,
// replacing the selection; in every other view appended at the end, leaving
// the user's selection alone (a caret at the end stays at the end).
void hex_pane_put(HWND window, const char *text, int length, uint32_t colour);

// The line counts of a side's port since it opened and the bytes the display
// dropped, for its indicator's tooltip (empty while no port is watched).
void hex_capture_line_text(int side, char *text, int size);
