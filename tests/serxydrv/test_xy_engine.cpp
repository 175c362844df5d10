// The protocol engine on the wire, with the far end played byte by byte and
// time stepped: packets, checks, retries, time limits and batch packet 0.
#include "xy_port_fixture.h"

#include <cstring>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;

namespace {

struct WirePacket {
  uint8_t header = 0;
  uint8_t number = 0;
  uint8_t complement = 0;
  Bytes data;
  Bytes check;
};

Bytes pad(Bytes data, size_t size, uint8_t fill = 0x1A) {
  data.resize(size, fill);
  return data;
}

Bytes slice(const Bytes &b, size_t at, size_t n) {
  return Bytes(b.begin() + long(at), b.begin() + long(at + n));
}

}  // namespace

class XyEngine : public SteppedPort {
protected:
  // Reads one packet the driver sent; the first packet's check bytes only
  // leave after 125 ms, so they are fetched after stepping the clock.
  WirePacket readPacket(bool crc, bool first = false) {
    WirePacket p;
    Bytes head = wire(3);
    EXPECT_EQ(head.size(), 3u);
    if (head.size() < 3)
      return p;
    p.header = head[0];
    p.number = head[1];
    p.complement = head[2];
    size_t size = p.header == STX ? 1024 : 128;
    p.data = wire(size);
    if (first) {
      EXPECT_TRUE(wireRest().empty()) << "check bytes before 125 ms";
      SteppedClock::advance(124);
      EXPECT_EQ(xyDriver(kPort), 1);
      EXPECT_TRUE(wireRest().empty()) << "check bytes before 125 ms";
      SteppedClock::advance(1);
      EXPECT_EQ(xyDriver(kPort), 1);
    }
    p.check = wire(crc ? 2 : 1);
    if (crc && p.check.size() == 2) {
      uint16_t expected = referenceCrc(p.data.data(), p.data.size());
      EXPECT_EQ(p.check, (Bytes{uint8_t(expected >> 8), uint8_t(expected)}));
    }
    return p;
  }

  // Starts a send of `content` and answers with start character `start`;
  // returns the first packet.
  WirePacket startSend(const Bytes &content, uint8_t start, int oneK = 0, int batch = 0) {
    path_ = dir_.file("tx.bin");
    writeFileBytes(path_, content);
    EXPECT_EQ(xyStartTx(kPort, path_.c_str(), oneK, batch), 1);
    EXPECT_EQ(xyDriver(kPort), 1);  // opens, waits for the start character
    EXPECT_EQ(param(XY_PARAM_STATE), XY_TX_AWAIT_START);
    feed(start);
    EXPECT_EQ(xyDriver(kPort), 1);  // takes it
    wrapIn(60);                     // the pause before the check bytes crosses the wrap
    EXPECT_EQ(xyDriver(kPort), 1);  // header and data, then the pause
    return readPacket(start != NAK, true);
  }

  // Starts a receive and reads its first start character.
  void startReceive(uint8_t start, int batch = 0) {
    path_ = dir_.file("rx.bin");
    ASSERT_EQ(xyStartRx(kPort, batch ? nullptr : path_.c_str(), start, batch), 1);
    ASSERT_EQ(xyDriver(kPort), 1);
    ASSERT_EQ(wire(1), Bytes{start});
  }

  // Gives the receiver one packet and returns its answer.
  Bytes deliver(const Bytes &packet, int calls = 2) {
    feed(packet);
    for (int i = 0; i < calls && param(XY_PARAM_STATE) != 0; ++i)
      xyDriver(kPort);
    return wire(1, 300);
  }

  std::string path_;
};

TEST_F(XyEngine, CrcSendOf200BytesMatchesTheWireExactly) {
  Bytes content = xytest::randomBytes(200, 11);
  WirePacket p1 = startSend(content, 'C');
  EXPECT_EQ(p1.header, SOH);
  EXPECT_EQ(p1.number, 0x01);
  EXPECT_EQ(p1.complement, 0xFE);
  EXPECT_EQ(p1.data, slice(content, 0, 128));
  EXPECT_EQ(param(XY_PARAM_PACKET), 1);
  EXPECT_EQ(param(XY_PARAM_FILE_SIZE), 200);

  feed(ACK);
  uint32_t before = now();
  EXPECT_EQ(xyDriver(kPort), 1);
  WirePacket p2 = readPacket(true);
  EXPECT_EQ(p2.header, SOH);
  EXPECT_EQ(p2.number, 0x02);
  EXPECT_EQ(p2.complement, 0xFD);
  EXPECT_EQ(p2.data, pad(slice(content, 128, 72), 128));
  // Later packets' check bytes follow their data at once: the call only
  // waited for the reply.
  EXPECT_LE(now() - before, 1600u);

  feed(Bytes{ACK, ACK});  // the packet's, and the EOT's
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(wire(1), Bytes{EOT});
  EXPECT_TRUE(wireRest().empty());
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_TRUE(messages().empty());
}

