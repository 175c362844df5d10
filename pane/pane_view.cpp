#include "pane/pane_view.h"

#include "resources/glyphs.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimerEvent>
#include <QWheelEvent>

#include <algorithm>

namespace {

// A long line is laid out in independent stretches of this many rows' worth
// of characters, counted from a fixed grid (positions since the pane was
// made), so showing any part of it lays out only a few thousand characters
// and dropping old text does not move the grid.
constexpr std::int64_t kSegmentRows = 64;
constexpr int kBlinkMs = 500;
// In rows longer than this (only with wrapping off) a TAB counts as one
// column, so that columns are plain offsets and a row of millions of
// characters is never read from its start to find one.
constexpr std::int64_t kLongRow = 1 << 16;

QColor fromColourRef(PaneColour c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

int virtualKeyOf(const QKeyEvent *event) {
  const int key = event->key();
  switch (key) {
  case Qt::Key_Backspace:
    return VK_BACK;
  case Qt::Key_Tab:
  case Qt::Key_Backtab:
    return VK_TAB;
  case Qt::Key_Return:
  case Qt::Key_Enter:
    return VK_RETURN;
  case Qt::Key_Escape:
    return VK_ESCAPE;
  case Qt::Key_PageUp:
    return VK_PRIOR;
  case Qt::Key_PageDown:
    return VK_NEXT;
  case Qt::Key_End:
    return VK_END;
  case Qt::Key_Home:
    return VK_HOME;
  case Qt::Key_Left:
    return VK_LEFT;
  case Qt::Key_Up:
    return VK_UP;
  case Qt::Key_Right:
    return VK_RIGHT;
  case Qt::Key_Down:
    return VK_DOWN;
  case Qt::Key_Delete:
    return VK_DELETE;
  case Qt::Key_Insert:
    return VK_INSERT;
  case Qt::Key_Space:
    return VK_SPACE;
  case Qt::Key_Shift:
    return VK_SHIFT;
  case Qt::Key_Control:
    return VK_CONTROL;
  case Qt::Key_Alt:
    return VK_MENU;
  default:
    break;
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z)
    return key;  // same codes
  if (key >= Qt::Key_0 && key <= Qt::Key_9)
    return key;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
    return VK_F1 + (key - Qt::Key_F1);
  return 0;  // no Win32 counterpart worth reporting
}

bool isBlank(std::uint8_t c) { return c == ' ' || c == '\t'; }

}  // namespace

DisplayPane::DisplayPane(QWidget *parent, std::int64_t capacity)
    : QAbstractScrollArea(parent), model_(capacity) {
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSize(10);
  fixed.setStyleHint(QFont::TypeWriter);
  setFont(fixed);
  QFontMetrics metrics(fixed);
  charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
  lineHeight_ = std::max(1, metrics.height());
  ascent_ = metrics.ascent();
  // Glyphs the font has, as wide as its ASCII letters, keep to the cells
  // when drawn in a string with others.
  const QFontMetricsF exact(fixed);
  const qreal cell = exact.horizontalAdvance(QLatin1Char('M'));
  for (int byte = 0; byte < 256; ++byte) {
    const char32_t glyph = paneGlyph(static_cast<std::uint8_t>(byte));
    cellGlyph_[static_cast<std::size_t>(byte)] =
        glyph < 0x80 ||
        (exact.inFontUcs4(glyph) && exact.horizontalAdvance(QString::fromUcs4(&glyph, 1)) == cell);
  }

  // The background is the window colour, as the monitor's pane has it.
  QPalette colours = viewport()->palette();
  colours.setColor(QPalette::Base, palette().color(QPalette::Window));
  viewport()->setPalette(colours);
  viewport()->setAutoFillBackground(false);
  viewport()->setCursor(Qt::IBeamCursor);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  model_.setListener([this](const PaneChange &change) { onModelChange(change); });
  updateScrollBars();
}

DisplayPane::~DisplayPane() { model_.setListener({}); }

// --- layout ------------------------------------------------------------------

int DisplayPane::visibleRows() const { return std::max(1, viewport()->height() / lineHeight_); }

int DisplayPane::visibleColumns() const { return std::max(1, viewport()->width() / charWidth_); }

const DisplayPane::Segment &DisplayPane::segmentAt(std::int64_t line, std::int64_t position) const {
  const int cols = visibleColumns();
  if (cacheRevision_ != revision_ || cacheColumns_ != cols) {
    cache_.clear();
    cacheRevision_ = revision_;
    cacheColumns_ = cols;
  }
  const std::int64_t lineStart = model_.lineStart(line);
  const std::int64_t lineEnd = model_.lineEnd(line);
  position = std::clamp(position, lineStart, lineEnd);
  if (position == lineEnd && position > lineStart)
    --position;  // last row

  std::int64_t start = lineStart, end = lineEnd;
  if (wrap_) {
    // A stretch starts at a grid point moved on to just behind a blank
    // within a row's width, so stretches never split a word or a hex group
    // where the text allows.
    auto snap = [&](std::int64_t point) {
      if (point <= lineStart)
        return lineStart;
      if (point >= lineEnd)
        return lineEnd;
      const std::int64_t n = std::min<std::int64_t>(lineEnd - point, cols) + 1;
      std::uint8_t around[1024];
      std::vector<std::uint8_t> big;
      std::uint8_t *chars = around;
      if (n > static_cast<std::int64_t>(sizeof around)) {
        big.resize(static_cast<std::size_t>(n));
        chars = big.data();
      }
      model_.read(point - 1, n, chars, nullptr);
      for (std::int64_t i = 0; i < n; ++i)
        if (isBlank(chars[i]))
          return point + i;  // i: index of the blank
      return point;
    };
    const std::int64_t span = kSegmentRows * cols;
    const std::int64_t dropped = model_.droppedTotal();
    const std::int64_t grid = (position + dropped) / span * span - dropped;
    start = snap(grid);
    if (position < start) {
      end = start;
      start = snap(grid - span);
    } else {
      end = snap(grid + span);
    }
  }
  for (const Segment &segment : cache_)
    if (segment.line == line && segment.start == start)
      return segment;

  Segment segment{line, lineStart, lineEnd, start, end, {start}};
  if (wrap_ && end - start > cols) {
    std::vector<std::uint8_t> chars(static_cast<std::size_t>(end - start));
    model_.read(start, end - start, chars.data(), nullptr);
    // Greedy wrapping: a row ends after the last blank that fits, or at the
    // width when it has none; blanks at the edge hang over it.
    std::int64_t rowStart = 0, breakAfter = -1;
    int column = 0;
    const std::int64_t n = end - start;
    for (std::int64_t i = 0; i < n; ++i) {
      const std::uint8_t c = chars[static_cast<std::size_t>(i)];
      int width = c == '\t' ? paneTabWidth(column) : 1;
      if (column + width > cols && column > 0) {
        if (isBlank(c)) {  // hangs: the next row starts behind it
          rowStart = i + 1;
          segment.rowStarts.push_back(start + rowStart);
          column = 0;
          breakAfter = -1;
          continue;
        }
        rowStart = breakAfter > rowStart ? breakAfter : i;
        segment.rowStarts.push_back(start + rowStart);
        column = 0;
        for (std::int64_t j = rowStart; j < i; ++j)
          column += chars[static_cast<std::size_t>(j)] == '\t' ? paneTabWidth(column) : 1;
        breakAfter = -1;
        width = c == '\t' ? paneTabWidth(column) : 1;
      }
      column += width;
      if (isBlank(c))
        breakAfter = i + 1;
    }
    if (segment.rowStarts.size() > 1 && segment.rowStarts.back() >= end)
      segment.rowStarts.pop_back();  // a hanging blank ended the stretch
  }
  if (cache_.size() >= 6)
    cache_.erase(cache_.begin());
  cache_.push_back(std::move(segment));
  return cache_.back();
}

DisplayPane::Row DisplayPane::rowOf(const Pos &pos) const {
  const Segment &segment = segmentAt(pos.line, pos.rowStart);
  auto it = std::upper_bound(segment.rowStarts.begin(), segment.rowStarts.end(), pos.rowStart);
  const std::size_t index = static_cast<std::size_t>(it - segment.rowStarts.begin()) - 1;
  const std::int64_t start = segment.rowStarts[index];
  const std::int64_t end =
      index + 1 < segment.rowStarts.size() ? segment.rowStarts[index + 1] : segment.end;
  return {pos.line, start, end};
}

DisplayPane::Row DisplayPane::rowAt(std::int64_t position) const {
  return rowOf({model_.lineFromPosition(position), position});
}

bool DisplayPane::isLastRow(const Pos &pos) const {
  Pos next = pos;
  return !nextRow(next);
}

bool DisplayPane::nextRow(Pos &pos) const {
  const Row row = rowOf(pos);
  const std::int64_t lineEnd = model_.lineEnd(pos.line);
  if (row.end < lineEnd) {
    pos.rowStart = row.end;
    return true;
  }
  if (pos.line + 1 < model_.lineCount()) {
    pos = {pos.line + 1, model_.lineStart(pos.line + 1)};
    return true;
  }
  return false;
}

bool DisplayPane::previousRow(Pos &pos) const {
  const std::int64_t lineStart = model_.lineStart(pos.line);
  const Row row = rowOf(pos);
  if (row.start > lineStart) {
    pos.rowStart = rowOf({pos.line, row.start - 1}).start;
    return true;
  }
  if (pos.line > 0) {
    const std::int64_t line = pos.line - 1;
    pos = {line, rowOf({line, model_.lineEnd(line)}).start};
    return true;
  }
  return false;
}

DisplayPane::Pos DisplayPane::topPos() const {
  const std::int64_t line = std::clamp<std::int64_t>(topLine_, 0, model_.lineCount() - 1);
  const std::int64_t start = model_.lineStart(line);
  const std::int64_t length = model_.lineEnd(line) - start;
  const std::int64_t offset = wrap_ ? std::clamp<std::int64_t>(topOffset_, 0, length) : 0;
  return {line, rowOf({line, start + offset}).start};
}

DisplayPane::Pos DisplayPane::endPos() const {
  const std::int64_t last = model_.lineCount() - 1;
  Pos pos{last, rowOf({last, model_.length()}).start};
  for (int i = 1; i < visibleRows(); ++i)
    if (!previousRow(pos))
      break;
  return pos;
}

bool DisplayPane::showsEnd() const {
  Pos pos = topPos();
  for (int i = 1; i < visibleRows(); ++i)
    if (!nextRow(pos))
      return true;
  return isLastRow(pos);
}

int DisplayPane::columnOf(const Row &row, std::int64_t position) const {
  const std::int64_t n = std::clamp(position, row.start, row.end) - row.start;
  if (row.end - row.start > kLongRow)
    return static_cast<int>(std::min<std::int64_t>(n, INT32_MAX / 4));
  std::vector<std::uint8_t> chars(static_cast<std::size_t>(n));
  model_.read(row.start, n, chars.data(), nullptr);
  int column = 0;
  for (std::uint8_t c : chars)
    column += c == '\t' ? paneTabWidth(column) : 1;
  return column;
}

std::int64_t DisplayPane::positionAtColumn(const Row &row, int column) const {
  // The last position of the row that the caret may stand on.
  // Within a row the caret goes up to its end, except where the end is the
  // next row's start. Every character takes a column at least.
  std::int64_t last =
      row.end < model_.lineEnd(row.line) ? std::max(row.start, row.end - 1) : row.end;
  if (row.end - row.start > kLongRow)
    return std::min(last, row.start + std::max(0, column));
  last = std::min<std::int64_t>(last, row.start + std::max(0, column) + 1);
  std::vector<std::uint8_t> chars(static_cast<std::size_t>(last - row.start));
  model_.read(row.start, last - row.start, chars.data(), nullptr);
  int at = 0;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    int width = chars[i] == '\t' ? paneTabWidth(at) : 1;
    if (column < at + (width + 1) / 2)
      return row.start + static_cast<std::int64_t>(i);
    at += width;
  }
  return last;
}

