// The wake runner, the console line and its bridges, and the scenario
// language.
//
// The parent process never runs firmware code. For every wake it forks a
// child, which restores the session (virtual time, scenario position,
// console bytes in flight) from memory shared with the parent, waits out
// the hibernation if the board sleeps, runs the firmware's main and ends
// when the firmware hibernates or resets the chip. The persistent stores
// are files in the state directory.
#include "runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "driverlib/hibernate.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {

void hib_power_on(bool new_run, bool power_cycle, uint32_t cold_rtc);
void board_set_state_dir(const char *dir);
void board_reset_models();
void core_set_now(ns_t t);
void run_device_inits();

namespace {

constexpr uint8_t kQuitKey = 0x1D;  // Ctrl-]
constexpr int kInQueue = 1 << 16;
constexpr int kMatchWindow = 1 << 16;
constexpr int kMaxSteps = 20000;
constexpr int kMaxExtSteps = 32;

enum ExitCode { kPass = 0, kFail = 1, kUsage = 2, kBroken = 3 };

struct InByte {
  ns_t t;
  uint8_t b;
};

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
};

struct Step {
  enum Kind { kExpect, kSend, kWait, kTimeout, kExt } kind;
  int line;
  int ext;           // index into ext steps
  char *text;        // unescaped, for expect/send; raw args for ext
  size_t len;
  double seconds;
};

struct ExtStep {
  const char *name;
  StepFn fn;
};

Session *S;
RunOptions O;
int (*g_main)();
Step steps[kMaxSteps];
int n_steps;
char *script_text;
ExtStep ext_steps[kMaxExtSteps];
int n_ext;
DeviceInit device_inits[32];
int n_device_inits;

int in_slot, scenario_slot, wake_slot;
int transcript_fd = -1;
int term_in = -1, term_out = -1;  // real-time bridges
bool realtime;
bool hibernating_now;
uint32_t wake_bits;
ns_t child_start_ns;

// Real-time pacing anchors.
struct timespec wall_anchor;
ns_t virt_anchor;
// A fast sleep lets virtual time run ahead of the host's.
bool skipping;

// SIGTERM, SIGINT or SIGHUP: the run ends at the next platform call, as
// at a quit key, so that the stores are left as after a normal end. The
// parent passes the signal on to the wake's process.
volatile sig_atomic_t stop_signal;
volatile pid_t wake_pid;

char out_buf[4096];
size_t out_len;

void flush_out() {
  if (term_out >= 0 && out_len) {
    size_t off = 0;
    while (off < out_len) {
      ssize_t n = write(term_out, out_buf + off, out_len - off);
      if (n > 0) {
        off += (size_t)n;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        // A full pseudo-terminal: give a slow reader a second, then let
        // the bytes go, as a line with nobody listening does.
        struct pollfd p = {term_out, POLLOUT, 0};
        if (::poll(&p, 1, 1000) > 0) continue;
      }
      break;
    }
  }
  out_len = 0;
}

[[noreturn]] void end_process(int code) {
  flush_out();
  // The RTC keeps what time it is when this process ends, also while the
  // board sleeps: the next run carries on from here.
  hib_save_now();
  if (transcript_fd >= 0) close(transcript_fd);
  S->now = now();
  if (code >= 0) {
    S->finished = true;
    S->exit_code = code;
  }
  _exit(0);
}

void fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void print_tail() {
  uint32_t n = S->match_len;
  uint32_t from = n > 600 ? n - 600 : 0;
  report("---- console output since the last match (end) ----\n");
  fwrite(S->match + from, 1, n - from, stderr);
  report("\n----\n");
}

void fail(const char *fmt, ...) {
  char msg[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  report("scenario: FAILED at line %d: %s\n",
         S->step < (uint32_t)n_steps ? steps[S->step].line : 0, msg);
  print_tail();
  end_process(kFail);
}

void check_stop() {
  if (!stop_signal) return;
  if (O.script) fail("stopped by signal %d", (int)stop_signal);
  report("\r\nphlogger-sim: stopped by signal %d\r\n", (int)stop_signal);
  end_process(kPass);
}

// ---- host time ---------------------------------------------------------

ns_t wall_ns(const struct timespec &t) { return (ns_t)t.tv_sec * kSec + (ns_t)t.tv_nsec; }

void anchor_now() {
  clock_gettime(CLOCK_MONOTONIC, &wall_anchor);
  virt_anchor = now();
}

ns_t virtual_of_wall() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return virt_anchor + (wall_ns(t) - wall_ns(wall_anchor));
}

