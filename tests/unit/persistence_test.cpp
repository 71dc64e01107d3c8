// The configuration record in the EEPROM and the sampling state in the
// FRAM, through the simulated EEPROM and the I2C bus.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "config/i2c_fram.h"
#include "config/system.h"
#include "core/init.h"
#include "core/sleep.h"
#include "driverlib/hibernate.h"
#include "driverlib/i2c.h"
#include "driverlib/sysctl.h"
#include "sim_board.h"

namespace {

std::vector<uint32_t> commands() {
  int n = 0;
  const sim::I2cTraceEntry *t = sim::i2c_trace(&n);
  std::vector<uint32_t> out;
  for (int i = 0; i < n; i++) out.push_back(t[i].cmd | (t[i].receive ? 0x100u : 0));
  return out;
}

class Persistence : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
  }
  SimBoard board{"persist"};
};

TEST_F(Persistence, RecordStoresAndRestoresByteForByte) {
  config_sys_data_default_init();
  sys_data.sampling_period = 900;
  sys_data.shTherm_C = 1.25e-7;
  strcpy(sys_data.deploy_note, "mooring A");
  sys_data.data_cfg[25] = 2;
  // Padding bytes too: the stored image is the memory image.
  reinterpret_cast<uint8_t *>(&sys_data)[246] = 0xA5;
  systemData before;
  memcpy(&before, &sys_data, sizeof before);
  ASSERT_EQ(storeSysDataVariables(), 0);
  EXPECT_EQ(memcmp(sim::eeprom_bytes() + 1024, &before, 888), 0);
  memset(&sys_data, 0, sizeof sys_data);
  retrieveSysDataVariables();
  EXPECT_EQ(memcmp(&sys_data, &before, sizeof before), 0);
}

TEST_F(Persistence, DefaultsAreTheFactoryValues) {
  config_sys_data_default_init();
  EXPECT_EQ(sys_samp.state, IDLE);
  EXPECT_EQ(sys_samp.nextWakeUp, HibernateRTCGet());
  for (int i = 0; i < 9; i++) EXPECT_EQ(sys_data.spare[i], (float)(0.1 * i));
  EXPECT_STREQ(sys_data.fileName, "noname.txt");
  EXPECT_STREQ(sys_data.qa.firmware_version, "Version Not Defined");
  EXPECT_STREQ(sys_data.board_SN, " ");
  EXPECT_EQ(sys_data.output, NORMAL);
  EXPECT_EQ(sys_data.data_cfg[10], 0);
  EXPECT_EQ(sys_data.data_cfg[11], 1);
  EXPECT_EQ(sys_data.Vbias_sps, 40u);
}

// A blank EEPROM holds no terminators, only erased bytes: every string
// reads as empty text (it used to print as 0xFF bytes), and a string cut
// short by erased bytes keeps what was written.
TEST_F(Persistence, ErasedRecordStringsReadAsEmpty) {
  memset(sim::eeprom_bytes(), 0xFF, 2048);
  retrieveSysDataVariables();
  EXPECT_STREQ(sys_data.fileName, "");
  EXPECT_STREQ(sys_data.qa.firmware_version, "");
  EXPECT_STREQ(sys_data.deploy_note, "");
  EXPECT_STREQ(sys_data.qa.tester, "");

  memcpy(sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR + offsetof(systemData, user), "abc", 3);
  retrieveSysDataVariables();
  EXPECT_STREQ(sys_data.user, "abc");
}

// A full-length string without its terminator still ends in its array.
TEST_F(Persistence, UnterminatedRecordStringsAreBounded) {
  memset(sim::eeprom_bytes(), 'x', 2048);
  retrieveSysDataVariables();
  EXPECT_EQ(strlen(sys_data.fileName), sizeof sys_data.fileName - 1);
  EXPECT_EQ(strlen(sys_data.qa.firmware_version), sizeof sys_data.qa.firmware_version - 1);
}

TEST_F(Persistence, FailedEepromProgramIsReported) {
  sim::faults().eeprom_write_fail = true;
  EXPECT_NE(storeSysDataVariables(), 0);
  sim::faults().eeprom_write_fail = false;
}

