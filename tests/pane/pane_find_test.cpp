#include "pane/pane_find.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the finder's slices to the end; the number of slices it took.
int finish(PaneFinder &finder, std::int64_t budget) {
  int slices = 1;
  while (finder.step(budget))
    ++slices;
  return slices;
}

}  // namespace

// 10 Mi characters of text or of hex groups with three planted matches:
// each direction finds them in turn from anywhere and around the ends,
// in slices of 1 Mi places, and counts them with the match's number.
TEST(PaneFindTest, FindsEachMatchInTurnBothWaysAroundTheEndsAndCountsThem) {
  constexpr std::int64_t kSize = std::int64_t{10} << 20;
  for (const bool hex : {false, true}) {
    std::string text;
    text.reserve(kSize);
    while (text.size() < kSize)
      text += hex ? " 00 11 22 33 44 55 66 77 E7 7E F7" : "a line of text, and more\r\n";
    std::string pattern, why;
    ASSERT_TRUE(paneFindPattern(hex ? "7eff 7E" : "NEEDLE", hex, true, &pattern, &why));
    const std::vector<std::int64_t> planted = {0, 3 * 1024 * 1024 + 7, kSize - 20};
    for (std::int64_t at : planted)
      text.replace(static_cast<std::size_t>(at), pattern.size(), pattern);
    PaneModel model;
    model.setText(text);
    PaneFinder finder(model);
    finder.setPattern(pattern);
    for (const bool forward : {true, false}) {
      SCOPED_TRACE(testing::Message() << (hex ? "hex" : "text") << (forward ? " forward" : " back"));
      // From the middle: the nearest in the direction, then on around.
      std::int64_t from = 4 * 1024 * 1024;
      int index = forward ? 2 : 1;
      for (int turn = 0; turn < 4; ++turn) {
        finder.find(from, forward);
        EXPECT_GT(finish(finder, 1 << 20), 10);
        ASSERT_EQ(finder.result(), PaneFinder::Result::Found);
        ASSERT_EQ(finder.matchStart(), planted[static_cast<std::size_t>(index)]);
        EXPECT_EQ(finder.matchEnd(), finder.matchStart() + std::int64_t(pattern.size()));
        EXPECT_TRUE(finder.counted());
        EXPECT_EQ(finder.count(), 3);
        EXPECT_EQ(finder.ordinal(), index + 1);
        from = forward ? finder.matchStart() + 1 : finder.matchStart();
        index = (index + (forward ? 1 : 2)) % 3;
      }
    }
  }
}

// Typed hex as the bytes looked for, and what is wrong with it.
TEST(PaneFindTest, HexTextReadsAsBytesOrSaysWhatIsWrong) {
  struct Case {
    const char *typed;
    bool groups;
    const char *pattern;  // nullptr: refused with `why`
    const char *why;
  } cases[] = {
      {"7e ff", true, " 7E FF", ""},
      {"7EFF\t01", false, "\x7E\xFF\x01", ""},
      {"7E F", true, nullptr, "a byte takes two hex digits"},
      {"7 E", false, nullptr, "a byte takes two hex digits"},
      {"7E,FF", true, nullptr, "',' at column 3 is not a hex digit"},
  };
  for (const Case &c : cases) {
    std::string pattern, why;
    EXPECT_EQ(paneFindPattern(c.typed, true, c.groups, &pattern, &why), c.pattern != nullptr);
    EXPECT_EQ(pattern, c.pattern ? c.pattern : "") << c.typed;
    EXPECT_EQ(why, c.why) << c.typed;
  }
}

// The text changing between slices: matches overlap, the count follows
// what arrives, a match whose text was dropped or edited is forgotten and
// the count starts again, and a search with no match says so.
TEST(PaneFindTest, FollowsTheTextAsItGrowsIsDroppedAndEdited) {
  PaneModel model(1024);
  model.append("xaaaa");
  PaneFinder finder(model);
  finder.setPattern("aa");
  finder.find(2, true);
  finish(finder, 1);
  EXPECT_EQ(finder.matchStart(), 2);
  EXPECT_EQ(finder.count(), 3);
  EXPECT_EQ(finder.ordinal(), 2);
  model.append(std::string(600, '-') + "aa");
  EXPECT_FALSE(finder.counted());
  finish(finder, 7);
  EXPECT_EQ(finder.count(), 4);
  EXPECT_EQ(finder.ordinal(), 2);
  model.append(std::string(600, '-'));  // beyond 1024: the head with the matches goes
  finish(finder, 7);
  EXPECT_EQ(finder.matchStart(), -1);
  EXPECT_EQ(finder.count(), 1);
  finder.find(0, false);
  finish(finder, 7);
  const std::int64_t last = finder.matchStart();
  ASSERT_EQ(model.text(last, last + 2), "aa");
  model.deleteRange(last, last + 1);
  finish(finder, 7);
  EXPECT_EQ(finder.matchStart(), -1);
  EXPECT_EQ(finder.count(), 0);
  finder.find(5, true);
  finish(finder, 7);
  EXPECT_EQ(finder.result(), PaneFinder::Result::NotFound);
}
