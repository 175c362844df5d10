// The find bar, a strip over the display pane's text: what to look for
// (text, or hex bytes with Hex down), Previous and Next, and what was found
// ("3 of 12"). The match is marked in the pane and scrolled into view; the
// caret and the selection stay where they are (in the ANSI view the caret
// is the terminal's cursor). The search runs in slices from the event loop,
// a few milliseconds each, so the window answers while 32 Mi characters are
// searched and counted; typing searches from the match (or the top of the
// view) on.
//
// Keys: Ctrl+F opens the bar anywhere in the window; F3 and Shift+F3 find
// the next and previous match while it is open (a macro's F3 otherwise);
// in the bar Enter and Shift+Enter do the same, Escape closes it. A
// terminal screen with the focus keeps these keys, as a terminal does.
#pragma once

#include "pane/pane_find.h"

#include <QFrame>
#include <QTimer>

class DisplayPane;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

class PaneFindBar : public QFrame {
  Q_OBJECT
public:
  explicit PaneFindBar(DisplayPane *pane);

  // Shows the bar with its text selected and the focus in it.
  void open();
  // Hides it, the mark gone and the focus back in the pane.
  void dismiss();
  // The next match (forward) or the previous one; with nothing typed the
  // bar opens instead.
  void findNext(bool forward);
  // The pane shows bytes as hex groups (the Hexadecimal and frame views):
  // hex bytes are looked for as those groups.
  void setHexGroups(bool on);

  // A key of the window, seen before any widget (see above): true when
  // the bar took it.
  bool takeKey(const QKeyEvent &key, bool terminalFocus);

  const PaneFinder &finder() const { return finder_; }
  QString status() const;

protected:
  void keyPressEvent(QKeyEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void patternChanged();
  void runSlices();
  void showResult();
  void place();

  DisplayPane *pane_;
  PaneFinder finder_;
  QLineEdit *edit_;
  QPushButton *hex_;
  QLabel *status_;
  QTimer slices_;
  bool hexGroups_ = false;
  QString why_;               // what is wrong with the typed hex
  std::int64_t shown_ = -1;   // the match last scrolled to
};
