// Output into the display pane and its positioning.
#pragma once

#include "hex/hex_state.h"

// Shows `length` bytes of text received on port `port` in its received
// colour and hands them to the receive log. ANSI view: at the caret (the
// terminal's cursor), paged by screens; other views: appended at the end,
// leaving the user's selection alone. Nothing happens for length < 1.
void hex_display_msg(HWND dialog, int port, const char *text, int length);

// Colour of text that must stand out (a frame's failed check): red, in the
// pane's (hex_colour) and the log's (hex_rgb) form.
constexpr uint32_t HEX_ALERT_COLOUR = 0x0000FF;
constexpr uint32_t HEX_ALERT_RGB = 0xFF0000;

// The window's sink for the byte-fed routines: text received on a port goes
// to hex_display_msg (into the pane and the log), text that must stand out
// in HEX_ALERT_COLOUR, frames to the capture file; the terminal's actions are
// carried out on the pane by the screen routines below. A gathering sink
// (the pump's) joins the texts of one port that follow one another and
// shows them as one piece when another port's text or a terminal action
// comes, at flush() and at its end: the pane lays out and the log writes
// once per piece, not once per frame or line; it draws each screen's
// changed area once, at flush(). One gathers at a time.
class HexWindowSink final : public HexSink {
public:
  explicit HexWindowSink(HWND window, bool gather = false) : window_(window), gather_(gather) {}
  ~HexWindowSink() { flush(); }
  HexWindowSink(const HexWindowSink &) = delete;
  HexWindowSink &operator=(const HexWindowSink &) = delete;
  void show(int port, const char *text, int length) override;
  void show_alert(int port, const char *text, int length) override;
  void frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict) override;
  void flush();
  void ansi_key(int key) override;
  void ansi_home() override;
  void ansi_line_end() override;
  void ansi_clear_to_end() override;
  void ansi_clear_to_line_end() override;
  void ansi_clear_line() override;
  void ansi_clear_all() override;
  void ansi_goto(int line, int column) override;
  // The Terminal view's (hex/hex_screen.cpp).
  void screen_changed(HexScreen &screen, int row, int column, int rows, int columns) override;
  void screen_cursor(HexScreen &screen) override;
  void screen_answer(int port, const char *bytes, int length) override;
  void record(int port, const char *text, int length) override;

private:
  HWND window_;
  bool gather_;
};

// The sink of bytes the pane does not show: their text goes to the log (and
// their frames to the capture file) as if shown, and nothing to the pane.
class HexLogSink final : public HexSink {
public:
  void show(int port, const char *text, int length) override;
  void show_alert(int port, const char *text, int length) override;
  void frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict) override;
  void record(int port, const char *text, int length) override { show(port, text, length); }
};

// Marks in the pane where `count` bytes of `port` were not shown.
void hex_show_gap(HWND window, int port, uint64_t count);

// Pane positioning shared with the terminal.
int hex_caretline(HWND dialog);     // line of the selection's start
void hex_ansi_scroll(HWND dialog);  // show the caret's screen of 25 lines
void hex_caret_end(HWND dialog);    // caret to the end of the text

// Puts text into the pane in a colour: in the ANSI view at the caret,
// replacing the selection; in every other view appended at the end, leaving
// the user's selection alone (a caret at the end stays at the end).
void hex_pane_put(HWND window, const char *text, int length, uint32_t colour);
