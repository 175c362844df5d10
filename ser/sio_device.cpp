// Device layer: every termios and ioctl call of the serial library.
//
// The line settings go through the kernel's termios2 interface
// (TCGETS2/TCSETS2), which carries the speed as a number: standard rates use
// their B-codes and any other rate BOTHER, and a saved setting comes back
// with its exact speed. <termios.h> is deliberately not included here: its
// struct termios clashes with the kernel's <asm/termbits.h>.
#include "ser/sio_internal.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct RateCode {
  uint32_t rate;
  uint32_t code;
};

constexpr RateCode StandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

uint32_t rateCode(uint32_t rate) {
  for (const RateCode &r : StandardRates)
    if (r.rate == rate)
      return r.code;
  return BOTHER;
}

int errnoOf(int result) { return result < 0 ? errno : 0; }

void toKernel(const LineSettings &s, termios2 *t) {
  *t = termios2{};
  t->c_iflag = s.iflag;
  t->c_oflag = s.oflag;
  t->c_cflag = s.cflag;
  t->c_lflag = s.lflag;
  t->c_line = s.line;
  static_assert(sizeof t->c_cc == sizeof s.cc);
  memcpy(t->c_cc, s.cc, sizeof s.cc);
  t->c_ispeed = s.ispeed;
  t->c_ospeed = s.ospeed;
}

void fromKernel(const termios2 &t, LineSettings *s) {
  s->iflag = t.c_iflag;
  s->oflag = t.c_oflag;
  s->cflag = t.c_cflag;
  s->lflag = t.c_lflag;
  s->line = t.c_line;
  memcpy(s->cc, t.c_cc, sizeof s->cc);
  s->ispeed = t.c_ispeed;
  s->ospeed = t.c_ospeed;
}

// Parity codes 0..4 (none, odd, even, mark, space) as c_cflag bits.
constexpr tcflag_t ParityMask = PARENB | PARODD | CMSPAR;
bool parityBits(uint8_t parity, tcflag_t *bits) {
  static constexpr tcflag_t Bits[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                      PARENB | CMSPAR};
  if (parity >= std::size(Bits))
    return false;
  *bits = Bits[parity];
  return true;
}

bool sizeBits(uint8_t dataBits, tcflag_t *bits) {
  static constexpr tcflag_t Bits[] = {CS5, CS6, CS7, CS8};
  if (dataBits < 5 || dataBits > 8)
    return false;
  *bits = Bits[dataBits - 5];
  return true;
}

// A driver may round an arbitrary rate to what its clock can make; within
// 2 % a UART still talks to the far end, so that counts as accepted.
bool rateKept(uint32_t asked, uint32_t got) {
  uint64_t diff = asked > got ? asked - got : got - asked;
  return diff * 50 <= asked;
}

}  // namespace

int devOpen(const char *path, int *fd) {
  if (remoteName(path))
    return remoteOpen(path, fd);
  *fd = -1;
  // Only character devices are opened at all: opening a FIFO or a file by
  // mistake must not have side effects.
  struct stat st {};
  if (stat(path, &st) != 0)
    return errno;
  if (!S_ISCHR(st.st_mode))
    return ENOTTY;
  int f = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (f < 0)
    return errno;
  int err = 0;
  if (!isatty(f))
    err = ENOTTY;
  // The advisory lock stops every process that asks, root included;
  // exclusive mode also stops non-root processes that do not ask.
  else if (flock(f, LOCK_EX | LOCK_NB) != 0)
    err = errno == EWOULDBLOCK ? EBUSY : errno;
  else if (ioctl(f, TIOCEXCL) != 0)
    err = errno;
  if (err != 0) {
    close(f);
    return err;
  }
  *fd = f;
  return 0;
}

int devClose(int fd, bool discardOutput) {
  if (remotePort(fd))
    return remoteClose(fd);
  if (discardOutput)
    ioctl(fd, TCFLSH, TCOFLUSH);
  ioctl(fd, TIOCNXCL);
  return close(fd) == 0 ? 0 : errno;
}

