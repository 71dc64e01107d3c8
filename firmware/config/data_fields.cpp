// The data-record fields: the column table, the data-field menu with its
// presets, and the field listing.
#include <cstring>

#include "config/config.h"
#include "config/header_out.h"
#include "config/menu_input.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/main.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"

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

bool ends_listing_group(uint8_t index) {
  return index == DF_TIMESTAMP || index == DF_HUMIDITY || index == DF_VRSE_B_STD || index == DF_IB;
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