void enqueue_typed(uint8_t b);

// Reads what the terminal has; returns true when anything arrived.
bool read_terminal(int timeout_ms) {
  check_stop();
  if (term_in < 0) {
    if (timeout_ms > 0) {
      struct timespec ts = {timeout_ms / 1000, (long)(timeout_ms % 1000) * 1000000L};
      nanosleep(&ts, nullptr);
    }
    return false;
  }
  flush_out();
  struct pollfd p = {term_in, POLLIN, 0};
  int r = ::poll(&p, 1, timeout_ms);
  check_stop();
  if (r <= 0) return false;
  if (p.revents & (POLLHUP | POLLERR) && !(p.revents & POLLIN)) {
    if (!O.pty) end_process(kPass);  // terminal closed
    return false;
  }
  uint8_t buf[256];
  ssize_t n = read(term_in, buf, sizeof buf);
  if (n <= 0) {
    if (!O.pty && n == 0) end_process(kPass);
    return false;
  }
  for (ssize_t i = 0; i < n; i++) {
    if (buf[i] == kQuitKey && !O.pty) {
      report("\nphlogger-sim: quit\n");
      end_process(kPass);
    }
    enqueue_typed(buf[i]);
  }
  return true;
}

ns_t pacer(ns_t target) {
  check_stop();
  if (!realtime || skipping) return target;
  for (;;) {
    ns_t v = virtual_of_wall();
    if (v >= target) {
      read_terminal(0);
      return target;
    }
    ns_t wait = target - v;
    int ms = (int)(wait / kMs);
    if (ms > 50) ms = 50;
    if (read_terminal(ms)) {
      ns_t at = virtual_of_wall();
      if (at < now()) at = now();
      return at < target ? at : target;
    }
    if (ms == 0) {
      // Less than a millisecond to go: close enough.
      return target;
    }
  }
}

// ---- console line --------------------------------------------------------

void (*out_hook)(uint8_t, void *);
void *out_hook_ctx;

void schedule_in() {
  if (S->in_count == 0) {
    event_cancel(in_slot);
    return;
  }
  event_at(in_slot, S->in[S->in_head].t);
}

void push_in(ns_t t, uint8_t b) {
  if (S->in_count >= (uint32_t)kInQueue) return;
  S->in[(S->in_head + S->in_count) % kInQueue] = InByte{t, b};
  S->in_count++;
  schedule_in();
}

void enqueue_typed(uint8_t b) {
  ns_t frame = byte_time(O.baud);
  ns_t start = S->line_free_at > now() ? S->line_free_at : now();
  S->line_free_at = start + frame;
  push_in(start + frame, b);
}

void in_arrived(void *) {
  while (S->in_count && S->in[S->in_head].t <= now()) {
    uint8_t b = S->in[S->in_head].b;
    S->in_head = (S->in_head + 1) % kInQueue;
    S->in_count--;
    if (hibernating_now) {
      // The wake pin sees the start bit; the byte itself is lost.
      if (hib().wake & HIBERNATE_WAKE_PIN) wake_bits |= HIBERNATE_INT_PIN_WAKE;
      continue;
    }
    uart_line_rx(0, b, O.baud);
  }
  schedule_in();
}

void scenario_output(uint8_t b);

void console_tx(void *, uint8_t byte, uint32_t baud) {
  uint8_t b = line_garble(byte, baud, O.baud);
  if (transcript_fd >= 0) {
    ssize_t r = write(transcript_fd, &b, 1);
    (void)r;
  }
  if (term_out >= 0) {
    out_buf[out_len++] = (char)b;
    if (out_len == sizeof out_buf) flush_out();
  }
  S->out_bytes++;
  if (out_hook) out_hook(b, out_hook_ctx);
  scenario_output(b);
}

