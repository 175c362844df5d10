// The automation's pure core: the trigger matcher over every chunk split,
// the rules file read back as written and its read errors, and the loop
// guard.
#include "hex/core/hexcore.h"
#include "support/chunk_splits.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using Ends = std::vector<std::pair<int, int>>;  // (pattern, end in the stream)

class EndSink final : public HexMatchSink {
public:
  void matched(int pattern, int end) override { ends.push_back({pattern, base + end}); }
  Ends ends;
  int base = 0;
};

struct Pattern {
  bool regex;
  std::string text;
};

// The matches of the patterns in a stream, fed in the given cuts.
Ends scan(HexMatcher &matcher, const std::string &stream, const std::vector<size_t> &cuts) {
  HexMatchState state{};
  EndSink sink;
  for_each_chunk(stream, cuts, [&](char *chunk, int count) {
    matcher.scan(state, reinterpret_cast<const uint8_t *>(chunk), count, sink);
    sink.base += count;
  });
  return sink.ends;
}

}  // namespace

TEST(TriggerMatcher, FindsEveryMatchEndInEveryChunkSplit) {
  const std::string longText(40, 'x');
  struct Row {
    std::vector<Pattern> patterns;
    std::string stream;
    Ends expected;
  } rows[] = {
      // Overlapping matches of one pattern, and of two sharing a prefix.
      {{{false, "aa"}}, "aaaa", {{0, 1}, {0, 2}, {0, 3}}},
      {{{false, "PING"}, {false, "PIN"}, {false, "NG"}},
       "xPINGPING",
       {{1, 3}, {0, 4}, {2, 4}, {1, 7}, {0, 8}, {2, 8}}},
      // Bytes of every value; a pattern longer than any chunk.
      {{{false, std::string("\x00\xFF\x7E", 3)}}, std::string("\x7E\x00\xFF\x7E\x00", 5), {{0, 3}}},
      {{{false, longText + "!"}}, "y" + longText + "!" + longText, {{0, 41}}},
      // Expressions: any byte, classes, complements, counts, choices, groups.
      {{{true, "\\x02.\\x03"}}, "\x02\x02\x03\x03", {{0, 2}, {0, 3}}},
      {{{true, "T[0-9]+;"}}, "T;T12;T1x;", {{0, 5}}},
      {{{true, "[^a-z]{2}"}}, "ab12c3", {{0, 3}}},
      {{{true, "(OK|ERROR)\\r\\n"}}, "OK\r\nERROR\r\nOK\n", {{0, 3}, {0, 10}}},
      {{{true, "a.{2,3}b"}}, "axxbaxxxbaxb", {{0, 3}, {0, 8}}},
      {{{true, "\\d\\s\\w"}, {true, "[\\]\\-]"}}, "1 x]-", {{0, 2}, {1, 3}, {1, 4}}},
      {{{true, "x(ab)*y"}, {false, "b"}}, "xyxababy", {{0, 1}, {1, 4}, {1, 6}, {0, 7}}},
  };
  for (const Row &row : rows) {
    HexMatcher matcher;
    for (const Pattern &p : row.patterns) {
      std::string why;
      const int added = p.regex ? matcher.add_regex(p.text, &why) : matcher.add_bytes(p.text, &why);
      ASSERT_GE(added, 0) << p.text << ": " << why;
    }
    for (const auto &cuts : chunk_splits(row.stream.size(), true, 20)) {
      Ends found = scan(matcher, row.stream, cuts);
      ASSERT_EQ(found, row.expected)
          << row.patterns[0].text << " in " << cuts.size() + 1 << " chunks";
    }
  }
}

// An expression with more states than the matcher keeps: its table starts
// again mid-stream without losing where the scan stands.
TEST(TriggerMatcher, KeepsItsPlaceWhenItsTableOfStatesIsFull) {
  HexMatcher matcher;
  std::string why;
  ASSERT_EQ(matcher.add_regex("a.{12}b", &why), 0) << why;
  std::mt19937 random(7);
  std::string stream(1 << 18, 'c');
  for (char &c : stream)
    c = "abc"[random() % 3];
  Ends expected;
  for (int i = 13; i < int(stream.size()); ++i)
    if (stream[size_t(i)] == 'b' && stream[size_t(i) - 13] == 'a')
      expected.push_back({0, i});
  EXPECT_EQ(scan(matcher, stream, chunk_splits(stream.size(), false, 1).back()), expected);
}

TEST(TriggerMatcher, RefusesPatternsThatMatchNoBytesOrAreWrong) {
  const char *wrong[] = {"",    "a*",   "(x|)", "[a-", "a{3,1}", "(ab",
                         "ab)", "\\x4", "\\q",  "*a",  "[z-a]",  "a{1001}"};
  for (const char *expression : wrong) {
    HexMatcher matcher;
    std::string why;
    EXPECT_LT(matcher.add_regex(expression, &why), 0) << expression;
    EXPECT_FALSE(why.empty()) << expression;
    EXPECT_EQ(matcher.patterns(), 0);
  }
}

