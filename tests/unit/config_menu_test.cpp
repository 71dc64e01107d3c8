// The configuration menu through the console: each entry's dialogue, then
// the record the EEPROM holds, byte for byte.
#include "config/config_menu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/config.h"
#include "config/system.h"
#include "core/init.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "driverlib/hibernate.h"
#include "fields_support.h"
#include "test_time.h"

namespace {

class ConfigMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    config_sys_data_default_init();
    ASSERT_EQ(storeSysDataVariables(), 0);
    board.run_for(0.2);
    board.out().clear();
    memcpy(&want, &sys_data, sizeof want);
  }

  // Runs one menu function through the dialogue; false when it ended in
  // hibernation instead of returning.
  template <typename Fn>
  bool run(const MenuScript &d, Fn fn) {
    bool returned = true;
    MenuKeys keys(board, d.steps);
    try {
      fn();
    } catch (const PowerDown &) {
      returned = false;
    } catch (const MenuStalled &s) {
      ADD_FAILURE() << "no " << s.expect << "\n" << tail();
      return false;
    }
    board.run_for(0.05);
    EXPECT_TRUE(keys.done()) << tail();
    return returned;
  }
  bool run_menu(const MenuScript &d) { return run(d, configuration_menu); }

  std::string tail() const {
    const std::string &o = const_cast<SimBoard &>(board).out();
    return o.size() > 1500 ? o.substr(o.size() - 1500) : o;
  }
  bool printed(const std::string &text) { return board.out().find(text) != std::string::npos; }

  // The EEPROM's record against `want`, naming the first byte that differs.
  void expect_stored() {
    const uint8_t *rec = sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR;
    const uint8_t *w = reinterpret_cast<const uint8_t *>(&want);
    for (size_t i = 0; i < sizeof want; i++)
      if (rec[i] != w[i]) {
        ADD_FAILURE() << "stored record differs first at byte " << i << ": " << (int)rec[i]
                      << " instead of " << (int)w[i];
        return;
      }
  }

  SimBoard board{"menu"};
  systemData want;
};

// Alignment on: a kept period must divide the hour too, 7200 does not,
// 0 is polled mode; pump and battery limits take their end values and
// refuse what lies beyond.
TEST_F(ConfigMenu, DeploymentParametersAlignedToTheHour) {
  sys_data.sampling_period = 7;
  MenuScript d;
  d.on("Enter Selection [9]: ", "3\r")
      .on("Sample aligned to hour? (Y/N) [N]? ", "y\r")
      .on("Enter sample period [7] sec: ", "\r")
      .on("evenly divide hour (e.g. 5, 10, 15, 20, 30 minutes)\nEnter sample "
          "period [7] sec: ",
          "7200\r")
      .on("evenly divide hour (e.g. 5, 10, 15, 20, 30 minutes)\nEnter sample "
          "period [7] sec: ",
          "0\r")
      .on("\nSample period is zero - polled mode\nSample period now 0 sec.", "")
      .on("Enter pump on time [0] sec: ", "3600\r")
      .on("Pump on time now 3600 sec.", "")
      .on("Enter low battery_voltage (ex. 10.5 V with Pump) [10.0 V]: ", "-0.1\r")
      .on("\nEnter voltage less than 30 V\nEnter low battery_voltage", "30.1\r")
      .on("\nEnter voltage less than 30 V\nEnter low battery_voltage", "30\r")
      .on("\nLow battery_voltage now [30.0 V]\n", "")
      .on("2 -- Verbose (Data with prompts)\n\nEnter Selection [1]: ", "2\r")
      .on("\n\nOutput mode now: VERBOSE", "")
      .on("\nEstimated sample time = 3602.30 sec in polled mode (sample period "
          "is 0)\n",
          "")
      .on("Enter Selection [9]: ", "9\r")
      .on("\n\nSystem data stored.  -- Press enter to bring up main menu\n", "");
  EXPECT_TRUE(run_menu(d));
  want.sample_aligned = 1;
  want.pumpon_time = 3600;
  want.low_batt_volt = 30.0f;
  want.output = VERBOSE;
  expect_stored();
}

