// The ANSI view's terminal: a parser that resumes where the last chunk left
// it, putting text and the sequences' actions into the sink in arrival order.
#include "hex/core/hexcore.h"

namespace {

constexpr int kEsc = 0x1B;
constexpr int kBackspace = 0x08;
constexpr int kTab = 0x09;
constexpr int kLineFeed = 0x0A;

bool is_digit(int32_t b) { return b >= '0' && b <= '9'; }
bool is_letter(int32_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }
bool is_printable(int32_t b) { return b >= 0x20 && b <= 0x7F; }

// ESC, an introducer and a final character that is not a digit.
void two_character_sequence(int32_t introducer, int32_t final, HexSink &sink) {
  if (introducer == '[') {
    switch (final) {
    case 'A':
      return sink.ansi_key(HEX_ANSI_KEY_UP);
    case 'B':
      return sink.ansi_key(HEX_ANSI_KEY_DOWN);
    case 'C':
      return sink.ansi_key(HEX_ANSI_KEY_RIGHT);
    case 'D':
      return sink.ansi_key(HEX_ANSI_KEY_LEFT);
    case 'H':
    case 'f':
      return sink.ansi_home();
    case 'J':
      return sink.ansi_clear_to_end();
    case 'K':
      return sink.ansi_clear_to_line_end();
    default:
      return;
    }
  }
  if (introducer == 'O') {
    switch (final) {
    case 'P':
      return sink.ansi_key(HEX_ANSI_KEY_PAGE_UP);
    case 'Q':
      return sink.ansi_line_end();
    case 'S':
      return sink.ansi_key(HEX_ANSI_KEY_PAGE_DOWN);
    default:
      return;
    }
  }
}

// ESC, any introducer, one digit and a final character: 0 and 2 before J or K
// erase; everything else does nothing.
void erase_sequence(int32_t digit, int32_t final, HexSink &sink) {
  if (digit == '0' && final == 'J')
    sink.ansi_clear_to_end();
  else if (digit == '0' && final == 'K')
    sink.ansi_clear_to_line_end();
  else if (digit == '2' && final == 'J')
    sink.ansi_clear_all();
  else if (digit == '2' && final == 'K')
    sink.ansi_clear_line();
}

}  // namespace

int hex_parse_ansi(hex_obj_t &record, int port, const char *source, char *destination,
                   int count, HexSink &sink) {
  int out = 0;    // end of the text gathered so far
  int run = 0;    // start of the text not yet given to the sink
  int shown = 0;  // text bytes given to the sink
  // Text comes before any action that follows it.
  auto flush = [&] {
    if (out > run) {
      sink.show(port, destination + run, out - run);
      shown += out - run;
      run = out;
    }
  };
  for (int i = 0; i < count; ++i) {
    // The record keeps each byte as its signed value.
    const int32_t b = int32_t(static_cast<signed char>(source[i]));
    if (b == kEsc) {  // abandons any sequence under way
      record.ansi_state = HEX_ANSI_INTRODUCER;
      continue;
    }
    switch (record.ansi_state) {
    case HEX_ANSI_INTRODUCER:
      record.ansi_intro = b;
      record.ansi_state = HEX_ANSI_FIRST;
      break;
    case HEX_ANSI_FIRST:
      record.ansi_ch1 = b;
      if (is_digit(b)) {
        record.ansi_line = (b - '0') * 10;
        record.ansi_state = HEX_ANSI_SECOND_DIGIT;
      } else {
        flush();
        two_character_sequence(record.ansi_intro, b, sink);
        record.ansi_state = HEX_ANSI_TEXT;
      }
      break;
    case HEX_ANSI_SECOND_DIGIT:
      record.ansi_ch2 = b;
      if (is_digit(b)) {
        record.ansi_line += b - '0';
        record.ansi_state = HEX_ANSI_SEPARATOR;
      } else {
        flush();
        erase_sequence(record.ansi_ch1, b, sink);
        record.ansi_state = HEX_ANSI_TEXT;
      }
      break;
    case HEX_ANSI_SEPARATOR:
      record.ansi_ch1 = b;
      record.ansi_state = b == ';' ? HEX_ANSI_COLUMN_FIRST : HEX_ANSI_TEXT;
      break;
    case HEX_ANSI_COLUMN_FIRST:
      record.ansi_ch1 = b;
      if (is_digit(b)) {
        record.ansi_column = (b - '0') * 10;
        record.ansi_state = HEX_ANSI_COLUMN_SECOND;
      } else {
        record.ansi_state = HEX_ANSI_TEXT;
      }
      break;
    case HEX_ANSI_COLUMN_SECOND:
      record.ansi_ch2 = b;
      if (is_digit(b)) {
        record.ansi_column += b - '0';
        flush();
        sink.ansi_goto(record.ansi_line, record.ansi_column);
        record.ansi_state = HEX_ANSI_TRAILER;
      } else {
        record.ansi_state = HEX_ANSI_TEXT;
      }
      break;
    case HEX_ANSI_TRAILER:
      record.ansi_ch1 = b;
      if (is_letter(b))
        record.ansi_state = HEX_ANSI_TEXT;
      break;
    default:  // HEX_ANSI_TEXT; a state of no meaning is taken as text
      record.ansi_state = HEX_ANSI_TEXT;
      if (b == kBackspace) {
        flush();
        sink.ansi_key(HEX_ANSI_KEY_LEFT);
      } else if (is_printable(b) || b == kLineFeed || b == kTab) {
        destination[out++] = char(b);
      }
      break;
    }
  }
  flush();
  destination[out] = '\0';
  return shown;
}
