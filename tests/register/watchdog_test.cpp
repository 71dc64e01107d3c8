// What survives and what restarts the chip: the reset-cause register, the
// watchdog's set-up order, and the hibernation module's battery-backed words.
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "driverlib/watchdog.h"
#include "inc/hw_memmap.h"
#include "register_test.h"

namespace {

constexpr uint32_t RESC = 0x400FE05C;
constexpr uint32_t WDTLOAD = 0x40000000, WDTCTL = 0x40000008, WDTICR = 0x4000000C;
constexpr uint32_t WDTLOCK = 0x40000C00;
constexpr uint32_t INTEN = 1u << 0, RESEN = 1u << 1;
constexpr uint32_t HIBCTL = 0x400FC010, HIBDATA = 0x400FC030;

using ResetCause = RegisterTest;
using Watchdog = RegisterTest;

// Clearing one cause leaves the others to be read by the next start.
TEST_F(ResetCause, ClearsOnlyTheCausesGiven) {
  reg(RESC) = 0x00010000u | SYSCTL_CAUSE_EXT | SYSCTL_CAUSE_WDOG0;  // MOSCFAIL, outside the causes
  EXPECT_EQ(SysCtlResetCauseGet(), SYSCTL_CAUSE_EXT | SYSCTL_CAUSE_WDOG0);
  SysCtlResetCauseClear(SYSCTL_CAUSE_WDOG0);
  EXPECT_EQ(reg(RESC), 0x00010000u | SYSCTL_CAUSE_EXT);
  EXPECT_EQ(SYSCTL_CAUSE_POR, 1u << 1);
  EXPECT_EQ(SYSCTL_CAUSE_BOR, 1u << 2);
  EXPECT_EQ(SYSCTL_CAUSE_SW, 1u << 4);
}

// The load goes in before the counter starts; the interrupt clear is a
// write to WDTICR, which also reloads the counter.
TEST_F(Watchdog, LoadBeforeStartAndClearByIcr) {
  WatchdogUnlock(WATCHDOG0_BASE);
  WatchdogReloadSet(WATCHDOG0_BASE, 250000000);
  WatchdogResetEnable(WATCHDOG0_BASE);
  WatchdogEnable(WATCHDOG0_BASE);
  EXPECT_EQ(regfile::writes_to(WDTLOCK), std::vector<uint32_t>{0x1ACCE551});
  EXPECT_EQ(reg(WDTLOAD), 250000000u);
  EXPECT_EQ(reg(WDTCTL), INTEN | RESEN);
  EXPECT_LT(regfile::first_write(WDTLOAD), regfile::first_write(WDTCTL));
  EXPECT_TRUE(WatchdogRunning(WATCHDOG0_BASE));
  WatchdogIntClear(WATCHDOG0_BASE);
  EXPECT_EQ(regfile::writes_to(WDTICR).size(), 1u);
  WatchdogResetDisable(WATCHDOG0_BASE);
  EXPECT_EQ(reg(WDTCTL), INTEN) << "the interrupt stays on: only a reset stops it";
}

// Each battery-backed word is written after HIBCTL showed the last write
// done; at most the module's 16 words.
TEST_F(Watchdog, HibernationWordsArePacedAndBounded) {
  uint32_t in[18], out[18] = {};
  for (uint32_t i = 0; i < 18; i++) in[i] = 0xA5000000u + i;
  HibernateDataSet(in, 18);
  const auto &log = regfile::log();
  int words = 0;
  for (size_t i = 0; i < log.size(); i++) {
    if (!log[i].write || log[i].addr < HIBDATA || log[i].addr >= HIBDATA + 0x40) continue;
    words++;
    ASSERT_GT(i, 0u);
    EXPECT_EQ(log[i - 1].addr, HIBCTL);
  }
  EXPECT_EQ(words, 16);
  HibernateDataGet(out, 18);
  for (uint32_t i = 0; i < 16; i++) EXPECT_EQ(out[i], in[i]);
  EXPECT_EQ(out[16], 0u);
}

}  // namespace