// Alignment off: 3600 is the longest period. Bad answers (letters, a line
// too long, an unknown key) keep what was there.
TEST_F(ConfigMenu, DeploymentParametersKeepValuesOnBadAnswers) {
  sys_data.sampling_period = want.sampling_period = 20;
  sys_data.pumpon_time = want.pumpon_time = 5;
  MenuScript d;
  d.on("Enter Selection [9]: ", "3\r")
      .on("[N]? ", "\r")
      .on("Enter sample period [20] sec: ", "3601\r")
      .on("\nEnter time less than or equal to 3600 sec\nEnter sample period "
          "[20] sec: ",
          "-5\r")
      .on("\nEnter time less than or equal to 3600 sec\nEnter sample period "
          "[20] sec: ",
          "3600\r")
      .on("Sample period now 3600 sec.", "")
      .on("Enter pump on time [5] sec: ", "12a\r")
      .on("Not a number: value not changed", "")
      .on("[10.0 V]: ", "000000000000000000012\r")
      .on("Answer too long: value not changed", "")
      .on("Enter Selection [1]: ", "x\r")
      .on("\nEstimated sample time = 7.30 sec, sample period = 3600 sec\n", "")
      .on("Enter Selection [9]: ", "\r");
  EXPECT_TRUE(run_menu(d));
  want.sampling_period = 3600;
  expect_stored();
}

TEST_F(ConfigMenu, SampleTimeEstimate) {
  memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
  sys_data.pumpon_time = 0;
  EXPECT_EQ(sample_time_estimate_ms(), 150u) << "nothing but the fixed part";
  sys_data.data_cfg[DF_CTD] = CTD_AANDERAA_5860;
  sys_data.data_cfg[DF_OPTODE] = 1;
  EXPECT_EQ(sample_time_estimate_ms(), 2650u) << "the instruments count once";
  memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
  for (int i : {DF_BIAS_NEG, DF_BIAS_POS, DF_IB, DF_IK, DF_VK, DF_VTHERM, DF_VRSI_B, DF_VRSI,
                DF_VRSE_B, DF_VRSE})
    sys_data.data_cfg[i] = 1;
  sys_data.pumpon_time = 60;
  EXPECT_EQ(sample_time_estimate_ms(), 60000u + 150 + 2 * 25 + 2 * 50 + 2 * 250 + 4 * 500);
}

// The stored salinity and offset are repaired before they are shown;
// every coefficient refuses what is out of its range.
TEST_F(ConfigMenu, CalibrationCoefficients) {
  sys_data.default_sal = 150.0f;
  sys_data.TCOffset = 500.0f;
  MenuScript d;
  d.on("Enter Selection [9]: ", "4\r")
      .on("\nEnter k0int (ex. -0.4) [-0.400000]: ", "-0.41\r")
      .on("\nEnter k0ext (ex. -1.3) [-1.300000]: ", "abc\r")
      .on("Not a number: value not changed\n\nEnter k2int (ex. -0.001455) "
          "[-0.001455]: ",
          "3\r")
      .on("Enter number between -2 and 2 (ex. -0.001)\n\n\nEnter k2int", "-0.0015\r")
      .on("\nEnter k2ext (ex. -0.001081) [-0.001081]: ", "\r")
      .on("\nEnter TCOffset [0.000000]: ", "0.25\r")
      .on("Salinity out of range, recommend running the test menu, qa board "
          "menu to initialize "
          "vars in eeprom\n\nEnter Salinity for Ext Ref pH calc (typical is "
          "35) [35.000000]: ",
          "150\r")
      .on("Enter 35.0\n\n\nEnter Salinity", "34.5\r")
      .on("\n4 Var S-H coefficients for Thermistor to Temperature Celsius:\n   "
          "  c0 = "
          "340.98198630000\n",
          "")
      .on("\nEnter 4 Var S-H c0 (ex. 340.9819863) [340.98198630000]: ", "\r")
      .on("\nEnter 4 Var S-H c1 (ex. -0.0000910257, -9.10257E-05) "
          "[-0.00009102570]: ",
          "0.2\r")
      .on("Enter number between 0.1 and -0.1 (ex. 0.0000910257)\n\n\nEnter 4 "
          "Var",
          "-9.2e-05\r")
      .on("c1 = -0.00009200000", "")
      .on("\nEnter 4 Var S-H  c2 (ex. -95.08806667) [-95.08806667000]: ", "-95.5.1\r")
      .on("Not a number", "")
      .on("\nEnter 4 Var S-H  c3 (ex. 0.965370274) [0.96537027400]: ", "\r")
      .on("Enter Selection [9]: ", "9\r");
  EXPECT_TRUE(run_menu(d));
  want.k0int = -0.41f;
  want.k2int = -0.0015f;
  want.TCOffset = 0.25f;
  want.default_sal = 34.5f;
  want.quadTherm_c1 = -9.2e-05;
  expect_stored();
}

