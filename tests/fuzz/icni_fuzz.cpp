// The ICNI decoder: the same lines in any chunk split, and the lines the
// stream gives when it is cut at each sync byte.
#include "decoder_fuzz.h"

#include <algorithm>
#include <vector>

namespace {

constexpr char kSync = char(0xEE);
constexpr size_t kLengthAt = 2;
constexpr size_t kOverhead = 4;  // sync, one byte, the length byte, the check byte

// Each sync byte starts a frame that runs up to the next; its line is as
// long as its length byte says, or all of it where the next sync comes
// first. The bytes behind a frame (or before the first) are lines of their
// own, of at most HEX_BUF_SIZE bytes. A line is shown once the byte after it
// has come.
std::vector<std::string> icni_reference(const std::string &stream) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (const std::string &piece : cut_before(stream, kSync)) {
    const bool last = start + piece.size() == stream.size();
    start += piece.size();
    size_t at = 0;
    if (piece[0] == kSync) {
      const size_t length =
          piece.size() > kLengthAt ? uint8_t(piece[kLengthAt]) + kOverhead : piece.size() + 1;
      if (piece.size() < length && last)
        continue;  // it waits for its bytes
      at = std::min(length, piece.size());
      lines.push_back(piece.substr(0, at));
    }
    for (; at < piece.size(); at += size_t(HEX_BUF_SIZE)) {
      const std::string part = piece.substr(at, size_t(HEX_BUF_SIZE));
      if (!last || at + part.size() < piece.size())
        lines.push_back(part);
    }
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return fuzz_decoder(hex_parse_icni, icni_reference, "cut at the syncs", data, size);
}
