// Capture: each side's bytes from their arrival until the pump shows them,
// in a ring of bytes and a ring of the reads (chunks) that brought them.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kByteMask = HEX_CAPTURE_BYTES - 1;
constexpr uint32_t kChunkMask = HEX_CAPTURE_CHUNKS - 1;
static_assert((HEX_CAPTURE_BYTES & kByteMask) == 0 && (HEX_CAPTURE_CHUNKS & kChunkMask) == 0,
              "the rings wrap by masking");

HexCaptureChunk &oldest(HexCaptureSide &side) { return side.chunks[side.chunk_head]; }

HexCaptureChunk &newest(HexCaptureSide &side) {
  return side.chunks[(side.chunk_head + side.chunk_count - 1) & kChunkMask];
}

void forget_oldest_chunk(HexCaptureSide &side) {
  side.chunk_head = (side.chunk_head + 1) & kChunkMask;
  --side.chunk_count;
}

// Removes the first `count` bytes of the oldest chunks, and the line events
// among them, counting the bytes as dropped when `counted`.
void remove_oldest(HexCaptureSide &side, uint32_t count, bool counted) {
  while (count > 0 && side.chunk_count > 0) {
    HexCaptureChunk &chunk = oldest(side);
    const uint32_t taken = std::min(count, chunk.length);
    side.byte_head = (side.byte_head + taken) & kByteMask;
    side.byte_count -= taken;
    if (counted)
      side.dropped += taken;
    count -= taken;
    if (taken == chunk.length)
      forget_oldest_chunk(side);
    else
      chunk.length -= taken;
  }
}

HexCaptureChunk &new_chunk(HexCapture &capture, HexCaptureSide &side) {
  // With every place taken, the oldest chunk goes, its bytes counted.
  if (side.chunk_count == HEX_CAPTURE_CHUNKS) {
    if (oldest(side).length > 0)
      remove_oldest(side, oldest(side).length, true);
    else
      forget_oldest_chunk(side);
  }
  ++side.chunk_count;
  HexCaptureChunk &chunk = newest(side);
  chunk = HexCaptureChunk{capture.next_seq++, 0, 0, 0, 0, HEX_PORT_NO_EVENT};
  return chunk;
}

}  // namespace

uint8_t *hex_capture_room(HexCapture &capture, int side_index, uint32_t want, uint32_t *room) {
  HexCaptureSide &side = capture.sides[side_index];
  want = std::min(want, HEX_CAPTURE_BYTES / 2);
  if (side.byte_count == 0)
    side.byte_head = 0;  // an empty ring starts at the front, where the room is largest
  const uint32_t free = HEX_CAPTURE_BYTES - side.byte_count;
  if (free < want)
    remove_oldest(side, want - free, true);
  const uint32_t end = (side.byte_head + side.byte_count) & kByteMask;
  *room = std::min(HEX_CAPTURE_BYTES - end, HEX_CAPTURE_BYTES - side.byte_count);
  return side.bytes + end;
}

void hex_capture_commit(HexCapture &capture, int side_index, int port, uint32_t ms,
                        uint32_t count) {
  HexCaptureSide &side = capture.sides[side_index];
  count = std::min(count, HEX_CAPTURE_BYTES - side.byte_count);
  if (count == 0)
    return;
  side.byte_count += count;
  if (side.chunk_count > 0) {
    HexCaptureChunk &last = newest(side);
    if (last.seq + 1 == capture.next_seq && last.port == port && last.ms == ms && last.length > 0) {
      last.length += count;
      return;
    }
  }
  HexCaptureChunk &chunk = new_chunk(capture, side);
  chunk.ms = ms;
  chunk.port = port;
  chunk.length = count;
}

void hex_capture_breaks(HexCapture &capture, int side_index, int port, uint32_t ms,
                        uint32_t breaks) {
  if (breaks == 0)
    return;
  HexCaptureChunk &chunk = new_chunk(capture, capture.sides[side_index]);
  chunk.ms = ms;
  chunk.port = port;
  chunk.breaks = breaks;
}

void hex_capture_event(HexCapture &capture, int side_index, int port, uint32_t ms,
                       HexPortEvent event) {
  if (event == HEX_PORT_NO_EVENT)
    return;
  HexCaptureChunk &chunk = new_chunk(capture, capture.sides[side_index]);
  chunk.ms = ms;
  chunk.port = port;
  chunk.event = event;
}

uint32_t hex_capture_pending(const HexCapture &capture, int side) {
  return capture.sides[side].byte_count;
}

int hex_capture_take(HexCapture &capture, uint64_t before, uint8_t *out, int max,
                     HexCapturePiece *piece) {
  int from = -1;
  for (int index = 0; index < 2; ++index) {
    HexCaptureSide &side = capture.sides[index];
    if (side.chunk_count == 0 || oldest(side).seq >= before)
      continue;
    if (from < 0 || oldest(side).seq < oldest(capture.sides[from]).seq)
      from = index;
  }
  if (from < 0)
    return 0;
  HexCaptureSide &side = capture.sides[from];
  HexCaptureChunk &chunk = oldest(side);
  const uint32_t count = std::min<uint32_t>(chunk.length, uint32_t(std::max(max, 0)));
  *piece = HexCapturePiece{from, chunk.port, chunk.ms, chunk.breaks, int(count), chunk.event};
  const uint32_t first = std::min(count, HEX_CAPTURE_BYTES - side.byte_head);
  std::memcpy(out, side.bytes + side.byte_head, first);
  std::memcpy(out + first, side.bytes, count - first);
  side.byte_head = (side.byte_head + count) & kByteMask;
  side.byte_count -= count;
  // The rest of a chunk cut short keeps its place.
  if (chunk.length == count)
    forget_oldest_chunk(side);
  else
    chunk.length -= count;
  return 1;
}

void hex_capture_clear(HexCapture &capture, int side_index) {
  HexCaptureSide &side = capture.sides[side_index];
  side.byte_head = 0;
  side.byte_count = 0;
  side.chunk_head = 0;
  side.chunk_count = 0;
}