TEST_F(XyEngine, CrcReceiveOf200BytesKeepsTheFill) {
  startReceive('C');
  Bytes content = xytest::randomBytes(200, 12);
  EXPECT_EQ(deliver(makePacket(1, slice(content, 0, 128), true)), Bytes{ACK});
  EXPECT_EQ(deliver(makePacket(2, pad(slice(content, 128, 72), 128), true)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_STATE), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  Bytes got = readFileBytes(path_);
  EXPECT_EQ(got.size(), 256u);
  EXPECT_EQ(got, pad(content, 256));
}

TEST_F(XyEngine, ChecksumModeSendsOneSumByte) {
  WirePacket p = startSend(Bytes{0x01, 0x02}, NAK);
  EXPECT_EQ(p.data, pad(Bytes{1, 2}, 128));
  EXPECT_EQ(p.check, Bytes{0xCF});  // (3 + 126 * 26) mod 256
  feed(Bytes{ACK, ACK});
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(wire(1), Bytes{EOT});
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
}

TEST_F(XyEngine, OneKPacketsWhileAtLeast1024BytesRemain) {
  Bytes content = xytest::randomBytes(3000, 13);
  WirePacket p = startSend(content, 'C', 1);
  std::vector<size_t> sizes{p.data.size()};
  Bytes got = p.data;
  for (int i = 0; i < 20; ++i) {
    feed(ACK);
    xyDriver(kPort);
    Bytes next = wire(1, 300);
    if (next == Bytes{EOT})
      break;
    ASSERT_EQ(next.size(), 1u);
    size_t size = next[0] == STX ? 1024 : 128;
    Bytes rest = wire(2 + size + 2);
    sizes.push_back(size);
    got.insert(got.end(), rest.begin() + 2, rest.end() - 2);
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{1024, 1024, 128, 128, 128, 128, 128, 128, 128, 128}));
  EXPECT_EQ(got, pad(content, 3072));
  feed(ACK);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
}

TEST_F(XyEngine, ThreeNaksDropTo128BytePackets) {
  Bytes content = xytest::randomBytes(4096, 14);
  WirePacket p = startSend(content, 'C', 1);
  EXPECT_EQ(p.header, STX);
  for (int nak = 1; nak <= 3; ++nak) {
    feed(NAK);
    xyDriver(kPort);
    WirePacket again = readPacket(true, true);  // the first packet waits again
    EXPECT_EQ(again.header, STX) << "a resend keeps its size";
    EXPECT_EQ(again.data, p.data);
  }
  EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 3);
  feed(ACK);
  xyDriver(kPort);
  WirePacket p2 = readPacket(true);
  EXPECT_EQ(p2.header, SOH);
  EXPECT_EQ(p2.number, 2);
  EXPECT_EQ(p2.data, slice(content, 1024, 128));
}

TEST_F(XyEngine, FourthNakExceedsTheRetryLimit) {
  startSend(xytest::randomBytes(300, 15), 'C');
  feed(ACK);
  xyDriver(kPort);
  readPacket(true);
  for (int nak = 1; nak <= 3; ++nak) {
    feed(NAK);
    EXPECT_EQ(xyDriver(kPort), 1);
    WirePacket again = readPacket(true);
    EXPECT_EQ(again.number, 2);
  }
  feed(NAK);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
  EXPECT_TRUE(wireRest().empty());
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_RETRY_LIMIT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_TX_AWAIT_REPLY);
  EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 4);
}

TEST_F(XyEngine, SenderEndsOnCancelAndOnStrayReplies) {
  startSend(xytest::randomBytes(300, 16), 'C');
  feed(CAN);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_CANCELLED);
  wireRest();

  startSend(xytest::randomBytes(300, 16), 'C');
  feed('x');
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_OUT_OF_SYNC);
}

