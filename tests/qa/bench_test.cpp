// The bench displays against the sensor values set, the 24-bit ADC menu
// channel by channel, and the power outputs at their pins.
#include "driverlib/gpio.h"
#include "inc/hw_memmap.h"
#include "measure/adc_onchip.h"
#include "qa_support.h"

namespace {

double number_after(const std::string &s, const std::string &label) {
  size_t p = s.find(label);
  return p == std::string::npos ? NAN : strtod(s.c_str() + p + label.size(), nullptr);
}

// The rows a display printed: lines that start with a time stamp.
std::vector<std::string> rows(const std::string &s) {
  std::vector<std::string> out;
  for (const std::string &l : Bench::lines(s))
    if (l.size() > 17 && l[2] == '/' && l[5] == '/' && l[11] == ':') out.push_back(l);
  return out;
}

TEST_F(Bench, BatteryAndBoardSensorsShowTheMonitorsAndBiasBatteries) {
  sim::sensor_set("Vbat", 11.5);
  sim::sensor_set("humidity", 45);
  sim::sensor_set("water", 150);  // beyond full scale of the division: capped
  sim::sensor_set("board_temp", 25);
  sim::sensor_set("Vbias_pos", 3.7);
  sim::sensor_set("Vbias_neg", 3.4);
  operator_does({{"i=2\r", "x\r"}});
  display_battery_boardSensors();
  std::string s = printed();
  EXPECT_NE(s.find("iso power on for reading bias batteries\r\n"
                   "Bat =  11.50V   Humidity =  45  Water = 100   BoardTemp =  25.0C   "
                   "bias(+,-) =  3.70V,  3.40V   i=1\r"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("iso power off, vbat monitoring off\r\n"), std::string::npos);
  EXPECT_NEAR(fBiasPos, 3.7, 1e-4);
  EXPECT_NEAR(fBiasNeg, 3.4, 1e-4);
  EXPECT_FALSE(sim::gpio_level(GPIO_PORTK_BASE, GPIO_PIN_2)) << "isolated side off";
  EXPECT_FALSE(sim::gpio_level(GPIO_PORTM_BASE, GPIO_PIN_6)) << "battery monitor off";
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTM_BASE, GPIO_PIN_7)) << "environment monitor stays on";
}

struct Voltages {
  const char *sensor;
  double value;
};
// Distinct values in the display's column order.
const Voltages kColumns[] = {{"Vrse_B", 0.061},   {"Vrse", -0.802}, {"Vrsi_B", 0.071},
                             {"Vrsi", -0.903},    {"Ik_V", 0.00015}, {"Vk", -1.004},
                             {"Ib_V", 0.0021},    {"Vb", 0.0012},   {"Vtherm", 1.105}};

TEST_F(Bench, DurafetVoltagesInTheirColumnsWithVbOnlyInDiagnostics) {
  for (const Voltages &c : kColumns) sim::sensor_set(c.sensor, c.value);
  for (int diag : {0, 1}) {
    SCOPED_TRACE(diag);
    sys_data.diag = (uint32_t)diag;
    operator_does({{"Vtherm\r\n", ""}, {"\r\n", "x\r"}});  // after the first row
    display_ph_ref_therm_volts();
    std::string s = printed();
    EXPECT_EQ(s.find("Vb,") != std::string::npos, diag == 1) << s;
    std::vector<std::string> r = rows(s);
    ASSERT_FALSE(r.empty()) << s;
    std::vector<double> v = row_values(r[0]);
    std::vector<double> want;
    for (const Voltages &c : kColumns)
      if (diag || std::string(c.sensor) != "Vb") want.push_back(c.value);
    ASSERT_EQ(v.size(), want.size()) << r[0];
    for (size_t i = 0; i < v.size(); i++) EXPECT_NEAR(v[i], want[i], 2e-6) << i;
    EXPECT_FALSE(sim::gpio_level(GPIO_PORTK_BASE, GPIO_PIN_2)) << "closed after the key";
  }
}