std::int64_t DisplayPane::positionAt(const QPoint &point) const {
  Pos pos = topPos();
  const int rowIndex = std::max(0, point.y() / lineHeight_);
  for (int i = 0; i < rowIndex; ++i)
    if (!nextRow(pos))
      break;
  const int column = std::max(0, (point.x() + charWidth_ / 2) / charWidth_ + leftColumn_);
  return positionAtColumn(rowOf(pos), column);
}

// --- position ----------------------------------------------------------------

void DisplayPane::setTop(Pos pos) {
  topLine_ = pos.line;
  topOffset_ = pos.rowStart - model_.lineStart(pos.line);
  followEnd_ = showsEnd();
  updateScrollBars();
  viewport()->update();
}

void DisplayPane::scrollLines(std::int64_t n) {
  const std::int64_t line = std::clamp<std::int64_t>(topLine_ + n, 0, model_.lineCount() - 1);
  if (line == topLine_)
    return;  // keeps the row inside a long top line
  setTop({line, model_.lineStart(line)});
}

void DisplayPane::scrollLineToBottom(std::int64_t line) {
  if (followMode_ && !followEnd_)
    return;  // the user is reading above
  line = std::clamp<std::int64_t>(line, 0, model_.lineCount() - 1);
  Pos pos{line, rowOf({line, model_.lineEnd(line)}).start};
  for (int i = 1; i < visibleRows(); ++i)
    if (!previousRow(pos))
      break;
  setTop(pos);
}

