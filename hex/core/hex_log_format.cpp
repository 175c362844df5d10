// The HTML log's records: the text as the pane lays it out, in markup that
// nothing received can change.
#include "hex/core/hexcore.h"

namespace {

constexpr char kNbsp[] = "&nbsp;";
constexpr char kBreak[] = "<br>\n";

void append_decimal(std::string &out, uint32_t value) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = char('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0)
    out += digits[--count];
}

// One step of the pane's layout at a time into HTML. A browser drops a plain
// blank at the start or end of a line and merges a run of them, so blanks
// wait until the next shown character says which may stay plain: the first
// of a run, when the line already shows something and a character follows
// in this record. Every other blank is &nbsp;.
class HtmlLayout {
public:
  HtmlLayout(std::string &out, HexLogState &state) : out_(out), state_(state) {}

  void lineBreak() {
    put_blanks(false);
    out_ += kBreak;
    state_.lineShown = false;
  }
  void blanks(int count) { pending_ += count; }
  void glyph(char32_t character) {
    if (character == U' ') {
      ++pending_;
      return;
    }
    put_blanks(true);
    switch (character) {
    case U'&':
      out_ += "&amp;";
      break;
    case U'<':
      out_ += "&lt;";
      break;
    case U'>':
      out_ += "&gt;";
      break;
    case U'"':
      out_ += "&quot;";
      break;
    default:
      if (character > U' ' && character < 0x7F) {
        out_ += char(character);
      } else {
        out_ += "&#";
        append_decimal(out_, uint32_t(character));
        out_ += ';';
      }
      break;
    }
    state_.lineShown = true;
  }
  // The record ends: blanks still waiting may end their line.
  void finish() { put_blanks(false); }

private:
  void put_blanks(bool beforeShown) {
    if (pending_ == 0)
      return;
    int nbsp = pending_;
    if (beforeShown && state_.lineShown) {
      out_ += ' ';
      --nbsp;
    }
    for (; nbsp > 0; --nbsp)
      out_ += kNbsp;
    pending_ = 0;
    state_.lineShown = true;
  }

  std::string &out_;
  HexLogState &state_;
  int pending_ = 0;
};

}  // namespace

void hex_log_record(std::string &out, uint32_t rgb, const char *text, int length,
                    HexLogState &state) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  out += "<font color=\"#";
  for (int shift = 20; shift >= 0; shift -= 4)
    out += kHexDigits[(rgb >> shift) & 0xF];
  out += "\">";
  HtmlLayout layout(out, state);
  if (text && length > 0)
    paneLayOut(std::string_view(text, size_t(length)), state.layout, layout);
  layout.finish();
  out += "</font>";
}
