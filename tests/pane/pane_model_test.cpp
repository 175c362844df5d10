#include "pane/pane_model.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr PaneColour kBlue = 0xFF0000;  // COLORREF of pure blue
constexpr PaneColour kNavy = 0x7F0000;
constexpr PaneColour kGreen = 0x00FF00;

// Line starts of a plain string by the pane's rules, for cross-checks.
std::vector<std::int64_t> referenceLineStarts(const std::string &text) {
  std::vector<std::int64_t> starts{0};
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
      starts.push_back(static_cast<std::int64_t>(i + 1));
  }
  return starts;
}

void expectLinesMatch(const PaneModel &model, const std::string &text) {
  auto starts = referenceLineStarts(text);
  ASSERT_EQ(model.lineCount(), static_cast<std::int64_t>(starts.size()));
  for (std::size_t line = 0; line < starts.size(); ++line) {
    ASSERT_EQ(model.lineStart(line), starts[line]) << "line " << line;
  }
  for (std::int64_t p = 0; p <= static_cast<std::int64_t>(text.size()); p += 1 + p / 7) {
    auto it = std::upper_bound(starts.begin(), starts.end(), p);
    ASSERT_EQ(model.lineFromPosition(p), (it - starts.begin()) - 1) << "position " << p;
  }
}

std::string hexGroups(std::size_t bytes, unsigned seed = 1) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < bytes; ++i) {
    unsigned v = random() & 0xFF;
    out += ' ';
    out += digits[v >> 4];
    out += digits[v & 15];
  }
  return out;
}

}  // namespace

TEST(PaneModelLines, EveryKindOfBreak) {
  PaneModel model;
  model.append("one\ntwo\r\nthree\rfour");
  EXPECT_EQ(model.lineCount(), 4);
  EXPECT_EQ(model.lineStart(1), 4);
  EXPECT_EQ(model.lineStart(2), 9);
  EXPECT_EQ(model.lineStart(3), 15);
  EXPECT_EQ(model.lineLength(0), 3);
  EXPECT_EQ(model.lineLength(1), 3);  // the CR LF pair is not counted
  EXPECT_EQ(model.lineLength(2), 5);
  EXPECT_EQ(model.lineLength(3), 4);
  EXPECT_EQ(model.lineFromPosition(7), 1);  // the CR of CR LF
  EXPECT_EQ(model.lineFromPosition(8), 1);  // its LF
  EXPECT_EQ(model.lineFromPosition(9), 2);
  EXPECT_EQ(model.lineFromPosition(1000), 3);
  EXPECT_EQ(model.lineStart(4), -1);
  EXPECT_EQ(model.lineLength(4), 0);
  EXPECT_EQ(model.lineEnd(1), 7);
}

TEST(PaneModelLines, CrAtTheEndJoinsALaterLf) {
  PaneModel model;
  model.append("ab\r");
  EXPECT_EQ(model.lineCount(), 2);  // a lone CR ends the line for now
  model.append("\ncd");
  EXPECT_EQ(model.lineCount(), 2);  // CR LF is one break
  EXPECT_EQ(model.lineStart(1), 4);
  EXPECT_EQ(model.lineLength(0), 2);
}

TEST(PaneModelLines, EmptyTextAndTrailingBreak) {
  PaneModel model;
  EXPECT_EQ(model.lineCount(), 1);
  EXPECT_EQ(model.lineStart(0), 0);
  EXPECT_EQ(model.lineLength(0), 0);
  EXPECT_EQ(model.lineFromPosition(0), 0);
  model.append("x\n");
  EXPECT_EQ(model.lineCount(), 2);
  EXPECT_EQ(model.lineStart(1), 2);
  EXPECT_EQ(model.lineLength(1), 0);
}

TEST(PaneModelLines, BreaksAcrossBlockBoundaries) {
  // Blocks hold 32 Ki characters; put CR LF pairs right on the boundaries.
  PaneModel model;
  std::string text(32 * 1024 - 1, 'a');
  text += '\r';
  model.append(text);
  model.append("\nb\r");
  model.append(std::string(40000, 'c') + "\r");
  model.append("\n");
  text += "\nb\r" + std::string(40000, 'c') + "\r\n";
  EXPECT_EQ(model.text(), text);
  expectLinesMatch(model, text);
}

