#include "pane/pane_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <random>

#include <utility>
#include <vector>

namespace {

using Seen = std::vector<std::pair<PaneKeyKind, int>>;

class PaneViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    pane.resize(480, 16 * 12 + 8);
    pane.show();
    pane.setFocus();
    QApplication::processEvents();
  }

  // Records every key the filter is offered and passes it.
  void recordKeys() {
    pane.setKeyFilter([this](PaneKeyKind kind, int code) {
      seen.emplace_back(kind, code);
      return code;
    });
  }

  std::string numberedLines(int from, int to) {
    std::string text;
    for (int i = from; i < to; ++i)
      text += "line " + std::to_string(i) + "\r\n";
    return text;
  }

  DisplayPane pane;
  Seen seen;
};

}  // namespace

TEST_F(PaneViewTest, FilterSeesKeyDownThenCharacterFirst) {
  recordKeys();
  QTest::keyClick(&pane, Qt::Key_A);
  QTest::keyClick(&pane, Qt::Key_Return);
  QTest::keyClick(&pane, Qt::Key_Left);
  EXPECT_EQ(seen, (Seen{{PaneKeyKind::KeyDown, 65},
                        {PaneKeyKind::Char, 'a'},
                        {PaneKeyKind::KeyDown, 13},
                        {PaneKeyKind::Char, 13},
                        {PaneKeyKind::KeyDown, 37}}));
  EXPECT_EQ(pane.model().text(), "a\n");
  EXPECT_EQ(pane.model().selection().caret, 1);  // Left went over the break
}

TEST_F(PaneViewTest, FilterCanSwallowAndReplaceKeys) {
  pane.model().append("abc");
  pane.model().setCaret(-1);
  // Local echo off: nothing typed reaches the pane.
  pane.setKeyFilter([](PaneKeyKind, int) { return 0; });
  QTest::keyClicks(&pane, "xyz");
  QTest::keyClick(&pane, Qt::Key_Backspace);
  EXPECT_EQ(pane.model().text(), "abc");

  // The monitor's filter: Delete acts as Backspace, Escape is swallowed.
  pane.setKeyFilter([](PaneKeyKind kind, int code) {
    if (kind == PaneKeyKind::KeyDown && code == VK_DELETE)
      return int(VK_BACK);
    if (kind == PaneKeyKind::KeyDown && code == VK_ESCAPE)
      return 0;
    if (kind == PaneKeyKind::Char && code == 'q')
      return int('Q');
    return code;
  });
  QTest::keyClick(&pane, Qt::Key_Delete);
  EXPECT_EQ(pane.model().text(), "ab");
  QTest::keyClick(&pane, Qt::Key_Escape);
  QTest::keyClick(&pane, Qt::Key_Q);
  EXPECT_EQ(pane.model().text(), "abQ");
}

TEST_F(PaneViewTest, TypedTextTakesTheInsertionColour) {
  pane.model().append("rx");
  pane.model().setCaret(-1);
  pane.model().setSelectionColour(0x00FF00);
  QTest::keyClicks(&pane, "t\t");
  EXPECT_EQ(pane.model().text(), "rxt\t");
  EXPECT_EQ(pane.model().colourAt(2), 0x00FF00u);
  EXPECT_TRUE(pane.hasFocus());  // Tab stays in the pane
}

TEST_F(PaneViewTest, BackspaceAndDeleteTakeCrLfAsOneBreak) {
  pane.model().append("ab\r\ncd");
  pane.model().setCaret(4);  // start of "cd"
  QTest::keyClick(&pane, Qt::Key_Backspace);
  EXPECT_EQ(pane.model().text(), "abcd");
  pane.model().setText("ab\r\ncd");
  pane.model().setCaret(2);
  QTest::keyClick(&pane, Qt::Key_Delete);
  EXPECT_EQ(pane.model().text(), "abcd");
}

