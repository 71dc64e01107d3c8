// Shared between the wake runner's parts (wake.cpp, host_time.cpp,
// terminal.cpp, console_line.cpp, scenario.cpp, scenario_steps.cpp,
// options.cpp); not seen by the device models or the firmware.
#pragma once
#include <csignal>
#include <cstdint>

#include "runner.h"
#include "sim.h"

namespace sim {

enum ExitCode { kPass = 0, kFail = 1, kUsage = 2, kBroken = 3 };

constexpr int kInQueue = 1 << 16;
constexpr int kMatchWindow = 1 << 16;

// A byte typed on the console line, due at the receiver at time t.
struct InByte {
  ns_t t;
  uint8_t b;
};

// What one wake hands on to the next: it lives in memory shared between
// the simulator's process and every wake's process.
struct Session {
  ns_t now;
  bool started;
  bool finished;
  int exit_code;
  bool power_cycle;
  uint64_t wakes;
  // Console bytes typed but not yet on the receiver.
  InByte in[kInQueue];
  uint32_t in_head, in_count;
  ns_t line_free_at;
  // Scenario position.
  uint32_t step;
  bool step_active;
  ns_t step_deadline;
  double expect_timeout_s;
  uint32_t match_len;
  char match[kMatchWindow];
  uint64_t out_bytes;
  // Figures.
  ns_t awake_ns;
  // Why the next start happens (SYSCTL_CAUSE_), and the reset-cause
  // register as the last run left it: causes pile up until cleared, and
  // only a power-on starts the register afresh.
  uint32_t cause;
  uint32_t resc;
};

// The run as a whole: its options and the session the wakes share.
struct Run {
  RunOptions options;
  Session *session = nullptr;
  int (*firmware_main)() = nullptr;
  bool realtime = false;  // paced by the host's clock (no script)
  // SIGTERM, SIGINT or SIGHUP: the run ends at the next platform call, as
  // at a quit key, so that the stores are left as after a normal end.
  volatile sig_atomic_t stop_signal = 0;
};
extern Run g_run;

inline Session &session() { return *g_run.session; }
inline const RunOptions &options() { return g_run.options; }

// ---- wake.cpp: this wake's process ----
// True while the board hibernates in this wake's process.
bool hibernating();
// A console start bit reached the wake pin of a hibernating board.
void wake_pin_edge();
// Ends this wake's process; code >= 0 ends the whole run with that code.
[[noreturn]] void end_process(int code);
// Ends the run when a stop signal has come.
void check_stop();
// Time the board has been awake in this run so far.
ns_t awake_so_far();

// ---- host_time.cpp ----
// Restarts the pacing from the host's clock now.
void pacing_anchor();
// Pacer for the virtual clock in the real-time modes (see core_set_pacer).
ns_t pace_to(ns_t target);
// While set, virtual time runs ahead of the host's (a fast sleep).
void pacing_skip(bool on);
// The virtual time at which a byte the host sends now reaches the line:
// the host's clock, or the board's where the board runs ahead of it. A
// board that runs behind the host's clock cannot answer a byte before the
// host sent it.
ns_t arrival_time();

// ---- terminal.cpp: the user's side of the console ----
// Opens the pseudo-terminal or takes this terminal; false when it cannot.
bool terminal_open(bool pty);
void terminal_restore();
// Reads what the terminal has (waiting up to timeout_ms); true when
// anything arrived.
bool terminal_read(ns_t timeout);
void terminal_put(uint8_t b);
void terminal_flush();

// ---- console_line.cpp ----
// Attaches the line to UART0 in a new wake's process.
void console_line_attach();
// Queues one byte typed on the terminal side.
void console_line_type(uint8_t b);
// Opens (and empties, when truncate) the transcript file.
void transcript_open(bool truncate);
void transcript_close();

// ---- scenario.cpp ----
bool scenario_load(const char *path);
// A new wake's process: the step deadline's event, then the scenario
// starts or carries on.
void scenario_attach();
void scenario_start();
// Every byte the console printed.
void scenario_output(uint8_t b);
[[noreturn]] void scenario_fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void scenario_print_tail();
// C escapes in place; the length, or -1 for a bad escape.
long unescape(char *s);

// ---- scenario_steps.cpp ----
void register_builtin_steps();
// The step of that name; nullptr when none.
StepFn find_step(const char *name);

// ---- options.cpp ----
void run_device_inits();

}  // namespace sim
