// The measuring front end of the simulated board: the sensor model behind
// the isolated ADS1248 and the ADG1609, and the board's monitoring inputs
// of the on-chip ADC. For tests and for the models themselves.
#pragma once
#include <cstdint>

#include "sim.h"

namespace sim {

// ---- the sensor model -----------------------------------------------------
//
// Names as in --sensor NAME=VALUE and the scenario step "sensor NAME VALUE":
// Vrsi, Vrsi_B, Vrse, Vrse_B, Vk, Ik_V, Ib_V, Vtherm, Vb (volts at the ADC
// inputs), Vbias_pos, Vbias_neg (battery volts, before the divider), Vbat
// (volts), board_temp (C), humidity (%), water (%), noise_uV (Gaussian
// noise on every conversion of the isolated ADC), seed.

bool sensor_set(const char *name, double value);  // false for an unknown name
bool sensor_get(const char *name, double *value);

// Calibration coefficients the logger converts with (the defaults of the
// configuration record unless read from an EEPROM image).
struct SeaCoefficients {
  double k0int, k0ext, TCOffset;
  double c[4];   // quadTherm_c0..c3
  double sh[3];  // shTherm_A..C
  int selector;  // app_cfg[1]
};
SeaCoefficients sea_default_coefficients();
// The record in the EEPROM image, when it holds usable coefficients.
bool sea_coefficients_from_eeprom(SeaCoefficients *out);

// Seawater at T (C), salinity S and total-scale pH as the DuraFET sees it:
// the thermistor voltage, the biased internal-reference reading and the
// external-reference reading for which the logger's equations give back
// T, pH and pH. False when T is outside the thermistor equation's range.
bool seawater_voltages(double T, double S, double pH, const SeaCoefficients &k, double *vtherm,
                       double *vrsi_b, double *vrse);
// "T=15,S=35,pH=8.05": sets Vtherm, Vrsi_B and Vrse with the coefficients of
// the EEPROM image (or the defaults when it has none).
bool sensor_seawater(const char *text);

// The scenario step "sensor NAME VALUE": takes effect now and in every
// later wake of this run.
bool sensor_step(const char *args);

// V(AIN<p>) - V(AIN<n>) with the ADG1609 on channel `mux` and the bias
// divider on `divider` (1 positive, 0 negative battery; -1 for a switch that
// is not driven), noise included.
double sensor_ads_input(int p, int n, int mux, int divider);

// ---- the ADS1248 on SSI3 ------------------------------------------------------

// One chip-select period on the bus: the bytes sent and received.
struct AdsTransfer {
  ns_t t;
  int n;  // bytes exchanged (the first 32 are kept)
  uint8_t mosi[32];
  uint8_t miso[32];
};
struct AdsStats {
  uint32_t conversions;    // results latched
  uint32_t reads;          // results clocked out
  uint32_t stale_reads;    // reads of a result already read
  uint32_t ignored_frames; // frames while unpowered, in reset or starting up
  uint32_t bad_frames;     // frames of another width than 8 bits
  uint32_t fast_clock;     // frames clocked faster than the ADC takes
  uint32_t unknown_commands;
};

// Unplugged: nothing answers on the bus and DRDY stays high (the isolator's
// idle level), as with an unpowered isolated side.
void ads1248_plug(bool present);
uint8_t ads1248_register(int addr);
int ads1248_mux();      // ADG1609 channel connected, -1 none
int ads1248_divider();  // 1 positive, 0 negative battery, -1 not driven
// The next conversions give these raw 24-bit codes instead of the sensors.
void ads1248_queue_codes(const int32_t *codes, int n);
int ads1248_transfer_count();
const AdsTransfer &ads1248_transfer(int i);  // the oldest kept first
void ads1248_clear_transfers();
AdsStats ads1248_stats();

// ---- the on-chip ADC ------------------------------------------------------------

// A sequencer that never completes its scan.
void adc_set_stuck(bool stuck);
// Counts an on-chip ADC input converts to now (0xFF: the internal
// temperature sensor).
uint32_t sensor_onchip_counts(uint32_t channel);

}  // namespace sim
