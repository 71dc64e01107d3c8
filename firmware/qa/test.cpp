// The test menu and its bench tests: live displays of the board sensors,
// the sensor voltages and the computed pH, the instrument tools, the power
// switches, the isolated ADC channel by channel, live sampling, and the QA
// procedure. The displays report what they measure and judge nothing; only
// the front-end window test marks readings outside their windows.
#include <cstring>

#include "config/config.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/rtc_time.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "instruments/ctd_base.h"
#include "instruments/optode.h"
#include "measure/adc_onchip.h"
#include "measure/bounded_wait.h"
#include "measure/ads1248_iso.h"
#include "measure/ph.h"
#include "measure/pwm.h"
#include "measure/sample.h"
#include "qa/bench.h"
#include "qa/test.h"

namespace {

constexpr uint32_t kMenuIdleS = 30000;  // 8 h 20 min

bool menu_level_1() { return sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1; }

void now_text(char *buf, unsigned size) { console_time(HibernateRTCGet(), buf, size); }

// Reads the key that ended a loop, with the rest of its line.
void take_key_line() { get_key(); }

// ---- battery, board sensors and bias batteries ------------------------------

void battery_line(unsigned line) {
  read_all_adc();  // the first scan settles the inputs
  const uint32_t *d = read_all_adc();
  const float vbat = adc_main_battery(d[0]);
  const uint32_t humidity = adc_humidity(d[2]);
  const uint32_t water = adc_water(d[3]);
  const float board_temp = adc_board_temp(d[4]);
  read_bias_bat();
  uprintf(
      "Bat = %6.2fV   Humidity = %3u  Water = %3u   BoardTemp = %5.1fC   bias(+,-) = %5.2fV, "
      "%5.2fV   i=%u\r",
      (double)vbat, (unsigned)humidity, (unsigned)water, (double)board_temp, (double)fBiasPos,
      (double)fBiasNeg, line);
}

// ---- sensor voltages ---------------------------------------------------------

void voltages_row(bool with_vb) {
  static const IsoChannel order[] = {IsoChannel::Vrse_B, IsoChannel::Vrse, IsoChannel::Vrsi_B,
                                     IsoChannel::Vrsi,   IsoChannel::Ik,   IsoChannel::Vk,
                                     IsoChannel::Ib,     IsoChannel::Vb,   IsoChannel::Vtherm};
  char now[24];
  now_text(now, sizeof now);
  uprintf("%s", now);
  for (IsoChannel ch : order) {
    if (ch == IsoChannel::Vb && !with_vb) continue;
    uprintf(", %.6f", (double)iso_read(ch, 1, 5));
  }
  uprintf("\n");
}

void print_internal_formulas() {
  const systemData &d = sys_data;
  uprintf("\nRtherm = 20000.0 / (3.3 / Vtherm - 1.0)\n");
  if (d.app_cfg[APPCFG_THERM_EQUATION] == 1) {
    uprintf("TC = 1 / (A + B * ln(Rtherm) + C * ln(Rtherm)^3) - 273.15 + TCOffset\n");
    uprintf("   A = %.12f, B = %.12f, C = %.12f\n", d.shTherm_A, d.shTherm_B, d.shTherm_C);
  } else {
    uprintf("TC = c0 + c1 * Rtherm + c2 * log10(Rtherm) + c3 * log10(Rtherm)^3 + TCOffset\n");
    uprintf("   c0 = %.7f, c1 = %.5e, c2 = %.8f, c3 = %.9f\n", d.quadTherm_c0, d.quadTherm_c1,
            d.quadTherm_c2, d.quadTherm_c3);
  }
  uprintf("   TCOffset = %.6f\n", (double)d.TCOffset);
  uprintf("S_T = (TC + 273.15) * 8.31451 / 96487.0 * ln(10)     (Nernst slope, V/pH)\n");
  uprintf("Eo = k0int + (TC - 25.0) * -0.0011012,   k0int = %.6f\n", (double)d.k0int);
  uprintf("pH = (Vrsi_B - Eo) / S_T\n\n");
}

// ---- instruments ---------------------------------------------------------------

// An instrument exchange from its start until its machine says it is done,
// with step_ms before each step. The machines end themselves within a few
// seconds; the limit only guards against one that would not.
template <class Machine>
uint32_t run_machine(Machine step, uint32_t step_ms) {
  constexpr uint32_t kLimitMs = 120000;
  const uint32_t start = Timer_1ms(0);
  Timer_10ms(1);
  int state = 1;
  do {
    // Without a delay, a short pause: a machine waiting for its instrument
    // returns at once, and the bytes come at 9600 baud.
    if (step_ms) delay_msec(step_ms);
    else SysCtlDelay(100 * kDelayLoopsPerUs);
    state = step(state);
  } while (state != 0 && Timer_1ms(0) - start < kLimitMs);
  return Timer_10ms(0) * 10;
}

// The loop tests: runs until a byte arrives, which is then read and dropped.
template <class Machine, class Next>
void machine_loop(Machine step, void (*print_buf)(), const char *line, Next next_delay) {
  uint32_t step_ms = 100;
  while (!key_waiting()) {
    const uint32_t ms = run_machine(step, step_ms);
    print_buf();
    uprintf(line, (unsigned)ms, (unsigned)step_ms);
    step_ms = next_delay(step_ms);
    wait_or_key(300);
  }
  UARTgetc();
}

void print_instrument_menu() {
  uprintf("\n\n\nCommunicate with Instrument Menu:\n");
  if constexpr (kOmbrix) {
    uprintf("1 -- SBE37 MicroCAT (on CTD port)\n");
    uprintf("2 -- Aanderaa 5860 Conductivity (on CTD port)\n");
    uprintf("3 -- Aanderaa Optode\n");
    uprintf("4 -- Comm-Pwr Aux port\n");
    if (menu_level_1()) {
      uprintf("o/O- DEBUG Test Optode Setup\n");
      uprintf("p -- DEBUG Optode serial analyzer\n");
      uprintf("q -- DEBUG ctd aanderaa serial Analyzer\n");
      uprintf("r -- DEBUG ctd microcat serial Analyzer\n");
      uprintf("c/C- DEBUG Test conductivity\n");
    }
  } else {
    uprintf("3 -- Aanderaa Optode on J7\n");
    if (menu_level_1()) {
      uprintf("o/O- DEBUG Test Optode Setup\n");
      uprintf("p -- DEBUG Optode serial analyzer\n");
    }
  }
  uprintf("9 -- Exit\n");
  uprintf("\nEnter Selection [9]: ");
}

// One choice of the instrument menu; false to leave it.
bool instrument_choice(int key) {
  const bool debug = menu_level_1();
  const bool ctd_port = kOmbrix;  // Tavlo has no CTD entries
  if (ctd_port && key == '1') {
    ctd_microCat_comm_test();
  } else if (ctd_port && key == '2') {
    ctd_Aand5860_comm_test();
  } else if (key == '3') {
    optode_comm_test();
  } else if (ctd_port && key == '4') {
    uprintf("\n\nCOMM-PWR port not supported on OMBRIX, RS232 level shifter is not stuffed\n\n");
  } else if (ctd_port && debug && key == 'c') {
    const uint32_t ms = run_machine(ctd_stateMachine, 0);
    ctd_print_buf();
    uprintf("\n\nCTD Read Time = %u ms \n", (unsigned)ms);
  } else if (ctd_port && debug && key == 'C') {
    machine_loop(ctd_stateMachine, ctd_print_buf,
                 "\n\nCTD Read Time = %u ms, statemachine pump cycle = %u ms \n",
                 [](uint32_t ms) { return ms + 100; });
  } else if (debug && key == 'o') {
    const uint32_t ms = run_machine(optode_stateMachine, 0);
    optode_print_buf();
    uprintf("\n\nDebug Optode Read Time = %u ms \n", (unsigned)ms);
  } else if (debug && key == 'O') {
    // 100 ms more per run up to 1500 ms, then none for good.
    machine_loop(optode_stateMachine, optode_print_buf,
                 "\n\nOptode Read Time = %u ms  statemachine pump cycle = %u ms \n",
                 [](uint32_t ms) { return ms == 0 || ms + 100 > 1500 ? 0u : ms + 100; });
  } else if (debug && key == 'p') {
    optode_serial_analyzer();
  } else if (ctd_port && debug && key == 'q') {
    ctd_aanderaa_serial_analyzer();
  } else if (ctd_port && debug && key == 'r') {
    ctd_microcat_serial_analyzer();
  } else {
    return false;
  }
  return true;
}

// ---- power outputs ---------------------------------------------------------------

void print_power_menu() {
  uprintf("\n\n\nPower Output Test Menu -- %s\n", FIRMWARE_VERSION);
  if constexpr (kOmbrix) {
    uprintf("A/a -- Pump ON/off     (J12 AUX-PWR1)\n");
    uprintf("B/b -- AUX-PWR2 ON/off (J13 AUX-PWR2)\n");
    uprintf("C/c -- AUX-PWR3 ON/off (J14 COMM-PWR)\n");
  }
  uprintf("F/f -- 5v for Optode ON/off\n");
  uprintf("G/g -- Green LED\n");
  uprintf("R/r -- Red LED\n");
  if constexpr (kOmbrix) uprintf("S/s -- Solenoid ON/off\n");
  uprintf("\n");
  uprintf("9 -- Exit to Test Menu\n");
  uprintf("\nEnter Selection [9]: ");
}

// The solenoid machine holds its output off on every tick while idle, so a
// plain switch would be undone within a millisecond: the menu hands the
// output to the machine instead, held on or held off.
void solenoid_on() { pwmSoln_stateMachine(2); }
void solenoid_off() { pwmSoln_stateMachine(0); }

struct PowerKey {
  char key;
  const char *text;
  void (*action)();
  bool ombrix_only;
};

const PowerKey kPowerKeys[] = {
    {'A', "AUX-PWR1 ON\n", pwr_aux_pwr1_on, true},
    {'a', "AUX-PWR1 OFF\n", pwr_aux_pwr1_off, true},
    {'B', "AUX-PWR2 ON\n", pwr_aux_pwr2_on, true},
    {'b', "AUX-PWR2 OFF\n", pwr_aux_pwr2_off, true},
    {'C', "AUX-PWR3 ON (J14 COMM-PWR)\n", pwr_aux_pwr3_on, true},
    {'c', "AUX-PWR3 OFF (J14 COMM-PWR)\n", pwr_aux_pwr3_off, true},
    {'D', "Pump ON\n", pump_on, true},
    {'d', "Pump OFF\n", pump_off, true},
    {'F', "F/f -- 5v for Optode ON\n", optode_open, false},
    {'f', "F/f -- 5v for Optode off\n", optode_close, false},
    {'G', "Green On\n", led_green_on, false},
    {'g', "Green Off\n", led_green_off, false},
    {'R', "Red On\n", led_red_on, false},
    {'r', "Red Off\n", led_red_off, false},
    {'S', "Solenoid On (J9 SO/1)", solenoid_on, true},
    {'s', "Solenoid Off (J9 SO/1)", solenoid_off, true},
};

// ---- the 24-bit ADC, channel by channel -------------------------------------------

enum class LineKind : uint8_t { Plain, Ik, Ib };

struct AdcChannel {
  const char *label;    // the value lines' name
  const char *heading;  // what the channel is
  uint8_t mux, pos, neg;
  LineKind kind;
};

const AdcChannel kAdcChannels[9] = {
    {"Vrsi", "Vrsi (pH Int Ref) Voltage", 3, 1, 6, LineKind::Plain},
    {"Vrsi_B", "Vrsi_B (pH Int Ref, Biased) Voltage", 3, 1, 5, LineKind::Plain},
    {"Vrse", "Vrse (pH Ext Ref) Voltage", 0, 1, 6, LineKind::Plain},
    {"Vrse_B", "Vrse_B (pH Ext Ref, Biased) Voltage", 0, 1, 5, LineKind::Plain},
    {"Ik", "Ik (Counter Electrode Current) Voltage", 1, 1, 5, LineKind::Ik},
    {"Vk", "Vk (Counter Electrode) Voltage", 1, 1, 6, LineKind::Plain},
    {"Ib", "Ib (Substrate Current) Voltage", 2, 1, 6, LineKind::Ib},
    {"Vb", "Vb (Substrate) Voltage", 2, 5, 6, LineKind::Plain},
    {"Vtherm", "Vtherm (Thermistor) Voltage", 0, 0, 6, LineKind::Plain},
};

constexpr int kChannelTrials = 10;
const char *const kMuxBits[4] = {"00", "01", "10", "11"};

void print_adc_menu() {
  uprintf("\n\n\nTest pH (24bit ADC and Mux) Menu\n");
  uprintf("0 -- Vrsi    - ISFET Source (pH) Voltage wrt Int Ref\n");
  uprintf("1 -- Vrsi_B  - pH Volt Biased (pH 7 is 0v) wrt Int Ref\n");
  uprintf("2 -- Vrse    - ISFET Source (pH) Voltage wrt Ext Ref\n");
  uprintf("3 -- Vrse_B  - pH Volt Biased (pH 7 is 0v) wrt Ext Ref\n");
  uprintf("4 -- Ik      - Counter Electrode Current\n");
  uprintf("5 -- Vk      - Counter Electrode Voltage wrt Ground\n");
  uprintf("6 -- Ib      - Substrate Current\n");
  uprintf("7 -- Vb      - Substrate Voltage (Depracated)\n");
  uprintf("8 -- Vtherm  - Thermistor Temperature\n");
  uprintf("S -- Sample all channels (0-8)\n");
  uprintf("X -- Analog front end window test (needs the analog sensor simulator)\n");
  uprintf("9 -- Exit to Main Menu\n");
  uprintf("\nEnter Selection [9]: ");
}

void channel_line(const AdcChannel &c, float v, float std, unsigned samp, uint32_t ms,
                  const char *rate, const char *end) {
  switch (c.kind) {
    case LineKind::Ik:
      uprintf("Ik = (%.6f V / 15k) = %.2f nA , Std = %.6f V,  Samp = %04u,  Time = %04lu ms %s\n",
              (double)v, (double)v * 66666.667, (double)std, samp, (unsigned long)ms, rate);
      break;
    case LineKind::Ib:
      uprintf("Vb= %.6f V, Ib= %.3f nA, Vb Std = %.6f,  Samp = %04u,  Time = %04lu ms %s\n",
              (double)v, (double)v * 1000.0, (double)std, samp, (unsigned long)ms, rate);
      break;
    case LineKind::Plain:
      uprintf("%-6s = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms %s%s", c.label, (double)v,
              (double)std, samp, (unsigned long)ms, rate, end);
      break;
  }
}

void channel_test(const AdcChannel &c, char key, uint32_t period_ms) {
  ADS1248_gpio_ADG1609_mux(c.mux);
  delay_msec(10);
  uprintf("%c -- %s, Mux = %s,  AIN%u+ AIN%u-, sampleCnt = %u for 5Hz and %u for 20Hz\n", key,
          c.heading, kMuxBits[c.mux], (unsigned)c.pos, (unsigned)c.neg, (unsigned)kChannelTrials,
          (unsigned)kChannelTrials);
  const uint32_t start = Timer_1ms(0);
  unsigned samp = 0;
  repeat_until_key(period_ms, [&] {
    samp++;
    float v = pollADS1248_iso(c.pos, c.neg, kChannelTrials, 1, 5);
    channel_line(c, v, sys_samp.AD24_std, samp, Timer_1ms(0) - start, "5Hz", "\r\n");
    v = pollADS1248_iso(c.pos, c.neg, kChannelTrials, 1, 20);
    channel_line(c, v, sys_samp.AD24_std, samp, Timer_1ms(0) - start, "20Hz", "\n");
  });
}

// Every channel of the window table once, unjudged, Vb included.
void all_channels_row() {
  char now[24];
  now_text(now, sizeof now);
  uprintf("%s, ", now);
  for (int i = 0; i < kFrontEndChannels; i++) {
    const FrontEndWindow &w = front_end_windows[i];
    ADS1248_gpio_ADG1609_mux(w.mux);
    delay_msec(10);
    const float v = pollADS1248_iso(w.pos, w.neg, 1, w.gain, w.sps);
    uprintf(i == kFrontEndChannels - 1 ? " %.6f" : " %.6f, ", (double)v);
  }
  uprintf("\n");
}

void window_bounds(const char *label, bool low, bool with_vb) {
  uprintf("               %s:", label);
  for (int i = 0; i < kFrontEndChannels; i++) {
    const FrontEndWindow &w = front_end_windows[i];
    if (w.vb && !with_vb) continue;
    uprintf(i == kFrontEndChannels - 1 ? " %.6f" : " %.6f, ", (double)(low ? w.lo : w.hi));
  }
  uprintf("\n");
}

void window_test() {
  // The bounds and the header follow the row's own choice of columns.
  const bool vb = menu_level_1();
  uprintf("\n\n");
  window_bounds("MIN", true, vb);
  window_bounds("MAX", false, vb);
  if (vb)
    uprintf(
        "\n    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        Vk,"
        "         Ib,        Vb,       VTherm\n");
  else
    uprintf(
        "\n    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        Vk,"
        "         Ib,       VTherm\n");
  repeat_until_key(5000, [] { test_sampling_zuze(0); });
}

// ---- the test menu itself ------------------------------------------------------------

void print_test_menu() {
  uprintf("\n\n\nTest Menu:\n");
  uprintf("1 -- Battery and Board Sensors\n");
  uprintf("2 -- Durafet voltages\n");
  uprintf("3 -- Calc pH using Int Ref and Thermistor\n");
  uprintf("4 -- Calc pH using Ext Ref, Thermistor and Salinity\n");
  uprintf("5 -- Communicate with Instrument\n");
  uprintf("6 -- Power Output Tests for AUXx and Pump\n");
  uprintf("8 -- Test 24bit ADC and MUX channels\n");
  uprintf("D/d- Data Header, Live Data (D loop), Sample Timing\n");
  uprintf("M -- MetaData\n");
  uprintf("P -- Print QA report\n");
  uprintf("Q -- QA and setup after board manufacture\n");
  if (menu_level_1()) uprintf("S -- DEBUG sys_data print\n");
  uprintf("9 -- Exit to Main Menu\n");
  uprintf("\nEnter Selection [9]: ");
}

void fields_and_header() {
  print_config_data_fields();
  print_data_header();
}

void live_data() {
  fields_and_header();
  if (kOmbrix && sys_data.pumpon_time != 0)
    uprintf("\nHit Ctrl-X to terminate pump cycle followed by any key to terminate sample loop\n");
  else uprintf("\nHit any key to terminate sample loop\n");
  do fast_sample(1);
  while (!key_waiting());
  take_key_line();
}

void sample_timing() {
  fields_and_header();
  fast_sample(1);
  uprintf("\n ---  Sample Timing ---\n");
  fast_sample_timed(1);
}

}  // namespace

