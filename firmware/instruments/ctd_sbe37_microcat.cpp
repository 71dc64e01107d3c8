// The SBE37 MicroCAT: after its "S" the rest of the announcement line, the
// take-sample command "ts" and its echo, then one comma-separated line of
// temperature, conductivity, salinity, pressure, date and time.
#include "config/config.h"
#include "instruments/ctd_base.h"
#include "instruments/ctd_internal.h"
#include "instruments/instrument_engine.h"

using namespace instrument;

namespace {

constexpr unsigned kAnnounceLineTicks = 149;
constexpr unsigned kAnnouncePolls = 1000;  // 100 ms
constexpr unsigned kEchoTicks = 50;
constexpr unsigned kEchoPolls = 6000;
constexpr unsigned kDataTicks = 500;
constexpr unsigned kLinePolls = 3000;      // 300 ms for a line of about 70 bytes

int fail_off(const char *diag_text, const char *text) {
  diag(diag_text);
  instrument_set_text(ctd.buf, sizeof ctd.buf, text);
  wait_consoleTx();
  ctd.type = 0;
  ctd_close();
  ctd.state = -1;
  return 0;
}

// Takes bytes until a line feed; false when none came in `polls` polls of
// 100 us or once more than `max_ticks` passed since ctd.old_tick10ms.
enum class Lf { kSeen, kPolls, kTicks };
Lf drop_until_lf(unsigned polls, unsigned max_ticks) {
  for (unsigned i = 0; i < polls; i++) {
    while (ctd_rxBytesAvail())
      if (g_ctdPort.rx.take() == '\n') return Lf::kSeen;
    ctd.new_tick10ms = tick10();
    if (ctd.new_tick10ms - ctd.old_tick10ms > max_ticks) return Lf::kTicks;
    SysCtlDelay(kPollLoops);
  }
  return Lf::kPolls;
}

}  // namespace

int ctd_sbe37_command() {
  Lf lf = drop_until_lf(kAnnouncePolls, kAnnounceLineTicks);
  if (lf == Lf::kTicks)
    return fail_off("\nNot receiving BE 37-SI[0d][0a] in 1500msec after power up\n",
                    "Not receiving BE 37-SI[0d][0a] in 1500msec");
  if (lf == Lf::kPolls)
    return fail_off(
        "\nNot receiving BE 37-SI[0d][0a] and ts echo in 110msec after receiving 'S' after power up\n",
        "Not receiving BE 37-SI[0d][0a] and ts echo in 110msec after receiving 'S' after power up");
  ctd_putc('t');
  ctd_putc('s');
  ctd_putc('\r');
  ctd.old_tick10ms = tick10();
  // The echo: bounded by the ticks (the poll count only backs them up).
  if (drop_until_lf(kEchoPolls, kEchoTicks - 1) != Lf::kSeen)
    return fail_off("\nCTD ST6, no echo of 'ts' command, ret ST0\n",
                    "CTD ST6, no echo of 'ts' command, ret ST0");
  ctd.old_tick10ms = tick10();
  return 7;
}

int ctd_sbe37_wait_data() {
  if (ctd_rxBytesAvail()) return 8;
  ctd.new_tick10ms = tick10();
  if (ctd.new_tick10ms - ctd.old_tick10ms < kDataTicks) return 7;
  return fail_off("\nSBE37 not responding in 5sec after ts\n", "SBE37 not responding in 5sec after ts");
}

int ctd_sbe37_read_line() {
  for (unsigned i = 0; i < kLinePolls; i++) {
    while (ctd_rxBytesAvail()) {
      unsigned char c = g_ctdPort.rx.take();
      if (!reply_byte_kept(c, ctd.bufIndx)) continue;
      if (c == '<' || c == '\n') {
        ctd.buf[ctd.bufIndx] = 0;
        ctd_close();
        ctd_microCat_parseData();
        wait_consoleTx();
        ctd.type = CTD_SBE37;
        ctd_check_config_type(CTD_SBE37, "SBE37 MicroCat");
        ctd.state = 0;
        return 0;
      }
      if (ctd.bufIndx >= sizeof ctd.buf - 1)
        return fail_off("\nST7: error in ctd driver bufIndx exceeds buf size, ctd\n",
                        "ST7: error in ctd driver bufIndx exceeds buf size, ctd");
      ctd.buf[ctd.bufIndx++] = c == ',' ? '\t' : c == '\r' ? 0 : (char)c;
    }
    SysCtlDelay(kPollLoops);
  }
  // A line that never ended is no reading: it is not passed off as one.
  return fail_off("\nSBE37 sample line not complete in 300msec\n",
                  "SBE37 sample line not complete in 300msec");
}

void ctd_microCat_parseData() {
  FieldScanner s(ctd.buf);
  float t = 0, c = 0, sal = 0;
  s.f(&t) && s.f(&c) && s.f(&sal) && s.word(19) && s.word(19);
  ctd_reading_valid = s.count == 5;
  if (!ctd_reading_valid) {
    uprintf("\nError:  sscanf for parsing MicroCat does not return 5 args.  ctd.state = %d.  TempC "
            "and salt are 0.0\n",
            ctd.state);
    t = sal = 0;
  }
  ctd.tempC = t;
  ctd.salt = sal;
}

void ctd_microCat_comm_test() {
  UARTEchoSet(false);
  uprintf("\n\n*Press CTRL-X to stop communicating with the SBE37 MicroCAT.*\n\n");
  ctd_open();
  relay_console(g_ctdPort, false);
  ctd_close();
  UARTEchoSet(true);
}

void ctd_microcat_serial_analyzer() {
  uprintf("ctd microcat serial analyzer, bytes and times  Ctrl-X to quit\n");
  serial_analyzer(g_ctdPort, ctd_open, ctd_close, true);
}
