// The sensor model of the simulated board: the DuraFET and its electrodes
// as node voltages behind the ADG1609, the bias batteries behind their
// divider, and the board's battery, humidity, water and temperature inputs
// of the on-chip ADC.
//
// Settings come from --sensor and --seawater (parsed in the runner's parent,
// so every wake inherits them) and from the scenario step "sensor", which
// runs inside one wake: those are kept in a file of the state directory and
// replayed by every later wake of the same run.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driverlib/gpio.h"
#include "frontend.h"
#include "inc/hw_memmap.h"
#include "runner.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

enum Sensor {
  kVrsi, kVrsi_B, kVrse, kVrse_B, kVk, kIk_V, kIb_V, kVtherm, kVb, kVbias_pos, kVbias_neg,
  kVbat, kBoardTemp, kHumidity, kWater, kNoise, kSeed, kSensors
};
constexpr const char *kNames[kSensors] = {
    "Vrsi", "Vrsi_B", "Vrse", "Vrse_B", "Vk", "Ik_V", "Ib_V", "Vtherm", "Vb", "Vbias_pos",
    "Vbias_neg", "Vbat", "board_temp", "humidity", "water", "noise_uV", "seed"};

// A calm sea and a healthy board.
constexpr double kSeaT = 15.0, kSeaS = 35.0, kSeaPH = 8.05;

int index_of(const char *name, size_t len) {
  for (int i = 0; i < kSensors; i++)
    if (strlen(kNames[i]) == len && !strncmp(kNames[i], name, len)) return i;
  return -1;
}

// One setting: a sensor value, or seawater to derive three of them from.
struct Op {
  int index;  // -1: seawater
  double value, T, S, pH;
};

constexpr int kMaxOps = 64;
Op cmdline[kMaxOps];
int n_cmdline;

// The scenario's settings of this run, as kept in the state directory.
constexpr uint32_t kFileMagic = 0x53454E53;  // "SENS"
constexpr int kMaxFileOps = 256;
struct StepFile {
  uint32_t magic;
  int32_t session;  // the runner's process: a file of an earlier run is stale
  int32_t n;
  Op ops[kMaxFileOps];
};
const char kFileName[] = "sensors.bin";

double values[kSensors];
uint64_t rng;

