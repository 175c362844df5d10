#include "device_view.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

DeviceView viewDevice(int fd) {
  termios2 t{};
  DeviceView v;
  if (ioctl(fd, TCGETS2, &t) != 0) {
    ADD_FAILURE() << "TCGETS2 failed";
    return v;
  }
  v.iflag = t.c_iflag;
  v.oflag = t.c_oflag;
  v.cflag = t.c_cflag;
  v.lflag = t.c_lflag;
  v.vmin = t.c_cc[VMIN];
  v.vtime = t.c_cc[VTIME];
  v.vstart = t.c_cc[VSTART];
  v.vstop = t.c_cc[VSTOP];
  v.ispeed = t.c_ispeed;
  v.ospeed = t.c_ospeed;
  return v;
}

void setDeviceSpeed(int fd, uint32_t rate) {
  termios2 t{};
  ASSERT_EQ(ioctl(fd, TCGETS2, &t), 0);
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = t.c_ospeed = rate;
  ASSERT_EQ(ioctl(fd, TCSETS2, &t), 0);
}
