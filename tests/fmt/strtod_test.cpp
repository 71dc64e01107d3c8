// fmt_strtod/fmt_strtof against glibc: round trips, random decimal text,
// syntax and the ERANGE cases.
#include <cerrno>
#include <cfloat>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "differential.h"

using fmt_test::bits_of;
using fmt_test::from_bits;
using fmt_test::Rng;

namespace {

uint32_t fbits(float f) {
  uint32_t b;
  memcpy(&b, &f, sizeof b);
  return b;
}

// Value bits (NaN: only NaN-ness and sign, glibc keeps payloads), end
// pointer and errno all agree with glibc, for both widths.
::testing::AssertionResult parses_same(const char *s) {
  char *e1, *e2;
  errno = 0;
  const double a = strtod(s, &e1);
  const int ea = errno;
  errno = 0;
  const double b = fmt_strtod(s, &e2);
  const int eb = errno;
  const bool nan_ok = std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  if ((bits_of(a) != bits_of(b) && !nan_ok) || e1 != e2 || ea != eb)
    return ::testing::AssertionFailure() << "strtod \"" << s << "\": glibc " << std::hexfloat << a
                                         << " end+" << (e1 - s) << " errno " << ea << ", fmt " << b
                                         << " end+" << (e2 - s) << " errno " << eb;
  errno = 0;
  const float fa = strtof(s, &e1);
  const int fea = errno;
  errno = 0;
  const float fb = fmt_strtof(s, &e2);
  const int feb = errno;
  const bool fnan_ok = std::isnan(fa) && std::isnan(fb) && std::signbit(fa) == std::signbit(fb);
  if ((fbits(fa) != fbits(fb) && !fnan_ok) || e1 != e2 || fea != feb)
    return ::testing::AssertionFailure() << "strtof \"" << s << "\": glibc " << std::hexfloat << fa
                                         << " errno " << fea << ", fmt " << fb << " errno " << feb;
  return ::testing::AssertionSuccess();
}

TEST(FmtStrtod, Syntax) {
  for (const char *s :
       {"", " ", "+", "-", ".", "-.", ".e1", "e5", "1", "-1", "+1.5", "  \t\n1.5x", "1.", ".5",
        "1.e5", ".5e-3", "1e", "1e+", "1e-x", "1E5", "1e+05", "00012.3400", "1..2",
        "1.2.3", "- 1", "inf", "INF", "-Inf", "infinity", "-INFINITY", "infinit", "infx", "in",
        "nan", "NaN", "-nan", "nan()", "nan(123)", "nan(abc_1)", "nan(", "nan(1", "nan(-)",
        "nanx", "0", "-0", "0e999999", "0.000", "1e0000000000000000000000000001",
        "1e-0000000000000000000000000001", "123456789e-99999999999999999999"})
    EXPECT_TRUE(parses_same(s));
}

TEST(FmtStrtod, RangeLimitsAndErange) {
  for (const char *s :
       {"1e309", "-1e309", "1.7976931348623157e308", "1.7976931348623158e308",
        "1.797693134862315807e308", "1.7976931348623159e308", "1e-400", "-1e-400", "2.4e-324",
        "2.4703282292062327e-324", "2.4703282292062328e-324", "2.5e-324", "4.9e-324",
        "4.9406564584124654e-324", "1e-310", "2.2250738585072014e-308",
        "2.2250738585072011e-308", "2.2250738585072012e-308", "2.2250738585072013e-308",
        "2.225073858507201136e-308", "3.4028235e38", "3.4028236e38", "3.40282357e38",
        "1.4e-45", "7e-46", "7.1e-46", "1.17549435e-38", "1.1754942e-38", "1.17549428e-38",
        "1e39", "1e-50", "99999999999999999999999999999999999999999e270"})
    EXPECT_TRUE(parses_same(s));
}

TEST(FmtStrtod, ShortestRoundTrip) {
  Rng rng{5};
  char text[64];
  for (int i = 0; i < 30000; ++i) {
    uint64_t b = rng.next();
    if (i % 3 == 1) b >>= rng.below(64);
    const double v = from_bits(b);
    if (std::isnan(v)) continue;
    snprintf(text, sizeof text, "%.17g", v);
    ASSERT_EQ(bits_of(fmt_strtod(text, nullptr)), b) << text;
    ASSERT_TRUE(parses_same(text));
    const float f = float(v);
    snprintf(text, sizeof text, "%.9g", double(f));
    ASSERT_EQ(fbits(fmt_strtof(text, nullptr)), fbits(f)) << text;
  }
}

TEST(FmtStrtod, RandomDecimalText) {
  // 1..40 digits, a point anywhere, exponents across and past both ranges.
  Rng rng{6};
  for (int i = 0; i < 40000; ++i) {
    std::string s = rng.below(2) != 0 ? "-" : "";
    const int nd = 1 + int(rng.below(40));
    const int point = int(rng.below(uint32_t(nd + 1)));
    for (int d = 0; d < nd; ++d) {
      if (d == point) s += '.';
      s += char('0' + (d == 0 ? 1 + rng.below(9) : rng.below(10)));
    }
    if (i % 8 != 0) {
      const int range = i % 2 == 0 ? 700 : 90;  // doubles, or floats' range
      s += "e" + std::to_string(int(rng.below(uint32_t(range))) - range / 2 - nd / 2);
    }
    ASSERT_TRUE(parses_same(s.c_str()));
  }
}

TEST(FmtStrtod, HalfwayPoints) {
  // Exact midpoints between neighbours (printed in full from long double,
  // up to ~770 digits), a hair above them, cut below them, and the same at
  // 40 digits.
  Rng rng{7};
  char text[1300];
  for (int i = 0; i < 2000; ++i) {
    uint64_t b = rng.next() & 0x7fefffffffffffffull;
    if (i % 4 == 0) b >>= 12 + rng.below(52);
    const double lo = from_bits(b);
    const long double mid = (static_cast<long double>(lo) + std::nextafter(lo, HUGE_VAL)) / 2;
    ASSERT_LT(snprintf(text, sizeof text, "%.1100Le", mid), int(sizeof text));
    std::string exact = text;
    const size_t e = exact.find('e');
    size_t last = e - 1;  // drop the trailing zeros of the expansion
    while (exact[last] == '0') --last;
    exact.erase(last + 1, e - last - 1);
    ASSERT_TRUE(parses_same(exact.c_str()));
    std::string above = exact;
    above.insert(above.find('e'), "000001");
    ASSERT_TRUE(parses_same(above.c_str()));
    const size_t cut = std::min<size_t>(exact.find('e') - 1, 2 + rng.below(60));
    ASSERT_TRUE(parses_same((exact.substr(0, cut) + exact.substr(exact.find('e'))).c_str()));
    snprintf(text, sizeof text, "%.39Le", mid);  // 40 digits
    ASSERT_TRUE(parses_same(text));
  }
}

TEST(FmtStrtod, HexadecimalLikeGlibc) {
  for (const char *s : {"0x10", "0X1p4", "-0x1.8p1", "0x.8", "0x1.fffffffffffffp1023",
                        "0x1.fffffffffffff8p1023", "0x1p-1074", "0x1p-1075", "0x1.1p-1075",
                        "0x1p-1080", "0x3p-1076", "0x123456789abcdef0123p0", "0x1.000001p0",
                        "0x1.0000008p0", "0x1.00000081p0", "0x", "0x.", "0xp1", "0x1p", "0x1p+",
                        "0x0", "0x0.0p5", "0xffffffffffffffffffffp-80", "0x1p99999999999"})
    EXPECT_TRUE(parses_same(s));
}

TEST(FmtStrtod, LongTextIsExact) {
  EXPECT_TRUE(parses_same("1.00000000000000000000000000000000000000000000000000001"));
  EXPECT_TRUE(parses_same("123456789012345678901234567890123456789012345678901234567890"));
  EXPECT_TRUE(parses_same(("0." + std::string(400, '0') + "123").c_str()));
  EXPECT_TRUE(parses_same((std::string(400, '9') + "e-100").c_str()));
  EXPECT_TRUE(parses_same(("1" + std::string(5000, '0') + "1e-5000").c_str()));
  // 1 + 3*2^-53: a tie that rounds up to even, told apart from its first
  // 40 digits only by the 55th.
  EXPECT_TRUE(parses_same("1.000000000000000333066907387546962127089500427246093750"));
  EXPECT_TRUE(parses_same("1.000000000000000333066907387546962127089500427246093749999"));
}

}  // namespace
