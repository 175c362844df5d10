// The monitor core's window side, room by room: each room has its own
// header, keeps its state in its own source and answers through functions;
// a side's state is its record (hex_side.h). The parts that need no window
// and no port are the pure core (hex/core/hexcore.h). This header brings
// every room along, for the shell and the tests.
//
// Everything runs on the dialog's thread; nothing here locks.
#pragma once

#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_status.h"
#include "hex/hex_timer.h"
#include "hex/hex_init.h"
#include "hex/hex_msgbox.h"
#include "hex/hex_settings.h"
#include "hex/hex_views.h"
#include "hex/hex_capture.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_display.h"
#include "hex/hex_terminal.h"
#include "hex/hex_screen.h"
#include "hex/hex_keys.h"
#include "hex/hex_send.h"
#include "hex/hex_framing.h"
#include "hex/hex_log.h"
#include "hex/hex_port_out.h"
#include "hex/hex_transfer.h"
#include "hex/hex_pcap.h"
#include "hex/hex_lines.h"
#include "hex/hex_ports.h"
#include "hex/hex_help.h"
