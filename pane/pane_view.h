// The display pane widget: paints a PaneModel in a fixed-pitch font and
// turns keys and mouse into model operations. It knows nothing of ports.
//
// Rows. With wrapping on, a text line is shown in as many rows as it needs:
// a row ends at the widget's width, after the last blank that fits where
// there is one. Rows are laid out only around what is shown (a long line is
// laid out in independent stretches of a few thousand characters), so the
// last rows of a 32 Mi-character line show at once. With wrapping off (the
// ANSI view) one text line is one row and the pane scrolls horizontally.
//
// Position. The view's position is its top text line plus the row of that
// line at the top (wrapping off: always the line's first row).
// firstVisibleLine() and scrollLines() work in text lines, as the monitor's
// paging expects; a scrollLines() that leaves the top line where it is (for
// instance scrolling up while the top line is line 0) changes nothing, so the
// rows shown of one long line stay put.
//
// Follow mode. After a text change the view stays at the end if it showed
// the end before; if it has been moved away from the end (by the user or the
// program) it stays where it is until it is brought back to the end.
// With wrapping on, keep the caret's line in view with scrollLineToBottom():
// a text line may take many rows there, so "first visible line = caret line
// - 25" would not keep it in view.
//
// Keys. Every key-down (as a Win32 virtual-key code) and every character (as
// its Windows-1252 byte) is first offered to the key filter. The filter
// returns the code the pane acts on: the same code to pass it, another code
// to replace it, 0 to swallow it. A key press gives a key-down and then,
// when it produces one, a character, as on Win32; the character is offered
// even when the key-down was swallowed. What passes is acted on as in an
// editor:
//   key-down: Left 37, Right 39, Up 38, Down 40, Home 36 / End 35 (of the
//     row), Page Up 33 / Page Down 34 (a screen), Backspace 8 (deletes
//     backwards), Delete 46 (deletes forwards); Shift extends the selection
//     on a typed key.
//   character: 0x20..0xFF and TAB are inserted at the caret in the insertion
//     colour, Enter (13) inserts a line break (a LF), Ctrl+A (1) selects
//     all, Ctrl+C (3) copies, Ctrl+V (22) pastes, Ctrl+X (24) cuts; other
//     control characters (Backspace 8, Escape 27, ...) do nothing here.
#pragma once

#include "pane/pane_model.h"
#include "resources/keys.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFont>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QMenu;

enum class PaneKeyKind { KeyDown, Char };

class DisplayPane : public QAbstractScrollArea {
  Q_OBJECT
public:
  using KeyFilter = std::function<int(PaneKeyKind kind, int code)>;

  explicit DisplayPane(QWidget *parent = nullptr,
                       std::int64_t capacity = PaneModel::kDefaultCapacity);
  ~DisplayPane() override;

  PaneModel &model() { return model_; }
  const PaneModel &model() const { return model_; }

  // Wrapping on (default) or off; off also makes the model drop whole
  // screens of 25 lines.
  void setWrap(bool on);
  bool wrap() const { return wrap_; }

  // --- vertical position, in text lines ----------------------------------
  std::int64_t firstVisibleLine() const { return topLine_; }
  // The first character shown (the top row's start).
  std::int64_t firstVisiblePosition() const { return topPos().rowStart; }
  // Scrolls by n text lines (negative: up), clamped to 0 .. last line; the
  // new top line is shown from its first row.
  void scrollLines(std::int64_t n);
  // Makes the last row of `line` the bottom row of the view (as far as the
  // text above allows), unless the user has scrolled away from the end: the
  // wrapped-view form of "first visible line becomes line - 25".
  void scrollLineToBottom(std::int64_t line);
  void scrollToEnd();
  // True when the last row of the text is in view.
  bool showsEnd() const;
  // Follow mode on (default): see above.
  void setFollowMode(bool on) { followMode_ = on; }
  bool followMode() const { return followMode_; }
  // Rows that fit in the view.
  int visibleRows() const;
  // Characters that fit in a row.
  int visibleColumns() const;
  // Scrolls the least needed to show the caret, or a position.
  void ensureCaretVisible();
  void ensureVisible(std::int64_t position);

