// The monitor's state shared by its rooms: sizes, the view and the echo, Run
// and Stop, the receive pump's timer and stamp, the Time view's lines.
#pragma once

#include "dlg/dlg.h"
#include "hex/core/hexcore.h"
#include "hex/hex_side.h"

#include <cstdint>

constexpr int HEX_SCREEN_LINES = 25;  // one screen of the pane
constexpr int HEX_PORT_QUEUE = 8192;  // receive and send queues of an open port
constexpr int HEX_MSGBOX_SIZE = 256;  // formatted message-box text, NUL included

// Timer 1, the receive pump.
constexpr unsigned HEX_PUMP_PERIOD_MS = 50;

// All zero at program start; hex_init sets the start values.

extern int32_t hex_view_mode;    // the current view, a HexView
extern int32_t hex_ascii;        // 1: the edited message is sent as text plus CR LF
extern int32_t hex_local_echo;   // 1: sent messages and typed keys are shown too
extern int32_t hex_run;          // 1: received bytes are shown, 0: dropped
extern int32_t hex_send_file;    // transfer direction: 1 send a file, 0 receive one
extern uint16_t hex_time_stamp;  // ms stamp of displayed traffic, +50 per pump run
extern unsigned hex_timer;       // timer 1 (receive pump) while armed, else 0

// The Time view's state: the Time check box, the idle gap that starts a
// line (KESTRELON_TIME_GAP_MS, else 20 ms) and where the lines stand.
extern HexTimeLines hex_time;
