// Interoperation with lrzsz over socat-linked pseudo-terminals: our sender
// to rx, sx to our receiver, YMODEM batch against sb and rb, and our engine
// against itself, for files around the packet boundaries and a large one.
#include "xy_interop_fixture.h"

#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum class Mode {
  Checksum,  // ours: start NAK / rx without -c; sx plain
  Crc,       // ours: start 'C' / rx -c; sx plain
  OneK,      // ours: 1K packets / rx -c; sx -k
};

const char *modeName(Mode m) {
  return m == Mode::Checksum ? "Checksum" : m == Mode::Crc ? "Crc" : "OneK";
}

struct Case {
  Mode mode;
  size_t size;
};

void PrintTo(const Case &c, std::ostream *os) { *os << modeName(c.mode) << " " << c.size; }

std::string caseName(const ::testing::TestParamInfo<Case> &info) {
  return std::string(modeName(info.param.mode)) + "_" + std::to_string(info.param.size);
}

std::vector<Case> matrix() {
  std::vector<Case> cases;
  for (Mode m : {Mode::Checksum, Mode::Crc, Mode::OneK})
    for (size_t size : {1u, 127u, 128u, 129u, 1023u, 1024u, 1025u})
      cases.push_back({m, size});
  // One large random file per mode.
  for (Mode m : {Mode::Checksum, Mode::Crc, Mode::OneK})
    cases.push_back({m, 200u * 1024u});
  return cases;
}

// Ticks between driver calls: short, to keep the suite fast. One test below
// keeps the window's 50 ms.
constexpr int kTickMs = 1;

}  // namespace

class XySendToRx : public LinkedPeer, public ::testing::WithParamInterface<Case> {};

TEST_P(XySendToRx, FileArrivesIntact) {
  const Case c = GetParam();
  Bytes content = xytest::randomBytes(c.size, uint32_t(c.size) * 3 + uint32_t(c.mode));
  std::string source = ourDir_ + "/source.bin";
  writeFileBytes(source, content);
  xytest::Line line(dir_.path());
  ASSERT_TRUE(
      startReceiver(line, c.mode == Mode::Checksum ? "rx received.bin" : "rx -c received.bin"));
  ASSERT_TRUE(openOurs(line));
  ASSERT_EQ(xyStartTx(kPort, source.c_str(), c.mode == Mode::OneK ? 1 : 0, 0), 1);
  auto r = finishReceiver(line, kTickMs, 120000);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.lastError, 0) << ourMessages() << peerLog();
  EXPECT_NE(peerLog().find("Transfer complete"), std::string::npos) << peerLog();
  EXPECT_TRUE(xytest::equalSaveFill(content, readFileBytes(peerDir_ + "/received.bin")));
}

INSTANTIATE_TEST_SUITE_P(Sizes, XySendToRx, ::testing::ValuesIn(matrix()), caseName);

class XyReceiveFromSx : public LinkedPeer, public ::testing::WithParamInterface<Case> {};

TEST_P(XyReceiveFromSx, FileArrivesIntact) {
  const Case c = GetParam();
  xytest::Line line(dir_.path());
  ASSERT_TRUE(line.startSocat());
  ASSERT_TRUE(openOurs(line));
  Bytes content = xytest::randomBytes(c.size, uint32_t(c.size) * 5 + uint32_t(c.mode));
  writeFileBytes(peerDir_ + "/source.bin", content);

  std::vector<std::string> sx{"sx"};
  if (c.mode == Mode::OneK)
    sx.push_back("-k");
  sx.push_back("source.bin");
  ASSERT_TRUE(startPeer(line, sx));
  std::string target = ourDir_ + "/received.bin";
  ASSERT_EQ(xyStartRx(kPort, target.c_str(), c.mode == Mode::Checksum ? 0x15 : 'C', 0), 1);
  auto r = finish(kTickMs, 120000);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.lastError, 0) << ourMessages() << peerLog();
  EXPECT_EQ(peer_.exitCode(), 0) << peerLog();
  EXPECT_TRUE(xytest::equalSaveFill(content, readFileBytes(target)));
  if (c.mode != Mode::OneK) {
    EXPECT_EQ(readFileBytes(target).size() % 128, 0u);  // whole packets kept
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, XyReceiveFromSx, ::testing::ValuesIn(matrix()), caseName);

