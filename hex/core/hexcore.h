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

#include <array>
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
  int32_t hdlc_bits;  // HDLC: bits in hdlc_byte, 0..7
  uint8_t hdlc_byte;  // HDLC: the byte being assembled, first bit lowest
  int32_t hdlc_ones;  // HDLC: one bits held back, 0..7 (7: an abort)
  int32_t hdlc_zero;  // HDLC: 1 while a zero bit is held back: it may open a flag
  int32_t hdlc_hunt;  // HDLC: 1 after an abort: nothing is collected until a flag
};

// The record's parser and decoder fields as at start, its settings kept: a
// frame or sequence one device left unfinished is never finished by bytes
// of another device, or of the same device after it went.
void hex_restart_decoders(hex_obj_t &record);

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

  // The head of a decoded frame's line, written into `out` (room for
  // HEX_HEAD_MAX bytes); returns its length. "\nRx<COM number> <stamp, 5
  // columns> ", unless the sink heads lines with the time (the Time view).
  virtual int frame_head(int port, uint16_t stamp, char *out);

  // The terminal's actions on the pane (the ANSI view), each carried out
  // before whatever comes after it. A sink that only shows text ignores them.
  // The pane acts on a navigation key (HexAnsiKey) as if it were typed, and
  // the screen holding the caret is shown.
  virtual void ansi_key(int /*key*/) {}
  virtual void ansi_home() {}               // caret to the start of the text
  virtual void ansi_line_end() {}           // caret to the end of its line
  virtual void ansi_clear_to_end() {}       // erase from the caret to the end of the text
  virtual void ansi_clear_to_line_end() {}  // erase from the caret to the end of its line
  virtual void ansi_clear_line() {}         // erase the caret's line; its break stays
  virtual void ansi_clear_all() {}          // empty the pane
  // Caret to a line (0 = the first of the caret's screen) and a column (0 =
  // the first), each as received: 00 to 99.
  virtual void ansi_goto(int /*line*/, int /*column*/) {}

protected:
  ~HexSink() = default;
};

// A chunk received on `port`, the port of the side whose record is
// `record`, as the view shows it: the Hexadecimal view its hex text, the
// ASCII view the bytes as they are, the ANSI view what its terminal makes of
// them (hex_parse_ansi). The frame views hand the chunk to their decoder and
// head each frame with `stamp`. Every parser and decoder keeps its state in
// `record`, so the two directions of a link never mix. A view outside 0..5
// drops the bytes. `buffer` holds the `count` bytes and room for the text
// the view writes back into it (3 x count + 1 for the Hexadecimal view).
void hex_show_received(int32_t view, hex_obj_t &record, int port, uint16_t stamp, char *buffer,
                       int count, HexSink &sink);

// --- The Time view ----------------------------------------------------------------------
// With Time on, text starts a new line whenever it follows text of another
// port or direction, or an idle time longer than the gap: the line starts
// with the time of day of its first byte, the milliseconds since the
// previous line began and the port, "\n12:34:56.789 +52 Rx1 " (sent text
// "Tx1"). A decoded frame's line starts so with the time its closing flag
// was read. Times are the one clock's milliseconds (32 bits, wrapping); only
// their differences count.

constexpr uint32_t HEX_TIME_GAP_MS = 20;       // idle time that starts a line, unless set
constexpr uint32_t HEX_DAY_MS = 86'400'000;    // milliseconds of a day
constexpr int HEX_HEAD_MAX = 48;               // the longest head of a line, with its NUL

// The clock's milliseconds as the time of day: the clock read `clock_ms`
// when it was `day_ms` milliseconds past midnight.
struct HexClockFace {
  uint32_t clock_ms = 0;
  uint32_t day_ms = 0;
};

// Milliseconds past midnight at clock time `ms` (which may be a little
// before the face was set).
uint32_t hex_time_of_day(const HexClockFace &face, uint32_t ms);