TEST_F(Bench, PhDisplaysGiveTheSeawaterBack) {
  ASSERT_TRUE(sim::sensor_seawater("T=12,S=35,pH=7.95"));
  double vtherm, vrsi_b, vrse;
  sim::sensor_get("Vtherm", &vtherm);
  sim::sensor_get("Vrsi_B", &vrsi_b);
  sim::sensor_get("Vrse", &vrse);

  operator_does({{"std= ", "x\r"}});
  display_calcd_pH_intRef_therm();
  std::string s = printed();
  EXPECT_NE(s.find("-0.0011012"), std::string::npos) << "the formulas come first";
  std::string l = line_starting(s, "pH= ");
  EXPECT_NEAR(number_after(l, "pH= "), 7.95, 2e-4) << l;
  EXPECT_NEAR(number_after(l, "TC= "), 12.0, 2e-3) << l;
  EXPECT_NEAR(number_after(l, "Vtherm= "), vtherm, 2e-6) << l;
  EXPECT_NEAR(number_after(l, "Vrsi_B= "), vrsi_b, 2e-6) << l;
  EXPECT_EQ(number_after(l, "std= "), 0.0) << l;

  operator_does({{"std= ", "x\r"}});
  display_calcd_pH_extRef_therm_sal(35.0f);
  l = line_starting(printed(), "pHext= ");
  EXPECT_NEAR(number_after(l, "pHext= "), 7.95, 2e-4) << l;
  EXPECT_NEAR(number_after(l, "TC= "), 12.0, 2e-3) << l;
  EXPECT_NEAR(number_after(l, "Vrse= "), vrse, 2e-6) << l;
  EXPECT_FALSE(sim::gpio_level(GPIO_PORTK_BASE, GPIO_PIN_2));
}

class AdcMenu : public Bench {
 protected:
  // Keys of the menu, each loop test ended after its first pass.
  std::string run(const std::vector<std::string> &keys, const std::string &pass_end) {
    std::vector<Step> steps;
    for (const std::string &k : keys) {
      steps.push_back({"Enter Selection [9]: ", k + "\r", nullptr});
      steps.push_back({pass_end, "x\r", nullptr});
    }
    steps.push_back({"Enter Selection [9]: ", "9\r", nullptr});
    operator_does(steps);
    test_24bit_adc_mux();
    EXPECT_TRUE(all_steps_done());
    return printed();
  }
};

TEST_F(AdcMenu, EveryChannelShowsItsOwnVoltageAtBothRates) {
  for (const Voltages &c : kColumns) sim::sensor_set(c.sensor, c.value);
  struct Want {
    const char *heading;
    const char *label;
    double volts;
  } want[9] = {
      {"0 -- Vrsi (pH Int Ref) Voltage, Mux = 11,  AIN1+ AIN6-, sampleCnt = 10 for 5Hz and 10 for 20Hz",
       "Vrsi   = ", -0.903},
      {"1 -- Vrsi_B (", "Vrsi_B = ", 0.071},
      {"2 -- Vrse (", "Vrse   = ", -0.802},
      {"3 -- Vrse_B (", "Vrse_B = ", 0.061},
      {"4 -- Ik (", "Ik = (", 0.00015},
      {"5 -- Vk (", "Vk     = ", -1.004},
      {"6 -- Ib (", "Vb= ", 0.0021},
      {"7 -- Vb (", "Vb     = ", 0.0012},
      {"8 -- Vtherm (", "Vtherm = ", 1.105},
  };
  std::vector<std::string> keys;
  for (char k = '0'; k <= '8'; k++) keys.push_back(std::string(1, k));
  std::string s = run(keys, "20Hz\r\n");
  EXPECT_NE(s.find("iso power on, init ADG1609 mux"), std::string::npos);
  for (int i = 0; i < 9; i++) {
    SCOPED_TRACE(want[i].heading);
    size_t at = s.find(want[i].heading);
    ASSERT_NE(at, std::string::npos);
    std::string section = s.substr(at, s.find("Enter Selection", at) - at);
    std::string l5 = line_starting(section, want[i].label);
    EXPECT_NE(l5.find("Samp = 0001"), std::string::npos) << l5;
    EXPECT_NE(l5.find(" ms 5Hz"), std::string::npos) << l5;
    EXPECT_NEAR(number_after(l5, want[i].label), want[i].volts, 2e-6) << l5;
    EXPECT_EQ(count(section, " ms 20Hz"), 1) << section;
  }
  // The current lines give nA across their resistors, from the volts shown.
  std::string ik = line_starting(s, "Ik = (");
  EXPECT_NEAR(number_after(ik, "V / 15k) = "), number_after(ik, "Ik = (") * 66666.667, 0.04) << ik;  // 1e-6 V shown is 0.07 nA
  std::string ib = line_starting(s, "Vb= ");
  EXPECT_NEAR(number_after(ib, "Ib= "), number_after(ib, "Vb= ") * 1000.0, 0.001) << ib;
  EXPECT_NE(s.find("\nPress enter to bring up menu\r\niso power off\r\n"), std::string::npos);
  EXPECT_FALSE(sim::gpio_level(GPIO_PORTK_BASE, GPIO_PIN_2));
}

