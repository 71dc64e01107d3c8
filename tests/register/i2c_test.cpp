// I2C master timer period, addressing and the MCS command codes.
#include "driverlib/i2c.h"
#include "inc/hw_memmap.h"
#include "register_test.h"

namespace {

constexpr uint32_t MSA = I2C0_BASE + 0x000, MCS = I2C0_BASE + 0x004, MTPR = I2C0_BASE + 0x00C;
constexpr uint32_t MCR = I2C0_BASE + 0x020;
constexpr uint32_t RUN = 1, START = 2, STOP = 4, ACK = 8;

using I2c = RegisterTest;

TEST_F(I2c, TimerPeriodForFastAndStandardMode) {
  I2CMasterInitExpClk(I2C0_BASE, 50000000, true);
  EXPECT_EQ(reg(MTPR), 5u);  // 50e6 / (2 x (6 + 4) x 400e3) - 1
  EXPECT_EQ(reg(MCR) & 0x10u, 0x10u) << "master function enabled";
  I2CMasterInitExpClk(I2C0_BASE, 50000000, false);
  EXPECT_EQ(reg(MTPR), 24u);
  I2CMasterInitExpClk(I2C0_BASE, 16000000, false);
  EXPECT_EQ(reg(MTPR), 7u);
}

TEST_F(I2c, SlaveAddressCarriesTheDirection) {
  I2CMasterSlaveAddrSet(I2C0_BASE, 0x50, false);
  I2CMasterSlaveAddrSet(I2C0_BASE, 0x50, true);
  EXPECT_EQ(regfile::writes_to(MSA), (std::vector<uint32_t>{0xA0, 0xA1}));
}

TEST_F(I2c, CommandsWriteTheDataSheetBitPatterns) {
  struct Case {
    uint32_t cmd, mcs;
  } cases[] = {
      {I2C_MASTER_CMD_SINGLE_SEND, STOP | START | RUN},
      {I2C_MASTER_CMD_SINGLE_RECEIVE, STOP | START | RUN},
      {I2C_MASTER_CMD_BURST_SEND_START, START | RUN},
      {I2C_MASTER_CMD_BURST_SEND_CONT, RUN},
      {I2C_MASTER_CMD_BURST_SEND_FINISH, STOP | RUN},
      {I2C_MASTER_CMD_BURST_SEND_ERROR_STOP, STOP},
      {I2C_MASTER_CMD_BURST_RECEIVE_START, ACK | START | RUN},
      {I2C_MASTER_CMD_BURST_RECEIVE_CONT, ACK | RUN},
      {I2C_MASTER_CMD_BURST_RECEIVE_FINISH, STOP | RUN},
      {I2C_MASTER_CMD_BURST_RECEIVE_ERROR_STOP, STOP},
  };
  for (const Case &c : cases) {
    regfile::reset();
    I2CMasterControl(I2C0_BASE, c.cmd);
    EXPECT_EQ(regfile::writes_to(MCS), std::vector<uint32_t>{c.mcs}) << c.cmd;
  }
}

TEST_F(I2c, ErrorsReadFromStatus) {
  reg(MCS) = 0x01 | 0x02 | 0x04;  // still busy: no verdict yet
  EXPECT_EQ(I2CMasterErr(I2C0_BASE), I2C_MASTER_ERR_NONE);
  reg(MCS) = 0x02 | 0x04;  // ERROR, ADRACK
  EXPECT_EQ(I2CMasterErr(I2C0_BASE), I2C_MASTER_ERR_ADDR_ACK);
  reg(MCS) = 0x02 | 0x08;  // ERROR, DATACK
  EXPECT_EQ(I2CMasterErr(I2C0_BASE), I2C_MASTER_ERR_DATA_ACK);
  reg(MCS) = 0x10;  // ARBLST
  EXPECT_EQ(I2CMasterErr(I2C0_BASE), I2C_MASTER_ERR_ARB_LOST);
  reg(MCS) = 0x20;  // IDLE
  EXPECT_EQ(I2CMasterErr(I2C0_BASE), I2C_MASTER_ERR_NONE);
  EXPECT_FALSE(I2CMasterBusy(I2C0_BASE));
  reg(MCS) = 0x40;
  EXPECT_TRUE(I2CMasterBusBusy(I2C0_BASE));
}

}  // namespace
