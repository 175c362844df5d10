// The driver's calls around the protocol engine: acquire, start, query,
// abort and release, the byte routines with their waits and counters, the
// CRC table and the message ring in which errors and the trace are left.
#include "serxydrv/xyinternal.h"
#include "ser/ser.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

const char *const DriverErrors[19] = {
    "Unknown error",
    "Already active",
    "Cannot open file",
    "File is empty",
    "Expected startup character (NAK or 'C') not received",
    "Startup character was not NAK or 'C'",
    "Disk read error",
    "EOT character not ACKed",
    "Internal error",
    "Cancelled by other end",
    "Out of sync",
    "Retry limit exceeded",
    "Bad packet number",
    "Timed out awaiting incoming character",
    "No such file",
    "Port not active",
    "Port range",
    "Disk write error",
    "Aborted by user",
};

XyList xyList;
int ActivePort = -1;
int DebugLevel = 0;
int DebugValue = 0;
uint32_t GetCharCount = 0;
uint32_t PutCharCount = 0;
uint32_t DriverCount = 0;
int8_t LastGetChar = 0;
int8_t LastPutChar = 0;
uint8_t RxNakRate = 4;
uint8_t EOFchar = 0x1A;
int ReadyByte = -1;
int MsgFront = 0;
int MsgCount = 0;
char MessageQueue[XY_MESSAGE_SLOTS][XY_MESSAGE_SIZE];
uint16_t CRCtable[256];
int LastAcceptedPacket = -1;
int64_t AnnouncedSize = -1;

// --- Message ring ---------------------------------------------------------

char *GetMsgPtr() {
  int slot = (MsgFront + MsgCount) % XY_MESSAGE_SLOTS;
  if (MsgCount == XY_MESSAGE_SLOTS)
    MsgFront = (MsgFront + 1) % XY_MESSAGE_SLOTS;
  else
    ++MsgCount;
  return MessageQueue[slot];
}

void QueueMessage(const char *format, ...) {
  char *slot = GetMsgPtr();
  va_list args;
  va_start(args, format);
  // vsnprintf cuts a long text to 79 characters and its terminator.
  vsnprintf(slot, XY_MESSAGE_SIZE, format, args);
  va_end(args);
}

// --- CRC-16/XMODEM ------------------------------------------------------

uint16_t CalcTable(uint16_t index, uint16_t poly, uint16_t crc) {
  uint16_t a = uint16_t(index << 8);
  for (int i = 0; i < 8; ++i) {
    if ((crc ^ a) & 0x8000)
      crc = uint16_t((crc << 1) ^ poly);
    else
      crc = uint16_t(crc << 1);
    a = uint16_t(a << 1);
  }
  return crc;
}

void InitCRC() {
  for (int i = 0; i < 256; ++i)
    CRCtable[i] = CalcTable(uint16_t(i), 0x1021, 0);
}

uint16_t UpdateCRC(uint16_t crc, uint8_t byte) {
  return uint16_t(CRCtable[((crc >> 8) ^ byte) & 0xFF] ^ uint16_t(crc << 8));
}

// --- Files ----------------------------------------------------------------

int64_t FileLength(int handle) {
  off_t here = lseek(handle, 0, SEEK_CUR);
  off_t end = lseek(handle, 0, SEEK_END);
  lseek(handle, here, SEEK_SET);
  return end;
}

char *FileNameCopy(char *target, const char *path) {
  const char *base = path;
  for (const char *p = path; *p; ++p)
    if (*p == ':' || *p == '/' || *p == '\\')
      base = p + 1;
  size_t n = strnlen(base, XY_FILE_NAME_SIZE - 1);
  memmove(target, base, n);
  target[n] = '\0';
  return target;
}

void CloseFile() {
  if (xyList.FileHandle > 0)
    close(xyList.FileHandle);
  xyList.FileHandle = 0;
}

// --- Errors -----------------------------------------------------------------

const char *xyErrorText(int code) {
  if (code <= XY_UNKNOWN_ERROR && code >= XY_ABORTED)
    return DriverErrors[XY_UNKNOWN_ERROR - code];
  const char *text = SioErrorText(code);
  return text ? text : DriverErrors[0];
}

