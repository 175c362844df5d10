// One byte damaged anywhere on the line, in either direction: it costs a
// retry, never the transfer, and the file arrives whole. The far end is
// played here as a plain XMODEM peer that sends again what is refused.
#include "xy_port_fixture.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes slice(const Bytes &b, size_t at, size_t n) {
  return Bytes(b.begin() + long(at), b.begin() + long(at + n));
}

Bytes joined(const Bytes &a, const Bytes &b) {
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

// Damages the byte at stream offset `flip` when it falls in the `length`
// bytes starting at `offset`.
void damage(Bytes &bytes, size_t offset, size_t flip) {
  if (flip >= offset && flip < offset + bytes.size())
    bytes[flip - offset] ^= 0xFF;
}

}  // namespace

class XyDamage : public SteppedPort {
protected:
  // The driver runs as the window's timer runs it until it has sent
  // something and then been quiet for a while (a whole packet, the first
  // one's delayed check bytes included), until the transfer ends, or until
  // waitMs pass without a byte. Returns what it sent.
  Bytes nextFromDriver(uint32_t waitMs) {
    const int before = param(XY_PARAM_PUT_CHAR_COUNT);
    int last = before;
    uint32_t quietSince = now(), start = now();
    while (param(XY_PARAM_STATE) != 0) {
      xyDriver(kPort);
      const int count = param(XY_PARAM_PUT_CHAR_COUNT);
      if (count != last) {
        last = count;
        quietSince = now();
      } else if (last != before ? now() - quietSince >= 250 : now() - start >= waitMs) {
        break;
      }
      SteppedClock::advance(kTickMs);
    }
    return last > before ? wire(size_t(last - before)) : Bytes{};
  }
};

// Our receiver; the sender sends packets 1 (128 bytes) and 2 (1K), then EOT
// until acknowledged. It sends again what is refused, and on an answer that
// is neither ACK nor NAK it waits, as lrzsz does, for the next answer.
TEST_F(XyDamage, ReceiverGetsTheFileWhateverSingleByteIsDamaged) {
  const Bytes one = xytest::randomBytes(128, 51), two = xytest::randomBytes(1024, 52);
  const std::vector<Bytes> units = {makePacket(1, one, true), makePacket(2, two, true), {EOT}};
  // A clean run: both packets and two EOTs (the first is refused) one way;
  // 'C', two ACKs, NAK and ACK the other.
  const size_t senderBytes = 133 + 1029 + 2, receiverBytes = 5;
  const std::string path = dir_.file("rx.bin");
  for (bool toReceiver : {true, false}) {
    // The last of each: nothing damaged.
    for (size_t flip = 0; flip <= (toReceiver ? senderBytes : receiverBytes); ++flip) {
      SCOPED_TRACE(std::string(toReceiver ? "sent " : "answered ") + std::to_string(flip));
      ASSERT_EQ(xyStartRx(kPort, path.c_str(), 'C', 0), 1);
      size_t unit = 0, writeOffset = 0, readOffset = 0;
      Bytes reply = nextFromDriver(0);
      for (int rounds = 0; param(XY_PARAM_STATE) != 0 && rounds < 20; ++rounds) {
        if (!toReceiver)
          damage(reply, readOffset, flip);
        readOffset += reply.size();
        const uint8_t last = reply.empty() ? 0 : reply.back();
        if (last == ACK)
          ++unit;
        if (unit == units.size())
          break;
        if (last == ACK || last == NAK || last == 'C') {
          Bytes out = units[unit];
          if (toReceiver)
            damage(out, writeOffset, flip);
          writeOffset += out.size();
          feed(out);
        }
        reply = nextFromDriver(30000);
      }
      runToEnd(10);
      EXPECT_EQ(param(XY_PARAM_STATE), 0);
      ASSERT_EQ(param(XY_PARAM_LAST_ERROR), 0) << ::testing::PrintToString(messages());
      EXPECT_EQ(readFileBytes(path), joined(one, two));
      pty_.drain(0);
    }
  }
}

// Our sender with 1K packets allowed; the receiver compares each packet with
// what it expects, acknowledges it or a repeat of the one before, refuses
// anything else, and repeats its last answer after 4 s of silence.
TEST_F(XyDamage, SenderDeliversTheFileWhateverSingleByteIsDamaged) {
  const Bytes content = xytest::randomBytes(1300, 53);
  Bytes padded = content;
  padded.resize(1024 + 3 * 128, 0x1A);
  std::vector<Bytes> packets = {makePacket(1, slice(padded, 0, 1024), true)};
  for (uint8_t n = 2; n <= 4; ++n)
    packets.push_back(makePacket(n, slice(padded, 1024 + (n - 2) * 128u, 128), true));
  const std::string path = dir_.file("tx.bin");
  writeFileBytes(path, content);
  // A clean run: four packets and EOT one way; 'C' and five ACKs the other.
  const size_t senderBytes = 1029 + 3 * 133 + 1, receiverBytes = 6;
  for (bool toReceiver : {true, false}) {
    for (size_t flip = 0; flip < (toReceiver ? senderBytes : receiverBytes); ++flip) {
      SCOPED_TRACE(std::string(toReceiver ? "sent " : "answered ") + std::to_string(flip));
      ASSERT_EQ(xyStartTx(kPort, path.c_str(), 1, 0), 1);
      size_t next = 0, readOffset = 0, writeOffset = 0;
      Bytes answer{'C'};
      for (int rounds = 0; param(XY_PARAM_STATE) != 0 && rounds < 30; ++rounds) {
        Bytes out = answer;
        if (!toReceiver)
          damage(out, writeOffset, flip);
        writeOffset += out.size();
        feed(out);
        Bytes got = nextFromDriver(4000);
        if (got.empty())
          continue;  // silence: the same answer again
        if (toReceiver)
          damage(got, readOffset, flip);
        readOffset += got.size();
        if (next < packets.size() && got == packets[next]) {
          ++next;
          answer = {ACK};
        } else if (next > 0 && next <= packets.size() && got == packets[next - 1]) {
          answer = {ACK};  // our ACK was lost: acknowledged again
        } else if (next == packets.size() && got == Bytes{EOT}) {
          answer = {ACK};
        } else {
          answer = {NAK};
        }
      }
      EXPECT_EQ(next, packets.size());
      ASSERT_EQ(param(XY_PARAM_LAST_ERROR), 0) << ::testing::PrintToString(messages());
      pty_.drain(0);
    }
  }
}
