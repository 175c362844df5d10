// The HTML log's records: an input cut into records where it names gives
// records with no markup but their own tags and entities, whose text read
// back is the input's glyphs as the pane lays them out; and a browser's
// reading of the whole log shows what the pane shows.
#include "fuzz_support.h"
#include "hex/core/hexcore.h"
#include "log_reading.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kBreak = "<br>\n";
constexpr std::string_view kEnd = "</font>";

std::string record_name(int record) { return "record " + std::to_string(record); }

// The characters of a record's text: its own glyphs, blanks (plain or
// &nbsp;) and a '\n' per line break, as UTF-8.
std::string unescape(std::string_view html, int record) {
  struct Entity {
    std::string_view text;
    char32_t character;
  };
  static constexpr Entity kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&nbsp;", ' '}};
  std::string out;
  for (size_t at = 0; at < html.size();) {
    const char c = html[at];
    auto where = [&] {
      return record_name(record) + " at " + std::to_string(at) + ": " +
             std::string(html.substr(at, 12));
    };
    if (c == '<') {
      FUZZ_CHECK(html.substr(at, kBreak.size()) == kBreak, "markup " + where());
      out += '\n';
      at += kBreak.size();
      continue;
    }
    FUZZ_CHECK(c >= 0x20 && c <= 0x7E && c != '>' && c != '"', "character " + where());
    if (c != '&') {
      out += c;
      ++at;
      continue;
    }
    const Entity *known = nullptr;
    for (const Entity &entity : kEntities)
      if (html.substr(at, entity.text.size()) == entity.text)
        known = &entity;
    if (known) {
      paneAppendUtf8(out, known->character);
      at += known->text.size();
      continue;
    }
    // A numeric reference: "&#", decimal digits, ';'.
    size_t end = at + 2;
    uint32_t value = 0;
    while (end < html.size() && end < at + 9 && html[end] >= '0' && html[end] <= '9')
      value = value * 10 + uint32_t(html[end++] - '0');
    FUZZ_CHECK(html.substr(at, 2) == "&#" && end > at + 2 && end < html.size() && html[end] == ';',
               "entity " + where());
    paneAppendUtf8(out, char32_t(value));
    at = end + 1;
  }
  return out;
}

// What a reader sees of the pane's text: a no-break space is a blank.
std::string as_read(std::string text) {
  for (size_t at; (at = text.find("\xC2\xA0")) != std::string::npos;)
    text.replace(at, 2, " ");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const ChunkedInput input = chunked_input(data, size);
  HexLogState state;
  std::string log = HEX_LOG_HEADER;
  std::string text;  // the records' text read back
  int records = 0;
  feed_chunks(input, false, [&](ChunkBuffer &chunk, int count) {
    const uint32_t rgb = hex_port_rgb(input.port, records % 2 ? HEX_SENT : HEX_RECEIVED);
    std::string record;
    hex_log_record(record, rgb, chunk.data(), count, state);
    char open[32];
    const int open_length = std::snprintf(open, sizeof open, "<font color=\"#%06X\">", rgb);
    FUZZ_CHECK(record.size() >= size_t(open_length) + kEnd.size(), record_name(records));
    FUZZ_CHECK(record.compare(0, size_t(open_length), open) == 0,
               record_name(records) + " opens " + record.substr(0, 30));
    FUZZ_CHECK(record.compare(record.size() - kEnd.size(), kEnd.size(), kEnd) == 0,
               record_name(records) + " ends " +
                   record.substr(record.size() - std::min<size_t>(record.size(), 30)));
    text += unescape(std::string_view(record).substr(
                         size_t(open_length), record.size() - size_t(open_length) - kEnd.size()),
                     records);
    log += record;
    ++records;
  });
  log += HEX_LOG_TRAILER;

  const std::string glyphs = paneBytesToUtf8(input.stream);
  FUZZ_CHECK(text == glyphs, "records read back differ from the pane's text");
  const LogReading reading = readLogBody(log);
  FUZZ_CHECK(reading.fault.empty(), reading.fault);
  FUZZ_CHECK(reading.records.size() == size_t(records), std::to_string(reading.records.size()));
  FUZZ_CHECK(reading.text == as_read(glyphs), "a browser shows other text than the pane");
  return 0;
}
