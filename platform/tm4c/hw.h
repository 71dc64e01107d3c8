// Read-modify-write and bounded polling on top of the register accessors.
#pragma once
#include <cstdint>

#include "reg.h"

inline void hw_set(uint32_t addr, uint32_t bits) { hw_write(addr, hw_read(addr) | bits); }
inline void hw_clear(uint32_t addr, uint32_t bits) { hw_write(addr, hw_read(addr) & ~bits); }
inline void hw_field(uint32_t addr, uint32_t mask, uint32_t value) {
  hw_write(addr, (hw_read(addr) & ~mask) | (value & mask));
}

// Polls until every bit of `bits` reads as `level`, at most `limit` reads.
// False when the limit ran out first.
inline bool hw_wait(uint32_t addr, uint32_t bits, bool level, uint32_t limit) {
  for (uint32_t i = 0; i < limit; i++) {
    uint32_t v = hw_read(addr) & bits;
    if (level ? v == bits : v == 0) return true;
  }
  return false;
}

// Poll budgets. One poll is a handful of cycles at 50 MHz, so 1M polls are
// roughly 0.1 s: long enough for any byte at 9600 baud or an SSI frame.
constexpr uint32_t kPollShort = 1000u;
constexpr uint32_t kPollByte = 1000000u;
constexpr uint32_t kPollLong = 20000000u;  // oscillator start-up, EEPROM erase
