// Prints the temperature and pH results over a grid of inputs as bit
// patterns, for ph_oracle.py to compare with its own emulation. Built for
// the host, and bare for the chip (run under a user-mode ARM emulator by
// chip_bits.sh), so that the two builds can be compared bit for bit.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "config/system.h"
#include "measure/ph.h"

namespace {

#ifdef __arm__
void put(const char *s, int n) {
  register int r0 asm("r0") = 1;
  register const char *r1 asm("r1") = s;
  register int r2 asm("r2") = n;
  register int r7 asm("r7") = 4;  // write
  asm volatile("svc 0" : "+r"(r0) : "r"(r1), "r"(r2), "r"(r7) : "memory");
}
#else
}  // namespace
#include <unistd.h>
namespace {
void put(const char *s, int n) {
  if (write(1, s, (size_t)n) != n) _exit(1);
}
#endif

// A line of a tag and 32-bit words in hex.
void line(const char *tag, std::initializer_list<uint32_t> words) {
  char buf[64];
  int n = 0;
  for (const char *t = tag; *t;) buf[n++] = *t++;
  for (uint32_t w : words) {
    buf[n++] = ' ';
    for (int shift = 28; shift >= 0; shift -= 4) buf[n++] = "0123456789ABCDEF"[(w >> shift) & 15];
  }
  buf[n++] = '\n';
  put(buf, n);
}

uint32_t bits(float x) {
  uint32_t b;
  memcpy(&b, &x, sizeof b);
  return b;
}

}  // namespace

int main() {
  sys_data.k0int = -0.4f;
  sys_data.k0ext = -1.3f;
  sys_data.quadTherm_c0 = 340.9819863;
  sys_data.quadTherm_c1 = -9.10257e-05;
  sys_data.quadTherm_c2 = -95.08806667;
  sys_data.quadTherm_c3 = 0.965370274;
  sys_data.shTherm_A = 0.002108508173;
  sys_data.shTherm_B = 7.979204727e-05;
  sys_data.shTherm_C = 6.535076315e-07;
  for (int sel = 0; sel < 2; sel++) {
    sys_data.app_cfg[1] = (uint8_t)sel;
    for (int i = 0; i <= 220; i++)
      for (float off : {0.0f, 0.37f}) {
        float v = 0.3f + 0.01f * (float)i;
        line(sel ? "T 1" : "T 0", {bits(v), bits(off), bits(DuraFET_temp(v, off))});
      }
  }
  for (int i = 0; i <= 60; i++)
    for (int j = 0; j <= 37; j++) {
      float e = -0.1f + 0.005f * (float)i, tc = -2.0f + 1.013f * (float)j;
      line("I", {bits(e), bits(tc), bits(calc_pHint(e, tc))});
    }
  for (int i = 0; i <= 40; i++)
    for (int j = 0; j <= 37; j++)
      for (float s : {5.0f, 20.0f, 33.3f, 35.0f, 38.1f}) {
        float e = -1.0f + 0.01f * (float)i, tc = -2.0f + 1.013f * (float)j;
        line("E", {bits(e), bits(tc), bits(s), bits(calc_pHext(e, tc, s))});
      }
  return 0;
}
