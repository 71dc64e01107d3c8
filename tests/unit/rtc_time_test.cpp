// Calendar conversions on the RTC count, at both ends of its range.
#include <gtest/gtest.h>

#include <cstring>

#include "core/rtc_time.h"
#include "test_time.h"

namespace {

std::string fmt(uint32_t t, const char *f = "%Y/%m/%d %H:%M:%S") {
  struct tm tm;
  rtc_to_tm(t, &tm);
  char buf[40];
  rtc_strftime(buf, sizeof buf, f, &tm);
  return buf;
}

uint32_t at(int y, int mo, int d, int h, int mi, int s) { return rtc_at(y, mo, d, h, mi, s); }

TEST(RtcTime, EpochAndEndOfTheCount) {
  EXPECT_EQ(fmt(0), "1970/01/01 00:00:00");
  EXPECT_EQ(fmt(UINT32_MAX), "2106/02/07 06:28:15");
  EXPECT_EQ(at(1970, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(at(2106, 2, 7, 6, 28, 15), UINT32_MAX);
  EXPECT_EQ(at(2106, 2, 7, 6, 28, 16), UINT32_MAX) << "clamped, not wrapped";
  EXPECT_EQ(at(1969, 12, 31, 23, 59, 59), 0u) << "clamped at the epoch";
}

// A 32-bit count from 1900 would have ended here; ours carries on.
TEST(RtcTime, PastTheOldEndOf2036) {
  uint32_t t = at(2036, 2, 7, 6, 28, 16);
  EXPECT_EQ(fmt(t), "2036/02/07 06:28:16");
  EXPECT_EQ(fmt(t + 86400 * 366), "2037/02/07 06:28:16");
}

TEST(RtcTime, LeapDaysAndRoundTrips) {
  EXPECT_EQ(fmt(at(2000, 2, 29, 12, 0, 0)), "2000/02/29 12:00:00");
  EXPECT_EQ(fmt(at(2100, 2, 29, 0, 0, 0)), "2100/03/01 00:00:00") << "2100 is not a leap year";
  for (uint32_t t = 0; t < UINT32_MAX - 7919 * 86400u; t += 7919 * 86400u + 3607) {
    struct tm tm;
    rtc_to_tm(t, &tm);
    ASSERT_EQ(tm_to_rtc(&tm), t);
  }
}

TEST(RtcTime, NormalisesLikeMktime) {
  struct tm t = {};
  t.tm_year = 121;
  t.tm_mon = 1;
  t.tm_mday = 30;  // 30 February 2021
  t.tm_hour = 10;
  tm_to_rtc(&t);
  EXPECT_EQ(t.tm_mon, 2);
  EXPECT_EQ(t.tm_mday, 2);
  t = {};
  t.tm_year = 121;
  t.tm_mon = 0;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 61;  // a leap second entry rolls into the next day
  tm_to_rtc(&t);
  EXPECT_EQ(t.tm_mon, 1);
  EXPECT_EQ(t.tm_mday, 1);
  EXPECT_EQ(t.tm_sec, 1);
}

TEST(RtcTime, ConsoleAndRecordFormats) {
  uint32_t t = at(2026, 12, 8, 9, 5, 3);
  EXPECT_EQ(fmt(t, CONSOLE_TIME_FORMAT), "12/08/26 09:05:03");
  EXPECT_EQ(fmt(t, RECORD_TIME_FORMAT), "12/08/2026 09:05:03");
  char small[6];
  struct tm tm;
  rtc_to_tm(t, &tm);
  EXPECT_EQ(rtc_strftime(small, sizeof small, "%m/%d/%y", &tm), 5u) << "whole fields only";
  EXPECT_STREQ(small, "12/08");
}

}  // namespace