TEST(PaneModelLines, TextPutBetweenCrAndLfOnABlockBoundary) {
  // The CR ends the first block, the LF starts the second; text put in
  // between parts them into two breaks, and taking it out joins them again.
  PaneModel model;
  std::string text(32 * 1024 - 1, 'a');
  text += '\r';
  model.append(text);
  model.append("\nb");
  text += "\nb";
  expectLinesMatch(model, text);
  const std::int64_t between = 32 * 1024;
  model.setCaret(between);
  model.replaceSelection("x");
  text.insert(static_cast<std::size_t>(between), "x");
  EXPECT_EQ(model.text(), text);
  EXPECT_EQ(model.lineCount(), 3);
  expectLinesMatch(model, text);
  model.deleteRange(between, between + 1);
  text.erase(static_cast<std::size_t>(between), 1);
  EXPECT_EQ(model.lineCount(), 2);
  expectLinesMatch(model, text);
}

TEST(PaneModelLines, CharacterByCharacterAcrossBlocks) {
  // Single characters appended one by one, CR and LF among them, fill
  // several blocks; the lines are those of the whole text.
  PaneModel model;
  std::string text;
  const char pattern[] = "ab\r\ncd\ref\n\r";
  for (int i = 0; i < 3 * 32 * 1024 + 77; ++i) {
    const char c = pattern[i % (sizeof pattern - 1)];
    model.append(std::string_view(&c, 1));
    text += c;
  }
  EXPECT_EQ(model.text(), text);
  expectLinesMatch(model, text);
}

TEST(PaneModelText, InsertInTheMiddleAndAtTheEnd) {
  PaneModel model;
  model.replaceSelection("hello world");
  EXPECT_EQ(model.selection(), (PaneSelection{11, 11}));
  model.setSelection(5, 5);
  model.replaceSelection(",\n");
  EXPECT_EQ(model.text(), "hello,\n world");
  EXPECT_EQ(model.selection(), (PaneSelection{7, 7}));
  EXPECT_EQ(model.lineCount(), 2);
  model.setSelection(0, 5);
  EXPECT_EQ(model.selectedText(), "hello");
  model.replaceSelection("bye");
  EXPECT_EQ(model.text(), "bye,\n world");
  model.append("!");
  EXPECT_EQ(model.text(), "bye,\n world!");
  EXPECT_EQ(model.selection(), (PaneSelection{3, 3}));  // append leaves it
}

TEST(PaneModelText, DeleteAcrossLinesMovesTheSelection) {
  PaneModel model;
  model.append("line0\nline1\r\nline2\nline3");
  model.setSelection(20, 24);
  model.deleteRange(3, 15);  // from inside line 0 to inside line 2
  EXPECT_EQ(model.text(), "linne2\nline3");
  EXPECT_EQ(model.lineCount(), 2);
  EXPECT_EQ(model.selection(), (PaneSelection{8, 12}));
  model.setSelection(2, 5);
  model.deleteRange(5, 1);  // order free; selection inside collapses
  EXPECT_EQ(model.text(), "l2\nline3");
  EXPECT_EQ(model.selection(), (PaneSelection{1, 1}));
  model.deleteRange(-5, 100);
  EXPECT_EQ(model.length(), 0);
  EXPECT_EQ(model.lineCount(), 1);
}

TEST(PaneModelText, SetTextEmptiesAndResetsTheColour) {
  PaneModel model;
  model.setSelectionColour(kBlue);
  model.replaceSelection("abc\ndef");
  model.setText({});
  EXPECT_EQ(model.length(), 0);
  EXPECT_EQ(model.lineCount(), 1);
  EXPECT_EQ(model.selection(), (PaneSelection{0, 0}));
  EXPECT_EQ(model.insertionColour(), kPaneDefaultColour);
  model.setText("xy\nz");
  EXPECT_EQ(model.selection(), (PaneSelection{4, 4}));
  EXPECT_EQ(model.lineCount(), 2);
}

