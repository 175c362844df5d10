// Ports whose device went away: closed at once, and opened again with the
// side's settings as soon as their device path is there again.
#include "hex/hex_reconnect.h"

#include "hex/hex_capture.h"
#include "hex/hex_settings.h"
#include "hex/hex_side.h"
#include "hex/hex_timer.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr const char *kDeviceGone = "device gone";

// A remote port's server is asked again every 500 ms for the first 2 s (a
// server restarted is back at once), then, while it still refuses, twice as
// long after each refusal, up to every 5 s.
constexpr uint32_t kRemoteSteadyMs = 2000;
constexpr uint32_t kRemoteRetryMaxMs = 5000;
constexpr uint32_t kTickSlackMs = 50;  // a timer a little early is on time
struct Retry {
  uint32_t since_ms = 0;
  uint32_t next_ms = 0;
  uint32_t interval_ms = HEX_RECONNECT_PERIOD_MS;
};
Retry g_retry[2];

bool remote_due(int side) {
  return SioRemote(hex_obj[side].port) != 1 || int32_t(SioTimer() + kTickSlackMs - g_retry[side].next_ms) >= 0;
}

void remote_refused(int side) {
  Retry &retry = g_retry[side];
  const uint32_t now = SioTimer();
  if (now - retry.since_ms >= kRemoteSteadyMs)
    retry.interval_ms = std::min(retry.interval_ms * 2, kRemoteRetryMaxMs);
  retry.next_ms = now + retry.interval_ms;
}

bool waits(int side) { return hex_obj[side].waiting != HexWaiting::None; }

// Timer 5 runs while a side waits, and only then.
void arm_while_waiting(HWND window) {
  const bool waiting = waits(HEX_SIDE_A) || waits(HEX_SIDE_B);
  if (waiting && !hex_timer_armed(TIMER_RECONNECT))
    hex_timer_arm(window, TIMER_RECONNECT, HEX_RECONNECT_PERIOD_MS);
  else if (!waiting)
    hex_timer_cancel(window, TIMER_RECONNECT);
}

// The device the port names now is there: the path, read again each time
// (a /dev/serial/by-id/... link is followed to whatever it names now), leads
// to a character device.
bool device_present(int port) {
  if (SioRemote(port) == 1)
    return true;  // only connecting tells
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

void hex_port_gone(HWND window, int side, uint32_t ms, bool say) {
  HexSideRecord &record = hex_obj[side];
  if (waits(side))
    return;
  hex_capture_release(side);
  // Let go at once: the system gives the device's name (a ttyUSB number, a
  // pseudo-terminal's) to a device that comes back only once nothing holds
  // the old one, and the lock must not keep it from this side either.
  if (record.open)
    SioDone(record.port);
  record.open = 0;
  record.status = SIO_NOT_OPEN;
  show_gone(window, side);
  if (say)
    hex_capture_port_event(side, record.port, ms, HEX_PORT_GONE);
  record.waiting = HexWaiting::Holder;
  g_retry[side] = Retry{SioTimer(), SioTimer(), HEX_RECONNECT_PERIOD_MS};
  // The other side naming the same port without holding it follows: it
  // waits too, and has the port when the holder no longer wants it.
  HexSideRecord &other = hex_obj[hex_other_side(side)];
  if (!other.open && other.port == record.port && !waits(hex_other_side(side))) {
    other.waiting = HexWaiting::Follower;
    show_gone(window, hex_other_side(side));
  }
  arm_while_waiting(window);
}

void hex_port_reopen_failed(HWND window, int side, int code) {
  if (!device_present(hex_obj[side].port) || SioRemote(hex_obj[side].port) == 1) {
    hex_port_gone(window, side, SioTimer());
    return;
  }
  char reason[200];
  hex_sio_error_text(code, reason, sizeof reason);
  hex_show_port_state(window, side, reason);
}

void hex_reconnect_tick(HWND window) {
  // The side that held the port has it first.
  for (HexWaiting turn : {HexWaiting::Holder, HexWaiting::Follower}) {
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      HexSideRecord &record = hex_obj[side];
      if (record.waiting != turn || !device_present(record.port) || !remote_due(side))
        continue;
      // A device that is there but does not open yet (its node made before
      // its permissions, held by another program) is tried again next time.
      if (const int result = hex_open_side(window, side); result != 0) {
        remote_refused(side);
        const HexSideRecord &other = hex_obj[hex_other_side(side)];
        if (other.open && other.port == record.port) {
          // Back with the other side: this side is as it was before.
          record.waiting = HexWaiting::None;
          char reason[200];
          hex_sio_error_text(result, reason, sizeof reason);
          hex_show_port_state(window, side, reason);
        }
        continue;
      }
      record.waiting = HexWaiting::None;
      hex_show_port_state(window, side, nullptr);
      hex_capture_port_event(side, record.port, SioTimer(), HEX_PORT_BACK);
    }
  }
  hex_capture_sync(window);
  arm_while_waiting(window);
}

int hex_reconnect_waiting(int side) { return waits(side) ? 1 : 0; }

void hex_reconnect_cancel(HWND window, int side) {
  hex_obj[side].waiting = HexWaiting::None;
  arm_while_waiting(window);
}

void hex_reconnect_stop(HWND window) {
  hex_obj[HEX_SIDE_A].waiting = hex_obj[HEX_SIDE_B].waiting = HexWaiting::None;
  arm_while_waiting(window);
}
