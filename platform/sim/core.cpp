// Virtual time, the event list, the NVIC stand-in, system control, SysTick
// and the FPU switches of the simulated TM4C123.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driverlib/fpu.h"
#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "driverlib/systick.h"
#include "inc/hw_ints.h"
#include "sim.h"
#include "sim_internal.h"
#include "vectors.h"

namespace sim {

volatile uint64_t g_platform_calls = 0;

namespace {

constexpr int kMaxEvents = 48;
constexpr int kIrqWords = (NUM_INTERRUPTS + 63) / 64;

bool bit(const uint64_t *w, uint32_t n) { return (w[n / 64] >> (n % 64)) & 1; }
void set_bit(uint64_t *w, uint32_t n, bool on) {
  if (on) w[n / 64] |= 1ull << (n % 64);
  else w[n / 64] &= ~(1ull << (n % 64));
}

struct Event {
  EventFn fn;
  void *ctx;
  const char *name;
  ns_t t;
  bool active;
};

struct Core {
  ns_t now;
  uint32_t sysclk;
  Event events[kMaxEvents];
  int n_events;
  bool primask;
  bool in_handler;
  uint64_t handlers_run;  // interrupt handlers taken so far
  // One bit per interrupt number: dispatch runs after every platform
  // call, so finding nothing to do has to be cheap.
  uint64_t enabled[kIrqWords];
  uint64_t pending[kIrqWords];
  uint64_t level[kIrqWords];
  // The earliest active event, kept until an event changes.
  int next;
  bool next_known;
  uint32_t polls;
  // SysTick
  uint32_t st_period;
  bool st_enabled;
  bool st_int;
  ns_t st_last;
  int st_slot;
  // System control
  uint32_t periph_enabled[64];  // bit per peripheral, by gating register
  bool fpu_enabled;
  PowerHooks hooks;
  ns_t (*pacer)(ns_t target);
  // Reset causes: the register as this start found it, and the cause of
  // the reset that ends this run (for the runner to hand on).
  uint32_t resc;
  uint32_t ending_cause;
};

Core c;

void systick_fire(void *) {
  c.st_last = c.now;
  if (c.st_int) irq_pend(FAULT_SYSTICK);
  ns_t period = (ns_t)(c.st_period * cycle_ns());
  if (period == 0) period = 1;
  event_at(c.st_slot, c.now + period);
}

void systick_restart() {
  if (!c.st_enabled) {
    event_cancel(c.st_slot);
    return;
  }
  c.st_last = c.now;
  ns_t period = (ns_t)(c.st_period * cycle_ns());
  if (period == 0) period = 1;
  event_at(c.st_slot, c.now + period);
}

void handler_for(uint32_t n) {
  void (*h)(void) = firmware_vector(n);
  if (!h) h = IntDefaultHandler;
  c.in_handler = true;
  h();
  c.in_handler = false;
  c.handlers_run++;
}

int periph_word(uint32_t p) { return (int)((p >> 8) & 0x3F); }
uint32_t periph_bit(uint32_t p) { return 1u << (p & 0x1F); }

}  // namespace

void core_reset() {
  memset(&c, 0, sizeof c);
  c.sysclk = 16000000;
  c.primask = false;
  c.next_known = false;
  c.st_slot = event_slot(systick_fire, nullptr, "systick");
}

void core_set_now(ns_t t) { c.now = t; }

void core_set_pacer(ns_t (*pacer)(ns_t target)) { c.pacer = pacer; }

ns_t now() { return c.now; }
double cycle_ns() { return 1.0e9 / c.sysclk; }
uint32_t sysclk_hz() { return c.sysclk; }
void set_sysclk_hz(uint32_t hz) { c.sysclk = hz; }

int event_slot(EventFn fn, void *ctx, const char *name) {
  for (int i = 0; i < c.n_events; i++)
    if (c.events[i].fn == fn && c.events[i].ctx == ctx) return i;
  if (c.n_events >= kMaxEvents) {
    report("sim: too many event sources\n");
    abort();
  }
  c.events[c.n_events] = Event{fn, ctx, name, 0, false};
  return c.n_events++;
}

void event_at(int slot, ns_t t) {
  c.events[slot].t = t < c.now ? c.now : t;
  c.events[slot].active = true;
  c.next_known = false;
}
void event_cancel(int slot) {
  c.events[slot].active = false;
  c.next_known = false;
}
bool event_pending(int slot) { return c.events[slot].active; }

// The lowest slot wins a tie, as events due at one time run in slot order.
static int next_event_index() {
  if (c.next_known) return c.next;
  int best = -1;
  for (int i = 0; i < c.n_events; i++)
    if (c.events[i].active && (best < 0 || c.events[i].t < c.events[best].t)) best = i;
  c.next = best;
  c.next_known = true;
  return best;
}

ns_t next_event_time() {
  int i = next_event_index();
  return i < 0 ? UINT64_MAX : c.events[i].t;
}

namespace {

// Runs the events up to t; with wake_on_irq, stops after the first one
// that had an interrupt handler run, as a core in a wait-for-interrupt
// resumes once the handler returns.
void run_to(ns_t t, bool wake_on_irq) {
  for (;;) {
    int i = next_event_index();
    if (i < 0 || c.events[i].t > t) break;
    ns_t at = c.events[i].t;
    if (c.pacer) {
      // Real-time bridges hold virtual time back to host time; input that
      // arrives meanwhile is scheduled at the moment it was read.
      ns_t reached = c.pacer(at);
      if (reached < at) {
        if (reached > c.now) c.now = reached;
        continue;
      }
    }
    c.now = at;
    c.events[i].active = false;
    c.next_known = false;
    c.events[i].fn(c.events[i].ctx);
    uint64_t before = c.handlers_run;
    irq_dispatch();
    if (wake_on_irq && c.handlers_run != before) return;
  }
  if (t > c.now) {
    if (c.pacer && c.pacer(t) < t) {
      run_to(t, wake_on_irq);
      return;
    }
    c.now = t;
  }
  irq_dispatch();
}

}  // namespace

void advance_to(ns_t t) { run_to(t, false); }

void advance(ns_t dt) { advance_to(c.now + dt); }

void op() {
  g_platform_calls = g_platform_calls + 1;
  if (!c.in_handler) c.polls = 0;
  advance((ns_t)(10 * cycle_ns()));
}

void poll() {
  g_platform_calls = g_platform_calls + 1;
  if (c.in_handler) {
    advance((ns_t)(10 * cycle_ns()));
    return;
  }
  if (++c.polls < 16) {
    advance((ns_t)(10 * cycle_ns()));
    return;
  }
  idle();
}

void idle() {
  g_platform_calls = g_platform_calls + 1;
  c.polls = 0;
  ns_t t = next_event_time();
  if (t == UINT64_MAX) {
    // Nothing will ever happen: a real core would stop here for good.
    report("sim: the firmware waits for an event that can never come\n");
    t = c.now + kSec;
  }
  run_to(t, true);
}

bool idle_until(ns_t deadline) {
  if (c.now >= deadline) return false;
  g_platform_calls = g_platform_calls + 1;
  c.polls = 0;
  ns_t t = next_event_time();
  advance_to(t < deadline ? t : deadline);
  return true;
}

// ---- NVIC ----------------------------------------------------------------

void irq_pend(uint32_t n) {
  if (n < NUM_INTERRUPTS) set_bit(c.pending, n, true);
}
void irq_level(uint32_t n, bool high) {
  if (n < NUM_INTERRUPTS) set_bit(c.level, n, high);
}
void irq_enable(uint32_t n, bool on) {
  if (n < NUM_INTERRUPTS) set_bit(c.enabled, n, on);
}
bool irq_enabled(uint32_t n) { return n < NUM_INTERRUPTS && bit(c.enabled, n); }
bool primask() { return c.primask; }
void set_primask(bool masked) { c.primask = masked; }
bool in_handler() { return c.in_handler; }

void irq_dispatch() {
  if (c.in_handler || c.primask) return;
  // Fixed priority by number: SysTick first, then peripherals in order.
  for (int guard = 0; guard < 1000; guard++) {
    bool any = false;
    if (bit(c.pending, FAULT_SYSTICK) && c.st_int) {
      set_bit(c.pending, FAULT_SYSTICK, false);
      handler_for(FAULT_SYSTICK);
      any = true;
    }
    for (int w = 0; w < kIrqWords; w++) {
      // Peripheral interrupts start at 16; below are the core's exceptions.
      uint64_t from16 = w == 0 ? ~0xFFFFull : ~0ull;
      uint64_t due = (c.level[w] | c.pending[w]) & c.enabled[w] & from16;
      while (due) {
        uint32_t n = (uint32_t)(w * 64 + __builtin_ctzll(due));
        due &= due - 1;
        set_bit(c.pending, n, false);
        handler_for(n);
        any = true;
        if (c.primask) return;
        // The handler may have raised or lowered lines further on.
        due = (c.level[w] | c.pending[w]) & c.enabled[w] & from16 & ~((2ull << (n % 64)) - 1);
      }
    }
    if (!any || c.primask) return;
  }
}

PowerHooks &power_hooks() { return c.hooks; }
void set_power_hooks(PowerHooks hooks) { c.hooks = hooks; }

void report(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  fflush(stderr);
}

bool periph_is_enabled(uint32_t periph) {
  return (c.periph_enabled[periph_word(periph)] & periph_bit(periph)) != 0;
}

uint32_t &reset_cause_register() { return c.resc; }
uint32_t ending_reset_cause() { return c.ending_cause; }

[[noreturn]] void chip_reset(uint32_t cause) {
  c.ending_cause = cause;
  if (c.hooks.reset) c.hooks.reset();
  report("sim: reset requested with no runner\n");
  abort();
}

[[noreturn]] void system_reset() {
  c.ending_cause = SYSCTL_CAUSE_SW;
  if (c.hooks.reset) c.hooks.reset();
  report("sim: reset requested with no runner\n");
  abort();
}

[[noreturn]] void power_down_for_hibernation() {
  if (c.hooks.hibernate) c.hooks.hibernate();
  report("sim: hibernation requested with no runner\n");
  abort();
}

}  // namespace sim

