// Transfers over the line simulator with corrupted bytes: a bad packet is
// refused and sent again, and random noise never yields a wrong file
// reported as a success.
#include "xy_interop_fixture.h"

namespace {

constexpr int kTickMs = 1;

}  // namespace

class XyNoise : public LinkedPeer {
protected:
  // rx (or another receiving program) on end b of the simulated line,
  // through pipes, for the reason given in Line.
  bool startReceiverOnLine(xytest::Line &line, const std::string &command) {
    peerLog_ = dir_.file("peer.log");
    bool ok =
        peer_.start({"socat", "OPEN:" + line.b() + ",raw,echo=0", "EXEC:" + command + ",pipes"},
                    peerDir_, "", peerLog_);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return ok;
  }

  struct Outcome {
    xytest::DriveResult drive;
    bool identical = false;
    uint64_t corrupted = 0;
    int naks = 0;  // NAKs our side received (sending) or sent (receiving)
  };

  // Ours sends `content` to rx -c over a line with the given options.
  Outcome sendToRx(const Bytes &content, const std::vector<std::string> &lineOptions) {
    xytest::Line line(dir_.path());
    EXPECT_TRUE(line.startSim(lineOptions));
    std::string source = ourDir_ + "/source.bin", target = peerDir_ + "/received.bin";
    unlink(target.c_str());
    writeFileBytes(source, content);
    EXPECT_TRUE(startReceiverOnLine(line, "rx -c received.bin"));
    EXPECT_TRUE(openOurs(line));
    EXPECT_EQ(xyStartTx(kPort, source.c_str(), 1, 0), 1);
    return finishOver(line, content, target);
  }

  // sx -k sends `content` to ours over a line with the given options.
  Outcome receiveFromSx(const Bytes &content, int startChar,
                        const std::vector<std::string> &lineOptions) {
    xytest::Line line(dir_.path());
    EXPECT_TRUE(line.startSim(lineOptions));
    writeFileBytes(peerDir_ + "/source.bin", content);
    std::string target = ourDir_ + "/received.bin";
    EXPECT_TRUE(startPeer(line, {"sx", "-k", "source.bin"}));
    EXPECT_TRUE(openOurs(line));
    EXPECT_EQ(xyStartRx(kPort, target.c_str(), startChar, 0), 1);
    return finishOver(line, content, target);
  }

  // Drives the started transfer to its end and tells how it went.
  Outcome finishOver(xytest::Line &line, const Bytes &content, const std::string &target) {
    Outcome out;
    out.drive = finish(kTickMs, 90000);
    out.identical = xytest::equalSaveFill(content, readFileBytes(target));
    out.naks = xyGetParameter(kPort, XY_PARAM_ERROR_COUNT);
    closeOurs();
    line.stop();
    out.corrupted = line.corrupted("ab") + line.corrupted("ba");
    return out;
  }

  void closeOurs() {
    xyRelease(kPort);
    SioDone(kPort);
  }
};

TEST_F(XyNoise, CorruptedDataByteIsResentToRx) {
  Bytes content = xytest::randomBytes(5000, 41);
  // Our packets are 1029 bytes: offset 13 is a data byte of packet 1 (rx
  // answers it with 'C' again); after its resend (1029..2057), 2058 + 3 + 10
  // one of packet 2; after that one's resend (3087..4115), 4116 + 3 + 100
  // one of packet 3.
  Outcome out = sendToRx(content, {"--corrupt-ab", "13,2071,4219"});
  ASSERT_TRUE(out.drive.ended);
  EXPECT_EQ(out.drive.lastError, 0) << ourMessages() << peerLog();
  EXPECT_EQ(out.corrupted, 3u);
  EXPECT_EQ(out.naks, 3);
  EXPECT_TRUE(out.identical);
  EXPECT_NE(peerLog().find("Transfer complete"), std::string::npos) << peerLog();
}

TEST_F(XyNoise, CorruptedDataByteFromSxIsRefusedAndResent) {
  Bytes content = xytest::randomBytes(5000, 42);
  // sx starts with packet 1: offset 3 + 700 is one of its data bytes.
  Outcome out = receiveFromSx(content, 'C', {"--corrupt-ba", "703"});
  ASSERT_TRUE(out.drive.ended);
  EXPECT_EQ(out.drive.lastError, 0) << ourMessages() << peerLog();
  EXPECT_EQ(out.corrupted, 1u);
  EXPECT_TRUE(out.identical);
  EXPECT_EQ(peer_.exitCode(), 0) << peerLog();
  EXPECT_EQ(out.naks, 1);
  EXPECT_NE(ourMessages().find("COM1: NAK 1: Bad CS"), std::string::npos);
}

// Both directions through random noise: a run may fail (a corrupted header
// byte cannot be told from a stray one), but one that reports success has
// the right file, and most runs hit by noise still succeed.
TEST_F(XyNoise, RandomNoiseNeverYieldsAWrongFileReportedAsSuccess) {
  int noisyRuns = 0, noisySuccesses = 0;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    std::vector<std::string> noise{"--random-ab", "5000",   "--random-ba",
                                   "5000",        "--seed", std::to_string(seed)};
    Bytes content = xytest::randomBytes(30000, seed);
    for (const Outcome &run : {sendToRx(content, noise), receiveFromSx(content, 'C', noise)}) {
      ASSERT_TRUE(run.drive.ended);
      if (run.drive.lastError == 0)
        EXPECT_TRUE(run.identical) << "success reported for a wrong file";
      else
        EXPECT_LT(run.drive.lastError, 0);
      if (run.corrupted > 0) {
        ++noisyRuns;
        noisySuccesses += run.drive.lastError == 0;
      }
    }
    peer_.stop();
  }
  EXPECT_GE(noisyRuns, 6) << "the noise was there";
  EXPECT_GE(noisySuccesses * 2, noisyRuns) << "runs through noise mostly recover";
  RecordProperty("noisy_runs", noisyRuns);
  RecordProperty("noisy_successes", noisySuccesses);
}
