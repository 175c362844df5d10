// Kestrelon XMODEM driver: moves one file over one serial port with the
// XMODEM protocol (checksum, CRC-16 and 1K packets, optional batch packet 0).
//
// A polled state machine: acquire the driver for a port, start a transfer
// with xyStartTx or xyStartRx, then call xyDriver from a timer until it
// returns 0; the outcome is then parameter XY_PARAM_LAST_ERROR (0 success).
// No call waits for the line: a state that waits for a byte, for CTS or for
// time to pass returns at once and looks again on the next call, keeping its
// own time limit; what the line cannot take yet of a packet goes out on the
// next calls, before any state runs again. Errors and the optional trace are left as texts in a ring
// of 12 messages read with xyGetMessage.
//
// On the wire, one byte damaged anywhere costs a retry, never the transfer.
// The receiver refuses a packet with a bad check, a damaged header byte or
// a number that does not match its complement, and sends that NAK only
// once the rest of the packet has stopped arriving; with CRC-16, a packet
// damaged three times in a row is rebuilt byte by byte from what two of the
// three copies agree on, and taken when its CRC agrees too (a sender that
// never shrinks its packets can see each copy of one damaged, until it gives
// up on it); it writes a packet only
// when its number is the one expected (the previous one again is
// acknowledged without being written, any other ends the transfer with
// -312); it refuses the first EOT and ends on the repeated one; when no
// packet comes it asks again with NAK (the sender may have had a damaged
// answer) and gives up at the fifth silence of RxNakRate seconds. The sender
// takes a reply that is neither ACK, NAK nor CAN, followed by silence, as a
// refusal (rx -c answers an unreadable first packet with 'C'), sends EOT
// again at once when it is refused and otherwise after 3 s without an
// answer (a receiver takes an EOT once the line has stayed quiet after it),
// and after three refusals in a file
// sends even a refused 1K packet again as 128-byte packets. Two CANs in a
// row where a header or an answer is due end a transfer ("Cancelled by other
// end"); one alone counts as a damaged byte.
#pragma once

#include <cstdint>

// The driver's error codes; DriverErrors[-300 - code] is the text.
enum {
  XY_UNKNOWN_ERROR = -300,      // "Unknown error" (never raised)
  XY_ALREADY_ACTIVE = -301,     // "Already active"
  XY_CANNOT_OPEN = -302,        // "Cannot open file"
  XY_FILE_EMPTY = -303,         // "File is empty" (never raised)
  XY_NO_STARTUP = -304,         // "Expected startup character (NAK or 'C') not received"
  XY_BAD_STARTUP = -305,        // "Startup character was not NAK or 'C'" (never raised)
  XY_DISK_READ = -306,          // "Disk read error"
  XY_EOT_NOT_ACKED = -307,      // "EOT character not ACKed"
  XY_INTERNAL = -308,           // "Internal error"
  XY_CANCELLED = -309,          // "Cancelled by other end"
  XY_OUT_OF_SYNC = -310,        // "Out of sync" (never raised: a stray byte is taken as damage)
  XY_RETRY_LIMIT = -311,        // "Retry limit exceeded"
  XY_BAD_PACKET_NUMBER = -312,  // "Bad packet number"
  XY_TIMED_OUT = -313,          // "Timed out awaiting incoming character"
  XY_NO_SUCH_FILE = -314,       // "No such file" (never raised)
  XY_NOT_ACTIVE = -315,         // "Port not active"
  XY_PORT_RANGE = -316,         // "Port range" (never raised)
  XY_DISK_WRITE = -317,         // "Disk write error"
  XY_ABORTED = -318,            // "Aborted by user"
};
extern const char *const DriverErrors[19];

// The text of any code a driver call or a transfer can end with: the
// driver's own (-300..-318) and the serial library's (-1..-8, -100..-104).
// A value with no text, 0 included, gives "Unknown error". Never null.
const char *xyErrorText(int code);

// Ids of xyGetParameter. 0..5 need the acquired port; 6..12 answer for any.
enum {
  XY_PARAM_LAST_ERROR = 0,   // outcome of the last transfer, 0 success
  XY_PARAM_ERROR_STATE = 1,  // state in which the last error occurred
  XY_PARAM_PACKET = 2,       // packet being sent, or expected next
  XY_PARAM_STATE = 3,        // engine state, 0 idle
  XY_PARAM_FILE_SIZE = 4,    // size of the file sent, or announced in packet 0
  XY_PARAM_ERROR_COUNT = 5,  // refusals of packets received (sending) or sent (receiving)
  XY_PARAM_DEBUG_VALUE = 6,
  XY_PARAM_LAST_GET_CHAR = 7,   // sign-extended
  XY_PARAM_LAST_PUT_CHAR = 8,   // sign-extended
  XY_PARAM_GET_CHAR_COUNT = 9,  // bytes received since the program started
  XY_PARAM_PUT_CHAR_COUNT = 10,
  XY_PARAM_DRIVER_COUNT = 11,  // xyDriver calls since the program started
  XY_PARAM_VERSION = 12,       // XY_VERSION
};
constexpr int XY_VERSION = 0x233;

