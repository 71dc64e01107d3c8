// Heap-free text formatting and number parsing.
//
// The chip's C library pulls malloc into float printf and strtod, and the
// simulated board must print exactly what the chip prints, so both builds
// use these instead. Output matches glibc byte for byte, floats included
// (exact binary value, rounded half to even).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// C99 snprintf: returns the length the whole text would have, stores at
// most size-1 characters and a NUL, stores nothing when size is 0; -1 with
// errno EOVERFLOW when the length does not fit an int.
// Conversions d i u o x X c s p f F e E g G %, flags - + space 0 # and '
// (no grouping: C locale), width and precision (also *), lengths hh h l ll
// q z j t L (long double goes through double). Not supported: %a %A %n and
// %ls; such a directive is copied as written and its argument skipped.
int fmt_vsnprintf(char *buf, size_t size, const char *format, va_list ap)
    __attribute__((format(printf, 3, 0)));
int fmt_snprintf(char *buf, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// strtod/strtof as glibc: leading white space, sign, digits with an
// optional point and exponent, hexadecimal (0x...p...), "inf", "infinity",
// "nan" and "nan(chars)" in any case (NaN payloads are not kept). Correctly
// rounded half to even for any number of digits: the first 40 significant
// digits give the result directly; a longer text is then compared digit by
// digit with the halfway points around it. ERANGE when the result overflows
// to inf, or is tiny (after rounding) and inexact. *end (if end is not
// null) points after the text used, or to s when nothing converted.
double fmt_strtod(const char *s, char **end);
float fmt_strtof(const char *s, char **end);

// strtol/strtoul as the C library's (bases 0 and 2..36). An invalid base
// gives 0, EINVAL and *end = s.
long fmt_strtol(const char *s, char **end, int base);
unsigned long fmt_strtoul(const char *s, char **end, int base);

namespace fmt_detail {

// Bounded output: counts every character, stores those that fit.
struct Out {
  char *buf;
  size_t cap;  // 0 only counts
  size_t len;
  void put(char c) {
    if (len + 1 < cap) buf[len] = c;
    ++len;
  }
  void fill(char c, size_t n) {
    for (size_t i = 0; i < n; ++i) put(c);
  }
};

struct FloatConv {
  char conv;  // f F e E g G
  int prec;   // -1: default
  size_t width;
  bool left, plus, space, zero, alt;
};

// One floating conversion including its padding.
void put_double(Out &out, double v, const FloatConv &c);

}  // namespace fmt_detail
