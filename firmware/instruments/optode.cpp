// The optode port and exchange.
#include "instruments/optode.h"

#include "core/board.h"
#include "core/energy.h"
#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "instruments/ctd_base.h"
#include "instruments/instrument_engine.h"

using namespace instrument;

optodeDriver optode;
OptodePort g_optodePort;

namespace {

constexpr uint32_t kOptodePort = 3;
constexpr unsigned kAnnounceTicks = 159;
// The whole exchange, counted from power-up: the announcement's limit
// restarts at every "%", so an optode that repeats "%" without "!" would
// otherwise keep the sample open, and the optode powered, for ever. Far
// above an exchange that works (1.6 s announcement, 5 s reply).
constexpr unsigned kExchangeTicks = 800;

unsigned powered_tick;

// True (and the exchange failed, with its reason in the buffer) once the
// exchange has run past its limit.
bool exchange_overdue() {
  if (tick10() - powered_tick <= kExchangeTicks) return false;
  diag("\nOptode exchange not finished 8 s after power-up - check optode\n");
  instrument_set_text(optode.buf, sizeof optode.buf,
                      "Optode Err: exchange not finished 8 s after power-up");
  wait_consoleTx();
  return true;
}

const ReplyTexts kReply = {
    "\nOptode power on did not receive sample string after do sample - check optode connection "
    "or setup\n",
    "Optode not responding with sample string after do sample",
    "\nDEBUG: inter-character delay exceeded 50msec receiving do_sample string\n",
    "Optode Err ST4: inter-character delay exceeded 50msec receiving do_sample string",
    "\nDEBUG: error in optode driver bufIndx exceeds buf size, optode\n",
};

int fail() {
  optode_close();
  optode.state = -1;
  return 0;
}

// A board that switches no optode supply (Tavlo) finds the optode on all
// along: its serial interface asleep (it said "%" when it dozed off, long
// before we listened) or still awake from an earlier exchange. Any byte
// wakes it, and it says "!" once it listens, within about 500 ms; an awake
// one takes our CR LF for an empty line and says nothing, so silence past
// its start-up time means it is listening already.
constexpr bool kSupplySwitched = kOmbrix;
constexpr unsigned kWakeTicks = 60;

void send_wake() {
  optode_putc('\r');
  optode_putc('\n');
}

int ask_for_sample() {
  send_do_sample(g_optodePort);
  optode.old_tick10ms = tick10();
  return 4;
}

int state_start() {
  optode_open();
  delay_msec(1);
  optode_flushRx();
  optode_flushTx(true);
  optode.buf[0] = 0;
  if constexpr (!kSupplySwitched) send_wake();
  optode.old_tick10ms = tick10();
  powered_tick = optode.old_tick10ms;
  return 2;
}

// State 2 on an optode that is never switched: "!" (with or without a "%"
// before it) or silence, then "do sample". A "%" is an optode that has
// just dozed off: it is woken again.
int state_wake() {
  while (optode_rxBytesAvail()) {
    const unsigned char c = g_optodePort.rx.take();
    if (c == '!') return ask_for_sample();
    if (c == '%') {
      send_wake();
      optode.old_tick10ms = tick10();
    }
  }
  if (exchange_overdue()) return fail();
  optode.new_tick10ms = tick10();
  if (optode.new_tick10ms - optode.old_tick10ms <= kWakeTicks) return 2;
  return ask_for_sample();
}

int state_announcement() {
  while (optode_rxBytesAvail()) {
    if (g_optodePort.rx.take() != '%') continue;
    optode.old_tick10ms = tick10();
    if (aanderaa_handshake(g_optodePort, wait_optodeRx)) {
      optode.old_tick10ms = tick10();
      return 4;
    }
    // Anything but "!" after the "%": wait for the next "%".
    if (exchange_overdue()) return fail();
  }
  if (exchange_overdue()) return fail();
  optode.new_tick10ms = tick10();
  if (optode.new_tick10ms - optode.old_tick10ms <= kAnnounceTicks) return 2;
  diag("\nOptode power on did not receive % char delimiter in 600msec - check optode connection or "
       "setup\n");
  instrument_set_text(optode.buf, sizeof optode.buf, "Optode not responding with % char after power up");
  wait_consoleTx();
  return fail();
}

int state_sample() {
  // An optode never switched that was still starting up when asked lost
  // the command: its late "!" says it listens now, and it is asked again.
  if constexpr (!kSupplySwitched) {
    if (optode.bufIndx == 0 && optode_rxBytesAvail() && g_optodePort.rx.peek_at(0) == '!') {
      g_optodePort.rx.take();
      return exchange_overdue() ? fail() : ask_for_sample();
    }
  }
  Reply r = read_hash_reply(g_optodePort, wait_optodeRx, optode.buf, sizeof optode.buf,
                            optode.bufIndx, optode.old_tick10ms, optode.new_tick10ms, kReply);
  if (r == Reply::kWaiting) return exchange_overdue() ? fail() : 4;
  if (r == Reply::kFailed) return fail();
  optode_close();
  optode.state = 0;
  return 0;
}

}  // namespace

