// The frame builder, then the receive dispatch of the frame's view: a
// message the format carries comes back as the line of its frame, once per
// frame when two are sent back to back. ICNI carries a message of 2 to 257
// bytes (its length byte counts the bytes behind it, at most 255) in a frame
// with no sync byte EE but the first (nothing is stuffed: EE restarts a
// frame). With no check kind chosen its line is as long as its length byte
// counts with one check byte; the others of a CRC follow as a line of their
// own when the next frame begins. Of any other ICNI frame, each line is
// bytes that were sent.
//
// The input: byte 0, bits 0-2 the frame type plus one (so -1 to 6), bit 3
// two frames, bits 4-7 the port; byte 1, bits 0-2 the check kind plus one;
// the rest is the message.
#include "decoder_fuzz.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FrameView {
  int32_t type;
  int32_t view;
  char opening;
};
constexpr FrameView kViews[] = {{HEX_FRAME_HDLC, HEX_VIEW_HDLC, 0x7E},
                                {HEX_FRAME_PPP, HEX_VIEW_PPP, 0x7E},
                                {HEX_FRAME_ICNI, HEX_VIEW_ICNI, char(0xEE)}};

constexpr size_t kIcniOverhead = 4;
constexpr size_t kIcniLongestMessage = 255 + 2;

std::vector<std::string> received(const FrameView &kind, int port, const std::string &stream) {
  auto record = std::make_unique<hex_obj_t>();
  record->icni_len = HEX_ICNI_NO_LENGTH;
  FrameLineSink sink(port);
  ChunkBuffer buffer(stream.data(), stream.size(), stream.size() + 1);
  hex_show_received(kind.view, *record, port, kFuzzStamp, buffer.data(), int(stream.size()), sink);
  check_record(*record);
  return sink.lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2)
    return 0;
  const int32_t type = int32_t(data[0] & 7u) - 1;
  const bool twice = (data[0] & 8u) != 0;
  const int port = data[0] >> 4;
  const int32_t kind = int32_t(data[1] & 7u) - 1;
  const std::string message(reinterpret_cast<const char *>(data + 2),
                            std::min(size - 2, size_t(HEX_BUF_SIZE)));
  const auto *message_bytes = reinterpret_cast<const uint8_t *>(message.data());
  const int length = int(message.size());

  std::unique_ptr<uint8_t[]> frame_bytes(new uint8_t[HEX_FRAME_MAX]);
  const int built = hex_build_frame(type, kind, message_bytes, length, frame_bytes.get());
  FUZZ_CHECK(built >= 0 && built <= HEX_FRAME_MAX, std::to_string(built));
  const FrameView *kind_view = nullptr;
  for (const FrameView &view : kViews)
    if (view.type == type)
      kind_view = &view;
  const bool checked = kind >= HEX_CHECK_CRC16 && kind <= HEX_CHECK_XOR;
  if (!kind_view || (type == HEX_FRAME_ICNI && !checked)) {
    FUZZ_CHECK(built == 0, "a frame of type " + std::to_string(type));
    return 0;
  }
  const std::string frame(reinterpret_cast<const char *>(frame_bytes.get()), size_t(built));
  FUZZ_CHECK(built > 0 && frame[0] == kind_view->opening, "frame" + fuzz_hex(frame));
  const std::vector<std::string> lines = received(*kind_view, port, twice ? frame + frame : frame);

  // What the frame carries: the opening, the message (an ICNI message with
  // its length byte set) and its check bytes.
  std::string sent = message;
  if (type == HEX_FRAME_ICNI && sent.size() >= 2)
    sent[1] = char(sent.size() - 2);
  uint8_t check[HEX_CHECK_MAX];
  const int checks = hex_check_bytes(kind, reinterpret_cast<const uint8_t *>(sent.data()),
                                     int32_t(sent.size()), check);
  const std::string carried =
      kind_view->opening + sent + std::string(reinterpret_cast<char *>(check), size_t(checks));
  // A message followed by its CRC leaves the CRC's residue (the empty
  // message has no CRC: its check bytes are all ones).
  const auto *body = reinterpret_cast<const uint8_t *>(carried.data() + 1);
  const auto body_length = int32_t(carried.size() - 1);
  const bool crc16_kept = kind != HEX_CHECK_CRC16 || crc16(body, body_length) == 0xF0B8;
  const bool crc32_kept = kind != HEX_CHECK_CRC32 || hex_crc32(body, body_length) == 0xDEBB20E3u;
  FUZZ_CHECK(sent.empty() || (crc16_kept && crc32_kept), "no CRC residue" + fuzz_hex(carried));

  std::string line = carried.substr(0, size_t(HEX_BUF_SIZE));  // the line of one frame
  std::string behind;  // ICNI: check bytes beyond the counted length
  if (type == HEX_FRAME_ICNI) {
    if (sent.size() < 2 || sent.size() > kIcniLongestMessage ||
        carried.find(char(0xEE), 1) != std::string::npos) {
      const std::string stream = twice ? frame + frame : frame;
      for (const std::string &shown : lines)
        FUZZ_CHECK(stream.find(shown) != std::string::npos, "not sent:" + fuzz_hex(shown));
      return 0;
    }
    line = carried.substr(0, uint8_t(sent[1]) + kIcniOverhead);
    behind = carried.substr(line.size());
  }
  std::vector<std::string> expected;
  for (int frames = twice ? 2 : 1; frames > 0; --frames) {
    if (line.size() >= 2)
      expected.push_back(line);
    if (!behind.empty() && frames == 2)
      expected.push_back(behind);  // shown when the next frame's sync byte comes
  }
  check_same_lines(lines, "received", expected, "sent");
  return 0;
}
