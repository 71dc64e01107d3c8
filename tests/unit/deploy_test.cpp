// The schedule and the sample record, in-process on the simulated board.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/system.h"
#include "core/deploy.h"
#include "core/init.h"
#include "core/rtc_time.h"
#include "core/sleep.h"
#include "driverlib/hibernate.h"
#include "measure/sample.h"
#include "frontend.h"
#include "sim_board.h"
#include "test_time.h"

namespace {

uint32_t at(int h, int m, int s) { return rtc_at(2026, 12, 8, h, m, s); }

class Deploy : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    config_sys_data_default_init();
    board.run_for(0.2);
    board.out().clear();
  }
  std::vector<std::string> record_fields() {
    std::vector<std::string> f;
    std::string rec(prnBuf);
    EXPECT_GE(rec.size(), 2u);
    EXPECT_EQ(rec.substr(rec.size() - 2), "\r\n");
    std::stringstream ss(rec.substr(0, rec.size() - 2));
    std::string item;
    while (std::getline(ss, item, '\t')) f.push_back(item);
    return f;
  }
  SimBoard board{"deploy"};
};

TEST_F(Deploy, AlignedScheduleIsTheNextGridPointAfterNow) {
  sys_data.sample_aligned = 1;
  sys_data.sampling_period = 900;
  HibernateRTCSet(at(10, 7, 10));
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, at(10, 15, 0));
  HibernateRTCSet(at(10, 15, 0));
  compute_nextWakeUp();
  // A sample that ends within its grid second must not take it again.
  EXPECT_EQ(sys_samp.nextWakeUp, at(10, 30, 0)) << "a grid point that is now was just sampled";
  HibernateRTCSet(at(10, 0, 0));
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, at(10, 15, 0)) << "at least one period past the hour";
}

// A zero period with the aligned flag set (a hand-made or corrupted
// record) would add nothing for ever.
TEST_F(Deploy, AlignedZeroPeriodDoesNotLoop) {
  sys_data.sample_aligned = 1;
  sys_data.sampling_period = 0;
  sys_samp.nextWakeUp = 1234;
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, 1234u);
}

TEST_F(Deploy, UnalignedScheduleCatchesUpTwoSecondsAtATime) {
  sys_data.sample_aligned = 0;
  sys_data.sampling_period = 600;
  sys_samp.nextWakeUp = at(10, 0, 0);
  HibernateRTCSet(at(10, 25, 0));
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, at(10, 10, 0));
  try {
    sleep(DEPLOYED, sys_samp.nextWakeUp);
  } catch (const PowerDown &) {
  }
  EXPECT_EQ(HibernateRTCMatchGet(0), at(10, 25, 2)) << "a past time becomes now + 2 s";
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, at(10, 20, 0));
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, at(10, 30, 0)) << "the schedule is restored";
}

// Regression: after the hibernation module lost its battery the RTC reads
// 1970 while the stored schedule is in 2026; counting on from it put the
// next wake 56 years ahead.
TEST_F(Deploy, ScheduleAheadOfTheClockRestartsAtTheClock) {
  sys_data.sample_aligned = 0;
  sys_data.sampling_period = 600;
  sys_samp.nextWakeUp = at(10, 0, 0);
  HibernateRTCSet(45);
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, 645u);
  HibernateRTCSet(645);  // the wake at that time
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, 1245u) << "then on the schedule as usual";
  HibernateRTCSet(at(10, 0, 0));
  sys_samp.nextWakeUp = at(10, 10, 0) - 600;
  compute_nextWakeUp();
  EXPECT_EQ(sys_samp.nextWakeUp, at(10, 10, 0)) << "exactly one period ahead is the schedule";
}

