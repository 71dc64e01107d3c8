// %f %e %g against glibc, which prints the exact binary value rounded half
// to even: chosen values on a full grid, every exponent, long expansions and
// seeded random doubles.
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "differential.h"

using fmt_test::from_bits;
using fmt_test::Rng;
using fmt_test::same;

namespace {

const char kConvs[] = "feEgGF";

std::string format(const char *flags, const std::string &width, int prec, char conv) {
  return std::string("[%") + flags + width + (prec >= 0 ? "." + std::to_string(prec) : "") + conv +
         "]";
}

TEST(FmtFloat, ChosenValuesOnTheWholeGrid) {
  // Ties (0.125 at %.2f, 2.5 at %.0f), carries into a new digit (9.5,
  // 999999.5, 0.99999...), both ends of the range, nan and inf.
  const double values[] = {
      0.0, 1.0, 0.5, 0.125, 0.375, 2.5, 3.5, 9.5, 0.05, 0.15, 1e23, 5e-324, DBL_MAX, DBL_MIN,
      DBL_MIN - 5e-324, DBL_EPSILON, 1e308, 1e15, 1e17, 0.1, 2.0 / 3.0, 9.9999996, 99999.95,
      999999.5, 9.5e-5, 1e-5, 123456.0, 7.1234, 1013.25, 9007199254740993.0, 0.9999999999999999,
      9.999999999999999e22, std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN()};
  for (const double v : values)
    for (const double sv : {v, -v})
      for (const char conv : std::string(kConvs)) {
        for (int prec = -1; prec <= 60; prec += prec < 17 ? 1 : 7)
          ASSERT_TRUE(same(format("", "", prec, conv).c_str(), sv));
        for (const int prec : {-1, 0, 3, 17})
          for (const char *fl : {"", "-", "+", " ", "0", "#", "+0", "-#", " #0"})
            for (const char *w : {"", "1", "12", "30"})
              ASSERT_TRUE(same(format(fl, w, prec, conv).c_str(), sv));
      }
  EXPECT_TRUE(same("%Lf %Le %Lg", 1.5L, -2.25L, 1e100L));  // through double
}

TEST(FmtFloat, DyadicTies) {
  // a/2^j has a short exact expansion, so most precisions meet a tie.
  Rng rng{1};
  for (int i = 0; i < 20000; ++i) {
    const double v = std::ldexp(double(rng.below(1u << 20)), -int(rng.below(12)));
    ASSERT_TRUE(same(format("", "", int(rng.below(12)), "feg"[i % 3]).c_str(), v));
  }
}

TEST(FmtFloat, EveryExponent) {
  // The decimal exponent estimate at each power of ten and of two, and the
  // values either side.
  for (int k = -323; k <= 308; ++k) {
    const double p = std::pow(10.0, k);
    for (const double v : {std::nextafter(p, 0.0), p, std::nextafter(p, HUGE_VAL)})
      for (const char *f : {"%.17e", "%.0e", "%.3e", "%.16g", "%g", "%.1g", "%.2f", "%.0f"})
        ASSERT_TRUE(same(f, v));
  }
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    for (const double v : {p, std::nextafter(p, 0.0)})
      for (const char *f : {"%.17e", "%.25e", "%.6g"}) ASSERT_TRUE(same(f, v));
  }
}

TEST(FmtFloat, FullExpansions) {
  // Every digit of the huge and tiny ends, then the zeros glibc appends.
  for (const double v : {DBL_MAX, 1e308, 5e-324, DBL_MIN, std::nextafter(DBL_MIN, 0.0), 0.1})
    for (const char *f : {"%f", "%.1074f", "%.767e", "%.800e", "%.800g", "%#.800g", "%.1100f"})
      EXPECT_TRUE(same(f, v));
}

TEST(FmtFloat, RandomDoublesAndFloats) {
  // Random bit patterns, shifted ones (subnormals), ordinary magnitudes and
  // floats; widths one short of, equal to and past the length check that it
  // is worked out right before the digits.
  Rng rng{2};
  const char *const flags[] = {"", "+", "-", "#", "0", " ", "+0", "#0"};
  for (int i = 0; i < 40000; ++i) {
    uint64_t b = rng.next();
    if (i % 4 == 1) b >>= rng.below(64);
    if (i % 4 == 2) b = (b & 0x800fffffffffffffull) | (uint64_t(1023 - 30 + rng.below(60)) << 52);
    double v = from_bits(b);
    if (i % 4 == 3) {
      float f;
      const uint32_t fb = uint32_t(b);
      memcpy(&f, &fb, sizeof f);
      v = f;
    }
    const int prec = i % 50 == 0 ? int(20 + rng.below(45)) : int(rng.below(19)) - 1;
    const char *fl = flags[rng.below(8)];
    const char conv = kConvs[rng.below(6)];
    const int len = snprintf(nullptr, 0, format(fl, "", prec, conv).c_str(), v) - 2;
    for (const int w : {0, len - 1, len, len + 1})
      ASSERT_TRUE(same(format(fl, w > 0 ? std::to_string(w) : "", prec, conv).c_str(), v));
  }
}

TEST(FmtFloat, RecordLineFields) {
  // What the logger writes: fixed precisions of a few significant digits.
  Rng rng{4};
  for (int i = 0; i < 20000; ++i) {
    const double v = (double(rng.below(2000000000)) - 1e9) / std::pow(10.0, rng.below(9));
    ASSERT_TRUE(same("%.4f;%.6f;%9.3f;%-10.2e;%g", v, v, v, v, v));
  }
}

}  // namespace