// ---- shared console helpers ---------------------------------------------------------------

bool key_waiting() { return UARTRxBytesAvail() > 0; }

bool wait_or_key(uint32_t ms) {
  const uint32_t start = Timer_1ms(0);
  while (Timer_1ms(0) - start < ms) {
    if (key_waiting()) return true;
    SysCtlSleep();
  }
  return key_waiting();
}

int menu_choice() {
  UARTFlushRx();
  wait_for_input(kMenuIdleS);
  return get_key();
}

void console_time(uint32_t rtc_seconds, char *buf, unsigned size) {
  struct tm t;
  rtc_to_tm(rtc_seconds, &t);
  rtc_strftime(buf, size, CONSOLE_TIME_FORMAT, &t);
}

// ---- bench tests ---------------------------------------------------------------------------

void display_battery_boardSensors() {
  pwr_env_mon_on();
  pwr_vbat_mon_on();
  pwr_iso_on();
  openADS1248_iso();
  delay_msec(100);
  uprintf("iso power on for reading bias batteries\n");
  ADS1248_gpio_init();
  adc_onchip_init();
  unsigned line = 0;
  repeat_until_key(500, [&] { battery_line(++line); });
  take_key_line();
  closeADS1248_iso();
  pwr_vbat_mon_off();
  pwr_iso_off();
  uprintf("iso power off, vbat monitoring off\n");
}

