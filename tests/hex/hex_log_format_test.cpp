// The HTML log's file format and records, without a window: the bytes of a
// whole log, every byte value in a record, and records cut anywhere reading
// as the pane shows the same bytes.
#include "hex/core/hexcore.h"
#include "log_reading.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string record(const std::string &text, uint32_t rgb, HexLogState &state) {
  std::string out;
  hex_log_record(out, rgb, text.data(), int(text.size()), state);
  return out;
}

std::string record(const std::string &text, uint32_t rgb = hex_port_rgb(0, HEX_RECEIVED)) {
  HexLogState state;
  return record(text, rgb, state);
}

// What the pane shows, with the no-break spaces of byte 0xA0 read as the
// blanks a reader sees.
std::string paneShows(const std::string &bytes) {
  std::string text = paneBytesToUtf8(bytes);
  for (size_t at; (at = text.find("\xC2\xA0")) != std::string::npos;)
    text.replace(at, 2, " ");
  return text;
}

// Printable ASCII and line feeds only, and outside the tags no '<', '>' or
// '"' of its own: the file needs no charset, and no reader can take text for
// markup.
bool plainAscii(const std::string &html) {
  bool inTag = false;
  for (char c : html) {
    if (c != '\n' && (c < 0x20 || c > 0x7E))
      return false;
    if (c == '<' && !inTag)
      inTag = true;
    else if (c == '>' && inTag)
      inTag = false;
    else if (!inTag && (c == '<' || c == '>' || c == '"'))
      return false;
  }
  return !inTag;
}

TEST(HexLogFile, HeaderRecordsInEachColourAndTrailerByteForByte) {
  std::string log = HEX_LOG_HEADER;
  HexLogState state;
  const uint8_t received[] = {0x01, 0x02, 0x03};
  char hex[10];
  const int hexLength = hex_to_hexstr(received, hex, 3);
  hex_log_record(log, hex_port_rgb(0, HEX_RECEIVED), hex, hexLength, state);
  log += record("ok", hex_port_rgb(0, HEX_SENT), state);
  log += record("a<b", hex_port_rgb(1, HEX_RECEIVED), state);
  log += record("\n", hex_port_rgb(1, HEX_SENT), state);
  log += HEX_LOG_TRAILER;
  EXPECT_EQ(log,
            "<!doctype html public \"-//w3c//dtd html 4.0 transitional//en\"><html>\n"
            "<head>\n"
            "<meta name=\"Written by Kestrelon, a monitor and terminal for two serial ports\" "
            "content=\"Kestrelon Log File\">\n"
            "</head>\n"
            "<body><p>\n"
            "<font color=\"#0000FF\">&nbsp;01 02 03</font>"
            "<font color=\"#00FF00\">ok</font>"
            "<font color=\"#00007F\">a&lt;b</font>"
            "<font color=\"#007F00\"><br>\n</font>"
            "</p></body>\n"
            "</html>\n");
}

TEST(HexLogRecord, EveryByteValueIsPlainAsciiAndReadsAsThePaneShowsIt) {
  // Between two letters, so blanks stand inside a line.
  struct Row {
    uint8_t byte;
    const char *html;
  };
  const Row rows[] = {
      {0x00, "&#9216;"},                                // control picture
      {0x09, " &nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;"},  // to column 8
      {0x0A, "<br>\n"},
      {0x0D, "<br>\n"},
      {0x1B, "&#9243;"},
      {0x20, " "},
      {0x22, "&quot;"},
      {0x26, "&amp;"},
      {0x27, "'"},
      {0x3C, "&lt;"},
      {0x3E, "&gt;"},
      {0x41, "A"},
      {0x7E, "~"},
      {0x7F, "&#9249;"},
      {0x80, "&#8364;"},   // Windows-1252
      {0x81, "&#65533;"},  // undefined there
      {0x9F, "&#376;"},
      {0xA0, "&#160;"},
      {0xE9, "&#233;"},
      {0xFF, "&#255;"},
  };
  for (const Row &row : rows)
    EXPECT_EQ(record(std::string("x") + char(row.byte) + "y"),
              std::string("<font color=\"#0000FF\">x") + row.html + "y</font>")
        << "byte " << int(row.byte);

  for (int value = 0; value < 256; ++value) {
    const std::string bytes = std::string("x") + char(value) + "y";
    const std::string html = record(bytes);
    EXPECT_TRUE(plainAscii(html)) << "byte " << value;
    const LogReading reading = readLogBody(html);
    EXPECT_EQ(reading.fault, "") << "byte " << value;
    const bool lineBreak = value == '\n' || value == '\r';
    const std::vector<std::string> elements =
        lineBreak ? std::vector<std::string>{"font", "br"} : std::vector<std::string>{"font"};
    EXPECT_EQ(reading.elements, elements) << "byte " << value;
    EXPECT_EQ(reading.text, paneShows(bytes)) << "byte " << value;
  }
}

