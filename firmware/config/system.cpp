// The configuration record: defaults, and its 888-byte image in the EEPROM.
#include "config/system.h"

#include <cstring>

#include "config/i2c_fram.h"
#include "config/record.h"
#include "core/user_io.h"
#include "driverlib/eeprom.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"

systemData sys_data;
systemSamplingData sys_samp;

namespace {

template <size_t N>
void set_str(char (&dst)[N], const char *src) {
  strncpy(dst, src, N - 1);
  dst[N - 1] = 0;
}

}  // namespace

// A string of the stored record ends in its array, and at the first erased
// byte: 0xFF is never text, and an erased field reads as empty.
void terminate_record_strings(systemData &d) {
  for (const RecordField &f : kRecordFields) {
    if (f.type != FieldType::Text) continue;
    char *s = reinterpret_cast<char *>(field_bytes(&d, f));
    s[f.size - 1] = 0;
    if (char *erased = static_cast<char *>(memchr(s, 0xFF, f.size))) *erased = 0;
  }
}

// Programs the record only where it differs from the stored copy: each
// EEPROM word stands about 500 000 programmings, which a store at every
// wake of a 20 s schedule would use up in months. Runs of changed words go
// in one call; each is read back, as a worn word no longer takes a value.
int storeSysDataVariables() {
  storeSysSampFRAMVariables();
  uint32_t *rec = reinterpret_cast<uint32_t *>(&sys_data);
  constexpr uint32_t kWords = sizeof sys_data / 4;
  uint32_t w = 0;
  while (w < kWords) {
    uint32_t stored;
    EEPROMRead(&stored, SYS_DATA_EEPROM_ADDR + 4 * w, 4);
    if (stored == rec[w]) {
      w++;
      continue;
    }
    uint32_t run = 1;
    for (; w + run < kWords; run++) {
      EEPROMRead(&stored, SYS_DATA_EEPROM_ADDR + 4 * (w + run), 4);
      if (stored == rec[w + run]) break;
    }
    uint32_t rc = EEPROMProgram(rec + w, SYS_DATA_EEPROM_ADDR + 4 * w, 4 * run);
    if (rc != 0) return (int)rc;
    for (uint32_t i = w; i < w + run; i++) {
      EEPROMRead(&stored, SYS_DATA_EEPROM_ADDR + 4 * i, 4);
      if (stored != rec[i]) return (int)EEPROM_RC_WKCOPY;
    }
    w += run + 1;  // the word after the run is known to match
  }
  return 0;
}

void retrieveSysDataVariables() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_EEPROM0);
  if (EEPROMInit() != EEPROM_INIT_OK) uprintf("EEPROM Initialization error.\n");
  EEPROMRead(reinterpret_cast<uint32_t *>(&sys_data), SYS_DATA_EEPROM_ADDR, sizeof sys_data);
  terminate_record_strings(sys_data);
  retrieveSysSampFRAMVariables();
}

void config_default_data_fields() {
  // Every field on except the external-reference pH, the biased
  // readings other than Vrsi_B, the optode and the CTD.
  static const uint8_t on[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 15, 16, 17, 18, 19, 20, 21, 22, 23};
  for (uint8_t i : on) sys_data.data_cfg[i] = 1;
}

void config_qa_data_init() {
  qaData &q = sys_data.qa;
  q.microSD = q.time = q.test_time = q.eeprom = q.sys_data_init = 0;
  q.fram = q.adc12onchip = q.adc24 = 0;
  q.Vrsi = q.Vrsi_std = q.Vrsi_err = 0.0f;
  q.Vrse = q.Vrse_std = q.Vrse_err = 0.0f;
  q.Vtherm = q.Vtherm_std = q.Vtherm_err = 0.0f;
  q.Ik = q.Ik_std = q.Ik_err = 0.0f;
  q.Vk = q.Vk_std = q.Vk_err = 0.0f;
  q.Ib = q.Ib_std = q.Ib_err = 0.0f;
  q.Vb = q.Vb_std = q.Vb_err = 0.0f;
  q.Vbias_pos = q.Vbias_neg = 0.0f;
  q.aux_pwr1 = q.aux_pwr2 = q.aux_pwr3 = 0;
  q.ctd = q.optode = q.comm_pwr = 0;
  memset(q.tester, 0, sizeof q.tester);
  memset(q.firmware_version, 0, sizeof q.firmware_version);
  set_str(q.tester, "Ridar Orud");
  set_str(q.firmware_version, "Version Not Defined");
}

void config_sys_data_default_init() {
  systemData &d = sys_data;
  // 1. Numbers.
  d.sampling_period = 0;
  d.sample_average = 10;
  d.averaging_interval = 60;
  d.pumpon_time = 0;
  d.low_batt_volt = 10.0f;
  d.TCOffset = 0.0f;
  d.k0ext = -1.3f;
  d.k0int = -0.4f;
  d.k2ext = -0.001081f;
  d.k2int = -0.001455f;
  d.quadTherm_c0 = 340.9819863;
  d.quadTherm_c1 = -9.10257e-05;
  d.quadTherm_c2 = -95.08806667;
  d.quadTherm_c3 = 0.965370274;
  d.shTherm_A = 0.002108508173;
  d.shTherm_B = 7.979204727e-05;
  d.shTherm_C = 6.535076315e-07;
  d.default_sal = 35.0f;
  d.sensor_sal = 0.0f;
  d.Vrsi_sps = 20;
  d.Vrsi_trials = 10;
  d.Vrse_sps = 20;
  d.Vrse_trials = 10;
  d.Vtherm_sps = 20;
  d.Vtherm_trials = 5;
  d.Ik_sps = 20;
  d.Ik_trials = 1;
  d.Vk_sps = 20;
  d.Vk_trials = 5;
  d.Ib_sps = 20;
  d.Ib_trials = 1;
  d.Vb_sps = 20;
  d.Vb_trials = 5;
  d.Vbias_sps = 40;
  d.Vbias_trials = 1;
  d.offset_Ik = 0;
  d.offset_Ib = 0;
  d.output = NORMAL;
  d.test_mode = 0;
  d.fast_mode = 1;
  d.solenoid_on2hold_msec = 100;
  d.solenoid_hold_pwm = 40;
  d.solenoid_holdtime = 10;
  d.baud_rate = 115200;
  d.deploy_time = 0;
  d.GMT = 0;
  d.sample_aligned = 0;
  d.diag = 0;
  d.debug_flag = 0;

  // 2. The sampling state.
  sys_samp.state = IDLE;
  sys_samp.next_gdata_fptr = 0;
  sys_samp.current_sample = 0;
  sys_samp.AD24_std = 0.0f;
  sys_samp.nextWakeUp = HibernateRTCGet() + d.sampling_period;

  // 3. Data fields.
  memset(d.data_cfg, 0, sizeof d.data_cfg);
  config_default_data_fields();

  // 4. Spares, computed in double and rounded to float.
  for (int i = 0; i < 9; i++) d.spare[i] = (float)(0.1 * i);

  // 5. Strings (whole arrays cleared, so the stored image is deterministic).
  memset(d.fileName, 0, sizeof d.fileName);
  memset(d.user, 0, sizeof d.user);
  set_str(d.fileName, "noname.txt");
  set_str(d.user, "abc");
  for (const RecordField &f : kRecordFields) {
    if (!(f.flags & kBlankDefault)) continue;
    uint8_t *s = field_bytes(&d, f);
    memset(s, 0, f.size);
    s[0] = ' ';
  }

  // 6. Application switches.
  memset(d.app_cfg, 0, sizeof d.app_cfg);

  // 7. QA results.
  config_qa_data_init();
}