int devReadSettings(int fd, LineSettings *settings) {
  if (remotePort(fd))
    return 0;  // nothing of the kind to save on a remote port
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0)
    return errno;
  fromKernel(t, settings);
  return 0;
}

int devWriteSettings(int fd, const LineSettings &settings) {
  if (remotePort(fd))
    return 0;
  termios2 t;
  toKernel(settings, &t);
  return errnoOf(ioctl(fd, TCSETS2, &t));
}

int devLoadDcb(int fd, PortDCB_t *dcb) {
  if (remotePort(fd))
    return 0;  // the record is what was asked for and confirmed
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0)
    return errno;
  dcb->BaudRate = t.c_ospeed;
  static constexpr uint8_t Sizes[] = {5, 6, 7, 8};
  dcb->ByteSize = Sizes[(t.c_cflag & CSIZE) / CS6];
  if (!(t.c_cflag & PARENB))
    dcb->Parity = 0;
  else if (t.c_cflag & CMSPAR)
    dcb->Parity = (t.c_cflag & PARODD) ? 3 : 4;
  else
    dcb->Parity = (t.c_cflag & PARODD) ? 1 : 2;
  dcb->StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  dcb->fParity = (t.c_iflag & INPCK) != 0;
  dcb->fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  dcb->fRtsControl = dcb->fOutxCtsFlow ? 2 : 0;
  dcb->fOutX = (t.c_iflag & IXON) != 0;
  dcb->fInX = (t.c_iflag & IXOFF) != 0;
  dcb->XonChar = t.c_cc[VSTART];
  dcb->XoffChar = t.c_cc[VSTOP];
  return 0;
}

int devApply(int fd, const PortDCB_t &dcb) {
  if (remotePort(fd))
    return remoteApply(fd, dcb);
  tcflag_t size = 0, parity = 0;
  if (dcb.BaudRate == 0 || !sizeBits(dcb.ByteSize, &size) || !parityBits(dcb.Parity, &parity) ||
      dcb.StopBits > 2)
    return EINVAL;

  termios2 want{};
  if (ioctl(fd, TCGETS2, &want) != 0)
    return errno;
  const termios2 before = want;

  // Raw bytes both ways: no echo, no line editing, no signals, no output
  // processing, no input translation. A received break is no data byte: it
  // is dropped from the input and only counted, for SioStatus.
  want.c_iflag &= ~tcflag_t(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                            IXANY | IUCLC | IMAXBEL | INPCK);
  want.c_iflag |= IGNBRK;
  want.c_oflag &= ~tcflag_t(OPOST);
  want.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

  // Receiver on; carrier and the other modem lines play no part in opening
  // or reading.
  want.c_cflag &= ~tcflag_t(CSIZE | ParityMask | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  want.c_cflag |= CREAD | CLOCAL | size | parity;
  // One and a half stop bits are made as two (a UART gives 1.5 for CSTOPB
  // only with 5 data bits).
  if (dcb.StopBits != 0)
    want.c_cflag |= CSTOPB;
  // Linux has one switch for both directions of RTS/CTS handshaking.
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2)
    want.c_cflag |= CRTSCTS;

  uint32_t code = rateCode(dcb.BaudRate);
  want.c_cflag |= code | (code << IBSHIFT);
  want.c_ospeed = want.c_ispeed = dcb.BaudRate;

  if (dcb.fOutX)
    want.c_iflag |= IXON;
  if (dcb.fInX)
    want.c_iflag |= IXOFF;
  if (dcb.fParity)
    want.c_iflag |= INPCK;
  want.c_cc[VSTART] = dcb.XonChar;
  want.c_cc[VSTOP] = dcb.XoffChar;
  // Reads return at once with whatever has arrived.
  want.c_cc[VMIN] = 0;
  want.c_cc[VTIME] = 0;

  if (ioctl(fd, TCSETS2, &want) != 0)
    return errno;

  // The call succeeds when any part was taken; the driver may have dropped
  // or replaced the rest, so compare what it kept, and when anything was
  // refused put the device back as it was rather than half changed.
  termios2 got{};
  if (ioctl(fd, TCGETS2, &got) != 0)
    return errno;
  constexpr tcflag_t CheckedCflags = CSIZE | ParityMask | CSTOPB | CRTSCTS;
  constexpr tcflag_t CheckedIflags = IXON | IXOFF;
  bool kept = (got.c_cflag & CheckedCflags) == (want.c_cflag & CheckedCflags) &&
              (got.c_iflag & CheckedIflags) == (want.c_iflag & CheckedIflags) &&
              got.c_cc[VSTART] == want.c_cc[VSTART] && got.c_cc[VSTOP] == want.c_cc[VSTOP] &&
              rateKept(dcb.BaudRate, got.c_ospeed);
  if (kept)
    return 0;
  ioctl(fd, TCSETS2, &before);
  return EINVAL;
}

