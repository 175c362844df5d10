// The configuration file "kestrelon.cfg": ten lines of message history,
// each written with CR LF; a line read ends at LF, with or without CR.
#include "hex/core/hexcore.h"

#include <cstring>

std::vector<std::string> hex_cfg_read(std::FILE *file) {
  std::vector<std::string> entries;
  std::string line;
  for (int i = 0; i < HEX_HISTORY_LINES; ++i) {
    line.clear();
    int c;
    // One byte beyond the field's capacity: a CR that ends it, or the sign
    // that the entry does not fit.
    while ((c = std::getc(file)) != EOF && c != '\n')
      if (line.size() <= size_t(HEX_CFG_ENTRY_MAX))
        line.push_back(char(c));
    if (c == EOF && line.empty())
      break;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    // Empty lines count among the ten but hold no entry; an entry the field
    // cannot hold is left out rather than sent cut short.
    if (!line.empty() && line.size() <= size_t(HEX_CFG_ENTRY_MAX))
      entries.push_back(line);
    if (c == EOF)
      break;
  }
  return entries;
}

void hex_cfg_write(std::FILE *file, const char *const entries[], int count) {
  for (int i = 0; i < HEX_HISTORY_LINES; ++i) {
    if (i < count && entries[i])
      std::fwrite(entries[i], 1, std::strlen(entries[i]), file);
    std::fwrite("\r\n", 1, 2, file);
  }
}
