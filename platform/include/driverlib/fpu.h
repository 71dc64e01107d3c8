// Floating-point unit access and context stacking.
#pragma once

// Grants the processor access to the floating-point unit. Blocks: no. ISR-safe: no.
void FPUEnable(void);
// Withdraws access to the floating-point unit. Blocks: no. ISR-safe: no.
void FPUDisable(void);
// Interrupts stack the FP context only when a handler uses the FPU. Blocks: no. ISR-safe: no.
void FPULazyStackingEnable(void);
// Interrupts always stack the FP context. Blocks: no. ISR-safe: no.
void FPUStackingEnable(void);
