// The stand-in dialog manager on its own: the window built from its
// template, lists, timers, the pane's calls, the hooks that answer modal
// dialogs, and the way events become messages.
#include "dlg/dlg.h"
#include "dlg/dlg_window.h"
#include "pane/pane_view.h"
#include "resources/dialog_template.h"
#include "resources/ids.h"
#include "support/event_loop.h"
#include "support/file_dialog_person.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

struct Message {
  unsigned message;
  uintptr_t wParam;
};
std::vector<Message> g_messages;

int quietProc(HWND, unsigned message, uintptr_t wParam, intptr_t) {
  g_messages.push_back({message, wParam});
  return message == WM_INITDIALOG ? 1 : 0;
}

class DlgLayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    g_messages.clear();
    window_ = dlg_create(quietProc);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override { dlg_destroy(window_); }
  int timerTicks(unsigned id) const {
    int n = 0;
    for (const auto &m : g_messages)
      n += (m.message == WM_TIMER && m.wParam == id);
    return n;
  }
  std::string field(int id) const {
    char buffer[128];
    dlg_get_text(window_, id, buffer, sizeof buffer);
    return buffer;
  }
  HWND window_ = nullptr;
};

}  // namespace

TEST_F(DlgLayerTest, EveryTemplateControlIsBuiltAsItsKind) {
  std::set<int> ids;
  for (int i = 0; i < kMainDialog.controlCount; ++i) {
    const DialogControl &entry = kMainDialog.controls[i];
    EXPECT_TRUE(ids.insert(entry.id).second) << "id " << entry.id << " twice";
    QWidget *widget = window_->control(entry.id);
    ASSERT_NE(widget, nullptr) << entry.id;
    switch (entry.kind) {
    case ControlKind::DisplayPane:
      EXPECT_NE(qobject_cast<DisplayPane *>(widget), nullptr);
      break;
    case ControlKind::DropDown: {
      auto *combo = qobject_cast<QComboBox *>(widget);
      ASSERT_NE(combo, nullptr) << entry.id;
      EXPECT_TRUE(combo->isEditable());
      EXPECT_EQ(combo->insertPolicy(), QComboBox::NoInsert);
      break;
    }
    case ControlKind::PushRadio:
    case ControlKind::PushCheck: {
      auto *button = qobject_cast<QPushButton *>(widget);
      ASSERT_NE(button, nullptr) << entry.id;
      EXPECT_TRUE(button->isCheckable());
      break;
    }
    case ControlKind::ThreeState: {
      auto *box = qobject_cast<QCheckBox *>(widget);
      ASSERT_NE(box, nullptr);
      EXPECT_TRUE(box->isTristate());
      break;
    }
    case ControlKind::GroupBox:
      EXPECT_NE(qobject_cast<QGroupBox *>(widget), nullptr);
      break;
    case ControlKind::StatusField: {
      auto *label = qobject_cast<QLabel *>(widget);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->frameShadow(), QFrame::Sunken);
      break;
    }
    case ControlKind::Label:
      EXPECT_NE(qobject_cast<QLabel *>(widget), nullptr);
      break;
    case ControlKind::PushButton:
      EXPECT_FALSE(qobject_cast<QPushButton *>(widget)->isCheckable());
      break;
    }
  }
  // The 60 of the original dialog, Time, Ports, the line status, Wireshark,
  // the 12 macro buttons and "Macros...", and each side's six lamps, Break,
  // label and its pulse's and break's lengths with their label.
  EXPECT_EQ(ids.size(), 99u);
  EXPECT_EQ(window_->windowTitle().toStdString(), "Kestrelon version 4.5, April 2003");
  // Right-aligned labels unless the template says otherwise.
  EXPECT_TRUE(qobject_cast<QLabel *>(window_->control(IDC_LABEL_SPEED_A))->alignment() &
              Qt::AlignRight);
  EXPECT_TRUE(qobject_cast<QLabel *>(window_->control(IDC_LABEL_MESSAGE))->alignment() &
              Qt::AlignLeft);
  EXPECT_TRUE(qobject_cast<QLabel *>(window_->control(IDC_XFER_STATUS))->alignment() &
              Qt::AlignRight);
  EXPECT_TRUE(qobject_cast<QLabel *>(window_->control(IDC_FILE_NAME))->alignment() & Qt::AlignLeft);
}

