// The Telnet byte stream of a remote port (RFC 854, COM-PORT-OPTION of
// RFC 2217): a decoder that takes the stream in chunks of any size, cut
// anywhere, and hands data bytes, option verbs and subnegotiations to a
// sink; and the encoders of the other direction. No sockets, no state
// beyond the decoder's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OPT_BINARY = 0, OPT_SGA = 3, OPT_COM_PORT = 44;

// COM-PORT-OPTION commands, as the client sends them; the server answers
// with the command plus ServerOffset.
enum ComPortCommand : uint8_t {
  SET_BAUDRATE = 1,
  SET_DATASIZE = 2,
  SET_PARITY = 3,
  SET_STOPSIZE = 4,
  SET_CONTROL = 5,
  NOTIFY_LINESTATE = 6,
  NOTIFY_MODEMSTATE = 7,
  SET_LINESTATE_MASK = 10,
  SET_MODEMSTATE_MASK = 11,
  PURGE_DATA = 12,
};
constexpr uint8_t ServerOffset = 100;

// Longest subnegotiation kept; a longer one is cut to this (COM-PORT
// payloads are at most 4 bytes, the rest is no use to anyone).
constexpr size_t SubMax = 64;

struct Sink {
  virtual ~Sink() = default;
  virtual void data(const uint8_t *bytes, size_t count) = 0;
  virtual void option(uint8_t verb, uint8_t option) = 0;  // WILL, WONT, DO, DONT
  virtual void sub(uint8_t option, const uint8_t *payload, size_t count) = 0;
};

struct Decoder {
  enum class State : uint8_t { Data, Iac, Verb, SubOption, Sub, SubIac } state = State::Data;
  uint8_t verb = 0;
  uint8_t subOption = 0;
  std::vector<uint8_t> subBytes;
};

// Feeds `count` bytes of the stream; emits in stream order.
void decode(Decoder &decoder, const uint8_t *bytes, size_t count, Sink &sink);

// Appends data bytes with every 0xFF doubled.
void escape(const uint8_t *bytes, size_t count, std::vector<uint8_t> &out);
// Appends IAC verb option.
void option(uint8_t verb, uint8_t opt, std::vector<uint8_t> &out);
// Appends IAC SB COM-PORT-OPTION command payload IAC SE, payload escaped.
void comPort(uint8_t command, const uint8_t *payload, size_t count, std::vector<uint8_t> &out);

}  // namespace telnet
