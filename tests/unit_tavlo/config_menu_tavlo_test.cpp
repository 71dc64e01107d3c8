// The Tavlo board's metadata prompts: its own serial-number prompt, and no
// conductivity or pump serial numbers.
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

}  // namespace
