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

  // Gives the receiver bytes and returns its first answer, the clock moving
  // as the window's timer moves it: a refusal waits for a quiet line.
  Bytes deliver(const Bytes &packet) {
    feed(packet);
    const int sent = param(XY_PARAM_PUT_CHAR_COUNT);
    for (int i = 0; i < 8 && param(XY_PARAM_STATE) != 0; ++i) {
      xyDriver(kPort);
      if (param(XY_PARAM_PUT_CHAR_COUNT) != sent)
        break;
      SteppedClock::advance(kTickMs);
    }
    return wire(1, 300);
  }

  // The end of a receive: the first EOT is refused, the repeated one ends it.
  void endWithEot() {
    EXPECT_EQ(deliver(Bytes{EOT}), Bytes{NAK});
    EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
    EXPECT_EQ(param(XY_PARAM_STATE), 0);
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

  EXPECT_EQ(xyGetBytesDone(kPort), 0);
  feed(ACK);
  uint32_t before = now();
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(xyGetBytesDone(kPort), 128);
  WirePacket p2 = readPacket(true);
  EXPECT_EQ(p2.header, SOH);
  EXPECT_EQ(p2.number, 0x02);
  EXPECT_EQ(p2.complement, 0xFD);
  EXPECT_EQ(p2.data, pad(slice(content, 128, 72), 128));
  // Later packets' check bytes follow their data at once, in the same call.
  EXPECT_EQ(now(), before);

  feed(Bytes{ACK, ACK});  // the packet's, and the EOT's
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(wire(1), Bytes{EOT});
  EXPECT_TRUE(wireRest().empty());
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(xyGetBytesDone(kPort), 200) << "the fill is no part of the file";
  EXPECT_TRUE(messages().empty());
}

TEST_F(XyEngine, CrcReceiveOf200BytesKeepsTheFill) {
  startReceive('C');
  Bytes content = xytest::randomBytes(200, 12);
  EXPECT_EQ(deliver(makePacket(1, slice(content, 0, 128), true)), Bytes{ACK});
  EXPECT_EQ(xyGetBytesDone(kPort), 128);
  EXPECT_EQ(deliver(makePacket(2, pad(slice(content, 128, 72), 128), true)), Bytes{ACK});
  endWithEot();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(xyGetBytesDone(kPort), 256);
  EXPECT_EQ(xyGetBytesDone(kPort + 1), XY_NOT_ACTIVE);
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

// After three refusals in a file the sender keeps to 128-byte packets, the
// refused 1K packet included: its data go out again as 128-byte packets,
// the first with its number.
TEST_F(XyEngine, ThreeRefusalsDropTo128BytePackets) {
  Bytes content = xytest::randomBytes(4096, 14);
  WirePacket p = startSend(content, 'C', 1);
  EXPECT_EQ(p.header, STX);
  for (int nak = 1; nak <= 3; ++nak) {
    feed(NAK);
    xyDriver(kPort);
    WirePacket again = readPacket(true, true);  // the first packet waits again
    EXPECT_EQ(again.number, 1);
    if (nak < 3) {
      EXPECT_EQ(again.header, STX);
      EXPECT_EQ(again.data, p.data);
    } else {
      EXPECT_EQ(again.header, SOH);
      EXPECT_EQ(again.data, slice(content, 0, 128));
    }
  }
  EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 3);
  for (uint8_t number = 2; number <= 9; ++number) {
    feed(ACK);
    xyDriver(kPort);
    WirePacket next = readPacket(true);
    EXPECT_EQ(next.header, SOH);
    EXPECT_EQ(next.number, number);
    EXPECT_EQ(next.data, slice(content, (number - 1) * 128u, 128));
  }
}