// A name the card would refuse, or one that does not fit, never replaces
// the one there.
TEST_F(ConfigMenu, FileNameAndInitials) {
  MenuScript d;
  d.on("Enter Selection [9]: ", "2\r")
      .on("\nEnter data file name (no spaces, 8 characters before .txt or "
          ".xls) [noname.txt]: ",
          "toolong12.txt\r")
      .on("Not a file name", "")
      .on("\n\nEnter user initials [abc]: ", "ABCDEFGH\r")
      .on("Longer than 7 characters: not changed", "")
      .on("Enter Selection [9]: ", "2\r")
      .on("[noname.txt]: ", "RUN1.TXT\r")
      .on("\nFile name now: RUN1.TXT\n\n\nEnter user initials [abc]: ", "xyz\r")
      .on("\nUser initials now: xyz\n", "")
      .on("Enter Selection [9]: ", "9\r");
  EXPECT_TRUE(run_menu(d));
  strcpy(want.fileName, "RUN1.TXT");
  strcpy(want.user, "xyz");
  expect_stored();
}

TEST_F(ConfigMenu, FileNamesTheCardTakes) {
  for (const char *ok : {"a", "noname.txt", "ABCDEFGH.XLS", "run-1_2.t", "DATA~1.TXT"})
    EXPECT_TRUE(valid_file_name(ok)) << ok;
  for (const char *bad : {"", ".txt", "abcdefghi.txt", "a.txtx", "a.", "a b.txt", "a.b.c",
                          "x/y.txt", "a*.txt", "tab\t.txt"})
    EXPECT_FALSE(valid_file_name(bad)) << bad;
}

TEST_F(ConfigMenu, Metadata) {
  MenuScript d;
  d.on("Enter Selection [9]: ", "8\r")
      .on("\nMetadata Settings:\n\nEnter data file name (no spaces, 8.3 "
          "format) [noname.txt]: ",
          "bad name.txt\r")
      .on("Not a file name", "")
      .on("\nEnter user initials [abc]: ", "ABCDEFG\r")
      .on("Longer than 6 characters", "")
      .on("\nEnter OMBRIX Serial # [ ]: ", "SN-0042\r")
      .on("\nBoard Serial #: SN-0042\n\nEnter ZUZE Serial # [ ]: ", "123456789012345678901234\r")
      .on("Longer than 22 characters", "")
      .on("\nEnter board Fabrication notes [ ]: ", "rev B, U3 reworked\r")
      .on("\nBoard Fab notes: rev B, U3 reworked\n\nEnter Package name [ ]: ", "\r")
      .on("\nEnter Durafet Serial # [ ]: ", "\r")
      .on("\nEnter Optode Serial # [ ]: ", "4831-77\r")
      .on("\nOptode Serial #: 4831-77\n\nEnter Conductivity Serial # [ ]: ", "37-1234\r")
      .on("\nConductivity Serial #: 37-1234\n\nEnter Pump Serial #  [ ]: ", "\r")
      .on("Enter Selection [9]: ", "9\r");
  EXPECT_TRUE(run_menu(d));
  strcpy(want.board_SN, "SN-0042");
  strcpy(want.board_fab_note, "rev B, U3 reworked");
  strcpy(want.optode_SN, "4831-77");
  strcpy(want.ctd_SN, "37-1234");
  expect_stored();
}

