#include "config/config_menu.h"

#include <cstring>

#include "config/config.h"
#include "config/menu_input.h"
#include "config/record.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/energy.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "measure/ph_cal.h"
#include "measure/sample.h"

namespace {

constexpr int kCoeffLine = 20;
constexpr int kNumberLine = 20;
constexpr int kName83 = 12;  // eight, a point and three

// Bytes of a text field of the record, terminator included.
consteval int field_size(const char *name) { return record_field(name).size; }

const char kStored[] = "\n\nSystem data stored.  -- Press enter to bring up main menu\n";
const char kStoreFailed[] = "\n\nError storing system data.\n";

void store_record() { uprintf("%s", storeSysDataVariables() == 0 ? kStored : kStoreFailed); }

// A menu's key: input flushed first, so that only what is typed after the
// menu was shown counts.
int wait_menu_key() {
  UARTFlushRx();
  return get_key();
}

// ---- entry 1 ---------------------------------------------------------------

void set_clock() {
  sys_data.GMT = (uint8_t)menu_yes_no("\n\nIs time GMT? (Y/N) [N]? ", 0);
  uint32_t t = getDateAndTime();
  if (t == 0) return;
  HibernateRTCSet(t);
  uprintf("\nTime now: ");
  printCurrentTime();
  uprintf(sys_data.GMT ? " GMT" : " Local");
  uprintf("\n\nNote: Daylight Savings not observed. Use GMT when this will be an issue.\n");
}

// ---- text fields -----------------------------------------------------------

// A string of the record, asked with its current value and kept when the
// answer is empty or refused.
struct TextPrompt {
  const char *prompt;  // one %s: the current value
  char *field;
  int size;          // the answer takes at most size - 1 characters
  const char *echo;  // one %s: the new value
  bool file_name;
};

void ask_text(const TextPrompt &p) {
  uprintf(p.prompt, p.field);
  char line[96];
  if (menu_read_text(line, p.size) != Answer::Text) return;
  if (p.file_name && !valid_file_name(line)) {
    uprintf("\nNot a file name of 8 characters, a point and 3 (no spaces): not changed\n");
    return;
  }
  strcpy(p.field, line);
  uprintf(p.echo, p.field);
}

void change_file_name() {
  ask_text({"\nEnter data file name (no spaces, 8 characters before .txt or .xls) [%s]: ",
            sys_data.fileName, field_size("fileName"), "\nFile name now: %s\n", true});
  ask_text({"\n\nEnter user initials [%s]: ", sys_data.user, field_size("user"),
            "\nUser initials now: %s\n", false});
}

// ---- entry 3 ---------------------------------------------------------------

const char *check_period(double v) {
  if (v < 0 || v > UINT32_MAX) return "\nEnter time less than or equal to 3600 sec";
  uint32_t p = (uint32_t)v;
  if (p == 0) uprintf("\nSample period is zero - polled mode\n");
  if (sys_data.sample_aligned && p != 0 && 3600 % p != 0)
    return "\nSample period must evenly divide hour (e.g. 5, 10, 15, 20, 30 minutes)";
  if (p > 3600) return "\nEnter time less than or equal to 3600 sec";
  return nullptr;
}

const char *check_pump(double v) {
  return v >= 0 && v <= 3600 ? nullptr : "\nEnter time less than 3600 sec";
}

const char *check_battery(double v) {
  return v >= 0 && v <= 30 ? nullptr : "\nEnter voltage less than 30 V";
}

void print_estimate() {
  uint32_t est = sample_time_estimate_ms();
  double s = est / 1000.0;
  uint32_t period = sys_data.sampling_period;
  if ((uint64_t)est <= (uint64_t)period * 1000 + 250)
    uprintf("\nEstimated sample time = %.2f sec, sample period = %u sec\n", s, (unsigned)period);
  else if (period == 0)
    uprintf("\nEstimated sample time = %.2f sec in polled mode (sample period is 0)\n", s);
  else
    uprintf(
        "\nError: Estimated sample time = %.2f sec, is greater than sample period = %u sec.  "
        "Increase sample period\n",
        s, (unsigned)period);
  // What the last scheduled sample measured costs at this period.
  EnergyEstimate e = energy_estimate(period);
  if (!e.known) return;
  uprintf("Last measured sample: %.2f sec awake, %.3f J", (double)e.awake_s, (double)e.sample_j);
  if (period)
    uprintf("; at this period %.3f mW average, %.1f days per Ah of a 12 V battery",
            (double)e.average_mw, (double)e.days_per_ah);
  uprintf("\n");
}

void deployment_parameters() {
  systemData &d = sys_data;
  d.sample_aligned =
      (uint8_t)(d.sample_aligned == 1 ? menu_yes_no("\n\nSample aligned to hour? (Y/N) [Y]? ", 1)
                                      : menu_yes_no("\n\nSample aligned to hour? (Y/N) [N]? ", 0));
  for (;;) {
    if (menu_edit("\nEnter sample period [%u] sec: ", d.sampling_period, check_period,
                  kNumberLine)) {
      uprintf("Sample period now %u sec.\n\n", (unsigned)d.sampling_period);
      break;
    }
    // The period kept must suit the alignment just chosen.
    if (!d.sample_aligned || d.sampling_period == 0 || 3600 % d.sampling_period == 0) break;
    uprintf("\nSample period must evenly divide hour (e.g. 5, 10, 15, 20, 30 minutes)");
  }
  if (menu_edit("\nEnter pump on time [%u] sec: ", d.pumpon_time, check_pump, kNumberLine))
    uprintf("Pump on time now %u sec.\n\n", (unsigned)d.pumpon_time);
  const char *battery = kOmbrix ? "\nEnter low battery_voltage (ex. 10.5 V with Pump) [%.1f V]: "
                                : "\nEnter low battery_voltage (ex. 5.5 V) [%.1f V]: ";
  if (menu_edit(battery, d.low_batt_volt, check_battery, kNumberLine))
    uprintf("\nLow battery_voltage now [%.1f V]\n\n", (double)d.low_batt_volt);

  uprintf("\nOutput mode menu\n");
  uprintf("1 -- Normal  (Data only)\n");
  uprintf("2 -- Verbose (Data with prompts)\n");
  uprintf("\nEnter Selection [%d]: ", (int)d.output);
  int key = get_key();
  if (key == '1') {
    d.output = NORMAL;
    uprintf("\n\nOutput mode now: NORMAL");
  } else if (key == '2') {
    d.output = VERBOSE;
    uprintf("\n\nOutput mode now: VERBOSE");
  }
  print_estimate();
}

// ---- entry 4 ---------------------------------------------------------------

constexpr char kK0intMsg[] = "Enter number between -2 and 2 (ex. -0.4)\n\n";
constexpr char kK0extMsg[] = "Enter number between -2 and 2 (ex. -1.3)\n\n";
constexpr char kK2Msg[] = "Enter number between -2 and 2 (ex. -0.001)\n\n";
constexpr char kTCOffsetMsg[] = "Enter a reasonable TCOffset such as 0.0\n\n";
constexpr char kSalMsg[] = "Enter 35.0\n\n";
constexpr char kC0Msg[] = "Enter number between 0 and 500 (ex. 340.9819863)\n\n";
constexpr char kC1Msg[] = "Enter number between 0.1 and -0.1 (ex. 0.0000910257)\n\n";
constexpr char kC2Msg[] = "Enter number between -200.0 and 200.0 (ex. -95.08806667)\n\n";
constexpr char kC3Msg[] = "Enter number between -2.0 and 2.0 (ex. 0.965370274)\n\n";
constexpr char kShMsg[] = "Enter number between -500 and 500, not sure what to recommend \n\n";

const char *check_c1(double v) { return v >= -0.1 && v <= 0.1 ? nullptr : kC1Msg; }

// A thermistor coefficient, confirmed when changed.
void edit_coefficient(const char *format, double &field, MenuCheck check, const char *confirm) {
  if (menu_edit(format, field, check, kCoeffLine)) uprintf(confirm, field);
}

void thermistor_coefficients() {
  systemData &d = sys_data;
  switch (d.app_cfg[APPCFG_THERM_EQUATION]) {
    case 0:
      uprintf("\n4 Var S-H coefficients for Thermistor to Temperature Celsius:\n");
      uprintf("     c0 = %.11lf\n", d.quadTherm_c0);
      uprintf("     c1 = %.11lf\n", d.quadTherm_c1);
      uprintf("     c2 = %.11lf\n", d.quadTherm_c2);
      uprintf("     c3 = %.11lf\n", d.quadTherm_c3);
      uprintf("\n");
      edit_coefficient("\nEnter 4 Var S-H c0 (ex. 340.9819863) [%.11lf]: ", d.quadTherm_c0,
                       menu_in_range<0, 500, kC0Msg>, "c0 = %.11lf");
      edit_coefficient("\nEnter 4 Var S-H c1 (ex. -0.0000910257, -9.10257E-05) [%.11lf]: ",
                       d.quadTherm_c1, check_c1, "c1 = %.11lf");
      edit_coefficient("\nEnter 4 Var S-H  c2 (ex. -95.08806667) [%.11lf]: ", d.quadTherm_c2,
                       menu_in_range<-200, 200, kC2Msg>, "c2 = %.11lf");
      edit_coefficient("\nEnter 4 Var S-H  c3 (ex. 0.965370274) [%.11lf]: ", d.quadTherm_c3,
                       menu_in_range<-2, 2, kC3Msg>, "c3 = %.11lf");
      break;
    case 1:
      uprintf("\n3 Var S-H coefficients for Thermistor to Temperature Celsius:\n");
      uprintf("      A = %.11lf\n", d.shTherm_A);
      uprintf("      B = %.11lf\n", d.shTherm_B);
      uprintf("      C = %.11lf\n", d.shTherm_C);
      uprintf("\n");
      edit_coefficient("\nEnter 3 Var Steinhart-Hart A  [%.11lf]: ", d.shTherm_A,
                       menu_in_range<-500, 500, kShMsg>, "A = %.11lf");
      edit_coefficient("\nEnter 3 Var Steinhart-Hart B  [%.11lf]: ", d.shTherm_B,
                       menu_in_range<-500, 500, kShMsg>, "B = %.11lf");
      edit_coefficient("\nEnter 3 Var Steinhart-Hart C  [%.11lf]: ", d.shTherm_C,
                       menu_in_range<-500, 500, kShMsg>, "C = %.11lf");
      break;
    default:
      break;
  }
}

// ---- the menu --------------------------------------------------------------

void print_menu() {
  const bool brief = sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1;
  uprintf("\n\n\nConfiguration Menu:\n");
  uprintf(brief ? "1 -- Clock\n" : "1 -- Set Clock\n");
  uprintf(brief ? "2 -- FileName\n" : "2 -- Change File Name\n");
  uprintf(brief ? "3 -- Deployment Parameters\n" : "3 -- Set Deployment Parameters\n");
  uprintf("4 -- Enter pH Sensor Calibration Coefficients\n");
  uprintf("5 -- Calculate pH Sensor Calibration Coefficients\n");
  uprintf(brief ? "6 -- Baud Rate\n" : "6 -- Change Baud Rate\n");
  uprintf(brief ? "7 -- Data Fields\n" : "7 -- Config Data Fields\n");
  uprintf(brief ? "8 -- Metadata\n" : "8 -- Metadata Settings\n");
  uprintf(brief ? "D -- Data Header, Live Data, Sample Timing\n"
                : "D -- Data Header, Sample Data, Sample Timing\n");
  if (sys_data.diag == 1) uprintf("S -- Print EEPROM Sys_data structure\n");
  uprintf("9 -- Exit to Main Menu\n");
  uprintf("\nEnter Selection [9]: ");
}

void timing_sample() {
  print_config_data_fields();
  print_data_header();
  fast_sample_timed(1);
}

}  // namespace

