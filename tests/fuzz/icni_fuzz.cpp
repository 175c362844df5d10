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
  for (size_t start = 0; start < stream.size();) {
    const size_t next = std::min(stream.find(kSync, start + 1), stream.size());
    const std::string frame = stream.substr(start, std::min(next - start, kLongest));
    if (frame.size() > kLengthAt) {
      const size_t length = uint8_t(frame[kLengthAt]) + kOverhead;
      if (frame.size() >= length)
        lines.push_back(frame.substr(0, length));
      if (length < kLongest && frame.size() == kLongest)
        lines.push_back(frame);
    }
    start = next;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ChunkedInput input;
  const std::vector<std::string> lines = fuzz_decoder(hex_parse_icni, data, size, input);
  check_same_lines(lines, "decoded", icni_reference(input.stream), "cut at the syncs");
  return 0;
}
