// One-shot (and repeating) timers over the dialog's periodic ones.
#include "hex/hex_timer.h"

#include "hex/hex_msgbox.h"

namespace {

constexpr unsigned kTimers = 64;  // ids 1..63
bool g_armed[kTimers];
bool g_repeats[kTimers];

bool known(unsigned id) { return id > 0 && id < kTimers; }

}  // namespace

bool hex_timer_arm(HWND window, unsigned id, unsigned ms) {
  const bool armed = known(id) && dlg_set_timer(window, id, ms) != 0;
  if (known(id)) {
    g_armed[id] = armed;
    g_repeats[id] = false;
  }
  if (!armed)
    hex_err_msg("Timer is broken");
  return armed;
}

void hex_timer_cancel(HWND window, unsigned id) {
  if (!known(id))
    return;
  dlg_kill_timer(window, id);
  g_armed[id] = false;
  g_repeats[id] = false;
}

bool hex_timer_repeat(HWND window, unsigned id, unsigned ms) {
  const bool armed = hex_timer_arm(window, id, ms);
  if (armed)
    g_repeats[id] = true;
  return armed;
}

bool hex_timer_armed(unsigned id) { return known(id) && g_armed[id]; }

void hex_timer_expired(HWND window, unsigned id) {
  if (!known(id) || g_repeats[id])
    return;
  dlg_kill_timer(window, id);
  g_armed[id] = false;
}
