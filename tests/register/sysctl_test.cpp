// Clock tree set-up and readback, and peripheral gating by peripheral ID.
#include "driverlib/sysctl.h"
#include "register_test.h"

namespace {

constexpr uint32_t RIS = 0x400FE050, RCC = 0x400FE060, RCC2 = 0x400FE070;
constexpr uint32_t kRun50MHz = SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ;

using SysCtl = RegisterTest;

TEST_F(SysCtl, ResetClockIsThePrecisionOscillator) { EXPECT_EQ(SysCtlClockGet(), 16000000u); }

TEST_F(SysCtl, PllFromSixteenMegahertzCrystalDividedByFour) {
  SysCtlClockSet(kRun50MHz);
  uint32_t rcc = reg(RCC), rcc2 = reg(RCC2);
  EXPECT_EQ((rcc >> 6) & 0x1F, 0x15u) << "XTAL 16 MHz";
  EXPECT_EQ(rcc & 1u, 0u) << "main oscillator enabled";
  EXPECT_NE(rcc & (1u << 22), 0u) << "USESYSDIV";
  EXPECT_NE(rcc2 & (1u << 31), 0u) << "USERCC2";
  EXPECT_EQ((rcc2 >> 23) & 0x3F, 3u) << "SYSDIV2: 200 MHz / 4";
  EXPECT_EQ(rcc2 & (1u << 30), 0u) << "DIV400 off";
  EXPECT_EQ((rcc2 >> 4) & 7, 0u) << "OSCSRC2 main oscillator";
  EXPECT_EQ(rcc2 & ((1u << 11) | (1u << 13)), 0u) << "PLL powered, not bypassed";
  EXPECT_EQ(SysCtlClockGet(), 50000000u);
}

TEST_F(SysCtl, PllStaysBypassedUntilLocked) {
  SysCtlClockSet(kRun50MHz);
  // Every write before the last one keeps BYPASS2 set.
  std::vector<uint32_t> rcc2 = regfile::writes_to(RCC2);
  ASSERT_GE(rcc2.size(), 2u);
  for (size_t i = 0; i + 1 < rcc2.size(); i++) EXPECT_NE(rcc2[i] & (1u << 11), 0u) << "write " << i;

  regfile::reset();
  reg(RIS) = 1u << 8;  // the PLL never locks
  SysCtlClockSet(kRun50MHz);
  EXPECT_NE(reg(RCC2) & (1u << 11), 0u);
  EXPECT_EQ(SysCtlClockGet(), 16000000u) << "running from the crystal, undivided by the PLL";
}

TEST_F(SysCtl, NoCrystalKeepsTheInternalOscillator) {
  reg(RIS) = 0;  // the main oscillator never comes up
  SysCtlClockSet(kRun50MHz);
  EXPECT_EQ((reg(RCC2) >> 4) & 7, 1u) << "OSCSRC2 still PIOSC";
  EXPECT_EQ(SysCtlClockGet(), 16000000u);
}

TEST_F(SysCtl, EightyMegahertzThroughDiv400) {
  SysCtlClockSet(SYSCTL_SYSDIV_2_5 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
  EXPECT_NE(reg(RCC2) & (1u << 30), 0u);
  EXPECT_EQ(SysCtlClockGet(), 80000000u);
}

TEST_F(SysCtl, PeripheralIdSelectsRegisterAndBit) {
  struct Case {
    uint32_t id, rcgc, bit;
  } cases[] = {
      {SYSCTL_PERIPH_GPIOA, 0x400FE608, 0},  {SYSCTL_PERIPH_GPIOP, 0x400FE608, 13},
      {SYSCTL_PERIPH_UART3, 0x400FE618, 3},  {SYSCTL_PERIPH_SSI3, 0x400FE61C, 3},
      {SYSCTL_PERIPH_I2C0, 0x400FE620, 0},   {SYSCTL_PERIPH_HIBERNATE, 0x400FE614, 0},
      {SYSCTL_PERIPH_ADC0, 0x400FE638, 0},   {SYSCTL_PERIPH_EEPROM0, 0x400FE658, 0},
      {SYSCTL_PERIPH_WTIMER0, 0x400FE65C, 0},
  };
  for (const Case &c : cases) {
    regfile::reset();
    SysCtlPeripheralEnable(c.id);
    EXPECT_EQ(reg(c.rcgc), 1u << c.bit) << std::hex << c.id;
    EXPECT_FALSE(SysCtlPeripheralReady(c.id));
    reg(c.rcgc + 0x400) = 1u << c.bit;  // PRxxx
    EXPECT_TRUE(SysCtlPeripheralReady(c.id));
    SysCtlPeripheralReset(c.id);
    EXPECT_EQ(regfile::writes_to(c.rcgc - 0x100), (std::vector<uint32_t>{1u << c.bit, 0}))
        << "SRxxx pulsed";
  }
}

}  // namespace