// Engine states (parameter 3; parameter 1 names the one an error ended),
// numbered as the trace and the messages show them.
enum {
  XY_IDLE = 0,
  // Sending.
  XY_TX_START = 201,
  XY_TX_OPEN_FILE = 202,
  XY_TX_AWAIT_START = 203,  // waits for the receiver's start character
  XY_TX_FIRST_PACKET = 204,
  XY_TX_FILL_PACKET = 205,
  XY_TX_SEND_EOT = 206,
  XY_TX_AWAIT_EOT_ACK = 207,
  XY_TX_PREPARE_PACKET = 208,
  XY_TX_SEND_HEADER = 209,
  XY_TX_SEND_DATA = 210,
  XY_TX_SEND_CHECK = 211,
  XY_TX_AWAIT_REPLY = 212,  // waits for ACK or NAK
  XY_TX_AFTER_ACK = 213,
  XY_TX_NEXT_PACKET = 214,
  // Receiving.
  XY_RX_START = 300,
  XY_RX_SEND_START = 301,    // sends the start character
  XY_RX_AWAIT_ANSWER = 302,  // waits for the sender's first byte
  XY_RX_CREATE_FILE = 303,
  XY_RX_FIRST_PACKET = 304,
  XY_RX_PREPARE_PACKET = 305,
  XY_RX_ACCEPT_PACKET = 306,
  XY_RX_AWAIT_PACKET = 307,  // waits for SOH, STX, EOT or CAN
  XY_RX_READ_DATA = 308,
  XY_RX_READ_NUMBER = 309,
  XY_RX_READ_COMPLEMENT = 310,
  XY_RX_READ_CHECK = 311,
  XY_RX_READ_CHECK_LOW = 312,
  XY_RX_VERIFY_PACKET = 313,
};

// Start characters of xyStartRx: the one-byte checksum (NAK) or CRC-16 ('C').
constexpr int XY_START_CHECKSUM = 0x15;
constexpr int XY_START_CRC = 0x43;

// Ids of xySetParameter.
enum {
  XY_SET_NAK_RATE = 52,  // receiver's start-character interval, 1..10 s
  XY_SET_EOF_CHAR = 53,  // fill byte of a short last packet (0x1A)
};

constexpr int XY_MESSAGE_SLOTS = 12;
constexpr int XY_MESSAGE_SIZE = 80;     // a text and its terminator
constexpr int XY_FILE_NAME_SIZE = 128;  // a name of at most 127 characters

// Acquires the driver for port. 0; -301 when a port already holds it.
int xyAcquire(int port);

// Frees the driver (the argument is not looked at). 0; -315 when free.
int xyRelease(int port);

// Arms sending the file `name` (opened at the first xyDriver call).
// oneK: 1024-byte packets allowed; batch: packet 0 with name and size first.
// 1; -315 for a port that does not hold the driver; -302 for a name longer
// than 127 characters (the transfer is then recorded as ended with -302).
// Only a regular file of at most 2147483647 bytes is sent: anything else
// ends the transfer at the first xyDriver call with -302, nothing sent, and
// a message saying why. Opening the file never blocks.
int xyStartTx(int port, const char *name, int oneK, int batch);

// Arms receiving into `name` (null, empty or starting with a blank: none;
// batch mode takes the name from packet 0: only its part after any directory
// or drive, control characters made '_', created in the working directory
// and never over a file already there (name.1, name.2 ... instead); a name
// longer than 127 characters, or none usable, ends the transfer with -302;
// the announced size is what is written of the file). startChar: 0x15 (NAK) checksum,
// anything else CRC-16. Results as xyStartTx. An existing name that is not
// a regular file (a FIFO, a device, a folder) ends the transfer with -302
// and a message, before the start character is sent; opening never blocks.
int xyStartRx(int port, const char *name, int startChar, int batch);

// Runs the next protocol steps. 1 while the transfer goes on; 0 once it has
// ended (or none runs); -315 for a port that does not hold the driver.
int xyDriver(int port);

// Stops the transfer (LastError -318), closes the file, drops received bytes
// and empties the message ring. A transfer that was running is cancelled on
// the wire: CANs, behind the rest of a packet the line had not taken yet, so
// that the far end stops at once. 0.
int xyAbort(int port);

// The value of parameter id (table above); -315; -1 for an unknown id.
int xyGetParameter(int port, int id);

// id 52: the rate when 1..10, else -101; id 53: the fill byte, sign-extended;
// other ids -1.
int xySetParameter(int port, int id, int value);

// Trace level 0..3 (level AND 3); returns it.
int xyDebug(int level);

// Takes the oldest queued message into buffer (at most length bytes, its
// terminator included; a longer text is cut and not terminated).
// 1 taken, 0 none waiting.
int xyGetMessage(char *buffer, int length);

// Copies the transfer's file name (at most length bytes with its terminator);
// returns the characters copied before the terminator.
int xyGetFileName(int port, char *buffer, int length);

// Bytes of the file carried so far by the transfer running or ended last:
// acknowledged by the receiver (sending) or written (receiving). -315 for a
// port that does not hold the driver.
int64_t xyGetBytesDone(int port);
