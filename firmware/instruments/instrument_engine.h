// Steps the CTD and optode engines share: the bounded receive wait, the
// Aanderaa-style power-up handshake ("%", then "!" after our CR LF) and the
// reply read up to the "#" prompt, and a small field scanner for replies.
#pragma once
#include <cstdint>
#include <cstring>

#include "config/system.h"
#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "core/board_util.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "fmt.h"
#include "measure/bounded_wait.h"

namespace instrument {

// The byte after "%" comes within a few milliseconds of our CR LF; a
// sensor that sends something else or nothing is not waited for longer.
constexpr unsigned kBangWaitTicks = 10;
// Longest pause inside a reply line.
constexpr unsigned kCharGapTicks = 5;
// Reply to "do sample".
constexpr unsigned kSampleWaitTicks = 500;

constexpr uint32_t k500usLoops = 500 * kDelayLoopsPerUs;
// A poll loop's turn when nothing came: 100 us, under a byte's time at 9600 baud.
constexpr uint32_t kPollLoops = 100 * kDelayLoopsPerUs;

inline unsigned tick10() { return Timer_10ms(0); }

// An instrument port on GPIO port C: the UART enabled, its two pins routed
// to it, clocked from the 16 MHz precision oscillator, 9600 baud 8N1, echo
// off for good.
template <class Port>
void init_port(Port &port, uint32_t uart_num, uint32_t periph, uint32_t rx_pin_cfg,
               uint32_t tx_pin_cfg, uint8_t pins) {
  SysCtlPeripheralEnable(periph);
  GPIOPinConfigure(rx_pin_cfg);
  GPIOPinConfigure(tx_pin_cfg);
  GPIOPinTypeUART(GPIO_PORTC_BASE, pins);
  UARTClockSourceSet(g_ui32UARTBase[uart_num], UART_CLOCK_PIOSC);
  port.config(uart_num, 9600, 16000000);
  port.echo_set(false);
}

inline void diag(const char *text) {
  if (sys_data.diag) uprintf("%s", text);
}

// wait_ctdRx / wait_optodeRx on any port.
template <class Port>
unsigned wait_rx(Port &port, unsigned max_ticks, const char *rolled_over) {
  const unsigned start = tick10();
  for (;;) {
    bool got = port.rx_avail() > 0;
    unsigned now = tick10();
    if (now < start) {
      uprintf("%s", rolled_over);
      return 0;
    }
    if (got) return now - start;
    if (max_ticks && now - start >= max_ticks) return max_ticks;
    SysCtlDelay(k500usLoops);
  }
}

// "do sample" with its line end; the length of 12 takes the NUL along, as
// the sensors are used to.
template <class Port>
void send_do_sample(Port &port) {
  port.write(reinterpret_cast<const unsigned char *>("do sample\r\n"), 12);
}

// After "%": CR LF out, then the next byte, waited for at most
// kBangWaitTicks. True when it is "!", and then "do sample" has been sent
// (the length of 12 takes the NUL along, as the sensors are used to). A
// sensor with its echo on sends our CR LF back first: those two bytes are
// passed over, each with a wait of its own.
template <class Port>
bool aanderaa_handshake(Port &port, unsigned (*wait)(unsigned)) {
  port.putc('\r');
  port.putc('\n');
  for (int i = 0; i < 3; i++) {
    wait(kBangWaitTicks);
    if (port.rx_avail() == 0) return false;
    unsigned char c = port.rx.take();
    if (c == '!') {
      send_do_sample(port);
      return true;
    }
    if (c != '\r' && c != '\n') return false;
  }
  return false;
}

// A reply line's bytes as a reader keeps them: NUL bytes on the line are
// dropped, and so are line ends and blank lines before the first byte of
// the line. False for a byte not to keep.
inline bool reply_byte_kept(unsigned char c, unsigned stored) {
  if (c == 0) return false;
  return stored > 0 || (c != '\r' && c != '\n');
}

// "do sample" and the carriage returns our port sent with it (stored as
// NUL): the line a sensor with its echo on sends back.
inline bool is_command_echo(const char *buf, unsigned n) {
  if (n < 9 || memcmp(buf, "do sample", 9) != 0) return false;
  for (unsigned i = 9; i < n; i++)
    if (buf[i] != 0) return false;
  return true;
}

// What a "#"-terminated reply reader reports in its driver's voice.
struct ReplyTexts {
  const char *no_reply_diag;  // printed with diag on; may be null
  const char *no_reply;       // into buf
  const char *gap_diag;
  const char *gap;
  const char *overflow_diag;
};

enum class Reply { kWaiting, kDone, kFailed };

// The reply after "do sample": nothing yet returns kWaiting until
// kSampleWaitTicks after old_tick; then the bytes up to "#", a carriage
// return stored as NUL, at most size - 1 of them (buf stays terminated).
// A pause of kCharGapTicks or an overlong reply fails. Line ends before
// the reply, NUL bytes and an echo of "do sample" are not kept.
template <class Port>
Reply read_hash_reply(Port &port, unsigned (*wait)(unsigned), char *buf, uint32_t size,
                      unsigned &bufIndx, unsigned &old_tick, unsigned &new_tick,
                      const ReplyTexts &t) {
  new_tick = tick10();
  // What is not kept ahead of the reply (line ends, NULs, the end of an
  // echo) does not start it.
  while (bufIndx == 0 && port.rx_avail() && !reply_byte_kept(port.rx.peek_at(0), 0)) port.rx.take();
  if (port.rx_avail() == 0) {
    if (new_tick - old_tick < kSampleWaitTicks) return Reply::kWaiting;
    if (t.no_reply_diag) diag(t.no_reply_diag);
    fmt_snprintf(buf, size, "%s", t.no_reply);
    return Reply::kFailed;
  }
  old_tick = new_tick;
  for (;;) {
    wait(kCharGapTicks);
    if (port.rx_avail() == 0) {
      diag(t.gap_diag);
      fmt_snprintf(buf, size, "%s", t.gap);
      wait_consoleTx();
      return Reply::kFailed;
    }
    unsigned char c = port.rx.take();
    if (c == '#') {
      buf[bufIndx] = 0;
      return Reply::kDone;
    }
    if (!reply_byte_kept(c, bufIndx)) continue;
    // The echo of our own command, from a sensor with its echo on, is not
    // part of the reply: the wait for the reply starts again from here.
    if (c == '\n' && is_command_echo(buf, bufIndx)) {
      bufIndx = 0;
      return Reply::kWaiting;
    }
    if (bufIndx >= size - 1) {
      // Full: what came is kept, terminated, and the reading is void.
      bufIndx = size - 1;
      buf[bufIndx] = 0;
      diag(t.overflow_diag);
      wait_consoleTx();
      return Reply::kFailed;
    }
    buf[bufIndx++] = c == '\r' ? 0 : (char)c;
  }
}

// The pass-through terminal: instrument bytes to the console, console
// bytes to the instrument (a carriage return with a line feed when asked)
// until Ctrl-X.
template <class Port>
void relay_console(Port &port, bool cr_adds_lf) {
  for (;;) {
    while (port.rx_avail()) uprintf("%c", port.rx.take());
    if (!UARTRxBytesAvail()) {
      SysCtlDelay(kPollLoops);
      continue;
    }
    unsigned char c = UARTgetc();
    if (c == 0x18) return;
    port.putc(c);
    if (cr_adds_lf && c == '\r') port.putc('\n');
  }
}

// The byte-timing analyser: every byte the instrument sends with the time
// since the one before, answered as the engine would (the SBE37's "S" and
// line end, or the Aanderaa "%" and "!"). Ctrl-X switches the instrument
// off for 500 ms; a second Ctrl-X by then ends it, else it starts over.
template <class Port>
void serial_analyzer(Port &port, void (*open)(), void (*close)(), bool sbe37) {
  for (;;) {
    uprintf("open\n");
    open();
    bool after_s = false;
    unsigned last = tick10();
    for (;;) {
      if (port.rx_avail()) {
        unsigned char c = port.rx.take();
        unsigned now = tick10();
        uprintf("RX: %c [0x%02x] ", c, c);
        uprintf(" time = %u msec\n", (now - last) * 10);
        last = now;
        if (sbe37 && c == 'S') {
          uprintf("TX: crlf \n");
          port.putc('\r');
          port.putc('\n');
          after_s = true;
        } else if (sbe37 && c == '\n' && after_s) {
          uprintf("TX: ts cr \n");
          port.putc('t');
          port.putc('s');
          port.putc('\r');
          after_s = false;
        } else if (!sbe37 && c == '%') {
          uprintf("TX: crlf \n");
          port.putc('\r');
          port.putc('\n');
        } else if (!sbe37 && c == '!') {
          uprintf("TX: crlf do sample crlf \n");
          port.putc('\r');
          port.putc('\n');
          send_do_sample(port);
        }
      }
      if (UARTRxBytesAvail() && UARTgetc() == 0x18) break;
      SysCtlDelay(kPollLoops);
    }
    close();
    delay_msec(500);
    if (UARTPeek(0x18) >= 0) {
      UARTFlushRx();
      return;
    }
  }
}

// sscanf-like reading of whitespace-separated fields: each conversion
// skips white space first; `count` is the conversions made so far.
class FieldScanner {
 public:
  explicit FieldScanner(const char *s) : p_(s) {}
  int count = 0;
  bool f(float *out) {
    skip();
    char *end;
    float v = fmt_strtof(p_, &end);
    if (end == p_ || failed_) return fail();
    *out = v;
    p_ = end;
    count++;
    return true;
  }
  bool u(unsigned *out) {
    skip();
    char *end;
    unsigned long v = fmt_strtoul(p_, &end, 10);
    if (end == p_ || failed_) return fail();
    *out = (unsigned)v;
    p_ = end;
    count++;
    return true;
  }
  // A word of at most `width` characters, read and dropped.
  bool word(int width) {
    skip();
    if (!*p_ || failed_) return fail();
    for (int n = 0; n < width && *p_ && !space(*p_); n++) p_++;
    count++;
    return true;
  }

 private:
  const char *p_;
  bool failed_ = false;
  static bool space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  void skip() {
    while (space(*p_)) p_++;
  }
  bool fail() {
    failed_ = true;
    return false;
  }
};

}  // namespace instrument
