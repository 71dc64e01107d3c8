// The pH calibration: the inversion of the pH equations against their
// worked example, the dialogue in both modes, and an automatic
// calibration on the simulated bath followed by a sample that must read
// the bath's pH back.
#include "measure/ph_cal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/system.h"
#include "core/init.h"
#include "core/sleep.h"
#include "fields_support.h"
#include "fmt.h"
#include "frontend.h"
#include "instruments.h"
#include "measure/ph.h"
#include "measure/sample.h"

namespace {

std::string printed(float v) {
  char buf[32];
  fmt_snprintf(buf, sizeof buf, "%f", (double)v);
  return buf;
}

constexpr float kNoVtherm = -1.0f;

class PhCal : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    config_sys_data_default_init();
    board.run_for(0.2);
    board.out().clear();
  }
  void run(const MenuScript &d) {
    MenuKeys keys(board, d.steps);
    try {
      ph_calib();
    } catch (const PowerDown &) {
      ADD_FAILURE() << "the calibration hibernated\n" << tail();
    } catch (const MenuStalled &s) {
      ADD_FAILURE() << "no " << s.expect << "\n" << tail();
    }
    board.run_for(0.05);
    EXPECT_TRUE(keys.done()) << tail();
  }
  std::string tail() {
    const std::string &o = board.out();
    return o.size() > 2000 ? o.substr(o.size() - 2000) : o;
  }
  bool shown(const std::string &text) { return board.out().find(text) != std::string::npos; }
  SimBoard board{"phcal"};
};

// The calibration point of the pH equations' worked example gives back
// their coefficients, to the digits the dialogue prints.
TEST_F(PhCal, WorkedExampleGivesBackTheCoefficients) {
  PhCalResult in = ph_cal_compute(7.64174f, 20.0f, 35.0f, 0.05f, -0.80f, kNoVtherm);
  EXPECT_EQ(printed(in.Eo_int25), "-0.400000");
  EXPECT_NEAR(in.Eo_int25, -0.4, 1e-6);
  PhCalResult ex = ph_cal_compute(7.88268f, 20.0f, 35.0f, 0.05f, -0.80f, kNoVtherm);
  EXPECT_EQ(printed(ex.Eo_ext25), "-1.300000");
  EXPECT_NEAR(ex.Eo_ext25, -1.3, 1e-6);
  EXPECT_EQ(in.TCOffset, sys_data.TCOffset) << "no thermistor reading: the offset stays";
}

// Calibrating at any bath and then computing the pH of the same readings
// with the new coefficients must give the bath's pH: the calibration is
// the inverse of the equations the samples use.
TEST_F(PhCal, CalibrationInvertsThePhEquations) {
  for (float TC : {2.0f, 10.0f, 25.0f, 31.5f})
    for (float S : {20.0f, 35.0f, 38.2f})
      for (float pH : {7.4f, 8.05f, 8.6f}) {
        PhCalResult r = ph_cal_compute(pH, TC, S, 0.031f, -0.812f, kNoVtherm);
        sys_data.k0int = r.Eo_int25;
        sys_data.k0ext = r.Eo_ext25;
        EXPECT_NEAR(calc_pHint(0.031f, TC), pH, 2e-5) << TC << " C, S " << S;
        EXPECT_NEAR(calc_pHext(-0.812f, TC, S), pH, 2e-5) << TC << " C, S " << S;
      }
}

TEST_F(PhCal, ThermistorOffsetIsTheBathLessTheUncorrectedThermistor) {
  sys_data.TCOffset = 3.0f;  // the old offset plays no part
  PhCalResult r = ph_cal_compute(8.0f, 20.0f, 35.0f, 0.0f, -0.8f, 1.2f);
  EXPECT_NEAR(r.TCOffset, 20.0 - 18.5851, 1e-4);
}

