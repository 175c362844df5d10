#include "dlg/dlg_window.h"

#include "pane/pane_find_bar.h"
#include "pane/pane_screens.h"
#include "pane/pane_view.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QStyledItemDelegate>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

namespace {

// The pane's room at the window's default size: a terminal screen.
constexpr int kDefaultColumns = 80;
constexpr int kDefaultRows = PaneModel::kScreenLines;

// Win32 rounds dialog-unit conversions the way MulDiv does.
int mulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + (product >= 0 ? denominator / 2 : -denominator / 2)) /
                          denominator);
}

// The open list shows an entry's shown text where it has one.
class ShownTextDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

protected:
  void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant shown = index.data(DlgComboBox::kShownRole);
    if (shown.isValid())
      option->text = shown.toString();
  }
};

// The key of a shortcut as the window's virtual-key code, 0 for none.
int shortcutKeyOf(int key) {
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
    return VK_F1 + (key - Qt::Key_F1);
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
    return key;  // same codes
  if (key == Qt::Key_Space)
    return VK_SPACE;
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
    return VK_TAB;
  return 0;
}

int modifiersOf(const QKeyEvent *key) {
  const Qt::KeyboardModifiers mods = key->modifiers();
  return ((mods & Qt::ShiftModifier) || key->key() == Qt::Key_Backtab ? DLG_MOD_SHIFT : 0) |
         (mods & Qt::AltModifier ? DLG_MOD_ALT : 0) |
         (mods & Qt::ControlModifier ? DLG_MOD_CTRL : 0);
}

}  // namespace

// --- DlgComboBox ------------------------------------------------------------------

DlgComboBox::DlgComboBox(QWidget *parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setCompleter(nullptr);  // the list control never completes typed text
  setDuplicatesEnabled(true);
  // When editing ends, QComboBox chooses the entry equal to the typed text
  // without a word to anyone. What typed text means is the dialog
  // procedure's to decide (it hears the focus go and Enter), so that choice
  // is cut off: the selection changes only when the user picks an entry
  // (CBN_SELCHANGE follows) or the program selects one.
  if (!disconnect(lineEdit(), SIGNAL(editingFinished()), this, SLOT(_q_editingFinished())))
    qWarning("DlgComboBox: QComboBox's own handling of typed text is still connected");
  view()->setItemDelegate(new ShownTextDelegate(view()));
}

void DlgComboBox::showPopup() {
  if (!popupOpen_) {
    popupOpen_ = true;
    emit popupShown();
  }
  // Wide enough for the longest shown text, which the field's width may not be.
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth() +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  QComboBox::showPopup();
}

void DlgComboBox::hidePopup() {
  QComboBox::hidePopup();
  if (popupOpen_) {
    popupOpen_ = false;
    emit popupHidden();
  }
}

// --- DlgWindow ----------------------------------------------------------------------

DlgWindow::DlgWindow(const DialogTemplate &dialogTemplate, DlgProc proc)
    : QWidget(nullptr), template_(dialogTemplate), proc_(proc) {
  // The dialog decides when the program ends, not the last window closing.
  QApplication::setQuitOnLastWindowClosed(false);
  setAttribute(Qt::WA_DeleteOnClose, false);
  build();
  // Keys are seen before any widget of the window, the pane included.
  qApp->installEventFilter(this);
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget *old, QWidget *now) { onFocusChanged(old, now); });
}

DlgWindow::~DlgWindow() {
  ended_ = true;
  qApp->removeEventFilter(this);
  stopAllTimers();
  // Children go while this window's members still exist: their last
  // signals (focus moving away, lists closing) must find nothing to do.
  disconnect(qApp, nullptr, this, nullptr);
  qDeleteAll(findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly));
}

