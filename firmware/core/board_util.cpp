#include "core/board_util.h"

#include "core/board.h"
#include "core/energy.h"
#include "core/rtc_time.h"
#include "core/uartstdio.h"
#include "driverlib/gpio.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"
#include "measure/pwm.h"
#include "storage/diskio.h"

volatile uint32_t timer_1ms = 0;
volatile uint32_t timer_10ms = 0;
uint32_t ledRedState = 0;
uint32_t ledGreenState = 0;
int profileTarget = 0;
int profile2Target = 0;

namespace {

inline void high(uint32_t port, uint8_t pins) { GPIOPinWrite(port, pins, pins); }
inline void low(uint32_t port, uint8_t pins) { GPIOPinWrite(port, pins, 0); }

}  // namespace

void pwr_vbat_mon_on() {
  high(GPIO_PORTM_BASE, GPIO_PIN_6);
  rail_switched(RAIL_VBAT_MON, true);
}
void pwr_vbat_mon_off() {
  low(GPIO_PORTM_BASE, GPIO_PIN_6);
  rail_switched(RAIL_VBAT_MON, false);
}
void pwr_env_mon_on() {
  high(GPIO_PORTM_BASE, GPIO_PIN_7);
  rail_switched(RAIL_ENV_MON, true);
}
void pwr_env_mon_off() {
  low(GPIO_PORTM_BASE, GPIO_PIN_7);
  rail_switched(RAIL_ENV_MON, false);
}
void pressure_on() { high(GPIO_PORTM_BASE, GPIO_PIN_5); }
void pressure_off() { low(GPIO_PORTM_BASE, GPIO_PIN_5); }
void pwr_iso_on() {
  high(GPIO_PORTK_BASE, GPIO_PIN_2);
  rail_switched(RAIL_FRONT_END, true);
}
void pwr_iso_off() {
  low(GPIO_PORTK_BASE, GPIO_PIN_2);
  rail_switched(RAIL_FRONT_END, false);
}
void pwr_ctd_on() {
  high(GPIO_PORTD_BASE, GPIO_PIN_0);
  rail_switched(RAIL_CTD, true);
}
void pwr_ctd_off() {
  low(GPIO_PORTD_BASE, GPIO_PIN_0);
  rail_switched(RAIL_CTD, false);
}
void pwr_aux_pwr1_on() {
  high(GPIO_PORTD_BASE, GPIO_PIN_1);
  rail_switched(RAIL_PUMP, true);
}
void pwr_aux_pwr1_off() {
  low(GPIO_PORTD_BASE, GPIO_PIN_1);
  rail_switched(RAIL_PUMP, false);
}
void pwr_aux_pwr2_on() { high(GPIO_PORTD_BASE, GPIO_PIN_2); }
void pwr_aux_pwr2_off() { low(GPIO_PORTD_BASE, GPIO_PIN_2); }
void pwr_aux_pwr3_on() { high(GPIO_PORTD_BASE, GPIO_PIN_3); }
void pwr_aux_pwr3_off() { low(GPIO_PORTD_BASE, GPIO_PIN_3); }

void pump_on() {
  pwr_aux_pwr1_on();
  pwmPump.gpio = 1;
}
void pump_off() {
  pwr_aux_pwr1_off();
  pwmPump.gpio = 0;
}
void pwr_pump_on() { pump_on(); }
void pwr_pump_off() { pump_off(); }

void pwr_so1n_on() {
  high(GPIO_PORTG_BASE, GPIO_PIN_1 | GPIO_PIN_3);
  pwmSoln.gpio = 1;
}
void pwr_so1n_off() {
  low(GPIO_PORTG_BASE, GPIO_PIN_1 | GPIO_PIN_3);
  pwmSoln.gpio = 0;
}

