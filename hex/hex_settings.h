// Line settings and port choice: each side's lists write into its record, and
// an open port gets the record's settings whole.
#pragma once

#include "hex/hex_state.h"

void hex_speed1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_speed2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_data1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_data2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_stop1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_stop2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_parity1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_parity2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_flow1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_flow2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);

// A number typed into a Speed list (`id`) that names none of its entries:
// a rate in bit/s, applied to the side's port as the serial library does
// (the driver must keep it). Taken, it becomes the list's last entry;
// refused (by the driver, or below 10: those are speed codes), the status
// field says "COM1 refused 12 bit/s" and the list and the port keep the
// last rate. Any other text goes back to the chosen entry.
void hex_speed_typed(HWND window, int id);

// Applies the side's whole settings to its open port at once (speed, data
// bits, parity, stop bits, flow control, then DTR and RTS as last set). What
// the device refuses is said in the status field ("COM3 refused EVEN
// parity"), and the record and the lists take what the device keeps.
// 0, or the serial library's code.
int hex_apply_side(HWND window, int side);
// A remote port's settings are answered by its server later: timer 32
// looks every 100 ms while answers are awaited. What the server refuses is
// said and taken as hex_apply_side does for a local device; a setting it
// does not answer within 1 s is said too ("COM3 did not confirm 7 data
// bits") and the lists keep it.
void hex_answers_tick(HWND window);
// The side's lists show its record's settings.
void hex_show_side_settings(HWND window, int side);

// Every open of a side's port (start-up, a Comm Port choice, a device back,
// a transfer's reopen): opens record.port, applies the side's settings and
// sets DTR and RTS as wanted (hex_lines_opened: DTR up, RTS down unless the
// user or the command line chose otherwise). 0 when open; else the serial library's code, with the port
// closed again (unless the other side holds it) and record.open 0. The
// indicator is the caller's.
int hex_open_side(HWND window, int side);

// Comm Port choice: closes the side's port, opens the chosen one and applies
// the side's settings; the send port follows when this side is the send side.
void hex_PortASelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_PortBSelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Text explaining a serial library result code (the system's error text for
// a failed system call).
void hex_sio_error_text(int code, char *buffer, int size);