TEST_F(AdcMenu, AllChannelsAndTheWindowTest) {
  // Each loop ended once its first row is out.
  operator_does({{"Enter Selection [9]: ", "S\r"}, {"VTherm\r\n", ""}, {"\r\n", "x\r"},
                 {"Enter Selection [9]: ", "X\r"}, {"VTherm\r\n", ""}, {"\r\n", "x\r"},
                 {"Enter Selection [9]: ", "9\r"}});
  test_24bit_adc_mux();
  ASSERT_TRUE(all_steps_done());
  std::string s = printed();
  // S: the header and a row of all nine.
  size_t at = s.find("Date Time,         Vrsi,      Vrsi_B,");
  ASSERT_NE(at, std::string::npos) << s;
  std::vector<std::string> r = rows(s.substr(at));
  ASSERT_GE(r.size(), 1u);
  std::vector<double> v = row_values(r[0]);
  ASSERT_EQ(v.size(), 9u) << r[0];
  for (int i = 0; i < kFrontEndChannels; i++)
    EXPECT_NEAR(v[i], (front_end_windows[i].lo + front_end_windows[i].hi) / 2, 2e-6) << i;
  // X at menu level 0: eight bounds each, no Vb.
  std::string min = line_starting(s, "               MIN: ");
  std::string max = line_starting(s, "               MAX: ");
  EXPECT_EQ(min, "               MIN: -0.056500,  0.673000,  -0.801000,  -0.070500,  0.258000,  "
                 "-0.501000,  -0.401000,  0.992000");
  EXPECT_EQ(max, "               MAX: -0.053500,  0.679000,  -0.786000,  -0.057000,  0.335000,  "
                 "-0.498000,  -0.393000,  1.000000");
}

TEST_F(AdcMenu, RepeatIntervalIsTwoSecondsUntilAWindowTestMakesItFive) {
  // A pass of a single channel takes 2.5 s (10 readings at 5 and at 20
  // per second), so with 2 s the passes follow back to back.
  auto second_pass_ms = [](const std::string &section) {
    std::string first = line_starting(section, "Vrsi   = ");
    size_t p = section.find("Samp = 0002");
    return number_after(section.substr(p), "Time = ") - number_after(first, "Time = ");
  };
  std::vector<Step> steps = {{"Enter Selection [9]: ", "0\r"}, {"Samp = 0002", ""},
                             {"20Hz\r\n", "x\r"},             {"Enter Selection [9]: ", "X\r"},
                             {"VTherm\r\n", ""},              {"\n", "x\r"},
                             {"Enter Selection [9]: ", "0\r"}, {"Samp = 0002", ""},
                             {"20Hz\r\n", "x\r"},             {"Enter Selection [9]: ", "9\r"}};
  operator_does(steps);
  test_24bit_adc_mux();
  ASSERT_TRUE(all_steps_done());
  std::string s = printed();
  size_t first = s.find("0 -- Vrsi ("), second = s.find("0 -- Vrsi (", first + 1);
  ASSERT_NE(second, std::string::npos) << s;
  EXPECT_NEAR(second_pass_ms(s.substr(first, second - first)), 2500, 30);
  EXPECT_NEAR(second_pass_ms(s.substr(second)), 5000, 30);
}

