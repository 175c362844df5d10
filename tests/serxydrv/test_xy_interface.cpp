// The driver's calls around the engine: binding to a port, parameters, the
// message ring, error reporting, the byte routines and their waits.
#include "xy_port_fixture.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;

TEST(XyBinding, OnePortAtATime) {
  ASSERT_EQ(xyAcquire(1), 0);
  EXPECT_EQ(xyAcquire(0), XY_ALREADY_ACTIVE);
  // Calls for a port that does not hold the driver change nothing.
  EXPECT_EQ(xyStartTx(0, "x", 0, 0), XY_NOT_ACTIVE);
  EXPECT_EQ(xyStartRx(0, "x", 'C', 0), XY_NOT_ACTIVE);
  EXPECT_EQ(xyDriver(0), XY_NOT_ACTIVE);
  EXPECT_EQ(xyGetParameter(0, XY_PARAM_STATE), XY_NOT_ACTIVE);
  EXPECT_EQ(xyGetParameter(1, XY_PARAM_STATE), 0);
  EXPECT_EQ(xyRelease(7), 0);
  EXPECT_EQ(xyRelease(1), XY_NOT_ACTIVE);
  // The driver counts every call, refused ones included.
  int calls = xyGetParameter(5, XY_PARAM_DRIVER_COUNT);
  xyDriver(3);
  EXPECT_EQ(xyGetParameter(5, XY_PARAM_DRIVER_COUNT), calls + 1);
}

TEST(XyParameters, IdsAndRanges) {
  ASSERT_EQ(xyAcquire(2), 0);
  EXPECT_EQ(xyGetParameter(2, XY_PARAM_VERSION), 563);
  EXPECT_EQ(xyGetParameter(9, XY_PARAM_VERSION), 563);
  EXPECT_EQ(xyGetParameter(9, XY_PARAM_PACKET), XY_NOT_ACTIVE);
  EXPECT_EQ(xyGetParameter(9, XY_PARAM_DEBUG_VALUE), 0);
  EXPECT_EQ(xyGetParameter(2, 13), -1);
  EXPECT_EQ(xyGetParameter(2, -1), -1);

  EXPECT_EQ(xySetParameter(2, XY_SET_NAK_RATE, 11), SIO_RANGE);
  EXPECT_EQ(xySetParameter(2, XY_SET_NAK_RATE, 0), SIO_RANGE);
  EXPECT_EQ(RxNakRate, 4);
  EXPECT_EQ(xySetParameter(2, XY_SET_NAK_RATE, 10), 10);
  EXPECT_EQ(RxNakRate, 10);
  EXPECT_EQ(xySetParameter(2, XY_SET_NAK_RATE, 4), 4);
  EXPECT_EQ(xySetParameter(2, XY_SET_EOF_CHAR, 0), 0);
  EXPECT_EQ(EOFchar, 0);
  EXPECT_EQ(xySetParameter(2, XY_SET_EOF_CHAR, 0x1FF), -1);  // low 8 bits, sign-extended
  EXPECT_EQ(xySetParameter(2, XY_SET_EOF_CHAR, 0x1A), 0x1A);
  EXPECT_EQ(xySetParameter(2, 54, 1), -1);
  EXPECT_EQ(xyDebug(7), 3);
  EXPECT_EQ(xyDebug(0), 0);
  xyRelease(2);
}

TEST(XyErrors, OneTextRoutineServesEveryRange) {
  const std::pair<int, const char *> texts[] = {
      {XY_UNKNOWN_ERROR, "Unknown error"},
      {XY_CANNOT_OPEN, "Cannot open file"},
      {XY_NO_STARTUP, "Expected startup character (NAK or 'C') not received"},
      {XY_TIMED_OUT, "Timed out awaiting incoming character"},
      {XY_ABORTED, "Aborted by user"},
      {SIO_NO_DATA, "No data"},
      {SIO_EXPIRED, "Expired"},
      {SIO_BAD_PORT, "Bad port ID"},
      {SIO_BAUD_RATE, "BaudRate"},
  };
  for (auto [code, text] : texts)
    EXPECT_STREQ(xyErrorText(code), text) << code;
  for (int code : {1, 0, -9, -99, -105, -299, -319, -1000})
    EXPECT_STREQ(xyErrorText(code), "Unknown error") << code;
}

TEST(XyMessages, RingDropsOldestAndCutsLongTexts) {
  while (xyGetMessage(nullptr, 0)) {
  }
  for (int i = 1; i <= 13; ++i)
    QueueMessage("message %d", i);
  char text[XY_MESSAGE_SIZE];
  for (int i = 2; i <= 13; ++i) {
    ASSERT_EQ(xyGetMessage(text, sizeof text), 1);
    EXPECT_EQ(std::string(text), "message " + std::to_string(i));
  }
  EXPECT_EQ(xyGetMessage(text, sizeof text), 0);

  std::string longText(200, 'x');
  QueueMessage("%s", longText.c_str());
  ASSERT_EQ(xyGetMessage(text, sizeof text), 1);
  EXPECT_EQ(strlen(text), 79u);

  // A short buffer gets the first bytes, unterminated.
  QueueMessage("abcdef");
  char small[4] = {'-', '-', '-', '-'};
  ASSERT_EQ(xyGetMessage(small, 3), 1);
  EXPECT_EQ(std::string(small, 4), "abc-");
}

