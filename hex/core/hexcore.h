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
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

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
  HEX_VIEW_TERMINAL = 6,  // each side's screen as a terminal shows it
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
  HEX_CHECK_NONE = -1,  // no choice in the list
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
// The longest history entry: what the message field holds.
constexpr int HEX_CFG_ENTRY_MAX = HEX_BUF_SIZE - 1;
constexpr const char *HEX_CFG_NAME = "kestrelon.cfg";

// ICNI decoder's length byte while none has been read.
constexpr int32_t HEX_ICNI_NO_LENGTH = 255;

struct HexScreen;  // a side's terminal screen (the Terminal view), see below
// Where a side's trigger scan stands between chunks (HexMatcher below).
struct HexMatchState {
  uint32_t generation;  // the matcher's build the state belongs to
  int32_t state;
};

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
  int32_t hdlc_opened;  // HDLC: 1 when the frame under way began with a flag
  // The check kind each decoded frame is verified against (the Check Kind
  // list's choice), and the side's frames found good and bad.
  int32_t frame_check = HEX_CHECK_NONE;
  uint64_t frames_good;
  uint64_t frames_bad;
  HexScreen *screen;  // the Terminal view's screen, made when first needed (hex_screen_of)
  HexMatchState trigger_match;  // the side's receive triggers
};

// The record's parser and decoder fields as at start, its settings kept: a
// frame or sequence one device left unfinished is never finished by bytes
// of another device, or of the same device after it went. The Terminal
// view's screen keeps what it shows, as a terminal does when its line changes.
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
extern const char hex_view[7][12];
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

// The value of a hex digit of either case, or -1.
int hex_digit_value(char c);

// Reads bytes from hex text: up to two hex digits per byte, anything that is
// not a hex digit is skipped. Stores at most `capacity` bytes; returns how
// many were stored.
int hex_hexstr_to_bin(const char *text, uint8_t *destination, int capacity = HEX_BUF_SIZE);

// A message typed in the hex form holds hex digits and blanks (space, tab)
// only: anything else would be skipped and the digits hidden in words sent.
// Returns the index of the first other character, with `why` saying which
// at which column ("'H' at column 1 is not a hex digit", a byte that does
// not print as 0x07), or -1 with `why` empty.
int hex_hex_form_check(const char *text, char *why, int size);

// --- Files the user names -------------------------------------------------------------

// How hex_open_user_file opens: to read; to write from empty (an existing
// file is emptied, a missing one created); to write at the end; to write a
// file that must not exist yet (fails when the path exists).
enum class HexOpen { Read, Replace, Append, New };

// Opens a file the user named (the log, the configuration file, a
// transferred file): never follows a symbolic link, never blocks (the
// descriptor is made blocking once open), only a regular file (checked on
// the descriptor opened, and before the open so that no device is opened),
// a new file created with mode 0600 (serial traffic carries passwords).
// Returns the descriptor (close-on-exec), or -1 with `why` set to the reason
// for a message ("is a FIFO", "is a symbolic link", "is a directory", "is a
// terminal device", "is a device", or the system's text) and errno kept.
int hex_open_user_file(const char *path, HexOpen how, std::string *why);

// A new file beside `path` to receive into, renamed into its place once the
// whole file is there: ".name.part" (".name.1.part" and on while those
// exist), opened as HexOpen::New. Its path goes to `part`; -1 and `why` as
// hex_open_user_file.
int hex_open_part_file(const char *path, std::string *part, std::string *why);

// Whether two paths name one file: the same file where both exist, else the
// same place once links in their folders are followed. Empty names none.
bool hex_same_file(const char *a, const char *b);

// --- Configuration file content ------------------------------------------------------

// Reading keeps the entries of the first ten lines: a line ends at LF, a CR
// before it is no part of the entry, the last line may lack its LF; an empty
// line holds no entry, nor does a line longer than the message field
// (HEX_CFG_ENTRY_MAX). Writing puts ten lines, entry i or nothing, each
// followed by CR LF.
std::vector<std::string> hex_cfg_read(std::FILE *file);
void hex_cfg_write(std::FILE *file, const char *const entries[], int count);

// --- Byte-fed routines and their sink -------------------------------------------------

struct HexVerdict;  // a frame's check (below)

// Where a byte-fed routine puts what it makes of the bytes. The window's side
// shows text in the pane in the port's received colour and writes it to the
// log; a test records the calls. Actions on the pane (the terminal's caret
// moves and erasures) join as members of their own, carried out at once, in
// order with the text.
class HexSink {
public:
  // Text to show as received on `port`, as one piece.
  virtual void show(int port, const char *text, int length) = 0;