void display_ph_ref_therm_volts() {
  uprintf("\nOpen isolated ADS1248 and ADG1609 mux\n\n");
  openADS1248_iso();
  ADS1248_gpio_init();
  const bool vb = sys_data.diag != 0;
  if (vb)
    uprintf(
        "\n\n    SampTime,         Vrse_B,     Vrse,      Vrsi_B,      Vrsi,      Ik,         Vk,"
        "          Ib,         Vb,     Vtherm\n");
  else
    uprintf(
        "\n\n    SampTime,         Vrse_B,     Vrse,      Vrsi_B,      Vrsi,      Ik,         Vk,"
        "          Ib,     Vtherm\n");
  repeat_until_key(0, [&] { voltages_row(vb); });
  take_key_line();
  closeADS1248_iso();
}

void display_calcd_pH_intRef_therm() {
  openADS1248_iso();
  ADS1248_gpio_init();
  print_internal_formulas();
  repeat_until_key(0, [] {
    const float vtherm = iso_read(IsoChannel::Vtherm);
    const float tc = DuraFET_temp(vtherm, sys_data.TCOffset);
    const float vrsi_b = iso_read(IsoChannel::Vrsi_B);
    const float std = sys_samp.AD24_std;
    uprintf("pH= %2.6f,  TC= %2.6f,  Vtherm= %.6f V, Vrsi_B= %.6f V, std= %.6f\n",
            (double)calc_pHint(vrsi_b, tc), (double)tc, (double)vtherm, (double)vrsi_b,
            (double)std);
  });
  take_key_line();
  closeADS1248_iso();
}

