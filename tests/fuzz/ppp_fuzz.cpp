// The PPP decoder: the same lines in any chunk split, and the lines the
// stream gives when each flag is looked for in it afresh.
#include "decoder_fuzz.h"

#include <vector>

namespace {

constexpr char kFlag = 0x7E;
constexpr char kEscape = 0x7D;
constexpr char kEscapeXor = 0x20;

// Each flag ends the frame the one before it opened (so the last frame is
// not ended yet). Of the frame's first HEX_BUF_SIZE bytes a line shows the
// flag and the rest unescaped, with an escape right before the closing flag
// kept as it is; two bytes make a line.
std::vector<std::string> ppp_reference(const std::string &stream) {
  std::vector<std::string> lines;
  const std::vector<std::string> frames = cut_before(stream, kFlag);
  for (size_t f = 0; f + 1 < frames.size(); ++f) {
    const std::string frame = frames[f].substr(0, size_t(HEX_BUF_SIZE));
    if (frame.size() < 2)
      continue;
    std::string line;
    for (size_t i = 0; i < frame.size(); ++i)
      line +=
          frame[i] == kEscape && i + 1 < frame.size() ? char(frame[++i] ^ kEscapeXor) : frame[i];
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return fuzz_decoder(hex_parse_ppp, ppp_reference, "from the flags", data, size);
}