TEST_F(PaneViewTest, BackdoorKeyGoesThroughTheFilterAndMovesTheCaret) {
  pane.setWrap(false);
  pane.model().append("first line\nsecond\nthird line");
  pane.model().setCaret(pane.model().lineStart(2) + 4);
  int stored = VK_UP;
  pane.setKeyFilter([&](PaneKeyKind kind, int code) {
    seen.emplace_back(kind, code);
    return (kind == PaneKeyKind::KeyDown && code == VK_PROCESSKEY) ? stored : code;
  });
  EXPECT_EQ(pane.sendKeyDown(VK_PROCESSKEY), VK_UP);
  EXPECT_EQ(seen, (Seen{{PaneKeyKind::KeyDown, 229}}));
  EXPECT_EQ(pane.model().selection().caret, pane.model().lineStart(1) + 4);
  stored = VK_RIGHT;
  pane.sendKeyDown(VK_PROCESSKEY);
  EXPECT_EQ(pane.model().selection().caret, pane.model().lineStart(1) + 5);
  // Up on a shorter line keeps the column where it fits.
  pane.model().setCaret(pane.model().lineStart(0) + 9);
  pane.actOnKey(VK_DOWN);
  EXPECT_EQ(pane.model().selection().caret, pane.model().lineEnd(1));
  EXPECT_EQ(seen.size(), 2u);  // actOnKey bypasses the filter
  pane.actOnKey(VK_END);
  EXPECT_EQ(pane.model().selection().caret, pane.model().lineEnd(1));
  pane.actOnKey(VK_HOME);
  EXPECT_EQ(pane.model().selection().caret, pane.model().lineStart(1));
}

TEST_F(PaneViewTest, PageKeysMoveByAScreen) {
  pane.setWrap(false);
  pane.model().append(numberedLines(0, 100));
  pane.model().setCaret(0);
  pane.scrollLines(-1000);
  const int rows = pane.visibleRows();
  pane.actOnKey(VK_NEXT);
  EXPECT_EQ(pane.model().lineFromPosition(pane.model().selection().caret), rows);
  EXPECT_EQ(pane.firstVisibleLine(), rows);
  pane.actOnKey(VK_PRIOR);
  EXPECT_EQ(pane.model().lineFromPosition(pane.model().selection().caret), 0);
  EXPECT_EQ(pane.firstVisibleLine(), 0);
}

