#include "config/config.h"

#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/main.h"
#include "core/rtc_time.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "fmt.h"
#include "storage/microsd.h"

const DataField data_fields[kDataFieldCount] = {
    {DF_SAMPLE_NUM, 'A', "Sample Num", " SampNum\t"},
    {DF_TIMESTAMP, 'B', "MM/DD/YYYY HH:MM:SS", "     MM/DD/YYYY HH:MM:SS\t"},
    {DF_VBAT, 'C', "Battery Volt", "VbatMain\t"},
    {DF_BIAS_POS, 'D', "Bias Battery Pos", "VbiasPos\t"},
    {DF_BIAS_NEG, 'E', "Bias Battery Neg", "VbiasNeg\t"},
    {DF_BOARD_TEMP, 'F', "Board Temperature", " TC_cont\t"},
    {DF_HUMIDITY, 'G', "Board Humidity", "Humidity\t"},
    {DF_VTHERM, 'H', "Vthermistor", "  Vtherm\t"},
    {DF_VTHERM_STD, 0, "Vtermistor Std", "VthrmStd\t"},
    {DF_TEMP_C, 'I', "Temperature Calc", " TC_Dfet\t"},
    {DF_VRSI, 'J', "Vrsi (Int Ref pH volt)", "    Vrsi\t"},
    {DF_VRSI_STD, 0, "Vrsi Std", "Vrsi_std\t"},
    {DF_PH_INT, 'K', "pH Vrsi Calc", "pHintEst\t"},
    {DF_VRSE, 'L', "Vrse (Ext Ref pH volt)", "    Vrse\t"},
    {DF_VRSE_STD, 0, "Vrse Std", "Vrse_std\t"},
    {DF_PH_EXT, 'M', "pH Vrse Calc", "pHextEst\t"},
    {DF_VRSI_B, 'N', "Vrsi Biased (7pH=0v)", "  Vrsi_B\t"},
    {DF_VRSI_B_STD, 'O', "Vrsi Biased Std", "VrsiBstd\t"},
    {DF_VRSE_B, 'P', "Vrse Biased (7pH=0v)", "  Vrse_B\t"},
    {DF_VRSE_B_STD, 'Q', "Vrse Biased Std", "VrseBstd\t"},
    {DF_VK, 'R', "Counter Electrode Vk", "      Vk\t"},
    {DF_VK_STD, 0, "Counter Electrode Vk Std", "  Vk_std\t"},
    {DF_IK, 'T', "Counter Electrode Cur Ik", "      Ik\t"},
    {DF_IB, 'U', "Substrate Current", "      Ib\t"},
    // The optode's reply brings its own leading tab and none at the end.
    {DF_OPTODE, 'V', "Optode",
     "\tOpt_PN\tOpt_SN\tMoxy\tO2satper\tTC_opt\tDphase\tBphase\tRphase\tBamp\tBpot\tRamp\tOpt_rawtemp"},
    {DF_CTD, 'W', "Conductivity", ""},
};

