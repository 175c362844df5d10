// The line settings of a terminal as the kernel holds them, read from any
// descriptor of it (a pseudo-terminal's master reads its slave's settings).
// Kept apart from <termios.h> users: it speaks the kernel's termios2.
#pragma once

#include <cstdint>

struct DeviceView {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;
  uint32_t lflag = 0;
  uint8_t vmin = 0;
  uint8_t vtime = 0;
  uint8_t vstart = 0;
  uint8_t vstop = 0;
  uint32_t ispeed = 0;
  uint32_t ospeed = 0;
};

// Settings of the terminal behind fd; the test fails if they cannot be read.
DeviceView viewDevice(int fd);

// Sets the terminal's speed to any rate (both directions).
void setDeviceSpeed(int fd, uint32_t rate);
