// The temperature and pH equations against their worked values, to the
// printed digits; the digits depend on every single/double rounding point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/system.h"
#include "measure/ph.h"

namespace {

// A value as the worked examples print it: `digits` significant digits.
std::string sig(double v, int digits) {
  char buf[48];
  snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

class Ph : public ::testing::Test {
 protected:
  void SetUp() override { config_sys_data_default_init(); }
};

TEST_F(Ph, ThermistorWorkedValuesAndOffsetAddedAfterTheEquation) {
  EXPECT_EQ(sig(20000.0 / (3.3 / (double)1.2f - 1.0), 7), "11428.57");
  EXPECT_EQ(sig(DuraFET_temp(1.2f, 0.0f), 6), "18.5851");
  EXPECT_EQ(sig(DuraFET_temp(1.2f, 0.5f), 6), "19.0851");
}

TEST_F(Ph, ThermistorSelectorChoosesTheEquation) {
  sys_data.app_cfg[1] = 2;
  EXPECT_EQ(DuraFET_temp(1.2f, 0.5f), 0.5f) << "an unknown selector leaves the offset alone";

  // Selector 1: Steinhart-Hart on shTherm_A..C, kelvin to Celsius, plus the offset.
  sys_data.app_cfg[1] = 1;
  EXPECT_EQ(sig(DuraFET_temp(1.2f, 0.0f), 6), "22.0789");
  EXPECT_EQ(sig(DuraFET_temp(1.2f, 0.5f), 6), "22.5789");
  const float before = DuraFET_temp(1.2f, 0.0f);
  sys_data.quadTherm_c0 = 0;
  sys_data.quadTherm_c2 = 0;
  sys_data.quadTherm_c3 = 0;
  EXPECT_EQ(DuraFET_temp(1.2f, 0.0f), before) << "the four-coefficient set does not feed it";
  sys_data.shTherm_A *= 1.001;
  EXPECT_NE(DuraFET_temp(1.2f, 0.0f), before);
}

TEST_F(Ph, InternalReferenceWorkedValues) {
  PhTerms t = pHint_terms(0.05f, 20.0f);
  EXPECT_EQ(sig(t.T, 5), "293.15");
  EXPECT_EQ(sig(t.S_T, 6), "0.0581666");
  EXPECT_EQ(sig(t.Eo, 6), "-0.394494");
  EXPECT_EQ(sig(t.pH, 6), "7.64174");
  EXPECT_EQ(calc_pHint(0.05f, 20.0f), t.pH);

  t = pHint_terms(0.05f, 25.0f);
  EXPECT_EQ(sig(t.S_T, 6), "0.0591587");
  EXPECT_EQ(sig(t.pH, 6), "7.60666");
  EXPECT_EQ(t.Eo, sys_data.k0int) << "no temperature term at 25 C";
}

TEST_F(Ph, ExternalReferenceWorkedValues) {
  PhTerms t = pHext_terms(-0.80f, 20.0f, 35.0f);
  EXPECT_EQ(sig(t.Eo, 7), "-1.294759");
  EXPECT_EQ(sig(t.Z, 6), "0.722763");
  EXPECT_EQ(sig(t.SO4_tot, 6), "0.0282354");
  EXPECT_EQ(sig(t.mCl, 6), "0.545862");
  EXPECT_EQ(sig(t.K_HSO4, 6), "0.120643");
  EXPECT_EQ(sig(t.DHconst, 6), "0.506598");
  EXPECT_EQ(sig(t.log10gamma_HCl, 6), "-0.268975");
  EXPECT_EQ(sig(t.pH_free, 6), "7.97401");
  EXPECT_EQ(sig(t.pH, 6), "7.88268");
  EXPECT_EQ(calc_pHext(-0.80f, 20.0f, 35.0f), t.pH);

  EXPECT_EQ(pHext_terms(-0.80f, 25.0f, 35.0f).Eo, sys_data.k0ext) << "no temperature term at 25 C";
}

uint32_t bits(float x) {
  uint32_t b;
  memcpy(&b, &x, sizeof b);
  return b;
}

// Bit patterns from ph_oracle.py, the equations written again with each
// rounding made explicit: a rounding point moved (or fused away) changes
// these, where the printed digits mostly stay.
TEST_F(Ph, EveryRoundingPointHoldsToTheBit) {
  struct {
    float v, offset;
    uint8_t selector;
    uint32_t expect;
  } temps[] = {{1.2f, 0.0f, 0, 0x4194AE61}, {1.2f, 0.5f, 0, 0x4198AE61},
               {0.9377f, -0.21f, 0, 0x41D3DD2C}, {1.2f, 0.0f, 1, 0x41B0A188},
               {1.61f, 0.3f, 1, 0x413367FE}};
  for (auto &c : temps) {
    sys_data.app_cfg[1] = c.selector;
    EXPECT_EQ(bits(DuraFET_temp(c.v, c.offset)), c.expect) << c.v << " " << (int)c.selector;
  }
  struct {
    float e, tc;
    uint32_t expect;
  } ints[] = {{0.05f, 20.0f, 0x40F4892B}, {0.05f, 25.0f, 0x40F369C9},
              {0.0731f, 3.72f, 0x4102F6B8}, {-0.012f, 31.4f, 0x40D132AC}};
  for (auto &c : ints) EXPECT_EQ(bits(calc_pHint(c.e, c.tc)), c.expect) << c.e << " " << c.tc;
  struct {
    float e, tc, s;
    uint32_t expect;
  } exts[] = {{-0.80f, 20.0f, 35.0f, 0x40FC3EE5}, {-0.7654f, 3.72f, 33.3f, 0x410BBE67},
              {-0.83f, 28.1f, 36.9f, 0x40E912A9}, {-0.9f, 12.0f, 5.0f, 0x40AFAF22}};
  for (auto &c : exts) EXPECT_EQ(bits(calc_pHext(c.e, c.tc, c.s)), c.expect) << c.e << " " << c.tc;
}

TEST_F(Ph, SlopeCoefficientsOfTheRecordDoNotEnter) {
  const float in = calc_pHint(0.05f, 12.0f), ex = calc_pHext(-0.8f, 12.0f, 33.0f);
  sys_data.k2int = -0.002f;
  sys_data.k2ext = 0.5f;
  EXPECT_EQ(calc_pHint(0.05f, 12.0f), in);
  EXPECT_EQ(calc_pHext(-0.8f, 12.0f, 33.0f), ex);
}

TEST_F(Ph, InputsAtTheEdgesFollowIeeeArithmetic) {
  EXPECT_EQ(calc_pHext(-0.8f, 20.0f, 0.0f), -INFINITY) << "no chloride at salinity 0";
  EXPECT_FALSE(std::isfinite(DuraFET_temp(0.0f, 0.0f))) << "log10 of zero resistance";
  EXPECT_TRUE(std::isnan(calc_pHext(NAN, 20.0f, 35.0f))) << "a failed read stays visible";
  EXPECT_TRUE(std::isnan(calc_pHint(0.05f, NAN)));
}

}  // namespace
