// Hibernation module: write pacing, the wake set-up and the request.
#include "driverlib/hibernate.h"
#include "register_test.h"

namespace {

constexpr uint32_t RTCC = 0x400FC000, RTCM0 = 0x400FC004, RTCLD = 0x400FC00C;
constexpr uint32_t CTL = 0x400FC010, RTCT = 0x400FC024;
constexpr uint32_t WRC = 1u << 31, RTCEN = 1u << 0, HIBREQ = 1u << 1, RTCWEN = 1u << 3;
constexpr uint32_t PINWEN = 1u << 4, CLK32EN = 1u << 6;

class Hibernate : public RegisterTest {
 protected:
  // Each write to the module comes after a read of HIBCTL that showed WRC.
  void expect_paced() {
    const auto &log = regfile::log();
    int writes = 0;
    for (size_t i = 0; i < log.size(); i++) {
      if (!log[i].write || (log[i].addr & 0xFFFFF000) != 0x400FC000) continue;
      writes++;
      ASSERT_GT(i, 0u);
      EXPECT_FALSE(log[i - 1].write) << "write " << i << " not preceded by a poll";
      EXPECT_EQ(log[i - 1].addr, CTL);
      EXPECT_NE(log[i - 1].value & WRC, 0u);
    }
    EXPECT_GT(writes, 0);
  }
};

TEST_F(Hibernate, MatchWakeAndRequestInOrder) {
  reg(CTL) = CLK32EN | RTCEN;
  HibernateRTCMatchSet(0, 1700000030);
  HibernateWakeSet(HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);
  HibernateRequest();
  EXPECT_EQ(regfile::writes_to(RTCM0), std::vector<uint32_t>{1700000030});
  std::vector<uint32_t> ctl = regfile::writes_to(CTL);
  ASSERT_EQ(ctl.size(), 2u);
  EXPECT_EQ(ctl[0], CLK32EN | RTCEN | PINWEN | RTCWEN) << "wake sources, clock kept";
  EXPECT_EQ(ctl[1], CLK32EN | RTCEN | PINWEN | RTCWEN | HIBREQ);
  EXPECT_LT(regfile::first_write(RTCM0), regfile::first_write(CTL));
  expect_paced();
}

TEST_F(Hibernate, WakeSetReplacesThePreviousSources) {
  reg(CTL) = CLK32EN | RTCWEN | PINWEN;
  HibernateWakeSet(HIBERNATE_WAKE_PIN);
  EXPECT_EQ(reg(CTL), CLK32EN | PINWEN);
  EXPECT_EQ(HibernateWakeGet(), HIBERNATE_WAKE_PIN);
}

TEST_F(Hibernate, ColdStartSequence) {
  EXPECT_EQ(HibernateIsActive(), 0u);
  HibernateEnableExpClk(50000000);
  HibernateRTCSet(1700000000);
  HibernateRTCTrimSet(0x7FFF);
  HibernateRTCEnable();
  // Start-up enables the module before it asks: the answer still says
  // the module had not been running through this reset.
  EXPECT_EQ(HibernateIsActive(), 0u);
  EXPECT_EQ(regfile::writes_to(RTCLD), std::vector<uint32_t>{1700000000}) << "loaded, not RTCC";
  EXPECT_TRUE(regfile::writes_to(RTCC).empty());
  EXPECT_EQ(reg(RTCT), 0x7FFFu);
  EXPECT_EQ(reg(CTL), CLK32EN | RTCEN);
  expect_paced();
}

TEST_F(Hibernate, StatusAndClear) {
  reg(0x400FC018) = 0x09;  // RIS: RTC match and wake pin
  reg(0x400FC01C) = 0x01;  // MIS
  EXPECT_EQ(HibernateIntStatus(false), HIBERNATE_INT_RTC_MATCH_0 | HIBERNATE_INT_PIN_WAKE);
  EXPECT_EQ(HibernateIntStatus(true), HIBERNATE_INT_RTC_MATCH_0);
  HibernateIntClear(HibernateIntStatus(false));
  EXPECT_EQ(regfile::writes_to(0x400FC020), std::vector<uint32_t>{0x09});
  expect_paced();
}

}  // namespace

// A module that kept its clock through the reset is reported active even
// though start-up has enabled it again before asking.
TEST_F(Hibernate, WarmStartIsStillSeenAfterTheEnable) {
  reg(CTL) = CLK32EN | RTCEN;
  HibernateEnableExpClk(50000000);
  EXPECT_NE(HibernateIsActive(), 0u);
}
