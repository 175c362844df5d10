// The dialog manager's calls by control id, over the stand-in window.
#include "dlg/dlg.h"
#include "dlg/dlg_window.h"
#include "resources/glyphs.h"
#include "pane/pane_screens.h"
#include "pane/pane_find_bar.h"
#include "pane/pane_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <cstring>

namespace {

DlgWindow *g_current = nullptr;
DlgMessageBoxHook g_messageBoxHook;
DlgQuestionHook g_questionHook;
DlgFileDialogHook g_fileDialogHook;

// Control texts are bytes, one character per byte both ways, by the display
// pane's own mapping (Windows-1252, control bytes as control pictures): a
// byte typed, loaded from the history or shown in a status field is the
// byte the pane shows and the port sends. A character with no byte becomes
// '?'.
QString fromBytes(const char *text) {
  QString out;
  for (const char *p = text ? text : ""; *p; ++p)
    out += QChar(char16_t(paneTextChar(static_cast<std::uint8_t>(*p))));
  return out;
}

int copyOut(const QString &text, char *buffer, int size) {
  if (!buffer || size <= 0)
    return 0;
  int length = 0;
  for (char32_t c : text.toUcs4()) {
    if (length == size - 1)
      break;
    const int byte = paneByteFromGlyph(c);
    buffer[length++] = byte >= 0 ? char(byte) : '?';
  }
  buffer[length] = '\0';
  return length;
}

// Paths are the file system's bytes; device paths in tooltips too.
QString fromPath(const char *path) { return QFile::decodeName(path ? path : ""); }

QComboBox *combo(HWND window, int id) {
  return window ? qobject_cast<QComboBox *>(window->control(id)) : nullptr;
}

QAbstractButton *button(HWND window, int id) {
  return window ? qobject_cast<QAbstractButton *>(window->control(id)) : nullptr;
}

// Checks or clears an exclusive radio button: the group lets nobody clear
// its checked button, the program may.
void setButtonChecked(HWND window, int id, QAbstractButton *target, bool on) {
  QButtonGroup *group = window->radioGroupOf(id);
  if (group && !on && target->isChecked()) {
    group->setExclusive(false);
    target->setChecked(false);
    group->setExclusive(true);
    return;
  }
  target->setChecked(on);
}

void waitUntilActive(QWidget *widget) {
  widget->activateWindow();
  QElapsedTimer waited;
  waited.start();
  while (!widget->isActiveWindow() && waited.elapsed() < 2000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

DlgWindow *buildDialog(DlgProc proc) {
  auto *window = new DlgWindow(kMainDialog, proc);
  g_current = window;
  const int initResult = window->send(WM_INITDIALOG, 0, 0);
  // As the dialog manager does: a 1 gives the focus to the first control
  // that takes it.
  if (initResult && !window->ended()) {
    for (int i = 0; i < kMainDialog.controlCount; ++i) {
      QWidget *first = window->control(kMainDialog.controls[i].id);
      if (first && first->focusPolicy() != Qt::NoFocus) {
        first->setFocus(Qt::OtherFocusReason);
        break;
      }
    }
  }
  return window;
}

}  // namespace

// --- The dialog ---------------------------------------------------------------------

int dlg_run(DlgProc proc) {
  DlgWindow *window = buildDialog(proc);
  int result = window->result();
  if (!window->ended()) {
    QEventLoop loop;
    window->setLoop(&loop);
    window->show();
    window->activateWindow();
    result = loop.exec();
    window->setLoop(nullptr);
    result = window->result();
  }
  g_current = nullptr;
  delete window;
  return result;
}

void dlg_end(HWND window, int result) {
  if (window)
    window->end(result);
}

HWND dlg_current() { return g_current; }

int dlg_send_message(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  return window ? window->send(message, wParam, lParam) : 0;
}

HWND dlg_create(DlgProc proc) {
  DlgWindow *window = buildDialog(proc);
  if (!window->ended()) {
    window->show();
    waitUntilActive(window);
  }
  return window;
}

HWND dlg_create_modeless(HWND owner, const DialogTemplate &dialogTemplate, DlgProc proc) {
  auto *window = new DlgWindow(dialogTemplate, proc);
  window->setModeless();
  if (window->send(WM_INITDIALOG, 0, 0) && !window->ended()) {
    if (owner)
      window->move(owner->geometry().center() - window->rect().center());
    window->show();
    window->raise();
    window->activateWindow();
  }
  return window;
}

void dlg_set_accelerator(HWND window, int virtualKey, int id) {
  if (window && virtualKey >= VK_F1 && virtualKey < VK_F1 + 12)
    window->setShortcut(virtualKey, 0, id, false);
}

void dlg_set_shortcut(HWND window, int virtualKey, int modifiers, int id, bool inScreens) {
  if (window)
    window->setShortcut(virtualKey, modifiers, id, inScreens);
}

bool dlg_ended(HWND window, int *result) {
  if (!window || !window->ended())
    return false;
  if (result)
    *result = window->result();
  return true;
}

void dlg_destroy(HWND window) {
  if (!window)
    return;
  if (g_current == window)
    g_current = nullptr;
  delete window;
}

// --- Controls by id -------------------------------------------------------------------

int dlg_get_text(HWND window, int id, char *buffer, int size) {
  if (!window) {
    copyOut(QString(), buffer, size);
    return 0;
  }
  QWidget *widget = window->control(id);
  QString text;
  if (auto *list = qobject_cast<QComboBox *>(widget))
    text = list->currentText();
  else if (auto *label = qobject_cast<QLabel *>(widget))
    text = label->text();
  else if (auto *push = qobject_cast<QAbstractButton *>(widget))
    text = push->text();
  else if (auto *box = qobject_cast<QGroupBox *>(widget))
    text = box->title();
  else if (auto *pane = qobject_cast<DisplayPane *>(widget)) {
    // The pane holds bytes already.
    if (!buffer || size <= 0)
      return 0;
    const std::string bytes = pane->model().text();
    const size_t length = std::min(bytes.size(), size_t(size - 1));
    std::memcpy(buffer, bytes.data(), length);
    buffer[length] = '\0';
    return int(length);
  }
  return copyOut(text, buffer, size);
}

void dlg_set_text(HWND window, int id, const char *text) {
  if (!window)
    return;
  QWidget *widget = window->control(id);
  if (auto *list = qobject_cast<QComboBox *>(widget))
    list->setEditText(fromBytes(text));
  else if (auto *label = qobject_cast<QLabel *>(widget))
    label->setText(fromBytes(text));
  else if (auto *push = qobject_cast<QAbstractButton *>(widget))
    push->setText(fromBytes(text));
  else if (auto *box = qobject_cast<QGroupBox *>(widget))
    box->setTitle(fromBytes(text));
  else if (auto *pane = qobject_cast<DisplayPane *>(widget))
    pane->model().setText(text ? std::string_view(text) : std::string_view());
}

void dlg_check_button(HWND window, int id, int state) {
  QAbstractButton *target = button(window, id);
  if (!target)
    return;
  if (auto *box = qobject_cast<QCheckBox *>(target); box && box->isTristate()) {
    box->setCheckState(state == BST_CHECKED         ? Qt::Checked
                       : state == BST_INDETERMINATE ? Qt::PartiallyChecked
                                                    : Qt::Unchecked);
    return;
  }
  setButtonChecked(window, id, target, state != BST_UNCHECKED);
}

int dlg_button_state(HWND window, int id) {
  QAbstractButton *target = button(window, id);
  if (!target)
    return BST_UNCHECKED;
  if (auto *box = qobject_cast<QCheckBox *>(target)) {
    switch (box->checkState()) {
    case Qt::Checked:
      return BST_CHECKED;
    case Qt::PartiallyChecked:
      return BST_INDETERMINATE;
    default:
      return BST_UNCHECKED;
    }
  }
  return target->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void dlg_check_radio(HWND window, int first, int last, int check) {
  if (!window)
    return;
  // Clear the others first, so an exclusive group never holds two.
  for (int id = first; id <= last; ++id)
    if (QAbstractButton *target = button(window, id); target && id != check)
      setButtonChecked(window, id, target, false);
  if (QAbstractButton *target = button(window, check))
    setButtonChecked(window, check, target, true);
}

void dlg_set_focus(HWND window, int id) {
  if (!window)
    return;
  QWidget *widget = window->control(id);
  if (id == IDC_PANE && window->screens() && !window->screens()->isHidden())
    widget = window->screens();
  if (widget)
    widget->setFocus(Qt::OtherFocusReason);
}

void dlg_enable(HWND window, int id, bool enabled) {
  if (!window)
    return;
  if (QWidget *widget = window->control(id))
    widget->setEnabled(enabled);
}

int dlg_enabled(HWND window, int id) {
  QWidget *widget = window ? window->control(id) : nullptr;
  return widget && widget->isEnabled() ? 1 : 0;
}

int dlg_focus_id(HWND window) {
  if (!window)
    return 0;
  const int id = window->controlIdOf(QApplication::focusWidget());
  return id > 0 ? id : 0;
}

void dlg_set_tooltip(HWND window, int id, const char *text) {
  if (!window)
    return;
  if (QWidget *widget = window->control(id))
    widget->setToolTip(fromPath(text));
}

// --- Drop-down lists ----------------------------------------------------------------------
// A list control's selection and its edit field are separate: adding or
// deleting entries changes neither the field's text nor, beyond shifting,
// the selection. QComboBox does both, so the calls below put them back.

int dlg_combo_add(HWND window, int id, const char *text) {
  QComboBox *list = combo(window, id);
  if (!list)
    return CB_ERR;
  const QString field = list->currentText();
  const int selected = list->currentIndex();
  list->addItem(fromBytes(text));
  if (list->currentIndex() != selected) {
    list->setCurrentIndex(selected);
    list->setEditText(field);
  }
  return list->count() - 1;
}

int dlg_combo_count(HWND window, int id) {
  QComboBox *list = combo(window, id);
  return list ? list->count() : CB_ERR;
}

int dlg_combo_get_sel(HWND window, int id) {
  QComboBox *list = combo(window, id);
  if (!list || list->currentIndex() < 0)
    return CB_ERR;
  return list->currentIndex();
}

int dlg_combo_set_sel(HWND window, int id, int index) {
  QComboBox *list = combo(window, id);
  if (!list)
    return CB_ERR;
  if (index < 0 || index >= list->count()) {
    list->setCurrentIndex(-1);
    list->setEditText(QString());
    return CB_ERR;
  }
  list->setCurrentIndex(index);
  list->setEditText(list->itemText(index));
  return index;
}

int dlg_combo_find_exact(HWND window, int id, int start, const char *text) {
  QComboBox *list = combo(window, id);
  if (!list)
    return CB_ERR;
  const int count = list->count();
  if (count == 0)
    return CB_ERR;
  const QString wanted = fromBytes(text);
  // From the entry after `start` to the end, then from the first on, as the
  // list control searches.
  const int from = (start < 0 || start >= count) ? 0 : start + 1;
  for (int step = 0; step < count; ++step) {
    const int index = (from + step) % count;
    if (list->itemText(index).compare(wanted, Qt::CaseInsensitive) == 0)
      return index;
  }
  return CB_ERR;
}

int dlg_combo_delete(HWND window, int id, int index) {
  QComboBox *list = combo(window, id);
  if (!list || index < 0 || index >= list->count())
    return CB_ERR;
  const QString field = list->currentText();
  int selected = list->currentIndex();
  if (selected == index)
    selected = -1;
  else if (selected > index)
    --selected;
  list->removeItem(index);
  list->setCurrentIndex(selected);
  list->setEditText(field);
  return list->count();
}

int dlg_combo_item_text(HWND window, int id, int index, char *buffer, int size) {
  QComboBox *list = combo(window, id);
  if (!list || index < 0 || index >= list->count()) {
    copyOut(QString(), buffer, size);
    return CB_ERR;
  }
  return copyOut(list->itemText(index), buffer, size);
}

void dlg_combo_reset(HWND window, int id) {
  if (QComboBox *list = combo(window, id)) {
    list->clear();
    list->setEditText(QString());
  }
}

void dlg_combo_set_item_tooltip(HWND window, int id, int index, const char *text) {
  QComboBox *list = combo(window, id);
  if (list && index >= 0 && index < list->count())
    list->setItemData(index, fromPath(text), Qt::ToolTipRole);
}

void dlg_combo_set_item_shown(HWND window, int id, int index, const char *shown, bool greyed) {
  QComboBox *list = combo(window, id);
  if (!list || index < 0 || index >= list->count())
    return;
  list->setItemData(index, fromPath(shown), DlgComboBox::kShownRole);
  list->setItemData(
      index,
      greyed ? QVariant(list->palette().brush(QPalette::Disabled, QPalette::Text)) : QVariant(),
      Qt::ForegroundRole);
}

// --- The display pane -----------------------------------------------------------------------

namespace {

DisplayPane *paneOf(HWND window, int id) {
  return window ? qobject_cast<DisplayPane *>(window->control(id)) : nullptr;
}

std::string_view bytesOf(const char *text, int length) {
  return (text && length > 0) ? std::string_view(text, size_t(length)) : std::string_view();
}

}  // namespace

void dlg_pane_replace_sel(HWND window, int id, const char *text, int length, uint32_t colour) {
  if (DisplayPane *pane = paneOf(window, id)) {
    pane->model().setSelectionColour(colour);
    pane->model().replaceSelection(bytesOf(text, length));
  }
}

void dlg_pane_append(HWND window, int id, const char *text, int length, uint32_t colour) {
  if (DisplayPane *pane = paneOf(window, id))
    pane->model().appendKeepingSelection(bytesOf(text, length), colour);
}

void dlg_pane_set_sel_colour(HWND window, int id, uint32_t colour) {
  if (DisplayPane *pane = paneOf(window, id))
    pane->model().setSelectionColour(colour);
}

uint32_t dlg_pane_sel_colour(HWND window, int id) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->model().insertionColour() : 0;
}

void dlg_pane_get_sel(HWND window, int id, int64_t *start, int64_t *end) {
  PaneSelection selection;
  if (DisplayPane *pane = paneOf(window, id))
    selection = pane->model().selection();
  if (start)
    *start = selection.start();
  if (end)
    *end = selection.end();
}

void dlg_pane_set_sel(HWND window, int id, int64_t anchor, int64_t caret) {
  if (DisplayPane *pane = paneOf(window, id))
    pane->model().setSelection(anchor, caret);
}

int64_t dlg_pane_text_length(HWND window, int id) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->model().length() : 0;
}

int64_t dlg_pane_line_count(HWND window, int id) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->model().lineCount() : 0;
}

