// SysTick, the core's 24-bit down-counter.
#pragma once
#include <cstdint>

void SysTickPeriodSet(uint32_t period);
uint32_t SysTickPeriodGet(void);
uint32_t SysTickValueGet(void);
void SysTickEnable(void);
void SysTickDisable(void);
void SysTickIntEnable(void);
void SysTickIntDisable(void);
