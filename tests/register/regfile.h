// A register file standing in for the peripheral address space, with a log
// of every access so tests can check values and their order.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace regfile {

struct Access {
  bool write;
  uint32_t addr;
  uint32_t value;
};

// Every register zero, then the status bits a driver waits on preset so that
// each wait ends at its first poll (HIBCTL always reads with WRC set); clears
// the log and the read hook.
void reset();

// Direct access, outside the log: presets and checks.
uint32_t &at(uint32_t addr);

const std::vector<Access> &log();
std::vector<uint32_t> writes_to(uint32_t addr);
// Position in the log of the first write to addr at or after `from`; -1 if none.
int first_write(uint32_t addr, size_t from = 0);
int last_write(uint32_t addr);

// Answers reads of chosen registers (FIFOs, flags that change).
void on_read(std::function<std::optional<uint32_t>(uint32_t addr)> hook);

// Host stand-ins for the instruction-level operations.
extern uint32_t delay_counts;
extern bool primask;

}  // namespace regfile
