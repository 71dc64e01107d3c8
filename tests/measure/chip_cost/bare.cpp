// A bare process for a program built for the chip and run under a
// user-mode ARM emulator: the records it needs and an entry that exits
// with main's status.
#include "config/system.h"

systemData sys_data;
systemSamplingData sys_samp;

int main();

extern "C" [[noreturn]] void _start() {
  register int r0 asm("r0") = main();
  register int r7 asm("r7") = 1;  // exit
  asm volatile("svc 0" ::"r"(r0), "r"(r7));
  for (;;) {
  }
}