uint32_t sample_time_estimate_ms() {
  const uint8_t *f = sys_data.data_cfg;
  uint64_t ms = (uint64_t)sys_data.pumpon_time * 1000;
  if (f[DF_OPTODE] || f[DF_CTD]) ms += 2500;
  struct Cost {
    uint8_t index;
    uint16_t ms;
  };
  static const Cost costs[] = {
      {DF_BIAS_NEG, 25}, {DF_BIAS_POS, 25}, {DF_IB, 50},    {DF_IK, 50},      {DF_VK, 250},
      {DF_VTHERM, 250},  {DF_VRSI_B, 500},  {DF_VRSI, 500}, {DF_VRSE_B, 500}, {DF_VRSE, 500},
  };
  for (const Cost &c : costs)
    if (f[c.index]) ms += c.ms;
  ms += 150;
  return ms > UINT32_MAX ? UINT32_MAX : (uint32_t)ms;
}

bool valid_file_name(const char *name) {
  int base = 0, ext = -1;
  for (const char *p = name; *p; p++) {
    char c = *p;
    if (c == '.') {
      if (ext >= 0 || base == 0) return false;
      ext = 0;
      continue;
    }
    if ((unsigned char)c <= ' ' || (unsigned char)c >= 0x7F || strchr("\"*+,/:;<=>?[\\]|", c))
      return false;
    if (ext >= 0)
      ext++;
    else
      base++;
  }
  return base >= 1 && base <= 8 && ext != 0 && ext <= 3;
}