// Where the Time view's lines stand.
struct HexTimeLines {
  int32_t on = 0;                    // the Time check box
  uint32_t gap_ms = HEX_TIME_GAP_MS;
  HexClockFace face;
  int32_t lines = 0;                 // lines headed so far (the first has +0)
  int32_t last_port = -1;            // port of the last text; -1: a line must start
  int32_t last_direction = HEX_RECEIVED;
  uint32_t last_ms = 0;              // when the last text was read or sent
  uint32_t line_ms = 0;              // when the current line's first byte was
};

// The head "\nhh:mm:ss.mmm +<delta> Rx<port + 1> " (or "Tx"), NUL-terminated
// in `out` (HEX_HEAD_MAX bytes); returns its length.
int hex_time_head(char *out, uint32_t day_ms, uint32_t delta_ms, int port, HexDirection direction);

// A new line for text of `port` in `direction` whose first byte came at
// `ms`: its head in `out`, and the lines now stand behind it. Returns the
// head's length.
int hex_time_line(HexTimeLines &lines, int port, HexDirection direction, uint32_t ms, char *out);

// Text of `port` in `direction` read (or sent) at `ms`: the head of the new
// line it starts (see above), or nothing (0) when it goes on the current
// line.
int hex_time_chunk(HexTimeLines &lines, int port, HexDirection direction, uint32_t ms, char *out);

// A chunk for the current view as hex_show_received shows it, read at
// `ms`; with Time on, headed by the line it starts, and in the frame views
// each frame's line headed by the time (`ms`, when its closing flag came).
void hex_show_chunk(int32_t view, hex_obj_t &record, int port, uint16_t stamp, HexTimeLines &lines,
                    uint32_t ms, char *buffer, int count, HexSink &sink);

// Breaks received on `port` (counted by its driver when the clock read
// `ms`) as a line of their own in the port's colour, never as bytes:
// "\nRx2 <BREAK>", or "<BREAK x3>" for three; with Time on the line is headed
// by the time and the text after it starts a line of its own.
void hex_show_breaks(HexTimeLines &lines, int port, uint32_t ms, uint32_t breaks, HexSink &sink);

// A side's port that went away (its device unplugged, its far end closed) or
// was opened again, as a line of its own in the port's colour with the time
// of day through the lines' clock face: "\n12:34:56.789 COM1 (/dev/ttyUSB0)
// disconnected", "... reconnected". The text after it starts a line of its
// own, headed again with Time on.
enum HexPortEvent : int32_t { HEX_PORT_NO_EVENT = 0, HEX_PORT_GONE = 1, HEX_PORT_BACK = 2 };
void hex_show_port_event(HexTimeLines &lines, int port, const char *device, HexPortEvent event,
                         uint32_t ms, HexSink &sink);

// --- Capture: bytes kept from their arrival until the pump shows them ------------------
// Each side's bytes are read as they arrive into the side's ring, each read
// recorded as a chunk with the time it was read and its place in the order
// of arrival across both sides. The pump takes the chunks of both sides
// merged in that order. Memory is fixed: when a side's ring is full, its
// oldest bytes that were not shown yet make room and are counted as dropped.

constexpr uint32_t HEX_CAPTURE_BYTES = 1u << 20;   // per side
constexpr uint32_t HEX_CAPTURE_CHUNKS = 1u << 14;  // per side: reads and line events

struct HexCaptureChunk {
  uint64_t seq;     // place in the order of arrival
  uint32_t ms;      // clock when it was read
  int32_t port;
  uint32_t length;  // bytes; 0 for a line event
  uint32_t breaks;  // breaks counted when it was read (line events only)
  int32_t event;    // the port went or came back (HexPortEvent; line events only)
};

struct HexCaptureSide {
  uint8_t bytes[HEX_CAPTURE_BYTES];
  uint32_t byte_head;  // ring: the oldest byte not shown
  uint32_t byte_count;
  HexCaptureChunk chunks[HEX_CAPTURE_CHUNKS];
  uint32_t chunk_head;  // ring: the oldest chunk not shown
  uint32_t chunk_count;
  uint64_t dropped;  // bytes dropped to make room, since start
};

