// The monitor core's window side: the monitor state shared by the core and
// the shell, start-up and exit, the configuration file, the message boxes,
// the port-settings and view handlers, and output into the display pane. The
// parts that need no window and no port are the pure core (hex/core/hexcore.h),
// which this header brings along.
//
// Everything runs on the dialog's thread; nothing here locks.
#pragma once

#include <cstdint>
#include <cstdio>

#include "dlg/dlg.h"
#include "hex/core/hexcore.h"

// --- Sizes --------------------------------------------------------------------

constexpr int HEX_SCREEN_LINES = 25;  // one screen of the pane
constexpr int HEX_PORT_QUEUE = 8192;  // receive and send queues of an open port
constexpr int HEX_MSGBOX_SIZE = 256;  // formatted message-box text, NUL included

// Timer 1, the receive pump.
constexpr unsigned HEX_PUMP_PERIOD_MS = 50;

// --- Monitor state ---------------------------------------------------------------
// All zero at program start; hex_init sets the start values.

extern int32_t hex_view_mode;    // the current view, a HexView
extern int32_t hex_ascii;        // 1: the edited message is sent as text plus CR LF
extern int32_t hex_local_echo;   // 1: sent messages and typed keys are shown too
extern int32_t hex_run;          // 1: received bytes are shown, 0: dropped
extern int32_t hex_send_port;    // port index (0 = COM1) messages and transfers go to
extern int32_t hex_send_file;    // transfer direction: 1 send a file, 0 receive one
extern uint16_t hex_time_stamp;  // ms stamp of displayed traffic, +50 per pump run
extern unsigned hex_timer;       // timer 1 (receive pump) while armed, else 0
extern int32_t hex_log;          // 1 while a log file is open
extern std::FILE *hex_logfile;   // the open log file
extern int32_t hex_escape_code;  // key code the terminal hands to the pane
extern void *hex_rich_edit;      // the pane library handle (unused on Qt)
extern int32_t hex_xmodem_busy;  // 1 while an XMODEM transfer runs
extern int32_t hex_dump_busy;    // 1 while a dump runs

// State of a running transfer.
extern int32_t hex_xsend_port;    // port of the transfer
extern unsigned hex_xtimer;       // timer 2
extern unsigned hex_dtimer;       // timer 3
extern unsigned hex_derr_timer;   // timer 4
extern std::FILE *hex_dump_file;  // the dump's file
extern int32_t hex_dump_cnt;      // bytes moved by the dump so far

// One record per side: index 0 Port A, index 1 Port B.
extern hex_obj_t hex_obj[2];

// The Time view's state: the Time check box, the idle gap that starts a
// line (KESTRELON_TIME_GAP_MS, else 20 ms) and where the lines stand.
extern HexTimeLines hex_time;

// Control ids of a side's Comm Port list, open indicator and Send Port button.
int hex_side_port_list(int side);
int hex_side_indicator(int side);
int hex_side_send_button(int side);

// --- Start-up, exit, configuration file ------------------------------------------------

// Fills every list, opens both ports with the default settings, sets the
// buttons and loads the message history from "kestrelon.cfg" (a regular
// file only: anything else in its place is reported and left alone, as at
// exit).
void hex_init(HWND window);

// The Comm Port entries (0 = COM1) hex_init opens for Port A and Port B:
// COM1 and COM2 unless set before the window is made (the command line).
// The send port starts on Port A's.
extern int32_t hex_start_port[2];

// Saves the history, lowers DTR and RTS, closes both ports and the log,
// stops the receive pump.
void hex_quit(HWND window);

// --- Message boxes ----------------------------------------------------------------------
// No owner, OK button, no icon. Texts longer than the 256-byte box are cut
// so the " = code" part stays whole.

// "text = errno" (errno read first thing), caption "Kestrelon Windows Error".
void hex_err_msg(const char *text);
// While held (calls nest), hex_err_msg shows nothing: settings chosen at
// start-up for a side whose port did not open are kept without a report, as
// its greyed indicator already says why.
void hex_hold_err_msg(bool hold);
// "text = code", caption "Kestrelon Internal Error".
void hex_errcode_msg(const char *text, int code);
// The text alone, caption "Kestrelon".
void hex_dbg_msg(const char *text);

