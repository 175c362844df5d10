// Modem lines: lamps and switches of each side, their readings and the
// changes the user makes, as line events of the capture.
#include "hex/hex_lines.h"

#include "hex/hex_capture.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_status.h"
#include "hex/hex_timer.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace {

constexpr int kLamps = HEX_LINE_RTS + 1;  // CTS .. RTS; the break has no lamp
constexpr uint32_t kReadMask = (1u << kLamps) - 1;

// The library's bits of each lamp, in HexLine order.
constexpr int kSioBits[kLamps] = {SIO_LINE_CTS, SIO_LINE_DSR, SIO_LINE_DCD,
                                  SIO_LINE_RI,  SIO_LINE_DTR, SIO_LINE_RTS};

// The lengths a pulse or a break is chosen from; any other can be typed.
constexpr unsigned kLengths[] = {10, 50, 100, 250, 500, 1000, 2000};
constexpr int kLengthEntries = int(sizeof kLengths / sizeof kLengths[0]);

// A side's looks, one word: two bits a lamp (0 off, 1 on, 2 unknown), then
// what its tooltips tell (known, open, RTS free, the port).
constexpr int kLampLooks = 2 * kLamps;
constexpr uint32_t kUnknown = 2;
constexpr uint32_t kForgotten = 3;  // a look no lamp has: shown again at once

int g_start_level[2] = {1, 0};  // DTR, RTS at an open the user has not switched
unsigned g_pulse_ms = HEX_PULSE_MS;
unsigned g_break_ms = HEX_BREAK_MS;

int first_lamp(int side) { return side == HEX_SIDE_A ? IDC_LINES_A : IDC_LINES_B; }
int break_button(int side) { return side == HEX_SIDE_A ? IDC_BREAK_A : IDC_BREAK_B; }
int pulse_list(int side) { return side == HEX_SIDE_A ? IDC_PULSE_A : IDC_PULSE_B; }
int break_list(int side) { return side == HEX_SIDE_A ? IDC_BREAK_LENGTH_A : IDC_BREAK_LENGTH_B; }
unsigned pulse_timer(int side) { return side == HEX_SIDE_A ? TIMER_PULSE_A : TIMER_PULSE_B; }
unsigned break_timer(int side) { return side == HEX_SIDE_A ? TIMER_BREAK_A : TIMER_BREAK_B; }

// The side and line of a lamp's id.
bool lamp_of(int id, int *side, int *line) {
  for (int s : {HEX_SIDE_A, HEX_SIDE_B}) {
    if (id >= first_lamp(s) && id < first_lamp(s) + kLamps) {
      *side = s;
      *line = id - first_lamp(s);
      return true;
    }
  }
  return false;
}

uint32_t lamp_bits(int sio) {
  uint32_t bits = 0;
  for (int line = 0; line < kLamps; ++line)
    if (sio & kSioBits[line])
      bits |= 1u << line;
  return bits;
}

const char *port_name(int side) {
  const int port = hex_obj[side].port;
  return port >= 0 && port < HEX_PORTS ? hex_portnames[port] : "?";
}

// RTS/CTS flow control drives RTS: the switch is not the user's then.
bool flow_drives_rts(int side) { return hex_flow_mode(hex_obj[side].flow) == 'H'; }

int &wanted_slot(int side, int line) {
  HexSideLines &lines = hex_obj[side].lines;
  return line == HEX_LINE_DTR ? lines.dtr : lines.rts;
}

bool wanted(int side, int line) {
  const int level = wanted_slot(side, line);
  return (level >= 0 ? level : g_start_level[line - HEX_LINE_DTR]) != 0;
}

void say(HWND window, int side, const char *what) {
  char text[160];
  std::snprintf(text, sizeof text, "%s %s", port_name(side), what);
  hex_status_show(window, text);
}

uint32_t looks_of(int side) {
  const HexSideRecord &record = hex_obj[side];
  const HexLineState &state = record.lines.state;
  uint32_t looks = 0;
  for (int line = 0; line < kLamps; ++line)
    looks |= (state.known ? (state.bits >> line) & 1u : kUnknown) << (2 * line);
  const uint32_t told = uint32_t(state.known) | uint32_t(record.open) << 1 |
                        uint32_t(!flow_drives_rts(side)) << 2 | uint32_t(record.port & 0xFF) << 3;
  return looks | told << kLampLooks;
}