struct HexCapture {
  HexCaptureSide sides[2];
  uint64_t next_seq;  // the place the next chunk gets
};

// What the pump takes: a chunk, or its next `count` bytes.
struct HexCapturePiece {
  int side;
  int port;
  uint32_t ms;
  uint32_t breaks;
  int count;
  int32_t event;  // HexPortEvent
};

// Where the next read of `side` goes: `*room` contiguous bytes, at least one
// when `want` > 0. A ring with less than `want` (at most half the ring) free
// first drops its oldest bytes to make that much room.
uint8_t *hex_capture_room(HexCapture &capture, int side, uint32_t want, uint32_t *room);

// The `count` bytes just read into the room of `side` from `port` at `ms`
// become its newest chunk; a read that follows the side's last chunk
// directly (nothing arrived between), from the same port within the same
// millisecond, joins it.
void hex_capture_commit(HexCapture &capture, int side, int port, uint32_t ms, uint32_t count);

// `breaks` breaks counted on `port` at `ms`, a chunk of its own.
void hex_capture_breaks(HexCapture &capture, int side, int port, uint32_t ms, uint32_t breaks);

// The port of `side` went away or came back at `ms` (HexPortEvent), a
// chunk of its own, in its place among the bytes read before and after.
void hex_capture_event(HexCapture &capture, int side, int port, uint32_t ms, HexPortEvent event);

// Bytes of `side` not shown yet.
uint32_t hex_capture_pending(const HexCapture &capture, int side);

// Takes the oldest chunk of either side that arrived before place `before`
// (the pump passes next_seq as it was when its run began), or its first
// `max` bytes, copied to `out` and gone from the ring. 1 with `piece`
// filled in; 0 when nothing that old waits.
int hex_capture_take(HexCapture &capture, uint64_t before, uint8_t *out, int max,
                     HexCapturePiece *piece);

// Drops whatever `side` holds, without counting it (Stop).
void hex_capture_clear(HexCapture &capture, int side);

// --- Checks ---------------------------------------------------------------------------

// CRC-16 of X.25 (polynomial 8408 reflected, start FFFF), bit by bit, without
// the final inversion: 6F91 for "123456789", F0B8 over a message followed by
// its check bytes, 0000 for no bytes.
uint16_t crc16(const uint8_t *data, int32_t length);

// The reflected CRC-32 table of polynomial EDB88320 (IEEE 802.3).
extern const std::array<uint32_t, 256> hex_crc_32_tab;

// CRC-32 of IEEE 802.3 from hex_crc_32_tab, without the final inversion:
// 340BC6D9 for "123456789", DEBB20E3 over a message followed by its check
// bytes, 00000000 for no bytes.
uint32_t hex_crc32(const uint8_t *data, int32_t length);

// 8-bit arithmetic sum and exclusive-or of the bytes (0 for none).
uint8_t hex_sum8(const uint8_t *data, int32_t length);
uint8_t hex_xor8(const uint8_t *data, int32_t length);

constexpr int HEX_CHECK_MAX = 4;  // check bytes of the longest kind (CRC32)

// The check bytes a HexCheck kind adds behind a message: a CRC's complement,
// least significant byte first, or the 8-bit sum. Returns how many were
// written to `check`; 0 for a kind outside 0..3.
int hex_check_bytes(int32_t kind, const uint8_t *message, int32_t length,
                    uint8_t check[HEX_CHECK_MAX]);

// CheckSum's report of a kind over a message, such as
// "CRC 16 (ITU) = 6F91, != 906E"; "No check kind selected" for a kind outside
// 0..3. Returns the text's length.
int hex_checksum_text(int32_t kind, const uint8_t *message, int32_t length, char *text, int size);

// --- Frames -----------------------------------------------------------------------------

// The longest frame the builder makes of a message of at most HEX_BUF_SIZE
// bytes: PPP escaping every byte and every check byte, between two flags.
constexpr int HEX_FRAME_MAX = 2 * (HEX_BUF_SIZE + HEX_CHECK_MAX) + 2;