void enter_pH_sensor_cal_coeff() {
  systemData &d = sys_data;
  menu_edit("\nEnter k0int (ex. -0.4) [%f]: ", d.k0int, menu_in_range<-2, 2, kK0intMsg>,
            kCoeffLine);
  menu_edit("\nEnter k0ext (ex. -1.3) [%f]: ", d.k0ext, menu_in_range<-2, 2, kK0extMsg>,
            kCoeffLine);
  menu_edit("\nEnter k2int (ex. -0.001455) [%f]: ", d.k2int, menu_in_range<-2, 2, kK2Msg>,
            kCoeffLine);
  menu_edit("\nEnter k2ext (ex. -0.001081) [%f]: ", d.k2ext, menu_in_range<-2, 2, kK2Msg>,
            kCoeffLine);
  if (!(d.TCOffset >= -400.0f && d.TCOffset <= 400.0f)) d.TCOffset = 0.0f;
  menu_edit("\nEnter TCOffset [%f]: ", d.TCOffset, menu_in_range<-400, 400, kTCOffsetMsg>,
            kCoeffLine);
  if (!(d.default_sal >= 0.0f && d.default_sal <= 100.0f)) {
    uprintf(
        "Salinity out of range, recommend running the test menu, qa board menu to initialize "
        "vars in eeprom\n");
    d.default_sal = 35.0f;
  }
  menu_edit("\nEnter Salinity for Ext Ref pH calc (typical is 35) [%f]: ", d.default_sal,
            menu_in_range<0, 100, kSalMsg>, kCoeffLine);
  thermistor_coefficients();
}