  // Text that must stand out (a frame's failed check), in a colour of its
  // own; a sink without colours shows it as any text.
  virtual void show_alert(int port, const char *text, int length) { show(port, text, length); }

  // A frame a decoder has just shown as a line: its bytes behind the opening
  // flag or sync byte (all of them for bytes that came before any), and its
  // verdict. For sinks that take frames further (the capture file).
  virtual void frame(int /*port*/, const uint8_t * /*bytes*/, int /*count*/,
                     const HexVerdict & /*verdict*/) {}

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

  // The Terminal view (hex_screen_receive). Cells of `screen` changed: rows
  // row .. row + rows - 1, columns column .. column + columns - 1.
  virtual void screen_changed(HexScreen & /*screen*/, int /*row*/, int /*column*/, int /*rows*/,
                              int /*columns*/) {}
  // Its cursor moved, or was hidden or shown.
  virtual void screen_cursor(HexScreen & /*screen*/) {}
  // What the far end asked the terminal for (a device status or cursor
  // position report), to be written back out on `port`.
  virtual void screen_answer(int /*port*/, const char * /*bytes*/, int /*length*/) {}
  // Received text that goes into the log as the ASCII view shows it, while
  // the screen, not the pane, shows it.
  virtual void record(int /*port*/, const char * /*text*/, int /*length*/) {}

protected:
  ~HexSink() = default;
};

// A chunk received on `port`, the port of the side whose record is
// `record`, as the view shows it: the Hexadecimal view its hex text, the
// ASCII view the bytes as they are, the ANSI view what its terminal makes of
// them (hex_parse_ansi), the Terminal view the side's screen
// (hex_screen_receive). The frame views hand the chunk to their decoder and
// head each frame with `stamp`. Every parser and decoder keeps its state in
// `record`, so the two directions of a link never mix. A view outside 0..6
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
// before the face was set). Differences of the 32-bit clock hold only 24.8
// days either way: the face is moved along to the clock as it runs.
uint32_t hex_time_of_day(const HexClockFace &face, uint32_t ms);

// The face set to clock time `ms`, the time of day carried over: moved so
// at every run of the pump, the times it shows are never far from it, and
// the time of day stays right however long the program runs.
void hex_clock_face_move(HexClockFace &face, uint32_t ms);

// With Ports on (and Time off) text starts a new line whenever it follows
// text of another port or direction, headed by the port alone: "\nRx1 "
// (sent text "Tx1 "), in the port's colour, so the ports are told apart
// without their colours. The Terminal view shows no lines; the frame views'
// lines name their port already.