// Queues the message of an error code, in the form of its range.
static void queueErrorMessage(int port, int code) {
  const char *form = code <= -300   ? "!COM%d: ERROR %d (%s) @ State=%d"
                     : code <= -100 ? "!COM%d: Sio Error %d (%s) @ State=%d"
                                    : "!COM%d: Port Error %d (%s) @ State=%d";
  QueueMessage(form, port + 1, code, xyErrorText(code), xyList.TracedState);
}

int SetXYerror(int port, int code) {
  xyList.LastError = code;
  xyList.Done = 1;
  int noted = xyList.State;
  xyList.State = 0;
  if (code == 0)
    return 0;
  xyList.ErrorState = noted;
  if (code <= -100)
    SendCancel(port);
  DropReceived(port);
  CloseFile();
  queueErrorMessage(port, code);
  return code;
}

// --- Bytes ------------------------------------------------------------------

// Bytes written that the line has not taken yet: what it cannot take now
// goes out on later calls, so no write waits for the line.
namespace {
uint8_t Unsent[2 * XY_PACKET_SIZE_1K];
int UnsentAt = 0;
int UnsentEnd = 0;
uint32_t UnsentMark = 0;  // the line last took a byte, or the first was held
bool UnsentHeld = false;  // a call ended with bytes left over

void noteWritten(const uint8_t *bytes, int count) {
  LastPutChar = int8_t(bytes[count - 1]);
  PutCharCount += uint32_t(count);
}

void dropUnsent() {
  UnsentAt = UnsentEnd = 0;
  UnsentHeld = false;
}
}  // namespace

int FlushOutput(int port) {
  if (UnsentAt == UnsentEnd)
    return 0;
  const int n = SioPutsNow(port, Unsent + UnsentAt, UnsentEnd - UnsentAt);
  if (n < 0) {
    dropUnsent();
    return xyList.State ? SetXYerror(port, n) : n;
  }
  const uint32_t now = SioTimer();
  if (n > 0) {
    noteWritten(Unsent + UnsentAt, n);
    UnsentAt += n;
    UnsentMark = now;
  }
  if (UnsentAt == UnsentEnd) {
    // Waits for an answer count from when the line took the last byte.
    if (UnsentHeld)
      xyList.TimeMark = now;
    dropUnsent();
    return 0;
  }
  if (!UnsentHeld) {
    UnsentHeld = true;
    UnsentMark = now;
  } else if (now - UnsentMark >= XY_WRITE_WAIT_MS) {
    dropUnsent();
    LastWinError = ETIMEDOUT;
    return xyList.State ? SetXYerror(port, SIO_WIN32_ERROR) : SIO_WIN32_ERROR;
  }
  return 1;
}

int PutBytes(int port, const uint8_t *bytes, int count) {
  if (count <= 0)
    return 0;
  if (count > int(sizeof Unsent) - UnsentEnd) {
    if (UnsentAt > 0) {
      memmove(Unsent, Unsent + UnsentAt, size_t(UnsentEnd - UnsentAt));
      UnsentEnd -= UnsentAt;
      UnsentAt = 0;
    }
    if (count > int(sizeof Unsent) - UnsentEnd)
      return SetXYerror(port, XY_INTERNAL);
  }
  memcpy(Unsent + UnsentEnd, bytes, size_t(count));
  UnsentEnd += count;
  const int flushed = FlushOutput(port);
  return flushed < 0 ? flushed : 0;
}

int PutChar(int port, int byte) {
  const uint8_t b = uint8_t(byte);
  return PutBytes(port, &b, 1);
}

bool OutputHeld() { return UnsentAt != UnsentEnd; }

