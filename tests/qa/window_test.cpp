// The front-end window test and the QA report: every channel in and out of
// its window on its own, what a QA row records, and the report's text.
#include <cstring>

#include "driverlib/hibernate.h"
#include "measure/ads1248_iso.h"
#include "qa_support.h"

namespace {

class Window : public Bench {
 protected:
  void SetUp() override {
    Bench::SetUp();
    openADS1248_iso();
    ADS1248_gpio_init();
  }
  void TearDown() override { closeADS1248_iso(); }

  // One recorded row; the row's text in `row`.
  int qa_row(std::string *row = nullptr) {
    int n = test_sampling_zuze(1);
    std::string s = printed();
    if (row) *row = s;
    return n;
  }
  static constexpr float kUntouched = 123.0f;
  // Presets every recorded field, so a field the row leaves alone shows.
  static void mark_qa_fields() {
    for (const FrontEndWindow &w : front_end_windows)
      if (w.value) sys_data.qa.*w.value = sys_data.qa.*w.std = sys_data.qa.*w.err = kUntouched;
  }
};

// Each channel pushed just below, then just above its window, the others
// left in theirs: one error, marked after that channel's value, the value
// recorded, and the shortfall recorded only below.
TEST_F(Window, EachChannelOutsideItsWindowIsTheOnlyError) {
  sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1;
  for (int i = 0; i < kFrontEndChannels; i++) {
    const FrontEndWindow &w = front_end_windows[i];
    const float margin = (w.hi - w.lo) / 2;
    for (bool below : {true, false}) {
      SCOPED_TRACE(std::string(w.name) + (below ? " below" : " above"));
      in_windows();
      mark_qa_fields();
      const double v = below ? w.lo - margin : w.hi + margin;
      sim::sensor_set(sensor_of(w), v);
      std::string row;
      EXPECT_EQ(qa_row(&row), 1) << row;
      EXPECT_EQ(count(row, " Err "), 1) << row;
      EXPECT_NE(row.find("  ERROR count = 1  "), std::string::npos) << row;
      // The mark follows this channel's value and its separator (the last
      // value has none): the time's separator and one per value before it.
      size_t mark = row.find(" Err ");
      std::string before = row.substr(0, mark);
      EXPECT_EQ(count(before, ", "), i == kFrontEndChannels - 1 ? i + 1 : i + 2) << row;
      if (!w.value) continue;
      EXPECT_NEAR(sys_data.qa.*w.value, v, 2e-6);
      if (below) EXPECT_NEAR(sys_data.qa.*w.err, v - w.lo, 2e-6);
      else EXPECT_EQ(sys_data.qa.*w.err, kUntouched);
    }
  }
}

TEST_F(Window, ThermistorReadingsJustOutsideTheWindow) {
  mark_qa_fields();
  sim::sensor_set("Vtherm", 0.95);
  EXPECT_EQ(qa_row(), 1);
  EXPECT_NEAR(sys_data.qa.Vtherm_err, -0.042, 1e-6);
  sys_data.qa.Vtherm_err = 0.5f;
  sim::sensor_set("Vtherm", 1.01);
  EXPECT_EQ(qa_row(), 1);
  EXPECT_NEAR(sys_data.qa.Vtherm, 1.01, 1e-6);
  EXPECT_EQ(sys_data.qa.Vtherm_err, 0.5f);
}

TEST_F(Window, MenuLevelZeroLeavesVbOutAndZeroed) {
  sys_data.app_cfg[APPCFG_MENU_LEVEL] = 0;
  mark_qa_fields();
  sim::sensor_set("Vb", 1.5);  // far out, but not measured
  std::string row;
  EXPECT_EQ(qa_row(&row), 0) << row;
  EXPECT_EQ(row_values(row).size(), 8u) << row;
  EXPECT_EQ(sys_data.qa.Vb, 0.0f);
  EXPECT_EQ(sys_data.qa.Vb_std, 0.0f);
  EXPECT_EQ(sys_data.qa.Vb_err, 0.0f);
}

TEST_F(Window, UnrecordedRowsUseOneConversionAndLeaveQaAlone) {
  mark_qa_fields();
  sim::sensor_set("Vrsi", 0.5);
  sim::AdsStats before = sim::ads1248_stats();
  EXPECT_EQ(test_sampling_zuze(0), 1);
  EXPECT_EQ(sim::ads1248_stats().reads - before.reads, 8u);
  EXPECT_EQ(sys_data.qa.Vrsi, kUntouched);
  EXPECT_EQ(sys_data.qa.Vrsi_err, kUntouched);
  before = sim::ads1248_stats();
  test_sampling_zuze(1);
  EXPECT_EQ(sim::ads1248_stats().reads - before.reads, 40u);
}

// Regression: a front end that never converts gives NaN readings, which
// compare neither below nor above a window and passed as clean.
TEST_F(Window, AnAdcThatNeverAnswersFailsEveryChannel) {
  sim::ads1248_plug(false);
  std::string row;
  EXPECT_EQ(qa_row(&row), 8) << row;
  EXPECT_TRUE(std::isnan(sys_data.qa.Vrsi_err));
  sim::ads1248_plug(true);
}

class Report : public Bench {
 protected:
  void fill() {
    qaData &q = sys_data.qa;
    strcpy(q.tester, "Ann Tester");
    strcpy(q.firmware_version, "v3.8.6 Ombrix revB");
    q.test_time = 321;
    q.time = 1796811600;  // 12/09/26 10:20:00
    q.microSD = 1;
    q.eeprom = 888;
    q.sys_data_init = 1;
    q.fram = 0;
    q.ctd = 1;
    q.optode = 0;
    q.adc24 = 2;
    float *f = &q.Vrsi;
    for (int i = 0; i < 21; i++) f[i] = 0.001f * (float)(i + 1);
    q.Vbias_pos = 3.6f;
    q.Vbias_neg = 3.5834f;
  }
};

TEST_F(Report, EveryLineOfTheReport) {
  fill();
  print_qa_report();
  const std::string head =
      "Tester: Ann Tester\r\nFirmware version: v3.8.6 Ombrix revB\r\nTest time = 321 sec\r\n"
      "Test timestamp:  12/09/26 10:20:00\r\nmicroSD passed\r\nEEPROM passed\r\n"
      "sys_data initialized, passed\r\nFRAM failed\r\nAux Pwr1 failed\r\nAux Pwr2 failed\r\n"
      "Aux Pwr3 failed\r\nCTD passed\r\nOptode failed\r\nComm Pwr failed\r\nADC24 report:\r\n";
  std::string values = "\t    2   \t";
  char buf[32];
  for (int i = 0; i < 18; i++) {
    snprintf(buf, sizeof buf, "%8.6f\t", (double)(0.001f * (float)(i + 1)));
    values += buf;
  }
  values += "   3.600\t   3.583\t\r\n";
  EXPECT_EQ(printed(),
            head +
                "\tADCerr  \t Vrsi   \tVrsiStd \tVrsiErr \t  Vrse  \tVrseStd \tVrseErr \tVtherm  "
                "\tVthrmStd\tVthrmErr\t  Ik    \t Ik_std \t Ik_err \t  Vk    \t Vk_std \t Vk_err "
                "\t   Ib   \t  Ib_std\t Ib_err \t Vbias+ \t  Vbias-\r\n" +
                values);

  // Menu level 1 adds the three Vb columns.
  sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1;
  sys_data.qa.sys_data_init = 0;
  print_qa_report();
  std::string s = printed();
  EXPECT_NE(s.find("sys_data NOT initialized, failed\r\n"), std::string::npos);
  EXPECT_NE(s.find("\t Ib_err \t   Vb   \t  Vb_std \t Vb_err \t Vbias+ \t Vbias-\r\n"),
            std::string::npos);
  EXPECT_NE(s.find("\t0.019000\t0.020000\t0.021000\t   3.600\t"), std::string::npos) << s;
}

}  // namespace
