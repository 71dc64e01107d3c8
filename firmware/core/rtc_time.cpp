#include "core/rtc_time.h"

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}


void put2(char *p, int v) {
  p[0] = (char)('0' + (v / 10) % 10);
  p[1] = (char)('0' + v % 10);
}

}  // namespace

void rtc_to_tm(uint32_t seconds, struct tm *out) {
  int64_t days = seconds / 86400;
  int64_t rem = seconds % 86400;
  out->tm_hour = (int)(rem / 3600);
  out->tm_min = (int)(rem % 3600 / 60);
  out->tm_sec = (int)(rem % 60);
  out->tm_wday = (int)((days + 4) % 7);  // 1970-01-01 was a Thursday
  // Civil date from the day count.
  int64_t z = days + 719468;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  out->tm_year = (int)(y - 1900);
  out->tm_mon = (int)(m - 1);
  out->tm_mday = (int)d;
  out->tm_yday = (int)(days - days_from_civil(y, 1, 1));
  out->tm_isdst = 0;
}

uint32_t tm_to_rtc(struct tm *t) {
  // Normalise month into the year first, then let the day count absorb
  // days, hours, minutes and seconds out of range.
  int64_t year = 1900 + (int64_t)t->tm_year + t->tm_mon / 12;
  int64_t mon = t->tm_mon % 12;
  if (mon < 0) {
    mon += 12;
    year--;
  }
  int64_t days = days_from_civil(year, mon + 1, 1) + (t->tm_mday - 1);
  int64_t secs = days * 86400 + (int64_t)t->tm_hour * 3600 + (int64_t)t->tm_min * 60 + t->tm_sec;
  if (secs < 0) secs = 0;
  if (secs > (int64_t)UINT32_MAX) secs = UINT32_MAX;
  rtc_to_tm((uint32_t)secs, t);
  return (uint32_t)secs;
}

size_t rtc_strftime(char *buf, size_t size, const char *format, const struct tm *t) {
  if (size == 0) return 0;
  size_t n = 0;
  auto room = [&](size_t k) { return n + k < size; };
  for (const char *f = format; *f; f++) {
    char tmp[8];
    size_t k = 0;
    if (*f != '%') {
      tmp[k++] = *f;
    } else {
      switch (*++f) {
        case 'Y': {
          int y = 1900 + t->tm_year;
          tmp[k++] = (char)('0' + (y / 1000) % 10);
          tmp[k++] = (char)('0' + (y / 100) % 10);
          put2(tmp + k, y % 100);
          k += 2;
          break;
        }
        case 'y': put2(tmp, (1900 + t->tm_year) % 100); k = 2; break;
        case 'm': put2(tmp, t->tm_mon + 1); k = 2; break;
        case 'd': put2(tmp, t->tm_mday); k = 2; break;
        case 'H': put2(tmp, t->tm_hour); k = 2; break;
        case 'M': put2(tmp, t->tm_min); k = 2; break;
        case 'S': put2(tmp, t->tm_sec); k = 2; break;
        case '%': tmp[k++] = '%'; break;
        case 0: f--; break;
        default: tmp[k++] = '%'; tmp[k++] = *f; break;
      }
    }
    if (!room(k)) break;
    for (size_t i = 0; i < k; i++) buf[n++] = tmp[i];
  }
  buf[n] = 0;
  return n;
}
