// The application shell: process entry, the main dialog's procedure (the
// routing of every window event to its handler) and the receive pump.
#pragma once

#include "hex/hex_capture.h"
#include "hex/hex_state.h"
#include "dlg/dlg.h"

#include <string>

using HINSTANCE = void *;
constexpr int SW_SHOWNORMAL = 1;

// Runs the monitor's dialog until it ends; 0 in every case.
int WinMain(HINSTANCE instance, HINSTANCE previous, char *commandLine, int show);

// The dialog's initialisation: sets up the pane, starts the receive pump,
// gives the pane the focus and starts the monitor. Returns 1.
int InitializeApp(HWND window, uintptr_t focusControl, intptr_t parameter);

// Colour of the pane's text until a port's colour is given (green).
constexpr uint32_t WIN_PANE_TEXT_COLOUR = 0x00FF00;

// The dialog procedure: 1 for an event it handles, 0 for the others.
int DialogFunc(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Chooses entry `entry` of a drop-down list as a user's choice does: the
// entry is selected and the list's selection change goes to the dialog
// procedure.
void win_choose_entry(HWND window, int list, int entry);

// --- Receive pump -------------------------------------------------------------

constexpr unsigned WIN_PUMP_PERIOD_MS = HEX_PUMP_PERIOD_MS;
// After a run that ended behind in a view that shows every byte: the
// window keeps more than half its time.
constexpr unsigned WIN_PUMP_GAP_MS = 35;
constexpr int WIN_RX_CHUNK = 8192;    // most bytes handed to a view at once
constexpr int WIN_RX_BUFFER = 76045;  // longest text a view writes back, plus NUL
constexpr int WIN_TIME_STEP = 50;     // hex_time_stamp per run

// Arms timer 1 (50 ms), keeps its handle in hex_timer and starts reading
// the ports as bytes arrive (hex_capture_start).
void win_init_periodic(HWND window);
// One run: kills timer 1, reads what still waits on each side, shows every
// chunk read since the last run in the current view, in the order the
// chunks arrived across both ports (each headed with its time in the Time
// view, breaks as lines of their own), flushes the log, advances
// hex_time_stamp, arms timer 1 again. Under Stop what was read is dropped;
// a port gone or back is said in every case.
void win_periodic(HWND window);

// --- Entry helpers ----------------------------------------------------------------

// The command line without the program's name (quoted or up to the first
// blank) and the blanks behind it.
const char *win_skip_program_name(const char *commandLine);

// Whether a window can be shown: the platform chosen by QT_QPA_PLATFORM, or
// else an X or Wayland display. When not, `why` says what is missing.
bool win_display_available(std::string &why);
