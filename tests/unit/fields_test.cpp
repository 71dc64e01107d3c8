// The record fields: the field table through the data header and the
// listing, the data-field menu, the metadata header on the console and in
// the data file, and the configuration printout.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "config/config.h"
#include "config/system.h"
#include "core/main.h"
#include "driverlib/hibernate.h"
#include "fields_support.h"
#include "sdcard.h"
#include "storage/microsd.h"

namespace {

// The columns as the users' tools know them, in record order.
const char *const kHeaderColumns[] = {
    " SampNum\t", "     MM/DD/YYYY HH:MM:SS\t", "VbatMain\t", "VbiasPos\t", "VbiasNeg\t",
    " TC_cont\t", "Humidity\t", "  Vtherm\t", "VthrmStd\t", " TC_Dfet\t", "    Vrsi\t",
    "Vrsi_std\t", "pHintEst\t", "    Vrse\t", "Vrse_std\t", "pHextEst\t", "  Vrsi_B\t",
    "VrsiBstd\t", "  Vrse_B\t", "VrseBstd\t", "      Vk\t", "  Vk_std\t", "      Ik\t",
    "      Ib\t",
};

struct ListingLine {
  int index;
  const char *text;
  bool blank_after;  // in the plain listing
};
const ListingLine kListing[] = {
    {0, "A -- Sample Num               = ", false},
    {1, "B -- MM/DD/YYYY HH:MM:SS      = ", true},
    {19, "C -- Battery Volt             = ", false},
    {20, "D -- Bias Battery Pos         = ", false},
    {21, "E -- Bias Battery Neg         = ", false},
    {22, "F -- Board Temperature        = ", false},
    {23, "G -- Board Humidity           = ", true},
    {2, "H -- Vthermistor              = ", false},
    {3, "     Vtermistor Std           = ", false},
    {4, "I -- Temperature Calc         = ", false},
    {5, "J -- Vrsi (Int Ref pH volt)   = ", false},
    {6, "     Vrsi Std                 = ", false},
    {7, "K -- pH Vrsi Calc             = ", false},
    {8, "L -- Vrse (Ext Ref pH volt)   = ", false},
    {9, "     Vrse Std                 = ", false},
    {10, "M -- pH Vrse Calc             = ", false},
    {11, "N -- Vrsi Biased (7pH=0v)     = ", false},
    {12, "O -- Vrsi Biased Std          = ", false},
    {13, "P -- Vrse Biased (7pH=0v)     = ", false},
    {14, "Q -- Vrse Biased Std          = ", true},
    {15, "R -- Counter Electrode Vk     = ", false},
    {16, "     Counter Electrode Vk Std = ", false},
    {17, "T -- Counter Electrode Cur Ik = ", false},
    {18, "U -- Substrate Current        = ", true},
    {24, "V -- Optode                   = ", false},
    {25, "W -- Conductivity             = ", false},
};

std::string expected_listing(const std::string &prefix, bool plain) {
  std::string s;
  for (const ListingLine &l : kListing) {
    unsigned v = sys_data.data_cfg[l.index];
    if (l.index == 25 && v > 2) continue;
    s += prefix + l.text + std::to_string(v);
    if (l.index == 25 && v == 1) s += ",  SBE37 MicroCat";
    if (l.index == 25 && v == 2) s += ",  Aanderaa 5860";
    s += "\n";
    if (plain && l.blank_after) s += "\n";
  }
  return s;
}

std::set<int> selected() {
  std::set<int> on;
  for (int i = 0; i < 32; i++)
    if (sys_data.data_cfg[i]) on.insert(i);
  return on;
}

class Fields : public FieldsBoard {
 protected:
  void TearDown() override {
    microSD_flg = 1;
    sim::sd_faults_clear();
  }
  void all_fields(uint8_t v) {
    memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
    memset(sys_data.data_cfg, v, 26);
  }
};

TEST_F(Fields, DataHeaderNamesTheSelectedColumnsInRecordOrder) {
  all_fields(1);
  sys_data.data_cfg[25] = 2;
  EXPECT_EQ(print_data_header(), 0);
  std::string all;
  for (const char *c : kHeaderColumns) all += c;
  all += "\tOpt_PN\tOpt_SN\tMoxy\tO2satper\tTC_opt\tDphase\tBphase\tRphase\tBamp\tBpot\tRamp\tOpt_rawtemp";
  all += "\tCond_PN\tCond_SN\tCond\tTemp\tSal\tDensity\tSSpeed\t";
  EXPECT_EQ(printed(), crlf("\n\n" + all + "\n"));

  // The record formatter's view: the same columns in the same order.
  std::string walked;
  for (const DataField &f : data_fields)
    if (field_in_record(f.index)) walked += data_field_header(f);
  EXPECT_EQ(walked, all);
  EXPECT_FALSE(field_in_record(-1) || field_in_record(kDataFieldCount));
  const DataField &w = data_fields[kDataFieldCount - 1];
  EXPECT_STREQ(data_field_header(w), "\tCond_PN\tCond_SN\tCond\tTemp\tSal\tDensity\tSSpeed\t");
  sys_data.data_cfg[25] = 1;
  EXPECT_STREQ(data_field_header(w), "\tTC_MCat\tCond\tpSal\tPres\tDate_MC\tTime_MC\t");
  sys_data.data_cfg[25] = 3;
  EXPECT_STREQ(data_field_header(w), "");
  // With no CTD names after them, the optode's names end the line in a tab,
  // as the record's last field does: otherwise every record has one column
  // more than the header.
  const DataField &v = data_fields[kDataFieldCount - 2];
  EXPECT_EQ(data_field_header(v), std::string(v.header) + "\t");

  all_fields(0);
  sys_data.data_cfg[7] = 1;
  sys_data.data_cfg[19] = 1;
  get_header();
  EXPECT_EQ(printed(), crlf("\n\nVbatMain\tpHintEst\t\n")) << "column order, not index order";
  all_fields(0);
  get_header();
  EXPECT_EQ(printed(), "\r\n\r\n\r\n");
  EXPECT_EQ(print_write_data_header(0, 0), 0);
  EXPECT_EQ(printed(), "\r\n\r\n") << "the blank lines come whatever printFlg is";
}

TEST_F(Fields, ListingShowsEveryFieldInItsForms) {
  print_config_data_fields();
  EXPECT_EQ(printed(), crlf(expected_listing("", true)));
  for (uint8_t ctd : {1, 2, 3}) {
    sys_data.data_cfg[25] = ctd;
    print_write_config_data_fields(2, 2);
    EXPECT_EQ(printed(), crlf(expected_listing("// ", false))) << "CTD type " << (int)ctd;
  }
  print_write_config_data_fields(1, 2);
  EXPECT_EQ(printed(), crlf(expected_listing("// ", true))) << "comment prefix, plain form's blank lines";
  print_write_config_data_fields(0, 0);
  EXPECT_EQ(printed(), "");
}

TEST_F(Fields, PresetsSelectTheirUseCases) {
  struct Case {
    const char *keys;
    std::set<int> on;
    uint8_t ctd;
  };
  const Case cases[] = {
      {"0", {}, 0},
      // GLIDER with M and what M is computed from.
      {"2", {0, 1, 19, 20, 21, 8, 9, 10, 13, 2, 3, 4, 15, 16, 17, 18}, 0},
      {"3", {0, 1, 19, 20, 21, 22, 23, 2, 3, 4, 5, 6, 7, 15, 16, 17, 18}, 0},
      {"5", {0, 19, 20, 21, 22, 23, 2, 3, 4, 5, 6, 7, 15, 16, 17, 18}, 0},
      {"6", {0, 1, 19, 20, 21, 22, 23, 2, 3, 4, 8, 9, 15, 16, 17, 18}, 0},
  };
  for (const Case &c : cases) {
    all_fields(1);
    menu({{"Enter Selection [9]: ", std::string(c.keys) + "\r"}});
    std::set<int> want = c.on;
    if (c.ctd) want.insert(25);
    EXPECT_EQ(selected(), want) << "preset " << c.keys;
  }

  // Presets 1 and 4 then ask for the CTD type, which starts at 1.
  all_fields(0);
  menu({{"Enter Selection [9]: ", "4\r"}, {"Select CTD type[1]:  1 -- SBE37 MicroCat, 2 -- Aanderaa 5860  ", "2\r"}});
  std::set<int> four = {0, 1, 19, 20, 21, 22, 23, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 16, 17, 18, 24, 25};
  EXPECT_EQ(selected(), four);
  EXPECT_EQ(sys_data.data_cfg[25], 2);
  menu({{"Enter Selection [9]: ", "1\r"}, {"Select CTD type[1]:  1 -- SBE37 MicroCat, 2 -- Aanderaa 5860  ", "\x18\r"}});
  for (int i = 0; i < 25; i++) EXPECT_EQ(sys_data.data_cfg[i], 1) << i;
  EXPECT_EQ(sys_data.data_cfg[25], 0) << "Ctrl-X: no CTD";
  for (int i = 26; i < 32; i++) EXPECT_EQ(sys_data.data_cfg[i], 0);
}

TEST_F(Fields, LettersSwitchTheirFieldsWithTheCoupledOnes) {
  all_fields(0);
  std::string first_menu = crlf(
      "\n\n\nChange Data Field - lower case turns data field off (=0), upper case turns field on "
      "(=1)\n\n\n" + expected_listing("", true) +
      "\n0 -- Zero (Clear) all config fields\n1 -- Set all config fields"
      "\n2 -- Use Case: GLIDER,          (A,B,C,D,E,L,M,R,T,U)"
      "\n3 -- Use Case: Tavlo Default,    (A,B,C,D,E,F,G,H,I,J,K,R,T,U)"
      "\n4 -- Use Case: Ombrix Default,   (A,B,C,D,E,F,G,H,I,J,K,L,M,R,T,U,V,W)"
      "\n5 -- Use Case: Ombrix m2m,       (A,C,D,E,F,G,H,I,J,K,R,T,U)"
      "\n6 -- Use Case: Ferrolt Default, (A,B,C,D,E,F,G,H,I,L,R,T,U)\n"
      "\n9 -- Exit to Main Menu\nEnter Selection [9]: ");
  auto expect_on = [](std::set<int> want) { return [want] { EXPECT_EQ(selected(), want); }; };
  const std::string prompt = "Enter Selection [9]: ";
  menu({
      {prompt, "K\r"},
      {prompt, "h\r", expect_on({7, 11, 2, 3, 4})},
      {prompt, "M\r", expect_on({11, 4})},
      {prompt, "i\r", expect_on({11, 10, 13, 2, 3, 4})},
      {prompt, "O\r", expect_on({11, 13, 2, 3})},
      {prompt, "n\r", expect_on({11, 12, 13, 2, 3})},
      {prompt, "Q\r", expect_on({13, 2, 3})},
      {prompt, "p\r", expect_on({13, 14, 2, 3})},
      {prompt, "J\r", expect_on({2, 3})},
      {prompt, "L\r", expect_on({2, 3, 5, 6})},
      {prompt, "R\r", expect_on({2, 3, 5, 6, 8, 9})},
      {prompt, "j\r", expect_on({2, 3, 5, 6, 8, 9, 15, 16})},
      {prompt, "l\r", expect_on({2, 3, 8, 9, 15, 16})},
      {prompt, "r\r", expect_on({2, 3, 15, 16})},
      {prompt, "c\r", expect_on({2, 3})},
      {prompt, "S\r", expect_on({2, 3})},
      {prompt, "X\r"},
      {prompt, "z\r"},
      {prompt, "7\r"},
      {prompt, "V\r", expect_on({2, 3})},
      {prompt, "W\r", expect_on({2, 3, 24})},
      {"Select CTD type[0]:  1 -- SBE37 MicroCat, 2 -- Aanderaa 5860  ", "5\r"},
      {"Enter 1 or 2:  1 for SBE37 MicroCat, 2 for Aanderaa 5860, Ctrl-X to exit  ", "1\r"},
      {prompt, "C\r", [] { EXPECT_EQ(sys_data.data_cfg[25], 1); }},
      {prompt, "w\r", expect_on({2, 3, 19, 24, 25})},
  });
  EXPECT_EQ(selected(), (std::set<int>{2, 3, 19, 24}));
  std::string out = printed();
  EXPECT_EQ(out.substr(0, first_menu.size()), first_menu);
  EXPECT_NE(out.find("\r\n\r\nSystem data stored. (910) -- Press enter to bring up main menu\r\n"),
            std::string::npos);
  // Leaving stores the record.
  systemData stored;
  memcpy(&stored, sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR, sizeof stored);
  EXPECT_EQ(memcmp(stored.data_cfg, sys_data.data_cfg, 32), 0);
  EXPECT_EQ(stored.fast_mode, 1u);
}

TEST_F(Fields, IdleMenuHibernatesAfterFiveMinutesKeepingChanges) {
  all_fields(0);
  MenuKeys keys(board, {{"Enter Selection [9]: ", "B\r"}});
  uint32_t t0 = HibernateRTCGet();
  EXPECT_THROW(config_data_fields(), PowerDown);
  uint32_t waited = HibernateRTCGet() - t0;
  EXPECT_GE(waited, 300u);
  EXPECT_LE(waited, 302u);
  EXPECT_EQ(sys_samp.state, IDLE);
  systemData stored;
  memcpy(&stored, sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR, sizeof stored);
  EXPECT_EQ(stored.data_cfg[1], 1);
}

void set_metadata_record() {
  systemData &d = sys_data;
  d.sampling_period = 900;
  d.sample_aligned = 1;
  d.test_mode = 1;
  d.pumpon_time = 30;
  d.low_batt_volt = 10.5f;
  d.output = VERBOSE;
  d.deploy_time = 1700000000;  // 2023/11/14 22:13:20
  d.GMT = 1;
  d.TCOffset = 0.25f;
  d.k0int = -1.5f;
  d.k0ext = -1.25f;
  d.k2int = 0.5f;
  d.k2ext = 0.75f;
  d.default_sal = 35;
  d.offset_Ik = 7;
  d.app_cfg[APPCFG_THERM_EQUATION] = 1;
  d.shTherm_A = 0.001;
  d.shTherm_B = 0.0002;
  d.shTherm_C = 1e-7;
  strcpy(d.qa.firmware_version, "v3.8.6 Ombrix revB");
  strcpy(d.board_SN, "B-17");
  strcpy(d.deploy_note, "pier test");
  // A name filling its array, as a hand-made record may have it.
  memset(d.package_name, 'P', sizeof d.package_name);
}

std::string metadata_block(bool file) {
  std::string sh = file ? "S-H" : "s-h";
  return "//++************** Deployment Settings ***************\n"
         "// Firmware version: \tv3.8.6 Ombrix revB\n"
         "// Sampling period (s)\t900\n"
         "// Samples hour align:\tYes\n"
         "// Pump on time (s):\t30  (TEST MODE, pump disabled)\n"
         "// Low battery voltage:\t10.5\n"
         "// Output mode:        \tVerbose\n"
         "// Deploy time:   \t2023/11/14 22:13:20\n"
         "// Time zone:       \tGMT\n"
         "// TCOffset:     \t0.250000\n"
         "// k0int:        \t-1.500000\n"
         "// k0ext:        \t-1.250000\n"
         "// k2int:        \t0.500000\n"
         "// k2ext:        \t0.750000\n"
         "// Def Sal (ppt):\t35.000000\n"
         "// Offset Ik:    \t7.000000\n"
         "// " + sh + " A         \t0.001000\n"
         "// " + sh + " B         \t0.000200\n"
         "// " + sh + " C         \t0.000000\n"
         "// Version Info: \tv3.8.6 Ombrix revB\n"
         "// File name:     \tnoname.txt\n"
         "// User initials: \tabc\n"
         "// Board SN:      \tB-17\n"
         "// ZUZE SN:       \t \n"
         "// DuraFET SN:    \t \n"
         "// Optode SN:     \t \n"
         "// CTD SN:        \t \n"
         "// Pump SN:       \t \n"
         "// Package name:  \t" + std::string(32, 'P') + "\n"
         "// Fab Note:      \t \n"
         "// Deploy note:   \tpier test\n";
}

const char kFooter[] = "//--**************************************************\n\n\n";

TEST_F(Fields, MetadataHeaderOnTheConsole) {
  set_metadata_record();
  EXPECT_EQ(print_metadata_header(HibernateRTCGet()), 0);
  std::string want = "\n\n" + metadata_block(false) + expected_listing("// ", false) + kFooter;
  EXPECT_EQ(printed(), crlf(want));

  // The switch-dependent lines in their other forms.
  sys_data.sample_aligned = 0;
  sys_data.test_mode = 0;
  sys_data.output = NORMAL;
  sys_data.GMT = 0;
  sys_data.app_cfg[APPCFG_THERM_EQUATION] = 0;
  sys_data.quadTherm_c0 = 340.9819863;
  print_all_metadata();
  std::string out = printed();
  for (const char *line : {"// Samples hour align:\tNo\n", "// Pump on time (s):\t30\n",
                           "// Output mode:        \tNormal\n", "// Time zone:       \tLocal\n",
                           "// s-h c0        \t340.981986\n", "// s-h c3        \t"})
    EXPECT_NE(out.find(crlf(line)), std::string::npos) << line;
  sys_data.output = (output_mode)0;
  sys_data.app_cfg[APPCFG_THERM_EQUATION] = 2;
  print_all_metadata();
  out = printed();
  EXPECT_EQ(out.find("Output mode"), std::string::npos);
  EXPECT_EQ(out.find("s-h"), std::string::npos);
}

TEST_F(Fields, HeadersAppendToTheDataFile) {
  set_metadata_record();
  sys_data.data_cfg[25] = 1;
  EXPECT_EQ(print_write_metadata_header(HibernateRTCGet(), 1, 1), 0);
  std::string meta = "\n\n" + metadata_block(true) + kFooter;
  EXPECT_EQ(card_file("noname.txt"), meta) << "S-H in the file, and no listing";
  EXPECT_EQ(sys_samp.next_gdata_fptr, meta.size());
  std::string console = printed();
  EXPECT_NE(console.find(crlf(metadata_block(false))), std::string::npos);

  EXPECT_EQ(write_data_header(), 0);
  std::string header;
  for (const DataField &f : data_fields)
    if (field_in_record(f.index)) header += data_field_header(f);
  EXPECT_EQ(card_file("noname.txt"), meta + header + "\n");
  EXPECT_EQ(printed(), "\r\n\r\n") << "writing only: nothing but the blank lines";
  EXPECT_EQ(sys_samp.next_gdata_fptr, meta.size()) << "a transfer starts with the data header";

  // The next deployment appends.
  EXPECT_EQ(write_metadata_header(0), 0);
  EXPECT_EQ(card_file("noname.txt"), meta + header + "\n" + meta);
  EXPECT_EQ(sys_samp.next_gdata_fptr, 2 * meta.size() + header.size() + 1);
  EXPECT_EQ(printed(), crlf(expected_listing("// ", false))) << "the listing always reaches the console";

  // The listing goes to the file only when asked to, plain.
  strcpy(sys_data.fileName, "list.txt");
  print_write_config_data_fields(0, 1);
  EXPECT_EQ(card_file("list.txt"), expected_listing("", false));
  EXPECT_EQ(sys_samp.next_gdata_fptr, expected_listing("", false).size());
}

TEST_F(Fields, WithoutTheCardNothingIsWritten) {
  microSD_flg = 0;
  EXPECT_EQ(print_write_metadata_header(0, 1, 1), 0);
  EXPECT_EQ(print_write_data_header(1, 1), 0);
  print_write_config_data_fields(1, 1);
  microSD_flg = 1;
  EXPECT_EQ(card_file("noname.txt"), "<absent>");
}

TEST_F(Fields, CardFailuresAreReportedAndTheConsoleCopyStays) {
  set_metadata_record();
  sys_samp.next_gdata_fptr = 1234;
  sim::sd_faults().no_card = true;
  EXPECT_NE(print_write_metadata_header(0, 1, 1), 0);
  std::string out = printed();
  EXPECT_EQ(out.find("f_open error: "), 0u) << out.substr(0, 80);
  EXPECT_NE(out.find(crlf(metadata_block(false))), std::string::npos);
  EXPECT_NE(print_write_data_header(1, 1), 0);
  EXPECT_EQ(printed().find("f_open error: "), 0u);
  EXPECT_EQ(sys_samp.next_gdata_fptr, 1234u);
  sim::sd_faults().no_card = false;
  sim::sd_insert();

  // A block the card rejects midway: the header is not taken as written.
  sim::sd_arm_write_error(1);
  EXPECT_NE(write_metadata_header(0), 0);
  out = printed();
  EXPECT_TRUE(out.find("f_write error: ") != std::string::npos ||
              out.find("f_close error: ") != std::string::npos)
      << out;
  EXPECT_EQ(sys_samp.next_gdata_fptr, 1234u);
}

TEST_F(Fields, RecordPrintoutListsTheFieldsInOrder) {
  sys_data.sampling_period = 600;
  sys_data.quadTherm_c1 = -0.0000910257;
  sys_data.solenoid_holdtime = 4;
  sys_samp.current_sample = 42;
  sys_data.test_mode = 1;
  print_sys_data_structure();
  std::string out = printed();
  const char *const in_order[] = {
      "// ------ sys_data structure printed, size = 888 ---- \n",
      "// sampling_period: 600\n",
      "// quadTherm_c1: -0.00009102570\n",
      "// Vrsi_sps: ",
      "// Vrsi_trials: ",
      "// Vbias_trials: ",
      "// solenoid_holdtime: 4 sec\n",
      "// baud_rate: ",
      "B -- MM/DD/YYYY HH:MM:SS      = 1\n\n",
      "// deploy_time: ",
      "// spare[0] : 0.000000\n",
      "// spare[8] : 0.800000\n",
      "// fileName: noname.txt\n",
      "// board_fab_note: ",
      "// state: 0\n",
      "// current_sample: 42\n",
      "// AD24_std: ",
  };
  size_t at = 0;
  for (const char *line : in_order) {
    size_t found = out.find(crlf(line), at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found;
  }
  EXPECT_EQ(out.find("test_mode"), std::string::npos);
  EXPECT_EQ(out.find("app_cfg"), std::string::npos);
}

}  // namespace