// --- Port settings (selection change of each side's lists) ----------------------------

void hex_speed1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_speed2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_data1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_data2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_stop1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_stop2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_parity1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_parity2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_flow1SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_flow2SelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);

// A number typed into a Speed list (`id`) that names none of its entries:
// a rate in bit/s, applied to the side's port as the serial library does
// (the driver must keep it). Taken, it becomes the list's last entry;
// refused (by the driver, or below 10: those are speed codes), the status
// field says "COM1 refused 12 bit/s" and the list and the port keep the
// last rate. Any other text goes back to the chosen entry.
void hex_speed_typed(HWND window, int id);

// Comm Port choice: closes the side's port, opens the chosen one and applies
// the side's settings; the send port follows when this side is the send side.
void hex_PortASelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
void hex_PortBSelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);

// --- Views, frame type, selection ------------------------------------------------------

void hex_ViewSelChange(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);
// Every notification of the Frame Type list: sets checksum kind and view.
void hex_frameChanged(HWND window);
// 1 when text is selected in the pane, 0 for a caret alone.
int hex_text_selected(HWND window);

// The Time check box: heads lines with the time from now on, or stops.
void hex_timeChanged(HWND window);

// --- Capture: bytes read as they arrive ---------------------------------------------------
// While the receive pump runs, the port each side's Comm Port list names is
// watched, and whatever arrives is read at once into the side's capture ring
// (hexcore.h), stamped with the serial library's clock (SioTimer); the pump
// shows it in the order of arrival across both sides. A side with a run's
// share of bytes waiting is not read until the pump has shown them: its
// port holds the rest (a pseudo-terminal's writer, a line with flow control
// wait; a line without flow control fills the driver's buffer). Only while
// a run cannot end (a message box it opened) is reading never held back: a
// full ring then drops its oldest bytes not shown and counts them.

// A watched port has bytes to read (wParam: its descriptor).
constexpr unsigned HEX_PORT_READY = WM_USER + 1;
constexpr uint32_t HEX_RUN_SHARE = 64 * 1024;  // a side's bytes waiting for one run
constexpr uint32_t HEX_READ_MAX = 16 * 1024;   // bytes one read takes at most

// The pump starts capture when the dialog starts (from nothing read, with
// the Time view's clock face set) and stops it at exit; a transfer holds it
// (nothing is read while hex_xmodem_busy or hex_dump_busy is set, and what
// was read stays for the first run after).
void hex_capture_start(HWND window);
void hex_capture_stop(HWND window);
// Watches what the sides' lists name now (after a port change, each run).
void hex_capture_sync(HWND window);
// HEX_PORT_READY: reads what arrived on the port with that descriptor.
void hex_capture_ready(HWND window, int descriptor);
// A run: reads what waits on each side and returns the place in the order
// of arrival before which the run shows chunks (hex_capture_take); at its
// end held ports are watched again and the line state is shown; between,
// hex_capture_next hands the chunks over.
uint64_t hex_capture_run_begin(HWND window);
void hex_capture_run_end(HWND window);
// The oldest chunk, or its first `max` bytes, read before place `before`:
// 1 with `piece`, 0 when none is left.
int hex_capture_next(uint64_t before, uint8_t *out, int max, HexCapturePiece *piece);
// Bytes read from a side's port since start, bytes waiting to be shown, and
// bytes dropped because the display fell behind (since its port was opened).
uint64_t hex_capture_read_total(int side);
uint32_t hex_capture_waiting(int side);
uint64_t hex_capture_dropped(int side);

// --- Ports that go away and come back ---------------------------------------------------
// A side whose port fails as gone (a hang-up, EIO: an adapter pulled, a
// device powered off, a pseudo-terminal's far end closed) is closed at once
// and marked grey with "device gone"; "COMn (device) disconnected" goes into
// the pane and the log. While it waits, timer 5 looks every 500 ms whether
// its device path is there again (a link such as /dev/serial/by-id/... is
// followed anew each time) and opens it with the side's settings, and
// "COMn (device) reconnected" follows. Another Comm Port chosen for the
// side, or Exit, ends the waiting. A transfer on a port that goes away ends
// with its failure text; its port then waits and comes back as any other,
// and the transfer is not started again.

