// Board-level services: power rails, LEDs, timing probes, the 1 ms tick
// and its counters, busy-wait delays, the RTC as calendar time.
#pragma once
#include <cstdint>
#include <ctime>

extern volatile uint32_t timer_1ms;
extern volatile uint32_t timer_10ms;
extern uint32_t ledRedState;
extern uint32_t ledGreenState;
extern int profileTarget;
extern int profile2Target;

void pwr_vbat_mon_on();
void pwr_vbat_mon_off();
void pwr_env_mon_on();
void pwr_env_mon_off();
void pressure_on();
void pressure_off();
void pwr_iso_on();
void pwr_iso_off();
void pwr_ctd_on();
void pwr_ctd_off();
void pwr_aux_pwr1_on();
void pwr_aux_pwr1_off();
void pwr_aux_pwr2_on();
void pwr_aux_pwr2_off();
void pwr_aux_pwr3_on();
void pwr_aux_pwr3_off();
void pump_on();
void pump_off();
void pwr_pump_on();
void pwr_pump_off();
void pwr_so1n_on();
void pwr_so1n_off();

void led_init();
void led_red_on();
void led_red_off();
void led_green_on();
void led_green_off();
void led_red(int on);
void led_green(int on);
void led_red_toggle();
void led_green_toggle();
void profile_on(int target);
void profile_off(int target);
void profile_toggle(int target);
void profile2_on(int target);
void profile2_off(int target);
void profile2_toggle(int target);

void console_on();
void console_off();

uint32_t Timer_1ms(int reset);
uint32_t Timer_10ms(int reset);
void ms_delay(unsigned msec);
void delay_msec(unsigned msec);
struct tm *get_RTC_time();

void SysTickHandler();
void NmiSR();
void FaultISR();
void IntDefaultHandler();