int64_t dlg_pane_line_from_char(HWND window, int id, int64_t position) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->model().lineFromPosition(position) : 0;
}

int64_t dlg_pane_line_index(HWND window, int id, int64_t line) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->model().lineStart(line) : 0;
}

int64_t dlg_pane_line_length(HWND window, int id, int64_t line) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->model().lineLength(line) : 0;
}

int64_t dlg_pane_first_visible_line(HWND window, int id) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->firstVisibleLine() : 0;
}

void dlg_pane_line_scroll(HWND window, int id, int64_t lines) {
  if (DisplayPane *pane = paneOf(window, id))
    pane->scrollLines(lines);
}

void dlg_pane_set_text(HWND window, int id, const char *text, int length) {
  if (DisplayPane *pane = paneOf(window, id))
    pane->model().setText(bytesOf(text, length));
}

void dlg_pane_set_default_colour(HWND window, int id, uint32_t colour) {
  if (DisplayPane *pane = paneOf(window, id)) {
    pane->model().setDefaultColour(colour);
    pane->model().setSelectionColour(colour);
  }
}

void dlg_pane_set_wrap(HWND window, int id, bool on) {
  if (DisplayPane *pane = paneOf(window, id))
    pane->setWrap(on);
}

void dlg_pane_set_hex_groups(HWND window, int id, bool on) {
  if (paneOf(window, id) && window->findBar())
    window->findBar()->setHexGroups(on);
}

