// The sampling sequence. Everything runs in the main context with busy
// waits, in a fixed order; the 1 ms tick times the steps.
#include "measure/sample.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

#include "config/config.h"
#include "config/error_log.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/main.h"
#include "core/rtc_time.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/sysctl.h"
#include "ff.h"
#include "fmt.h"
#include "instruments/ctd_base.h"
#include "instruments/instrument_record.h"
#include "instruments/optode.h"
#include "measure/adc_onchip.h"
#include "measure/ads1248_iso.h"
#include "measure/ph.h"
#include "storage/microsd.h"

char prnBuf[1024];

namespace {

constexpr unsigned char kCtrlX = 0x18;

// A one-off timing sample reports without touching the stored switch: a
// low battery stores the configuration from inside the sample.
bool timing_this_sample = false;

bool timing_report() {
  return sys_data.app_cfg[APPCFG_TIMING_REPORT] == 1 || timing_this_sample;
}

// The timing report: each mark prints the time since the previous mark
// and since the start of the sample, when app_cfg[0] asks for it.
struct Marks {
  uint32_t last = 0;
  // line: the report line's format, two %5u for the two times.
  void mark(const char *line) {
    uint32_t t = Timer_1ms(0);
    if (timing_report()) report(line, t - last, t);
    last = t;
  }
  // Instrument and bias marks are only taken when time has really passed.
  void mark_if_moved(const char *line) {
    if (Timer_1ms(0) - last > 1) mark(line);
  }
  static void report(const char *line, uint32_t since_last, uint32_t since_start) {
    char buf[64];
    fmt_snprintf(buf, sizeof buf, line, (unsigned)since_last, (unsigned)since_start);
    uprintf("%s", buf);
  }
};

bool on(int index) { return field_in_record(index); }

// The readings of one sample.
struct Reading {
  char timestamp[50];
  float vbat, board_temp;
  uint32_t humidity;
  float vtherm, vtherm_std, temp_c;
  float vrsi, vrsi_std, ph_int;
  float vrse, vrse_std, ph_ext;
  float vrsi_b, vrsi_b_std, vrse_b, vrse_b_std;
  float vk, vk_std, ik, ib;
};

float read_std(IsoChannel ch, float *std) {
  float v = iso_measure(ch);
  *std = sys_samp.AD24_std;
  return v;
}

// Ombrix only: the pump runs for pumpon_time seconds before the sample;
// Ctrl-X or Enter ends it early.
void run_pump() {
  if (sys_data.test_mode == 1) uprintf("\nPump on (test mode)\n");
  else pwr_pump_on();
  led_red_on();
  uint32_t deadline = Timer_1ms(0) + sys_data.pumpon_time * 1000;
  do {
    delay_msec(100);
    // A key counts once its line is complete; a stray byte on the line
    // must not stop the logger for ever in the middle of a sample.
    if (UARTRxBytesAvail() && UARTPeek('\r') >= 0) {
      int key = get_key();
      if (key == 0) key = '\r';  // Enter alone: get_key gives 0 for an empty line
      if (key == kCtrlX || key == '\r') {
        uprintf("Pump cycle ended early due to 0x%02x / %u key\n", key, key);
        break;
      }
      if (sys_data.output == VERBOSE) uprintf("\nPumping before sample, please wait...");
    }
  } while ((int32_t)(deadline - Timer_1ms(0)) > 0);
  pump_off();
  if (sys_data.test_mode == 1) uprintf("Pump off\n");
  led_red_off();
}

// Appends to the end of buffer, never past it.
void append(char *buf, size_t size, size_t *len, const char *f, ...)
    __attribute__((format(printf, 4, 5)));
void append(char *buf, size_t size, size_t *len, const char *f, ...) {
  if (*len >= size - 1) return;
  va_list ap;
  va_start(ap, f);
  int n = fmt_vsnprintf(buf + *len, size - *len, f, ap);
  va_end(ap);
  if (n > 0) *len += (size_t)n < size - *len ? (size_t)n : size - 1 - *len;
}

void format_record(const Reading &r, uint32_t sample_no) {
  size_t len = 0;
  const size_t size = sizeof prnBuf;
  prnBuf[0] = 0;
  for (const DataField &f : data_fields) {
    if (!on(f.index)) continue;
    char *b = prnBuf;
    switch (f.index) {
      case DF_SAMPLE_NUM: append(b, size, &len, "#%07u\t", (unsigned)sample_no); break;
      case DF_TIMESTAMP: append(b, size, &len, "     %s\t", r.timestamp); break;
      case DF_VBAT: append(b, size, &len, "%8.2f\t", (double)r.vbat); break;
      case DF_BIAS_POS: append(b, size, &len, "%8.2f\t", (double)fBiasPos); break;
      case DF_BIAS_NEG: append(b, size, &len, "%8.2f\t", (double)fBiasNeg); break;
      case DF_BOARD_TEMP: append(b, size, &len, "%8.2f\t", (double)r.board_temp); break;
      case DF_HUMIDITY:
        // A failed reading is missing, not a number a spreadsheet would take.
        if (r.humidity == ADC_NO_READING) append(b, size, &len, "%8s\t", "nan");
        else append(b, size, &len, "%8u\t", (unsigned)r.humidity);
        break;
      case DF_VTHERM: append(b, size, &len, "%8.6f\t", (double)r.vtherm); break;
      case DF_VTHERM_STD: append(b, size, &len, "%8.6f\t", (double)r.vtherm_std); break;
      case DF_TEMP_C: append(b, size, &len, "%8.3f\t", (double)r.temp_c); break;
      case DF_VRSI: append(b, size, &len, "%8.6f\t", (double)r.vrsi); break;
      case DF_VRSI_STD: append(b, size, &len, "%8.6f\t", (double)r.vrsi_std); break;
      case DF_PH_INT: append(b, size, &len, "%8.3f\t", (double)r.ph_int); break;
      case DF_VRSE: append(b, size, &len, "%8.6f\t", (double)r.vrse); break;
      case DF_VRSE_STD: append(b, size, &len, "%8.6f\t", (double)r.vrse_std); break;
      case DF_PH_EXT: append(b, size, &len, "%8.3f\t", (double)r.ph_ext); break;
      case DF_VRSI_B: append(b, size, &len, "%8.6f\t", (double)r.vrsi_b); break;
      case DF_VRSI_B_STD: append(b, size, &len, "%8.6f\t", (double)r.vrsi_b_std); break;
      case DF_VRSE_B: append(b, size, &len, "%8.6f\t", (double)r.vrse_b); break;
      case DF_VRSE_B_STD: append(b, size, &len, "%8.6f\t", (double)r.vrse_b_std); break;
      case DF_VK: append(b, size, &len, "%8.6f\t", (double)r.vk); break;
      case DF_VK_STD: append(b, size, &len, "%8.6f\t", (double)r.vk_std); break;
      case DF_IK: append(b, size, &len, "%8.2f\t", (double)r.ik); break;
      case DF_IB: append(b, size, &len, "%8.3f\t", (double)r.ib); break;
      case DF_OPTODE:
        // The instrument block starts with an empty column, as in the header.
        append(b, size, &len, "\t");
        append_reply_columns(b, size, &len, optode.buf, sizeof optode.buf, kOptodeColumns,
                             optode.state == 0);
        break;
      case DF_CTD: {
        int columns = sys_data.data_cfg[DF_CTD] == CTD_SBE37           ? kSbe37Columns
                      : sys_data.data_cfg[DF_CTD] == CTD_AANDERAA_5860 ? kAand5860Columns
                                                                       : 0;
        if (columns == 0) break;
        if (!on(DF_OPTODE)) append(b, size, &len, "\t");
        append_reply_columns(b, size, &len, ctd.buf, sizeof ctd.buf, columns, ctd.state == 0);
        break;
      }
      default: break;
    }
  }
  if (timing_report())
    append(prnBuf, size, &len, "(%u msec)\t", (unsigned)Timer_1ms(0));
  append(prnBuf, size, &len, "\r\n");
}

// The instruments' exchanges, stepped between the bias-battery reads.
struct Instruments {
  Marks &m;
  int optode_state = 0;
  int ctd_state = 0;
  void start() {
    if (on(DF_OPTODE)) {
      optode_state = optode_stateMachine(1);
      m.mark("\nOptode St8Ma = %5u,   %5u");
    }
    if (on(DF_CTD)) {
      ctd_state = ctd_stateMachine(1);
      m.mark("\nCTD    St8Ma = %5u,   %5u");
    }
  }
  void step() {
    if (on(DF_OPTODE)) {
      optode_state = optode_stateMachine(optode_state);
      m.mark_if_moved("\nOptode St8Ma = %5u,   %5u");
    }
    if (on(DF_CTD)) {
      ctd_state = ctd_stateMachine(ctd_state);
      m.mark_if_moved("\nCTD    St8Ma = %5u,   %5u");
    }
  }
  // Both are run to their ends together, so the sample waits for the
  // slower one only. Every state returns within its own time limit.
  void finish() {
    bool optode_done = !on(DF_OPTODE), ctd_done = !on(DF_CTD);
    while (!optode_done || !ctd_done) {
      if (!optode_done && optode_state != 0) optode_state = optode_stateMachine(optode_state);
      if (!optode_done && optode_state == 0) {
        optode_done = true;
        m.mark("\nOptode       = %5u,   %5u");
      }
      if (!ctd_done && ctd_state != 0) ctd_state = ctd_stateMachine(ctd_state);
      if (!ctd_done && ctd_state == 0) {
        ctd_done = true;
        m.mark("\nCTD          = %5u,   %5u");
      }
      instrument_pause();
    }
  }
};

[[noreturn]] void low_battery(float vbat) {
  for (int i = 0; i < 20; i++) {
    if (i % 4 == 0)
      uprintf("\nLow battery voltage (%.2f < %.2f) ! Exiting deploy mode...\n", (double)vbat,
              (double)sys_data.low_batt_volt);
    wait_consoleTx();
    led_red_on();
    led_green_off();
    delay_msec(500);
    led_red_off();
    led_green_on();
    delay_msec(500);
  }
  error_store("Low battery! Exiting deploy mode");
  for (;;) sleep(IDLE, 0);
}

}  // namespace