namespace {

constexpr uint32_t kMenuTimeoutS = 300;
constexpr uint32_t kRoomWaitMs = 1000;  // one line drains in 0.3 s at 9600 baud
constexpr size_t kLineSize = 256;       // as sd_fprintf and uprintf format

constexpr uint32_t F(int index) { return 1u << index; }
constexpr uint32_t kAllFields = F(kDataFieldCount) - 1;

// What the computed columns are computed from.
constexpr uint32_t kTempCNeeds = F(DF_VTHERM) | F(DF_VTHERM_STD) | F(DF_TEMP_C);
constexpr uint32_t kPhIntNeeds = F(DF_VRSI_B) | kTempCNeeds;
constexpr uint32_t kPhExtNeeds = F(DF_VRSE_B) | kTempCNeeds;

// Keys that switch more than their own field.
struct Coupling {
  char key;
  uint32_t also;
};
constexpr Coupling kCoupled[] = {
    {'H', F(DF_VTHERM_STD)},
    {'J', F(DF_VRSI_STD)},
    {'L', F(DF_VRSE_STD)},
    {'R', F(DF_VK_STD)},
    {'O', F(DF_VRSI_B)},
    {'Q', F(DF_VRSE_B)},
    {'K', kPhIntNeeds},
    {'M', kPhExtNeeds},
    {'h', F(DF_VTHERM_STD) | F(DF_PH_INT) | F(DF_PH_EXT)},
    {'i', F(DF_PH_INT) | F(DF_PH_EXT)},
    {'j', F(DF_VRSI_STD)},
    {'l', F(DF_VRSE_STD)},
    {'n', F(DF_VRSI_B_STD)},
    {'p', F(DF_VRSE_B_STD)},
    {'r', F(DF_VK_STD)},
};

constexpr uint32_t kCommon = F(DF_SAMPLE_NUM) | F(DF_VBAT) | F(DF_BIAS_POS) | F(DF_BIAS_NEG) |
                             F(DF_VK) | F(DF_VK_STD) | F(DF_IK) | F(DF_IB);
constexpr uint32_t kEnvironment = F(DF_BOARD_TEMP) | F(DF_HUMIDITY);
constexpr uint32_t kInternal = F(DF_VRSI) | F(DF_VRSI_STD) | F(DF_PH_INT);
constexpr uint32_t kExternal = F(DF_VRSE) | F(DF_VRSE_STD);

constexpr int kKeepCtd = -1;
struct Preset {
  char key;
  uint32_t on;  // every other field of the table off
  int ctd;      // value of the CTD field, or kKeepCtd
  bool ask_ctd;
};
// The GLIDER line lists M, so it gets M together with what M is computed from.
constexpr Preset kPresets[] = {
    {'0', 0, CTD_NONE, false},
    {'1', kAllFields & ~F(DF_CTD), kOmbrix ? CTD_SBE37 : kKeepCtd, kOmbrix},
    {'2', kCommon | F(DF_TIMESTAMP) | kExternal | F(DF_PH_EXT) | kPhExtNeeds, CTD_NONE, false},
    {'3', kCommon | F(DF_TIMESTAMP) | kEnvironment | kTempCNeeds | kInternal, CTD_NONE, false},
    {'4', kCommon | F(DF_TIMESTAMP) | kEnvironment | kTempCNeeds | kInternal | kExternal |
              F(DF_PH_EXT) | F(DF_OPTODE),
     CTD_SBE37, kOmbrix},
    {'5', kCommon | kEnvironment | kTempCNeeds | kInternal, CTD_NONE, false},
    {'6', kCommon | F(DF_TIMESTAMP) | kEnvironment | kTempCNeeds | kExternal, CTD_NONE, false},
};

const char *const kPresetLines[] = {
    "\n2 -- Use Case: GLIDER,          (A,B,C,D,E,L,M,R,T,U)",
    "\n3 -- Use Case: Tavlo Default,    (A,B,C,D,E,F,G,H,I,J,K,R,T,U)",
    "\n4 -- Use Case: Ombrix Default,   (A,B,C,D,E,F,G,H,I,J,K,L,M,R,T,U,V,W)",
    "\n5 -- Use Case: Ombrix m2m,       (A,C,D,E,F,G,H,I,J,K,R,T,U)",
    "\n6 -- Use Case: Ferrolt Default, (A,B,C,D,E,F,G,H,I,L,R,T,U)",
    "\n",
    "\n9 -- Exit to Main Menu",
    "\nEnter Selection [9]: ",
};

const DataField *field_of_letter(char letter) {
  for (const DataField &f : data_fields)
    if (f.letter == letter) return &f;
  return nullptr;
}

void set_fields(uint32_t mask, uint8_t value) {
  for (int i = 0; i < kDataFieldCount; i++)
    if (mask & F(i)) sys_data.data_cfg[i] = value;
}

// Acts on one menu key; false for a key that leaves the menu.
bool apply_key(int key) {
  for (const Preset &p : kPresets) {
    if (key != p.key) continue;
    for (int i = 0; i < DF_CTD; i++) sys_data.data_cfg[i] = (p.on & F(i)) ? 1 : 0;
    if (p.ctd != kKeepCtd) sys_data.data_cfg[DF_CTD] = (uint8_t)p.ctd;
    if (p.ask_ctd) user_select_ctd();
    return true;
  }
  if (key && strchr("78XYZxyzSs", key)) return true;  // keys without a field
  bool upper = key >= 'A' && key <= 'Z';
  bool lower = key >= 'a' && key <= 'z';
  if (!upper && !lower) return false;
  const DataField *f = field_of_letter(upper ? (char)key : (char)(key - 'a' + 'A'));
  if (!f) return true;
  if (f->index == DF_CTD) {
    if constexpr (kOmbrix) {
      if (upper) user_select_ctd();
      else sys_data.data_cfg[DF_CTD] = CTD_NONE;
    }
    return true;
  }
  uint32_t mask = F(f->index);
  for (const Coupling &c : kCoupled)
    if (c.key == key) mask |= c.also;
  set_fields(mask, upper ? 1 : 0);
  return true;
}

// The console ring drops what does not fit, and the long printouts here
// can outrun it at 9600 baud: each line first waits (bounded) for room.
void console_line(const char *s) {
  int need = 2 * (int)strlen(s) + 1;  // every LF may become CR LF
  uint32_t start = timer_1ms;
  while (UARTTxBytesFree() < need && timer_1ms - start < kRoomWaitMs) SysCtlSleep();
  uprintf("%s", s);
}

__attribute__((format(printf, 1, 2))) void con(const char *format, ...) {
  char line[kLineSize];
  va_list ap;
  va_start(ap, format);
  fmt_vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  console_line(line);
}

FIL data_file;

// One header being printed and/or appended to the data file. Each line's
// file copy goes first, then its console copy. The first failed write
// stops the file copy, so a header on the card is either whole or
// reported as failed.
class HeaderOut {
 public:
  explicit HeaderOut(bool print) : print_(print) {}

