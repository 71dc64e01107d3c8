// The simulated sensors: seawater through the logger's own equations, the
// calm-sea defaults end to end, the noise, and settings that outlive a wake.
#include <cmath>
#include <cstring>

#include "config/system.h"
#include "core/board_util.h"
#include "front_end.h"
#include "measure/adc_onchip.h"
#include "measure/ads1248_iso.h"
#include "measure/ph.h"
#include "sim_internal.h"

namespace {

class Sea : public FrontEnd {
 protected:
  // Temperature, internal and external pH as a sample computes them.
  struct Result {
    float T, pHint, pHext;
  };
  Result sample(float salinity) {
    openADS1248_iso();
    ADS1248_gpio_init();
    Result r;
    r.T = DuraFET_temp(iso_read(IsoChannel::Vtherm), sys_data.TCOffset);
    r.pHext = calc_pHext(iso_read(IsoChannel::Vrse), r.T, salinity);
    r.pHint = calc_pHint(iso_read(IsoChannel::Vrsi_B), r.T);
    closeADS1248_iso();
    return r;
  }
};

TEST(SeaModel, SeawaterVoltagesInvertTheLoggersEquations) {
  config_sys_data_default_init();
  const sim::SeaCoefficients k = sim::sea_default_coefficients();
  for (double T : {-1.5, 15.0, 30.0}) {
    for (double pH : {7.6, 8.05}) {
      double vt, vi, ve;
      ASSERT_TRUE(sim::seawater_voltages(T, 35, pH, k, &vt, &vi, &ve));
      float tc = DuraFET_temp((float)vt, 0.0f);
      EXPECT_NEAR(tc, T, 2e-3);
      EXPECT_NEAR(calc_pHint((float)vi, tc), pH, 2e-4);
      EXPECT_NEAR(calc_pHext((float)ve, tc, 35.0f), pH, 2e-4);
    }
  }
  // The worked example backwards: pH 7.88268 at 20 C and 35 is -0.80 V.
  double vt, vi, ve;
  sim::seawater_voltages(20, 35, 7.88268, k, &vt, &vi, &ve);
  EXPECT_NEAR(ve, -0.80, 2e-5);
  // And the Steinhart-Hart selector.
  sys_data.app_cfg[1] = 1;
  sim::SeaCoefficients sh = k;
  sh.selector = 1;
  ASSERT_TRUE(sim::seawater_voltages(8.0, 35, 8.0, sh, &vt, &vi, &ve));
  EXPECT_NEAR(DuraFET_temp((float)vt, 0.0f), 8.0, 2e-3);
}

TEST_F(Sea, CalmSeaDefaultsReadBackThroughTheWholeChain) {
  sim::sensor_set("noise_uV", 20);
  Result r = sample(sys_data.default_sal);
  EXPECT_NEAR(r.T, 15.0, 0.01);
  EXPECT_NEAR(r.pHint, 8.05, 0.002);
  EXPECT_NEAR(r.pHext, 8.05, 0.002);

  pwr_env_mon_on();
  pwr_vbat_mon_on();
  adc_onchip_init();
  read_all_adc();
  uint32_t *d = read_all_adc();
  EXPECT_NEAR(adc_main_battery(d[0]), 12.0, 0.01);
  EXPECT_EQ(adc_humidity(d[2]), 30u);
  EXPECT_EQ(adc_water(d[3]), 0u);
  EXPECT_NEAR(adc_board_temp(d[4]), 20.0, 0.13);
  openADS1248_iso();
  ADS1248_gpio_init();
  EXPECT_NEAR(bias_battery(false), 3.6, 2e-4);
  EXPECT_NEAR(bias_battery(true), 3.6, 2e-4);
}

TEST_F(Sea, SeawaterUsesTheCoefficientsOfTheEepromRecord) {
  sys_data.k0ext = -1.25f;
  sys_data.k0int = -0.38f;
  sys_data.TCOffset = 0.3f;
  memcpy(sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR, &sys_data, sizeof sys_data);
  ASSERT_TRUE(sim::sensor_seawater("T=10,S=30,pH=7.9"));
  Result r = sample(30.0f);
  EXPECT_NEAR(r.T, 10.0, 0.01);
  EXPECT_NEAR(r.pHint, 7.9, 1e-3);
  EXPECT_NEAR(r.pHext, 7.9, 1e-3);

  // A blank EEPROM has no coefficients: the record's defaults stand in.
  memset(sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR, 0xFF, sizeof(systemData));
  config_sys_data_default_init();
  ASSERT_TRUE(sim::sensor_seawater("pH=7.7,T=12,S=34"));
  EXPECT_NEAR(sample(34.0f).pHext, 7.7, 1e-3);
}

TEST_F(Sea, NoiseIsGaussianOfTheConfiguredSize) {
  sim::sensor_set("noise_uV", 20);
  openADS1248_iso();
  ADS1248_gpio_init();
  float v = pollADS1248_iso(0, 6, 120, 1, 2000);
  double vt;
  sim::sensor_get("Vtherm", &vt);
  EXPECT_NEAR(v, vt, 8e-6);
  EXPECT_NEAR(sys_samp.AD24_std, 20e-6, 4e-6);
}

TEST_F(Sea, ScenarioSettingsOutliveTheWakeButNotTheRun) {
  ASSERT_TRUE(sim::sensor_step("Vbat 11.5"));
  ASSERT_TRUE(sim::sensor_step("humidity  44 "));
  sim::board_power_on(sim::BoardConfig{board.dir().c_str(), 115200});  // the next wake
  double v;
  sim::sensor_get("Vbat", &v);
  EXPECT_EQ(v, 11.5);
  sim::sensor_get("humidity", &v);
  EXPECT_EQ(v, 44.0);

  // A file left by an earlier run of the simulator is not replayed.
  uint32_t header[2];
  sim::load_file(board.dir().c_str(), "sensors.bin", header, sizeof header, 0);
  header[1] ^= 0x40000000;
  sim::save_file(board.dir().c_str(), "sensors.bin", header, sizeof header);
  sim::board_power_on(sim::BoardConfig{board.dir().c_str(), 115200});
  sim::sensor_get("Vbat", &v);
  EXPECT_EQ(v, 12.0);
}

TEST(SeaModel, UnknownNamesAndBadValuesAreRefused) {
  EXPECT_FALSE(sim::sensor_step("Vbattery 11"));
  EXPECT_FALSE(sim::sensor_step("Vbat"));
  EXPECT_FALSE(sim::sensor_step("Vbat 11V"));
  EXPECT_FALSE(sim::sensor_step("noise_uV -3"));
  EXPECT_FALSE(sim::sensor_seawater("T=15,S=35"));
  EXPECT_FALSE(sim::sensor_seawater("T=15,S=0,pH=8"));
  EXPECT_FALSE(sim::sensor_seawater("T=15,S=35,pH=8,x=1"));
}

}  // namespace
