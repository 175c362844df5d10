// Modem lines: per side, lamps of the inputs CTS, DSR, DCD and RI and
// switches of the outputs DTR and RTS, each on, off or unknown (a device
// that reports no lines, a side without its port), and Send Break.
//
// The lines are read every 100 ms (timer TIMER_LINES, one ioctl a side,
// never waiting). A change of an input, and every DTR, RTS and break the
// user makes, is a line event of the capture ("12:00:01.234 COM1 CTS on"),
// shown and logged in its place among the bytes; the indicator's tooltip
// counts the changes of each line since the port opened.
#pragma once

#include "dlg/dlg.h"

constexpr unsigned HEX_LINES_PERIOD_MS = 100;
constexpr unsigned HEX_PULSE_MS = 100;  // a DTR or RTS pulse: down this long, then up
constexpr unsigned HEX_BREAK_MS = 250;  // a break sent

// The levels DTR and RTS take at every open of a side whose user has not
// switched them (1 up, 0 down, -1 as without the option: DTR up, RTS down).
void hex_lines_set_start(int dtr, int rts);
// The durations of a pulse and of a break (0 keeps the default).
void hex_lines_set_durations(unsigned pulse_ms, unsigned break_ms);

// Starts (and at exit stops) the readings.
void hex_lines_start(HWND window);
void hex_lines_stop(HWND window);
// TIMER_LINES: reads both sides' lines and shows them.
void hex_lines_tick(HWND window);

// A side's port just opened: DTR and RTS as wanted, before any byte.
void hex_lines_opened(int side);

// A click on a lamp, a switch or Break (their control ids): a switch raises
// or lowers its line, Break sends a break; a lamp keeps its look.
bool hex_lines_command(HWND window, int id);
// The pulse action of a switch (right click): the line goes down for the
// pulse's time and comes up again.
bool hex_lines_pulse(HWND window, int id);
// TIMER_PULSE_A/B, TIMER_BREAK_A/B: the end of a pulse or a break.
bool hex_lines_timer(HWND window, unsigned id);

// The changes of each line since the side's port opened, for the
// indicator's tooltip ("" while unknown).
void hex_lines_tip_text(int side, char *text, int size);
