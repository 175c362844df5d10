// What the fuzz targets share: a failed check that stops the run (libFuzzer
// keeps the input, the corpus replay fails), inputs that carry their own
// chunk split, and chunk buffers of exactly the size a byte-fed routine may
// use, so that AddressSanitizer sees any access beyond them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

[[noreturn]] inline void fuzz_fail(const char *file, int line, const char *condition,
                                   const std::string &what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, condition, what.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(condition, what)                                 \
  do {                                                              \
    if (!(condition))                                               \
      fuzz_fail(__FILE__, __LINE__, #condition, std::string(what)); \
  } while (0)

// Bytes as hex text for a failure's message (the first 64 of them).
inline std::string fuzz_hex(const void *bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  const auto *p = static_cast<const uint8_t *>(bytes);
  for (size_t i = 0; i < count && i < 64; ++i) {
    out += ' ';
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 0xF];
  }
  if (count > 64)
    out += " ... (" + std::to_string(count) + " bytes)";
  return out;
}
inline std::string fuzz_hex(const std::string &bytes) {
  return fuzz_hex(bytes.data(), bytes.size());
}

// An input that says how it is cut into chunks. Its first byte: bits 0-2 the
// number k of chunk sizes that follow it, bit 3 whether the stream is long
// (see below), bits 4-7 the port. The k bytes behind it are chunk sizes, each
// one more than its value, used in turn; with none, the stream goes a byte at
// a time. The rest of the input is the stream; a long stream is all of it but
// its last byte eight times over, then that byte (so a short input reaches the
// end of a frame buffer, and a frame can end there).
struct ChunkedInput {
  int port = 0;
  std::vector<size_t> sizes;
  std::string stream;
};

inline ChunkedInput chunked_input(const uint8_t *data, size_t size) {
  ChunkedInput input;
  if (size == 0)
    return input;
  const uint8_t head = data[0];
  size_t at = 1;
  const size_t count = head & 7u;
  for (size_t i = 0; i < count && at < size; ++i)
    input.sizes.push_back(size_t(data[at++]) + 1);
  input.port = head >> 4;
  const std::string rest(reinterpret_cast<const char *>(data + at), size - at);
  if ((head & 8u) == 0 || rest.empty()) {
    input.stream = rest;
    return input;
  }
  for (int i = 0; i < 8; ++i)
    input.stream.append(rest, 0, rest.size() - 1);
  input.stream += rest.back();
  return input;
}

// A chunk in a heap buffer of `room` bytes (at least its own count): the
// chunk's bytes, then a NUL as the receive pump leaves it, then nothing.
class ChunkBuffer {
public:
  ChunkBuffer(const char *bytes, size_t count, size_t room)
      : bytes_(new char[room < count + 1 ? count + 1 : room]) {
    std::copy(bytes, bytes + count, bytes_.get());
    bytes_[count] = '\0';
  }
  char *data() { return bytes_.get(); }
  const uint8_t *bytes() const { return reinterpret_cast<const uint8_t *>(bytes_.get()); }

private:
  std::unique_ptr<char[]> bytes_;
};

// Hands the stream to `feed(buffer, count)` in the chunks the sizes give, or
// whole when `whole` is set; each buffer holds count + 1 bytes.
template <class Feed>
void feed_chunks(const ChunkedInput &input, bool whole, Feed &&feed) {
  const std::string &stream = input.stream;
  size_t turn = 0;
  for (size_t at = 0; at < stream.size();) {
    size_t count = whole                 ? stream.size()
                   : input.sizes.empty() ? 1
                                         : input.sizes[turn++ % input.sizes.size()];
    if (count > stream.size() - at)
      count = stream.size() - at;
    ChunkBuffer chunk(stream.data() + at, count, count + 1);
    feed(chunk, int(count));
    at += count;
  }
}
