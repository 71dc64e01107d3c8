// Waits that end: every poll of a peripheral here gives up after a time,
// so a missing or broken device costs a message, never the deployment.
#pragma once
#include <cstdint>

#include "core/board_util.h"
#include "driverlib/sysctl.h"

// 17 three-cycle loops make a microsecond at 50 MHz.
constexpr uint32_t kDelayLoopsPerUs = 17;

// Polls ready() until it holds (true) or limit_ms have passed (false). The
// 1 ms tick measures the time; the microsecond pause of every turn bounds
// the wait as well when the tick is not running.
template <class Ready>
bool wait_until(Ready ready, uint32_t limit_ms) {
  const uint32_t start = Timer_1ms(0);
  const uint32_t max_turns = limit_ms * 1000u;
  for (uint32_t turn = 0;; turn++) {
    if (ready()) return true;
    if (Timer_1ms(0) - start > limit_ms || turn >= max_turns) return false;
    SysCtlDelay(kDelayLoopsPerUs);
  }
}
