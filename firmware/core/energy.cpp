#include "core/energy.h"

#include <cstring>

#include "config/i2c_fram.h"
#include "core/user_io.h"

volatile uint32_t awake_ms = 0;

namespace {

// The board's power budget, as battery current at 12 V (mA). The awake
// figure is the board's own with every switched supply off; the supplies
// add theirs while they are on. Sources and assumptions are listed with
// the simulator's meter, which draws the same currents.
constexpr float kBatteryVolts = 12.0f;
constexpr float kAwakeMa = 14.5f;
constexpr float kHibernateMa = 0.025f;
constexpr float kRailMa[kRailCount] = {
    6.0f,    // sensor front end
    0.5f,    // battery monitor
    0.5f,    // environment monitor
    30.0f,   // CTD
    25.0f,   // optode
    150.0f,  // pump
    0.3f,    // console line driver
};

constexpr uint32_t kCostMagic = 0x45434F53;  // "SOCE"

// The last scheduled sample's figures, as kept in the FRAM.
struct SampleCost {
  uint32_t magic;
  uint32_t awake_ms;
  uint32_t rail_ms[kRailCount];
  uint32_t check;  // sum of the words above, so a torn or foreign block is not used
};

uint32_t check_of(const SampleCost &c) {
  uint32_t sum = c.magic + c.awake_ms;
  for (uint32_t ms : c.rail_ms) sum += ms;
  return ~sum;
}

uint32_t on_since[kRailCount];
uint32_t on_ms[kRailCount];
bool is_on[kRailCount];
bool sample_taken;
bool visited;

}  // namespace

void rail_switched(Rail r, bool on) {
  uint32_t now = awake_ms;
  if (on && !is_on[r]) on_since[r] = now;
  if (!on && is_on[r]) on_ms[r] += now - on_since[r];
  is_on[r] = on;
}

void energy_sample_taken() {
  if (!visited) sample_taken = true;
}

void energy_visit() {
  visited = true;
  sample_taken = false;
}

void energy_before_hibernation() {
  if (!sample_taken) return;
  SampleCost c{};
  c.magic = kCostMagic;
  c.awake_ms = awake_ms;
  for (int r = 0; r < kRailCount; r++)
    c.rail_ms[r] = on_ms[r] + (is_on[r] ? c.awake_ms - on_since[r] : 0);
  c.check = check_of(c);
  i2c0_write(FRAM_I2C_ADDR, reinterpret_cast<const uint8_t *>(&c), sizeof c,
             FRAM_SAMPLE_COST_ADDR);
}

EnergyEstimate energy_estimate(uint32_t period) {
  EnergyEstimate e{};
  SampleCost c{};
  i2c0_read(FRAM_I2C_ADDR, reinterpret_cast<uint8_t *>(&c), sizeof c, FRAM_SAMPLE_COST_ADDR,
            true);
  if (c.magic != kCostMagic || c.check != check_of(c)) return e;
  e.known = true;
  e.awake_s = c.awake_ms / 1000.0f;
  float mas = kAwakeMa * e.awake_s;  // mA x s
  for (int r = 0; r < kRailCount; r++) mas += kRailMa[r] * (c.rail_ms[r] / 1000.0f);
  e.sample_j = kBatteryVolts * mas / 1000.0f;
  if (period == 0) return e;
  float asleep_s = (float)period > e.awake_s ? (float)period - e.awake_s : 0.0f;
  e.period_j = e.sample_j + kBatteryVolts * kHibernateMa * asleep_s / 1000.0f;
  e.average_mw = 1000.0f * e.period_j / (float)period;
  float average_ma = e.average_mw / kBatteryVolts;
  e.days_per_ah = 1000.0f / average_ma / 24.0f;
  return e;
}

void print_energy_lines(const EnergyEstimate &e) {
  if (!e.known) {
    uprintf("sample_energy = unknown (no sample measured yet)\n");
    return;
  }
  uprintf("sample_awake_s = %.3f\n", (double)e.awake_s);
  uprintf("sample_energy_J = %.3f\n", (double)e.sample_j);
  if (e.average_mw == 0) {
    uprintf("average_power_mW = polled\n");
    return;
  }
  uprintf("average_power_mW = %.3f\n", (double)e.average_mw);
  uprintf("days_per_Ah_12V = %.1f\n", (double)e.days_per_ah);
}
