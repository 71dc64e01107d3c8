// SysTick, NVIC enables and priorities, FPU access.
#include "driverlib/fpu.h"
#include "driverlib/interrupt.h"
#include "driverlib/systick.h"
#include "inc/hw_ints.h"
#include "register_test.h"

namespace {

constexpr uint32_t STCTRL = 0xE000E010, STRELOAD = 0xE000E014;
constexpr uint32_t EN0 = 0xE000E100, DIS0 = 0xE000E180, PRI0 = 0xE000E400;

using Core = RegisterTest;

TEST_F(Core, OneMillisecondTickAtFiftyMegahertz) {
  SysTickPeriodSet(50000000 / 1000);
  SysTickIntEnable();
  SysTickEnable();
  EXPECT_EQ(reg(STRELOAD), 49999u);
  EXPECT_EQ(SysTickPeriodGet(), 50000u);
  EXPECT_EQ(reg(STCTRL), 0x7u) << "system clock, interrupt, counting";
}

TEST_F(Core, NvicEnableTouchesOnlyItsOwnBit) {
  IntEnable(INT_UART0);  // interrupt 5
  IntEnable(INT_UART4);  // interrupt 60: second register
  IntDisable(INT_SSI3);  // interrupt 58
  EXPECT_EQ(regfile::writes_to(EN0), std::vector<uint32_t>{1u << 5});
  EXPECT_EQ(regfile::writes_to(EN0 + 4), std::vector<uint32_t>{1u << 28});
  EXPECT_EQ(regfile::writes_to(DIS0 + 4), std::vector<uint32_t>{1u << 26});
  EXPECT_TRUE(IntIsEnabled(INT_UART0));
  EXPECT_FALSE(IntIsEnabled(INT_UART1));
  IntEnable(FAULT_SYSTICK);
  EXPECT_EQ(reg(STCTRL), 0x2u);
}

TEST_F(Core, PriorityIsTheTopThreeBitsOfTheInterruptsByte) {
  reg(PRI0 + 4) = 0x11223344;
  IntPrioritySet(INT_UART0, 0x5F);  // interrupt 5: PRI1, byte 1
  EXPECT_EQ(reg(PRI0 + 4), 0x11224044u);
}

TEST_F(Core, FpuFullAccessAndLazyStacking) {
  FPUEnable();
  FPULazyStackingEnable();
  EXPECT_EQ(reg(0xE000ED88), 0x00F00000u);  // CPAC: CP10, CP11 full access
  EXPECT_EQ(reg(0xE000EF34), 0xC0000000u);  // FPCCR: ASPEN, LSPEN
}

}  // namespace
