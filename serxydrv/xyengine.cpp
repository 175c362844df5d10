// The XMODEM protocol engine: xyDriver advances the transfer record's state
// machine by up to nine steps per call. A step either goes on at once or
// pauses, ending the call; the next call continues where it paused. No step
// waits for the line: a state waiting for a byte, for CTS or for time to
// pass pauses and looks again on the next call, its time limit kept by a
// mark on the library's clock.
#include "serxydrv/xyinternal.h"
#include "ser/ser.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum Flow { Go, Pause };

constexpr int STEPS_PER_CALL = 9;

Flow fail(int port, int code) {
  SetXYerror(port, code);
  return Pause;
}

Flow succeed(int port) {
  SetXYerror(port, 0);
  return Pause;
}

uint32_t elapsed() { return SioTimer() - xyList.TimeMark; }

bool checksumMode() { return xyList.NCGchar == NAK; }

void addToCheck(uint8_t byte) {
  if (checksumMode())
    xyList.Check = uint16_t((xyList.Check + byte) & 0xFF);
  else
    xyList.Check = UpdateCRC(xyList.Check, byte);
}

// A handle above 0, as the record counts 0 as "no file".
int keepAboveZero(int fd) {
  if (fd != 0)
    return fd;
  int moved = fcntl(fd, F_DUPFD, 1);
  close(fd);
  return moved;
}

// Reasons a file is refused, for the message that goes with -302.
constexpr const char *NotRegular = "Not a regular file";
constexpr const char *TooLarge = "File larger than 2147483647 bytes";
static_assert(XY_LARGEST_FILE == 2147483647);

// Opens name, which must be a regular file, without ever blocking: a FIFO
// could wait for its other end for good and a device could act on its
// hardware, so anything else is refused, before it is opened when it can be
// told. A handle above 0, or -1 with the reason in *why.
int openRegularFile(const char *name, int flags, const char **why) {
  struct stat st {};
  if (name[0] == '\0') {
    *why = "No file name";
    return -1;
  }
  if (stat(name, &st) == 0 && !S_ISREG(st.st_mode)) {
    *why = NotRegular;
    return -1;
  }
  int fd = open(name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    *why = strerror(errno);
    return -1;
  }
  // The name may have been given to something else since it was looked at.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *why = NotRegular;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd = keepAboveZero(fd);
  if (fd < 0)
    *why = strerror(errno);
  return fd;
}

// Opens for reading; others may read it too but not write it.
int openForReading(const char *name, const char **why) {
  int fd = openRegularFile(name, O_RDONLY, why);
  if (fd > 0 && flock(fd, LOCK_SH | LOCK_NB) != 0) {
    close(fd);
    *why = "In use by another program";
    return -1;
  }
  return fd;
}

int createFile(const char *name, const char **why) {
  return openRegularFile(name, O_WRONLY | O_CREAT | O_TRUNC, why);
}

