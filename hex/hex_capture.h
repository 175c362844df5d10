// Capture: bytes read as they arrive.
#pragma once

#include "hex/hex_state.h"
#include "ser/ser.h"

// While the receive pump runs, a thread of its own waits on the ports of
// both sides (poll on SioHandle) and reads each the moment it is readable
// (SioGets, the only reading call it makes) into the side's ring (hexcore.h),
// each read stamped there with the serial library's clock (SioTimer), so
// the order and times are the bytes' arrival whatever the window is doing.
// Only a full ring (16 MiB) stops the thread reading that port: the kernel
// and the line's flow control then hold the bytes; nothing is dropped. The
// window's thread keeps everything else (writes, settings, modem lines,
// transfers); the port a transfer uses is taken from the thread for its
// length, the other side is read on.
//
// The pump takes what the rings hold in the order of arrival. The log (and
// the capture file) gets every byte; a side with more than a run's share
// waiting shows only its newest share in the pane and marks the gap there
// ("n bytes of COM1 not shown, see the log"), counted in the tooltip.

constexpr uint32_t HEX_RUN_SHARE = 64 * 1024;  // bytes of a side one run shows at most

// The pump starts capture when the dialog starts (from nothing read, with
// the Time view's clock face set, the thread started) and stops it at exit.
void hex_capture_start(HWND window);
void hex_capture_stop(HWND window);
// Hands the thread the ports the sides hold now (after a port change, a
// transfer's start or end, Run or Stop, each run); returns once a port
// let go is no longer read (at most one read that never blocks).
void hex_capture_sync(HWND window);
// The thread lets go of a side's port, before it is closed.
void hex_capture_release(int side);
// A run: returns the place in the order of arrival before which the run
// shows chunks (hex_capture_take); at its end the line state is shown;
// between, hex_capture_next hands the chunks over.
uint64_t hex_capture_run_begin(HWND window);
// hex_capture_run_end is true when the run ended at its time with chunks
// still to show in a view that shows every byte (the Terminal view): the
// pump comes back sooner.
bool hex_capture_run_end(HWND window);
// The oldest chunk, or its first `max` bytes, read before place `before`:
// 1 with `piece`, and `shown` false for bytes that go to the log alone; 0
// when none is left or the run has worked long enough (the rest waits).
int hex_capture_next(uint64_t before, uint8_t *out, int max, HexCapturePiece *piece, bool *shown);
// Bytes of a side that went to the log alone since the last call: the gap
// the pane marks where they were.
uint64_t hex_capture_gap(int side);
// Bytes read from a side's port since start, and bytes waiting to be shown.
uint64_t hex_capture_read_total(int side);
uint32_t hex_capture_waiting(int side);

// What the capture did with a side's bytes since start, for benchmarks: read,
// taken by the pump (each into the log), waiting, only logged since its port
// opened; and the pieces of either side taken behind a later stamp.
struct HexCaptureFigures {
  uint64_t read, taken;
  uint32_t waiting;
  uint64_t not_shown, order_errors;
};
HexCaptureFigures hex_capture_figures(int side);

// The line counts of a side's port since it opened and the bytes not shown,
// for its indicator's tooltip (empty while no port is watched).
void hex_capture_line_text(int side, char *text, int size);

// The port a side reads (-1: none) and the line events its driver counted
// since that port opened (all 0 when the device keeps no counts).
int hex_capture_line_counts(int side, SioLineCounts *counts);

// The side's port went away or came back, or its lines changed, at `ms`: a
// line in the pane and the log, behind the bytes read before it.
void hex_capture_port_event(int side, int port, uint32_t ms, HexPortEvent event);