void show_tooltips(HWND window, int side) {
  const HexSideRecord &record = hex_obj[side];
  char tip[200];
  if (!record.open)
    std::snprintf(tip, sizeof tip, "%s is not open: its lines are unknown", port_name(side));
  else
    std::snprintf(tip, sizeof tip,
                  "%s's device reports no modem lines (a pseudo-terminal or a remote port "
                  "has none)",
                  port_name(side));
  for (int line = 0; line < kLamps; ++line) {
    const int id = first_lamp(side) + line;
    if (record.lines.state.known && line < HEX_LINE_DTR)
      dlg_set_tooltip(window, id, "read from the device every 100 ms");
    else if (record.lines.state.known)
      dlg_set_tooltip(window, id, "click: raise or lower; right click: a pulse (down, then up)");
    else
      dlg_set_tooltip(window, id, tip);
  }
  const bool rts_free = !flow_drives_rts(side);
  dlg_enable(window, first_lamp(side) + HEX_LINE_RTS, rts_free);
  if (!rts_free)
    dlg_set_tooltip(window, first_lamp(side) + HEX_LINE_RTS, "RTS/CTS flow control drives RTS");
}

// The lamps show the side's state: a lamp is set only when its look
// changed, the tooltips only when what they tell did.
void show_side(HWND window, int side) {
  HexSideLines &lines = hex_obj[side].lines;
  const uint32_t looks = looks_of(side);
  const uint32_t was = lines.shown;
  if (looks == was)
    return;
  lines.shown = looks;
  for (int line = 0; line < kLamps; ++line) {
    const uint32_t look = (looks >> (2 * line)) & 3u;
    if (look != ((was >> (2 * line)) & 3u))
      dlg_check_button(window, first_lamp(side) + line,
                       look == kUnknown ? BST_INDETERMINATE
                       : look           ? BST_CHECKED
                                        : BST_UNCHECKED);
  }
  if ((looks ^ was) >> kLampLooks)
    show_tooltips(window, side);
}

// Events of `side` at this moment: the bytes read before them go first, and
// the indicator's tooltip counts them.
void record_events(HWND window, int side, const HexPortEvent *events, int count) {
  HexSideRecord &record = hex_obj[side];
  if (!record.open)
    return;  // the port went while its bytes were read: that is said instead
  const uint32_t ms = SioTimer();
  for (int i = 0; i < count; ++i)
    hex_capture_port_event(side, record.port, ms, events[i]);
  hex_show_port_state(window, side, nullptr);
}

void made(HWND window, int side, int line, bool on) {
  const HexPortEvent event = hex_lines_made(hex_obj[side].lines.state, line, on);
  record_events(window, side, &event, 1);
}

void read_side(HWND window, int side) {
  HexSideRecord &record = hex_obj[side];
  HexSideLines &lines = record.lines;
  const int fd = record.open ? SioHandle(record.port) : -1;
  if (fd != lines.fd) {
    // Another port, or the same opened again: counted from its open.
    lines.state = HexLineState{};
    lines.fd = fd;
  }
  int sio = 0;
  const bool known = fd >= 0 && SioModemLines(record.port, &sio) == 1;
  HexPortEvent events[HEX_LINES];
  if (const int count = hex_lines_read(lines.state, known, lamp_bits(sio), kReadMask, events))
    record_events(window, side, events, count);
  show_side(window, side);
}

// Raises or lowers DTR or RTS as the user wants it now; a closed port takes
// it at its next open. True when the device's line moved.
bool switch_line(HWND window, int side, int line, bool on) {
  HexSideRecord &record = hex_obj[side];
  if (record.lines.pulse_line == line) {
    hex_timer_cancel(window, pulse_timer(side));
    record.lines.pulse_line = -1;
  }
  wanted_slot(side, line) = on ? 1 : 0;
  if (!record.open) {
    say(window, side, on ? "is not open: the line comes up at its open"
                         : "is not open: the line stays down at its open");
    show_side(window, side);
    return false;
  }
  const int command = on ? 'S' : 'C';
  const int done = line == HEX_LINE_DTR ? SioDTR(record.port, command)
                                        : SioRTS(record.port, command);
  if (done <= 0) {
    say(window, side, "has no modem lines to drive: the level is kept for its next open");
    show_side(window, side);
    return false;
  }
  made(window, side, line, on);
  show_side(window, side);
  return true;
}

