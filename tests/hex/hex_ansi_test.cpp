// The terminal's parser: what it gives its sink for each sequence, the same
// however the bytes are split into chunks.
#include "hex/core/hexcore.h"
#include "support/chunk_splits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes what the parser gives it as one line: text as it is, actions in
// angle brackets. Text given in pieces reads as one text.
struct ScriptSink final : HexSink {
  std::string script;
  std::vector<int> ports;
  int text_bytes = 0;
  void show(int port, const char *text, int length) override {
    ports.push_back(port);
    script.append(text, size_t(length));
    text_bytes += length;
  }
  void ansi_key(int key) override { script += "<key " + std::to_string(key) + ">"; }
  void ansi_home() override { script += "<home>"; }
  void ansi_line_end() override { script += "<end>"; }
  void ansi_clear_to_end() override { script += "<eos>"; }
  void ansi_clear_to_line_end() override { script += "<eol>"; }
  void ansi_clear_line() override { script += "<line>"; }
  void ansi_clear_all() override { script += "<all>"; }
  void ansi_goto(int line, int column) override {
    script += "<goto " + std::to_string(line) + "," + std::to_string(column) + ">";
  }
};

// Feeds the bytes in chunks ending at the given cuts, each chunk parsed in
// place as the pump does.
std::string parse_in_chunks(const std::string &bytes, const std::vector<size_t> &cuts,
                            int port = 1) {
  ScriptSink sink;
  hex_obj_t record{};
  int shown = 0;
  for_each_chunk(bytes, cuts, [&](char *chunk, int count) {
    shown += hex_parse_ansi(record, port, chunk, chunk, count, sink);
  });
  EXPECT_EQ(shown, sink.text_bytes);
  for (int p : sink.ports)
    EXPECT_EQ(p, port);
  return sink.script;
}

std::vector<std::vector<size_t>> splits_of(size_t size) { return chunk_splits(size, true, 20); }

struct Case {
  const char *what;
  std::string bytes;
  std::string script;
};

std::string esc(const std::string &rest) { return "\x1b" + rest; }

const std::vector<Case> &cases() {
  static const std::vector<Case> table{
      {"CR dropped", "AB\r\nCD", "AB\nCD"},
      {"text then clear, in order", "ABC" + esc("[2J"), "ABC<all>"},
      {"clear then text", esc("[2J") + "ABC", "<all>ABC"},
      {"position, final dropped", esc("[05;10H"), "<goto 5,10>"},
      {"bytes up to a letter dropped", esc("[05;10") + "12345Hello", "<goto 5,10>ello"},
      {"a one-digit line ends at the ;", esc("[5;10H"), "10H"},
      {"column kept as received", esc("[02;99"), "<goto 2,99>"},
      {"line as received", esc("[99;00H") + "x", "<goto 99,0>x"},
      {"cursor keys", esc("[A") + esc("[B") + esc("[C") + esc("[D"),
       "<key 38><key 40><key 39><key 37>"},
      {"home, erase to end, erase to line end", esc("[H") + esc("[f") + esc("[J") + esc("[K"),
       "<home><home><eos><eol>"},
      {"page keys and end", esc("OP") + esc("OQ") + esc("OS"), "<key 33><end><key 34>"},
      {"erases with a digit", esc("[0J") + esc("[0K") + esc("[2J") + esc("[2K"),
       "<eos><eol><all><line>"},
      {"the introducer is not examined on digit paths", esc("x0J") + esc("O2K") + esc("#03;04"),
       "<eos><line><goto 3,4>"},
      {"other digits erase nothing", esc("[1J") + esc("[3K") + esc("[9J") + esc("[5K") + "z",
       "z"},
      {"unknown finals and introducers do nothing",
       esc("[Z") + esc("OA") + esc("xA") + esc("[m") + "ok", "ok"},
      {"BS moves left", "ab\bc", "ab<key 37>c"},
      {"what is dropped",
       "a" + std::string(1, '\0') + "\x01\x07\r\x0b\x0c\x1f\x80\xc3\xff\x7f\tb\n",
       "a\x7f\tb\n"},
      {"ESC abandons a sequence", esc("[0") + esc("[K") + esc("[05;1") + esc("[2J"), "<eol><all>"},
      {"a bad separator is dropped", esc("[05x") + "AB", "AB"},
      {"a bad column digit is dropped", esc("[05;x") + "AB" + esc("[05;1y") + "CD", "ABCD"},
      {"the trailer ends at the first letter", esc("[01;02;5\x80" "9z") + "rest",
       "<goto 1,2>rest"},
      {"a second position after the trailer", esc("[01;02H") + "a" + esc("[03;04f") + "b",
       "<goto 1,2>a<goto 3,4>b"},
      {"ESC inside the trailer starts anew", esc("[01;02") + "99" + esc("[K") + "q",
       "<goto 1,2><eol>q"},
      {"ESC ESC", esc("") + esc("[D"), "<key 37>"},
      {"a final ESC waits", "x" + esc(""), "x"},
  };
  return table;
}

}  // namespace

TEST(AnsiParser, EverySequenceGivesTheSameCallsInEveryChunkSplit) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.what);
    for (const std::vector<size_t> &cuts : splits_of(c.bytes.size())) {
      const std::string script = parse_in_chunks(c.bytes, cuts);
      ASSERT_EQ(script, c.script) << "cuts " << ::testing::PrintToString(cuts);
    }
  }
}

TEST(AnsiParser, AllSequencesInOneStreamInEveryChunkSplit) {
  // The whole table as one stream: each case starts from text, so ending
  // every case with ESC [ m (nothing) leaves the parser in text again.
  std::string bytes, script;
  for (const Case &c : cases()) {
    bytes += c.bytes + esc("[m");
    script += c.script;
  }
  for (const std::vector<size_t> &cuts : splits_of(bytes.size()))
    ASSERT_EQ(parse_in_chunks(bytes, cuts), script) << ::testing::PrintToString(cuts);
}
