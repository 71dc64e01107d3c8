// The interrupt-driven console on UART0: buffered output, echo and simple
// line editing on input.
#pragma once
#include <cstdint>

#include "core/serial_port.h"

constexpr uint32_t UART_TX_BUFFER_SIZE = 2048;
constexpr uint32_t UART_RX_BUFFER_SIZE = 512;
// Room main-line output leaves for the echo of keys typed meanwhile, which
// cannot wait: a few milliseconds of typing at the fastest rate.
constexpr uint32_t UART_ECHO_RESERVE = 32;

using ConsolePort = SerialPort<UART_TX_BUFFER_SIZE, UART_RX_BUFFER_SIZE, UART_ECHO_RESERVE>;
extern ConsolePort g_consolePort;

extern Ring<UART_TX_BUFFER_SIZE> &g_sUARTTx;
extern Ring<UART_RX_BUFFER_SIZE> &g_sUARTRx;
// The rings under the names the console driver has always used.
extern uint8_t (&g_pcUARTTxBuffer)[UART_TX_BUFFER_SIZE];
extern volatile uint32_t &g_ui32UARTTxWriteIndex;
extern volatile uint32_t &g_ui32UARTTxReadIndex;
extern uint8_t (&g_pcUARTRxBuffer)[UART_RX_BUFFER_SIZE];
extern volatile uint32_t &g_ui32UARTRxWriteIndex;
extern volatile uint32_t &g_ui32UARTRxReadIndex;
extern unsigned char &g_bDisableEcho;
extern uint32_t &g_ui32Base;
extern uint32_t &g_ui32PortNum;

void UARTStdioConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
// Main-line code only. Queues the bytes (each line feed as CR LF), waiting
// for room as the line drains; gives up only when the line has not moved
// for a second and a half. Returns the bytes of pcBuf taken.
int UARTwrite(const unsigned char *pcBuf, uint32_t ui32Len);
// Straight into the UART's FIFO by polling, past the ring: for the fault
// handler, where no interrupt runs.
int UARTwritePolled(const unsigned char *pcBuf, uint32_t ui32Len);
// Main-line code only. As UARTwrite, but the bytes go as they are (no
// carriage return before a line feed): for binary protocols on the line.
// Returns the bytes taken.
int UARTwriteRaw(const unsigned char *pcBuf, uint32_t ui32Len);
int UARTgets(unsigned char *pcBuf, uint32_t ui32Len);
// The same; *pui32Whole receives the line's full length, kept or not.
int UARTgets(unsigned char *pcBuf, uint32_t ui32Len, uint32_t *pui32Whole);
unsigned char UARTgetc();
int UARTPeek(int ucChar);
int UARTRxBytesAvail();
// What the transmit ring can still take (it holds one byte less than its size).
int UARTTxBytesFree();
void UARTFlushRx();
// bDiscard false: waits (bounded as UARTwrite) until the ring is empty.
void UARTFlushTx(bool bDiscard);
void UARTEchoSet(bool bEnable);
int UART_isTxEmpty();
void wait_consoleTx();
void UARTStdioIntHandler();

inline int UARTwrite(const char *s, uint32_t len) {
  return UARTwrite(reinterpret_cast<const unsigned char *>(s), len);
}
