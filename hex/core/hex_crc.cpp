// The four check kinds: CRC-16 and CRC-32 of X.25 / IEEE 802.3 without their
// final inversion, the 8-bit sum and the 8-bit exclusive-or, and CheckSum's
// report of each.
#include "hex/core/hexcore.h"

#include <cstdio>

namespace {

constexpr uint16_t kCrc16Poly = 0x8408;      // x^16 + x^12 + x^5 + 1, reflected
constexpr uint32_t kCrc32Poly = 0xEDB88320;  // IEEE 802.3, reflected

// Entry i: i shifted right eight times, the polynomial folded in after each
// shift that drops a one.
constexpr std::array<uint32_t, 256> crc32_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int bit = 0; bit < 8; ++bit)
      r = (r & 1) ? (r >> 1) ^ kCrc32Poly : r >> 1;
    table[i] = r;
  }
  return table;
}

}  // namespace

const std::array<uint32_t, 256> hex_crc_32_tab = crc32_table();

// No table on purpose: the register is shifted once per data bit.
uint16_t crc16(const uint8_t *data, int32_t length) {
  if (length <= 0)
    return 0x0000;  // the complement of the start value
  uint16_t r = 0xFFFF;
  for (int32_t i = 0; i < length; ++i) {
    unsigned byte = data[i];
    for (int bit = 0; bit < 8; ++bit, byte >>= 1)
      r = ((r ^ byte) & 1) ? uint16_t((r >> 1) ^ kCrc16Poly) : uint16_t(r >> 1);
  }
  return r;
}

uint32_t hex_crc32(const uint8_t *data, int32_t length) {
  if (length <= 0)
    return 0x00000000;  // the complement of the start value
  uint32_t r = 0xFFFFFFFF;
  for (int32_t i = 0; i < length; ++i)
    r = hex_crc_32_tab[(r ^ data[i]) & 0xFF] ^ (r >> 8);
  return r;
}

uint8_t hex_sum8(const uint8_t *data, int32_t length) {
  unsigned sum = 0;
  for (int32_t i = 0; i < length; ++i)
    sum += data[i];
  return uint8_t(sum);
}

uint8_t hex_xor8(const uint8_t *data, int32_t length) {
  uint8_t x = 0;
  for (int32_t i = 0; i < length; ++i)
    x ^= data[i];
  return x;
}

int hex_check_bytes(int32_t kind, const uint8_t *message, int32_t length,
                    uint8_t check[HEX_CHECK_MAX]) {
  switch (kind) {
  case HEX_CHECK_CRC16: {
    const uint16_t value = uint16_t(~crc16(message, length));
    check[0] = uint8_t(value);
    check[1] = uint8_t(value >> 8);
    return 2;
  }
  case HEX_CHECK_CRC32: {
    const uint32_t value = ~hex_crc32(message, length);
    for (int i = 0; i < 4; ++i)
      check[i] = uint8_t(value >> (8 * i));
    return 4;
  }
  case HEX_CHECK_SUM:
    check[0] = hex_sum8(message, length);
    return 1;
  case HEX_CHECK_XOR:
    check[0] = hex_xor8(message, length);
    return 1;
  default:
    return 0;
  }
}

int hex_checksum_text(int32_t kind, const uint8_t *message, int32_t length, char *text, int size) {
  int n = 0;
  switch (kind) {
  case HEX_CHECK_CRC16: {
    const unsigned r = crc16(message, length);
    n = std::snprintf(text, size_t(size), "CRC 16 (ITU) = %04X, != %04X", r, ~r & 0xFFFFu);
    break;
  }
  case HEX_CHECK_CRC32: {
    const uint32_t r = hex_crc32(message, length);
    n = std::snprintf(text, size_t(size), "CRC 32 = %08X, != %08X", unsigned(r), unsigned(~r));
    break;
  }
  case HEX_CHECK_SUM:
    n = std::snprintf(text, size_t(size), "Arithmetic Checksum = %02X",
                      unsigned(hex_sum8(message, length)));
    break;
  case HEX_CHECK_XOR:
    n = std::snprintf(text, size_t(size), "Modulo 2 XOR Checksum = %02X",
                      unsigned(hex_xor8(message, length)));
    break;
  default:
    n = std::snprintf(text, size_t(size), "No check kind selected");
    break;
  }
  return n < size ? n : size - 1;
}