TEST(AutoRules, ReadBackAsWritten) {
  HexAutoRules rules;
  rules.macros[0] = {
      true,       "Ping \"1\"",   false,           std::string("PING\r\n\x00\xFF\\", 9),
      HEX_SIDE_B, HEX_FRAME_NONE, HEX_CHECK_CRC16, 1000};
  rules.macros[11] = {true,          "", true, "\x01\x02", HEX_AUTO_TO_SEND, HEX_FRAME_PPP,
                      HEX_CHECK_XOR, 0};
  rules.triggers.push_back(
      {HEX_SIDE_A, "ping", HexPattern::Text, "PING", 0, false, "", -1, 10, false, true});
  rules.triggers.push_back({HEX_SIDE_B, "req", HexPattern::Regex, "\\x02.[0-9\"]+\\\\", -1, true,
                            "\x06", HEX_SIDE_A, 0, true, false});
  rules.triggers.push_back({HEX_SIDE_B, "", HexPattern::Hex, std::string("\x7E\x00", 2), -1, false,
                            "a b", -1, 0, false, true});
  HexAutoRules read;
  std::string why;
  ASSERT_TRUE(hex_auto_parse(hex_auto_format(rules), read, &why)) << why;
  EXPECT_EQ(read, rules);
  EXPECT_EQ(hex_macro_wire(rules.macros[11]), "\x7E\x7D\x21\x7D\x22\x7D\x23\x7E");
}

// Each case as a file of its own, read as the window reads it.
TEST(AutoRules, ReadErrorsNameTheFileTheLineAndTheCause) {
  TempDir dir;
  const std::string big = "# " + std::string(1 << 20, 'x');
  mkdir(dir.file("dir").c_str(), 0700);
  mkfifo(dir.file("fifo").c_str(), 0600);
  ASSERT_EQ(symlink("dir", dir.file("link").c_str()), 0);
  struct Row {
    std::string text;  // written to the file "f"; empty: the path is named below
    const char *error;
    const char *path = "f";
  } rows[] = {
      {"# fine\n\nmacr 1 text=\"x\"",
       "line 3: unknown word 'macr': a line starts with macro or trigger"},
      {"macro 13 text=\"x\"", "line 1: a macro needs its number, 1 to 12, after 'macro'"},
      {"macro 1 text=\"x", "line 1: no closing quote for the quote at character 14"},
      {"macro 1 text=\"\\q\"", "line 1: text: unknown escape '\\q'"},
      {"macro 1 hex=\"0G\"", "line 1: hex: 'G' is not a hex digit"},
      {"macro 1 name=\"n\"", "line 1: a macro needs text= or hex="},
      {"macro 1 text=\"a\" hex=\"01\"", "line 1: a macro has text= or hex=, not both"},
      {"macro 1 text=\"a\" every=5", "line 1: every=5 is below 10 ms"},
      {"macro 1 text=\"a\" frame=SLIP", "line 1: frame=SLIP is not None, HDLC, PPP or ICNI"},
      {"macro 1 text=\"a\" to=C", "line 1: to=C is not A, B or send"},
      {"macro 1 text=\"a\" text=\"b\"", "line 1: 'text' given twice"},
      {"macro 1 text=\"a\"\r\ntrigger C text=\"a\" reply=1",
       "line 2: a trigger needs its side, A or B, after 'trigger'"},
      {"trigger A regex=\"[a-\" reply-text=\"x\"", "line 1: regex: unmatched '[' at character 4"},
      {"trigger A text=\"a\" reply=3\nmacro 3 text=\"b\"\ntrigger B text=\"a\" reply=4",
       "line 3: reply=4 names no macro"},
      {"trigger A text=\"a\"", "line 1: a trigger needs reply=, reply-text= or reply-hex="},
      {"trigger A text=\"a\" reply-text=\"b\" after=x",
       "line 1: after=x is not a number from 0 to 3600000"},
      {"trigger B text=\"a\" reply-text=\"b\" loud", "line 1: unknown word 'loud'"},
      {std::string("macro 1 text=\"a\0\"", 17), "line 1: a NUL byte: not a text file"},
      {big, "larger than 1 MiB"},
      {"", "No such file or directory", "missing"},
      {"", "is a directory", "dir"},
      {"", "is a FIFO", "fifo"},
      {"", "is a symbolic link", "link"},
  };
  for (const Row &row : rows) {
    const std::string path = dir.file(row.path);
    if (!row.text.empty())
      writeFileBytes(path, std::vector<uint8_t>(row.text.begin(), row.text.end()));
    HexAutoRules rules;
    rules.macros[5].defined = true;  // emptied by a failed read
    std::string why;
    EXPECT_FALSE(hex_auto_read(path.c_str(), rules, &why)) << row.text;
    EXPECT_EQ(why, path + ": " + row.error) << row.text;
    EXPECT_EQ(rules, HexAutoRules{}) << row.text;
  }
}

TEST(TriggerGuard, HoldsARuleToAHundredFiringsInAnySecond) {
  HexFireGuard guard;
  const uint32_t ms = 0xFFFFFF00u;  // across the clock's wrap
  for (int i = 0; i < HEX_TRIGGER_RATE_MAX; ++i)
    ASSERT_TRUE(hex_fire_allow(guard, ms + uint32_t(i))) << i;
  EXPECT_FALSE(hex_fire_allow(guard, ms + 999));
  EXPECT_TRUE(guard.held);
  EXPECT_TRUE(hex_fire_allow(guard, ms + 1000));  // the first has left the second
  EXPECT_FALSE(hex_fire_allow(guard, ms + 1000));
  EXPECT_TRUE(hex_fire_allow(guard, ms + 1999));
  EXPECT_TRUE(guard.held);  // refused less than a second ago
  EXPECT_TRUE(hex_fire_allow(guard, ms + 3000));
  EXPECT_FALSE(guard.held);
}
