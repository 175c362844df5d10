// The settings handlers through the window, as the device reads them back:
// what a pseudo-terminal refuses (parity, fewer than 8 data bits) is said
// and shown as the line has it, and spoils no later setting; a side whose
// port did not open changes no device.
#include "support/dialog_reads.h"
#include "support/window_fixture.h"

#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <termios.h>

namespace {

class SettingsTest : public WindowTest {};

// What a row leaves on COM1's device.
struct Line {
  speed_t speed;
  tcflag_t cflags;  // of CSTOPB, CRTSCTS, CSIZE, PARENB
  tcflag_t iflags;  // of IXON, IXOFF
};

Line lineOf(const termios &device) {
  return {cfgetospeed(&device), device.c_cflag & (CSTOPB | CRTSCTS | CSIZE | PARENB),
          device.c_iflag & (IXON | IXOFF)};
}

}  // namespace

// Port B names COM1, which Port A holds, so its port does not open: its
// choices stay on its lists and in its record, and COM1 is Port A's alone.
TEST_F(SettingsTest, EachChoiceIsAppliedOrReportedAndTheLineIsShownAsTheDeviceHasIt) {
  start();
  dlg_user_choose(window_, IDC_PORT_B, 0);
  ASSERT_EQ(hex_obj[HEX_SIDE_B].open, 0);
  struct Row {
    int list, entry;
    const char *shown;   // the list's text after
    const char *status;  // the status field after
    Line device;         // COM1's line after
  } rows[] = {
      {IDC_SPEED_A, 9, "115200", "", {B115200, CS8, 0}},
      {IDC_PARITY_A, 2, "NONE", "COM1 refused EVEN parity", {B115200, CS8, 0}},
      {IDC_SPEED_A, 6, "19200", "COM1 refused EVEN parity", {B19200, CS8, 0}},
      {IDC_DATA_A, 2, "8", "COM1 refused 7 data bits", {B19200, CS8, 0}},
      {IDC_STOP_A, 1, "2", "COM1 refused 7 data bits", {B19200, CS8 | CSTOPB, 0}},
      {IDC_FLOW_A, 0, "RTS", "COM1 refused 7 data bits", {B19200, CS8 | CSTOPB | CRTSCTS, 0}},
      {IDC_PARITY_A, 3, "NONE", "COM1 refused MARK parity", {B19200, CS8 | CSTOPB | CRTSCTS, 0}},
      {IDC_FLOW_A, 1, "XON", "COM1 refused MARK parity", {B19200, CS8 | CSTOPB, IXON | IXOFF}},
      {IDC_SPEED_B, 0, "110", "COM1 refused MARK parity", {B19200, CS8 | CSTOPB, IXON | IXOFF}},
      {IDC_STOP_B, 1, "2", "COM1 refused MARK parity", {B19200, CS8 | CSTOPB, IXON | IXOFF}},
      {IDC_FLOW_B, 0, "RTS", "COM1 refused MARK parity", {B19200, CS8 | CSTOPB, IXON | IXOFF}},
      {IDC_PARITY_B, 1, "ODD", "COM1 refused MARK parity", {B19200, CS8 | CSTOPB, IXON | IXOFF}},
      {IDC_STOP_A, 0, "1", "COM1 refused MARK parity", {B19200, CS8, IXON | IXOFF}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.list) + " " + row.shown);
    dlg_user_choose(window_, row.list, row.entry);
    EXPECT_EQ(controlText(window_, row.list), row.shown);
    EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), row.status);
    const Line device = lineOf(com1_.deviceSettings());
    EXPECT_EQ(device.speed, row.device.speed);
    EXPECT_EQ(device.cflags, row.device.cflags);
    EXPECT_EQ(device.iflags, row.device.iflags);
  }
  // The record is the line: settings the window shows are the device's.
  SioLine kept;
  ASSERT_EQ(SioGetLine(0, &kept), 0);
  EXPECT_EQ(kept.baud, 19200);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].baud, 6);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].parity, 0);
  EXPECT_EQ(hex_obj[HEX_SIDE_A].data_bits, 8);
  EXPECT_STREQ(hex_obj[HEX_SIDE_A].flow, "XO");

  EXPECT_TRUE(boxes_.empty());
}