void DisplayPane::scrollToEnd() { setTop(endPos()); }

void DisplayPane::ensureCaretVisible() { ensureVisible(model_.selection().caret); }

void DisplayPane::reserveTop(int pixels) {
  setViewportMargins(0, pixels, 0, 0);
  if (followMode_ && followEnd_)
    setTop(endPos());
  updateScrollBars();
}

void DisplayPane::setMark(std::int64_t start, std::int64_t end) {
  const std::int64_t dropped = model_.droppedTotal();
  markStart_ = start < 0 ? -1 : start + dropped;
  markEnd_ = start < 0 ? -1 : end + dropped;
  markEdits_ = model_.edits();
  viewport()->update();
}

void DisplayPane::ensureVisible(std::int64_t position) {
  const Row row = rowAt(position);
  const Pos top = topPos();
  const bool above =
      row.line < top.line || (row.line == top.line && row.start < top.rowStart);
  if (above) {
    setTop(posOf(row));
  } else {
    Pos pos = top;
    bool seen = false;
    for (int i = 0; i < visibleRows(); ++i) {
      if (pos.line == row.line && pos.rowStart == row.start) {
        seen = true;
        break;
      }
      if (!nextRow(pos))
        break;
    }
    if (!seen) {
      Pos bottom = posOf(row);
      for (int i = 1; i < visibleRows(); ++i)
        if (!previousRow(bottom))
          break;
      setTop(bottom);
    }
  }
  if (!wrap_) {
    const int column = columnOf(row, position);
    const int cols = visibleColumns();
    if (column < leftColumn_)
      leftColumn_ = column;
    else if (column >= leftColumn_ + cols)
      leftColumn_ = column - cols + 1;
    updateScrollBars();
    viewport()->update();
  }
}

