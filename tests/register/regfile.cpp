#include "regfile.h"

#include <cstdio>
#include <cstdlib>

#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "reg.h"

namespace regfile {
namespace {

constexpr uint32_t kPeriphBase = 0x40000000, kPeriphSize = 0x00100000;
constexpr uint32_t kCoreBase = 0xE000E000, kCoreSize = 0x00001000;
constexpr size_t kLogLimit = 100000;

std::vector<uint32_t> periph(kPeriphSize / 4);
std::vector<uint32_t> core(kCoreSize / 4);
std::vector<Access> accesses;
std::function<std::optional<uint32_t>(uint32_t)> read_hook;

uint32_t &cell(uint32_t addr) {
  if (addr % 4 == 0 && addr - kPeriphBase < kPeriphSize) return periph[(addr - kPeriphBase) / 4];
  if (addr % 4 == 0 && addr - kCoreBase < kCoreSize) return core[(addr - kCoreBase) / 4];
  std::fprintf(stderr, "register access outside the map: 0x%08x\n", (unsigned)addr);
  std::abort();
}

void note(bool write, uint32_t addr, uint32_t value) {
  if (accesses.size() < kLogLimit) accesses.push_back({write, addr, value});
}

}  // namespace

uint32_t delay_counts = 0;
bool primask = false;

void reset() {
  std::fill(periph.begin(), periph.end(), 0);
  std::fill(core.begin(), core.end(), 0);
  accesses.clear();
  read_hook = nullptr;
  delay_counts = 0;
  primask = false;
  cell(0x400FE050) = (1u << 6) | (1u << 8);  // SYSCTL RIS: PLL locked, main oscillator up
  cell(0x400FE060) = 0x078E3AD1;             // RCC at reset: PIOSC, bypassed
  cell(0x400FE070) = 0x07C06810;             // RCC2 at reset: not in use
  for (uint32_t uart = 0x4000C000; uart <= 0x40013000; uart += 0x1000) {
    cell(uart + 0x018) = (1u << 7) | (1u << 4);  // FR: both FIFOs empty
  }
  for (uint32_t ssi = 0x40008000; ssi <= 0x4000B000; ssi += 0x1000) {
    cell(ssi + 0x00C) = (1u << 0) | (1u << 1) | (1u << 2);  // SR: room to send, a frame received
  }
}

uint32_t &at(uint32_t addr) { return cell(addr); }

const std::vector<Access> &log() { return accesses; }

std::vector<uint32_t> writes_to(uint32_t addr) {
  std::vector<uint32_t> v;
  for (const Access &a : accesses)
    if (a.write && a.addr == addr) v.push_back(a.value);
  return v;
}

int first_write(uint32_t addr, size_t from) {
  for (size_t i = from; i < accesses.size(); i++)
    if (accesses[i].write && accesses[i].addr == addr) return int(i);
  return -1;
}

int last_write(uint32_t addr) {
  for (size_t i = accesses.size(); i-- > 0;)
    if (accesses[i].write && accesses[i].addr == addr) return int(i);
  return -1;
}

void on_read(std::function<std::optional<uint32_t>(uint32_t)> hook) { read_hook = std::move(hook); }

}  // namespace regfile

uint32_t hw_read(uint32_t addr) {
  uint32_t v = regfile::cell(addr);
  if (addr == 0x400FC010) v |= 1u << 31;  // HIBCTL.WRC: every write completes at once
  if (regfile::read_hook) {
    if (auto hooked = regfile::read_hook(addr)) v = *hooked;
  }
  regfile::note(false, addr, v);
  return v;
}

void hw_write(uint32_t addr, uint32_t value) {
  regfile::cell(addr) = value;
  regfile::note(true, addr, value);
}

// Instruction-level operations, which the chip build takes from core_m4.cpp.
void SysCtlDelay(uint32_t count) { regfile::delay_counts += count; }
void SysCtlSleep(void) {}
void SysCtlReset(void) { std::abort(); }
bool IntMasterEnable(void) {
  bool was = regfile::primask;
  regfile::primask = false;
  return was;
}
bool IntMasterDisable(void) {
  bool was = regfile::primask;
  regfile::primask = true;
  return was;
}
