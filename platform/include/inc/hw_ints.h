// Exception and interrupt numbers (vector table positions) of the
// TM4C123GH6PGE. The vector table has 155 entries: 16 core exceptions and
// interrupts 0 to 138.
#pragma once

#define FAULT_NMI 2
#define FAULT_HARD 3
#define FAULT_MPU 4
#define FAULT_BUS 5
#define FAULT_USAGE 6
#define FAULT_SVCALL 11
#define FAULT_DEBUG 12
#define FAULT_PENDSV 14
#define FAULT_SYSTICK 15

#define INT_GPIOA 16
#define INT_GPIOB 17
#define INT_GPIOC 18
#define INT_GPIOD 19
#define INT_GPIOE 20
#define INT_UART0 21
#define INT_UART1 22
#define INT_SSI0 23
#define INT_I2C0 24
#define INT_ADC0SS0 30
#define INT_ADC0SS1 31
#define INT_ADC0SS2 32
#define INT_ADC0SS3 33
#define INT_WATCHDOG 34
#define INT_GPIOF 46
#define INT_GPIOG 47
#define INT_GPIOH 48
#define INT_UART2 49
#define INT_SSI1 50
#define INT_HIBERNATE 59
#define INT_GPIOJ 70
#define INT_SSI2 73
#define INT_SSI3 74
#define INT_UART3 75
#define INT_UART4 76
#define INT_UART5 77
#define INT_UART6 78
#define INT_UART7 79

#define NUM_INTERRUPTS 155
