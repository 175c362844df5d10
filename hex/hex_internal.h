// Helpers shared by the monitor core's dialog-facing sources.
#pragma once

#include "hex/hex.h"
#include "ser/ser.h"

// Shows a side's open state on its indicator, with the device path and, when
// the port did not open, the reason in the indicator's tooltip.
void hex_show_port_state(HWND window, int side, const char *reason);

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

// The port a side reads (-1: none) and the line events its driver counted
// since that port opened (all 0 when the device keeps no counts).
int hex_capture_line_counts(int side, SioLineCounts *counts);

// Every open of a side's port (start-up, a Comm Port choice, a device back):
// opens record.port, applies the side's settings and raises DTR. 0 when
// open; else the serial library's code, with the port closed again (unless
// the other side holds it) and record.open 0. The indicator is the caller's.
int hex_open_side(int side);

// The side's port went away or came back at `ms`: a line in the pane and
// the log, in its place among the bytes read (hexcore.h, HexPortEvent).
void hex_capture_port_event(int side, int port, uint32_t ms, HexPortEvent event);

// Reads of the side's open port failed at `ms` (a hang-up, EIO: its device
// went): the port is closed at once, its descriptor and lock let go, the
// indicator turns grey with "device gone", the disconnect line is queued, and
// the side waits for its device (hex_reconnect_tick).
void hex_port_gone(HWND window, int side, uint32_t ms);
// The side's port, closed for a moment (a transfer's end), did not open
// again with `code`: a device no longer there is waited for as one gone;
// any other reason shows on the indicator.
void hex_port_reopen_failed(HWND window, int side, int code);
// The side waits no more (another Comm Port chosen).
void hex_reconnect_cancel(HWND window, int side);
// Neither side waits (Exit).
void hex_reconnect_stop(HWND window);

// The bytes of a message in the hex form (Send, CheckSum, Add Frame read it
// alike): -1 when it holds anything but hex digits and blanks, the status
// field then saying which character at which column (taken back by the
// next message that goes out).
int hex_read_hex_message(HWND dialog, const char *text, uint8_t *bytes);
