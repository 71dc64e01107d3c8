// The data header and the metadata header, printed and/or appended to the
// data file.
#include <cstdarg>
#include <cstring>

#include "config/config.h"
#include "config/header_out.h"
#include "config/record.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/main.h"
#include "core/rtc_time.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "fmt.h"

namespace {

// A string field of the record and its label.
struct TextField {
  const char *label;
  const char *text;
  size_t size;
};

}  // namespace

void console_line(const char *s) { uprintf("%s", s); }

__attribute__((format(printf, 1, 2))) void con(const char *format, ...) {
  char line[kLineSize];
  va_list ap;
  va_start(ap, format);
  fmt_vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  console_line(line);
}


int print_write_data_header(int printFlg, int writeFlg) {
  HeaderOut out(printFlg == 1);
  if (writeFlg == 1 && microSD_flg == 1) out.open();
  uprintf("\n\n");
  for (const DataField &f : data_fields)
    if (field_in_record(f.index)) out.line("%s", data_field_header(f));
  out.line("\n");
  if (printFlg == 1) wait_consoleTx();
  return out.finish();
}

int print_data_header() { return print_write_data_header(1, 0); }
int get_header() { return print_write_data_header(1, 0); }
int write_data_header() { return print_write_data_header(0, 1); }

int print_write_metadata_header(uint32_t currentTime, int printFlg, int writeFlg) {
  (void)currentTime;  // the header shows the deployment's own time
  const systemData &d = sys_data;
  bool print = printFlg == 1;
  HeaderOut out(print);
  if (writeFlg == 1 && microSD_flg == 1 && out.open()) out.file_text("\n\n");

  out.console_text("\n\n");
  out.line("//++************** Deployment Settings ***************\n");
  if constexpr (kOmbrix)
    out.line("// Firmware version: \t%.*s\n", text_len(d.qa.firmware_version, sizeof d.qa.firmware_version),
             d.qa.firmware_version);
  out.line("// Sampling period (s)\t%u\n", (unsigned)d.sampling_period);
  out.line(d.sample_aligned ? "// Samples hour align:\tYes\n" : "// Samples hour align:\tNo\n");
  if (d.test_mode == 0) out.line("// Pump on time (s):\t%u\n", (unsigned)d.pumpon_time);
  else out.line("// Pump on time (s):\t%u  (TEST MODE, pump disabled)\n", (unsigned)d.pumpon_time);
  out.line("// Low battery voltage:\t%.1f\n", (double)d.low_batt_volt);
  if (d.output == NORMAL) out.line("// Output mode:        \tNormal\n");
  else if (d.output == VERBOSE) out.line("// Output mode:        \tVerbose\n");

  struct tm t;
  rtc_to_tm(d.deploy_time, &t);
  char deployed[50];
  rtc_strftime(deployed, sizeof deployed, "// Deploy time:   \t%Y/%m/%d %H:%M:%S\n", &t);
  out.file_raw(deployed, "Current time f_write error: %s\n");
  out.console_text(deployed);

  out.line(d.GMT ? "// Time zone:       \tGMT\n" : "// Time zone:       \tLocal\n");
  if (print) wait_consoleTx();

  out.line("// TCOffset:     \t%f\n", (double)d.TCOffset);
  out.line("// k0int:        \t%f\n", (double)d.k0int);
  out.line("// k0ext:        \t%f\n", (double)d.k0ext);
  out.line("// k2int:        \t%f\n", (double)d.k2int);
  out.line("// k2ext:        \t%f\n", (double)d.k2ext);
  out.line("// Def Sal (ppt):\t%f\n", (double)d.default_sal);
  out.line("// Offset Ik:    \t%f\n", (double)d.offset_Ik);

  // The file says S-H, the console s-h.
  if (d.app_cfg[APPCFG_THERM_EQUATION] == 0) {
    out.lines("// S-H c0        \t%f\n", "// s-h c0        \t%f\n", d.quadTherm_c0);
    out.lines("// S-H c1        \t%f\n", "// s-h c1        \t%f\n", d.quadTherm_c1);
    out.lines("// S-H c2        \t%f\n", "// s-h c2        \t%f\n", d.quadTherm_c2);
    out.lines("// S-H c3        \t%f\n", "// s-h c3        \t%f\n", d.quadTherm_c3);
  } else if (d.app_cfg[APPCFG_THERM_EQUATION] == 1) {
    out.lines("// S-H A         \t%f\n", "// s-h A         \t%f\n", d.shTherm_A);
    out.lines("// S-H B         \t%f\n", "// s-h B         \t%f\n", d.shTherm_B);
    out.lines("// S-H C         \t%f\n", "// s-h C         \t%f\n", d.shTherm_C);
  }
  out.line("// Version Info: \t%s\n", FIRMWARE_VERSION);

  const TextField texts[] = {
      {"// File name:     \t", d.fileName, sizeof d.fileName},
      {"// User initials: \t", d.user, sizeof d.user},
      {"// Board SN:      \t", d.board_SN, sizeof d.board_SN},
      {"// ZUZE SN:       \t", d.zuze_SN, sizeof d.zuze_SN},
      {"// DuraFET SN:    \t", d.durafet_SN, sizeof d.durafet_SN},
      {"// Optode SN:     \t", d.optode_SN, sizeof d.optode_SN},
      {"// CTD SN:        \t", d.ctd_SN, sizeof d.ctd_SN},
      {"// Pump SN:       \t", d.pump_SN, sizeof d.pump_SN},
      {"// Package name:  \t", d.package_name, sizeof d.package_name},
      {"// Fab Note:      \t", d.board_fab_note, sizeof d.board_fab_note},
      {"// Deploy note:   \t", d.deploy_note, sizeof d.deploy_note},
  };
  for (const TextField &s : texts) {
    out.line("%s%.*s\n", s.label, text_len(s.text, s.size), s.text);
    if (print && s.text == d.user) wait_consoleTx();
  }

  // The listing is a console comment only, never part of the file.
  print_write_config_data_fields(2, 2);

  out.line("//--**************************************************\n");
  out.line("\n\n");
  out.mark_end_for_transfer();
  int result = out.finish();
  if (print) wait_consoleTx();
  return result;
}

int print_metadata_header(uint32_t currentTime) {
  return print_write_metadata_header(currentTime, 1, 0);
}
int write_metadata_header(uint32_t currentTime) {
  return print_write_metadata_header(currentTime, 0, 1);
}
int print_all_metadata() { return print_write_metadata_header(HibernateRTCGet(), 1, 0); }

