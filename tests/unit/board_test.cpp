// Board services: the tick and its counters, the switches, the PWM
// machines, and the hibernation entry and wake decoding.
#include <gtest/gtest.h>

#include "config/system.h"
#include "core/board_util.h"
#include "core/init.h"
#include "core/sleep.h"
#include "driverlib/gpio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"
#include "measure/pwm.h"
#include "sim_board.h"

namespace {

class Board : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    board.run_for(0.05);
  }
  SimBoard board{"board"};
};

TEST_F(Board, StartUpLeavesEveryRailAndLedOff) {
  struct {
    uint32_t port;
    uint8_t pin;
  } rails[] = {{GPIO_PORTM_BASE, GPIO_PIN_6}, {GPIO_PORTM_BASE, GPIO_PIN_7},
               {GPIO_PORTM_BASE, GPIO_PIN_5}, {GPIO_PORTK_BASE, GPIO_PIN_2},
               {GPIO_PORTD_BASE, GPIO_PIN_0}, {GPIO_PORTD_BASE, GPIO_PIN_1},
               {GPIO_PORTD_BASE, GPIO_PIN_2}, {GPIO_PORTD_BASE, GPIO_PIN_3},
               {GPIO_PORTL_BASE, GPIO_PIN_2}, {GPIO_PORTG_BASE, GPIO_PIN_1},
               {GPIO_PORTE_BASE, GPIO_PIN_3}, {GPIO_PORTP_BASE, GPIO_PIN_2}};
  for (auto &r : rails) {
    EXPECT_TRUE(sim::gpio_is_output(r.port, r.pin)) << std::hex << r.port << " " << (int)r.pin;
    EXPECT_FALSE(sim::gpio_level(r.port, r.pin)) << std::hex << r.port << " " << (int)r.pin;
  }
  // Console line driver on (PL0, PL1 low), the ADC's reset and start high.
  EXPECT_FALSE(sim::gpio_level(GPIO_PORTL_BASE, GPIO_PIN_0));
  EXPECT_FALSE(sim::gpio_level(GPIO_PORTL_BASE, GPIO_PIN_1));
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTN_BASE, GPIO_PIN_5));
  EXPECT_EQ(sim::gpio_pctl(GPIO_PORTB_BASE, 2), 3) << "PB2 ends up routed to I2C0";
  EXPECT_EQ(sim::uart_baud(0), 115108u);  // 115200 as the divisors make it
}

TEST_F(Board, TenMillisecondCounterFollowsTheTick) {
  Timer_1ms(1);
  EXPECT_EQ(Timer_10ms(1), 0u);
  board.run_for(0.2505);
  uint32_t ms = Timer_1ms(0), tens = Timer_10ms(0);
  EXPECT_NEAR(ms, 250u, 1u);
  // timer_10ms counts the ticks whose new timer_1ms is a multiple of ten.
  EXPECT_NEAR(tens, 25u, 1u);
  EXPECT_EQ(Timer_10ms(5), tens) << "only 1 resets";
}

TEST_F(Board, DelayIsCalibratedToTheClock) {
  sim::ns_t t0 = sim::now();
  delay_msec(100);
  EXPECT_NEAR((double)(sim::now() - t0) / sim::kMs, 100.0, 0.2);
}

TEST_F(Board, ProfileProbesLightOnlyForTheirTarget) {
  profile_on(3);
  EXPECT_EQ(ledRedState, 0u);
  profile_on(0);
  EXPECT_EQ(ledRedState, 1u);
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTP_BASE, GPIO_PIN_2));
  profileTarget = 3;
  profile_toggle(3);
  EXPECT_EQ(ledRedState, 0u);
  profile2_on(1);
  EXPECT_EQ(ledGreenState, 0u);
  profile2Target = 1;
  profile2_on(1);
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTE_BASE, GPIO_PIN_3));
}

// Lengths, in ticks, of the on and off stretches of a machine in PWM
// (the first, partial stretch left out).
void stretches(int (*machine)(int), pwmDriver &p, uint32_t permil, int *on, int *off) {
  pwm_init();
  p.permil = permil;
  machine(3);
  *on = *off = 0;
  uint32_t level = p.gpio;
  int run = 0, changes = 0;
  for (int i = 0; i < 5000 && changes < 4; i++) {
    machine(-1);
    run++;
    if (p.gpio != level) {
      if (changes > 0) (level ? *on : *off) = run;
      changes++;
      level = p.gpio;
      run = 0;
    }
  }
}

TEST_F(Board, PwmDutyExtremes) {
  IntMasterDisable();  // the machines are stepped by hand here
  int on, off;
  stretches(pwmPump_stateMachine, pwmPump, 0, &on, &off);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(off, 1001);
  stretches(pwmSoln_stateMachine, pwmSoln, 1000, &on, &off);
  EXPECT_EQ(on, 1001);
  EXPECT_EQ(off, 1);
  stretches(pwmPump_stateMachine, pwmPump, 500, &on, &off);
  EXPECT_EQ(on + off, 1002);
  IntMasterEnable();
}