// The protocol's cancel: CANs behind whatever of a packet is still unsent,
// in one write that never waits; what the line cannot take now is dropped,
// as the transfer has ended.
void SendCancel(int port) {
  static constexpr uint8_t cancel[] = {CAN, CAN, CAN};
  if (UnsentEnd + int(sizeof cancel) <= int(sizeof Unsent)) {
    memcpy(Unsent + UnsentEnd, cancel, sizeof cancel);
    UnsentEnd += int(sizeof cancel);
  }
  const int n = SioPutsNow(port, Unsent + UnsentAt, UnsentEnd - UnsentAt);
  if (n > 0)
    noteWritten(Unsent + UnsentAt, n);
  dropUnsent();
}

// Bytes read from the port ahead of GetChar: one read takes what has
// arrived, up to a 1K packet and its frame.
namespace {
uint8_t ReadAhead[XY_PACKET_SIZE_1K + 8];
int ReadAheadAt = 0;
int ReadAheadEnd = 0;
}  // namespace

void DropReceived(int port) {
  ReadAheadAt = ReadAheadEnd = 0;
  SioRxClear(port);
}

int GetChar(int port) {
  int result;
  if (ReadyByte > 0) {
    result = ReadyByte;
    ReadyByte = -1;
  } else if (ReadAheadAt < ReadAheadEnd) {
    result = ReadAhead[ReadAheadAt++];
  } else {
    int n = SioGets(port, ReadAhead, int(sizeof ReadAhead));
    if (n < 0) {
      SetXYerror(port, n);
      return n;
    }
    if (n == 0)
      return SIO_NO_DATA;
    ReadAheadAt = 1;
    ReadAheadEnd = n;
    result = ReadAhead[0];
  }
  LastGetChar = int8_t(result);
  ++GetCharCount;
  return result;
}

int WaitForCTS(int port) {
  XyList &x = xyList;
  if (!x.CTSflag || SioCTS(port) != 0) {
    x.CtsWaiting = 0;
    return 0;
  }
  if (!x.CtsWaiting) {
    x.CtsWaiting = 1;
    x.CtsMark = SioTimer();
  } else if (SioTimer() - x.CtsMark >= XY_CTS_WAIT_MS) {
    x.CtsWaiting = 0;
    return SetXYerror(port, XY_TIMED_OUT);
  }
  return 1;
}

// --- Public calls -------------------------------------------------------------

int xyAcquire(int port) {
  if (ActivePort >= 0)
    return XY_ALREADY_ACTIVE;
  ActivePort = port;
  InitCRC();
  return 0;
}

int xyRelease(int /*port*/) {
  if (ActivePort < 0)
    return XY_NOT_ACTIVE;
  ActivePort = -1;
  return 0;
}

// Common part of both starts: a fresh record, or a refusal of a name that
// does not fit it, recorded like a file that cannot be opened.
static bool freshRecord(int port, const char *name) {
  CloseFile();
  dropUnsent();
  memset(&xyList, 0, sizeof xyList);
  if (name && strlen(name) >= XY_FILE_NAME_SIZE) {
    xyList.LastError = XY_CANNOT_OPEN;
    xyList.Done = 1;
    queueErrorMessage(port, XY_CANNOT_OPEN);
    return false;
  }
  return true;
}

namespace {

// The common end of both starts: the engine begins in `state` with CTS as it
// stands now. Returns 1, the start's success.
int armTransfer(int port, int state, int batch) {
  xyList.BatchFlag = uint8_t(batch);
  xyList.NextState = 0;
  xyList.State = state;
  xyList.CTSflag = uint8_t(SioCTS(port));
  AnnouncedSize = -1;
  ReadyByte = -1;
  ReadAheadAt = ReadAheadEnd = 0;
  return 1;
}

}  // namespace

int xyStartTx(int port, const char *name, int oneK, int batch) {
  if (port != ActivePort)
    return XY_NOT_ACTIVE;
  if (!name)
    name = "";
  if (DebugLevel >= 1)
    QueueMessage("COM%d:xyStartTx:FileName='%s' OneKflag=%d BatchFlag=%d", port + 1, name, oneK,
                 batch);
  if (!freshRecord(port, name))
    return XY_CANNOT_OPEN;
  strcpy(xyList.FileName, name);
  xyList.OneKflag = oneK;
  return armTransfer(port, XY_TX_START, batch);
}

