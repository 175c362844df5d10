// The Telnet stream of a remote port decoded in every chunk split, against
// what its own encoders wrote: data with every byte value (0xFF doubled on
// the wire), option verbs, COM-PORT subnegotiations with a 0xFF inside, a
// command that carries nothing, and an oversized subnegotiation cut short.
#include "ser/sio_telnet.h"
#include "support/chunk_splits.h"

#include <gtest/gtest.h>

namespace {

struct Recorder : telnet::Sink {
  std::string events;
  void data(const uint8_t *bytes, size_t count) override {
    // Runs may be cut anywhere: data is recorded byte by byte.
    for (size_t i = 0; i < count; ++i)
      events += "d" + std::to_string(bytes[i]) + " ";
  }
  void option(uint8_t verb, uint8_t opt) override {
    events += "o" + std::to_string(verb) + "." + std::to_string(opt) + " ";
  }
  void sub(uint8_t opt, const uint8_t *payload, size_t count) override {
    events += "s" + std::to_string(opt) + ":" + std::string(payload, payload + count) + " ";
  }
};

}  // namespace

TEST(TelnetCodec, EveryChunkSplitDecodesWhatTheEncodersWrote) {
  using namespace telnet;
  std::vector<uint8_t> wire, all;
  for (int b = 0; b < 256; ++b)
    all.push_back(uint8_t(b));
  escape(all.data(), all.size(), wire);
  option(WILL, OPT_BINARY, wire);
  const uint8_t baud[4] = {0x00, 0x01, 0xFF, 0x00};
  comPort(SET_BAUDRATE + ServerOffset, baud, 4, wire);
  wire.insert(wire.end(), {IAC, 241, 'x'});  // NOP between data bytes
  const std::vector<uint8_t> big(SubMax + 10, 'z');
  comPort(SET_CONTROL, big.data(), big.size(), wire);
  option(DONT, OPT_COM_PORT, wire);
  EXPECT_EQ(std::count(wire.begin(), wire.begin() + 257, IAC), 2) << "0xFF doubled once";

  std::string expected;
  for (int b = 0; b < 256; ++b)
    expected += "d" + std::to_string(b) + " ";
  expected += "o251.0 s44:" + std::string{char(101), 0, 1, char(0xFF), 0} + " d120 s44:" +
              std::string(1, char(SET_CONTROL)) + std::string(SubMax - 1, 'z') + " o254.44 ";

  const std::string bytes(wire.begin(), wire.end());
  for (const auto &cuts : chunk_splits(bytes.size(), true, 20)) {
    Decoder decoder;
    Recorder recorder;
    for_each_chunk(bytes, cuts, [&](char *chunk, int count) {
      decode(decoder, reinterpret_cast<const uint8_t *>(chunk), size_t(count), recorder);
    });
    ASSERT_EQ(recorder.events, expected) << cuts.size() << " cuts";
  }
}
