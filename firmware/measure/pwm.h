// Software PWM of the pump and solenoid supplies, stepped by the 1 ms tick.
#pragma once
#include <cstdint>

struct pwmDriver {
  uint32_t state;
  uint32_t cnt;
  uint32_t gpio;
  uint32_t delta;
  uint32_t prevVal;
  uint32_t period;
  uint32_t permil;
};

extern pwmDriver pwmPump;
extern pwmDriver pwmSoln;

void pwm_init();
int pwmPump_stateMachine(int pwmState);
int pwmSoln_stateMachine(int pwmState);
