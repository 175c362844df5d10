// The HTML log.
#pragma once

#include "hex/hex_state.h"

// 1 while a log file is open (this room sets it).
extern int32_t hex_log;

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
// "No Log" and exit: an open log gets its trailer and is closed; in every
// case the status field 170 is emptied, "No Log" selected and hex_log set
// to 0. A file transfer leaves the log open: the other side goes on being
// logged, and the transfer's own bytes never reach the log. While one runs,
// field 170 keeps the transferred file's path.
void hex_log_close(HWND window);
// The open log's path; empty while none is open.
const char *hex_log_path();
// One record of `length` bytes of text in the port's received colour: the
// very text hex_display_msg put into the pane. Nothing while no log is open.
void hex_save_rx_log(int port, const char *text, int length);
// One record in the port's sent colour (messages sent, keys typed in the
// terminal), flushed at once. Nothing while no log is open.
void hex_save_tx_log(int port, const char *text, int length);
// One record of received text that stands out, in HEX_ALERT_RGB.
void hex_save_alert_log(const char *text, int length);
// Hands what the records wrote to the file: the receive pump calls it at the
// end of every run.
void hex_log_flush();

// What to do with a file the user chose to write that exists already.
enum HexExisting { HEX_EXISTING_REPLACE, HEX_EXISTING_APPEND, HEX_EXISTING_CANCEL };
// Asks whether to replace `path` (and, with offer_append, append to it);
// answers HEX_EXISTING_REPLACE at once when nothing exists there, or when
// what is there is no regular file (opening it is refused with the reason).
HexExisting hex_ask_existing(HWND window, const char *path, bool offer_append);

// The file-choice dialog of the log and of file transfers: `title` over it,
// any file chosen or typed (it need not exist; an existing one is not
// questioned), `default_extension` ("htm", "bin") added to a name typed
// without one. Returns non-zero with the chosen path in `path` (`size`
// bytes, HEX_PATH_SIZE for any path), or 0 with `path` empty when the user
// cancelled.
int hex_file_dlg(const char *default_extension, const char *title, char *path, int size);