// Every column of the default selection plus M, with the simulated
// sensors at their calm-sea defaults: 15 C, pH 8.05, a 12 V battery.
TEST_F(Deploy, RecordCarriesTheSensorValuesInTheirFormats) {
  sys_data.data_cfg[DF_PH_EXT] = 1;
  sys_data.data_cfg[DF_VRSE_B] = 1;
  sys_data.data_cfg[DF_VRSE_B_STD] = 1;
  sys_data.data_cfg[DF_VRSI_B_STD] = 1;
  sys_samp.current_sample = 41;
  HibernateRTCSet(at(9, 5, 3));
  fast_sample(0);
  std::vector<std::string> f = record_fields();
  ASSERT_EQ(f.size(), 24u);
  EXPECT_EQ(f[0], "#0000041");
  EXPECT_EQ(f[1], "     12/08/2026 09:05:03");
  EXPECT_EQ(f[2], "   12.00") << "battery";
  EXPECT_EQ(f[3], "    3.60") << "bias +";
  EXPECT_EQ(f[4], "    3.60") << "bias -";
  EXPECT_EQ(f[5].size(), 8u) << "board temperature, %8.2f";
  EXPECT_NEAR(atof(f[5].c_str()), 20.0, 0.2);
  EXPECT_EQ(f[6], "      30") << "humidity, %8u";
  EXPECT_EQ(f[9], "  15.000") << "sensor temperature";
  EXPECT_EQ(f[12], "   8.050") << "pH, internal reference";
  EXPECT_EQ(f[15], "   8.050") << "pH, external reference";
  for (int i : {7, 8, 10, 11, 13, 14})  // voltages and deviations, %8.6f
    EXPECT_EQ(f[i].substr(f[i].size() - 7, 1), ".") << i << ": " << f[i];
  EXPECT_LT(atof(f[8].c_str()), 60e-6) << "deviation of a quiet channel";
  EXPECT_EQ(sys_samp.current_sample, 42u);
}

// Regression: a failed humidity reading printed as 4294967295, which a
// spreadsheet takes for a number.
TEST_F(Deploy, FailedMonitorReadingsAreMissingValues) {
  sim::adc_set_stuck(true);
  fast_sample(0);
  sim::adc_set_stuck(false);
  std::vector<std::string> f = record_fields();
  ASSERT_GE(f.size(), 7u);
  EXPECT_EQ(f[2], "     nan") << "battery";
  EXPECT_EQ(f[5], "     nan") << "board temperature";
  EXPECT_EQ(f[6], "     nan") << "humidity";
}

TEST_F(Deploy, RecordWithEveryFieldOffIsALineEnd) {
  memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
  fast_sample(1);
  EXPECT_STREQ(prnBuf, "\r\n");
  EXPECT_EQ(sys_samp.current_sample, 1u) << "the counter still advances";
  sys_data.app_cfg[APPCFG_TIMING_REPORT] = 1;
  fast_sample(0);
  std::string rec(prnBuf);
  EXPECT_EQ(rec.rfind("(", 0), 0u) << rec;
  EXPECT_NE(rec.find(" msec)\t\r\n"), std::string::npos) << rec;
  board.run_for(0.1);
  EXPECT_NE(board.out().find("\r\nPump         =     0,       0"), std::string::npos);
  EXPECT_NE(board.out().find("\r\nformat data  = "), std::string::npos);
}

// A computed column gets its readings even when their own columns are
// off: K without N and H, M without L.
TEST_F(Deploy, ComputedColumnsAlwaysHaveTheirInputs) {
  memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
  sys_data.data_cfg[DF_PH_INT] = 1;
  sys_data.data_cfg[DF_PH_EXT] = 1;
  fast_sample(0);
  std::vector<std::string> f = record_fields();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0], "   8.050");
  EXPECT_EQ(f[1], "   8.050");
}

TEST_F(Deploy, RecordReachesTheCardAndTheConsoleOnlyWithTxFlag) {
  fast_sample(0);
  board.run_for(0.1);
  EXPECT_EQ(board.out().find("#0000000"), std::string::npos);
  fast_sample(1);
  board.run_for(0.2);
  EXPECT_NE(board.out().find("#0000001"), std::string::npos);
}

}  // namespace