int xyStartRx(int port, const char *name, int startChar, int batch) {
  if (port != ActivePort)
    return XY_NOT_ACTIVE;
  if (DebugLevel >= 1)
    QueueMessage("COM%d:xyStartRx:FileName='%s' NCGchar=%c BatchFlag=%d", port + 1,
                 name ? name : "", startChar, batch);
  bool noName = !name || name[0] == '\0' || name[0] == ' ';
  if (!freshRecord(port, noName ? nullptr : name))
    return XY_CANNOT_OPEN;
  if (!noName)
    strcpy(xyList.FileName, name);
  xyList.NCGchar = uint8_t(startChar);
  return armTransfer(port, XY_RX_START, batch);
}

int xyAbort(int port) {
  MsgFront = MsgCount = 0;
  // The far end stops at once rather than retrying into silence.
  if (xyList.State != 0 && port == ActivePort)
    SendCancel(port);
  dropUnsent();
  xyList.LastError = XY_ABORTED;
  xyList.Done = 1;
  xyList.ErrorState = 0;
  xyList.State = 0;
  CloseFile();
  DropReceived(port);
  return 0;
}

int xyGetParameter(int port, int id) {
  if (id >= 0 && id <= 5 && port != ActivePort)
    return XY_NOT_ACTIVE;
  switch (id) {
  case XY_PARAM_LAST_ERROR:
    return xyList.LastError;
  case XY_PARAM_ERROR_STATE:
    return xyList.ErrorState;
  case XY_PARAM_PACKET:
    return xyList.Packet;
  case XY_PARAM_STATE:
    return xyList.State;
  case XY_PARAM_FILE_SIZE:
    return int(std::min<int64_t>(xyList.FileSize, INT32_MAX));
  case XY_PARAM_ERROR_COUNT:
    return xyList.ErrorCount;
  case XY_PARAM_DEBUG_VALUE:
    return DebugValue;
  case XY_PARAM_LAST_GET_CHAR:
    return LastGetChar;
  case XY_PARAM_LAST_PUT_CHAR:
    return LastPutChar;
  case XY_PARAM_GET_CHAR_COUNT:
    return int(GetCharCount);
  case XY_PARAM_PUT_CHAR_COUNT:
    return int(PutCharCount);
  case XY_PARAM_DRIVER_COUNT:
    return int(DriverCount);
  case XY_PARAM_VERSION:
    return XY_VERSION;
  default:
    return -1;
  }
}

int xySetParameter(int /*port*/, int id, int value) {
  if (id == XY_SET_NAK_RATE) {
    if (value < 1 || value > 10)
      return SIO_RANGE;
    RxNakRate = uint8_t(value);
    return value;
  }
  if (id == XY_SET_EOF_CHAR) {
    EOFchar = uint8_t(value);
    return int8_t(EOFchar);
  }
  return -1;
}

int xyDebug(int level) {
  DebugLevel = level & 3;
  return DebugLevel;
}

int xyGetMessage(char *buffer, int length) {
  if (MsgCount == 0)
    return 0;
  const char *text = MessageQueue[MsgFront];
  MsgFront = (MsgFront + 1) % XY_MESSAGE_SLOTS;
  --MsgCount;
  if (buffer && length > 0) {
    size_t n = strlen(text) + 1;
    memcpy(buffer, text, n < size_t(length) ? n : size_t(length));
  }
  return 1;
}

int64_t xyGetBytesDone(int port) {
  if (port != ActivePort)
    return XY_NOT_ACTIVE;
  // One of the two counts is always 0; the last packet sent counts whole,
  // fill included, so the count sent stops at the file's size.
  return xyList.BytesWritten + std::min(xyList.BytesSent, xyList.FileSize);
}

int xyGetFileName(int /*port*/, char *buffer, int length) {
  if (!buffer || length <= 0)
    return 0;
  int n = int(strlen(xyList.FileName));
  if (n + 1 <= length) {
    memcpy(buffer, xyList.FileName, size_t(n) + 1);
    return n;
  }
  memcpy(buffer, xyList.FileName, size_t(length));
  return length;
}