void led_init() {
  ledRedState = 0;
  ledGreenState = 0;
  GPIOPinTypeGPIOOutput(GPIO_PORTE_BASE, GPIO_PIN_3);
  GPIOPinTypeGPIOOutput(GPIO_PORTP_BASE, GPIO_PIN_2);
  low(GPIO_PORTE_BASE, GPIO_PIN_3);
  low(GPIO_PORTP_BASE, GPIO_PIN_2);
}

void led_red_on() {
  high(GPIO_PORTP_BASE, GPIO_PIN_2);
  ledRedState = 1;
}
void led_red_off() {
  low(GPIO_PORTP_BASE, GPIO_PIN_2);
  ledRedState = 0;
}
void led_green_on() {
  high(GPIO_PORTE_BASE, GPIO_PIN_3);
  ledGreenState = 1;
}
void led_green_off() {
  low(GPIO_PORTE_BASE, GPIO_PIN_3);
  ledGreenState = 0;
}
void led_red(int on) { on ? led_red_on() : led_red_off(); }
void led_green(int on) { on ? led_green_on() : led_green_off(); }
void led_red_toggle() { ledRedState ? led_red_off() : led_red_on(); }
void led_green_toggle() { ledGreenState ? led_green_off() : led_green_on(); }

void profile_on(int target) {
  if (target == profileTarget) led_red_on();
}
void profile_off(int target) {
  if (target == profileTarget) led_red_off();
}
void profile_toggle(int target) {
  if (target == profileTarget) led_red_toggle();
}
void profile2_on(int target) {
  if (target == profile2Target) led_green_on();
}
void profile2_off(int target) {
  if (target == profile2Target) led_green_off();
}
void profile2_toggle(int target) {
  if (target == profile2Target) led_green_toggle();
}

// The two control lines of the console's line driver; the Tavlo board's
// second line has the opposite sense.
void console_on() {
  rail_switched(RAIL_CONSOLE, true);
  low(GPIO_PORTL_BASE, GPIO_PIN_0);
  if constexpr (kOmbrix) low(GPIO_PORTL_BASE, GPIO_PIN_1);
  else high(GPIO_PORTL_BASE, GPIO_PIN_1);
}

void console_off() {
  rail_switched(RAIL_CONSOLE, false);
  high(GPIO_PORTL_BASE, GPIO_PIN_0);
  if constexpr (kOmbrix) high(GPIO_PORTL_BASE, GPIO_PIN_1);
  else low(GPIO_PORTL_BASE, GPIO_PIN_1);
}

uint32_t Timer_1ms(int reset) {
  if (reset == 1) {
    timer_1ms = 0;
    return 0;
  }
  return timer_1ms;
}

uint32_t Timer_10ms(int reset) {
  if (reset == 1) {
    timer_10ms = 0;
    return 0;
  }
  return timer_10ms;
}

void ms_delay(unsigned msec) { SysCtlDelay(msec * kDelayLoopsPerMs); }
void delay_msec(unsigned msec) { SysCtlDelay(msec * kDelayLoopsPerMs); }

struct tm *get_RTC_time() {
  static struct tm now;
  rtc_to_tm(HibernateRTCGet(), &now);
  return &now;
}

void SysTickHandler() {
  awake_ms = awake_ms + 1;
  uint32_t t = timer_1ms + 1;
  timer_1ms = t;
  if (t % 10 == 0) {
    disk_timerproc();
    timer_10ms = timer_10ms + 1;
  }
  pwmSoln_stateMachine(-1);
  pwmPump_stateMachine(-1);
}

void NmiSR() {
  for (;;) {
  }
}

void FaultISR() {
  static const char msg[] =
      "\n\nBrenlo Crash!!!, entering FaultISR infinte loop.  Hit Reset and report problem\n\n";
  // No interrupt runs inside a fault: the ring would never drain.
  UARTwritePolled(reinterpret_cast<const unsigned char *>(msg), sizeof msg - 1);
  delay_msec(1000);
  for (;;) {
  }
}

void IntDefaultHandler() {
  for (;;) {
  }
}
