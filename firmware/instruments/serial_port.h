// One interrupt-driven, ring-buffered UART port: the CTD and optode ports
// are instances, each with its own rings, indices, echo flag and UART, and
// the console's rules (ring rules, transmit priming, line-feed expansion on
// output, echo and line editing on input).
//
// Concurrency: the port's interrupt handler is the only writer of the
// receive write index and the transmit read index (priming also advances
// the latter, with the UART's interrupt off); main-line code writes the
// other two. flush_rx/flush_tx(true) mask interrupts while they reset both.
#pragma once
#include <cstdint>

#include "core/ring.h"
#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "driverlib/uart.h"
#include "inc/hw_ints.h"
#include "inc/hw_memmap.h"
#include "measure/bounded_wait.h"

// UART0 to UART5 by port number.
struct UartTables {
  static constexpr uint32_t kPorts = 6;
  static constexpr uint32_t base[kPorts] = {UART0_BASE, UART1_BASE, UART2_BASE,
                                            UART3_BASE, UART4_BASE, UART5_BASE};
  static constexpr uint32_t interrupt[kPorts] = {INT_UART0, INT_UART1, INT_UART2,
                                                 INT_UART3, INT_UART4, INT_UART5};
  static constexpr uint32_t periph[kPorts] = {SYSCTL_PERIPH_UART0, SYSCTL_PERIPH_UART1,
                                              SYSCTL_PERIPH_UART2, SYSCTL_PERIPH_UART3,
                                              SYSCTL_PERIPH_UART4, SYSCTL_PERIPH_UART5};
};

template <uint32_t TxSize, uint32_t RxSize>
class SerialPort {
 public:
  static constexpr uint32_t kTxSize = TxSize;
  static constexpr uint32_t kRxSize = RxSize;

  Ring<TxSize> tx;
  Ring<RxSize> rx;
  unsigned char disable_echo = 0;
  uint32_t base = 0;
  uint32_t port_num = 0;
  bool configured = false;

  // 8N1 at `baud` from a UART clock of `src_clock` Hz, FIFO triggers at 1/8,
  // both rings emptied, receive and receive-time-out interrupts on. A port
  // whose UART is absent stays unconfigured.
  void config(uint32_t port, uint32_t baud, uint32_t src_clock) {
    if (port >= UartTables::kPorts || !SysCtlPeripheralPresent(UartTables::periph[port])) return;
    base = UartTables::base[port];
    port_num = port;
    configured = true;
    SysCtlPeripheralEnable(UartTables::periph[port]);
    UARTConfigSetExpClk(base, src_clock, baud,
                        UART_CONFIG_PAR_NONE | UART_CONFIG_STOP_ONE | UART_CONFIG_WLEN_8);
    UARTFIFOLevelSet(base, UART_FIFO_TX1_8, UART_FIFO_RX1_8);
    flush_rx();
    flush_tx(true);
    UARTIntDisable(base, 0xFFFFFFFF);
    UARTIntEnable(base, UART_INT_RX | UART_INT_RT);
    IntEnable(UartTables::interrupt[port]);
    UARTEnable(base);
  }

  // Queues len bytes, a carriage return before each line feed; stops at the
  // first byte that does not fit once the ring has had room_ms to drain, and
  // returns the bytes of buf taken (inserted carriage returns not counted).
  // Main line only.
  int write(const unsigned char *buf, uint32_t len, uint32_t room_ms) {
    uint32_t taken = 0;
    for (; taken < len; taken++) {
      uint32_t need = buf[taken] == '\n' ? 2 : 1;
      if (tx.free() < need && !wait_for_room(need, room_ms)) break;
      if (need == 2) tx.put('\r');
      tx.put(buf[taken]);
    }
    start_tx();
    return (int)taken;
  }

  // One byte as it is: 1 when queued, 0 when the ring is full (dropped).
  int putc(int ch) {
    if (!tx.put((uint8_t)ch)) return 0;
    start_tx();
    return 1;
  }

