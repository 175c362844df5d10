// Capture: each side's bytes from their arrival until the pump shows them,
// in a ring of bytes and a ring of the reads (chunks) that brought them,
// one thread writing and one reading.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstring>

namespace {

// A place kept free for an event behind the last read.
constexpr uint64_t kEventPlaces = 1;

void new_chunk(HexCapture &capture, HexCaptureSide &side, const HexCaptureChunk &chunk) {
  const uint64_t index = side.chunks_in.load(std::memory_order_relaxed);
  HexCaptureChunk &into = side.chunks[index & (side.chunk_size - 1)];
  into = chunk;
  into.seq = capture.next_seq++;
  side.chunks_in.store(index + 1, std::memory_order_release);
  capture.published.store(capture.next_seq, std::memory_order_release);
}

uint64_t chunks_free(const HexCaptureSide &side) {
  return side.chunk_size - (side.chunks_in.load(std::memory_order_relaxed) -
                            side.chunks_out.load(std::memory_order_acquire));
}

bool line_event(HexCapture &capture, int side_index, HexCaptureChunk chunk) {
  HexCaptureSide &side = capture.sides[side_index];
  if (chunks_free(side) == 0)
    return false;
  chunk.at = side.bytes_in.load(std::memory_order_relaxed);
  new_chunk(capture, side, chunk);
  return true;
}

}  // namespace

HexCapture::HexCapture(uint32_t bytes, uint32_t chunks) {
  for (HexCaptureSide &side : sides) {
    // Not filled: the system gives the pages as the ring first reaches them.
    side.bytes.reset(new uint8_t[bytes]);
    side.chunks.reset(new HexCaptureChunk[chunks]);
    side.byte_size = bytes;
    side.chunk_size = chunks;
  }
}

uint8_t *hex_capture_room(HexCapture &capture, int side_index, uint32_t *room) {
  HexCaptureSide &side = capture.sides[side_index];
  const uint64_t in = side.bytes_in.load(std::memory_order_relaxed);
  const uint64_t held = in - side.bytes_out.load(std::memory_order_acquire);
  const uint32_t end = uint32_t(in & (side.byte_size - 1));
  *room = chunks_free(side) <= kEventPlaces
              ? 0
              : uint32_t(std::min<uint64_t>(side.byte_size - held, side.byte_size - end));
  return side.bytes.get() + end;
}

void hex_capture_commit(HexCapture &capture, int side_index, int port, uint32_t ms,
                        uint32_t count) {
  if (count == 0)
    return;
  HexCaptureSide &side = capture.sides[side_index];
  const uint64_t in = side.bytes_in.load(std::memory_order_relaxed);
  new_chunk(capture, side, HexCaptureChunk{0, in, ms, port, count, 0, HEX_PORT_NO_EVENT});
  // Counted as waiting only once the pump can take them.
  side.bytes_in.store(in + count, std::memory_order_release);
}

bool hex_capture_breaks(HexCapture &capture, int side, int port, uint32_t ms, uint32_t breaks) {
  return breaks == 0 ||
         line_event(capture, side, HexCaptureChunk{0, 0, ms, port, 0, breaks, HEX_PORT_NO_EVENT});
}

bool hex_capture_event(HexCapture &capture, int side, int port, uint32_t ms, HexPortEvent event) {
  return event == HEX_PORT_NO_EVENT ||
         line_event(capture, side, HexCaptureChunk{0, 0, ms, port, 0, 0, event});
}

uint32_t hex_capture_pending(const HexCapture &capture, int side) {
  const HexCaptureSide &ring = capture.sides[side];
  const uint64_t out = ring.bytes_out.load(std::memory_order_acquire);
  return uint32_t(ring.bytes_in.load(std::memory_order_acquire) - out);
}

uint64_t hex_capture_published(const HexCapture &capture) {
  return capture.published.load(std::memory_order_acquire);
}

int hex_capture_oldest_side(HexCapture &capture, uint64_t before) {
  int from = -1;
  uint64_t from_seq = 0;
  for (int index = 0; index < 2; ++index) {
    HexCaptureSide &side = capture.sides[index];
    const uint64_t next = side.chunks_out.load(std::memory_order_relaxed);
    if (side.chunks_in.load(std::memory_order_acquire) == next)
      continue;
    const uint64_t seq = side.chunks[next & (side.chunk_size - 1)].seq;
    if (seq < before && (from < 0 || seq < from_seq)) {
      from = index;
      from_seq = seq;
    }
  }
  return from;
}

int hex_capture_take(HexCapture &capture, uint64_t before, uint8_t *out, int max,
                     HexCapturePiece *piece) {
  const int from = hex_capture_oldest_side(capture, before);
  if (from < 0)
    return 0;
  HexCaptureSide &side = capture.sides[from];
  const HexCaptureChunk &chunk =
      side.chunks[side.chunks_out.load(std::memory_order_relaxed) & (side.chunk_size - 1)];
  const uint32_t count = std::min<uint32_t>(chunk.length - side.chunk_taken, uint32_t(std::max(max, 0)));
  *piece = HexCapturePiece{from, chunk.port, chunk.ms, chunk.breaks, int(count), chunk.event};
  if (out) {
    const uint32_t at = uint32_t((chunk.at + side.chunk_taken) & (side.byte_size - 1));
    const uint32_t first = std::min(count, side.byte_size - at);
    std::memcpy(out, side.bytes.get() + at, first);
    std::memcpy(out + first, side.bytes.get(), count - first);
  }
  // The rest of a chunk cut short keeps its place.
  side.chunk_taken += count;
  const bool whole = side.chunk_taken == chunk.length;
  if (whole)
    side.chunk_taken = 0;
  side.bytes_out.fetch_add(count, std::memory_order_release);
  if (whole)
    side.chunks_out.fetch_add(1, std::memory_order_release);
  return 1;
}

void hex_capture_clear(HexCapture &capture, int side_index) {
  HexCaptureSide &side = capture.sides[side_index];
  const uint64_t chunks = side.chunks_in.load(std::memory_order_acquire);
  if (chunks == side.chunks_out.load(std::memory_order_relaxed))
    return;
  const HexCaptureChunk &last = side.chunks[(chunks - 1) & (side.chunk_size - 1)];
  side.chunk_taken = 0;
  side.bytes_out.store(last.at + last.length, std::memory_order_release);
  side.chunks_out.store(chunks, std::memory_order_release);
}

uint64_t HexCaptureHandOver::set(int side, Port port) {
  {
    std::lock_guard<std::mutex> lock(sides_[side].mutex);
    sides_[side].port = port;
    sides_[side].port.given = ++sides_[side].given;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return ++generation_;
}

bool HexCaptureHandOver::wait_settled(uint64_t generation, int limit_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(limit_ms),
                           [&] { return settled_ >= generation; });
}

uint64_t HexCaptureHandOver::generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

void HexCaptureHandOver::settled(uint64_t generation) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    settled_ = std::max(settled_, generation);
  }
  changed_.notify_all();
}

void HexCaptureHandOver::post(int side, const Event &event) {
  std::lock_guard<std::mutex> lock(sides_[side].mutex);
  sides_[side].events.push_back(event);
}

HexCaptureHandOver::Port HexCaptureHandOver::get(int side) const {
  std::lock_guard<std::mutex> lock(sides_[side].mutex);
  return sides_[side].port;
}
