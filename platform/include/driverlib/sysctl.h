// System control: clocks, peripheral gating and reset, busy-wait delay.
#pragma once
#include <cstdint>

// Peripheral identifiers: 0xF000_RRBB, RR the offset of the peripheral's
// gating register above 0x600 in the system control block, BB its bit.
#define SYSCTL_PERIPH_WDOG0     0xF0000000u
#define SYSCTL_PERIPH_WTIMER0   0xF0005C00u
#define SYSCTL_PERIPH_TIMER0    0xF0000400u
#define SYSCTL_PERIPH_GPIOA     0xF0000800u
#define SYSCTL_PERIPH_GPIOB     0xF0000801u
#define SYSCTL_PERIPH_GPIOC     0xF0000802u
#define SYSCTL_PERIPH_GPIOD     0xF0000803u
#define SYSCTL_PERIPH_GPIOE     0xF0000804u
#define SYSCTL_PERIPH_GPIOF     0xF0000805u
#define SYSCTL_PERIPH_GPIOG     0xF0000806u
#define SYSCTL_PERIPH_GPIOH     0xF0000807u
#define SYSCTL_PERIPH_GPIOJ     0xF0000808u
#define SYSCTL_PERIPH_GPIOK     0xF0000809u
#define SYSCTL_PERIPH_GPIOL     0xF000080Au
#define SYSCTL_PERIPH_GPIOM     0xF000080Bu
#define SYSCTL_PERIPH_GPION     0xF000080Cu
#define SYSCTL_PERIPH_GPIOP     0xF000080Du
#define SYSCTL_PERIPH_GPIOQ     0xF000080Eu
#define SYSCTL_PERIPH_HIBERNATE 0xF0001400u
#define SYSCTL_PERIPH_UART0     0xF0001800u
#define SYSCTL_PERIPH_UART1     0xF0001801u
#define SYSCTL_PERIPH_UART2     0xF0001802u
#define SYSCTL_PERIPH_UART3     0xF0001803u
#define SYSCTL_PERIPH_UART4     0xF0001804u
#define SYSCTL_PERIPH_UART5     0xF0001805u
#define SYSCTL_PERIPH_UART6     0xF0001806u
#define SYSCTL_PERIPH_UART7     0xF0001807u
#define SYSCTL_PERIPH_SSI0      0xF0001C00u
#define SYSCTL_PERIPH_SSI1      0xF0001C01u
#define SYSCTL_PERIPH_SSI2      0xF0001C02u
#define SYSCTL_PERIPH_SSI3      0xF0001C03u
#define SYSCTL_PERIPH_I2C0      0xF0002000u
#define SYSCTL_PERIPH_I2C1      0xF0002001u
#define SYSCTL_PERIPH_ADC0      0xF0003800u
#define SYSCTL_PERIPH_ADC1      0xF0003801u
#define SYSCTL_PERIPH_EEPROM0   0xF0005800u

// Reset causes (the RESC register's bits): the reset pin, power-on,
// brown-out, watchdog 0, software (SysCtlReset), watchdog 1.
#define SYSCTL_CAUSE_EXT   0x00000001u
#define SYSCTL_CAUSE_POR   0x00000002u
#define SYSCTL_CAUSE_BOR   0x00000004u
#define SYSCTL_CAUSE_WDOG0 0x00000008u
#define SYSCTL_CAUSE_SW    0x00000010u
#define SYSCTL_CAUSE_WDOG1 0x00000020u

// SysCtlClockSet configuration fields.
#define SYSCTL_SYSDIV_1     0x07800000u
#define SYSCTL_SYSDIV_2     0x00C00000u
#define SYSCTL_SYSDIV_3     0x01400000u
#define SYSCTL_SYSDIV_4     0x01C00000u
#define SYSCTL_SYSDIV_5     0x02400000u
#define SYSCTL_SYSDIV_2_5   0xC1000000u
#define SYSCTL_USE_PLL      0x00000000u
#define SYSCTL_USE_OSC      0x00003800u
#define SYSCTL_OSC_MAIN     0x00000000u
#define SYSCTL_OSC_INT      0x00000010u
#define SYSCTL_XTAL_16MHZ   0x00000540u

// Sets the system clock (oscillator, PLL, divider), running from the raw oscillator meanwhile. Blocks: up to 2.1 s. ISR-safe: no.
void SysCtlClockSet(uint32_t config);
// Current system clock in Hz (16 MHz precision oscillator out of reset). Blocks: no. ISR-safe: yes.
uint32_t SysCtlClockGet(void);
// Clocks a peripheral; its registers answer a few cycles later. Blocks: no. ISR-safe: no.
void SysCtlPeripheralEnable(uint32_t periph);
// Stops a peripheral's clock. Blocks: no. ISR-safe: no.
void SysCtlPeripheralDisable(uint32_t periph);
// Holds a peripheral in reset for a moment and releases it. Blocks: up to 2 us. ISR-safe: no.
void SysCtlPeripheralReset(uint32_t periph);
// True once a clocked peripheral is ready for access. Blocks: no. ISR-safe: yes.
bool SysCtlPeripheralReady(uint32_t periph);
// True when the chip has the peripheral. Blocks: no. ISR-safe: yes.
bool SysCtlPeripheralPresent(uint32_t periph);
// Busy loop of three cycles per count; interrupts keep being served. Blocks: up to count x 3 cycles, plus handlers. ISR-safe: yes.
void SysCtlDelay(uint32_t count);
// Waits for an interrupt (the core's sleep mode); every wait loop whose condition a handler changes calls it. Blocks: up to the next interrupt (1 ms while the tick runs). ISR-safe: no.
void SysCtlSleep(void);
// Resets the whole chip. Blocks: up to the reset, does not return. ISR-safe: yes.
[[noreturn]] void SysCtlReset(void);
// The causes of the resets since the causes were last cleared (a power-on
// clears the others). Blocks: no. ISR-safe: yes.
uint32_t SysCtlResetCauseGet(void);
// Clears the given causes. Blocks: no. ISR-safe: yes.
void SysCtlResetCauseClear(uint32_t causes);
