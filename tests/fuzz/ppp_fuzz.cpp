// The PPP decoder: the same lines in any chunk split, and the lines the
// stream gives when each flag is looked for in it afresh.
#include "decoder_fuzz.h"

#include <vector>

namespace {

constexpr char kFlag = 0x7E;
constexpr char kEscape = 0x7D;
constexpr char kEscapeXor = 0x20;

// Each flag ends the frame the one before it opened. Of the frame's first
// HEX_BUF_SIZE bytes a line shows the flag and the rest unescaped, with an
// escape right before the closing flag kept as it is; two bytes make a line.
std::vector<std::string> ppp_reference(const std::string &stream) {
  std::vector<std::string> lines;
  size_t opened = 0;
  for (size_t at = 0; at <= stream.size(); ++at) {
    if (at < stream.size() && stream[at] != kFlag)
      continue;
    const std::string frame = stream.substr(opened, std::min(at - opened, size_t(HEX_BUF_SIZE)));
    if (at < stream.size() && frame.size() >= 2) {
      std::string line;
      for (size_t i = 0; i < frame.size(); ++i)
        line +=
            frame[i] == kEscape && i + 1 < frame.size() ? char(frame[++i] ^ kEscapeXor) : frame[i];
      lines.push_back(line);
    }
    opened = at;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ChunkedInput input;
  const std::vector<std::string> lines = fuzz_decoder(hex_parse_ppp, data, size, input);
  check_same_lines(lines, "decoded", ppp_reference(input.stream), "from the flags");
  return 0;
}
