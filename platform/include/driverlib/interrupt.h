// NVIC and the processor's interrupt mask.
#pragma once
#include <cstdint>

// Both return true when interrupts were already masked before the call.
bool IntMasterEnable(void);
bool IntMasterDisable(void);
void IntEnable(uint32_t interrupt);
void IntDisable(uint32_t interrupt);
bool IntIsEnabled(uint32_t interrupt);
void IntPrioritySet(uint32_t interrupt, uint8_t priority);
