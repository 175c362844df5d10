// Checks, the frame builder and the frame decoders of the pure core: check
// values and residues, the frames of known messages, decoders fed every way
// of splitting the bytes, random round trips through builder and decoder on
// both ports at once, and frames with a flipped bit.
#include "hex/core/hexcore.h"
#include "support/chunk_splits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const char *text) {
  Bytes out(HEX_BUF_SIZE);
  out.resize(size_t(hex_hexstr_to_bin(text, out.data())));
  return out;
}

Bytes ascii(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes repeat(uint8_t value, size_t count) { return Bytes(count, value); }

Bytes random_bytes(std::mt19937 &rng, size_t count) {
  Bytes out(count);
  for (uint8_t &b : out)
    b = uint8_t(rng());
  return out;
}

Bytes check_of(int32_t kind, const Bytes &message) {
  uint8_t check[HEX_CHECK_MAX];
  return Bytes(check, check + hex_check_bytes(kind, message.data(), int(message.size()), check));
}

Bytes build(int32_t type, int32_t kind, const Bytes &message) {
  Bytes frame(HEX_FRAME_MAX);
  frame.resize(
      size_t(hex_build_frame(type, kind, message.data(), int(message.size()), frame.data())));
  return frame;
}

std::string checksum_text(int32_t kind, const Bytes &message) {
  char text[64];
  hex_checksum_text(kind, message.data(), int(message.size()), text, sizeof text);
  return text;
}

// --- Decoder harness ------------------------------------------------------------

struct Line {
  int port;
  Bytes bytes;
  std::string verdict = {};  // as the line ends: " ok", " BAD, ...", nothing
  bool operator==(const Line &) const = default;
};

void PrintTo(const Line &line, std::ostream *os) {
  char hex_text[3 * 64 + 1];
  const int shown = std::min<int>(int(line.bytes.size()), 64);
  hex_to_hexstr(line.bytes.data(), hex_text, shown);
  *os << "Rx" << line.port + 1 << hex_text << (shown < int(line.bytes.size()) ? " ..." : "") << " ("
      << line.bytes.size() << " bytes)" << line.verdict;
}

constexpr uint16_t kStamp = 1250;

// Reads each line back: the header with its port and the stamp, the
// frame's bytes as hex text, and its verdict: " ok" on the line, any other
// one shown apart, as an alert. Each frame comes after its line, its bytes
// those behind the opening.
struct LineSink final : HexSink {
  std::vector<Line> lines;
  void show(int port, const char *text, int length) override {
    char header[32];
    const int header_length =
        std::snprintf(header, sizeof header, "\nRx%d %5d ", port + 1, int(kStamp));
    std::string line(text, size_t(length));
    ASSERT_EQ(line.compare(0, size_t(header_length), header), 0) << line.substr(0, 20);
    const bool ok = line.ends_with(" ok");
    line.resize(line.size() - (ok ? 3 : 0));
    Bytes bytes(line.size());
    const int count = hex_hexstr_to_bin(line.c_str() + header_length, bytes.data(), length);
    ASSERT_EQ(3 * count, int(line.size()) - header_length) << "not hex text: " << line.substr(0, 40);
    bytes.resize(size_t(count));
    lines.push_back({port, bytes, ok ? " ok" : ""});
  }
  void show_alert(int port, const char *text, int length) override {
    ASSERT_TRUE(!lines.empty() && lines.back().port == port && lines.back().verdict.empty());
    lines.back().verdict.assign(text, size_t(length));
  }
  void frame(int port, const uint8_t *bytes, int count, const HexVerdict &) override {
    const Bytes &shown = lines.back().bytes;
    ASSERT_TRUE(lines.back().port == port && std::equal(bytes, bytes + count, shown.end() - count));
  }
};

using Decoder = void (*)(hex_obj_t &, int, uint16_t, const uint8_t *, int, HexSink &);

// Chunk sizes: 0 whole, 1 a byte at a time, any other value seeds random
// sizes of 1 to 300 bytes.
std::vector<size_t> chunk_sizes(size_t total, uint32_t split) {
  std::vector<size_t> sizes;
  std::mt19937 rng(split);
  for (size_t done = 0; done < total;) {
    size_t size = split == 0 ? total : split == 1 ? 1 : 1 + rng() % 300;
    size = std::min(size, total - done);
    sizes.push_back(size);
    done += size;
  }
  return sizes;
}

std::vector<Line> decode(Decoder decoder, const Bytes &stream, uint32_t split) {
  // Bytes behind the record tell a decoder that wrote past it.
  struct Guarded {
    hex_obj_t record;
    uint8_t behind[1024];
  };
  auto guarded = std::make_unique<Guarded>();
  guarded->record.icni_len = HEX_ICNI_NO_LENGTH;
  std::fill(std::begin(guarded->behind), std::end(guarded->behind), 0xA5);
  LineSink sink;
  size_t at = 0;
  for (size_t size : chunk_sizes(stream.size(), split)) {
    decoder(guarded->record, 0, kStamp, stream.data() + at, int(size), sink);
    at += size;
  }
  EXPECT_TRUE(std::all_of(std::begin(guarded->behind), std::end(guarded->behind), [](uint8_t b) {
    return b == 0xA5;
  })) << "wrote past the record";
  return sink.lines;
}

// The lines of a stream, the same whether it comes whole, a byte at a time
// or in random chunks.
std::vector<Line> decode_every_split(Decoder decoder, const Bytes &stream) {
  const std::vector<Line> whole = decode(decoder, stream, 0);
  for (uint32_t split : {1u, 2u, 3u, 77u}) {
    EXPECT_EQ(decode(decoder, stream, split), whole) << "split " << split;
  }
  return whole;
}

std::vector<Line> on_port(int port, const std::vector<Bytes> &frames) {
  std::vector<Line> lines;
  for (const Bytes &frame : frames)
    lines.push_back({port, frame});
  return lines;
}

// Bits written as '0' and '1' (blanks between them for the eye), packed
// least significant bit first; the last byte is filled with ones.
Bytes bits(std::string text) {
  std::erase(text, ' ');
  text.append((8 - text.size() % 8) % 8, '1');
  Bytes out(text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i)
    out[i / 8] = uint8_t(out[i / 8] | (text[i] == '1') << (i % 8));
  return out;
}

std::string bit_string(const Bytes &bytes) {
  std::string out;
  for (uint8_t b : bytes)
    for (int i = 0; i < 8; ++i)
      out += (b >> i & 1) ? '1' : '0';
  return out;
}

}  // namespace

