#include "measure/ph.h"

#include <cmath>

#include "config/system.h"

namespace {

constexpr double kKelvin = 273.15;
constexpr double kR = 8.31451;
constexpr double kF = 96487.0;
constexpr double kLn10 = 2.302585;
constexpr double kdEoint_dT = -0.0011012;
constexpr double kdEoext_dT = -0.0010482;
constexpr double kThermSupply = 3.3;
constexpr double kThermSeries = 20000.0;

// T and the Nernst slope, both rounded to float.
void slope(float TC, PhTerms &t) {
  t.T = (float)(TC + kKelvin);
  t.S_T = (float)((double)t.T * kR / kF * kLn10);
}

// The standard potential at TC: the difference in single precision, the
// rest in double.
float standard_potential(float k0, float TC, double dEo_dT) {
  const float dT = TC - 25.0f;
  return (float)((double)k0 + (double)dT * dEo_dT);
}

}  // namespace

float DuraFET_temp(float V_therm, float TCOffset) {
  const double R = kThermSeries / (kThermSupply / (double)V_therm - 1.0);
  float TC = 0.0f;
  switch (sys_data.app_cfg[APPCFG_THERM_EQUATION]) {
    case 0: {
      const double l = log10(R);
      TC = (float)(sys_data.quadTherm_c0 + sys_data.quadTherm_c1 * R + sys_data.quadTherm_c2 * l +
                   sys_data.quadTherm_c3 * (l * l * l));
      break;
    }
    case 1: {
      // Steinhart-Hart on its own coefficients; the form gives kelvin.
      const double l = log(R);
      TC = (float)(1.0 / (sys_data.shTherm_A + sys_data.shTherm_B * l +
                          sys_data.shTherm_C * (l * l * l)) -
                   kKelvin);
      break;
    }
    default:
      break;
  }
  return TCOffset + TC;
}

PhTerms pHint_terms(float Eint, float TC) {
  PhTerms t{};
  slope(TC, t);
  t.Eo = standard_potential(sys_data.k0int, TC, kdEoint_dT);
  t.pH = (Eint - t.Eo) / t.S_T;
  return t;
}

float calc_pHint(float Eint, float TC) { return pHint_terms(Eint, TC).pH; }

PhTerms pHext_terms(float Eext, float TC, float salt) {
  PhTerms t{};
  slope(TC, t);
  t.Eo = standard_potential(sys_data.k0ext, TC, kdEoext_dT);

  const double S = salt;
  t.Z = (float)(19.924 * S / (1000.0 - 1.005 * S));
  t.SO4_tot = (float)((S / 1.80655) * 0.001457392100934813);  // 0.14 / 96.062
  t.mCl = (float)((S * 0.028175048655967053) / 1.80655);      // 0.99889 / 35.453

  const float T = t.T;
  const double Td = T;
  const double lnT = log(Td);
  const double Z = t.Z;
  const double sqrtZ = sqrt(Z);
  double X = -4276.1 / Td + 141.328 - 23.093 * lnT;
  X += ((double)(-13856.0f / T) + 324.57 - 47.986 * lnT) * sqrtZ;
  X += ((double)(35474.0f / T) - 771.54 + 114.723 * lnT) * Z;
  X -= (double)(2698.0f / T) * (sqrtZ * sqrtZ * sqrtZ);
  X += (double)(1776.0f / T) * (Z * Z);
  X += log(1.0 - 0.001005 * S);
  t.K_HSO4 = (float)exp(X);

  const double TCd = TC;
  t.DHconst = (float)(3.43e-06 * (TCd * TCd) + 0.00067524 * TCd + 0.49172143);
  t.log10gamma_HCl = (float)(2.0 * ((double)(-t.DHconst) * sqrtZ / (1.0 + 1.394 * sqrtZ) +
                                    (0.08885 - 0.000111 * TCd) * Z));

  const float dE = t.Eo - Eext;
  const double S_T = t.S_T;
  t.pH_free = (float)(-((double)dE - (log10((double)t.mCl) + (double)t.log10gamma_HCl) * S_T) / S_T);
  const float bisulfate = 1.0f + t.SO4_tot / t.K_HSO4;
  t.pH = (float)((double)t.pH_free - log10((double)bisulfate));
  return t;
}

float calc_pHext(float Eext, float TC, float salt) { return pHext_terms(Eext, TC, salt).pH; }
