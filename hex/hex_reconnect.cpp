// Ports whose device went away: closed at once, and opened again with the
// side's settings as soon as their device path is there again.
#include "hex/hex_internal.h"

#include "resources/ids.h"
#include "ser/ser.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr const char *kDeviceGone = "device gone";

bool g_waiting[2] = {false, false};
bool g_timer_armed = false;

// Timer 5 runs while a side waits, and only then.
void arm_while_waiting(HWND window) {
  const bool waiting = g_waiting[HEX_SIDE_A] || g_waiting[HEX_SIDE_B];
  if (waiting && !g_timer_armed) {
    g_timer_armed = dlg_set_timer(window, TIMER_RECONNECT, HEX_RECONNECT_PERIOD_MS) != 0;
    if (!g_timer_armed)
      hex_err_msg("Timer is broken");
  } else if (!waiting && g_timer_armed) {
    dlg_kill_timer(window, TIMER_RECONNECT);
    g_timer_armed = false;
  }
}

// The device the port names now is there: the path, read again each time
// (a /dev/serial/by-id/... link is followed to whatever it names now), leads
// to a character device.
bool device_present(int port) {
  const char *path = SioDevicePath(port);
  struct stat st {};
  return path && *path && stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

void show_gone(HWND window, int side) {
  const hex_obj_t &record = hex_obj[side];
  const char *path = SioDevicePath(record.port);
  char tip[768];
  std::snprintf(tip, sizeof tip, "%s (%s): %s; it opens again when the device is back",
                hex_portnames[record.port], path ? path : "?", kDeviceGone);
  const int indicator = hex_side_indicator(side);
  dlg_check_button(window, indicator, BST_INDETERMINATE);
  dlg_set_tooltip(window, indicator, tip);
}

}  // namespace

void hex_port_gone(HWND window, int side, uint32_t ms) {
  hex_obj_t &record = hex_obj[side];
  if (g_waiting[side])
    return;
  // Let go at once: the system gives the device's name (a ttyUSB number, a
  // pseudo-terminal's) to a device that comes back only once nothing holds
  // the old one, and the lock must not keep it from this side either.
  if (record.open)
    SioDone(record.port);
  record.open = 0;
  record.status = SIO_NOT_OPEN;
  show_gone(window, side);
  hex_capture_port_event(side, record.port, ms, HEX_PORT_GONE);
  g_waiting[side] = true;
  arm_while_waiting(window);
}

void hex_port_reopen_failed(HWND window, int side, int code) {
  if (!device_present(hex_obj[side].port)) {
    hex_port_gone(window, side, SioTimer());
    return;
  }
  char reason[200];
  hex_sio_error_text(code, reason, sizeof reason);
  hex_show_port_state(window, side, reason);
}

void hex_reconnect_tick(HWND window) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    if (!g_waiting[side] || !device_present(hex_obj[side].port))
      continue;
    // A device that is there but does not open yet (its node made before
    // its permissions, held by another program) is tried again next time.
    if (hex_open_side(side) != 0)
      continue;
    g_waiting[side] = false;
    hex_show_port_state(window, side, nullptr);
    hex_capture_port_event(side, hex_obj[side].port, SioTimer(), HEX_PORT_BACK);
  }
  hex_capture_sync(window);
  arm_while_waiting(window);
}

int hex_reconnect_waiting(int side) { return g_waiting[side] ? 1 : 0; }

void hex_reconnect_cancel(HWND window, int side) {
  g_waiting[side] = false;
  arm_while_waiting(window);
}

void hex_reconnect_stop(HWND window) {
  g_waiting[HEX_SIDE_A] = g_waiting[HEX_SIDE_B] = false;
  arm_while_waiting(window);
}