void DlgWindow::build() {
  setWindowTitle(QString::fromLatin1(template_.title));
  // The template's "Helv" does not exist here; the system's sans font at the
  // template's size stands in for it.
  QFont dialogFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  dialogFont.setPointSize(template_.pointSize);
  setFont(dialogFont);

  // Base units as the dialog manager computes them: the average width of the
  // 52 letters, and the character height.
  const QFontMetrics metrics(dialogFont);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = std::max(1, (letters / 26 + 1) / 2);
  baseY_ = std::max(1, metrics.height());

  QButtonGroup *group = nullptr;
  QWidget *previousFocusable = nullptr;
  for (int i = 0; i < template_.controlCount; ++i) {
    const DialogControl &entry = template_.controls[i];
    QWidget *widget = makeControl(entry);
    controls_[entry.id] = widget;

    if (entry.kind == ControlKind::PushRadio) {
      if ((entry.style & STYLE_GROUP_START) || !group) {
        group = new QButtonGroup(this);
        group->setExclusive(true);
      }
      group->addButton(static_cast<QAbstractButton *>(widget));
      radioGroups_[entry.id] = group;
    } else {
      group = nullptr;
    }

    QRect base = toPixels(entry.x, entry.y, entry.width, entry.height);
    if (entry.kind == ControlKind::DropDown) {
      // The template's height includes the dropped list; the field itself
      // is as tall as the style makes it.
      base.setHeight(std::min(base.height(), widget->sizeHint().height()));
    }
    placements_.push_back({widget, base, entry.anchor});

    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previousFocusable)
        QWidget::setTabOrder(previousFocusable, widget);
      previousFocusable = widget;
    }
  }

  // Group boxes are drawn behind the controls they frame and never take a
  // click meant for them.
  for (int i = 0; i < template_.controlCount; ++i) {
    if (template_.controls[i].kind == ControlKind::GroupBox) {
      QWidget *box = controls_[template_.controls[i].id];
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      box->lower();
    }
  }

  templateSize_ = toPixels(0, 0, template_.width, template_.height).size();
  setMinimumSize(templateSize_);
  computeDefaultSize();
  resize(defaultSize_);
  layoutControls();
}

QWidget *DlgWindow::makeControl(const DialogControl &entry) {
  const QString caption = QString::fromLatin1(entry.caption);
  const int id = entry.id;
  switch (entry.kind) {
  case ControlKind::DisplayPane: {
    pane_ = new DisplayPane(this);
    pane_->setKeyFilter([this](PaneKeyKind kind, int code) {
      DlgNotify notify{IDC_PANE, EN_MSGFILTER,
                       kind == PaneKeyKind::KeyDown ? unsigned(WM_KEYDOWN) : unsigned(WM_CHAR),
                       uintptr_t(unsigned(code))};
      send(WM_NOTIFY, uintptr_t(IDC_PANE), reinterpret_cast<intptr_t>(&notify));
      return int(notify.wParam);
    });
    makeScreens();
    find_ = new PaneFindBar(pane_);
    return pane_;
  }
  case ControlKind::PushButton: {
    auto *button = new QPushButton(caption, this);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { command(id, BN_CLICKED); });
    return button;
  }
  case ControlKind::PushRadio:
  case ControlKind::PushCheck: {
    auto *button = new QPushButton(caption, this);
    button->setAutoDefault(false);
    button->setCheckable(true);
    connect(button, &QPushButton::clicked, this, [this, id] { command(id, BN_CLICKED); });
    return button;
  }
  case ControlKind::ThreeState: {
    auto *box = new QCheckBox(caption, this);
    box->setTristate(true);
    // A group of its own: without one, every uncheck has Qt look through all
    // the dialog's widgets for auto-exclusive siblings (most of a lamp's cost).
    auto *own = new QButtonGroup(box);
    own->setExclusive(false);
    own->addButton(box);
    connect(box, &QCheckBox::clicked, this, [this, id] { command(id, BN_CLICKED); });
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(box, &QWidget::customContextMenuRequested, this,
            [this, id] { send(WM_CONTEXTMENU, uintptr_t(id), 0); });
    return box;
  }
  case ControlKind::GroupBox: {
    // The frame runs through the middle of the title, as on the dialog
    // manager, so the template's controls sit inside it.
    auto *box = new QGroupBox(caption, this);
    box->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
        " margin-top: 0.5em; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 5px; padding: 0 2px; }"));
    return box;
  }
  case ControlKind::Label:
  case ControlKind::StatusField: {
    auto *label = new QLabel(caption, this);
    Qt::Alignment horizontal = Qt::AlignRight;
    if (entry.style & STYLE_ALIGN_LEFT)
      horizontal = Qt::AlignLeft;
    if (entry.kind == ControlKind::StatusField) {
      label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      label->setAlignment(horizontal | Qt::AlignVCenter);
      label->setIndent(2);
    } else {
      label->setAlignment(horizontal | Qt::AlignTop);
    }
    return label;
  }
  case ControlKind::DropDown: {
    auto *combo = new DlgComboBox(this);
    connectCombo(id, combo);
    return combo;
  }
  }
  return new QWidget(this);
}

