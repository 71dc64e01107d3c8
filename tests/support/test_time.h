// RTC counts of calendar times, for tests that set the clock.
#pragma once
#include <cstdint>
#include <ctime>

#include "core/rtc_time.h"

inline uint32_t rtc_at(int year, int mon, int day, int hour, int min, int sec) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = mon - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_sec = sec;
  return tm_to_rtc(&t);
}
