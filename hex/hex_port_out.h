// Bytes on their way out.
#pragma once

#include "hex/hex_state.h"

// What a port cannot take at once is kept here, in order, and written by the
// timers as the port takes it (the receive pump for messages and keys, the
// dump's step for a dump), so that no write waits for the line. One port at
// a time: a message going out, or a sending dump.

constexpr int HEX_OUT_SIZE = HEX_BUF_SIZE + 256;  // a whole message with its CR LF, and keys

// Writes what the port takes now and keeps the rest behind any bytes kept
// already (then nothing is written now). Returns the bytes taken in, fewer
// than count when there is no room; 0 while bytes kept for another port
// wait; a negative serial library code when the write failed (nothing taken).
int hex_out_put(int port, const uint8_t *bytes, int count);
// Writes more of what is kept: the bytes the port took now; a negative code
// when the write failed, and then what was kept is dropped.
int hex_out_push();
int hex_out_waiting();  // bytes kept
int hex_out_room();     // bytes that can still be kept
void hex_out_drop();
