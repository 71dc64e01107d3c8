#include "provision.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum class T { U8, U32, I32, F32, F64, Str, Mode };

struct Field {
  const char *name;
  bool samp;  // in the sampling state rather than the record
  size_t offset;
  T type;
  size_t size;   // bytes of one element (strings: the array)
  size_t count;  // elements of an array field, 1 otherwise
};

#define D(f, t) {#f, false, offsetof(systemData, f), T::t, sizeof(systemData::f), 1}
#define DA(f, t, n) {#f, false, offsetof(systemData, f), T::t, sizeof(systemData::f) / (n), n}
#define Q(f, t) {"qa." #f, false, offsetof(systemData, qa) + offsetof(qaData, f), T::t, sizeof(qaData::f), 1}
#define S(f, t) {#f, true, offsetof(systemSamplingData, f), T::t, sizeof(systemSamplingData::f), 1}

const Field kFields[] = {
    D(sampling_period, U32), D(sample_average, U32), D(averaging_interval, U32),
    D(pumpon_time, U32), D(low_batt_volt, F32), D(TCOffset, F32), D(k0ext, F32), D(k0int, F32),
    D(k2ext, F32), D(k2int, F32), D(quadTherm_c0, F64), D(quadTherm_c1, F64),
    D(quadTherm_c2, F64), D(quadTherm_c3, F64), D(shTherm_A, F64), D(shTherm_B, F64),
    D(shTherm_C, F64), D(default_sal, F32), D(sensor_sal, F32), D(Vrsi_sps, U32),
    D(Vrsi_trials, U32), D(Vrse_sps, U32), D(Vrse_trials, U32), D(Vtherm_sps, U32),
    D(Vtherm_trials, U32), D(Ik_sps, U32), D(Ik_trials, U32), D(Vk_sps, U32), D(Vk_trials, U32),
    D(Ib_sps, U32), D(Ib_trials, U32), D(Vb_sps, U32), D(Vb_trials, U32), D(Vbias_sps, U32),
    D(Vbias_trials, U32), D(offset_Ik, U32), D(offset_Ib, U32), D(output, Mode),
    D(test_mode, U32), D(fast_mode, U32), D(solenoid_on2hold_msec, U32),
    D(solenoid_hold_pwm, U32), D(solenoid_holdtime, U32), D(baud_rate, U32),
    DA(data_cfg, U8, 32), DA(app_cfg, U8, 8), D(GMT, U8), D(sample_aligned, U8),
    D(deploy_time, U32), D(diag, U32), D(debug_flag, U32), DA(spare, F32, 9),
    D(fileName, Str), D(user, Str), D(board_SN, Str), D(zuze_SN, Str), D(durafet_SN, Str),
    D(package_name, Str), D(optode_SN, Str), D(ctd_SN, Str), D(pump_SN, Str),
    D(board_fab_note, Str), D(deploy_note, Str),
    Q(microSD, U32), Q(time, U32), Q(test_time, U32), Q(eeprom, U32), Q(sys_data_init, U32),
    Q(fram, U32), Q(adc12onchip, U32), Q(adc24, U32), Q(Vrsi, F32), Q(Vrsi_std, F32),
    Q(Vrsi_err, F32), Q(Vrse, F32), Q(Vrse_std, F32), Q(Vrse_err, F32), Q(Vtherm, F32),
    Q(Vtherm_std, F32), Q(Vtherm_err, F32), Q(Ik, F32), Q(Ik_std, F32), Q(Ik_err, F32),
    Q(Vk, F32), Q(Vk_std, F32), Q(Vk_err, F32), Q(Ib, F32), Q(Ib_std, F32), Q(Ib_err, F32),
    Q(Vb, F32), Q(Vb_std, F32), Q(Vb_err, F32), Q(Vbias_pos, F32), Q(Vbias_neg, F32),
    Q(aux_pwr1, U32), Q(aux_pwr2, U32), Q(aux_pwr3, U32), Q(ctd, U32), Q(optode, U32),
    Q(comm_pwr, U32), Q(tester, Str), Q(firmware_version, Str),
    S(state, I32), S(nextWakeUp, U32), S(next_gdata_fptr, U32), S(current_sample, U32),
    S(AD24_std, F32),
};

