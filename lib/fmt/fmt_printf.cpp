// printf-style formatting without the C library's (which needs the heap for
// floats). Integer, string and padding rules follow glibc.
#include <cerrno>
#include <climits>
#include <cstring>

#include "fmt.h"

using fmt_detail::Out;

namespace {

static_assert(sizeof(size_t) == sizeof(ptrdiff_t), "%zd and %tu rely on equal widths");

constexpr int kMaxPrec = INT_MAX - 4096;

struct Spec {
  bool left = false, plus = false, space = false, zero = false, alt = false;
  size_t width = 0;
  int prec = -1;
};

void put_int(Out &out, uint64_t mag, bool neg, char conv, const Spec &sp) {
  const unsigned base = conv == 'o' ? 8 : (conv == 'x' || conv == 'X' || conv == 'p') ? 16 : 10;
  const char *digits = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char buf[24];  // 22 octal digits at most
  int n = 0;
  // Split off 10^9 chunks so that the chip mostly uses its 32-bit divider.
  while (base == 10 && mag > UINT32_MAX) {
    uint32_t low = uint32_t(mag % 1000000000u);
    mag /= 1000000000u;
    for (int i = 0; i < 9; ++i, low /= 10) buf[n++] = char('0' + low % 10);
  }
  if (mag <= UINT32_MAX) {
    for (uint32_t v = uint32_t(mag); v != 0; v /= base) buf[n++] = digits[v % base];
  } else {
    for (; mag != 0; mag /= base) buf[n++] = digits[mag % base];
  }
  const int prec = sp.prec < 0 ? 1 : sp.prec;
  size_t zeros = prec > n ? size_t(prec - n) : 0;
  if (conv == 'o' && sp.alt && zeros == 0 && (n == 0 || buf[n - 1] != '0')) zeros = 1;

  char prefix[3];
  int np = 0;
  if (conv == 'd' || conv == 'i' || conv == 'p') {  // glibc signs pointers too
    if (neg) prefix[np++] = '-';
    else if (sp.plus) prefix[np++] = '+';
    else if (sp.space) prefix[np++] = ' ';
  }
  if ((sp.alt && (conv == 'x' || conv == 'X') && n > 0) || conv == 'p') {
    prefix[np++] = '0';
    prefix[np++] = conv == 'X' ? 'X' : 'x';
  }
  const size_t len = size_t(np) + zeros + size_t(n);
  size_t pad = sp.width > len ? sp.width - len : 0;
  if (sp.zero && !sp.left && sp.prec < 0) {
    zeros += pad;
    pad = 0;
  }
  if (!sp.left) out.fill(' ', pad);
  for (int i = 0; i < np; ++i) out.put(prefix[i]);
  out.fill('0', zeros);
  while (n > 0) out.put(buf[--n]);
  if (sp.left) out.fill(' ', pad);
}

void put_str(Out &out, const char *s, size_t n, const Spec &sp) {
  const size_t pad = sp.width > n ? sp.width - n : 0;
  if (!sp.left) out.fill(' ', pad);
  for (size_t i = 0; i < n; ++i) out.put(s[i]);
  if (sp.left) out.fill(' ', pad);
}

void copy(Out &out, const char *from, const char *to) {
  for (; from < to; ++from) out.put(*from);
}

// Reads a decimal field; false when it does not fit an int.
bool read_num(const char *&f, int &v) {
  v = 0;
  bool ok = true;
  for (; *f >= '0' && *f <= '9'; ++f) {
    const int d = *f - '0';
    if (v > (INT_MAX - d) / 10) ok = false; else v = v * 10 + d;
  }
  return ok;
}

}  // namespace