// The GMT answer stands even when Enter keeps the clock.
TEST_F(ConfigMenu, SetClock) {
  MenuScript d;
  d.on("Enter Selection [9]: ", "1\r")
      .on("\n\nIs time GMT? (Y/N) [N]? ", "y\r")
      .on("]: ", "12/09/26 10:30:00\r")
      .on("\nTime now: 12/09/26 10:30:00 GMT\n\nNote: Daylight Savings not "
          "observed. Use GMT when "
          "this will be an issue.\n",
          "")
      .on("Enter Selection [9]: ", "1\r")
      .on("Is time GMT? (Y/N) [N]? ", "n\r")
      .on("]: ", "12/09/26 10:31:00\r")
      .on("\nTime now: 12/09/26 10:31:00 Local", "")
      .on("Enter Selection [9]: ", "1\r")
      .on("Is time GMT? (Y/N) [N]? ", "Y\r")
      .on("]: ", "\r")
      .on("Enter Selection [9]: ", "9\r");
  EXPECT_TRUE(run_menu(d));
  EXPECT_NEAR((double)HibernateRTCGet(), (double)rtc_at(2026, 12, 9, 10, 31, 0), 2.0);
  want.GMT = 1;
  expect_stored();
}

// The new rate applies the moment it is chosen; the record keeps the old
// one until it is stored.
TEST_F(ConfigMenu, BaudRateChangesAtOnceAndIsStoredLater) {
  MenuScript d;
  d.on("\n1 -- 115200\n2 -- 9600\n9 -- Exit to Main Menu\nEnter Selection [9]: ", "2\r");
  EXPECT_TRUE(run(d, change_baud_rate));
  EXPECT_EQ(sim::uart_baud(0), 9600u);
  EXPECT_EQ(sys_data.baud_rate, 9600u);
  expect_stored();  // not yet

  UARTStdioConfig(0, 115200, 16000000);
  MenuScript v;
  v.on("Enter Selection [9]: ", "v\r").on("\nBaud rate verify\n", "");
  EXPECT_TRUE(run(v, change_baud_rate));
  expect_stored();

  MenuScript e;
  e.on("Enter Selection [9]: ", "9\r").on("System data stored.", "");
  EXPECT_TRUE(run(e, change_baud_rate));
  want.baud_rate = 9600;
  expect_stored();
}

// Left alone, the menu hibernates after 300 s and the hibernation stores
// what was changed; a line typed without Enter does not hold it awake.
TEST_F(ConfigMenu, TimeOutHibernatesAndKeepsTheChanges) {
  MenuScript d;
  d.on("Enter Selection [9]: ", "3\r")
      .on("[N]? ", "y\r")
      .on("Enter sample period [0] sec: ", "900\r")
      .on("Enter pump on time [0] sec: ", "12");
  sim::ns_t t0 = sim::now();
  EXPECT_FALSE(run_menu(d));
  double waited = (double)(sim::now() - t0) / sim::kSec;
  EXPECT_GT(waited, 299.0);
  EXPECT_LT(waited, 305.0);
  want.sample_aligned = 1;
  want.sampling_period = 900;
  expect_stored();
}

// D takes one sample with the timing report; the switch is off again
// afterwards, so deployments do not print it. S prints the record even
// while its line is hidden.
TEST_F(ConfigMenu, TimingSampleAndRecordPrintout) {
  MenuScript d;
  d.on("Enter Selection [9]: ", "d\r")
      .on("#0000000", "")
      .on("Enter Selection [9]: ", "S\r")
      .on("// ------ sys_data structure printed, size = 888 ---- ", "")
      .on("Enter Selection [9]: ", "9\r");
  EXPECT_TRUE(run_menu(d));
  EXPECT_NE(board.out().find(" msec)"), std::string::npos) << "the timing report";
  EXPECT_FALSE(printed("S -- Print EEPROM")) << "diag is off";
  EXPECT_EQ(sys_data.app_cfg[APPCFG_TIMING_REPORT], 0);
  EXPECT_EQ(sys_samp.current_sample, 1u);
  expect_stored();
}

}  // namespace