// ---- scenario ------------------------------------------------------------

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Unescapes in place; returns the length, or -1 for a bad escape.
long unescape(char *s) {
  char *w = s;
  for (char *r = s; *r; r++) {
    if (*r != '\\') {
      *w++ = *r;
      continue;
    }
    r++;
    switch (*r) {
      case 'r': *w++ = '\r'; break;
      case 'n': *w++ = '\n'; break;
      case 't': *w++ = '\t'; break;
      case '\\': *w++ = '\\'; break;
      case 'x': {
        int hi = hexval(r[1]), lo = hi >= 0 ? hexval(r[2]) : -1;
        if (hi < 0 || lo < 0) return -1;
        *w++ = (char)(hi * 16 + lo);
        r += 2;
        break;
      }
      default:
        return -1;
    }
  }
  *w = 0;
  return w - s;
}

bool parse_seconds(const char *s, double *out) {
  char *end;
  errno = 0;
  double v = strtod(s, &end);
  while (*end == ' ' || *end == '\t') end++;
  if (errno || end == s || *end || v < 0) return false;
  *out = v;
  return true;
}

bool load_script(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) {
    report("phlogger-sim: cannot open script %s: %s\n", path, strerror(errno));
    return false;
  }
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  script_text = (char *)calloc(1, (size_t)size + 1);
  if (fread(script_text, 1, (size_t)size, f) != (size_t)size) {
    fclose(f);
    return false;
  }
  fclose(f);
  int line = 0;
  for (char *p = script_text; p && *p;) {
    char *nl = strchr(p, '\n');
    if (nl) *nl = 0;
    line++;
    size_t n = strlen(p);
    if (n && p[n - 1] == '\r') p[--n] = 0;
    char *cur = p;
    p = nl ? nl + 1 : nullptr;
    if (!*cur || *cur == '#') continue;
    char *sp = strchr(cur, ' ');
    char *rest = sp ? sp + 1 : cur + n;
    if (sp) *sp = 0;
    if (n_steps >= kMaxSteps) {
      report("%s:%d: too many steps\n", path, line);
      return false;
    }
    Step &st = steps[n_steps];
    st = Step{};
    st.line = line;
    if (!strcmp(cur, "expect") || !strcmp(cur, "send")) {
      st.kind = !strcmp(cur, "expect") ? Step::kExpect : Step::kSend;
      long len = unescape(rest);
      if (len < 0 || (st.kind == Step::kExpect && len == 0)) {
        report("%s:%d: bad text after %s\n", path, line, cur);
        return false;
      }
      st.text = rest;
      st.len = (size_t)len;
    } else if (!strcmp(cur, "wait") || !strcmp(cur, "timeout")) {
      st.kind = !strcmp(cur, "wait") ? Step::kWait : Step::kTimeout;
      if (!parse_seconds(rest, &st.seconds)) {
        report("%s:%d: %s takes a number of seconds\n", path, line, cur);
        return false;
      }
    } else {
      int found = -1;
      for (int i = 0; i < n_ext; i++)
        if (!strcmp(ext_steps[i].name, cur)) found = i;
      if (found < 0) {
        report("%s:%d: unknown step '%s'\n", path, line, cur);
        return false;
      }
      st.kind = Step::kExt;
      st.ext = found;
      st.text = rest;
    }
    n_steps++;
  }
  return true;
}

void step_begin();

void step_next() {
  S->step++;
  S->step_active = false;
  step_begin();
}

bool match_now() {
  const Step &st = steps[S->step];
  if (S->match_len < st.len) return false;
  const char *hit = (const char *)memmem(S->match, S->match_len, st.text, st.len);
  if (!hit) return false;
  size_t consumed = (size_t)(hit - S->match) + st.len;
  memmove(S->match, S->match + consumed, S->match_len - consumed);
  S->match_len -= (uint32_t)consumed;
  return true;
}

