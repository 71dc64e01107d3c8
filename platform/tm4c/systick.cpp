// SysTick: the core's 24-bit down-counter, clocked from the system clock.
#include "driverlib/systick.h"

#include "hw.h"

namespace {
constexpr uint32_t STCTRL = 0xE000E010;
constexpr uint32_t STRELOAD = 0xE000E014;
constexpr uint32_t STCURRENT = 0xE000E018;
constexpr uint32_t STCTRL_ENABLE = 1u << 0;
constexpr uint32_t STCTRL_INTEN = 1u << 1;
constexpr uint32_t STCTRL_CLK_SRC = 1u << 2;
constexpr uint32_t kReloadMask = 0x00FFFFFF;
}  // namespace

void SysTickPeriodSet(uint32_t period) {
  hw_write(STRELOAD, (period - 1) & kReloadMask);  // counts period-1 ... 0
}

uint32_t SysTickPeriodGet(void) { return (hw_read(STRELOAD) & kReloadMask) + 1; }

uint32_t SysTickValueGet(void) { return hw_read(STCURRENT) & kReloadMask; }

void SysTickEnable(void) {
  hw_set(STCTRL, STCTRL_CLK_SRC | STCTRL_ENABLE);  // system clock, counting
}

void SysTickDisable(void) {
  hw_clear(STCTRL, STCTRL_ENABLE);  // stopped
}

void SysTickIntEnable(void) {
  hw_set(STCTRL, STCTRL_INTEN);  // exception at each wrap to zero
}

void SysTickIntDisable(void) {
  hw_clear(STCTRL, STCTRL_INTEN);  // no exception
}
