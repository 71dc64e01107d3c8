// The registries the device models fill from their static initialisers:
// command-line options and the set-up run in every wake's process.
#include <cstdio>
#include <cstring>

#include "runner_internal.h"

namespace sim {

namespace {

constexpr int kMaxOptions = 96;
constexpr int kMaxDeviceInits = 32;

struct Option {
  const char *name;
  bool takes_value;
  OptionFn fn;
  const char *help;
};

// Zero-initialised before any static constructor runs: the device models
// register from theirs. Hence no member initialisers here.
struct Registry {
  Option options[kMaxOptions];
  int n_options;
  DeviceInit inits[kMaxDeviceInits];
  int n_inits;
} registry;

}  // namespace

void register_device_init(DeviceInit fn) {
  if (registry.n_inits < kMaxDeviceInits) registry.inits[registry.n_inits++] = fn;
}

void run_device_inits() {
  for (int i = 0; i < registry.n_inits; i++) registry.inits[i]();
}

void register_option(const char *name, bool takes_value, OptionFn fn, const char *help) {
  if (registry.n_options < kMaxOptions)
    registry.options[registry.n_options++] = Option{name, takes_value, fn, help};
  else report("phlogger-sim: too many options; --%s left out\n", name);
}

bool parse_registered_option(int argc, char **argv, int *i, bool *bad) {
  const char *arg = argv[*i];
  if (strncmp(arg, "--", 2) != 0) return false;
  for (int k = 0; k < registry.n_options; k++) {
    const Option &o = registry.options[k];
    size_t n = strlen(o.name);
    if (strncmp(arg + 2, o.name, n) != 0) continue;
    const char *value = nullptr;
    if (arg[2 + n] == '=') value = arg + 3 + n;
    else if (arg[2 + n] != 0) continue;
    if (o.takes_value && !value) {
      if (*i + 1 >= argc) {
        report("phlogger-sim: --%s needs a value\n", o.name);
        *bad = true;
        return true;
      }
      value = argv[++*i];
    }
    if (!o.fn(value)) {
      report("phlogger-sim: bad value for --%s: %s\n", o.name, value ? value : "");
      *bad = true;
    }
    return true;
  }
  return false;
}

void print_registered_options() {
  for (int k = 0; k < registry.n_options; k++) {
    const Option &o = registry.options[k];
    fprintf(stderr, "  --%s%s\n      %s\n", o.name, o.takes_value ? " VALUE" : "", o.help);
  }
}

}  // namespace sim
