// The Tavlo board's configuration prompts: its own serial-number and
// battery prompts, and no conductivity or pump serial numbers.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config_menu.h"
#include "fields_support.h"

namespace {

using ConfigMenuTavlo = FieldsBoard;

TEST_F(ConfigMenuTavlo, MetadataAsksForTheTavloSerialAndNoInstrumentsOfOmbrix) {
  MenuScript s;
  s.on("[noname.txt]: ", "\r")
      .on("[abc]: ", "\r")
      .on("\nEnter Tavlo Serial # [ ]: ", "T-17\r")
      .on("\nBoard Serial #: T-17\n", "")
      .on("ZUZE Serial # [ ]: ", "\r")
      .on("Fabrication notes [ ]: ", "\r")
      .on("Package name [ ]: ", "\r")
      .on("Durafet Serial # [ ]: ", "\r")
      .on("\nEnter Optode Serial # [ ]: ", "\r");
  MenuKeys keys(board, s.steps);
  enter_metadata();
  board.run_for(0.2);
  EXPECT_TRUE(keys.done());
  std::string out = printed();
  EXPECT_EQ(out.find("Conductivity Serial"), std::string::npos);
  EXPECT_EQ(out.find("Pump Serial"), std::string::npos);
  EXPECT_STREQ(sys_data.board_SN, "T-17");
}

TEST_F(ConfigMenuTavlo, LowBatteryPromptHasTheTavloExample) {
  MenuScript s;
  s.on("Enter Selection [9]: ", "3\r")
      .on("[N]? ", "\r")
      .on("sample period [0] sec: ", "\r")
      .on("pump on time [0] sec: ", "\r")
      .on("\nEnter low battery_voltage (ex. 5.5 V) [10.0 V]: ", "5.5\r")
      .on("\nLow battery_voltage now [5.5 V]\n", "")
      .on("\nEnter Selection [1]: ", "\r")
      .on("Enter Selection [9]: ", "9\r")
      .on("System data stored.", "");
  MenuKeys keys(board, s.steps);
  configuration_menu();
  board.run_for(0.2);
  EXPECT_TRUE(keys.done());
  EXPECT_EQ(sys_data.low_batt_volt, 5.5f);
}

}  // namespace
