// The Time view's lines and the capture rings of the pure core: heads and
// times of day near the clock's wrap and midnight, where lines start, the
// views' text with heads and breaks, and the rings' order of arrival,
// pieces, and bytes dropped when full (counted, never silently).
#include "hex/core/hexcore.h"
#include "support/random_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kNearWrap = 0xFFFFFFF5u;

// What a routine put into its sink, as one text, and by port.
class TextSink final : public HexSink {
public:
  void show(int port, const char *text, int length) override {
    all.append(text, size_t(length));
    ports.push_back(port);
  }
  std::string all;
  std::vector<int> ports;
};

std::string head(uint32_t day_ms, uint32_t delta, int port, HexDirection direction) {
  char out[HEX_HEAD_MAX];
  const int length = hex_time_head(out, day_ms, delta, port, direction);
  EXPECT_EQ(size_t(length), std::strlen(out));
  return out;
}

constexpr uint32_t at(int hours, int minutes, int seconds, int ms) {
  return uint32_t(((hours * 60 + minutes) * 60 + seconds) * 1000 + ms);
}

}  // namespace

TEST(TimeView, HeadsGiveTheTimeOfDayTheDeltaAndThePort) {
  struct Row {
    uint32_t day_ms, delta;
    int port;
    HexDirection direction;
    const char *text;
  } rows[] = {
      {0, 0, 0, HEX_RECEIVED, "\n00:00:00.000 +0 Rx1 "},
      {at(12, 34, 56, 789), 52, 1, HEX_RECEIVED, "\n12:34:56.789 +52 Rx2 "},
      {at(9, 5, 7, 40), 3, 0, HEX_SENT, "\n09:05:07.040 +3 Tx1 "},
      {HEX_DAY_MS - 1, 0xFFFFFFFFu, 15, HEX_SENT, "\n23:59:59.999 +4294967295 Tx16 "},
      {HEX_DAY_MS + 5, 1, 0, HEX_RECEIVED, "\n00:00:00.005 +1 Rx1 "},
  };
  for (const Row &row : rows)
    EXPECT_EQ(head(row.day_ms, row.delta, row.port, row.direction), row.text);
}

TEST(TimeView, TimeOfDayFollowsTheClockAcrossItsWrapAndMidnight) {
  const HexClockFace face{kNearWrap, at(23, 59, 59, 990)};
  struct Row {
    uint32_t ms, day_ms;
  } rows[] = {
      {kNearWrap, at(23, 59, 59, 990)},
      {kNearWrap + 9, at(23, 59, 59, 999)},
      {kNearWrap + 10, 0},                   // midnight
      {5, 6},                                // past the clock's wrap: 16 ms after the face
      {kNearWrap - 5, at(23, 59, 59, 985)},  // read just before the face was set
  };
  for (const Row &row : rows)
    EXPECT_EQ(hex_time_of_day(face, row.ms), row.day_ms) << row.ms;
  EXPECT_EQ(hex_time_of_day(HexClockFace{100, 3}, 90), HEX_DAY_MS - 7);
}

// Each chunk, in order: whether it starts a line and with which delta.
TEST(TimeView, LinesStartAtAnotherPortOrDirectionAndAfterGapsLongerThanTheGap) {
  struct Row {
    int port;
    HexDirection direction;
    uint32_t after;     // ms after the first chunk
    const char *start;  // "+delta Rx1" of the line it starts, "" when it goes on
  } rows[] = {
      {0, HEX_RECEIVED, 0, "+0 Rx1"},    // the first chunk heads the first line
      {0, HEX_RECEIVED, 20, ""},         // 20 ms is not longer than the gap
      {0, HEX_RECEIVED, 41, "+41 Rx1"},  // 21 ms is; across the clock's wrap
      {0, HEX_RECEIVED, 45, ""},
      {1, HEX_RECEIVED, 45, "+4 Rx2"},  // another port, no time between
      {1, HEX_SENT, 46, "+1 Tx2"},      // another direction
      {1, HEX_SENT, 66, ""},
      {1, HEX_SENT, 86, ""},  // the gap counts from the last chunk, not the line
      {0, HEX_RECEIVED, 86, "+40 Rx1"},
      {0, HEX_RECEIVED, 5000, "+4914 Rx1"},
  };
  HexTimeLines lines;
  lines.on = 1;
  lines.face = HexClockFace{kNearWrap, 0};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.after);
    char out[HEX_HEAD_MAX];
    const int length = hex_time_chunk(lines, row.port, row.direction, kNearWrap + row.after, out);
    if (*row.start == '\0') {
      EXPECT_EQ(length, 0);
      continue;
    }
    ASSERT_GT(length, 0);
    const std::string text(out, size_t(length));
    // The time of day of the chunk's first byte, then the delta and port.
    EXPECT_EQ(text.substr(0, 14), head(row.after, 0, 0, HEX_RECEIVED).substr(0, 14));
    EXPECT_EQ(text.substr(14), std::string(row.start) + " ");
  }
}

