// Hex text. Bytes to text and back is the identity, into a separate buffer
// and in place as the Hexadecimal view converts. Any text read as hex gives
// the values a plain reading finds (each run of digits in pairs, a last lone
// digit a value of its own), never more than the capacity allows.
//
// The input is the bytes; read as text, its first byte names the capacity
// (255: the monitor's buffer) and the rest, up to a NUL, is the text.
#include "fuzz_support.h"
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

int hex_value(char c) {
  static const std::string kDigits = "0123456789abcdefABCDEF";
  const size_t at = kDigits.find(c);
  return at == std::string::npos ? -1 : at < 16 ? int(at) : int(at) - 6;
}

std::string plain_reading(const char *text) {
  std::string values;
  for (const char *p = text; *p;) {
    const char *run = p;
    while (hex_value(*p) >= 0)
      ++p;
    for (const char *digit = run; digit < p; digit += 2)
      values += char(digit + 1 < p ? hex_value(digit[0]) << 4 | hex_value(digit[1])
                                   : hex_value(digit[0]));
    if (*p)
      ++p;
  }
  return values;
}

class TextSink final : public HexSink {
public:
  void show(int, const char *text, int length) override { shown.append(text, size_t(length)); }
  std::string shown;
};

void bytes_to_text_and_back(const uint8_t *data, int count) {
  std::unique_ptr<char[]> text(new char[size_t(3 * count + 1)]);
  const int length = hex_to_hexstr(data, text.get(), count);
  FUZZ_CHECK(length == 3 * count && text[size_t(length)] == '\0', std::to_string(length));
  for (int i = 0; i < count; ++i) {
    char expected[4];
    std::snprintf(expected, sizeof expected, " %02X", data[i]);
    FUZZ_CHECK(std::memcmp(text.get() + 3 * i, expected, 3) == 0, "byte " + std::to_string(i));
  }
  std::unique_ptr<uint8_t[]> back(new uint8_t[size_t(count)]);
  const int read = hex_hexstr_to_bin(text.get(), back.get(), count);
  FUZZ_CHECK(read == count && std::memcmp(back.get(), data, size_t(count)) == 0,
             "read back " + std::to_string(read) + " bytes:" + fuzz_hex(back.get(), size_t(read)));

  if (count == 0)
    return;  // the pump converts no empty chunk
  hex_obj_t record{};
  TextSink sink;
  ChunkBuffer in_place(reinterpret_cast<const char *>(data), size_t(count), size_t(length) + 1);
  hex_show_received(HEX_VIEW_HEXADECIMAL, record, 0, 0, in_place.data(), count, sink);
  FUZZ_CHECK(sink.shown == text.get(), "in place:" + fuzz_hex(sink.shown));
}

void text_to_bytes(const uint8_t *data, size_t size) {
  const int capacity = data[0] == 0xFF ? HEX_BUF_SIZE : data[0];
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  const std::string plain = plain_reading(text.c_str());
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size_t(capacity)]);
  const int read = hex_hexstr_to_bin(text.c_str(), bytes.get(), capacity);
  const size_t expected = std::min(plain.size(), size_t(capacity));
  FUZZ_CHECK(read >= 0 && size_t(read) == expected &&
                 std::memcmp(bytes.get(), plain.data(), expected) == 0,
             "read" + fuzz_hex(bytes.get(), size_t(std::max(read, 0))) + "; plainly" +
                 fuzz_hex(plain.data(), expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  bytes_to_text_and_back(data, int(std::min(size, size_t(HEX_BUF_SIZE))));
  if (size > 0)
    text_to_bytes(data, size);
  return 0;
}
