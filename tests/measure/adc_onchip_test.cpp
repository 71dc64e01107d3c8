// The on-chip monitors: the scan through the simulated ADC0, the
// conversions at their edges, the low-battery test and the bias batteries.
#include <cmath>
#include <cstdio>

#include "config/system.h"
#include "core/board_util.h"
#include "ff.h"
#include "front_end.h"
#include "measure/adc_onchip.h"
#include "measure/ads1248_iso.h"

namespace {

std::string fixed(double v, int decimals) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

TEST(OnchipConversion, BatteryAndBoardTemperatureAtTheirEdges) {
  EXPECT_EQ(fixed(adc_main_battery(4095), 2), "22.51");
  EXPECT_NEAR(adc_main_battery(4095), 22.508, 5e-4);
  EXPECT_EQ(adc_main_battery(0), 0.0f);
  EXPECT_EQ(fixed(adc_board_temp(527), 2), "0.09");
  EXPECT_EQ(fixed(adc_board_temp(0), 2), "-67.84");
}

TEST(OnchipConversion, HumidityIsUncappedAndWaterCappedAt100) {
  EXPECT_EQ(adc_humidity(3284), 100u);
  EXPECT_EQ(adc_humidity(3283), 99u) << "integer division truncates";
  EXPECT_EQ(adc_humidity(4095), 124u);
  EXPECT_EQ(adc_water(2595), 99u);
  EXPECT_EQ(adc_water(2596), 100u);
  EXPECT_EQ(adc_water(2621), 100u);
  EXPECT_EQ(adc_water(2622), 100u) << "101 by the division, capped";
  EXPECT_EQ(adc_water(4095), 100u);
}

// Regression: a scan that never completed must not read as a reading;
// a capped 100 % water would even raise a leak.
TEST(OnchipConversion, FailedScanConvertsToNoReading) {
  EXPECT_TRUE(std::isnan(adc_main_battery(ADC_NO_READING)));
  EXPECT_TRUE(std::isnan(adc_board_temp(ADC_NO_READING)));
  EXPECT_EQ(adc_humidity(ADC_NO_READING), ADC_NO_READING);
  EXPECT_EQ(adc_water(ADC_NO_READING), ADC_NO_READING);
}

TEST(LowBattery, EqualPassesBelowIsLowMissingIsUnknown) {
  sys_data.low_batt_volt = 10.5f;
  EXPECT_EQ(battery_state(10.5f), BATTERY_OK);
  EXPECT_EQ(battery_state(10.49f), BATTERY_LOW);
  EXPECT_EQ(battery_state(12.0f), BATTERY_OK);
  // Regression: NaN compares false, so a missing reading passed as a good battery.
  EXPECT_EQ(battery_state(NAN), BATTERY_UNKNOWN);
}

class Onchip : public FrontEnd {
 protected:
  void monitors(bool on) {
    if (on) {
      pwr_env_mon_on();
      pwr_vbat_mon_on();
    } else {
      pwr_env_mon_off();
      pwr_vbat_mon_off();
    }
  }
};

TEST_F(Onchip, ScanFillsTheEightStepsInOrder) {
  sim::sensor_set("Vbat", 11.0);
  sim::sensor_set("humidity", 55);
  sim::sensor_set("water", 40);
  sim::sensor_set("board_temp", 25);
  monitors(true);
  delay_msec(1);
  adc_onchip_init();
  read_all_adc();
  uint32_t *d = read_all_adc();
  EXPECT_EQ(d, adc_data);
  const uint32_t battery = sim::sensor_onchip_counts(4);
  EXPECT_EQ(d[0], battery);
  EXPECT_EQ(d[1], 0u) << "pressure: raw counts, nothing fitted";
  EXPECT_EQ(d[2], sim::sensor_onchip_counts(10));
  EXPECT_EQ(d[3], sim::sensor_onchip_counts(16));
  EXPECT_EQ(d[4], sim::sensor_onchip_counts(17));
  EXPECT_EQ(d[5], battery);
  EXPECT_EQ(d[6], battery);
  EXPECT_EQ(d[7], sim::sensor_onchip_counts(0xFF));
  EXPECT_EQ(fixed(adc_main_battery(d[0]), 2), "11.00");
  EXPECT_EQ(adc_humidity(d[2]), 55u);
  EXPECT_EQ(adc_water(d[3]), 40u);
  EXPECT_NEAR(adc_board_temp(d[4]), 25.0, 0.13) << "one count is 0.13 C";
  EXPECT_EQ(printed(), "");

  monitors(false);
  d = read_all_adc();
  EXPECT_EQ(d[0], 0u) << "divider unpowered";
  EXPECT_EQ(d[2], 0u) << "sensors unpowered";
}

TEST_F(Onchip, SampleScanWaitsFor101msOfSupplyThenScansTwice) {
  monitors(true);
  delay_msec(1);
  adc_onchip_init();
  const uint32_t start = Timer_1ms(0);
  double t0 = secs();
  uint32_t *d = read_monitors(start);
  EXPECT_GE(Timer_1ms(0) - start, 101u);
  EXPECT_LT(secs() - t0, 0.110);
  EXPECT_EQ(d[0], sim::sensor_onchip_counts(4));
  t0 = secs();
  read_monitors(start);
  EXPECT_LT(secs() - t0, 0.001) << "time already spent on the isolated channels counts";
}

// Regression: a sequencer that never completes used to print for ever.
TEST_F(Onchip, StuckSequencerGivesUpWithOneMessageAndNoReading) {
  monitors(true);
  adc_onchip_init();
  sim::adc_set_stuck(true);
  const double t0 = secs();
  uint32_t *d = read_all_adc();
  EXPECT_LT(secs() - t0, 0.5);
  for (int i = 0; i < 8; i++) EXPECT_EQ(d[i], ADC_NO_READING) << i;
  std::string out = printed();
  EXPECT_EQ(out.find("\r\nhang in read_all_adc() waiting for ADC complete\r\r\n"), 0u) << out;
  EXPECT_EQ(count(out, "hang in read_all_adc()"), 1) << out;
  const float vbat = adc_main_battery(d[0]);
  EXPECT_TRUE(std::isnan(vbat));
  EXPECT_EQ(battery_state(vbat), BATTERY_UNKNOWN) << "the low-battery test is skipped";

  read_all_adc();
  EXPECT_EQ(count(printed(), "hang in read_all_adc()"), 1) << "once per scan";

  // Logged once per wake, not once per scan.
  FIL f{};
  ASSERT_EQ(f_open(&f, "Error.txt", FA_READ), FR_OK);
  char text[512] = {};
  UINT got = 0;
  f_read(&f, text, sizeof text - 1, &got);
  f_close(&f);
  EXPECT_EQ(count(text, "hang in read_all_adc() waiting for ADC complete"), 1) << text;
}

// A sample scans twice; its stuck sequencer is reported once, not twice.
TEST_F(Onchip, StuckSequencerIsReportedOncePerSample) {
  monitors(true);
  adc_onchip_init();
  sim::adc_set_stuck(true);
  uint32_t *d = read_monitors(Timer_1ms(0));
  EXPECT_EQ(d[2], ADC_NO_READING);
  EXPECT_EQ(adc_humidity(d[2]), ADC_NO_READING);
  EXPECT_EQ(count(printed(), "hang in read_all_adc()"), 1);
}

TEST_F(Onchip, SampleReadsEachBiasBatteryBehindItsDivider) {
  sim::sensor_set("Vbias_neg", 3.4);
  sim::sensor_set("Vbias_pos", 3.7);
  openADS1248_iso();
  ADS1248_gpio_init();
  sim::ads1248_clear_transfers();
  EXPECT_NEAR(bias_battery(false), 3.4, 1e-6);
  EXPECT_EQ(sent(0), (Bytes{0x4E, 0x00, 0x00}));
  EXPECT_EQ(sent(1), (Bytes{0x40, 0x03, 0x3E, 0x00, 0x30, 0x03})) << "AIN7/AIN6 at 40 sps";
  EXPECT_EQ(sim::ads1248_transfer_count(), 2 + (int)sys_data.Vbias_trials);
  EXPECT_GE(sim::ads1248_transfer(1).t - sim::ads1248_transfer(0).t, 10 * sim::kMs);
  EXPECT_NEAR(bias_battery(true), 3.7, 1e-6);
  EXPECT_NEAR(fBiasNeg, 3.4, 1e-6);
  EXPECT_NEAR(fBiasPos, 3.7, 1e-6);
}

TEST_F(Onchip, BenchReadsNegativeThenPositiveKeepingTheSecondRead) {
  sim::sensor_set("Vbias_neg", 3.4);
  sim::sensor_set("Vbias_pos", 3.7);
  openADS1248_iso();
  ADS1248_gpio_init();
  sim::ads1248_clear_transfers();
  read_bias_bat();
  EXPECT_NEAR(fBiasNeg, 3.4, 1e-6);
  EXPECT_NEAR(fBiasPos, 3.7, 1e-6);
  // Per battery: the divider, a discarded read, 100 ms, the kept read.
  ASSERT_EQ(sim::ads1248_transfer_count(), 2 * (1 + 2 * (1 + 5)));
  for (int b = 0; b < 2; b++) {
    const int at = b * 13;
    EXPECT_EQ(sent(at), (Bytes{0x4E, 0x00, (uint8_t)(b ? 0x08 : 0x00)}));
    EXPECT_EQ(sent(at + 1), (Bytes{0x40, 0x03, 0x3E, 0x00, 0x30, 0x02})) << "5 trials at 20 sps";
    EXPECT_EQ(sent(at + 7), sent(at + 1));
    EXPECT_GE(sim::ads1248_transfer(at + 7).t - sim::ads1248_transfer(at + 6).t, 100 * sim::kMs);
  }
}

}  // namespace
