// Opening, closing, reading, writing and the error codes of the serial
// library, on real pseudo-terminals.
#include "ser_test_util.h"

#include "device_view.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int openDescriptorCount() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d))
      ++n;
    closedir(d);
  }
  return n;
}

std::string devEnv(int port) { return "KESTRELON_COM" + std::to_string(port + 1); }

}  // namespace

// --- Error codes and their texts ---------------------------------------------

TEST(SerCodes, EachCodeHasItsTextAndNoOtherValueHasOne) {
  const std::pair<int, const char *> texts[] = {
      {SIO_BAD_PORT, "Bad port ID"},   {SIO_ALREADY_OPEN, "Port already open"},
      {SIO_NOT_OPEN, "Port not open"}, {SIO_MEMORY, "Memory"},
      {SIO_DEFAULT, "Default"},        {SIO_HARDWARE, "Hardware"},
      {SIO_BYTE_SIZE, "Byte size"},    {SIO_BAUD_RATE, "BaudRate"},
      {SIO_NO_DATA, "No data"},        {SIO_RANGE, "Range"},
      {SIO_ABORTED, "Aborted"},        {SIO_WIN32_ERROR, "Win32Error"},
      {SIO_EXPIRED, "Expired"},
  };
  for (auto [code, text] : texts)
    EXPECT_STREQ(SioErrorText(code), text) << code;
  for (int code : {1, 0, -9, -99, -105, -300})
    EXPECT_EQ(SioErrorText(code), nullptr) << code;
}

TEST(SerCodes, BadPortNumberGivesMinusOneEverywhere) {
  uint8_t buf[4] = {};
  for (int port : {16, -2, 1000, -1}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(VerifyPort(port), -1);
    EXPECT_EQ(SioDevicePath(port), nullptr);
    EXPECT_EQ(SioReset(port, 8192, 8192), -1);
    EXPECT_EQ(SioDone(port), -1);
    EXPECT_EQ(SioPutc(port, 'A'), -1);
    EXPECT_EQ(SioPuts(port, buf, 4), -1);
    EXPECT_EQ(SioPutsNow(port, buf, 4), -1);
    EXPECT_EQ(SioTxDrop(port), -1);
    EXPECT_EQ(SioGetc(port), -1);
    EXPECT_EQ(SioGets(port, buf, 4), -1);
    EXPECT_EQ(SioUnGetc(port, 'A'), -1);
    EXPECT_EQ(SioRxQue(port), -1);
    EXPECT_EQ(SioTxQue(port), -1);
    EXPECT_EQ(SioRxClear(port), -1);
    EXPECT_EQ(SioTxClear(port), -1);
    EXPECT_EQ(SioRead(port), -1);
    EXPECT_EQ(SioFlow(port, 'N'), -1);
    EXPECT_EQ(SioDTR(port, 'R'), -1);
    EXPECT_EQ(SioRTS(port, 'R'), -1);
    EXPECT_EQ(SioCTS(port), -1);
    EXPECT_EQ(SioDSR(port), -1);
    EXPECT_EQ(SioRI(port), -1);
    EXPECT_EQ(SioDCD(port), -1);
    EXPECT_EQ(SioBrkSig(port, 'D'), -1);
    EXPECT_EQ(SioStatus(port, 0xFF), -1);
    EXPECT_EQ(SioHandle(port), -1);
    EXPECT_EQ(SioCounts(port, nullptr), -1);
    if (port != -1) {  // -1 names the defaults there
      EXPECT_EQ(SioBaud(port, 5), -1);
      EXPECT_EQ(SioParms(port, 0, 0, 8), -1);
    }
  }
  for (int port = 0; port < SIO_MAX_PORTS; ++port)
    EXPECT_EQ(VerifyPort(port), 0);
}

