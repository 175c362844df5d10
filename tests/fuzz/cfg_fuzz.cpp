// The configuration file's reader on any content. Lines read with any limit
// give back the file byte for byte, each ended by its line feed or the limit;
// the history holds the entries its rules keep, each ended within its slot;
// written out and read again, it is the same history.
//
// The input is the file's content; its first byte also names the limit of
// the line reads (1 to 128).
#include "fuzz_support.h"
#include "hex/core/hexcore.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kUntouched = 0x55;

// A stream reading `content` (empty content as well).
std::FILE *open_content(std::string &content) {
  std::FILE *file = content.empty() ? std::fopen("/dev/null", "rb")
                                    : fmemopen(content.data(), content.size(), "rb");
  FUZZ_CHECK(file != nullptr, "no stream for the content");
  return file;
}

// The content's lines as the rules cut them: up to and including a line
// feed, at most `limit` bytes; `ended` tells whether the last line was cut
// short by the end of the content (then it is no line).
struct Lines {
  std::vector<std::string> lines;
  std::string last;
};

Lines cut_lines(const std::string &content, size_t limit) {
  Lines cut;
  size_t at = 0;
  for (;;) {
    const size_t feed = content.find('\n', at);
    const size_t end = std::min(feed == std::string::npos ? content.size() : feed + 1, at + limit);
    if (end - at < limit && (feed == std::string::npos || end <= feed)) {
      cut.last = content.substr(at);
      return cut;
    }
    cut.lines.push_back(content.substr(at, end - at));
    at = end;
  }
}

void lines_read(std::string content, int limit) {
  const Lines expected = cut_lines(content, size_t(limit));
  std::FILE *file = open_content(content);
  std::unique_ptr<char[]> buffer(new char[size_t(limit) + 1]);
  for (const std::string &line : expected.lines) {
    const int stored = hex_rd_line(file, buffer.get(), limit);
    FUZZ_CHECK(stored == int(line.size()) &&
                   std::memcmp(buffer.get(), line.data(), line.size()) == 0 &&
                   buffer[line.size()] == '\0',
               "stored " + std::to_string(stored) + ", expected" + fuzz_hex(line));
  }
  for (int again = 0; again < 2; ++again) {
    const std::string &last = again ? std::string() : expected.last;
    FUZZ_CHECK(hex_rd_line(file, buffer.get(), limit) == -1, "a line after the end");
    FUZZ_CHECK(
        std::memcmp(buffer.get(), last.data(), last.size()) == 0 && buffer[last.size()] == '\0',
        "the bytes before the end:" + fuzz_hex(last));
  }
  std::fclose(file);
}

struct Slots {
  char entries[HEX_HISTORY_LINES][HEX_CFG_LINE_MAX];
};

// The entries read, each checked to end within its slot; the slots behind
// them are left as they were.
std::vector<std::string> history(std::string content) {
  auto slots = std::make_unique<Slots>();
  std::memset(slots.get(), kUntouched, sizeof(Slots));
  std::FILE *file = open_content(content);
  const int count = hex_cfg_read(file, slots->entries);
  std::fclose(file);
  FUZZ_CHECK(count >= 0 && count <= HEX_HISTORY_LINES, std::to_string(count));
  std::vector<std::string> read;
  for (int i = 0; i < HEX_HISTORY_LINES; ++i) {
    const char *slot = slots->entries[i];
    if (i < count) {
      FUZZ_CHECK(std::memchr(slot, '\0', HEX_CFG_LINE_MAX),
                 "entry " + std::to_string(i) + " not ended");
      read.emplace_back(slot);
    } else {
      for (int at = 0; at < HEX_CFG_LINE_MAX; ++at)
        FUZZ_CHECK(uint8_t(slot[at]) == kUntouched, "slot " + std::to_string(i) + " written");
    }
  }
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string content(reinterpret_cast<const char *>(data), size);
  lines_read(content, size > 0 ? 1 + data[0] % 128 : 1);

  // Of the first ten lines (a line cut short by the end is none), those of
  // more than two bytes are entries, without their last two.
  const Lines lines = cut_lines(content, HEX_CFG_LINE_MAX);
  std::vector<std::string> expected;
  for (size_t i = 0; i < lines.lines.size() && i < size_t(HEX_HISTORY_LINES); ++i)
    if (lines.lines[i].size() > 2)
      expected.push_back(lines.lines[i].substr(0, lines.lines[i].size() - 2).c_str());
  const std::vector<std::string> read = history(content);
  FUZZ_CHECK(read == expected, std::to_string(read.size()) + " entries, " +
                                   std::to_string(expected.size()) + " expected");

  // Written out and read again. An entry that starts with a NUL byte is
  // written as an empty line, which holds no entry.
  std::vector<const char *> texts;
  std::vector<std::string> kept;
  for (const std::string &entry : read) {
    texts.push_back(entry.c_str());
    if (!entry.empty())
      kept.push_back(entry);
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
