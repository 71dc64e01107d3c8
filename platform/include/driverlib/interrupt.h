// NVIC and the processor's interrupt mask.
#pragma once
#include <cstdint>

// Unmasks interrupts at the processor; true when they were masked before. Blocks: no. ISR-safe: yes.
bool IntMasterEnable(void);
// Masks interrupts at the processor; true when they were masked before. Blocks: no. ISR-safe: yes.
bool IntMasterDisable(void);
// Enables one interrupt (or SysTick, or a fault's own handler) in the NVIC. Blocks: no. ISR-safe: yes.
void IntEnable(uint32_t interrupt);
// Disables one interrupt in the NVIC. Blocks: no. ISR-safe: yes.
void IntDisable(uint32_t interrupt);
// True when the interrupt is enabled in the NVIC. Blocks: no. ISR-safe: yes.
bool IntIsEnabled(uint32_t interrupt);
// Sets an interrupt's priority (upper three bits used, 0 highest). Blocks: no. ISR-safe: yes.
void IntPrioritySet(uint32_t interrupt, uint8_t priority);
