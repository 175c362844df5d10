#include "pane/pane_screens.h"

#include "resources/keys.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>

namespace {

constexpr int kFrame = 2;        // the frame around a grid; the focus mark's colour
constexpr int kGap = 6;          // between the two screens
constexpr int kSmallestPixels = 5;

struct KeyMap {
  int qt;
  int virtualKey;
};
constexpr KeyMap kKeys[] = {
    {Qt::Key_Return, VK_RETURN}, {Qt::Key_Enter, VK_RETURN},   {Qt::Key_Tab, VK_TAB},
    {Qt::Key_Backtab, VK_TAB},   {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Escape, VK_ESCAPE},
    {Qt::Key_PageUp, VK_PRIOR},  {Qt::Key_PageDown, VK_NEXT},  {Qt::Key_End, VK_END},
    {Qt::Key_Home, VK_HOME},     {Qt::Key_Left, VK_LEFT},      {Qt::Key_Up, VK_UP},
    {Qt::Key_Right, VK_RIGHT},   {Qt::Key_Down, VK_DOWN},      {Qt::Key_Insert, VK_INSERT},
    {Qt::Key_Delete, VK_DELETE},
};

int virtualKeyOf(int qtKey) {
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
    return VK_F1 + (qtKey - Qt::Key_F1);
  for (const KeyMap &k : kKeys)
    if (k.qt == qtKey)
      return k.virtualKey;
  return 0;
}

QColor colourOf(std::uint32_t rgb) { return QColor(QRgb(0xFF000000u | rgb)); }

std::string utf8Of(const ScreenCell &cell) {
  if (cell.chars[0] == 0)
    return " ";
  int n = 0;
  while (n < kScreenCellChars && cell.chars[n] != 0)
    ++n;
  return QString::fromUcs4(cell.chars, n).toStdString();
}

void dropTrailingBlanks(std::string &line) {
  while (!line.empty() && line.back() == ' ')
    line.pop_back();
}

}  // namespace

TerminalScreens::TerminalScreens(QWidget *parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_InputMethodEnabled);
  baseFont_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  baseFont_.setStyleHint(QFont::TypeWriter);
  const QFontMetrics metrics(baseFont_);
  baseWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  baseHeight_ = std::max(1, metrics.lineSpacing());
  setFont(baseFont_);
  for (int side : {0, 1})
    setScreenSize(side, 24, 80);
}

// --- screens ----------------------------------------------------------------------

void TerminalScreens::setScreenSize(int side, int rows, int columns) {
  Screen &s = screens_[side & 1];
  s.rows = std::max(1, rows);
  s.columns = std::max(1, columns);
  s.cells.assign(size_t(s.rows) * size_t(s.columns), ScreenCell{});
  s.cursorRow = std::min(s.cursorRow, s.rows - 1);
  s.cursorColumn = std::min(s.cursorColumn, s.columns - 1);
  if (selection_.side == (side & 1))
    selection_.side = -1;
  relayout();
  update();
}

void TerminalScreens::setTitle(int side, const QString &title) {
  screens_[side & 1].title = title;
  update(heading_[side & 1]);
}

QString TerminalScreens::heading(int side) const {
  const Screen &s = screens_[side & 1];
  return QStringLiteral("%1%2   %3x%4")
      .arg(focusSide_ == (side & 1) ? QStringLiteral("\u25B6 ") : QStringLiteral("  "), s.title)
      .arg(s.columns)
      .arg(s.rows);
}

void TerminalScreens::putCells(int side, int row, int column, const ScreenCell *cells,
                               int count) {
  Screen &s = screens_[side & 1];
  if (row < 0 || row >= s.rows || column < 0 || column >= s.columns)
    return;
  count = std::min(count, s.columns - column);
  std::copy_n(cells, count, s.cells.begin() + row * s.columns + column);
  updateCells(side & 1, row, column, 1, count);
}

