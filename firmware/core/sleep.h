// Hibernation: the only way to sleep, and the wake-cause decoding at start.
#pragma once
#include <cstdint>

constexpr int WAKE_OTHER = 0;
constexpr int WAKE_PIN = 1;
constexpr int WAKE_RTC = 2;

int sleep_handler();
void sleep(int state, uint32_t wake_time);
