// The hex text form: " %02X" per byte out, one or two adjacent hex digits
// per byte in.
#include "hex/core/hexcore.h"

#include <cstdio>
#include <cstring>

namespace {

// Private copy so callers can convert a buffer in place.
uint8_t g_source_copy[HEX_BUF_SIZE];

}  // namespace

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

int hex_to_hexstr(const void *source, char *destination, int count) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (count > HEX_BUF_SIZE)
    count = HEX_BUF_SIZE;
  if (count < 0)
    count = 0;
  std::memcpy(g_source_copy, source, size_t(count));
  char *out = destination;
  for (int i = 0; i < count; ++i) {
    *out++ = ' ';
    *out++ = kDigits[g_source_copy[i] >> 4];
    *out++ = kDigits[g_source_copy[i] & 0x0F];
  }
  *out = '\0';
  return int(out - destination);
}

int hex_hexstr_to_bin(const char *text, uint8_t *destination, int capacity) {
  int stored = 0;
  const char *p = text;
  while (*p && stored < capacity) {
    int high = hex_digit_value(*p);
    if (high < 0) {
      ++p;  // separators and stray characters are passed over
      continue;
    }
    ++p;
    int value = high;
    int low = hex_digit_value(*p);
    if (low >= 0) {
      value = high << 4 | low;
      ++p;
    }
    destination[stored++] = uint8_t(value);
  }
  return stored;
}

int hex_hex_form_check(const char *text, char *why, int size) {
  for (int at = 0; text[at]; ++at) {
    const char c = text[at];
    if (c == ' ' || c == '\t' || hex_digit_value(c) >= 0)
      continue;
    const unsigned char byte = static_cast<unsigned char>(c);
    char shown[8];
    if (byte > 0x20 && byte < 0x7F)
      std::snprintf(shown, sizeof shown, "'%c'", c);
    else
      std::snprintf(shown, sizeof shown, "0x%02X", byte);
    std::snprintf(why, size_t(size), "%s at column %d is not a hex digit", shown, at + 1);
    return at;
  }
  if (size > 0)
    why[0] = '\0';
  return -1;
}