void DisplayPane::setWrap(bool on) {
  if (wrap_ == on)
    return;
  wrap_ = on;
  model_.setDropWholeScreens(!on);
  leftColumn_ = 0;
  topOffset_ = 0;
  ++revision_;
  setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  followEnd_ = showsEnd() || followEnd_;
  updateScrollBars();
  viewport()->update();
}

void DisplayPane::updateScrollBars() {
  updatingScrollBars_ = true;
  QScrollBar *vertical = verticalScrollBar();
  const Pos top = topPos();
  if (wrap_) {
    const std::int64_t endStart = endPos().rowStart;
    vertical->setRange(0, static_cast<int>(std::min<std::int64_t>(endStart, INT32_MAX)));
    vertical->setPageStep(std::max(1, visibleRows() * visibleColumns()));
    vertical->setSingleStep(visibleColumns());
    vertical->setValue(static_cast<int>(std::min<std::int64_t>(top.rowStart, INT32_MAX)));
  } else {
    vertical->setRange(0,
                       static_cast<int>(std::min<std::int64_t>(model_.lineCount() - 1, INT32_MAX)));
    vertical->setPageStep(visibleRows());
    vertical->setSingleStep(1);
    vertical->setValue(static_cast<int>(top.line));
    // The widest shown line sets the horizontal range.
    int widest = 0;
    Pos pos = top;
    for (int i = 0; i < visibleRows(); ++i) {
      const Row row = rowOf(pos);
      widest = std::max(widest, columnOf(row, row.end));
      if (!nextRow(pos))
        break;
    }
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setRange(0, std::max(leftColumn_, widest - visibleColumns() + 1));
    horizontal->setPageStep(visibleColumns());
    horizontal->setValue(leftColumn_);
  }
  updatingScrollBars_ = false;
}

void DisplayPane::scrollContentsBy(int, int) {
  if (updatingScrollBars_)
    return;
  if (!wrap_)
    leftColumn_ = horizontalScrollBar()->value();
  const int value = verticalScrollBar()->value();
  if (wrap_) {
    setTop(posOf(rowAt(value)));
  } else {
    setTop({value, model_.lineStart(value)});
  }
}

// --- model changes --------------------------------------------------------------