TEST_F(XyEngine, SenderGivesUpWithoutStartCharacterAfterAMinute) {
  path_ = dir_.file("tx.bin");
  writeFileBytes(path_, Bytes{1, 2, 3});
  ASSERT_EQ(xyStartTx(kPort, path_.c_str(), 0, 0), 1);
  uint32_t start = wrapIn(30000);
  int calls = 0;
  while (xyDriver(kPort) != 0 && calls < 1000) {
    ++calls;
    if (calls % 5 == 0)
      feed(Bytes{'x', 0x00, ACK});  // not a start character: ignored
  }
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_NO_STARTUP);
  EXPECT_GT(now() - start, 60000u);
  EXPECT_LT(now() - start, 60000u + 1600u);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
}

TEST_F(XyEngine, SenderTimesOutWaitingForAReply) {
  startSend(xytest::randomBytes(300, 17), 'C');
  feed(ACK);
  // The second packet goes out at once and its reply is awaited.
  uint32_t start = wrapIn(5000);
  int calls = 0;
  while (xyDriver(kPort) != 0 && calls++ < 20) {
  }
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_TX_AWAIT_REPLY);
  EXPECT_GT(now() - start, 10000u);
  EXPECT_LT(now() - start, 10000u + 1600u);
}

// A receiver repeats its start character until the first packet comes, so
// several may be waiting when the sender takes the first, and more arrive
// while the packet goes out: the sender drops them, right after the start
// character and again before the check bytes, and reads the receiver's
// answer to the packet, not a late start character.
TEST_F(XyEngine, SenderDropsTheRepeatedStartCharacters) {
  path_ = dir_.file("tx.bin");
  Bytes content = xytest::randomBytes(300, 29);
  writeFileBytes(path_, content);
  ASSERT_EQ(xyStartTx(kPort, path_.c_str(), 0, 0), 1);
  EXPECT_EQ(xyDriver(kPort), 1);
  feed(Bytes{'C', 'C', 'C'});
  EXPECT_EQ(xyDriver(kPort), 1);  // takes the first
  EXPECT_EQ(SioRxQue(kPort), 0) << "repeats kept after the start character";
  EXPECT_EQ(xyDriver(kPort), 1);  // header and data
  feed(Bytes{'C', 'C'});
  WirePacket p1 = readPacket(true, true);
  EXPECT_EQ(p1.data, slice(content, 0, 128));
  feed(ACK);
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0) << ::testing::PrintToString(messages());
  WirePacket p2 = readPacket(true);
  EXPECT_EQ(p2.number, 2);
}

// What the receiver sends while the sender waits for the ACK of its EOT,
// other than that ACK, is ignored.
TEST_F(XyEngine, SenderIgnoresStrayBytesWhileItsEotAwaitsAnAck) {
  startSend(xytest::randomBytes(100, 30), 'C');
  feed(Bytes{ACK, 'C', NAK, 0x00, 'x'});  // the packet's ACK, then noise
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(param(XY_PARAM_STATE), XY_TX_AWAIT_EOT_ACK);
  feed(ACK);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  Bytes eots = wireRest();
  EXPECT_GE(eots.size(), 1u);
  EXPECT_EQ(eots, Bytes(eots.size(), EOT));
}

TEST_F(XyEngine, EotRepeatedTenTimesThenGivesUp) {
  startSend(xytest::randomBytes(100, 18), 'C');
  feed(ACK);
  uint32_t start = wrapIn(5000);
  int calls = 0;
  while (xyDriver(kPort) != 0 && calls++ < 100) {
  }
  // Each EOT waits more than 1000 ms, a GetChar wait of 1.5 s at the most.
  EXPECT_GT(now() - start, 10 * 1000u);
  EXPECT_LE(now() - start, 10 * 1500u);
  EXPECT_EQ(wire(10), Bytes(10, EOT));
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
  EXPECT_TRUE(wireRest().empty());
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_EOT_NOT_ACKED);
}

TEST_F(XyEngine, EmptyFileCannotBeSentWithoutBatch) {
  path_ = dir_.file("empty.bin");
  writeFileBytes(path_, Bytes{});
  ASSERT_EQ(xyStartTx(kPort, path_.c_str(), 0, 0), 1);
  EXPECT_EQ(xyDriver(kPort), 1);
  feed('C');
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(xyDriver(kPort), 0);  // nothing to read for packet 1
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_DISK_READ);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
}