TEST(SerCodes, PortNeverOpenedGivesMinusThreeEverywhere) {
  const int port = 9;
  uint8_t buf[4] = {};
  EXPECT_EQ(SioDone(port), -3);
  EXPECT_EQ(SioPutc(port, 'A'), -3);
  EXPECT_EQ(SioPuts(port, buf, 4), -3);
  EXPECT_EQ(SioPutsNow(port, buf, 4), -3);
  EXPECT_EQ(SioTxDrop(port), -3);
  EXPECT_EQ(SioGetc(port), -3);
  EXPECT_EQ(SioGets(port, buf, 4), -3);
  EXPECT_EQ(SioUnGetc(port, 'A'), -3);
  EXPECT_EQ(SioRxQue(port), -3);
  EXPECT_EQ(SioTxQue(port), -3);
  EXPECT_EQ(SioRxClear(port), -3);
  EXPECT_EQ(SioTxClear(port), -3);
  EXPECT_EQ(SioRead(port), -3);
  EXPECT_EQ(SioHandle(port), -3);
  EXPECT_EQ(SioCounts(port, nullptr), -3);
  EXPECT_EQ(SioBaud(port, 5), -3);
  EXPECT_EQ(SioParms(port, 0, 0, 8), -3);
  EXPECT_EQ(SioFlow(port, 'N'), -3);
  EXPECT_EQ(SioDTR(port, 'S'), -3);
  EXPECT_EQ(SioRTS(port, 'S'), -3);
  EXPECT_EQ(SioCTS(port), -3);
  EXPECT_EQ(SioDSR(port), -3);
  EXPECT_EQ(SioRI(port), -3);
  EXPECT_EQ(SioDCD(port), -3);
  EXPECT_EQ(SioBrkSig(port, 'A'), -3);
  EXPECT_EQ(SioStatus(port, 0xFF), -3);
}

// --- Device paths ------------------------------------------------------------

TEST(SerPaths, DefaultTableWhenNothingIsMapped) {
  const char *expected[SIO_MAX_PORTS] = {
      "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",
      "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3",
      "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyACM2", "/dev/ttyACM3",
      "/dev/ttyS4",   "/dev/ttyS5",   "/dev/ttyS6",   "/dev/ttyS7",
  };
  for (int port = 0; port < SIO_MAX_PORTS; ++port) {
    unsetenv(devEnv(port).c_str());
    EXPECT_STREQ(SioDevicePath(port), expected[port]) << "COM" << port + 1;
  }
}

TEST(SerPaths, EnvironmentIsReadAtEveryCallAndEmptyMeansUnset) {
  const std::string name = devEnv(15);
  setenv(name.c_str(), "/dev/pts/77", 1);
  EXPECT_STREQ(SioDevicePath(15), "/dev/pts/77");
  setenv(name.c_str(), "/tmp/other", 1);
  EXPECT_STREQ(SioDevicePath(15), "/tmp/other");
  setenv(name.c_str(), "", 1);
  EXPECT_STREQ(SioDevicePath(15), "/dev/ttyS7");
  unsetenv(name.c_str());
  EXPECT_STREQ(SioDevicePath(15), "/dev/ttyS7");
}

TEST(SerPaths, EachPortKeepsItsOwnPath) {
  setenv(devEnv(0).c_str(), "/dev/first", 1);
  setenv(devEnv(1).c_str(), "/dev/second", 1);
  const char *first = SioDevicePath(0);
  const char *second = SioDevicePath(1);
  EXPECT_STREQ(first, "/dev/first");
  EXPECT_STREQ(second, "/dev/second");
  unsetenv(devEnv(0).c_str());
  unsetenv(devEnv(1).c_str());
}

TEST(SerPaths, OverlongPathIsNeverCutToAnotherDevice) {
  std::string longPath = "/dev/" + std::string(5000, 'x');
  setenv(devEnv(4).c_str(), longPath.c_str(), 1);
  EXPECT_STREQ(SioDevicePath(4), "");
  EXPECT_EQ(SioReset(4, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, ENAMETOOLONG);
  EXPECT_EQ(SioRxQue(4), SIO_NOT_OPEN);
  unsetenv(devEnv(4).c_str());
}

// --- Opening and closing -------------------------------------------------------

TEST_F(SerTest, OpenFailuresGiveMinus103WithErrnoAndLeaveThePortClosed) {
  TempDir dir;
  const int fdsBefore = openDescriptorCount();

  setenv(devEnv(kPort).c_str(), dir.file("missing").c_str(), 1);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, ENOENT);
  EXPECT_EQ(SioRxQue(kPort), SIO_NOT_OPEN);

  writeFileBytes(dir.file("plain"), {1, 2, 3});
  setenv(devEnv(kPort).c_str(), dir.file("plain").c_str(), 1);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, ENOTTY);

  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  setenv(devEnv(kPort).c_str(), dir.file("fifo").c_str(), 1);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, ENOTTY);

  // A character device that is no terminal is opened, found wanting, closed.
  setenv(devEnv(kPort).c_str(), "/dev/null", 1);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, ENOTTY);
  EXPECT_EQ(SioGetc(kPort), SIO_NOT_OPEN);

  EXPECT_EQ(openDescriptorCount(), fdsBefore);
}