TEST(XyCrc, TableAndKnownValue) {
  ASSERT_EQ(xyAcquire(0), 0);
  EXPECT_EQ(CRCtable[0], 0);
  EXPECT_EQ(CRCtable[1], 0x1021);
  const char *check = "123456789";
  uint16_t crc = 0;
  for (const char *p = check; *p; ++p)
    crc = UpdateCRC(crc, uint8_t(*p));
  EXPECT_EQ(crc, 0x31C3);  // CRC-16/XMODEM check value
  Bytes data = xytest::randomBytes(1024, 7);
  crc = 0;
  for (uint8_t b : data)
    crc = UpdateCRC(crc, b);
  EXPECT_EQ(crc, referenceCrc(data.data(), data.size()));
  xyRelease(0);
}

TEST(XyNames, FileNameRules) {
  ASSERT_EQ(xyAcquire(0), 0);
  char name[XY_FILE_NAME_SIZE];
  EXPECT_EQ(xyStartRx(0, " leading blank", 'C', 0), 1);
  EXPECT_EQ(xyGetFileName(0, name, sizeof name), 0);
  EXPECT_EQ(xyStartRx(0, nullptr, 'C', 1), 1);
  EXPECT_EQ(xyGetFileName(0, name, sizeof name), 0);
  EXPECT_EQ(xyStartTx(0, "/some/dir/file.bin", 0, 0), 1);
  EXPECT_EQ(xyGetFileName(0, name, sizeof name), 18);
  EXPECT_STREQ(name, "/some/dir/file.bin");
  EXPECT_EQ(xyGetFileName(0, name, 5), 5);
  EXPECT_EQ(std::string(name, 5), "/some");
  char base[XY_FILE_NAME_SIZE];
  EXPECT_STREQ(FileNameCopy(base, "C:\\dir/sub\\f.txt"), "f.txt");
  EXPECT_STREQ(FileNameCopy(base, "plain"), "plain");
  xyAbort(0);
  xyRelease(0);
}

TEST(XyNames, TooLongNameIsRefusedNotCut) {
  ASSERT_EQ(xyAcquire(0), 0);
  while (xyGetMessage(nullptr, 0)) {
  }
  std::string fits(127, 'n');
  std::string tooLong(128, 'n');
  EXPECT_EQ(xyStartTx(0, fits.c_str(), 0, 0), 1);
  xyAbort(0);
  for (int rx = 0; rx < 2; ++rx) {
    int r = rx ? xyStartRx(0, tooLong.c_str(), 'C', 0) : xyStartTx(0, tooLong.c_str(), 0, 0);
    EXPECT_EQ(r, XY_CANNOT_OPEN);
    EXPECT_EQ(xyGetParameter(0, XY_PARAM_STATE), 0);
    EXPECT_EQ(xyGetParameter(0, XY_PARAM_LAST_ERROR), XY_CANNOT_OPEN);
    char name[XY_FILE_NAME_SIZE];
    EXPECT_EQ(xyGetFileName(0, name, sizeof name), 0);
    // The window learns of the end from the next xyDriver call.
    EXPECT_EQ(xyDriver(0), 0);
    char text[XY_MESSAGE_SIZE];
    ASSERT_EQ(xyGetMessage(text, sizeof text), 1);
    EXPECT_STREQ(text, "!COM1: ERROR -302 (Cannot open file) @ State=0");
  }
  xyRelease(0);
}

// --- With a port ----------------------------------------------------------------

using XyPort = SteppedPort;

TEST_F(XyPort, SetXYerrorSendsCancelOnlyForSerialAndDriverCodes) {
  ASSERT_EQ(xyStartRx(kPort, dir_.file("r").c_str(), 'C', 0), 1);
  EXPECT_EQ(SetXYerror(kPort, XY_TIMED_OUT), XY_TIMED_OUT);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_TIMED_OUT);
  EXPECT_EQ(param(XY_PARAM_ERROR_STATE), XY_RX_START);
  EXPECT_EQ(param(XY_PARAM_STATE), 0);

  EXPECT_EQ(SetXYerror(kPort, SIO_NO_DATA), SIO_NO_DATA);
  EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
  EXPECT_EQ(SetXYerror(kPort, SIO_NOT_OPEN), SIO_NOT_OPEN);
  EXPECT_EQ(SetXYerror(kPort, SIO_BAUD_RATE), SIO_BAUD_RATE);
  EXPECT_EQ(SetXYerror(kPort, 0), 0);
  EXPECT_TRUE(wireRest().empty());

  auto texts = messages();
  ASSERT_EQ(texts.size(), 4u);  // success queues nothing
  EXPECT_EQ(texts[0], "!COM1: ERROR -313 (Timed out awaiting incoming character) @ State=0");
  EXPECT_EQ(texts[1], "!COM1: Sio Error -100 (No data) @ State=0");
  EXPECT_EQ(texts[2], "!COM1: Port Error -3 (Port not open) @ State=0");
  EXPECT_EQ(texts[3], "!COM1: Port Error -8 (BaudRate) @ State=0");

  // The longest text is cut to fit its slot.
  SetXYerror(kPort, XY_NO_STARTUP);
  texts = messages();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].size(), 79u);
  EXPECT_EQ(texts[0], std::string("!COM1: ERROR -304 (Expected startup character (NAK or 'C') not "
                                  "received) @ State=0")
                          .substr(0, 79));
}