// A reply that is neither ACK, NAK nor CAN: when the real answer follows
// within the quiet time it is ignored; followed by silence it counts as a
// refusal (an ACK damaged on the line, or rx -c asking for the first packet
// again with 'C'), and the packet goes out again once the line is quiet.
TEST_F(XyEngine, SenderTakesAStrayReplyFollowedBySilenceAsARefusal) {
  struct Case {
    Bytes reply;
    bool answerFollows;
  } cases[] = {
      {{'C'}, false}, {{0xF9}, false}, {{'x', 0x00}, false}, {{'C'}, true}, {{0xF9}, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.reply));
    const Bytes content = xytest::randomBytes(300, 35);
    const WirePacket p1 = startSend(content, 'C');
    feed(c.reply);
    const uint32_t replied = now();
    EXPECT_EQ(xyDriver(kPort), 1);
    if (c.answerFollows) {
      SteppedClock::advance(kTickMs);
      feed(ACK);
      EXPECT_EQ(xyDriver(kPort), 1);
      EXPECT_EQ(readPacket(true).number, 2);
      EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 0);
    } else {
      const int sent = param(XY_PARAM_PUT_CHAR_COUNT);
      while (param(XY_PARAM_PUT_CHAR_COUNT) == sent && now() - replied < 1000) {
        SteppedClock::advance(kTickMs);
        EXPECT_EQ(xyDriver(kPort), 1);
      }
      EXPECT_GE(now() - replied, XY_QUIET_MS);
      EXPECT_LE(now() - replied, XY_QUIET_MS + kTickMs);
      WirePacket again = readPacket(true, true);
      EXPECT_EQ(again.number, 1);
      EXPECT_EQ(again.data, p1.data);
      EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 1);
    }
    xyAbort(kPort);
    wireRest();
  }
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

// One CAN, as one noise byte can read, is damage; two in a row cancel.
TEST_F(XyEngine, SenderGoesOnAfterOneCanAndEndsOnTwo) {
  startSend(xytest::randomBytes(300, 16), 'C');
  feed(Bytes{CAN, ACK});
  EXPECT_EQ(xyDriver(kPort) + xyDriver(kPort), 2);
  EXPECT_EQ(readPacket(true).number, 2);
  feed(Bytes{CAN, CAN});
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_CANCELLED);
}

// The far end sent XOFF: no call waits, the packet goes out whole on the
// calls after XON; a line that takes nothing for XY_WRITE_WAIT_MS ends it.
TEST_F(XyEngine, APacketTheLineCannotTakeNowGoesOutOnLaterCalls) {
  ASSERT_EQ(SioFlow(kPort, 'S'), 0);
  pty_.send(Bytes{0x13});
  const Bytes content = xytest::randomBytes(1024, 21);
  path_ = dir_.file("tx.bin");
  writeFileBytes(path_, content);
  ASSERT_EQ(xyStartTx(kPort, path_.c_str(), 1, 0), 1);
  feed('C');
  const uint32_t start = now();
  EXPECT_EQ(xyDriver(kPort) + xyDriver(kPort) + xyDriver(kPort), 3);
  EXPECT_EQ(now(), start) << "a call waited for the line";
  pty_.send(Bytes{0x11});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  xyDriver(kPort);
  SteppedClock::advance(XY_FIRST_CHECK_DELAY_MS);  // counted from when the data went
  xyDriver(kPort);
  const Bytes packet = wire(1029);
  ASSERT_EQ(packet.size(), 1029u);
  EXPECT_EQ(slice(packet, 3, 1024), content);
  pty_.send(Bytes{0x13});
  feed(NAK);
  xyDriver(kPort);
  SteppedClock::advance(XY_WRITE_WAIT_MS);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), SIO_WIN32_ERROR);
}

TEST_F(XyEngine, SenderGivesUpWithoutStartCharacterAfterAMinute) {
  path_ = dir_.file("tx.bin");
  writeFileBytes(path_, Bytes{1, 2, 3});
  ASSERT_EQ(xyStartTx(kPort, path_.c_str(), 0, 0), 1);
  uint32_t start = wrapIn(30000);
  int calls = 0;
  while (xyDriver(kPort) != 0 && calls < 5000) {
    ++calls;
    if (calls % 100 == 0 && calls < 1000)
      feed(Bytes{'x', 0x00, ACK});  // not a start character: ignored
    SteppedClock::advance(kTickMs);
  }
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_NO_STARTUP);
  EXPECT_GT(now() - start, 60000u);
  EXPECT_LE(now() - start, 60000u + kTickMs);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
}