TEST(PaneModelColour, InsertionColourAndRecolouring) {
  PaneModel model;
  EXPECT_EQ(model.insertionColour(), kGreen);
  model.replaceSelection("g");
  model.setSelectionColour(kBlue);  // empty selection: next text
  model.replaceSelection("bb");
  model.setSelectionColour(kNavy);
  model.append("nn");
  EXPECT_EQ(model.colourAt(0), kGreen);
  EXPECT_EQ(model.colourAt(1), kBlue);
  EXPECT_EQ(model.colourAt(2), kBlue);
  EXPECT_EQ(model.colourAt(3), kNavy);
  model.setSelection(0, 2);  // recolour "gb"
  model.setSelectionColour(0x123456);
  EXPECT_EQ(model.colourAt(0), 0x123456u);
  EXPECT_EQ(model.colourAt(1), 0x123456u);
  EXPECT_EQ(model.colourAt(2), kBlue);
  // An empty selection behind a character takes over its colour.
  model.setCaret(3);
  EXPECT_EQ(model.insertionColour(), kBlue);
  model.replaceSelection("x");
  EXPECT_EQ(model.colourAt(3), kBlue);
  std::vector<PaneColour> colours(6);
  EXPECT_EQ(model.read(0, 10, nullptr, colours.data()), 6);
  EXPECT_EQ(colours[5], kNavy);
}

TEST(PaneModelColour, ManyColoursStayUsable) {
  PaneModel model;
  for (PaneColour c = 0; c < 400; ++c) {
    model.setSelectionColour(c * 0x010101u);
    model.append("x");
  }
  EXPECT_EQ(model.colourAt(0), 0u);
  EXPECT_EQ(model.colourAt(100), 100u * 0x010101u);
  // Past the palette's room the nearest held colour is used.
  PaneColour late = model.colourAt(399);
  EXPECT_LT(late & 0xFF, 256u);
  EXPECT_EQ(model.length(), 400);
}

TEST(PaneModelDrop, HexGroupsAreNeverSplit) {
  PaneModel model(3000);
  for (unsigned chunk = 0; chunk < 20; ++chunk) {
    model.append(hexGroups(100, chunk));  // 300 characters a chunk
    ASSERT_LE(model.length(), 3000);
    std::string text = model.text();
    ASSERT_EQ(text.size() % 3, 0u);
    ASSERT_EQ(text[0], ' ');
    for (std::size_t i = 0; i < text.size(); i += 3)
      ASSERT_EQ(text[i], ' ') << i;
  }
  EXPECT_GT(model.droppedTotal(), 0);
  EXPECT_EQ(model.droppedTotal() % 3, 0);
}

TEST(PaneModelDrop, DropsInLargeSteps) {
  PaneModel model(4096);
  int drops = 0;
  model.setListener([&](const PaneChange &change) {
    if (change.kind == PaneChange::Kind::Dropped) {
      ++drops;
      EXPECT_GE(change.count, 1024 - 2);  // a quarter of the capacity
    }
  });
  for (int i = 0; i < 100; ++i)
    model.append(hexGroups(30, i));  // 9000 chars
  EXPECT_LE(drops, 5);
  EXPECT_GE(drops, 2);
}

TEST(PaneModelDrop, WholeScreensWhenWrappingIsOff) {
  PaneModel model(4000);
  model.setDropWholeScreens(true);
  std::int64_t droppedLines = 0;
  model.setListener([&](const PaneChange &change) {
    if (change.kind == PaneChange::Kind::Dropped) {
      droppedLines += change.lines;
      EXPECT_EQ(change.lines % 25, 0);
      EXPECT_EQ(change.position, 0);  // cut at a line start
    }
  });
  for (int line = 0; line < 500; ++line) {
    std::string text = "line " + std::to_string(line) + "\r\n";
    model.append(text);
  }
  EXPECT_LE(model.length(), 4000);
  EXPECT_GT(droppedLines, 0);
  // The first remaining line is one whose number was a multiple of 25.
  std::string first = model.text(0, model.lineEnd(0));
  int number = std::stoi(first.substr(5));
  EXPECT_EQ(number % 25, 0);
  EXPECT_EQ(number, droppedLines);
}

TEST(PaneModelDrop, OneEndlessLineStillStaysBounded) {
  PaneModel model(2048);
  model.setDropWholeScreens(true);
  for (int i = 0; i < 50; ++i)
    model.append(std::string(200, 'a' + i % 26));
  EXPECT_LE(model.length(), 2048);
  EXPECT_EQ(model.lineCount(), 1);
}