int devInputCount(int fd, int *count) {
  if (remotePort(fd))
    return remoteInputCount(fd, count);
  *count = 0;
  return errnoOf(ioctl(fd, FIONREAD, count));
}

int devOutputCount(int fd, int *count) {
  if (remotePort(fd))
    return remoteOutputCount(fd, count);
  *count = 0;
  return errnoOf(ioctl(fd, TIOCOUTQ, count));
}

int devFlushInput(int fd) {
  return remotePort(fd) ? remoteFlushInput(fd) : errnoOf(ioctl(fd, TCFLSH, TCIFLUSH));
}
int devFlushOutput(int fd) {
  return remotePort(fd) ? remoteFlushOutput(fd) : errnoOf(ioctl(fd, TCFLSH, TCOFLUSH));
}

namespace {
const SioModemDevice *g_modem = nullptr;  // a stand-in for the modem lines, or none
SioModemDevice g_modem_copy;
}  // namespace

void SioSetModemDevice(const SioModemDevice *device) {
  if (device && device->get && device->set && device->brk) {
    g_modem_copy = *device;
    g_modem = &g_modem_copy;
  } else {
    g_modem = nullptr;
  }
}

int devSetModemLine(int fd, ModemLine line, bool on) {
  if (remotePort(fd))
    return remoteSetModemLine(fd, line, on);
  const int bit = line == ModemLine::Dtr ? SIO_LINE_DTR : SIO_LINE_RTS;
  if (g_modem)
    return g_modem->set(fd, bit, on);
  int bits = line == ModemLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
  return errnoOf(ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits));
}

int devModemStatus(int fd, int *bits) {
  if (remotePort(fd))
    return remoteModemStatus(fd, bits);
  *bits = 0;
  if (g_modem)
    return g_modem->get(fd, bits);
  int status = 0;
  if (ioctl(fd, TIOCMGET, &status) != 0)
    return errno;
  const struct {
    int tiocm;
    int bit;
  } kLines[] = {{TIOCM_DTR, SIO_LINE_DTR}, {TIOCM_RTS, SIO_LINE_RTS}, {TIOCM_CTS, SIO_LINE_CTS},
                {TIOCM_DSR, SIO_LINE_DSR}, {TIOCM_RI, SIO_LINE_RI},   {TIOCM_CD, SIO_LINE_DCD}};
  for (const auto &line : kLines)
    if (status & line.tiocm)
      *bits |= line.bit;
  return 0;
}

int devSetBreak(int fd, bool on) {
  if (remotePort(fd))
    return remoteSetBreak(fd, on);
  if (g_modem)
    return g_modem->brk(fd, on);
  return errnoOf(ioctl(fd, on ? TIOCSBRK : TIOCCBRK));
}

int devErrorCounters(int fd, ErrorCounters *counters) {
  if (remotePort(fd))
    return remoteErrorCounters(fd, counters);
  serial_icounter_struct ic{};
  if (ioctl(fd, TIOCGICOUNT, &ic) != 0)
    return errno;
  counters->framing = uint32_t(ic.frame);
  counters->overrun = uint32_t(ic.overrun);
  counters->parity = uint32_t(ic.parity);
  counters->breaks = uint32_t(ic.brk);
  counters->overflow = uint32_t(ic.buf_overrun);
  return 0;
}