void display_calcd_pH_extRef_therm_sal(float salinity) {
  openADS1248_iso();
  ADS1248_gpio_init();
  repeat_until_key(0, [salinity] {
    const float vtherm = iso_read(IsoChannel::Vtherm);
    const float tc = DuraFET_temp(vtherm, sys_data.TCOffset);
    const float vrse = iso_read(IsoChannel::Vrse);
    const float std = sys_samp.AD24_std;
    uprintf("pHext= %2.6f,  TC= %2.6f,  Vtherm= %.6f V, Vrse= %.6f V, std= %.6f\n",
            (double)calc_pHext(vrse, tc, salinity), (double)tc, (double)vtherm, (double)vrse,
            (double)std);
  });
  take_key_line();
  closeADS1248_iso();
}

void communicate_with_instruments() {
  for (;;) {
    print_instrument_menu();
    UARTFlushRx();
    if (!instrument_choice(get_key())) return;
  }
}

int power_output_tests() {
  for (;;) {
    print_power_menu();
    const int key = menu_choice();
    const PowerKey *found = nullptr;
    for (const PowerKey &p : kPowerKeys)
      if (p.key == key) found = &p;
    if (!found) return 1;
    if (found->ombrix_only && !kOmbrix) continue;  // not on this board: the menu again
    uprintf("%s", found->text);
    found->action();
  }
}