constexpr unsigned HEX_RECONNECT_PERIOD_MS = 500;

// Timer 5: each waiting side whose device is there is opened again.
void hex_reconnect_tick(HWND window);
// 1 while the side waits for its device.
int hex_reconnect_waiting(int side);
// A line event the pump took from capture (a port gone or back), shown as
// hex_show_port_event shows it, with the device its port names.
void hex_show_capture_event(const HexCapturePiece &piece, HexSink &sink);

// --- Display output --------------------------------------------------------------------------

// Shows `length` bytes of text received on port `port` in its received
// colour and hands them to the receive log. ANSI view: at the caret (the
// terminal's cursor), paged by screens; other views: appended at the end,
// leaving the user's selection alone. Nothing happens for length < 1.
void hex_display_msg(HWND dialog, int port, const char *text, int length);

// The window's sink for the byte-fed routines: text received on a port goes
// to hex_display_msg (into the pane and the log); the terminal's actions are
// carried out on the pane by the screen routines below. A gathering sink
// (the pump's) joins the texts of one port that follow one another and
// shows them as one piece when another port's text or a terminal action
// comes, at flush() and at its end: the pane lays out and the log writes
// once per piece, not once per frame or line. One gathers at a time.
class HexWindowSink final : public HexSink {
public:
  explicit HexWindowSink(HWND window, bool gather = false) : window_(window), gather_(gather) {}
  ~HexWindowSink() { flush(); }
  HexWindowSink(const HexWindowSink &) = delete;
  HexWindowSink &operator=(const HexWindowSink &) = delete;
  void show(int port, const char *text, int length) override;
  void flush();
  void ansi_key(int key) override;
  void ansi_home() override;
  void ansi_line_end() override;
  void ansi_clear_to_end() override;
  void ansi_clear_to_line_end() override;
  void ansi_clear_line() override;
  void ansi_clear_all() override;
  void ansi_goto(int line, int column) override;

private:
  HWND window_;
  bool gather_;
};

// Pane positioning shared with the terminal.
int hex_caretline(HWND dialog);     // line of the selection's start
void hex_ansi_scroll(HWND dialog);  // show the caret's screen of 25 lines
void hex_caret_end(HWND dialog);    // caret to the end of the text

// --- The ANSI terminal's screen -----------------------------------------------------------------
// In the ANSI view the pane is a terminal screen of HEX_SCREEN_LINES lines
// (the block of 25 lines holding the caret) and columns 0 to 80.

constexpr int HEX_SCREEN_LAST_COLUMN = 80;  // a column above it is taken as it

// Has the pane act on a navigation key as if it were typed: the key goes to
// hex_escape_code and the pane gets the marker key, which its key filter
// replaces by it. Nothing is sent on a port.
void hex_screen_backdoor(HWND dialog, int virtualKey);
void hex_ansi_go_home(HWND dialog);     // caret to the start of the pane's whole text
void hex_ansi_go_end(HWND dialog);      // caret to the end of its line
void hex_ansi_go_clr_eos(HWND dialog);  // erase from the selection's start to the end
void hex_ansi_go_clr_eol(HWND dialog);  // erase from the selection's start to its line's end
void hex_ansi_clr_line(HWND dialog);    // erase the caret's line; its break stays
// Caret to a line of the caret's screen (0 = its first; beyond the last, 24,
// the last) and to a column of the caret's line (0 = the first; above 80,
// 80). A line the text does not reach yet is made with line feeds at its
// end, a column beyond the line's end with blanks; the screen is shown.
void hex_goto_line(HWND dialog, int line);
void hex_goto_column(HWND dialog, int column);
void hex_goto_line_column(HWND dialog, int line, int column);

// --- The pane as a keyboard ----------------------------------------------------------------------
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

// --- Sending ------------------------------------------------------------------------------------

// The Send command: the edited message to hex_send_port; what went out is
// echoed (when local echo is on) and logged. A failed write shows nothing.
// While the send side's own port is not open nothing is written, echoed or
// logged, and the status field says so; so too for a message in the hex
// form that holds anything but hex digits and blanks, the status field
// naming the character and its column. What the line does not take at once
// goes out with the receive pump's runs, the status field showing how far;
// Send is refused until all of it has gone.
void hex_send_msg(HWND dialog);

