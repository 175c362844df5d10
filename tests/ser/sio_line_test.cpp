// Line settings, line signals, error bits and the library's fixed answers, as
// the device sees them (read back from the pseudo-terminal's master side).
#include "ser_test_util.h"

#include "device_view.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <string>
#include <termios.h>

namespace {

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

}  // namespace

// --- Speed -------------------------------------------------------------------

TEST_F(SerTest, BaudCodesSelectTheTableRatesAndOtherValuesAreRates) {
  openPort();
  const uint32_t table[10] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (int code = 0; code < 10; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(BaudValue[code], table[code]);
    EXPECT_NE(SioBaud(kPort, code), 0);
    EXPECT_EQ(viewDevice(pty_.masterFd()).ospeed, table[code]);
    EXPECT_EQ(viewDevice(pty_.masterFd()).ispeed, table[code]);
    EXPECT_EQ(PortDCB[kPort].BaudRate, table[code]);
  }
  // Above 9 the argument is the rate itself, standard or not.
  for (uint32_t rate : {10u, 2400u, 12345u, 250000u, 4000000u}) {
    SCOPED_TRACE(rate);
    EXPECT_NE(SioBaud(kPort, int(rate)), 0);
    EXPECT_EQ(viewDevice(pty_.masterFd()).ospeed, rate);
    EXPECT_EQ(viewDevice(pty_.masterFd()).ispeed, rate);
  }
}

TEST_F(SerTest, DefaultRateAppliesToEveryLaterOpenWithoutAnOpenPort) {
  EXPECT_EQ(SioBaud(-1, 19200), 0);
  EXPECT_EQ(BaudRateDefault, 19200u);
  openPort();
  EXPECT_EQ(viewDevice(pty_.masterFd()).ospeed, 19200u);
  // A setting made on an open port lasts only until the port is reopened.
  SioBaud(kPort, 9);
  SioDone(kPort);
  openPort();
  EXPECT_EQ(viewDevice(pty_.masterFd()).ospeed, 19200u);
  // The default is a rate, never a code.
  SioDone(kPort);
  SioBaud(-1, 5);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), 0);
  EXPECT_EQ(viewDevice(pty_.masterFd()).ospeed, 5u);
}

TEST_F(SerTest, RateZeroIsRefusedAndLeavesTheLineAlone) {
  openPort();
  SioBaud(kPort, 9);
  EXPECT_EQ(SioBaud(kPort, 0), 1) << "0 is the code of 110";
  EXPECT_EQ(viewDevice(pty_.masterFd()).ospeed, 110u);
  SioDone(kPort);
  SioBaud(-1, 0);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EINVAL);
  EXPECT_NE(viewDevice(pty_.masterFd()).ospeed, 0u);
}

// --- Character format ---------------------------------------------------------

TEST_F(SerTest, StopBitsReachTheDevice) {
  openPort();
  struct Case {
    int stop;
    bool twoStopBits;
  } cases[] = {{2, true}, {1, true} /* 1.5 is made as 2 */, {0, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stop);
    EXPECT_EQ(SioParms(kPort, 0, c.stop, 8), 0);
    EXPECT_EQ(bool(viewDevice(pty_.masterFd()).cflag & CSTOPB), c.twoStopBits);
    EXPECT_EQ(PortDCB[kPort].StopBits, c.stop);
  }
}