// --- Checks --------------------------------------------------------------------------------

TEST(HexChecks, CheckValuesAndReports) {
  struct Row {
    Bytes message;
    uint16_t crc16;
    uint32_t crc32;
    const char *reports[4];
  };
  const Row rows[] = {
      {{},
       0x0000,
       0x00000000,
       {"CRC 16 (ITU) = 0000, != FFFF", "CRC 32 = 00000000, != FFFFFFFF",
        "Arithmetic Checksum = 00", "Modulo 2 XOR Checksum = 00"}},
      {ascii("123456789"),
       0x6F91,
       0x340BC6D9,
       {"CRC 16 (ITU) = 6F91, != 906E", "CRC 32 = 340BC6D9, != CBF43926",
        "Arithmetic Checksum = DD", "Modulo 2 XOR Checksum = 31"}},
      {{0x00},
       0x0F87,
       0x2DFD1072,
       {"CRC 16 (ITU) = 0F87, != F078", "CRC 32 = 2DFD1072, != D202EF8D",
        "Arithmetic Checksum = 00", "Modulo 2 XOR Checksum = 00"}},
      {hex("7E FF 03"),
       crc16(hex("7E FF 03").data(), 3),
       hex_crc32(hex("7E FF 03").data(), 3),
       {nullptr, nullptr, "Arithmetic Checksum = 80", "Modulo 2 XOR Checksum = 82"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(checksum_text(HEX_CHECK_SUM, row.message));
    EXPECT_EQ(crc16(row.message.data(), int(row.message.size())), row.crc16);
    EXPECT_EQ(hex_crc32(row.message.data(), int(row.message.size())), row.crc32);
    for (int32_t kind = HEX_CHECK_CRC16; kind <= HEX_CHECK_XOR; ++kind) {
      if (row.reports[kind]) {
        EXPECT_EQ(checksum_text(kind, row.message), row.reports[kind]);
      }
    }
  }
  // The check bytes are the complement, least significant byte first.
  EXPECT_EQ(check_of(HEX_CHECK_CRC16, ascii("123456789")), hex("6E 90"));
  EXPECT_EQ(check_of(HEX_CHECK_CRC32, ascii("123456789")), hex("26 39 F4 CB"));
  EXPECT_EQ(check_of(HEX_CHECK_SUM, hex("7E FF 03")), hex("80"));
  EXPECT_EQ(check_of(HEX_CHECK_XOR, hex("7E FF 03")), hex("82"));
  for (int32_t kind : {-1, 4}) {
    EXPECT_TRUE(check_of(kind, ascii("123456789")).empty());
    EXPECT_EQ(checksum_text(kind, ascii("123456789")), "No check kind selected");
  }
}

TEST(HexChecks, AMessageFollowedByItsCheckBytesLeavesTheResidue) {
  std::mt19937 rng(11);
  for (int i = 0; i < 200; ++i) {
    const Bytes message = random_bytes(rng, rng() % 300);
    const Bytes with16 = message + check_of(HEX_CHECK_CRC16, message);
    const Bytes with32 = message + check_of(HEX_CHECK_CRC32, message);
    ASSERT_EQ(crc16(with16.data(), int(with16.size())), 0xF0B8) << message.size();
    ASSERT_EQ(hex_crc32(with32.data(), int(with32.size())), 0xDEBB20E3u) << message.size();
    if (i == 0) {
      EXPECT_EQ(checksum_text(HEX_CHECK_CRC16, with16), "CRC 16 (ITU) = F0B8, != 0F47");
      EXPECT_EQ(checksum_text(HEX_CHECK_CRC32, with32), "CRC 32 = DEBB20E3, != 2144DF1C");
    }
  }
}

// --- Frame builder -----------------------------------------------------------------------------

TEST(HexFrameBuilder, FramesOfKnownMessages) {
  constexpr int32_t kNoKind = -1;
  struct Row {
    int32_t type, kind;
    const char *message, *frame;
  };
  const Row rows[] = {
      {HEX_FRAME_PPP, HEX_CHECK_CRC16, "FF 03 C0 21", "7E FF 7D 23 C0 21 49 2C 7E"},
      {HEX_FRAME_PPP, HEX_CHECK_XOR, "7E", "7E 7D 5E 7D 5E 7E"},
      {HEX_FRAME_PPP, HEX_CHECK_CRC16, "", "7E FF FF 7E"},
      {HEX_FRAME_PPP, HEX_CHECK_SUM, "7D 1F 20", "7E 7D 5D 7D 3F 20 BC 7E"},
      {HEX_FRAME_HDLC, kNoKind, "FF", "7E DF FD FE"},
      {HEX_FRAME_HDLC, kNoKind, "00", "7E 00 7E"},
      // Ones counted across bytes: F0 ends in four, 03 starts with two.
      {HEX_FRAME_HDLC, kNoKind, "F0 03", "7E F0 05 FC FE"},
      {HEX_FRAME_ICNI, HEX_CHECK_XOR, "01 00 11 22", "EE 01 02 11 22 30"},
      {HEX_FRAME_ICNI, HEX_CHECK_SUM, "41", "EE 41 41"},
      {HEX_FRAME_ICNI, HEX_CHECK_CRC16, "", "EE FF FF"},
      {HEX_FRAME_ICNI, kNoKind, "01 00 11 22", ""},
      {HEX_FRAME_NONE, HEX_CHECK_CRC16, "01 02", ""},
      {-1, HEX_CHECK_CRC16, "01 02", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.message) + " type " + std::to_string(row.type));
    EXPECT_EQ(build(row.type, row.kind, hex(row.message)), hex(row.frame));
  }
}

TEST(HexFrameBuilder, LongestFramesStayInTheirBuffer) {
  constexpr uint8_t kGuard = 0xA5;
  struct Row {
    int32_t type;
    uint8_t fill;
    int least_length;
  };
  // Every byte escaped; a zero inserted behind every five ones.
  const Row rows[] = {{HEX_FRAME_PPP, 0x7E, 2 + 2 * HEX_BUF_SIZE},
                      {HEX_FRAME_HDLC, 0xFF, 1 + HEX_BUF_SIZE * 8 * 6 / 5 / 8}};
  for (const Row &row : rows) {
    const Bytes message(HEX_BUF_SIZE, row.fill);
    Bytes frame(HEX_FRAME_MAX + 64, kGuard);
    const int length =
        hex_build_frame(row.type, HEX_CHECK_CRC32, message.data(), HEX_BUF_SIZE, frame.data());
    EXPECT_GE(length, row.least_length);
    ASSERT_LE(length, HEX_FRAME_MAX);
    EXPECT_TRUE(
        std::all_of(frame.begin() + length, frame.end(), [](uint8_t b) { return b == kGuard; }));
  }
}

// --- Decoders ------------------------------------------------------------------------------------

TEST(HexFrameDecoders, KnownStreamsInEverySplit) {
  const Bytes stale_frame = hex("7E 01 02 03 04 7E");
  Bytes long_frame = hex("7E") + repeat(0x41, 30000) + hex("7E");
  Bytes long_hdlc = hex("7E") + repeat(0x00, 30000) + hex("7E");
  const Bytes icni_255 = hex("EE 00 FF") + repeat(0x33, 256);
  struct Row {
    const char *name;
    Decoder decoder;
    Bytes stream;
    std::vector<Bytes> lines;
  };
  const std::vector<Row> rows{
      {"PPP unescaped", hex_parse_ppp, hex("7E FF 7D 23 C0 21 7E"), {hex("7E FF 03 C0 21")}},
      {"PPP flags alone", hex_parse_ppp, hex("7E 7E 7E"), {}},
      {"PPP escape before the flag stays, nothing stale is read",
       hex_parse_ppp,
       stale_frame + hex("41 7D 7E"),
       {hex("7E 01 02 03 04"), hex("7E 41 7D")}},
      {"PPP bytes before the first flag",
       hex_parse_ppp,
       hex("01 02 7E 03 7E"),
       {hex("01 02"), hex("7E 03")}},
      {"PPP one byte before the first flag", hex_parse_ppp, hex("01 7E 7E"), {}},
      {"PPP frame cut to the buffer",
       hex_parse_ppp,
       long_frame,
       {hex("7E") + repeat(0x41, HEX_BUF_SIZE - 1)}},
      {"HDLC flags around a zero byte", hex_parse_hdlc, hex("7E 00 7E"), {hex("7E 00")}},
      {"HDLC two built frames back to back",
       hex_parse_hdlc,
       hex("7E DF FD FE 7E DF FD FE"),
       {hex("7E FF"), hex("7E FF")}},
      {"HDLC idle ones between frames",
       hex_parse_hdlc,
       hex("7E 00 7E FF FF FF 7E 00 7E"),
       {hex("7E 00"), hex("7E 00")}},
      {"HDLC flags alone", hex_parse_hdlc, hex("7E 7E 7E"), {}},
      {"HDLC abort shows the whole bytes, then nothing until a flag",
       hex_parse_hdlc,
       hex("7E 5A FF 33 33 33 7E 00 7E"),
       {hex("7E 5A"), hex("7E 00")}},
      {"HDLC bits before the first flag",
       hex_parse_hdlc,
       hex("5A 5A 7E 5A 7E"),
       {hex("5A 5A"), hex("7E 5A")}},
      {"HDLC frame cut to the buffer",
       hex_parse_hdlc,
       long_hdlc,
       {hex("7E") + repeat(0x00, HEX_BUF_SIZE - 1)}},
      {"ICNI two frames",
       hex_parse_icni,
       hex("EE 05 02 11 22 33 EE 01 00 44"),
       {hex("EE 05 02 11 22 33"), hex("EE 01 00 44")}},
      {"ICNI length 255", hex_parse_icni, icni_255, {icni_255}},
      {"ICNI bytes behind a frame are lines of their own, none lost",
       hex_parse_icni,
       hex("EE 01 00 44") + repeat(0x41, 30000) + hex("EE"),
       {hex("EE 01 00 44"), repeat(0x41, HEX_BUF_SIZE), repeat(0x41, 30000 - HEX_BUF_SIZE)}},
      {"ICNI bytes before the first sync and frames cut short",
       hex_parse_icni,
       hex("11 22 EE EE 05 EE 01 00 44 EE"),
       {hex("11 22"), hex("EE"), hex("EE 05"), hex("EE 01 00 44")}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(decode_every_split(row.decoder, row.stream), on_port(0, row.lines));
  }
}

// HDLC streams given bit by bit, each shifted to every position against the
// byte grid by a few zero bits in front.
TEST(HexFrameDecoders, HdlcBitsAtEveryOffset) {
  struct Row {
    const char *name;
    const char *stream;
    std::vector<Bytes> lines;
  };
  const Row rows[] = {
      // 12 or 15 bits between the flags: the last ones never join the flag's.
      {"trailing four bits", "01111110 10101010 1010 01111110", {hex("7E 55")}},
      {"trailing seven bits", "01111110 10101010 1010101 01111110", {hex("7E 55")}},
      {"flags sharing their zero", "01111110 1111110 01010100 01111110", {hex("7E 2A")}},
      {"inserted zeros", "01111110 111110 111110 111110 1 01111110", {hex("7E FF FF")}},
      {"an abort keeps the zero before it", "01111110 10101010 0 1111111 0 1", {hex("7E 55")}},
  };
  for (const Row &row : rows) {
    for (size_t shift = 0; shift < 8; ++shift) {
      SCOPED_TRACE(std::string(row.name) + ", shifted by " + std::to_string(shift));
      EXPECT_EQ(decode_every_split(hex_parse_hdlc, bits(std::string(shift, '0') + row.stream)),
                on_port(0, row.lines));
    }
  }
}

namespace {

struct FrameKind {
  int32_t type;
  int32_t view;
  uint8_t opening;
};
constexpr FrameKind kHdlc{HEX_FRAME_HDLC, HEX_VIEW_HDLC, 0x7E};
constexpr FrameKind kPpp{HEX_FRAME_PPP, HEX_VIEW_PPP, 0x7E};
constexpr FrameKind kIcni{HEX_FRAME_ICNI, HEX_VIEW_ICNI, 0xEE};

// ICNI has no transparency: a sync byte EE anywhere in a frame but its first
// byte restarts the frame, so its messages leave EE out.
bool carries(const FrameKind &kind, const Bytes &frame) {
  return kind.type != HEX_FRAME_ICNI ||
         std::find(frame.begin() + 1, frame.end(), 0xEE) == frame.end();
}

// Messages of 0 to 2000 bytes of every value for HDLC and PPP; for ICNI,
// whose length byte counts at most 255 bytes, 2 to 257.
Bytes random_message(const FrameKind &kind, std::mt19937 &rng) {
  if (kind.type != HEX_FRAME_ICNI) {
    const size_t pick = rng() % 8;
    return random_bytes(rng, pick == 0 ? 0 : pick == 1 ? 2000 : rng() % 2001);
  }
  return random_bytes(rng, 2 + rng() % 256);
}

// What the line of a built frame shows: the opening flag, the message and its
// check bytes, found right where the view verifies that kind of check.
Line expected_line(const FrameKind &kind, int32_t check, int port, const Bytes &message) {
  const std::string verdict = hex_frame_check_length(kind.view, check) > 0 ? " ok" : "";
  if (kind.type == HEX_FRAME_ICNI)
    return {port, build(kind.type, check, message), verdict};
  return {port, Bytes{kind.opening} + message + check_of(check, message), verdict};
}

}  // namespace

// Random messages go through the builder and back through the receive
// dispatch, both ports at once in alternating chunks of random size.
TEST(HexFrameDecoders, RandomMessagesComeBackOnTheirOwnPort) {
  for (const FrameKind &kind : {kHdlc, kPpp, kIcni}) {
    for (int32_t check = HEX_CHECK_CRC16; check <= HEX_CHECK_XOR; ++check) {
      SCOPED_TRACE("type " + std::to_string(kind.type) + " check " + std::to_string(check));
      std::mt19937 rng(uint32_t(100 * kind.type + check));
      Bytes stream[2];
      std::vector<Line> expected[2];
      for (int port : {0, 1}) {
        for (int i = 0; i < 12; ++i) {
          Bytes message = random_message(kind, rng);
          while (!carries(kind, build(kind.type, check, message)))
            message = random_message(kind, rng);
          stream[port] = stream[port] + build(kind.type, check, message);
          expected[port].push_back(expected_line(kind, check, port, message));
        }
      }
      auto records = std::make_unique<hex_obj_t[]>(2);
      records[0].icni_len = records[1].icni_len = HEX_ICNI_NO_LENGTH;
      records[0].frame_check = records[1].frame_check = check;
      LineSink sink;
      size_t at[2] = {0, 0};
      std::vector<char> buffer(3 * 300 + 1);
      while (at[0] < stream[0].size() || at[1] < stream[1].size()) {
        for (int port : {0, 1}) {
          const size_t size = std::min<size_t>(1 + rng() % 300, stream[port].size() - at[port]);
          if (size == 0)
            continue;
          std::copy_n(stream[port].begin() + long(at[port]), size, buffer.begin());
          hex_show_received(kind.view, records[port], port, kStamp, buffer.data(), int(size), sink);
          at[port] += size;
        }
      }
      std::vector<Line> got[2];
      for (const Line &line : sink.lines)
        got[line.port].push_back(line);
      EXPECT_EQ(got[0], expected[0]);
      EXPECT_EQ(got[1], expected[1]);
    }
  }
}

namespace {

// PPP's lines made from the stream alone: each flag ends the bytes since the
// one before (unescaped, an escape at the end kept) and opens the next.
std::vector<Line> ppp_lines_of(const Bytes &stream) {
  std::vector<Line> lines;
  Bytes collected;
  auto flush = [&] {
    Bytes line;
    for (size_t i = 0; i < collected.size(); ++i)
      line.push_back(collected[i] == 0x7D && i + 1 < collected.size() ? collected[++i] ^ 0x20
                                                                      : collected[i]);
    if (collected.size() >= 2)
      lines.push_back({0, line});
  };
  for (uint8_t b : stream) {
    if (b == 0x7E) {
      flush();
      collected.clear();
    }
    collected.push_back(b);
  }
  return lines;
}

// Inserts a zero behind every five ones, as a sender does.
std::string stuffed(const std::string &content) {
  std::string out;
  int ones = 0;
  for (char c : content) {
    out += c;
    ones = c == '1' ? ones + 1 : 0;
    if (ones == 5) {
      out += '0';
      ones = 0;
    }
  }
  return out;
}

}  // namespace

// One bit flipped anywhere in a frame between two others: the frames around
// it still come out whole, and every line holds received bytes only.
TEST(HexFrameDecoders, AFlippedBitAnywhere) {
  for (const FrameKind &kind : {kHdlc, kPpp}) {
    const Bytes before = hex("FF 03 7E 7D 00 01");
    const Bytes middle = hex("FF 03 C0 21 7D 5E 11");
    const Bytes after = hex("21 7E 7E 20 7D");
    const Bytes target = build(kind.type, HEX_CHECK_CRC16, middle);
    const Bytes head = build(kind.type, HEX_CHECK_CRC16, before);
    const Bytes tail = build(kind.type, HEX_CHECK_CRC16, after);
    const Decoder decoder = kind.type == HEX_FRAME_HDLC ? hex_parse_hdlc : hex_parse_ppp;
    for (size_t bit = 0; bit < 8 * target.size(); ++bit) {
      SCOPED_TRACE("type " + std::to_string(kind.type) + " bit " + std::to_string(bit));
      Bytes flipped = target;
      flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
      const Bytes stream = head + flipped + tail;
      const std::vector<Line> lines = decode_every_split(decoder, stream);
      ASSERT_GE(lines.size(), 2u);
      EXPECT_EQ(lines.front().bytes, expected_line(kind, HEX_CHECK_CRC16, 0, before).bytes);
      EXPECT_EQ(lines.back().bytes, expected_line(kind, HEX_CHECK_CRC16, 0, after).bytes);
      if (kind.type == HEX_FRAME_PPP) {
        EXPECT_EQ(lines, ppp_lines_of(stream));
        continue;
      }
      // An HDLC line is the opening flag and bits that stand, stuffed again,
      // right behind a flag in the stream.
      const std::string stream_bits = bit_string(stream);
      for (const Line &line : lines) {
        ASSERT_EQ(line.bytes.front(), 0x7E);
        const std::string content =
            stuffed(bit_string(Bytes(line.bytes.begin() + 1, line.bytes.end())));
        EXPECT_NE(stream_bits.find("1111110" + content), std::string::npos);
      }
    }
  }
}

// --- Verdicts ------------------------------------------------------------------------------

// A short frame good, with each of its bits flipped, with its CRC's bytes
// the wrong way round and too short for its check (an ICNI frame the next
// one cuts), in every view and check kind the view verifies, in every
// split: the same lines and the side's counts, one good frame. The ICNI
// length byte (2) delimits its frame, so its bits are not flipped, nor are
// those whose flip makes a sync byte.
TEST(HexFrameVerdicts, EveryBitOfAShortFrameCounts) {
  const char *const names[] = {"CRC-16", "CRC-32", "sum", "XOR"};
  for (const FrameKind &view : {kHdlc, kPpp, kIcni}) {
    const bool icni = view.type == HEX_FRAME_ICNI;
    const Bytes message = icni ? hex("01 02 11 22") : hex("FF 03 C0 21");
    const Decoder decoder = icni ? hex_parse_icni : view.type == HEX_FRAME_PPP ? hex_parse_ppp
                                                                               : hex_parse_hdlc;
    for (int32_t check = HEX_CHECK_CRC16; check <= HEX_CHECK_XOR; ++check) {
      const int check_length = hex_frame_check_length(view.view, check);
      if (check_length == 0)
        continue;
      SCOPED_TRACE(std::string(hex_view[view.view]) + " " + names[check]);
      Bytes stream;
      std::vector<Line> expected;
      auto add = [&](const Bytes &content, const std::string &verdict) {
        stream = stream + (icni ? Bytes{0xEE} + content : build(view.type, HEX_CHECK_NONE, content));
        expected.push_back({0, Bytes{view.opening} + content, verdict});
      };
      auto bad = [&](const Bytes &right) {
        char text[3 * HEX_CHECK_MAX + 1];
        hex_to_hexstr(right.data(), text, int(right.size()));
        return std::string(" BAD, ") + names[check] + " should be" + text;
      };
      add(Bytes(message.begin(), icni ? message.end() - 1 : message.begin() + check_length - 1),
          std::string(" too short for ") + names[check]);
      const Bytes right = check_of(check, message);
      add(message + right, " ok");
      for (size_t bit = 0; bit < 8 * (message.size() + right.size()); ++bit) {
        Bytes flipped = message + right;
        flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
        if (!icni || (bit / 8 != 1 && flipped[bit / 8] != 0xEE))
          add(flipped, bad(check_of(check, Bytes(flipped.begin(), flipped.begin() + 4))));
      }
      if (check_length > 1)
        add(message + Bytes(right.rbegin(), right.rend()), bad(right));

      const std::string text(stream.begin(), stream.end());
      for (const std::vector<size_t> &cuts : chunk_splits(stream.size(), true, 3)) {
        auto record = std::make_unique<hex_obj_t>();
        record->frame_check = check;
        LineSink sink;
        for_each_chunk(text, cuts, [&](char *chunk, int count) {
          decoder(*record, 0, kStamp, reinterpret_cast<const uint8_t *>(chunk), count, sink);
        });
        ASSERT_EQ(sink.lines, expected) << cuts.size() << " cuts";
        ASSERT_EQ(record->frames_good, 1u);
        ASSERT_EQ(record->frames_bad, expected.size() - 1);
      }
      if (view.type == HEX_FRAME_PPP && check == HEX_CHECK_CRC16) {
        EXPECT_EQ(expected.back().verdict, " BAD, CRC-16 should be 49 2C");
      }
    }
  }
}