  // Room kept above the text (the find bar's), in pixels; the view keeps
  // showing the end when it did.
  void reserveTop(int pixels);

  // A stretch of text shown marked (the find bar's match) until it is
  // marked anew, or cleared with -1; it moves with dropped text and goes
  // when the text is edited.
  void setMark(std::int64_t start, std::int64_t end);

  // --- keys ---------------------------------------------------------------
  void setKeyFilter(KeyFilter filter) { filter_ = std::move(filter); }
  // A synthetic key-down offered to the filter like a typed one. Returns the
  // code acted on (0: none).
  int sendKeyDown(int virtualKey);
  // Acts on a navigation or editing key-down as if typed, without the
  // filter.
  void actOnKey(int virtualKey);

  // --- editing --------------------------------------------------------------
  void copy();
  void cut();
  void paste();
  void selectAll();
  void clearText();  // the context menu's Clear: empties the pane

  QFont paneFont() const { return font(); }

signals:
  // The text changed (not only the selection).
  void textChanged();

protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void inputMethodEvent(QInputMethodEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  void wheelEvent(QWheelEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;
  void focusInEvent(QFocusEvent *event) override;
  void focusOutEvent(QFocusEvent *event) override;
  void timerEvent(QTimerEvent *event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool focusNextPrevChild(bool next) override;
  bool event(QEvent *event) override;

private:
  struct Row {  // one shown row: characters [start, end) of text line `line`
    std::int64_t line;
    std::int64_t start;
    std::int64_t end;
  };
  struct Pos {  // a view position: a text line and the start of a row in it
    std::int64_t line;
    std::int64_t rowStart;  // absolute position
  };
  // Rows of one stretch of a line, laid out together.
  struct Segment {
    std::int64_t line, lineStart, lineEnd, start, end;
    std::vector<std::int64_t> rowStarts;
  };

  void onModelChange(const PaneChange &change);
  void actOnKeyDown(int virtualKey, bool shift);
  void actOnChar(int code);
  void offerChar(int code);
  void insertTyped(std::string_view bytes);
  void moveCaret(std::int64_t position, bool extend);
  void deleteBackward();
  void deleteForward();
  void selectWordAt(std::int64_t position);

  // Layout.
  const Segment &segmentAt(std::int64_t line, std::int64_t position) const;
  Row rowOf(const Pos &pos) const;
  Row rowAt(std::int64_t position) const;  // the row holding a position
  Pos posOf(const Row &row) const { return {row.line, row.start}; }
  bool previousRow(Pos &pos) const;
  bool nextRow(Pos &pos) const;
  Pos topPos() const;
  Pos endPos() const;  // the top position that shows the end at the bottom
  std::int64_t positionAt(const QPoint &point) const;
  int columnOf(const Row &row, std::int64_t position) const;
  std::int64_t positionAtColumn(const Row &row, int column) const;
  bool isLastRow(const Pos &pos) const;

  void setTop(Pos pos);
  void updateScrollBars();
  void restartBlink();

  PaneModel model_;
  KeyFilter filter_;
  bool wrap_ = true;
  bool followMode_ = true;
  bool followEnd_ = true;  // the view showed the end at its last move
  std::int64_t topLine_ = 0;
  std::int64_t topOffset_ = 0;  // the top row's start within topLine_
  int leftColumn_ = 0;          // wrapping off: first shown column
  int charWidth_ = 8;
  int lineHeight_ = 16;
  int ascent_ = 12;
  int preferredColumn_ = -1;  // column kept by Up and Down
  bool caretOn_ = false;
  QBasicTimer blink_;
  bool dragging_ = false;
  bool updatingScrollBars_ = false;
  std::uint64_t revision_ = 0;
  std::int64_t markStart_ = -1, markEnd_ = -1;  // counted as droppedTotal() + position
  std::uint64_t markEdits_ = 0;                 // the model's edits() when marked
  mutable std::uint64_t cacheRevision_ = ~std::uint64_t{0};
  mutable int cacheColumns_ = 0;
  mutable std::vector<Segment> cache_;
  // Per byte: its glyph is drawn at the cell width, so it may share a
  // drawText with its neighbours.
  std::array<bool, 256> cellGlyph_{};
};