// The text of a stream in every view with Time on, with Ports on and with
// neither: the same whatever the reads within a line, heads where lines
// start (with Ports, where another port's text starts one), and frames
// headed with the time their closing flag came.
TEST(TimeView, ChunksOfAViewAreHeadedWhereTheirLinesStart) {
  struct Read {
    int port;
    uint32_t ms;
    std::string bytes;
  };
  const std::string ppp_open("\x7E\xFF\x03", 3), ppp_close("\xC0\x21\x7E", 3);
  // What each view shows with Time on, with Ports on, and with neither.
  struct Row {
    int32_t view;
    std::vector<Read> reads;
    std::string shown[3];
  } rows[] = {
      {HEX_VIEW_HEXADECIMAL,
       {{0, 1000, "\x01\x02"}, {0, 1005, "\x03"}, {0, 1050, "\x04"}, {1, 1050, "\x05"}},
       {"\n00:00:01.000 +0 Rx1  01 02 03\n00:00:01.050 +50 Rx1  04\n00:00:01.050 +0 Rx2  05",
        "\nRx1  01 02 03 04\nRx2  05", " 01 02 03 04 05"}},
      {HEX_VIEW_ASCII,
       {{1, 0, "ab"}, {1, 20, "c"}, {0, 21, "d"}, {1, 30, "e"}},
       {"\n00:00:00.000 +0 Rx2 abc\n00:00:00.021 +21 Rx1 d\n00:00:00.030 +9 Rx2 e",
        "\nRx2 abc\nRx1 d\nRx2 e", "abcde"}},
      {HEX_VIEW_ANSI,
       {{0, 0, "ab"}, {1, 5, "c"}, {1, 100, "d"}},
       {"\n00:00:00.000 +0 Rx1 ab\n00:00:00.005 +5 Rx2 c\n00:00:00.100 +95 Rx2 d",
        "\nRx1 ab\nRx2 cd", "abcd"}},
      {HEX_VIEW_PPP,
       {{1, 60, ppp_open}, {1, 70, ppp_close}, {0, 75, "\x7E"}},
       {"\n00:00:00.070 +0 Rx2  7E FF 03 C0 21", "\nRx2   123  7E FF 03 C0 21",
        "\nRx2   123  7E FF 03 C0 21"}},
      {HEX_VIEW_TERMINAL, {{0, 0, "ab"}, {1, 5, "c"}}, {"", "", ""}},  // screens, no lines
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.view);
    for (int mode : {0, 1, 2}) {
      // Each read whole, and each cut in two: a line's text is the same.
      for (bool cut : {false, true}) {
        hex_obj_t records[2] = {};
        for (hex_obj_t &record : records)
          record.icni_len = HEX_ICNI_NO_LENGTH;
        HexTimeLines lines;
        lines.on = mode == 0;
        lines.names = mode == 1;
        TextSink sink;
        for (const Read &read : row.reads) {
          std::vector<std::string> parts{read.bytes};
          if (cut && read.bytes.size() > 1)
            parts = {read.bytes.substr(0, 1), read.bytes.substr(1)};
          for (std::string part : parts) {
            const int count = int(part.size());
            part.resize(part.size() * 3 + 1);
            hex_show_chunk(row.view, records[read.port], read.port, 123, lines, read.ms,
                           part.data(), count, sink);
          }
        }
        for (hex_obj_t &record : records)
          hex_screen_release(record);
        EXPECT_EQ(sink.all, row.shown[mode]) << "mode " << mode << " cut " << cut;
      }
    }
  }
}