void DisplayPane::onModelChange(const PaneChange &change) {
  ++revision_;
  // The column Up and Down keep holds only while they alone move the caret:
  // text, a click or a move by program start from the caret's own column.
  preferredColumn_ = -1;
  if (change.kind == PaneChange::Kind::Dropped) {
    if (topLine_ < change.lines) {
      topLine_ = 0;
      topOffset_ = 0;
    } else {
      if (topLine_ == change.lines)
        topOffset_ = std::max<std::int64_t>(0, topOffset_ - change.position);
      topLine_ -= change.lines;
    }
  }
  if (change.kind == PaneChange::Kind::Selection) {
    restartBlink();
    viewport()->update();
    return;
  }
  emit textChanged();
  topLine_ = std::clamp<std::int64_t>(topLine_, 0, model_.lineCount() - 1);
  if (followMode_ && followEnd_) {
    if (!showsEnd())
      setTop(endPos());
  } else {
    followEnd_ = showsEnd();
  }
  updateScrollBars();
  viewport()->update();
}

// --- painting --------------------------------------------------------------------

void DisplayPane::paintEvent(QPaintEvent *) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QPalette &colours = viewport()->palette();
  painter.fillRect(viewport()->rect(), colours.color(QPalette::Base));

  const PaneSelection selection = model_.selection();
  const std::int64_t selStart = selection.start(), selEnd = selection.end();
  const QColor highlight = palette().color(QPalette::Highlight);
  const QColor highlightText = palette().color(QPalette::HighlightedText);
  // The find bar's match: black on yellow, under any selection.
  const bool marked = markStart_ >= 0 && markEdits_ == model_.edits();
  const std::int64_t markStart = marked ? markStart_ - model_.droppedTotal() : -1;
  const std::int64_t markEnd = marked ? markEnd_ - model_.droppedTotal() : -1;
  const QColor markBack(255, 215, 0), markText(Qt::black);
  const int rows = visibleRows() + 1;  // the partly shown last row too
  const int maxColumn = leftColumn_ + visibleColumns() + 1;

  // Each row's text is built once; consecutive characters of one colour and
  // selection state are drawn with one drawText. A glyph the font does not
  // draw at the cell width (a fallback font's) is drawn on its own, so that
  // it cannot shift the columns behind it.
  struct Run {
    qsizetype from, length;  // in `text`
    int column, columns;
    PaneColour colour;
    int state;  // 0 plain, 1 marked, 2 selected
  };
  std::vector<std::uint8_t> chars;
  std::vector<PaneColour> charColours;
  std::vector<Run> runs;
  QString text;
  QColor pen;
  Pos pos = topPos();
  for (int r = 0; r < rows; ++r) {
    const Row row = rowOf(pos);
    const int y = r * lineHeight_;
    // Long rows are read from the first shown column on (columns are plain
    // offsets there); others from their start, for the TAB stops.
    const bool longRow = row.end - row.start > kLongRow;
    const std::int64_t first = longRow ? std::min(row.end, row.start + leftColumn_) : row.start;
    const std::int64_t n = std::min<std::int64_t>(row.end - first, maxColumn + 1);
    chars.resize(static_cast<std::size_t>(n));
    charColours.resize(static_cast<std::size_t>(n));
    model_.read(first, n, chars.data(), charColours.data());
    const std::int64_t lineEnd = model_.lineEnd(row.line);

    text.resize(0);
    runs.clear();
    bool open = false;  // the last run takes further characters
    int column = static_cast<int>(first - row.start);
    for (std::int64_t i = 0; i < n && column < maxColumn; ++i) {
      const std::uint8_t c = chars[static_cast<std::size_t>(i)];
      const std::int64_t position = first + i;
      if (position >= lineEnd)
        break;  // the line break itself
      const int state = position >= selStart && position < selEnd ? 2
                        : position >= markStart && position < markEnd ? 1
                                                                      : 0;
      const PaneColour colour = charColours[static_cast<std::size_t>(i)];
      const int width = (c == '\t' && !longRow) ? paneTabWidth(column) : 1;
      if (column + width <= leftColumn_) {
        column += width;
        continue;
      }
      const bool alone = !cellGlyph_[c];
      if (!open || alone || colour != runs.back().colour || state != runs.back().state)
        runs.push_back({text.size(), 0, column, 0, colour, state});
      open = !alone;
      if (c == '\t') {
        for (int k = 0; k < width; ++k)
          text.append(QLatin1Char(' '));
      } else {
        const char32_t glyph = paneGlyph(c);
        if (glyph < 0x10000) {
          text.append(QChar(static_cast<char16_t>(glyph)));
        } else {
          text.append(QChar(QChar::highSurrogate(glyph)));
          text.append(QChar(QChar::lowSurrogate(glyph)));
        }
      }
      Run &run = runs.back();
      run.length = text.size() - run.from;
      run.columns += width;
      column += width;
    }
    for (const Run &run : runs) {
      const int x = (run.column - leftColumn_) * charWidth_;
      if (run.state != 0)
        painter.fillRect(x, y, run.columns * charWidth_, lineHeight_,
                         run.state == 2 ? highlight : markBack);
      const QColor wanted = run.state == 2   ? highlightText
                            : run.state == 1 ? markText
                                             : fromColourRef(run.colour);
      if (wanted != pen || !pen.isValid()) {
        painter.setPen(wanted);
        pen = wanted;
      }
      painter.drawText(x, y + ascent_,
                       QString::fromRawData(text.constData() + run.from, run.length));
    }
    // A selected line break shows as one highlighted cell.
    if (row.end >= lineEnd && lineEnd < model_.length() && lineEnd >= selStart && lineEnd < selEnd)
      painter.fillRect((column - leftColumn_) * charWidth_, y, charWidth_, lineHeight_, highlight);

    if (caretOn_ && hasFocus() && selection.caret >= row.start &&
        (selection.caret < row.end || (selection.caret == row.end && (row.end == lineEnd)))) {
      const int x = (columnOf(row, selection.caret) - leftColumn_) * charWidth_;
      painter.fillRect(x, y, 2, lineHeight_, palette().color(QPalette::Text));
    }
    if (!nextRow(pos))
      break;
  }
}

