// The driver's module state and private routines, shared by the interface
// (xyinterface.cpp) and the protocol engine (xyengine.cpp). Tests include it
// to reach the byte routines, the CRC table and the transfer record.
#pragma once

#include "serxydrv/serxydrv.h"

#include <cstdint>

// Wire control characters.
constexpr uint8_t SOH = 0x01;  // starts a 128-byte packet
constexpr uint8_t STX = 0x02;  // starts a 1024-byte packet
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = XY_START_CHECKSUM;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t CRC_START = XY_START_CRC;

// Packets.
constexpr int XY_PACKET_SIZE = 128;              // data bytes after SOH; also packet 0
constexpr int XY_PACKET_SIZE_1K = 1024;          // after STX
constexpr int XY_NAKS_BEFORE_SHORT_PACKETS = 3;  // then 128-byte packets only
constexpr int XY_PACKET_TRY_LIMIT = 5;           // a packet goes out at most 4 times
constexpr int XY_EOT_TRY_LIMIT = 10;             // EOTs sent without an ACK
constexpr int64_t XY_LARGEST_FILE = INT32_MAX;   // the largest file sent
// Received: a larger size in packet 0 is taken as none announced.
constexpr int64_t XY_LARGEST_ANNOUNCED = INT64_C(1) << 53;
// Batch receiving: a name already taken is tried as name.1 ... name.999.
constexpr int XY_NUMBERED_NAMES = 999;
constexpr int XY_CTS_BLOCK = 32;                 // CTS is looked at once per 32 data bytes

// Time limits in milliseconds. No call waits for them: a waiting state
// pauses and looks at the clock again on the next call.
constexpr uint32_t XY_START_WAIT_MS = 60000;  // sender: start character
constexpr uint32_t XY_FIRST_CHECK_DELAY_MS = 125;
constexpr uint32_t XY_REPLY_WAIT_MS = 10000;  // sender: ACK/NAK of a packet
// Sender: ACK of one EOT, before it goes out again unasked. A receiver takes
// an EOT only once the line has stayed quiet after it (rx: one second) and
// refuses a damaged one once the line is quiet; an EOT repeated inside that
// second reads to it as noise, so the wait leaves it that second and more.
constexpr uint32_t XY_EOT_WAIT_MS = 3000;
constexpr uint32_t XY_BYTE_WAIT_MS = 6000;    // receiver: next byte inside a packet
constexpr uint32_t XY_CTS_WAIT_MS = 10000;    // any wait for CTS
constexpr uint32_t XY_WRITE_WAIT_MS = 10000;  // the line takes no byte of what was written
// Receiver, before a NAK: what still arrives of a refused packet is dropped
// until the line has been quiet this long (at least 3 bytes' time at the
// port's rate), for at most XY_BYTE_WAIT_MS.
constexpr uint32_t XY_QUIET_MS = 100;

// The transfer record. xyStartTx and xyStartRx clear it completely.
struct XyList {
  int64_t FileSize;      // sent, or announced in packet 0
  int64_t BytesSent;     // acknowledged, last packet whole
  int64_t BytesWritten;  // into the file received
  uint32_t TimeMark;
  int32_t TryCount;
  int32_t LastError;
  int32_t ErrorState;
  int32_t FirstPacket;
  int32_t FileHandle;  // > 0 while a file is open
  int32_t RxPacket;
  int32_t RxPacketCmp;
  int32_t TryLimit;
  int32_t ErrorCount;
  int32_t OneKflag;
  int32_t Packet;
  int32_t PacketSize;
  int32_t NextState;
  int32_t State;
  int32_t TracedState;
  uint16_t RxCheck;
  uint16_t Check;
  uint8_t BatchFlag;
  uint8_t Done;
  uint8_t EndOfBatch;
  uint8_t CTSflag;
  uint8_t NCGchar;
  uint8_t HeaderChar;
  char FileName[XY_FILE_NAME_SIZE];
  uint8_t Buffer[XY_PACKET_SIZE_1K];
  // Resuming and waiting without blocking.
  int32_t DataCount;   // data bytes of the packet sent (210) or read (308) so far
  uint8_t CtsWaiting;  // a wait for CTS has begun at CtsMark
  uint32_t CtsMark;
  uint8_t Resyncing;    // a refusal waits for the line to go quiet
  uint32_t QuietMark;   // the last byte seen meanwhile
  uint32_t ResyncMark;  // the wait began
  uint8_t EotRefused;   // receiving: the first EOT was answered with NAK
  uint8_t CanSeen;      // the last header or answer byte read was CAN
  uint8_t EotAnswered;  // sending: a byte other than NAK came since the first EOT
  // Receiving with CRC: the last two damaged copies of packet CopyNumber
  // (data, then the two check bytes), for a vote with the next one.
  uint8_t CopyCount;
  uint8_t CopyNumber;
  int32_t CopySize;
  uint8_t Copy[2][XY_PACKET_SIZE_1K + 2];
};

extern XyList xyList;
extern int ActivePort;
extern int DebugLevel;
extern int DebugValue;
extern uint32_t GetCharCount;  // wrap as the parameters show them
extern uint32_t PutCharCount;
extern uint32_t DriverCount;
extern int8_t LastGetChar;
extern int8_t LastPutChar;
extern uint8_t RxNakRate;
extern uint8_t EOFchar;
extern int ReadyByte;
extern int MsgFront;
extern int MsgCount;
extern char MessageQueue[XY_MESSAGE_SLOTS][XY_MESSAGE_SIZE];
extern uint16_t CRCtable[256];

// Receiving: number of the packet accepted last (-1 none), so that a repeat
// of it (the sender missed our ACK) is acknowledged and not written again.
extern int LastAcceptedPacket;
// Batch receiving: the size packet 0 carried, -1 none. Without one, data
// packets are written whole rather than cut to a size of 0.
extern int64_t AnnouncedSize;

// Message ring: the slot for a new message (the oldest is dropped when full).
char *GetMsgPtr();
// Formats a message into a new slot, cut to 79 characters.
void QueueMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));

void InitCRC();
uint16_t CalcTable(uint16_t index, uint16_t poly, uint16_t crc);
uint16_t UpdateCRC(uint16_t crc, uint8_t byte);

// Length of the open file (it may exceed what a transfer can announce).
int64_t FileLength(int handle);
char *FileNameCopy(char *target, const char *path);
void CloseFile();

// Writes without waiting: what the line cannot take now is kept and goes
// out first on the next xyDriver calls, the bytes counted as they go. 0; a
// negative code when the write failed (the transfer has ended).
int PutChar(int port, int byte);
int PutBytes(int port, const uint8_t *bytes, int count);
// Writes what is kept: 0 all out, 1 some still held, or the negative code
// that ended the transfer (a failed write, or XY_WRITE_WAIT_MS without the
// line taking a byte: -103 with ETIMEDOUT).
int FlushOutput(int port);
bool OutputHeld();
// CANs behind anything kept, in one write that never waits; the rest of
// what is kept is dropped.
void SendCancel(int port);
// A byte 0..255; -100 at once when none is waiting (the state applies its
// own time limit); any other negative code has ended the transfer through
// SetXYerror. Never waits.
int GetChar(int port);
// Drops every byte received so far, read ahead by GetChar or not.
void DropReceived(int port);
int SetXYerror(int port, int code);

// CTS before a write, when the transfer watches CTS: 0 when it is up (or
// need not be), 1 while it is down (the state pauses and asks again on the
// next call), -313 once it has been down for XY_CTS_WAIT_MS (the transfer
// then ended). Never waits.
int WaitForCTS(int port);
