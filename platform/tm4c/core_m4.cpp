// The few operations that are processor instructions rather than register
// writes. Chip only: the host tests supply their own versions.
#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "hw.h"

namespace {
constexpr uint32_t APINT = 0xE000ED0C;
constexpr uint32_t APINT_VECTKEY = 0x05FAu << 16;
constexpr uint32_t APINT_SYSRESREQ = 1u << 2;
}  // namespace

// subs + taken bne: three cycles a count. Zero returns at once.
__attribute__((naked)) void SysCtlDelay(uint32_t) {
  __asm volatile(
      "    cbz  r0, 2f\n"
      "1:  subs r0, #1\n"
      "    bne  1b\n"
      "2:  bx   lr\n");
}

void SysCtlSleep(void) { __asm volatile("wfi" ::: "memory"); }

void SysCtlReset(void) {
  __asm volatile("dsb" ::: "memory");
  hw_write(APINT, APINT_VECTKEY | APINT_SYSRESREQ);  // request a system reset
  __asm volatile("dsb" ::: "memory");
  for (;;) {
  }
}

bool IntMasterEnable(void) {
  uint32_t primask;
  __asm volatile(
      "mrs %0, primask\n"
      "cpsie i\n"
      : "=r"(primask)
      :
      : "memory");
  return (primask & 1) != 0;
}

bool IntMasterDisable(void) {
  uint32_t primask;
  __asm volatile(
      "mrs %0, primask\n"
      "cpsid i\n"
      : "=r"(primask)
      :
      : "memory");
  return (primask & 1) != 0;
}
