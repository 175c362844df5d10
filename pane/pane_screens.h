// The Terminal view's two screens, Port A's (side 0) and Port B's (side 1),
// shown together in the pane's area, each under a heading with its port and
// size. A screen is a grid of cells with colours (resources/screen_cell.h)
// that the widget keeps; cells put into it are redrawn, and only they.
//
// Layout: side by side when the area holds both at the pane's font, else
// one above the other; a screen too large for its room is drawn in a
// smaller font. With "Screen size from the pane" (the right-click menu) the
// widget asks for screens as large as their rooms hold at the pane's font.
//
// Keys go to the owner: named keys as virtual-key codes (resources/keys.h,
// F1 .. F12 included), characters as code points, each with modifier bits
// (1 Shift, 2 Alt, 4 Ctrl); Ctrl+letter gives the letter. Ctrl+Shift+A
// selects the screen with the focus mark, Ctrl+Shift+C copies the
// selection, Ctrl+Shift+V pastes; the right-click menu offers the same.
// The mouse selects on one screen, row by row as a terminal does; copied
// text has one line per row with the row's trailing blanks dropped.
#pragma once

#include "resources/screen_cell.h"

#include <QFont>
#include <QWidget>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QMenu;

class TerminalScreens : public QWidget {
  Q_OBJECT
public:
  static constexpr int kModShift = 1, kModAlt = 2, kModCtrl = 4;

  explicit TerminalScreens(QWidget *parent = nullptr);

  // A screen's size; its cells become blanks.
  void setScreenSize(int side, int rows, int columns);
  int rows(int side) const { return screens_[side & 1].rows; }
  int columns(int side) const { return screens_[side & 1].columns; }
  void setTitle(int side, const QString &title);
  QString heading(int side) const;  // the title with the size
  // `count` cells from (row, column) on, within the row.
  void putCells(int side, int row, int column, const ScreenCell *cells, int count);
  const ScreenCell &cell(int side, int row, int column) const;
  void setCursor(int side, int row, int column, bool visible);
  // The screen that has the keyboard focus mark.
  void setFocusSide(int side);
  int focusSide() const { return focusSide_; }

  // --- text ----------------------------------------------------------------
  // Rows from..to (inclusive), one line each, trailing blanks dropped,
  // joined by '\n', in UTF-8.
  std::string text(int side, int fromRow = 0, int toRow = -1) const;
  std::string selectedText() const;
  bool hasSelection() const { return selection_.side >= 0; }
  void selectAll();  // the screen with the focus mark
  void copy();
  void paste();

  // --- size from the pane -----------------------------------------------------
  void setSizeFromPane(bool on);
  bool sizeFromPane() const { return sizeFromPane_; }
  // Rows and columns a screen's room holds at the pane's font.
  void roomSize(int *rows, int *columns) const;
  // The size that shows both screens at the pane's font, side by side or
  // one above the other.
  QSize sizeForFullFont(bool beside) const;
  // Where one screen's cell grid is drawn (for tests and the mouse).
  QRect gridRect(int side) const;

  // --- to the owner --------------------------------------------------------------
  std::function<void(int virtualKey, int modifiers)> onKey;
  std::function<void(char32_t character, int modifiers)> onChar;
  std::function<void(const std::string &utf8)> onPaste;
  std::function<void(int rows, int columns)> onSizeWanted;

  QMenu *makeContextMenu();  // the right-click menu (the caller owns it)

protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;
  bool focusNextPrevChild(bool next) override;
  bool event(QEvent *event) override;

private:
  struct Screen {
    int rows = 0, columns = 0;
    std::vector<ScreenCell> cells;
    QString title;
    int cursorRow = 0, cursorColumn = 0;
    bool cursorVisible = true;
  };
  struct Point {
    int row = 0, column = 0;
  };
  struct Selection {
    int side = -1;
    Point anchor, caret;
  };

  void relayout();
  void updateCells(int side, int row, int column, int rows, int columns);
  void paintScreen(QPainter &painter, int side, const QRect &dirty);
  bool selected(int side, int row, int column) const;
  bool hitCell(const QPoint &point, int *side, Point *cell) const;
  void askSize();

  std::array<Screen, 2> screens_;
  std::array<QRect, 2> grid_;     // cell grids
  std::array<QRect, 2> heading_;  // heading lines
  QFont baseFont_, cellFont_;
  int cellWidth_ = 8, cellHeight_ = 16, ascent_ = 12;
  int baseWidth_ = 8, baseHeight_ = 16;
  int focusSide_ = 0;
  bool sizeFromPane_ = false;
  Selection selection_;
  int pressSide_ = -1;  // where a left-button drag started
  ScreenCell blank_;
};
