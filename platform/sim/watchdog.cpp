// Watchdog timer 0 of the simulated chip, and the faults that prove it: a
// firmware that stops (the main line stuck, with or without interrupts)
// and a main-supply glitch at a chosen moment of a wake.
//
// The counter runs on the system clock from the load value down. Its first
// time-out raises the interrupt and reloads; a second one with the
// interrupt still raised resets the chip when reset is enabled. A reset,
// of any kind, stops it: every start finds it off.
#include <cstdlib>
#include <cstring>

#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "driverlib/watchdog.h"
#include "inc/hw_ints.h"
#include "inc/hw_memmap.h"
#include "runner.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr uint32_t kUnlockKey = 0x1ACCE551;

struct Watchdog {
  uint32_t load;
  bool inten, resen, ris, locked;
  ns_t started;  // virtual time the counter last started from `load`
  int slot;
  int glitch_slot;
};

Watchdog w;

ns_t stage() { return (ns_t)((double)(w.load ? w.load : 1) * cycle_ns()); }

void restart_count() {
  w.started = now();
  if (w.inten || w.resen) event_at(w.slot, now() + stage());
}

void time_out(void *) {
  if (w.ris && w.resen) {
    report("sim: watchdog reset\n");
    chip_reset(SYSCTL_CAUSE_WDOG0);
  }
  w.ris = true;
  irq_level(INT_WATCHDOG, w.inten);
  restart_count();
}

void glitch(void *) {
  // A board that sleeps does not notice: the module holds its supply off.
  if (hib().hibernating) return;
  report("sim: main supply glitch\n");
  chip_reset(SYSCTL_CAUSE_POR);
}

bool base_ok(uint32_t base) { return base == WATCHDOG0_BASE && !w.locked; }

// stall [masked]: the firmware stops where it is; only the hardware (and,
// unless masked, the interrupt handlers) runs on. Fails when nothing
// restarts the chip within an hour.
bool step_stall(const char *args) {
  if (hib().hibernating) {
    report("sim: stall: the board sleeps, nothing runs to stall\n");
    return false;
  }
  if (strstr(args, "masked")) set_primask(true);
  report("sim: firmware stalled\n");
  ns_t give_up = now() + 3600 * kSec;
  while (now() < give_up) {
    g_platform_calls = g_platform_calls + 1;
    ns_t t = next_event_time();
    advance_to(t < give_up ? t : give_up);
  }
  report("sim: stall: nothing restarted the chip within an hour\n");
  return false;
}

// power-glitch MS: the main supply fails MS milliseconds after the board's
// next RTC wake (or from now, when it is awake) and comes back at once:
// the processor restarts with cause power-on.
bool step_power_glitch(const char *args) {
  char *end;
  double ms = strtod(args, &end);
  if (end == args || ms < 0) return false;
  ns_t base = now();
  HibState &h = hib();
  if (h.hibernating) {
    if (!(h.wake & HIBERNATE_WAKE_RTC) || !h.match_pending) {
      report("sim: power-glitch: the board sleeps with no RTC wake\n");
      return false;
    }
    base = rtc_time_of(h.match0);
  }
  event_at(w.glitch_slot, base + (ns_t)(ms * kMs));
  return true;
}

bool step_eeprom_wear(const char *args) {
  char *end;
  unsigned long n = strtoul(args, &end, 10);
  if (end == args) return false;
  eeprom_set_wear((uint32_t)n);
  return true;
}

// fram-write-fail N [ADDR]: the FRAM does not acknowledge the next N
// writes (those to word address ADDR only, when given).
bool step_fram_write_fail(const char *args) {
  char *end;
  unsigned long n = strtoul(args, &end, 10);
  if (end == args) return false;
  unsigned long at = 0;
  const char *rest = end;
  while (*rest == ' ') rest++;
  if (*rest) {
    at = strtoul(rest, &end, 0);
    if (end == rest || *end || at > 0xFF) return false;
    at++;
  }
  faults().fram_write_fail = (uint32_t)n;
  faults().fram_write_fail_at = (uint16_t)at;
  return true;
}

void device_init() {
  w = Watchdog{};
  w.load = 0xFFFFFFFF;
  w.slot = event_slot(time_out, nullptr, "watchdog");
  w.glitch_slot = event_slot(glitch, nullptr, "power-glitch");
}

struct Registration {
  Registration() {
    scenario_register_step("stall", step_stall);
    scenario_register_step("power-glitch", step_power_glitch);
    scenario_register_step("eeprom-wear", step_eeprom_wear);
    scenario_register_step("fram-write-fail", step_fram_write_fail);
    register_device_init(device_init);
  }
};
Registration registration;

}  // namespace
}  // namespace sim

using namespace sim;

bool WatchdogRunning(uint32_t) {
  op();
  return w.inten;
}

void WatchdogEnable(uint32_t base) {
  op();
  if (!base_ok(base) || w.inten) return;
  w.inten = true;
  restart_count();
}

void WatchdogResetEnable(uint32_t base) {
  op();
  if (!base_ok(base)) return;
  bool was_running = w.inten || w.resen;
  w.resen = true;
  if (!was_running) restart_count();
}

void WatchdogResetDisable(uint32_t base) {
  op();
  if (base_ok(base)) w.resen = false;
}

void WatchdogLock(uint32_t) {
  op();
  w.locked = true;
}

void WatchdogUnlock(uint32_t) {
  op();
  w.locked = false;
}

bool WatchdogLockState(uint32_t) {
  op();
  return w.locked;
}

void WatchdogReloadSet(uint32_t base, uint32_t load) {
  op();
  if (!base_ok(base)) return;
  w.load = load;
  restart_count();
}

uint32_t WatchdogValueGet(uint32_t) {
  poll();
  if (!(w.inten || w.resen)) return w.load;
  ns_t gone = now() - w.started;
  uint64_t cycles = (uint64_t)((double)gone / cycle_ns());
  return cycles >= w.load ? 0 : (uint32_t)(w.load - cycles);
}

uint32_t WatchdogIntStatus(uint32_t, bool masked) {
  poll();
  return (w.ris && (!masked || w.inten)) ? 1u : 0u;
}

void WatchdogIntClear(uint32_t base) {
  op();
  if (!base_ok(base)) return;
  w.ris = false;
  irq_level(INT_WATCHDOG, false);
  restart_count();
}