TEST_F(Board, IdleSolenoidMachineUndoesAMainLineSwitchWithinATick) {
  pwr_so1n_on();
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTG_BASE, GPIO_PIN_1));
  board.run_for(0.0015);
  EXPECT_FALSE(sim::gpio_level(GPIO_PORTG_BASE, GPIO_PIN_3));
  EXPECT_EQ(pwmSoln.gpio, 0u);
  EXPECT_EQ(pwmSoln_stateMachine(-7), 0) << "a negative argument keeps the state";
}

TEST_F(Board, SleepNeverArmsAMatchInThePast) {
  config_sys_data_default_init();
  HibernateRTCSet(1700000000);
  uint32_t now = HibernateRTCGet();
  try {
    sleep(DEPLOYED, now);
    FAIL() << "sleep returned";
  } catch (const PowerDown &) {
  }
  EXPECT_EQ(HibernateRTCMatchGet(0), now + 2);
  EXPECT_EQ(sim::hib().wake, HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);
  EXPECT_EQ(sys_samp.state, DEPLOYED);
}

TEST_F(Board, PolledSleepArmsThePinOnly) {
  config_sys_data_default_init();
  try {
    sleep(DEPLOYED, 0);
  } catch (const PowerDown &) {
  }
  board.run_for(0.01);
  EXPECT_EQ(sim::hib().wake, HIBERNATE_WAKE_PIN) << board.out();
  EXPECT_NE(board.out().find("\r\n\r\nSleeping in polled mode..\r\n\r\n\r\n"), std::string::npos);
}

// Regression: a failing store used to return to the caller, which then
// sampled again at once (every 2.3 s while deployed, each time logged).
// Now it is retried, reported once per wake, and the logger hibernates
// with the wake it had planned.
TEST_F(Board, FailedStoreStillHibernatesWithThePlannedWake) {
  config_sys_data_default_init();
  sim::faults().eeprom_write_fail = true;
  const uint32_t wake = HibernateRTCGet() + 600;
  int returned = 0;
  for (int i = 0; i < 2; i++) {
    try {
      sleep(DEPLOYED, wake);
      returned++;
    } catch (const PowerDown &) {
    }
  }
  sim::faults().eeprom_write_fail = false;
  EXPECT_EQ(returned, 0);
  EXPECT_EQ(HibernateRTCMatchGet(0), wake);
  EXPECT_EQ(sim::hib().wake, HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);
  board.run_for(0.05);
  const std::string &out = board.out();
  size_t first = out.find("Error storing system data (sleep).\r\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(out.find("Error storing system data", first + 1), std::string::npos) << "once per wake";
}

TEST_F(Board, IgnoredHibernationRequestResetsTheChip) {
  config_sys_data_default_init();
  sim::faults().no_hibernate = true;
  bool reset = false;
  try {
    sleep(IDLE, 0);
  } catch (const PowerDown &p) {
    reset = p.reset;
  }
  EXPECT_TRUE(reset);
  board.run_for(0.05);
  EXPECT_NE(board.out().find("Hibernation error!  Possible cause: remove JP1 on Tavlo board"),
            std::string::npos);
  sim::faults().no_hibernate = false;
}

// The wake decoding, one status bit at a time, in its order of precedence.
// A start that is no wake ends a deployment only when the reset button
// caused it; any other restart resumes.
struct WakeCase {
  uint32_t status;
  uint32_t cause;
  int code;
  const char *message;
  bool ends_deployment;
};

class WakeCause : public Board, public ::testing::WithParamInterface<WakeCase> {};

TEST_P(WakeCause, DecodesStatusInOrder) {
  const WakeCase &w = GetParam();
  dbg_flag = 1;
  sys_samp.state = DEPLOYED;
  sim::hib().ris = w.status;
  sim::hib_set_was_active(true);
  sim::reset_cause_register() = w.cause;
  board.out().clear();
  EXPECT_EQ(sleep_handler(), w.code);
  board.run_for(0.5);
  EXPECT_NE(board.out().find(w.message), std::string::npos) << board.out();
  EXPECT_EQ(sys_samp.state, w.ends_deployment ? IDLE : DEPLOYED);
  EXPECT_EQ(sim::hib().ris, 0u) << "the status bits read are cleared";
}

INSTANTIATE_TEST_SUITE_P(
    Bits, WakeCause,
    ::testing::Values(WakeCase{0x09, SYSCTL_CAUSE_POR, 1, "Wake by pin", false},
                      WakeCase{0x01, SYSCTL_CAUSE_POR, 2, "Wake by RTC match", false},
                      WakeCase{0xC0, SYSCTL_CAUSE_POR, 0, "Wake by HIB INT VDDFAIL", false},
                      WakeCase{0x40, SYSCTL_CAUSE_EXT, 0, "Wake by HIB INT RESET WAKE", true},
                      WakeCase{0x20, SYSCTL_CAUSE_WDOG0, 0, "Wake by HIB INT GPIO WAKE", false},
                      WakeCase{0x10, SYSCTL_CAUSE_BOR, 0, "Wake by HIB INT WR COMPLETE", false},
                      WakeCase{0x04, SYSCTL_CAUSE_POR, 0, "Wake by HIB INT LOW BAT", false},
                      WakeCase{0x00, SYSCTL_CAUSE_EXT | SYSCTL_CAUSE_POR, 0, "Wake by Reset Button",
                               true}));

}  // namespace
