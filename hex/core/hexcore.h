// The monitor core's pure part: everything of the monitor that needs neither
// the window nor a port. The per-side record, the name and colour tables,
// the hex text form, the configuration file's content, the HTML log's
// records, and the shape every byte-fed routine of the core follows.
//
// Byte-fed routines. A routine that turns received bytes into something to
// show (a view's text, a frame decoder, the terminal parser) is a function
// of the state it keeps between chunks (a side's record), a span of bytes
// and a sink. It never reaches the window, a port, a file or a clock by
// itself: what it makes goes into the sink, in order. Whatever a chunk
// leaves unfinished stays in the state, so the same bytes give the same
// calls into the sink however they are split into chunks; its tests feed
// every split. The window's side (hex/) carries the sink's calls out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "resources/glyphs.h"  // the pane's layout of bytes, which the log follows

// --- Views ---------------------------------------------------------------------

// The views, in the View list's order; hex_view_mode holds one of them.
enum HexView : int32_t {
  HEX_VIEW_HEXADECIMAL = 0,
  HEX_VIEW_ASCII = 1,
  HEX_VIEW_ANSI = 2,
  HEX_VIEW_HDLC = 3,
  HEX_VIEW_PPP = 4,
  HEX_VIEW_ICNI = 5,
};

// Frame types, in the Frame Type list's order.
enum HexFrame : int32_t {
  HEX_FRAME_NONE = 0,
  HEX_FRAME_HDLC = 1,
  HEX_FRAME_PPP = 2,
  HEX_FRAME_ICNI = 3,
};

// Check kinds, in the checksum-kind list's order.
enum HexCheck : int32_t {
  HEX_CHECK_CRC16 = 0,
  HEX_CHECK_CRC32 = 1,
  HEX_CHECK_SUM = 2,
  HEX_CHECK_XOR = 3,
};

// --- Sides, ports, directions -----------------------------------------------------

enum HexSide : int { HEX_SIDE_A = 0, HEX_SIDE_B = 1 };  // index into hex_obj

// Column of the colour tables.
enum HexDirection : int { HEX_RECEIVED = 0, HEX_SENT = 1 };

// Speed code of 9600 bit/s: its index in the Speed list and in the serial
// library's table of rates.
constexpr int32_t HEX_BAUD_9600 = 5;

// --- Sizes --------------------------------------------------------------------

constexpr int HEX_BUF_SIZE = 25344;     // messages, hex text, frames
constexpr int HEX_PORTS = 16;           // COM1 .. COM16
constexpr int HEX_HISTORY_LINES = 10;   // lines of the configuration file
constexpr int HEX_CFG_LINE_MAX = 1024;  // bytes read per configuration line
constexpr const char *HEX_CFG_NAME = "kestrelon.cfg";

// ICNI decoder's length byte while none has been read.
constexpr int32_t HEX_ICNI_NO_LENGTH = 255;

// --- The per-side record ------------------------------------------------------------
// One per side: index 0 Port A, index 1 Port B. Its settings are the side's
// port and line; its parser and decoder fields are the state the byte-fed
// routines keep between chunks.
struct hex_obj_t {
  int32_t port;        // port index 0..15 (0 = COM1)
  int32_t status;      // result of the last serial call made for the side
  int32_t open;        // 1 when the side's port is open
  int32_t baud;        // speed code 0..9 (5 = 9600 bit/s)
  int32_t data_bits;   // 5..8
  int32_t parity;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int32_t stop_bits;   // 0 one, 2 two
  char flow[3];        // "RT", "XO", "NO" or empty until chosen
  int32_t ansi_intro;  // terminal parser
  int32_t ansi_ch1;
  int32_t ansi_ch2;
  int32_t ansi_column;
  int32_t ansi_line;
  int32_t ansi_state;
  int32_t icni_len;  // frame decoders (HEX_ICNI_NO_LENGTH: none read)
  int32_t frame_len;
  uint8_t frame_buf[HEX_BUF_SIZE + 1];
  int32_t hdlc_bits;
  uint8_t hdlc_byte;
  int32_t hdlc_ones;
};

// --- Name tables (the drop-down lists' entries, in list order) -----------------

extern const char hex_portnames[16][6];
extern const char hex_baudcode[10][7];
extern const char hex_data[4][2];
extern const char hex_stop[2][2];
extern const char hex_parity[5][6];
extern const char hex_flow[3][5];
extern const char hex_sum[4][6];
extern const char hex_protocol[4][12];
extern const char hex_view[6][12];
extern const char hex_frame[4][8];

// Flow list text -> SioFlow mode letter: 'H' for "R...", 'S' for "X...", else 'N'.
char hex_flow_mode(const char *flow_text);