void fast_sample(int txFlg) {
  Marks m;
  Reading r{};
  Timer_1ms(1);
  if (sys_data.test_mode == 1) uprintf("\nSampling...");

  // 1. Pump.
  if (kOmbrix && sys_data.pumpon_time != 0) run_pump();

  led_green_on();
  m.mark("\nPump         = %5u,   %5u");
  rtc_strftime(r.timestamp, sizeof r.timestamp, RECORD_TIME_FORMAT, get_RTC_time());

  // 2. Power up the front end and the monitors.
  openADS1248_iso();
  ADS1248_gpio_init();
  pwr_env_mon_on();
  pwr_vbat_mon_on();
  delay_msec(1);
  adc_onchip_init();
  m.mark("\nPwr on, init = %5u,   %5u");
  uint32_t monitors_on = Timer_1ms(0);

  // 3. The instruments power up and answer while the bias batteries are
  // read; their replies are in hand before the sensor channels.
  Instruments inst{m};
  inst.start();
  if (on(DF_BIAS_NEG)) fBiasNeg = bias_battery(false);
  inst.step();
  if (on(DF_BIAS_POS)) fBiasPos = bias_battery(true);
  inst.step();
  if (on(DF_BIAS_POS)) fBiasPos = bias_battery(true);
  if (on(DF_BIAS_POS) || on(DF_BIAS_NEG)) m.mark_if_moved("\nBias Bat     = %5u,   %5u");
  inst.finish();

  // 4. Sensor channels. A computed column always gets its inputs, even when
  // their own columns are off; the record's columns do not change.
  bool temp_needed = on(DF_TEMP_C) || on(DF_PH_INT) || on(DF_PH_EXT);
  if (on(DF_IB)) {
    r.ib = iso_measure(IsoChannel::Ib);
    m.mark("\nIb Substrate = %5u,   %5u");
  }
  if (on(DF_IK)) {
    r.ik = iso_measure(IsoChannel::Ik);
    m.mark("\nIk Cntr E    = %5u,   %5u");
  }
  if (on(DF_VK)) {
    r.vk = read_std(IsoChannel::Vk, &r.vk_std);
    m.mark("\nVk Cntr E    = %5u,   %5u");
  }
  if (on(DF_VTHERM) || temp_needed) {
    r.vtherm = read_std(IsoChannel::Vtherm, &r.vtherm_std);
    m.mark("\nVtherm       = %5u,   %5u");
  }
  if (on(DF_VRSI_B) || on(DF_PH_INT)) {
    r.vrsi_b = read_std(IsoChannel::Vrsi_B, &r.vrsi_b_std);
    m.mark("\nVrsi_B       = %5u,   %5u");
  }
  if (on(DF_VRSI)) {
    r.vrsi = read_std(IsoChannel::Vrsi, &r.vrsi_std);
    m.mark("\nVrsi         = %5u,   %5u");
  }
  if (on(DF_VRSE_B)) {
    dbg_printf("\nno extref on glider\n");
    r.vrse_b = read_std(IsoChannel::Vrse_B, &r.vrse_b_std);
    m.mark("\nVrse_B       = %5u,   %5u");
  }
  if (on(DF_VRSE) || on(DF_PH_EXT)) {
    r.vrse = read_std(IsoChannel::Vrse, &r.vrse_std);
    m.mark("\nVrse         = %5u,   %5u");
  }

  // 5. On-chip monitors, after the supplies have been on for 101 ms.
  uint32_t *scan = read_monitors(monitors_on);
  r.vbat = adc_main_battery(scan[0]);
  if (on(DF_BOARD_TEMP)) r.board_temp = adc_board_temp(scan[4]);
  if (on(DF_HUMIDITY)) r.humidity = adc_humidity(scan[2]);
  m.mark("\nOnchip ADC   = %5u,   %5u");

  // 6. Power down.
  pwr_vbat_mon_off();
  pwr_env_mon_off();
  closeADS1248_iso();

  // 7. Equations.
  if (temp_needed) {
    r.temp_c = DuraFET_temp(r.vtherm, sys_data.TCOffset);
    if (on(DF_TEMP_C)) m.mark("\nCalc TempC   = %5u,   %5u");
  }
  if (on(DF_PH_EXT)) {
    r.ph_ext = calc_pHext(r.vrse, r.temp_c, sys_data.default_sal);
    m.mark("\nCalc pH Ext  = %5u,   %5u");
  }
  if (on(DF_PH_INT)) {
    r.ph_int = calc_pHint(r.vrsi_b, r.temp_c);
    m.mark("\nCalc pH Int  = %5u,   %5u");
  }

  // 8. The record. A CTD that answered as another type than configured has
  // had the configuration corrected; the file gets a data header naming
  // the new columns before the first record that has them.
  if (ctd_config_corrected && microSD_flg == 1) write_data_header();
  format_record(r, sys_samp.current_sample);
  m.mark("\nformat data  = %5u,   %5u\n");
  // The record already ends in CR LF: its echo goes as it stands, as on the card.
  if (txFlg == 1) UARTwriteRaw(reinterpret_cast<const unsigned char *>(prnBuf), (uint32_t)strlen(prnBuf));
  if (microSD_flg == 1) append_record(prnBuf);
  m.mark("\nuSD writes   = %5u,   %5u");
  wait_consoleTx();
  m.mark("\nwait TX      = %5u,   %5u");

  sys_samp.current_sample += 1;
  led_green_off();

  // 9. A low battery ends the deployment; a missing reading decides nothing.
  if (battery_state(r.vbat) == BATTERY_LOW) low_battery(r.vbat);
}

void fast_sample_timed(int txFlg) {
  timing_this_sample = true;
  fast_sample(txFlg);
  timing_this_sample = false;
}
