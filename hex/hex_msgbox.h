// The message boxes through which the monitor reports to the user.
#pragma once

#include "hex/hex_state.h"

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
