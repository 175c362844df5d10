// The Comm Port lists' entries and hot-plug, the typed device, the tooltips
// and the keyboard shortcuts, on the real window offscreen. udev's data is
// faked only through KESTRELON_UDEV_DATA.
#include "support/event_loop.h"
#include "support/socat_link.h"
#include "support/window_fixture.h"
#include "support/dialog_reads.h"

#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "hex/hex_help.h"
#include "pane/pane_screens.h"
#include "pane/pane_view.h"
#include "resources/dialog_template.h"
#include "resources/ids.h"
#include "shell/options.h"

#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QTest>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using PortsTest = WindowTest;

namespace {

struct Shown {
  std::string text;
  bool greyed;
};

Shown shown(HWND window, int list, int port) {
  auto *combo = qobject_cast<QComboBox *>(window->control(list));
  return {combo->itemData(port, DlgComboBox::kShownRole).toString().toStdString(),
          combo->itemData(port, Qt::ForegroundRole).isValid()};
}

}  // namespace

TEST_F(PortsTest, EntriesShowDeviceAdapterAndPresence) {
  PtyPair adapter;
  adapter.mapTo(4);
  struct stat node {};
  ASSERT_EQ(stat(adapter.slavePath().c_str(), &node), 0);
  ASSERT_EQ(mkdir(dir_.file("udev").c_str(), 0700), 0);
  std::ofstream(dir_.file("udev/c" + std::to_string(major(node.st_rdev)) + ":" +
                          std::to_string(minor(node.st_rdev))))
      << "S:serial/by-id/usb-FTDI\nE:ID_VENDOR=FTDI\nE:ID_MODEL=FT232R_USB_UART\n"
         "E:ID_MODEL_ENC=FT232R\\x20USB\\x20UART\\x1b[2J\nE:ID_SERIAL_SHORT=A10K3B7Q\n";
  setenv("KESTRELON_UDEV_DATA", dir_.file("udev").c_str(), 1);
  const std::string byId = dir_.file("usb-FTDI_FT232R_A10K3B7Q-if00-port0");
  ASSERT_EQ(symlink(adapter.slavePath().c_str(), byId.c_str()), 0);
  ASSERT_EQ(symlink(dir_.file("gone").c_str(), dir_.file("dangling").c_str()), 0);
  setenv("KESTRELON_COM6", byId.c_str(), 1);
  setenv("KESTRELON_COM7", dir_.file("dangling").c_str(), 1);
  setenv("KESTRELON_COM8", "rfc2217://127.0.0.1:9", 1);
  start();
  const std::string identity = " FTDI FT232R USB UART?[2J A10K3B7Q";
  const Shown rows[] = {
      {"COM1 " + com1_.slavePath(), false},
      {"COM3 " + dir_.file("no-such-tty") + " (absent)", true},
      {"COM5 " + adapter.slavePath() + identity, false},
      {"COM6 " + byId + " (" + adapter.slavePath().substr(5) + ")" + identity, false},
      {"COM7 " + dir_.file("dangling") + " (absent)", true},
      {"COM8 rfc2217://127.0.0.1:9 (remote)", false},
  };
  for (const Shown &row : rows) {
    const int port = std::stoi(row.text.substr(3)) - 1;
    for (int list : {IDC_PORT_A, IDC_PORT_B}) {
      const Shown seen = shown(window_, list, port);
      EXPECT_EQ(seen.text, row.text);
      EXPECT_EQ(seen.greyed, row.greyed) << row.text;
    }
  }
  unsetenv("KESTRELON_UDEV_DATA");
}

TEST_F(PortsTest, ListsFollowADeviceComingAndGoing) {
  SocatLink link(dir_.path(), "adapter");
  setenv("KESTRELON_COM9", link.nearPath().c_str(), 1);
  start();
  auto greyed = [&] { return shown(window_, IDC_PORT_B, 8).greyed; };
  EXPECT_TRUE(greyed());
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(link.plug());
    EXPECT_TRUE(processEventsUntil([&] { return !greyed(); }, 3000));
    EXPECT_NE(shown(window_, IDC_PORT_A, 8).text.find("(pts/"), std::string::npos);
    link.unplug();
    EXPECT_TRUE(processEventsUntil(greyed, 3000));
  }
}