void DisplayPane::resizeEvent(QResizeEvent *event) {
  QAbstractScrollArea::resizeEvent(event);
  ++revision_;
  if (followMode_ && followEnd_)
    setTop(endPos());
  updateScrollBars();
}

// --- keys ------------------------------------------------------------------------------

bool DisplayPane::focusNextPrevChild(bool) { return false; }  // Tab is a key here

bool DisplayPane::event(QEvent *event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Keys the pane acts on are not taken by window shortcuts.
    auto *key = static_cast<QKeyEvent *>(event);
    if (virtualKeyOf(key) != 0 || !key->text().isEmpty()) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

void DisplayPane::keyPressEvent(QKeyEvent *event) {
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  const bool control = event->modifiers() & Qt::ControlModifier;
  const int key = event->key();
  const int virtualKey = virtualKeyOf(event);
  if (virtualKey != 0) {
    const int code = filter_ ? filter_(PaneKeyKind::KeyDown, virtualKey) : virtualKey;
    if (code != 0)
      actOnKeyDown(code, shift);
  }
  // The character the key produces, as Win32 would report it.
  if (control && key >= Qt::Key_A && key <= Qt::Key_Z) {
    offerChar(CHAR_SELECT_ALL + (key - Qt::Key_A));
  } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    offerChar(CHAR_RETURN);
  } else if (key == Qt::Key_Backspace) {
    offerChar(CHAR_BACKSPACE);
  } else if (key == Qt::Key_Escape) {
    offerChar(CHAR_ESCAPE);
  } else if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
    offerChar(CHAR_TAB);
  } else if (!control) {
    for (char32_t c : event->text().toUcs4()) {
      const int byte = paneByteFromUnicode(c);
      if (byte >= 0x20 && byte != 0x7F)
        offerChar(byte);
    }
  }
  event->accept();
}

void DisplayPane::inputMethodEvent(QInputMethodEvent *event) {
  for (char32_t c : event->commitString().toUcs4()) {
    const int byte = paneByteFromUnicode(c);
    if (byte >= 0x20)
      offerChar(byte);
  }
  event->accept();
}

void DisplayPane::offerChar(int code) {
  const int acted = filter_ ? filter_(PaneKeyKind::Char, code) : code;
  if (acted != 0)
    actOnChar(acted);
}

int DisplayPane::sendKeyDown(int virtualKey) {
  const int code = filter_ ? filter_(PaneKeyKind::KeyDown, virtualKey) : virtualKey;
  if (code != 0)
    actOnKeyDown(code, false);
  return code;
}

void DisplayPane::actOnKey(int virtualKey) { actOnKeyDown(virtualKey, false); }

void DisplayPane::moveCaret(std::int64_t position, bool extend) {
  const PaneSelection selection = model_.selection();
  model_.setSelection(extend ? selection.anchor : position, position);
  ensureCaretVisible();
  restartBlink();
}

