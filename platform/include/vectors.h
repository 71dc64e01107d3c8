// The firmware's interrupt handlers and the one list that places them:
// the chip's vector table (start-up code) and the simulated NVIC are both
// built from kFirmwareVectors, so the two cannot disagree.
#pragma once
#include <cstdint>

#include "inc/hw_ints.h"

void NmiSR(void);
void FaultISR(void);
void IntDefaultHandler(void);
void SysTickHandler(void);
void UARTStdioIntHandler(void);
void optode_IntHandler(void);
void ctd_IntHandler(void);
void WatchdogIntHandler(void);

struct FirmwareVector {
  uint32_t number;  // exception number: 16 + the interrupt's IRQ
  void (*handler)(void);
};

// Every other exception or interrupt that can occur goes to
// IntDefaultHandler; reserved slots stay empty.
inline constexpr FirmwareVector kFirmwareVectors[] = {
    {FAULT_NMI, NmiSR},
    {FAULT_HARD, FaultISR},
    {FAULT_SYSTICK, SysTickHandler},
    {INT_UART0, UARTStdioIntHandler},  // the console
    {INT_UART3, optode_IntHandler},
    {INT_UART4, ctd_IntHandler},
    {INT_WATCHDOG, WatchdogIntHandler},  // watchdog timers 0 and 1
};

// The handler the list names for `number`, or nullptr.
constexpr void (*firmware_vector(uint32_t number))(void) {
  for (const FirmwareVector &v : kFirmwareVectors)
    if (v.number == number) return v.handler;
  return nullptr;
}