TEST_F(Persistence, OneByteReadUsesSingleReceive) {
  uint8_t b = 0;
  sim::i2c_trace_clear();
  i2c0_read(FRAM_I2C_ADDR, &b, 1, 0x00, true);
  std::vector<uint32_t> want = {I2C_MASTER_CMD_BURST_SEND_START,
                                I2C_MASTER_CMD_SINGLE_RECEIVE | 0x100u};
  EXPECT_EQ(commands(), want);
  EXPECT_EQ(b, 0x55);  // the probe pattern's first byte
}

TEST_F(Persistence, TwoByteReadIsStartThenFinish) {
  uint8_t b[2] = {};
  sim::i2c_trace_clear();
  i2c0_read(FRAM_I2C_ADDR, b, 2, 0x01, true);
  std::vector<uint32_t> want = {I2C_MASTER_CMD_BURST_SEND_START,
                                I2C_MASTER_CMD_BURST_RECEIVE_START | 0x100u,
                                I2C_MASTER_CMD_BURST_RECEIVE_FINISH | 0x100u};
  EXPECT_EQ(commands(), want);
  EXPECT_EQ(b[0], 0xAA);
  EXPECT_EQ(b[1], 0x55);
}

TEST_F(Persistence, WriteIsStartContinuesFinish) {
  const uint8_t data[3] = {1, 2, 3};
  sim::i2c_trace_clear();
  i2c0_write(FRAM_I2C_ADDR, data, 3, 0x80);
  std::vector<uint32_t> want = {I2C_MASTER_CMD_BURST_SEND_START, I2C_MASTER_CMD_BURST_SEND_CONT,
                                I2C_MASTER_CMD_BURST_SEND_CONT, I2C_MASTER_CMD_BURST_SEND_FINISH};
  EXPECT_EQ(commands(), want);
  EXPECT_EQ(memcmp(sim::fram_bytes() + 0x80, data, 3), 0);
}

TEST_F(Persistence, ProbeRewritesItsPattern) {
  memset(sim::fram_bytes(), 0, 4);
  EXPECT_EQ(fram_probe(), FRAM_PROBE_OK);
  const uint8_t want[4] = {0x55, 0xAA, 0x55, 0xAA};
  EXPECT_EQ(memcmp(sim::fram_bytes(), want, 4), 0);
}

TEST_F(Persistence, SilentFramFailsTheProbeAndComesUpIdle) {
  sim::faults().no_fram = true;
  board.out().clear();
  fram_init();
  sys_samp.state = DEPLOYED;
  retrieveSysSampFRAMVariables();
  board.run_for(0.1);
  EXPECT_NE(board.out().find("ERROR: FRAM fails probe - switch to HIB module"), std::string::npos);
  EXPECT_EQ(sys_samp.state, IDLE);
  sim::faults().no_fram = false;
}

TEST_F(Persistence, BadMarkerIsRepairedAndWrittenBack) {
  sys_samp = systemSamplingData{DEPLOYED, 77, 88, 99, 1.5f, 0x12345678};
  fram_sys_samp_store();
  board.out().clear();
  retrieveSysSampFRAMVariables();
  board.run_for(0.1);
  EXPECT_NE(board.out().find("FRAM sys_samp.initNum is not 0x55AA55AA"), std::string::npos);
  systemSamplingData stored;
  memcpy(&stored, sim::fram_bytes() + 0x40, sizeof stored);
  EXPECT_EQ(stored.state, IDLE);
  EXPECT_EQ(stored.nextWakeUp, 0u);
  EXPECT_EQ(stored.current_sample, 0u);
  EXPECT_EQ(stored.initNum, SYS_SAMP_INIT_NUM);
  // And a store with a wrong marker repairs it before writing.
  sys_samp.initNum = 0;
  storeSysSampFRAMVariables();
  memcpy(&stored, sim::fram_bytes() + 0x40, sizeof stored);
  EXPECT_EQ(stored.initNum, SYS_SAMP_INIT_NUM);
}

}  // namespace