TEST_F(DlgLayerTest, DialogUnitsBecomePixelsFromTheFontAndThePaneGetsTheExtraRoom) {
  const int bx = window_->baseUnitX();
  const int by = window_->baseUnitY();
  ASSERT_GT(bx, 2);
  ASSERT_GT(by, 6);
  // At the template's size every control stands where its dialog units say.
  window_->resize(window_->templateSize());
  QApplication::processEvents();
  const QRect exit = window_->control(IDC_EXIT)->geometry();
  EXPECT_NEAR(exit.x(), 495 * bx / 4, 1);
  EXPECT_NEAR(exit.y(), 296 * by / 8, 1);
  EXPECT_NEAR(exit.width(), 40 * bx / 4, 1);
  EXPECT_NEAR(exit.height(), 14 * by / 8, 1);
  const QRect group = window_->control(IDC_GROUP_PORT_A)->geometry();
  EXPECT_NEAR(group.x(), 366 * bx / 4, 1);
  EXPECT_NEAR(group.y(), 7 * by / 8, 1);
  EXPECT_EQ(window_->minimumSize(), window_->templateSize());

  // Larger: the pane takes the room; the settings column keeps its distance
  // to the right edge; the bottom row keeps its distance to the bottom.
  const QRect paneBefore = window_->control(IDC_PANE)->geometry();
  const QRect groupBefore = group;
  const QRect exitBefore = exit;
  const QRect messageBefore = window_->control(IDC_MESSAGE)->geometry();
  window_->resize(window_->templateSize() + QSize(300, 200));
  QApplication::processEvents();
  const QRect paneAfter = window_->control(IDC_PANE)->geometry();
  EXPECT_EQ(paneAfter.topLeft(), paneBefore.topLeft());
  EXPECT_EQ(paneAfter.size(), paneBefore.size() + QSize(300, 200));
  EXPECT_EQ(window_->control(IDC_GROUP_PORT_A)->geometry(), groupBefore.translated(300, 0));
  EXPECT_EQ(window_->control(IDC_EXIT)->geometry(), exitBefore.translated(300, 200));
  const QRect messageAfter = window_->control(IDC_MESSAGE)->geometry();
  EXPECT_EQ(messageAfter.topLeft(), messageBefore.topLeft() + QPoint(0, 200));
  EXPECT_EQ(messageAfter.width(), messageBefore.width() + 300);
}

TEST_F(DlgLayerTest, DefaultSizeShowsEightyColumnsAndTwentyFiveRows) {
  DisplayPane *pane = window_->pane();
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(window_->size(), window_->defaultSize());
  EXPECT_GE(pane->visibleColumns(), 80);
  EXPECT_GE(pane->visibleRows(), 25);
}

TEST_F(DlgLayerTest, InitialisationComesFirstAndFocusGoesToTheFirstControl) {
  ASSERT_FALSE(g_messages.empty());
  EXPECT_EQ(g_messages.front().message, unsigned(WM_INITDIALOG));
  EXPECT_EQ(window_->controlIdOf(QApplication::focusWidget()), IDC_PANE);
  EXPECT_EQ(dlg_current(), window_);
}

