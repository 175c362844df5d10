// Sending: the Send command and the send side.
#pragma once

#include "hex/hex_state.h"

// The Send command: the edited message to hex_send_port; what went out is
// echoed (when local echo is on) and logged. A failed write shows nothing.
// While the send side's own port is not open nothing is written, echoed or
// logged, and the status field says so. What the line does not take at once
// goes out with the receive pump's runs, the status field showing how far;
// Send is refused until all of it has gone.
void hex_send_msg(HWND dialog);

// The send side: the side whose Send Port button is on; Port A at start.
int hex_send_side();
// hex_send_port reads as the port index (0 = COM1) messages, keys and
// transfers go to: the send side's port, whatever it is now.
struct HexSendPort {
  operator int32_t() const;
};
extern const HexSendPort hex_send_port;
// A Send Port button clicked: a side whose port is not open cannot be
// chosen; the buttons show the send side.
void hex_choose_send_side(HWND window, int side);
// Port A is the send side (start-up).
void hex_start_send_side(HWND window);
// 1 when the send side's own port is open, so what is sent can go out.
int hex_send_side_open(HWND window);

// The receive pump's part in sending: more of a message still going out is
// written, and the status field shows how far it got ("Sending... n of m
// bytes ") until it is all out.
void hex_send_drain(HWND window);

// Refuses what would go out on the send port while the send side's own port
// is not open: the status field says so, and the result is 1.
int hex_send_port_refused(HWND window);
