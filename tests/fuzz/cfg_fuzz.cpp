// The configuration file's reader on any content: the history holds the
// entries of the first ten lines (LF ends a line, a CR before it is no part
// of it, empty lines and lines longer than the message field hold none);
// written out and read again, it is the same history.
#include "fuzz_support.h"
#include "hex/core/hexcore.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> history(std::string content) {
  std::FILE *file = content.empty() ? std::fopen("/dev/null", "rb")
                                    : fmemopen(content.data(), content.size(), "rb");
  FUZZ_CHECK(file != nullptr, "no stream for the content");
  std::vector<std::string> read = hex_cfg_read(file);
  std::fclose(file);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string content(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> expected;
  size_t at = 0;
  for (int line = 0; line < HEX_HISTORY_LINES && at < content.size(); ++line) {
    const size_t feed = content.find('\n', at);
    const size_t end = feed == std::string::npos ? content.size() : feed;
    std::string entry = content.substr(at, end - at);
    if (!entry.empty() && entry.back() == '\r')
      entry.pop_back();
    if (!entry.empty() && entry.size() <= size_t(HEX_CFG_ENTRY_MAX))
      expected.push_back(entry);
    at = end + 1;
  }
  const std::vector<std::string> read = history(content);
  FUZZ_CHECK(read == expected, std::to_string(read.size()) + " entries, " +
                                   std::to_string(expected.size()) + " expected");

  // Written out and read again; an entry is written up to a NUL byte.
  std::vector<const char *> texts;
  std::vector<std::string> kept;
  for (const std::string &entry : read) {
    texts.push_back(entry.c_str());
    if (entry[0] != '\0')
      kept.emplace_back(entry.c_str());
  }
  char *written = nullptr;
  size_t written_size = 0;
  std::FILE *out = open_memstream(&written, &written_size);
  FUZZ_CHECK(out != nullptr, "no stream to write to");
  hex_cfg_write(out, texts.data(), int(texts.size()));
  std::fclose(out);
  const std::string file(written, written_size);
  std::free(written);
  FUZZ_CHECK(history(file) == kept, "written as" + fuzz_hex(file));
  return 0;
}