int dlg_pane_key_down(HWND window, int id, int virtualKey) {
  DisplayPane *pane = paneOf(window, id);
  return pane ? pane->sendKeyDown(virtualKey) : 0;
}

void dlg_pane_act_on_key(HWND window, int id, int virtualKey) {
  if (DisplayPane *pane = paneOf(window, id))
    pane->actOnKey(virtualKey);
}

// --- Timers ---------------------------------------------------------------------------------

unsigned dlg_set_timer(HWND window, unsigned id, unsigned ms) {
  return window ? window->setTimer(id, ms) : 0;
}

int dlg_kill_timer(HWND window, unsigned id) { return window ? window->killTimer(id) : 0; }

// --- Descriptors --------------------------------------------------------------------------------

int dlg_watch_readable(HWND window, int fd, unsigned message) {
  return window ? window->watchReadable(fd, message) : 0;
}

// --- Message boxes and the file dialog ----------------------------------------------------------

void dlg_set_message_box_hook(DlgMessageBoxHook hook) { g_messageBoxHook = std::move(hook); }
void dlg_set_file_dialog_hook(DlgFileDialogHook hook) { g_fileDialogHook = std::move(hook); }

int dlg_message_box(HWND owner, const char *text, const char *caption, unsigned flags) {
  const std::string textBytes = text ? text : "";
  const std::string captionBytes = caption ? caption : "";
  if (g_messageBoxHook) {
    g_messageBoxHook(textBytes, captionBytes);
    return IDOK_RESULT;
  }
  const QMessageBox::Icon icon =
      (flags & MB_ICONEXCLAMATION) ? QMessageBox::Warning : QMessageBox::NoIcon;
  // Without an owner the box still centres on the main window.
  QWidget *parent = owner ? static_cast<QWidget *>(owner) : static_cast<QWidget *>(g_current);
  QMessageBox box(icon, fromBytes(captionBytes.c_str()), fromBytes(textBytes.c_str()),
                  QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  return IDOK_RESULT;
}

void dlg_set_question_hook(DlgQuestionHook hook) { g_questionHook = std::move(hook); }

int dlg_question_box(HWND owner, const char *text, const char *caption, const char *const buttons[],
                     int count) {
  if (count < 1)
    return 0;
  if (g_questionHook) {
    const int pressed = g_questionHook(text ? text : "", caption ? caption : "",
                                       std::vector<std::string>(buttons, buttons + count));
    return pressed >= 0 && pressed < count ? pressed : count - 1;
  }
  QWidget *parent = owner ? static_cast<QWidget *>(owner) : static_cast<QWidget *>(g_current);
  QMessageBox box(QMessageBox::Question, fromBytes(caption ? caption : ""),
                  fromBytes(text ? text : ""), QMessageBox::NoButton, parent);
  std::vector<QPushButton *> made;
  for (int i = 0; i < count; ++i)
    made.push_back(box.addButton(
        fromBytes(buttons[i]), i == count - 1 ? QMessageBox::RejectRole : QMessageBox::AcceptRole));
  box.setDefaultButton(made.front());
  box.setEscapeButton(made.back());
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  for (int i = 0; i < count; ++i)
    if (box.clickedButton() == made[size_t(i)])
      return i;
  return count - 1;
}

int dlg_choose_file(HWND owner, const char *title, const char *filter, const char *defaultExtension,
                    char *path, int size) {
  if (path && size > 0)
    path[0] = '\0';
  std::string chosen;
  bool accepted = false;
  if (g_fileDialogHook) {
    accepted = g_fileDialogHook(true, chosen);
  } else {
    QWidget *parent = owner ? static_cast<QWidget *>(owner) : static_cast<QWidget *>(g_current);
    QFileDialog dialog(parent, fromBytes(title), QDir::currentPath(), fromBytes(filter));
    // Qt's own dialog: a platform's open dialog may insist on an existing file.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(fromBytes(defaultExtension));
    dialog.setWindowModality(Qt::ApplicationModal);
    accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    if (accepted)
      chosen = QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
  }
  if (!accepted || chosen.empty() || !path || chosen.size() >= size_t(size))
    return 0;
  std::memcpy(path, chosen.c_str(), chosen.size() + 1);
  return 1;
}

void dlg_set_path_text(HWND window, int id, const char *path) {
  if (!window)
    return;
  if (auto *label = qobject_cast<QLabel *>(window->control(id))) {
    label->setText(fromPath(path));
    label->setToolTip(fromPath(path));
  }
}

// --- Acting as the user ---------------------------------------------------------------------

void dlg_user_focus(HWND window, int id) {
  if (!window)
    return;
  if (QWidget *widget = window->control(id))
    widget->setFocus(Qt::TabFocusReason);
}

void dlg_user_choose(HWND window, int id, int index) {
  auto *list = qobject_cast<DlgComboBox *>(window ? window->control(id) : nullptr);
  if (!list || !list->isEnabled() || index < 0 || index >= list->count())
    return;
  // A person clicks the field (it takes the focus), opens the list, picks
  // the entry, and the list closes.
  list->setFocus(Qt::MouseFocusReason);
  list->showPopup();
  list->setCurrentIndex(index);
  list->hidePopup();
  emit list->activated(index);
}

void dlg_user_click(HWND window, int id) {
  QAbstractButton *target = button(window, id);
  if (!target || !target->isEnabled())
    return;
  // A click takes the focus first, as with the mouse.
  if (target->focusPolicy() & Qt::ClickFocus)
    target->setFocus(Qt::MouseFocusReason);
  if (!window->ended())
    target->click();
}

void dlg_user_type(HWND window, int id, const char *text) {
  QComboBox *list = combo(window, id);
  if (!list || !list->isEnabled())
    return;
  list->setFocus(Qt::MouseFocusReason);
  list->lineEdit()->selectAll();
  list->lineEdit()->insert(fromBytes(text));
}

// --- The Terminal view's screens -----------------------------------------------------------

namespace {

TerminalScreens *screensOf(HWND window) { return window ? window->screens() : nullptr; }

}  // namespace

void dlg_screens_show(HWND window, bool on) {
  if (window)
    window->showScreens(on);
}

void dlg_screen_set_size(HWND window, int side, int rows, int columns) {
  if (TerminalScreens *screens = screensOf(window))
    screens->setScreenSize(side, rows, columns);
}

void dlg_screen_set_title(HWND window, int side, const char *title) {
  if (TerminalScreens *screens = screensOf(window))
    screens->setTitle(side, fromPath(title));
}

void dlg_screen_put(HWND window, int side, int row, int column, const ScreenCell *cells,
                    int count) {
  if (TerminalScreens *screens = screensOf(window))
    screens->putCells(side, row, column, cells, count);
}

void dlg_screen_set_cursor(HWND window, int side, int row, int column, bool visible) {
  if (TerminalScreens *screens = screensOf(window))
    screens->setCursor(side, row, column, visible);
}

void dlg_screen_set_focus_mark(HWND window, int side) {
  if (TerminalScreens *screens = screensOf(window))
    screens->setFocusSide(side);
}