// Wraps `length` (0..HEX_BUF_SIZE) message bytes with the check bytes of
// `kind` into a frame of HexFrame `type`, written to `frame` (room for
// HEX_FRAME_MAX bytes). HDLC: 7E, then the message and check bits with a zero
// after every five ones, the closing flag and one bits up to a byte boundary.
// PPP: 7E, message and check bytes with 7D, 7E and bytes below 20 escaped as
// 7D and the byte xor 20, 7E. ICNI: EE, the message with its second byte set
// to the number of bytes behind it (modulo 256), the check bytes of that.
// Returns the frame's length; 0 when nothing is built: type None or unknown,
// or ICNI without a check kind.
int hex_build_frame(int32_t type, int32_t kind, const uint8_t *message, int length, uint8_t *frame);

// Frame decoders: byte-fed routines over a side's record. Each frame found
// goes into the sink as one line, "\nRx<COM number> <stamp, 5 columns> "
// and the frame's bytes as hex text, shown as received on `port`.
// HDLC: a line holds the opening flag 7E and the bits between two flags with
// inserted zeros removed, as bytes (a trailing part of a byte is dropped);
// seven ones in a row abort the frame and nothing is collected until a flag.
// PPP: a line holds the opening flag and the bytes up to the next flag,
// unescaped; a 7D right before the flag stays 7D. ICNI: EE restarts a frame,
// its third byte L gives its length, L + 4 bytes. A line needs at least two
// bytes; frames are cut to HEX_BUF_SIZE bytes.
void hex_parse_hdlc(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                    HexSink &sink);
void hex_parse_ppp(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                   HexSink &sink);
void hex_parse_icni(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                    HexSink &sink);

// --- The ANSI terminal ------------------------------------------------------------

// Navigation keys the terminal has the pane act on, by their virtual-key codes.
enum HexAnsiKey : int {
  HEX_ANSI_KEY_PAGE_UP = 33,
  HEX_ANSI_KEY_PAGE_DOWN = 34,
  HEX_ANSI_KEY_LEFT = 37,
  HEX_ANSI_KEY_UP = 38,
  HEX_ANSI_KEY_RIGHT = 39,
  HEX_ANSI_KEY_DOWN = 40,
};

// States of the terminal's parser (hex_obj_t::ansi_state), by what the next
// byte is taken as.
enum HexAnsiState : int32_t {
  HEX_ANSI_TEXT = 0,           // text; ESC starts a sequence
  HEX_ANSI_INTRODUCER = 2,     // the byte after ESC
  HEX_ANSI_FIRST = 3,          // the final character or a line's first digit
  HEX_ANSI_SECOND_DIGIT = 5,   // a line's second digit, or an erase's final
  HEX_ANSI_SEPARATOR = 6,      // ';' between line and column
  HEX_ANSI_COLUMN_FIRST = 7,   // the column's first digit
  HEX_ANSI_COLUMN_SECOND = 8,  // the column's second digit
  HEX_ANSI_TRAILER = 9,        // dropped up to and including a letter
};

// The ANSI view's terminal. Interprets `count` received bytes of `port` with
// the parser state kept in `record` (an unfinished sequence waits there for
// the next chunk) and puts into the sink, in the order the bytes came, the
// text to show (printable bytes 0x20 to 0x7F, LF and TAB; CR, other controls
// and bytes 0x80 to 0xFF are dropped) and the actions of the escape
// sequences; a received BS acts as ESC [ D. So the same bytes give the same
// calls however they are split into chunks. The text is gathered in
// `destination`, which may be the source itself and holds count + 1 bytes;
// it ends with a NUL. Returns the number of text bytes shown.
int hex_parse_ansi(hex_obj_t &record, int port, const char *source, char *destination, int count,
                   HexSink &sink);

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
void hex_log_record(HexLogOut &out, uint32_t rgb, const char *text, int length, HexLogState &state);
// The same, appended to a string.
void hex_log_record(std::string &out, uint32_t rgb, const char *text, int length,
                    HexLogState &state);