// Reads up to size bytes, as many as the file still has.
int readFull(int fd, uint8_t *buffer, int size) {
  int got = 0;
  while (got < size) {
    ssize_t n = read(fd, buffer + got, size_t(size - got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return -1;
    if (n == 0)
      break;
    got += int(n);
  }
  return got;
}

bool writeFull(int fd, const uint8_t *buffer, int size) {
  int done = 0;
  while (done < size) {
    ssize_t n = write(fd, buffer + done, size_t(size - done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += int(n);
  }
  return true;
}

// Ends the transfer with -302, after a message saying why the file of the
// record was refused.
Flow refuseFile(int port, const char *why) {
  char base[XY_FILE_NAME_SIZE];
  QueueMessage("!COM%d: %s: %s", port + 1, why, FileNameCopy(base, xyList.FileName));
  return fail(port, XY_CANNOT_OPEN);
}

// A byte from GetChar, or: NoByte (-100, the state applies its own limit) or
// a hard error that GetChar has already reported (the transfer has ended).
bool isHardError(int c) { return c < 0 && c != SIO_NO_DATA; }

// The far end's cancel is two CANs in a row where a header or an answer is
// read; one alone is a damaged byte, as one noise byte can read as CAN.
bool isCancel(int c) {
  const bool second = c == CAN && xyList.CanSeen;
  xyList.CanSeen = c == CAN;
  return second;
}

// The line counts as quiet after this long without a byte: the time a port
// needs for three bytes, and never less than XY_QUIET_MS.
uint32_t quietMs(int port) {
  uint32_t baud = PortDCB[port].BaudRate;
  uint32_t threeBytes = baud ? 30000u / baud + 1 : 0;
  return threeBytes > XY_QUIET_MS ? threeBytes : XY_QUIET_MS;
}

// --- Sending ------------------------------------------------------------------

Flow sendOpenFile(int port) {
  XyList &x = xyList;
  x.EndOfBatch = x.BatchFlag && x.FileName[0] == '\0';
  x.BytesSent = 0;
  x.ErrorCount = 0;
  if (x.EndOfBatch) {
    x.FileSize = 0;
  } else {
    const char *why = nullptr;
    int fd = openForReading(x.FileName, &why);
    if (fd <= 0)
      return refuseFile(port, why);
    x.FileHandle = fd;
    // The size is announced in 32 signed bits: a larger file is refused
    // whole rather than sent in part.
    const int64_t length = FileLength(fd);
    if (length > XY_LARGEST_FILE)
      return refuseFile(port, TooLarge);
    x.FileSize = length;
  }
  x.NextState = XY_TX_FIRST_PACKET;
  x.TimeMark = SioTimer();
  if (DebugLevel >= 1)
    QueueMessage("COM%d:TX FileName='%s' Size=%lld ", port + 1, x.FileName,
                 static_cast<long long>(x.FileSize));
  x.State = XY_TX_AWAIT_START;
  return Go;
}

Flow sendAwaitStart(int port) {
  XyList &x = xyList;
  int c = GetChar(port);
  if (c == SIO_NO_DATA) {
    if (elapsed() > XY_START_WAIT_MS)
      return fail(port, XY_NO_STARTUP);
    return Pause;
  }
  if (isHardError(c))
    return Pause;
  if (isCancel(c))
    return fail(port, XY_CANCELLED);
  if (c == NAK || c == CRC_START) {
    x.NCGchar = uint8_t(c);
    DropReceived(port);
    if (DebugLevel >= 2)
      QueueMessage("[S=%d]", c);
    x.State = x.NextState;
  }
  return Pause;
}

// Packet 0: the name as given, its NUL, the size in decimal, zeros.
void fillPacketZero() {
  XyList &x = xyList;
  memset(x.Buffer, 0, XY_PACKET_SIZE);
  size_t nameLength = strnlen(x.FileName, XY_FILE_NAME_SIZE - 1);
  memcpy(x.Buffer, x.FileName, nameLength);
  char sizeText[16];
  int sizeLength = snprintf(sizeText, sizeof sizeText, "%lld", static_cast<long long>(x.FileSize));
  size_t at = nameLength + 1;
  for (int i = 0; i < sizeLength && at < XY_PACKET_SIZE; ++i)
    x.Buffer[at++] = uint8_t(sizeText[i]);
}

Flow sendFillPacket(int port) {
  XyList &x = xyList;
  if (x.EndOfBatch) {
    x.PacketSize = XY_PACKET_SIZE;
    memset(x.Buffer, 0, XY_PACKET_SIZE);
  } else if (x.Packet == 0) {
    x.PacketSize = XY_PACKET_SIZE;
    fillPacketZero();
  } else {
    bool big = x.OneKflag && x.ErrorCount < XY_NAKS_BEFORE_SHORT_PACKETS &&
               x.FileSize - x.BytesSent >= XY_PACKET_SIZE_1K;
    x.PacketSize = big ? XY_PACKET_SIZE_1K : XY_PACKET_SIZE;
    int got = readFull(x.FileHandle, x.Buffer, x.PacketSize);
    if (got <= 0)
      return fail(port, XY_DISK_READ);
    memset(x.Buffer + got, EOFchar, size_t(x.PacketSize - got));
  }
  x.State = XY_TX_PREPARE_PACKET;
  return Go;
}

Flow sendHeader(int port) {
  XyList &x = xyList;
  uint8_t number = uint8_t(x.Packet);
  if (PutChar(port, x.HeaderChar) < 0 || PutChar(port, number) < 0 ||
      PutChar(port, 255 - number) < 0)
    return Pause;
  x.Check = 0;
  x.DataCount = 0;
  x.TimeMark = SioTimer();
  x.State = XY_TX_SEND_DATA;
  return Go;
}

// Sends the data in one write, or, when CTS is watched, in runs that end
// before each byte whose index modulo 32 is 31: CTS is looked at before it,
// and while it is down the step pauses and resumes there.
Flow sendData(int port) {
  XyList &x = xyList;
  while (x.DataCount < x.PacketSize) {
    const int from = x.DataCount;
    int to = x.PacketSize;
    if (x.CTSflag) {
      const bool checkpoint = from % XY_CTS_BLOCK == XY_CTS_BLOCK - 1;
      if (checkpoint && WaitForCTS(port) != 0)
        return Pause;
      const int nextCheckpoint =
          checkpoint ? from + XY_CTS_BLOCK : from / XY_CTS_BLOCK * XY_CTS_BLOCK + XY_CTS_BLOCK - 1;
      to = std::min(to, nextCheckpoint);
    }
    if (PutBytes(port, x.Buffer + from, to - from) < 0)
      return Pause;
    for (int i = from; i < to; ++i)
      addToCheck(x.Buffer[i]);
    x.DataCount = to;
    // CTS is looked at again once the line has taken the run.
    if (x.CTSflag && OutputHeld())
      return Pause;
  }
  x.DataCount = 0;
  x.State = XY_TX_SEND_CHECK;
  if (x.Packet == x.FirstPacket) {
    x.TimeMark = SioTimer();
    return Pause;
  }
  return Go;
}

Flow sendCheck(int port) {
  XyList &x = xyList;
  // The first packet's check bytes wait a little, so that start characters
  // the receiver repeated meanwhile are dropped before its reply.
  if (x.Packet == x.FirstPacket && elapsed() < XY_FIRST_CHECK_DELAY_MS)
    return Pause;
  DropReceived(port);
  if (checksumMode()) {
    if (PutChar(port, x.Check & 0xFF) < 0)
      return Pause;
    if (DebugLevel >= 2)
      QueueMessage("COM%d: Sent packet %d Size=%d NCG=%c CS=%x", port + 1, x.Packet, x.PacketSize,
                   x.NCGchar, x.Check & 0xFF);
  } else {
    if (PutChar(port, x.Check >> 8) < 0 || PutChar(port, x.Check & 0xFF) < 0)
      return Pause;
    if (DebugLevel >= 2)
      QueueMessage("COM%d: Sent packet %d Size=%d NCG=%c CRC=%x", port + 1, x.Packet, x.PacketSize,
                   x.NCGchar, x.Check);
  }
  x.TimeMark = SioTimer();
  x.State = XY_TX_AWAIT_REPLY;
  return Go;
}

// The receiver refused the packet: it goes out again, at most TryLimit - 1
// times. Once the file has had XY_NAKS_BEFORE_SHORT_PACKETS refusals a 1K
// packet is not sent again whole: its data go out again in 128-byte packets,
// the first with the same number, each with its own tries.
Flow resendPacket(int port) {
  XyList &x = xyList;
  x.Resyncing = 0;
  ++x.TryCount;
  ++x.ErrorCount;
  if (DebugLevel >= 1)
    QueueMessage("COM%d: Packet %d NAKed", port + 1, x.Packet);
  DropReceived(port);
  if (x.TryCount >= x.TryLimit)
    return fail(port, XY_RETRY_LIMIT);
  if (x.PacketSize == XY_PACKET_SIZE_1K && x.ErrorCount >= XY_NAKS_BEFORE_SHORT_PACKETS &&
      lseek(x.FileHandle, off_t(x.BytesSent), SEEK_SET) == off_t(x.BytesSent)) {
    x.State = XY_TX_FILL_PACKET;
    return Go;
  }
  x.State = XY_TX_SEND_HEADER;
  return Go;
}

Flow sendAwaitReply(int port) {
  XyList &x = xyList;
  int c = GetChar(port);
  if (c == SIO_NO_DATA) {
    // A byte that was no answer, and then silence: the answer was damaged
    // on the line, or the receiver asked again with its start character.
    if (x.Resyncing && SioTimer() - x.QuietMark >= quietMs(port))
      return resendPacket(port);
    if (elapsed() > XY_REPLY_WAIT_MS)
      return fail(port, XY_TIMED_OUT);
    return Pause;
  }
  if (isHardError(c))
    return Pause;
  if (isCancel(c))
    return fail(port, XY_CANCELLED);
  if (c == ACK) {
    if (x.Packet > 0)
      x.BytesSent += x.PacketSize;
    if (DebugLevel >= 2)
      QueueMessage("COM%d: Packet %d ACKed", port + 1, x.Packet);
    x.Resyncing = 0;
    x.State = XY_TX_AFTER_ACK;
    return Go;
  }
  if (c == NAK)
    return resendPacket(port);
  // Any other byte: the real answer may still follow; without one the
  // packet counts as refused once the line has been quiet.
  if (DebugLevel >= 1)
    QueueMessage("COM%d:Packet %d expects ACK/NAK not %xH", port + 1, x.Packet, int(int8_t(c)));
  x.Resyncing = 1;
  x.QuietMark = SioTimer();
  return Go;
}

Flow sendAfterAck(int port) {
  XyList &x = xyList;
  if (!x.EndOfBatch && x.Packet == 0) {
    // Packet 0 accepted: the receiver asks again for the data.
    if (DebugLevel >= 2)
      QueueMessage("COM%d: 'Restart' after packet 0", port + 1);
    x.TimeMark = SioTimer();
    x.NextState = XY_TX_NEXT_PACKET;
    x.State = XY_TX_AWAIT_START;
  } else {
    x.State = XY_TX_NEXT_PACKET;
  }
  return Go;
}

Flow sendNextOrEnd(int port) {
  XyList &x = xyList;
  if (x.BytesSent < x.FileSize) {
    ++x.Packet;
    x.State = XY_TX_FILL_PACKET;
    return Go;
  }
  CloseFile();
  if (x.EndOfBatch)
    return succeed(port);
  x.TryLimit = XY_EOT_TRY_LIMIT;
  x.State = XY_TX_SEND_EOT;
  return Go;
}

Flow sendEot(int port) {
  XyList &x = xyList;
  x.TimeMark = SioTimer();
  if (PutChar(port, EOT) < 0)
    return Pause;
  if (DebugLevel >= 2)
    QueueMessage("SEND: EOT");
  x.State = XY_TX_AWAIT_EOT_ACK;
  return Go;
}

// EOT again, or the end after the last of XY_EOT_TRY_LIMIT EOTs.
Flow repeatEot(int port) {
  XyList &x = xyList;
  if (--x.TryLimit <= 0 && x.EotAnswered && !x.BatchFlag) {
    // An answer came, damaged, and no refusal since: the receiver took the
    // end and left, as receivers do after their ACK (every packet was
    // acknowledged before).
    QueueMessage("COM%d: EOT answered, receiver gone since: taken as ACKed", port + 1);
    return succeed(port);
  }
  if (x.TryLimit <= 0) {
    if (DebugLevel >= 1)
      QueueMessage("COM%d: EOT was not ACKed", port + 1);
    return fail(port, XY_EOT_NOT_ACKED);
  }
  x.State = XY_TX_SEND_EOT;
  return Go;
}

Flow sendAwaitEotAck(int port) {
  XyList &x = xyList;
  int c = GetChar(port);
  if (c == SIO_NO_DATA)
    return elapsed() > XY_EOT_WAIT_MS ? repeatEot(port) : Pause;
  if (isHardError(c))
    return Pause;
  if (isCancel(c))
    return fail(port, XY_CANCELLED);
  // A receiver that makes sure of the end refuses the first EOT: the next
  // goes out at once.
  x.EotAnswered = c != NAK;
  if (c == NAK)
    return repeatEot(port);
  if (c == ACK) {
    if (DebugLevel >= 2)
      QueueMessage("COM%d: EOT was ACKed", port + 1);
    if (x.BatchFlag) {
      x.FileName[0] = '\0';
      x.State = XY_TX_OPEN_FILE;
      return Go;
    }
    return succeed(port);
  }
  return Go;
}

// --- Receiving ----------------------------------------------------------------

Flow receiveStart(int port) {
  DropReceived(port);
  xyList.BytesWritten = 0;
  xyList.State = XY_RX_CREATE_FILE;
  return Go;
}

Flow receiveCreate(int port) {
  XyList &x = xyList;
  if (x.BatchFlag) {
    x.FirstPacket = 0;
  } else {
    x.FirstPacket = 1;
    const char *why = nullptr;
    int fd = createFile(x.FileName, &why);
    if (fd <= 0)
      return refuseFile(port, why);
    x.FileHandle = fd;
  }
  x.State = XY_RX_FIRST_PACKET;
  return Go;
}

Flow receiveFirstPacket(int /*port*/) {
  xyList.Packet = xyList.FirstPacket;
  xyList.NextState = XY_RX_PREPARE_PACKET;
  LastAcceptedPacket = -1;
  xyList.State = XY_RX_SEND_START;
  return Go;
}

Flow receiveSendStart(int port) {
  if (PutChar(port, xyList.NCGchar) < 0)
    return Pause;
  xyList.TimeMark = SioTimer();
  xyList.State = XY_RX_AWAIT_ANSWER;
  return Pause;
}

Flow receiveAwaitAnswer(int port) {
  XyList &x = xyList;
  int c = GetChar(port);
  if (c == SIO_NO_DATA) {
    if (elapsed() >= uint32_t(RxNakRate) * 1000u) {
      x.State = XY_RX_SEND_START;
      return Go;
    }
    return Pause;
  }
  if (isHardError(c))
    return Pause;
  if (DebugLevel >= 2)
    QueueMessage("COM%d: Received %c (%xH)", port + 1, c, c);
  if (c == SOH || c == STX || c == CAN || c == EOT) {
    ReadyByte = c;  // the packet state reads it again
    x.State = x.NextState;
  } else {
    x.State = XY_RX_SEND_START;
  }
  return Pause;
}

Flow receivePrepare(int /*port*/) {
  xyList.TryCount = 1;
  xyList.TryLimit = XY_PACKET_TRY_LIMIT;
  xyList.TimeMark = SioTimer();
  xyList.State = XY_RX_AWAIT_PACKET;
  return Go;
}

// Refusal of what arrived: NAK, once the rest of it has stopped arriving,
// so that its tail is not taken for the start of the next packet.
void beginResync() {
  XyList &x = xyList;
  x.Resyncing = 1;
  x.QuietMark = x.ResyncMark = SioTimer();
  x.State = XY_RX_AWAIT_PACKET;
}

Flow resync(int port) {
  XyList &x = xyList;
  int c = SIO_NO_DATA;
  bool dropped = false;
  for (int i = 0; i < XY_PACKET_SIZE_1K && (c = GetChar(port)) >= 0; ++i) {
    if (isCancel(c))
      return fail(port, XY_CANCELLED);
    dropped = true;
  }
  if (isHardError(c))
    return Pause;
  const uint32_t now = SioTimer();
  if (dropped)
    x.QuietMark = now;
  if (now - x.QuietMark < quietMs(port) && now - x.ResyncMark < XY_BYTE_WAIT_MS)
    return Pause;
  if (WaitForCTS(port) != 0 || PutChar(port, NAK) < 0)
    return Pause;
  x.Resyncing = 0;
  x.TimeMark = SioTimer();
  return Pause;
}

Flow receiveAwaitPacket(int port) {
  XyList &x = xyList;
  if (x.Resyncing)
    return resync(port);
  int c = GetChar(port);
  if (c == SIO_NO_DATA) {
    if (elapsed() <= uint32_t(RxNakRate) * 1000u)
      return Pause;
    // The sender may be waiting for an answer the line damaged: it is asked
    // again with NAK, TryLimit - 1 times in all (TryCount starts at 1), and
    // the receive ends at the silence after that.
    if (++x.TryCount > x.TryLimit)
      return fail(port, XY_TIMED_OUT);
    beginResync();
    return Go;
  }
  if (isHardError(c))
    return Pause;
  if (DebugLevel >= 2)
    QueueMessage("[F=%d]", c);
  x.TimeMark = SioTimer();
  if (isCancel(c))
    return fail(port, XY_CANCELLED);
  switch (c) {
  case SOH:
    x.PacketSize = XY_PACKET_SIZE;
    x.State = XY_RX_READ_NUMBER;
    x.EotRefused = 0;
    return Go;
  case STX:
    x.PacketSize = XY_PACKET_SIZE_1K;
    x.State = XY_RX_READ_NUMBER;
    x.EotRefused = 0;
    return Go;
  case EOT:
    // One noise byte can look like EOT: the end counts once the sender
    // repeats it after a NAK.
    if (!x.EotRefused) {
      x.EotRefused = 1;
      beginResync();
      return Go;
    }
    if (PutChar(port, ACK) < 0)
      return Pause;
    CloseFile();
    if (x.BatchFlag) {
      x.State = XY_RX_START;
      return Pause;
    }
    return succeed(port);
  default:
    // A damaged header byte: the packet behind it is refused.
    if (DebugLevel >= 1)
      QueueMessage("COM%d: Packet %d starts with %xH", port + 1, x.Packet, c);
    ++x.ErrorCount;
    beginResync();
    return Go;
  }
}

// One byte inside a packet: a byte, or -1 when the step must pause (no byte
// yet, or the transfer has ended through a time-out or a hard error).
int packetByte(int port) {
  int c = GetChar(port);
  if (c >= 0)
    return c;
  if (c == SIO_NO_DATA && elapsed() > XY_BYTE_WAIT_MS)
    fail(port, XY_TIMED_OUT);
  return -1;
}

Flow receiveNumber(int port) {
  int c = packetByte(port);
  if (c < 0)
    return Pause;
  if (DebugLevel >= 2)
    QueueMessage("[P=%d]", c);
  xyList.RxPacket = c;
  xyList.TimeMark = SioTimer();
  xyList.State = XY_RX_READ_COMPLEMENT;
  return Go;
}

Flow receiveComplement(int port) {
  XyList &x = xyList;
  int c = packetByte(port);
  if (c < 0)
    return Pause;
  x.RxPacketCmp = c;
  if (x.RxPacket + x.RxPacketCmp != 255) {
    // Number or complement damaged on the line: the packet is refused.
    if (DebugLevel >= 2)
      QueueMessage("Packet %d: Got=%d, Cmp=%d", x.Packet, x.RxPacket, x.RxPacketCmp);
    ++x.ErrorCount;
    beginResync();
    return Go;
  }
  x.Check = 0;
  x.DataCount = 0;
  x.TimeMark = SioTimer();
  x.State = XY_RX_READ_DATA;
  return Go;
}

// Takes what has arrived of the data and resumes at DataCount on the next
// call; a sender pausing inside a packet gets 6000 ms per byte, as in the
// other packet states.
Flow receiveData(int port) {
  XyList &x = xyList;
  for (int i = x.DataCount; i < x.PacketSize; ++i) {
    int c = packetByte(port);
    if (c < 0) {
      x.DataCount = i;
      return Pause;
    }
    x.Buffer[i] = uint8_t(c);
    x.TimeMark = SioTimer();
    addToCheck(uint8_t(c));
  }
  x.State = XY_RX_READ_CHECK;
  return Go;
}

Flow receiveCheck(int port) {
  XyList &x = xyList;
  int c = packetByte(port);
  if (c < 0)
    return Pause;
  x.RxCheck = uint16_t(c);
  if (checksumMode()) {
    x.State = XY_RX_VERIFY_PACKET;
  } else {
    x.TimeMark = SioTimer();
    x.State = XY_RX_READ_CHECK_LOW;
  }
  return Go;
}

Flow receiveCheckLow(int port) {
  int c = packetByte(port);
  if (c < 0)
    return Pause;
  xyList.RxCheck = uint16_t(xyList.RxCheck * 256 + c);
  xyList.State = XY_RX_VERIFY_PACKET;
  return Go;
}

// A sender that never shrinks its packets can see every copy of a 1K packet
// damaged (at one byte in 1,000, two copies in three are) and give up after
// its tries. Damage lands on other bytes each time: over three damaged
// copies of one packet, the byte at least two agree on is taken, and the
// packet is accepted when its CRC then agrees. Otherwise the newest copy
// is kept, with the one before, for the next vote.
bool repairedByVote() {
  XyList &x = xyList;
  if (checksumMode())
    return false;
  if (x.CopyNumber != x.RxPacket || x.CopySize != x.PacketSize)
    x.CopyCount = 0;
  const int size = x.PacketSize;
  uint8_t copy[XY_PACKET_SIZE_1K + 2];
  memcpy(copy, x.Buffer, size_t(size));
  copy[size] = uint8_t(x.RxCheck >> 8);
  copy[size + 1] = uint8_t(x.RxCheck);
  if (x.CopyCount == 2) {
    uint8_t voted[XY_PACKET_SIZE_1K + 2];
    uint16_t crc = 0;
    for (int i = 0; i < size + 2; ++i) {
      voted[i] = x.Copy[0][i] == x.Copy[1][i] ? x.Copy[0][i] : copy[i];
      if (i < size)
        crc = UpdateCRC(crc, voted[i]);
    }
    if (crc == voted[size] * 256 + voted[size + 1]) {
      memcpy(x.Buffer, voted, size_t(size));
      x.CopyCount = 0;
      return true;
    }
    memcpy(x.Copy[0], x.Copy[1], size_t(size + 2));
    x.CopyCount = 1;
  }
  memcpy(x.Copy[x.CopyCount++], copy, size_t(size + 2));
  x.CopyNumber = uint8_t(x.RxPacket);
  x.CopySize = size;
  return false;
}

Flow receiveVerify(int port) {
  XyList &x = xyList;
  if (DebugLevel >= 2)
    QueueMessage(checksumMode()
                     ? "COM%d: Packet: Expected=%d, Got=%d: Size=%d CS: Expected=%x, Got=%x"
                     : "COM%d: Packet: Expected=%d, Got=%d: Size=%d CRC: Expected=%x, Got=%x",
                 port + 1, x.Packet, x.RxPacket, x.PacketSize, x.Check, x.RxCheck);
  if (x.Check == x.RxCheck) {
    x.State = XY_RX_ACCEPT_PACKET;
    return Go;
  }
  if (repairedByVote()) {
    if (DebugLevel >= 1)
      QueueMessage("COM%d: Packet %d taken from three damaged copies", port + 1, x.RxPacket);
    x.State = XY_RX_ACCEPT_PACKET;
    return Go;
  }
  ++x.ErrorCount;
  QueueMessage("COM%d: NAK %d: Bad CS %x", port + 1, x.Packet, x.RxCheck);
  beginResync();
  return Go;
}

// Acknowledges a packet, then moves on. While CTS is down the state stays
// and runs again: the packet is then the one accepted last, and only
// acknowledged. A failed CTS wait or write has ended the transfer instead.
Flow acknowledge(int port, int nextState) {
  if (WaitForCTS(port) != 0 || PutChar(port, ACK) < 0)
    return Pause;
  xyList.State = nextState;
  return Pause;
}

// A name from packet 0 as a name to create here: the part after any
// directory or drive, with control characters made '_'. Null when the name
// leaves nothing usable or does not fit the record (a cut name could be
// another file's); then *why says so.
const char *safeBaseName(const char *sent, char *out, const char **why) {
  const char *base = sent;
  for (const char *p = sent; *p; ++p)
    if (*p == ':' || *p == '/' || *p == '\\')
      base = p + 1;
  const size_t length = strlen(base);
  if (length == 0 || strcmp(base, ".") == 0 || strcmp(base, "..") == 0) {
    *why = "Unusable file name";
    return nullptr;
  }
  if (length >= size_t(XY_FILE_NAME_SIZE)) {
    *why = "File name too long";
    return nullptr;
  }
  for (size_t i = 0; i <= length; ++i)
    out[i] = (base[i] > 0 && base[i] < ' ') || base[i] == 0x7F ? '_' : base[i];
  return out;
}

// Creates `name` new, or name.1, name.2 ... when it exists: a file already
// there is never replaced, nor a link followed. The handle, the name used
// left in `name`; -1 with *why.
int createNumbered(char *name, const char **why) {
  char tried[XY_FILE_NAME_SIZE];
  strcpy(tried, name);
  for (int number = 1;; ++number) {
    int fd = open(tried, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd = keepAboveZero(fd);
      if (fd < 0)
        *why = strerror(errno);
      else
        strcpy(name, tried);
      return fd;
    }
    if (errno != EEXIST || number > XY_NUMBERED_NAMES) {
      *why = errno == EEXIST ? "File exists" : strerror(errno);
      return -1;
    }
    if (snprintf(tried, sizeof tried, "%s.%d", name, number) >= int(sizeof tried)) {
      *why = "File name too long";
      return -1;
    }
  }
}

// Packet 0: the name, made safe and never one of a file already there, and
// the size announced after it, which cuts the file's last packet.
Flow receivePacketZero(int port) {
  XyList &x = xyList;
  const char *field = reinterpret_cast<const char *>(x.Buffer);
  const size_t nameLength = strnlen(field, size_t(x.PacketSize));
  if (nameLength == 0) {  // end of batch
    if (WaitForCTS(port) != 0 || PutChar(port, ACK) < 0)
      return Pause;
    return succeed(port);
  }
  const char *why = nullptr;
  char sent[XY_PACKET_SIZE_1K + 1];
  memcpy(sent, field, nameLength);
  sent[nameLength] = '\0';
  FileNameCopy(x.FileName, sent);  // for the messages, whatever comes of it
  if (nameLength == size_t(x.PacketSize) || !safeBaseName(sent, x.FileName, &why))
    return refuseFile(port, why ? why : "File name too long");
  char wanted[XY_FILE_NAME_SIZE];
  strcpy(wanted, x.FileName);
  int fd = createNumbered(x.FileName, &why);
  if (fd <= 0)
    return refuseFile(port, why);
  if (strcmp(wanted, x.FileName) != 0)
    QueueMessage("COM%d: %s exists: received as %s", port + 1, wanted, x.FileName);
  x.FileHandle = fd;
  size_t at = nameLength + 1;
  while (at < size_t(x.PacketSize) && x.Buffer[at] == ' ')
    ++at;
  int64_t size = -1;
  for (; at < size_t(x.PacketSize) && x.Buffer[at] >= '0' && x.Buffer[at] <= '9'; ++at)
    if (size <= XY_LARGEST_ANNOUNCED)
      size = (size < 0 ? 0 : size) * 10 + (x.Buffer[at] - '0');
  if (size > XY_LARGEST_ANNOUNCED)
    size = -1;  // not a size any file has: none announced
  AnnouncedSize = size;
  x.FileSize = size < 0 ? 0 : size;
  LastAcceptedPacket = 0;
  x.Packet = 1;
  x.NextState = XY_RX_PREPARE_PACKET;
  return acknowledge(port, XY_RX_SEND_START);
}

Flow receiveAccept(int port) {
  XyList &x = xyList;
  x.CopyCount = 0;  // a later copy with this number may be of another packet
  if (x.RxPacket == LastAcceptedPacket) {
    // The sender missed our ACK and sent the same packet again: it is
    // acknowledged, and not written a second time.
    return acknowledge(port, (x.BatchFlag && x.RxPacket == 0 && x.BytesWritten == 0)
                                 ? XY_RX_SEND_START
                                 : XY_RX_PREPARE_PACKET);
  }
  // Any other number than the one expected would leave a gap in the file.
  if (x.RxPacket != (x.Packet & 0xFF)) {
    if (DebugLevel >= 1)
      QueueMessage("COM%d: Packet %d expected, got %d", port + 1, x.Packet, x.RxPacket);
    return fail(port, XY_BAD_PACKET_NUMBER);
  }
  if (x.Packet == 0)
    return receivePacketZero(port);
  int count = x.PacketSize;
  if (x.BatchFlag && AnnouncedSize >= 0)
    count = int(std::clamp<int64_t>(AnnouncedSize - x.BytesWritten, 0, count));
  if (count > 0 && !writeFull(x.FileHandle, x.Buffer, count))
    return fail(port, XY_DISK_WRITE);
  x.BytesWritten += count;
  LastAcceptedPacket = x.RxPacket;
  ++x.Packet;
  return acknowledge(port, XY_RX_PREPARE_PACKET);
}

Flow runState(int port) {
  switch (xyList.State) {
  case XY_TX_START:
    xyList.State = XY_TX_OPEN_FILE;
    return Go;
  case XY_TX_OPEN_FILE:
    return sendOpenFile(port);
  case XY_TX_AWAIT_START:
    return sendAwaitStart(port);
  case XY_TX_FIRST_PACKET:
    xyList.FirstPacket = xyList.BatchFlag ? 0 : 1;
    xyList.Packet = xyList.FirstPacket;
    xyList.State = XY_TX_FILL_PACKET;
    return Go;
  case XY_TX_FILL_PACKET:
    return sendFillPacket(port);
  case XY_TX_SEND_EOT:
    return sendEot(port);
  case XY_TX_AWAIT_EOT_ACK:
    return sendAwaitEotAck(port);
  case XY_TX_PREPARE_PACKET:
    xyList.HeaderChar = xyList.PacketSize == XY_PACKET_SIZE_1K ? STX : SOH;
    xyList.TryCount = 1;
    xyList.TryLimit = XY_PACKET_TRY_LIMIT;
    xyList.State = XY_TX_SEND_HEADER;
    return Go;
  case XY_TX_SEND_HEADER:
    return sendHeader(port);
  case XY_TX_SEND_DATA:
    return sendData(port);
  case XY_TX_SEND_CHECK:
    return sendCheck(port);
  case XY_TX_AWAIT_REPLY:
    return sendAwaitReply(port);
  case XY_TX_AFTER_ACK:
    return sendAfterAck(port);
  case XY_TX_NEXT_PACKET:
    return sendNextOrEnd(port);
  case XY_RX_START:
    return receiveStart(port);
  case XY_RX_SEND_START:
    return receiveSendStart(port);
  case XY_RX_AWAIT_ANSWER:
    return receiveAwaitAnswer(port);
  case XY_RX_CREATE_FILE:
    return receiveCreate(port);
  case XY_RX_FIRST_PACKET:
    return receiveFirstPacket(port);
  case XY_RX_PREPARE_PACKET:
    return receivePrepare(port);
  case XY_RX_ACCEPT_PACKET:
    return receiveAccept(port);
  case XY_RX_AWAIT_PACKET:
    return receiveAwaitPacket(port);
  case XY_RX_READ_DATA:
    return receiveData(port);
  case XY_RX_READ_NUMBER:
    return receiveNumber(port);
  case XY_RX_READ_COMPLEMENT:
    return receiveComplement(port);
  case XY_RX_READ_CHECK:
    return receiveCheck(port);
  case XY_RX_READ_CHECK_LOW:
    return receiveCheckLow(port);
  case XY_RX_VERIFY_PACKET:
    return receiveVerify(port);
  default:
    QueueMessage("!COM%d: INTERNAL ERROR: Bad state = %d", port + 1, xyList.State);
    return fail(port, XY_INTERNAL);
  }
}

}  // namespace

int xyDriver(int port) {
  ++DriverCount;
  if (port != ActivePort)
    return XY_NOT_ACTIVE;
  for (int step = 0; step < STEPS_PER_CALL; ++step) {
    // What the line could not take yet goes first; until it has, no state
    // runs, as each waits on what it sent.
    if (FlushOutput(port) != 0)
      break;
    if (DebugLevel >= 2 && xyList.State != xyList.TracedState) {
      QueueMessage("COM%d: xyDriver: Tics = %ld, State = %d", port + 1, long(SioTimer()),
                   xyList.State);
      xyList.TracedState = xyList.State;
    }
    if (xyList.State == 0)
      return 0;
    if (runState(port) == Pause)
      break;
  }
  // An ended transfer runs on while its last bytes wait for the line.
  return xyList.Done && !OutputHeld() ? 0 : 1;
}
