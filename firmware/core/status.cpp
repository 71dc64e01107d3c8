// The status reply of a deployed logger ("ds"): one "name = value" line
// per figure, for a person at a terminal and for a mooring controller.
#include "core/status.h"

#include <cstring>
#include <ctime>

#include "config/i2c_fram.h"
#include "config/record.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/energy.h"
#include "core/main.h"
#include "core/rtc_time.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "ff.h"
#include "measure/adc_onchip.h"

namespace {

constexpr char kErrorLog[] = "Error.txt";
constexpr size_t kStampLen = 19;  // YYYY/MM/DD HH:MM:SS

FIL g_file;  // one file at a time; kept off the stack

void time_line(const char *name, uint32_t t) {
  struct tm tm;
  rtc_to_tm(t, &tm);
  char text[24];
  rtc_strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &tm);
  uprintf("%s = %s\n", name, text);
}

// A line of the record's own, under the field's name.
void field_line(const RecordField &f) {
  char value[96];
  format_field(value, sizeof value, &sys_data, f);
  uprintf("%s = %s\n", f.name, value);
}

const char *state_name(int32_t s) {
  switch (s) {
    case IDLE: return "IDLE";
    case START: return "START";
    case DEPLOYED: return "DEPLOYED";
    case COMMAND: return "COMMAND";
    default: return "unknown";
  }
}

// The number of n digits at s, or -1.
int digits(const char *s, int n) {
  int v = 0;
  for (int i = 0; i < n; i++) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// Seconds of a "YYYY/MM/DD HH:MM:SS " stamp; false when s is not one.
bool parse_stamp(const char *s, uint32_t *out) {
  static const int kAt[] = {4, 7, 10, 13, 16, 19};
  for (int i = 0; i < 6; i++)
    if (s[kAt[i]] != "// :: "[i]) return false;
  struct tm t{};
  t.tm_year = digits(s, 4) - 1900;
  t.tm_mon = digits(s + 5, 2) - 1;
  t.tm_mday = digits(s + 8, 2);
  t.tm_hour = digits(s + 11, 2);
  t.tm_min = digits(s + 14, 2);
  t.tm_sec = digits(s + 17, 2);
  if (t.tm_year < 0 || t.tm_mon < 0 || t.tm_mday < 0 || t.tm_hour < 0 || t.tm_min < 0 ||
      t.tm_sec < 0)
    return false;
  *out = tm_to_rtc(&t);
  return true;
}

// Entries of the error log stamped at or after `since`; -1 when the log
// cannot be read. Every entry starts a line with its time stamp; lines
// inside an entry's text are not stamps and are passed over.
int errors_since(uint32_t since) {
  FIL &f = g_file;
  FRESULT r = f_open(&f, kErrorLog, FA_READ);
  if (r == FR_NO_FILE) return 0;
  if (r != FR_OK) return -1;
  char chunk[64];
  char line[kStampLen + 2];
  size_t len = 0;
  bool at_start = true;
  int count = 0;
  for (;;) {
    UINT got = 0;
    if (f_read(&f, chunk, sizeof chunk, &got) != FR_OK) {
      count = -1;
      break;
    }
    for (UINT i = 0; i < got; i++) {
      char c = chunk[i];
      if (c == '\n') {
        at_start = true;
        len = 0;
        continue;
      }
      if (!at_start) continue;
      line[len++] = c;
      if (len < sizeof line - 1) continue;
      line[len] = 0;
      uint32_t t;
      if (parse_stamp(line, &t) && t >= since) count++;
      at_start = false;
    }
    if (got < sizeof chunk) break;
  }
  f_close(&f);
  return count;
}

// The main battery now: its monitor on for one scan, then off again.
float battery_now() {
  pwr_vbat_mon_on();
  delay_msec(1);
  adc_onchip_init();
  float v = adc_main_battery(read_monitors(Timer_1ms(0))[0]);
  pwr_vbat_mon_off();
  return v;
}

}  // namespace

void print_status() {
  uprintf("\nfirmware = %s\n", FIRMWARE_VERSION);
  uprintf("board = %s\n", kOmbrix ? "Ombrix" : "Tavlo");
  time_line("clock", HibernateRTCGet());
  uprintf("state = %s\n", state_name(sys_samp.state));
  field_line(record_field("sampling_period"));
  field_line(record_field("sample_aligned"));
  if (sys_samp.state == DEPLOYED && sys_data.sampling_period)
    time_line("next_wake", sys_samp.nextWakeUp);
  else
    uprintf("next_wake = on command\n");
  time_line("deploy_time", sys_data.deploy_time);
  uprintf("samples = %u\n", (unsigned)sys_samp.current_sample);
  field_line(record_field("fileName"));
  wait_consoleTx();

  bool card = microSD_flg == 1;
  if (card && f_open(&g_file, sys_data.fileName, FA_READ) == FR_OK) {
    uprintf("data_file_bytes = %lu\n", (unsigned long)f_size(&g_file));
    f_close(&g_file);
  } else {
    uprintf("data_file_bytes = none\n");
  }
  DWORD clusters = 0;
  FATFS *fs = nullptr;
  if (card && f_getfree("", &clusters, &fs) == FR_OK)
    uprintf("card_free_kB = %lu\n", (unsigned long)((uint64_t)clusters * fs->csize / 2));
  else
    uprintf("card_free_kB = none\n");
  uprintf("battery_V = %.2f\n", (double)battery_now());
  // A FRAM that failed earlier in the deployment has handed the sampling
  // state to the hibernation module for good.
  bool fram_ok = fram_probe() == FRAM_PROBE_OK && !fram_fallback_active();
  uprintf("fram = %s\n", fram_ok ? "ok" : "failed");
  uprintf("card = %s\n", !card ? "none" : fs ? "ok" : "failed");
  // The deployment's own start: deploy_time is a second after it.
  int errors = card ? errors_since(sys_data.deploy_time - 1) : -1;
  if (errors >= 0) uprintf("errors_since_deploy = %d\n", errors);
  else uprintf("errors_since_deploy = unknown\n");
  wait_consoleTx();

  print_energy_lines(energy_estimate(sys_data.sampling_period));
  wait_consoleTx();
}