TEST_F(DlgLayerTest, ListsKeepOrderFieldAndSelectionLikeTheListControl) {
  // Adding neither selects nor changes the field.
  dlg_set_text(window_, IDC_MESSAGE, "typed");
  EXPECT_EQ(dlg_combo_add(window_, IDC_MESSAGE, "b"), 0);
  EXPECT_EQ(dlg_combo_add(window_, IDC_MESSAGE, "a"), 1);
  EXPECT_EQ(dlg_combo_add(window_, IDC_MESSAGE, "B"), 2);
  EXPECT_EQ(dlg_combo_get_sel(window_, IDC_MESSAGE), CB_ERR);
  EXPECT_EQ(field(IDC_MESSAGE), "typed");
  char item[8];
  dlg_combo_item_text(window_, IDC_MESSAGE, 0, item, sizeof item);
  EXPECT_STREQ(item, "b");  // insertion order, never sorted
  // Exact search ignores case and goes on from the first entry after start.
  EXPECT_EQ(dlg_combo_find_exact(window_, IDC_MESSAGE, -1, "B"), 0);
  EXPECT_EQ(dlg_combo_find_exact(window_, IDC_MESSAGE, 0, "B"), 2);
  EXPECT_EQ(dlg_combo_find_exact(window_, IDC_MESSAGE, 2, "b"), 0);
  EXPECT_EQ(dlg_combo_find_exact(window_, IDC_MESSAGE, -1, "c"), CB_ERR);
  // Selecting shows the entry; outside the list empties the field.
  EXPECT_EQ(dlg_combo_set_sel(window_, IDC_MESSAGE, 1), 1);
  EXPECT_EQ(field(IDC_MESSAGE), "a");
  // Deleting another entry shifts the selection, never the field's text.
  dlg_set_text(window_, IDC_MESSAGE, "edited");
  EXPECT_EQ(dlg_combo_delete(window_, IDC_MESSAGE, 0), 2);
  EXPECT_EQ(dlg_combo_get_sel(window_, IDC_MESSAGE), 0);
  EXPECT_EQ(field(IDC_MESSAGE), "edited");
  EXPECT_EQ(dlg_combo_delete(window_, IDC_MESSAGE, 0), 1);
  EXPECT_EQ(dlg_combo_get_sel(window_, IDC_MESSAGE), CB_ERR);
  EXPECT_EQ(field(IDC_MESSAGE), "edited");
  EXPECT_EQ(dlg_combo_delete(window_, IDC_MESSAGE, 5), CB_ERR);
  EXPECT_EQ(dlg_combo_set_sel(window_, IDC_MESSAGE, 7), CB_ERR);
  EXPECT_EQ(field(IDC_MESSAGE), "");
  dlg_combo_reset(window_, IDC_MESSAGE);
  EXPECT_EQ(dlg_combo_count(window_, IDC_MESSAGE), 0);
  // None of it is a user's choice.
  for (const auto &m : g_messages)
    EXPECT_FALSE(m.message == WM_COMMAND && HIWORD(m.wParam) == CBN_SELCHANGE);
}

TEST_F(DlgLayerTest, TextCopiesAreCutToTheBuffer) {
  dlg_set_text(window_, IDC_XFER_STATUS, "Packets = 12 ");
  char small[5];
  EXPECT_EQ(dlg_get_text(window_, IDC_XFER_STATUS, small, sizeof small), 4);
  EXPECT_STREQ(small, "Pack");
}

// Fields, list entries and status fields show bytes as the pane does and
// give the same bytes back.
TEST_F(DlgLayerTest, TextsAreBytesShownAsThePaneShowsThem) {
  std::string every;
  for (int b = 1; b < 256; ++b)
    every += char(b);
  struct Shown {
    int id;
    std::function<QString()> text;
  };
  auto *field = qobject_cast<QComboBox *>(window_->control(IDC_MESSAGE));
  auto *status = qobject_cast<QLabel *>(window_->control(IDC_XFER_STATUS));
  const Shown shown[] = {{IDC_MESSAGE, [&] { return field->currentText(); }},
                         {IDC_XFER_STATUS, [&] { return status->text(); }}};
  for (const Shown &control : shown) {
    SCOPED_TRACE(control.id);
    dlg_set_text(window_, control.id, "\x80 \x85 \x93\x94 \x1B \xE9");
    EXPECT_EQ(control.text(), QString::fromUtf8("\u20AC \u2026 \u201C\u201D \u241B \u00E9"));
    char back[512];
    dlg_set_text(window_, control.id, every.c_str());
    EXPECT_EQ(dlg_get_text(window_, control.id, back, sizeof back), 255);
    EXPECT_EQ(std::string(back), every);
  }
  dlg_combo_add(window_, IDC_MESSAGE, every.c_str());
  dlg_combo_add(window_, IDC_MESSAGE, "\x80");
  char item[512];
  EXPECT_EQ(dlg_combo_item_text(window_, IDC_MESSAGE, 0, item, sizeof item), 255);
  EXPECT_EQ(std::string(item), every);
  EXPECT_EQ(field->itemText(1), QString::fromUtf8("\u20AC"));
  // Typed characters are the bytes they show; one without a byte is '?'.
  dlg_user_type(window_, IDC_MESSAGE, "");
  field->lineEdit()->insert(QString::fromUtf8("\u20AC\u2401\u4E00"));
  char typed[8];
  EXPECT_EQ(dlg_get_text(window_, IDC_MESSAGE, typed, sizeof typed), 3);
  EXPECT_STREQ(typed, "\x80\x01?");
  EXPECT_EQ(dlg_combo_find_exact(window_, IDC_MESSAGE, -1, "\x80"), 1);
}