// Arms the timer that ends a pulse or a break at `end`: a window timer may
// come a little early, and then it waits for the rest. False when the end
// has come (or the timer could not be armed).
bool arm_until(HWND window, unsigned timer, uint32_t end) {
  const int32_t left = int32_t(end - SioTimer());
  return left > 0 && hex_timer_arm(window, timer, unsigned(left));
}

void send_break(HWND window, int side) {
  HexSideRecord &record = hex_obj[side];
  if (!record.open) {
    say(window, side, "is not open: no break sent");
    return;
  }
  if (record.lines.breaking)
    return;
  if (SioBrkSig(record.port, 'A') <= 0) {
    say(window, side, "could not send a break");
    return;
  }
  record.lines.breaking = true;
  made(window, side, HEX_LINE_BREAK, true);
  char text[64];
  std::snprintf(text, sizeof text, "sends a break of %u ms", record.lines.break_ms);
  say(window, side, text);
  record.lines.break_end = SioTimer() + record.lines.break_ms;
  if (!arm_until(window, break_timer(side), record.lines.break_end))
    hex_lines_timer(window, break_timer(side));  // never left on
}

// "300", "300 ms": a length from 1 to HEX_LINE_MS_MOST ms.
bool length_of(const char *text, unsigned *ms) {
  while (*text == ' ')
    ++text;
  if (*text < '0' || *text > '9')
    return false;
  char *end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  while (*end == ' ')
    ++end;
  if (strncasecmp(end, "ms", 2) == 0)
    end += 2;
  while (*end == ' ')
    ++end;
  if (*end != '\0' || value < 1 || value > HEX_LINE_MS_MOST)
    return false;
  *ms = unsigned(value);
  return true;
}

// A list shows its length: one of its entries, or a typed one after them.
void show_length(HWND window, int list, unsigned ms) {
  char text[16];
  std::snprintf(text, sizeof text, "%u ms", ms);
  int entry = dlg_combo_find_exact(window, list, -1, text);
  if (entry == CB_ERR) {
    if (dlg_combo_count(window, list) > kLengthEntries)
      dlg_combo_delete(window, list, kLengthEntries);
    entry = dlg_combo_add(window, list, text);
  }
  dlg_combo_set_sel(window, list, entry);
}

}  // namespace

void hex_lines_set_start(int dtr, int rts) {
  g_start_level[0] = dtr >= 0 ? dtr : 1;
  g_start_level[1] = rts >= 0 ? rts : 0;
}

void hex_lines_set_durations(unsigned pulse_ms, unsigned break_ms) {
  g_pulse_ms = pulse_ms ? pulse_ms : HEX_PULSE_MS;
  g_break_ms = break_ms ? break_ms : HEX_BREAK_MS;
}

void hex_lines_start(HWND window) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    HexSideLines &lines = hex_obj[side].lines;
    lines.pulse_ms = g_pulse_ms;
    lines.break_ms = g_break_ms;
    lines.shown = ~0u;  // a new window shows everything
    for (int list : {pulse_list(side), break_list(side)}) {
      dlg_combo_reset(window, list);
      for (unsigned ms : kLengths) {
        char text[16];
        std::snprintf(text, sizeof text, "%u ms", ms);
        dlg_combo_add(window, list, text);
      }
      dlg_set_tooltip(window, list,
                      list == pulse_list(side)
                          ? "How long a pulse (right click on DTR or RTS) holds the line down"
                          : "How long Break holds the line in break");
    }
    show_length(window, pulse_list(side), lines.pulse_ms);
    show_length(window, break_list(side), lines.break_ms);
    read_side(window, side);
  }
  hex_timer_repeat(window, TIMER_LINES, HEX_LINES_PERIOD_MS);
}

void hex_lines_stop(HWND window) {
  for (unsigned id : {TIMER_LINES, TIMER_PULSE_A, TIMER_PULSE_B, TIMER_BREAK_A, TIMER_BREAK_B})
    hex_timer_cancel(window, id);
}