int fmt_vsnprintf(char *buf, size_t size, const char *format, va_list ap) {
  Out out{buf, size, 0};
  const char *f = format;
  while (*f != 0) {
    if (*f != '%') {
      out.put(*f++);
      continue;
    }
    const char *start = f++;
    Spec sp;
    // ' groups thousands in other locales; in the C locale it does nothing.
    for (; *f != 0 && strchr("-+ 0#'", *f) != nullptr; ++f) {
      sp.left |= *f == '-';
      sp.plus |= *f == '+';
      sp.space |= *f == ' ';
      sp.zero |= *f == '0';
      sp.alt |= *f == '#';
    }
    if (*f == '*') {
      ++f;
      const int w = va_arg(ap, int);
      if (w < 0) {
        sp.left = true;
        sp.width = size_t(-int64_t(w));
      } else {
        sp.width = size_t(w);
      }
    } else {
      int w;
      if (!read_num(f, w)) {
        errno = EOVERFLOW;
        return -1;
      }
      sp.width = size_t(w);
    }
    if (*f == '.') {
      ++f;
      if (*f == '*') {
        ++f;
        const int p = va_arg(ap, int);
        sp.prec = p < 0 ? -1 : p;
      } else if (!read_num(f, sp.prec)) {
        errno = EOVERFLOW;
        return -1;
      }
      // Keeps digit counters clear of int overflow; the text would not fit
      // the return value anyway.
      if (sp.prec > kMaxPrec) sp.prec = kMaxPrec;
    }
    // Length: 'H' half, 'c' char, 'l' long, 'q' long long, 'j' intmax,
    // 'z' size, 't' ptrdiff, 'L' long double.
    char len = 0;
    switch (*f) {
      case 'h':
        len = f[1] == 'h' ? 'c' : 'H';
        f += f[1] == 'h' ? 2 : 1;
        break;
      case 'l':
        len = f[1] == 'l' ? 'q' : 'l';
        f += f[1] == 'l' ? 2 : 1;
        break;
      case 'q': case 'j': case 'z': case 't': case 'L':
        len = *f++;
        break;
      default:
        break;
    }
    const char conv = *f;
    if (conv != 0) ++f;
    switch (conv) {
      case 'd':
      case 'i': {
        int64_t v;
        switch (len) {
          case 'c': v = static_cast<signed char>(va_arg(ap, int)); break;
          case 'H': v = static_cast<short>(va_arg(ap, int)); break;
          case 'l': v = va_arg(ap, long); break;
          case 'q': case 'L': v = va_arg(ap, long long); break;
          case 'j': v = va_arg(ap, intmax_t); break;
          case 'z': v = static_cast<ptrdiff_t>(va_arg(ap, size_t)); break;
          case 't': v = va_arg(ap, ptrdiff_t); break;
          default: v = va_arg(ap, int); break;
        }
        const uint64_t mag = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
        put_int(out, mag, v < 0, conv, sp);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        uint64_t v;
        switch (len) {
          case 'c': v = static_cast<unsigned char>(va_arg(ap, unsigned)); break;
          case 'H': v = static_cast<unsigned short>(va_arg(ap, unsigned)); break;
          case 'l': v = va_arg(ap, unsigned long); break;
          case 'q': case 'L': v = va_arg(ap, unsigned long long); break;
          case 'j': v = va_arg(ap, uintmax_t); break;
          case 'z': case 't': v = va_arg(ap, size_t); break;
          default: v = va_arg(ap, unsigned); break;
        }
        put_int(out, v, false, conv, sp);
        break;
      }
      case 'p': {
        const void *p = va_arg(ap, void *);
        if (p == nullptr) {
          put_str(out, "(nil)", 5, sp);
        } else {
          put_int(out, uintptr_t(p), false, 'p', sp);
        }
        break;
      }
      case 'c': {
        const char c = char(va_arg(ap, int));
        put_str(out, &c, 1, sp);
        break;
      }
      case 's': {
        if (len == 'l') {  // wide string: unsupported, skipped
          (void)va_arg(ap, const void *);
          copy(out, start, f);
          break;
        }
        const char *s = va_arg(ap, const char *);
        if (s == nullptr) s = sp.prec < 0 || sp.prec >= 6 ? "(null)" : "";
        size_t n = 0;
        // Never read past the precision: the text need not be terminated.
        while ((sp.prec < 0 || n < size_t(sp.prec)) && s[n] != 0) ++n;
        put_str(out, s, n, sp);
        break;
      }
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': {
        const double v = len == 'L' ? double(va_arg(ap, long double)) : va_arg(ap, double);
        const fmt_detail::FloatConv fc{conv, sp.prec, sp.width, sp.left, sp.plus, sp.space, sp.zero,
                                       sp.alt};
        fmt_detail::put_double(out, v, fc);
        break;
      }
      case '%':
        out.put('%');
        break;
      case 'a':
      case 'A':  // unsupported; the argument is skipped to keep the rest aligned
        if (len == 'L') (void)va_arg(ap, long double); else (void)va_arg(ap, double);
        copy(out, start, f);
        break;
      case 'n':  // never writes through a pointer taken from a format
        (void)va_arg(ap, void *);
        copy(out, start, f);
        break;
      default:
        // Unknown or missing conversion: copied as written, like glibc.
        copy(out, start, f);
        break;
    }
  }
  if (size > 0) buf[out.len < size ? out.len : size - 1] = 0;
  if (out.len > size_t(INT_MAX)) {
    errno = EOVERFLOW;
    return -1;
  }
  return int(out.len);
}

int fmt_snprintf(char *buf, size_t size, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = fmt_vsnprintf(buf, size, format, ap);
  va_end(ap);
  return n;
}

// ---------------------------------------------------------------------------
// Integer parsing

namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Magnitude of the number at s (over: it exceeds ULONG_MAX); sets *end.
unsigned long scan_int(const char *s, char **end, int base, bool &neg, bool &over) {
  neg = over = false;
  if (base < 0 || base == 1 || base > 36) {
    errno = EINVAL;
    if (end != nullptr) *end = const_cast<char *>(s);
    return 0;
  }
  const char *p = s;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  if (*p == '+' || *p == '-') neg = *p++ == '-';
  // "0x" only counts as a prefix when a hex digit follows; else the 0 is
  // the number.
  if ((base == 0 || base == 16) && p[0] == '0' && (p[1] | 0x20) == 'x' && digit_value(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == '0' ? 8 : 10;
  }
  const unsigned long b = unsigned(base);
  unsigned long v = 0;
  const char *first = p;
  for (; digit_value(*p) < base; ++p) {
    const unsigned long d = unsigned(digit_value(*p));
    if (over || v > (ULONG_MAX - d) / b) over = true; else v = v * b + d;
  }
  if (end != nullptr) *end = const_cast<char *>(p == first ? s : p);
  return v;
}

}  // namespace

long fmt_strtol(const char *s, char **end, int base) {
  bool neg, over;
  const unsigned long v = scan_int(s, end, base, neg, over);
  const unsigned long limit = neg ? 0UL - static_cast<unsigned long>(LONG_MIN) : LONG_MAX;
  if (over || v > limit) {
    errno = ERANGE;
    return neg ? LONG_MIN : LONG_MAX;
  }
  return neg ? static_cast<long>(0UL - v) : static_cast<long>(v);
}

unsigned long fmt_strtoul(const char *s, char **end, int base) {
  bool neg, over;
  const unsigned long v = scan_int(s, end, base, neg, over);
  if (over) {
    errno = ERANGE;
    return ULONG_MAX;
  }
  return neg ? 0UL - v : v;
}
