// Modem lines: per side, lamps of the inputs CTS, DSR, DCD and RI and
// switches of the outputs DTR and RTS, each on, off or unknown (a device
// that reports no lines, a side without its port), Send Break, and the
// lengths of a pulse and of a break (the Pulse and Break lists).
//
// The lines are read every 100 ms (timer TIMER_LINES, one ioctl a side,
// never waiting); a reading that changes nothing touches no widget. A change of an input, and every DTR, RTS and break the
// user makes, is a line event of the capture ("12:00:01.234 COM1 CTS on"),
// shown and logged in its place among the bytes; the indicator's tooltip
// counts the changes of each line since the port opened.
#pragma once

#include "dlg/dlg.h"

constexpr unsigned HEX_LINES_PERIOD_MS = 100;
constexpr unsigned HEX_PULSE_MS = 100;  // a DTR or RTS pulse: down this long, then up
constexpr unsigned HEX_BREAK_MS = 250;  // a break sent
constexpr unsigned HEX_LINE_MS_MOST = 10000;  // the longest pulse or break

// The levels DTR and RTS take at every open of a side whose user has not
// switched them (1 up, 0 down, -1 as without the option: DTR up, RTS down).
void hex_lines_set_start(int dtr, int rts);
// The lengths of a pulse and of a break both sides start with (0 keeps the
// default); each side's Pulse and Break lists change its own afterwards.
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
// A length chosen or typed in a side's Pulse or Break list (their ids): the
// side's next pulse or break lasts that long, as the status field says; a
// text that is no length from 1 to HEX_LINE_MS_MOST ms ("300", "300 ms")
// leaves the length as it was. False for another control.
bool hex_lines_length(HWND window, int id);
// The pulse action of a switch (right click): the line goes down for the
// pulse's time and comes up again.
bool hex_lines_pulse(HWND window, int id);
// TIMER_PULSE_A/B, TIMER_BREAK_A/B: the end of a pulse or a break.
bool hex_lines_timer(HWND window, unsigned id);

// The changes of each line since the side's port opened, for the
// indicator's tooltip ("" while unknown).
void hex_lines_tip_text(int side, char *text, int size);
