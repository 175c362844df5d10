// The HDLC decoder: the same lines in any chunk split, and the lines a plain
// reading of the stream one bit at a time gives.
#include "decoder_fuzz.h"

#include <vector>

namespace {

constexpr uint8_t kFlag = 0x7E;

// The receiver as documented, bit by bit. A one is data until a run of six
// turns out to be a flag (a zero behind it) or seven an abort; a zero behind
// five ones was inserted by the sender. A flag ends the frame without its
// own bits (its first zero too, when that zero was data); an abort ends it
// without the ones, and nothing is collected until the next flag. Frames
// after the first flag open with it; a frame keeps its whole bytes.
std::vector<std::string> hdlc_reference(const std::string &stream) {
  std::vector<std::string> lines;
  std::vector<uint8_t> content;  // one bit each
  bool opened = false;
  bool hunting = false;
  bool zero_is_data = false;  // the zero in front of the current run of ones
  int ones = 0;
  auto end_frame = [&](size_t frame_bits_collected) {
    if (!hunting) {
      content.resize(content.size() - frame_bits_collected);
      std::string line = opened ? std::string(1, char(kFlag)) : std::string();
      for (size_t at = 0; at + 8 <= content.size() && line.size() < size_t(HEX_BUF_SIZE); at += 8) {
        unsigned byte = 0;
        for (int bit = 0; bit < 8; ++bit)
          byte |= unsigned(content[at + size_t(bit)]) << bit;
        line += char(byte);
      }
      if (line.size() >= 2)
        lines.push_back(line);
    }
    content.clear();
  };
  for (const char c : stream) {
    for (int bit = 0; bit < 8; ++bit) {
      if ((uint8_t(c) >> bit) & 1u) {
        ++ones;
        if (ones == 7) {
          end_frame(6);
          hunting = true;
        } else if (ones < 7 && !hunting) {
          content.push_back(1);
        }
        continue;
      }
      if (ones == 6) {
        end_frame(zero_is_data ? 7 : 6);
        hunting = false;
        opened = true;
      } else if (ones < 5 && !hunting) {
        content.push_back(0);
      }
      zero_is_data = ones < 5 && !hunting;
      ones = 0;
    }
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return fuzz_decoder(hex_parse_hdlc, hdlc_reference, "read bit by bit", data, size);
}