// The optode's supply is PL2 (the pin map's optode 5 V switch); PD1 is the
// auxiliary/pump supply and is not the optode's to touch.
void optode_init() {
  GPIOPinTypeGPIOOutput(GPIO_PORTL_BASE, GPIO_PIN_2);
  GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, 0);
  init_port(g_optodePort, kOptodePort, SYSCTL_PERIPH_UART3, GPIO_PC6_U3RX, GPIO_PC7_U3TX,
            GPIO_PIN_6 | GPIO_PIN_7);
}

void optode_config(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock) {
  g_optodePort.config(ui32PortNum, ui32Baud, ui32SrcClock);
}
int optode_write(const char *pcBuf, uint32_t ui32Len) {
  return g_optodePort.write(reinterpret_cast<const unsigned char *>(pcBuf), ui32Len);
}
int optode_putc(int ch) { return g_optodePort.putc(ch); }
unsigned char optode_getc() { return g_optodePort.getc(); }
int optode_gets(char *pcBuf, uint32_t ui32Len) {
  return g_optodePort.gets(reinterpret_cast<unsigned char *>(pcBuf), ui32Len);
}
int optode_peek(int ucChar) { return g_optodePort.peek(ucChar); }
int optode_rxBytesAvail() { return g_optodePort.rx_avail(); }
int optode_txBytesFree() { return g_optodePort.tx_free(); }
void optode_flushRx() { g_optodePort.flush_rx(); }
void optode_flushTx(bool bDiscard) { g_optodePort.flush_tx(bDiscard); }
void optode_echoSet(bool bEnable) { g_optodePort.echo_set(bEnable); }
void optode_IntHandler() { g_optodePort.int_handler(); }

void optode_open() {
  if constexpr (kSupplySwitched) GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, GPIO_PIN_2);
  rail_switched(RAIL_OPTODE, kSupplySwitched);
  optode.state = 0;
  optode.bufIndx = 0;
}

void optode_close() {
  if constexpr (kSupplySwitched) GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, 0);
  rail_switched(RAIL_OPTODE, false);
}

unsigned wait_optodeRx(unsigned maxWait_10msTick) {
  return wait_rx(g_optodePort, maxWait_10msTick, "DEBUG: wait_optodeRx 10msTick timer rolled over\n");
}

int optode_stateMachine(int optodeState) {
  optode.state = optodeState;
  int next;
  switch (optodeState) {
    case 1: next = state_start(); break;
    case 2: next = kSupplySwitched ? state_announcement() : state_wake(); break;
    case 4: next = state_sample(); break;
    default:
      optode_close();
      return 0;
  }
  if (next != 0) optode.state = next;
  return next;
}

bool optode_qa_test() {
  for (int s = optode_stateMachine(1); s != 0; instrument_pause()) s = optode_stateMachine(s);
  return optode.state != -1;
}

void optode_print_buf() { uprintf("%.*s", (int)sizeof optode.buf, optode.buf); }

void optode_comm_test() {
  uprintf("\nNote: smart sensor mode, disable data descriptor text, set flow control to none \n\n");
  uprintf("\n\nCommand procedure to setup Optode for numeric output:\n\n"
          "  (pass-key command)\n  set mode(smart sensor terminal)\n  set enable polled mode(yes)\n"
          "  save\n  (pass-key command)\n  set enable text(no)\n  save\n"
          "  (pass-key command, second key)\n  set flow control(none)\n  save\n  do sample\n");
  uprintf("\nThis should return a sample: "
          "\t4831\t856\t286.196\t94.284\t16.728\t28.200\t30.491\t38.573\t8.082\t621.1\t720.0\t300.0\t\n\n");
  uprintf("\n\n*Press CTRL-X to stop communicating with the Optode.*\n\n");
  optode_open();
  relay_console(g_optodePort, true);
  optode_close();
}

void optode_serial_analyzer() {
  uprintf("optode serial analyzer, bytes and times\n");
  serial_analyzer(g_optodePort, optode_open, optode_close, false);
}