void step_begin() {
  while (S->step < (uint32_t)n_steps) {
    Step &st = steps[S->step];
    if (!S->step_active) {
      S->step_active = true;
      switch (st.kind) {
        case Step::kExpect:
          S->step_deadline = now() + (ns_t)(S->expect_timeout_s * kSec);
          break;
        case Step::kSend:
          for (size_t i = 0; i < st.len; i++) enqueue_typed((uint8_t)st.text[i]);
          S->step_deadline = S->line_free_at > now() ? S->line_free_at : now();
          break;
        case Step::kWait:
          S->step_deadline = now() + (ns_t)(st.seconds * kSec);
          break;
        case Step::kTimeout:
          S->expect_timeout_s = st.seconds;
          S->step++;
          S->step_active = false;
          continue;
        case Step::kExt: {
          uint32_t at = S->step;
          S->step++;
          S->step_active = false;
          if (!ext_steps[st.ext].fn(st.text)) {
            S->step = at;
            fail("step '%s %s' failed", ext_steps[st.ext].name, st.text);
          }
          continue;
        }
      }
    }
    if (st.kind == Step::kExpect && match_now()) {
      S->step++;
      S->step_active = false;
      continue;
    }
    event_at(scenario_slot, S->step_deadline);
    return;
  }
  event_cancel(scenario_slot);
  if (O.script) {
    report("scenario: all %d steps passed (%.3f virtual seconds, %llu wakes)\n", n_steps,
           now() / 1e9, (unsigned long long)S->wakes);
    end_process(kPass);
  }
}

void scenario_due(void *) {
  if (S->step >= (uint32_t)n_steps) return;
  Step &st = steps[S->step];
  if (now() < S->step_deadline) {
    event_at(scenario_slot, S->step_deadline);
    return;
  }
  if (st.kind == Step::kExpect) {
    if (match_now()) {
      step_next();
      return;
    }
    char shown[160];
    snprintf(shown, sizeof shown, "%.*s", (int)(st.len < 120 ? st.len : 120), st.text);
    for (char *c = shown; *c; c++)
      if ((unsigned char)*c < 0x20) *c = '.';
    fail("expected \"%s\" within %g s", shown, S->expect_timeout_s);
  }
  step_next();
}

void scenario_output(uint8_t b) {
  if (!O.script) return;
  if (S->match_len >= (uint32_t)kMatchWindow) {
    // Keep the newer half: an expected text is far shorter than the window.
    uint32_t keep = kMatchWindow / 2;
    memmove(S->match, S->match + S->match_len - keep, keep);
    S->match_len = keep;
  }
  S->match[S->match_len++] = (char)b;
  if (S->step < (uint32_t)n_steps && S->step_active && steps[S->step].kind == Step::kExpect &&
      match_now())
    step_next();
}

// ---- built-in steps ------------------------------------------------------

bool step_reset(const char *) {
  // The reset button restarts the processor, also out of hibernation; the
  // hibernation module keeps running and reports no wake event.
  hib().hibernating = 0;
  S->now = now();
  end_process(-1);
}

bool step_power_cycle(const char *) {
  S->power_cycle = true;
  S->now = now();
  end_process(-1);
}

// The main supply fails and comes back; the hibernation module runs on
// from its own battery. A hibernating board does not notice: the module
// holds the regulator off until its wake. An awake one restarts with the
// module still running, as after the reset button.
bool step_main_power_cycle(const char *) {
  if (hibernating_now) return true;
  S->now = now();
  end_process(-1);
}

