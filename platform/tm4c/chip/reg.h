// Register access on the chip: every peripheral register is a 32-bit word
// at its bus address. The host tests put their own reg.h first on the
// include path and point these two at a register file instead.
#pragma once
#include <cstdint>

inline uint32_t hw_read(uint32_t addr) {
  return *reinterpret_cast<volatile uint32_t *>(addr);
}

inline void hw_write(uint32_t addr, uint32_t value) {
  *reinterpret_cast<volatile uint32_t *>(addr) = value;
}
