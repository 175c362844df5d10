// The ICNI decoder: the same lines in any chunk split, and the lines the
// stream gives when it is cut at each sync byte.
#include "decoder_fuzz.h"

#include <algorithm>
#include <vector>

namespace {

constexpr char kSync = char(0xEE);
constexpr size_t kLengthAt = 2;
constexpr size_t kOverhead = 4;  // sync, one byte, the length byte, the check byte
constexpr size_t kLongest = 255 + kOverhead;

// Each sync byte starts a frame that runs up to the next (the bytes before
// the first are one too). A frame's line is as long as its length byte says;
// where the frame goes on to the length of the longest frame, those bytes
// are one more line.
std::vector<std::string> icni_reference(const std::string &stream) {
  std::vector<std::string> lines;
  for (const std::string &whole : cut_before(stream, kSync)) {
    const std::string frame = whole.substr(0, kLongest);
    if (frame.size() <= kLengthAt)
      continue;
    const size_t length = uint8_t(frame[kLengthAt]) + kOverhead;
    if (frame.size() >= length)
      lines.push_back(frame.substr(0, length));
    if (length < kLongest && frame.size() == kLongest)
      lines.push_back(frame);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return fuzz_decoder(hex_parse_icni, icni_reference, "cut at the syncs", data, size);
}
