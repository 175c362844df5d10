// File transfers.
#pragma once

#include "hex/hex_state.h"

// 1 while an XMODEM transfer runs, 1 while a dump runs (this room sets them).
extern int32_t hex_xmodem_busy;
extern int32_t hex_dump_busy;
// 1 while either runs: the port is the transfer's, nothing else reads or
// writes it.
int hex_transfer_running();
// The port the running transfer holds, taken from the capture thread; -1
// while none runs.
int hex_transfer_port();
// The path a running transfer receives into (its file takes it at the
// end); empty while none receives.
const char *hex_transfer_target();

// The File Transfer group: a file sent or received on the send port by
// XMODEM (through the driver, serxydrv/serxydrv.h) or as a raw Dump, with
// progress and the outcome in the status field 172 and the file's path in
// 170. While a transfer runs its port is its own (the capture thread lets go
// of it; the other side is read, shown and logged on), Send and typed keys
// are refused, and Start, the Send Port buttons and the transfer side's
// Comm Port list are disabled; every step works on the port saved at Start.

// Timer 2 comes back after 10 ms, not 50: XMODEM waits for every reply, and
// at 115200 bit/s a 1K packet takes 89 ms, so a 50 ms wait per reply would
// cost a tenth of the line's speed.
constexpr unsigned HEX_XMODEM_STEP_MS = 10;
constexpr unsigned HEX_DUMP_STEP_MS = 50;           // timer 3
constexpr unsigned HEX_DUMP_IDLE_MS = 15000;        // timer 4: a dump that moved nothing ends
constexpr uint32_t HEX_TRANSFER_RUN_MS = 30;        // driver calls in one run of timer 2
constexpr int HEX_DUMP_SEND_STEP = HEX_PORT_QUEUE;  // the port's queue, kept bytes included
constexpr int HEX_DUMP_RECEIVE_STEP = HEX_BUF_SIZE;

// Start (command 157). Refused while a transfer runs, while a message is
// still going out and while the send side's port is not open (also when its
// device went while the file dialog was up). Asks for the file ("bin"); a
// cancelled dialog starts nothing and changes nothing. Receiving into an
// existing file asks first (hex_ask_existing); the bytes go into a new file
// beside it, which takes the chosen name only when the transfer succeeds
// (an XMODEM transfer completed; a dump that received anything, however it
// ended but by a failure) and is removed otherwise, so the old file stays as
// it was. A file that cannot be opened, or is not a regular file
// (hex_open_user_file), shows "Dump file open error" or "File open error"
// with its path and the reason. Otherwise the path is shown (an open log
// stays open, its path back in 170 at the end), and XMODEM begins on the
// port reopened with the side's settings, or the dump begins on the port as
// it is.
void hex_file_transfer(HWND dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

// Abort (command 168), timer 4 and the common end of every transfer: the
// driver is released, the dump file closed, the port reopened with the
// side's settings after XMODEM (a dump leaves its port open as it was) and
// the pump started again. Abort cancels an XMODEM transfer on the wire (the
// driver's CANs go out, so the far end stops at once) and shows "X-Modem
// Aborted "; it drops what the port still holds of a dump and shows "Dump
// Completed " (with no transfer running it touches no port).
// Timer 4 (message WM_TIMER, wParam TIMER_DUMP_IDLE) ends a dump only once
// it has moved no byte for HEX_DUMP_IDLE_MS on the serial library's clock.
void hex_file_abort(HWND dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

// Timer 2: xyDriver again and again while it makes progress, for at most
// HEX_TRANSFER_RUN_MS; "Packets = n " (with the share done when the size is
// known, "Packets = 40 (31%) "), and at the end "X-Modem Completed " or
// "X-Modem Failed: " with the driver's error text.
void hex_periodic_transfer(HWND dialog);

// Timer 3: one step of a dump. Sending: the port's queue is topped up to
// HEX_DUMP_SEND_STEP bytes from the file; the dump ends once the last byte
// has left the port's queue. Receiving: up to HEX_DUMP_RECEIVE_STEP bytes
// go from the port into the file. "Bytes = n " while bytes move. A port that
// fails (its device gone) ends the dump with "Dump Failed: " and the reason,
// the port opened again as after XMODEM: a side whose device went waits.
void hex_periodic_dump(HWND dialog);

// Exit during a transfer: the transfer stops where it is, the driver is
// released and the file closed (a partial XMODEM file removed, what a dump
// received kept); the port is left to be closed.
void hex_transfer_stop(HWND dialog);
