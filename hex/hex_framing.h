// CheckSum, Add Frame and the message history.
#pragma once

#include "hex/hex_state.h"

// CheckSum: the chosen check kind over the edited message's bytes, shown in a
// message box ("No check kind selected" when the kind list has no choice).
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
