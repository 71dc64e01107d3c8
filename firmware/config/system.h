// The configuration record (EEPROM) and the sampling state (FRAM): the two
// things that survive hibernation.
#pragma once
#include <cstddef>
#include <cstdint>

enum output_mode : uint8_t { NORMAL = 1, VERBOSE = 2 };

// Sampling states (sys_samp.state).
enum : int32_t { IDLE = 0, START = 1, DEPLOYED = 2, COMMAND = 3 };

constexpr int APPCFG_TIMING_REPORT = 0;
constexpr int APPCFG_THERM_EQUATION = 1;
constexpr int APPCFG_MENU_LEVEL = 3;

struct qaData {
  uint32_t microSD;
  uint32_t time;
  uint32_t test_time;
  uint32_t eeprom;
  uint32_t sys_data_init;
  uint32_t fram;
  uint32_t adc12onchip;
  uint32_t adc24;
  float Vrsi, Vrsi_std, Vrsi_err;
  float Vrse, Vrse_std, Vrse_err;
  float Vtherm, Vtherm_std, Vtherm_err;
  float Ik, Ik_std, Ik_err;
  float Vk, Vk_std, Vk_err;
  float Ib, Ib_std, Ib_err;
  float Vb, Vb_std, Vb_err;
  float Vbias_pos;
  float Vbias_neg;
  uint32_t aux_pwr1, aux_pwr2, aux_pwr3;
  uint32_t ctd, optode, comm_pwr;
  char tester[48];
  char firmware_version[32];
};

struct systemData {
  uint32_t sampling_period;
  uint32_t sample_average;
  uint32_t averaging_interval;
  uint32_t pumpon_time;
  float low_batt_volt;
  float TCOffset;
  float k0ext;
  float k0int;
  float k2ext;
  float k2int;
  double quadTherm_c0;
  double quadTherm_c1;
  double quadTherm_c2;
  double quadTherm_c3;
  double shTherm_A;
  double shTherm_B;
  double shTherm_C;
  float default_sal;
  float sensor_sal;
  uint32_t Vrsi_sps, Vrsi_trials;
  uint32_t Vrse_sps, Vrse_trials;
  uint32_t Vtherm_sps, Vtherm_trials;
  uint32_t Ik_sps, Ik_trials;
  uint32_t Vk_sps, Vk_trials;
  uint32_t Ib_sps, Ib_trials;
  uint32_t Vb_sps, Vb_trials;
  uint32_t Vbias_sps, Vbias_trials;
  uint32_t offset_Ik;
  uint32_t offset_Ib;
  output_mode output;
  uint32_t test_mode;
  uint32_t fast_mode;
  uint32_t solenoid_on2hold_msec;
  uint32_t solenoid_hold_pwm;
  uint32_t solenoid_holdtime;
  uint32_t baud_rate;
  uint8_t data_cfg[32];
  uint8_t app_cfg[8];
  uint8_t GMT;
  uint8_t sample_aligned;
  uint32_t deploy_time;
  uint32_t diag;
  uint32_t debug_flag;
  float spare[9];
  char fileName[16];
  char user[8];
  char board_SN[24];
  char zuze_SN[24];
  char durafet_SN[24];
  char package_name[32];
  char optode_SN[24];
  char ctd_SN[24];
  char pump_SN[24];
  char board_fab_note[80];
  char deploy_note[80];
  qaData qa;
};

struct systemSamplingData {
  int32_t state;
  uint32_t nextWakeUp;
  uint32_t next_gdata_fptr;
  uint32_t current_sample;
  float AD24_std;
  uint32_t initNum;
};

// The stored images are these layouts byte for byte.
static_assert(sizeof(qaData) == 228);
static_assert(offsetof(qaData, Vrsi) == 32);
static_assert(offsetof(qaData, Vb_err) == 112);
static_assert(offsetof(qaData, Vbias_pos) == 116);
static_assert(offsetof(qaData, aux_pwr1) == 124);
static_assert(offsetof(qaData, comm_pwr) == 144);
static_assert(offsetof(qaData, tester) == 148);
static_assert(offsetof(qaData, firmware_version) == 196);

