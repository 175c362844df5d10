// One record per side: everything of Port A (index 0) or Port B (index 1)
// lives in its hex_obj entry: the port and the settings its device keeps,
// the parsers' and decoders' state (hexcore.h), the capture's watch, the
// waiting for a device gone and what the indicator shows. Handlers write
// into the record and act from it; each part below is changed only by the
// room named with it, and the others ask that room through its functions.
#pragma once

#include "dlg/dlg.h"
#include "hex/core/hexcore.h"
#include "ser/ser.h"

#include <string>

// The capture's watch of the port a side holds (hex_capture.cpp), the
// window's thread's; what the capture thread keeps of a side is its own.
struct HexWatch {
  int port = -1;                 // the port handed to the capture thread; -1 none
  int fd = -1;                   // its descriptor; -1 none
  bool counted = false;          // its driver counts line events
  SioLineCounts counts;          // since the port was opened, as of the last run
  uint64_t not_shown = 0;        // bytes only logged since the port was opened
  uint64_t hidden = 0;           // of those, the ones whose mark is not in the pane yet
  uint32_t skip = 0;             // bytes of this run that go to the log alone
};

// A side's modem lines (hex_lines.cpp): what was read and counted since its
// port opened, the levels the user wants of DTR and RTS, the lengths of a
// pulse and of a break, and a pulse or a break under way.
struct HexSideLines {
  HexLineState state;
  int fd = -1;            // the descriptor the state was read through; -1 none
  int dtr = -1;           // wanted level: 1 up, 0 down, -1 the start's (--dtr)
  int rts = -1;           // the same for RTS (--rts)
  int pulse_line = -1;    // HEX_LINE_DTR or HEX_LINE_RTS while a pulse is under way
  bool breaking = false;  // a break sent is under way
  unsigned pulse_ms = 0;  // how long a pulse holds its line down (set at the start)
  unsigned break_ms = 0;  // how long a break lasts
  uint32_t pulse_end = 0;  // when the pulse and the break under way end (SioTimer ms)
  uint32_t break_end = 0;
  uint32_t shown = ~0u;   // the lamps' looks last shown (hex_lines.cpp); ~0 none yet
};

// How a side waits for a device gone (hex_reconnect.cpp): the side that held
// the port opens it again; a side that only named it follows.
enum class HexWaiting { None, Holder, Follower };

struct HexSideRecord : hex_obj_t {
  HexWatch watch;
  HexWaiting waiting = HexWaiting::None;
  std::string tip;        // the line counts last shown in the indicator's tooltip
  int decoded_port = -1;  // the port whose bytes the decoder state holds (the pump's)
  HexSideLines lines;
};

// Index 0 Port A, index 1 Port B.
extern HexSideRecord hex_obj[2];

// The other side.
constexpr int hex_other_side(int side) { return side == HEX_SIDE_A ? HEX_SIDE_B : HEX_SIDE_A; }

// Control ids of a side's Comm Port list, open indicator and Send Port button.
int hex_side_port_list(int side);
int hex_side_indicator(int side);
int hex_side_send_button(int side);

// Shows a side's open state on its indicator, with the device path and, when
// the port did not open, the reason in the indicator's tooltip.
void hex_show_port_state(HWND window, int side, const char *reason);
