// A frame decoder fed an input in the chunks the input names and whole: the
// same lines either way, each a well-formed line of the input's port, and a
// record whose fields stay in their ranges after every chunk.
#pragma once

#include "fuzz_support.h"
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using Decoder = void (*)(hex_obj_t &, int, uint16_t, const uint8_t *, int, HexSink &);

constexpr uint16_t kFuzzStamp = 65535;  // the widest stamp

// Value of an upper-case hex digit, -1 for anything else.
inline int upper_hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Reads each line back into the frame's bytes, checking its header and its
// hex text on the way.
class FrameLineSink final : public HexSink {
public:
  explicit FrameLineSink(int port) : port_(port) {
    header_length_ = std::snprintf(header_, sizeof header_, "\nRx%d %5d ", port + 1, kFuzzStamp);
  }

  void show(int port, const char *text, int length) override {
    FUZZ_CHECK(port == port_, "line of port " + std::to_string(port));
    const std::string line(text, size_t(length));
    FUZZ_CHECK(line.compare(0, size_t(header_length_), header_) == 0,
               "header" + fuzz_hex(line.substr(0, 16)));
    const size_t hex_length = line.size() - size_t(header_length_);
    FUZZ_CHECK(hex_length % 3 == 0, "hex text of " + std::to_string(hex_length) + " characters");
    std::string bytes;
    for (size_t at = size_t(header_length_); at < line.size(); at += 3) {
      const int high = upper_hex_digit(line[at + 1]);
      const int low = upper_hex_digit(line[at + 2]);
      FUZZ_CHECK(line[at] == ' ' && high >= 0 && low >= 0,
                 "not hex text at " + std::to_string(at) + ":" + fuzz_hex(line.substr(at, 3)));
      bytes += char(high << 4 | low);
    }
    FUZZ_CHECK(!bytes.empty() && bytes.size() <= size_t(HEX_BUF_SIZE),
               "a line of " + std::to_string(bytes.size()) + " bytes");
    lines.push_back(bytes);
  }

  std::vector<std::string> lines;

private:
  int port_;
  char header_[32];
  int header_length_;
};

inline void check_record(const hex_obj_t &r) {
  FUZZ_CHECK(r.frame_len >= 0 && r.frame_len <= HEX_BUF_SIZE, std::to_string(r.frame_len));
  FUZZ_CHECK(r.icni_len >= 0 && r.icni_len <= HEX_ICNI_NO_LENGTH, std::to_string(r.icni_len));
  FUZZ_CHECK(r.hdlc_bits >= 0 && r.hdlc_bits <= 7, std::to_string(r.hdlc_bits));
  FUZZ_CHECK(r.hdlc_ones >= 0 && r.hdlc_ones <= 7, std::to_string(r.hdlc_ones));
  FUZZ_CHECK(r.hdlc_zero == 0 || r.hdlc_zero == 1, std::to_string(r.hdlc_zero));
  FUZZ_CHECK(r.hdlc_hunt == 0 || r.hdlc_hunt == 1, std::to_string(r.hdlc_hunt));
}

// The lines of the stream, from a record as the monitor starts it.
inline std::vector<std::string> decode(Decoder decoder, const ChunkedInput &input, bool whole) {
  auto record = std::make_unique<hex_obj_t>();
  record->icni_len = HEX_ICNI_NO_LENGTH;
  FrameLineSink sink(input.port);
  feed_chunks(input, whole, [&](ChunkBuffer &chunk, int count) {
    decoder(*record, input.port, kFuzzStamp, chunk.bytes(), count, sink);
    check_record(*record);
  });
  return sink.lines;
}

// The stream cut in front of every `marker` byte: the bytes before the first
// marker (if any), then each marker with the bytes up to the next.
inline std::vector<std::string> cut_before(const std::string &stream, char marker) {
  std::vector<std::string> pieces;
  for (size_t start = 0; start < stream.size();) {
    const size_t next = std::min(stream.find(marker, start + 1), stream.size());
    pieces.push_back(stream.substr(start, next - start));
    start = next;
  }
  return pieces;
}

// Fails unless two readings of a stream give the same lines, naming the
// first line that differs.
inline void check_same_lines(const std::vector<std::string> &got, const char *got_name,
                             const std::vector<std::string> &expected, const char *expected_name) {
  size_t first = 0;
  while (first < got.size() && first < expected.size() && got[first] == expected[first])
    ++first;
  FUZZ_CHECK(got == expected, std::to_string(got.size()) + " lines " + got_name + ", " +
                                  std::to_string(expected.size()) + " " + expected_name +
                                  "; line " + std::to_string(first) + " " + got_name + ":" +
                                  (first < got.size() ? fuzz_hex(got[first]) : " none") + ", " +
                                  expected_name + ":" +
                                  (first < expected.size() ? fuzz_hex(expected[first]) : " none"));
}

// Checks the decoder on the input, and its lines against those a plain
// reading of the stream (`reference`, named `reading`) gives.
inline int fuzz_decoder(Decoder decoder, std::vector<std::string> (*reference)(const std::string &),
                        const char *reading, const uint8_t *data, size_t size) {
  const ChunkedInput input = chunked_input(data, size);
  const std::vector<std::string> whole = decode(decoder, input, true);
  check_same_lines(decode(decoder, input, false), "in chunks", whole, "whole");
  check_same_lines(whole, "decoded", reference(input.stream), reading);
  return 0;
}