TEST_F(PaneViewTest, CopyCutPasteAndSelectAllWithTheClipboard) {
  pane.model().append(std::string("one\r\ntwo\x01\x80", 10));
  pane.model().setSelection(0, 10);
  QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("one\ntwo\u2401\u20AC"));
  pane.model().setSelection(0, 3);
  QTest::keyClick(&pane, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(pane.model().text(), std::string("\r\ntwo\x01\x80", 7));
  pane.model().setCaret(-1);
  QTest::keyClick(&pane, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(pane.model().text(), std::string("\r\ntwo\x01\x80one", 10));
  QGuiApplication::clipboard()->setText(QString::fromUtf8("\u2401\u20AC\n"));
  QTest::keyClick(&pane, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(pane.model().text(), std::string("\r\ntwo\x01\x80one\x01\x80\n", 13));
  QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(pane.model().selection(), (PaneSelection{0, 13}));
}

TEST_F(PaneViewTest, FollowsAppendedTextUnlessScrolledAway) {
  pane.model().append(numberedLines(0, 200));
  EXPECT_TRUE(pane.showsEnd());
  pane.model().append(numberedLines(200, 300));
  EXPECT_TRUE(pane.showsEnd());
  EXPECT_GT(pane.firstVisibleLine(), 280);

  pane.scrollLines(-100);  // the user reads further up
  const std::int64_t reading = pane.firstVisibleLine();
  EXPECT_FALSE(pane.showsEnd());
  pane.model().append(numberedLines(300, 400));
  EXPECT_EQ(pane.firstVisibleLine(), reading);
  pane.scrollLineToBottom(pane.model().lineCount() - 1);  // ignored while reading
  EXPECT_EQ(pane.firstVisibleLine(), reading);

  pane.scrollToEnd();  // back at the end: following again
  pane.model().append(numberedLines(400, 450));
  EXPECT_TRUE(pane.showsEnd());
  pane.setFollowMode(false);
  pane.scrollLines(-10);
  pane.scrollLineToBottom(pane.model().lineCount() - 1);
  EXPECT_TRUE(pane.showsEnd());
}

TEST_F(PaneViewTest, EndOfAnEndlessLineShowsAtOnce) {
  std::string hex;
  for (int i = 0; i < 1 << 18; ++i)
    hex += " 3A";
  for (int i = 0; i < 4; ++i)
    pane.model().append(hex);  // 3 Mi characters
  EXPECT_EQ(pane.model().lineCount(), 1);
  EXPECT_TRUE(pane.showsEnd());
  EXPECT_EQ(pane.firstVisibleLine(), 0);
  pane.scrollLines(-25);  // the monitor's paging: the line does not change
  EXPECT_TRUE(pane.showsEnd());
  QImage image = pane.grab().toImage();
  EXPECT_FALSE(image.isNull());
  // Rows break at blanks: every row but the first starts with the digits.
  const std::int64_t caretBefore = pane.model().selection().caret;
  pane.model().setCaret(-1);
  pane.actOnKey(VK_HOME);
  const std::int64_t rowStart = pane.model().selection().caret;
  EXPECT_EQ(pane.model().charAt(rowStart), '3');
  EXPECT_NE(caretBefore, rowStart);
  // Across many rows (and layout stretches) no group is split.
  for (int i = 0; i < 300; ++i) {
    pane.actOnKey(VK_UP);
    const std::int64_t caret = pane.model().selection().caret;
    ASSERT_EQ(pane.model().charAt(caret), '3') << i;
    ASSERT_EQ(pane.model().charAt(caret - 1), ' ') << i;
  }
}

TEST_F(PaneViewTest, WrappingOffShowsLinesAsRowsAndScrollsByLines) {
  pane.setWrap(false);
  EXPECT_TRUE(pane.model().dropWholeScreens());
  pane.model().append(numberedLines(0, 60) + std::string(500, 'w'));
  pane.scrollLines(-100);
  EXPECT_EQ(pane.firstVisibleLine(), 0);
  pane.scrollLines(25);
  EXPECT_EQ(pane.firstVisibleLine(), 25);
  pane.scrollLines(1000);
  EXPECT_EQ(pane.firstVisibleLine(), 60);
  pane.setWrap(true);
  EXPECT_FALSE(pane.model().dropWholeScreens());
}

TEST_F(PaneViewTest, DroppedTextKeepsTheViewOnTheSameLines) {
  DisplayPane small(nullptr, 4000);
  small.resize(400, 200);
  small.setWrap(false);
  small.model().append(numberedLines(0, 300));
  small.scrollLines(-1000);
  small.scrollLines(250);  // away from the end
  ASSERT_FALSE(small.showsEnd());
  auto topText = [&] {
    const std::int64_t top = small.firstVisibleLine();
    return small.model().text(small.model().lineStart(top), small.model().lineEnd(top));
  };
  EXPECT_EQ(topText(), "line 250");
  small.model().append(numberedLines(300, 500));  // forces a drop
  ASSERT_GT(small.model().droppedTotal(), 0);
  EXPECT_LT(small.firstVisibleLine(), 250);
  EXPECT_EQ(topText(), "line 250");
}

TEST_F(PaneViewTest, MouseClickPlacesTheCaretAndDoubleClickSelectsAWord) {
  pane.model().append("alpha beta\ngamma delta");
  pane.scrollLines(-10);
  QFontMetrics metrics(pane.paneFont());
  const int w = metrics.horizontalAdvance(QLatin1Char('M'));
  const int h = metrics.height();
  QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(2 * w + 1, h + h / 2));
  EXPECT_EQ(pane.model().selection().caret, 11 + 2);
  QTest::mouseClick(pane.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(8 * w + 1, h / 2));
  EXPECT_EQ(pane.model().selection(), (PaneSelection{13, 8}));
  QTest::mouseDClick(pane.viewport(), Qt::LeftButton, {}, QPoint(7 * w, h + h / 2));
  EXPECT_EQ(pane.model().selectedText(), "delta");
}

TEST_F(PaneViewTest, WrappedLinesKeepTheCaretLineAtTheBottom) {
  // Lines of 200 characters take several rows each.
  std::string text;
  for (int i = 0; i < 40; ++i)
    text += std::to_string(i % 10) + std::string(199, 'a' + i % 26) + "\n";
  pane.model().append(text);
  const std::int64_t last = pane.model().lineCount() - 1;
  pane.scrollLineToBottom(last);
  EXPECT_TRUE(pane.showsEnd());
  const int rowsPerLine = (200 + pane.visibleColumns() - 1) / pane.visibleColumns();
  ASSERT_GT(rowsPerLine, 1);
  // Line 30 ends at the bottom: the lines above it fill the rest.
  pane.scrollLineToBottom(30);
  EXPECT_FALSE(pane.showsEnd());
  const std::int64_t top = pane.firstVisibleLine();
  EXPECT_LE(top, 30);
  EXPECT_GE(top, 30 - pane.visibleRows() / rowsPerLine - 1);
  // Now away from the end, appended text leaves the view alone.
  pane.model().append("more\n");
  EXPECT_EQ(pane.firstVisibleLine(), top);
}

TEST_F(PaneViewTest, WheelScrollsAndStopsFollowing) {
  pane.model().append(numberedLines(0, 100));
  ASSERT_TRUE(pane.showsEnd());
  const std::int64_t atEnd = pane.firstVisibleLine();
  QWheelEvent up(QPointF(10, 10), pane.viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                 QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(pane.viewport(), &up);
  EXPECT_EQ(pane.firstVisibleLine(), atEnd - 6);  // three rows a notch
  pane.model().append(numberedLines(100, 110));
  EXPECT_EQ(pane.firstVisibleLine(), atEnd - 6);
  QWheelEvent down(QPointF(10, 10), pane.viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                   QPoint(0, -120 * 20), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(pane.viewport(), &down);
  EXPECT_TRUE(pane.showsEnd());
  pane.model().append(numberedLines(110, 150));
  EXPECT_TRUE(pane.showsEnd());
}

TEST_F(PaneViewTest, DragSelects) {
  pane.model().append("alpha beta\ngamma delta");
  QFontMetrics metrics(pane.paneFont());
  const int w = metrics.horizontalAdvance(QLatin1Char('M'));
  const int h = metrics.height();
  QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, QPoint(1, h / 2));
  QMouseEvent move(QEvent::MouseMove, QPointF(3 * w + 1, h + h / 2),
                   pane.viewport()->mapToGlobal(QPointF(3 * w + 1, h + h / 2)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(pane.viewport(), &move);
  QTest::mouseRelease(pane.viewport(), Qt::LeftButton, {}, QPoint(3 * w + 1, h + h / 2));
  EXPECT_EQ(pane.model().selectedText(), "alpha beta\ngam");
}

TEST_F(PaneViewTest, RowsWalkedDownAndUpAgree) {
  // A long line of words (many layout stretches), short lines, a TAB line.
  std::mt19937 random(3);
  std::string text;
  for (int i = 0; i < 4000; ++i) {
    text += std::string(1 + random() % 9, 'a' + random() % 26);
    text += random() % 50 == 0 ? std::string(70, 'X') : std::string(" ");
  }
  text += "\nshort\n\tx\tyy\t\r\nend";
  pane.model().append(text);
  pane.model().setCaret(0);
  std::vector<std::int64_t> down{0};
  for (;;) {
    pane.actOnKey(VK_DOWN);
    const std::int64_t caret = pane.model().selection().caret;
    if (caret == down.back())
      break;
    ASSERT_GT(caret, down.back());
    down.push_back(caret);
  }
  ASSERT_GT(down.size(), 300u);
  std::vector<std::int64_t> up{down.back()};
  for (;;) {
    pane.actOnKey(VK_UP);
    const std::int64_t caret = pane.model().selection().caret;
    if (caret == up.back())
      break;
    up.push_back(caret);
  }
  std::reverse(up.begin(), up.end());
  EXPECT_EQ(up, down);
  // A row never holds more than fits, and wraps after a blank where it can.
  const int cols = pane.visibleColumns();
  for (std::size_t i = 1; i + 1 < down.size(); ++i) {
    const std::int64_t line = pane.model().lineFromPosition(down[i]);
    if (pane.model().lineStart(line) == down[i])
      continue;
    ASSERT_LE(down[i] - down[i - 1], cols + 1) << i;
    const char before = static_cast<char>(pane.model().charAt(down[i] - 1));
    if (before != ' ') {
      EXPECT_EQ(before, 'X') << i;
    }
  }
}

TEST_F(PaneViewTest, EndlessLineWithoutWrappingScrollsSideways) {
  // The terminal view with a peer that never sends a line feed.
  pane.setWrap(false);
  std::string text = "\tstart";
  for (int i = 0; i < 200000; ++i)
    text += "abcde";
  pane.model().append(text);
  pane.model().setCaret(-1);
  pane.actOnKey(VK_LEFT);  // brings the caret, near the end, into view
  const std::int64_t caret = pane.model().selection().caret;
  EXPECT_EQ(caret, pane.model().length() - 1);
  EXPECT_GT(pane.horizontalScrollBar()->value(), 900000);
  EXPECT_FALSE(pane.grab().isNull());
  // A click lands on the character under the mouse: columns are offsets.
  QFontMetrics metrics(pane.paneFont());
  const int w = metrics.horizontalAdvance(QLatin1Char('M'));
  QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(0, metrics.height() / 2));
  EXPECT_EQ(pane.model().selection().caret, pane.horizontalScrollBar()->value());
  QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(3 * w + 1, metrics.height() / 2));
  EXPECT_EQ(pane.model().selection().caret, pane.horizontalScrollBar()->value() + 3);
  pane.actOnKey(VK_HOME);
  EXPECT_EQ(pane.model().selection().caret, 0);
  EXPECT_EQ(pane.horizontalScrollBar()->value(), 0);
}

TEST_F(PaneViewTest, PaintsEachCharacterInItsCellWithItsColourAndSelection) {
  constexpr PaneColour kRed = 0x0000FF, kBlue = 0xFF0000;
  PaneModel &model = pane.model();
  model.setSelectionColour(kBlue);
  model.append("ab\tc");  // the TAB fills columns 2..7, c is at 8
  model.setSelectionColour(kRed);
  model.append("\x01\x01x");  // two control pictures at 9 and 10, x at 11
  model.setSelection(1, 3);   // b and the TAB
  const QFontMetrics metrics(pane.paneFont());
  const int w = metrics.horizontalAdvance(QLatin1Char('M'));
  const int h = metrics.height();
  const QImage image = pane.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_GE(image.width(), 13 * w);
  const QColor highlight = pane.palette().color(QPalette::Highlight);
  // Pixels of a cell of the first row that pass a test.
  auto count = [&](int column, auto &&test) {
    int n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = column * w; x < (column + 1) * w; ++x)
        if (test(QColor(image.pixel(x, y))))
          ++n;
    return n;
  };
  auto lit = [&](const QColor &c) { return c == highlight; };
  auto reddish = [](const QColor &c) { return c.red() - std::max(c.green(), c.blue()) > 60; };
  auto bluish = [](const QColor &c) { return c.blue() - std::max(c.green(), c.red()) > 60; };

  EXPECT_EQ(count(0, lit), 0);
  EXPECT_GT(count(0, bluish), 0);             // a
  EXPECT_GT(count(1, lit), w * h / 2);        // b, selected
  for (int column = 2; column < 8; ++column)  // the TAB's blanks, selected
    EXPECT_EQ(count(column, lit), w * h) << column;
  EXPECT_EQ(count(8, lit), 0);
  EXPECT_GT(count(8, bluish), 0);  // c
  for (int column = 0; column < 9; ++column)
    EXPECT_EQ(count(column, reddish), 0) << column;
  EXPECT_GT(count(11, reddish), 0);  // x behind the pictures
  EXPECT_EQ(count(12, reddish), 0);
  EXPECT_EQ(count(12, bluish), 0);
}
