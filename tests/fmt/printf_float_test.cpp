// %f %e %g against glibc, which prints the exact binary value rounded half
// to even: specials, ties, powers of ten, and seeded random doubles.
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "differential.h"

using fmt_test::bits_of;
using fmt_test::from_bits;
using fmt_test::Rng;
using fmt_test::same;

namespace {

const char kConvs[] = "feEgGF";

std::string format(const char *flags, const char *width, int prec, char conv) {
  std::string f = std::string("[%") + flags + width;
  if (prec >= 0) f += "." + std::to_string(prec);
  return f + conv + "]";
}

const double kSpecial[] = {
    0.0, 1.0, 0.5, 0.125, 0.375, 2.5, 3.5, 9.5, 0.05, 0.15, 0.25, 1e23, 5e-324, 1e-323,
    DBL_MAX, DBL_MIN, DBL_MIN - 5e-324, DBL_EPSILON, 1e308, 1e-308, 1e15, 1e16, 1e17,
    123456789012345678.0, 0.1, 0.2, 0.3, 2.0 / 3.0, 9.9999996, 99999.95, 999999.5, 9.5e-5,
    0.0001, 0.00001, 1e-5, 123456.0, 1234567.0, 7.1234, 8.0652, 1013.25, 35.0, 4294967296.0,
    18446744073709551616.0, 9007199254740993.0, 0.9999999999999999, 9.999999999999999e22,
    std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};

TEST(FmtFloat, SpecialValuesEveryPrecision) {
  std::vector<int> precs = {-1};
  for (int p = 0; p <= 17; ++p) precs.push_back(p);
  for (int p : {20, 25, 40, 60}) precs.push_back(p);
  for (const double v : kSpecial)
    for (const double sv : {v, -v})
      for (const char conv : std::string(kConvs))
        for (const int prec : precs) ASSERT_TRUE(same(format("", "", prec, conv).c_str(), sv));
}

TEST(FmtFloat, SpecialValuesEveryFlagAndWidth) {
  const char *const flags[] = {"", "-", "+", " ", "0", "#", "+0", "-#", " #0", "-+"};
  const char *const widths[] = {"", "1", "12", "30"};
  for (const double v : kSpecial)
    for (const double sv : {v, -v})
      for (const char conv : std::string(kConvs))
        for (const int prec : {-1, 0, 3, 17})
          for (const char *fl : flags)
            for (const char *w : widths) ASSERT_TRUE(same(format(fl, w, prec, conv).c_str(), sv));
}

TEST(FmtFloat, NegativeNanAndUppercase) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const char *f : {"%f", "%F", "%e", "%E", "%g", "%G", "%+f", "% e", "%08g", "%-8G|"}) {
    EXPECT_TRUE(same(f, nan));
    EXPECT_TRUE(same(f, -nan));
    EXPECT_TRUE(same(f, std::copysign(HUGE_VAL, -1.0)));
  }
}

TEST(FmtFloat, TiesRoundHalfToEven) {
  // Dyadic values a/2^j have short exact expansions, so most precisions hit
  // an exact tie somewhere.
  Rng rng{1};
  for (int i = 0; i < 20000; ++i) {
    const double v = std::ldexp(double(rng.below(1u << 20)), -int(rng.below(12)));
    const int prec = int(rng.below(12));
    ASSERT_TRUE(same(format("", "", prec, "feg"[i % 3]).c_str(), v));
  }
  EXPECT_TRUE(same("%.2f", 0.125));
  EXPECT_TRUE(same("%.0f", 2.5));
  EXPECT_TRUE(same("%.0f", 0.5));
  EXPECT_TRUE(same("%.0f", 1.5));
  EXPECT_TRUE(same("%.0e", 25.0));
  EXPECT_TRUE(same("%.1g", 0.25));
}

TEST(FmtFloat, AroundPowersOfTen) {
  // The decimal exponent estimate and carries into a new leading digit.
  for (int k = -323; k <= 308; ++k) {
    const double p = std::pow(10.0, k);
    for (const double v : {std::nextafter(p, 0.0), p, std::nextafter(p, HUGE_VAL)})
      for (const char *f : {"%.17e", "%.0e", "%.3e", "%.16g", "%g", "%.1g", "%.2f", "%.0f"})
        ASSERT_TRUE(same(f, v));
  }
}

