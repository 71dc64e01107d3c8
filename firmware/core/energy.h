// What a sample costs the battery: the firmware times its own wake and
// each switched supply, keeps the figures of the last scheduled sample in
// the FRAM, and from them estimates the average power and the battery
// life at the configured period.
#pragma once
#include <cstdint>

// The switched supplies of the board.
enum Rail : uint8_t {
  RAIL_FRONT_END,  // isolated sensor front end (PK2)
  RAIL_VBAT_MON,   // main-battery monitor (PM6)
  RAIL_ENV_MON,    // temperature and humidity monitor (PM7)
  RAIL_CTD,        // CTD (PD0)
  RAIL_OPTODE,     // optode (PL2)
  RAIL_PUMP,       // pump, auxiliary power 1 (PD1)
  RAIL_CONSOLE,    // console line driver (PL0)
  kRailCount
};

// Milliseconds since the 1 ms tick started in this wake (never reset).
extern volatile uint32_t awake_ms;

// Called by the power switches.
void rail_switched(Rail r, bool on);

// A sample was taken in this wake: unless the wake served a visit, its
// figures are a scheduled sample's and are kept.
void energy_sample_taken();
// The wake serves command lines: its figures are not a sample's.
void energy_visit();
// Called as the processor is about to hibernate: keeps a marked wake's
// awake time and supply on-times as the figures of the last scheduled
// sample (in the FRAM, beside the sampling state).
void energy_before_hibernation();

struct EnergyEstimate {
  bool known;           // a sample has been measured
  float awake_s;        // the measured sample's awake time
  float sample_j;       // energy of one sample, awake part
  float period_j;       // one period: the sample and the hibernation after it
  float average_mw;     // 0 in polled mode
  float days_per_ah;    // of a 12 V battery; 0 in polled mode
};
// The estimate for sampling at `period` seconds (0: polled mode).
EnergyEstimate energy_estimate(uint32_t period);

// Prints the estimate as "name = value" lines.
void print_energy_lines(const EnergyEstimate &e);
