// Checks against a real UART, which keeps every character format a
// pseudo-terminal drops. Runs only when KESTRELON_TEST_UART names the device
// (e.g. KESTRELON_TEST_UART=/dev/ttyS0); nothing is sent on its line: data
// goes through the UART's internal loopback when it has one.
#include "ser/ser.h"

#include "device_view.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPort = 5;            // COM6
constexpr int kModemLoop = 0x8000;  // TIOCM_LOOP: the UART's internal loopback

class SerUart : public ::testing::Test {
protected:
  void SetUp() override {
    const char *path = getenv("KESTRELON_TEST_UART");
    if (!path || !*path)
      GTEST_SKIP() << "set KESTRELON_TEST_UART to a serial device to run";
    setenv("KESTRELON_COM6", path, 1);
    // A second descriptor to watch the settings and the lines, opened first:
    // an open raises DTR and RTS, and once the port is open only root gets
    // past its exclusive mode.
    watch_ = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(SioReset(kPort, 8192, 8192), 0) << "errno " << LastWinError;
  }
  void TearDown() override {
    if (watch_ >= 0) {
      int loop = kModemLoop;
      ioctl(watch_, TIOCMBIC, &loop);
      close(watch_);
    }
    SioRTS(kPort, 'C');
    SioDone(kPort);
    unsetenv("KESTRELON_COM6");
  }
  // DTR and RTS as the UART drives them (TIOCM_DTR | TIOCM_RTS).
  int lines() {
    int bits = 0;
    EXPECT_EQ(ioctl(watch_, TIOCMGET, &bits), 0);
    return bits & (TIOCM_DTR | TIOCM_RTS);
  }
  void setLines(int bits) {
    int all = TIOCM_DTR | TIOCM_RTS;
    ASSERT_EQ(ioctl(watch_, TIOCMBIC, &all), 0);
    ASSERT_EQ(ioctl(watch_, TIOCMBIS, &bits), 0);
  }
  void setSpeed(speed_t speed) {
    termios t{};
    ASSERT_EQ(tcgetattr(watch_, &t), 0);
    cfsetspeed(&t, speed);
    ASSERT_EQ(tcsetattr(watch_, TCSANOW, &t), 0);
  }

  int watch_ = -1;
};

}  // namespace

// Linux raises DTR and RTS whenever the device is opened, and again when its
// speed leaves 0; the port opens with both down, as its Flags say, until
// SioDTR or SioRTS raises them.
TEST_F(SerUart, EveryOpenLeavesDtrAndRtsDownAsFlagsSay) {
  if (watch_ < 0)
    GTEST_SKIP() << "the device could not be opened to watch its lines";
  ASSERT_EQ(SioDTR(kPort, 'R') | SioRTS(kPort, 'R'), 0);
  EXPECT_EQ(lines(), 0) << "the open of SetUp";
  for (bool fromSpeedZero : {false, true}) {
    SCOPED_TRACE(fromSpeedZero);
    setLines(TIOCM_DTR | TIOCM_RTS);
    ASSERT_NE(SioDone(kPort), 0);
    if (fromSpeedZero)
      setSpeed(B0);
    ASSERT_EQ(SioReset(kPort, 8192, 8192), 0);
    EXPECT_EQ(lines(), 0);
    EXPECT_EQ(SioDTR(kPort, 'R') | SioRTS(kPort, 'R'), 0);
  }
  // SioDone puts back the speed it found, 0: leave the device at a speed.
  ASSERT_NE(SioDone(kPort), 0);
  setSpeed(B9600);
  ASSERT_EQ(SioReset(kPort, 8192, 8192), 0);
}

// Settings applied again leave the lines as Flags says; under RTS/CTS
// handshaking RTS is up for the kernel to drive, and down again after it.
TEST_F(SerUart, AppliedSettingsLeaveTheLinesAsFlagsSay) {
  if (watch_ < 0)
    GTEST_SKIP() << "the device could not be opened to watch its lines";
  ASSERT_EQ(SioFlow(kPort, 'H'), 0);
  EXPECT_EQ(lines(), TIOCM_RTS) << "handshaking raises RTS";
  ASSERT_EQ(SioFlow(kPort, 'N'), 0);
  EXPECT_EQ(lines(), 0);
  EXPECT_NE(SioDTR(kPort, 'S'), 0);
  setLines(TIOCM_RTS);  // lines changed behind the library's back
  ASSERT_EQ(SioParms(kPort, 0, 0, 8), 0);
  EXPECT_EQ(lines(), TIOCM_DTR);
  EXPECT_NE(SioDTR(kPort, 'C'), 0);
}

TEST_F(SerUart, EveryCharacterFormatIsTakenAsAsked) {
  struct Case {
    int parity, stop, data;
    tcflag_t cflag;
  } cases[] = {
      {0, 0, 8, CS8},
      {1, 0, 7, CS7 | PARENB | PARODD},
      {2, 2, 7, CS7 | PARENB | CSTOPB},
      {3, 0, 8, CS8 | PARENB | PARODD | CMSPAR},
      {4, 0, 6, CS6 | PARENB | CMSPAR},
      {0, 1, 5, CS5 | CSTOPB},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.parity << "/" << c.stop << "/" << c.data);
    EXPECT_EQ(SioParms(kPort, c.parity, c.stop, c.data), 0);
    EXPECT_NE(SioBaud(kPort, 6), 0) << "the driver changed the format";
    if (watch_ >= 0) {
      DeviceView v = viewDevice(watch_);
      EXPECT_EQ(v.cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.cflag);
      EXPECT_EQ(v.ospeed, 19200u);
    }
  }
  EXPECT_NE(SioBaud(kPort, 12345), 0);
  if (watch_ >= 0) {
    EXPECT_EQ(viewDevice(watch_).ospeed, 12345u);
  }
}

