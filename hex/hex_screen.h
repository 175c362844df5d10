// The Terminal view on the window: each side's screen (the pure core's,
// hexcore.h) shown in the pane's place, keys typed into it sent to the send
// side's port as the screen's keyboard encodes them, and what the far end
// asks the screen for written back to that side's port.
#pragma once

#include "dlg/dlg.h"

// Shows the screens instead of the pane (the Terminal view) or the pane
// again. While they are shown the Time view is off: its check box is
// cleared and greyed.
void hex_screens_show(HWND window, bool on);
// Each screen's heading (its side and port) and the focus mark (on the send
// side's screen), as they stand now.
void hex_screens_update(HWND window);
// Clear: both screens as a new terminal's.
void hex_screens_reset(HWND window);
// The screens' notifications (EN_SCREEN_KEY, EN_SCREEN_PASTE, EN_SCREEN_SIZE).
// A key goes out as hex_send_key_bytes sends keys; a paste too.
void hex_screens_notify(HWND window, const DlgNotify &notify);
// Exit: the screens are let go.
void hex_screens_release();
// What a gathering sink (HexWindowSink) kept of the screens' changes, into
// the pane: each side's changed area once. The sink's flush calls it.
void hex_screens_flush(HWND window);