TEST(TimeView, BreaksAreLinesOfTheirOwnNeverBytes) {
  struct Row {
    bool on;
    uint32_t breaks;
    const char *text;
    bool names = false;
  } rows[] = {
      {false, 0, ""},
      {false, 1, "\nRx2 <BREAK>", true},
      {false, 1, "\nRx2 <BREAK>"},
      {false, 3, "\nRx2 <BREAK x3>"},
      {true, 1, "\n00:00:00.007 +0 Rx2 <BREAK>"},
      {true, 2, "\n00:00:00.007 +0 Rx2 <BREAK x2>"},
  };
  for (const Row &row : rows) {
    HexTimeLines lines;
    lines.on = row.on;
    lines.names = row.names;
    if (row.names)
      lines.lines = 1, lines.last_port = 1;  // in a line of this port
    TextSink sink;
    hex_show_breaks(lines, 1, 7, row.breaks, sink);
    EXPECT_EQ(sink.all, row.text);
    if (!hex_lines_headed(lines) || row.breaks == 0)
      continue;
    // Bytes right behind the break start a line of their own.
    char bytes[8] = "A";
    hex_show_chunk(HEX_VIEW_ASCII, *std::make_unique<hex_obj_t>(), 1, 0, lines, 8, bytes, 1, sink);
    EXPECT_EQ(sink.all, std::string(row.text) + (row.on ? "\n00:00:00.008 +1 Rx2 A" : "\nRx2 A"));
    EXPECT_EQ(sink.ports, (std::vector<int>{1, 1, 1}));
  }
}

