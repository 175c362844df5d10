// Internal tables of the serial library and its device layer.
//
// The Sio functions keep their per-port state here; every termios and ioctl
// call lives in sio_device.cpp behind the small dev* interface below, so the
// rest of the library deals only in file descriptors, errno values and the
// library's own PortDCB_t record.
#pragma once

#include "ser/ser.h"

#include <cstdint>

// The device's line settings as the kernel keeps them (mirrors struct
// termios2 field by field, so arbitrary speeds survive a save and restore).
struct LineSettings {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;
  uint32_t lflag = 0;
  uint8_t line = 0;
  uint8_t cc[19] = {};
  uint32_t ispeed = 0;
  uint32_t ospeed = 0;
};

// The driver's running counts of receive errors (TIOCGICOUNT), in the
// record the library hands out: counted from the driver's start here.
using ErrorCounters = SioLineCounts;

struct PortRecord {
  int Handle = -1;           // file descriptor; -1 when the port is not open
  uint8_t Flags = 0;         // SIO_FLAG_DTR, SIO_FLAG_RTS as last set
  uint8_t UnGetByte = 0;     // pushed-back byte; 0 = none
  PortDCB_t *Dcb = nullptr;  // this port's entry in PortDCB
  LineSettings OldTimeouts;  // settings found at open, put back at close
  bool OldTimeoutsSaved = false;
  ErrorCounters Counters;      // error counts at the last SioStatus (or open)
  bool CountersValid = false;  // false when the driver keeps no counts
  ErrorCounters OpenCounters;      // error counts when the port was opened
  bool OpenCountersValid = false;  // false when the driver keeps no counts
};

extern PortRecord PortData[SIO_MAX_PORTS];

// Longest device path a port can name, terminator included.
constexpr int SIO_PATH_MAX = 4096;

// Common start of every port function: -1 for a bad port number, -3 when the
// port is not open, 0 when it may be used.
int SioPrologue(int port);

// Fails a call with -103, keeping err for SioWinError.
int SioFail(int err);

// Milliseconds a write of `bytes` may take at `baud` before it is cut short:
// 2 s plus twice the bytes' time on the line (10 bits per byte), at most
// half the clock's range so that the wrapping difference stays meaningful.
uint32_t SioWriteAllowanceMs(int64_t bytes, uint32_t baud);
constexpr uint32_t WriteAllowanceFixedMs = 2000;

// --- Device layer: each returns 0 or an errno value -------------------------

// Opens a terminal device read/write, non-blocking, without becoming its
// controlling terminal, and takes it exclusively (advisory lock plus the
// terminal's exclusive mode). Refuses anything that is not a terminal.
int devOpen(const char *path, int *fd);

// Gives up exclusive mode and closes. With discardOutput, output still queued is dropped so
// the close cannot wait on a held-off line; otherwise nothing is flushed: on
// a pseudo-terminal a flush would also drop what the far end has not read.
int devClose(int fd, bool discardOutput);

int devReadSettings(int fd, LineSettings *settings);
int devWriteSettings(int fd, const LineSettings &settings);

// Fills the fields of dcb that the device's current settings determine.
int devLoadDcb(int fd, PortDCB_t *dcb);

// Puts the device into raw mode with the line settings of dcb (receiver on,
// modem lines ignored, reads returning at once) and reads back what the
// driver kept. EINVAL when dcb holds a value no terminal takes or the driver
// kept something else than what was asked; the device then keeps the
// settings it had before the call.
int devApply(int fd, const PortDCB_t &dcb);

int devInputCount(int fd, int *count);
int devOutputCount(int fd, int *count);
int devFlushInput(int fd);
int devFlushOutput(int fd);

// TIOCM_DTR / TIOCM_RTS raised (on) or lowered.
enum class ModemLine { Dtr, Rts };
int devSetModemLine(int fd, ModemLine line, bool on);

// The modem status word as SioModemLines gives it (SIO_LINE_* bits).
int devModemStatus(int fd, int *bits);

int devSetBreak(int fd, bool on);

int devErrorCounters(int fd, ErrorCounters *counters);

// --- Remote ports (sio_remote.cpp): each dev* call above hands a remote
// port's descriptor (a TCP socket) to its remote* counterpart. ------------

// rfc2217://HOST:PORT or tcp://HOST:PORT.
bool remoteName(const char *path);
// The descriptor is a remote port's.
bool remotePort(int fd);
// Resolves and starts connecting, without waiting for the server (beyond a
// look of a few milliseconds that catches a refusal on a near network).
int remoteOpen(const char *url, int *fd);
int remoteClose(int fd);
// Decoded data already received, up to length; ECONNRESET once the server
// ended the connection and everything before the end has been read.
int remoteRead(int fd, uint8_t *buffer, int length, int *got);
// Takes bytes to send (escaped), waiting for room up to allowanceMs when
// `wait`; *taken counts the bytes taken.
int remoteWrite(int fd, const uint8_t *buffer, int length, uint32_t allowanceMs, bool wait,
                int *taken);
// Sends the settings of dcb that changed since last sent; never waits.
int remoteApply(int fd, const PortDCB_t &dcb);
// The server's answers so far; a refused value goes into dcb.
int remoteAnswers(int fd, SioLineAnswers *answers, PortDCB_t *dcb);
int remoteInputCount(int fd, int *count);
int remoteOutputCount(int fd, int *count);
int remoteFlushInput(int fd);
int remoteFlushOutput(int fd);
int remoteSetModemLine(int fd, ModemLine line, bool on);
int remoteModemStatus(int fd, int *bits);
int remoteSetBreak(int fd, bool on);
int remoteErrorCounters(int fd, ErrorCounters *counters);