void DisplayPane::actOnKeyDown(int virtualKey, bool shift) {
  const PaneSelection selection = model_.selection();
  const std::int64_t caret = selection.caret;
  const std::int64_t line = model_.lineFromPosition(caret);
  const bool vertical = virtualKey == VK_UP || virtualKey == VK_DOWN || virtualKey == VK_PRIOR ||
                        virtualKey == VK_NEXT;
  if (!vertical)
    preferredColumn_ = -1;
  switch (virtualKey) {
  case VK_LEFT:
    if (!shift && !selection.empty())
      return moveCaret(selection.start(), false);
    if (caret == model_.lineStart(line) && line > 0)  // over a whole line break
      return moveCaret(model_.lineEnd(line - 1), shift);
    return moveCaret(std::max<std::int64_t>(0, caret - 1), shift);
  case VK_RIGHT:
    if (!shift && !selection.empty())
      return moveCaret(selection.end(), false);
    if (caret == model_.lineEnd(line) && line + 1 < model_.lineCount())
      return moveCaret(model_.lineStart(line + 1), shift);
    return moveCaret(std::min(model_.length(), caret + 1), shift);
  case VK_HOME:
    return moveCaret(rowAt(caret).start, shift);
  case VK_END: {
    const Row row = rowAt(caret);
    return moveCaret(positionAtColumn(row, INT32_MAX / 2), shift);
  }
  case VK_UP:
  case VK_DOWN:
  case VK_PRIOR:
  case VK_NEXT: {
    const Row row = rowAt(caret);
    if (preferredColumn_ < 0)
      preferredColumn_ = columnOf(row, caret);
    const bool up = virtualKey == VK_UP || virtualKey == VK_PRIOR;
    const int steps = (virtualKey == VK_UP || virtualKey == VK_DOWN) ? 1 : visibleRows();
    Pos pos = posOf(row);
    Pos top = topPos();
    for (int i = 0; i < steps; ++i) {
      if (!(up ? previousRow(pos) : nextRow(pos)))
        break;
      if (steps > 1)
        (void)(up ? previousRow(top) : nextRow(top));
    }
    if (steps > 1)
      setTop(top);  // a page moves the view along
    const int column = preferredColumn_;
    const PaneSelection before = model_.selection();
    model_.setSelection(shift ? before.anchor : positionAtColumn(rowOf(pos), column),
                        positionAtColumn(rowOf(pos), column));
    preferredColumn_ = column;
    ensureCaretVisible();
    restartBlink();
    return;
  }
  case VK_BACK:
    return deleteBackward();
  case VK_DELETE:
    return deleteForward();
  default:
    return;  // Enter, Tab, Escape act as characters or not at all
  }
}

void DisplayPane::deleteBackward() {
  const PaneSelection selection = model_.selection();
  if (!selection.empty()) {
    model_.replaceSelection({});
  } else if (selection.caret > 0) {
    const std::int64_t line = model_.lineFromPosition(selection.caret);
    const std::int64_t from = (selection.caret == model_.lineStart(line) && line > 0)
                                  ? model_.lineEnd(line - 1)  // the whole break
                                  : selection.caret - 1;
    model_.deleteRange(from, selection.caret);
  }
  ensureCaretVisible();
}

void DisplayPane::deleteForward() {
  const PaneSelection selection = model_.selection();
  if (!selection.empty()) {
    model_.replaceSelection({});
  } else if (selection.caret < model_.length()) {
    const std::int64_t line = model_.lineFromPosition(selection.caret);
    const std::int64_t to =
        (selection.caret == model_.lineEnd(line) && line + 1 < model_.lineCount())
            ? model_.lineStart(line + 1)
            : selection.caret + 1;
    model_.deleteRange(selection.caret, to);
  }
  ensureCaretVisible();
}

void DisplayPane::actOnChar(int code) {
  switch (code) {
  case CHAR_SELECT_ALL:
    return selectAll();
  case CHAR_COPY:
    return copy();
  case CHAR_PASTE:
    return paste();
  case CHAR_CUT:
    return cut();
  case CHAR_RETURN:
    return insertTyped("\n");
  case CHAR_TAB:
    return insertTyped("\t");
  default:
    break;
  }
  if (code >= 0x20 && code <= 0xFF && code != 0x7F) {
    const char byte = static_cast<char>(code);
    insertTyped(std::string_view(&byte, 1));
  }
}

void DisplayPane::insertTyped(std::string_view bytes) {
  model_.replaceSelection(bytes);
  preferredColumn_ = -1;
  ensureCaretVisible();
  restartBlink();
}

// --- clipboard ----------------------------------------------------------------------------