const ScreenCell &TerminalScreens::cell(int side, int row, int column) const {
  const Screen &s = screens_[side & 1];
  if (row < 0 || row >= s.rows || column < 0 || column >= s.columns)
    return blank_;
  return s.cells[size_t(row * s.columns + column)];
}

void TerminalScreens::setCursor(int side, int row, int column, bool visible) {
  Screen &s = screens_[side & 1];
  updateCells(side & 1, s.cursorRow, s.cursorColumn, 1, 1);
  s.cursorRow = std::clamp(row, 0, s.rows - 1);
  s.cursorColumn = std::clamp(column, 0, s.columns - 1);
  s.cursorVisible = visible;
  updateCells(side & 1, s.cursorRow, s.cursorColumn, 1, 1);
}

void TerminalScreens::setFocusSide(int side) {
  if (focusSide_ == (side & 1))
    return;
  focusSide_ = side & 1;
  update();
}

void TerminalScreens::updateCells(int side, int row, int column, int rows, int columns) {
  const QRect &g = grid_[side];
  update(QRect(g.x() + column * cellWidth_, g.y() + row * cellHeight_, columns * cellWidth_,
               rows * cellHeight_)
             .intersected(g));
}

// --- layout -------------------------------------------------------------------------

void TerminalScreens::roomSize(int *rows, int *columns) const {
  // The arrangement that gives screens nearest an 80 x 24 terminal's shape.
  const int headed = height() - 2 * kFrame - baseHeight_;
  const int besideColumns = ((width() - kGap) / 2 - 2 * kFrame) / baseWidth_;
  const int besideRows = headed / baseHeight_;
  const int stackedColumns = (width() - 2 * kFrame) / baseWidth_;
  const int stackedRows = ((height() - kGap) / 2 - 2 * kFrame - baseHeight_) / baseHeight_;
  const double beside = std::min(besideColumns / 80.0, besideRows / 24.0);
  const double stacked = std::min(stackedColumns / 80.0, stackedRows / 24.0);
  *rows = std::max(2, beside >= stacked ? besideRows : stackedRows);
  *columns = std::max(2, beside >= stacked ? besideColumns : stackedColumns);
}

QSize TerminalScreens::sizeForFullFont(bool beside) const {
  const int columns = std::max(screens_[0].columns, screens_[1].columns);
  const int rows = std::max(screens_[0].rows, screens_[1].rows);
  const QSize one(columns * baseWidth_ + 2 * kFrame, rows * baseHeight_ + 2 * kFrame + baseHeight_);
  return beside ? QSize(2 * one.width() + kGap, one.height())
                : QSize(one.width(), 2 * one.height() + kGap);
}

void TerminalScreens::relayout() {
  const int columns = std::max(screens_[0].columns, screens_[1].columns);
  const int rows = std::max(screens_[0].rows, screens_[1].rows);
  const int needW = columns * baseWidth_ + 2 * kFrame;
  const int needH = rows * baseHeight_ + 2 * kFrame + baseHeight_;
  const double besideScale = std::min((width() - kGap) / 2.0 / needW, double(height()) / needH);
  const double stackedScale = std::min(double(width()) / needW, (height() - kGap) / 2.0 / needH);
  const bool beside = besideScale >= 1.0 || besideScale > stackedScale;
  const double scale = std::clamp(beside ? besideScale : stackedScale, 0.01, 1.0);

  cellFont_ = baseFont_;
  if (scale < 1.0) {
    const int pixels = QFontInfo(baseFont_).pixelSize();
    cellFont_.setPixelSize(std::max(kSmallestPixels, int(pixels * scale)));
  }
  const QFontMetrics metrics(cellFont_);
  cellWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  cellHeight_ = std::max(1, metrics.lineSpacing());
  ascent_ = metrics.ascent();

  const int roomW = beside ? (width() - kGap) / 2 : width();
  const int roomH = beside ? height() : (height() - kGap) / 2;
  for (int side : {0, 1}) {
    const int x = beside ? side * (roomW + kGap) : 0;
    const int y = beside ? 0 : side * (roomH + kGap);
    heading_[side] = QRect(x, y, roomW, baseHeight_);
    grid_[side] = QRect(x + kFrame, y + baseHeight_ + kFrame, screens_[side].columns * cellWidth_,
                        screens_[side].rows * cellHeight_);
  }
}