// Fails when TEXT stands in the output since the last match.
bool step_refute(const char *args) {
  char text[512];
  snprintf(text, sizeof text, "%s", args);
  long len = unescape(text);
  if (len <= 0) return false;
  if (memmem(S->match, S->match_len, text, (size_t)len)) {
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

// ---- the wake ---------------------------------------------------------------

void rtc_wake_due(void *) {
  HibState &h = hib();
  if (h.match_pending && rtc_seconds() >= h.match0) {
    h.ris |= HIBERNATE_INT_RTC_MATCH_0;
    h.match_pending = 0;
    if (h.wake & HIBERNATE_WAKE_RTC) wake_bits |= HIBERNATE_INT_RTC_MATCH_0;
  }
}

void wait_in_hibernation() {
  HibState &h = hib();
  hibernating_now = true;
  wake_bits = 0;
  while (!wake_bits) {
    if ((h.wake & HIBERNATE_WAKE_RTC) && h.match_pending) {
      ns_t t = rtc_time_of(h.match0);
      if (t != UINT64_MAX) event_at(wake_slot, t);
    }
    ns_t t = next_event_time();
    if (t == UINT64_MAX) {
      if (O.script) fail("the logger sleeps with no way to wake it");
      read_terminal(1000);
      continue;
    }
    if (realtime && O.fast_sleep && event_pending(wake_slot) && !S->in_count) {
      // Skip the sleep, but not the keys typed meanwhile.
      if (read_terminal(0)) continue;
      skipping = true;
      advance_to(t);
      skipping = false;
      anchor_now();
      continue;
    }
    advance_to(t);
  }
  event_cancel(wake_slot);
  hibernating_now = false;
  h.ris |= wake_bits;
  h.hibernating = 0;
}

void on_hibernate() {
  S->awake_ns += now() - child_start_ns;
  end_process(-1);
}

void on_reset() {
  S->awake_ns += now() - child_start_ns;
  end_process(-1);
}

volatile uint64_t watchdog_seen;
void watchdog(int) {
  if (g_platform_calls == watchdog_seen) {
    const char msg[] =
        "\nphlogger-sim: the firmware has made no platform call for 20 s of host time "
        "(a wait loop without SysCtlSleep?)\n";
    ssize_t r = write(2, msg, sizeof msg - 1);
    (void)r;
    _exit(3);
  }
  watchdog_seen = g_platform_calls;
}

void child(pid_t parent) {
  wake_pid = 0;
  // Ends with the simulator, however that ends.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) stop_signal = SIGTERM;
  // Everything the firmware sees starts from power-on values here.
  board_set_state_dir(O.state_dir);
  board_reset_models();
  core_set_now(S->now);
  // --clock sets the count of a module that starts cold with this run; one
  // that loses its battery later counts from 0, as on the chip.
  uint32_t cold_rtc = !S->started && O.has_clock ? O.clock : 0;
  hib_power_on(!S->started, S->power_cycle, cold_rtc);
  S->started = true;
  S->power_cycle = false;
  run_device_inits();

  in_slot = event_slot(in_arrived, nullptr, "console-in");
  scenario_slot = event_slot(scenario_due, nullptr, "scenario");
  wake_slot = event_slot(rtc_wake_due, nullptr, "rtc-wake");
  uart_attach(0, UartPeer{console_tx, nullptr});
  schedule_in();
  if (O.transcript) transcript_fd = open(O.transcript, O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (realtime) anchor_now();
  core_set_pacer(pacer);
  set_power_hooks(PowerHooks{on_hibernate, on_reset});
  if (O.script) step_begin();

  if (hib().hibernating) wait_in_hibernation();
  S->wakes++;
  child_start_ns = now();

  signal(SIGALRM, watchdog);
  struct itimerval it = {{20, 0}, {20, 0}};
  setitimer(ITIMER_REAL, &it, nullptr);

  g_main();
  report("phlogger-sim: the firmware's main returned\n");
  end_process(kBroken);
}

void on_stop_signal(int sig) {
  stop_signal = sig;
  if (wake_pid > 0) kill(wake_pid, SIGTERM);
}

// Waits for a wake's process to end; once a stop signal has come, a few
// seconds at most before it is killed.
int wait_wake(pid_t pid) {
  int status = 0;
  for (;;) {
    if (!stop_signal) {
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

struct termios saved_tio;
bool tio_saved;

void restore_terminal() {
  if (tio_saved) tcsetattr(0, TCSANOW, &saved_tio);
}

}  // namespace

void scenario_register_step(const char *name, StepFn fn) {
  for (int i = 0; i < n_ext; i++)
    if (!strcmp(ext_steps[i].name, name)) {
      ext_steps[i].fn = fn;
      return;
    }
  if (n_ext < kMaxExtSteps) ext_steps[n_ext++] = ExtStep{name, fn};
}

void register_device_init(DeviceInit fn) {
  if (n_device_inits < 32) device_inits[n_device_inits++] = fn;
}

void run_device_inits() {
  for (int i = 0; i < n_device_inits; i++) device_inits[i]();
}

namespace {
struct Option {
  const char *name;
  bool takes_value;
  OptionFn fn;
  const char *help;
};
Option options[64];
int n_options;
}  // namespace

void register_option(const char *name, bool takes_value, OptionFn fn, const char *help) {
  if (n_options < 64) options[n_options++] = Option{name, takes_value, fn, help};
}

bool parse_registered_option(int argc, char **argv, int *i, bool *bad) {
  const char *arg = argv[*i];
  if (strncmp(arg, "--", 2) != 0) return false;
  for (int k = 0; k < n_options; k++) {
    const Option &o = options[k];
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
  for (int k = 0; k < n_options; k++)
    fprintf(stderr, "  --%s%s\n      %s\n", options[k].name, options[k].takes_value ? " VALUE" : "",
            options[k].help);
}

uint32_t console_line_baud() { return O.baud ? O.baud : 115200; }

void console_type(const uint8_t *bytes, size_t n) {
  for (size_t i = 0; i < n; i++) enqueue_typed(bytes[i]);
}

void console_output_hook(void (*fn)(uint8_t, void *), void *ctx) {
  out_hook = fn;
  out_hook_ctx = ctx;
}

// Unit tests use the console line without the wake runner.
void console_attach_for_tests() {
  static Session local;
  if (!S) {
    S = &local;
    O = RunOptions{};
  }
  // A fresh board: nothing on the line from an earlier one.
  S->in_head = S->in_count = 0;
  S->line_free_at = 0;
  in_slot = event_slot(in_arrived, nullptr, "console-in");
  uart_attach(0, UartPeer{console_tx, nullptr});
}

int run(const RunOptions &opt, int (*firmware_main)()) {
  O = opt;
  g_main = firmware_main;
  realtime = O.script == nullptr;
  scenario_register_step("reset", step_reset);
  scenario_register_step("power-cycle", step_power_cycle);
  scenario_register_step("main-power-cycle", step_main_power_cycle);
  scenario_register_step("fault", step_fault);
  scenario_register_step("refute", step_refute);
  if (O.script && !load_script(O.script)) return kUsage;

  void *mem = mmap(nullptr, sizeof(Session), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                   -1, 0);
  if (mem == MAP_FAILED) {
    report("phlogger-sim: mmap: %s\n", strerror(errno));
    return kBroken;
  }
  S = new (mem) Session{};
  S->expect_timeout_s = 60;
  S->power_cycle = O.power_cycle;
  if (O.transcript) {
    int fd = open(O.transcript, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) close(fd);
  }

  if (realtime) {
    if (O.pty) {
      int m = posix_openpt(O_RDWR | O_NOCTTY);
      if (m < 0 || grantpt(m) || unlockpt(m)) {
        report("phlogger-sim: cannot open a pseudo-terminal: %s\n", strerror(errno));
        return kBroken;
      }
      struct termios t;
      tcgetattr(m, &t);
      cfmakeraw(&t);
      tcsetattr(m, TCSANOW, &t);
      // Never blocks the board: see flush_out.
      fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
      report("phlogger-sim: console on %s\n", ptsname(m));
      term_in = term_out = m;
      // Held open so that what the logger prints before a terminal program
      // attaches waits in the line's buffer instead of being lost.
      int keep = open(ptsname(m), O_RDWR | O_NOCTTY);
      if (keep >= 0) {
        struct termios k;
        tcgetattr(keep, &k);
        cfmakeraw(&k);
        tcsetattr(keep, TCSANOW, &k);
      }
    } else {
      term_in = 0;
      term_out = 1;
      if (isatty(0)) {
        struct termios t;
        tcgetattr(0, &saved_tio);
        tio_saved = true;
        atexit(restore_terminal);
        t = saved_tio;
        cfmakeraw(&t);
        tcsetattr(0, TCSANOW, &t);
        report("phlogger-sim: console on this terminal; Ctrl-] quits\r\n");
      }
    }
  }
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
    if (stop_signal) {
      restore_terminal();
      return O.script ? kFail : kPass;
    }
    pid_t pid = fork();
    if (pid < 0) {
      report("phlogger-sim: fork: %s\n", strerror(errno));
      restore_terminal();
      return kBroken;
    }
    if (pid == 0) child(parent);
    wake_pid = pid;
    if (stop_signal) kill(pid, SIGTERM);
    int status = wait_wake(pid);
    wake_pid = 0;
    if (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) {
      restore_terminal();
      if (WIFSIGNALED(status))
        report("phlogger-sim: the simulation died (signal %d)\n", WTERMSIG(status));
      if (O.script) print_tail();
      return WIFEXITED(status) && WEXITSTATUS(status) == kFail ? kFail : kBroken;
    }
    if (S->finished) {
      restore_terminal();
      return S->exit_code;
    }
  }
}

}  // namespace sim
