// Kestrelon serial port library: a flat API over the Linux serial devices.
//
// A port is named by its number, 0 (COM1) to 15 (COM16). Port n opens the
// device named by the environment variable KESTRELON_COM<n+1> when it is set,
// otherwise the default device of SioDevicePath's table.
//
// Every function returns a signed int: 0 or positive on success, a negative
// code on failure (SIO_BAD_PORT ... SIO_EXPIRED below). Every function that
// takes a port number first checks it (-1 when outside 0..15) and then whether
// the port is open (-3 when it is not, without touching any device), except
// SioBaud and SioParms with port -1, which change the defaults used by later
// opens.
//
// Nothing here blocks except the writes, which wait until the kernel has taken
// every byte, never longer than 2 s plus twice the bytes' time on the line,
// and closing, which gives queued output up to 2 s. Both limits, and every
// time limit of the XMODEM driver, run on the library's one clock (SioTimer),
// which tests replace with SioSetClock.
//
// Threads: a port is read on one thread and driven on another. The reading
// calls (SioGets, SioGetc, SioCounts, SioRxQue, SioTimer) may
// run on a capture thread while the window's thread makes every other call
// on the same port: writes, settings, modem lines, breaks, transfers (the
// XMODEM driver reads its port itself, so a transfer's port is read by no
// one else meanwhile). Opening, closing and SioSetClock happen while no
// other thread uses the port (the capture thread is told first), and one
// thread at a time reads a port. LastWinError is each thread's own.
//
// A device name rfc2217://HOST:PORT opens a serial port on another machine
// through a Telnet COM-PORT-OPTION server (RFC 2217, as ser2net serves one),
// tcp://HOST:PORT one that passes raw bytes. Every call works on such a port
// as on a local one, without waiting for the server: the open starts the
// connection (5 s to make it; a host that refuses at once fails the open,
// one that fails later fails the next read), settings, DTR, RTS, break and
// the purges are sent as requests whose answers SioGetAnswers reports, and
// SioHandle gives the socket. A connection the server ends fails the reads
// as a device gone does.
#pragma once

#include <cstdint>

// Error codes.
enum {
  SIO_BAD_PORT = -1,       // "Bad port ID"
  SIO_ALREADY_OPEN = -2,   // "Port already open" (never returned)
  SIO_NOT_OPEN = -3,       // "Port not open"
  SIO_MEMORY = -4,         // "Memory" (never returned)
  SIO_DEFAULT = -5,        // "Default" (never returned)
  SIO_HARDWARE = -6,       // "Hardware" (never returned)
  SIO_BYTE_SIZE = -7,      // "Byte size" (never returned)
  SIO_BAUD_RATE = -8,      // "BaudRate" (never returned)
  SIO_NO_DATA = -100,      // "No data": SioGetc found no byte
  SIO_RANGE = -101,        // "Range": unknown command letter
  SIO_ABORTED = -102,      // "Aborted" (never returned)
  SIO_WIN32_ERROR = -103,  // "Win32Error": a system call failed, errno in LastWinError
  SIO_EXPIRED = -104,      // "Expired" (never returned)
};

constexpr int SIO_MAX_PORTS = 16;

// Texts of the error codes: PortErrors[-1 - code] for -1..-8,
// SioErrors[-100 - code] for -100..-104.
extern const char *const PortErrors[8];
extern const char *const SioErrors[5];

// The text of a code -1..-8 or -100..-104 ("Bad port ID" ... "Expired");
// nullptr for any other value. The text of -103 names the code, not the
// system's reason: SioWinError gives that.
const char *SioErrorText(int code);

// The line settings last applied to a port (the library's own record).
// Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space.
// StopBits: 0 one, 1 one and a half (applied as two), 2 two.
struct PortDCB_t {
  uint32_t BaudRate = 9600;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  bool fBinary = true;
  bool fParity = false;       // parity checking of received bytes
  bool fOutxCtsFlow = false;  // hardware flow control (RTS/CTS)
  bool fOutxDsrFlow = false;
  bool fOutX = false;  // software flow control, output
  bool fInX = false;   // software flow control, input
  bool fTXContinueOnXoff = true;
  bool fNull = false;
  bool fDsrSensitivity = false;
  bool fAbortOnError = false;
  uint8_t fDtrControl = 0;  // 0 disable (the line is driven only by SioDTR)
  uint8_t fRtsControl = 0;  // 0 disable, 2 handshake
  uint16_t XonLim = 128;
  uint16_t XoffLim = 128;
  uint8_t XonChar = 0x11;
  uint8_t XoffChar = 0x13;
};
extern PortDCB_t PortDCB[SIO_MAX_PORTS];