// A port gone or back: a line of its own with the time of day, in the
// port's colour, the same in every view; text behind it starts a line (with
// Time on, a headed one), and the clock's wrap and midnight change nothing.
TEST(TimeView, APortGoneOrBackIsALineOfItsOwnWithTheTime) {
  struct Row {
    bool on;
    HexClockFace face;
    uint32_t ms;
    int port;
    const char *device;
    HexPortEvent event;
    const char *text;
  } rows[] = {
      {false, {0, at(9, 15, 0, 0)}, 250, 0, "/dev/ttyUSB0", HEX_PORT_GONE,
       "\n09:15:00.250 COM1 (/dev/ttyUSB0) disconnected\n"},
      {false, {kNearWrap, at(23, 59, 59, 990)}, kNearWrap + 20, 15,
       "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0", HEX_PORT_BACK,
       "\n00:00:00.010 COM16 (/dev/serial/by-id/usb-FTDI_FT232R-if00-port0) reconnected\n"},
      {true, {kNearWrap, 0}, 5, 1, "/tmp/a", HEX_PORT_GONE,
       "\n00:00:00.016 COM2 (/tmp/a) disconnected"},
      {true, {0, at(12, 0, 0, 0)}, 1, 1, "/tmp/a", HEX_PORT_BACK,
       "\n12:00:00.001 COM2 (/tmp/a) reconnected"},
      {true, {0, 0}, 1, 1, "/tmp/a", HEX_PORT_NO_EVENT, ""},
      // A modem line's change, without the device.
      {false, {0, at(12, 0, 1, 0)}, 234, 0, "/tmp/a", hex_line_event(HEX_LINE_CTS, true),
       "\n12:00:01.234 COM1 CTS on\n"},
      {true, {0, at(8, 0, 0, 0)}, 7, 1, "/tmp/a", hex_line_event(HEX_LINE_BREAK, false),
       "\n08:00:00.007 COM2 break off"},
      {true, {0, 0}, 1, 1, "/tmp/a", HexPortEvent(HEX_PORT_LINE + HEX_LINES * 2), ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    HexTimeLines lines;
    lines.on = row.on;
    lines.face = row.face;
    TextSink sink;
    // A line of the same port just before: the event still stands alone.
    char before[8] = "x";
    auto record = std::make_unique<hex_obj_t>();
    hex_show_chunk(HEX_VIEW_ASCII, *record, row.port, 0, lines, row.ms, before, 1, sink);
    const std::string shown_before = sink.all;
    hex_show_port_event(lines, row.port, row.device, row.event, row.ms, sink);
    EXPECT_EQ(sink.all.substr(shown_before.size()), row.text);
    char after[8] = "y";
    const size_t at_event_end = sink.all.size();
    hex_show_chunk(HEX_VIEW_ASCII, *record, row.port, 0, lines, row.ms, after, 1, sink);
    const std::string behind = sink.all.substr(at_event_end);
    if (row.text[0] == '\0')
      continue;
    EXPECT_EQ(behind, row.on ? "\n" + std::string(sink.all, 1, 12) + " +0 Rx" +
                                   std::to_string(row.port + 1) + " y"
                             : "y");
    for (int port : sink.ports)
      EXPECT_EQ(port, row.port);
  }
}

// --- Capture rings ---------------------------------------------------------------------

namespace {

struct Captured {
  int side, port;
  uint32_t ms, breaks;
  std::string bytes;
  int32_t event;
};

std::unique_ptr<HexCapture> empty_capture() { return std::make_unique<HexCapture>(); }

void put(HexCapture &capture, int side, int port, uint32_t ms, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    uint32_t room = 0;
    uint8_t *into = hex_capture_room(capture, side, &room);
    ASSERT_GT(room, 0u);
    const uint32_t count = std::min<uint32_t>(room, uint32_t(bytes.size() - done));
    std::memcpy(into, bytes.data() + done, count);
    hex_capture_commit(capture, side, port, ms, count);
    done += count;
  }
}

std::vector<Captured> take_all(HexCapture &capture, uint64_t before = UINT64_MAX, int max = 8192) {
  std::vector<Captured> out;
  std::vector<uint8_t> buffer(size_t(max) + 1);
  HexCapturePiece piece{};
  while (hex_capture_take(capture, before, buffer.data(), max, &piece))
    out.push_back({piece.side, piece.port, piece.ms, piece.breaks,
                   std::string(reinterpret_cast<char *>(buffer.data()), size_t(piece.count)),
                   piece.event});
  return out;
}

}  // namespace

TEST(Capture, BothSidesComeOutInTheOrderTheyArrived) {
  auto capture = empty_capture();
  put(*capture, 0, 0, 1, "ab");
  put(*capture, 1, 1, 1, "X");  // the other side between
  put(*capture, 0, 0, 1, "c");
  put(*capture, 0, 0, 2, "d");
  hex_capture_breaks(*capture, 1, 1, 2, 2);
  put(*capture, 1, 1, 2, "Y");  // behind a break: its own chunk
  hex_capture_event(*capture, 0, 0, 2, HEX_PORT_GONE);
  hex_capture_event(*capture, 0, 0, 2, HEX_PORT_NO_EVENT);  // nothing
  hex_capture_event(*capture, 0, 0, 3, HEX_PORT_BACK);
  put(*capture, 0, 0, 3, "e");  // behind the port's return: its own chunk
  const uint64_t before = hex_capture_published(*capture);
  put(*capture, 1, 1, 3, "late");  // came after the run began
  const std::vector<Captured> got = take_all(*capture, before);
  ASSERT_EQ(got.size(), 9u);
  const char *bytes[] = {"ab", "X", "c", "d", "", "Y", "", "", "e"};
  const int sides[] = {0, 1, 0, 0, 1, 1, 0, 0, 0};
  const uint32_t ms[] = {1, 1, 1, 2, 2, 2, 2, 3, 3};
  const int32_t events[] = {0, 0, 0, 0, 0, 0, HEX_PORT_GONE, HEX_PORT_BACK, 0};
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].bytes, bytes[i]);
    EXPECT_EQ(got[i].side, sides[i]);
    EXPECT_EQ(got[i].port, sides[i]);
    EXPECT_EQ(got[i].ms, ms[i]);
    EXPECT_EQ(got[i].breaks, i == 4 ? 2u : 0u);
    EXPECT_EQ(got[i].event, events[i]);
  }
  EXPECT_EQ(hex_capture_pending(*capture, 1), 4u);
  const std::vector<Captured> rest = take_all(*capture);
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].bytes, "late");
}

