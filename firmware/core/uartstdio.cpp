// Console driver: the UART0 instance of the ring-buffered port. The receive
// ring is filled by the UART interrupt, which also echoes and edits the
// line; the transmit ring is drained by it. Main-line output waits for room
// instead of dropping: what it prints is data or a prompt that a host is
// waiting for.
#include "core/uartstdio.h"

ConsolePort g_consolePort;

Ring<UART_TX_BUFFER_SIZE> &g_sUARTTx = g_consolePort.tx;
Ring<UART_RX_BUFFER_SIZE> &g_sUARTRx = g_consolePort.rx;
uint8_t (&g_pcUARTTxBuffer)[UART_TX_BUFFER_SIZE] = g_consolePort.tx.buf;
volatile uint32_t &g_ui32UARTTxWriteIndex = g_consolePort.tx.write;
volatile uint32_t &g_ui32UARTTxReadIndex = g_consolePort.tx.read;
uint8_t (&g_pcUARTRxBuffer)[UART_RX_BUFFER_SIZE] = g_consolePort.rx.buf;
volatile uint32_t &g_ui32UARTRxWriteIndex = g_consolePort.rx.write;
volatile uint32_t &g_ui32UARTRxReadIndex = g_consolePort.rx.read;
unsigned char &g_bDisableEcho = g_consolePort.disable_echo;
uint32_t &g_ui32Base = g_consolePort.base;
uint32_t &g_ui32PortNum = g_consolePort.port_num;

void UARTStdioConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock) {
  if (ui32PortNum > 2) return;  // the console is on UART0, 1 or 2
  g_consolePort.config(ui32PortNum, ui32Baud, ui32SrcClock);
}

int UARTwrite(const unsigned char *pcBuf, uint32_t ui32Len) {
  return g_consolePort.write(pcBuf, ui32Len);
}
int UARTwriteRaw(const unsigned char *pcBuf, uint32_t ui32Len) {
  return g_consolePort.write(pcBuf, ui32Len, true);
}
int UARTwritePolled(const unsigned char *pcBuf, uint32_t ui32Len) {
  return g_consolePort.write_polled(pcBuf, ui32Len);
}
int UARTgets(unsigned char *pcBuf, uint32_t ui32Len) { return g_consolePort.gets(pcBuf, ui32Len); }
int UARTgets(unsigned char *pcBuf, uint32_t ui32Len, uint32_t *pui32Whole) {
  return g_consolePort.gets(pcBuf, ui32Len, pui32Whole);
}
unsigned char UARTgetc() { return g_consolePort.getc(); }
int UARTPeek(int ucChar) { return g_consolePort.peek(ucChar); }
int UARTRxBytesAvail() { return g_consolePort.rx_avail(); }
int UARTTxBytesFree() { return g_consolePort.tx_free(); }
void UARTFlushRx() { g_consolePort.flush_rx(); }
void UARTFlushTx(bool bDiscard) { g_consolePort.flush_tx(bDiscard); }
void UARTEchoSet(bool bEnable) { g_consolePort.echo_set(bEnable); }
int UART_isTxEmpty() { return g_consolePort.tx.empty() ? 1 : 0; }
void wait_consoleTx() { g_consolePort.wait_tx_empty(); }
void UARTStdioIntHandler() { g_consolePort.int_handler(); }