// --- Window pacing, batch and ours against ours -----------------------------------

using XyInterop = LinkedPeer;

TEST_F(XyInterop, WindowPacingOf50MsSending) {
  xytest::Line line(dir_.path());
  ASSERT_TRUE(startReceiver(line, "rx -c received.bin"));
  ASSERT_TRUE(openOurs(line));
  Bytes content = xytest::randomBytes(5000, 99);
  std::string source = ourDir_ + "/source.bin";
  writeFileBytes(source, content);
  ASSERT_EQ(xyStartTx(kPort, source.c_str(), 1, 0), 1);
  auto r = finishReceiver(line, 50, 60000);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.lastError, 0) << ourMessages() << peerLog();
  EXPECT_TRUE(xytest::equalSaveFill(content, readFileBytes(peerDir_ + "/received.bin")));
}

TEST_F(XyInterop, WindowPacingOf50MsReceiving) {
  xytest::Line line(dir_.path());
  ASSERT_TRUE(line.startSocat());
  ASSERT_TRUE(openOurs(line));
  Bytes content = xytest::randomBytes(5000, 98);
  writeFileBytes(peerDir_ + "/source.bin", content);
  ASSERT_TRUE(startPeer(line, {"sx", "-k", "source.bin"}));
  std::string target = ourDir_ + "/received.bin";
  ASSERT_EQ(xyStartRx(kPort, target.c_str(), 'C', 0), 1);
  auto r = finish(50, 60000);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.lastError, 0) << ourMessages() << peerLog();
  EXPECT_TRUE(xytest::equalSaveFill(content, readFileBytes(target)));
}

// Our side of a batch test: a fresh line each time, as socat ends with the
// peer that used it.
class XyBatch : public LinkedPeer, public ::testing::WithParamInterface<size_t> {
protected:
  // Runs `ours` in directory `dir`, where packet 0's name is resolved.
  xytest::DriveResult inDirectory(const std::string &dir, int (*start)(const std::string &),
                                  const std::string &name) {
    char cwd[4096];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(chdir(dir.c_str()), 0);
    EXPECT_EQ(start(name), 1);
    auto r = finish(kTickMs, 60000);
    EXPECT_EQ(chdir(cwd), 0);
    return r;
  }
};

TEST_P(XyBatch, FromSb) {
  const size_t size = GetParam();
  xytest::Line line(dir_.path());
  ASSERT_TRUE(line.startSocat());
  ASSERT_TRUE(openOurs(line));
  Bytes content = xytest::randomBytes(size, 77);
  std::string name = "batch.dat";
  writeFileBytes(peerDir_ + "/" + name, content);
  ASSERT_TRUE(startPeer(line, {"sb", name}));
  auto r = inDirectory(
      ourDir_, [](const std::string &) { return xyStartRx(kPort, nullptr, 'C', 1); }, name);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.lastError, 0) << ourMessages() << peerLog();
  EXPECT_EQ(peer_.exitCode(), 0) << peerLog();
  EXPECT_EQ(xyGetParameter(kPort, XY_PARAM_FILE_SIZE), int(size));
  // The announced size cuts the fill: the file arrives exactly.
  EXPECT_EQ(readFileBytes(ourDir_ + "/" + name), content);
}

TEST_P(XyBatch, ToRb) {
  const size_t size = GetParam();
  xytest::Line line(dir_.path());
  ASSERT_TRUE(startReceiver(line, "rb"));
  ASSERT_TRUE(openOurs(line));
  Bytes content = xytest::randomBytes(size, 78);
  std::string name = "sent.dat";
  writeFileBytes(ourDir_ + "/" + name, content);
  // Packet 0 carries the name as given, so it is given relative to our
  // directory: rb keeps files inside its own.
  auto r = inDirectory(
      ourDir_, [](const std::string &n) { return xyStartTx(kPort, n.c_str(), 1, 1); }, name);
  line.wait(15000);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.lastError, 0) << ourMessages() << peerLog();
  EXPECT_NE(peerLog().find("Transfer complete"), std::string::npos) << peerLog();
  EXPECT_EQ(readFileBytes(peerDir_ + "/" + name), content);
}