static_assert(sizeof(systemData) == 888);
static_assert(offsetof(systemData, sampling_period) == 0);
static_assert(offsetof(systemData, sample_average) == 4);
static_assert(offsetof(systemData, averaging_interval) == 8);
static_assert(offsetof(systemData, pumpon_time) == 12);
static_assert(offsetof(systemData, low_batt_volt) == 16);
static_assert(offsetof(systemData, TCOffset) == 20);
static_assert(offsetof(systemData, k0ext) == 24);
static_assert(offsetof(systemData, k0int) == 28);
static_assert(offsetof(systemData, k2ext) == 32);
static_assert(offsetof(systemData, k2int) == 36);
static_assert(offsetof(systemData, quadTherm_c0) == 40);
static_assert(offsetof(systemData, quadTherm_c1) == 48);
static_assert(offsetof(systemData, quadTherm_c2) == 56);
static_assert(offsetof(systemData, quadTherm_c3) == 64);
static_assert(offsetof(systemData, shTherm_A) == 72);
static_assert(offsetof(systemData, shTherm_B) == 80);
static_assert(offsetof(systemData, shTherm_C) == 88);
static_assert(offsetof(systemData, default_sal) == 96);
static_assert(offsetof(systemData, sensor_sal) == 100);
static_assert(offsetof(systemData, Vrsi_sps) == 104);
static_assert(offsetof(systemData, Vrsi_trials) == 108);
static_assert(offsetof(systemData, Vrse_sps) == 112);
static_assert(offsetof(systemData, Vrse_trials) == 116);
static_assert(offsetof(systemData, Vtherm_sps) == 120);
static_assert(offsetof(systemData, Vtherm_trials) == 124);
static_assert(offsetof(systemData, Ik_sps) == 128);
static_assert(offsetof(systemData, Ik_trials) == 132);
static_assert(offsetof(systemData, Vk_sps) == 136);
static_assert(offsetof(systemData, Vk_trials) == 140);
static_assert(offsetof(systemData, Ib_sps) == 144);
static_assert(offsetof(systemData, Ib_trials) == 148);
static_assert(offsetof(systemData, Vb_sps) == 152);
static_assert(offsetof(systemData, Vb_trials) == 156);
static_assert(offsetof(systemData, Vbias_sps) == 160);
static_assert(offsetof(systemData, Vbias_trials) == 164);
static_assert(offsetof(systemData, offset_Ik) == 168);
static_assert(offsetof(systemData, offset_Ib) == 172);
static_assert(offsetof(systemData, output) == 176);
static_assert(sizeof(output_mode) == 1);
static_assert(offsetof(systemData, test_mode) == 180);
static_assert(offsetof(systemData, fast_mode) == 184);
static_assert(offsetof(systemData, solenoid_on2hold_msec) == 188);
static_assert(offsetof(systemData, solenoid_hold_pwm) == 192);
static_assert(offsetof(systemData, solenoid_holdtime) == 196);
static_assert(offsetof(systemData, baud_rate) == 200);
static_assert(offsetof(systemData, data_cfg) == 204);
static_assert(offsetof(systemData, app_cfg) == 236);
static_assert(offsetof(systemData, GMT) == 244);
static_assert(offsetof(systemData, sample_aligned) == 245);
static_assert(offsetof(systemData, deploy_time) == 248);
static_assert(offsetof(systemData, diag) == 252);
static_assert(offsetof(systemData, debug_flag) == 256);
static_assert(offsetof(systemData, spare) == 260);
static_assert(offsetof(systemData, fileName) == 296);
static_assert(offsetof(systemData, user) == 312);
static_assert(offsetof(systemData, board_SN) == 320);
static_assert(offsetof(systemData, zuze_SN) == 344);
static_assert(offsetof(systemData, durafet_SN) == 368);
static_assert(offsetof(systemData, package_name) == 392);
static_assert(offsetof(systemData, optode_SN) == 424);
static_assert(offsetof(systemData, ctd_SN) == 448);
static_assert(offsetof(systemData, pump_SN) == 472);
static_assert(offsetof(systemData, board_fab_note) == 496);
static_assert(offsetof(systemData, deploy_note) == 576);
static_assert(offsetof(systemData, qa) == 656);

static_assert(sizeof(systemSamplingData) == 24);
static_assert(offsetof(systemSamplingData, nextWakeUp) == 4);
static_assert(offsetof(systemSamplingData, next_gdata_fptr) == 8);
static_assert(offsetof(systemSamplingData, current_sample) == 12);
static_assert(offsetof(systemSamplingData, AD24_std) == 16);
static_assert(offsetof(systemSamplingData, initNum) == 20);

constexpr uint32_t SYS_DATA_EEPROM_ADDR = 1024;
constexpr uint32_t SYS_SAMP_INIT_NUM = 0x55AA55AA;

extern systemData sys_data;
extern systemSamplingData sys_samp;

int storeSysDataVariables();
void retrieveSysDataVariables();
void config_sys_data_default_init();
void config_qa_data_init();

// The default data-field selection (field table order by index).
void config_default_data_fields();

// Ends every string array of the record with a NUL, so that a record read
// from a blank or corrupted EEPROM is never read past an array's end.
void terminate_record_strings(systemData &d);
