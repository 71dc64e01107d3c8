// Watchdog timer 0. It runs on the system clock, so unlike watchdog 1 its
// writes need no pacing.
#include "driverlib/watchdog.h"

#include "hw.h"

namespace {

constexpr uint32_t LOAD = 0x000;
constexpr uint32_t VALUE = 0x004;
constexpr uint32_t CTL = 0x008;
constexpr uint32_t ICR = 0x00C;
constexpr uint32_t RIS = 0x010;
constexpr uint32_t MIS = 0x014;
constexpr uint32_t LOCK = 0xC00;

constexpr uint32_t CTL_INTEN = 1u << 0;
constexpr uint32_t CTL_RESEN = 1u << 1;
constexpr uint32_t kUnlockKey = 0x1ACCE551;
constexpr uint32_t kLockKey = 0;  // any other value locks

}  // namespace

bool WatchdogRunning(uint32_t base) { return (hw_read(base + CTL) & CTL_INTEN) != 0; }

void WatchdogEnable(uint32_t base) {
  hw_set(base + CTL, CTL_INTEN);  // counter and its interrupt on, until the next reset
}

void WatchdogResetEnable(uint32_t base) {
  hw_set(base + CTL, CTL_RESEN);  // second time-out resets the chip
}

void WatchdogResetDisable(uint32_t base) {
  hw_clear(base + CTL, CTL_RESEN);  // second time-out only interrupts
}

void WatchdogLock(uint32_t base) {
  hw_write(base + LOCK, kLockKey);  // registers read-only
}

void WatchdogUnlock(uint32_t base) {
  hw_write(base + LOCK, kUnlockKey);  // registers writable
}

bool WatchdogLockState(uint32_t base) { return hw_read(base + LOCK) == 1; }

void WatchdogReloadSet(uint32_t base, uint32_t load) {
  hw_write(base + LOAD, load);  // new time-out; the counter restarts from it
}

uint32_t WatchdogValueGet(uint32_t base) { return hw_read(base + VALUE); }

uint32_t WatchdogIntStatus(uint32_t base, bool masked) {
  return hw_read(base + (masked ? MIS : RIS)) & 1u;
}

void WatchdogIntClear(uint32_t base) {
  hw_write(base + ICR, 1);  // any write clears the time-out and reloads the counter
}
