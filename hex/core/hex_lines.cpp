// Modem lines: the changes of a side's lines between two readings, as
// events in the order of the lines, and what each line has counted.
#include "hex/core/hexcore.h"

const char hex_line_names[HEX_LINES][6] = {"CTS", "DSR", "DCD", "RI", "DTR", "RTS", "break"};

int hex_line_of_event(int32_t event, bool *on) {
  if (event < HEX_PORT_LINE || event >= HEX_PORT_LINE + HEX_LINES * 2)
    return -1;
  *on = ((event - HEX_PORT_LINE) & 1) != 0;
  return (event - HEX_PORT_LINE) / 2;
}

int hex_lines_read(HexLineState &state, bool known, uint32_t bits, uint32_t mask,
                   HexPortEvent *events) {
  int count = 0;
  if (known && state.ever_known) {
    const uint32_t changed = (bits ^ state.bits) & mask;
    for (int line = 0; line < HEX_LINES; ++line) {
      if (!(changed & (1u << line)))
        continue;
      ++state.changes[line];
      events[count++] = hex_line_event(line, (bits >> line) & 1u);
    }
  }
  state.known = known;
  if (known) {
    state.ever_known = true;
    state.bits = (state.bits & ~mask) | (bits & mask);
  }
  return count;
}

HexPortEvent hex_lines_made(HexLineState &state, int line, bool on) {
  ++state.changes[line];
  state.bits = on ? state.bits | (1u << line) : state.bits & ~(1u << line);
  return hex_line_event(line, on);
}