// The same traffic cut into records anywhere (as pump runs and ports cut
// it) reads as the pane shows it whole: a CR LF or a TAB across a cut, blank
// runs at a line's start, end or across a cut, markup and entities.
TEST(HexLogRecord, TextCutIntoRecordsAnywhereReadsAsThePaneShowsItWhole) {
  const std::string traffic = std::string(
      "  lead\tx<script>&amp;</font>  two  \r\n"
      "<!-- \"q\" -->\r\n\rlone cr\rtab\t\tend\t\n \x01\xA0\x81 z  ");
  const std::string shown = paneShows(traffic);
  const uint32_t colours[2] = {hex_port_rgb(0, HEX_RECEIVED), hex_port_rgb(1, HEX_RECEIVED)};
  const size_t n = traffic.size();
  int cuts = 0;
  for (size_t first = 0; first <= n; ++first) {
    for (size_t second = first; second <= n; ++second) {
      HexLogState state;
      std::string log = HEX_LOG_HEADER;
      const std::string pieces[3] = {traffic.substr(0, first),
                                     traffic.substr(first, second - first), traffic.substr(second)};
      for (int i = 0; i < 3; ++i)
        log += record(pieces[i], colours[i % 2], state);
      log += HEX_LOG_TRAILER;
      const LogReading reading = readLogBody(log);
      ASSERT_EQ(reading.fault, "") << first << "," << second;
      ASSERT_EQ(reading.text, shown) << "cut at " << first << " and " << second;
      ASSERT_EQ(reading.records.size(), 3u);
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reading.records[size_t(i)].shown, shownCharacters(paneShows(pieces[i])));
        EXPECT_EQ(reading.records[size_t(i)].colour, i % 2 ? "#00007F" : "#0000FF");
      }
      ++cuts;
    }
  }
  EXPECT_EQ(cuts, int((n + 1) * (n + 2) / 2));
}

// Mostly plain text, as typed or printed, with blanks single and in runs,
// entities, line breaks, TABs and bytes outside ASCII at every offset, short
// and far longer than a record's buffer; whole and cut into three records.
TEST(HexLogRecord, TextOfAnyShapeAndLengthReadsAsThePaneShowsIt) {
  std::mt19937 random(20240607);
  const std::string plain = "abcXYZ0189.,;:!?()[]{}/'=+-*_|~`^$#@%";
  const std::string rare = std::string("&<>\"\t\r\n\x01\x7F\x80\xA0\xFF", 13);
  auto pick = [&](const std::string &from) { return from[random() % from.size()]; };
  int texts = 0;
  for (size_t length : {1, 2, 15, 16, 17, 18, 31, 33, 47, 64, 65, 100, 255, 1000, 40000}) {
    for (int variant = 0; variant < 12; ++variant) {
      std::string text;
      while (text.size() < length) {
        const unsigned roll = random() % 100;
        if (roll < 14)
          text.append(1 + (roll % 7 == 0 ? random() % 4 : 0), ' ');
        else if (roll < 14 + unsigned(variant % 4))
          text += pick(rare);
        else
          text += pick(plain);
      }
      text.resize(length);
      const std::string shown = paneShows(text);
      const size_t first = random() % (length + 1);
      const size_t second = first + random() % (length - first + 1);
      for (bool cut : {false, true}) {
        HexLogState state;
        std::string log = HEX_LOG_HEADER;
        if (cut) {
          log += record(text.substr(0, first), hex_port_rgb(0, HEX_RECEIVED), state);
          log += record(text.substr(first, second - first), hex_port_rgb(1, HEX_RECEIVED), state);
          log += record(text.substr(second), hex_port_rgb(0, HEX_SENT), state);
        } else {
          log += record(text, hex_port_rgb(0, HEX_RECEIVED), state);
        }
        log += HEX_LOG_TRAILER;
        ASSERT_TRUE(plainAscii(log)) << "length " << length << " variant " << variant;
        const LogReading reading = readLogBody(log);
        ASSERT_EQ(reading.fault, "") << "length " << length << " variant " << variant;
        ASSERT_EQ(reading.text, shown)
            << "length " << length << " variant " << variant << (cut ? " cut" : " whole");
        ++texts;
      }
    }
  }
  EXPECT_EQ(texts, 15 * 12 * 2);
}

TEST(HexLogRecord, LongTextIsWrittenWhole) {
  // Longer than any of the monitor's text buffers, and four times longer
  // once escaped.
  const std::string text = std::string(3 * HEX_BUF_SIZE, '<') + "end";
  const std::string html = record(text);
  const LogReading reading = readLogBody(html);
  ASSERT_EQ(reading.records.size(), 1u);
  EXPECT_EQ(reading.records[0].shown, text);
  EXPECT_EQ(html.substr(html.size() - 10), "end</font>");
}

}  // namespace
