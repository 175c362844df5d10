// Frame decoders of the HDLC, PPP and ICNI views. Each keeps the frame under
// way in the record of the side that receives it, so both directions of a
// link are delimited apart, and each line names the port its bytes came
// from.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;
constexpr uint8_t kIcniSync = 0xEE;
constexpr int kIcniLengthAt = 2;  // position of the ICNI length byte
constexpr int kLineMinBytes = 2;  // an opening flag alone is no frame
constexpr int kFlagOnes = 6;      // 0 111111 0
constexpr int kStuffedAfterOnes = 5;
constexpr int kAbortOnes = 7;

// The text of one frame: its header, three characters per byte, its verdict.
char g_line[HEX_HEAD_MAX + 3 * HEX_BUF_SIZE + HEX_VERDICT_TEXT_MAX];

// What a line's verdict is made of.
enum class Check {
  None,    // bytes before any frame began: nothing to verify
  Verify,  // a whole frame
  Cut,     // a frame the next one cut short
};

// One line: the bytes behind the head, then the verdict (a failed one in
// its own colour), counted on the side; then the frame itself.
void emit(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
          Check check, int check_length, HexSink &sink) {
  int length = std::clamp(sink.frame_head(port, stamp, g_line), 0, HEX_HEAD_MAX - 1);
  length += hex_to_hexstr(bytes, g_line + length, count);
  const int opening = check == Check::None ? 0 : 1;
  HexVerdict verdict;
  if (check == Check::Verify) {
    verdict = hex_verify(record.frame_check, check_length, bytes + 1, count - 1);
  } else if (check == Check::Cut && check_length > 0) {
    verdict.kind = HEX_VERDICT_SHORT;
    verdict.check = record.frame_check;
    verdict.check_length = check_length;
  }
  char text[HEX_VERDICT_TEXT_MAX];
  const int text_length = hex_verdict_text(verdict, text);
  if (verdict.kind == HEX_VERDICT_OK) {
    ++record.frames_good;
    std::memcpy(g_line + length, text, size_t(text_length));
    sink.show(port, g_line, length + text_length);
  } else {
    sink.show(port, g_line, length);
    if (verdict.kind != HEX_VERDICT_NONE) {
      ++record.frames_bad;
      sink.show_alert(port, text, text_length);
    }
  }
  sink.frame(port, bytes + opening, count - opening, verdict);
}

// Bytes beyond the buffer are dropped until the frame restarts.
inline void append(hex_obj_t &record, int32_t &length, uint8_t byte) {
  if (length < HEX_BUF_SIZE)
    record.frame_buf[length++] = byte;
}

// The runs of one bits in a byte, its bits taken least significant first.
struct OneRuns {
  uint8_t leading;    // ones before its first zero
  uint8_t longest;    // its longest run of ones
  uint8_t last_zero;  // position of its last zero (8: none)
};

constexpr std::array<OneRuns, 256> one_runs() {
  std::array<OneRuns, 256> table{};
  for (unsigned value = 0; value < 256; ++value) {
    OneRuns runs{0, 0, 8};
    int run = 0;
    bool zero_seen = false;
    for (int bit = 0; bit < 8; ++bit) {
      if (value >> bit & 1u) {
        ++run;
        if (!zero_seen)
          ++runs.leading;
      } else {
        run = 0;
        zero_seen = true;
        runs.last_zero = uint8_t(bit);
      }
      if (run > runs.longest)
        runs.longest = uint8_t(run);
    }
    table[value] = runs;
  }
  return table;
}

constexpr std::array<OneRuns, 256> kOneRuns = one_runs();

// An HDLC bit stream. A zero bit and the ones after it are held back until
// the next zero tells what they were: data, an inserted zero behind five
// ones, or a flag (0 111111 0), whose bits must never complete a byte of a
// line. Seven ones abort the frame. Collected bits fill hdlc_byte from its
// least significant bit.
class HdlcReceiver {
public:
  HdlcReceiver(hex_obj_t &record, int port, uint16_t stamp, HexSink &sink)
      : r_(record),
        port_(port),
        stamp_(stamp),
        sink_(sink),
        length_(record.frame_len),
        bits_(record.hdlc_bits),
        byte_(record.hdlc_byte),
        ones_(record.hdlc_ones),
        zero_(record.hdlc_zero != 0),
        hunt_(record.hdlc_hunt != 0),
        opened_(record.hdlc_opened != 0),
        check_length_(hex_frame_check_length(HEX_VIEW_HDLC, record.frame_check)) {}

  ~HdlcReceiver() {
    r_.frame_len = length_;
    r_.hdlc_bits = bits_;
    r_.hdlc_byte = uint8_t(byte_);
    r_.hdlc_ones = ones_;
    r_.hdlc_zero = zero_ ? 1 : 0;
    r_.hdlc_hunt = hunt_ ? 1 : 0;
    r_.hdlc_opened = opened_ ? 1 : 0;
  }

  void byte(unsigned value) {
    if (plain_byte(value))
      return;
    for (int bit = 0; bit < 8; ++bit, value >>= 1) {
      if (value & 1u)
        one();
      else
        zero();
    }
  }

private:
  // A byte that can hold no flag, abort or inserted zero goes in at once:
  // the held-back bits and its bits before its last zero are data; that zero
  // and the ones behind it are held back in turn.
  bool plain_byte(unsigned value) {
    const OneRuns runs = kOneRuns[value];
    if (hunt_ || runs.longest >= kStuffedAfterOnes || ones_ + runs.leading >= kStuffedAfterOnes)
      return false;
    collect_held();
    collect(value & ((1u << runs.last_zero) - 1), runs.last_zero);
    zero_ = true;
    ones_ = 7 - runs.last_zero;
    return true;
  }