TEST_F(XyEngine, SenderTimesOutWaitingForAReply) {
  startSend(xytest::randomBytes(300, 17), 'C');
  feed(ACK);
  // The second packet goes out at once and its reply is awaited.
  wrapIn(5000);
  uint32_t waited = runToEnd();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_TX_AWAIT_REPLY);
  EXPECT_GT(waited, 10000u);
  EXPECT_LE(waited, 10000u + kTickMs);
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
// other than that ACK or a refusal, is ignored; a refusal (a receiver making
// sure of the end) brings the next EOT at once.
TEST_F(XyEngine, SenderIgnoresStrayBytesWhileItsEotAwaitsAnAck) {
  startSend(xytest::randomBytes(100, 30), 'C');
  feed(Bytes{ACK, 'C', 0x00, 'x'});  // the packet's ACK, then noise
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(param(XY_PARAM_STATE), XY_TX_AWAIT_EOT_ACK);
  EXPECT_EQ(wire(1), Bytes{EOT});
  EXPECT_TRUE(wireRest().empty()) << "a stray byte brought another EOT";
  feed(NAK);
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(wire(1), Bytes{EOT}) << "no EOT at once after a NAK";
  feed(ACK);
  EXPECT_EQ(xyDriver(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_TRUE(wireRest().empty());
}

TEST_F(XyEngine, EotRepeatedTenTimesThenGivesUp) {
  startSend(xytest::randomBytes(100, 18), 'C');
  feed(ACK);
  wrapIn(5000);
  // rx takes an EOT only after a quiet second (one inside it reads as
  // noise): each is left that second, and as long again for a loaded machine.
  uint32_t waited = runToEnd();
  EXPECT_GT(waited, 10 * 2000u);
  EXPECT_LE(waited, 10 * (XY_EOT_WAIT_MS + kTickMs));
  EXPECT_EQ(wire(10), Bytes(10, EOT));
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
  EXPECT_TRUE(wireRest().empty());
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_EOT_NOT_ACKED);
}

// The answer to EOT damaged (noise on the last ACK), then silence: an end.
TEST_F(XyEngine, EotAnsweredByADamagedByteThenSilenceEndsWell) {
  startSend(xytest::randomBytes(100, 18), 'C');
  feed(Bytes{ACK, 0x86});
  runToEnd();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
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
  // RxNakRate seconds, and the receive never gives up.
  uint32_t last = start;
  int repeats = 0, sent = param(XY_PARAM_PUT_CHAR_COUNT);
  while (now() - start < 60000) {
    ASSERT_EQ(xyDriver(kPort), 1);
    if (param(XY_PARAM_PUT_CHAR_COUNT) != sent) {
      sent = param(XY_PARAM_PUT_CHAR_COUNT);
      EXPECT_EQ(wire(1), Bytes{NAK});
      EXPECT_EQ(now() - last, 2000u);
      last = now();
      ++repeats;
    }
    SteppedClock::advance(kTickMs);
  }
  EXPECT_TRUE(wireRest().empty());
  EXPECT_GE(repeats, 60000 / 2000 - 1);
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
  endWithEot();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(readFileBytes(path_), data);
}

// sx -k never shrinks a packet and gives up after ten refusals of one: the
// third damaged copy is rebuilt from the bytes two copies agree on.
TEST_F(XyEngine, ReceiverRebuildsAPacketDamagedThreeTimesFromItsCopies) {
  startReceive('C');
  const Bytes data = xytest::randomBytes(1024, 23);
  for (size_t damaged : {3 + 10, 3 + 1024 + 1, 3 + 700}) {  // data, check, data
    Bytes copy = makePacket(1, data, true);
    copy[damaged] ^= 0xFF;
    EXPECT_EQ(deliver(copy), Bytes{damaged == 703 ? ACK : NAK});
  }
  endWithEot();
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
  endWithEot();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(readFileBytes(path_), data);
}

TEST_F(XyEngine, ReceiverAcknowledgesARepeatedPacketWithoutWritingIt) {
  startReceive(NAK);
  Bytes one = xytest::randomBytes(128, 20), two = xytest::randomBytes(128, 21);
  EXPECT_EQ(deliver(makePacket(1, one, false)), Bytes{ACK});
  EXPECT_EQ(deliver(makePacket(1, one, false)), Bytes{ACK});  // our ACK was lost
  EXPECT_EQ(deliver(makePacket(2, two, false)), Bytes{ACK});
  endWithEot();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  Bytes both = one;
  both.insert(both.end(), two.begin(), two.end());
  EXPECT_EQ(readFileBytes(path_), both);
}

// Number and complement that do not add up to 255 were damaged on the
// line: the packet is refused, and its resend taken.
TEST_F(XyEngine, ReceiverChecksPacketNumberAgainstComplement) {
  startReceive('C');
  Bytes data = xytest::randomBytes(128, 22);
  for (uint8_t n = 1; n <= 5; ++n)  // the last, 0x05 with 0xFA: accepted
    ASSERT_EQ(deliver(makePacket(n, data, true)), Bytes{ACK}) << int(n);
  Bytes bad = makePacket(6, data, true);
  bad[2] = 0xFB;  // 0x06 + 0xFB != 255
  EXPECT_EQ(deliver(bad), Bytes{NAK});
  EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 1);
  EXPECT_EQ(deliver(makePacket(6, data, true)), Bytes{ACK});
  endWithEot();
  EXPECT_EQ(readFileBytes(path_).size(), 6 * 128u);
}