void DlgWindow::makeScreens() {
  screens_ = new TerminalScreens(this);
  screens_->hide();
  auto notify = [this](DlgNotify notice) {
    send(WM_NOTIFY, uintptr_t(IDC_PANE), reinterpret_cast<intptr_t>(&notice));
  };
  screens_->onKey = [notify](int key, int modifiers) {
    DlgNotify n{IDC_PANE, EN_SCREEN_KEY, WM_KEYDOWN, uintptr_t(unsigned(key))};
    n.modifiers = modifiers;
    notify(n);
  };
  screens_->onChar = [notify](char32_t character, int modifiers) {
    DlgNotify n{IDC_PANE, EN_SCREEN_KEY, WM_CHAR, uintptr_t(character)};
    n.modifiers = modifiers;
    notify(n);
  };
  screens_->onPaste = [notify](const std::string &text) {
    DlgNotify n{IDC_PANE, EN_SCREEN_PASTE, 0, 0};
    n.text = text.data();
    n.length = int(text.size());
    notify(n);
  };
  screens_->onSizeWanted = [notify](int rows, int columns) {
    notify(DlgNotify{IDC_PANE, EN_SCREEN_SIZE, 0,
                     MAKEWPARAM(unsigned(columns), unsigned(rows))});
  };
}

void DlgWindow::showScreens(bool on) {
  if (!screens_ || screens_->isHidden() != on)
    return;
  QWidget *from = on ? static_cast<QWidget *>(pane_) : screens_;
  QWidget *to = on ? static_cast<QWidget *>(screens_) : pane_;
  const bool hadFocus = from->hasFocus();
  to->setGeometry(from->geometry());
  to->show();
  from->hide();
  if (hadFocus)
    to->setFocus(Qt::OtherFocusReason);
  if (on)
    growForScreens();
}

void DlgWindow::growForScreens() {
  // The window grows, as far as the desktop allows and the least it can, so
  // that both screens show at the pane's font; it never shrinks.
  const QRect desktop = screen() ? screen()->availableGeometry() : QRect(0, 0, 1 << 14, 1 << 14);
  const QSize frame = frameGeometry().size() - size();
  QSize best;
  for (bool beside : {false, true}) {
    const QSize need = screens_->sizeForFullFont(beside) - screens_->size();
    const QSize grown = size() + need.expandedTo(QSize(0, 0));
    if (grown.width() + frame.width() > desktop.width() ||
        grown.height() + frame.height() > desktop.height())
      continue;
    if (best.isEmpty() || grown.width() * grown.height() < best.width() * best.height())
      best = grown;
  }
  if (!best.isEmpty() && best != size())
    resize(best);
}

void DlgWindow::connectCombo(int id, DlgComboBox *combo) {
  connect(combo, &QComboBox::activated, this, [this, id](int) { command(id, CBN_SELCHANGE); });
  connect(combo, &DlgComboBox::popupShown, this, [this, id] { command(id, CBN_DROPDOWN); });
  connect(combo, &DlgComboBox::popupHidden, this, [this, id] { command(id, CBN_CLOSEUP); });
  // Enter and Escape in the edit field are the dialog's keys.
  combo->lineEdit()->installEventFilter(this);
  combo->installEventFilter(this);
}

QRect DlgWindow::toPixels(int x, int y, int width, int height) const {
  return QRect(mulDiv(x, baseX_, 4), mulDiv(y, baseY_, 8), mulDiv(width, baseX_, 4),
               mulDiv(height, baseY_, 8));
}

