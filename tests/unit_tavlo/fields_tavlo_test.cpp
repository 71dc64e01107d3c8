// The Tavlo board's record fields: no CTD question or W key, a listing on
// the console only, and no firmware-version line in the metadata.
#include <gtest/gtest.h>

#include <cstring>

#include "fields_support.h"
#include "storage/microsd.h"

namespace {

using FieldsTavlo = FieldsBoard;

TEST_F(FieldsTavlo, ListingIsPlainConsoleOnlyWithoutW) {
  sys_data.data_cfg[25] = 1;
  print_write_config_data_fields(2, 2);
  std::string out = printed();
  EXPECT_EQ(out.find("//"), std::string::npos) << "no comment prefix";
  EXPECT_EQ(out.find("W --"), std::string::npos);
  EXPECT_EQ(out.find("A -- Sample Num               = 1\r\nB -- "), 0u);
  EXPECT_NE(out.find("V -- Optode                   = 0\r\n"), std::string::npos);

  print_write_config_data_fields(1, 1);
  FIL f;
  EXPECT_EQ(f_open(&f, "noname.txt", FA_READ), FR_NO_FILE) << "the listing never goes to the card";
}

TEST_F(FieldsTavlo, MenuHasNoCtdQuestion) {
  memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
  sys_data.data_cfg[25] = 2;
  const std::string prompt = "Enter Selection [9]: ";
  menu({
      {prompt, "W\r"},
      {prompt, "w\r", [] { EXPECT_EQ(sys_data.data_cfg[25], 2); }},
      {prompt, "1\r", [] { EXPECT_EQ(sys_data.data_cfg[25], 2); }},
      {prompt, "0\r",
       [] {
         for (int i = 0; i < 25; i++) EXPECT_EQ(sys_data.data_cfg[i], 1) << i;
         EXPECT_EQ(sys_data.data_cfg[25], 2) << "preset 1 keeps the CTD type";
       }},
      {prompt, "4\r", [] { EXPECT_EQ(sys_data.data_cfg[25], 0); }},
  });
  EXPECT_EQ(sys_data.data_cfg[25], 1);
  EXPECT_EQ(sys_data.data_cfg[24], 1);
  EXPECT_EQ(board.out().find("Select CTD type"), std::string::npos);
}

TEST_F(FieldsTavlo, MetadataNamesTheTavloBuild) {
  strcpy(sys_data.qa.firmware_version, "from QA");
  print_metadata_header(0);
  std::string out = printed();
  EXPECT_EQ(out.find("Firmware version"), std::string::npos);
  EXPECT_EQ(out.find("from QA"), std::string::npos);
  EXPECT_NE(out.find("// Version Info: \tv3.8.5 Tavlo revC\r\n"), std::string::npos);
  EXPECT_NE(out.find("// Sampling period (s)\t"), std::string::npos);
  EXPECT_NE(out.find("\r\nA -- Sample Num               = 1\r\n"), std::string::npos)
      << "the listing in plain form";
}

}  // namespace