TEST_F(XyEngine, ReceiverRepeatsItsStartCharacterForever) {
  xySetParameter(kPort, XY_SET_NAK_RATE, 2);
  const uint32_t start = wrapIn(1000);
  startReceive(NAK);
  // A silent sender for a minute: the start character goes out again every
  // RxNakRate seconds, rounded up to GetChar's 1.5 s waits, and the receive
  // never gives up.
  uint32_t last = start;
  int repeats = 0;
  while (now() - start < 60000) {
    ASSERT_EQ(xyDriver(kPort), 1);
    for (uint8_t b : wireRest()) {
      EXPECT_EQ(b, NAK);
      EXPECT_GE(now() - last, 2000u);
      EXPECT_LE(now() - last, 3000u);
      last = now();
      ++repeats;
    }
  }
  EXPECT_GE(repeats, 60000 / 3000 - 1);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
}

TEST_F(XyEngine, ReceiverRefusesABadCheckAndTakesTheResend) {
  startReceive('C');
  Bytes data = xytest::randomBytes(128, 19);
  Bytes bad = makePacket(1, data, true);
  bad[3 + 40] ^= 0x10;
  EXPECT_EQ(deliver(bad), Bytes{NAK});
  EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 1);
  auto texts = messages();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("COM1: NAK 1: Bad CS ", 0), 0u) << texts[0];
  EXPECT_EQ(deliver(makePacket(1, data, true)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(readFileBytes(path_), data);
}

// Unlike the sender, the receiver has no retry limit: it refuses a bad
// packet as often as it comes and still takes the good one.
TEST_F(XyEngine, ReceiverRefusesBadPacketsWithoutLimit) {
  startReceive('C');
  Bytes data = xytest::randomBytes(128, 31);
  Bytes bad = makePacket(1, data, true);
  bad[3 + 99] ^= 0x01;
  for (int i = 1; i <= 20; ++i)
    ASSERT_EQ(deliver(bad), Bytes{NAK}) << "refusal " << i;
  EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 20);
  EXPECT_EQ(deliver(makePacket(1, data, true)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(readFileBytes(path_), data);
}

TEST_F(XyEngine, ReceiverAcknowledgesARepeatedPacketWithoutWritingIt) {
  startReceive(NAK);
  Bytes one = xytest::randomBytes(128, 20), two = xytest::randomBytes(128, 21);
  EXPECT_EQ(deliver(makePacket(1, one, false)), Bytes{ACK});
  EXPECT_EQ(deliver(makePacket(1, one, false)), Bytes{ACK});  // our ACK was lost
  EXPECT_EQ(deliver(makePacket(2, two, false)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  Bytes both = one;
  both.insert(both.end(), two.begin(), two.end());
  EXPECT_EQ(readFileBytes(path_), both);
}

TEST_F(XyEngine, ReceiverChecksPacketNumberAgainstComplement) {
  startReceive('C');
  Bytes data = xytest::randomBytes(128, 22);
  Bytes good = makePacket(5, data, true);  // 0x05 with 0xFA: accepted
  EXPECT_EQ(deliver(good), Bytes{ACK});
  Bytes bad = makePacket(6, data, true);
  bad[2] = 0xFB;  // 0x06 + 0xFB != 255
  feed(bad);
  xyDriver(kPort);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_BAD_PACKET_NUMBER);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
}

TEST_F(XyEngine, ReceiverEndsOnCancelAndOnGarbage) {
  startReceive('C');
  EXPECT_EQ(deliver(Bytes{CAN}, 3), (Bytes{CAN}));
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_CANCELLED);
  wireRest();

  startReceive('C');
  EXPECT_EQ(deliver(makePacket(1, Bytes(128, 7), true)), Bytes{ACK});
  feed(0x7E);
  xyDriver(kPort);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_OUT_OF_SYNC);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_RX_AWAIT_PACKET);
}

TEST_F(XyEngine, ReceiverTimesOutWaitingForTheNextPacket) {
  startReceive('C');
  EXPECT_EQ(deliver(makePacket(1, Bytes(128, 7), true)), Bytes{ACK});
  uint32_t start = wrapIn(2000);
  while (xyDriver(kPort) != 0) {
  }
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_RX_AWAIT_PACKET);
  EXPECT_GT(now() - start, 4000u);
  EXPECT_LT(now() - start, 4000u + 1600u);
}