// Flags bits of a port record: the DTR and RTS levels last set through
// SioDTR and SioRTS. They survive closing and reopening the port.
constexpr uint8_t SIO_FLAG_DTR = 0x01;
constexpr uint8_t SIO_FLAG_RTS = 0x02;

// Defaults applied by every SioReset; changed by SioBaud(-1, ...) and
// SioParms(-1, ...).
extern uint32_t BaudRateDefault;  // 9600
extern uint8_t ParityDefault;     // 0
extern uint8_t StopBitsDefault;   // 0
extern uint8_t DataBitsDefault;   // 8

// errno of the last failing system call that gave -103 on this thread; 0
// at start.
extern thread_local int LastWinError;

// Baud codes 0..9 of the monitor's speed list: 110 ... 115200.
extern const uint32_t BaudValue[10];

// --- Core -----------------------------------------------------------------

// 0 if 0 <= port <= 15, else -1. Initialises the port table on first call.
int VerifyPort(int port);

// Device path of a port (KESTRELON_COM<n+1> or the default table);
// nullptr for a bad port number. Does not open anything.
const char *SioDevicePath(int port);

// 1 when the port's device name is a remote port's (rfc2217:// or tcp://),
// 0 when not, -1 for a bad port number. Opens nothing.
int SioRemote(int port);

// Points a port at a device from now on, as KESTRELON_COM<n+1> does (it sets
// that variable). 0; -1 for a bad port number or an empty path; -103 when
// the environment cannot take it.
int SioMapDevice(int port, const char *path);

// Opens the port (exclusively, raw, receiver on, modem lines ignored, a
// received break dropped from the data and only counted for SioStatus) and
// applies the defaults. DTR and RTS are down afterwards, whatever the kernel
// did at the open; Flags keeps the levels SioDTR and SioRTS last set.
// 0 opened; -1; -103 (LastWinError set): ENOENT no such device, ENOTTY not a
// terminal, EBUSY held by this or another process or this port already open
// (it then stays open as it was), EINVAL defaults the device does not keep.
// The device's settings found at open are put back by SioDone. A failure
// after the device was opened leaves the port open. Does not block.
int SioReset(int port, int rxQueue, int txQueue);

// Closes the port, restoring the settings found at open. Output still queued
// gets up to 2 s to go out; what is left then is discarded. Blocks at most
// those 2 s.
// Non-zero when closed, 0 when the close failed; -1/-3. Also closes a port
// whose device has gone.
int SioDone(int port);

// Writes one byte (low 8 bits). 0; -1/-3; -103 (LastWinError ETIMEDOUT when
// it could not be written before the write deadline).
int SioPutc(int port, int byte);

// Writes length bytes, waiting until the kernel has taken them but never past
// the write deadline. Number of bytes written, fewer (possibly 0) when cut
// short, with the reason (ETIMEDOUT, EIO...) in LastWinError; -1/-3; -103 when
// an error stopped it before any byte went.
int SioPuts(int port, const uint8_t *buffer, int length);

// Writes as many of length bytes as the device takes at once, never
// waiting: what does not fit stays with the caller, to be written later.
// 0..length; -1/-3; -103 when the write failed before any byte went.
int SioPutsNow(int port, const uint8_t *buffer, int length);

// One byte 0..255 (the pushed-back byte first); -100 when none is waiting;
// -1/-3; -103 (EIO once the device has gone). Never blocks.
int SioGetc(int port);

// Up to length bytes already received; the pushed-back byte alone (result 1)
// when one is waiting. 0..length; -1/-3; -103 (EIO once the device has gone,
// never an endless 0). Never blocks.
int SioGets(int port, uint8_t *buffer, int length);

// Pushes back one byte (0 means none). 0; -1/-3.
int SioUnGetc(int port, int byte);

