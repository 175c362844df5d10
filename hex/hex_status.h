// The status field (172): what the rooms say about what they did. Its text
// is kept here, so a message is taken back without reading the field.
#pragma once

#include "dlg/dlg.h"

// Shows `text`; the field is set only when its text changes (timer 2 runs
// every 10 ms).
void hex_status_show(HWND window, const char *text);
// A message taken back: the field shows `replacement` while it still shows
// `text`, and is left alone when something else has been said since.
void hex_status_take_back(HWND window, const char *text, const char *replacement = "");
