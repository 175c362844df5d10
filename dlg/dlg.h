// The stand-in for the dialog manager: a modal dialog built from the dialog
// template in resources/, its controls reached by control id, window timers,
// message boxes and the file dialog, on Qt 6 Widgets.
//
// The monitor core and the shell use only these calls and never see a Qt
// type or the display pane's own classes: the pane is reached by the calls
// below that mirror the rich-edit control's operations. Events reach the
// dialog procedure as Win32-style messages, one at a time, on the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "resources/keys.h"         // the key codes of WM_KEYDOWN and WM_CHAR
#include "resources/screen_cell.h"  // what a cell of the Terminal view's screens shows

struct DlgWindow;  // the main dialog; opaque to the core
struct DialogTemplate;  // resources/dialog_template.h
using HWND = DlgWindow *;

// Dialog procedure: 1 when the event was handled, 0 to let the dialog
// manager handle it.
using DlgProc = int (*)(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Messages delivered to the dialog procedure.
enum : unsigned {
  WM_CLOSE = 0x0010,   // close box, window manager, SIGTERM/SIGINT/SIGHUP
  WM_NOTIFY = 0x004E,  // lParam points to a DlgNotify
  WM_INITDIALOG = 0x0110,
  WM_COMMAND = 0x0111,  // wParam: MAKEWPARAM(control id, notification)
  WM_CONTEXTMENU = 0x007B,  // right click on a three-state box; wParam: its control id
  WM_TIMER = 0x0113,    // wParam: timer id
  WM_KEYDOWN = 0x0100,  // key messages inside DlgNotify (pane filter)
  WM_CHAR = 0x0102,
  WM_USER = 0x0400,  // the first of the messages the program defines itself
};

// Notification codes (high half of WM_COMMAND's wParam).
enum : unsigned {
  BN_CLICKED = 0,
  CBN_SELCHANGE = 1,  // the user chose an entry (never by program)
  CBN_SETFOCUS = 3,
  CBN_KILLFOCUS = 4,
  CBN_DROPDOWN = 7,
  CBN_CLOSEUP = 8,
  EN_MSGFILTER = 0x0700,  // WM_NOTIFY from the pane: a key before it acts
  // WM_NOTIFY from the Terminal view's screens (idFrom 101): a key (msg
  // WM_KEYDOWN, wParam its virtual-key code) or a character (msg WM_CHAR,
  // wParam its code point) typed, with DlgNotify::modifiers; text pasted
  // (DlgNotify::text, UTF-8); the screen size the pane gives (wParam
  // MAKEWPARAM(columns, rows); 0 for the default size).
  EN_SCREEN_KEY = 0x0701,
  EN_SCREEN_PASTE = 0x0702,
  EN_SCREEN_SIZE = 0x0703,
};

// Modifier bits of EN_SCREEN_KEY.
enum : int { DLG_MOD_SHIFT = 1, DLG_MOD_ALT = 2, DLG_MOD_CTRL = 4 };

constexpr uintptr_t MAKEWPARAM(unsigned low, unsigned high) {
  return uintptr_t((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
constexpr unsigned LOWORD(uintptr_t v) { return unsigned(v & 0xFFFFu); }
constexpr unsigned HIWORD(uintptr_t v) { return unsigned((v >> 16) & 0xFFFFu); }

// WM_NOTIFY payload of the pane's key filter. The procedure may change
// wParam: the pane then acts on that key instead; 0 makes it ignore the key.
struct DlgNotify {
  int idFrom;     // control id (101 for the pane)
  unsigned code;  // EN_MSGFILTER
  unsigned msg;   // WM_KEYDOWN (wParam: virtual-key code) or WM_CHAR (wParam: character)
  uintptr_t wParam;
  int modifiers = 0;             // EN_SCREEN_KEY: DLG_MOD_* bits
  const char *text = nullptr;    // EN_SCREEN_PASTE
  int length = 0;
};

// Button states.
enum : int { BST_UNCHECKED = 0, BST_CHECKED = 1, BST_INDETERMINATE = 2 };

// Message box flags and results.
enum : unsigned { MB_OK = 0x0, MB_ICONEXCLAMATION = 0x30 };
enum : int { IDOK_RESULT = 1 };

constexpr int CB_ERR = -1;

// --- The dialog ---------------------------------------------------------------

// Builds the main dialog from the template, sends WM_INITDIALOG and runs it
// modally until dlg_end; returns the value given to dlg_end. Needs a
// QApplication.
int dlg_run(DlgProc proc);

// Ends the dialog with a result (the modal loop returns after the current
// event).
void dlg_end(HWND window, int result);

// The dialog window while it runs, else nullptr (for signal handling and
// tests).
HWND dlg_current();

// Builds the dialog and sends WM_INITDIALOG without entering a modal loop:
// tests drive it through the Qt event loop. dlg_ended tells whether dlg_end
// was called and with which result; dlg_destroy removes the window.
HWND dlg_create(DlgProc proc);
bool dlg_ended(HWND window, int *result);
void dlg_destroy(HWND window);

// A modeless dialog of its own (CreateDialog): built from `dialogTemplate`,
// WM_INITDIALOG sent to `proc`, shown beside `owner`. It runs on the same
// events as the main dialog; dlg_end hides it and dlg_destroy removes it.
HWND dlg_create_modeless(HWND owner, const DialogTemplate &dialogTemplate, DlgProc proc);

// An accelerator (TranslateAccelerator): the key `virtualKey` (F1..F12),
// pressed without modifiers anywhere in the window, even in the pane,
// becomes WM_COMMAND with MAKEWPARAM(id, 1) instead of a key. Id 0 removes
// it. A terminal screen with the focus keeps its function keys. F3 finds
// the next match instead while the pane's find bar is open (Ctrl+F opens it).
void dlg_set_accelerator(HWND window, int virtualKey, int id);
// A keyboard shortcut, as an accelerator: `virtualKey` (F1..F12, A..Z, 0..9,
// VK_SPACE, VK_TAB) with exactly the `modifiers` (DLG_MOD_* bits). A terminal
// screen with the focus keeps the key for the far end unless `inScreens`.
void dlg_set_shortcut(HWND window, int virtualKey, int modifiers, int id, bool inScreens);

// Hands a message to the dialog procedure at once, as the dialog manager
// does for an event (SendMessage to the dialog); returns what it returned.
// Nothing once the dialog has ended.
int dlg_send_message(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam);

// From now on SIGTERM, SIGINT and SIGHUP reach the running dialog as WM_CLOSE
// on the GUI thread (needs a QApplication).
void dlg_close_on_signals();

// --- Controls by id -------------------------------------------------------------
// Texts are bytes, shown by the display pane's mapping (Windows-1252, control
// bytes as control pictures) and read back as the same bytes; a character
// typed that has no byte reads as '?'. Tooltips (they name devices) and the
// file dialog's paths are in the file system's encoding.

// Text of a control (combo box: its edit field; label/status/button:
// caption). Copies at most size-1 characters plus NUL; returns the length
// copied.
int dlg_get_text(HWND window, int id, char *buffer, int size);
void dlg_set_text(HWND window, int id, const char *text);

// Buttons, radio buttons, check boxes and the three-state indicators.
void dlg_check_button(HWND window, int id, int state);
int dlg_button_state(HWND window, int id);
// Checks `check` and unchecks the other buttons with ids first..last.
void dlg_check_radio(HWND window, int first, int last, int check);

void dlg_set_focus(HWND window, int id);
// A disabled control is greyed and takes no click, choice or typing
// (EnableWindow); 1 when the control is enabled.
void dlg_enable(HWND window, int id, bool enabled);
int dlg_enabled(HWND window, int id);
// Id of the control holding the keyboard focus; 0 when none of the dialog's.
int dlg_focus_id(HWND window);
void dlg_set_tooltip(HWND window, int id, const char *text);  // file system's encoding

// Drop-down lists. Entries stay in the order they were added; typed text is
// never added by itself. Selecting by program sends no notification.
int dlg_combo_add(HWND window, int id, const char *text);  // index of the new entry
int dlg_combo_count(HWND window, int id);
int dlg_combo_get_sel(HWND window, int id);  // CB_ERR when none
// Selects index (the field shows its text); an index outside the list clears
// the selection and empties the field and returns CB_ERR.
int dlg_combo_set_sel(HWND window, int id, int index);
// First entry after `start` (-1: from the first) equal to text, letter case
// ignored, going on from the first entry after the last as the list control
// does; CB_ERR when none.
int dlg_combo_find_exact(HWND window, int id, int start, const char *text);
int dlg_combo_delete(HWND window, int id, int index);  // entries left, or CB_ERR
int dlg_combo_item_text(HWND window, int id, int index, char *buffer, int size);
void dlg_combo_reset(HWND window, int id);  // removes all entries and the text
void dlg_combo_set_item_tooltip(HWND window, int id, int index, const char *text);
// What the open list shows for an entry (file system's encoding), greyed or
// not; the entry's text, which the field shows and find_exact compares,
// stays as it is. Greyed entries can still be chosen.
void dlg_combo_set_item_shown(HWND window, int id, int index, const char *shown, bool greyed);

// --- The display pane ----------------------------------------------------------------
// The rich-edit control's operations, on the pane with this id (101). The
// pane's text is bytes, one character each; positions count characters from
// 0 and lines count from 0. A line ends at LF, CR LF or a lone CR; its length
// leaves the break out. Colours are pane values (blue * 65536 + green * 256 +
// red). Without such a pane the calls do nothing and return 0.

// Replaces the selection with `length` bytes of text in a colour
// (EM_SETCHARFORMAT on the selection, then EM_REPLACESEL); the caret stands
// behind them afterwards. An empty text deletes the selection (WM_CLEAR).
void dlg_pane_replace_sel(HWND window, int id, const char *text, int length, uint32_t colour);
// Appends text in a colour at the end; the selection stays on the text it
// covered and a caret at the end stays at the end.
void dlg_pane_append(HWND window, int id, const char *text, int length, uint32_t colour);
// Colour of the selected text; for a caret alone, of what is inserted there
// next (EM_SETCHARFORMAT on the selection).
void dlg_pane_set_sel_colour(HWND window, int id, uint32_t colour);
// Colour of what is inserted at the caret next (EM_GETCHARFORMAT on the
// selection).
uint32_t dlg_pane_sel_colour(HWND window, int id);
// The selection's first and last position, equal for a caret (EM_EXGETSEL).
void dlg_pane_get_sel(HWND window, int id, int64_t *start, int64_t *end);
// Selects from anchor to caret, -1 standing for the end of the text
// (EM_EXSETSEL).
void dlg_pane_set_sel(HWND window, int id, int64_t anchor, int64_t caret);
int64_t dlg_pane_text_length(HWND window, int id);  // WM_GETTEXTLENGTH
int64_t dlg_pane_line_count(HWND window, int id);   // at least 1 (EM_GETLINECOUNT)
// Line holding a position; past the end, the last line (EM_LINEFROMCHAR).
int64_t dlg_pane_line_from_char(HWND window, int id, int64_t position);
// First position of a line; -1 when there is no such line (EM_LINEINDEX).
int64_t dlg_pane_line_index(HWND window, int id, int64_t line);
// Characters of a line without its break (EM_LINELENGTH of the line).
int64_t dlg_pane_line_length(HWND window, int id, int64_t line);
int64_t dlg_pane_first_visible_line(HWND window, int id);  // EM_GETFIRSTVISIBLELINE
// Scrolls by whole text lines, negative up, as far as the text goes
// (EM_LINESCROLL).
void dlg_pane_line_scroll(HWND window, int id, int64_t lines);
// Replaces the whole text (an empty one clears the pane); the caret goes to
// the end (WM_SETTEXT).
void dlg_pane_set_text(HWND window, int id, const char *text, int length);
// The default character colour: what the pane's text starts in once emptied,
// and what is put in next.
void dlg_pane_set_default_colour(HWND window, int id, uint32_t colour);
// Long lines wrap at the pane's width, or run on with horizontal scrolling.
void dlg_pane_set_wrap(HWND window, int id, bool on);
// The pane shows bytes as hex groups (" 7E FF"): its find bar looks for hex
// bytes as those groups, else as the bytes themselves.
void dlg_pane_set_hex_groups(HWND window, int id, bool on);
// A key-down sent to the pane as if typed (WM_KEYDOWN): the key filter
// (WM_NOTIFY, EN_MSGFILTER) sees it first. Returns the key the pane acted on,
// 0 for none.
int dlg_pane_key_down(HWND window, int id, int virtualKey);
// The pane acts on a navigation or editing key-down as if typed, without the
// key filter (the terminal moving its cursor).
void dlg_pane_act_on_key(HWND window, int id, int virtualKey);

// --- The Terminal view's screens ---------------------------------------------------
// Two terminal screens, Port A's (side 0) and Port B's (side 1), that take
// the pane's place while shown; each keeps its cells while hidden. Each is
// headed by its title and its size; the screen with the focus mark is the
// one keys are typed into. Keys, pastes and the size the pane gives come as
// WM_NOTIFY (EN_SCREEN_KEY, EN_SCREEN_PASTE, EN_SCREEN_SIZE).

void dlg_screens_show(HWND window, bool on);
// A screen's size in rows and columns; its cells become blanks.
void dlg_screen_set_size(HWND window, int side, int rows, int columns);
void dlg_screen_set_title(HWND window, int side, const char *title);
// `count` cells of a row from `column` on; only they are drawn again.
void dlg_screen_put(HWND window, int side, int row, int column, const ScreenCell *cells,
                    int count);
void dlg_screen_set_cursor(HWND window, int side, int row, int column, bool visible);
void dlg_screen_set_focus_mark(HWND window, int side);

// --- Timers ---------------------------------------------------------------------

// Arms (or re-arms) timer `id`: WM_TIMER with wParam id arrives every
// `ms` on the GUI thread until killed. Returns id, or 0 when it failed.
unsigned dlg_set_timer(HWND window, unsigned id, unsigned ms);
int dlg_kill_timer(HWND window, unsigned id);  // non-zero when it was armed

// --- Descriptors ------------------------------------------------------------------

// Readiness of a file descriptor as a message, as WSAAsyncSelect gives a
// socket's: while `fd` is watched, the dialog procedure gets `message`
// (wParam: fd) on the GUI thread whenever fd has bytes to read, has hung up
// or failed. The procedure reads them (or stops the watch), or it is told
// again at once. Watching again changes the message; message 0 stops the
// watch, and is harmless for a descriptor not watched or closed meanwhile.
// Returns 1, or 0 when fd cannot be watched.
int dlg_watch_readable(HWND window, int fd, unsigned message);

// --- Message boxes and the file dialog -------------------------------------------

// Modal message box with an OK button; returns IDOK_RESULT.
int dlg_message_box(HWND owner, const char *text, const char *caption, unsigned flags);

// Modal question with one button per name of `buttons` (`count` of them, at
// most three), the first the default; returns the index of the button
// pressed. Esc and the close box give the last (which should be the one that
// changes nothing).
int dlg_question_box(HWND owner, const char *text, const char *caption, const char *const buttons[],
                     int count);

// The file-choice dialog that serves files to read and files to write
// alike: any name may be chosen or typed (the file need not exist), and
// choosing one that exists asks nothing. A name typed without an extension
// gets `defaultExtension`. It lists the files that `filter` (in Qt form)
// lets through and starts in the current directory. On OK copies the chosen path (file system's encoding) into
// `path` and returns 1; returns 0 with `path` empty when cancelled, or when
// the path does not fit in `size` bytes (a path cut short names another
// file). The file-dialog hook answers it too, with forSave true (the file
// may be created).
int dlg_choose_file(HWND owner, const char *title, const char *filter, const char *defaultExtension,
                    char *path, int size);

// Shows a path (file system's encoding) in a status field, and as its
// tooltip, so a path too long for the field can still be read.
void dlg_set_path_text(HWND window, int id, const char *path);

// Tests answer the modal dialogs without a person: while a hook is set the
// dialog is not shown and the hook gives the answer. A null hook restores
// the real dialogs.
using DlgMessageBoxHook = std::function<void(const std::string &text, const std::string &caption)>;
using DlgFileDialogHook = std::function<bool(bool forSave, std::string &path)>;
void dlg_set_message_box_hook(DlgMessageBoxHook hook);
// While set, a question box is not shown: the hook gets its text, caption
// and button names and returns the index of the button it presses.
using DlgQuestionHook = std::function<int(const std::string &text, const std::string &caption,
                                          const std::vector<std::string> &buttons)>;
void dlg_set_question_hook(DlgQuestionHook hook);
void dlg_set_file_dialog_hook(DlgFileDialogHook hook);

// --- Acting as the user, for tests ---------------------------------------------------
// Each goes through the real widget, so the dialog procedure gets exactly the
// notifications a person's action gives; a disabled control does nothing.

// Chooses entry `index` of a drop-down list (CBN_SELCHANGE follows).
void dlg_user_choose(HWND window, int id, int index);
// Clicks a button, radio button or check box.
void dlg_user_click(HWND window, int id);
// Types text into a control that takes text (the message field), replacing
// what it held.
void dlg_user_type(HWND window, int id, const char *text);
// Moves the keyboard focus to a control, as a click or Tab would.
void dlg_user_focus(HWND window, int id);