// Bytes waiting in the kernel's input (output) queue; the pushed-back byte is
// not counted. 0 when the query fails; -1/-3.
int SioRxQue(int port);
int SioTxQue(int port);

// Drops the pushed-back byte and everything received so far. 0; -1/-3.
int SioRxClear(int port);

// Purge with no action selected: discards nothing. 0; -1/-3.
int SioTxClear(int port);

// Discards the output the device still holds (written, not yet sent), so
// that closing does not wait for it. 0; -1/-3; -103.
int SioTxDrop(int port);

// -1 for an open port (no read is made); -1/-3.
int SioRead(int port);

// --- Line control and status ------------------------------------------------

// port -1: sets BaudRateDefault to baud, returns 0. Otherwise baud 0..9 is a
// code into BaudValue, anything else a rate in bit/s (non-standard rates
// through the kernel's arbitrary-rate interface). Non-zero when applied,
// 0 when refused; -1/-3. Every apply reads the settings back: a driver that
// keeps something else than the port's record asks for (a pseudo-terminal
// keeps only 8 data bits and no parity) counts as refusing. A refused apply
// (here, in SioParms, SioFlow, SioSetLine and SioReset) leaves the device as
// it was, and the port's record goes back to what the device keeps, so that
// later settings do not carry the refused value along. Rate 0 is refused.
int SioBaud(int port, int baud);

// port -1: sets the defaults, returns 0. Otherwise applies parity, stop bits
// and data bits; once applied, DTR and RTS are set as SioDTR and SioRTS last
// set them, RTS also up while hardware flow control drives it. 0; -103 with
// LastWinError EINVAL when the device keeps something else (or the system's
// error when the device failed); -1/-3.
int SioParms(int port, int parity, int stopBits, int dataBits);

// Flow control: 'H' hardware (RTS/CTS), 'S' software (XON/XOFF), 'N' none;
// any other letter re-applies the settings unchanged. The lines then, and
// the results, as SioParms.
int SioFlow(int port, int mode);

// A port's whole line settings: speed as SioBaud takes it (SioGetLine gives
// bit/s), character format as SioParms, flow control letter as SioFlow.
struct SioLine {
  int baud = 9600;
  int parity = 0;
  int stopBits = 0;
  int dataBits = 8;
  int flow = 'N';
};

// Applies all of `line` at once with one read-back, then DTR and RTS as
// SioParms. 0 when the device keeps all of it. Otherwise each value (speed,
// parity, stop bits, data bits, flow control) the device takes on its own
// is applied,
// the port's record holds what the device keeps (SioGetLine), and the
// result is -103 with LastWinError EINVAL; -1/-3.
int SioSetLine(int port, const SioLine &line);

// The settings the device keeps, as the port's record holds them. 0; -1/-3.
int SioGetLine(int port, SioLine *line);

// 'S' raise, 'C' lower (non-zero done, 0 failed, e.g. a device without modem
// lines), 'R' the remembered level (SioDTR: 1 or 0, SioRTS: 2 or 0);
// other letters -101; -1/-3.
int SioDTR(int port, int command);
int SioRTS(int port, int command);

// Modem status bits: CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80 or 0 (also 0 when
// the device has no modem lines: SioModemLines tells the two apart); -1/-3.
int SioCTS(int port);
int SioDSR(int port);
int SioRI(int port);
int SioDCD(int port);

// The modem lines as the device reports them (TIOCMGET), one bit each: the
// outputs DTR and RTS, the inputs CTS, DSR, RI and DCD.
constexpr int SIO_LINE_DTR = 0x01;
constexpr int SIO_LINE_RTS = 0x02;
constexpr int SIO_LINE_CTS = 0x10;
constexpr int SIO_LINE_DSR = 0x20;
constexpr int SIO_LINE_RI = 0x40;
constexpr int SIO_LINE_DCD = 0x80;

// 1 with the SIO_LINE_* bits of the lines up; 0 with *bits 0 when the device
// reports no modem lines (a pseudo-terminal, a raw TCP port, a remote port
// whose server has not notified any); -1/-3. Never waiting: a remote port
// gives the lines its server last notified (as its reads took the notices
// in), with DTR and RTS as last set.
int SioModemLines(int port, int *bits);

