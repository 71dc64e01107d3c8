// The wake processes. The simulator's own process never runs firmware
// code. For every wake it forks a child, which restores the session
// (virtual time, scenario position, console bytes in flight) from memory
// shared with the parent, waits out the hibernation if the board sleeps,
// runs the firmware's main and ends when the firmware hibernates or resets
// the chip. The persistent stores are files in the state directory.
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "energy_meter.h"
#include "runner_internal.h"
#include "sim_internal.h"

namespace sim {

void hib_power_on(bool new_run, bool power_cycle, uint32_t cold_rtc);
void board_set_state_dir(const char *dir);
void board_reset_models();
void core_set_now(ns_t t);

Run g_run;

namespace {

// This wake's process.
struct Wake {
  int rtc_slot = -1;         // event: the RTC match of a hibernating board
  bool hibernating = false;  // waiting for a wake event
  uint32_t wake_bits = 0;    // the wake events seen while hibernating
  ns_t start_ns = 0;         // when the firmware started
  volatile uint64_t calls_seen = 0;  // platform calls at the last watchdog look
} wake;

// The running wake's process, seen from the simulator's own process.
volatile pid_t wake_pid;

void rtc_wake_due(void *) {
  HibState &h = hib();
  if (h.match_pending && rtc_seconds() >= h.match0) {
    h.ris |= HIBERNATE_INT_RTC_MATCH_0;
    h.match_pending = 0;
    if (h.wake & HIBERNATE_WAKE_RTC) wake.wake_bits |= HIBERNATE_INT_RTC_MATCH_0;
  }
}

void wait_in_hibernation() {
  HibState &h = hib();
  wake.hibernating = true;
  wake.wake_bits = 0;
  while (!wake.wake_bits) {
    if ((h.wake & HIBERNATE_WAKE_RTC) && h.match_pending) {
      ns_t t = rtc_time_of(h.match0);
      if (t != UINT64_MAX) event_at(wake.rtc_slot, t);
    }
    ns_t t = next_event_time();
    if (t == UINT64_MAX) {
      if (options().script) scenario_fail("the logger sleeps with no way to wake it");
      terminal_read(kSec);
      continue;
    }
    if (g_run.realtime && options().fast_sleep && event_pending(wake.rtc_slot) &&
        !session().in_count) {
      // Skip the sleep, but not the keys typed meanwhile.
      if (terminal_read(0)) continue;
      pacing_skip(true);
      advance_to(t);
      pacing_skip(false);
      pacing_anchor();
      continue;
    }
    if (g_run.realtime) {
      // A key typed meanwhile is on the line before the RTC's wake: it
      // reaches the wake pin now, not after the sleep.
      ns_t reached = pace_to(t);
      if (reached < t) {
        advance_to(reached);
        continue;
      }
    }
    advance_to(t);
  }
  event_cancel(wake.rtc_slot);
  wake.hibernating = false;
  h.ris |= wake.wake_bits;
  h.hibernating = 0;
}

void on_hibernate() {
  session().awake_ns += now() - wake.start_ns;
  session().cause = SYSCTL_CAUSE_POR;  // the wake powers the processor up
  end_process(-1);
}

void on_reset() {
  session().awake_ns += now() - wake.start_ns;
  session().cause = ending_reset_cause();
  end_process(-1);
}

void watchdog(int) {
  if (g_platform_calls == wake.calls_seen) {
    const char msg[] =
        "\nphlogger-sim: the firmware has made no platform call for 20 s of host time "
        "(a wait loop without SysCtlSleep?)\n";
    ssize_t r = write(2, msg, sizeof msg - 1);
    (void)r;
    _exit(3);
  }
  wake.calls_seen = g_platform_calls;
}

[[noreturn]] void run_wake(pid_t parent) {
  wake_pid = 0;
  // Ends with the simulator, however that ends.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) g_run.stop_signal = SIGTERM;
  Session &s = session();
  const RunOptions &opt = options();
  // Everything the firmware sees starts from power-on values here.
  board_set_state_dir(opt.state_dir);
  board_reset_models();
  core_set_now(s.now);
  // --clock sets the count of a module that starts cold with this run; one
  // that loses its battery later counts from 0, as on the chip.
  uint32_t cold_rtc = !s.started && opt.has_clock ? opt.clock : 0;
  hib_power_on(!s.started, s.power_cycle, cold_rtc);
  s.started = true;
  s.power_cycle = false;
  reset_cause_register() = s.cause == SYSCTL_CAUSE_POR ? s.cause : s.resc | s.cause;
  run_device_inits();

  console_line_attach();
  scenario_attach();
  wake.rtc_slot = event_slot(rtc_wake_due, nullptr, "rtc-wake");
  transcript_open(false);
  if (g_run.realtime) pacing_anchor();
  core_set_pacer(pace_to);
  set_power_hooks(PowerHooks{on_hibernate, on_reset});
  scenario_start();

  if (hib().hibernating) {
    wait_in_hibernation();
    // The module powers the chip up again: a power-on for the processor.
    reset_cause_register() = SYSCTL_CAUSE_POR;
    energy_meter_wake();
  }
  s.wakes++;
  wake.start_ns = now();

  signal(SIGALRM, watchdog);
  struct itimerval it = {{20, 0}, {20, 0}};
  setitimer(ITIMER_REAL, &it, nullptr);

  g_run.firmware_main();
  report("phlogger-sim: the firmware's main returned\n");
  end_process(kBroken);
}

void on_stop_signal(int sig) {
  g_run.stop_signal = sig;
  if (wake_pid > 0) kill(wake_pid, SIGTERM);
}

// Waits for a wake's process to end; once a stop signal has come, a few
// seconds at most before it is killed.
int wait_wake(pid_t pid) {
  int status = 0;
  for (;;) {
    if (!g_run.stop_signal) {
      if (waitpid(pid, &status, 0) == pid) return status;
      if (errno != EINTR) return status;
      continue;
    }
    for (int i = 0; i < 500; i++) {
      pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid || (r < 0 && errno != EINTR)) return status;
      struct timespec ts = {0, 10 * 1000 * 1000};
      nanosleep(&ts, nullptr);
    }
    report("phlogger-sim: the wake did not end; killed\n");
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
  }
}

}  // namespace