// The file dialog gives back the chosen file's path in the file system's
// encoding, so non-ASCII names open.
TEST_F(DlgLayerTest, FileDialogPathsAreTheFileSystemsBytes) {
  TempDir dir;
  const std::string folder = dir.file("caf\xC3\xA9");  // UTF-8, as the file system has it
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string file = folder + "/\xC3\xBC.bin";  // the name typed below
  writeFileBytes(file, {1, 2, 3});
  // Answered as a person would; whatever else pops up is closed.
  FileDialogPerson person(QString::fromUtf8(file.c_str()));
  char path[512];
  ASSERT_EQ(dlg_choose_file(window_, "Select", "All Files (*)", "bin", path, sizeof path), 1);
  EXPECT_EQ(std::string(path), file);
  EXPECT_EQ(readFileBytes(path), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(DlgLayerTest, ThreeStateAndExclusiveRadioButtons) {
  dlg_check_button(window_, IDC_OPEN_A, BST_INDETERMINATE);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_INDETERMINATE);
  dlg_check_radio(window_, IDC_RUN, IDC_STOP, IDC_STOP);
  EXPECT_EQ(dlg_button_state(window_, IDC_STOP), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_RUN), BST_UNCHECKED);
  // A person's click checks one and clears the other of the pair only.
  dlg_check_radio(window_, IDC_LOG, IDC_NO_LOG, IDC_NO_LOG);
  dlg_user_click(window_, IDC_RUN);
  EXPECT_EQ(dlg_button_state(window_, IDC_RUN), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_STOP), BST_UNCHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_NO_LOG), BST_CHECKED);
  // The program may clear a checked radio button.
  dlg_check_button(window_, IDC_RUN, BST_UNCHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_RUN), BST_UNCHECKED);
  int clicks = 0;
  for (const auto &m : g_messages)
    clicks += (m.message == WM_COMMAND && LOWORD(m.wParam) == unsigned(IDC_RUN) &&
               HIWORD(m.wParam) == BN_CLICKED);
  EXPECT_EQ(clicks, 1);
}

TEST_F(DlgLayerTest, TimersTickByIdUntilKilledAndSettingAgainRearms) {
  EXPECT_EQ(dlg_set_timer(window_, 3, 20), 3u);
  EXPECT_EQ(dlg_set_timer(window_, 7, 20), 7u);
  EXPECT_EQ(dlg_set_timer(window_, 0, 20), 0u);
  ASSERT_TRUE(processEventsUntil([&] { return timerTicks(3) >= 2 && timerTicks(7) >= 2; }, 5000));
  EXPECT_EQ(dlg_kill_timer(window_, 3), 1);
  EXPECT_EQ(dlg_kill_timer(window_, 3), 0);
  EXPECT_EQ(dlg_kill_timer(window_, 9), 0);
  const int ticksAfterKill = timerTicks(3);
  processEventsFor(80);
  EXPECT_EQ(timerTicks(3), ticksAfterKill);
  // Re-arming with a long period: the old period no longer ticks.
  dlg_set_timer(window_, 7, 60000);
  const int sevenBefore = timerTicks(7);
  processEventsFor(80);
  EXPECT_EQ(timerTicks(7), sevenBefore);
  // An ended dialog gets no more ticks.
  dlg_set_timer(window_, 3, 10);
  dlg_end(window_, 5);
  int result = 0;
  ASSERT_TRUE(dlg_ended(window_, &result));
  EXPECT_EQ(result, 5);
  const int ticksAtEnd = timerTicks(3);
  processEventsFor(60);
  EXPECT_EQ(timerTicks(3), ticksAtEnd);
}

// A descriptor with bytes to read is told as a message, again and again
// while the bytes stay unread, until its watch stops; watching again changes
// the message; an ended dialog is told nothing.
TEST_F(DlgLayerTest, AReadableDescriptorIsToldAsAMessageUntilItsWatchStops) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  constexpr unsigned kReady = WM_USER + 7, kOther = WM_USER + 8;
  auto told = [&](unsigned message) {
    int n = 0;
    for (const auto &m : g_messages)
      n += (m.message == message && m.wParam == uintptr_t(fds[0]));
    return n;
  };
  EXPECT_EQ(dlg_watch_readable(window_, -1, kReady), 0);
  EXPECT_EQ(dlg_watch_readable(window_, fds[0], kReady), 1);
  processEventsFor(30);
  EXPECT_EQ(told(kReady), 0) << "nothing to read yet";
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  ASSERT_TRUE(processEventsUntil([&] { return told(kReady) >= 2; }));
  EXPECT_EQ(dlg_watch_readable(window_, fds[0], 0), 1);
  const int stopped = told(kReady);
  processEventsFor(30);
  EXPECT_EQ(told(kReady), stopped);
  EXPECT_EQ(dlg_watch_readable(window_, fds[0], kOther), 1);
  ASSERT_TRUE(processEventsUntil([&] { return told(kOther) >= 1; }));
  EXPECT_EQ(told(kReady), stopped);
  dlg_end(window_, 0);
  const int atEnd = told(kOther);
  processEventsFor(30);
  EXPECT_EQ(told(kOther), atEnd);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(dlg_watch_readable(window_, fds[0], 0), 1);
}

