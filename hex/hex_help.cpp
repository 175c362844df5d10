// Tooltips and keyboard shortcuts of the main window.
#include "hex/hex_help.h"

#include "resources/ids.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

// To add a shortcut, add its row: its command id follows from the row.
// F1..F12 without modifiers are the macros' (hex_auto.cpp).
const HexShortcut hex_shortcuts[] = {
    {VK_RETURN, 0, false, "Enter", "sends the message (in the message field)", 0, 0},
    {'L', DLG_MOD_CTRL, false, "Ctrl+L", "clears the pane", IDC_CLEAR, 0},
    {VK_SPACE, DLG_MOD_CTRL, false, "Ctrl+Space", "stops or runs the display", IDC_RUN, IDC_STOP},
    {VK_TAB, DLG_MOD_CTRL, true, "Ctrl+Tab", "makes the other port the send port", IDC_SEND_PORT_A,
     IDC_SEND_PORT_B},
    {'L', DLG_MOD_CTRL | DLG_MOD_SHIFT, true, "Ctrl+Shift+L", "starts or ends the log", IDC_LOG,
     IDC_NO_LOG},
    {'Q', DLG_MOD_CTRL, false, "Ctrl+Q", "exits", IDC_EXIT, 0},
};
const int hex_shortcut_count = int(std::size(hex_shortcuts));
static_assert(std::size(hex_shortcuts) <= IDM_SHORTCUT_LAST - IDM_SHORTCUT_FIRST + 1);

namespace {

struct Tip {
  int id;
  const char *text;
};

// Controls whose tooltips say something else as they change (the open
// indicators, the modem line lamps, the status fields) set their own.
constexpr Tip kTips[] = {
    {IDC_EXIT, "Closes the ports and the log, saves the message history and exits."},
    {IDC_PORT_A, "Port A's port: choose an entry, or type a device path or rfc2217://host:port."},
    {IDC_PORT_B, "Port B's port: choose an entry, or type a device path or rfc2217://host:port."},
    {IDC_SPEED_A, "Port A's speed in bit/s; another rate can be typed."},
    {IDC_SPEED_B, "Port B's speed in bit/s; another rate can be typed."},
    {IDC_DATA_A, "Port A's data bits per character."},
    {IDC_DATA_B, "Port B's data bits per character."},
    {IDC_STOP_A, "Port A's stop bits."},
    {IDC_STOP_B, "Port B's stop bits."},
    {IDC_PARITY_A, "Port A's parity."},
    {IDC_PARITY_B, "Port B's parity."},
    {IDC_FLOW_A, "Port A's flow control: RTS/CTS, XON/XOFF or none."},
    {IDC_FLOW_B, "Port B's flow control: RTS/CTS, XON/XOFF or none."},
    {IDC_VIEW, "How the pane shows the traffic."},
    {IDC_TIME, "Heads each line with the time of its first byte."},
    {IDC_PORT_NAMES, "Heads each line another port starts with that port's name."},
    {IDC_LOCAL_ECHO, "Shows what is sent in the pane too."},
    {IDC_CLEAR, "Clears the pane (Ctrl+L)."},
    {IDC_RUN, "Shows received bytes and lets messages go out (Ctrl+Space)."},
    {IDC_STOP, "Drops received bytes from the pane and holds messages (Ctrl+Space)."},
    {IDC_SEND_PORT_A, "Sends messages and keys on Port A's port (Ctrl+Tab)."},
    {IDC_SEND_PORT_B, "Sends messages and keys on Port B's port (Ctrl+Tab)."},
    {IDC_LOG, "Logs the session to an HTML file (Ctrl+Shift+L)."},
    {IDC_NO_LOG, "Ends the log (Ctrl+Shift+L)."},
    {IDC_PCAP, "Also writes the session to a Wireshark capture file."},
    {IDC_PROTOCOL, "The file transfer's protocol."},
    {IDC_XFER_SEND, "The transfer sends a file."},
    {IDC_XFER_GET, "The transfer receives a file."},
    {IDC_XFER_START, "Chooses a file and starts the transfer on the send port."},
    {IDC_XFER_ABORT, "Stops the transfer under way."},
    {IDC_MESSAGE, "The message to send, in hex or text; its list holds the history (Enter sends)."},
    {IDC_SEND, "Sends the message on the send port."},
    {IDC_CHECK_KIND, "The check that CheckSum appends."},
    {IDC_CHECKSUM, "Appends the chosen check of the message to it."},
    {IDC_FRAME_TYPE, "The framing that Add Frame wraps the message in."},
    {IDC_ADD_FRAME, "Wraps the message in the chosen frame."},
    {IDC_BREAK_A, "Sends a break on Port A's port."},
    {IDC_BREAK_B, "Sends a break on Port B's port."},
    {IDC_MACRO_EDIT, "Edits the macros and triggers."},
};

}  // namespace

const char *hex_help_tip(int id) {
  for (const Tip &tip : kTips)
    if (tip.id == id)
      return tip.text;
  return "";
}

void hex_help_start(HWND window) {
  for (const Tip &tip : kTips)
    dlg_set_tooltip(window, tip.id, tip.text);
  for (int key = 0; key < 12; ++key) {
    char text[64];
    std::snprintf(text, sizeof text, "Sends macro F%d (key F%d; Macros... sets them up).", key + 1,
                  key + 1);
    dlg_set_tooltip(window, IDC_MACRO_1 + key, text);
  }
  for (int row = 0; row < hex_shortcut_count; ++row) {
    const HexShortcut &shortcut = hex_shortcuts[row];
    if (shortcut.button != 0)
      dlg_set_shortcut(window, shortcut.key, shortcut.modifiers, IDM_SHORTCUT_FIRST + row,
                       shortcut.in_screens);
  }
}

bool hex_help_command(HWND window, int id) {
  const int row = id - IDM_SHORTCUT_FIRST;
  if (row < 0 || row >= hex_shortcut_count)
    return false;
  const HexShortcut &shortcut = hex_shortcuts[row];
  int press = shortcut.button;
  if (shortcut.other && dlg_button_state(window, press) == BST_CHECKED)
    press = shortcut.other;
  if (press == 0 || !dlg_enabled(window, press))
    return true;
  if (shortcut.other)
    dlg_check_radio(window, std::min(shortcut.button, shortcut.other),
                    std::max(shortcut.button, shortcut.other), press);
  dlg_send_message(window, WM_COMMAND, MAKEWPARAM(unsigned(press), BN_CLICKED), 0);
  return true;
}

std::string hex_help_shortcuts_text() {
  std::string text;
  for (int row = 0; row < hex_shortcut_count; ++row) {
    char line[128];
    std::snprintf(line, sizeof line, "  %-22s %s\n", hex_shortcuts[row].keys,
                  hex_shortcuts[row].does);
    text += line;
  }
  return text;
}
