// The CTD port and the start of every CTD exchange: power-up, the
// announcement that tells the two instruments apart, and the Aanderaa 5860
// reading. The SBE37 steps live in ctd_sbe37_microcat.cpp.
#include "instruments/ctd_base.h"

#include "config/config.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "instruments/ctd_internal.h"
#include "instruments/instrument_engine.h"

using namespace instrument;

ctdDriver ctd;
CtdPort g_ctdPort;
bool ctd_config_corrected;
bool ctd_reading_valid;

namespace {

constexpr uint32_t kCtdPort = 4;
constexpr unsigned kAnnounceTicks = 250;

const ReplyTexts kAand5860Reply = {
    nullptr,
    "CTD not responding with sample string after do sample",
    "\nDEBUG: inter-character delay exceeded 50msec receiving do_sample string\n",
    "CTD driver Err: inter-character delay exceeded 50msec receiving do_sample string",
    "\nDEBUG: error in ctd driver bufIndx exceeds buf size, ctd_base\n",
};

int fail() {
  ctd.state = -1;
  return 0;
}

int state_start() {
  ctd_open();
  delay_msec(20);
  ctd_flushRx();
  ctd_flushTx(true);
  ctd.buf[0] = 0;
  ctd_config_corrected = false;
  ctd_reading_valid = false;
  ctd.old_tick10ms = tick10();
  ctd.type = 0;
  return 2;
}

int state_announcement() {
  while (ctd_rxBytesAvail()) {
    unsigned char c = g_ctdPort.rx.take();
    if (c == 'S') {
      ctd.old_tick10ms = tick10();
      return 6;
    }
    if (c == '%') {
      ctd.old_tick10ms = tick10();
      if (aanderaa_handshake(g_ctdPort, wait_ctdRx)) {
        ctd.old_tick10ms = tick10();
        return 4;
      }
      diag("CTD Err: did not receive ! after crlf following %\n");
      instrument_set_text(ctd.buf, sizeof ctd.buf,
                          "CTD Err: did not receive ! after crlf following %");
      wait_consoleTx();
      ctd_close();
      return fail();
    }
  }
  ctd.new_tick10ms = tick10();
  if (ctd.new_tick10ms - ctd.old_tick10ms < kAnnounceTicks) return 2;
  diag("\nNo CTD response in 2.5sec, statemachine pumping too slow or instrument not connected\n");
  instrument_set_text(ctd.buf, sizeof ctd.buf, "CTD not responding with SBE 37-SI after power up");
  wait_consoleTx();
  ctd_close();
  return fail();
}

int state_aand5860_sample() {
  Reply r = read_hash_reply(g_ctdPort, wait_ctdRx, ctd.buf, sizeof ctd.buf, ctd.bufIndx,
                            ctd.old_tick10ms, ctd.new_tick10ms, kAand5860Reply);
  if (r == Reply::kWaiting) return 4;
  ctd_close();
  if (r == Reply::kFailed) return fail();
  ctd_Aand5860_parseData();
  ctd.type = CTD_AANDERAA_5860;
  ctd_check_config_type(CTD_AANDERAA_5860, "Aanderaa 5860");
  ctd.state = 0;
  return 0;
}

}  // namespace

void instrument_pause() { SysCtlDelay(kPollLoops); }

void instrument_set_text(char *buf, uint32_t size, const char *text) {
  fmt_snprintf(buf, size, "%s", text);
}

void ctd_check_config_type(unsigned type, const char *name) {
  if (!kOmbrix || sys_data.data_cfg[DF_CTD] == type) return;
  if (type == CTD_SBE37)
    uprintf("\nERROR: CTD type %u, does not match data config type %u. Correcting to %u, %s\n",
            type, (unsigned)sys_data.data_cfg[DF_CTD], type, name);
  else
    uprintf("\nERROR: CTD type %u, does not match data config type %u. Correcting data config to %u, %s\n",
            type, (unsigned)sys_data.data_cfg[DF_CTD], type, name);
  sys_data.data_cfg[DF_CTD] = (uint8_t)type;
  ctd_config_corrected = true;
}

// ---- the port ------------------------------------------------------------------

void ctd_init() {
  if constexpr (kTavlo) return;  // no CTD port on this board
  GPIOPinTypeGPIOOutput(GPIO_PORTD_BASE, GPIO_PIN_0);
  GPIOPinWrite(GPIO_PORTD_BASE, GPIO_PIN_0, 0);
  init_port(g_ctdPort, kCtdPort, SYSCTL_PERIPH_UART4, GPIO_PC4_U4RX, GPIO_PC5_U4TX,
            GPIO_PIN_4 | GPIO_PIN_5);
}

void ctd_config(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock) {
  g_ctdPort.config(ui32PortNum, ui32Baud, ui32SrcClock);
}
int ctd_write(const char *pcBuf, uint32_t ui32Len) {
  return g_ctdPort.write(reinterpret_cast<const unsigned char *>(pcBuf), ui32Len);
}
int ctd_putc(int ch) { return g_ctdPort.putc(ch); }
unsigned char ctd_getc() { return g_ctdPort.getc(); }
int ctd_gets(char *pcBuf, uint32_t ui32Len) {
  return g_ctdPort.gets(reinterpret_cast<unsigned char *>(pcBuf), ui32Len);
}
int ctd_peek(int ucChar) { return g_ctdPort.peek(ucChar); }
int ctd_rxBytesAvail() { return g_ctdPort.rx_avail(); }
int ctd_txBytesFree() { return g_ctdPort.tx_free(); }
void ctd_flushRx() { g_ctdPort.flush_rx(); }
void ctd_flushTx(bool bDiscard) { g_ctdPort.flush_tx(bDiscard); }
void ctd_echoSet(bool bEnable) { g_ctdPort.echo_set(bEnable); }
void ctd_IntHandler() { g_ctdPort.int_handler(); }

void ctd_open() {
  if constexpr (kOmbrix) pwr_ctd_on();
  ctd.state = 0;
  ctd.bufIndx = 0;
}

void ctd_close() {
  if constexpr (kOmbrix) pwr_ctd_off();
}

// ---- the protocol ----------------------------------------------------------------

unsigned wait_ctdRx(unsigned maxWait_10msTick) {
  return wait_rx(g_ctdPort, maxWait_10msTick, "DEBUG: wait_ctdRx 10msTick timer rolled over\n");
}

int ctd_stateMachine(int ctdState) {
  int next;
  switch (ctdState) {
    case 0: ctd.state = 0; return 0;
    case 1: next = state_start(); break;
    case 2: next = state_announcement(); break;
    case 4: next = state_aand5860_sample(); break;
    case 6: next = ctd_sbe37_command(); break;
    case 7: next = ctd_sbe37_wait_data(); break;
    case 8: next = ctd_sbe37_read_line(); break;
    default:
      ctd.type = 0;
      ctd_close();  // whatever went wrong, the instrument is not left on
      return fail();
  }
  if (next != 0) ctd.state = next;
  return next;
}

bool ctd_qa_test() {
  for (int s = ctd_stateMachine(1); s != 0; instrument_pause()) s = ctd_stateMachine(s);
  return ctd.state != -1;
}

bool ctd_take_sample(float *tempC, float *salt) {
  if (!ctd_qa_test() || !ctd_reading_valid) return false;
  *tempC = ctd.tempC;
  *salt = ctd.salt;
  return true;
}

void ctd_print_buf() { uprintf("%.*s", (int)sizeof ctd.buf, ctd.buf); }