TEST_F(XyPort, SetXYerrorClosesFileAndDropsReceivedBytes) {
  std::string path = dir_.file("r");
  ASSERT_EQ(xyStartRx(kPort, path.c_str(), 'C', 0), 1);
  EXPECT_EQ(xyDriver(kPort), 1);  // creates the file, sends 'C'
  ASSERT_GT(xyList.FileHandle, 0);
  int handle = xyList.FileHandle;
  feed(Bytes{1, 2, 3});
  SetXYerror(kPort, XY_OUT_OF_SYNC);
  EXPECT_EQ(xyList.FileHandle, 0);
  EXPECT_EQ(fcntl(handle, F_GETFD), -1);  // closed
  EXPECT_EQ(SioRxQue(kPort), 0);
  EXPECT_EQ(xyDriver(kPort), 0);
}

// GetChar never waits: the state that called it keeps its own time limit.
TEST_F(XyPort, GetCharReturnsAtOnceWithOrWithoutAByte) {
  uint32_t start = now();
  int count = param(XY_PARAM_GET_CHAR_COUNT);
  EXPECT_EQ(GetChar(kPort), SIO_NO_DATA);
  EXPECT_EQ(now(), start);
  EXPECT_EQ(param(XY_PARAM_GET_CHAR_COUNT), count);

  feed(0x41);
  EXPECT_EQ(GetChar(kPort), 0x41);
  EXPECT_EQ(now(), start);
  EXPECT_EQ(param(XY_PARAM_GET_CHAR_COUNT), count + 1);
  feed(0xF0);
  EXPECT_EQ(GetChar(kPort), 0xF0);
  EXPECT_EQ(param(XY_PARAM_LAST_GET_CHAR), -16);

  // A byte handed back comes first, without reading the port.
  feed(0x33);
  ReadyByte = 0x02;
  EXPECT_EQ(GetChar(kPort), 2);
  EXPECT_EQ(ReadyByte, -1);
  EXPECT_EQ(SioRxQue(kPort), 1);
  EXPECT_EQ(GetChar(kPort), 0x33);
}

TEST_F(XyPort, PutCharCountsAndKeepsLastByte) {
  int count = param(XY_PARAM_PUT_CHAR_COUNT);
  EXPECT_EQ(PutChar(kPort, 0x81), 0);
  EXPECT_EQ(wire(1), Bytes{0x81});
  EXPECT_EQ(param(XY_PARAM_PUT_CHAR_COUNT), count + 1);
  EXPECT_EQ(param(XY_PARAM_LAST_PUT_CHAR), -127);
}

TEST_F(XyPort, HardPortErrorEndsTheTransferWithItsOwnCode) {
  ASSERT_EQ(xyStartRx(kPort, dir_.file("r").c_str(), 'C', 0), 1);
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(wire(1), Bytes{'C'});
  pty_.closeMaster();  // the device goes away
  EXPECT_EQ(xyDriver(kPort), 0);
  int code = param(XY_PARAM_LAST_ERROR);
  EXPECT_LT(code, 0);
  EXPECT_NE(code, SIO_NO_DATA);
  EXPECT_GT(code, -300);  // the serial library's code, not a driver time-out
  auto texts = messages();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("!COM1: Sio Error", 0), 0u) << texts[0];
}

TEST_F(XyPort, AbortCancelsOnTheWireAndEmptiesTheRing) {
  std::string path = dir_.file("r");
  ASSERT_EQ(xyStartRx(kPort, path.c_str(), 'C', 0), 1);
  EXPECT_EQ(xyDriver(kPort), 1);
  EXPECT_EQ(wire(1), Bytes{'C'});
  QueueMessage("pending");
  feed(Bytes{9, 9});
  EXPECT_EQ(xyAbort(kPort), 0);
  EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_ABORTED);
  EXPECT_EQ(param(XY_PARAM_STATE), 0);
  EXPECT_EQ(xyList.FileHandle, 0);
  EXPECT_EQ(SioRxQue(kPort), 0);
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(wireRest(), (Bytes{CAN, CAN, CAN}));
  EXPECT_EQ(xyDriver(kPort), 0);
}