QRect TerminalScreens::gridRect(int side) const { return grid_[side & 1]; }

void TerminalScreens::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  relayout();
  askSize();
  update();
}

void TerminalScreens::setSizeFromPane(bool on) {
  sizeFromPane_ = on;
  if (!on) {
    if (onSizeWanted)
      onSizeWanted(0, 0);  // the default size
    return;
  }
  askSize();
}

void TerminalScreens::askSize() {
  if (!sizeFromPane_ || !onSizeWanted)
    return;
  int rows = 0, columns = 0;
  roomSize(&rows, &columns);
  for (int side : {0, 1}) {
    if (screens_[side].rows != rows || screens_[side].columns != columns) {
      onSizeWanted(rows, columns);
      return;
    }
  }
}

// --- painting -----------------------------------------------------------------------

void TerminalScreens::paintEvent(QPaintEvent *event) {
  QPainter painter(this);
  const QRect dirty = event->rect();
  // Around the grids: the headings and the frames, the focus mark's colour.
  QRegion around(dirty);
  around -= grid_[0];
  around -= grid_[1];
  if (!around.isEmpty()) {
    painter.setClipRegion(around);
    painter.fillRect(rect(), palette().window());
    painter.setFont(baseFont_);
    for (int side : {0, 1}) {
      painter.fillRect(grid_[side].adjusted(-kFrame, -kFrame, kFrame, kFrame),
                       side == focusSide_ ? palette().highlight() : palette().mid());
      painter.setPen(palette().windowText().color());
      painter.drawText(heading_[side], Qt::AlignLeft | Qt::AlignVCenter, heading(side));
    }
    painter.setClipping(false);
  }
  for (int side : {0, 1})
    if (dirty.intersects(grid_[side]))
      paintScreen(painter, side, dirty.intersected(grid_[side]));
}

void TerminalScreens::paintScreen(QPainter &painter, int side, const QRect &dirty) {
  const Screen &s = screens_[side];
  const QRect &g = grid_[side];
  const int firstRow = std::max(0, (dirty.top() - g.y()) / cellHeight_);
  const int lastRow = std::min(s.rows - 1, (dirty.bottom() - g.y()) / cellHeight_);
  const int firstColumn = std::max(0, (dirty.left() - g.x()) / cellWidth_);
  const int lastColumn = std::min(s.columns - 1, (dirty.right() - g.x()) / cellWidth_);
  painter.setFont(cellFont_);
  const bool focused = side == focusSide_;
  for (int row = firstRow; row <= lastRow; ++row) {
    const int y = g.y() + row * cellHeight_;
    // Runs of cells that look alike are drawn with one call.
    for (int column = firstColumn; column <= lastColumn;) {
      const ScreenCell &first = s.cells[size_t(row * s.columns + column)];
      const bool firstSelected = selected(side, row, column);
      const bool cursorHere = s.cursorVisible && focused && row == s.cursorRow;
      int end = column + 1;
      while (end <= lastColumn && first.width == 1) {
        const ScreenCell &next = s.cells[size_t(row * s.columns + end)];
        if (next.width != 1 || next.foreground != first.foreground ||
            next.background != first.background || next.attributes != first.attributes ||
            selected(side, row, end) != firstSelected ||
            (cursorHere && (end == s.cursorColumn || column == s.cursorColumn)))
          break;
        ++end;
      }
      if (first.width == 2)
        end = std::min(column + 2, s.columns);
      const bool inverted =
          firstSelected != (cursorHere && column == s.cursorColumn);
      const QRect rect(g.x() + column * cellWidth_, y, (end - column) * cellWidth_, cellHeight_);
      painter.fillRect(rect, colourOf(inverted ? first.foreground : first.background));
      if (first.width != 0) {
        QString text;
        for (int c = column; c < end; ++c) {
          const ScreenCell &cell = s.cells[size_t(row * s.columns + c)];
          if (cell.width == 0)
            continue;
          int n = 0;
          while (n < kScreenCellChars && cell.chars[n] != 0)
            ++n;
          text += n ? QString::fromUcs4(cell.chars, n) : QStringLiteral(" ");
        }
        QFont font = cellFont_;
        font.setBold(first.attributes & SCREEN_CELL_BOLD);
        font.setItalic(first.attributes & SCREEN_CELL_ITALIC);
        font.setUnderline(first.attributes & SCREEN_CELL_UNDERLINE);
        font.setStrikeOut(first.attributes & SCREEN_CELL_STRIKE);
        painter.setFont(font);
        painter.setPen(colourOf(inverted ? first.background : first.foreground));
        painter.drawText(rect.x(), y + ascent_, text);
      }
      column = end;
    }
  }
  // The cursor of the screen without the focus mark is an outline.
  if (!focused && s.cursorVisible && s.cursorRow >= firstRow && s.cursorRow <= lastRow) {
    const ScreenCell &c = s.cells[size_t(s.cursorRow * s.columns + s.cursorColumn)];
    painter.setPen(colourOf(c.foreground));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(g.x() + s.cursorColumn * cellWidth_, g.y() + s.cursorRow * cellHeight_,
                     cellWidth_ - 1, cellHeight_ - 1);
  }
}

