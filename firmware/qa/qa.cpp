// The board QA procedure: defaults installed, then every interface checked
// in turn with the operator at the console, the results kept in sys_data.qa
// and stored, a report printed and appended to the day's QA file.
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "config/config.h"
#include "config/config_menu.h"
#include "config/error_log.h"
#include "config/i2c_fram.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/main.h"
#include "core/rtc_time.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/eeprom.h"
#include "driverlib/hibernate.h"
#include "ff.h"
#include "fmt.h"
#include "instruments/ctd_base.h"
#include "instruments/optode.h"
#include "measure/adc_onchip.h"
#include "measure/ads1248_iso.h"
#include "measure/sample.h"
#include "qa/bench.h"
#include "qa/test.h"
#include "storage/microsd.h"

const FrontEndWindow front_end_windows[kFrontEndChannels] = {
    {"Vrsi", 3, 1, 6, 1, 5, -0.0565f, -0.0535f, &qaData::Vrsi, &qaData::Vrsi_std, &qaData::Vrsi_err,
     false},
    {"Vrsi_B", 3, 1, 5, 1, 20, 0.673f, 0.679f, nullptr, nullptr, nullptr, false},
    {"Vrse", 0, 1, 6, 1, 5, -0.801f, -0.786f, &qaData::Vrse, &qaData::Vrse_std, &qaData::Vrse_err,
     false},
    {"Vrse_B", 0, 1, 5, 1, 20, -0.0705f, -0.057f, nullptr, nullptr, nullptr, false},
    {"Ik", 1, 1, 5, 4, 5, 0.258f, 0.335f, &qaData::Ik, &qaData::Ik_std, &qaData::Ik_err, false},
    {"Vk", 1, 1, 6, 4, 5, -0.501f, -0.498f, &qaData::Vk, &qaData::Vk_std, &qaData::Vk_err, false},
    {"Ib", 2, 1, 6, 1, 5, -0.401f, -0.393f, &qaData::Ib, &qaData::Ib_std, &qaData::Ib_err, false},
    {"Vb", 2, 5, 6, 1, 5, 0.0001f, 0.002f, &qaData::Vb, &qaData::Vb_std, &qaData::Vb_err, true},
    {"VTherm", 0, 0, 6, 1, 5, 0.992f, 1.0f, &qaData::Vtherm, &qaData::Vtherm_std,
     &qaData::Vtherm_err, false},
};

namespace {

constexpr uint32_t kEepromNeeded = sizeof(systemData);  // 888
constexpr size_t kVersionBytes = 18;                    // the string and its NUL
constexpr int kTesterLine = 46;                         // 45 characters
constexpr uint32_t kRowPeriodMs = 5000;

bool menu_level_1() { return sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1; }

// The report goes to the console and, once the procedure is over, to the
// QA file as well; one text for both.
class ReportOut {
 public:
  explicit ReportOut(FIL *file) : file_(file) {}
  __attribute__((format(printf, 2, 3))) void operator()(const char *fmt, ...) {
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    fmt_vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (!file_) {
      uprintf("%s", line);
    } else if (ok_) {
      UINT len = (UINT)strlen(line), written = 0;
      result_ = f_write(file_, line, len, &written);
      if (result_ == FR_OK && written != len) result_ = FR_DENIED;  // card full
      ok_ = result_ == FR_OK;
    }
  }
  FRESULT result() const { return result_; }