// A device whose modem lines and break stand in for the driver's, for every
// port (by descriptor): `get` fills the SIO_LINE_* bits, `set` raises or
// lowers SIO_LINE_DTR or SIO_LINE_RTS, `brk` starts or ends a break; each
// returns 0 or an errno value. Tests install one to drive the lines a
// pseudo-terminal lacks; nullptr (or a missing function) puts back the
// driver's.
struct SioModemDevice {
  int (*get)(int fd, int *bits);
  int (*set)(int fd, int bit, bool on);
  int (*brk)(int fd, bool on);
};
void SioSetModemDevice(const SioModemDevice *device);

// Settings of a remote port by SIO_SET_* bit: asked for and still awaiting
// the server's answer, refused (answered with another value), and silent
// (not answered within 1 s, or on a raw TCP port, which has no one to ask).
constexpr int SIO_SET_BAUD = 0x01;
constexpr int SIO_SET_PARITY = 0x02;
constexpr int SIO_SET_STOP = 0x04;
constexpr int SIO_SET_DATA = 0x08;
constexpr int SIO_SET_FLOW = 0x10;
struct SioLineAnswers {
  int waiting = 0;
  int refused = 0;
  int silent = 0;
};

// The answers to the settings a remote port's server was asked for, as the
// reads of the port (SioGets, SioGetc) have taken them in. Each
// refusal and silence is reported once; a refused value goes into the
// port's record (SioGetLine gives the server's value). 1 for a remote port;
// 0 with no bits for a local one, whose settings are known at once; -1/-3.
int SioGetAnswers(int port, SioLineAnswers *answers);

// 'A' start a break, 'C' end it (non-zero done, 0 failed), 'D' 0;
// other letters -101; -1/-3.
int SioBrkSig(int port, int command);

// Error bits seen since the last call (0x1 queue overflow, 0x2 overrun,
// 0x4 parity, 0x8 framing, 0x10 break) ANDed with mask; -1/-3.
int SioStatus(int port, int mask);

// 'V' or '3': 0x232; '?': 0; 'I': 1; other letters -1.
int SioInfo(int letter);

// The library's debug word (always 0).
int SioDebug();

// Fills buffer (when not null) with the text of LastWinError, at most size
// characters including the terminator. Returns LastWinError.
int SioWinError(char *buffer, int size);

// --- Watching for bytes ------------------------------------------------------------

// The open port's file descriptor, to wait on until bytes arrive (poll, an
// event loop's readiness watch); reading still goes through SioGets. The
// descriptor changes whenever the port is closed and opened again, and
// means nothing once it is closed. >= 0; -1/-3.
int SioHandle(int port);

// Line events a port's driver has counted since the port was opened
// (TIOCGICOUNT): characters lost because the UART's receive FIFO overran,
// characters received with a parity or a framing error, breaks received,
// and characters the driver dropped because its input buffer was full.
struct SioLineCounts {
  uint32_t overrun = 0;
  uint32_t parity = 0;
  uint32_t framing = 0;
  uint32_t breaks = 0;
  uint32_t overflow = 0;
};

// 1 with the counts since the open; 0 with all counts 0 when the device
// keeps none (a pseudo-terminal; some USB adapters); -1/-3. Independent of
// SioStatus, which reports changes since its own last call.
int SioCounts(int port, SioLineCounts *counts);

// --- Time ----------------------------------------------------------------------

// The library's clock: monotonic milliseconds, 32-bit and wrapping, so two
// times are compared only through their difference (later - earlier).
uint32_t SioTimer();

// Lets ms milliseconds pass on the library's clock.
void SioSleep(uint32_t ms);

// A replacement clock: `now` reads it, `sleep` lets time pass on it. Tests
// install one that moves only when stepped or slept on, so that time limits
// are checked without waiting for them, and at any point of the 32-bit range.
// While one is installed the library's own waits (a write held up, output
// drained at close) pass through its sleep in steps of a few milliseconds.
struct SioClock {
  uint32_t (*now)();
  void (*sleep)(uint32_t ms);
};

// Installs clock (copied); nullptr, or a clock missing either function, puts
// back the system's monotonic clock.
void SioSetClock(const SioClock *clock);
