// Capture: bytes read as they arrive.
#pragma once

#include "hex/hex_state.h"

// While the receive pump runs, the port each side's Comm Port list names is
// watched, and whatever arrives is read at once into the side's capture ring
// (hexcore.h), stamped with the serial library's clock (SioTimer); the pump
// shows it in the order of arrival across both sides. A side with a run's
// share of bytes waiting is not read until the pump has shown them: its
// port holds the rest (a pseudo-terminal's writer, a line with flow control
// wait; a line without flow control fills the driver's buffer). Only while
// a run cannot end (a message box it opened) is reading never held back: a
// full ring then drops its oldest bytes not shown and counts them.

// A watched port has bytes to read (wParam: its descriptor).
constexpr unsigned HEX_PORT_READY = WM_USER + 1;
constexpr uint32_t HEX_RUN_SHARE = 64 * 1024;  // a side's bytes waiting for one run
constexpr uint32_t HEX_READ_MAX = 16 * 1024;   // bytes one read takes at most

// The pump starts capture when the dialog starts (from nothing read, with
// the Time view's clock face set) and stops it at exit; a transfer holds it
// (nothing is read while hex_xmodem_busy or hex_dump_busy is set, and what
// was read stays for the first run after).
void hex_capture_start(HWND window);
void hex_capture_stop(HWND window);
// Watches what the sides' lists name now (after a port change, each run).
void hex_capture_sync(HWND window);
// HEX_PORT_READY: reads what arrived on the port with that descriptor.
void hex_capture_ready(HWND window, int descriptor);
// A run: reads what waits on each side and returns the place in the order
// of arrival before which the run shows chunks (hex_capture_take); at its
// end held ports are watched again and the line state is shown; between,
// hex_capture_next hands the chunks over.
uint64_t hex_capture_run_begin(HWND window);
void hex_capture_run_end(HWND window);
// The oldest chunk, or its first `max` bytes, read before place `before`:
// 1 with `piece`, 0 when none is left.
int hex_capture_next(uint64_t before, uint8_t *out, int max, HexCapturePiece *piece);
// Bytes read from a side's port since start, bytes waiting to be shown, and
// bytes dropped because the display fell behind (since its port was opened).
uint64_t hex_capture_read_total(int side);
uint32_t hex_capture_waiting(int side);
uint64_t hex_capture_dropped(int side);

// The line counts of a side's port since it opened and the bytes the display
// dropped, for its indicator's tooltip (empty while no port is watched).
void hex_capture_line_text(int side, char *text, int size);

// The side's port went away or came back at `ms`: a line in the pane and
// the log, in its place among the bytes read (hexcore.h, HexPortEvent).
void hex_capture_port_event(int side, int port, uint32_t ms, HexPortEvent event);