TEST_F(DlgLayerTest, AHookAnswersTheMessageBox) {
  std::vector<std::string> seen;
  dlg_set_message_box_hook([&](const std::string &text, const std::string &caption) {
    seen.push_back(caption + ": " + text);
  });
  EXPECT_EQ(dlg_message_box(nullptr, "Timer is broken = 0", "Kestrelon Windows Error", MB_OK),
            IDOK_RESULT);
  EXPECT_EQ(seen, (std::vector<std::string>{"Kestrelon Windows Error: Timer is broken = 0"}));
  dlg_set_message_box_hook(nullptr);
}

// A chosen file's path is given whole or not at all: cut short it would name
// another file. Shown in a status field, it reads as the file system spells it.
TEST_F(DlgLayerTest, AChosenPathIsWholeOrNothingAndShowsAsSpelt) {
  const std::string chosen = "/tmp/caf\xC3\xA9/session.htm";  // UTF-8, as the file system has it
  dlg_set_file_dialog_hook([&](bool, std::string &path) {
    path = chosen;
    return true;
  });
  char small[16] = "unchanged";
  EXPECT_EQ(dlg_choose_file(window_, "Log", "All Files (*)", "htm", small, sizeof small), 0);
  EXPECT_STREQ(small, "");
  char whole[64];
  EXPECT_EQ(dlg_choose_file(window_, "Log", "All Files (*)", "htm", whole, sizeof whole), 1);
  EXPECT_EQ(std::string(whole), chosen);
  dlg_set_file_dialog_hook(nullptr);

  dlg_set_path_text(window_, IDC_FILE_NAME, whole);
  const auto *field = qobject_cast<QLabel *>(window_->control(IDC_FILE_NAME));
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->text(), QString::fromUtf8("/tmp/caf\u00E9/session.htm"));
  EXPECT_EQ(field->toolTip(), field->text());

  dlg_set_file_dialog_hook([](bool, std::string &) { return false; });  // cancelled
  EXPECT_EQ(dlg_choose_file(window_, "Log", "All Files (*)", "htm", whole, sizeof whole), 0);
  EXPECT_STREQ(whole, "");
  dlg_set_file_dialog_hook(nullptr);
}

