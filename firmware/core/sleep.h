// Hibernation: the only way to sleep, and the wake-cause decoding at start.
#pragma once
#include <cstdint>

constexpr int WAKE_OTHER = 0;
constexpr int WAKE_PIN = 1;
constexpr int WAKE_RTC = 2;

// The wake code; a start that is no wake (a reset, a power-on) while
// deployed resumes the deployment, logged with its cause, except the
// reset button, which ends it.
int sleep_handler();
// Stores the state and hibernates. Deployed (DEPLOYED, COMMAND), it returns
// when a console byte is waiting at the last moment, for the caller to
// serve; otherwise only through a reset when the hibernation module does
// not take the request. A configuration store that keeps failing is
// logged and does not keep the logger awake.
void sleep(int state, uint32_t wake_time);