// Where the Time view's lines stand.
struct HexTimeLines {
  int32_t on = 0;                    // the Time check box
  int32_t names = 0;                 // the Ports check box
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

// Whether text starts lines of its own with a head: Time or Ports is on.
inline bool hex_lines_headed(const HexTimeLines &lines) { return lines.on || lines.names; }

// A new line for text of `port` in `direction` whose first byte came at
// `ms`: its head in `out` (with Time off the port's: "\nRx1 "), and the
// lines now stand behind it. Returns the head's length.
int hex_time_line(HexTimeLines &lines, int port, HexDirection direction, uint32_t ms, char *out);

// Text of `port` in `direction` read (or sent) at `ms`: the head of the new
// line it starts (see above; with Time off only another source starts
// one), or nothing (0) when it goes on the current line.
int hex_time_chunk(HexTimeLines &lines, int port, HexDirection direction, uint32_t ms, char *out);

// A chunk for the current view as hex_show_received shows it, read at
// `ms`; with Time or Ports on, headed by the line it starts, and with Time
// on in the frame views each frame's line headed by the time (`ms`, when its
// closing flag came).
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
// A modem line's change is such a line too, without the device:
// "\n12:00:01.234 COM1 CTS on" (hex_line_event).
enum HexPortEvent : int32_t {
  HEX_PORT_NO_EVENT = 0,
  HEX_PORT_GONE = 1,
  HEX_PORT_BACK = 2,
  HEX_PORT_LINE = 16,  // HEX_PORT_LINE + line * 2 + 1 when it went on
};
void hex_show_port_event(HexTimeLines &lines, int port, const char *device, HexPortEvent event,
                         uint32_t ms, HexSink &sink);

// --- Modem lines ---------------------------------------------------------------------
// The inputs a side reads, the outputs the user drives, and the break the
// user sends, each one bit (1 << line) of a lines word.
enum HexLine : int32_t {
  HEX_LINE_CTS,
  HEX_LINE_DSR,
  HEX_LINE_DCD,
  HEX_LINE_RI,
  HEX_LINE_DTR,
  HEX_LINE_RTS,
  HEX_LINE_BREAK,
  HEX_LINES
};
extern const char hex_line_names[HEX_LINES][6];  // "CTS" ... "RTS", "break"

constexpr HexPortEvent hex_line_event(int line, bool on) {
  return HexPortEvent(HEX_PORT_LINE + line * 2 + (on ? 1 : 0));
}
// The line of a line event, or -1 for another event; `*on` its new level.
int hex_line_of_event(int32_t event, bool *on);

// What a side knows of its lines: whether the device reports them, their
// levels when it did last, and the changes seen of each since the port
// opened (a device that reports again after a gap counts what differs).
struct HexLineState {
  bool known = false;
  bool ever_known = false;
  uint32_t bits = 0;
  uint32_t changes[HEX_LINES] = {};
};

// A reading of the lines (`known`: the device reported them) among `mask`:
// the events of the lines that changed since the last reading, in HexLine
// order, into `events` (HEX_LINES at most), each counted. The first reading
// is the lines as found, not a change. Returns the events' number.
int hex_lines_read(HexLineState &state, bool known, uint32_t bits, uint32_t mask,
                   HexPortEvent *events);
// A change the user made (DTR, RTS, break): counted, and its event.
HexPortEvent hex_lines_made(HexLineState &state, int line, bool on);

// --- Capture: bytes kept from their arrival until the pump shows them ------------------
// The capture thread reads each side's port into the side's ring, each read
// recorded as a chunk with the time it was read and its place in the order
// of arrival across both sides; the window's pump takes the chunks of both
// sides merged in that order. One thread writes (room, commit, breaks,
// event), one thread reads (published, take, clear); pending may be asked
// by either. Nothing is ever dropped: a full ring has no room, and its
// writer stops reading that port until the reader has taken some. The
// rings' memory is reserved at once and taken from the system as they
// first fill.

constexpr uint32_t HEX_CAPTURE_BYTES = 1u << 24;   // per side: seconds of a 12 Mbit/s line
constexpr uint32_t HEX_CAPTURE_CHUNKS = 1u << 18;  // per side: reads and line events

struct HexCaptureChunk {
  uint64_t seq;     // place in the order of arrival
  uint64_t at;      // the first byte's place in the side's stream
  uint32_t ms;      // clock when it was read
  int32_t port;
  uint32_t length;  // bytes; 0 for a line event
  uint32_t breaks;  // breaks counted when it was read (line events only)
  int32_t event;    // HexPortEvent (line events only)
};

struct HexCaptureSide {
  std::unique_ptr<uint8_t[]> bytes;
  std::unique_ptr<HexCaptureChunk[]> chunks;
  uint32_t byte_size = 0, chunk_size = 0;  // powers of two
  std::atomic<uint64_t> bytes_in{0};       // written by the writer
  std::atomic<uint64_t> chunks_in{0};
  std::atomic<uint64_t> bytes_out{0};  // taken by the reader
  std::atomic<uint64_t> chunks_out{0};
  uint32_t chunk_taken = 0;  // the reader's: bytes of the oldest chunk already taken
};

struct HexCapture {
  // Ring sizes per side, powers of two (tests make small ones).
  explicit HexCapture(uint32_t bytes = HEX_CAPTURE_BYTES, uint32_t chunks = HEX_CAPTURE_CHUNKS);
  HexCaptureSide sides[2];
  uint64_t next_seq = 0;              // the writer's: the place the next chunk gets
  std::atomic<uint64_t> published{0};  // every chunk before this place can be taken
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

// Writer: where the next read of `side` goes, `*room` contiguous bytes; 0
// when the ring is full (or has no place for one more chunk and an event).
uint8_t *hex_capture_room(HexCapture &capture, int side, uint32_t *room);

// Writer: the `count` bytes just read into the room of `side` from `port`
// at `ms` become its newest chunk.
void hex_capture_commit(HexCapture &capture, int side, int port, uint32_t ms, uint32_t count);

// Writer: `breaks` breaks counted on `port` at `ms`, or the port went away
// or came back (HexPortEvent): a chunk of its own in its place among the
// bytes. False when no place is left for it (the writer keeps it for later).
bool hex_capture_breaks(HexCapture &capture, int side, int port, uint32_t ms, uint32_t breaks);
bool hex_capture_event(HexCapture &capture, int side, int port, uint32_t ms, HexPortEvent event);

// Either thread: bytes of `side` not taken yet.
uint32_t hex_capture_pending(const HexCapture &capture, int side);

// Reader: the place before which every chunk written so far lies.
uint64_t hex_capture_published(const HexCapture &capture);

// Reader: takes the oldest chunk of either side that arrived before place
// `before` (the pump passes hex_capture_published as it was when its run
// began), or its next `max` bytes, copied to `out` (nothing copied when
// `out` is null) and gone from the ring. 1 with `piece` filled in; 0 when
// nothing that old waits.
int hex_capture_take(HexCapture &capture, uint64_t before, uint8_t *out, int max,
                     HexCapturePiece *piece);
// Reader: the side whose chunk hex_capture_take would take next; -1 none.
int hex_capture_oldest_side(HexCapture &capture, uint64_t before);

// Reader: lets go of everything `side` holds (Stop, a new start).
void hex_capture_clear(HexCapture &capture, int side);

// Which port each side's capture reads: the window's thread decides, the
// capture thread reads. The thread reads a side only inside `read_side`,
// under that side's lock, so when `set` returns the old port is no longer
// read (the window waits at most for one read that never blocks) and may be
// closed, handed to a transfer or opened again. Line events the window's
// thread sees wait here until the thread puts them behind the bytes read
// before them.
class HexCaptureHandOver {
public:
  struct Port {
    int port = -1;  // -1 none
    int fd = -1;    // the descriptor the thread waits on
    // Which set() gave it: the same port and descriptor given again (closed
    // and opened again, a device back) are new to the thread.
    uint64_t given = 0;
    bool operator==(const Port &) const = default;
  };
  struct Event {
    int port;
    uint32_t ms;
    HexPortEvent event;
  };
  // Window: `side` is read from `port` from now on (port -1: not at all).
  // Returns the hand-over's generation, for wait_settled.
  uint64_t set(int side, Port port);
  // Window: waits (at most `limit_ms`) until the thread waits on the ports
  // of `generation` and on no older descriptor: a descriptor it still
  // polled would keep a closed device open, and busy for a new open.
  bool wait_settled(uint64_t generation, int limit_ms);
  // Thread: the generation of the ports get() gives now, and that it waits
  // on nothing older.
  uint64_t generation() const;
  void settled(uint64_t generation);
  // Window: an event of `side`'s port, for the thread to write.
  void post(int side, const Event &event);
  // Thread: the ports to wait on now.
  Port get(int side) const;
  // Thread: runs `read(port, events)` under the side's lock when the side
  // still reads `expected`, with the events posted since the last call.
  template <class Read> bool read_side(int side, const Port &expected, Read &&read) {
    std::lock_guard<std::mutex> lock(sides_[side].mutex);
    if (!(sides_[side].port == expected))
      return false;
    read(sides_[side].events);
    return true;
  }

private:
  struct Side {
    mutable std::mutex mutex;
    Port port;
    uint64_t given = 0;
    std::vector<Event> events;  // the thread erases those it wrote
  };
  Side sides_[2];
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t generation_ = 0, settled_ = 0;
};

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

// A frame's check against a check kind. The content is a frame's bytes
// behind its opening flag or sync byte, the check bytes at its end.
enum HexVerdictKind : int32_t {
  HEX_VERDICT_NONE = 0,   // nothing verified
  HEX_VERDICT_OK = 1,     // the check is right
  HEX_VERDICT_BAD = 2,    // the check is wrong; `expected` is the right one
  HEX_VERDICT_SHORT = 3,  // fewer bytes than the check needs
};

struct HexVerdict {
  int32_t kind = HEX_VERDICT_NONE;   // HexVerdictKind
  int32_t check = HEX_CHECK_NONE;    // the HexCheck kind verified
  int32_t check_length = 0;          // check bytes at the content's end
  uint8_t expected[HEX_CHECK_MAX] = {};
};

// The check bytes `check` puts behind a frame in a frame view: CRC-16 and
// CRC-32 in HDLC and PPP, every kind in ICNI; 0 where the view cannot apply
// it (or no kind is chosen), and then nothing is verified.
int hex_frame_check_length(int32_t view, int32_t check);

// Verifies `length` content bytes against `check_length` bytes of `check`
// (hex_check_bytes over the bytes before them, as the frame builder puts
// them); NONE for a check_length of 0.
HexVerdict hex_verify(int32_t check, int check_length, const uint8_t *content, int length);

// The verdict as a line ends with it: " ok", " BAD, check should be 49 2C",
// " too short for CRC-16"; nothing for NONE. Returns its length (at most
// HEX_VERDICT_TEXT_MAX - 1), NUL-terminated in `out`.
constexpr int HEX_VERDICT_TEXT_MAX = 48;
int hex_verdict_text(const HexVerdict &verdict, char *out);

// Frame decoders: byte-fed routines over a side's record. Each frame found
// goes into the sink as one line, "\nRx<COM number> <stamp, 5 columns> "
// and the frame's bytes as hex text, shown as received on `port`, then its
// verdict against record.frame_check (hex_verify; a bad or short frame's
// through show_alert), counted in record.frames_good or frames_bad, then
// handed to sink.frame(). Bytes that came before any opening flag or sync
// byte are shown as a line with no verdict.
// HDLC: a line holds the opening flag 7E and the bits between two flags with
// inserted zeros removed, as bytes (a trailing part of a byte is dropped);
// seven ones in a row abort the frame and nothing is collected until a flag.
// PPP: a line holds the opening flag and the bytes up to the next flag,
// unescaped; a 7D right before the flag stays 7D. A line needs at least two
// bytes; frames are cut to HEX_BUF_SIZE bytes. ICNI: EE starts a frame, its
// third byte L counts the bytes behind the length byte: L + 3 and the check
// bytes of the chosen kind (one without a choice). No byte is lost: a frame
// that the next EE cuts short is shown (too short for its check), and bytes
// behind a frame, up to the next EE, are a line of their own (cut into lines
// of HEX_BUF_SIZE bytes).
void hex_parse_hdlc(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                    HexSink &sink);
void hex_parse_ppp(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                   HexSink &sink);
void hex_parse_icni(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                    HexSink &sink);

// The decoders start afresh (another view was chosen): what one view's
// decoder left unfinished is not read as the start of another's frame.
void hex_frames_reset(hex_obj_t &record);

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

// --- Capture file for Wireshark (pcapng) ---------------------------------------------
// The session as pcapng blocks: a section header, one interface per port and
// link type (named after the port and its device, times in nanoseconds),
// and a packet per frame or per read. Blocks are made whole in memory; the
// window's side writes them out, so a file only ever ends behind a block.

constexpr uint16_t HEX_PCAP_LINK_PPP = 204;     // PPP_WITH_DIR: a direction byte, then the frame
constexpr uint16_t HEX_PCAP_LINK_SERIAL = 250;  // RTAC serial: a 12-byte header, then the bytes

// Event types of the RTAC serial header.
enum HexPcapEvent : uint8_t {
  HEX_PCAP_RX_START = 0x02,   // received bytes follow
  HEX_PCAP_DATA_LOST = 0x05,  // bytes the display dropped
  HEX_PCAP_FRAMING = 0x07,
  HEX_PCAP_PARITY = 0x08,
  HEX_PCAP_BREAK = 0x09,
  HEX_PCAP_OVERFLOW = 0x0A,  // the driver's or the UART's buffer overran
};

// Control line bits of the RTAC serial header.
enum HexPcapLine : uint8_t {
  HEX_PCAP_CTS = 0x01,
  HEX_PCAP_DCD = 0x02,
  HEX_PCAP_DSR = 0x04,
  HEX_PCAP_RTS = 0x08,
  HEX_PCAP_DTR = 0x10,
  HEX_PCAP_RING = 0x20,
};

constexpr uint32_t HEX_PCAP_CRC_ERROR = 1u << 24;  // the packet flags' CRC-error bit

class HexPcapWriter {
public:
  // Starts with the section header, naming `application`.
  explicit HexPcapWriter(const char *application);