// A packet is written only when it is the one expected; the one accepted
// last, sent again, is acknowledged without being written; any other number
// would leave a gap or a repeat in the file and ends the receive.
TEST_F(XyEngine, ReceiverTakesTheExpectedPacketOrARepeatOnly) {
  struct Case {
    std::vector<uint8_t> numbers;
    int error;  // of the last packet; 0: all accepted, the receive ends well
  } cases[] = {
      {{1, 2, 3}, 0},
      {{1, 1, 2, 2}, 0},
      {{1, 3}, XY_BAD_PACKET_NUMBER},
      {{2}, XY_BAD_PACKET_NUMBER},
      {{1, 2, 1}, XY_BAD_PACKET_NUMBER},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.numbers));
    startReceive(NAK);
    Bytes written;
    uint8_t last = 0;
    for (size_t i = 0; i < c.numbers.size(); ++i) {
      Bytes data = xytest::randomBytes(128, c.numbers[i]);
      Bytes answer = deliver(makePacket(c.numbers[i], data, false));
      if (c.error && i + 1 == c.numbers.size()) {
        EXPECT_EQ(answer, Bytes{CAN});
        EXPECT_EQ(wire(2), (Bytes{CAN, CAN}));
        EXPECT_EQ(param(XY_PARAM_LAST_ERROR), c.error);
        break;
      }
      EXPECT_EQ(answer, Bytes{ACK});
      if (c.numbers[i] != last)
        written.insert(written.end(), data.begin(), data.end());
      last = c.numbers[i];
    }
    if (!c.error) {
      endWithEot();
      EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
    }
    EXPECT_EQ(readFileBytes(path_), written);
    wireRest();
  }
}

