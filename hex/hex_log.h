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
// The chosen path shows in the status field 170 and the file is emptied or
// created and starts with the header. A cancelled dialog shows nothing; a
// file that does not open shows "Log File open error"; either way "No Log"
// stays selected.
void hex_log_open(HWND window);
// Logging into `path` as if "Log" were chosen and that file picked (the
// command line's log).
void hex_log_open_file(HWND window, const char *path);
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

// The file-choice dialog of the log and of file transfers: `title` over it,
// any file chosen or typed (it need not exist; an existing one is not
// questioned), `default_extension` ("htm", "bin") added to a name typed
// without one. Returns non-zero with the chosen path in `path` (`size`
// bytes, HEX_PATH_SIZE for any path), or 0 with `path` empty when the user
// cancelled.
int hex_file_dlg(const char *default_extension, const char *title, char *path, int size);
