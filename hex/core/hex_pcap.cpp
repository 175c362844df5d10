// pcapng blocks (the format's section header, interface description and
// enhanced packet blocks) for the session's capture file, in the writer's
// byte order, which the section header's magic tells the reader.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterface = 1;
constexpr uint32_t kPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kComment = 1;
constexpr uint16_t kApplication = 4;  // shb_userappl
constexpr uint16_t kName = 2;         // if_name
constexpr uint16_t kTimeResolution = 9;
constexpr uint16_t kFlags = 2;        // epb_flags
constexpr uint8_t kNanoseconds = 9;   // 10^-9 s
constexpr uint32_t kInbound = 1;      // epb_flags direction bits

constexpr int kSerialHeader = 12;

template <typename T>
void put(std::string &out, T value) {
  out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void pad(std::string &out) { out.append((4 - out.size() % 4) % 4, '\0'); }

void option(std::string &out, uint16_t code, const void *value, size_t length) {
  put(out, code);
  put(out, uint16_t(length));
  out.append(static_cast<const char *>(value), length);
  pad(out);
}

void option_text(std::string &out, uint16_t code, const char *text) {
  option(out, code, text, std::min<size_t>(std::strlen(text), 0xFFF0));
}

// Opens a block of `type` in `out` (already 4-byte aligned); close_block
// sets its length front and back.
size_t open_block(std::string &out, uint32_t type) {
  const size_t start = out.size();
  put(out, type);
  put(out, uint32_t(0));
  return start;
}

void close_block(std::string &out, size_t start) {
  put(out, kOptionEnd);
  put(out, uint16_t(0));
  const uint32_t length = uint32_t(out.size() - start + 4);
  put(out, length);
  std::memcpy(out.data() + start + 4, &length, sizeof length);
}

void put_be32(uint8_t *at, uint32_t value) {
  at[0] = uint8_t(value >> 24);
  at[1] = uint8_t(value >> 16);
  at[2] = uint8_t(value >> 8);
  at[3] = uint8_t(value);
}

}  // namespace

HexPcapWriter::HexPcapWriter(const char *application) {
  std::fill(&interfaces_[0][0], &interfaces_[0][0] + 2 * HEX_PORTS, -1);
  const size_t start = open_block(out_, kSectionHeader);
  put(out_, kByteOrderMagic);
  put(out_, uint16_t(1));  // version 1.0
  put(out_, uint16_t(0));
  put(out_, int64_t(-1));  // section length not given
  option_text(out_, kApplication, application);
  close_block(out_, start);
}

uint32_t HexPcapWriter::interface(int port, const char *device, uint16_t link) {
  port = std::clamp(port, 0, HEX_PORTS - 1);
  int32_t &number = interfaces_[port][link == HEX_PCAP_LINK_PPP ? 0 : 1];
  if (number >= 0)
    return uint32_t(number);
  number = int32_t(described_++);
  const size_t start = open_block(out_, kInterface);
  put(out_, link);
  put(out_, uint16_t(0));
  put(out_, uint32_t(0));  // no length limit
  std::string name = hex_portnames[port];
  if (device && *device)
    name = name + " (" + device + ")";
  option_text(out_, kName, name.c_str());
  option(out_, kTimeResolution, &kNanoseconds, 1);
  close_block(out_, start);
  return uint32_t(number);
}

void HexPcapWriter::packet(uint32_t interface, uint64_t ns, const uint8_t *head, int head_length,
                           const uint8_t *bytes, int count, uint32_t flags, const char *comment) {
  const size_t start = open_block(out_, kPacket);
  const uint32_t length = uint32_t(head_length + std::max(count, 0));
  put(out_, interface);
  put(out_, uint32_t(ns >> 32));
  put(out_, uint32_t(ns));
  put(out_, length);
  put(out_, length);
  out_.append(reinterpret_cast<const char *>(head), size_t(head_length));
  if (count > 0)
    out_.append(reinterpret_cast<const char *>(bytes), size_t(count));
  pad(out_);
  if (comment)
    option_text(out_, kComment, comment);
  option(out_, kFlags, &flags, sizeof flags);
  close_block(out_, start);
}

void HexPcapWriter::ppp(int side, int port, const char *device, uint64_t ns, const uint8_t *bytes,
                        int count, const HexVerdict &verdict) {
  const uint32_t number = interface(port, device, HEX_PCAP_LINK_PPP);
  const uint8_t direction = side == HEX_SIDE_A ? 0 : 1;
  const bool failed = verdict.kind == HEX_VERDICT_BAD || verdict.kind == HEX_VERDICT_SHORT;
  char text[HEX_VERDICT_TEXT_MAX];
  hex_verdict_text(verdict, text);
  packet(number, ns, &direction, 1, bytes, count, kInbound | (failed ? HEX_PCAP_CRC_ERROR : 0),
         failed ? text + 1 : nullptr);
}

void HexPcapWriter::serial(int port, const char *device, uint64_t ns, uint8_t event, uint8_t lines,
                           const uint8_t *bytes, int count) {
  const uint32_t number = interface(port, device, HEX_PCAP_LINK_SERIAL);
  uint8_t head[kSerialHeader] = {};
  put_be32(head, uint32_t(ns / 1000000000u));
  put_be32(head + 4, uint32_t(ns % 1000000000u / 1000u));
  head[8] = event;
  head[9] = lines;
  packet(number, ns, head, kSerialHeader, bytes, count, kInbound, nullptr);
}