  // Opens the data file at its end for appending.
  bool open() {
    // The name comes from the stored record: never trust its terminator.
    char name[sizeof sys_data.fileName + 1];
    memcpy(name, sys_data.fileName, sizeof sys_data.fileName);
    name[sizeof sys_data.fileName] = 0;
    FRESULT res = f_open(&data_file, name, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
    if (res != FR_OK) {
      uprintf("f_open error: %s\n", StringFromFresult(res));
      failed_ = true;
      return false;
    }
    opened_ = true;
    res = f_lseek(&data_file, f_size(&data_file));
    if (res != FR_OK) {
      uprintf("f_lseek error: %s\n", StringFromFresult(res));
      failed_ = true;
      return false;
    }
    writing_ = true;
    return true;
  }

  bool writing() const { return writing_; }

  __attribute__((format(printf, 2, 3))) void line(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vlines(format, format, ap);
    va_end(ap);
  }

  // A line whose console copy has its own text (same arguments).
  __attribute__((format(printf, 2, 4))) void lines(const char *file_format,
                                                   const char *console_format, ...) {
    va_list ap;
    va_start(ap, console_format);
    vlines(file_format, console_format, ap);
    va_end(ap);
  }

  void file_text(const char *s) {
    if (!writing_) return;
    if (sd_fprintf(&data_file, "%s", s) != (int)strlen(s)) stop_writing();
  }

  // A line written with f_write itself, with its own failure message.
  void file_raw(const char *s, const char *error_format) {
    if (!writing_) return;
    UINT len = (UINT)strlen(s), written = 0;
    FRESULT res = f_write(&data_file, s, len, &written);
    if (res != FR_OK) uprintf(error_format, StringFromFresult(res));
    if (res != FR_OK || written != len) stop_writing();
  }

  void console_text(const char *s) {
    if (print_) console_line(s);
  }

  // Sets next_gdata_fptr past the block when all of it was written.
  void mark_end_for_transfer() {
    if (writing_) sys_samp.next_gdata_fptr = (uint32_t)f_tell(&data_file);
  }

  int finish() {
    if (opened_) {
      FRESULT res = f_close(&data_file);
      if (res != FR_OK) {
        uprintf("f_close error: %s\n", StringFromFresult(res));
        failed_ = true;
      }
      opened_ = writing_ = false;
    }
    return failed_ ? 1 : 0;
  }

 private:
  void stop_writing() {
    writing_ = false;
    failed_ = true;
  }

  void vlines(const char *file_format, const char *console_format, va_list ap) {
    char text[kLineSize];
    if (writing_) {
      va_list copy;
      va_copy(copy, ap);
      fmt_vsnprintf(text, sizeof text, file_format, copy);
      va_end(copy);
      file_text(text);
    }
    if (print_) {
      fmt_vsnprintf(text, sizeof text, console_format, ap);
      console_line(text);
    }
  }

  bool print_;
  bool opened_ = false;
  bool writing_ = false;
  bool failed_ = false;
};

bool ends_listing_group(uint8_t index) {
  return index == DF_TIMESTAMP || index == DF_HUMIDITY || index == DF_VRSE_B_STD || index == DF_IB;
}

// A string field of the record, and its length: bounded, as a string of
// the stored record may lack its terminator.
struct TextField {
  const char *label;
  const char *text;
  size_t size;
};

int len_of(const char *s, size_t size) {
  const void *end = memchr(s, 0, size);
  return (int)(end ? static_cast<const char *>(end) - s : (ptrdiff_t)size);
}

}  // namespace

bool field_in_record(int index) {
  if (index < 0 || index >= kDataFieldCount || !sys_data.data_cfg[index]) return false;
  return true;
}

const char *data_field_header(const DataField &f) {
  if (f.index == DF_OPTODE) {
    // A record's last field ends in a tab, so the header's last name does
    // too: the optode's names leave theirs to the CTD's, when those follow.
    uint8_t ctd = sys_data.data_cfg[DF_CTD];
    if (ctd == CTD_SBE37 || ctd == CTD_AANDERAA_5860) return f.header;
    return "\tOpt_PN\tOpt_SN\tMoxy\tO2satper\tTC_opt\tDphase\tBphase\tRphase\tBamp\tBpot\tRamp"
           "\tOpt_rawtemp\t";
  }
  if (f.index != DF_CTD) return f.header;
  switch (sys_data.data_cfg[DF_CTD]) {
    case CTD_SBE37:
      return "\tTC_MCat\tCond\tpSal\tPres\tDate_MC\tTime_MC\t";
    case CTD_AANDERAA_5860:
      return "\tCond_PN\tCond_SN\tCond\tTemp\tSal\tDensity\tSSpeed\t";
    default:
      return "";
  }
}

void user_select_ctd() {
  uprintf("Select CTD type[%u]:  1 -- SBE37 MicroCat, 2 -- Aanderaa 5860  ",
          sys_data.data_cfg[DF_CTD]);
  for (;;) {
    int key = get_key();
    if (key == '1' || key == '2') {
      sys_data.data_cfg[DF_CTD] = (uint8_t)(key - '0');
      return;
    }
    if (key == 0x18) {
      sys_data.data_cfg[DF_CTD] = CTD_NONE;
      return;
    }
    uprintf("Enter 1 or 2:  1 for SBE37 MicroCat, 2 for Aanderaa 5860, Ctrl-X to exit  ");
  }
}

void config_data_fields() {
  for (;;) {
    uprintf("\n\n\nChange Data Field - lower case turns data field off (=0), upper case turns "
            "field on (=1)\n\n\n");
    print_config_data_fields();
    wait_consoleTx();
    uprintf("\n0 -- Zero (Clear) all config fields");
    uprintf("\n1 -- Set all config fields");
    delay_msec(200);
    for (const char *line : kPresetLines) uprintf("%s", line);

    UARTFlushRx();
    uint32_t start = HibernateRTCGet();
    while (UARTRxBytesAvail() == 0) {
      if (HibernateRTCGet() - start >= kMenuTimeoutS) {
        sleep(IDLE, 0);
        start = HibernateRTCGet();  // hibernation refused: wait another period
      }
      SysCtlSleep();
    }
    if (!apply_key(get_key())) break;
  }
  sys_data.fast_mode = 1;
  if (storeSysDataVariables() == 0)
    uprintf("\n\nSystem data stored. (910) -- Press enter to bring up main menu\n");
  else
    uprintf("\n\nError storing system data.\n");
}

int print_write_config_data_fields(int printFlg, int writeFlg) {
  if (microSD_flg != 1 || kTavlo) writeFlg = 0;
  const char *prefix = !kTavlo && (printFlg >= 2 || writeFlg >= 2) ? "// " : "";
  HeaderOut out(printFlg != 0);
  if (writeFlg == 1) out.open();
  for (const DataField &f : data_fields) {
    uint8_t v = sys_data.data_cfg[f.index];
    const char *tail = "";
    if (f.index == DF_CTD) {
      if (kTavlo || v > CTD_AANDERAA_5860) continue;
      if (v == CTD_SBE37) tail = ",  SBE37 MicroCat";
      if (v == CTD_AANDERAA_5860) tail = ",  Aanderaa 5860";
    }
    if (f.letter)
      out.line("%s%c -- %-25s= %u%s\n", prefix, f.letter, f.name, v, tail);
    else
      out.line("%s     %-25s= %u%s\n", prefix, f.name, v, tail);
    if (printFlg == 1 && ends_listing_group(f.index)) out.console_text("\n");
  }
  out.mark_end_for_transfer();
  return out.finish();
}

void print_config_data_fields() { print_write_config_data_fields(1, 0); }

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
    out.line("// Firmware version: \t%.*s\n", len_of(d.qa.firmware_version, sizeof d.qa.firmware_version),
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
    out.line("%s%.*s\n", s.label, len_of(s.text, s.size), s.text);
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

void print_sys_data_structure() {
  const systemData &d = sys_data;
  con("// ------ sys_data structure printed, size = %u ---- \n", (unsigned)sizeof(systemData));
  con("// sampling_period: %u\n", (unsigned)d.sampling_period);
  con("// averaging_interval: %u\n", (unsigned)d.averaging_interval);
  con("// pumpon_time: %u\n", (unsigned)d.pumpon_time);
  con("// low_batt_volt: %.6f\n", (double)d.low_batt_volt);
  con("// TCOffset: %.6f\n", (double)d.TCOffset);
  con("// k0ext: %.6f\n", (double)d.k0ext);
  con("// k0int: %.6f\n", (double)d.k0int);
  con("// k2ext: %.6f\n", (double)d.k2ext);
  con("// k2int: %.6f\n", (double)d.k2int);
  con("// quadTherm_c0: %.11lf\n", d.quadTherm_c0);
  con("// quadTherm_c1: %.11lf\n", d.quadTherm_c1);
  con("// quadTherm_c2: %.11lf\n", d.quadTherm_c2);
  con("// quadTherm_c3: %.11lf\n", d.quadTherm_c3);
  con("// shTherm_A: %.11lf\n", d.shTherm_A);
  con("// shTherm_B: %.11lf\n", d.shTherm_B);
  con("// shTherm_C: %.11lf\n", d.shTherm_C);
  con("// default_sal: %.6f\n", (double)d.default_sal);
  con("// sensor_sal: %.6f\n", (double)d.sensor_sal);
  wait_consoleTx();

  struct Channel {
    const char *name;
    uint32_t sps, trials;
  };
  const Channel channels[] = {
      {"Vrsi", d.Vrsi_sps, d.Vrsi_trials},     {"Vrse", d.Vrse_sps, d.Vrse_trials},
      {"Vtherm", d.Vtherm_sps, d.Vtherm_trials}, {"Ik", d.Ik_sps, d.Ik_trials},
      {"Vk", d.Vk_sps, d.Vk_trials},           {"Ib", d.Ib_sps, d.Ib_trials},
      {"Vb", d.Vb_sps, d.Vb_trials},           {"Vbias", d.Vbias_sps, d.Vbias_trials},
  };
  for (const Channel &c : channels) {
    con("// %s_sps: %u\n", c.name, (unsigned)c.sps);
    con("// %s_trials: %u\n", c.name, (unsigned)c.trials);
  }
  con("// offset_Ik: %u\n", (unsigned)d.offset_Ik);
  con("// offset_Ib: %u\n", (unsigned)d.offset_Ib);
  con("// output: %u\n", (unsigned)d.output);
  con("// fast_mode: %u\n", (unsigned)d.fast_mode);
  con("// solenoid_on2hold_msec: %u msec\n", (unsigned)d.solenoid_on2hold_msec);
  con("// solenoid_hold_pwm: %u\n", (unsigned)d.solenoid_hold_pwm);
  con("// solenoid_holdtime: %u sec\n", (unsigned)d.solenoid_holdtime);
  con("// baud_rate: %u\n", (unsigned)d.baud_rate);
  wait_consoleTx();

  print_config_data_fields();
  con("// GMT: %u\n", (unsigned)d.GMT);
  con("// sample_aligned: %u\n", (unsigned)d.sample_aligned);
  con("// deploy_time: %u\n", (unsigned)d.deploy_time);
  for (unsigned i = 0; i < 9; i++) con("// spare[%u] : %.6f\n", i, (double)d.spare[i]);
  wait_consoleTx();

  const TextField texts[] = {
      {"fileName", d.fileName, sizeof d.fileName},
      {"user", d.user, sizeof d.user},
      {"board_SN", d.board_SN, sizeof d.board_SN},
      {"zuze_SN", d.zuze_SN, sizeof d.zuze_SN},
      {"durafet_SN", d.durafet_SN, sizeof d.durafet_SN},
      {"package_name", d.package_name, sizeof d.package_name},
      {"optode_SN", d.optode_SN, sizeof d.optode_SN},
      {"ctd_SN", d.ctd_SN, sizeof d.ctd_SN},
      {"pump_SN", d.pump_SN, sizeof d.pump_SN},
      {"deploy_note", d.deploy_note, sizeof d.deploy_note},
      {"board_fab_note", d.board_fab_note, sizeof d.board_fab_note},
  };
  for (const TextField &s : texts) con("// %s: %.*s\n", s.label, len_of(s.text, s.size), s.text);

  con("// state: %u\n", (unsigned)sys_samp.state);
  con("// nextWakeUp: %u\n", (unsigned)sys_samp.nextWakeUp);
  con("// next_gdata_fptr: %u\n", (unsigned)sys_samp.next_gdata_fptr);
  con("// current_sample: %u\n", (unsigned)sys_samp.current_sample);
  con("// AD24_std: %.6f\n", (double)sys_samp.AD24_std);
}
