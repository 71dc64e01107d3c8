// The pH equations as the chip build compiles them, run bare under a
// user-mode ARM emulator: each call sits between two markers, so that an
// instruction trace can be cut to it. Exits 0 when the results are right.
#include "config/system.h"
#include "measure/ph.h"

systemData sys_data;
systemSamplingData sys_samp;
volatile float sink[3];

extern "C" __attribute__((noinline)) void mark_temp() { asm volatile(""); }
extern "C" __attribute__((noinline)) void mark_ext() { asm volatile(""); }
extern "C" __attribute__((noinline)) void mark_int() { asm volatile(""); }
extern "C" __attribute__((noinline)) void mark_end() { asm volatile(""); }

extern "C" [[noreturn]] void _start() {
  sys_data.k0ext = -1.3f;
  sys_data.k0int = -0.4f;
  sys_data.quadTherm_c0 = 340.9819863;
  sys_data.quadTherm_c1 = -9.10257e-05;
  sys_data.quadTherm_c2 = -95.08806667;
  sys_data.quadTherm_c3 = 0.965370274;
  mark_temp();
  sink[0] = DuraFET_temp(1.2f, 0.0f);
  mark_ext();
  sink[1] = calc_pHext(-0.80f, 20.0f, 35.0f);
  mark_int();
  sink[2] = calc_pHint(0.05f, 20.0f);
  mark_end();
  const bool right = sink[0] > 18.585f && sink[0] < 18.586f && sink[1] > 7.8826f &&
                     sink[1] < 7.8827f && sink[2] > 7.6417f && sink[2] < 7.6418f;
  register int r0 asm("r0") = right ? 0 : 1;
  register int r7 asm("r7") = 1;  // exit
  asm volatile("svc 0" ::"r"(r0), "r"(r7));
  for (;;) {
  }
}
