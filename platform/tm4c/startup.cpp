// Reset handler and vector table of the TM4C123GH6PGE.
#include <array>
#include <cstdint>

#include "hw.h"
#include "vectors.h"

int main();

// Linker-script symbols.
extern "C" {
extern uint32_t __stack_top[];
extern uint32_t __data_load[], __data_start[], __data_end[];
extern uint32_t __bss_start[], __bss_end[];
extern void (*__preinit_array_start[])(), (*__preinit_array_end[])();
extern void (*__init_array_start[])(), (*__init_array_end[])();
void ResetISR(void);
}

namespace {

constexpr uint32_t CPAC = 0xE000ED88;
constexpr uint32_t CPAC_CP10_CP11_FULL = 0xFu << 20;
constexpr uint32_t kVectors = 155;

using Handler = void (*)();

struct VectorTable {
  uint32_t *initial_sp;
  std::array<Handler, kVectors - 1> handlers;
};

[[noreturn]] void reset_c() {
  // Before any code that may touch an FP register.
  hw_set(CPAC, CPAC_CP10_CP11_FULL);  // CP10 and CP11: full access
  __asm volatile("dsb\n isb" ::: "memory");

  const uint32_t *src = __data_load;
  for (uint32_t *dst = __data_start; dst < __data_end;) *dst++ = *src++;
  for (uint32_t *dst = __bss_start; dst < __bss_end;) *dst++ = 0;

  for (Handler *f = __preinit_array_start; f < __preinit_array_end; f++) (*f)();
  for (Handler *f = __init_array_start; f < __init_array_end; f++) (*f)();

  main();
  for (;;) __asm volatile("wfi");
}

}  // namespace

// Entered from the reset vector or a debugger: sets the stack itself so a
// jump here without a reset still starts clean.
extern "C" __attribute__((naked, noreturn)) void ResetISR(void) {
  __asm volatile(
      "ldr r0, =__stack_top\n"
      "mov sp, r0\n"
      "b %0\n"
      :
      : "i"(reset_c));
}

namespace {

// Vector numbers the TM4C123GH6PGE leaves reserved (data sheet, interrupt
// table): their slots hold 0.
constexpr bool reserved(uint32_t n) {
  return (n >= 7 && n <= 10) || n == 13 || n == 57 || n == 58 || n == 68 || n == 69 ||
         (n >= 80 && n <= 83) || (n >= 88 && n <= 107) || n == 123 || n == 124 ||
         (n >= 129 && n <= 131) || n == 148 || n == 149;
}

// Slot n - 1 holds vector n: the reset handler, then the firmware's list,
// IntDefaultHandler for every other exception or interrupt that can occur.
constexpr std::array<Handler, kVectors - 1> handlers() {
  std::array<Handler, kVectors - 1> h{};
  for (uint32_t n = 1; n < kVectors; n++) {
    Handler fw = firmware_vector(n);
    h[n - 1] = n == 1 ? ResetISR : fw ? fw : reserved(n) ? nullptr : IntDefaultHandler;
  }
  return h;
}

}  // namespace

__attribute__((section(".isr_vector"), used)) constinit const VectorTable g_vectors = {
    __stack_top, handlers()};

static_assert(sizeof(VectorTable) == kVectors * 4, "155 vectors of one word each");