 private:
  FIL *file_;
  bool ok_ = true;
  FRESULT result_ = FR_OK;
};

const char *pass(uint32_t field) { return field ? "passed" : "failed"; }

void qa_report(ReportOut &out) {
  const qaData &q = sys_data.qa;
  char stamp[24];
  console_time(q.time, stamp, sizeof stamp);
  out("Tester: %.*s\n", (int)sizeof q.tester, q.tester);
  if constexpr (kOmbrix)
    out("Firmware version: %.*s\n", (int)sizeof q.firmware_version, q.firmware_version);
  out("Test time = %u sec\n", (unsigned)q.test_time);
  out("Test timestamp:  %s\n", stamp);
  out("microSD %s\n", pass(q.microSD));
  out("EEPROM %s\n", pass(q.eeprom));
  out(q.sys_data_init ? "sys_data initialized, passed\n" : "sys_data NOT initialized, failed\n");
  out("FRAM %s\n", pass(q.fram));
  if constexpr (kOmbrix) {
    out("Aux Pwr1 %s\n", pass(q.aux_pwr1));
    out("Aux Pwr2 %s\n", pass(q.aux_pwr2));
    out("Aux Pwr3 %s\n", pass(q.aux_pwr3));
    out("CTD %s\n", pass(q.ctd));
  }
  out("Optode %s\n", pass(q.optode));
  if constexpr (kOmbrix) out("Comm Pwr %s\n", pass(q.comm_pwr));

  const bool vb = menu_level_1();
  out("ADC24 report:\n");
  out("\tADCerr  \t Vrsi   \tVrsiStd \tVrsiErr \t  Vrse  \tVrseStd \tVrseErr \tVtherm  \tVthrmStd"
      "\tVthrmErr");
  if (vb)
    out("\t  Ik    \t Ik_std \t Ik_err \t  Vk    \t Vk_std \t Vk_err \t   Ib   \t  Ib_std\t Ib_err "
        "\t   Vb   \t  Vb_std \t Vb_err \t Vbias+ \t Vbias-\n");
  else
    out("\t  Ik    \t Ik_std \t Ik_err \t  Vk    \t Vk_std \t Vk_err \t   Ib   \t  Ib_std\t Ib_err "
        "\t Vbias+ \t  Vbias-\n");
  out("\t  %3u   \t", (unsigned)q.adc24);
  const float values[] = {q.Vrsi,   q.Vrsi_std,   q.Vrsi_err,   q.Vrse, q.Vrse_std, q.Vrse_err,
                          q.Vtherm, q.Vtherm_std, q.Vtherm_err, q.Ik,   q.Ik_std,   q.Ik_err,
                          q.Vk,     q.Vk_std,     q.Vk_err,     q.Ib,   q.Ib_std,   q.Ib_err,
                          q.Vb,     q.Vb_std,     q.Vb_err};
  const int n = vb ? 21 : 18;
  for (int i = 0; i < n; i++) out("%8.6f\t", (double)values[i]);
  out("%8.3f\t", (double)q.Vbias_pos);
  out("%8.3f\t", (double)q.Vbias_neg);
  out("\n");
}

// Step 6: the card takes a file. The day's QA file gets the last record, or
// a time-stamped line while there is none yet: an empty write would reach
// the card without writing anything and prove nothing. The check passes only
// when the file is also closed, since closing is what commits it.
void microsd_test() {
  qaData &q = sys_data.qa;
  q.microSD = 0;  // a pass of an earlier run never stands for this one
  uprintf("\nQA: ----- microSD test -----\n");
  char name[13];
  qa_file_name(q.time, name, sizeof name);
  FIL file;
  FRESULT res = f_open(&file, name, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
  if (res != FR_OK) {
    uprintf("QA file failed to open, check microSD card slot for 8GB uSD\n");
    return;
  }
  bool written = false;
  res = f_lseek(&file, f_size(&file));
  if (res != FR_OK) {
    uprintf("f_lseek error: %s\n", StringFromFresult(res));
    error_store("f_lseek error");
  } else {
    char stamp[64];
    const char *text = prnBuf;
    if (prnBuf[0] == 0) {
      char when[24];
      console_time(q.time, when, sizeof when);
      fmt_snprintf(stamp, sizeof stamp, "QA microSD test  %s\n", when);
      text = stamp;
    }
    UINT len = (UINT)strlen(text), done = 0;  // prnBuf is always terminated
    res = f_write(&file, text, len, &done);
    if (res == FR_OK && done != len) res = FR_DENIED;  // card full
    if (res == FR_OK) {
      written = true;
    } else {
      uprintf("  Fail: f_write error: %s\n", StringFromFresult(res));
      error_store("f_write error");
    }
  }
  res = f_close(&file);
  if (res != FR_OK) {
    uprintf("   Fail: f_close error: %s\n", StringFromFresult(res));
    error_store("f_close error");
    written = false;
  }
  if (written) {
    q.microSD = 1;
    uprintf("  Passed\n");
  }
}

// The report as printed, appended to the day's QA file: the card keeps the
// board's QA record next to its microSD check.
void append_report_to_file() {
  char name[13];
  qa_file_name(sys_data.qa.time, name, sizeof name);
  FIL file;
  FRESULT res = f_open(&file, name, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
  if (res == FR_OK) {
    res = f_lseek(&file, f_size(&file));
    if (res == FR_OK) {
      ReportOut out(&file);
      out("\nQA Report:\n");
      qa_report(out);
      res = out.result();
    }
    FRESULT closed = f_close(&file);
    if (res == FR_OK) res = closed;
  }
  if (res != FR_OK) {
    uprintf("\nQA report not written to %s: %s\n", name, StringFromFresult(res));
    if (res != FR_NOT_READY) error_store("QA report not written");
  }
}

void eeprom_and_defaults() {
  qaData &q = sys_data.qa;
  q.sys_data_init = 0;
  config_sys_data_default_init();
  const uint32_t size = EEPROMSizeGet();
  if (size >= kEepromNeeded) {
    q.eeprom = kEepromNeeded;
    uprintf("   Pass EEPROM (sys_data size %u)\n", (unsigned)kEepromNeeded);
    uprintf("   Pass sys_data init\n");
  } else {
    q.eeprom = 0;
    uprintf("   Fail EEPROM:  %u is less than sys_data size of %u\n", (unsigned)size,
            (unsigned)kEepromNeeded);
    uprintf("   Fail sys_data init\n");
  }
  memset(q.firmware_version, 0, sizeof q.firmware_version);
  memcpy(q.firmware_version, FIRMWARE_VERSION, kVersionBytes);
  q.fram = 0;
  // Too small an EEPROM cannot hold the record: its "Fail sys_data init"
  // above must not turn into a pass in the report.
  q.sys_data_init = q.eeprom != 0 ? 1 : 0;
  if (fram_probe() == FRAM_PROBE_OK) {
    q.fram = 1;
    uprintf("   Pass FRAM\n");
  } else {
    uprintf("   Fail FRAM.   This board cannot be used for science\n");
  }
  initSysSampFRAMVariables();
}

void tester_name() {
  qaData &q = sys_data.qa;
  uprintf("\nEnter Tester Name (your name will be added to the lottery drawing) [%.*s]: ",
          (int)sizeof q.tester, q.tester);
  unsigned char line[kTesterLine];
  if (getUserInput(line, sizeof line) > 0) {
    memset(q.tester, 0, sizeof q.tester);
    strncpy(q.tester, reinterpret_cast<const char *>(line), sizeof q.tester - 1);
  }
  uprintf("\nTester name recorded as: %.*s.  Welcome to Quality Assurance!\n", (int)sizeof q.tester,
          q.tester);
}

void clock_check() {
  uprintf("\nQA: ----- RTC test -----\n");
  sys_data.GMT = 0;
  const uint32_t entered = getDateAndTime();
  if (entered != 0) {
    HibernateRTCSet(entered);
    uprintf("\nTime now: ");
    printCurrentTime();
    uprintf(sys_data.GMT ? " GMT\n" : " Local\n");
  }
  uprintf("\n");
}

void metadata() {
  uprintf("\nQA: --------- Enter Meta Data  --------------\n");
  for (;;) {
    enter_metadata();
    uprintf("\n\n");
    if (!yesOrNoMenuChoice("Redo metadata entry (Y/N) [N]:  ", 0)) break;
    uprintf("\nwell ok, re-enter the metadata\n\n");
  }
  if (print_write_metadata_header(sys_data.qa.time, 1, 1) != 0) {
    sys_data.qa.microSD = 0;
    uprintf("FAIL: Not able to write metadata, File system error, check SD Card\n");
  }
}

void front_end_test() {
  qaData &q = sys_data.qa;
  uprintf(
      "\nAnalog to Digital test: iso power on, adg1609 mux init'd, reading ads1284 adc and testing "
      "analog frontend against expected variation \n\n");
  openADS1248_iso();
  delay_msec(100);
  ADS1248_gpio_init();
  delay_msec(10);
  Timer_10ms(1);
  uprintf(
      "Connect the analog sensor simulator to the sensor input. A row every 5 seconds; any key "
      "ends the test.\n");
  q.adc24 = 10;
  if (menu_level_1())
    uprintf(
        "\n\n    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        Vk,"
        "         Ib,        Vb,       VTherm\n");
  else
    uprintf(
        "\n\n    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        Vk,"
        "         Ib,       VTherm\n");
  repeat_until_key(kRowPeriodMs, [&] { q.adc24 = (uint32_t)test_sampling_zuze(1); });
  if (q.adc24 != 0) uprintf("sys_data.qa.adc24 error count = %u\n", (unsigned)q.adc24);
  get_key();
  closeADS1248_iso();
  uprintf("\niso power off\n");
}

void instruments() {
  qaData &q = sys_data.qa;
  if constexpr (kOmbrix) {
    uprintf("\nQA: ------- Testing External Instrument interfaces -------\n");
    q.ctd = ctd_qa_test() ? 1 : 0;
    uprintf(q.ctd ? "  CTD interface passed\n" : "  CTD interface failed\n");
  }
  q.optode = optode_qa_test() ? 1 : 0;
  uprintf(q.optode ? "  Optode interface passed\n" : "  Optode interface failed\n");
  uprintf("\n");
}

}  // namespace

void qa_file_name(uint32_t rtc_seconds, char *name, size_t size) {
  struct tm t;
  rtc_to_tm(rtc_seconds, &t);
  rtc_strftime(name, size, "qa%m%d%y.txt", &t);
}

int test_sampling_zuze(int qaFlg) {
  const bool record = qaFlg >= 1;
  const int trials = record ? 5 : 1;
  const bool vb = menu_level_1();
  qaData &q = sys_data.qa;
  char now[24];
  console_time(HibernateRTCGet(), now, sizeof now);
  uprintf("%s, ", now);
  int errors = 0;
  for (const FrontEndWindow &w : front_end_windows) {
    if (w.vb && !vb) {
      if (record) q.*w.value = q.*w.std = q.*w.err = 0.0f;
      continue;
    }
    ADS1248_gpio_ADG1609_mux(w.mux);
    delay_msec(10);
    const float v = pollADS1248_iso(w.pos, w.neg, trials, w.gain, w.sps);
    const float std = sys_samp.AD24_std;
    const bool last = &w == &front_end_windows[kFrontEndChannels - 1];
    uprintf(last ? " %.6f" : " %.6f, ", (double)v);
    // A reading the ADC never delivered (NaN) is no pass either.
    if (v < w.lo || std::isnan(v)) {
      errors++;
      uprintf(" Err ");
      if (record && w.err) q.*w.err = v - w.lo;
    } else if (v > w.hi) {
      errors++;
      uprintf(" Err ");
    }
    if (record && w.value) {
      q.*w.value = v;
      q.*w.std = std;
    }
  }
  if (errors) uprintf("  ERROR count = %d  ", errors);
  uprintf("\n");
  return errors;
}

void print_qa_report() {
  ReportOut out(nullptr);
  qa_report(out);
}

int board_qa_and_init(int initFlg) {
  qaData &q = sys_data.qa;
  uprintf("\nQA: ----- EEPROM / sys_data init -----\n");
  if (initFlg == 1) eeprom_and_defaults();
  tester_name();
  clock_check();
  q.time = HibernateRTCGet();
  char stamp[24];
  console_time(q.time, stamp, sizeof stamp);
  uprintf("   Test timestamp:  %s", stamp);
  microsd_test();
  metadata();

  uprintf("\nQA: about to turn iso power on - note current now on 12v supply\n");
  uprintf(
      "\nQA: hit any key, additional current of 2mA to 3mA is expected, more or less is a Fail.\n");
  get_key();

  uprintf(
      "checking bias battery and onboard environmental sensors: bias batteries should be above "
      "3.55v\n\n");
  display_battery_boardSensors();
  q.Vbias_pos = fBiasPos;
  q.Vbias_neg = fBiasNeg;

  front_end_test();
  q.aux_pwr1 = q.aux_pwr2 = q.aux_pwr3 = 0;
  q.ctd = q.optode = q.comm_pwr = 0;
  instruments();

  // The duration is taken before the store, so that the stored record has
  // it: a board switched off after its QA never hibernates to store it.
  q.test_time = HibernateRTCGet() - q.time;
  if (storeSysDataVariables() == 0) {
    uprintf("QA data written to EEPROM, use Test menu to see QA report\n");
  } else {
    q.sys_data_init = 0;
    q.eeprom = 0;
    uprintf("\n\nError storing system data in EEPROM\n");
  }

  uprintf("Elapsed time %u sec\n", (unsigned)q.test_time);
  uprintf("\n\n----- QA Procedure complete, QA Report:  -----\n\n");
  print_qa_report();
  append_report_to_file();
  uprintf("\n\nThankyou %.*s, your QA time was %u sec.  Have a nice day.\n\n", (int)sizeof q.tester,
          q.tester, (unsigned)q.test_time);
  return 1;
}
