// Throughput of the frame decoders and the CRCs against the receive pump's
// ceiling: 8192 bytes per port and 50 ms run, 163,840 B/s per port.
//
//   cmake --build build --target bench_frames
//   ./build/bench/frames/bench_frames [megabytes]   (default 16 per measurement)
//
// Each decoder gets a stream of frames built by the frame builder (random
// messages of 1 to 1500 bytes with CRC16 for HDLC and PPP; 2 to 257 bytes
// with XOR, without the sync byte EE, for ICNI) in the pump's 8192-byte
// chunks, into a sink that only counts what it is given. The CRCs run over
// 8192-byte chunks of random bytes. Each figure is the best of five rounds,
// in process CPU time. Then the verdicts: the HDLC and PPP streams decoded
// with each frame's CRC-16 verified and the ICNI stream with its XOR (the
// slowest of the three counts), and the capture file's blocks: each PPP
// frame made a packet with its verdict, and the same bytes again as raw
// serial packets of 8192 bytes, against 1.2 MB/s (both ports of a
// 115200 bit/s line and more, many times over). The last lines are
//   frames: hdlc <x>, ppp <x>, icni <x>, crc16 <x>, crc32 <x> times the pump ceiling
//   frames: verify <x>, pcap <y> times 1.2 MB/s
// Targets: every figure of the first at least 100, of the second at least 20.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr double kPumpCeiling = 8192.0 / 0.050;  // bytes per second and port
constexpr int kChunk = 8192;
constexpr int kRounds = 5;

constexpr double kCaptureRate = 1.2e6;  // bytes per second

struct CountingSink final : HexSink {
  long lines = 0;
  void show(int, const char *, int) override { ++lines; }
};

// Each frame a packet of the capture file, taken away as the pump's run
// end does.
struct PcapSink final : HexSink {
  HexPcapWriter writer{"bench"};
  size_t written = 0;
  void show(int, const char *, int) override {}
  void frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict) override {
    writer.ppp(HEX_SIDE_A, port, "/dev/ttyS9", 1700000000000000000ull, bytes, count, verdict);
    take();
  }
  void take() {
    if (writer.blocks().size() >= kChunk) {
      written += writer.blocks().size();
      writer.blocks().clear();
    }
  }
};

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Frames back to back up to `size` bytes, and how many frames.
std::vector<uint8_t> frame_stream(int32_t type, size_t size, long *frames) {
  std::mt19937 rng(7);
  std::vector<uint8_t> stream;
  std::vector<uint8_t> message(HEX_BUF_SIZE);
  std::vector<uint8_t> frame(HEX_FRAME_MAX);
  *frames = 0;
  while (stream.size() < size) {
    const bool icni = type == HEX_FRAME_ICNI;
    const size_t length = icni ? 2 + rng() % 256 : 1 + rng() % 1500;
    for (size_t i = 0; i < length; ++i) {
      message[i] = uint8_t(rng());
      if (icni && message[i] == 0xEE)
        message[i] = 0xED;
    }
    const int32_t kind = icni ? HEX_CHECK_XOR : HEX_CHECK_CRC16;
    const int n = hex_build_frame(type, kind, message.data(), int(length), frame.data());
    if (icni && std::find(frame.begin() + 1, frame.begin() + n, 0xEE) != frame.begin() + n)
      continue;  // a length or check byte EE would restart the frame
    stream.insert(stream.end(), frame.begin(), frame.begin() + n);
    ++*frames;
  }
  return stream;
}

using Decoder = void (*)(hex_obj_t &, int, uint16_t, const uint8_t *, int, HexSink &);

// Bytes per second of a decoder, verifying each frame against `check`
// (none: HEX_CHECK_NONE).
double bench_decoder(const char *name, int32_t type, Decoder decoder, size_t size,
                     int32_t check = HEX_CHECK_NONE) {
  long frames = 0;
  const std::vector<uint8_t> stream = frame_stream(type, size, &frames);
  double best = 1e30;
  long lines = 0;
  uint64_t good = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto record = std::make_unique<hex_obj_t>();
    record->icni_len = HEX_ICNI_NO_LENGTH;
    record->frame_check = check;
    CountingSink sink;
    const double start = cpu_seconds();
    for (size_t at = 0; at < stream.size(); at += kChunk) {
      const int count = int(std::min<size_t>(kChunk, stream.size() - at));
      decoder(*record, 0, 0, stream.data() + at, count, sink);
    }
    best = std::min(best, cpu_seconds() - start);
    lines = sink.lines;
    good = record->frames_good;
  }
  const double rate = double(stream.size()) / best;
  std::printf("%-12s %9zu bytes, %6ld frames, %6ld lines, %6llu ok: %8.1f MB/s, %7.1f x ceiling\n",
              name, stream.size(), frames, lines, static_cast<unsigned long long>(good), rate / 1e6,
              rate / kPumpCeiling);
  return rate;
}

