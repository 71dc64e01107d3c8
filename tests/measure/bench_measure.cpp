// How long each isolated-ADC channel takes at the record's default trials
// and rates, in the simulated board's virtual time, against the floor of
// trials / rate; and the on-chip scan. Prints a table; asserts nothing.
#include <cstdio>

#include "config/system.h"
#include "core/board_util.h"
#include "core/init.h"
#include "frontend.h"
#include "measure/adc_onchip.h"
#include "measure/ads1248_iso.h"
#include "sim_board.h"

int main() {
  SimBoard board("bench-measure");
  init_TM4C123GH6PGE_144pin();
  config_sys_data_default_init();
  openADS1248_iso();
  ADS1248_gpio_init();

  struct {
    const char *name;
    IsoChannel ch;
    uint32_t trials, sps;
  } rows[] = {
      {"Ib", IsoChannel::Ib, sys_data.Ib_trials, sys_data.Ib_sps},
      {"Ik", IsoChannel::Ik, sys_data.Ik_trials, sys_data.Ik_sps},
      {"Vk", IsoChannel::Vk, sys_data.Vk_trials, sys_data.Vk_sps},
      {"Vtherm", IsoChannel::Vtherm, sys_data.Vtherm_trials, sys_data.Vtherm_sps},
      {"Vrsi_B", IsoChannel::Vrsi_B, sys_data.Vrsi_trials, sys_data.Vrsi_sps},
      {"Vrsi", IsoChannel::Vrsi, sys_data.Vrsi_trials, sys_data.Vrsi_sps},
      {"Vrse_B", IsoChannel::Vrse_B, sys_data.Vrse_trials, sys_data.Vrse_sps},
      {"Vrse", IsoChannel::Vrse, sys_data.Vrse_trials, sys_data.Vrse_sps},
      {"Vbias-", IsoChannel::BiasNeg, sys_data.Vbias_trials, sys_data.Vbias_sps},
      {"Vbias+", IsoChannel::BiasPos, sys_data.Vbias_trials, sys_data.Vbias_sps},
  };
  printf("channel  trials  sps   floor ms   read ms  (selection + 10 ms settling excluded)\n");
  double total = 0;
  for (auto &r : rows) {
    iso_read(r.ch);  // leaves the channel selected
    const sim::ns_t t0 = sim::now();
    pollADS1248_iso(0, 6, (int)r.trials, 1, (int)r.sps);  // same trials and rate, no selection
    const double read_ms = (sim::now() - t0) / 1e6;
    const sim::ns_t s0 = sim::now();
    iso_read(r.ch);
    const double with_sel_ms = (sim::now() - s0) / 1e6;
    const double floor_ms = 1000.0 * r.trials / r.sps;
    printf("%-7s  %6u  %4u  %9.1f  %8.2f  (with selection %.2f)\n", r.name, (unsigned)r.trials,
           (unsigned)r.sps, floor_ms, read_ms, with_sel_ms);
    total += with_sel_ms;
  }
  printf("all channels of one sample, selections included: %.1f ms\n", total);

  pwr_env_mon_on();
  pwr_vbat_mon_on();
  adc_onchip_init();
  const sim::ns_t t0 = sim::now();
  read_all_adc();
  printf("on-chip scan of eight steps: %.1f us\n", (sim::now() - t0) / 1e3);
  return 0;
}
