// Hibernation: the only way to sleep, and the wake-cause decoding at start.
#pragma once
#include <cstdint>

constexpr int WAKE_OTHER = 0;
constexpr int WAKE_PIN = 1;
constexpr int WAKE_RTC = 2;

int sleep_handler();
// Stores the state and hibernates; returns only through a reset when the
// hibernation module does not take the request. A configuration store that
// keeps failing is logged and does not keep the logger awake.
void sleep(int state, uint32_t wake_time);
