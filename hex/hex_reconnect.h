// Ports that go away and come back.
#pragma once

#include "hex/hex_state.h"

// A side whose port fails as gone (a hang-up, EIO: an adapter pulled, a
// device powered off, a pseudo-terminal's far end closed) is closed at once
// and marked grey with "device gone"; "COMn (device) disconnected" goes into
// the pane and the log. While it waits, timer 5 looks every 500 ms whether
// its device path is there again (a link such as /dev/serial/by-id/... is
// followed anew each time) and opens it with the side's settings, and
// "COMn (device) reconnected" follows. Another Comm Port chosen for the
// side, or Exit, ends the waiting. A transfer on a port that goes away ends
// with its failure text; its port then waits and comes back as any other,
// and the transfer is not started again. A remote port (rfc2217://,
// tcp://) whose connection ended is connected again the same way, every
// 500 ms at first and less often while its host refuses, up to every 5 s.

constexpr unsigned HEX_RECONNECT_PERIOD_MS = 500;

// Timer 5: each waiting side whose device is there is opened again.
void hex_reconnect_tick(HWND window);
// 1 while the side waits for its device.
int hex_reconnect_waiting(int side);
// A line event the pump took from capture (a port gone or back), shown as
// hex_show_port_event shows it, with the device its port names.
void hex_show_capture_event(const HexCapturePiece &piece, HexSink &sink);

// The side's device went at `ms` (a read failed with a hang-up, EIO): the
// capture thread lets go of the port, which is closed at once, its
// descriptor and lock let go, the indicator turns grey with "device gone",
// the disconnect line is queued (unless the capture thread, which found it,
// has queued it: `say` false), and the side waits for its device
// (hex_reconnect_tick).
void hex_port_gone(HWND window, int side, uint32_t ms, bool say = true);
// The side's port, closed for a moment (a transfer's end), did not open
// again with `code`: a device no longer there is waited for as one gone;
// any other reason shows on the indicator.
void hex_port_reopen_failed(HWND window, int side, int code);
// The side waits no more (another Comm Port chosen).
void hex_reconnect_cancel(HWND window, int side);
// Neither side waits (Exit).
void hex_reconnect_stop(HWND window);