// A pseudo-terminal keeps only 8 data bits and no parity enable: a setting
// that asks for more is refused as a whole and reported, the device keeps
// what it had, the record goes back to it, and the next setting is taken.
TEST_F(SerTest, RefusedSettingIsReportedAndLeavesDeviceAndRecordAsTheyWere) {
  struct Case {
    const char *what;
    int (*apply)(int port);
  } cases[] = {
      {"even parity and two stop bits", [](int port) { return SioParms(port, 2, 2, 8); }},
      {"7 data bits and two stop bits", [](int port) { return SioParms(port, 0, 2, 7); }},
      {"mark parity", [](int port) { return SioParms(port, 3, 0, 8); }},
      {"no such parity", [](int port) { return SioParms(port, 5, 0, 8); }},
      {"no such stop bits", [](int port) { return SioParms(port, 0, 3, 8); }},
      {"4 data bits", [](int port) { return SioParms(port, 0, 0, 4); }},
      {"9 data bits", [](int port) { return SioParms(port, 0, 0, 9); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    openPort();
    SioFlow(kPort, 'H');
    const DeviceView before = viewDevice(pty_.masterFd());
    const PortDCB_t record = PortDCB[kPort];
    EXPECT_EQ(c.apply(kPort), SIO_WIN32_ERROR);
    const DeviceView after = viewDevice(pty_.masterFd());
    EXPECT_EQ(after.cflag, before.cflag);
    EXPECT_EQ(after.iflag, before.iflag);
    EXPECT_EQ(after.ospeed, before.ospeed);
    EXPECT_EQ(PortDCB[kPort].Parity, record.Parity);
    EXPECT_EQ(PortDCB[kPort].ByteSize, record.ByteSize);
    EXPECT_EQ(PortDCB[kPort].StopBits, record.StopBits);
    EXPECT_EQ(PortDCB[kPort].BaudRate, record.BaudRate);
    EXPECT_NE(SioBaud(kPort, 6), 0) << "the refused value poisons the next setting";
    EXPECT_EQ(SioFlow(kPort, 'N'), 0);
    SioDone(kPort);
  }
  openPort();
  EXPECT_EQ(SioParms(kPort, 2, 0, 8), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EINVAL);
  EXPECT_EQ(SioParms(kPort, 0x100, 0x200, 0x108), 0) << "only the low 8 bits count";
}

// The whole settings in one apply; refused, every value the device takes
// on its own is still applied, and SioGetLine tells what the device keeps.
TEST_F(SerTest, WholeLineSettingsKeepEveryPartTheDeviceTakes) {
  openPort();
  SioLine line{9, 0, 2, 8, 'H'};
  EXPECT_EQ(SioSetLine(kPort, line), 0);
  DeviceView v = viewDevice(pty_.masterFd());
  EXPECT_EQ(v.ospeed, 115200u);
  EXPECT_TRUE(v.cflag & CSTOPB);
  EXPECT_TRUE(v.cflag & CRTSCTS);
  SioLine kept;
  ASSERT_EQ(SioGetLine(kPort, &kept), 0);
  EXPECT_EQ(kept.baud, 115200);
  EXPECT_EQ(kept.stopBits, 2);
  EXPECT_EQ(kept.flow, 'H');

  line = SioLine{57600, 2, 0, 7, 'S'};
  EXPECT_EQ(SioSetLine(kPort, line), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EINVAL);
  v = viewDevice(pty_.masterFd());
  EXPECT_EQ(v.ospeed, 57600u);
  EXPECT_FALSE(v.cflag & CSTOPB) << "one stop bit kept apart from the refused parity";
  EXPECT_EQ(v.iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
  ASSERT_EQ(SioGetLine(kPort, &kept), 0);
  EXPECT_EQ(kept.baud, 57600);
  EXPECT_EQ(kept.parity, 0);
  EXPECT_EQ(kept.dataBits, 8);
  EXPECT_EQ(kept.stopBits, 0);
  EXPECT_EQ(kept.flow, 'S');
  SioDone(kPort);
  EXPECT_EQ(SioSetLine(kPort, line), SIO_NOT_OPEN);
}

TEST_F(SerTest, DefaultFormatAppliesToLaterOpens) {
  EXPECT_EQ(SioParms(-1, 0x103, 2, 0x108), 0);
  EXPECT_EQ(ParityDefault, 3);
  EXPECT_EQ(StopBitsDefault, 2);
  EXPECT_EQ(DataBitsDefault, 8);
  // Mark parity is more than a pseudo-terminal keeps: the open reports it
  // and leaves the device as it found it.
  const DeviceView found = viewDevice(pty_.masterFd());
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(viewDevice(pty_.masterFd()).cflag, found.cflag);
  SioDone(kPort);
  SioParms(-1, 0, 2, 8);
  openPort();
  EXPECT_TRUE(viewDevice(pty_.masterFd()).cflag & CSTOPB);
}

// --- Flow control ----------------------------------------------------------------

TEST_F(SerTest, FlowModesAsTheDeviceSeesThem) {
  openPort();
  const tcflag_t soft = IXON | IXOFF;

  EXPECT_EQ(SioFlow(kPort, 'H'), 0);
  DeviceView v = viewDevice(pty_.masterFd());
  EXPECT_TRUE(v.cflag & CRTSCTS);
  EXPECT_EQ(v.iflag & soft, 0u);

  EXPECT_EQ(SioFlow(kPort, 'S'), 0);
  v = viewDevice(pty_.masterFd());
  EXPECT_FALSE(v.cflag & CRTSCTS);
  EXPECT_EQ(v.iflag & soft, soft);
  EXPECT_EQ(v.vstart, 0x11);
  EXPECT_EQ(v.vstop, 0x13);

  // Another letter changes nothing but applies again.
  EXPECT_EQ(SioFlow(kPort, 'x'), 0);
  EXPECT_EQ(viewDevice(pty_.masterFd()).iflag & soft, soft);
  // Only the low 8 bits of the letter count.
  EXPECT_EQ(SioFlow(kPort, 0x100 | 'N'), 0);
  v = viewDevice(pty_.masterFd());
  EXPECT_FALSE(v.cflag & CRTSCTS);
  EXPECT_EQ(v.iflag & soft, 0u);

  // The record's own characters are the ones used.
  PortDCB[kPort].XonChar = 0x05;
  PortDCB[kPort].XoffChar = 0x06;
  EXPECT_EQ(SioFlow(kPort, 'S'), 0);
  v = viewDevice(pty_.masterFd());
  EXPECT_EQ(v.vstart, 0x05);
  EXPECT_EQ(v.vstop, 0x06);
}

TEST_F(SerTest, SoftwareFlowHoldsOutputOnXoffAndReleasesItOnXon) {
  openPort();
  ASSERT_EQ(SioFlow(kPort, 'S'), 0);
  // The line takes bytes in order, so once the marker after XOFF has come
  // the XOFF is in force.
  pty_.send(std::vector<uint8_t>{0x13, 'm'});
  ASSERT_TRUE(waitForInput(1));
  EXPECT_EQ(SioRxQue(kPort), 1) << "XOFF is taken by the line, not read as data";
  EXPECT_EQ(SioGetc(kPort), 'm');

  // Held off, not even one byte goes: -103 after the write deadline's fixed
  // 2 s, and a block write reports the count, 0.
  SteppedClock::install();
  EXPECT_EQ(SioPutc(kPort, 'h'), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, ETIMEDOUT);
  EXPECT_GE(SteppedClock::now - SteppedClock::kNearWrap, 2000u);
  EXPECT_LT(SteppedClock::now - SteppedClock::kNearWrap, 2010u);
  EXPECT_EQ(SioPuts(kPort, reinterpret_cast<const uint8_t *>("hh"), 2), 0);
  EXPECT_EQ(LastWinError, ETIMEDOUT);
  EXPECT_TRUE(pty_.drain(50).empty());

  pty_.send(std::vector<uint8_t>{0x11});
  EXPECT_EQ(SioPutc(kPort, 'i'), 0);
  EXPECT_EQ(pty_.receive(1), std::vector<uint8_t>{'i'});

  // Without flow control the same bytes are plain data.
  ASSERT_EQ(SioFlow(kPort, 'N'), 0);
  pty_.send(std::vector<uint8_t>{0x13, 0x11});
  EXPECT_EQ(readBytes(2), (std::vector<uint8_t>{0x13, 0x11}));
  EXPECT_EQ(SioPutc(kPort, 'j'), 0);
  EXPECT_EQ(pty_.receive(1), std::vector<uint8_t>{'j'});
}

// --- Line signals ------------------------------------------------------------------

TEST_F(SerTest, DtrAndRtsLevelsAreRememberedInFlags) {
  openPort();
  // A pseudo-terminal has no modem lines: the change itself fails (0), the
  // remembered level is still set.
  EXPECT_EQ(SioDTR(kPort, 'S'), 0);
  EXPECT_EQ(SioDTR(kPort, 'R'), 1);
  EXPECT_EQ(SioRTS(kPort, 'R'), 0);
  EXPECT_EQ(SioRTS(kPort, 'S'), 0);
  EXPECT_EQ(SioRTS(kPort, 'R'), 2);
  EXPECT_EQ(SioDTR(kPort, 'R'), 1);

  EXPECT_EQ(SioDTR(kPort, 'C'), 0);
  EXPECT_EQ(SioDTR(kPort, 'R'), 0);
  EXPECT_EQ(SioRTS(kPort, 'R'), 2);

  // Unknown letters change nothing.
  EXPECT_EQ(SioDTR(kPort, 's'), SIO_RANGE);
  EXPECT_EQ(SioRTS(kPort, 'X'), SIO_RANGE);
  EXPECT_EQ(SioDTR(kPort, 'R'), 0);
  EXPECT_EQ(SioRTS(kPort, 'R'), 2);

  // Settings changes leave them as they are; so does closing and reopening.
  SioParms(kPort, 0, 0, 8);
  SioFlow(kPort, 'H');
  EXPECT_EQ(SioRTS(kPort, 'R'), 2);
  SioDone(kPort);
  openPort();
  EXPECT_EQ(SioRTS(kPort, 'R'), 2);
  EXPECT_EQ(SioRTS(kPort, 0x100 | 'C'), 0);
  EXPECT_EQ(SioRTS(kPort, 'R'), 0);
}

TEST_F(SerTest, DeviceWithoutModemLinesReadsAllOff) {
  openPort();
  EXPECT_EQ(SioCTS(kPort), 0);
  EXPECT_EQ(SioDSR(kPort), 0);
  EXPECT_EQ(SioRI(kPort), 0);
  EXPECT_EQ(SioDCD(kPort), 0);
}

TEST_F(SerTest, BreakCommands) {
  openPort();
  EXPECT_EQ(SioBrkSig(kPort, 'D'), 0);
  EXPECT_EQ(SioBrkSig(kPort, 'x'), SIO_RANGE);
  EXPECT_EQ(SioBrkSig(kPort, 'a'), SIO_RANGE);
  // A pseudo-terminal accepts break requests and ignores them.
  EXPECT_NE(SioBrkSig(kPort, 'A'), 0);
  EXPECT_NE(SioBrkSig(kPort, 'C'), 0);
  EXPECT_EQ(SioPutc(kPort, 'b'), 0);
  EXPECT_EQ(pty_.receive(1), std::vector<uint8_t>{'b'});
}

TEST_F(SerTest, StatusIsZeroWhenTheDriverKeepsNoErrorCounts) {
  openPort();
  pty_.send("data");
  ASSERT_TRUE(waitForInput(4));
  EXPECT_EQ(SioStatus(kPort, 0xFFFF), 0);
  EXPECT_EQ(SioStatus(kPort, 0), 0);
}

// A pseudo-terminal counts no line events: the counts say so, and read 0.
// Its descriptor is the one to wait on: it turns readable when bytes come,
// and stops being the port's once the port is closed and opened again.
TEST_F(SerTest, HandleIsTheDescriptorToWaitOnAndAPseudoTerminalCountsNothing) {
  openPort();
  SioLineCounts counts;
  counts.breaks = 7;
  EXPECT_EQ(SioCounts(kPort, &counts), 0);
  EXPECT_EQ(counts.breaks, 0u);
  EXPECT_EQ(counts.overrun + counts.parity + counts.framing + counts.overflow, 0u);
  const int fd = SioHandle(kPort);
  ASSERT_GE(fd, 0);
  pollfd ready{fd, POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, 0), 0);
  pty_.send("x");
  EXPECT_EQ(poll(&ready, 1, 2000), 1);
  EXPECT_EQ(readBytes(1), std::vector<uint8_t>{'x'});
  ASSERT_NE(SioDone(kPort), 0);
  EXPECT_EQ(SioHandle(kPort), SIO_NOT_OPEN);
}

// --- Fixed information, errors, time ----------------------------------------------

TEST(SerInfo, LettersAndTheirAnswers) {
  EXPECT_EQ(SioInfo('V'), 562);
  EXPECT_EQ(SioInfo('3'), 0x232);
  EXPECT_EQ(SioInfo('?'), 0);
  EXPECT_EQ(SioInfo('I'), 1);
  EXPECT_EQ(SioInfo('x'), -1);
  EXPECT_EQ(SioInfo('v'), -1);
  EXPECT_EQ(SioInfo(0x100 | 'V'), 562);
  EXPECT_EQ(SioDebug(), 0);
}

TEST_F(SerTest, WinErrorGivesTheLastErrnoAndItsTextWithinTheBuffer) {
  setenv("KESTRELON_COM12", "/nonexistent/tty", 1);
  ASSERT_EQ(SioReset(11, 8192, 8192), SIO_WIN32_ERROR);
  unsetenv("KESTRELON_COM12");
  EXPECT_EQ(SioWinError(nullptr, 0), ENOENT);
  EXPECT_EQ(SioWinError(nullptr, 100), ENOENT);

  char text[128];
  memset(text, '#', sizeof text);
  EXPECT_EQ(SioWinError(text, sizeof text), ENOENT);
  EXPECT_STREQ(text, strerror(ENOENT));

  memset(text, '#', sizeof text);
  EXPECT_EQ(SioWinError(text, 6), ENOENT);
  EXPECT_EQ(std::string(text), std::string(strerror(ENOENT)).substr(0, 5));
  EXPECT_EQ(text[6], '#') << "nothing past the given size";

  memset(text, '#', sizeof text);
  SioWinError(text, 1);
  EXPECT_EQ(text[0], '\0');
  SioWinError(text + 10, 0);
  EXPECT_EQ(text[10], '#');
}

TEST(SerTime, TimerCountsMonotonicMilliseconds) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint32_t now = uint32_t(int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
  const uint32_t t0 = SioTimer();
  EXPECT_LT(uint32_t(t0 - now), 1000u);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const uint32_t passed = SioTimer() - t0;
  EXPECT_GE(passed, 60u);
  EXPECT_LT(passed, 5000u);
}