using namespace sim;

// ---- system control --------------------------------------------------------

void SysCtlClockSet(uint32_t config) {
  op();
  // 400 MHz PLL output, divided by two, then by SYSDIV+1 (field bits 23-26).
  uint32_t sysdiv = ((config >> 23) & 0xF) + 1;
  bool use_osc = (config & SYSCTL_USE_OSC) == SYSCTL_USE_OSC;
  if (use_osc) {
    set_sysclk_hz((config & SYSCTL_OSC_INT) ? 16000000 : 16000000 / sysdiv);
  } else {
    set_sysclk_hz(200000000 / sysdiv);
  }
  // PLL lock.
  advance(100 * kUs);
  // SysTick counts in the new clock from here on.
  systick_restart();
}

uint32_t SysCtlClockGet(void) {
  op();
  return sysclk_hz();
}

void SysCtlPeripheralEnable(uint32_t periph) {
  op();
  c.periph_enabled[periph_word(periph)] |= periph_bit(periph);
}

void SysCtlPeripheralDisable(uint32_t periph) {
  op();
  c.periph_enabled[periph_word(periph)] &= ~periph_bit(periph);
}

void SysCtlPeripheralReset(uint32_t periph) {
  op();
  periph_reset(periph);
}

bool SysCtlPeripheralReady(uint32_t periph) {
  poll();
  return periph_is_enabled(periph);
}