  // A frame of the PPP view received on `port` of `side` at `ns` (since
  // 1970): its bytes without flags, unescaped, check kept, behind the
  // direction byte (0 Port A, 1 Port B). A frame whose check failed or was
  // too short carries the CRC-error flag and its verdict as a comment.
  void ppp(int side, int port, const char *device, uint64_t ns, const uint8_t *bytes, int count,
           const HexVerdict &verdict);

  // Bytes received on `port` (or an event with none) behind an RTAC serial
  // header: the time, `event` (HexPcapEvent), `lines` (HexPcapLine bits).
  void serial(int port, const char *device, uint64_t ns, uint8_t event, uint8_t lines,
              const uint8_t *bytes, int count);

  // The whole blocks made since they were last taken; the caller empties it.
  std::string &blocks() { return out_; }

private:
  uint32_t interface(int port, const char *device, uint16_t link);
  void packet(uint32_t interface, uint64_t ns, const uint8_t *head, int head_length,
              const uint8_t *bytes, int count, uint32_t flags, const char *comment);

  std::string out_;
  int32_t interfaces_[HEX_PORTS][2];  // [port][0 PPP, 1 serial]: its number, -1 none yet
  uint32_t described_ = 0;
};

// --- The Terminal view's screens --------------------------------------------------------
// Each side has a screen of its own, a VT100/xterm terminal emulated by
// libvterm: text overwrites at the cursor, and cursor addressing, erasures,
// insert and delete of lines and characters, scroll regions, the alternate
// screen, colours and attributes, line wrap and the far end's status
// requests behave as on a terminal. Received bytes are UTF-8. The screen is
// a byte-fed routine like the others: what it leaves unfinished (a sequence,
// a character's bytes) waits in it for the next chunk.

constexpr int HEX_SCREEN_ROWS = 24;  // a screen's size unless the pane gives one
constexpr int HEX_SCREEN_COLUMNS = 80;
constexpr int HEX_SCREEN_MIN = 2;          // the fewest rows or columns a screen has
constexpr int HEX_SCREEN_MAX = 500;        // the most
constexpr int HEX_SCREEN_CELL_CHARS = 6;   // a character and its combining marks
constexpr int HEX_SCREEN_KEY_MAX = 64;     // bytes one key makes at most

enum HexScreenAttribute : uint8_t {
  HEX_CELL_BOLD = 1,
  HEX_CELL_UNDERLINE = 2,
  HEX_CELL_ITALIC = 4,
  HEX_CELL_BLINK = 8,
  HEX_CELL_STRIKE = 16,
  HEX_CELL_REVERSE = 32,  // already applied to the colours
};

// What one cell shows. The colours are 0xRRGGBB, reverse video applied; a
// wide character's right half is a cell of width 0.
struct HexScreenCell {
  uint32_t chars[HEX_SCREEN_CELL_CHARS];  // code points, 0 behind the last; none: blank
  int32_t width;
  uint32_t foreground;
  uint32_t background;
  uint8_t attributes;  // HexScreenAttribute bits
};

// A side's screen, made at its first use (80 x 24); hex_screen_release
// frees it. Both leave the rest of the record alone.
HexScreen &hex_screen_of(hex_obj_t &record);
void hex_screen_release(hex_obj_t &record);

// `count` bytes received on `port` for the side whose record is `record`:
// fed to its screen; the changed cells, the cursor and the answers the far
// end asked for go into the sink, and the bytes as they came to its log
// record (sink.record).
void hex_screen_receive(hex_obj_t &record, int port, const char *bytes, int count, HexSink &sink);

// Size (rows and columns, clamped to HEX_SCREEN_MIN .. HEX_SCREEN_MAX): the
// text is kept from the top left; the whole screen counts as changed.
void hex_screen_resize(HexScreen &screen, int rows, int columns, HexSink &sink);
void hex_screen_size(const HexScreen &screen, int *rows, int *columns);
// Back to a new terminal's state: empty, cursor home, modes and colours reset.
void hex_screen_reset(HexScreen &screen, HexSink &sink);

// A cell (a blank outside the screen), and the cursor.
void hex_screen_cell(const HexScreen &screen, int row, int column, HexScreenCell *cell);
void hex_screen_cursor(const HexScreen &screen, int *row, int *column, bool *visible);

// The keyboard: keys by their virtual-key codes (HexScreenKey) and modifier
// bits (HexScreenModifier) as the terminal encodes them for its modes (an
// application's cursor keys, for instance), into `out` (HEX_SCREEN_KEY_MAX
// bytes). Returns the bytes made; 0 for a key it has no bytes for.
enum HexScreenKey : int {
  HEX_SCREEN_KEY_BACK = 8,
  HEX_SCREEN_KEY_TAB = 9,
  HEX_SCREEN_KEY_RETURN = 13,
  HEX_SCREEN_KEY_ESCAPE = 27,
  HEX_SCREEN_KEY_PAGE_UP = 33,
  HEX_SCREEN_KEY_PAGE_DOWN = 34,
  HEX_SCREEN_KEY_END = 35,
  HEX_SCREEN_KEY_HOME = 36,
  HEX_SCREEN_KEY_LEFT = 37,
  HEX_SCREEN_KEY_UP = 38,
  HEX_SCREEN_KEY_RIGHT = 39,
  HEX_SCREEN_KEY_DOWN = 40,
  HEX_SCREEN_KEY_INSERT = 45,
  HEX_SCREEN_KEY_DELETE = 46,
  HEX_SCREEN_KEY_F1 = 112,  // F1 .. F12 follow on
  HEX_SCREEN_KEY_F12 = 123,
};
enum HexScreenModifier : int { HEX_MOD_SHIFT = 1, HEX_MOD_ALT = 2, HEX_MOD_CTRL = 4 };
int hex_screen_key(HexScreen &screen, int key, int modifiers, char *out);
// A typed character (a Unicode code point) with its modifiers: Ctrl+A is
// 01, Alt+x is ESC x.
int hex_screen_char(HexScreen &screen, uint32_t character, int modifiers, char *out);
// Pasted text (UTF-8) as the terminal sends it: line breaks as CR, and
// bracketed when the far end asked for that.
std::string hex_screen_paste(HexScreen &screen, const char *text, int length);

// --- Automation: macros and receive triggers ------------------------------------------
// Up to twelve named messages (macros), sent by a button or F1..F12, each
// once or every N ms; and per side, rules that answer received bytes by
// themselves. Both live in a plain text file, one rule a line:
//
//   # a comment
//   macro 1 name="Ping" text="PING\r\n" to=B every=1000
//   macro 2 name="Status" hex="01 02" frame=PPP check=CRC16
//   trigger A name="ping" text="PING" reply=2 after=10
//   trigger B name="req" regex="\x02.[0-9]+\x03" reply-text="\x06" once off
//   trigger A name="fwd" hex="7E 01" reply-hex="7E 81" to=B
//
// Text values take the escapes \r \n \t \0 \\ \" and \xHH; a regular
// expression keeps its backslashes for its own escapes (see
// HexMatcher::add_regex). A macro goes to=A, B or send (the send side, the
// default); frame= is HDLC, PPP or ICNI with check= CRC16, CRC32, SUM or XOR,
// as Add Frame builds it. A trigger answers on its own side with a macro
// (reply=N) or bytes of its own (reply-text=, reply-hex=), after= ms later;
// `once` fires it only the first time, `off` keeps it but disabled.

constexpr int HEX_MACROS = 12;
constexpr int HEX_AUTO_BYTES_MAX = 1024;    // bytes of a message, a reply or a pattern
constexpr int HEX_TRIGGERS_MAX = 256;       // rules of a file
constexpr int HEX_AUTO_LINE_MAX = 8192;     // characters of a line of the file
constexpr uint32_t HEX_AUTO_MS_MAX = 3'600'000;  // every= and after=: an hour at most
constexpr uint32_t HEX_AUTO_EVERY_MIN_MS = 10;   // every= other than 0
constexpr int HEX_TRIGGER_RATE_MAX = 100;   // firings of a rule in any second
constexpr const char *HEX_AUTO_NAME = "kestrelon.macros";  // next to kestrelon.cfg

enum HexAutoTarget : int { HEX_AUTO_TO_SEND = -1 };  // or a HexSide
enum class HexPattern : int { Text, Hex, Regex };

struct HexMacro {
  bool defined = false;
  std::string name;
  bool hex = false;      // written as hex= (else text=)
  std::string bytes;     // the message, escapes decoded, before any frame
  int target = HEX_AUTO_TO_SEND;
  int32_t frame = HEX_FRAME_NONE;
  int32_t check = HEX_CHECK_CRC16;
  uint32_t every_ms = 0;  // 0: sent once per press
  bool operator==(const HexMacro &) const = default;
};

struct HexTrigger {
  int side = HEX_SIDE_A;
  std::string name;
  HexPattern kind = HexPattern::Text;
  std::string pattern;   // Text and Hex: the bytes; Regex: the expression as written
  int reply_macro = -1;  // 0..11, or -1: the bytes below
  bool reply_hex = false;
  std::string reply;
  int to = -1;           // the side the reply goes out on; -1: the trigger's own
  uint32_t after_ms = 0;
  bool once = false;
  bool enabled = true;
  bool operator==(const HexTrigger &) const = default;
};

struct HexAutoRules {
  HexMacro macros[HEX_MACROS];
  std::vector<HexTrigger> triggers;
  bool operator==(const HexAutoRules &) const = default;
};

// Reads a whole file's text into `rules` (emptied first). False with `why`
// naming the first wrong line and what is wrong with it ("line 4: unknown
// word 'macr'"); `rules` then holds nothing.
bool hex_auto_parse(std::string_view text, HexAutoRules &rules, std::string *why);
// One line into `rules`: a macro replaces the one of its number, a trigger
// joins the list; blank lines and comments change nothing. False with `why`
// (without a line number) when the line is wrong; `rules` is unchanged then.
bool hex_auto_parse_line(std::string_view line, HexAutoRules &rules, std::string *why);
// The file's text for the rules, which hex_auto_parse reads back as they are.
std::string hex_auto_format(const HexAutoRules &rules);
std::string hex_auto_format_macro(const HexMacro &macro, int number);
std::string hex_auto_format_trigger(const HexTrigger &trigger);
// The rules file read whole (hex_open_user_file, at most 1 MiB) or written
// whole. False with `why` starting with the path: "rules.txt: line 4: ...",
// "rules.txt: is a directory"; errno stays as the failed call left it (a
// missing file: ENOENT).
bool hex_auto_read(const char *path, HexAutoRules &rules, std::string *why);
bool hex_auto_write(const char *path, const HexAutoRules &rules, std::string *why);
// The bytes a macro puts on the line: its message, framed as Add Frame does
// (a frame the builder refuses leaves the message as it is).
std::string hex_macro_wire(const HexMacro &macro);

// The matcher: the patterns of one side's enabled triggers, found in the
// bytes received on that side however they are split into chunks. Every
// place where a pattern's match ends is reported, so matches may overlap
// ("aa" is found twice in "aaa"). A regular expression is over bytes: a
// byte stands for itself; `.` is any byte; [...] a class of bytes with
// ranges, [^...] its complement; \xHH, \r, \n, \t, \0, \d, \s, \w and a
// backslashed punctuation character; ( ), |, *, +, ? and {m}, {m,}, {m,n}.
// Compiled patterns become one automaton whose states are made as bytes
// need them, so a side scans in one table step a byte however many rules it
// has.

class HexMatchSink {
public:
  // Pattern `pattern` (the order of adding, from 0) has a match ending at
  // byte `end` of the chunk (0: its first byte).
  virtual void matched(int pattern, int end) = 0;

protected:
  ~HexMatchSink() = default;
};

class HexMatcher {
public:
  HexMatcher();
  ~HexMatcher();
  HexMatcher(const HexMatcher &) = delete;
  HexMatcher &operator=(const HexMatcher &) = delete;