void DlgWindow::computeDefaultSize() {
  defaultSize_ = templateSize_;
  if (!pane_)
    return;
  const DialogControl *paneEntry = dialog_find_control(template_, IDC_PANE);
  const QRect paneBase = toPixels(paneEntry->x, paneEntry->y, paneEntry->width, paneEntry->height);
  // Room for 80 columns and 25 rows of the pane's font, with its frame and
  // vertical scroll bar.
  const QFontMetrics paneMetrics(pane_->paneFont());
  const int charWidth = paneMetrics.horizontalAdvance(QLatin1Char('0'));
  const int lineHeight = std::max(paneMetrics.height(), paneMetrics.lineSpacing());
  const int frame = 2 * pane_->frameWidth();
  const int scrollBar = pane_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, pane_);
  const int needWidth = kDefaultColumns * charWidth + frame + scrollBar + charWidth;
  const int needHeight = kDefaultRows * lineHeight + frame + lineHeight / 2;
  defaultSize_ +=
      QSize(std::max(0, needWidth - paneBase.width()), std::max(0, needHeight - paneBase.height()));
}

void DlgWindow::layoutControls() {
  const int dx = std::max(0, width() - templateSize_.width());
  const int dy = std::max(0, height() - templateSize_.height());
  for (const Placement &placement : placements_) {
    QRect rect = placement.base;
    if (placement.anchor & ANCHOR_RIGHT)
      rect.translate(dx, 0);
    if (placement.anchor & ANCHOR_BOTTOM)
      rect.translate(0, dy);
    if (placement.anchor & ANCHOR_STRETCH_X)
      rect.setWidth(rect.width() + dx);
    if (placement.anchor & ANCHOR_STRETCH_Y)
      rect.setHeight(rect.height() + dy);
    placement.widget->setGeometry(rect);
  }
  if (screens_)
    screens_->setGeometry(pane_->geometry());
}

void DlgWindow::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  layoutControls();
}

QWidget *DlgWindow::control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

const DialogControl *DlgWindow::templateOf(int id) const {
  return dialog_find_control(template_, id);
}

QButtonGroup *DlgWindow::radioGroupOf(int id) const {
  auto found = radioGroups_.find(id);
  return found == radioGroups_.end() ? nullptr : found->second;
}

int DlgWindow::controlIdOf(QWidget *widget) const {
  for (QWidget *w = widget; w; w = w->parentWidget()) {
    if (w == this)
      return 0;
    if (w == screens_)
      return IDC_PANE;  // in the pane's place
    for (const auto &[id, control] : controls_)
      if (control == w)
        return id;
  }
  return 0;
}

int DlgWindow::send(unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (ended_ || !proc_)
    return 0;
  return proc_(this, message, wParam, lParam);
}

void DlgWindow::command(int id, unsigned notification) {
  send(WM_COMMAND, MAKEWPARAM(unsigned(id), notification), 0);
}

void DlgWindow::onFocusChanged(QWidget *old, QWidget *now) {
  const int oldId = controlIdOf(old);
  const int newId = controlIdOf(now);
  if (oldId == newId)
    return;
  if (oldId && qobject_cast<QComboBox *>(control(oldId)))
    command(oldId, CBN_KILLFOCUS);
  if (newId && qobject_cast<QComboBox *>(control(newId)))
    command(newId, CBN_SETFOCUS);
  focusControl_ = newId;
}

// --- Descriptors --------------------------------------------------------------------

int DlgWindow::watchReadable(int fd, unsigned message) {
  if (fd < 0)
    return 0;
  auto found = watches_.find(fd);
  if (message == 0) {
    // Disabled, not deleted: this may run inside the notifier's own signal.
    if (found != watches_.end())
      found->second.notifier->setEnabled(false);
    return 1;
  }
  if (found == watches_.end()) {
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
      auto watch = watches_.find(fd);
      if (watch != watches_.end() && watch->second.notifier->isEnabled())
        send(watch->second.message, uintptr_t(fd), 0);
    });
    found = watches_.emplace(fd, Watch{notifier, message}).first;
  }
  found->second.message = message;
  found->second.notifier->setEnabled(true);
  return 1;
}