// --- Port colours ------------------------------------------------------------------
// [port index][HexDirection]. hex_colour: pane values
// (blue << 16 | green << 8 | red); hex_rgb: log values (red << 16 | green << 8 | blue).
extern const uint32_t hex_colour[HEX_PORTS][2];
extern const uint32_t hex_rgb[HEX_PORTS][2];

// Colour of a port's traffic in a direction (row 0 for a port outside 0..15).
uint32_t hex_port_colour(int port, HexDirection direction);

// --- Hex text -------------------------------------------------------------------------

// Writes " %02X" per byte of the first count (at most 25344) source bytes into
// destination, NUL-terminated; returns the text's length (3 x count). Source
// and destination may be the same buffer; destination holds 3 x count + 1.
int hex_to_hexstr(const void *source, char *destination, int count);

// Reads bytes from hex text: up to two hex digits per byte, anything that is
// not a hex digit is skipped. Stores at most `capacity` bytes; returns how
// many were stored.
int hex_hexstr_to_bin(const char *text, uint8_t *destination, int capacity = HEX_BUF_SIZE);

// --- Configuration file content ------------------------------------------------------

// Reads one line (up to and including its line feed, at most `limit` bytes)
// into buffer, which holds limit + 1 bytes, and ends it with a NUL. Bytes
// stored, or -1 when the end of the file ended the read.
int hex_rd_line(std::FILE *file, char *buffer, int limit);

// Reading keeps the lines of the first ten that count as entries (more than
// two bytes, the last two dropped) and returns how many; writing puts ten
// lines, entry i (at most 1023 characters) or nothing, each followed by CR LF.
int hex_cfg_read(std::FILE *file, char entries[HEX_HISTORY_LINES][HEX_CFG_LINE_MAX]);
void hex_cfg_write(std::FILE *file, const char *const entries[], int count);

// --- Byte-fed routines and their sink -------------------------------------------------

// Where a byte-fed routine puts what it makes of the bytes. The window's side
// shows text in the pane in the port's received colour and writes it to the
// log; a test records the calls. Actions on the pane (the terminal's caret
// moves and erasures) join as members of their own, carried out at once, in
// order with the text.
class HexSink {
public:
  // Text to show as received on `port`, as one piece.
  virtual void show(int port, const char *text, int length) = 0;

protected:
  ~HexSink() = default;
};

// A chunk received on `port`, as the view shows it: the Hexadecimal view its
// hex text, the ASCII view the bytes as they are, and so does the ANSI view
// until it has its terminal. The frame views show only what their decoders
// find, and there are none yet: their bytes are dropped, as are those of a
// view outside 0..5. `buffer` holds the `count` bytes and room for the text
// the view writes back into it (3 x count + 1 for the Hexadecimal view).
void hex_show_received(int32_t view, int port, char *buffer, int count, HexSink &sink);

// --- HTML log ---------------------------------------------------------------------------
// The log file is the header, the records in the order written, and the
// trailer. It is plain ASCII: a browser shows it as the pane showed the
// traffic, in the ports' colours, with nothing the traffic holds read as
// markup.

inline constexpr char HEX_LOG_HEADER[] =
    "<!doctype html public \"-//w3c//dtd html 4.0 transitional//en\"><html>\n"
    "<head>\n"
    "<meta name=\"Written by Kestrelon, a monitor and terminal for two serial ports\" "
    "content=\"Kestrelon Log File\">\n"
    "</head>\n"
    "<body><p>\n";
inline constexpr char HEX_LOG_TRAILER[] = "</p></body>\n</html>\n";

// Where the log's text stands after the records so far: the pane's layout
// (column, a CR whose break a following LF shares) and whether the current
// line shows anything yet. A new log starts from a zero state.
struct HexLogState {
  PaneRenderState layout;
  bool lineShown = false;
};

// Log colour (hex_rgb) of a port's traffic in a direction (row 0 for a port
// outside 0..15).
uint32_t hex_port_rgb(int port, HexDirection direction);

// Where a record goes, in pieces as they are made (the log file; a string).
class HexLogOut {
public:
  virtual void write(const char *bytes, std::size_t count) = 0;

protected:
  ~HexLogOut() = default;
};

// Writes one record: <font color="#RRGGBB">, the `length` bytes of text as
// the pane lays them out, </font>. In the text, '&', '<', '>' and '"' are
// entities and every other byte outside printable ASCII is the numeric
// character reference of the pane's glyph for it. A line break of the pane
// is "<br>" and a line feed; a blank keeps its width (a plain blank only
// between shown characters, &nbsp; wherever a browser would drop or merge
// it). The record is whole however long the text.
void hex_log_record(HexLogOut &out, uint32_t rgb, const char *text, int length,
                    HexLogState &state);
// The same, appended to a string.
void hex_log_record(std::string &out, uint32_t rgb, const char *text, int length,
                    HexLogState &state);
