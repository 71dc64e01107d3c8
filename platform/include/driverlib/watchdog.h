// Watchdog timer 0: a 32-bit down-counter on the system clock. Its first
// time-out raises the interrupt and reloads; a second time-out while the
// interrupt is still set resets the chip, when reset is enabled.
#pragma once
#include <cstdint>

// True once the counter runs (interrupt or reset enabled). Blocks: no.
// ISR-safe: yes.
bool WatchdogRunning(uint32_t base);
// Starts the counter with its interrupt enabled; only a reset stops it
// again. Blocks: no. ISR-safe: yes.
void WatchdogEnable(uint32_t base);
// A second time-out resets the chip. Blocks: no. ISR-safe: yes.
void WatchdogResetEnable(uint32_t base);
// A second time-out only raises the interrupt again. Blocks: no.
// ISR-safe: yes.
void WatchdogResetDisable(uint32_t base);
// Locks the registers against writes. Blocks: no. ISR-safe: yes.
void WatchdogLock(uint32_t base);
// Unlocks the registers. Blocks: no. ISR-safe: yes.
void WatchdogUnlock(uint32_t base);
// True while the registers are locked. Blocks: no. ISR-safe: yes.
bool WatchdogLockState(uint32_t base);
// Sets the count loaded at each time-out; reloads the counter at once.
// Blocks: no. ISR-safe: yes.
void WatchdogReloadSet(uint32_t base, uint32_t load);
// The counter's current value. Blocks: no. ISR-safe: yes.
uint32_t WatchdogValueGet(uint32_t base);
// The time-out interrupt's raw (or masked) status. Blocks: no.
// ISR-safe: yes.
uint32_t WatchdogIntStatus(uint32_t base, bool masked);
// Clears the time-out interrupt and reloads the counter. Blocks: no.
// ISR-safe: yes.
void WatchdogIntClear(uint32_t base);