void change_baud_rate() {
  uprintf(
      "\n\n\nChange Baud Rate - select baud menu item, change terminal baud rate, then hit 'V' "
      "to verify, then sleep and wakeup");
  uprintf("\n1 -- 115200");
  uprintf("\n2 -- 9600");
  uprintf("\n9 -- Exit to Main Menu");
  uprintf("\nEnter Selection [9]: ");
  int key = wait_menu_key();
  uint32_t baud = key == '1' ? 115200 : key == '2' ? 9600 : 0;
  if (baud) {
    sys_data.baud_rate = baud;
    // Let the echo of the key leave at the old rate before the switch.
    wait_consoleTx();
    delay_msec(2);
    UARTStdioConfig(0, baud, 16000000);
    return;
  }
  if (key == 'V' || key == 'v') {
    uprintf("\nBaud rate verify\n");
    return;
  }
  store_record();
}

void enter_metadata() {
  systemData &d = sys_data;
  const TextPrompt prompts[] = {
      {"\nEnter data file name (no spaces, 8.3 format) [%s]: ", d.fileName, kName83 + 1,
       "\nFile name now: %s\n", true},
      {"\nEnter user initials [%s]: ", d.user, field_size("user") - 1,
       "\nUser initials now: %s\n", false},
      {kOmbrix ? "\nEnter OMBRIX Serial # [%s]: " : "\nEnter Tavlo Serial # [%s]: ", d.board_SN,
       field_size("board_SN") - 1, "\nBoard Serial #: %s\n", false},
      {"\nEnter ZUZE Serial # [%s]: ", d.zuze_SN, field_size("zuze_SN") - 1,
       "\nZUZE Serial #: %s\n", false},
      {"\nEnter board Fabrication notes [%s]: ", d.board_fab_note,
       field_size("board_fab_note") - 1, "\nBoard Fab notes: %s\n", false},
      {"\nEnter Package name [%s]: ", d.package_name, field_size("package_name") - 1,
       "\nPackage name: %s\n", false},
      {"\nEnter Durafet Serial # [%s]: ", d.durafet_SN, field_size("durafet_SN") - 1,
       "\nDurafet Serial #: %s\n", false},
      {"\nEnter Optode Serial # [%s]: ", d.optode_SN, field_size("optode_SN") - 1,
       "\nOptode Serial #: %s\n", false},
  };
  for (const TextPrompt &p : prompts) ask_text(p);
  if constexpr (kOmbrix) {
    ask_text({"\nEnter Conductivity Serial # [%s]: ", d.ctd_SN, field_size("ctd_SN") - 1,
              "\nConductivity Serial #: %s\n", false});
    ask_text({"\nEnter Pump Serial #  [%s]: ", d.pump_SN, field_size("pump_SN") - 1,
              "\nPump Serial #: %s\n", false});
  }
}

void configuration_menu() {
  for (;;) {
    print_menu();
    switch (wait_menu_key()) {
      case ' ':
      case 'D':
      case 'd':
        timing_sample();
        break;
      case '1':
        set_clock();
        break;
      case '2':
        change_file_name();
        break;
      case '3':
        deployment_parameters();
        break;
      case '4':
        enter_pH_sensor_cal_coeff();
        break;
      case '5':
        ph_calib();
        break;
      case '6':
        change_baud_rate();
        break;
      case '7':
        config_data_fields();
        break;
      case '8':
        uprintf("\nMetadata Settings:\n");
        enter_metadata();
        break;
      case 'S':
      case 's':
        print_sys_data_structure();
        break;
      default:
        store_record();
        return;
    }
  }
}