// --- selection and text ---------------------------------------------------------------

bool TerminalScreens::selected(int side, int row, int column) const {
  if (selection_.side != side)
    return false;
  Point from = selection_.anchor, to = selection_.caret;
  if (std::make_pair(to.row, to.column) < std::make_pair(from.row, from.column))
    std::swap(from, to);
  if (row < from.row || row > to.row)
    return false;
  return (row > from.row || column >= from.column) && (row < to.row || column <= to.column);
}

std::string TerminalScreens::text(int side, int fromRow, int toRow) const {
  const Screen &s = screens_[side & 1];
  if (toRow < 0 || toRow >= s.rows)
    toRow = s.rows - 1;
  std::string out;
  for (int row = std::max(0, fromRow); row <= toRow; ++row) {
    std::string line;
    for (int column = 0; column < s.columns; ++column) {
      const ScreenCell &c = s.cells[size_t(row * s.columns + column)];
      if (c.width != 0)
        line += utf8Of(c);
    }
    dropTrailingBlanks(line);
    out += line;
    if (row < toRow)
      out += '\n';
  }
  return out;
}

std::string TerminalScreens::selectedText() const {
  if (selection_.side < 0)
    return {};
  const Screen &s = screens_[selection_.side];
  std::string out;
  for (int row = 0; row < s.rows; ++row) {
    std::string line;
    bool any = false;
    for (int column = 0; column < s.columns; ++column) {
      if (!selected(selection_.side, row, column))
        continue;
      any = true;
      const ScreenCell &c = s.cells[size_t(row * s.columns + column)];
      if (c.width != 0)
        line += utf8Of(c);
    }
    if (!any)
      continue;
    dropTrailingBlanks(line);
    out += line + '\n';
  }
  if (!out.empty())
    out.pop_back();
  return out;
}

void TerminalScreens::selectAll() {
  const Screen &s = screens_[focusSide_];
  selection_ = {focusSide_, {0, 0}, {s.rows - 1, s.columns - 1}};
  update();
}

void TerminalScreens::copy() {
  if (hasSelection())
    QApplication::clipboard()->setText(QString::fromStdString(selectedText()));
}

void TerminalScreens::paste() {
  const std::string text = QApplication::clipboard()->text().toStdString();
  if (!text.empty() && onPaste)
    onPaste(text);
}

