// The eight UARTs of the simulated chip: baud-rate divisors as the
// hardware quantises them, 16-byte FIFOs with their trigger levels, the
// receive time-out, and bytes shifted out at the configured rate. With the
// FIFOs off each side holds one byte, and its interrupt follows that byte.
#include <cmath>
#include <cstring>

#include "driverlib/uart.h"
#include "inc/hw_ints.h"
#include "inc/hw_memmap.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr int kUarts = 8;
constexpr int kFifo = 16;
constexpr uint32_t kBases[kUarts] = {UART0_BASE, UART1_BASE, UART2_BASE, UART3_BASE,
                                     UART4_BASE, UART5_BASE, UART6_BASE, UART7_BASE};
constexpr uint32_t kIrqs[kUarts] = {INT_UART0, INT_UART1, INT_UART2, INT_UART3,
                                    INT_UART4, INT_UART5, INT_UART6, INT_UART7};

struct Uart {
  int index;
  bool enabled;
  uint32_t clock_source;
  double baud;      // as the divisors make it; 0 until configured
  uint32_t tx_trig;  // interrupt at or below this many bytes
  uint32_t rx_trig;  // interrupt at or above
  int depth;         // kFifo, or 1 with the FIFOs off
  uint32_t im;
  uint32_t ris;
  uint8_t rx[kFifo];
  int rx_head, rx_count;
  uint8_t tx[kFifo];
  int tx_head, tx_count;
  bool shifting;
  uint8_t shift_byte;
  int tx_slot;
  int rt_slot;
  UartPeer peer;
};

Uart uarts[kUarts];

constexpr uint32_t kTrig[5] = {2, 4, 8, 12, 14};  // 1/8 ... 7/8 of 16

uint32_t nominal(const Uart &u) { return (uint32_t)lround(u.baud); }
int tx_trigger(const Uart &u) { return u.depth == 1 ? 0 : (int)u.tx_trig; }
int rx_trigger(const Uart &u) { return u.depth == 1 ? 1 : (int)u.rx_trig; }

void update_irq(Uart &u) { irq_level(kIrqs[u.index], (u.ris & u.im) != 0); }

void start_shift(Uart &u);

void tx_done(void *ctx) {
  Uart &u = *static_cast<Uart *>(ctx);
  u.shifting = false;
  if (u.peer.on_tx) u.peer.on_tx(u.peer.ctx, u.shift_byte, nominal(u));
  start_shift(u);
}

void start_shift(Uart &u) {
  if (u.shifting || u.tx_count == 0 || !u.enabled || u.baud <= 0) return;
  int before = u.tx_count;
  u.shift_byte = u.tx[u.tx_head];
  u.tx_head = (u.tx_head + 1) % kFifo;
  u.tx_count--;
  u.shifting = true;
  if (before > tx_trigger(u) && u.tx_count <= tx_trigger(u)) {
    u.ris |= UART_INT_TX;
    update_irq(u);
  }
  event_at(u.tx_slot, now() + (ns_t)(10.0e9 / u.baud));
}

void rx_timeout(void *ctx) {
  Uart &u = *static_cast<Uart *>(ctx);
  if (u.rx_count > 0) {
    u.ris |= UART_INT_RT;
    update_irq(u);
  }
}

Uart *of(uint32_t base) {
  int i = uart_index(base);
  return i < 0 ? nullptr : &uarts[i];
}

// Lets the last frames leave, for as long as the chip's driver waits for
// its busy flag (which stays set while the FIFO holds bytes, running or not).
void drain(Uart &u) {
  const ns_t deadline = now() + kByteWait;
  while (u.shifting || u.tx_count > 0)
    if (!idle_until(deadline)) return;
}

}  // namespace

void uart_reset() {
  UartPeer peers[kUarts];
  for (int i = 0; i < kUarts; i++) peers[i] = uarts[i].peer;
  memset(uarts, 0, sizeof uarts);
  for (int i = 0; i < kUarts; i++) {
    uarts[i].index = i;
    uarts[i].peer = peers[i];
    uarts[i].tx_trig = 8;
    uarts[i].rx_trig = 8;
    uarts[i].depth = kFifo;
    uarts[i].tx_slot = event_slot(tx_done, &uarts[i], "uart-tx");
    uarts[i].rt_slot = event_slot(rx_timeout, &uarts[i], "uart-rt");
  }
}

int uart_index(uint32_t base) {
  for (int i = 0; i < kUarts; i++)
    if (kBases[i] == base) return i;
  return -1;
}

void uart_attach(int index, UartPeer peer) {
  if (index >= 0 && index < kUarts) uarts[index].peer = peer;
}

uint32_t uart_baud(int index) { return index >= 0 && index < kUarts ? nominal(uarts[index]) : 0; }
bool uart_enabled(int index) { return index >= 0 && index < kUarts && uarts[index].enabled; }

uint8_t line_garble(uint8_t byte, uint32_t from_baud, uint32_t to_baud) {
  if (from_baud == 0 || to_baud == 0) return byte;
  double ratio = (double)from_baud / to_baud;
  if (fabs(ratio - 1.0) <= 0.03) return byte;
  // The receiver samples the frame at the wrong bit times: re-sample the
  // line's bit sequence (start, 8 data, stop) at the receiver's rate.
  uint16_t frame = (uint16_t)(0x200 | ((uint16_t)byte << 1));  // LSB first
  uint8_t out = 0;
  for (int bit = 0; bit < 8; bit++) {
    double t = (1.5 + bit) / ratio;  // in line bit periods
    int idx = (int)t;
    int level = idx >= 10 ? 1 : (frame >> idx) & 1;
    out |= (uint8_t)(level << bit);
  }
  return out;
}