// Bytes per second through the capture file's blocks: the PPP stream's
// frames as packets (decoding and verifying included), then the same bytes
// as raw serial packets.
double pcap_rate(size_t size) {
  long frames = 0;
  const std::vector<uint8_t> stream = frame_stream(HEX_FRAME_PPP, size, &frames);
  double best = 1e30;
  size_t written = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto record = std::make_unique<hex_obj_t>();
    record->frame_check = HEX_CHECK_CRC16;
    PcapSink sink;
    const double start = cpu_seconds();
    for (size_t at = 0; at < stream.size(); at += kChunk) {
      const int count = int(std::min<size_t>(kChunk, stream.size() - at));
      hex_parse_ppp(*record, 0, 0, stream.data() + at, count, sink);
      sink.writer.serial(1, "/dev/ttyS8", 1700000000000000000ull, HEX_PCAP_RX_START, 0,
                         stream.data() + at, count);
      sink.take();
    }
    best = std::min(best, cpu_seconds() - start);
    written = sink.written;
  }
  const double rate = 2.0 * double(stream.size()) / best;
  std::printf("pcap  %9zu bytes twice, %6ld frames, %9zu bytes of blocks: %8.1f MB/s\n",
              stream.size(), frames, written, rate / 1e6);
  return rate;
}

template <typename Crc>
double bench_crc(const char *name, Crc crc, size_t size) {
  std::mt19937 rng(9);
  std::vector<uint8_t> data(size);
  for (uint8_t &b : data)
    b = uint8_t(rng());
  double best = 1e30;
  unsigned long folded = 0;
  for (int round = 0; round < kRounds; ++round) {
    const double start = cpu_seconds();
    for (size_t at = 0; at < data.size(); at += kChunk)
      folded += crc(data.data() + at, int32_t(std::min<size_t>(kChunk, data.size() - at)));
    best = std::min(best, cpu_seconds() - start);
  }
  const double rate = double(size) / best;
  std::printf("%-5s %9zu bytes (folded %08lX):        %8.1f MB/s, %7.1f x ceiling\n", name, size,
              folded & 0xFFFFFFFFul, rate / 1e6, rate / kPumpCeiling);
  return rate / kPumpCeiling;
}

}  // namespace

int main(int argc, char **argv) {
  const size_t megabytes = argc > 1 ? size_t(std::strtoul(argv[1], nullptr, 10)) : 16;
  const size_t size = std::max<size_t>(1, megabytes) << 20;
  std::printf("pump ceiling %.0f B/s per port, chunks of %d bytes, best of %d rounds\n",
              kPumpCeiling, kChunk, kRounds);
  const double hdlc = bench_decoder("hdlc", HEX_FRAME_HDLC, hex_parse_hdlc, size) / kPumpCeiling;
  const double ppp = bench_decoder("ppp", HEX_FRAME_PPP, hex_parse_ppp, size) / kPumpCeiling;
  const double icni = bench_decoder("icni", HEX_FRAME_ICNI, hex_parse_icni, size) / kPumpCeiling;
  const double c16 = bench_crc("crc16", crc16, size);
  const double c32 = bench_crc("crc32", hex_crc32, size);
  const double verify = std::min(
      {bench_decoder("hdlc crc16", HEX_FRAME_HDLC, hex_parse_hdlc, size, HEX_CHECK_CRC16),
       bench_decoder("ppp crc16", HEX_FRAME_PPP, hex_parse_ppp, size, HEX_CHECK_CRC16),
       bench_decoder("icni xor", HEX_FRAME_ICNI, hex_parse_icni, size, HEX_CHECK_XOR)});
  const double pcap = pcap_rate(size);
  std::printf(
      "frames: hdlc %.0f, ppp %.0f, icni %.0f, crc16 %.0f, crc32 %.0f times the pump "
      "ceiling\n",
      hdlc, ppp, icni, c16, c32);
  std::printf("frames: verify %.0f, pcap %.0f times 1.2 MB/s\n", verify / kCaptureRate,
              pcap / kCaptureRate);
  return 0;
}