bool hibernating() { return wake.hibernating; }

ns_t awake_so_far() { return session().awake_ns + (wake.hibernating ? 0 : now() - wake.start_ns); }

void wake_pin_edge() {
  if (hib().wake & HIBERNATE_WAKE_PIN) wake.wake_bits |= HIBERNATE_INT_PIN_WAKE;
}

void end_process(int code) {
  terminal_flush();
  // The RTC keeps what time it is when this process ends, also while the
  // board sleeps: the next run carries on from here.
  hib_save_now();
  // A later run carries on with the board as this one leaves it, the
  // cause of a reset that ended this run included.
  session().resc = reset_cause_register();
  uint32_t causes[2] = {session().cause, session().resc};
  save_file(options().state_dir, "reset-cause.bin", causes, sizeof causes);
  transcript_close();
  session().now = now();
  if (code >= 0) {
    session().finished = true;
    session().exit_code = code;
  }
  _exit(0);
}

void check_stop() {
  if (!g_run.stop_signal) return;
  if (options().script) scenario_fail("stopped by signal %d", (int)g_run.stop_signal);
  report("\r\nphlogger-sim: stopped by signal %d\r\n", (int)g_run.stop_signal);
  end_process(kPass);
}

int run(const RunOptions &opt, int (*firmware_main)()) {
  g_run.options = opt;
  g_run.firmware_main = firmware_main;
  g_run.realtime = opt.script == nullptr;
  register_builtin_steps();
  if (opt.script && !scenario_load(opt.script)) return kUsage;

  void *mem = mmap(nullptr, sizeof(Session), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                   -1, 0);
  if (mem == MAP_FAILED) {
    report("phlogger-sim: mmap: %s\n", strerror(errno));
    return kBroken;
  }
  g_run.session = new (mem) Session{};
  session().expect_timeout_s = 60;
  session().power_cycle = opt.power_cycle;
  uint32_t causes[2];
  bool kept = !opt.power_cycle && load_file(opt.state_dir, "reset-cause.bin", causes, sizeof causes, 0);
  session().cause = kept ? causes[0] : SYSCTL_CAUSE_POR;
  session().resc = kept ? causes[1] : 0;
  transcript_open(true);

  if (g_run.realtime && !terminal_open(opt.pty)) return kBroken;
  struct sigaction sa = {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);

  pid_t parent = getpid();
  for (;;) {
    fflush(stdout);
    fflush(stderr);
    if (g_run.stop_signal) {
      terminal_restore();
      return opt.script ? kFail : kPass;
    }
    pid_t pid = fork();
    if (pid < 0) {
      report("phlogger-sim: fork: %s\n", strerror(errno));
      terminal_restore();
      return kBroken;
    }
    if (pid == 0) run_wake(parent);
    wake_pid = pid;
    if (g_run.stop_signal) kill(pid, SIGTERM);
    int status = wait_wake(pid);
    wake_pid = 0;
    if (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) {
      terminal_restore();
      if (WIFSIGNALED(status))
        report("phlogger-sim: the simulation died (signal %d)\n", WTERMSIG(status));
      if (opt.script) scenario_print_tail();
      return WIFEXITED(status) && WEXITSTATUS(status) == kFail ? kFail : kBroken;
    }
    if (session().finished) {
      terminal_restore();
      return session().exit_code;
    }
  }
}

}  // namespace sim
