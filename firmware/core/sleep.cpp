#include "core/sleep.h"

#include "config/error_log.h"
#include "config/i2c_fram.h"
#include "config/system.h"
#include "core/board_util.h"
#include "core/energy.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "fmt.h"

namespace {

constexpr int kStoreTries = 3;
constexpr unsigned kStoreRetryMs = 10;

bool store_failure_logged;  // RAM starts afresh at every wake

// Stores the configuration and the sampling state, a few times if the
// EEPROM refuses; a failure is reported once per wake at most.
void store_before_sleep() {
  for (int i = 0; i < kStoreTries; i++) {
    if (storeSysDataVariables() == 0) return;
    delay_msec(kStoreRetryMs);
  }
  if (store_failure_logged) return;
  store_failure_logged = true;
  uprintf("Error storing system data (sleep).\n");
  wait_consoleTx();
  error_store("Error storing system data (sleep).");
}

const char *cause_name(uint32_t cause) {
  if (cause & SYSCTL_CAUSE_WDOG0) return "watchdog";
  if (cause & SYSCTL_CAUSE_BOR) return "brown-out";
  if (cause & SYSCTL_CAUSE_POR) return "power-on";
  return "unknown cause";
}

// A deployed logger that restarts for any reason but the reset button
// keeps its deployment: a supply glitch, a brown-out or the watchdog must
// not end months of logging. The reset button is the operator's way out.
void restart_while_deployed(uint32_t cause, bool module_ran) {
  if (sys_samp.state != DEPLOYED && sys_samp.state != COMMAND) return;
  if (cause & SYSCTL_CAUSE_EXT) {
    sys_samp.state = IDLE;
    storeSysSampFRAMVariables();
    error_store("Reset button while deployed, deployment ended");
    return;
  }
  // A software reset comes from the hibernation failure path, which has
  // logged its own entry already; a second one for each would double them.
  if (cause == SYSCTL_CAUSE_SW) return;
  char text[80];
  fmt_snprintf(text, sizeof text, "%s while deployed (%s), deployment resumed",
               module_ran ? "Restart" : "Cold start", cause_name(cause));
  error_store(text);
}

}  // namespace

int sleep_handler() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_HIBERNATE);
  HibernateEnableExpClk(SysCtlClockGet());

  uint32_t status = 0;
  int code = WAKE_OTHER;
  if (HibernateIsActive()) {
    status = HibernateIntStatus(false);
    HibernateIntClear(status);
    if (status & HIBERNATE_INT_PIN_WAKE) {
      code = WAKE_PIN;
      dbg_printf("\nWake by pin\n");
    } else if (status & HIBERNATE_INT_RTC_MATCH_0) {
      code = WAKE_RTC;
      dbg_printf("\nWake by RTC match\n");
    } else {
      if (status & HIBERNATE_INT_VDDFAIL) dbg_printf("\nWake by HIB INT VDDFAIL\n");
      else if (status & HIBERNATE_INT_RESET_WAKE) dbg_printf("\nWake by HIB INT RESET WAKE\n");
      else if (status & HIBERNATE_INT_GPIO_WAKE) dbg_printf("\nWake by HIB INT GPIO WAKE\n");
      else if (status & HIBERNATE_INT_WR_COMPLETE) dbg_printf("\nWake by HIB INT WR COMPLETE\n");
      else if (status & HIBERNATE_INT_LOW_BAT) dbg_printf("\nWake by HIB INT LOW BAT\n");
      else dbg_printf("\nWake by Reset Button\n");
    }
    HibernateGPIORetentionDisable();
  }

  if (!(status & (HIBERNATE_INT_PIN_WAKE | HIBERNATE_INT_RTC_MATCH_0))) {
    dbg_printf("\n(HIBERNATE_INT_PIN_WAKE | HIBERNATE_INT_RTC_MATCH_0) in sleep.c\n");
    HibernateClockConfig(HIBERNATE_OSC_LOWDRIVE);
    HibernateRTCTrimSet(0x7FFF);
    HibernateIntDisable(HIBERNATE_INT_RTC_MATCH_0 | HIBERNATE_INT_LOW_BAT |
                        HIBERNATE_INT_PIN_WAKE | HIBERNATE_INT_WR_COMPLETE);
    delay_msec(200);
    HibernateRTCEnable();
    dbg_printf("\nPower On Reset\n");
  }

  // Every wake from hibernation is a power-on for the processor; only an
  // unexplained start asks why. The causes are cleared so that the next
  // start sees its own.
  uint32_t cause = SysCtlResetCauseGet();
  SysCtlResetCauseClear(cause);
  if (code == WAKE_OTHER) restart_while_deployed(cause, HibernateIsActive() != 0);
  return code;
}

void sleep(int state, uint32_t wake_time) {
  sys_samp.state = state;
  if (state == DEPLOYED) {
    if (wake_time == 0) {
      HibernateWakeSet(HIBERNATE_WAKE_PIN);
      uprintf("\n\nSleeping in polled mode..\n\n\n");
    } else {
      uint32_t now = HibernateRTCGet();
      if (wake_time <= now + 2) wake_time = now + 2;
      HibernateRTCMatchSet(0, wake_time);
      HibernateWakeSet(HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);
      if (sys_data.test_mode == 1 || sys_data.output == VERBOSE) {
        uprintf("\n\nSleeping until ");
        print_time_t_Time(wake_time);
      }
    }
  } else {
    HibernateWakeSet(HIBERNATE_WAKE_PIN);
    if (state == IDLE) uprintf("\n\nSleeping...*");
    if (sys_data.output == VERBOSE) uprintf("hit any key to wake\n\n\n");
    delay_msec(25);
  }
  UARTFlushTx(false);

  // A failed store still hibernates with the wake planned: the schedule
  // lives in the FRAM, and staying awake would only sample back to back
  // and drain the battery.
  store_before_sleep();

  // A key that came while the logger was awake is answered, not lost: the
  // caller serves it as a console wake. The last look is taken right
  // before the request, so only a byte inside its few microseconds can
  // reach the wake pin instead.
  bool deployed = state == DEPLOYED || state == COMMAND;
  if (deployed && UARTRxBytesAvail()) return;
  console_off();
  HibernateIntClear(HibernateIntStatus(false));
  HibernateRTCTrimSet(0x7FFF);
  if (deployed && UARTRxBytesAvail()) {
    console_on();
    return;
  }
  energy_before_hibernation();
  HibernateRequest();
  delay_msec(100);

  // Still running: the module did not take the request.
  console_on();
  uprintf("\n\n\nHibernation error!  Possible cause: remove JP1 on Tavlo board \n\n\n");
  error_store("Hibernation error.  Possible cause: remove JP1 on Tavlo board.  \n");
  uprintf("\n\n\nCalling SysCtrlReset...\n\n\n");
  delay_msec(100);
  SysCtlReset();
}