  // Drops every pattern; states of earlier builds start afresh.
  void clear();
  // A pattern of bytes, or a regular expression; its number, or -1 with
  // `why` (an empty pattern, one that matches no bytes, a fault in the
  // expression, a pattern too large).
  int add_bytes(std::string_view bytes, std::string *why);
  int add_regex(std::string_view expression, std::string *why);
  int patterns() const;

  // Feeds a chunk, carrying on from `state`.
  void scan(HexMatchState &state, const uint8_t *bytes, int count, HexMatchSink &sink);

private:
  struct Impl;
  Impl *impl_;
};

// Checks an expression alone (the rules file and the editor): true, or
// false with `why`.
bool hex_regex_check(std::string_view expression, std::string *why);

// The loop guard of one rule: at most HEX_TRIGGER_RATE_MAX firings in any
// 1000 ms. hex_fire_allow is true when a firing at `ms` keeps to that, and
// counts it. `held` is set by the first firing refused and stays until one
// is allowed a second or more after the last refused, so the window says
// once that a rule is held for as long as it keeps being held.
struct HexFireGuard {
  uint32_t times[HEX_TRIGGER_RATE_MAX] = {};
  int count = 0;  // firings kept, up to HEX_TRIGGER_RATE_MAX
  int next = 0;   // where the next goes (the oldest once full)
  bool held = false;
  uint32_t refused_ms = 0;  // the last firing refused
};
bool hex_fire_allow(HexFireGuard &guard, uint32_t ms);

// A line of its own in the port's colour with the time of day: "\n12:34:56.789
// COM1 <what>"; the text after it starts a line of its own, headed again
// with Time on (port events, triggers).
void hex_show_event_line(HexTimeLines &lines, int port, const char *what, uint32_t ms,
                         HexSink &sink);

// --- Comm Port entries ------------------------------------------------------------

// What a Comm Port entry's device is, as the lists show it.
enum class HexDeviceState { Present, Absent, Remote };
struct HexDeviceFacts {
  std::string path;  // the device the entry maps to
  std::string node;  // where a link leads ("" when path is no link)
  HexDeviceState state = HexDeviceState::Absent;
  std::string identity;  // the adapter as udev knows it; "" when unknown
};

// A network device of the serial library: rfc2217://HOST:PORT, tcp://HOST:PORT.
bool hex_is_remote_device(std::string_view path);

// The adapter's vendor, model and serial number ("FTDI FT232R USB UART
// A10K3B7Q") from udev's properties of its device: KEY=VALUE lines as
// `udevadm info -q property` gives them, or the "E:KEY=VALUE" lines of udev's
// database (other lines are skipped). Control characters a device may carry
// in its strings become '?'. "" when udev names none of them.
std::string hex_udev_identity(std::string_view properties);

// The entry as the open list shows it: "COM5 /dev/ttyUSB0 FTDI FT232R
// A10K3B7Q", "COM6 /dev/serial/by-id/usb-X-port0 (ttyUSB1) ...",
// "COM7 /dev/ttyUSB2 (absent)", "COM9 tcp://host:4001 (remote)".
std::string hex_port_entry_text(int port, const HexDeviceFacts &facts);
