// The frame builder: a message and its check bytes wrapped as an HDLC, PPP
// or ICNI frame, in the formats the decoders delimit.
#include "hex/core/hexcore.h"

#include <cstring>

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;
constexpr uint8_t kIcniSync = 0xEE;
constexpr int kOnesBeforeStuffing = 5;

// Packs bits into bytes, each bit entering at bit 7 as the byte shifts right,
// so the first bit of a byte ends up as its least significant.
class BitPacker {
public:
  explicit BitPacker(uint8_t *out) : out_(out) {}
  void put(unsigned bit) {
    byte_ = uint8_t(byte_ >> 1 | bit << 7);
    if (++bits_ == 8) {
      out_[length_++] = byte_;
      bits_ = 0;
      byte_ = 0;
    }
  }
  // Bits of a byte, least significant first, a zero after every five ones.
  void put_stuffed(uint8_t value) {
    for (int i = 0; i < 8; ++i, value >>= 1) {
      const unsigned bit = value & 1u;
      put(bit);
      ones_ = bit ? ones_ + 1 : 0;
      if (ones_ == kOnesBeforeStuffing) {
        put(0);
        ones_ = 0;
      }
    }
  }
  void put_plain(uint8_t value) {
    for (int i = 0; i < 8; ++i, value >>= 1)
      put(value & 1u);
  }
  // One bits up to the next byte boundary.
  void fill() {
    while (bits_ != 0)
      put(1);
  }
  int length() const { return length_; }

private:
  uint8_t *out_;
  int length_ = 0;
  uint8_t byte_ = 0;
  int bits_ = 0;
  int ones_ = 0;
};

int build_hdlc(const uint8_t *message, int length, const uint8_t *check, int checks,
               uint8_t *frame) {
  frame[0] = kFlag;
  BitPacker packer(frame + 1);
  for (int i = 0; i < length; ++i)
    packer.put_stuffed(message[i]);
  for (int i = 0; i < checks; ++i)
    packer.put_stuffed(check[i]);
  packer.put_plain(kFlag);
  packer.fill();
  return 1 + packer.length();
}

uint8_t *put_ppp_escaped(uint8_t *out, const uint8_t *bytes, int count) {
  for (int i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == kEscape || b == kFlag || b < 0x20) {
      *out++ = kEscape;
      *out++ = b ^ kEscapeXor;
    } else {
      *out++ = b;
    }
  }
  return out;
}

int build_ppp(const uint8_t *message, int length, const uint8_t *check, int checks,
              uint8_t *frame) {
  uint8_t *out = frame;
  *out++ = kFlag;
  out = put_ppp_escaped(out, message, length);
  out = put_ppp_escaped(out, check, checks);
  *out++ = kFlag;
  return int(out - frame);
}

// The check covers the message with its length byte already set.
int build_icni(int32_t kind, const uint8_t *message, int length, uint8_t *frame) {
  frame[0] = kIcniSync;
  uint8_t *body = frame + 1;
  std::memcpy(body, message, size_t(length));
  if (length >= 2)
    body[1] = uint8_t(length - 2);
  const int checks = hex_check_bytes(kind, body, length, body + length);
  return checks == 0 ? 0 : 1 + length + checks;
}

}  // namespace

int hex_build_frame(int32_t type, int32_t kind, const uint8_t *message, int length,
                    uint8_t *frame) {
  uint8_t check[HEX_CHECK_MAX];
  switch (type) {
  case HEX_FRAME_HDLC:
    return build_hdlc(message, length, check, hex_check_bytes(kind, message, length, check), frame);
  case HEX_FRAME_PPP:
    return build_ppp(message, length, check, hex_check_bytes(kind, message, length, check), frame);
  case HEX_FRAME_ICNI:
    return build_icni(kind, message, length, frame);
  default:
    return 0;
  }
}
