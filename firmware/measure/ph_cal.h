// pH sensor calibration from one reference bath: the operator gives the
// bath's pH; the reference voltages, the bath temperature and salinity are
// typed in or measured, and the pH equations are inverted for the standard
// potentials at 25 C and the thermistor offset.
#pragma once

// The whole dialogue on the console. Writes k0int, k0ext and TCOffset into
// sys_data only when the operator accepts them; storing them is the
// configuration menu's business.
void ph_calib();

// The results of one calibration point.
struct PhCalResult {
  float Eo_int25;  // V, standard potential of the internal reference at 25 C
  float Eo_ext25;  // V, the same for the external reference
  float TCOffset;  // C
};
// Inverts the pH equations at one point: bath pH, temperature TC (C) and
// salinity S, the internal (Eint, the biased Vrsi) and external (Eext,
// Vrse) readings. The new TCOffset is TC less the thermistor's own
// temperature at Vtherm; pass a negative Vtherm when none was measured and
// the current offset stays.
PhCalResult ph_cal_compute(float pH, float TC, float S, float Eint, float Eext, float Vtherm);
