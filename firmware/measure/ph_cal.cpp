#include "measure/ph_cal.h"

#include <cmath>

#include "config/menu_input.h"
#include "config/system.h"
#include "core/board_util.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "instruments/ctd_base.h"
#include "measure/ads1248_iso.h"
#include "measure/ph.h"

namespace {

constexpr int kLineSize = 20;
constexpr int kCalSps = 5;
constexpr int kHeaderEvery = 20;
// An automatic calibration left running without a key ends its passes
// after an hour; the question that follows times out into hibernation.
constexpr uint32_t kMaxPassesS = 3600;
constexpr int kCtrlX = 0x18;

// Kept between calls, offered as the defaults of the next calibration.
float pHcalpt, Vint, Vext, tempC, salt;

// The last five readings of one quantity. Only filled slots count: the
// mean of the first passes is theirs, not diluted by empty slots.
struct Ring {
  static constexpr int kSlots = 5;
  float v[kSlots];
  int n, next;

  void clear() { *this = Ring{}; }
  void add(float x) {
    v[next] = x;
    next = (next + 1) % kSlots;
    if (n < kSlots) n++;
  }
  float mean() const {
    double sum = 0;
    for (int i = 0; i < n; i++) sum += v[i];
    return n ? (float)(sum / n) : 0.0f;
  }
  // Sample standard deviation of the filled slots; 0 for one reading.
  float spread() const {
    if (n < 2) return 0.0f;
    double m = mean(), ss = 0;
    for (int i = 0; i < n; i++) ss += ((double)v[i] - m) * ((double)v[i] - m);
    return (float)sqrt(ss / (n - 1));
  }
};

enum { R_VRSI, R_VRSE, R_VTHERM, R_TEMP, R_SALT, kRings };
Ring rings[kRings];

void ask_ph_point() {
  for (;;) {
    uprintf("\n\nEnter pH calibration point [%.3f]: ", (double)pHcalpt);
    double v;
    Number r = menu_read_number(kLineSize, &v);
    if (r == Number::Empty) {
      uprintf("DEBUG: getUserInput fails to return 1");
      return;
    }
    if (r == Number::Bad) {
      uprintf("DEBUG: sscanf fails to return 1");
      return;
    }
    float f = (float)v;
    if (f >= 0.0f && f <= 14.0f) {
      pHcalpt = f;
      uprintf("pH cal pt = %.3f\n", (double)pHcalpt);
      return;
    }
    uprintf("\nEnter between 0 and 14");
  }
}

constexpr char kVoltsMsg[] = "Enter number between -2 and 2\n\n";
constexpr char kBathMsg[] = "\nEnter between 0 and 100";

void manual_values() {
  menu_edit("\n\nEnter Vrsi [%f]: ", Vint, menu_in_range<-2, 2, kVoltsMsg>, kLineSize);
  menu_edit("\n\nEnter Vrse [%f]: ", Vext, menu_in_range<-2, 2, kVoltsMsg>, kLineSize);
  menu_edit("\nEnter bath temperature [%f]: ", tempC, menu_in_range<0, 100, kBathMsg>, kLineSize);
  menu_edit("\nEnter bath salinity [%f]: ", salt, menu_in_range<0, 100, kBathMsg>, kLineSize);
}

// The bath's temperature and salinity: one reading of the CTD in the
// bath. False when it failed or the operator abandoned it with Ctrl-X.
bool bath_reading(float *t, float *s) {
  for (int st = ctd_stateMachine(1); st != 0; st = ctd_stateMachine(st)) {
    // Only Ctrl-X is taken here: any other key stays for the pass loop,
    // which ends on it.
    if (UARTPeek(kCtrlX) >= 0) {
      UARTFlushRx();
      ctd.tempC = ctd.salt = 0.0f;
      ctd_close();
      return false;
    }
    instrument_pause();
  }
  if (ctd.state != 0 || !ctd_reading_valid) return false;
  *t = ctd.tempC;
  *s = ctd.salt;
  return true;
}

// One pass of the automatic mode: the three sensor voltages, then the
// bath instrument. A pass without every reading goes into no ring, so the
// means are never pulled towards a zero or a NaN.
void one_pass(int *header_count) {
  float vi = iso_read(IsoChannel::Vrsi_B, (int)sys_data.Vrsi_trials, kCalSps);
  float ve = iso_read(IsoChannel::Vrse, (int)sys_data.Vrse_trials, kCalSps);
  float vt = iso_read(IsoChannel::Vtherm, (int)sys_data.Vtherm_trials, kCalSps);
  float t = 0.0f, s = 0.0f;
  bool bath = bath_reading(&t, &s);
  if (!std::isfinite(vi) || !std::isfinite(ve) || !std::isfinite(vt)) {
    uprintf("\nNo answer from the sensor ADC: pass not used");
    return;
  }
  if (!bath) {
    uprintf("\nNo bath temperature and salinity: pass not used");
    return;
  }
  const float now[kRings] = {vi, ve, vt, t, s};
  for (int i = 0; i < kRings; i++) rings[i].add(now[i]);

  if (*header_count >= kHeaderEvery) {
    uprintf(
        "\n\n    Vrsi\t Vrsi-SD\t    Vrse\t Vrse-SD\t  Vtherm\tVthermSD\t   TempC\tTempC-SD\t"
        "Salinity\tSal-SD");
    *header_count = 1;
  } else {
    (*header_count)++;
  }
  uprintf("\n%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f", (double)vi, (double)rings[R_VRSI].spread(),
          (double)ve, (double)rings[R_VRSE].spread(), (double)vt);
  uprintf("\t%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f", (double)rings[R_VTHERM].spread(), (double)t,
          (double)rings[R_TEMP].spread(), (double)s, (double)rings[R_SALT].spread());
}

// The automatic mode. Sets *vtherm to the mean thermistor voltage; false
// when no pass gave a usable reading and the calibration is abandoned.
bool automatic_values(float *vtherm) {
  for (Ring &r : rings) r.clear();
  openADS1248_iso();
  ADS1248_gpio_init();
  delay_msec(1000);
  uprintf("\n\nPlace DuraFET and MicroCAT in calibration bath.");
  uprintf("\nHit any key when values have stabilized...");
  UARTFlushRx();
  int header_count = kHeaderEvery;
  bool ok = true;
  for (;;) {
    uint32_t start = HibernateRTCGet();
    do {
      one_pass(&header_count);
    } while (!kbhit() && HibernateRTCGet() - start < kMaxPassesS);

    const Ring &ri = rings[R_VRSI], &re = rings[R_VRSE], &rt = rings[R_VTHERM];
    const Ring &rT = rings[R_TEMP], &rS = rings[R_SALT];
    if (ri.n == 0) {
      uprintf("\n\nNo usable readings: calibration abandoned\n");
      ok = false;
      break;
    }
    uprintf("\n\nAverage of last %d values", ri.n);
    Vint = ri.mean();
    Vext = re.mean();
    tempC = rT.mean();
    salt = rS.mean();
    *vtherm = rt.mean();
    uprintf("\nVint = %f V  SD = %f", (double)Vint, (double)ri.spread());
    uprintf("\nVext = %f V  SD = %f", (double)Vext, (double)re.spread());
    uprintf("\nVtherm = %f C  SD = %f", (double)rt.mean(), (double)rt.spread());
    uprintf("\nMicroCAT Temperature = %f C  SD = %f", (double)tempC, (double)rT.spread());
    uprintf("\nMicroCAT Salinity = %f  SD = %f", (double)salt, (double)rS.spread());
    if (menu_yes_no("\n\nValues acceptable (Y/N) [N]? ", 0)) break;
    UARTFlushRx();
  }
  closeADS1248_iso();
  ctd_close();
  return ok;
}

// What the stored calibration may hold: the coefficient menu's ranges.
bool usable(const PhCalResult &r) {
  return r.Eo_int25 >= -2.0f && r.Eo_int25 <= 2.0f && r.Eo_ext25 >= -2.0f && r.Eo_ext25 <= 2.0f &&
         r.TCOffset >= -400.0f && r.TCOffset <= 400.0f;
}

}  // namespace

