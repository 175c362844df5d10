// The window explains itself: a tooltip on every control the user acts on,
// one short sentence each, and the keyboard shortcuts of the common actions
// in one table, which the window, `--help` and the README follow.
#pragma once

#include "dlg/dlg.h"

#include <string>

// A shortcut presses a control as a click does: `button`, or of a pair (Run
// and Stop), whichever is not checked. A control that is disabled is not
// pressed. `button` 0: a key the window handles itself, listed only.
struct HexShortcut {
  int key;           // virtual-key code
  int modifiers;     // DLG_MOD_* bits
  bool in_screens;   // also while a terminal screen has the focus (else it
                     // keeps the key for the far end, as F1..F12)
  const char *keys;  // as the help names them: "Ctrl+L"
  const char *does;  // "clears the pane"
  int button;
  int other;  // the pair's other control; 0 none
};
extern const HexShortcut hex_shortcuts[];
extern const int hex_shortcut_count;

// Sets the tooltips and the shortcuts of the main window.
void hex_help_start(HWND window);
// A shortcut's command (IDM_SHORTCUT_FIRST + row): presses its control.
// False for any other id.
bool hex_help_command(HWND window, int id);
// The tooltip of a control that shows something else at times (the
// Wireshark button its file); "" for a control without one.
const char *hex_help_tip(int id);
// The shortcuts as `--help` lists them, a line each.
std::string hex_help_shortcuts_text();
