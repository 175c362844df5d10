// What the shell's start-up adds to the monitor core's: the pump armed, the
// pane green and holding the focus.
#include "support/window_fixture.h"

#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "pane/pane_view.h"
#include "resources/ids.h"

#include <QApplication>

using ShellTest = WindowTest;

TEST_F(ShellTest, StartUpArmsThePumpAndGivesTheGreenPaneTheFocus) {
  // Every list, button and record as the monitor core sets them up is
  // checked by the core's own start-state test.
  start();
  ASSERT_FALSE(dlg_ended(window_, nullptr));
  EXPECT_EQ(paneText(), "");
  EXPECT_EQ(hex_timer, unsigned(TIMER_PUMP));
  EXPECT_EQ(window_->controlIdOf(QApplication::focusWidget()), IDC_PANE);
  EXPECT_EQ(window_->pane()->model().insertionColour(), 0x00FF00u);
  EXPECT_TRUE(boxes_.empty());
}
