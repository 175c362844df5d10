// Key codes as the window reports them: Win32 virtual-key codes for key-down
// messages, and the control characters of the character messages that the
// display pane and the dialog procedure act on. One set, shared by the
// dialog layer, the display pane and the dialog procedure.
#pragma once

// Virtual-key codes.
enum VirtualKey : int {
  VK_BACK = 8,
  VK_TAB = 9,
  VK_RETURN = 13,
  VK_SHIFT = 16,
  VK_CONTROL = 17,
  VK_MENU = 18,  // Alt
  VK_ESCAPE = 27,
  VK_SPACE = 32,
  VK_PRIOR = 33,  // Page Up
  VK_NEXT = 34,   // Page Down
  VK_END = 35,
  VK_HOME = 36,
  VK_LEFT = 37,
  VK_UP = 38,
  VK_RIGHT = 39,
  VK_DOWN = 40,
  VK_INSERT = 45,
  VK_DELETE = 46,
  VK_F1 = 112,  // F1 .. F12 follow on
  // Marker of a key-down that stands for another key: the pane's key filter
  // replaces it with the key the terminal asked for.
  VK_PROCESSKEY = 229,
};

// Control characters of character messages (Ctrl+letter gives the letter's
// number in the alphabet).
enum ControlChar : int {
  CHAR_SELECT_ALL = 1,  // Ctrl+A
  CHAR_COPY = 3,        // Ctrl+C
  CHAR_BACKSPACE = 8,
  CHAR_TAB = 9,
  CHAR_RETURN = 13,
  CHAR_PASTE = 22,  // Ctrl+V
  CHAR_CUT = 24,    // Ctrl+X
  CHAR_ESCAPE = 27,
};
