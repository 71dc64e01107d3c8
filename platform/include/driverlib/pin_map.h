// Pin multiplexing values for GPIOPinConfigure, TM4C123GH6PGE.
// Encoding: bits 16-23 port index (A = 0 ... H = 7, J = 8, K = 9, L = 10,
// M = 11, N = 12, P = 13, Q = 14), bits 8-15 the pin's shift in the port
// control register (4 x pin), bits 0-7 the function number.
#pragma once

#define GPIO_PA0_U0RX     0x00000001u
#define GPIO_PA1_U0TX     0x00000401u
#define GPIO_PA2_SSI0CLK  0x00000802u
#define GPIO_PA3_SSI0FSS  0x00000C02u
#define GPIO_PA4_SSI0RX   0x00001002u
#define GPIO_PA5_SSI0TX   0x00001402u
#define GPIO_PB2_I2C0SCL  0x00010803u
#define GPIO_PB3_I2C0SDA  0x00010C03u
#define GPIO_PC4_U4RX     0x00021001u
#define GPIO_PC5_U4TX     0x00021401u
#define GPIO_PC6_U3RX     0x00021801u
#define GPIO_PC7_U3TX     0x00021C01u
#define GPIO_PF0_SSI1RX   0x00050002u
#define GPIO_PF1_SSI1TX   0x00050402u
#define GPIO_PF2_SSI1CLK  0x00050802u
#define GPIO_PF3_SSI1FSS  0x00050C02u
#define GPIO_PH0_SSI3CLK  0x00070002u
#define GPIO_PH1_SSI3FSS  0x00070402u
#define GPIO_PH2_SSI3RX   0x00070802u
#define GPIO_PH3_SSI3TX   0x00070C02u