TEST(PaneModelDrop, SelectionMovesWithTheText) {
  PaneModel model(2048);
  model.append(std::string(2000, 'x'));
  model.setSelection(1500, 1600);
  model.setSelectionColour(kBlue);
  model.append(std::string(100, 'y'));  // over the cap
  const std::int64_t dropped = model.droppedTotal();
  ASSERT_GT(dropped, 0);
  EXPECT_EQ(model.selection(), (PaneSelection{1500 - dropped, 1600 - dropped}));
  EXPECT_EQ(model.colourAt(1500 - dropped), kBlue);
  model.setSelection(0, 10);
  model.append(std::string(2000, 'z'));  // drops the selected text: clamps
  EXPECT_EQ(model.selection(), (PaneSelection{0, 0}));
}

TEST(PaneModelDrop, FrameLinesAreCutAtALineStart) {
  PaneModel model(8192);
  for (int i = 0; i < 400; ++i)
    model.append("A 12:00:00.000" + hexGroups(22, i) + "\r\n");
  EXPECT_EQ(model.text(0, 2), "A ");
}

TEST(PaneModelConsistency, RandomEditsMatchAPlainString) {
  // Cross-check every operation against a plain string, across blocks.
  std::mt19937 random(7);
  PaneModel model;
  std::string reference;
  const char alphabet[] = "ab \r\n\r\n\txyz";
  auto randomText = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
      s += alphabet[random() % (sizeof alphabet - 1)];
    return s;
  };
  for (int step = 0; step < 400; ++step) {
    const std::int64_t length = static_cast<std::int64_t>(reference.size());
    switch (random() % 4) {
    case 0: {
      std::string s = randomText(random() % 3 == 0 ? 20000 : random() % 50);
      model.append(s);
      reference += s;
      break;
    }
    case 1: {
      std::int64_t at = length ? random() % (length + 1) : 0;
      std::string s = randomText(random() % 3000);
      model.setCaret(at);
      model.replaceSelection(s);
      reference.insert(static_cast<std::size_t>(at), s);
      ASSERT_EQ(model.selection().caret, at + static_cast<std::int64_t>(s.size()));
      break;
    }
    case 2: {
      if (!length)
        break;
      std::int64_t a = random() % length, b = a + random() % 5000;
      model.deleteRange(a, b);
      reference.erase(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a));
      break;
    }
    default: {
      if (!length)
        break;
      std::int64_t a = random() % length, b = random() % length;
      model.setSelection(a, b);
      ASSERT_EQ(model.selectedText(), reference.substr(std::min(a, b), std::llabs(a - b)));
      break;
    }
    }
    ASSERT_EQ(model.length(), static_cast<std::int64_t>(reference.size()));
    if (step % 20 == 0) {
      ASSERT_EQ(model.text(), reference);
      expectLinesMatch(model, reference);
    }
  }
  ASSERT_EQ(model.text(), reference);
  expectLinesMatch(model, reference);
  // A full model of such edits stays within its memory budget.
  EXPECT_LE(model.memoryBytes(), 4 * static_cast<std::size_t>(model.length()) + 65536);
}

TEST(PaneModelMemory, AppendedTextCostsFewBytesPerCharacter) {
  PaneModel model(1 << 22);
  for (int i = 0; i < 200; ++i)
    model.append(hexGroups(8192, i));
  EXPECT_LE(model.length(), 1 << 22);
  const double perChar = double(model.memoryBytes()) / double(model.length());
  EXPECT_LT(perChar, 2.5);
}

TEST(PaneModelMemory, EvenATextOfLineBreaksStaysWithinFourBytesPerCharacter) {
  PaneModel model(1 << 21);
  std::string breaks(100000, '\n');
  for (int i = 0; i < 30; ++i)
    model.append(breaks);
  EXPECT_EQ(model.lineCount(), model.length() + 1);
  EXPECT_LE(double(model.memoryBytes()) / double(model.length()), 4.05);
  EXPECT_EQ(model.lineStart(model.lineCount() - 1), model.length());
}
