// Shared by the fmt tests: formatting through both glibc and lib/fmt, and
// a seeded generator so that failures reproduce.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fmt.h"

namespace fmt_test {

// Same text and return value from glibc's vsnprintf and ours.
inline ::testing::AssertionResult same(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
inline ::testing::AssertionResult same(const char *format, ...) {
  static char ref[4096], got[4096];
  va_list a, b;
  va_start(a, format);
  va_copy(b, a);
  const int nr = vsnprintf(ref, sizeof ref, format, a);
  const int ng = fmt_vsnprintf(got, sizeof got, format, b);
  va_end(b);
  va_end(a);
  if (nr == ng && strcmp(ref, got) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << format << "\": glibc " << nr << " \"" << ref
                                       << "\", fmt " << ng << " \"" << got << "\"";
}

struct Rng {  // splitmix64
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return uint32_t(next() % n); }
};

inline double from_bits(uint64_t b) {
  double v;
  memcpy(&v, &b, sizeof v);
  return v;
}
inline uint64_t bits_of(double v) {
  uint64_t b;
  memcpy(&b, &v, sizeof b);
  return b;
}

}  // namespace fmt_test
