// Prints the temperature and pH results over a grid of inputs as bit
// patterns, for ph_oracle.py to compare with its own emulation.
#include <cstdint>
#include <initializer_list>
#include <cstdio>
#include <cstring>

#include "config/system.h"
#include "measure/ph.h"

namespace {

uint32_t bits(float x) {
  uint32_t b;
  memcpy(&b, &x, sizeof b);
  return b;
}

}  // namespace

int main() {
  config_sys_data_default_init();
  for (int sel = 0; sel < 2; sel++) {
    sys_data.app_cfg[1] = (uint8_t)sel;
    for (int i = 0; i <= 220; i++)
      for (float off : {0.0f, 0.37f}) {
        float v = 0.3f + 0.01f * (float)i;
        printf("T %d %08X %08X %08X\n", sel, bits(v), bits(off), bits(DuraFET_temp(v, off)));
      }
  }
  for (int i = 0; i <= 60; i++)
    for (int j = 0; j <= 37; j++) {
      float e = -0.1f + 0.005f * (float)i, tc = -2.0f + 1.013f * (float)j;
      printf("I %08X %08X %08X\n", bits(e), bits(tc), bits(calc_pHint(e, tc)));
    }
  for (int i = 0; i <= 40; i++)
    for (int j = 0; j <= 37; j++)
      for (float s : {5.0f, 20.0f, 33.3f, 35.0f, 38.1f}) {
        float e = -1.0f + 0.01f * (float)i, tc = -2.0f + 1.013f * (float)j;
        printf("E %08X %08X %08X %08X\n", bits(e), bits(tc), bits(s), bits(calc_pHext(e, tc, s)));
      }
  return 0;
}