PhCalResult ph_cal_compute(float pH, float TC, float S, float Eint, float Eext, float Vtherm) {
  PhCalResult r{};
  const float T = (float)(TC + 273.15);
  const float S_T = (float)((double)T * 8.31451 / 96487.0 * log(10.0));
  const float dT = 25.0f - TC;

  const float Eoint_T = Eint - pH * S_T;
  r.Eo_int25 = (float)((double)Eoint_T + (double)dT * -0.0011012);

  const double Sd = S;
  const float Z = (float)(19.924 * Sd / (1000.0 - 1.005 * Sd));
  const float sqrtZ = (float)sqrt((double)Z);
  const float SO4_tot = (float)(Sd / 1.80655 * 0.001457392100934813);
  const float mCl = (float)(Sd * 0.028175048655967053 / 1.80655);
  const double Td = T, lnT = log(Td);
  const double X = -4276.1 / Td + 141.328 - 23.093 * lnT +
                   ((double)(-13856.0f / T) + 324.57 - 47.986 * lnT) * (double)sqrtZ +
                   ((double)(35474.0f / T) - 771.54 + 114.723 * lnT) * (double)Z -
                   (double)(2698.0f / T) * pow((double)Z, 1.5) + (double)((1776.0f / T) * Z * Z) +
                   log(1.0 - 0.001005 * Sd);
  const float K_HSO4 = (float)exp(X);
  const double TCd = TC;
  const float DHconst = (float)(TCd * 3.43e-06 * TCd + TCd * 0.00067524 + 0.49172143);
  const float log10gamma_HCl = (float)(2.0 * ((double)(sqrtZ * -DHconst) / (1.0 + 1.394 * sqrtZ) +
                                              (0.08885 - 0.000111 * TCd) * (double)Z));
  const float bisulfate = 1.0f + SO4_tot / K_HSO4;
  const float pH_free = (float)((double)pH + log10((double)bisulfate));
  const float h = (float)pow(10.0, -(double)pH_free);
  const float P = (float)((double)(float)(mCl * h) * pow(10.0, (double)log10gamma_HCl));
  const float Eoext_T = (float)((double)Eext + (double)S_T * log10((double)P));
  r.Eo_ext25 = (float)((double)Eoext_T + (double)dT * -0.0010482);

  r.TCOffset = Vtherm < 0.0f ? sys_data.TCOffset : TC - DuraFET_temp(Vtherm, 0.0f);
  return r;
}

void ph_calib() {
  ask_ph_point();
  float vtherm = -1.0f;  // manual mode measures none: the offset stays
  if (menu_yes_no("\n\nPerform automatic DuraFET calibration (Y/N) [N]? ", 0)) {
    if (!automatic_values(&vtherm)) return;
  } else {
    manual_values();
  }

  PhCalResult r = ph_cal_compute(pHcalpt, tempC, salt, Vint, Vext, vtherm);
  uprintf("\n\nEo Int @ 25C = %f", (double)r.Eo_int25);
  uprintf("\nEo Ext @ 25C = %f", (double)r.Eo_ext25);
  uprintf("\nTCOffset = %f", (double)r.TCOffset);
  // A salinity of 0 gives an infinite Eo Ext; nothing like it is offered
  // for storing.
  if (!usable(r)) {
    uprintf("\n\nCalibration values outside -2 to 2 V (TCOffset -400 to 400): not stored\n");
    return;
  }
  if (!menu_yes_no("\n\nAccept and store calibration values(Y/N) [N]? ", 0)) return;
  sys_data.k0int = r.Eo_int25;
  sys_data.k0ext = r.Eo_ext25;
  sys_data.TCOffset = r.TCOffset;
  uprintf("\nCalibration values stored");
}