uint64_t splitmix(uint64_t &s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double gaussian() {
  // Box-Muller on two uniforms in (0, 1].
  double u1 = ((double)(splitmix(rng) >> 11) + 1.0) / 9007199254740992.0;
  double u2 = (double)(splitmix(rng) >> 11) / 9007199254740992.0;
  return sqrt(-2.0 * log(u1)) * cos(6.283185307179586 * u2);
}

void reseed() {
  // Each wake draws its own noise, the same for the same run.
  uint64_t s = (uint64_t)values[kSeed] ^ (now() * 0x9E3779B97F4A7C15ull);
  rng = splitmix(s);
}

// ---- seawater through the logger's own equations, backwards --------------

double therm_equation(double R, const SeaCoefficients &k) {
  if (k.selector == 1) {
    double l = log(R);
    return 1.0 / (k.sh[0] + k.sh[1] * l + k.sh[2] * l * l * l) - 273.15;
  }
  double l = log10(R);
  return k.c[0] + k.c[1] * R + k.c[2] * l + k.c[3] * l * l * l;
}

// The thermistor resistance at which the equation gives `target`; the
// equations fall with R over 100 ohm .. 300 kohm.
bool therm_resistance(double target, const SeaCoefficients &k, double *R) {
  double lo = log(100.0), hi = log(300000.0);
  double flo = therm_equation(exp(lo), k) - target, fhi = therm_equation(exp(hi), k) - target;
  if (!(flo >= 0 && fhi <= 0)) return false;
  for (int i = 0; i < 200; i++) {
    double mid = 0.5 * (lo + hi);
    if (therm_equation(exp(mid), k) - target > 0) lo = mid;
    else hi = mid;
  }
  *R = exp(0.5 * (lo + hi));
  return true;
}

void apply(const Op &op) {
  if (op.index >= 0) {
    values[op.index] = op.value;
    if (op.index == kSeed) reseed();
    return;
  }
  SeaCoefficients k;
  if (!sea_coefficients_from_eeprom(&k)) k = sea_default_coefficients();
  double vt = 0, vi = 0, ve = 0;
  if (!seawater_voltages(op.T, op.S, op.pH, k, &vt, &vi, &ve)) {
    report("sim: seawater T=%g is outside the thermistor equation; default coefficients used\n", op.T);
    seawater_voltages(op.T, op.S, op.pH, sea_default_coefficients(), &vt, &vi, &ve);
  }
  values[kVtherm] = vt;
  values[kVrsi_B] = vi;
  values[kVrse] = ve;
}

void defaults() {
  double vt = 0, vi = 0, ve = 0;
  seawater_voltages(kSeaT, kSeaS, kSeaPH, sea_default_coefficients(), &vt, &vi, &ve);
  values[kVtherm] = vt;
  values[kVrsi_B] = vi;
  values[kVrse] = ve;
  values[kVrsi] = -0.9;
  values[kVrse_B] = 0.06;
  values[kVk] = -1.0;
  values[kIk_V] = 0.00015;  // 10 nA across 15 kohm
  values[kIb_V] = 0.002;    // 2 nA across 1 Mohm
  values[kVb] = 0.001;
  values[kVbias_pos] = 3.6;
  values[kVbias_neg] = 3.6;
  values[kVbat] = 12.0;
  values[kBoardTemp] = 20.0;
  values[kHumidity] = 30.0;
  values[kWater] = 0.0;
  values[kNoise] = 20.0;
  values[kSeed] = 1.0;
}

bool load_steps(StepFile &f) {
  return load_file(state_dir(), kFileName, &f, sizeof f, 0) && f.magic == kFileMagic &&
         f.session == (int32_t)getppid() && f.n >= 0 && f.n <= kMaxFileOps;
}

void init() {
  defaults();
  reseed();
  for (int i = 0; i < n_cmdline; i++) apply(cmdline[i]);
  static StepFile f;
  if (load_steps(f))
    for (int i = 0; i < f.n; i++) apply(f.ops[i]);
  adc_set_source([](uint32_t ch, void *) { return sensor_onchip_counts(ch); }, nullptr);
  adc_set_stuck(false);  // a new board has a working sequencer
}

// ---- parsing --------------------------------------------------------------

bool parse_number(const char *s, size_t len, double *out) {
  char buf[64];
  if (len == 0 || len >= sizeof buf) return false;
  memcpy(buf, s, len);
  buf[len] = 0;
  char *end;
  double v = strtod(buf, &end);
  if (*end || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool sensor_op(const char *name, size_t name_len, const char *value, size_t value_len, Op *op) {
  int i = index_of(name, name_len);
  if (i < 0) {
    report("sim: no sensor '%.*s'; the sensors are:", (int)name_len, name);
    for (const char *n : kNames) report(" %s", n);
    report("\n");
    return false;
  }
  if (!parse_number(value, value_len, &op->value)) return false;
  if ((i == kNoise && op->value < 0) || (i == kSeed && op->value < 0)) return false;
  op->index = i;
  return true;
}

bool seawater_op(const char *text, Op *op) {
  double v[3];
  bool seen[3] = {false, false, false};
  const char *keys[3] = {"T", "S", "pH"};
  for (const char *p = text; *p;) {
    const char *comma = strchr(p, ',');
    size_t len = comma ? (size_t)(comma - p) : strlen(p);
    const char *eq = (const char *)memchr(p, '=', len);
    if (!eq) return false;
    int k = -1;
    for (int j = 0; j < 3; j++)
      if ((size_t)(eq - p) == strlen(keys[j]) && !strncmp(p, keys[j], (size_t)(eq - p))) k = j;
    if (k < 0 || !parse_number(eq + 1, len - (size_t)(eq - p) - 1, &v[k])) return false;
    seen[k] = true;
    p += len;
    if (*p == ',') p++;
  }
  if (!seen[0] || !seen[1] || !seen[2] || v[1] <= 0 || v[1] >= 100) return false;
  *op = Op{-1, 0, v[0], v[1], v[2]};
  return true;
}

bool option_sensor(const char *value) {
  const char *eq = strchr(value, '=');
  if (!eq || n_cmdline == kMaxOps) return false;
  Op op;
  if (!sensor_op(value, (size_t)(eq - value), eq + 1, strlen(eq + 1), &op)) return false;
  cmdline[n_cmdline++] = op;
  return true;
}

bool option_seawater(const char *value) {
  Op op;
  if (n_cmdline == kMaxOps || !seawater_op(value, &op)) return false;
  SeaCoefficients k = sea_default_coefficients();
  double vt = 0, vi = 0, ve = 0;
  if (!seawater_voltages(op.T, op.S, op.pH, k, &vt, &vi, &ve)) return false;
  cmdline[n_cmdline++] = op;
  return true;
}

// The analog sensor simulator board a new logger is checked with: every
// front-end voltage in the middle of its QA window.
bool option_bench(const char *) {
  static const Op preset[] = {
      {kVrsi, -0.055, 0, 0, 0},   {kVrsi_B, 0.676, 0, 0, 0}, {kVrse, -0.7935, 0, 0, 0},
      {kVrse_B, -0.06375, 0, 0, 0}, {kIk_V, 0.2965, 0, 0, 0},  {kVk, -0.4995, 0, 0, 0},
      {kIb_V, -0.397, 0, 0, 0},   {kVb, 0.001, 0, 0, 0},     {kVtherm, 0.996, 0, 0, 0},
  };
  constexpr int n = (int)(sizeof preset / sizeof preset[0]);
  if (n_cmdline + n > kMaxOps) return false;
  for (const Op &op : preset) cmdline[n_cmdline++] = op;
  return true;
}

bool pin_analog(uint32_t port, uint8_t pin) { return gpio_afsel(port, pin) && !gpio_is_output(port, pin); }

uint32_t clamp_counts(double c) {
  if (!(c > 0)) return 0;
  return c >= 4095 ? 4095 : (uint32_t)c;
}

struct Registrar {
  Registrar() {
    register_device_init(init);
    register_option("sensor", true, option_sensor,
                    "set a sensor of the simulated front end: NAME=VALUE with NAME one of Vrsi,\n"
                    "      Vrsi_B, Vrse, Vrse_B, Vk, Ik_V, Ib_V, Vtherm, Vb (V at the ADC), Vbias_pos,\n"
                    "      Vbias_neg (battery V), Vbat (V), board_temp (C), humidity (%), water (%),\n"
                    "      noise_uV, seed; also the scenario step \"sensor NAME VALUE\"");
    register_option("seawater", true, option_seawater,
                    "T=C,S=PSU,pH=PH: the thermistor and reference voltages of that seawater,\n"
                    "      through the record's coefficients (its defaults while the EEPROM has none)");
    register_option("bench", false, option_bench,
                    "the analog sensor simulator board on the sensor input: every front-end\n"
                    "      voltage inside its board-QA window (later --sensor options still apply)");
    scenario_register_step("sensor", sensor_step);
  }
};
Registrar registrar;

}  // namespace

SeaCoefficients sea_default_coefficients() {
  return SeaCoefficients{-0.4, -1.3, 0.0,
                         {340.9819863, -9.10257e-05, -95.08806667, 0.965370274},
                         {0.002108508173, 7.979204727e-05, 6.535076315e-07}, 0};
}

bool sea_coefficients_from_eeprom(SeaCoefficients *out) {
  // Offsets of the configuration record, which starts at EEPROM byte 1024.
  const uint8_t *r = eeprom_bytes() + 1024;
  auto f32 = [&](int off) {
    float v;
    memcpy(&v, r + off, sizeof v);
    return (double)v;
  };
  auto f64 = [&](int off) {
    double v;
    memcpy(&v, r + off, sizeof v);
    return v;
  };
  SeaCoefficients k{f32(28), f32(24), f32(20),
                    {f64(40), f64(48), f64(56), f64(64)},
                    {f64(72), f64(80), f64(88)}, r[237]};
  double all[] = {k.k0int, k.k0ext, k.TCOffset, k.c[0], k.c[1], k.c[2], k.c[3], k.sh[0], k.sh[1], k.sh[2]};
  for (double v : all)
    if (!std::isfinite(v) || fabs(v) > 1e6) return false;
  if (fabs(k.k0int) > 5 || fabs(k.k0ext) > 5) return false;
  double R;
  if (!therm_resistance(15.0 - k.TCOffset, k, &R)) return false;
  *out = k;
  return true;
}

bool seawater_voltages(double T, double S, double pH, const SeaCoefficients &k, double *vtherm,
                       double *vrsi_b, double *vrse) {
  SeaCoefficients eq = k;
  if (eq.selector != 0 && eq.selector != 1) {
    // The logger then ignores the thermistor; any plausible voltage does.
    SeaCoefficients d = sea_default_coefficients();
    for (int i = 0; i < 4; i++) eq.c[i] = d.c[i];
    eq.selector = 0;
  }
  double R;
  if (!therm_resistance(T - eq.TCOffset, eq, &R)) return false;
  *vtherm = 3.3 * R / (R + 20000.0);

  const double Tk = T + 273.15;
  const double S_T = Tk * 8.31451 / 96487.0 * 2.302585;
  *vrsi_b = k.k0int + (T - 25.0) * -0.0011012 + pH * S_T;

  const double Z = 19.924 * S / (1000.0 - 1.005 * S);
  const double SO4 = S / 1.80655 * (0.14 / 96.062);
  const double mCl = S * (0.99889 / 35.453) / 1.80655;
  const double lnT = log(Tk), sZ = sqrt(Z);
  const double lnK = -4276.1 / Tk + 141.328 - 23.093 * lnT +
                     (-13856.0 / Tk + 324.57 - 47.986 * lnT) * sZ +
                     (35474.0 / Tk - 771.54 + 114.723 * lnT) * Z - 2698.0 / Tk * Z * sZ +
                     1776.0 / Tk * Z * Z + log(1.0 - 0.001005 * S);
  const double DH = 3.43e-06 * T * T + 0.00067524 * T + 0.49172143;
  const double lg = 2.0 * (-DH * sZ / (1.0 + 1.394 * sZ) + (0.08885 - 0.000111 * T) * Z);
  const double pH_free = pH + log10(1.0 + SO4 / exp(lnK));
  *vrse = k.k0ext + (T - 25.0) * -0.0010482 + S_T * (pH_free - log10(mCl) - lg);
  return true;
}

bool sensor_set(const char *name, double value) {
  int i = index_of(name, strlen(name));
  if (i < 0) return false;
  apply(Op{i, value, 0, 0, 0});
  return true;
}

bool sensor_get(const char *name, double *value) {
  int i = index_of(name, strlen(name));
  if (i < 0) return false;
  *value = values[i];
  return true;
}

bool sensor_seawater(const char *text) {
  Op op;
  if (!seawater_op(text, &op)) return false;
  apply(op);
  return true;
}

bool sensor_step(const char *args) {
  while (*args == ' ') args++;
  const char *sp = strchr(args, ' ');
  if (!sp) return false;
  const char *value = sp;
  while (*value == ' ') value++;
  size_t vlen = strlen(value);
  while (vlen && (value[vlen - 1] == ' ' || value[vlen - 1] == '\t')) vlen--;
  Op op;
  if (!sensor_op(args, (size_t)(sp - args), value, vlen, &op)) return false;
  apply(op);
  static StepFile f;
  if (!load_steps(f)) f = StepFile{kFileMagic, (int32_t)getppid(), 0, {}};
  if (f.n == kMaxFileOps) {
    report("sim: too many sensor steps in one run\n");
    return false;
  }
  f.ops[f.n++] = op;
  save_file(state_dir(), kFileName, &f, sizeof f);
  return true;
}

double sensor_ads_input(int p, int n, int mux, int divider) {
  // Node voltages against AIN6, the sensor's common.
  auto node = [&](int ain) -> double {
    switch (ain) {
      case 0:
        return values[kVtherm];
      case 1:
        switch (mux) {
          case 0: return values[kVrse];
          case 1: return values[kVk];
          case 2: return values[kIb_V];
          case 3: return values[kVrsi];
          default: return 0.0;
        }
      case 5:
        switch (mux) {
          case 0: return values[kVrse] - values[kVrse_B];
          case 1: return values[kVk] - values[kIk_V];
          case 2: return values[kVb];
          case 3: return values[kVrsi] - values[kVrsi_B];
          default: return 0.0;
        }
      case 7:
        if (divider == 1) return values[kVbias_pos] / 2.0;
        if (divider == 0) return values[kVbias_neg] / 2.0;
        return 0.0;
      default:
        return 0.0;
    }
  };
  double v = node(p) - node(n);
  if (values[kNoise] > 0) v += gaussian() * values[kNoise] * 1e-6;
  return v;
}

uint32_t sensor_onchip_counts(uint32_t channel) {
  const bool vbat_on = gpio_level(GPIO_PORTM_BASE, GPIO_PIN_6);
  const bool env_on = gpio_level(GPIO_PORTM_BASE, GPIO_PIN_7);
  // A pin left digital shows its logic level, not the signal.
  auto input = [](uint32_t port, uint8_t pin, bool powered, double counts) -> uint32_t {
    if (!pin_analog(port, pin)) return gpio_level(port, pin) ? 4095u : 0u;
    return powered ? clamp_counts(counts) : 0u;
  };
  switch (channel) {
    case 4:  // main battery divider, 100/18193.77 V a count
      return input(GPIO_PORTD_BASE, GPIO_PIN_7, vbat_on, floor(values[kVbat] * 181.9377 + 0.5));
    case 6:  // pressure input: no sensor fitted
      return input(GPIO_PORTD_BASE, GPIO_PIN_5, false, 0);
    case 10:  // humidity; the logger divides by 32.84 and truncates
      return input(GPIO_PORTB_BASE, GPIO_PIN_4, env_on, ceil(values[kHumidity] * 32.84 - 1e-9));
    case 16:  // water (leak), 25.96 counts a percent
      return input(GPIO_PORTK_BASE, GPIO_PIN_0, env_on, ceil(values[kWater] * 25.96 - 1e-9));
    case 17:  // board temperature, 424 mV at 0 C and 6.25 mV/C
      return input(GPIO_PORTK_BASE, GPIO_PIN_1, env_on,
                   floor((424.0 + 6.25 * values[kBoardTemp]) / 0.80566 + 0.5));
    case 0xFF:  // the chip's own sensor, 147.5 C - 75 x 3.3 V x counts / 4096
      return clamp_counts(floor((147.5 - values[kBoardTemp]) * 4096.0 / 247.5 + 0.5));
    default:
      return 0;
  }
}

}  // namespace sim
