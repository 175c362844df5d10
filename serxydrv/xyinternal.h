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
constexpr int64_t XY_LARGEST_FILE = INT32_MAX;   // the size packet 0 and FileSize hold
constexpr int XY_CTS_BLOCK = 32;                 // CTS is looked at once per 32 data bytes

// Time limits in milliseconds.
constexpr uint32_t XY_GETCHAR_TRY_MS = 50;
constexpr int XY_GETCHAR_TRIES = 30;
constexpr uint32_t XY_POLL_STEP_MS = 1;       // GetChar looks at the port this often
constexpr uint32_t XY_START_WAIT_MS = 60000;  // sender: start character
constexpr uint32_t XY_FIRST_CHECK_DELAY_MS = 125;
constexpr uint32_t XY_REPLY_WAIT_MS = 10000;  // sender: ACK/NAK of a packet
constexpr uint32_t XY_EOT_WAIT_MS = 1000;     // sender: ACK of one EOT
constexpr uint32_t XY_BYTE_WAIT_MS = 6000;    // receiver: next byte inside a packet
constexpr uint32_t XY_CTS_WAIT_MS = 10000;    // any wait for CTS

// The transfer record. xyStartTx and xyStartRx clear it completely.
struct XyList {
  int32_t FileSize;
  uint32_t BytesSent;
  int32_t BytesWritten;
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
};

extern XyList xyList;
extern int ActivePort;
extern int DebugLevel;
extern int DebugValue;
extern int GetCharCount;
extern int PutCharCount;
extern int DriverCount;
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
// Batch receiving: packet 0 carried a size. Without one, data packets are
// written whole rather than cut to a size of 0.
extern bool SizeAnnounced;

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

int PutChar(int port, int byte);
int GetChar(int port);
int SetXYerror(int port, int code);

// Waits until CTS is up when the transfer watches CTS. 0 when it is (or
// need not be); -313 after XY_CTS_WAIT_MS, the transfer then ended.
int WaitForCTS(int port);