TEST(FmtFloat, EveryBinaryExponent) {
  // Powers of two and the largest value below each: every exponent once.
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    for (const double v : {p, std::nextafter(p, 0.0)})
      for (const char *f : {"%.17e", "%.25e", "%.6g"}) ASSERT_TRUE(same(f, v));
  }
}

TEST(FmtFloat, FullExpansions) {
  // Long outputs: every digit of the huge and tiny ends, and the zeros glibc
  // appends past the exact expansion.
  for (const double v : {DBL_MAX, 1e308, 5e-324, DBL_MIN, std::nextafter(DBL_MIN, 0.0), 0.1})
    for (const char *f : {"%f", "%.1074f", "%.767e", "%.800e", "%.800g", "%#.800g", "%.1100f"})
      EXPECT_TRUE(same(f, v));
}

TEST(FmtFloat, RandomBitPatterns) {
  Rng rng{2};
  const char *const flags[] = {"", "+", "-", "#", "0", " "};
  const char *const widths[] = {"", "8", "24"};
  for (int i = 0; i < 40000; ++i) {
    uint64_t b = rng.next();
    if (i % 4 == 1) b >>= rng.below(64);                                    // subnormals, tiny
    if (i % 4 == 2) b = (b & 0x800fffffffffffffull) | (uint64_t(1023 - 30 + rng.below(60)) << 52);
    const double v = from_bits(b);
    int prec = int(rng.below(19)) - 1;
    if (i % 50 == 0) prec = int(20 + rng.below(45));
    const std::string f = format(flags[rng.below(6)], widths[rng.below(3)], prec,
                                 kConvs[rng.below(6)]);
    ASSERT_TRUE(same(f.c_str(), v)) << std::hexfloat << v;
  }
}

TEST(FmtFloat, RandomFloats) {
  // Single-precision values as a float field would be printed.
  Rng rng{3};
  for (int i = 0; i < 20000; ++i) {
    const uint32_t b = uint32_t(rng.next());
    float f;
    memcpy(&f, &b, sizeof f);
    const double v = f;
    ASSERT_TRUE(same("%.9g", v));
    ASSERT_TRUE(same(format("", "", int(rng.below(10)), "feg"[i % 3]).c_str(), v));
  }
}

TEST(FmtFloat, RecordLineFields) {
  // Ordinary logger values: fixed precisions on a few significant digits.
  Rng rng{4};
  for (int i = 0; i < 20000; ++i) {
    const double v = (double(rng.below(2000000000)) - 1e9) / std::pow(10.0, rng.below(9));
    ASSERT_TRUE(same("%.4f;%.6f;%9.3f;%-10.2e;%g", v, v, v, v, v));
  }
}

TEST(FmtFloat, LongDoubleGoesThroughDouble) {
  EXPECT_TRUE(same("%Lf %Le %Lg", 1.5L, -2.25L, 1e100L));
}

TEST(FmtFloat, WidthAroundTheLength) {
  // The length is worked out before the digits; a width one short, exact
  // and one over shows any miscount.
  Rng rng{8};
  const char *const flags[] = {"", "0", "-", "+", "#", "+0", "#0"};
  for (int i = 0; i < 20000; ++i) {
    uint64_t b = rng.next();
    if (i % 2 == 1) b = (b & 0x800fffffffffffffull) | (uint64_t(1023 - 20 + rng.below(40)) << 52);
    const double v = from_bits(b);
    const int prec = int(rng.below(19)) - 1;
    const char *fl = flags[rng.below(7)];
    const char conv = kConvs[rng.below(6)];
    const int len = snprintf(nullptr, 0, format(fl, "", prec, conv).c_str(), v) - 2;  // less []
    for (const int w : {len - 1, len, len + 1}) {
      const std::string f = format(fl, std::to_string(w).c_str(), prec, conv);
      ASSERT_TRUE(same(f.c_str(), v));
    }
  }
}

}  // namespace