bool uart_line_rx(int index, uint8_t byte, uint32_t line_baud) {
  if (index < 0 || index >= kUarts) return false;
  Uart &u = uarts[index];
  if (!u.enabled || u.baud <= 0) return false;
  byte = line_garble(byte, line_baud, nominal(u));
  if (u.rx_count >= u.depth) {
    u.ris |= UART_INT_OE;
    update_irq(u);
    return false;
  }
  u.rx[(u.rx_head + u.rx_count) % kFifo] = byte;
  u.rx_count++;
  if (u.rx_count >= rx_trigger(u)) u.ris |= UART_INT_RX;
  update_irq(u);
  event_at(u.rt_slot, now() + (ns_t)(32.0e9 / u.baud));
  return true;
}

}  // namespace sim

using namespace sim;

void UARTClockSourceSet(uint32_t base, uint32_t source) {
  op();
  if (Uart *u = of(base)) u->clock_source = source;
}

void UARTConfigSetExpClk(uint32_t base, uint32_t uart_clk, uint32_t baud, uint32_t) {
  op();
  Uart *u = of(base);
  if (!u || baud == 0) return;
  drain(*u);  // the chip stops the UART first, as UARTDisable does
  // The divisor is 1/64-quantised from the clock the caller names; the
  // rate on the line follows the clock that really feeds the UART.
  uint32_t div = (uint32_t)(((uint64_t)uart_clk * 8 / baud + 1) / 2);  // in 1/64
  uint32_t actual = u->clock_source == UART_CLOCK_PIOSC ? 16000000u : sysclk_hz();
  u->baud = div ? actual * 64.0 / (16.0 * div) : 0;
  u->enabled = true;
  start_shift(*u);
}

void UARTFIFOLevelSet(uint32_t base, uint32_t tx_level, uint32_t rx_level) {
  op();
  Uart *u = of(base);
  if (!u) return;
  u->tx_trig = kTrig[(tx_level & 7) < 5 ? (tx_level & 7) : 0];
  u->rx_trig = kTrig[((rx_level >> 3) & 7) < 5 ? ((rx_level >> 3) & 7) : 0];
}

void UARTFIFOEnable(uint32_t base) {
  op();
  if (Uart *u = of(base)) u->depth = kFifo;
}

void UARTFIFODisable(uint32_t base) {
  op();
  if (Uart *u = of(base)) u->depth = 1;
}

void UARTEnable(uint32_t base) {
  op();
  if (Uart *u = of(base)) {
    u->enabled = true;
    u->depth = kFifo;  // enabling turns the FIFOs on, as on the chip
    start_shift(*u);
  }
}

void UARTDisable(uint32_t base) {
  op();
  Uart *u = of(base);
  if (!u) return;
  drain(*u);
  u->enabled = false;
}

void UARTIntEnable(uint32_t base, uint32_t flags) {
  op();
  if (Uart *u = of(base)) {
    u->im |= flags;
    update_irq(*u);
  }
}

void UARTIntDisable(uint32_t base, uint32_t flags) {
  op();
  if (Uart *u = of(base)) {
    u->im &= ~flags;
    update_irq(*u);
  }
}

uint32_t UARTIntStatus(uint32_t base, bool masked) {
  poll();
  Uart *u = of(base);
  if (!u) return 0;
  return masked ? (u->ris & u->im) : u->ris;
}

void UARTIntClear(uint32_t base, uint32_t flags) {
  op();
  if (Uart *u = of(base)) {
    u->ris &= ~flags;
    update_irq(*u);
  }
}

bool UARTCharsAvail(uint32_t base) {
  poll();
  Uart *u = of(base);
  return u && u->rx_count > 0;
}

bool UARTSpaceAvail(uint32_t base) {
  poll();
  Uart *u = of(base);
  return u && u->tx_count < u->depth;
}

int32_t UARTCharGetNonBlocking(uint32_t base) {
  op();
  Uart *u = of(base);
  if (!u || u->rx_count == 0) return -1;
  uint8_t b = u->rx[u->rx_head];
  u->rx_head = (u->rx_head + 1) % kFifo;
  u->rx_count--;
  if (u->rx_count < rx_trigger(*u)) u->ris &= ~UART_INT_RX;
  update_irq(*u);
  return b;
}

int32_t UARTCharGet(uint32_t base) {
  Uart *u = of(base);
  if (!u) return -1;
  const ns_t deadline = now() + kLongWait;
  while (u->rx_count == 0)
    if (!idle_until(deadline)) return -1;
  return UARTCharGetNonBlocking(base);
}

bool UARTCharPutNonBlocking(uint32_t base, unsigned char c) {
  op();
  Uart *u = of(base);
  if (!u || u->tx_count >= u->depth) return false;
  u->tx[(u->tx_head + u->tx_count) % kFifo] = c;
  u->tx_count++;
  start_shift(*u);
  return true;
}

void UARTCharPut(uint32_t base, unsigned char c) {
  Uart *u = of(base);
  if (!u) return;
  // A FIFO that does not drain (the UART is off) drops the byte.
  const ns_t deadline = now() + kByteWait;
  while (u->tx_count >= u->depth)
    if (!idle_until(deadline)) return;
  UARTCharPutNonBlocking(base, c);
}

bool UARTBusy(uint32_t base) {
  poll();
  Uart *u = of(base);
  return u && (u->shifting || u->tx_count > 0);
}