  // Waits for a byte and removes it.
  unsigned char getc() {
    while (rx.empty()) SysCtlSleep();
    return rx.take();
  }

  // A line up to carriage return, line feed or escape (consumed, not
  // stored); at most len - 1 bytes kept, always NUL-terminated.
  int gets(unsigned char *buf, uint32_t len) {
    uint32_t stored = 0;
    for (;;) {
      unsigned char c = getc();
      if (c == '\r' || c == '\n' || c == 0x1B) break;
      if (stored + 1 < len) buf[stored++] = c;
    }
    if (len) buf[stored] = 0;
    return (int)stored;
  }

  // Position of the first byte equal to ch in the receive ring, or -1.
  int peek(int ch) const {
    uint32_t n = rx.count();
    for (uint32_t i = 0; i < n; i++)
      if (rx.peek_at(i) == (uint8_t)ch) return (int)i;
    return -1;
  }

  int rx_avail() const { return (int)rx.count(); }
  int tx_free() const { return (int)tx.free(); }

  void flush_rx() {
    bool was_masked = IntMasterDisable();
    rx.clear();
    if (!was_masked) IntMasterEnable();
  }

  // discard: empty the ring now; otherwise wait (bounded) until it drained.
  void flush_tx(bool discard) {
    if (!discard) {
      wait_until([this] { return tx.empty(); }, drain_ms(kTxSize));
      return;
    }
    bool was_masked = IntMasterDisable();
    tx.clear();
    if (!was_masked) IntMasterEnable();
  }

  void echo_set(bool enable) { disable_echo = enable ? 0 : 1; }

  // The port's UART interrupt.
  void int_handler() {
    if (!configured) return;
    uint32_t status = UARTIntStatus(base, true);
    UARTIntClear(base, status);
    if (status & UART_INT_TX) {
      prime();
      if (tx.empty()) UARTIntDisable(base, UART_INT_TX);
    }
    if (status & (UART_INT_RX | UART_INT_RT)) {
      while (UARTCharsAvail(base)) {
        int32_t got = UARTCharGetNonBlocking(base);
        if (got < 0) break;
        receive((unsigned char)got);
      }
      prime();
      UARTIntEnable(base, UART_INT_TX);
    }
  }

 private:
  bool last_was_cr_ = false;

  // Milliseconds the UART needs to send n bytes, with a margin; 9600 baud
  // is the slowest rate any port runs at.
  static constexpr uint32_t drain_ms(uint32_t n) { return n * 10 * 1000 / 9600 + 20; }

  bool wait_for_room(uint32_t need, uint32_t room_ms) {
    if (room_ms == 0) return false;
    return wait_until([this, need] { return tx.free() >= need; }, room_ms);
  }

  void start_tx() {
    if (tx.empty() || !configured) return;
    prime();
    UARTIntEnable(base, UART_INT_TX);
  }

  void prime() {
    if (tx.empty() || !configured) return;
    IntDisable(UartTables::interrupt[port_num]);
    while (!tx.empty() && UARTSpaceAvail(base)) UARTCharPutNonBlocking(base, tx.take());
    IntEnable(UartTables::interrupt[port_num]);
  }

  // Echo from interrupt context never waits for room.
  void echo(const char *s, uint32_t n) {
    write(reinterpret_cast<const unsigned char *>(s), n, 0);
  }

  void receive(unsigned char c) {
    if (disable_echo) {
      rx.put(c);  // dropped when full
      return;
    }
    if (c == '\b') {
      if (!rx.empty()) {
        echo("\b \b", 3);
        rx.write = (rx.write - 1) & Ring<RxSize>::kMask;
      }
      return;
    }
    if (c == '\n' && last_was_cr_) {
      last_was_cr_ = false;
      return;
    }
    if (c == '\r' || c == '\n' || c == 0x1B) {
      if (c == '\r') last_was_cr_ = true;
      echo("\n", 1);  // the terminal gets CR LF, then the echo of the stored CR
      c = '\r';
    }
    if (rx.put(c)) echo(reinterpret_cast<const char *>(&c), 1);
  }
};
