#include "measure/pwm.h"

#include "core/board_util.h"

pwmDriver pwmPump;
pwmDriver pwmSoln;

namespace {

constexpr uint32_t kPeriod = 1000;

// States 3 and 4: the off and on phases. Returns the state after the tick.
uint32_t pwm_phase(pwmDriver &p, void (*on)(), void (*off)()) {
  p.cnt++;
  if (p.state == 3) {
    if (p.cnt <= kPeriod - p.permil) return 3;
    p.state = 4;
    on();
  } else {
    if (p.cnt <= p.permil) return 4;
    p.state = 3;
    off();
  }
  p.cnt = 0;
  return p.state;
}

void init_one(pwmDriver &p) {
  p.state = 0;
  p.cnt = 0;
  p.gpio = 0;
  p.delta = 0;
  p.prevVal = 0;
  p.period = kPeriod;
  p.permil = 500;
}

}  // namespace

void pwm_init() {
  init_one(pwmPump);
  init_one(pwmSoln);
}

int pwmPump_stateMachine(int pwmState) {
  pwmDriver &p = pwmPump;
  if (pwmState >= 0) p.state = (uint32_t)pwmState;
  switch (p.state) {
    case 1:
      pump_off();
      p.cnt = 0;
      break;
    case 2:
      pwr_pump_on();
      p.cnt = 0;
      break;
    case 3:
    case 4:
      pwm_phase(p, pwr_pump_on, pump_off);
      break;
    default:
      break;  // idle
  }
  return (int)p.state;
}

int pwmSoln_stateMachine(int pwmState) {
  pwmDriver &p = pwmSoln;
  if (pwmState >= 0) p.state = (uint32_t)pwmState;
  switch (p.state) {
    case 2:
      pwr_so1n_on();
      p.cnt = 0;
      break;
    case 3:
    case 4:
      pwm_phase(p, pwr_so1n_on, pwr_so1n_off);
      break;
    default:
      // Idle and unknown states hold the solenoid off.
      pwr_so1n_off();
      p.cnt = 0;
      break;
  }
  return (int)p.state;
}
