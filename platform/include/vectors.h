// Handlers the vector table names. The firmware defines them; the chip's
// start-up code and the simulated NVIC call them.
#pragma once

void NmiSR(void);
void FaultISR(void);
void IntDefaultHandler(void);
void SysTickHandler(void);
void UARTStdioIntHandler(void);
void optode_IntHandler(void);
void ctd_IntHandler(void);
void WatchdogIntHandler(void);
