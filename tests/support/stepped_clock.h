// A clock for the serial library, and so for the XMODEM driver, that moves
// only when the code under test sleeps on it or the test steps it: time
// limits are checked without waiting for them. It starts just before the
// 32-bit wrap, so the limits that begin early in a test are measured across
// it.
#pragma once

#include "ser/ser.h"

#include <cstdint>

struct SteppedClock {
  static constexpr uint32_t kNearWrap = 0xFFFFFFF5u;

  static inline uint32_t now = kNearWrap;

  static void install(uint32_t start = kNearWrap) {
    now = start;
    SioClock clock{[] { return now; }, [](uint32_t ms) { now += ms; }};
    SioSetClock(&clock);
  }
  static void uninstall() { SioSetClock(nullptr); }
  static void advance(uint32_t ms) { now += ms; }
};
