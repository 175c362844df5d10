// Start-up, exit and the configuration file.
#pragma once

#include "hex/hex_state.h"

// Fills every list, opens both ports with the default settings, sets the
// buttons and loads the message history from "kestrelon.cfg".
void hex_init(HWND window);

// The Comm Port entries (0 = COM1) hex_init opens for Port A and Port B:
// COM1 and COM2 unless set before the window is made (the command line).
// The send port starts on Port A's.
extern int32_t hex_start_port[2];

// Saves the history, lowers DTR and RTS, closes both ports and the log,
// stops the receive pump.
void hex_quit(HWND window);
