// The terminal's parser on a screen: an input in the chunks it names gives
// the same calls, the same text and the same screen (the pane's text and its
// caret) as the input whole, and the text holds only what the terminal shows.
#include "fuzz_support.h"
#include "hex/core/hexcore.h"
#include "pane/pane_model.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr int64_t kScreenLines = 25;
constexpr int64_t kLastColumn = 80;

bool terminal_text(uint8_t b) { return (b >= 0x20 && b <= 0x7F) || b == '\n' || b == '\t'; }

// The pane as the window's sink drives it in the ANSI view: text goes in at
// the caret, a key moves the caret as typed, a position makes its line and
// column exist. Every call is written down too, text as one piece.
class Screen final : public HexSink {
public:
  explicit Screen(int port) : port_(port) {}

  void show(int port, const char *text, int length) override {
    FUZZ_CHECK(port == port_, "text of port " + std::to_string(port));
    FUZZ_CHECK(length > 0, "empty text");
    for (int i = 0; i < length; ++i)
      FUZZ_CHECK(terminal_text(uint8_t(text[i])), "shown:" + fuzz_hex(text + i, 1));
    calls.append(text, size_t(length));
    shown += length;
    pane.replaceSelection(std::string_view(text, size_t(length)));
  }
  void ansi_key(int key) override {
    calls += "<key " + std::to_string(key) + ">";
    const int64_t caret = this->caret();
    const int64_t line = caret_line();
    switch (key) {
    case HEX_ANSI_KEY_LEFT:
      return pane.setCaret(caret == pane.lineStart(line) && line > 0
                               ? pane.lineEnd(line - 1)
                               : std::max<int64_t>(0, caret - 1));
    case HEX_ANSI_KEY_RIGHT:
      return pane.setCaret(caret == pane.lineEnd(line) && line + 1 < pane.lineCount()
                               ? pane.lineStart(line + 1)
                               : std::min(pane.length(), caret + 1));
    case HEX_ANSI_KEY_UP:
      return to_line(line, line - 1);
    case HEX_ANSI_KEY_DOWN:
      return to_line(line, line + 1);
    case HEX_ANSI_KEY_PAGE_UP:
      return to_line(line, line - kScreenLines);
    case HEX_ANSI_KEY_PAGE_DOWN:
      return to_line(line, line + kScreenLines);
    default:
      FUZZ_CHECK(false, "key " + std::to_string(key));
    }
  }
  void ansi_home() override {
    calls += "<home>";
    pane.setCaret(0);
  }
  void ansi_line_end() override {
    calls += "<end>";
    pane.setCaret(pane.lineEnd(caret_line()));
  }
  void ansi_clear_to_end() override {
    calls += "<eos>";
    pane.deleteRange(caret(), pane.length());
  }
  void ansi_clear_to_line_end() override {
    calls += "<eol>";
    pane.deleteRange(caret(), pane.lineEnd(caret_line()));
  }
  void ansi_clear_line() override {
    calls += "<line>";
    const int64_t line = caret_line();
    pane.deleteRange(pane.lineStart(line), pane.lineEnd(line));
  }
  void ansi_clear_all() override {
    calls += "<all>";
    pane.clear();
  }
  void ansi_goto(int line, int column) override {
    calls += "<goto " + std::to_string(line) + "," + std::to_string(column) + ">";
    FUZZ_CHECK(line >= 0 && line <= 99 && column >= 0 && column <= 99, calls);
    const int64_t target =
        caret_line() / kScreenLines * kScreenLines + std::min<int64_t>(line, kScreenLines - 1);
    if (target >= pane.lineCount()) {
      pane.setCaret(pane.length());
      pane.replaceSelection(std::string(size_t(target - pane.lineCount() + 1), '\n'));
    }
    const int64_t start = pane.lineStart(target);
    const int64_t length = pane.lineLength(target);
    const int64_t at = std::min<int64_t>(column, kLastColumn);
    if (at > length) {
      pane.setCaret(start + length);
      pane.replaceSelection(std::string(size_t(at - length), ' '));
    }
    pane.setCaret(start + at);
  }

  int64_t caret() const { return pane.selection().caret; }

  PaneModel pane;
  std::string calls;
  int shown = 0;

private:
  int64_t caret_line() const { return pane.lineFromPosition(caret()); }
  void to_line(int64_t from, int64_t to) {
    to = std::clamp<int64_t>(to, 0, pane.lineCount() - 1);
    const int64_t column = caret() - pane.lineStart(from);
    pane.setCaret(pane.lineStart(to) + std::min(column, pane.lineLength(to)));
  }

  int port_;
};

bool known_state(int32_t state) {
  switch (state) {
  case HEX_ANSI_TEXT:
  case HEX_ANSI_INTRODUCER:
  case HEX_ANSI_FIRST:
  case HEX_ANSI_SECOND_DIGIT:
  case HEX_ANSI_SEPARATOR:
  case HEX_ANSI_COLUMN_FIRST:
  case HEX_ANSI_COLUMN_SECOND:
  case HEX_ANSI_TRAILER:
    return true;
  default:
    return false;
  }
}

// Parses each chunk in place, as the receive pump does.
void parse(const ChunkedInput &input, bool whole, Screen &screen) {
  hex_obj_t record{};
  int returned = 0;
  feed_chunks(input, whole, [&](ChunkBuffer &chunk, int count) {
    const int shown = screen.shown;
    const int text = hex_parse_ansi(record, input.port, chunk.data(), chunk.data(), count, screen);
    FUZZ_CHECK(text == screen.shown - shown, "returned " + std::to_string(text));
    FUZZ_CHECK(std::strlen(chunk.data()) == size_t(text), "text not ended where it was counted");
    FUZZ_CHECK(known_state(record.ansi_state), std::to_string(record.ansi_state));
    returned += text;
  });
  FUZZ_CHECK(returned == screen.shown, std::to_string(returned));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const ChunkedInput input = chunked_input(data, size);
  Screen whole(input.port);
  Screen chunked(input.port);
  parse(input, true, whole);
  parse(input, false, chunked);
  FUZZ_CHECK(chunked.calls == whole.calls, "calls in chunks: " + chunked.calls.substr(0, 200) +
                                               "\nwhole: " + whole.calls.substr(0, 200));
  FUZZ_CHECK(chunked.pane.text() == whole.pane.text(), "screens differ");
  FUZZ_CHECK(chunked.caret() == whole.caret(), "carets differ");
  return 0;
}