TEST_F(SerUart, ModemLinesAreDrivenAndReadAsMaskedBits) {
  EXPECT_NE(SioDTR(kPort, 'S'), 0);
  EXPECT_NE(SioRTS(kPort, 'S'), 0);
  if (watch_ >= 0) {
    int lines = 0;
    ASSERT_EQ(ioctl(watch_, TIOCMGET, &lines), 0);
    EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
  }
  // Settings changes raise them again when they were raised.
  SioParms(kPort, 0, 0, 8);
  EXPECT_NE(SioDTR(kPort, 'C'), 0);
  if (watch_ >= 0) {
    int lines = 0;
    ASSERT_EQ(ioctl(watch_, TIOCMGET, &lines), 0);
    EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), TIOCM_RTS);
  }
  using Reader = int (*)(int);
  for (auto [reader, mask] :
       {std::pair<Reader, int>{SioCTS, 0x10}, {SioDSR, 0x20}, {SioRI, 0x40}, {SioDCD, 0x80}}) {
    int r = reader(kPort);
    EXPECT_TRUE(r == 0 || r == mask) << r;
  }
  EXPECT_EQ(SioStatus(kPort, 0), 0);
  EXPECT_GE(SioStatus(kPort, 0xFFFF), 0);
}

// A UART's driver counts line events; each open starts the port's counts
// from 0, whatever the driver counted before.
TEST_F(SerUart, LineCountsAreKeptAndStartAtZeroAtEveryOpen) {
  for (int open = 0; open < 2; ++open) {
    SioLineCounts counts;
    counts.framing = 99;
    ASSERT_EQ(SioCounts(kPort, &counts), 1) << "the driver keeps no counts";
    EXPECT_EQ(counts.overrun + counts.parity + counts.framing + counts.breaks + counts.overflow,
              0u);
    ASSERT_NE(SioDone(kPort), 0);
    ASSERT_EQ(SioReset(kPort, 8192, 8192), 0);
  }
}

TEST_F(SerUart, EveryByteValueComesBackThroughTheLoopback) {
  int loop = kModemLoop;
  if (watch_ < 0 || ioctl(watch_, TIOCMBIS, &loop) != 0)
    GTEST_SKIP() << "no loopback on this device";
  ASSERT_NE(SioBaud(kPort, 9), 0);
  SioRxClear(kPort);
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i)
    all[size_t(i)] = uint8_t(i);
  ASSERT_EQ(SioPuts(kPort, all.data(), 256), 256);
  std::vector<uint8_t> got;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (got.size() < 256 && std::chrono::steady_clock::now() < until) {
    uint8_t buf[256];
    int n = SioGets(kPort, buf, int(256 - got.size()));
    ASSERT_GE(n, 0);
    got.insert(got.end(), buf, buf + n);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(got, all);
}

// A break on the line is counted for SioStatus and never read as a 0x00.
TEST_F(SerUart, ReceivedBreakIsCountedAndIsNoDataByte) {
  int loop = kModemLoop;
  if (watch_ < 0 || ioctl(watch_, TIOCMBIS, &loop) != 0)
    GTEST_SKIP() << "no loopback on this device";
  SioRxClear(kPort);
  SioStatus(kPort, 0xFFFF);
  ASSERT_NE(SioBrkSig(kPort, 'A'), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_NE(SioBrkSig(kPort, 'C'), 0);
  ASSERT_EQ(SioPutc(kPort, 'b'), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  SioLineCounts counts;
  if (SioStatus(kPort, 0x10) == 0)
    GTEST_SKIP() << "this UART's loopback does not carry a break";
  EXPECT_EQ(SioCounts(kPort, &counts), 1);
  EXPECT_GE(counts.breaks, 1u);
  uint8_t got[8] = {};
  EXPECT_EQ(SioGets(kPort, got, sizeof got), 1);
  EXPECT_EQ(got[0], 'b');
}

// Through the UART's internal loopback DTR drives DSR and RTS drives CTS:
// the lines are known, and each input follows its output both ways.
TEST_F(SerUart, ModemLinesFollowDtrAndRtsThroughTheLoopback) {
  int loop = kModemLoop;
  if (watch_ < 0 || ioctl(watch_, TIOCMBIS, &loop) != 0)
    GTEST_SKIP() << "the UART has no internal loopback";
  for (int level : {1, 0, 1}) {
    SioDTR(kPort, level ? 'S' : 'C');
    SioRTS(kPort, level ? 'C' : 'S');
    int bits = -1;
    ASSERT_EQ(SioModemLines(kPort, &bits), 1);
    EXPECT_EQ(bits & (SIO_LINE_DSR | SIO_LINE_CTS), level ? SIO_LINE_DSR : SIO_LINE_CTS);
    EXPECT_EQ(bits & (SIO_LINE_DTR | SIO_LINE_RTS), level ? SIO_LINE_DTR : SIO_LINE_RTS);
  }
}
