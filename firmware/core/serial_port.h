// One interrupt-driven, ring-buffered UART port: the console and the CTD
// and optode ports are instances, each with its own rings, indices, echo
// flag and UART, on the same rules: ring rules, transmit priming, line-feed
// expansion on output, echo and line editing on input (while echo is on),
// main-line output that waits for room as long as the line moves.
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
#include "core/board.h"

// UART0 to UART5 by port number.
constexpr uint32_t kUartPorts = 6;
inline constexpr uint32_t g_ui32UARTBase[kUartPorts] = {UART0_BASE, UART1_BASE, UART2_BASE,
                                                        UART3_BASE, UART4_BASE, UART5_BASE};
inline constexpr uint32_t g_ui32UARTInt[kUartPorts] = {INT_UART0, INT_UART1, INT_UART2,
                                                       INT_UART3, INT_UART4, INT_UART5};
inline constexpr uint32_t g_ui32UARTPeriph[kUartPorts] = {
    SYSCTL_PERIPH_UART0, SYSCTL_PERIPH_UART1, SYSCTL_PERIPH_UART2,
    SYSCTL_PERIPH_UART3, SYSCTL_PERIPH_UART4, SYSCTL_PERIPH_UART5};

template <uint32_t TxSize, uint32_t RxSize, uint32_t EchoReserve = 0>
class SerialPort {
 public:
  static constexpr uint32_t kTxSize = TxSize;
  static constexpr uint32_t kRxSize = RxSize;
  // A wait on the transmitter gives up once the ring's read index has stood
  // still this long: the line is not moving at all (UART stopped, or never
  // set up), and waiting longer would only keep the logger awake.
  static constexpr uint32_t kTxStallMs = 1500;

  Ring<TxSize> tx;
  Ring<RxSize> rx;
  unsigned char disable_echo = 0;
  uint32_t base = 0;  // 0 until configured
  uint32_t port_num = 0;

  // 8N1 at `baud` from a UART clock of `src_clock` Hz, FIFO triggers at 1/8,
  // both rings emptied, receive and receive-time-out interrupts on. A port
  // whose UART is absent stays unconfigured.
  void config(uint32_t port, uint32_t baud, uint32_t src_clock) {
    if (port >= kUartPorts || !SysCtlPeripheralPresent(g_ui32UARTPeriph[port])) return;
    base = g_ui32UARTBase[port];
    port_num = port;
    SysCtlPeripheralEnable(g_ui32UARTPeriph[port]);
    UARTConfigSetExpClk(base, src_clock, baud,
                        UART_CONFIG_PAR_NONE | UART_CONFIG_STOP_ONE | UART_CONFIG_WLEN_8);
    UARTFIFOLevelSet(base, UART_FIFO_TX1_8, UART_FIFO_RX1_8);
    flush_rx();
    flush_tx(true);
    UARTIntDisable(base, 0xFFFFFFFF);
    UARTIntEnable(base, UART_INT_RX | UART_INT_RT);
    IntEnable(g_ui32UARTInt[port]);
    UARTEnable(base);
  }

  // Main line only. Queues the bytes (each line feed as CR LF unless raw),
  // waiting for room as the line drains; gives up only when the line has
  // not moved for kTxStallMs. Returns the bytes of buf taken (inserted CRs
  // not counted).
  int write(const unsigned char *buf, uint32_t len, bool raw = false) {
    if (base == 0) return (int)put_text(buf, len, 0, raw);  // no line to wait for
    uint32_t taken = 0;
    TxWait wait(*this);
    for (;;) {
      // The receive echo is the ring's other producer: keep the handler out
      // while this side writes, and leave room for the echo meanwhile.
      IntDisable(g_ui32UARTInt[port_num]);
      taken += put_text(buf + taken, len - taken, EchoReserve, raw);
      IntEnable(g_ui32UARTInt[port_num]);
      if (taken == len || !wait.step()) break;
    }
    start_tx();
    return (int)taken;
  }

