// The Terminal view's screen as a byte-fed routine of the pure core: the same
// screen, answers and log record however the bytes are split.
#include "hex/core/hexcore.h"
#include "support/chunk_splits.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ScreenSink final : HexSink {
  std::string answers, recorded, changed;
  void show(int, const char *, int) override { ADD_FAILURE() << "the pane shows nothing"; }
  void screen_answer(int port, const char *bytes, int length) override {
    EXPECT_EQ(port, 3);
    answers.append(bytes, size_t(length));
  }
  void record(int, const char *text, int length) override { recorded.append(text, size_t(length)); }
  void screen_changed(HexScreen &, int row, int column, int rows, int columns) override {
    changed += std::to_string(row) + "," + std::to_string(column) + " " + std::to_string(rows) +
               "x" + std::to_string(columns) + ";";
  }
};

std::string row_text(const HexScreen &screen, int row) {
  std::string text;
  for (int column = 0; column < HEX_SCREEN_COLUMNS; ++column) {
    HexScreenCell cell;
    hex_screen_cell(screen, row, column, &cell);
    text += cell.chars[0] ? char(cell.chars[0]) : ' ';
  }
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

}  // namespace

TEST(TerminalScreen, AnswersCellsAndRecordInEveryChunkSplit) {
  const std::string bytes = "\x1b[2;3H\x1b[6nab\x1b[5n\r\n\x1b[1mz";
  for (const std::vector<size_t> &cuts : chunk_splits(bytes.size(), true, 4)) {
    hex_obj_t record{};
    ScreenSink sink;
    HexTimeLines time;
    time.on = 1;  // no heads on a screen
    for_each_chunk(bytes, cuts, [&](char *chunk, int count) {
      hex_show_chunk(HEX_VIEW_TERMINAL, record, 3, 0, time, 0, chunk, count, sink);
    });
    const HexScreen &screen = hex_screen_of(record);
    EXPECT_EQ(sink.answers, "\x1b[2;3R\x1b[0n");
    EXPECT_EQ(sink.recorded, bytes);
    EXPECT_EQ(row_text(screen, 1), "  ab");
    EXPECT_EQ(row_text(screen, 2), "z");
    HexScreenCell bold;
    hex_screen_cell(screen, 2, 0, &bold);
    EXPECT_EQ(bold.attributes, HEX_CELL_BOLD);
    int row = 0, column = 0;
    bool visible = false;
    hex_screen_cursor(screen, &row, &column, &visible);
    EXPECT_EQ(row * 100 + column, 201);
    EXPECT_TRUE(visible);
    if (cuts.empty()) {
      EXPECT_EQ(sink.changed, "1,2 1x2;2,0 1x1;");  // each changed row once, as far as it changed
    }
    hex_screen_release(record);
    ASSERT_EQ(record.screen, nullptr) << ::testing::PrintToString(cuts);
  }
}