// --- Timers -------------------------------------------------------------------------

unsigned DlgWindow::setTimer(unsigned id, unsigned ms) {
  if (id == 0)
    return 0;
  QTimer *&timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] { send(WM_TIMER, id, 0); });
  }
  timer->start(int(std::min<unsigned>(ms, 0x7FFFFFFF)));
  return id;
}

int DlgWindow::killTimer(unsigned id) {
  auto found = timers_.find(id);
  if (found == timers_.end() || !found->second->isActive())
    return 0;
  found->second->stop();
  return 1;
}

void DlgWindow::stopAllTimers() {
  for (auto &[id, timer] : timers_)
    timer->stop();
}

// --- Ending -------------------------------------------------------------------------

void DlgWindow::end(int result) {
  if (ended_)
    return;
  ended_ = true;
  result_ = result;
  stopAllTimers();
  for (auto &[fd, watch] : watches_)
    watch.notifier->setEnabled(false);
  // A message box or file dialog still open (a shutdown signal came while
  // it waited) would hold the program until someone answers it.
  for (int guard = 0; guard < 8 && !modeless_; ++guard) {
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == this)
      break;
    if (auto *dialog = qobject_cast<QDialog *>(modal))
      dialog->reject();
    else
      modal->close();
  }
  hide();
  if (loop_)
    loop_->exit(result);
}

void DlgWindow::closeEvent(QCloseEvent *event) {
  // The window closes only through dlg_end; the close box is a request.
  event->ignore();
  if (ended_)
    return;
  if (!send(WM_CLOSE, 0, 0))
    command(IDCANCEL, BN_CLICKED);
}

// --- Keys ---------------------------------------------------------------------------

bool DlgWindow::handleDialogKey(int key, QWidget *focus) {
  const int focusId = controlIdOf(focus);
  if (focusId == IDC_PANE)
    return false;  // the pane keeps Enter and Escape
  if (key == Qt::Key_Escape) {
    command(IDCANCEL, BN_CLICKED);
    return true;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    // A push button with the focus is the default button; elsewhere Enter
    // is the dialog's default command.
    auto *button = qobject_cast<QPushButton *>(control(focusId));
    if (button && !button->isCheckable())
      button->click();
    else
      command(IDOK, BN_CLICKED);
    return true;
  }
  return false;
}

void DlgWindow::keyPressEvent(QKeyEvent *event) {
  if (handleDialogKey(event->key(), QApplication::focusWidget()))
    event->accept();
  else
    QWidget::keyPressEvent(event);
}

void DlgWindow::setShortcut(int virtualKey, int modifiers, int id, bool inScreens) {
  if (id == 0)
    shortcuts_.erase({virtualKey, modifiers});
  else
    shortcuts_[{virtualKey, modifiers}] = Shortcut{id, inScreens};
}

bool DlgWindow::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    const int code = key->key();
    auto *widget = qobject_cast<QWidget *>(watched);
    // The application's keys pass here too: only this window's are its own.
    if (!widget || widget->window() != this)
      return QWidget::eventFilter(watched, event);
    // Ctrl+F, and F3 while the find bar is open, ahead of the macros.
    if (find_ && find_->takeKey(*key, qobject_cast<TerminalScreens *>(widget)))
      return true;
    auto found = shortcuts_.find({shortcutKeyOf(code), modifiersOf(key)});
    // A terminal screen with the focus takes the keys a terminal sends.
    if (found != shortcuts_.end() &&
        (found->second.inScreens || !qobject_cast<TerminalScreens *>(widget))) {
      if (!key->isAutoRepeat())
        command(found->second.id, 1);
      return true;
    }
    if (code == Qt::Key_Return || code == Qt::Key_Enter || code == Qt::Key_Escape) {
      auto *combo = qobject_cast<QComboBox *>(control(controlIdOf(widget)));
      if (combo && combo->view() && combo->view()->isVisible())
        return false;  // the open list takes its own keys
      if (handleDialogKey(code, widget))
        return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