// The send side: the side whose Send Port button is on.
int hex_send_side(HWND window);
// 1 when the send side's own port is open, so what is sent can go out.
int hex_send_side_open(HWND window);

// --- Checks and frames ------------------------------------------------------------------------

// CheckSum: the chosen check kind over the edited message's bytes, shown in a
// message box ("No check kind selected" when the kind list has no choice).
// CheckSum and Add Frame read the message as Send reads its hex form: text
// that is not hex is refused with the same status and nothing else.
void hex_checksum(HWND dialog);

// Add Frame: the edited message wrapped in a frame of the chosen type with
// the chosen kind's check bytes, written back into the message field as hex
// text and recorded in its history. Type None (or no type chosen), and ICNI
// without a check kind, keep the field's text. A frame whose text would not
// fit the field (25343 characters) is refused with "Frame too long".
void hex_frameit(HWND dialog);

// The message history's rule: the text joins the list unless an entry holds
// it already (letter case ignored); with more than ten entries the tenth goes,
// so the first nine and the newest remain.
void hex_history_add(HWND window, const char *text);

// --- The HTML log --------------------------------------------------------------------------
// While a log is open (hex_log 1, hex_logfile open), every text the pane is
// given as received and every text sent goes into it as one record in its
// port's colour (the file's format: hex/core/hexcore.h). Records are flushed
// at the end of every receive-pump run and after every sent record, so a
// crash loses at most one pump run's traffic. The first write that fails
// shows "Log File write error", closes the file with what was written and
// selects "No Log".

// Longest path of a chosen file, with its NUL (the system's PATH_MAX).
constexpr int HEX_PATH_SIZE = 4096;

// "Log": closes an open log with its trailer, then asks for a file ("htm").
// An existing file is replaced or appended to only as the user answers
// hex_ask_existing. The chosen path shows in the status field 170 and the
// file is emptied (or written on at its end) or created with mode 0600 and
// gets the header. A cancelled dialog or question shows nothing; a file
// that does not open, or is not a regular file (hex_open_user_file), shows
// "Log File open error" with the path and the reason; either way "No Log"
// stays selected.
void hex_log_open(HWND window);
// Logging into `path` as if "Log" were chosen and that file picked (the
// command line's log), without a question: an existing file is replaced,
// or written on at its end with `append`.
void hex_log_open_file(HWND window, const char *path, bool append = false);
// "No Log", exit, and the start of every file transfer (transfers are never
// logged): an open log gets its trailer and is closed; in every case the
// status field 170 is emptied, "No Log" selected and hex_log set to 0.
void hex_log_close(HWND window);
// One record of `length` bytes of text in the port's received colour: the
// very text hex_display_msg put into the pane. Nothing while no log is open.
void hex_save_rx_log(int port, const char *text, int length);
// One record in the port's sent colour (messages sent, keys typed in the
// terminal), flushed at once. Nothing while no log is open.
void hex_save_tx_log(int port, const char *text, int length);
// Hands what the records wrote to the file: the receive pump calls it at the
// end of every run.
void hex_log_flush();

// What to do with a file the user chose to write that exists already.
enum HexExisting { HEX_EXISTING_REPLACE, HEX_EXISTING_APPEND, HEX_EXISTING_CANCEL };
// Asks whether to replace `path` (and, with offer_append, append to it);
// answers HEX_EXISTING_REPLACE at once when nothing exists there, or when
// what is there is no regular file (opening it is refused with the reason).
HexExisting hex_ask_existing(HWND window, const char *path, bool offer_append);

// A file the user named was not opened: "text: path: why" in a message box
// (caption "Kestrelon Windows Error"), the path's bytes as they are.
void hex_file_refused(const char *text, const char *path, const char *why);

// The file-choice dialog of the log and of file transfers: `title` over it,
// any file chosen or typed (it need not exist; an existing one is not
// questioned), `default_extension` ("htm", "bin") added to a name typed
// without one. Returns non-zero with the chosen path in `path` (`size`
// bytes, HEX_PATH_SIZE for any path), or 0 with `path` empty when the user
// cancelled.
int hex_file_dlg(const char *default_extension, const char *title, char *path, int size);

