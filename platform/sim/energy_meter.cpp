// The board's energy meter: battery charge drawn by the processor, awake
// and hibernating, and by every switched supply, integrated over virtual
// time across wakes.
//
// Battery current at 12 V, in mA, each figure with where it comes from:
//
//   processor and board awake  14.5    the firmware's help text ("12v, ...,
//                                      ~14.5mA"), every switched supply off
//   hibernating                 0.025  assumption: regulator shut down,
//                                      divider leakage; the hibernation
//                                      module runs from its own cell
//   microSD card                0.6    assumption: ~2 mA standby at 3.3 V,
//                                      converted at 85 %; powered whenever
//                                      the processor is (no switch)
//   sensor front end (PK2)      6.0    assumption: isolated converter and
//                                      24-bit ADC
//   battery monitor (PM6)       0.5    assumption: divider and buffer
//   environment monitor (PM7)   0.5    assumption: humidity sensor, divider
//   CTD (PD0)                  30.0    assumption: a pumped CTD sampling
//   optode (PL2)               25.0    assumption: an optode while sampling
//   pump, aux power 1 (PD1)   150.0    assumption: a small submersible pump
//   console line driver (PL0)   0.3    assumption: a 3.3 V RS-232
//                                      transceiver, ~1 mA at 3.3 V
//
// The firmware's own estimate uses the same figures; the meter is the
// measurement it is checked against, so it integrates from the pins and
// the hibernation state, not from anything the firmware reports.
//
// Scenario steps: "energy reset" starts a new measurement, "energy
// report" prints it to standard error.
#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "energy_meter.h"
#include "inc/hw_memmap.h"
#include "runner.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr double kBatteryVolts = 12.0;

struct Source {
  const char *name;
  double ma;
  uint32_t port;    // 0: not a pin
  uint8_t pin;
  bool active_low;
};

enum { kAwake, kHibernating, kCard, kFirstRail };
const Source kSources[] = {
    {"processor awake", 14.5, 0, 0, false},
    {"hibernating", 0.025, 0, 0, false},
    {"microSD card", 0.6, 0, 0, false},
    {"sensor front end", 6.0, GPIO_PORTK_BASE, 1u << 2, false},
    {"battery monitor", 0.5, GPIO_PORTM_BASE, 1u << 6, false},
    {"environment monitor", 0.5, GPIO_PORTM_BASE, 1u << 7, false},
    {"CTD", 30.0, GPIO_PORTD_BASE, 1u << 0, false},
    {"optode", 25.0, GPIO_PORTL_BASE, 1u << 2, false},
    {"pump", 150.0, GPIO_PORTD_BASE, 1u << 1, false},
    {"console driver", 0.3, GPIO_PORTL_BASE, 1u << 0, true},
};
constexpr int kSourceCount = sizeof kSources / sizeof kSources[0];

// Shared by every wake's process.
struct Meter {
  bool running;
  ns_t last;            // virtual time integrated up to
  ns_t start;           // of the measurement
  bool on[kSourceCount];
  double ns_on[kSourceCount];
  uint32_t wakes;
};

// Mapped before the wake runner forks, so every wake sees one copy.
Meter *meter() { return &shared_object<Meter>(); }

bool rail_on(const Source &s) {
  if (!gpio_is_output(s.port, s.pin)) return false;
  return gpio_level(s.port, s.pin) != s.active_low;
}

// Counts the time since the last call at the supplies' states, then takes
// the states as the pins now stand (a pin made an output at the level it
// already had is seen here, at the next change of any pin).
void integrate() {
  Meter &m = *meter();
  ns_t t = now();
  if (t > m.last)
    for (int i = 0; i < kSourceCount; i++)
      if (m.on[i]) m.ns_on[i] += (double)(t - m.last);
  m.last = t;
  for (int i = kFirstRail; i < kSourceCount; i++) m.on[i] = m.on[kAwake] && rail_on(kSources[i]);
}

void pin_changed(uint32_t, uint8_t, bool, void *) { integrate(); }

void set_awake(bool awake) {
  Meter &m = *meter();
  m.on[kAwake] = m.on[kCard] = awake;
  m.on[kHibernating] = !awake;
  integrate();
}

// Every wake's process: what the last one left running is counted up to
// now (its end), then the board is as this process finds it.
void device_init() {
  Meter &m = *meter();
  if (!m.running) {
    m.running = true;
    m.last = m.start = now();
  }
  integrate();
  set_awake(!hib().hibernating);
  for (int i = kFirstRail; i < kSourceCount; i++)
    gpio_watch(kSources[i].port, kSources[i].pin, pin_changed, nullptr);
}

bool step_energy(const char *args) {
  if (!strcmp(args, "reset")) {
    energy_meter_reset();
    return true;
  }
  if (!strcmp(args, "report")) {
    EnergyReading r = energy_meter_read();
    report("energy: %.3f s, %u wakes, awake %.3f s, %.4f J, average %.4f mW\n", r.seconds,
           r.wakes, r.awake_seconds, r.joules, r.seconds > 0 ? 1000.0 * r.joules / r.seconds : 0.0);
    for (int i = 0; i < kSourceCount; i++)
      report("energy:   %-20s %8.3f mA  %10.3f s on  %9.4f J\n", kSources[i].name, kSources[i].ma,
             r.source_seconds[i], r.source_joules[i]);
    return true;
  }
  report("energy: reset|report, not '%s'\n", args);
  return false;
}

struct Registration {
  Registration() {
    meter();
    register_device_init(device_init);
    scenario_register_step("energy", step_energy);
  }
};
Registration registration;

}  // namespace

void energy_meter_wake() {
  integrate();
  meter()->wakes++;
  set_awake(true);
}

void energy_meter_reset() {
  integrate();
  Meter &m = *meter();
  m.start = m.last;
  m.wakes = 0;
  for (double &ns : m.ns_on) ns = 0;
}

EnergyReading energy_meter_read() {
  integrate();
  const Meter &m = *meter();
  EnergyReading r{};
  r.seconds = (double)(m.last - m.start) / kSec;
  r.wakes = m.wakes;
  r.awake_seconds = m.ns_on[kAwake] / kSec;
  for (int i = 0; i < kSourceCount && i < kMeterSources; i++) {
    r.source_seconds[i] = m.ns_on[i] / kSec;
    r.source_joules[i] = kBatteryVolts * kSources[i].ma / 1000.0 * r.source_seconds[i];
    r.joules += r.source_joules[i];
  }
  return r;
}

}  // namespace sim
