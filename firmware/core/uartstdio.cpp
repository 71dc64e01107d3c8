// Console driver. The receive ring is filled by the UART interrupt, which
// also echoes and edits the line; the transmit ring is drained by it.
#include "core/uartstdio.h"

#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "driverlib/uart.h"
#include "inc/hw_ints.h"
#include "inc/hw_memmap.h"

Ring<UART_TX_BUFFER_SIZE> g_sUARTTx;
Ring<UART_RX_BUFFER_SIZE> g_sUARTRx;
uint8_t (&g_pcUARTTxBuffer)[UART_TX_BUFFER_SIZE] = g_sUARTTx.buf;
volatile uint32_t &g_ui32UARTTxWriteIndex = g_sUARTTx.write;
volatile uint32_t &g_ui32UARTTxReadIndex = g_sUARTTx.read;
uint8_t (&g_pcUARTRxBuffer)[UART_RX_BUFFER_SIZE] = g_sUARTRx.buf;
volatile uint32_t &g_ui32UARTRxWriteIndex = g_sUARTRx.write;
volatile uint32_t &g_ui32UARTRxReadIndex = g_sUARTRx.read;

unsigned char g_bDisableEcho;
uint32_t g_ui32Base;
uint32_t g_ui32PortNum;

namespace {

const uint32_t g_ui32UARTBase[3] = {UART0_BASE, UART1_BASE, UART2_BASE};
const uint32_t g_ui32UARTPeriph[3] = {SYSCTL_PERIPH_UART0, SYSCTL_PERIPH_UART1,
                                      SYSCTL_PERIPH_UART2};
const uint32_t g_ui32UARTInt[3] = {INT_UART0, INT_UART1, INT_UART2};

void UARTPrimeTransmit() {
  if (g_sUARTTx.empty()) return;
  IntDisable(g_ui32UARTInt[g_ui32PortNum]);
  while (!g_sUARTTx.empty() && UARTSpaceAvail(g_ui32Base))
    UARTCharPutNonBlocking(g_ui32Base, g_sUARTTx.take());
  IntEnable(g_ui32UARTInt[g_ui32PortNum]);
}

}  // namespace

void UARTStdioConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock) {
  if (ui32PortNum > 2 || !SysCtlPeripheralPresent(g_ui32UARTPeriph[ui32PortNum])) return;
  g_ui32Base = g_ui32UARTBase[ui32PortNum];
  g_ui32PortNum = ui32PortNum;
  SysCtlPeripheralEnable(g_ui32UARTPeriph[ui32PortNum]);
  UARTConfigSetExpClk(g_ui32Base, ui32SrcClock, ui32Baud,
                      UART_CONFIG_PAR_NONE | UART_CONFIG_STOP_ONE | UART_CONFIG_WLEN_8);
  UARTFIFOLevelSet(g_ui32Base, UART_FIFO_TX1_8, UART_FIFO_RX1_8);
  UARTFlushRx();
  UARTFlushTx(true);
  UARTIntDisable(g_ui32Base, 0xFFFFFFFF);
  UARTIntEnable(g_ui32Base, UART_INT_RX | UART_INT_RT);
  IntEnable(g_ui32UARTInt[ui32PortNum]);
  UARTEnable(g_ui32Base);
}

int UARTwrite(const unsigned char *pcBuf, uint32_t ui32Len) {
  uint32_t taken = 0;
  for (; taken < ui32Len; taken++) {
    if (pcBuf[taken] == '\n') {
      if (g_sUARTTx.full()) break;
      g_sUARTTx.put('\r');
    }
    if (!g_sUARTTx.put(pcBuf[taken])) break;
  }
  if (!g_sUARTTx.empty()) {
    UARTPrimeTransmit();
    UARTIntEnable(g_ui32Base, UART_INT_TX);
  }
  return (int)taken;
}

int UARTgets(unsigned char *pcBuf, uint32_t ui32Len) {
  uint32_t stored = 0;
  for (;;) {
    while (g_sUARTRx.empty()) SysCtlSleep();
    unsigned char c = g_sUARTRx.take();
    if (c == '\r' || c == '\n' || c == 0x1B) break;
    if (stored + 1 < ui32Len) pcBuf[stored++] = c;
  }
  if (ui32Len) pcBuf[stored] = 0;
  return (int)stored;
}

unsigned char UARTgetc() {
  while (g_sUARTRx.empty()) SysCtlSleep();
  return g_sUARTRx.take();
}

int UARTPeek(int ucChar) {
  uint32_t n = g_sUARTRx.count();
  for (uint32_t i = 0; i < n; i++)
    if (g_sUARTRx.peek_at(i) == (uint8_t)ucChar) return (int)i;
  return -1;
}

int UARTRxBytesAvail() { return (int)g_sUARTRx.count(); }

int UARTTxBytesFree() { return (int)(UART_TX_BUFFER_SIZE - g_sUARTTx.count()); }

void UARTFlushRx() {
  bool was_masked = IntMasterDisable();
  g_sUARTRx.clear();
  if (!was_masked) IntMasterEnable();
}

void UARTFlushTx(bool bDiscard) {
  if (!bDiscard) {
    while (!g_sUARTTx.empty()) SysCtlSleep();
    return;
  }
  bool was_masked = IntMasterDisable();
  g_sUARTTx.clear();
  if (!was_masked) IntMasterEnable();
}

void UARTEchoSet(bool bEnable) { g_bDisableEcho = bEnable ? 0 : 1; }

int UART_isTxEmpty() { return g_sUARTTx.empty() ? 1 : 0; }

void wait_consoleTx() {
  while (!UART_isTxEmpty()) SysCtlSleep();
}

void UARTStdioIntHandler() {
  static bool bLastWasCR = false;
  uint32_t status = UARTIntStatus(g_ui32Base, true);
  UARTIntClear(g_ui32Base, status);

  if (status & UART_INT_TX) {
    UARTPrimeTransmit();
    if (g_sUARTTx.empty()) UARTIntDisable(g_ui32Base, UART_INT_TX);
  }

  if (status & (UART_INT_RX | UART_INT_RT)) {
    while (UARTCharsAvail(g_ui32Base)) {
      int32_t got = UARTCharGetNonBlocking(g_ui32Base);
      if (got < 0) break;
      unsigned char c = (unsigned char)got;
      if (g_bDisableEcho) {
        g_sUARTRx.put(c);
        continue;
      }
      if (c == '\b') {
        if (!g_sUARTRx.empty()) {
          UARTwrite(reinterpret_cast<const unsigned char *>("\b \b"), 3);
          g_sUARTRx.write = (g_sUARTRx.write - 1) & Ring<UART_RX_BUFFER_SIZE>::kMask;
        }
        continue;
      }
      if (c == '\n' && bLastWasCR) {
        bLastWasCR = false;
        continue;
      }
      if (c == '\r' || c == '\n' || c == 0x1B) {
        if (c == '\r') bLastWasCR = true;
        // The terminal gets CR LF, then the echo of the stored CR.
        UARTwrite(reinterpret_cast<const unsigned char *>("\n"), 1);
        c = '\r';
      }
      if (g_sUARTRx.put(c)) UARTwrite(&c, 1);
    }
    UARTPrimeTransmit();
    UARTIntEnable(g_ui32Base, UART_INT_TX);
  }
}