// --- Bytes on their way out ---------------------------------------------------------------
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

// The receive pump's part in sending: more of a message still going out is
// written, and the status field shows how far it got ("Sending... n of m
// bytes ") until it is all out.
void hex_send_drain(HWND window);

// Refuses what would go out on the send port while the send side's own port
// is not open: the status field says so, and the result is 1.
int hex_send_port_refused(HWND window);

// --- File transfers -------------------------------------------------------------------------
// The File Transfer group: a file sent or received on the send port by
// XMODEM (through the driver, serxydrv/serxydrv.h) or as a raw Dump, with
// progress and the outcome in the status field 172 and the file's path in
// 170. While a transfer runs the receive pump stands still, Send and typed
// keys are refused, and Start, the Send Port buttons and the transfer side's
// Comm Port list are disabled; every step works on the port saved at Start.

// Timer 2 comes back after 10 ms, not 50: XMODEM waits for every reply, and
// at 115200 bit/s a 1K packet takes 89 ms, so a 50 ms wait per reply would
// cost a tenth of the line's speed.
constexpr unsigned HEX_XMODEM_STEP_MS = 10;
constexpr unsigned HEX_DUMP_STEP_MS = 50;           // timer 3
constexpr unsigned HEX_DUMP_IDLE_MS = 15000;        // timer 4: a dump that moved nothing ends
constexpr uint32_t HEX_TRANSFER_RUN_MS = 30;        // driver calls in one run of timer 2
constexpr int HEX_DUMP_SEND_STEP = HEX_PORT_QUEUE;  // the port's queue, kept bytes included
constexpr int HEX_DUMP_RECEIVE_STEP = HEX_BUF_SIZE;

// Start (command 157). Refused while a transfer runs, while a message is
// still going out and while the send side's port is not open (also when its
// device went while the file dialog was up). Asks for the file ("bin"); a
// cancelled dialog starts nothing and changes nothing. Receiving into an
// existing file asks first (hex_ask_existing); the bytes go into a new file
// beside it, which takes the chosen name only when the transfer succeeds
// (an XMODEM transfer completed; a dump that received anything, however it
// ended but by a failure) and is removed otherwise, so the old file stays as
// it was. A file that cannot be opened, or is not a regular file
// (hex_open_user_file), shows "Dump file open error" or "File open error"
// with its path and the reason. Otherwise the log is closed, the path shown,
// the pump stopped, and XMODEM begins on the port reopened with the side's
// settings, or the dump begins on the port as it is.
void hex_file_transfer(HWND dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

// Abort (command 168), timer 4 and the common end of every transfer: the
// driver is released, the dump file closed, the port reopened with the
// side's settings after XMODEM (a dump leaves its port open as it was) and
// the pump started again. Abort drops what the port still holds of the
// transfer; it shows "X-Modem Aborted " during an XMODEM transfer and "Dump
// Completed " otherwise (with no transfer running it touches no port).
// Timer 4 (message WM_TIMER, wParam TIMER_DUMP_IDLE) ends a dump only once
// it has moved no byte for HEX_DUMP_IDLE_MS on the serial library's clock.
void hex_file_abort(HWND dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

// Timer 2: xyDriver again and again while it makes progress, for at most
// HEX_TRANSFER_RUN_MS; "Packets = n " (with the share done when the size is
// known, "Packets = 40 (31%) "), and at the end "X-Modem Completed " or
// "X-Modem Failed: " with the driver's error text.
void hex_periodic_transfer(HWND dialog);

// Timer 3: one step of a dump. Sending: the port's queue is topped up to
// HEX_DUMP_SEND_STEP bytes from the file; the dump ends once the last byte
// has left the port's queue. Receiving: up to HEX_DUMP_RECEIVE_STEP bytes
// go from the port into the file. "Bytes = n " while bytes move.
void hex_periodic_dump(HWND dialog);

// Exit during a transfer: the transfer stops where it is, the driver is
// released and the file closed (a partial XMODEM file removed, what a dump
// received kept); the port is left to be closed.
void hex_transfer_stop(HWND dialog);