TEST_F(Bench, PowerOutputsSwitchTheirPinsAndNothingElse) {
  const Pin aux1{GPIO_PORTD_BASE, GPIO_PIN_1}, aux2{GPIO_PORTD_BASE, GPIO_PIN_2},
      aux3{GPIO_PORTD_BASE, GPIO_PIN_3}, optode5v{GPIO_PORTL_BASE, GPIO_PIN_2},
      green{GPIO_PORTE_BASE, GPIO_PIN_3}, red{GPIO_PORTP_BASE, GPIO_PIN_2},
      so1{GPIO_PORTG_BASE, GPIO_PIN_1}, so2{GPIO_PORTG_BASE, GPIO_PIN_3};
  const Pin all[] = {aux1, aux2, aux3, optode5v, green, red, so1, so2};
  struct Case {
    char key;
    const char *text;
    std::vector<int> high;  // indices into all[] high after the key
  } cases[] = {
      {'A', "AUX-PWR1 ON\r\n", {0}},
      {'B', "AUX-PWR2 ON\r\n", {0, 1}},
      {'C', "AUX-PWR3 ON (J14 COMM-PWR)\r\n", {0, 1, 2}},
      {'c', "AUX-PWR3 OFF (J14 COMM-PWR)\r\n", {0, 1}},  // aux 2 stays on
      {'a', "AUX-PWR1 OFF\r\n", {1}},
      {'D', "Pump ON\r\n", {0, 1}},  // not listed, yet it works
      {'d', "Pump OFF\r\n", {1}},
      {'b', "AUX-PWR2 OFF\r\n", {}},
      {'F', "F/f -- 5v for Optode ON\r\n", {3}},
      {'G', "Green On\r\n", {3, 4}},
      {'R', "Red On\r\n", {3, 4, 5}},
      {'f', "F/f -- 5v for Optode off\r\n", {4, 5}},
      {'g', "Green Off\r\n", {5}},
      {'r', "Red Off\r\n", {}},
      {'S', "Solenoid On (J9 SO/1)", {6, 7}},
      {'s', "Solenoid Off (J9 SO/1)", {}},
  };
  std::vector<std::vector<bool>> seen;
  std::string keys;
  for (const Case &c : cases) keys += c.key;
  keys_at_prompts(keys, std::vector<Pin>(all, all + 8), &seen);
  EXPECT_EQ(power_output_tests(), 1);
  ASSERT_TRUE(all_steps_done());
  std::string s = printed();
  EXPECT_NE(s.find("Power Output Test Menu -- v3.8.6 Ombrix revB\r\nA/a -- Pump ON/off"),
            std::string::npos);
  ASSERT_EQ(seen.size(), keys.size() + 1);
  for (size_t i = 0; i < keys.size(); i++) {
    SCOPED_TRACE(cases[i].key);
    EXPECT_NE(s.find(cases[i].text), std::string::npos);
    for (size_t p = 0; p < 8; p++) {
      bool want = false;
      for (int h : cases[i].high) want |= (size_t)h == p;
      EXPECT_EQ(seen[i + 1][p], want) << "pin " << p;
    }
  }
}

TEST_F(Bench, InstrumentMenuLevelOneEntriesAndItsExits) {
  for (int level : {0, 1}) {
    SCOPED_TRACE(level);
    sys_data.app_cfg[APPCFG_MENU_LEVEL] = (uint8_t)level;
    // 4 shows the menu again; c is a debug entry only at level 1.
    operator_does({{"Enter Selection [9]: ", "4\r"},
                   {"Enter Selection [9]: ", "c\r"},
                   {"Enter Selection [9]: ", "9\r"}});
    communicate_with_instruments();
    std::string s = printed();
    EXPECT_NE(s.find("\r\n\r\nCOMM-PWR port not supported on OMBRIX, RS232 level shifter is not "
                     "stuffed\r\n"),
              std::string::npos);
    EXPECT_EQ(s.find("c/C- DEBUG Test conductivity") != std::string::npos, level == 1);
    EXPECT_EQ(s.find("CTD Read Time = ") != std::string::npos, level == 1);
    EXPECT_EQ(all_steps_done(), level == 1) << "at level 0, c leaves the menu";
  }
}

}  // namespace

namespace {

// The pump-cycle values of the loop lines, in order.
std::vector<int> pump_cycles(const std::string &s) {
  std::vector<int> v;
  const std::string key = "statemachine pump cycle = ";
  for (size_t p = s.find(key); p != std::string::npos; p = s.find(key, p + 1))
    v.push_back(atoi(s.c_str() + p + key.size()));
  return v;
}

TEST_F(Bench, InstrumentLoopTestsStepDelays) {
  sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1;
  // The optode's delay goes 100 .. 1500 ms, then 0 for good.
  operator_does({{"Enter Selection [9]: ", "O\r"},
                 {"pump cycle = 0 ms", ""},
                 {"pump cycle = 0 ms", "x"},
                 {"Enter Selection [9]: ", "9\r"}});
  communicate_with_instruments();
  ASSERT_TRUE(all_steps_done());
  std::vector<int> optode = pump_cycles(printed());
  ASSERT_GE(optode.size(), 17u);
  for (size_t i = 0; i < optode.size(); i++) EXPECT_EQ(optode[i], i < 15 ? 100 * (int)(i + 1) : 0) << i;

  // The CTD's keeps growing past it.
  operator_does({{"Enter Selection [9]: ", "C\r"},
                 {"pump cycle = 1700 ms", "x"},
                 {"Enter Selection [9]: ", "9\r"}});
  communicate_with_instruments();
  ASSERT_TRUE(all_steps_done());
  std::vector<int> ctd = pump_cycles(printed());
  ASSERT_GE(ctd.size(), 17u);
  for (size_t i = 0; i < ctd.size(); i++) EXPECT_EQ(ctd[i], 100 * (int)(i + 1)) << i;
}

}  // namespace