TEST(Capture, AChunkLargerThanAPieceComesInPiecesOfItsTime) {
  auto capture = empty_capture();
  const std::string bytes = random_text(20000, 1);
  put(*capture, 1, 4, 77, bytes);
  const std::vector<Captured> got = take_all(*capture, UINT64_MAX, 8192);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].bytes.size(), 8192u);
  EXPECT_EQ(got[2].bytes.size(), 20000u - 2 * 8192u);
  EXPECT_EQ(got[0].bytes + got[1].bytes + got[2].bytes, bytes);
  for (const Captured &piece : got) {
    EXPECT_EQ(piece.ms, 77u);
    EXPECT_EQ(piece.port, 4);
  }
}

// A writer thread reads random sizes into small rings of both sides, with
// line events between, while a reader thread takes random pieces: a full
// ring holds the writer, and every byte and event comes out once, in order.
TEST(Capture, AWriterAndAReaderThreadLoseNothingThroughFullRings) {
  HexCapture capture(4096, 1024);  // the bytes fill first
  constexpr uint32_t kReads = 5000;
  std::atomic<uint64_t> held{0};
  std::thread writer([&] {
    std::mt19937 random(7);
    uint32_t next[2] = {0, 0};  // bytes count modulo 251: a lap of the ring shows
    for (uint32_t ms = 0; ms < kReads; ++ms) {  // each read's stamp: its number
      const int side = int(random() % 2);
      if (ms % 97 == 0) {
        while (!hex_capture_event(capture, side, side, ms, HEX_PORT_BACK))
          std::this_thread::yield();
        continue;
      }
      uint32_t room = 0, want = 1 + random() % 3000;
      uint8_t *into = nullptr;
      while ((into = hex_capture_room(capture, side, &room)), room == 0) {
        held.fetch_add(1);
        std::this_thread::yield();
      }
      want = std::min(want, room);
      for (uint32_t i = 0; i < want; ++i)
        into[i] = uint8_t(next[side]++ % 251);
      hex_capture_commit(capture, side, side, ms, want);
    }
  });
  std::mt19937 random(8);
  uint32_t expected[2] = {0, 0};
  uint32_t last_ms = 0, events = 0, pieces = 0;
  std::vector<uint8_t> buffer(5000);
  HexCapturePiece piece{};
  for (;;) {
    if (random() % 16 == 0)  // the reader lags behind now and then
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (!hex_capture_take(capture, hex_capture_published(capture), buffer.data(),
                          int(1 + random() % 5000), &piece)) {
      if (last_ms == kReads - 1)
        break;
      std::this_thread::yield();
      continue;
    }
    ++pieces;
    ASSERT_GE(piece.ms, last_ms) << "out of order";
    last_ms = piece.ms;
    ASSERT_EQ(piece.port, piece.side);
    events += piece.event == HEX_PORT_BACK ? 1 : 0;
    for (int i = 0; i < piece.count; ++i)
      ASSERT_EQ(buffer[size_t(i)], expected[piece.side]++ % 251) << "lost or reordered";
  }
  writer.join();
  EXPECT_EQ(events, (kReads + 96) / 97);
  EXPECT_GT(held.load(), 0u) << "the rings never filled";
  EXPECT_EQ(hex_capture_pending(capture, 0) + hex_capture_pending(capture, 1), 0u);
  EXPECT_GT(pieces, kReads) << "no read came in pieces";
}

