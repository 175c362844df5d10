// Automation on the window's side: the twelve macro buttons (and F1..F12),
// periodic sends, receive triggers that answer by themselves, the rules
// file and its editor. The rules' form and the matcher are the pure core's
// (hexcore.h, "Automation"); this room keeps the rules in force, each
// trigger's firings and the sends waiting for their time, and sends through
// the Send path (hex_send_bytes), so what goes out is echoed and logged as
// any sent bytes.
//
// A trigger that fires is a line of its own in the pane and the log, "COM1
// trigger 'ping' answered", behind the received bytes that made it fire.
// A rule held by the loop guard (more than HEX_TRIGGER_RATE_MAX firings in
// a second, as two ports wired together make) says so once, in the pane,
// the log and the status field, and fires again once its rate is down.
// Nothing here waits: delayed replies and periodic macros run from timer 6.
#pragma once

#include "dlg/dlg.h"
#include "hex/core/hexcore.h"
#include "hex/hex_display.h"

#include <string>

// The rules file: --macros FILE, else HEX_AUTO_NAME in the working
// directory, next to kestrelon.cfg. Set before the window is made.
void hex_auto_set_path(const char *path);
const char *hex_auto_path();

// Start-up: reads the rules file (a missing default file is no rules; any
// other failure is a message box naming the file and the line) and shows
// the macros on their buttons.
void hex_auto_start(HWND window);
// Exit: periodic sends stop, replies waiting are dropped, the editor goes.
void hex_auto_stop(HWND window);
// The rules in force from now on (the editor's Save): triggers start
// afresh, periodic sends stop.
void hex_auto_apply(HWND window, const HexAutoRules &rules);
const HexAutoRules &hex_auto_rules();

// A macro's button or F key (0..11): a macro without every= is sent once;
// one with every= starts sending every N ms, or stops.
void hex_auto_macro(HWND window, int macro);
// 1 while the macro is sent periodically.
int hex_auto_running(int macro);

// Timer 6: periodic macros and delayed replies whose time has come.
void hex_auto_tick(HWND window);

// The pump, for each chunk of a side under Run, before the chunk is shown
// (the view may write into its buffer): the side's triggers look at the
// bytes. After the chunk is shown, hex_auto_answer says what fired and
// sends the replies due at once, behind the text gathered in `sink`.
void hex_auto_scan(int side, int port, uint32_t ms, const uint8_t *bytes, int count);
void hex_auto_answer(HWND window, HexWindowSink &sink);

// The editor (the Macros... button): a modeless dialog on the rules as
// lines of the file, each checked as it is added or changed; Save writes
// the file and puts the rules in force. The editor's window while it is
// open, else nullptr.
void hex_auto_edit(HWND window);
HWND hex_auto_editor();
// The editor goes, its changes not saved dropped (exit).
void hex_auto_editor_destroy();
// The editor's dialog procedure.
int hex_auto_editor_proc(HWND editor, unsigned message, uintptr_t wParam, intptr_t lParam);