TEST_F(PortsTest, TypedDeviceMapsTheChosenEntryForTheSession) {
  PtyPair device;
  start();
  struct Typed {
    int list;
    std::string text;
    int entry;
    std::string mapped;  // the entry's device afterwards
    std::string status;
  };
  const Typed rows[] = {
      {IDC_PORT_A, device.slavePath(), 0, device.slavePath(), ""},
      {IDC_PORT_B, "tcp://127.0.0.1:9", 1, "tcp://127.0.0.1:9", ""},
      {IDC_PORT_A, "not a device", 0, device.slavePath(), ""},
  };
  for (const Typed &t : rows) {
    SCOPED_TRACE(t.text);
    dlg_user_type(window_, t.list, t.text.c_str());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(controlText(window_, t.list), hex_portnames[t.entry]);
    EXPECT_EQ(SioDevicePath(t.entry), t.mapped);
    EXPECT_FALSE(shown(window_, t.list, t.entry).greyed);
  }
  EXPECT_EQ(hex_obj[HEX_SIDE_A].open, 1);
  device.send("AB");
  EXPECT_TRUE(processEventsUntil([&] { return paneText().find("41 42") != std::string::npos; }));
  // An entry the other side holds keeps its device.
  dlg_user_choose(window_, IDC_PORT_B, 0);
  dlg_user_type(window_, IDC_PORT_B, com2_.slavePath().c_str());
  dlg_user_focus(window_, IDC_PANE);
  EXPECT_EQ(SioDevicePath(0), device.slavePath());
  EXPECT_TRUE(processEventsUntil([&] {
    return controlText(window_, IDC_XFER_STATUS).find("COM1 is open on the other side") == 0;
  }));
}

TEST_F(PortsTest, EveryControlExplainsItselfAndTheShortcutsAreListed) {
  start();
  for (int i = 0; i < kMainDialog.controlCount; ++i) {
    const DialogControl &control = kMainDialog.controls[i];
    if (control.kind != ControlKind::Label && control.kind != ControlKind::GroupBox &&
        control.kind != ControlKind::StatusField && control.kind != ControlKind::DisplayPane) {
      EXPECT_FALSE(tooltip(control.id).empty()) << "control " << control.id;
    }
  }
  std::stringstream readme;
  readme << std::ifstream(KESTRELON_SOURCE_DIR "/README.md").rdbuf();
  for (int row = 0; row < hex_shortcut_count; ++row) {
    EXPECT_NE(win_usage().find(hex_shortcuts[row].keys), std::string::npos);
    EXPECT_NE(readme.str().find(std::string("`") + hex_shortcuts[row].keys + "`"),
              std::string::npos)
        << hex_shortcuts[row].keys;
  }
}

TEST_F(PortsTest, ShortcutsActOnRealKeys) {
  start();
  dlg_set_file_dialog_hook([this](bool, std::string &path) {
    path = dir_.file("keys.htm");
    return true;
  });
  dlg_pane_set_text(window_, IDC_PANE, "traffic", 7);
  QWidget *pane = window_->pane();
  QWidget *screen = window_->screens();
  QWidget *message = window_->control(IDC_MESSAGE);
  struct Key {
    QWidget *target;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::function<bool()> done;
  };
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
  const Key keys[] = {
      {pane, Qt::Key_L, ctrl, [&] { return paneText().empty(); }},
      {pane, Qt::Key_Space, ctrl, [] { return hex_run == 0; }},
      {message, Qt::Key_Space, ctrl, [] { return hex_run == 1; }},
      {pane, Qt::Key_Tab, ctrl, [] { return hex_send_side() == HEX_SIDE_B; }},
      {pane, Qt::Key_L, ctrl | Qt::ShiftModifier, [] { return hex_log == 1; }},
      {message, Qt::Key_L, ctrl | Qt::ShiftModifier, [] { return hex_log == 0; }},
      // A terminal screen keeps Ctrl+L for the far end (Port B's now), and
      // still switches sides on Ctrl+Tab.
      {screen, Qt::Key_L, ctrl, [&] { return com2_.receive(1) == std::vector<uint8_t>{0x0C}; }},
      {screen, Qt::Key_Tab, ctrl, [] { return hex_send_side() == HEX_SIDE_A; }},
      {message, Qt::Key_Q, ctrl, [&] { return dlg_ended(window_, nullptr); }},
  };
  for (const Key &k : keys) {
    SCOPED_TRACE(QKeySequence(QKeyCombination(k.modifiers, k.key)).toString().toStdString());
    if (k.target == screen)
      dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_TERMINAL);
    k.target->setFocus();
    QTest::keyClick(k.target, k.key, k.modifiers);
    EXPECT_TRUE(k.done());
  }
}
