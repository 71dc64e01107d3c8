// SysTick, the core's 24-bit down-counter.
#pragma once
#include <cstdint>

// Sets the reload period in cycles (1 to 2^24). Blocks: no. ISR-safe: yes.
void SysTickPeriodSet(uint32_t period);
// The reload period in cycles. Blocks: no. ISR-safe: yes.
uint32_t SysTickPeriodGet(void);
// The counter's current value. Blocks: no. ISR-safe: yes.
uint32_t SysTickValueGet(void);
// Starts the counter from the processor clock. Blocks: no. ISR-safe: yes.
void SysTickEnable(void);
// Stops the counter. Blocks: no. ISR-safe: yes.
void SysTickDisable(void);
// The SysTick exception on at each wrap. Blocks: no. ISR-safe: yes.
void SysTickIntEnable(void);
// The SysTick exception off. Blocks: no. ISR-safe: yes.
void SysTickIntDisable(void);