// Manual mode on the worked example.
TEST_F(PhCal, ManualDialogueStoresOnlyWhenAccepted) {
  sys_data.TCOffset = 0.5f;
  MenuScript d;
  d.on("\n\nEnter pH calibration point [", "-1\r")
      .on("\nEnter between 0 and 14", "")
      .on("Enter pH calibration point [", "7.64174\r")
      .on("pH cal pt = 7.642\n", "")
      .on("\n\nPerform automatic DuraFET calibration (Y/N) [N]? ", "\r")
      .on("\n\nEnter Vrsi [", "2.5\r")
      .on("Enter number between -2 and 2\n\n", "")
      .on("\n\nEnter Vrsi [", "0.05\r")
      .on("\n\nEnter Vrse [", "-0.8\r")
      .on("\nEnter bath temperature [", "20\r")
      .on("\nEnter bath salinity [", "101\r")
      .on("\nEnter between 0 and 100", "")
      .on("\nEnter bath salinity [", "35\r")
      .on("\n\nEo Int @ 25C = -0.400000", "")
      .on("\nTCOffset = 0.500000", "")
      .on("\n\nAccept and store calibration values(Y/N) [N]? ", "n\r");
  run(d);
  EXPECT_EQ(sys_data.k0int, -0.4f) << "declined: the defaults stay";
  EXPECT_EQ(sys_data.k0ext, -1.3f);

  // The next calibration offers the same values; Enter or a bad answer
  // reuses them, and this time they are accepted.
  PhCalResult want = ph_cal_compute(7.64174f, 20.0f, 35.0f, 0.05f, -0.8f, kNoVtherm);
  MenuScript again;
  again.on("Enter pH calibration point [7.642]: ", "7.7x\r")
      .on("DEBUG: sscanf fails to return 1", "")
      .on("[N]? ", "n\r")
      .on("Enter Vrsi [0.050000]: ", "\r")
      .on("Enter Vrse [-0.800000]: ", "abc\r")
      .on("Not a number", "")
      .on("Enter bath temperature [20.000000]: ", "\r")
      .on("Enter bath salinity [35.000000]: ", "\r")
      .on("Eo Ext @ 25C = " + printed(want.Eo_ext25), "")
      .on("Accept and store calibration values(Y/N) [N]? ", "y\r")
      .on("\nCalibration values stored", "");
  run(again);
  EXPECT_EQ(sys_data.k0int, want.Eo_int25);
  EXPECT_EQ(sys_data.k0ext, want.Eo_ext25);
  EXPECT_EQ(sys_data.TCOffset, 0.5f) << "manual mode measures no thermistor";
}

// A salinity of 0 has no chloride: Eo Ext is infinite and must not reach
// the record. (pH 14 is the top of its range, 14.01 beyond it.)
TEST_F(PhCal, NonFiniteResultIsNotOffered) {
  MenuScript d;
  d.on("Enter pH calibration point [", "14.01\r")
      .on("\nEnter between 0 and 14\n\nEnter pH calibration point [", "14\r")
      .on("pH cal pt = 14.000\n", "")
      .on("[N]? ", "\r")
      .on("Enter Vrsi [", "0.1\r")
      .on("Enter Vrse [", "-0.8\r")
      .on("temperature [", "15\r")
      .on("salinity [", "0\r")
      .on("Eo Ext @ 25C = -inf", "")
      .on("not stored", "");
  run(d);
  EXPECT_FALSE(shown("Accept and store"));
  EXPECT_EQ(sys_data.k0ext, -1.3f);
}

// The bath at 18.5 C and salinity 34.2, as the CTD in it reports, seen by
// a DuraFET whose standard potentials are not the record's.
constexpr double kBathT = 18.5, kBathS = 34.2;
void fill_bath(double pH) {
  sim::instruments_defaults();
  sim::ctd_model().T = kBathT;
  sim::ctd_model().S = kBathS;
  sim::SeaCoefficients sensor = sim::sea_default_coefficients();
  sensor.k0int = -0.43;
  sensor.k0ext = -1.27;
  double vt, vi, ve;
  ASSERT_TRUE(sim::seawater_voltages(kBathT, kBathS, pH, sensor, &vt, &vi, &ve));
  sim::sensor_set("Vtherm", vt);
  sim::sensor_set("Vrsi_B", vi);
  sim::sensor_set("Vrse", ve);
}

std::vector<std::string> record_fields() {
  std::vector<std::string> f;
  std::string rec(prnBuf);
  std::stringstream ss(rec.substr(0, rec.find('\r')));
  std::string item;
  while (std::getline(ss, item, '\t')) f.push_back(item);
  return f;
}