// Names from the far end are made safe and replace nothing; one longer than
// the record holds fails rather than naming another file.
TEST_F(XyInterop, BatchNamesAreMadeSafeAndReplaceNothing) {
  xytest::Line line(dir_.path());
  ASSERT_TRUE(line.startSocat());
  ASSERT_TRUE(openOurs(line));
  writeFileBytes(ourDir_ + "/keep.txt", Bytes(3, 'o'));
  const std::pair<std::string, std::string> names[] = {{"keep.txt", "keep.txt.1"},
      {"a\nb", "a_b"}, {"C:\\Users\\x\\.profile", ".profile"}, {std::string(130, 'n'), ""}};
  std::vector<std::string> sb{"sb"};
  for (const auto &[sent, kept] : names) {
    writeFileBytes(peerDir_ + "/" + sent, Bytes(sent.begin(), sent.end()));
    sb.push_back(sent);
  }
  ASSERT_TRUE(startPeer(line, sb));
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(ourDir_);
  ASSERT_EQ(xyStartRx(kPort, nullptr, 'C', 1), 1);
  auto r = finish(kTickMs, 60000);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(r.lastError, XY_CANNOT_OPEN) << ourMessages() << peerLog();
  EXPECT_EQ(readFileBytes(ourDir_ + "/keep.txt"), Bytes(3, 'o'));
  std::vector<std::string> made{"keep.txt"};
  for (const auto &[sent, kept] : names)
    if (!kept.empty() && readFileBytes(ourDir_ + "/" + kept) == Bytes(sent.begin(), sent.end()))
      made.push_back(kept);
  EXPECT_EQ(made.size(), std::distance(std::filesystem::directory_iterator(ourDir_), {}));
  EXPECT_EQ(made.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, XyBatch,
                         ::testing::Values(size_t(0), size_t(1), size_t(3000), size_t(70000)));

// Ours against ours: the driver has one transfer record per process, so the
// receiving side runs in a child process on port 1.
TEST_F(XyInterop, OursToOurs) {
  struct Variant {
    int start;
    int oneK;
  };
  for (Variant v : {Variant{0x15, 0}, Variant{'C', 0}, Variant{'C', 1}}) {
    SCOPED_TRACE(v.start * 10 + v.oneK);
    xytest::Line line(dir_.path());
    ASSERT_TRUE(line.startSocat());
    Bytes content = xytest::randomBytes(20000 + size_t(v.oneK), 55);
    std::string source = ourDir_ + "/source.bin", target = peerDir_ + "/received.bin";
    writeFileBytes(source, content);
    // The receiver keeps its port open until the sender is done: SioDone
    // flushes output, and on a pty that drops a last ACK not yet relayed.
    int senderDone[2];
    ASSERT_EQ(pipe(senderDone), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("KESTRELON_COM2", line.b().c_str(), 1);
      if (SioReset(1, 8192, 8192) != 0 || xyAcquire(1) != 0 ||
          xyStartRx(1, target.c_str(), v.start, 0) != 1)
        _exit(2);
      auto r = xytest::driveToEnd(1, kTickMs, 60000);
      pollfd done{senderDone[0], POLLIN, 0};
      poll(&done, 1, 20000);
      SioDone(1);
      _exit(r.ended && r.lastError == 0 ? 0 : 1);
    }
    ASSERT_TRUE(openOurs(line));
    ASSERT_EQ(xyStartTx(kPort, source.c_str(), v.oneK, 0), 1);
    auto r = xytest::driveToEnd(kPort, kTickMs, 60000);
    ASSERT_EQ(write(senderDone[1], "x", 1), 1);
    close(senderDone[0]);
    close(senderDone[1]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.lastError, 0) << ourMessages();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(xytest::equalSaveFill(content, readFileBytes(target)));
    xyRelease(kPort);
    SioDone(kPort);
  }
}
