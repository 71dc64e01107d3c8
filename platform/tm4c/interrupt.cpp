// NVIC: enables and priorities. The master mask is in core_m4.cpp.
#include "driverlib/interrupt.h"

#include "hw.h"
#include "inc/hw_ints.h"

namespace {
constexpr uint32_t EN0 = 0xE000E100;   // set-enable, one bit an interrupt
constexpr uint32_t DIS0 = 0xE000E180;  // clear-enable
constexpr uint32_t PRI0 = 0xE000E400;  // one byte an interrupt
constexpr uint32_t SYSPRI1 = 0xE000ED18;  // one byte an exception, from 4
constexpr uint32_t SYSHNDCTRL = 0xE000ED24;
constexpr uint32_t STCTRL = 0xE000E010;

constexpr uint32_t SYSHNDCTRL_MEM = 1u << 16;
constexpr uint32_t SYSHNDCTRL_BUS = 1u << 17;
constexpr uint32_t SYSHNDCTRL_USAGE = 1u << 18;
constexpr uint32_t STCTRL_INTEN = 1u << 1;
constexpr uint32_t kPriorityBits = 0xE0;  // three implemented bits

uint32_t fault_bit(uint32_t n) {
  switch (n) {
    case FAULT_MPU: return SYSHNDCTRL_MEM;
    case FAULT_BUS: return SYSHNDCTRL_BUS;
    case FAULT_USAGE: return SYSHNDCTRL_USAGE;
    default: return 0;
  }
}

uint32_t nvic_reg(uint32_t bank, uint32_t n) { return bank + 4 * ((n - 16) / 32); }
uint32_t nvic_bit(uint32_t n) { return 1u << ((n - 16) % 32); }
}  // namespace

void IntEnable(uint32_t n) {
  if (n >= 16 && n < NUM_INTERRUPTS) {
    hw_write(nvic_reg(EN0, n), nvic_bit(n));  // write-one-to-set: only this one
  } else if (n == FAULT_SYSTICK) {
    hw_set(STCTRL, STCTRL_INTEN);  // SysTick exception on
  } else if (uint32_t bit = fault_bit(n)) {
    hw_set(SYSHNDCTRL, bit);  // this fault gets its own handler
  }
}

void IntDisable(uint32_t n) {
  if (n >= 16 && n < NUM_INTERRUPTS) {
    hw_write(nvic_reg(DIS0, n), nvic_bit(n));  // write-one-to-clear: only this one
  } else if (n == FAULT_SYSTICK) {
    hw_clear(STCTRL, STCTRL_INTEN);  // SysTick exception off
  } else if (uint32_t bit = fault_bit(n)) {
    hw_clear(SYSHNDCTRL, bit);  // this fault escalates to hard fault
  }
}

bool IntIsEnabled(uint32_t n) {
  if (n >= 16 && n < NUM_INTERRUPTS) return (hw_read(nvic_reg(EN0, n)) & nvic_bit(n)) != 0;
  if (n == FAULT_SYSTICK) return (hw_read(STCTRL) & STCTRL_INTEN) != 0;
  if (uint32_t bit = fault_bit(n)) return (hw_read(SYSHNDCTRL) & bit) != 0;
  return false;
}

void IntPrioritySet(uint32_t n, uint8_t priority) {
  uint32_t byte_addr;
  if (n >= 16 && n < NUM_INTERRUPTS) {
    byte_addr = PRI0 + (n - 16);
  } else if (n >= 4 && n < 16) {
    byte_addr = SYSPRI1 + (n - 4);
  } else {
    return;
  }
  uint32_t shift = 8 * (byte_addr & 3);
  hw_field(byte_addr & ~3u, 0xFFu << shift,
           uint32_t(priority & kPriorityBits) << shift);  // upper three bits of the byte
}