void test_24bit_adc_mux() {
  uprintf("\niso power on, init ADG1609 mux\n\n");
  openADS1248_iso();
  delay_msec(100);
  ADS1248_gpio_init();
  delay_msec(10);
  uint32_t period_ms = 2000;
  for (;;) {
    print_adc_menu();
    const int key = menu_choice();
    if (key >= '0' && key <= '8') {
      channel_test(kAdcChannels[key - '0'], (char)key, period_ms);
    } else if (key == 'S' || key == 's') {
      period_ms = 2000;
      uprintf(
          "\n\n    Date Time,         Vrsi,      Vrsi_B,    Vrse,       Vrse_B,      Ik,         "
          "Vk,"
          "         Ib,        Vb,     VTherm\n");
      repeat_until_key(period_ms, all_channels_row);
    } else if (key == 'X' || key == 'x') {
      period_ms = 5000;
      window_test();
    } else {
      uprintf("\nPress enter to bring up menu\n");
      closeADS1248_iso();
      uprintf("iso power off\n");
      return;
    }
    take_key_line();
  }
}

void test_menu() {
  for (;;) {
    print_test_menu();
    switch (menu_choice()) {
      case '1': display_battery_boardSensors(); break;
      case '2': display_ph_ref_therm_volts(); break;
      case '3': display_calcd_pH_intRef_therm(); break;
      case '4': display_calcd_pH_extRef_therm_sal(35.0f); break;
      case '5': communicate_with_instruments(); break;
      case '6': power_output_tests(); break;
      case '7': break;
      case '8': test_24bit_adc_mux(); break;
      case 'D': live_data(); break;
      case 'd': sample_timing(); break;
      case 'M':
      case 'm': print_write_metadata_header(HibernateRTCGet(), 1, 0); break;
      case 'P':
      case 'p':
        uprintf("\n\nQA Report:  \n\n");
        print_qa_report();
        break;
      case 'Q':
      case 'q':
        if (yesOrNoMenuChoice("\n\nQA for new board, this will wipe out ALL config and setup "
                              "data, do you wish to proceed? [N]? ",
                              0))
          board_qa_and_init(1);
        break;
      case 'S':
      case 's':
        if (menu_level_1()) {
          uprintf("sys_data structure:\n\n");
          print_sys_data_structure();
        }
        break;
      default: uprintf("\nPress enter to bring up main menu\n"); return;
    }
  }
}
