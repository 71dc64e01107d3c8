// The wake runner: one child process per wake of the board, so that every
// run of the firmware starts with its RAM at the initial values; the
// console bridges; the scenario language. Its parts:
//   wake.cpp            the wake processes, run()
//   host_time.cpp       pacing by the host's clock in the real-time modes
//   terminal.cpp        this terminal or a pseudo-terminal
//   console_line.cpp    UART0's line to the terminal, transcript
//   scenario.cpp        the scenario language
//   scenario_steps.cpp  the named steps: add a runner step to its table
//   options.cpp         the device models' options and wake set-up
// The simulator's own options are the table in tools/sim_main.cpp.
#pragma once
#include <cstdint>

namespace sim {

struct RunOptions {
  const char *state_dir = "./sim-state";
  const char *script = nullptr;      // scenario mode when set
  const char *transcript = nullptr;  // everything the console printed
  bool pty = false;
  bool fast_sleep = false;
  uint32_t baud = 115200;  // the console line's own rate
  bool has_clock = false;
  uint32_t clock = 0;      // RTC seconds for a cold hibernation module
  bool power_cycle = false;  // start with the hibernation module cold
  const char *firmware_version = "";  // what $VERSION stands for in a script
};

// A scenario step added by a device model: handles "NAME ARGS...".
// Returns false (and reports why) when the arguments are wrong.
using StepFn = bool (*)(const char *args);
void scenario_register_step(const char *name, StepFn fn);

// Runs the board until the user quits or the scenario ends. Returns the
// process exit code: 0 every step passed (or a normal quit), 1 a step
// failed, 2 bad usage, 3 the simulation itself broke down.
int run(const RunOptions &opt, int (*firmware_main)());

// Installs the board's devices once per process; device models add theirs
// through this list (called in every wake's process before the firmware).
using DeviceInit = void (*)();
void register_device_init(DeviceInit fn);

// A command-line option added by a device model ("--NAME" or
// "--NAME VALUE"); fn returns false for a bad value. Parsed before the
// first wake.
using OptionFn = bool (*)(const char *value);
void register_option(const char *name, bool takes_value, OptionFn fn, const char *help);
// Offers argv[*i] (and its value) to the registered options; true when
// one took it.
bool parse_registered_option(int argc, char **argv, int *i, bool *bad);
void print_registered_options();

}  // namespace sim
