// Calendar time on the RTC's seconds count. The count starts at
// 1970-01-01 00:00:00 with no zone shift, so an unsigned 32-bit count
// lasts until 2106-02-07 06:28:15. Identical on the chip and the host.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

// Broken-down time of an RTC count (tm_year from 1900, tm_mon 0-11).
void rtc_to_tm(uint32_t seconds, struct tm *out);
// RTC count of a broken-down time, normalising out-of-range fields the
// way mktime does (30 February is 2 March). Times before the epoch give 0
// and times past the end of the count give UINT32_MAX.
uint32_t tm_to_rtc(struct tm *t);
// Formats with the conversions %Y %y %m %d %H %M %S and %%; other
// characters are copied. Returns the length written (always terminated).
size_t rtc_strftime(char *buf, size_t size, const char *format, const struct tm *t);

// The formats the logger prints times in.
constexpr const char *CONSOLE_TIME_FORMAT = "%m/%d/%y %H:%M:%S";
constexpr const char *RECORD_TIME_FORMAT = "%m/%d/%Y %H:%M:%S";