bool parse_int(const char *v, long long lo, long long hi, long long *out) {
  char *end;
  errno = 0;
  long long x = strtoll(v, &end, 0);
  if (errno || end == v || *end || x < lo || x > hi) return false;
  *out = x;
  return true;
}

bool parse_double(const char *v, double *out) {
  char *end;
  errno = 0;
  double x = strtod(v, &end);
  if (errno || end == v || *end) return false;
  *out = x;
  return true;
}

}  // namespace

bool provision_set(systemData &d, systemSamplingData &s, const char *assignment) {
  const char *eq = strchr(assignment, '=');
  if (!eq) {
    fprintf(stderr, "phlogger-sim: --set wants FIELD=VALUE, not '%s'\n", assignment);
    return false;
  }
  char name[64];
  size_t n = (size_t)(eq - assignment);
  if (n >= sizeof name) n = sizeof name - 1;
  memcpy(name, assignment, n);
  name[n] = 0;
  const char *value = eq + 1;
  const char *bare = name;
  if (!strncmp(bare, "sys_data.", 9)) bare += 9;
  else if (!strncmp(bare, "sys_samp.", 9)) bare += 9;

  long index = -1;
  char base[64];
  snprintf(base, sizeof base, "%s", bare);
  if (char *br = strchr(base, '[')) {
    char *end;
    index = strtol(br + 1, &end, 10);
    if (*end != ']' || end[1] != 0 || index < 0) {
      fprintf(stderr, "phlogger-sim: bad index in '%s'\n", name);
      return false;
    }
    *br = 0;
  }
  for (const Field &f : kFields) {
    if (strcmp(f.name, base) != 0) continue;
    if ((index >= 0) != (f.count > 1) || (index >= 0 && (size_t)index >= f.count)) {
      fprintf(stderr, "phlogger-sim: %s takes an index 0..%zu\n", f.name, f.count - 1);
      return false;
    }
    uint8_t *p = (f.samp ? reinterpret_cast<uint8_t *>(&s) : reinterpret_cast<uint8_t *>(&d)) +
                 f.offset + (index > 0 ? (size_t)index * f.size : 0);
    long long iv;
    double dv;
    switch (f.type) {
      case T::U8:
        if (!parse_int(value, 0, 255, &iv)) break;
        *p = (uint8_t)iv;
        return true;
      case T::Mode:
        if (!strcmp(value, "NORMAL")) iv = NORMAL;
        else if (!strcmp(value, "VERBOSE")) iv = VERBOSE;
        else if (!parse_int(value, 0, 255, &iv)) break;
        *p = (uint8_t)iv;
        return true;
      case T::U32: {
        if (!parse_int(value, 0, UINT32_MAX, &iv)) break;
        uint32_t v = (uint32_t)iv;
        memcpy(p, &v, 4);
        return true;
      }
      case T::I32: {
        if (!parse_int(value, INT32_MIN, INT32_MAX, &iv)) break;
        int32_t v = (int32_t)iv;
        memcpy(p, &v, 4);
        return true;
      }
      case T::F32: {
        if (!parse_double(value, &dv)) break;
        float v = (float)dv;
        memcpy(p, &v, 4);
        return true;
      }
      case T::F64:
        if (!parse_double(value, &dv)) break;
        memcpy(p, &dv, 8);
        return true;
      case T::Str:
        if (strlen(value) >= f.size) {
          fprintf(stderr, "phlogger-sim: %s holds at most %zu characters\n", f.name, f.size - 1);
          return false;
        }
        memset(p, 0, f.size);
        memcpy(p, value, strlen(value));
        return true;
    }
    fprintf(stderr, "phlogger-sim: bad value for %s: '%s'\n", f.name, value);
    return false;
  }
  fprintf(stderr, "phlogger-sim: no field '%s' (see --list-fields)\n", name);
  return false;
}

void provision_list_fields() {
  for (const Field &f : kFields) {
    if (f.count > 1) fprintf(stderr, "  %s[0..%zu]\n", f.name, f.count - 1);
    else fprintf(stderr, "  %s%s\n", f.name, f.samp ? "  (sampling state)" : "");
  }
}
