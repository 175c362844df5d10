// Output into the display pane and its positioning.
#pragma once

#include "hex/hex_state.h"

// Shows `length` bytes of text received on port `port` in its received
// colour and hands them to the receive log. ANSI view: at the caret (the
// terminal's cursor), paged by screens; other views: appended at the end,
// leaving the user's selection alone. Nothing happens for length < 1.
void hex_display_msg(HWND dialog, int port, const char *text, int length);

// The window's sink for the byte-fed routines: text received on a port goes
// to hex_display_msg (into the pane and the log); the terminal's actions are
// carried out on the pane by the screen routines below. A gathering sink
// (the pump's) joins the texts of one port that follow one another and
// shows them as one piece when another port's text or a terminal action
// comes, at flush() and at its end: the pane lays out and the log writes
// once per piece, not once per frame or line. One gathers at a time.
class HexWindowSink final : public HexSink {
public:
  explicit HexWindowSink(HWND window, bool gather = false) : window_(window), gather_(gather) {}
  ~HexWindowSink() { flush(); }
  HexWindowSink(const HexWindowSink &) = delete;
  HexWindowSink &operator=(const HexWindowSink &) = delete;
  void show(int port, const char *text, int length) override;
  void flush();
  void ansi_key(int key) override;
  void ansi_home() override;
  void ansi_line_end() override;
  void ansi_clear_to_end() override;
  void ansi_clear_to_line_end() override;
  void ansi_clear_line() override;
  void ansi_clear_all() override;
  void ansi_goto(int line, int column) override;

private:
  HWND window_;
  bool gather_;
};

// Pane positioning shared with the terminal.
int hex_caretline(HWND dialog);                 // line of the selection's start
void hex_scroll_bottom(HWND dialog, int line);  // first visible line = line - 25
void hex_caretbottom(HWND dialog);              // hex_scroll_bottom(caret line)
void hex_ansi_scroll(HWND dialog);              // show the caret's screen of 25 lines
void hex_caret_end(HWND dialog);                // caret to the end of the text

// Puts text into the pane in a colour: in the ANSI view at the caret,
// replacing the selection; in every other view appended at the end, leaving
// the user's selection alone (a caret at the end stays at the end).
void hex_pane_put(HWND window, const char *text, int length, uint32_t colour);