// Two passes and a key: the means are those of the two readings, not of
// five slots with three empty, and a sample afterwards reads the bath's pH.
TEST_F(PhCal, AutomaticCalibrationThenASampleReadsTheBath) {
  fill_bath(7.9);
  MenuScript d;
  d.on("Enter pH calibration point [", "7.9\r")
      .on("Perform automatic DuraFET calibration (Y/N) [N]? ", "y\r")
      .on("\nHit any key when values have stabilized...", "")
      .on("\n\n    Vrsi\t Vrsi-SD\t    Vrse\t Vrse-SD\t  Vtherm\tVthermSD\t   TempC\tTempC-SD\t"
          "Salinity\tSal-SD",
          "")
      // A key seen after a pass ends the next one.
      .on("\t34.20000\t 0.00000", "x")
      .on("\n\nAverage of last 2 values", "")
      .on("\nMicroCAT Temperature = 18.500000 C  SD = 0.000000", "")
      .on("\nMicroCAT Salinity = 34.200001  SD = 0.000000", "")
      .on("\n\nValues acceptable (Y/N) [N]? ", "y\r")
      .on("Accept and store calibration values(Y/N) [N]? ", "y\r")
      .on("\nCalibration values stored", "");
  run(d);
  EXPECT_NEAR(sys_data.k0int, -0.43, 2e-5);
  EXPECT_NEAR(sys_data.k0ext, -1.27, 2e-5);
  EXPECT_NEAR(sys_data.TCOffset, 0.0, 0.01);

  // The samples take the salinity of the external-reference pH from the
  // record: the water's, here the bath's.
  sys_data.default_sal = (float)kBathS;
  memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
  sys_data.data_cfg[DF_TEMP_C] = 1;
  sys_data.data_cfg[DF_PH_INT] = 1;
  sys_data.data_cfg[DF_PH_EXT] = 1;
  fast_sample(0);
  std::vector<std::string> f = record_fields();
  ASSERT_EQ(f.size(), 3u) << prnBuf;
  EXPECT_NEAR(atof(f[0].c_str()), kBathT, 0.01) << "temperature";
  EXPECT_NEAR(atof(f[1].c_str()), 7.9, 0.001) << "pH, internal reference";
  EXPECT_NEAR(atof(f[2].c_str()), 7.9, 0.001) << "pH, external reference";
}

// Declining the averages goes on sampling into the same rings: the header
// is not repeated and the count goes on to the five the rings hold.
TEST_F(PhCal, DecliningTheAveragesKeepsSampling) {
  fill_bath(8.1);
  MenuScript d;
  d.on("Enter pH calibration point [", "\r")
      .on("DEBUG: getUserInput fails to return 1", "")
      .on("[N]? ", "y\r")
      .on("\t34.20000\t 0.00000", "x")
      .on("Average of last 2 values", "")
      .on("Values acceptable (Y/N) [N]? ", "n\r")
      .on("\t34.20000\t 0.00000", "")
      .on("\t34.20000\t 0.00000", "")
      .on("\t34.20000\t 0.00000", "x")
      .on("Average of last 5 values", "")
      .on("Values acceptable (Y/N) [N]? ", "y\r")
      .on("Accept and store calibration values(Y/N) [N]? ", "n\r");
  run(d);
  const std::string &o = board.out();
  size_t first = o.find("Vrsi-SD");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(o.find("Vrsi-SD", first + 1), std::string::npos) << "one table header";
  EXPECT_EQ(sys_data.k0int, -0.4f) << "declined";
}

// Ctrl-X abandons a reading the CTD does not give; a pass without one
// counts for nothing, and with no usable pass the calibration gives up.
TEST_F(PhCal, CtrlXAbandonsTheCtdAndAPassWithoutItIsNotUsed) {
  fill_bath(8.0);
  sim::ctd_model().silent = true;
  MenuScript d;
  d.on("Enter pH calibration point [", "8\r")
      .on("[N]? ", "y\r")
      .on("Hit any key when values have stabilized...", "\x18")
      .on("\nNo bath temperature and salinity: pass not used", "x")
      .on("\n\nNo usable readings: calibration abandoned\n", "");
  sim::ns_t t0 = sim::now();
  run(d);
  EXPECT_FALSE(sim::ctd_stats().powered);
  EXPECT_EQ(sys_data.k0int, -0.4f);
  EXPECT_LT((double)(sim::now() - t0) / sim::kSec, 15.0) << "the first poll did not wait its 2.5 s";
}

}  // namespace
