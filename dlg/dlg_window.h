// The stand-in dialog window: the main dialog built from its template, its
// controls by id, its timers, and the translation of widget events into the
// dialog procedure's messages. Private to the dialog layer.
#pragma once

#include "dlg/dlg.h"
#include "resources/dialog_template.h"

#include <QComboBox>
#include <QRect>
#include <QWidget>
#include <map>
#include <vector>

class DisplayPane;
class PaneFindBar;
class TerminalScreens;
class QButtonGroup;
class QEventLoop;
class QSocketNotifier;
class QTimer;

// An editable drop-down list that reports its list opening and closing and
// never chooses an entry by itself.
class DlgComboBox : public QComboBox {
  Q_OBJECT
public:
  // An entry's text as the open list shows it, when it differs from the
  // entry's own (dlg_combo_set_item_shown).
  static constexpr int kShownRole = Qt::UserRole + 1;

  explicit DlgComboBox(QWidget *parent);
  void showPopup() override;
  void hidePopup() override;

signals:
  void popupShown();
  void popupHidden();

private:
  bool popupOpen_ = false;
};

struct DlgWindow : public QWidget {
  Q_OBJECT
public:
  DlgWindow(const DialogTemplate &dialogTemplate, DlgProc proc);
  ~DlgWindow() override;

  // Sends a message to the dialog procedure; nothing once the dialog ended.
  int send(unsigned message, uintptr_t wParam, intptr_t lParam);
  void command(int id, unsigned notification);

  QWidget *control(int id) const;
  const DialogControl *templateOf(int id) const;
  QButtonGroup *radioGroupOf(int id) const;
  DisplayPane *pane() const { return pane_; }
  PaneFindBar *findBar() const { return find_; }
  // The Terminal view's screens, in the pane's place while shown.
  TerminalScreens *screens() const { return screens_; }
  void showScreens(bool on);

  // Dialog units -> pixels, from the dialog font's average character size.
  QRect toPixels(int x, int y, int width, int height) const;
  int baseUnitX() const { return baseX_; }
  int baseUnitY() const { return baseY_; }
  // The window's size at the template's size (its minimum), and the size
  // that gives the pane 80 columns and 25 rows.
  QSize templateSize() const { return templateSize_; }
  QSize defaultSize() const { return defaultSize_; }

  int watchReadable(int fd, unsigned message);
  unsigned setTimer(unsigned id, unsigned ms);
  int killTimer(unsigned id);
  void stopAllTimers();

  void setShortcut(int virtualKey, int modifiers, int id, bool inScreens);
  // A modeless dialog leaves the program's modal boxes alone when it ends.
  void setModeless() { modeless_ = true; }

  void end(int result);
  bool ended() const { return ended_; }
  int result() const { return result_; }
  void setLoop(QEventLoop *loop) { loop_ = loop; }

  // The control a widget belongs to (walking up from child widgets and
  // popups), or 0.
  int controlIdOf(QWidget *widget) const;

protected:
  void closeEvent(QCloseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  struct Placement {
    QWidget *widget;
    QRect base;       // pixels at the template's size
    unsigned anchor;  // ControlAnchor bits
  };

  void build();
  QWidget *makeControl(const DialogControl &control);
  void connectCombo(int id, DlgComboBox *combo);
  void makeScreens();
  void growForScreens();
  void onFocusChanged(QWidget *old, QWidget *now);
  void layoutControls();
  void computeDefaultSize();
  bool handleDialogKey(int key, QWidget *focus);

  const DialogTemplate &template_;
  DlgProc proc_;
  std::map<int, QWidget *> controls_;
  std::map<int, QButtonGroup *> radioGroups_;
  std::map<unsigned, QTimer *> timers_;
  struct Watch {
    QSocketNotifier *notifier;
    unsigned message;
  };
  std::map<int, Watch> watches_;  // by descriptor; a stopped watch stays, disabled
  std::vector<Placement> placements_;
  DisplayPane *pane_ = nullptr;
  PaneFindBar *find_ = nullptr;
  TerminalScreens *screens_ = nullptr;
  int baseX_ = 6;
  int baseY_ = 13;
  QSize templateSize_;
  QSize defaultSize_;
  bool ended_ = false;
  int result_ = 0;
  QEventLoop *loop_ = nullptr;
  int focusControl_ = 0;  // control that holds the keyboard focus
  struct Shortcut {
    int id;          // command id
    bool inScreens;  // taken from a terminal screen with the focus too
  };
  std::map<std::pair<int, int>, Shortcut> shortcuts_;  // (virtual key, DLG_MOD_*)
  bool modeless_ = false;
};
