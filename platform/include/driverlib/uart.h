// UART.
#pragma once
#include <cstdint>

#define UART_CONFIG_WLEN_8   0x00000060u
#define UART_CONFIG_WLEN_7   0x00000040u
#define UART_CONFIG_STOP_ONE 0x00000000u
#define UART_CONFIG_STOP_TWO 0x00000008u
#define UART_CONFIG_PAR_NONE 0x00000000u

#define UART_FIFO_TX1_8 0x00000000u
#define UART_FIFO_TX2_8 0x00000001u
#define UART_FIFO_TX4_8 0x00000002u
#define UART_FIFO_TX6_8 0x00000003u
#define UART_FIFO_TX7_8 0x00000004u
#define UART_FIFO_RX1_8 0x00000000u
#define UART_FIFO_RX2_8 0x00000008u
#define UART_FIFO_RX4_8 0x00000010u
#define UART_FIFO_RX6_8 0x00000018u
#define UART_FIFO_RX7_8 0x00000020u

#define UART_INT_9BIT 0x1000u
#define UART_INT_OE   0x0400u
#define UART_INT_BE   0x0200u
#define UART_INT_PE   0x0100u
#define UART_INT_FE   0x0080u
#define UART_INT_RT   0x0040u
#define UART_INT_TX   0x0020u
#define UART_INT_RX   0x0010u
#define UART_INT_DSR  0x0008u
#define UART_INT_DCD  0x0004u
#define UART_INT_CTS  0x0002u
#define UART_INT_RI   0x0001u

#define UART_CLOCK_SYSTEM 0x00000000u
#define UART_CLOCK_PIOSC  0x00000005u

// Selects the clock feeding the UART (system clock or the 16 MHz PIOSC). Blocks: no. ISR-safe: yes.
void UARTClockSourceSet(uint32_t base, uint32_t source);
// Sets the baud rate against the clock feeding the UART, and the frame format; the UART is stopped meanwhile. Blocks: up to 0.1 s (the frame being sent). ISR-safe: no.
void UARTConfigSetExpClk(uint32_t base, uint32_t uart_clk, uint32_t baud, uint32_t config);
// Sets the transmit and receive FIFO interrupt trigger levels. Blocks: no. ISR-safe: yes.
void UARTFIFOLevelSet(uint32_t base, uint32_t tx_level, uint32_t rx_level);
// Switches the 16-byte FIFOs on. Blocks: no. ISR-safe: yes.
void UARTFIFOEnable(uint32_t base);
// Switches the FIFOs off (one-byte holding registers); queued bytes are lost. Blocks: no. ISR-safe: yes.
void UARTFIFODisable(uint32_t base);
// Switches the UART, its transmitter, receiver and FIFOs on. Blocks: no. ISR-safe: yes.
void UARTEnable(uint32_t base);
// Lets the transmitter finish what it holds, then switches the UART off. Blocks: up to 0.1 s. ISR-safe: yes.
void UARTDisable(uint32_t base);
// Unmasks the given UART_INT_ sources. Blocks: no. ISR-safe: yes.
void UARTIntEnable(uint32_t base, uint32_t flags);
// Masks the given UART_INT_ sources. Blocks: no. ISR-safe: yes.
void UARTIntDisable(uint32_t base, uint32_t flags);
// Raw (masked = false) or masked interrupt status. Blocks: no. ISR-safe: yes.
uint32_t UARTIntStatus(uint32_t base, bool masked);
// Clears the given interrupt sources. Blocks: no. ISR-safe: yes.
void UARTIntClear(uint32_t base, uint32_t flags);
// True when the receive FIFO holds a byte. Blocks: no. ISR-safe: yes.
bool UARTCharsAvail(uint32_t base);
// True when the transmit FIFO has room for a byte. Blocks: no. ISR-safe: yes.
bool UARTSpaceAvail(uint32_t base);
// Next received byte, or -1 when the receive FIFO is empty. Blocks: no. ISR-safe: yes.
int32_t UARTCharGetNonBlocking(uint32_t base);
// Next received byte, waiting for one; -1 when none came (a silent or stopped line). Blocks: up to 2 s. ISR-safe: yes.
int32_t UARTCharGet(uint32_t base);
// Puts one byte into the transmit FIFO; false when it is full. Blocks: no. ISR-safe: yes.
bool UARTCharPutNonBlocking(uint32_t base, unsigned char c);
// Puts one byte into the transmit FIFO, waiting for room; dropped when the FIFO does not drain (UART off). Blocks: up to 0.1 s. ISR-safe: yes.
void UARTCharPut(uint32_t base, unsigned char c);
// True while the transmitter still holds or shifts bytes. Blocks: no. ISR-safe: yes.
bool UARTBusy(uint32_t base);
