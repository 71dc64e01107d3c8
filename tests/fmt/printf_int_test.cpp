// Integer, character, string and pointer conversions, flags, the snprintf
// size contract and strtol, each against glibc.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "differential.h"

using fmt_test::same;

namespace {

// Passes v as the type the length modifier names (hh, h: a promoted int).
::testing::AssertionResult same_int(const std::string &f, const std::string &len, uint64_t v) {
  if (len == "l") return same(f.c_str(), long(v));
  if (len == "ll") return same(f.c_str(), (long long)v);
  if (len == "j") return same(f.c_str(), intmax_t(v));
  if (len == "z") return same(f.c_str(), size_t(v));
  if (len == "t") return same(f.c_str(), ptrdiff_t(v));
  return same(f.c_str(), int(v));
}

TEST(FmtInt, EveryConversionFlagWidthPrecisionAndLength) {
  // Type limits, digit-count and 10^9-chunk edges; negatives as bit patterns.
  const uint64_t values[] = {0, 1, 7, 8, 9, 10, 16, 127, 128, 255, 256, 32767, 32768, 65535,
                             999999999, 1000000000, INT_MAX, uint64_t(INT_MAX) + 1, UINT32_MAX,
                             uint64_t(UINT32_MAX) + 1, 4294967296000000000ull, INT64_MAX,
                             uint64_t(INT64_MAX) + 1, UINT64_MAX, uint64_t(-2), uint64_t(-129),
                             uint64_t(-32769), uint64_t(int64_t(INT_MIN)), uint64_t(-1000000000ll)};
  for (const char *len : {"hh", "h", "", "l", "ll", "j", "z", "t"})
    for (const char conv : std::string("diuoxX"))
      for (const char *flags : {"", "-", "+", " ", "0", "#", "-+", "+0", " 0", "#0", "-#", "-0", "'"})
        for (const char *width : {"", "1", "5", "25"})
          for (const char *prec : {"", ".", ".0", ".1", ".5", ".22"}) {
            const std::string f = std::string("[%") + flags + width + prec + len + conv + "]";
            for (const uint64_t v : values) ASSERT_TRUE(same_int(f, len, v));
          }
}

const char *volatile g_null = nullptr;  // hidden from the null-%s warning

TEST(FmtInt, StarsStringsCharactersPointersAndText) {
  for (const int w : {-30, -1, 0, 5})
    for (const int p : {-7, 0, 3, 12}) {
      const char *zero_and_prec = "[%0*.*i]";  // not a literal: gcc warns that glibc drops the 0
      EXPECT_TRUE(same(zero_and_prec, w, p, -12345));
      EXPECT_TRUE(same("[%-*x][%*.*s][%*c]", w, 0xbeefu, w, p, "string", w, 'c'));
    }
  for (const char *f : {"[%s]", "[%-8s]", "[%08.3s]", "[%.0s]", "[%#20.6s]", "[%.5s]"}) {
    for (const char *s : {"", "a", "hello", "a longer string with spaces"}) EXPECT_TRUE(same(f, s));
    EXPECT_TRUE(same(f, g_null));
  }
  for (const char *f : {"[%c]", "[%-3c]", "[%03c]"})
    for (const int c : {0x78, 0x7f, 0xe9, 0}) EXPECT_TRUE(same(f, c));
  int local = 0;
  for (const char *f : {"%p", "%20p", "%-20p|", "%3p", "%+p", "% p", "%020p", "%.20p"})
    for (const void *p : {static_cast<const void *>(&local), static_cast<const void *>(nullptr)})
      EXPECT_TRUE(same(f, p));
  EXPECT_TRUE(same("100%% plain {}[]\\ text %%%d%%", 5));
  // Unsupported directives are copied and skip their argument.
  const char *unsupported = "%a|%ls|%n|%d";
  char out[32];
  int count = -1;
  EXPECT_EQ(fmt_snprintf(out, sizeof out, unsupported, 1.5, L"w", &count, 42), 12);
  EXPECT_STREQ(out, "%a|%ls|%n|42");
  EXPECT_EQ(count, -1);
  // %.3s of an unterminated buffer: a read past it trips AddressSanitizer.
  char *raw = new char[3]{'a', 'b', 'c'};
  EXPECT_TRUE(same("[%.3s][%.2s]", raw, raw));
  delete[] raw;
}

TEST(FmtInt, SizeContract) {
  // For every size: glibc's return value, its bytes, and nothing past size.
  const auto check = [](const char *f, auto... args) {
    const int full = snprintf(nullptr, 0, f, args...);
    EXPECT_EQ(fmt_snprintf(nullptr, 0, f, args...), full);
    for (size_t size = 1; size <= size_t(full) + 2; ++size) {
      char got[32], want[32];
      memset(got, '#', sizeof got);
      memset(want, '#', sizeof want);
      EXPECT_EQ(fmt_snprintf(got, size, f, args...), snprintf(want, size, f, args...));
      EXPECT_EQ(memcmp(got, want, sizeof got), 0) << f << " size " << size;
    }
  };
  check("pH %d.%03d", 7, 81);
  check("%10.4f|%-6g|%s", 3.14159, 2.5e-7, "end");
  const std::string huge = "%" + std::string(11, '9') + "d";  // gcc rejects it as a literal
  char out[8];
  errno = 0;
  EXPECT_EQ(fmt_snprintf(out, sizeof out, huge.c_str(), 1), -1);
  EXPECT_EQ(errno, EOVERFLOW);
}

TEST(FmtStrtol, MatchesTheCLibrary) {
  for (const int base : {0, 2, 8, 10, 16, 36})
    for (const char *s : {"0", "  42", "-42", "+7x", "0x1F", "0X1f", "0x", "0xg", "017", "08", "Zz",
                          "", " ", "-", "+-1", "9223372036854775807", "9223372036854775808",
                          "-9223372036854775808", "-9223372036854775809", "18446744073709551615",
                          "18446744073709551616", "-1", "99999999999999999999999", "\t\n12"}) {
      char *e1, *e2;
      errno = 0;
      const long a = strtol(s, &e1, base);
      const int err = errno;
      errno = 0;
      EXPECT_EQ(fmt_strtol(s, &e2, base), a) << s << " base " << base;
      EXPECT_EQ(e2, e1) << s << " base " << base;
      EXPECT_EQ(errno, err) << s << " base " << base;
      errno = 0;
      const unsigned long ua = strtoul(s, &e1, base);
      const int uerr = errno;
      errno = 0;
      EXPECT_EQ(fmt_strtoul(s, &e2, base), ua) << s << " base " << base;
      EXPECT_EQ(e2, e1) << s << " base " << base;
      EXPECT_EQ(errno, uerr) << s << " base " << base;
    }
  errno = 0;
  EXPECT_EQ(fmt_strtol("12", nullptr, 1), 0);
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
