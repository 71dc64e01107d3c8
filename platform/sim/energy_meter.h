// The board's energy meter (see energy_meter.cpp for the currents).
#pragma once
#include <cstdint>

namespace sim {

constexpr int kMeterSources = 10;

struct EnergyReading {
  double seconds;        // since the last reset (or the first wake)
  uint32_t wakes;        // wakes from hibernation in that time
  double awake_seconds;  // processor awake
  double joules;         // from the 12 V battery
  double source_seconds[kMeterSources];
  double source_joules[kMeterSources];
};

// The runner calls it when the processor leaves hibernation.
void energy_meter_wake();
void energy_meter_reset();
EnergyReading energy_meter_read();

}  // namespace sim
