// The pane as the far end's keyboard.
#pragma once

#include "hex/hex_state.h"

// Keys typed into the pane go to the send port (hex_send_port): the
// navigation keys and Enter as terminal sequences in the ANSI view only, Esc
// and Delete in every view, characters in every view. Every byte that goes
// out is logged as sent. While the send side's own port is not open, and
// while a transfer runs, nothing is written or logged. Each returns the
// number of bytes that went out, 0 when the key sends nothing in the current
// view, HEX_KEY_NOT_SENT when its bytes should have gone out and did not.
constexpr int HEX_KEY_NOT_SENT = -1;

int hex_ansi_up(HWND dialog);       // Up: ESC [ A
int hex_ansi_down(HWND dialog);     // Down: ESC [ B
int hex_ansi_right(HWND dialog);    // Right: ESC [ C
int hex_ansi_left(HWND dialog);     // Left: ESC [ D
int hex_ansi_home(HWND dialog);     // Home: ESC O P, as Page Up
int hex_ansi_end(HWND dialog);      // End: ESC O Q
int hex_ansi_pg_up(HWND dialog);    // Page Up: ESC O P
int hex_ansi_pg_dn(HWND dialog);    // Page Down: ESC O S
int hex_ansi_return(HWND dialog);   // Enter: CR LF
int hex_ansi_escape(HWND dialog);   // Esc: ESC, in every view
int hex_ansi_back(HWND dialog);     // Delete: BS, in every view
// A typed character, one byte, in every view. In the ANSI view the pane
// shows the caret's screen first; what local echo shows of the key is in
// the send port's sent colour.
int hex_ansi_char(HWND dialog, int character);

// The pane reports each key before acting on it: a key-down (a virtual-key
// code) or the character a key press makes. Esc and Enter go out by their
// characters (Enter as CR LF in the ANSI view), the navigation keys and
// Delete by their key-downs, every other character as itself.
enum class HexKeyKind { Down, Char };
struct HexKeyResult {
  int sent;  // as the routines above: bytes out, 0, or HEX_KEY_NOT_SENT
  int act;   // the key or character the pane acts on; 0 nothing
};
HexKeyResult hex_key_filter(HWND window, HexKeyKind kind, int code);
