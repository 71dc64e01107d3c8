// Register access for the host tests: the drivers' reads and writes go to a
// register file (regfile.cpp) instead of the bus.
#pragma once
#include <cstdint>

uint32_t hw_read(uint32_t addr);
void hw_write(uint32_t addr, uint32_t value);