TEST_F(DlgLayerTest, UnhandledCloseRequestBecomesTheCancelCommand) {
  window_->close();
  bool sawClose = false;
  bool sawCancel = false;
  for (const auto &m : g_messages) {
    sawClose |= m.message == WM_CLOSE;
    sawCancel |= m.message == WM_COMMAND && LOWORD(m.wParam) == 2u;
  }
  EXPECT_TRUE(sawClose);
  EXPECT_TRUE(sawCancel);
  // The window stays until the procedure ends the dialog.
  EXPECT_FALSE(dlg_ended(window_, nullptr));
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(DlgLayerTest, EndingTheDialogClosesAMessageBoxStillOpen) {
  // As when a shutdown signal arrives while a real box waits for a person.
  QTimer ending;
  ending.setSingleShot(true);
  QObject::connect(&ending, &QTimer::timeout, [this] { dlg_end(window_, 0); });
  ending.start(50);
  bool answered = false;
  QTimer safety;  // ends with the test, so it never fires into a later one
  safety.setSingleShot(true);
  QObject::connect(&safety, &QTimer::timeout, [&answered] {
    if (QWidget *modal = QApplication::activeModalWidget())
      modal->close();
    answered = true;
  });
  safety.start(10000);
  EXPECT_EQ(dlg_message_box(window_, "Log File open error = 2", "Kestrelon Windows Error", MB_OK),
            IDOK_RESULT);
  EXPECT_FALSE(answered) << "the box stayed until the safety timer closed it";
  EXPECT_TRUE(dlg_ended(window_, nullptr));
}

TEST_F(DlgLayerTest, PaneCallsActOnThePanesTextSelectionAndLines) {
  const PaneModel &model = window_->pane()->model();
  const char text[] = "ab\r\ncdef\nxyz";
  dlg_pane_set_text(window_, IDC_PANE, text, int(sizeof text - 1));
  EXPECT_EQ(dlg_pane_text_length(window_, IDC_PANE), 12);
  EXPECT_EQ(dlg_pane_line_count(window_, IDC_PANE), 3);
  struct Line {
    int64_t index, length;
  };
  const Line lines[] = {{0, 2}, {4, 4}, {9, 3}};
  for (int64_t line = 0; line < 3; ++line) {
    EXPECT_EQ(dlg_pane_line_index(window_, IDC_PANE, line), lines[line].index) << line;
    EXPECT_EQ(dlg_pane_line_length(window_, IDC_PANE, line), lines[line].length) << line;
    EXPECT_EQ(dlg_pane_line_from_char(window_, IDC_PANE, lines[line].index + 1), line);
  }
  EXPECT_EQ(dlg_pane_line_index(window_, IDC_PANE, 3), -1);
  EXPECT_EQ(dlg_pane_line_from_char(window_, IDC_PANE, 99), 2);

  // The selection reads back first and last position whichever way it was
  // made; -1 is the end.
  int64_t start = -5, end = -5;
  dlg_pane_set_sel(window_, IDC_PANE, 6, 1);
  dlg_pane_get_sel(window_, IDC_PANE, &start, &end);
  EXPECT_EQ(start, 1);
  EXPECT_EQ(end, 6);
  dlg_pane_set_sel(window_, IDC_PANE, 10, -1);
  dlg_pane_get_sel(window_, IDC_PANE, &start, &end);
  EXPECT_EQ(start, 10);
  EXPECT_EQ(end, 12);

  // Replacing the selection puts the text in the colour given; an empty text
  // deletes it.
  dlg_pane_replace_sel(window_, IDC_PANE, "Q\0R", 3, 0x0000FFu);
  EXPECT_EQ(model.text(), std::string("ab\r\ncdef\nxQ\0R", 13));
  EXPECT_EQ(model.colourAt(11), 0x0000FFu);
  dlg_pane_get_sel(window_, IDC_PANE, &start, &end);
  EXPECT_EQ(start, 13);
  EXPECT_EQ(end, 13);
  dlg_pane_set_sel(window_, IDC_PANE, 0, 4);
  dlg_pane_replace_sel(window_, IDC_PANE, "", 0, 0x0000FFu);
  EXPECT_EQ(model.text(), std::string("cdef\nxQ\0R", 9));

  // A caret's colour is that of the next text.
  dlg_pane_set_sel(window_, IDC_PANE, 0, 0);
  dlg_pane_set_sel_colour(window_, IDC_PANE, 0x123456u);
  dlg_pane_replace_sel(window_, IDC_PANE, nullptr, 0, 0x123456u);
  EXPECT_EQ(model.insertionColour(), 0x123456u);

  // Appending leaves a selection where it was.
  const PaneColour selectedColour = model.colourAt(1);
  dlg_pane_set_sel(window_, IDC_PANE, 1, 3);
  dlg_pane_append(window_, IDC_PANE, "++", 2, 0xFF0000u);
  EXPECT_EQ(model.text(), std::string("cdef\nxQ\0R++", 11));
  EXPECT_EQ(model.selection(), (PaneSelection{1, 3}));
  EXPECT_EQ(model.colourAt(10), 0xFF0000u);
  EXPECT_EQ(model.colourAt(1), selectedColour) << "the selected text kept its colour";

  // A key sent to the pane acts as typed once the filter has seen it.
  dlg_pane_set_sel(window_, IDC_PANE, 3, 3);
  g_messages.clear();
  EXPECT_EQ(dlg_pane_key_down(window_, IDC_PANE, VK_LEFT), VK_LEFT);
  EXPECT_EQ(model.selection().caret, 2);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0].message, unsigned(WM_NOTIFY));

  // Wrapping off and on again; a control that is no pane answers 0.
  dlg_pane_set_wrap(window_, IDC_PANE, false);
  EXPECT_FALSE(window_->pane()->wrap());
  dlg_pane_set_wrap(window_, IDC_PANE, true);
  EXPECT_TRUE(window_->pane()->wrap());
  EXPECT_EQ(dlg_pane_line_count(window_, IDC_SEND), 0);
  EXPECT_EQ(dlg_pane_key_down(window_, IDC_SEND, VK_LEFT), 0);
}
