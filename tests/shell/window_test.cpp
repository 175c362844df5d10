// The window as built from the template, and its state after start-up.
#include "tests/shell/shell_fixture.h"
#include "support/dialog_reads.h"

#include "dlg/dlg_window.h"
#include "pane/pane_view.h"
#include "hex/hex.h"
#include "resources/dialog_template.h"
#include "resources/ids.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <set>

namespace {}  // namespace

TEST_F(ShellTest, EveryTemplateControlIsBuiltAsItsKind) {
  start();
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
  EXPECT_EQ(ids.size(), 60u);
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

TEST_F(ShellTest, DialogUnitsBecomePixelsFromTheFontAndThePaneGetsTheExtraRoom) {
  start();
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

TEST_F(ShellTest, DefaultSizeShowsEightyColumnsAndTwentyFiveRows) {
  start();
  DisplayPane *pane = window_->pane();
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(window_->size(), window_->defaultSize());
  EXPECT_GE(pane->visibleColumns(), 80);
  EXPECT_GE(pane->visibleRows(), 25);
}

TEST_F(ShellTest, StartUpStateOfEveryControl) {
  // Every list, button and record as the monitor core sets them up is
  // checked by the core's own start-state test; here, that the window runs
  // that set-up and what the shell adds.
  start();
  ASSERT_FALSE(dlg_ended(window_, nullptr));
  EXPECT_EQ(controlText(window_, IDC_PORT_A), "COM1");
  EXPECT_EQ(controlText(window_, IDC_PORT_B), "COM2");
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_A), BST_CHECKED);
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_CHECKED);
  EXPECT_EQ(paneText(), "");

  // The pump is armed, the pane has the focus and shows green on start.
  EXPECT_EQ(hex_timer, unsigned(TIMER_PUMP));
  EXPECT_EQ(window_->controlIdOf(QApplication::focusWidget()), IDC_PANE);
  EXPECT_EQ(window_->pane()->model().insertionColour(), 0x00FF00u);

  // Each Comm Port entry's tooltip names its device.
  auto *portList = qobject_cast<QComboBox *>(window_->control(IDC_PORT_A));
  EXPECT_EQ(portList->itemData(0, Qt::ToolTipRole).toString().toStdString(), com1_.slavePath());
  EXPECT_EQ(portList->itemData(1, Qt::ToolTipRole).toString().toStdString(), com2_.slavePath());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ShellTest, AHistoryFileIsLoadedIntoTheMessageField) {
  writeFileBytes(dir_->file("kestrelon.cfg"),
                 {'0', '1', ' ', '0', '2', '\r', '\n', 'A', 'A', '\r', '\n', '\r', '\n'});
  start();
  EXPECT_EQ(listEntries(window_, IDC_MESSAGE), (std::vector<std::string>{"01 02", "AA"}));
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), "01 02");
}
