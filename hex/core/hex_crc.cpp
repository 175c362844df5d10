// The four check kinds: CRC-16 and CRC-32 of X.25 / IEEE 802.3 without their
// final inversion, the 8-bit sum and the 8-bit exclusive-or, and CheckSum's
// report of each.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

int hex_frame_check_length(int32_t view, int32_t check) {
  const bool crc_only = view == HEX_VIEW_HDLC || view == HEX_VIEW_PPP;
  if (!crc_only && view != HEX_VIEW_ICNI)
    return 0;
  switch (check) {
  case HEX_CHECK_CRC16:
    return 2;
  case HEX_CHECK_CRC32:
    return 4;
  case HEX_CHECK_SUM:
  case HEX_CHECK_XOR:
    return crc_only ? 0 : 1;
  default:
    return 0;
  }
}

HexVerdict hex_verify(int32_t check, int check_length, const uint8_t *content, int length) {
  HexVerdict verdict;
  if (check_length <= 0)
    return verdict;
  verdict.check = check;
  verdict.check_length = check_length;
  if (length < check_length) {
    verdict.kind = HEX_VERDICT_SHORT;
    return verdict;
  }
  const int message = length - check_length;
  hex_check_bytes(check, content, message, verdict.expected);
  verdict.kind = std::memcmp(verdict.expected, content + message, size_t(check_length)) == 0
                     ? HEX_VERDICT_OK
                     : HEX_VERDICT_BAD;
  return verdict;
}

int hex_verdict_text(const HexVerdict &verdict, char *out) {
  static const char *const kNames[] = {"CRC-16", "CRC-32", "sum", "XOR"};
  const char *name =
      verdict.check >= HEX_CHECK_CRC16 && verdict.check <= HEX_CHECK_XOR ? kNames[verdict.check] : "?";
  int n = 0;
  switch (verdict.kind) {
  case HEX_VERDICT_OK:
    n = std::snprintf(out, HEX_VERDICT_TEXT_MAX, " ok");
    break;
  case HEX_VERDICT_BAD: {
    char expected[3 * HEX_CHECK_MAX + 1];
    hex_to_hexstr(verdict.expected, expected, std::clamp(verdict.check_length, 0, HEX_CHECK_MAX));
    n = std::snprintf(out, HEX_VERDICT_TEXT_MAX, " BAD, %s should be%s", name, expected);
    break;
  }
  case HEX_VERDICT_SHORT:
    n = std::snprintf(out, HEX_VERDICT_TEXT_MAX, " too short for %s", name);
    break;
  default:
    out[0] = '\0';
    break;
  }
  return std::clamp(n, 0, HEX_VERDICT_TEXT_MAX - 1);
}