bool TerminalScreens::hitCell(const QPoint &point, int *side, Point *cell) const {
  for (int s : {0, 1}) {
    const QRect &g = grid_[s];
    if (*side >= 0 && *side != s)
      continue;
    if (*side < 0 && !g.contains(point))
      continue;
    *side = s;
    cell->row = std::clamp((point.y() - g.y()) / cellHeight_, 0, screens_[s].rows - 1);
    cell->column = std::clamp((point.x() - g.x()) / cellWidth_, 0, screens_[s].columns - 1);
    return true;
  }
  return false;
}

void TerminalScreens::mousePressEvent(QMouseEvent *event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton)
    return;
  // A click alone selects nothing; a drag selects from where it started.
  if (selection_.side >= 0)
    update(grid_[selection_.side]);
  selection_.side = -1;
  pressSide_ = -1;
  hitCell(event->position().toPoint(), &pressSide_, &selection_.anchor);
}

void TerminalScreens::mouseMoveEvent(QMouseEvent *event) {
  if (!(event->buttons() & Qt::LeftButton) || pressSide_ < 0)
    return;
  int side = pressSide_;
  Point at;
  if (hitCell(event->position().toPoint(), &side, &at)) {
    selection_.side = side;
    selection_.caret = at;
    update(grid_[side]);
  }
}

// --- keys and menu ---------------------------------------------------------------------

bool TerminalScreens::event(QEvent *event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Every key is the terminal's, not a window shortcut's.
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

bool TerminalScreens::focusNextPrevChild(bool) { return false; }

void TerminalScreens::keyPressEvent(QKeyEvent *event) {
  const Qt::KeyboardModifiers qtMods = event->modifiers();
  int modifiers = 0;
  if (qtMods & Qt::ShiftModifier)
    modifiers |= kModShift;
  if (qtMods & Qt::AltModifier)
    modifiers |= kModAlt;
  if (qtMods & Qt::ControlModifier)
    modifiers |= kModCtrl;
  const int key = event->key();
  if ((modifiers & (kModCtrl | kModShift)) == (kModCtrl | kModShift)) {
    if (key == Qt::Key_A) {
      selectAll();
      return;
    }
    if (key == Qt::Key_C) {
      copy();
      return;
    }
    if (key == Qt::Key_V) {
      paste();
      return;
    }
  }
  if (const int virtualKey = virtualKeyOf(key)) {
    if (key == Qt::Key_Backtab)
      modifiers |= kModShift;
    if (onKey)
      onKey(virtualKey, modifiers);
    return;
  }
  if (!onChar)
    return;
  // Ctrl with a letter or one of @ [ \ ] ^ _ : the character itself, which
  // the terminal turns into its control code.
  if ((modifiers & kModCtrl) && key >= Qt::Key_At && key <= Qt::Key_Underscore) {
    const char32_t c = key >= Qt::Key_A && key <= Qt::Key_Z ? char32_t(key - Qt::Key_A + 'a')
                                                             : char32_t(key);
    onChar(c, modifiers);
    return;
  }
  if (key == Qt::Key_Space && (modifiers & kModCtrl)) {
    onChar(U' ', modifiers);
    return;
  }
  for (char32_t c : event->text().toUcs4())
    if (c >= 0x20 && c != 0x7F)
      onChar(c, modifiers);
}

QMenu *TerminalScreens::makeContextMenu() {
  auto *menu = new QMenu(this);
  QAction *copyAction = menu->addAction(tr("Copy"), this, &TerminalScreens::copy);
  copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  copyAction->setEnabled(hasSelection());
  menu->addAction(tr("Select All"), this, &TerminalScreens::selectAll)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
  menu->addAction(tr("Paste"), this, &TerminalScreens::paste)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
  menu->addSeparator();
  QAction *fit = menu->addAction(tr("Screen size from the pane"));
  fit->setCheckable(true);
  fit->setChecked(sizeFromPane_);
  connect(fit, &QAction::toggled, this, &TerminalScreens::setSizeFromPane);
  return menu;
}

void TerminalScreens::contextMenuEvent(QContextMenuEvent *event) {
  QMenu *menu = makeContextMenu();
  menu->exec(event->globalPos());
  delete menu;
}
