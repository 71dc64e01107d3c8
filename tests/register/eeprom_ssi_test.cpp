// EEPROM block addressing and status, SSI clock divisors and frame format.
#include "driverlib/eeprom.h"
#include "driverlib/ssi.h"
#include "inc/hw_memmap.h"
#include "register_test.h"

namespace {

constexpr uint32_t EESIZE = 0x400AF000, EEBLOCK = 0x400AF004, EEOFFSET = 0x400AF008;
constexpr uint32_t EERDWRINC = 0x400AF014, EEDONE = 0x400AF018, EESUPP = 0x400AF01C;
constexpr uint32_t CR0 = SSI0_BASE + 0x000, CR1 = SSI0_BASE + 0x004, CPSR = SSI0_BASE + 0x010;

using Eeprom = RegisterTest;
using Ssi = RegisterTest;

TEST_F(Eeprom, ProgramMovesToTheNextBlockAfterWordFifteen) {
  uint32_t data[3] = {0x11111111, 0x22222222, 0x33333333};
  ASSERT_EQ(EEPROMProgram(data, 60, sizeof data), 0u);  // block 0 word 15, then block 1
  std::vector<uint32_t> order;
  for (const regfile::Access &a : regfile::log()) {
    if (a.write && (a.addr == EEBLOCK || a.addr == EEOFFSET || a.addr == EERDWRINC)) {
      order.push_back(a.addr & 0xFF);
      order.push_back(a.value);
    }
  }
  EXPECT_EQ(order, (std::vector<uint32_t>{0x04, 0, 0x08, 15, 0x14, 0x11111111, 0x04, 1, 0x14,
                                          0x22222222, 0x14, 0x33333333}));
}

TEST_F(Eeprom, ReadSeeksBlockAndOffset) {
  reg(EERDWRINC) = 0xCAFEF00D;
  uint32_t out[2] = {};
  EEPROMRead(out, 888, sizeof out);  // word 222: block 13, offset 14
  EXPECT_EQ(regfile::writes_to(EEBLOCK), std::vector<uint32_t>{13});
  EXPECT_EQ(regfile::writes_to(EEOFFSET), std::vector<uint32_t>{14});
  EXPECT_EQ(out[1], 0xCAFEF00Du);
}

TEST_F(Eeprom, ProgramStopsAtTheFirstRefusedWord) {
  reg(EEDONE) = EEPROM_RC_NOPERM;
  uint32_t data[2] = {1, 2};
  EXPECT_EQ(EEPROMProgram(data, 0, sizeof data), EEPROM_RC_NOPERM);
  EXPECT_EQ(regfile::writes_to(EERDWRINC).size(), 1u);
}

TEST_F(Eeprom, InitAndSize) {
  reg(EESIZE) = (32u << 16) | 512u;  // 32 blocks, 512 words
  EXPECT_EQ(EEPROMSizeGet(), 2048u);
  EXPECT_EQ(EEPROMInit(), EEPROM_INIT_OK);
  EXPECT_EQ(regfile::writes_to(0x400FE558), (std::vector<uint32_t>{1, 0})) << "SREEPROM pulsed";
  reg(EESUPP) = 1u << 3;  // PRETRY: a program must be retried
  EXPECT_EQ(EEPROMInit(), EEPROM_INIT_ERROR);
}

TEST_F(Ssi, DivisorNeverExceedsTheAskedRate) {
  struct Case {
    uint32_t rate, cpsr, scr;
  } cases[] = {
      {400000, 2, 62},     // SD card identification: 396.8 kHz
      {12500000, 2, 1},    // SD card transfer
      {25000000, 2, 0},    // the master's ceiling, clk / 2
      {1000000, 2, 24},    // ADS1248
      {10000, 20, 249},    // too slow for prescale 2
  };
  for (const Case &c : cases) {
    regfile::reset();
    SSIConfigSetExpClk(SSI0_BASE, 50000000, SSI_FRF_MOTO_MODE_1, SSI_MODE_MASTER, c.rate, 8);
    EXPECT_EQ(reg(CPSR), c.cpsr) << c.rate;
    EXPECT_EQ((reg(CR0) >> 8) & 0xFF, c.scr) << c.rate;
    EXPECT_LE(50000000 / (c.cpsr * (1 + c.scr)), c.rate);
  }
}

TEST_F(Ssi, FrameFormatModesAndWidth) {
  struct Case {
    uint32_t protocol, bits;
  } cases[] = {{SSI_FRF_MOTO_MODE_0, 0x00}, {SSI_FRF_MOTO_MODE_1, 0x80},  // SPH
               {SSI_FRF_MOTO_MODE_2, 0x40}, {SSI_FRF_MOTO_MODE_3, 0xC0}};  // SPO
  for (const Case &c : cases) {
    regfile::reset();
    reg(CR1) = 1u << 1;  // enabled before: must be off while changed
    SSIConfigSetExpClk(SSI0_BASE, 50000000, c.protocol, SSI_MODE_MASTER, 1000000, 16);
    EXPECT_EQ(reg(CR0) & 0xFF, c.bits | 0x0F) << "Freescale SPI, 16-bit frames";
    EXPECT_EQ(regfile::writes_to(CR1).front(), 0u) << "SSE and MS clear";
  }
  SSIEnable(SSI0_BASE);
  EXPECT_EQ(reg(CR1), 1u << 1);
}

}  // namespace
