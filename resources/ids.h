// Control identifiers of the main dialog. The numbers are the dialog's own
// and are kept as they are: handlers and the routing table name controls by
// these ids.
#pragma once

enum ControlId : int {
  IDD_MAIN = 100,  // the dialog itself

  IDOK = 1,      // the dialog manager's default command (Enter)
  IDCANCEL = 2,  // the dialog manager's cancel command (Escape, an unhandled close)
  IDC_EXIT = 2,  // "Exit": the cancel command's button

  IDC_PANE = 101,  // display pane

  IDC_GROUP_PORT_A = 103,  // "Port A Settings"
  IDC_GROUP_PORT_B = 104,  // "Port B Settings"
  IDC_SPEED_A = 105,
  IDC_DATA_A = 106,
  IDC_STOP_A = 107,
  IDC_PARITY_A = 108,
  IDC_SPEED_B = 109,
  IDC_DATA_B = 110,
  IDC_STOP_B = 111,
  IDC_PARITY_B = 112,
  IDC_LABEL_SPEED_A = 113,
  IDC_LABEL_DATA_A = 114,
  IDC_LABEL_STOP_A = 115,
  IDC_LABEL_PARITY_A = 116,
  IDC_LABEL_SPEED_B = 117,
  IDC_LABEL_DATA_B = 118,
  IDC_LABEL_STOP_B = 119,
  IDC_LABEL_PARITY_B = 120,
  IDC_LOG = 121,     // "Log"
  IDC_NO_LOG = 122,  // "No Log"
  IDC_GROUP_DISPLAY = 123,
  IDC_RUN = 126,   // "Run"
  IDC_STOP = 127,  // "Stop"
  IDC_VIEW = 129,
  IDC_PORT_A = 133,       // Port A Comm Port
  IDC_SEND_PORT_A = 134,  // Send Port "Port A"
  IDC_SEND_PORT_B = 135,  // Send Port "Port B"
  IDC_LABEL_MESSAGE = 136,
  IDC_SEND = 137,
  IDC_CLEAR = 146,
  IDC_OPEN_A = 147,  // Port A open indicator (three-state)
  IDC_OPEN_B = 148,  // Port B open indicator (three-state)
  IDC_FLOW_A = 149,
  IDC_FLOW_B = 150,
  IDC_LABEL_FLOW_A = 151,
  IDC_LABEL_FLOW_B = 152,
  IDC_MESSAGE = 153,  // message field with the history as its list
  IDC_CHECK_KIND = 154,
  IDC_CHECKSUM = 155,
  IDC_GROUP_TRANSFER = 156,
  IDC_XFER_START = 157,
  IDC_XFER_SEND = 159,  // transfer direction "Send"
  IDC_XFER_GET = 160,   // transfer direction "Get"
  IDC_PROTOCOL = 161,
  IDC_LABEL_PROTOCOL = 162,
  IDC_PORT_B = 164,  // Port B Comm Port
  IDC_LABEL_PORT_B = 165,
  IDC_LABEL_PORT_A = 166,
  IDC_GROUP_LOG = 167,
  IDC_XFER_ABORT = 168,
  IDC_FILE_NAME = 170,    // status field: log or transfer file name
  IDC_XFER_STATUS = 172,  // status field: transfer status line
  IDC_GROUP_SEND_PORT = 173,
  IDC_LABEL_VIEW = 174,
  IDC_LOCAL_ECHO = 176,
  IDC_FRAME_TYPE = 177,
  IDC_ADD_FRAME = 178,
  IDC_GROUP_FRAME = 179,
  IDC_TIME = 180,         // "Time": lines headed with the time of their first byte
  IDC_LINE_STATUS = 181,  // status field: line errors and bytes the display dropped
  IDC_PCAP = 182,         // "Wireshark": the session written as a capture file too
  IDC_MACRO_1 = 190,      // the macro buttons F1 .. F12: 190 .. 201
  IDC_MACRO_12 = 201,
  IDC_MACRO_EDIT = 202,   // "Macros...": the rules editor
  IDC_PORT_NAMES = 340,   // "Ports": lines of another port headed by its name

  // The rules editor (a dialog of its own).
  IDD_AUTO = 300,
  IDC_AUTO_RULES = 301,   // the rules as lines of the file; its field edits one
  IDC_AUTO_ADD = 302,
  IDC_AUTO_CHANGE = 303,
  IDC_AUTO_ENABLE = 304,  // a trigger on or off
  IDC_AUTO_REMOVE = 305,
  IDC_AUTO_SAVE = 306,
  IDC_AUTO_STATUS = 307,  // what is wrong with a line, or where the rules went
  IDC_AUTO_PATH = 308,
  IDC_AUTO_LABEL = 309,

  // Commands of the keyboard shortcuts: 320 + the shortcut's row (hex_help.h).
  IDM_SHORTCUT_FIRST = 320,
  IDM_SHORTCUT_LAST = 339,

  // Modem lines of each side: lamps of CTS, DSR, DCD and RI, switches of DTR
  // and RTS (in HexLine order from the first), Send Break, and the row's label.
  IDC_LINES_A = 260,  // Port A's CTS .. RTS: 260..265
  IDC_BREAK_A = 266,
  IDC_LABEL_LINES_A = 267,
  IDC_LINES_B = 270,  // Port B's CTS .. RTS: 270..275
  IDC_BREAK_B = 276,
  IDC_LABEL_LINES_B = 277,
  IDC_PULSE_A = 280,  // Port A's pulse length, its label, its break length
  IDC_LABEL_PULSE_A = 281,
  IDC_BREAK_LENGTH_A = 282,
  IDC_PULSE_B = 283,
  IDC_LABEL_PULSE_B = 284,
  IDC_BREAK_LENGTH_B = 285,
};

// Timer ids on the main dialog.
enum TimerId : int {
  TIMER_PUMP = 1,       // receive pump, 50 ms
  TIMER_TRANSFER = 2,   // XMODEM transfer step, 10 ms
  TIMER_DUMP = 3,       // dump step, 50 ms
  TIMER_DUMP_IDLE = 4,  // dump without progress, 15 s
  TIMER_RECONNECT = 5,  // looking for the devices of ports gone away, 500 ms
  TIMER_AUTO = 6,       // periodic macros and delayed trigger replies, as due
  TIMER_LINES = 20,     // reading the modem lines, 100 ms
  TIMER_PULSE_A = 21,   // the end of a DTR or RTS pulse, Port A
  TIMER_PULSE_B = 22,
  TIMER_BREAK_A = 23,   // the end of a break sent, Port A
  TIMER_BREAK_B = 24,
  TIMER_ANSWERS = 32,  // a remote port's server answering settings, 100 ms
};
