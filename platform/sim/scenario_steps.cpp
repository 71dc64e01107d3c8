// The named scenario steps: the runner's own (the table below; add a step
// there) and those the device models register with scenario_register_step.
#include <cstdio>
#include <cstring>

#include "driverlib/sysctl.h"
#include "runner_internal.h"

namespace sim {

namespace {

constexpr int kMaxSteps = 48;

struct NamedStep {
  const char *name;
  StepFn fn;
};

// Zero-initialised before any static constructor runs: the device models
// register from theirs. Hence no member initialisers here.
struct StepRegistry {
  NamedStep steps[kMaxSteps];
  int count;
} registry;

bool step_reset(const char *) {
  // The reset button restarts the processor, also out of hibernation; the
  // hibernation module keeps running and reports no wake event.
  if (hibernating()) reset_cause_register() = 0;  // the processor was unpowered
  hib().hibernating = 0;
  session().cause = SYSCTL_CAUSE_EXT;
  end_process(-1);
}

bool step_power_cycle(const char *) {
  session().power_cycle = true;
  session().cause = SYSCTL_CAUSE_POR;
  end_process(-1);
}

// The main supply fails and comes back; the hibernation module runs on
// from its own battery. A hibernating board does not notice: the module
// holds the regulator off until its wake. An awake one restarts with the
// module still running, as after the reset button.
bool step_main_power_cycle(const char *) {
  if (hibernating()) return true;
  session().cause = SYSCTL_CAUSE_POR;
  end_process(-1);
}

// Fails when TEXT stands in the output since the last match.
bool step_refute(const char *args) {
  char text[512];
  snprintf(text, sizeof text, "%s", args);
  long len = unescape(text);
  if (len <= 0) return false;
  Session &s = session();
  if (memmem(s.match, s.match_len, text, (size_t)len)) {
    report("scenario: unexpected \"%s\" in the output\n", args);
    return false;
  }
  return true;
}

bool step_fault(const char *args) {
  char name[64], state[16];
  if (sscanf(args, "%63s %15s", name, state) != 2) return false;
  bool on = !strcmp(state, "on");
  if (!on && strcmp(state, "off")) return false;
  if (!strcmp(name, "eeprom-write")) faults().eeprom_write_fail = on;
  else if (!strcmp(name, "fram")) faults().no_fram = on;
  else if (!strcmp(name, "hibernate")) faults().no_hibernate = on;
  else return false;
  return true;
}

// The runner's own steps.
constexpr NamedStep kBuiltinSteps[] = {
    {"reset", step_reset},
    {"power-cycle", step_power_cycle},
    {"main-power-cycle", step_main_power_cycle},
    {"fault", step_fault},
    {"refute", step_refute},
};

}  // namespace

void scenario_register_step(const char *name, StepFn fn) {
  for (int i = 0; i < registry.count; i++)
    if (!strcmp(registry.steps[i].name, name)) {
      registry.steps[i].fn = fn;
      return;
    }
  if (registry.count < kMaxSteps) registry.steps[registry.count++] = NamedStep{name, fn};
  else report("phlogger-sim: too many scenario steps; '%s' left out\n", name);
}

void register_builtin_steps() {
  for (const NamedStep &s : kBuiltinSteps) scenario_register_step(s.name, s.fn);
}

StepFn find_step(const char *name) {
  for (int i = 0; i < registry.count; i++)
    if (!strcmp(registry.steps[i].name, name)) return registry.steps[i].fn;
  return nullptr;
}

}  // namespace sim