  void one() {
    if (ones_ >= kAbortOnes)
      return;  // the abort (or the idle line) goes on
    if (++ones_ == kAbortOnes) {
      // No flag: the held-back zero was data; the ones were never sent as such.
      collect(0, zero_ ? 1 : 0);
      end_frame();
      hunt_ = true;
    }
  }

  void zero() {
    if (ones_ == kFlagOnes) {
      end_frame();
      hunt_ = false;
      append(r_, length_, kFlag);
      opened_ = true;
      ones_ = 0;
      zero_ = false;
      return;
    }
    if (ones_ >= kAbortOnes) {
      ones_ = 0;
      zero_ = true;
      return;
    }
    // Data: the held-back zero and ones. Behind five ones this zero was
    // inserted by the sender; otherwise it is held back in turn.
    const bool inserted = ones_ == kStuffedAfterOnes;
    collect_held();
    zero_ = !inserted;
  }

  void collect_held() {
    const int zero = zero_ ? 1 : 0;
    collect(((1u << ones_) - 1) << zero, zero + ones_);
    ones_ = 0;
  }

  // The first `count` (at most 12) bits of `bits`, lowest first.
  void collect(unsigned bits, int count) {
    if (hunt_)
      return;
    byte_ |= bits << bits_;
    bits_ += count;
    while (bits_ >= 8) {
      append(r_, length_, uint8_t(byte_));
      byte_ >>= 8;
      bits_ -= 8;
    }
  }

  // A frame that holds a byte beyond its flag is shown; a part of a byte and
  // every held-back bit are dropped.
  void end_frame() {
    if (!hunt_ && length_ >= kLineMinBytes)
      emit(r_, port_, stamp_, r_.frame_buf, length_, opened_ ? Check::Verify : Check::None,
           check_length_, sink_);
    length_ = 0;
    opened_ = false;
    bits_ = 0;
    byte_ = 0;
    zero_ = false;
  }

  hex_obj_t &r_;
  int port_;
  uint16_t stamp_;
  HexSink &sink_;
  int32_t length_;
  int32_t bits_;
  unsigned byte_;
  int32_t ones_;
  bool zero_;
  bool hunt_;
  bool opened_;  // the frame under way began with a flag
  int check_length_;
};

// Unescapes the collected bytes in place (the copy is never longer); an
// escape with nothing behind it stays as it came. Returns the new length.
int ppp_unescape(uint8_t *bytes, int length) {
  int out = 0;
  for (int i = 0; i < length; ++i) {
    if (bytes[i] == kEscape && i + 1 < length)
      bytes[out++] = bytes[++i] ^ kEscapeXor;
    else
      bytes[out++] = bytes[i];
  }
  return out;
}

}  // namespace

void hex_parse_hdlc(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                    HexSink &sink) {
  HdlcReceiver receiver(record, port, stamp, sink);
  for (int i = 0; i < count; ++i)
    receiver.byte(bytes[i]);
}

void hex_frames_reset(hex_obj_t &record) {
  record.frame_len = 0;
  record.icni_len = HEX_ICNI_NO_LENGTH;
  record.hdlc_bits = 0;
  record.hdlc_byte = 0;
  record.hdlc_ones = 0;
  record.hdlc_zero = 0;
  record.hdlc_hunt = 0;
  record.hdlc_opened = 0;
}

void hex_parse_ppp(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                   HexSink &sink) {
  const int check_length = hex_frame_check_length(HEX_VIEW_PPP, record.frame_check);
  int32_t length = record.frame_len;
  for (int i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == kFlag) {
      // Only a flag is 7E: the bytes before the first one have none.
      const Check check = record.frame_buf[0] == kFlag ? Check::Verify : Check::None;
      if (length >= kLineMinBytes)
        emit(record, port, stamp, record.frame_buf, ppp_unescape(record.frame_buf, length), check,
             check_length, sink);
      length = 0;
    }
    append(record, length, b);  // a flag opens the next frame
  }
  record.frame_len = length;
}

void hex_parse_icni(hex_obj_t &record, int port, uint16_t stamp, const uint8_t *bytes, int count,
                    HexSink &sink) {
  const int check_length = hex_frame_check_length(HEX_VIEW_ICNI, record.frame_check);
  // Sync, one byte, the length byte and the check (one byte without a kind)
  // around the L bytes the length byte counts.
  const int overhead = kIcniLengthAt + 1 + (check_length > 0 ? check_length : 1);
  uint8_t *frame = record.frame_buf;
  int32_t length = record.frame_len;
  for (int i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    // Only a frame starts with the sync byte: bytes behind one never do.
    const bool in_frame = length > 0 && frame[0] == kIcniSync;
    if (b == kIcniSync || length == HEX_BUF_SIZE) {
      if (length > 0)
        emit(record, port, stamp, frame, length, in_frame ? Check::Cut : Check::None, check_length,
             sink);
      length = 0;
      record.icni_len = HEX_ICNI_NO_LENGTH;
    }
    frame[length++] = b;
    if (frame[0] != kIcniSync || length <= kIcniLengthAt)
      continue;
    if (length == kIcniLengthAt + 1)
      record.icni_len = b;
    if (length == frame[kIcniLengthAt] + overhead) {
      emit(record, port, stamp, frame, length, Check::Verify, check_length, sink);
      length = 0;
      record.icni_len = HEX_ICNI_NO_LENGTH;
    }
  }
  record.frame_len = length;
}
