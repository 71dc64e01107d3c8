// Watchdog 0 counts stages of a few seconds; its interrupt handler lets
// one stage after another pass while the wake's budget lasts, and the
// watchdog resets the chip at the second time-out of a stage nobody let
// pass. A main line that stops (a loop that never ends, interrupts masked
// for good) therefore resets the logger at most two stages after its
// budget ran out, whatever it is stuck in.
#include "core/wake_guard.h"

#include <cstdint>

#include "config/system.h"
#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "driverlib/watchdog.h"
#include "inc/hw_ints.h"
#include "inc/hw_memmap.h"
#include "vectors.h"

namespace {

constexpr uint32_t kStageSeconds = 5;
// Far above the longest wake that works: a sample with the instruments
// takes under 10 s, a command line waits 10 s at most, a chunk of a data
// transfer leaves the console in well under a second.
constexpr uint32_t kBoundSeconds = 120;

volatile uint32_t stages_left;
volatile bool released;
bool started;

}  // namespace

void WatchdogIntHandler(void) {
  if (!released) {
    if (stages_left == 0) return;  // left set: the next time-out resets
    stages_left = stages_left - 1;
  }
  WatchdogIntClear(WATCHDOG0_BASE);
}

void wake_guard_feed() {
  stages_left = (kBoundSeconds + sys_data.pumpon_time) / kStageSeconds + 1;
  if (released) {
    released = false;
    WatchdogResetEnable(WATCHDOG0_BASE);
  }
  if (started) return;
  started = true;
  SysCtlPeripheralEnable(SYSCTL_PERIPH_WDOG0);
  WatchdogReloadSet(WATCHDOG0_BASE, SysCtlClockGet() * kStageSeconds);
  WatchdogResetEnable(WATCHDOG0_BASE);
  IntEnable(INT_WATCHDOG);
  WatchdogEnable(WATCHDOG0_BASE);
}

void wake_guard_release() {
  if (!started) return;
  released = true;
  WatchdogResetDisable(WATCHDOG0_BASE);
}
