// Floating-point unit: coprocessor access and exception context stacking.
#include "driverlib/fpu.h"

#include "hw.h"

namespace {
constexpr uint32_t CPAC = 0xE000ED88;
constexpr uint32_t FPCCR = 0xE000EF34;
constexpr uint32_t CPAC_CP10_CP11_FULL = 0xFu << 20;
constexpr uint32_t FPCCR_ASPEN = 1u << 31;
constexpr uint32_t FPCCR_LSPEN = 1u << 30;
}  // namespace

void FPUEnable(void) {
  hw_set(CPAC, CPAC_CP10_CP11_FULL);  // CP10 and CP11: full access
}

void FPUDisable(void) {
  hw_clear(CPAC, CPAC_CP10_CP11_FULL);  // CP10 and CP11: access denied
}

void FPULazyStackingEnable(void) {
  hw_set(FPCCR, FPCCR_ASPEN | FPCCR_LSPEN);  // reserve FP frame, save it only on use
}

void FPUStackingEnable(void) {
  hw_field(FPCCR, FPCCR_ASPEN | FPCCR_LSPEN, FPCCR_ASPEN);  // always save the FP frame
}
