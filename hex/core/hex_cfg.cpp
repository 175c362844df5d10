// The configuration file "kestrelon.cfg": ten lines of message history,
// each ended by CR LF, read and written as bytes.
#include "hex/core/hexcore.h"

#include <cstring>

int hex_rd_line(std::FILE *file, char *buffer, int limit) {
  int stored = 0;
  while (stored < limit) {
    int c = std::fgetc(file);
    if (c == EOF) {
      buffer[stored] = '\0';
      return -1;
    }
    buffer[stored++] = char(c);
    if (c == '\n')
      break;
  }
  buffer[stored] = '\0';
  return stored;
}

int hex_cfg_read(std::FILE *file, char entries[HEX_HISTORY_LINES][HEX_CFG_LINE_MAX]) {
  char line[HEX_CFG_LINE_MAX + 1];
  int count = 0;
  for (int i = 0; i < HEX_HISTORY_LINES; ++i) {
    int n = hex_rd_line(file, line, HEX_CFG_LINE_MAX);
    if (n < 0)
      break;  // a last line without its line feed is not used
    if (n <= 2)
      continue;          // empty lines count among the ten but hold no entry
    line[n - 2] = '\0';  // the line end (CR LF) is not part of the entry
    std::memcpy(entries[count], line, size_t(n - 1));
    ++count;
  }
  return count;
}

void hex_cfg_write(std::FILE *file, const char *const entries[], int count) {
  constexpr size_t kMaxText = HEX_CFG_LINE_MAX - 1;
  for (int i = 0; i < HEX_HISTORY_LINES; ++i) {
    if (i < count && entries[i]) {
      size_t len = std::strlen(entries[i]);
      if (len > kMaxText)
        len = kMaxText;
      std::fwrite(entries[i], 1, len, file);
    }
    std::fwrite("\r\n", 1, 2, file);
  }
}