void hex_lines_tick(HWND window) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B})
    read_side(window, side);
}

void hex_lines_opened(int side) {
  const int port = hex_obj[side].port;
  SioDTR(port, wanted(side, HEX_LINE_DTR) ? 'S' : 'C');
  SioRTS(port, wanted(side, HEX_LINE_RTS) ? 'S' : 'C');
}

bool hex_lines_command(HWND window, int id) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    if (id == break_button(side)) {
      send_break(window, side);
      return true;
    }
  }
  int side = 0;
  int line = 0;
  if (!lamp_of(id, &side, &line))
    return false;
  // The click moved the box itself: it shows the line's look again.
  hex_obj[side].lines.shown |= kForgotten << (2 * line);
  if (line >= HEX_LINE_DTR && !(line == HEX_LINE_RTS && flow_drives_rts(side)))
    switch_line(window, side, line, !wanted(side, line));
  else
    show_side(window, side);
  return true;
}

bool hex_lines_length(HWND window, int id) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const bool pulse = id == pulse_list(side);
    if (!pulse && id != break_list(side))
      continue;
    HexSideLines &lines = hex_obj[side].lines;
    unsigned &length = pulse ? lines.pulse_ms : lines.break_ms;
    char typed[32];
    char text[96];
    dlg_get_text(window, id, typed, sizeof typed);
    if (length_of(typed, &length))
      std::snprintf(text, sizeof text, "%s %u ms", pulse ? "pulses DTR or RTS down for" : "sends breaks of",
                    length);
    else
      std::snprintf(text, sizeof text, "refused '%.16s' as a %s length (1 to %u ms)", typed,
                    pulse ? "pulse" : "break", HEX_LINE_MS_MOST);
    say(window, side, text);
    show_length(window, id, length);
    return true;
  }
  return false;
}

bool hex_lines_pulse(HWND window, int id) {
  int side = 0;
  int line = 0;
  if (!lamp_of(id, &side, &line) || line < HEX_LINE_DTR)
    return false;
  HexSideLines &lines = hex_obj[side].lines;
  if ((line == HEX_LINE_RTS && flow_drives_rts(side)) || lines.pulse_line >= 0)
    return true;
  if (!switch_line(window, side, line, false))
    return true;
  lines.pulse_line = line;
  char text[64];
  std::snprintf(text, sizeof text, "pulses %s: down for %u ms", hex_line_names[line], lines.pulse_ms);
  say(window, side, text);
  lines.pulse_end = SioTimer() + lines.pulse_ms;
  if (!arm_until(window, pulse_timer(side), lines.pulse_end))
    hex_lines_timer(window, pulse_timer(side));
  return true;
}

bool hex_lines_timer(HWND window, unsigned id) {
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    HexSideRecord &record = hex_obj[side];
    if (id == pulse_timer(side)) {
      if (record.lines.pulse_line >= 0 && arm_until(window, id, record.lines.pulse_end))
        return true;
      const int line = record.lines.pulse_line;
      record.lines.pulse_line = -1;
      if (line >= 0)
        switch_line(window, side, line, true);
      return true;
    }
    if (id == break_timer(side)) {
      if (!record.lines.breaking || arm_until(window, id, record.lines.break_end))
        return true;
      record.lines.breaking = false;
      // A port closed meanwhile ended the break with it.
      if (record.open)
        SioBrkSig(record.port, 'C');
      made(window, side, HEX_LINE_BREAK, false);
      return true;
    }
  }
  return false;
}

void hex_lines_tip_text(int side, char *text, int size) {
  const HexLineState &state = hex_obj[side].lines.state;
  text[0] = '\0';
  if (!state.ever_known && state.changes[HEX_LINE_BREAK] == 0)
    return;
  // Rebuilt at every change a poll reads: without printf, whose parsing
  // was most of it.
  char *at = text;
  char *const end = text + size - 1;
  auto put = [&](const char *piece) {
    while (*piece && at < end)
      *at++ = *piece++;
  };
  put("Line changes:");
  for (int line = 0; line < HEX_LINES; ++line) {
    put(line ? ", " : " ");
    put(hex_line_names[line]);
    put(" ");
    at = std::to_chars(at, end, state.changes[line]).ptr;
  }
  *at = '\0';
}
