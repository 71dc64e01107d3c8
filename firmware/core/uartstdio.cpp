// Console driver. The receive ring is filled by the UART interrupt, which
// also echoes and edits the line; the transmit ring is drained by it.
// Main-line output waits for room instead of dropping: what it prints is
// data or a prompt that a host is waiting for.
#include "core/uartstdio.h"

#include "core/board.h"

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

// Room main-line output leaves for the echo of keys typed meanwhile, which
// cannot wait: a few milliseconds of typing at the fastest rate.
constexpr uint32_t kEchoReserve = 32;

// Copies what fits into the transmit ring, leaving `reserve` bytes free; a
// line feed goes in only together with its carriage return. Returns the
// bytes of buf taken. The caller is the ring's only producer meanwhile.
uint32_t tx_put(const unsigned char *buf, uint32_t len, uint32_t reserve) {
  uint32_t taken = 0;
  for (; taken < len; taken++) {
    unsigned char c = buf[taken];
    uint32_t need = (c == '\n' ? 2 : 1) + reserve;
    if (g_sUARTTx.free() < need) break;
    if (c == '\n') g_sUARTTx.put('\r');
    g_sUARTTx.put(c);
  }
  return taken;
}

// Echo from the interrupt handler: it cannot wait, so a text that does not
// fit whole is left out rather than cut.
void echo(const char *text, uint32_t len, uint32_t line_feeds) {
  if (g_sUARTTx.free() >= len + line_feeds)
    tx_put(reinterpret_cast<const unsigned char *>(text), len, 0);
}

// A wait on the transmitter that gives up once the ring's read index has
// stood still for kTxStallMs: the line is then not moving at all (UART
// stopped), and waiting longer would only keep the logger awake. Counted
// in busy-wait steps, so it ends even with interrupts masked or the tick
// not running; each step also moves bytes into the FIFO itself.
constexpr uint32_t kTxStallMs = 1500;

class TxWait {
 public:
  // False once the line has not moved for kTxStallMs.
  bool step() {
    UARTPrimeTransmit();
    UARTIntEnable(g_ui32Base, UART_INT_TX);
    SysCtlDelay(kDelayLoopsPerMs);
    uint32_t r = g_sUARTTx.read;
    if (r != last_read_) {
      last_read_ = r;
      still_ms_ = 0;
      return true;
    }
    return ++still_ms_ < kTxStallMs;
  }

 private:
  uint32_t last_read_ = g_sUARTTx.read;
  uint32_t still_ms_ = 0;
};

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
  // Before the driver is configured there is no line to wait for.
  if (g_ui32Base == 0) return (int)tx_put(pcBuf, ui32Len, 0);
  uint32_t taken = 0;
  TxWait wait;
  for (;;) {
    // The receive echo is the ring's other producer: keep the handler out
    // while this side writes.
    IntDisable(g_ui32UARTInt[g_ui32PortNum]);
    taken += tx_put(pcBuf + taken, ui32Len - taken, kEchoReserve);
    IntEnable(g_ui32UARTInt[g_ui32PortNum]);
    if (taken == ui32Len || !wait.step()) break;
  }
  if (!g_sUARTTx.empty()) {
    UARTPrimeTransmit();
    UARTIntEnable(g_ui32Base, UART_INT_TX);
  }
  return (int)taken;
}

int UARTwritePolled(const unsigned char *pcBuf, uint32_t ui32Len) {
  if (g_ui32Base == 0) return 0;
  for (uint32_t i = 0; i < ui32Len; i++) {
    if (pcBuf[i] == '\n') UARTCharPut(g_ui32Base, '\r');
    UARTCharPut(g_ui32Base, pcBuf[i]);
  }
  return (int)ui32Len;
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

int UARTTxBytesFree() { return (int)g_sUARTTx.free(); }

void UARTFlushRx() {
  bool was_masked = IntMasterDisable();
  g_sUARTRx.clear();
  if (!was_masked) IntMasterEnable();
}

void UARTFlushTx(bool bDiscard) {
  if (!bDiscard) {
    wait_consoleTx();
    return;
  }
  bool was_masked = IntMasterDisable();
  g_sUARTTx.clear();
  if (!was_masked) IntMasterEnable();
}

void UARTEchoSet(bool bEnable) { g_bDisableEcho = bEnable ? 0 : 1; }

int UART_isTxEmpty() { return g_sUARTTx.empty() ? 1 : 0; }

void wait_consoleTx() {
  if (g_ui32Base == 0) return;
  TxWait wait;
  while (!g_sUARTTx.empty() && wait.step()) {
  }
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
          echo("\b \b", 3, 0);
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
        echo("\n", 1, 1);
        c = '\r';
      }
      if (g_sUARTRx.put(c)) echo(reinterpret_cast<const char *>(&c), 1, 0);
    }
    UARTPrimeTransmit();
    UARTIntEnable(g_ui32Base, UART_INT_TX);
  }
}