TEST_F(SerTest, OpenThenCloseThenEveryCallGivesNotOpen) {
  openPort();
  EXPECT_EQ(SioRxQue(kPort), 0);
  EXPECT_EQ(SioRead(kPort), -1) << "SioRead on an open port";
  EXPECT_NE(SioDone(kPort), 0);
  EXPECT_EQ(SioDone(kPort), SIO_NOT_OPEN);
  EXPECT_EQ(SioGetc(kPort), SIO_NOT_OPEN);
  EXPECT_EQ(SioPutc(kPort, 1), SIO_NOT_OPEN);
  // Closed means closed: it opens again at once.
  openPort();
}

TEST_F(SerTest, DefaultsAreAppliedAtOpenAndTheFoundSettingsComeBackAtClose) {
  // Leave the device cooked, slow and with everything on that open must undo.
  termios cooked{};
  ASSERT_EQ(tcgetattr(pty_.masterFd(), &cooked), 0);
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_iflag |= ICRNL | IXON | IXOFF | BRKINT | PARMRK;
  cooked.c_iflag &= ~tcflag_t(IGNBRK);
  cooked.c_oflag |= OPOST;
  cooked.c_cflag |= CSTOPB | CRTSCTS | PARODD | CMSPAR;
  cooked.c_cflag &= ~tcflag_t(CLOCAL);
  cooked.c_cc[VMIN] = 1;
  cooked.c_cc[VTIME] = 5;
  cooked.c_cc[VSTART] = 0x21;
  ASSERT_EQ(tcsetattr(pty_.masterFd(), TCSANOW, &cooked), 0);
  setDeviceSpeed(pty_.masterFd(), 12345);
  const DeviceView found = viewDevice(pty_.masterFd());

  openPort();
  DeviceView v = viewDevice(pty_.masterFd());
  EXPECT_EQ(v.ospeed, 9600u);
  EXPECT_EQ(v.ispeed, 9600u);
  EXPECT_EQ(v.cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(v.cflag & (PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(v.cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
  EXPECT_EQ(v.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(v.iflag & (ICRNL | IXON | IXOFF | ISTRIP | INLCR | IGNCR), 0u);
  EXPECT_EQ(v.iflag & (IGNBRK | BRKINT | PARMRK), tcflag_t(IGNBRK)) << "a break is no data";
  EXPECT_EQ(v.oflag & OPOST, 0u);
  EXPECT_EQ(v.vmin, 0);
  EXPECT_EQ(v.vtime, 0);
  EXPECT_EQ(v.vstart, 0x11);
  EXPECT_EQ(v.vstop, 0x13);
  EXPECT_EQ(PortDCB[kPort].BaudRate, 9600u);
  EXPECT_EQ(PortDCB[kPort].ByteSize, 8);

  EXPECT_NE(SioDone(kPort), 0);
  DeviceView back = viewDevice(pty_.masterFd());
  EXPECT_EQ(back.ospeed, 12345u);
  EXPECT_EQ(back.cflag, found.cflag);
  EXPECT_EQ(back.iflag, found.iflag);
  EXPECT_EQ(back.oflag, found.oflag);
  EXPECT_EQ(back.lflag, found.lflag);
  EXPECT_EQ(back.vmin, 1);
  EXPECT_EQ(back.vtime, 5);
  EXPECT_EQ(back.vstart, 0x21);
}

TEST_F(SerTest, FlowLimitsFollowTheReceiveQueueSize) {
  ASSERT_EQ(SioReset(kPort, 8192, 8192), 0);
  EXPECT_EQ(PortDCB[kPort].XonLim, 128);
  EXPECT_EQ(PortDCB[kPort].XoffLim, 128);
  SioDone(kPort);
  ASSERT_EQ(SioReset(kPort, 400, 400), 0);
  EXPECT_EQ(PortDCB[kPort].XonLim, 100);
  EXPECT_EQ(PortDCB[kPort].XoffLim, 100);
  SioDone(kPort);
  ASSERT_EQ(SioReset(kPort, 513, 513), 0);
  EXPECT_EQ(PortDCB[kPort].XonLim, 128);
}

TEST_F(SerTest, DefaultsTheDeviceRefusesFailTheOpenButLeaveItOpenForSioDone) {
  DataBitsDefault = 9;
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EINVAL);
  EXPECT_EQ(SioRxQue(kPort), 0) << "the port counts as open";
  EXPECT_NE(SioDone(kPort), 0);
  DataBitsDefault = 8;
  openPort();
}

// --- Exclusive opening ---------------------------------------------------------

TEST_F(SerTest, ResetOfAnOpenPortIsRefusedAndKeepsTheFirstOpening) {
  openPort();
  const int fdsBefore = openDescriptorCount();
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EBUSY);
  EXPECT_EQ(openDescriptorCount(), fdsBefore);
  // The first opening still works and SioDone really releases the device.
  EXPECT_EQ(SioPutc(kPort, 'k'), 0);
  EXPECT_EQ(pty_.receive(1), std::vector<uint8_t>{'k'});

  // Also when the port has meanwhile been mapped to another device.
  PtyPair other;
  other.mapTo(kPort);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EBUSY);
  EXPECT_EQ(openDescriptorCount(), fdsBefore + 1) << "only the new pair's master";
  EXPECT_EQ(SioPutc(kPort, 'm'), 0);
  EXPECT_EQ(pty_.receive(1), std::vector<uint8_t>{'m'});

  EXPECT_NE(SioDone(kPort), 0);
  openPort();
  EXPECT_EQ(SioPutc(kPort, 'n'), 0);
  EXPECT_EQ(other.receive(1), std::vector<uint8_t>{'n'});
}

TEST_F(SerTest, SecondPortOnTheSameDeviceIsRefused) {
  openPort();
  pty_.mapTo(kPort + 1);
  EXPECT_EQ(SioReset(kPort + 1, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EBUSY);
  EXPECT_EQ(SioRxQue(kPort + 1), SIO_NOT_OPEN);
  EXPECT_NE(SioDone(kPort), 0);
  EXPECT_EQ(SioReset(kPort + 1, 8192, 8192), 0);
  pty_.mapTo(kPort);
}

TEST_F(SerTest, DeviceHeldByThisProcessIsRefusedToAnother) {
  openPort();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(devEnv(7).c_str(), pty_.slavePath().c_str(), 1);
    int r = SioReset(7, 8192, 8192);
    _exit(r == SIO_WIN32_ERROR && LastWinError == EBUSY ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process could open the device";
}

TEST_F(SerTest, DeviceHeldByAnotherProcessIsRefusedUntilItLetsGo) {
  int ready[2], quit[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(quit), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c = SioReset(kPort, 8192, 8192) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(quit[0], &c, 1);
    SioDone(kPort);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EBUSY);
  (void)!write(quit[1], "q", 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], quit[0], quit[1]})
    close(fd);
  openPort();
}

TEST_F(SerTest, OpenDeviceIsExclusiveEvenToProgramsThatTakeNoLock) {
  openPort();
  // Another user's program that just opens the device is stopped by the
  // terminal's exclusive mode (root is stopped by the lock alone).
  ASSERT_EQ(chmod(pty_.slavePath().c_str(), 0666), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && setuid(65534) != 0)
      _exit(2);
    int fd = open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    _exit(fd < 0 && errno == EBUSY ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --- Reading -----------------------------------------------------------------

TEST_F(SerTest, GetcGivesNoDataThenEveryByteValueUnsigned) {
  openPort();
  EXPECT_EQ(SioGetc(kPort), SIO_NO_DATA);
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i)
    all[size_t(i)] = uint8_t(i);
  pty_.send(all);
  ASSERT_TRUE(waitForInput(256));
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(SioGetc(kPort), i);
  EXPECT_EQ(SioGetc(kPort), SIO_NO_DATA);
}

TEST_F(SerTest, GetsReturnsAtOnceWithWhatHasArrived) {
  openPort();
  uint8_t buf[64];
  auto start = Clock::now();
  EXPECT_EQ(SioGets(kPort, buf, sizeof buf), 0);
  EXPECT_LT(elapsedMs(start), 500);

  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i)
    all[size_t(i)] = uint8_t(255 - i);
  pty_.send(all);
  EXPECT_EQ(readBytes(256), all);

  pty_.send("abcdef");
  ASSERT_TRUE(waitForInput(6));
  EXPECT_EQ(SioRxQue(kPort), 6);
  EXPECT_EQ(SioGets(kPort, buf, 4), 4);
  EXPECT_EQ(std::string(buf, buf + 4), "abcd");
  EXPECT_EQ(SioRxQue(kPort), 2);
  EXPECT_EQ(SioGets(kPort, buf, 0), 0);
  EXPECT_EQ(SioGets(kPort, buf, -5), 0);
  EXPECT_EQ(SioGets(kPort, nullptr, 5), SIO_WIN32_ERROR);
  EXPECT_EQ(SioGets(kPort, buf, sizeof buf), 2);
}

TEST_F(SerTest, PushedBackByteComesFirstAloneAndIsNotCounted) {
  openPort();
  pty_.send("xyz");
  ASSERT_TRUE(waitForInput(3));
  EXPECT_EQ(SioUnGetc(kPort, 0x41), 0);
  EXPECT_EQ(SioRxQue(kPort), 3);
  uint8_t buf[10] = {};
  EXPECT_EQ(SioGets(kPort, buf, 10), 1);
  EXPECT_EQ(buf[0], 0x41);
  EXPECT_EQ(SioGets(kPort, buf, 10), 3);
  EXPECT_EQ(std::string(buf, buf + 3), "xyz");

  // Only the low 8 bits are kept; a second push replaces the first.
  SioUnGetc(kPort, 0x142);
  SioUnGetc(kPort, 0x1FF);
  EXPECT_EQ(SioGetc(kPort), 0xFF);
  EXPECT_EQ(SioGetc(kPort), SIO_NO_DATA);

  // A zero byte means "none".
  EXPECT_EQ(SioUnGetc(kPort, 0), 0);
  EXPECT_EQ(SioGetc(kPort), SIO_NO_DATA);

  // With no room for it, the byte waits for the next read.
  SioUnGetc(kPort, 'q');
  EXPECT_EQ(SioGets(kPort, buf, 0), 0);
  EXPECT_EQ(SioGetc(kPort), 'q');
}

TEST_F(SerTest, RxClearDropsEverythingReceivedAndThePushedBackByte) {
  openPort();
  pty_.send("12345");
  ASSERT_TRUE(waitForInput(5));
  SioUnGetc(kPort, '0');
  EXPECT_EQ(SioRxClear(kPort), 0);
  EXPECT_EQ(SioRxQue(kPort), 0);
  EXPECT_EQ(SioGetc(kPort), SIO_NO_DATA);
  // Bytes that come afterwards are read normally.
  pty_.send("6");
  ASSERT_TRUE(waitForInput(1));
  EXPECT_EQ(SioGetc(kPort), '6');
}

TEST_F(SerTest, PushedBackByteAndFlagsSurviveClosing) {
  // The open lowers both lines (a pseudo-terminal has none to show) but
  // leaves every remembered level as it was.
  for (int levels = 0; levels < 4; ++levels) {
    SCOPED_TRACE(levels);
    openPort();
    SioUnGetc(kPort, 'u');
    SioDTR(kPort, levels & 1 ? 'S' : 'C');
    SioRTS(kPort, levels & 2 ? 'S' : 'C');
    SioDone(kPort);
    openPort();
    EXPECT_EQ(SioDTR(kPort, 'R') | SioRTS(kPort, 'R'), levels);
    EXPECT_EQ(SioGetc(kPort), 'u');
    SioDone(kPort);
  }
  openPort();
  SioDTR(kPort, 'C');
  SioRTS(kPort, 'C');
}

// --- Writing -----------------------------------------------------------------

TEST_F(SerTest, WritesCarryEveryByteValue) {
  openPort();
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(SioPutc(kPort, 0x100 | i), 0) << "SioPutc returns 0, not the byte or a count";
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i)
    all[size_t(i)] = uint8_t(i);
  EXPECT_EQ(pty_.receive(256), all);

  EXPECT_EQ(SioPuts(kPort, all.data(), 256), 256);
  EXPECT_EQ(pty_.receive(256), all);
  EXPECT_EQ(SioPuts(kPort, all.data(), 0), 0);
  EXPECT_EQ(SioPuts(kPort, nullptr, 3), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EINVAL);
  EXPECT_EQ(SioTxQue(kPort), 0);
  EXPECT_EQ(SioTxClear(kPort), 0);
}

TEST_F(SerTest, BytesWrittenJustBeforeClosingStillReachTheFarEnd) {
  // A transfer's last acknowledgement is written just before the port is
  // closed; closing must not throw away what the far end has yet to read.
  openPort();
  const std::vector<uint8_t> last = {0x06, 0x06, 0x15, 0x18};
  ASSERT_EQ(SioPuts(kPort, last.data(), int(last.size())), int(last.size()));
  EXPECT_NE(SioDone(kPort), 0);
  EXPECT_EQ(pty_.receive(last.size()), last);
}

TEST_F(SerTest, LongWriteWaitsForASlowReaderAndLosesNothing) {
  openPort();
  ASSERT_NE(SioBaud(kPort, 115200), 0);
  std::vector<uint8_t> data(40000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = uint8_t(i * 7 + i / 251);
  std::vector<uint8_t> got;
  std::thread reader([&] {
    while (got.size() < data.size()) {
      auto part = pty_.receive(std::min<size_t>(1024, data.size() - got.size()), 3000);
      if (part.empty())
        break;
      got.insert(got.end(), part.begin(), part.end());
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  EXPECT_EQ(SioPuts(kPort, data.data(), int(data.size())), int(data.size()));
  reader.join();
  EXPECT_EQ(got, data);
}

// A write held up by a peer that never reads gives up after 2 s plus twice
// the bytes' line time, measured on the library's clock. The clock starts
// just before its 32-bit wrap, so every deadline is reached across it.
TEST_F(SerTest, WriteToAPeerThatNeverReadsStopsAtItsDeadlineAcrossTheClockWrap) {
  openPort();
  struct Case {
    uint32_t rate;
    int bytes;
    uint32_t allowanceMs;
  } cases[] = {
      {4000000, 20000, 2000 + 2 * 50},  // 20000 bytes take 50 ms at 4 Mbit/s
      {230400, 20000, 2000 + 2 * 868},  // ... and 868 ms at 230400 bit/s
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rate);
    ASSERT_NE(SioBaud(kPort, int(c.rate)), 0);
    SteppedClock::install(0xFFFFFFF0u);
    std::vector<uint8_t> data(size_t(c.bytes), 0x55);
    int written = SioPuts(kPort, data.data(), c.bytes);
    uint32_t took = SteppedClock::now - 0xFFFFFFF0u;
    EXPECT_GT(written, 0);
    EXPECT_LT(written, c.bytes);
    EXPECT_EQ(LastWinError, ETIMEDOUT);
    EXPECT_GE(took, c.allowanceMs);
    EXPECT_LT(took, c.allowanceMs + 10);

    // Once the far end reads, writing goes on; the bytes taken were kept.
    EXPECT_EQ(pty_.drain(200).size(), size_t(written));
    EXPECT_EQ(SioPutc(kPort, 'z'), 0);
    EXPECT_EQ(pty_.receive(1), std::vector<uint8_t>{'z'});
  }
}

// Writing without waiting: the device takes what it can now, the rest stays
// with the caller; nothing waits, whatever the far end does (the stepped
// clock would move). Output the far end has not read is dropped on demand.
TEST_F(SerTest, WriteNowTakesWhatTheDeviceTakesAndNeverWaits) {
  openPort();
  SteppedClock::install();
  std::vector<uint8_t> data(200000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = uint8_t(i * 13 + i / 256);
  std::vector<uint8_t> got;
  size_t sent = 0;
  int calls = 0;
  while (got.size() < data.size() && calls++ < 1000) {
    const uint32_t before = SteppedClock::now;
    const int n = SioPutsNow(kPort, data.data() + sent, int(data.size() - sent));
    EXPECT_EQ(SteppedClock::now, before);
    ASSERT_GE(n, 0);
    if (sent == 0) {
      EXPECT_LT(size_t(n), data.size()) << "the far end took 200000 bytes unread";
    }
    sent += size_t(n);
    const std::vector<uint8_t> part = pty_.receive(5000, 20);
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(SioPutsNow(kPort, data.data(), 0), 0);
  EXPECT_EQ(SioPutsNow(kPort, nullptr, 3), SIO_WIN32_ERROR);

  // Filled up, then dropped: there is room again, and what was dropped
  // never reaches the far end.
  size_t filled = 0;
  for (int n; (n = SioPutsNow(kPort, data.data(), 4096)) > 0;)
    filled += size_t(n);
  EXPECT_EQ(SioTxDrop(kPort), 0);
  EXPECT_GT(SioPutsNow(kPort, data.data(), 1), 0);
  EXPECT_LT(pty_.drain(50).size(), filled + 1);
}

// --- A device that goes away -----------------------------------------------------

TEST_F(SerTest, VanishedDeviceFailsEveryCallAtOnceAndOpensAgainWhenBack) {
  // A stable name that follows the device, as udev's by-id links do.
  TempDir dir;
  const std::string link = dir.file("ttyKestrelon");
  ASSERT_EQ(symlink(pty_.slavePath().c_str(), link.c_str()), 0);
  setenv(devEnv(kPort).c_str(), link.c_str(), 1);
  openPort();
  SioDTR(kPort, 'S');

  // Gone, and its link with it, as udev removes a by-id link (the freed
  // pseudo-terminal's number may meanwhile go to another test's pair).
  pty_.closeMaster();
  ASSERT_EQ(unlink(link.c_str()), 0);
  auto start = Clock::now();
  uint8_t buf[16] = {'a', 'b'};
  EXPECT_EQ(SioGets(kPort, buf, sizeof buf), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EIO);
  EXPECT_EQ(SioGetc(kPort), SIO_WIN32_ERROR);
  EXPECT_EQ(SioPutc(kPort, 'x'), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, EIO);
  EXPECT_EQ(SioPuts(kPort, buf, 2), SIO_WIN32_ERROR);
  EXPECT_EQ(SioRxQue(kPort), 0);
  EXPECT_EQ(SioTxQue(kPort), 0);
  EXPECT_EQ(SioRxClear(kPort), 0);
  EXPECT_EQ(SioCTS(kPort), 0);
  EXPECT_EQ(SioDCD(kPort), 0);
  EXPECT_EQ(SioBaud(kPort, 5), 0);
  EXPECT_EQ(SioParms(kPort, 0, 0, 8), SIO_WIN32_ERROR);
  EXPECT_EQ(SioFlow(kPort, 'N'), SIO_WIN32_ERROR);
  EXPECT_EQ(SioDTR(kPort, 'S'), 0);
  EXPECT_EQ(SioBrkSig(kPort, 'A'), 0);
  EXPECT_EQ(SioStatus(kPort, 0xFFFF), 0);
  // Polling it many times neither blocks nor starts answering "no data".
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(SioGets(kPort, buf, sizeof buf), SIO_WIN32_ERROR);
  EXPECT_LT(elapsedMs(start), 1000);

  // Still open until closed; closing works.
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_NE(SioDone(kPort), 0);
  EXPECT_EQ(SioGets(kPort, buf, sizeof buf), SIO_NOT_OPEN);
  EXPECT_EQ(SioReset(kPort, 8192, 8192), SIO_WIN32_ERROR);
  EXPECT_EQ(LastWinError, ENOENT);

  // The device comes back under the same name.
  PtyPair again;
  ASSERT_EQ(symlink(again.slavePath().c_str(), link.c_str()), 0);
  ASSERT_EQ(SioReset(kPort, 8192, 8192), 0);
  EXPECT_EQ(SioDTR(kPort, 'R'), 1) << "remembered levels survive";
  again.send("ok");
  EXPECT_EQ(readBytes(2), (std::vector<uint8_t>{'o', 'k'}));
}