bool SysCtlPeripheralPresent(uint32_t periph) {
  op();
  switch (periph) {
    case SYSCTL_PERIPH_UART0: case SYSCTL_PERIPH_UART1: case SYSCTL_PERIPH_UART2:
    case SYSCTL_PERIPH_UART3: case SYSCTL_PERIPH_UART4: case SYSCTL_PERIPH_UART5:
    case SYSCTL_PERIPH_UART6: case SYSCTL_PERIPH_UART7:
    case SYSCTL_PERIPH_SSI0: case SYSCTL_PERIPH_SSI1: case SYSCTL_PERIPH_SSI2:
    case SYSCTL_PERIPH_SSI3: case SYSCTL_PERIPH_I2C0: case SYSCTL_PERIPH_I2C1:
    case SYSCTL_PERIPH_ADC0: case SYSCTL_PERIPH_ADC1: case SYSCTL_PERIPH_EEPROM0:
    case SYSCTL_PERIPH_HIBERNATE:
      return true;
    default:
      return (periph & 0xFFFFFF00u) == 0xF0000800u && (periph & 0xFF) <= 0x0E;
  }
}

void SysCtlDelay(uint32_t count) {
  g_platform_calls = g_platform_calls + 1;
  advance((ns_t)(3.0 * count * cycle_ns()));
}

void SysCtlSleep(void) { idle(); }

uint32_t SysCtlResetCauseGet(void) {
  op();
  return c.resc;
}

void SysCtlResetCauseClear(uint32_t causes) {
  op();
  c.resc &= ~causes;
}

void SysCtlReset(void) {
  op();
  system_reset();
}

// ---- FPU -------------------------------------------------------------------

void FPUEnable(void) { op(); c.fpu_enabled = true; }
void FPUDisable(void) { op(); c.fpu_enabled = false; }
void FPULazyStackingEnable(void) { op(); }
void FPUStackingEnable(void) { op(); }

// ---- SysTick -----------------------------------------------------------------

void SysTickPeriodSet(uint32_t period) {
  op();
  c.st_period = period;
  if (c.st_enabled) systick_restart();
}
uint32_t SysTickPeriodGet(void) { op(); return c.st_period; }
uint32_t SysTickValueGet(void) {
  poll();
  if (!c.st_enabled || c.st_period == 0) return 0;
  ns_t since = c.now - c.st_last;
  uint32_t cycles = (uint32_t)(since / cycle_ns());
  return cycles >= c.st_period ? 0 : c.st_period - 1 - cycles;
}
void SysTickEnable(void) {
  op();
  c.st_enabled = true;
  systick_restart();
}
void SysTickDisable(void) {
  op();
  c.st_enabled = false;
  systick_restart();
}
void SysTickIntEnable(void) { op(); c.st_int = true; }
void SysTickIntDisable(void) { op(); c.st_int = false; }

// ---- NVIC ------------------------------------------------------------------

bool IntMasterEnable(void) {
  bool was = c.primask;
  c.primask = false;
  op();
  return was;
}

bool IntMasterDisable(void) {
  bool was = c.primask;
  c.primask = true;
  op();
  return was;
}

void IntEnable(uint32_t interrupt) {
  if (interrupt == FAULT_SYSTICK) c.st_int = true;
  else irq_enable(interrupt, true);
  op();
}

void IntDisable(uint32_t interrupt) {
  if (interrupt == FAULT_SYSTICK) c.st_int = false;
  else irq_enable(interrupt, false);
  op();
}

bool IntIsEnabled(uint32_t interrupt) {
  op();
  return interrupt == FAULT_SYSTICK ? c.st_int : irq_enabled(interrupt);
}

void IntPrioritySet(uint32_t, uint8_t) { op(); }