// Noise on the header byte makes the receiver read a 1K packet as a short
// one: it refuses it, but only once the rest has stopped arriving, so the
// rest is not taken for the next packet; the resend is then accepted.
TEST_F(XyEngine, ReceiverDropsTheRestOfARefusedPacketBeforeItsNak) {
  const Bytes data = xytest::randomBytes(1024, 32);
  const Bytes good = makePacket(1, data, true);
  Bytes seen = good;
  seen[0] = SOH;
  for (size_t piece : {seen.size(), size_t(300), size_t(64)}) {
    SCOPED_TRACE(piece);
    startReceive('C');
    const int sent = param(XY_PARAM_PUT_CHAR_COUNT);
    uint32_t lastPiece = now();
    for (size_t at = 0; at < seen.size(); at += piece) {
      feed(slice(seen, at, std::min(piece, seen.size() - at)));
      lastPiece = now();
      EXPECT_EQ(xyDriver(kPort), 1);
      EXPECT_EQ(xyDriver(kPort), 1);
      SteppedClock::advance(kTickMs);
    }
    while (param(XY_PARAM_PUT_CHAR_COUNT) == sent && now() - lastPiece < 10000) {
      EXPECT_EQ(xyDriver(kPort), 1);
      if (param(XY_PARAM_PUT_CHAR_COUNT) == sent)
        SteppedClock::advance(kTickMs);
    }
    EXPECT_GE(now() - lastPiece, XY_QUIET_MS) << "NAK while the packet was still arriving";
    EXPECT_LE(now() - lastPiece, XY_QUIET_MS + kTickMs);
    EXPECT_EQ(wire(1), Bytes{NAK});
    EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 1);
    EXPECT_EQ(deliver(good), Bytes{ACK});
    endWithEot();
    EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
    EXPECT_EQ(readFileBytes(path_), data);
  }
}

// A line that never goes quiet still gets its NAK, 6 s after the refusal.
TEST_F(XyEngine, ReceiverRefusesWithinSixSecondsOnALineThatNeverGoesQuiet) {
  startReceive('C');
  Bytes bad = makePacket(1, Bytes(128, 9), true);
  bad[3 + 5] ^= 0xFF;
  feed(bad);
  const int sent = param(XY_PARAM_PUT_CHAR_COUNT);
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(xyDriver(kPort), 1);
  const uint32_t refused = now();
  while (param(XY_PARAM_PUT_CHAR_COUNT) == sent && now() - refused < 20000) {
    feed(0x55);
    SteppedClock::advance(kTickMs);
    EXPECT_EQ(xyDriver(kPort), 1);
  }
  EXPECT_GE(now() - refused, XY_BYTE_WAIT_MS);
  EXPECT_LE(now() - refused, XY_BYTE_WAIT_MS + kTickMs);
  EXPECT_EQ(wire(1), Bytes{NAK});
}