void DisplayPane::copy() {
  const std::string bytes = model_.selectedText();
  if (bytes.empty())
    return;
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(bytes[i]);
    if (c == '\r') {
      text += QLatin1Char('\n');
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
        ++i;
    } else if (c == '\n' || c == '\t') {
      text += QLatin1Char(static_cast<char>(c));
    } else {
      const char32_t glyph = paneGlyph(c);
      text += QString::fromUcs4(&glyph, 1);
    }
  }
  QGuiApplication::clipboard()->setText(text);
}

void DisplayPane::cut() {
  if (!model_.hasSelectedText())
    return;
  copy();
  model_.replaceSelection({});
  ensureCaretVisible();
}

void DisplayPane::paste() {
  const QString text = QGuiApplication::clipboard()->text();
  std::string bytes;
  for (char32_t c : text.toUcs4()) {
    // Control pictures go back to their bytes.
    const int byte = paneByteFromGlyph(c);
    if (byte >= 0)
      bytes += static_cast<char>(byte);
  }
  if (!bytes.empty())
    insertTyped(bytes);
}

void DisplayPane::selectAll() {
  model_.setSelection(0, model_.length());
  viewport()->update();
}

void DisplayPane::clearText() {
  model_.clear();
  setTop({0, 0});
}

// --- mouse ------------------------------------------------------------------------------

void DisplayPane::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  setFocus(Qt::MouseFocusReason);
  const std::int64_t position = positionAt(event->position().toPoint());
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  model_.setSelection(extend ? model_.selection().anchor : position, position);
  preferredColumn_ = -1;
  dragging_ = true;
  restartBlink();
}

void DisplayPane::mouseMoveEvent(QMouseEvent *event) {
  if (!dragging_)
    return;
  QPoint point = event->position().toPoint();
  // Dragging past the edges scrolls one row at a time.
  if (point.y() < 0) {
    Pos top = topPos();
    if (previousRow(top))
      setTop(top);
  } else if (point.y() > viewport()->height()) {
    Pos top = topPos();
    if (nextRow(top))
      setTop(top);
  }
  model_.setSelection(model_.selection().anchor, positionAt(point));
}

void DisplayPane::mouseReleaseEvent(QMouseEvent *) { dragging_ = false; }

void DisplayPane::selectWordAt(std::int64_t position) {
  const std::int64_t line = model_.lineFromPosition(position);
  const std::int64_t lineStart = model_.lineStart(line);
  const std::int64_t lineEnd = model_.lineEnd(line);
  std::int64_t from = position, to = position;
  while (from > lineStart && !isBlank(model_.charAt(from - 1)))
    --from;
  while (to < lineEnd && !isBlank(model_.charAt(to)))
    ++to;
  model_.setSelection(from, to);
}

void DisplayPane::mouseDoubleClickEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  selectWordAt(positionAt(event->position().toPoint()));
  dragging_ = false;
}

void DisplayPane::wheelEvent(QWheelEvent *event) {
  const int notches = event->angleDelta().y() / 120;
  if (notches == 0)
    return;
  Pos top = topPos();
  for (int i = 0; i < 3 * std::abs(notches); ++i)
    if (!(notches > 0 ? previousRow(top) : nextRow(top)))
      break;
  setTop(top);
  event->accept();
}

void DisplayPane::contextMenuEvent(QContextMenuEvent *event) {
  QMenu menu(this);
  QAction *copyAction = menu.addAction(tr("Copy"), this, &DisplayPane::copy);
  copyAction->setEnabled(model_.hasSelectedText());
  menu.addAction(tr("Select All"), this, &DisplayPane::selectAll);
  menu.addAction(tr("Clear"), this, &DisplayPane::clearText);
  menu.exec(event->globalPos());
}

// --- focus and caret ----------------------------------------------------------------------

void DisplayPane::focusInEvent(QFocusEvent *event) {
  QAbstractScrollArea::focusInEvent(event);
  restartBlink();
}

void DisplayPane::focusOutEvent(QFocusEvent *event) {
  QAbstractScrollArea::focusOutEvent(event);
  blink_.stop();
  caretOn_ = false;
  viewport()->update();
}

void DisplayPane::restartBlink() {
  caretOn_ = true;
  if (hasFocus())
    blink_.start(kBlinkMs, this);
  viewport()->update();
}

void DisplayPane::timerEvent(QTimerEvent *event) {
  if (event->timerId() != blink_.timerId())
    return QAbstractScrollArea::timerEvent(event);
  caretOn_ = !caretOn_;
  viewport()->update();
}
