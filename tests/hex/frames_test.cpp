// Checks and the frame builder of the pure core: check values and
// residues, and the frames of known messages.
#include "hex/core/hexcore.h"

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
