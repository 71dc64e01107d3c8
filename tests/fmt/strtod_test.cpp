// fmt_strtod/fmt_strtof against glibc: value bits, end pointer and errno
// for syntax, range edges, round trips, random text and halfway points.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "differential.h"

using fmt_test::bits_of;
using fmt_test::from_bits;
using fmt_test::Rng;

namespace {

// Both widths agree with glibc; of a NaN only NaN-ness and sign count
// (glibc keeps payloads).
template <typename T>
::testing::AssertionResult agrees(const char *s, T (*ref)(const char *, char **),
                                  T (*ours)(const char *, char **)) {
  char *e1, *e2;
  errno = 0;
  const T a = ref(s, &e1);
  const int ea = errno;
  errno = 0;
  const T b = ours(s, &e2);
  const int eb = errno;
  const bool same_value = memcmp(&a, &b, sizeof a) == 0 ||
                          (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b));
  if (same_value && e1 == e2 && ea == eb) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << sizeof(T) * 8 << "-bit \"" << s << "\": glibc "
                                       << std::hexfloat << a << " end+" << (e1 - s) << " errno "
                                       << ea << ", fmt " << b << " end+" << (e2 - s) << " errno "
                                       << eb;
}
::testing::AssertionResult parses_same(const char *s) {
  const auto r = agrees<double>(s, strtod, fmt_strtod);
  return r ? agrees<float>(s, strtof, fmt_strtof) : r;
}

TEST(FmtStrtod, SyntaxAndRangeEdges) {
  for (const char *s :
       {"", " ", "+", "-", ".", "-.", ".e1", "e5", "-1", "+1.5", "  \t\n1.5x", "1.", ".5", "1.e5",
        "1e", "1e+", "1e-x", "1E+05", "00012.3400", "1..2", "1.2.3", "- 1", "inf", "-Inf",
        "-INFINITY", "infinit", "in", "nan", "-nan", "nan()", "nan(abc_1)", "nan(", "nan(-)", "-0",
        "0e999999", "1e0000000000000000000000000001", "123456789e-99999999999999999999",
        // hexadecimal
        "0x10", "-0x1.8p1", "0x.8", "0x1.fffffffffffff8p1023", "0x1p-1075", "0x1.1p-1075",
        "0x3p-1076", "0x123456789abcdef0123p0", "0x1.00000081p0", "0x1.000000000000081p0", "0x", "0x.", "0xp1", "0x1p+",
        "0xffffffffffffffffffffp-80", "0x1p99999999999",
        // overflow, DBL_MAX's rounding edge, underflow and the tininess edge at DBL_MIN
        "1e309", "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
        "1e-400", "2.4703282292062327e-324", "2.4703282292062328e-324", "4.9e-324", "1e-310",
        "2.2250738585072011e-308", "2.2250738585072013e-308", "2.225073858507201136e-308",
        // the same for floats
        "3.4028235e38", "3.40282357e38", "3.4028236e38", "7e-46", "7.1e-46", "1.1754942e-38",
        "1.17549428e-38", "99999999999999999999999999999999999999999e270"})
    EXPECT_TRUE(parses_same(s));
}

TEST(FmtStrtod, RoundTripsAndRandomText) {
  Rng rng{5};
  char text[64];
  for (int i = 0; i < 30000; ++i) {
    uint64_t b = rng.next();
    if (i % 3 == 1) b >>= rng.below(64);
    if (std::isnan(from_bits(b))) continue;
    snprintf(text, sizeof text, "%.17g", from_bits(b));
    ASSERT_EQ(bits_of(fmt_strtod(text, nullptr)), b) << text;
    float f;
    const uint32_t fb = uint32_t(b);
    memcpy(&f, &fb, sizeof f);
    snprintf(text, sizeof text, "%.9g", double(f));
    ASSERT_TRUE(parses_same(text));
  }
  // 1..40 digits, a point anywhere, exponents across and past both ranges.
  for (int i = 0; i < 40000; ++i) {
    std::string s = rng.below(2) != 0 ? "-" : "";
    const int nd = 1 + int(rng.below(40));
    const int point = int(rng.below(uint32_t(nd + 1)));
    for (int d = 0; d < nd; ++d) s += (d == point ? "." : "") + std::to_string(rng.below(10));
    const int range = i % 2 == 0 ? 700 : 90;  // doubles, or floats
    if (i % 8 != 0) s += "e" + std::to_string(int(rng.below(uint32_t(range))) - range / 2 - nd / 2);
    ASSERT_TRUE(parses_same(s.c_str()));
  }
}

TEST(FmtStrtod, HalfwayPointsAndLongText) {
  // Exact midpoints between neighbours (long double prints them in full, up
  // to ~770 digits), a hair above, cut below, and rounded to 40 digits.
  Rng rng{7};
  char text[1300];
  const auto around = [&](long double mid) {
    ASSERT_LT(snprintf(text, sizeof text, "%.1100Le", mid), int(sizeof text));
    std::string exact = text;
    size_t e = exact.find('e'), last = e - 1;
    while (exact[last] == '0') --last;
    exact.erase(last + 1, e - last - 1);
    e = exact.find('e');
    const size_t cut = std::min<size_t>(e - 1, 2 + rng.below(60));
    for (const std::string &s : {exact, exact.substr(0, e) + "000001" + exact.substr(e),
                                 exact.substr(0, cut) + exact.substr(e)})
      ASSERT_TRUE(parses_same(s.c_str()));
    snprintf(text, sizeof text, "%.39Le", mid);
    ASSERT_TRUE(parses_same(text));
  };
  const auto mid_above = [](double lo) {
    return (static_cast<long double>(lo) + std::nextafter(lo, HUGE_VAL)) / 2;
  };
  for (int i = 0; i < 2000; ++i) {
    uint64_t b = rng.next() & 0x7fefffffffffffffull;
    if (i % 4 == 0) b >>= 12 + rng.below(52);
    around(mid_above(from_bits(b)));
  }
  // Binade and subnormal boundaries, overflow, and where DBL_MIN stops
  // being tiny (halfway below it at full precision).
  for (const long double mid :
       {mid_above(std::nextafter(1.0, 0.0)), mid_above(std::nextafter(DBL_MIN, 0.0)),
        std::ldexp(0x3fffffffffffffp0L, 970), std::ldexp(1.0L, -1022) - std::ldexp(1.0L, -1076),
        std::ldexp(1.0L, -1075)})
    for (int i = 0; i < 20; ++i) around(mid);
  // 1 + 3*2^-53, a tie that rounds up to even, and just below it: told
  // apart from their first 40 digits only by the 55th.
  for (const char *s : {"1.000000000000000333066907387546962127089500427246093750",
                        "1.000000000000000333066907387546962127089500427246093749999",
                        "123456789012345678901234567890123456789012345678901234567890"})
    EXPECT_TRUE(parses_same(s));
  EXPECT_TRUE(parses_same(("0." + std::string(400, '0') + "123").c_str()));
  EXPECT_TRUE(parses_same(("1" + std::string(5000, '0') + "1e-5000").c_str()));
}

}  // namespace
