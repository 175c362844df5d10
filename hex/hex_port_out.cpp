// Bytes on their way out of a port: what the line cannot take at once is
// kept here, in order, and written by the timers as the port takes it, so
// no write ever waits for the line.
#include "hex/hex_port_out.h"
#include "ser/ser.h"

#include <cstring>

namespace {

uint8_t g_kept[HEX_OUT_SIZE];
int g_at = 0;   // first byte kept
int g_end = 0;  // behind the last
int g_port = -1;

int kept() { return g_end - g_at; }

}  // namespace

int hex_out_waiting() { return kept(); }

int hex_out_room() { return HEX_OUT_SIZE - kept(); }

void hex_out_drop() { g_at = g_end = 0; }

int hex_out_push() {
  if (kept() == 0)
    return 0;
  const int written = SioPutsNow(g_port, g_kept + g_at, kept());
  if (written < 0) {
    hex_out_drop();
    return written;
  }
  g_at += written;
  if (g_at == g_end)
    g_at = g_end = 0;
  return written;
}

int hex_out_put(int port, const uint8_t *bytes, int count) {
  if (count <= 0)
    return 0;
  if (kept() > 0 && port != g_port)
    return 0;  // the port of the bytes kept comes first
  int taken = 0;
  if (kept() == 0) {
    // Nothing waits: as much as the port takes goes at once.
    g_port = port;
    taken = SioPutsNow(port, bytes, count);
    if (taken < 0)
      return taken;
  }
  int rest = count - taken;
  if (rest > hex_out_room())
    rest = hex_out_room();
  if (rest > 0) {
    if (g_end + rest > HEX_OUT_SIZE) {
      std::memmove(g_kept, g_kept + g_at, size_t(kept()));
      g_end -= g_at;
      g_at = 0;
    }
    std::memcpy(g_kept + g_end, bytes + taken, size_t(rest));
    g_end += rest;
  }
  return taken + rest;
}