// The sender stops inside a packet: wherever it stops, the receiver gives up
// 6 s after the last byte and writes nothing of the packet.
TEST_F(XyEngine, ReceiverTimesOutInsideAPacketAndStoresNoGap) {
  const Bytes packet = makePacket(1, xytest::randomBytes(128, 23), true);
  struct Cut {
    size_t bytes;
    int state;
  } cuts[] = {
      {1, XY_RX_READ_NUMBER},      {2, XY_RX_READ_COMPLEMENT},      {3 + 57, XY_RX_READ_DATA},
      {3 + 128, XY_RX_READ_CHECK}, {3 + 129, XY_RX_READ_CHECK_LOW},
  };
  for (const Cut &cut : cuts) {
    SCOPED_TRACE(cut.state);
    startReceive('C');
    feed(slice(packet, 0, cut.bytes));
    uint32_t start = wrapIn(3000);
    int calls = 0;
    while (xyDriver(kPort) != 0 && calls++ < 50) {
    }
    EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
    EXPECT_EQ(param(XY_PARAM_ERROR_STATE), cut.state);
    EXPECT_GT(now() - start, 6000u);
    EXPECT_LT(now() - start, 6000u + 1600u);
    EXPECT_TRUE(readFileBytes(path_).empty());
    wireRest();
  }
}

// A clock that lets the far end send the rest of a packet once the driver
// has waited a while inside it.
namespace {
PtyPair *latePty = nullptr;
Bytes lateBytes;
uint32_t lateAt = 0;
uint32_t lateNow() { return SteppedClock::now; }
void lateSleep(uint32_t ms) {
  SteppedClock::now += ms;
  if (lateBytes.empty() || int32_t(SteppedClock::now - lateAt) < 0)
    return;
  latePty->send(lateBytes);
  int expected = int(lateBytes.size());
  lateBytes.clear();
  for (int i = 0; i < 10000 && SioRxQue(0) < expected; ++i)
    usleep(100);
}
}  // namespace

TEST_F(XyEngine, ReceiverWaitsOutAShortPauseInsideAPacket) {
  startReceive('C');
  Bytes data = xytest::randomBytes(128, 24);
  Bytes packet = makePacket(1, data, true);
  latePty = &pty_;
  lateBytes = slice(packet, 60, packet.size() - 60);
  lateAt = now() + 4000;  // within the 6 s allowed between two bytes
  SioClock clock{lateNow, lateSleep};
  SioSetClock(&clock);
  feed(slice(packet, 0, 60));
  EXPECT_EQ(xyDriver(kPort), 1);  // the header byte answers the start character
  EXPECT_EQ(xyDriver(kPort), 1);  // the packet, with its pause
  EXPECT_TRUE(lateBytes.empty());
  SteppedClock::install(now());
  EXPECT_EQ(wire(1), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(readFileBytes(path_), data);
}

TEST_F(XyEngine, CtsThatNeverRisesEndsTheWaitAfterTenSeconds) {
  // A pty has no modem lines: CTS reads as down, so a transfer told to
  // watch CTS waits for it and must give up.
  startReceive('C');
  xyList.CTSflag = 1;
  uint32_t start = wrapIn(5000);
  feed(makePacket(1, Bytes(128, 3), true));
  int calls = 0;
  while (xyDriver(kPort) != 0 && calls++ < 10) {
  }
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_RX_ACCEPT_PACKET);
  EXPECT_GE(now() - start, 10000u);
  EXPECT_LT(now() - start, 10100u);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));  // no ACK went out
}

TEST_F(XyEngine, SenderWaitingForCtsGivesUpAfterTenSeconds) {
  path_ = dir_.file("tx.bin");
  writeFileBytes(path_, xytest::randomBytes(300, 28));
  ASSERT_EQ(xyStartTx(kPort, path_.c_str(), 0, 0), 1);
  xyList.CTSflag = 1;  // as if CTS had been up at the start
  EXPECT_EQ(xyDriver(kPort), 1);
  feed('C');
  EXPECT_EQ(xyDriver(kPort), 1);
  uint32_t start = wrapIn(5000);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_TX_SEND_DATA);
  EXPECT_GE(now() - start, 10000u);
  EXPECT_LT(now() - start, 10100u);
  // The header and 31 data bytes went out before the first CTS check.
  EXPECT_EQ(wire(3 + 31).size(), 34u);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
  EXPECT_TRUE(wireRest().empty());
}

