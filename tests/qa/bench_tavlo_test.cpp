// The Tavlo board's test menus: the power outputs it has, the keys of the
// Ombrix outputs that only show the menu again, and its instrument menu.
#include "driverlib/gpio.h"
#include "inc/hw_memmap.h"
#include "qa_support.h"

namespace {

TEST_F(Bench, TavloPowerMenuHasOnlyTheOptodeAndTheLeds) {
  const std::vector<Pin> pins = {{GPIO_PORTD_BASE, GPIO_PIN_1}, {GPIO_PORTD_BASE, GPIO_PIN_2},
                                 {GPIO_PORTD_BASE, GPIO_PIN_3}, {GPIO_PORTG_BASE, GPIO_PIN_1},
                                 {GPIO_PORTE_BASE, GPIO_PIN_3}, {GPIO_PORTP_BASE, GPIO_PIN_2}};
  // The Ombrix keys switch nothing; the menu comes again after each.
  std::vector<std::vector<bool>> seen;
  keys_at_prompts("ABCDabcdSsGR", pins, &seen);
  EXPECT_EQ(power_output_tests(), 1);
  ASSERT_TRUE(all_steps_done());
  std::string s = printed();
  EXPECT_NE(s.find("Power Output Test Menu -- v3.8.5 Tavlo revC\r\nF/f -- 5v for Optode ON/off\r\n"
                   "G/g -- Green LED\r\nR/r -- Red LED\r\n\r\n9 -- Exit to Test Menu\r\n"),
            std::string::npos)
      << s;
  for (const char *text : {"AUX-PWR", "Pump", "Solenoid"}) EXPECT_EQ(s.find(text), std::string::npos) << text;
  // seen[k]: the pins after k keys. Nothing until G, then green, then red.
  ASSERT_EQ(seen.size(), 13u);
  for (size_t i = 0; i < 13; i++)
    for (size_t p = 0; p < 6; p++)
      EXPECT_EQ(seen[i][p], (i >= 11 && p == 4) || (i == 12 && p == 5)) << i << " " << p;
  EXPECT_NE(s.find("Green On\r\n"), std::string::npos);
}

TEST_F(Bench, TavloInstrumentMenuHasTheOptodeOnly) {
  sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1;
  // 4 is an Ombrix entry: here it leaves the menu.
  operator_does({{"Enter Selection [9]: ", "o\r"}, {"Enter Selection [9]: ", "4\r"}});
  communicate_with_instruments();
  ASSERT_TRUE(all_steps_done());
  std::string s = printed();
  EXPECT_NE(s.find("\r\n\r\n\r\nCommunicate with Instrument Menu:\r\n3 -- Aanderaa Optode on J7\r\n"
                   "o/O- DEBUG Test Optode Setup\r\np -- DEBUG Optode serial analyzer\r\n"
                   "9 -- Exit\r\n\r\nEnter Selection [9]: "),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("Debug Optode Read Time = "), std::string::npos);
  EXPECT_EQ(s.find("COMM-PWR"), std::string::npos);
  EXPECT_EQ(count(s, "Communicate with Instrument Menu:"), 2);
}

}  // namespace
