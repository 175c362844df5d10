// The window's timers as one-shots: a timer armed comes once (the dialog
// procedure hands every WM_TIMER to hex_timer_expired first), is armed again
// by its handler when it wants another turn, and can be cancelled at any
// time; a poll's timer may repeat instead. A timer that cannot be armed says
// "Timer is broken", here alone.
#pragma once

#include "dlg/dlg.h"

// Arms (or re-arms) timer `id` to come after `ms`. False when it could not
// be armed.
bool hex_timer_arm(HWND window, unsigned id, unsigned ms);
// Arms timer `id` to come every `ms` until cancelled: a poll that costs no
// arming at each turn.
bool hex_timer_repeat(HWND window, unsigned id, unsigned ms);
void hex_timer_cancel(HWND window, unsigned id);
bool hex_timer_armed(unsigned id);
// Timer `id` came: it comes no more until armed again.
void hex_timer_expired(HWND window, unsigned id);