// What one thread posts and sets, the other reads: a side is never read
// from a port after set() has taken it away, and events come in order.
TEST(Capture, AHandOverTakesAPortBackBeforeItReturns) {
  HexCaptureHandOver hand;
  std::atomic<int> closed{-1};  // the port the main thread has closed
  std::atomic<bool> stop{false}, misread{false};
  std::vector<int> events;
  std::thread reader([&] {
    while (!stop) {
      const HexCaptureHandOver::Port port = hand.get(0);
      hand.read_side(0, port, [&](std::vector<HexCaptureHandOver::Event> &posted) {
        misread = misread || (port.port >= 0 && port.port == closed);
        for (const HexCaptureHandOver::Event &event : posted)
          events.push_back(int(event.ms));
        posted.clear();
      });
    }
  });
  for (int round = 0; round < 2000; ++round) {
    hand.set(0, HexCaptureHandOver::Port{round, round});
    hand.post(0, HexCaptureHandOver::Event{round, uint32_t(round), HEX_PORT_BACK});
    hand.set(0, HexCaptureHandOver::Port{});
    closed = round;
  }
  stop = true;
  reader.join();
  hand.read_side(0, hand.get(0), [&](auto &posted) {
    for (const HexCaptureHandOver::Event &event : posted)
      events.push_back(int(event.ms));
  });
  EXPECT_FALSE(misread) << "a port was read after it was taken back";
  ASSERT_EQ(events.size(), 2000u);
  EXPECT_TRUE(std::is_sorted(events.begin(), events.end()));
}

TEST(Capture, ClearingDropsWhatWaits) {
  auto capture = empty_capture();
  put(*capture, 0, 0, 1, "abc");
  hex_capture_breaks(*capture, 0, 0, 1, 1);
  put(*capture, 1, 1, 1, "d");
  hex_capture_clear(*capture, 0);
  EXPECT_EQ(hex_capture_pending(*capture, 0), 0u);
  const std::vector<Captured> got = take_all(*capture);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, "d");
}

// Readings of a side's lines: the first is the lines as found; each later
// one gives the lines that changed, in the lines' order, each counted; a
// reading without lines (a pseudo-terminal) changes nothing, and what
// differs when they come back counts. The user's own changes count too.
TEST(ModemLines, ReadingsGiveTheChangesInOrderAndCountThem) {
  constexpr uint32_t kCts = 1u << HEX_LINE_CTS, kDsr = 1u << HEX_LINE_DSR,
                     kRi = 1u << HEX_LINE_RI, kDtr = 1u << HEX_LINE_DTR;
  constexpr uint32_t kAll = 0x3F;
  const struct {
    bool known;
    uint32_t bits;
    std::vector<HexPortEvent> events;
  } readings[] = {
      {false, kCts, {}},
      {true, kCts | kDtr, {}},
      {true, kCts | kDtr, {}},
      {true, kDsr | kRi | kDtr,
       {hex_line_event(HEX_LINE_CTS, false), hex_line_event(HEX_LINE_DSR, true),
        hex_line_event(HEX_LINE_RI, true)}},
      {false, 0, {}},
      {true, kDsr | kDtr, {hex_line_event(HEX_LINE_RI, false)}},
  };
  HexLineState state;
  for (const auto &reading : readings) {
    HexPortEvent events[HEX_LINES];
    const int count = hex_lines_read(state, reading.known, reading.bits, kAll, events);
    EXPECT_EQ(std::vector<HexPortEvent>(events, events + count), reading.events);
    EXPECT_EQ(state.known, reading.known);
  }
  EXPECT_EQ(hex_lines_made(state, HEX_LINE_DTR, false), hex_line_event(HEX_LINE_DTR, false));
  HexPortEvent none[HEX_LINES];
  EXPECT_EQ(hex_lines_read(state, true, kDsr, kAll, none), 0) << "the user's change is known";
  const uint32_t counted[HEX_LINES] = {1, 1, 0, 2, 1, 0, 0};
  EXPECT_TRUE(std::equal(counted, counted + HEX_LINES, state.changes));
}
