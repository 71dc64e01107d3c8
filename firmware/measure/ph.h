// Sensor temperature and pH from the isolated ADC's voltages. The single
// and double precision steps are part of the result: every rounding point
// below changes the last digits that go into the records.
#pragma once

// Thermistor voltage (V) to temperature (degrees C), plus TCOffset.
float DuraFET_temp(float V_therm, float TCOffset);
// pH against the internal reference from the biased reading Vrsi_B.
float calc_pHint(float Eint, float TC);
// Total-scale pH against the external reference from Vrse.
float calc_pHext(float Eext, float TC, float salt);

// The intermediate values of the two pH equations, each as stored.
struct PhTerms {
  float T;         // K
  float S_T;       // Nernst slope, V per pH
  float Eo;        // standard potential at TC, V
  float Z;         // ionic strength
  float SO4_tot;   // total sulfate
  float mCl;       // chloride molality
  float K_HSO4;    // bisulfate dissociation constant
  float DHconst;   // Debye-Hueckel constant
  float log10gamma_HCl;
  float pH_free;   // free scale (external only)
  float pH;
};
PhTerms pHint_terms(float Eint, float TC);
PhTerms pHext_terms(float Eext, float TC, float salt);