// One noise byte that reads as EOT between two packets does not end the
// receive: it is refused, and the next packet goes on.
TEST_F(XyEngine, ReceiverRefusesALoneEotAndGoesOnWithTheNextPacket) {
  startReceive('C');
  Bytes one = xytest::randomBytes(128, 33), two = xytest::randomBytes(1024, 34);
  EXPECT_EQ(deliver(makePacket(1, one, true)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{NAK});
  EXPECT_EQ(param(XY_PARAM_STATE), XY_RX_AWAIT_PACKET);
  EXPECT_EQ(deliver(makePacket(2, two, true)), Bytes{ACK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{NAK}) << "the EOT refused earlier still counted";
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  Bytes both = one;
  both.insert(both.end(), two.begin(), two.end());
  EXPECT_EQ(readFileBytes(path_), both);
}

TEST_F(XyEngine, ReceiverRefusesOneCanAndEndsOnTwo) {
  startReceive('C');
  EXPECT_EQ(deliver(Bytes{CAN}), Bytes{NAK});
  xyList.BytesWritten = INT32_MAX;  // and counts past 2 GiB
  EXPECT_EQ(deliver(makePacket(1, xytest::randomBytes(128, 3), true)), Bytes{ACK});
  EXPECT_EQ(xyGetBytesDone(kPort), int64_t(INT32_MAX) + 128);
  EXPECT_EQ(deliver(Bytes{CAN, CAN}), (Bytes{CAN}));
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_CANCELLED);
  EXPECT_EQ(wire(2), (Bytes{CAN, CAN}));
}

// No next packet: the sender may be waiting for an answer the line
// damaged, so it is asked again with NAK every RxNakRate seconds, four times,
// before the receive gives up at the fifth silence.
TEST_F(XyEngine, ReceiverAsksAgainThenTimesOutWaitingForTheNextPacket) {
  startReceive('C');
  EXPECT_EQ(deliver(makePacket(1, Bytes(128, 7), true)), Bytes{ACK});
  wrapIn(2000);
  const uint32_t start = now();
  std::vector<uint32_t> asked;
  int sent = param(XY_PARAM_PUT_CHAR_COUNT);
  while (xyDriver(kPort) != 0) {
    if (param(XY_PARAM_PUT_CHAR_COUNT) != sent) {
      sent = param(XY_PARAM_PUT_CHAR_COUNT);
      EXPECT_EQ(wire(1), Bytes{NAK});
      asked.push_back(now() - start);
    }
    SteppedClock::advance(kTickMs);
  }
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_RX_AWAIT_PACKET);
  ASSERT_EQ(asked.size(), 4u);
  uint32_t from = 0;
  for (uint32_t at : asked) {
    // Each silence lasts more than 4 s, then the quiet time before a NAK.
    EXPECT_GT(at - from, 4000u + XY_QUIET_MS);
    EXPECT_LE(at - from, 4000u + XY_QUIET_MS + 2 * kTickMs);
    from = at;
  }
  EXPECT_GT(now() - start - from, 4000u);
  EXPECT_LE(now() - start - from, 4000u + kTickMs);
  EXPECT_EQ(param(XY_PARAM_ERROR_COUNT), 0) << "no packet was refused";
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
    xyDriver(kPort);  // takes what came
    wrapIn(3000);
    uint32_t waited = runToEnd();
    EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
    EXPECT_EQ(param(XY_PARAM_ERROR_STATE), cut.state);
    EXPECT_GT(waited, 6000u);
    EXPECT_LE(waited, 6000u + kTickMs);
    EXPECT_TRUE(readFileBytes(path_).empty());
    wireRest();
  }
}

// A packet that arrives in pieces, with pauses within the 6 s allowed
// between two bytes: each call takes what has come and returns at once.
TEST_F(XyEngine, ReceiverTakesAPacketInPiecesWithoutWaiting) {
  startReceive('C');
  Bytes data = xytest::randomBytes(1024, 24);
  Bytes packet = makePacket(1, data, true);
  const size_t cuts[] = {0, 1, 2, 3, 60, 700, 1027, 1028, packet.size()};
  for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
    feed(slice(packet, cuts[i], cuts[i + 1] - cuts[i]));
    const uint32_t before = now();
    EXPECT_EQ(xyDriver(kPort), 1);
    EXPECT_EQ(now(), before) << "a call waited for the line";
    if (i + 2 < std::size(cuts)) {
      EXPECT_TRUE(pty_.drain(0).empty());
      SteppedClock::advance(5900);
      EXPECT_EQ(xyDriver(kPort), 1);
    }
  }
  EXPECT_EQ(wire(1), Bytes{ACK});
  endWithEot();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), 0);
  EXPECT_EQ(readFileBytes(path_), data);
}

TEST_F(XyEngine, CtsThatNeverRisesEndsTheWaitAfterTenSeconds) {
  // A pty has no modem lines: CTS reads as down, so a transfer told to
  // watch CTS waits for it and must give up.
  startReceive('C');
  xyList.CTSflag = 1;
  wrapIn(5000);
  feed(makePacket(1, Bytes(128, 3), true));
  uint32_t waited = runToEnd();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_RX_ACCEPT_PACKET);
  EXPECT_GE(waited, 10000u);
  EXPECT_LE(waited, 10000u + kTickMs);
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
  wrapIn(5000);
  uint32_t waited = runToEnd();
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_TX_SEND_DATA);
  EXPECT_GE(waited, 10000u);
  EXPECT_LE(waited, 10000u + kTickMs);
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
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{NAK});
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{ACK});
  xyDriver(kPort);
  EXPECT_EQ(wire(1), Bytes{'C'});  // for the next file's packet 0
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
  EXPECT_EQ(deliver(Bytes{EOT}), Bytes{NAK});
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