TEST_F(XyEngine, BatchSendCarriesNameAndSizeInPacketZero) {
  Bytes content = xytest::randomBytes(300, 25);
  WirePacket p0 = startSend(content, 'C', 0, 1);
  EXPECT_EQ(p0.number, 0);
  EXPECT_EQ(p0.complement, 0xFF);
  Bytes expected(path_.begin(), path_.end());
  expected.push_back(0);
  for (char c : std::string("300"))
    expected.push_back(uint8_t(c));
  EXPECT_EQ(p0.data, pad(expected, 128, 0));

  feed(ACK);
  EXPECT_EQ(xyDriver(kPort), 1);  // waits for a new start character
  EXPECT_TRUE(wireRest().empty());
  feed('C');
  xyDriver(kPort);
  xyDriver(kPort);
  Bytes got;
  for (int i = 0; i < 3; ++i) {
    WirePacket p = readPacket(true);
    EXPECT_EQ(p.number, i + 1);
    got.insert(got.end(), p.data.begin(), p.data.end());
    if (i < 2) {
      feed(ACK);
      xyDriver(kPort);
    }
  }
  feed(Bytes{ACK, ACK});  // the last packet's and the EOT's
  xyDriver(kPort);        // EOT acknowledged: waits to start the closing packet 0
  EXPECT_EQ(got, pad(content, 384));
  EXPECT_EQ(wire(1), Bytes{EOT});
  EXPECT_TRUE(wireRest().empty());
  feed('C');
  xyDriver(kPort);
  xyDriver(kPort);
  WirePacket end = readPacket(true, true);
  EXPECT_EQ(end.number, 0);
  EXPECT_EQ(end.data, Bytes(128, 0));
  feed(ACK);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
}

TEST_F(XyEngine, BatchSendOfAnEmptyFileIsPacketZeroAndEot) {
  WirePacket p0 = startSend(Bytes{}, 'C', 0, 1);
  EXPECT_EQ(p0.number, 0);
  feed(ACK);
  xyDriver(kPort);
  feed('C');
  xyDriver(kPort);
  xyDriver(kPort);
  EXPECT_EQ(wire(1), Bytes{EOT});
}

TEST_F(XyEngine, BatchReceiveTakesNameAndCutsToTheAnnouncedSize) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  startReceive('C', 1);
  std::string header = std::string("some/dir/batch.bin") + '\0' + "  200 14000000000 100644";
  Bytes p0 = pad(Bytes(header.begin(), header.end()), 128, 0);
  EXPECT_EQ(deliver(makePacket(0, p0, true)), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_FILE_SIZE), 200);
  xyDriver(kPort);
  EXPECT_EQ(wire(1), Bytes{'C'});  // asks again for the data
  Bytes content = xytest::randomBytes(200, 26);
  EXPECT_EQ(deliver(makePacket(1, slice(content, 0, 128), true)), Bytes{ACK});
  EXPECT_EQ(deliver(makePacket(2, pad(slice(content, 128, 72), 128), true)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});  // its second call asks again
  EXPECT_EQ(wire(1), Bytes{'C'});              // for the next file's packet 0
  EXPECT_EQ(deliver(makePacket(0, Bytes(128, 0), true)), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_STATE), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(readFileBytes(dir_.file("batch.bin")), content);
  ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(XyEngine, BatchReceiveWithoutSizeKeepsWholePackets) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  startReceive(NAK, 1);
  std::string header = std::string("nosize.bin") + '\0';
  EXPECT_EQ(deliver(makePacket(0, pad(Bytes(header.begin(), header.end()), 128, 0), false)),
            Bytes{ACK});
  xyDriver(kPort);
  EXPECT_EQ(wire(1), Bytes{NAK});
  Bytes data = xytest::randomBytes(128, 27);
  EXPECT_EQ(deliver(makePacket(1, data, false)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  EXPECT_EQ(readFileBytes(dir_.file("nosize.bin")), data);
  ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(XyEngine, BadStateIsAnInternalError) {
  ASSERT_EQ(xyStartRx(kPort, dir_.file("r").c_str(), 'C', 0), 1);
  xyList.State = 250;  // no state has this number
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_INTERNAL);
  auto texts = messages();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "!COM1: INTERNAL ERROR: Bad state = 250");
  EXPECT_EQ(texts[1], "!COM1: ERROR -308 (Internal error) @ State=0");
}

TEST_F(XyEngine, TraceAtLevelTwoFollowsTheStates) {
  xyDebug(2);
  startReceive('C');
  auto texts = messages();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0].rfind("COM1:xyStartRx:FileName='", 0), 0u) << texts[0];
  EXPECT_NE(texts[1].find("State = 300"), std::string::npos) << texts[1];
  xyDebug(0);
}
