// Serial port core: port table, opening and closing, reading and writing,
// the pushed-back byte and the queue counts.
#include "ser/sio_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

const char *const PortErrors[8] = {"Bad port ID", "Port already open", "Port not open", "Memory",
                                   "Default",     "Hardware",          "Byte size",     "BaudRate"};
const char *const SioErrors[5] = {"No data", "Range", "Aborted", "Win32Error", "Expired"};

PortDCB_t PortDCB[SIO_MAX_PORTS];
PortRecord PortData[SIO_MAX_PORTS];

uint32_t BaudRateDefault = 9600;
uint8_t ParityDefault = 0;
uint8_t StopBitsDefault = 0;
uint8_t DataBitsDefault = 8;
thread_local int LastWinError = 0;

namespace {

bool PortsReady = false;

// Device path of each port as last looked up; one buffer per port so that
// the paths of both monitored ports can be held at once.
char ComText[SIO_MAX_PORTS][SIO_PATH_MAX];

// Devices of COM1..COM16 when no KESTRELON_COM<n> variable names one.
const char *const DefaultDevices[SIO_MAX_PORTS] = {
    "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",   "/dev/ttyUSB0", "/dev/ttyUSB1",
    "/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyACM2", "/dev/ttyACM3",
    "/dev/ttyS4",   "/dev/ttyS5",   "/dev/ttyS6",   "/dev/ttyS7",
};

uint32_t systemNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

void systemSleep(uint32_t ms) {
  timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

SioClock Clock = {systemNow, systemSleep};

// The environment variable that maps a port to a device: KESTRELON_COM<n+1>.
struct MappingVariable {
  char name[32];
  explicit MappingVariable(int port) { snprintf(name, sizeof name, "KESTRELON_COM%d", port + 1); }
};

// A replaced clock is slept on in steps this long while the library waits
// for the device.
constexpr uint32_t ClockStepMs = 5;

// Waits until fd can take more bytes or ms pass. On the system clock the
// kernel wakes us as soon as there is room; a replaced clock cannot be slept
// on by the kernel, so its time passes in steps with a look between them.
// 0, or the errno of a failed poll.
int waitForRoom(int fd, uint32_t ms) {
  pollfd p{fd, POLLOUT, 0};
  const bool system = Clock.now == systemNow;
  int ready = poll(&p, 1, system ? int(ms) : 0);
  if (ready < 0)
    return errno == EINTR ? 0 : errno;
  if (ready == 0 && !system)
    Clock.sleep(ms < ClockStepMs ? ms : ClockStepMs);
  // POLLERR/POLLHUP: the next write reports the error.
  return 0;
}

// A terminal whose far end has gone (adapter unplugged, pseudo-terminal
// master closed) is hung up: its reads return 0 bytes for ever, exactly like
// an idle line, so ask poll.
bool hungUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// Up to length bytes received: their count, 0 when none are waiting, or
// minus the errno value (EIO once the device has gone).
int readSome(int fd, uint8_t *buffer, int length) {
  if (remotePort(fd)) {
    int got = 0;
    const int err = remoteRead(fd, buffer, length, &got);
    return err != 0 ? -err : got;
  }
  ssize_t n = read(fd, buffer, size_t(length));
  if (n > 0)
    return int(n);
  if (n < 0 && errno != EAGAIN && errno != EINTR)
    return -errno;
  return hungUp(fd) ? -EIO : 0;
}

struct WriteOutcome {
  int written = 0;
  int err = 0;  // errno that ended the write early; ETIMEDOUT at the deadline
};

// Writes until the kernel has taken every byte, an error occurs, or the
// write deadline passes.
WriteOutcome writeWithDeadline(int fd, const uint8_t *bytes, int length, uint32_t baud) {
  WriteOutcome out;
  const uint32_t allowance = SioWriteAllowanceMs(length, baud);
  if (remotePort(fd)) {
    out.err = remoteWrite(fd, bytes, length, allowance, true, &out.written);
    return out;
  }
  const uint32_t start = SioTimer();
  while (out.written < length) {
    ssize_t n = write(fd, bytes + out.written, size_t(length - out.written));
    if (n > 0) {
      out.written += int(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN) {
      out.err = errno;
      break;
    }
    const uint32_t spent = SioTimer() - start;
    if (spent >= allowance) {
      out.err = ETIMEDOUT;
      break;
    }
    if (int err = waitForRoom(fd, allowance - spent)) {
      out.err = err;
      break;
    }
  }
  return out;
}

// Both modem lines down; a device without them (a pseudo-terminal) has
// nothing to lower.
void lowerModemLines(int fd) {
  devSetModemLine(fd, ModemLine::Dtr, false);
  devSetModemLine(fd, ModemLine::Rts, false);
}

// Before closing, let queued output drain, but for no longer than the
// fixed part of a write's allowance: closing runs on the window's thread (a
// port change, Exit), and a slow line or one held off by flow control must
// not freeze it for minutes. True when output is still queued at the end.
bool waitForOutput(int fd) {
  int queued = 0;
  if (devOutputCount(fd, &queued) != 0 || queued <= 0)
    return false;
  const uint32_t start = SioTimer();
  while (devOutputCount(fd, &queued) == 0 && queued > 0 &&
         SioTimer() - start < WriteAllowanceFixedMs)
    SioSleep(10);
  return queued > 0;
}

// Common start of the reads and writes of several bytes: 0 when there are
// bytes to move, 1 when there are none, else the call's error code.
int bufferPrologue(int port, const uint8_t *buffer, int length) {
  if (int r = SioPrologue(port))
    return r;
  if (length <= 0)
    return 1;
  if (!buffer)
    return SioFail(EINVAL);
  return 0;
}

}  // namespace

uint32_t SioWriteAllowanceMs(int64_t bytes, uint32_t baud) {
  constexpr int64_t Longest = INT32_MAX;
  int64_t lineMs = baud == 0 ? 0 : bytes * 10 * 1000 / baud;
  return uint32_t(std::min(Longest, WriteAllowanceFixedMs + 2 * lineMs));
}

const char *SioErrorText(int code) {
  if (code <= SIO_BAD_PORT && code >= SIO_BAUD_RATE)
    return PortErrors[SIO_BAD_PORT - code];
  if (code <= SIO_NO_DATA && code >= SIO_EXPIRED)
    return SioErrors[SIO_NO_DATA - code];
  return nullptr;
}

int VerifyPort(int port) {
  if (!PortsReady) {
    PortsReady = true;
    for (int i = 0; i < SIO_MAX_PORTS; ++i) {
      PortData[i].Handle = -1;
      PortData[i].Flags = 0;
      PortData[i].UnGetByte = 0;
      PortData[i].Dcb = &PortDCB[i];
    }
  }
  return port >= 0 && port < SIO_MAX_PORTS ? 0 : SIO_BAD_PORT;
}

int SioPrologue(int port) {
  if (VerifyPort(port) != 0)
    return SIO_BAD_PORT;
  return PortData[port].Handle == -1 ? SIO_NOT_OPEN : 0;
}

int SioFail(int err) {
  LastWinError = err;
  return SIO_WIN32_ERROR;
}

const char *SioDevicePath(int port) {
  if (VerifyPort(port) != 0)
    return nullptr;
  const char *mapped = getenv(MappingVariable(port).name);
  const char *path = mapped && *mapped ? mapped : DefaultDevices[port];
  // A path too long to hold is kept empty rather than cut, so that it can
  // never name another device.
  if (strlen(path) >= sizeof ComText[port])
    path = "";
  snprintf(ComText[port], sizeof ComText[port], "%s", path);
  return ComText[port];
}

int SioRemote(int port) {
  const char *path = SioDevicePath(port);
  return path ? (remoteName(path) ? 1 : 0) : SIO_BAD_PORT;
}

int SioMapDevice(int port, const char *path) {
  if (VerifyPort(port) != 0 || !path || !*path)
    return SIO_BAD_PORT;
  return setenv(MappingVariable(port).name, path, 1) == 0 ? 0 : SioFail(errno);
}

int SioReset(int port, int rxQueue, int txQueue) {
  (void)txQueue;  // the kernel sizes its own queues
  if (VerifyPort(port) != 0)
    return SIO_BAD_PORT;
  PortRecord &rec = PortData[port];
  // Opening again over an open port would lose the first descriptor and its
  // lock for good; refuse, and leave the port open as it was.
  if (rec.Handle != -1)
    return SioFail(EBUSY);

  const char *path = SioDevicePath(port);
  if (*path == '\0')
    return SioFail(ENAMETOOLONG);
  int fd = -1;
  if (int err = devOpen(path, &fd))
    return SioFail(err);
  rec.Handle = fd;
  // Linux raises DTR and RTS at every open; the port starts with both down
  // until SioDTR or SioRTS raises them.
  lowerModemLines(fd);

  // From here a failure leaves the port open with whatever was applied;
  // SioDone closes it.
  rec.OldTimeoutsSaved = false;
  if (int err = devReadSettings(fd, &rec.OldTimeouts))
    return SioFail(err);
  rec.OldTimeoutsSaved = true;

  PortDCB_t &dcb = *rec.Dcb;
  if (int err = devLoadDcb(fd, &dcb))
    return SioFail(err);
  dcb.BaudRate = BaudRateDefault;
  dcb.ByteSize = DataBitsDefault;
  dcb.Parity = ParityDefault;
  dcb.StopBits = StopBitsDefault;
  dcb.fBinary = true;
  dcb.fNull = false;
  dcb.fOutxDsrFlow = false;
  dcb.fOutxCtsFlow = false;
  dcb.fDtrControl = 0;
  dcb.fRtsControl = 0;
  dcb.fInX = false;
  dcb.fOutX = false;
  dcb.fTXContinueOnXoff = true;
  dcb.fDsrSensitivity = false;
  dcb.fAbortOnError = false;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  uint16_t limit = rxQueue > 512 ? 128 : uint16_t(rxQueue > 0 ? rxQueue / 4 : 0);
  dcb.XonLim = limit;
  dcb.XoffLim = limit;
  int applied = devApply(fd, dcb);
  lowerModemLines(fd);  // a device found at speed 0 raised them again
  if (applied != 0) {
    devLoadDcb(fd, &dcb);  // the record says what the device keeps
    return SioFail(applied);
  }

  // Queue sizes, the line escape with no action and the event mask have no
  // counterpart on a terminal. Error counts start from here.
  rec.CountersValid = devErrorCounters(fd, &rec.Counters) == 0;
  rec.OpenCounters = rec.Counters;
  rec.OpenCountersValid = rec.CountersValid;
  return 0;
}

int SioDone(int port) {
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  const int fd = rec.Handle;
  const bool stuck = waitForOutput(fd);
  if (rec.OldTimeoutsSaved)
    devWriteSettings(fd, rec.OldTimeouts);  // a vanished device cannot take them; still close
  rec.OldTimeoutsSaved = false;
  rec.Handle = -1;
  return devClose(fd, stuck) == 0 ? 1 : 0;
}

int SioPutc(int port, int byte) {
  if (int r = SioPrologue(port))
    return r;
  const uint8_t b = uint8_t(byte);
  WriteOutcome out = writeWithDeadline(PortData[port].Handle, &b, 1, PortData[port].Dcb->BaudRate);
  return out.written == 1 ? 0 : SioFail(out.err);
}

int SioPuts(int port, const uint8_t *buffer, int length) {
  if (int r = bufferPrologue(port, buffer, length))
    return r > 0 ? 0 : r;
  WriteOutcome out =
      writeWithDeadline(PortData[port].Handle, buffer, length, PortData[port].Dcb->BaudRate);
  if (out.err != 0)
    LastWinError = out.err;
  // What the kernel took is reported even when the rest failed or timed out.
  if (out.written == 0 && out.err != 0 && out.err != ETIMEDOUT)
    return SIO_WIN32_ERROR;
  return out.written;
}

int SioPutsNow(int port, const uint8_t *buffer, int length) {
  if (int r = bufferPrologue(port, buffer, length))
    return r > 0 ? 0 : r;
  const int fd = PortData[port].Handle;
  if (remotePort(fd)) {
    int taken = 0;
    const int err = remoteWrite(fd, buffer, length, 0, false, &taken);
    return taken == 0 && err != 0 ? SioFail(err) : taken;
  }
  for (;;) {
    ssize_t n = write(fd, buffer, size_t(length));
    if (n >= 0)
      return int(n);
    if (errno == EAGAIN)
      return 0;
    if (errno != EINTR)
      return SioFail(errno);
  }
}

int SioGetc(int port) {
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  if (rec.UnGetByte != 0) {
    int b = rec.UnGetByte;
    rec.UnGetByte = 0;
    return b;
  }
  uint8_t b = 0;
  const int n = readSome(rec.Handle, &b, 1);
  if (n < 0)
    return SioFail(-n);
  return n == 1 ? int(b) : int(SIO_NO_DATA);
}

int SioGets(int port, uint8_t *buffer, int length) {
  if (int r = bufferPrologue(port, buffer, length))
    return r > 0 ? 0 : r;
  PortRecord &rec = PortData[port];
  if (rec.UnGetByte != 0) {
    buffer[0] = rec.UnGetByte;
    rec.UnGetByte = 0;
    return 1;
  }
  const int n = readSome(rec.Handle, buffer, length);
  return n < 0 ? SioFail(-n) : n;
}

int SioHandle(int port) {
  if (int r = SioPrologue(port))
    return r;
  return PortData[port].Handle;
}

int SioUnGetc(int port, int byte) {
  if (int r = SioPrologue(port))
    return r;
  PortData[port].UnGetByte = uint8_t(byte);
  return 0;
}

int SioRxQue(int port) {
  if (int r = SioPrologue(port))
    return r;
  int count = 0;
  return devInputCount(PortData[port].Handle, &count) == 0 ? count : 0;
}

int SioTxQue(int port) {
  if (int r = SioPrologue(port))
    return r;
  int count = 0;
  return devOutputCount(PortData[port].Handle, &count) == 0 ? count : 0;
}

int SioRxClear(int port) {
  if (int r = SioPrologue(port))
    return r;
  PortData[port].UnGetByte = 0;
  devFlushInput(PortData[port].Handle);
  return 0;
}

int SioTxClear(int port) {
  if (int r = SioPrologue(port))
    return r;
  return 0;
}

int SioTxDrop(int port) {
  if (int r = SioPrologue(port))
    return r;
  if (int err = devFlushOutput(PortData[port].Handle))
    return SioFail(err);
  return 0;
}

int SioRead(int port) {
  if (int r = SioPrologue(port))
    return r;
  return SIO_BAD_PORT;
}

uint32_t SioTimer() { return Clock.now(); }

void SioSleep(uint32_t ms) { Clock.sleep(ms); }

void SioSetClock(const SioClock *clock) {
  if (clock && clock->now && clock->sleep)
    Clock = *clock;
  else
    Clock = {systemNow, systemSleep};
}