  // Straight into the UART's FIFO by polling, past the ring: for a fault
  // handler, where no interrupt runs.
  int write_polled(const unsigned char *buf, uint32_t len) {
    if (base == 0) return 0;
    for (uint32_t i = 0; i < len; i++) {
      if (buf[i] == '\n') UARTCharPut(base, '\r');
      UARTCharPut(base, buf[i]);
    }
    return (int)len;
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
  // stored); at most len - 1 bytes kept, always NUL-terminated. `whole`,
  // when given, receives the line's full length, kept or not, so that a
  // caller can refuse a line that did not fit rather than act on its head.
  int gets(unsigned char *buf, uint32_t len, uint32_t *whole = nullptr) {
    uint32_t stored = 0, seen = 0;
    for (;; seen++) {
      unsigned char c = getc();
      if (c == '\r' || c == '\n' || c == 0x1B) break;
      if (stored + 1 < len) buf[stored++] = c;
    }
    if (len) buf[stored] = 0;
    if (whole) *whole = seen;
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
  // What the transmit ring can still take (one byte less than its size).
  int tx_free() const { return (int)tx.free(); }

  void flush_rx() {
    bool was_masked = IntMasterDisable();
    rx.clear();
    if (!was_masked) IntMasterEnable();
  }

  // discard: empty the ring now; otherwise wait (bounded as write) until it
  // has drained.
  void flush_tx(bool discard) {
    if (!discard) {
      wait_tx_empty();
      return;
    }
    bool was_masked = IntMasterDisable();
    tx.clear();
    if (!was_masked) IntMasterEnable();
  }

  // Until the ring is empty (the last bytes may still be in the FIFO).
  void wait_tx_empty() {
    if (base == 0) return;
    TxWait wait(*this);
    while (!tx.empty() && wait.step()) {
    }
  }

  void echo_set(bool enable) { disable_echo = enable ? 0 : 1; }

  // The port's UART interrupt.
  void int_handler() {
    if (base == 0) return;
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

  // Copies what fits into the transmit ring, leaving `reserve` bytes free;
  // a line feed goes in only together with its carriage return (unless
  // raw). The caller is the ring's only producer meanwhile.
  uint32_t put_text(const unsigned char *buf, uint32_t len, uint32_t reserve, bool raw = false) {
    uint32_t taken = 0;
    for (; taken < len; taken++) {
      unsigned char c = buf[taken];
      bool crlf = c == '\n' && !raw;
      uint32_t need = (crlf ? 2 : 1) + reserve;
      if (tx.free() < need) break;
      if (crlf) tx.put('\r');
      tx.put(c);
    }
    return taken;
  }

  // Counted in busy-wait steps, so it ends even with interrupts masked or
  // the tick not running; each step also moves bytes into the FIFO itself.
  class TxWait {
   public:
    explicit TxWait(SerialPort &p) : p_(p), last_read_(p.tx.read) {}
    // False once the line has not moved for kTxStallMs.
    bool step() {
      p_.start_tx();
      SysCtlDelay(kDelayLoopsPerMs);
      uint32_t r = p_.tx.read;
      if (r != last_read_) {
        last_read_ = r;
        still_ms_ = 0;
        return true;
      }
      return ++still_ms_ < kTxStallMs;
    }

   private:
    SerialPort &p_;
    uint32_t last_read_;
    uint32_t still_ms_ = 0;
  };

  void start_tx() {
    if (tx.empty() || base == 0) return;
    prime();
    UARTIntEnable(base, UART_INT_TX);
  }

  void prime() {
    if (tx.empty()) return;
    IntDisable(g_ui32UARTInt[port_num]);
    while (!tx.empty() && UARTSpaceAvail(base)) UARTCharPutNonBlocking(base, tx.take());
    IntEnable(g_ui32UARTInt[port_num]);
  }

  // Echo from the interrupt handler cannot wait: a text that does not fit
  // whole is left out rather than cut.
  void echo(const char *text, uint32_t len, uint32_t line_feeds) {
    if (tx.free() >= len + line_feeds)
      put_text(reinterpret_cast<const unsigned char *>(text), len, 0);
  }

  void receive(unsigned char c) {
    if (disable_echo) {
      rx.put(c);  // dropped when full
      return;
    }
    if (c == '\b') {
      // A line end already taken stays: the line it ended is complete.
      uint32_t newest = (rx.write - 1) & Ring<RxSize>::kMask;
      if (!rx.empty() && rx.buf[newest] != '\r') {
        echo("\b \b", 3, 0);
        rx.write = newest;
      }
      return;
    }
    if (c == '\n' && last_was_cr_) {
      last_was_cr_ = false;
      return;
    }
    bool line_end = c == '\r' || c == '\n' || c == 0x1B;
    if (line_end) {
      if (rx.full()) return;  // lines already complete wait in the ring
      if (c == '\r') last_was_cr_ = true;
      echo("\n", 1, 1);  // the terminal gets CR LF, then the echo of the stored CR
      c = '\r';
    } else if (rx.free() < 2) {
      // The last place is kept for a line end, so that Enter always ends
      // the line, however much arrived before it (noise, a paste, a
      // terminal at the wrong speed); the reader then refuses it as too long.
      return;
    }
    if (rx.put(c)) echo(reinterpret_cast<const char *>(&c), 1, 0);
  }
};
