// Exact conversions between doubles and decimal text.
//
// Both directions work on the exact value with a fixed-size big integer on
// the stack and integer arithmetic only: the M4F's FPU is single precision,
// so double maths would be slow software, and it would not be exact anyway.
#include <cerrno>
#include <climits>
#include <cstring>

#include "fmt.h"

namespace {

// Unsigned integer of up to N 32-bit words, least significant first.
// Capacities are worked out where each is used; nothing here checks them.
template <int N>
struct Big {
  uint32_t w[N];
  int n;  // words in use, the top one nonzero; 0 is zero

  void set(uint64_t v) {
    n = 0;
    if (v != 0) w[n++] = uint32_t(v);
    if ((v >> 32) != 0) w[n++] = uint32_t(v >> 32);
  }
  bool is_zero() const { return n == 0; }
  int bits() const { return n == 0 ? 0 : 32 * n - __builtin_clz(w[n - 1]); }

  void mul(uint32_t f) {
    uint64_t carry = 0;
    for (int i = 0; i < n; ++i) {
      carry += uint64_t(w[i]) * f;
      w[i] = uint32_t(carry);
      carry >>= 32;
    }
    if (carry != 0) w[n++] = uint32_t(carry);
  }
  void add(uint32_t a) {
    for (int i = 0; i < n && a != 0; ++i) {
      w[i] += a;
      a = w[i] < a ? 1 : 0;
    }
    if (a != 0) w[n++] = a;
  }
  void mul_pow10(int k) {
    static constexpr uint32_t small[9] = {1,      10,      100,      1000,     10000,
                                          100000, 1000000, 10000000, 100000000};
    for (; k >= 9; k -= 9) mul(1000000000u);
    if (k > 0) mul(small[k]);
  }
  void shl(int s) {
    if (n == 0 || s <= 0) return;
    const int ws = s / 32, bs = s % 32;
    if (bs != 0) {
      const uint32_t top = w[n - 1] >> (32 - bs);
      for (int i = n - 1; i > 0; --i) w[i] = (w[i] << bs) | (w[i - 1] >> (32 - bs));
      w[0] <<= bs;
      if (top != 0) w[n++] = top;
    }
    if (ws != 0) {
      memmove(w + ws, w, sizeof(uint32_t) * size_t(n));
      memset(w, 0, sizeof(uint32_t) * size_t(ws));
      n += ws;
    }
  }
  void trim() {
    while (n > 0 && w[n - 1] == 0) --n;
  }
  // this -= q * b; the result must not be negative.
  void sub_mul(const Big &b, uint32_t q) {
    uint64_t carry = 0;   // product high part plus borrow
    for (int i = 0; i < n; ++i) {
      uint64_t p = carry;
      if (i < b.n) p += uint64_t(b.w[i]) * q;
      const uint32_t lo = uint32_t(p);
      carry = (p >> 32) + (w[i] < lo ? 1 : 0);
      w[i] -= lo;
    }
    trim();
  }
};

template <int N>
int cmp(const Big<N> &a, const Big<N> &b) {
  if (a.n != b.n) return a.n < b.n ? -1 : 1;
  for (int i = a.n - 1; i >= 0; --i)
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
  return 0;
}

// ---------------------------------------------------------------------------
// Printing

// Largest operand: a subnormal's denominator 2^1074 takes 34 words, the
// numerator is below ten times it (35), doubled for the final rounding test
// it is still below 2^1088 (35). Huge values need 33. One spare.
constexpr int kPrintWords = 36;
using PBig = Big<kPrintWords>;

// Exact decimal digits of m * 2^e, most significant first. The remaining
// value divided by the place of the next digit is r/s, kept below 10.
struct Digits {
  PBig r, s;
  int k;     // decimal exponent of the first digit
  int held;  // first digit, worked out by start(); -1 once handed out

  void start(uint64_t m, int e);
  int extract();
  int next() {
    if (held >= 0) {
      const int d = held;
      held = -1;
      return d;
    }
    if (r.is_zero()) return 0;
    r.mul(10);
    return extract();
  }
  // Whether the digits handed out, the last being `last` at decimal place
  // `last_pos`, round up. Destroys the state.
  bool round_up(int last, int last_pos);
};

// floor(r/s) for r < 10s with s's top bit set, leaving the remainder in r.
int Digits::extract() {
  const int n = s.n;
  if (r.n < n) return 0;
  const uint64_t top = (uint64_t(r.n > n ? r.w[n] : 0) << 32) | r.w[n - 1];
  // Both scaled down by 16 so that one 32-bit hardware divide does; the
  // estimate is never high and at most one low.
  uint32_t q = uint32_t(top >> 4) / ((s.w[n - 1] >> 4) + 1);
  if (q != 0) r.sub_mul(s, q);
  for (int i = 0; i < 2 && cmp(r, s) >= 0; ++i) {
    r.sub_mul(s, 1);
    ++q;
  }
  return int(q);
}

void Digits::start(uint64_t m, int e) {
  r.set(m);
  s.set(1);
  k = 0;
  held = 0;
  if (m == 0) return;
  // 2^(L-1) <= v < 2^L; k = floor(L*log10(2)) gives v < 10^(k+1), and the
  // first digit may come out 0, then the estimate was one high.
  const int L = 64 - __builtin_clzll(m) + e;
  k = int((int64_t(L) * 1292913986) >> 32);
  if (e > 0) r.shl(e); else s.shl(-e);
  if (k > 0) s.mul_pow10(k); else r.mul_pow10(-k);
  const int sh = __builtin_clz(s.w[s.n - 1]);
  r.shl(sh);
  s.shl(sh);
  held = extract();
  for (int i = 0; i < 2 && held == 0; ++i) {
    --k;
    r.mul(10);
    held = extract();
  }
}

bool Digits::round_up(int last, int last_pos) {
  if (held >= 0) {
    // Nothing handed out: the whole value lies below place last_pos.
    if (k != last_pos - 1) return false;  // below a tenth of a unit
    if (held != 5) return held > 5;
    return !r.is_zero() || (last & 1) != 0;
  }
  r.shl(1);
  const int c = cmp(r, s);
  return c > 0 || (c == 0 && (last & 1) != 0);
}

using fmt_detail::Out;

// Writes digits as they come while holding back the ones that rounding or
// trailing-zero removal may still change: a run of zeros, then the last digit
// that is not 9, then the 9s after it.
struct Emit {
  Out &out;
  int int_digits;  // digits before the point
  bool strip;      // %g: drop trailing zeros of the fraction
  bool alt;        // '#': always a point
  int idx = 0;     // digits written
  bool point = false;
  int pend = -1;   // held digit that is not 9
  int nines = 0;   // 9s held after it
  int zeros = 0;   // zeros held before it

  void write(int d) {
    if (idx == int_digits && !point) {
      out.put('.');
      point = true;
    }
    out.put(char('0' + d));
    ++idx;
  }
  void settle(int d) {
    if (d == 0) {
      ++zeros;
      return;
    }
    for (; zeros > 0; --zeros) write(0);
    write(d);
  }
  void digit(int d) {
    if (d == 9) {
      ++nines;
      return;
    }
    if (pend >= 0) settle(pend);
    for (; nines > 0; --nines) settle(9);
    pend = d;
  }
  // Rounds and writes what is held. `grow`: a carry out of the top digit
  // adds a digit (%f) instead of moving the exponent (%e). Returns whether
  // it carried.
  bool finish(bool up, bool grow) {
    bool carried = false;
    if (!up) {
      if (pend >= 0) settle(pend);
      for (; nines > 0; --nines) settle(9);
    } else if (pend >= 0) {
      settle(pend + 1);
      zeros += nines;
    } else {
      carried = true;
      if (grow) ++int_digits;
      settle(1);
      zeros += grow ? nines : nines - 1;
    }
    nines = 0;
    if (strip) {
      for (; zeros > 0 && idx < int_digits; --zeros) write(0);
      zeros = 0;
    }
    for (; zeros > 0; --zeros) write(0);
    if (alt && !point) out.put('.');
    return carried;
  }
};

void put_fixed(Out &out, Digits &g, int prec, bool strip, bool alt) {
  const int top = g.k > 0 ? g.k : 0;
  Emit em{out, top + 1, strip, alt};
  int last = 0;
  for (int p = top; p >= -prec; --p) {
    last = p > g.k ? 0 : g.next();
    em.digit(last);
  }
  em.finish(g.round_up(last, -prec), true);
}

void put_sci(Out &out, Digits &g, int prec, bool strip, bool alt, bool upper) {
  Emit em{out, 1, strip, alt};
  int last = 0;
  for (int i = 0; i <= prec; ++i) {
    last = g.next();
    em.digit(last);
  }
  int x = g.k;
  if (em.finish(g.round_up(last, g.k - prec), false)) ++x;
  out.put(upper ? 'E' : 'e');
  out.put(x < 0 ? '-' : '+');
  if (x < 0) x = -x;
  if (x >= 100) out.put(char('0' + x / 100));
  out.put(char('0' + x / 10 % 10));
  out.put(char('0' + x % 10));
}

// How a finite value will be written, settled before any digit goes out
// because padding needs the length.
struct Plan {
  bool sci;    // %e style
  int prec;    // digits after the point
  bool strip;  // %g without '#'
  int x;       // exponent of the leading digit after rounding
};

// Whether the first n digits are all 9s and round up into a new leading
// digit. Consumes g.
bool carries(Digits &g, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    if (g.next() != 9) return false;
  return g.round_up(9, 0);
}

// Starts g on m * 2^e and leaves it at its first digit.
Plan plan(Digits &g, uint64_t m, int e, const fmt_detail::FloatConv &c) {
  g.start(m, e);
  const char conv = char(c.conv | 0x20);
  int prec = c.prec < 0 ? 6 : c.prec;
  if (conv == 'g' && prec == 0) prec = 1;
  Plan p{conv == 'e', prec, false, g.k};
  // Only a leading 9 can carry; then look ahead and start over.
  const int64_t n = conv == 'f' ? (g.k >= 0 ? g.k + 1 + int64_t(prec) : 0)
                    : conv == 'e' ? prec + int64_t(1) : prec;
  if (n > 0 && g.held == 9) {
    if (carries(g, n)) ++p.x;
    g.start(m, e);
  }
  if (conv == 'g') {
    p.strip = !c.alt;
    if (prec > p.x && p.x >= -4) {
      p.prec = prec - 1 - p.x;
    } else {
      p.sci = true;
      // glibc rounds in the fixed style with no fraction digits before it
      // sees the exponent grow, and keeps that count: %#g of 999999.5 is
      // "1.e+06".
      p.prec = p.x == prec && g.k == prec - 1 ? 0 : prec - 1;
    }
  }
  return p;
}

// Length without sign; not known beforehand when trailing zeros go.
size_t plan_len(const Plan &p, bool alt) {
  const size_t frac = p.prec > 0 || alt ? 1 + size_t(p.prec) : 0;
  if (!p.sci) return size_t(p.x > 0 ? p.x : 0) + 1 + frac;
  return 1 + frac + (p.x <= -100 || p.x >= 100 ? 5 : 4);
}

void emit(Out &out, Digits &g, const Plan &p, const fmt_detail::FloatConv &c) {
  if (p.sci)
    put_sci(out, g, p.prec, p.strip, c.alt, (c.conv & 0x20) == 0);
  else
    put_fixed(out, g, p.prec, p.strip, c.alt);
}

}  // namespace

namespace fmt_detail {

// Stack on the chip (-Os, -fstack-usage): 408 bytes here, of them 296 for
// the two big integers; 664 in all from fmt_snprintf down.
void put_double(Out &out, double v, const FloatConv &c) {
  uint64_t bits;
  memcpy(&bits, &v, sizeof bits);
  const bool neg = (bits >> 63) != 0;
  const int be = int(bits >> 52) & 0x7ff;
  const uint64_t frac = bits & ((uint64_t(1) << 52) - 1);
  const char sign = neg ? '-' : c.plus ? '+' : c.space ? ' ' : 0;
  const size_t sign_len = sign != 0 ? 1 : 0;
  const size_t start = out.len;

  if (be == 0x7ff) {
    // glibc pads inf and nan with spaces even under '0'.
    const bool upper = (c.conv & 0x20) == 0;
    const char *t = frac != 0 ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
    const size_t pad = c.width > 3 + sign_len ? c.width - 3 - sign_len : 0;
    if (!c.left) out.fill(' ', pad);
    if (sign != 0) out.put(sign);
    for (int i = 0; i < 3; ++i) out.put(t[i]);
  } else {
    const uint64_t m = be != 0 ? frac | (uint64_t(1) << 52) : frac;
    const int e = be != 0 ? be - 1075 : -1074;
    Digits g;
    const Plan p = plan(g, m, e, c);
    if (!c.left && c.width > 0) {
      size_t len;
      if (!p.strip) {
        len = plan_len(p, c.alt);
      } else {
        Out count{nullptr, 0, 0};
        emit(count, g, p, c);
        len = count.len;
        g.start(m, e);
      }
      len += sign_len;
      const size_t pad = c.width > len ? c.width - len : 0;
      if (!c.zero) out.fill(' ', pad);
      if (sign != 0) out.put(sign);
      if (c.zero) out.fill('0', pad);
    } else if (sign != 0) {
      out.put(sign);
    }
    emit(out, g, p, c);
  }
  const size_t len = out.len - start;
  if (c.left && c.width > len) out.fill(' ', c.width - len);
}

}  // namespace fmt_detail

// ---------------------------------------------------------------------------
// Parsing

namespace {

// Significant digits kept exactly; later ones only leave a sticky 1.
constexpr int kMaxDigits = 40;

// Largest operand: 10^365 (41 digits scaled down to the smallest
// subnormal) is below 2^1213, 38 words, and the numerator stays below twice
// it. Scaled up, the product stays below 10^310 (33 words).
constexpr int kParseWords = 39;
using QBig = Big<kParseWords>;

struct Layout {
  int mant;  // significand bits including the hidden one
  int emin;  // exponent of the smallest normal
  int emax;
  int dec_max;  // values >= 10^dec_max overflow
  int dec_min;  // values < 10^dec_min round to zero
};
constexpr Layout kDouble{53, -1022, 1023, 310, -324};
constexpr Layout kFloat{24, -126, 127, 40, -46};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c | 0x20) : c; }
bool match(const char *s, const char *word) {
  for (; *word != 0; ++s, ++word)
    if (lower(*s) != *word) return false;
  return true;
}

enum class Kind { none, number, inf, nan };

struct Decimal {
  Kind kind = Kind::none;
  bool neg = false;
  QBig d;          // significant digits
  int nd = 0;      // how many
  int64_t e10 = 0; // value = d * 10^e10
};

const char *scan(const char *s, Decimal &dec) {
  while (is_space(*s)) ++s;
  if (*s == '+' || *s == '-') dec.neg = *s++ == '-';
  if (match(s, "inf")) {
    dec.kind = Kind::inf;
    return s + (match(s + 3, "inity") ? 8 : 3);
  }
  if (match(s, "nan")) {
    dec.kind = Kind::nan;
    s += 3;
    if (*s == '(') {
      const char *p = s + 1;
      while ((*p >= '0' && *p <= '9') || (lower(*p) >= 'a' && lower(*p) <= 'z') || *p == '_') ++p;
      if (*p == ')') s = p + 1;
    }
    return s;
  }
  dec.d.set(0);
  uint32_t chunk = 0;  // digits not yet folded into d
  int chunk_n = 0;
  bool any = false, seen_point = false, sticky = false;
  for (;; ++s) {
    if (*s == '.' && !seen_point) {
      seen_point = true;
      continue;
    }
    if (*s < '0' || *s > '9') break;
    any = true;
    const uint32_t v = uint32_t(*s - '0');
    if (dec.nd == 0 && v == 0) {  // leading zero
      if (seen_point) --dec.e10;
      continue;
    }
    if (dec.nd < kMaxDigits) {
      chunk = chunk * 10 + v;
      if (++chunk_n == 9) {
        dec.d.mul(1000000000u);
        dec.d.add(chunk);
        chunk = 0;
        chunk_n = 0;
      }
      ++dec.nd;
      if (seen_point) --dec.e10;
    } else {
      sticky |= v != 0;
      if (!seen_point) ++dec.e10;
    }
  }
  if (!any) return nullptr;
  if (sticky) {
    chunk = chunk * 10 + 1;
    ++chunk_n;
    ++dec.nd;
    --dec.e10;
  }
  dec.d.mul_pow10(chunk_n);
  dec.d.add(chunk);
  dec.kind = Kind::number;

  if (*s == 'e' || *s == 'E') {
    const char *p = s + 1;
    bool eneg = false;
    if (*p == '+' || *p == '-') eneg = *p++ == '-';
    if (*p >= '0' && *p <= '9') {
      int64_t x = 0;
      for (; *p >= '0' && *p <= '9'; ++p)
        if (x < 100000) x = x * 10 + (*p - '0');  // far past any range
      dec.e10 += eneg ? -x : x;
      s = p;
    }
  }
  return s;
}

// IEEE bits of the decimal rounded half to even in layout f.
uint64_t to_bits(const Decimal &dec, const Layout &f) {
  const uint64_t sign = uint64_t(dec.neg ? 1 : 0) << (f.mant == 53 ? 63 : 31);
  const int frac_bits = f.mant - 1;
  const uint64_t inf = uint64_t(f.emax + f.emax + 1) << frac_bits;
  if (dec.kind == Kind::inf) return sign | inf;
  if (dec.kind == Kind::nan) return sign | inf | (uint64_t(1) << (frac_bits - 1));
  if (dec.d.is_zero()) return sign;
  const int64_t mag = dec.nd + dec.e10;  // 10^(mag-1) <= value < 10^mag
  if (mag > f.dec_max) {
    errno = ERANGE;
    return sign | inf;
  }
  if (mag < f.dec_min) {
    errno = ERANGE;
    return sign;
  }
  // value = a/b exactly, then a/b scaled into [1, 2) by 2^b2.
  QBig a = dec.d, b;
  b.set(1);
  if (dec.e10 > 0) a.mul_pow10(int(dec.e10)); else b.mul_pow10(int(-dec.e10));
  int b2 = a.bits() - b.bits();
  if (b2 > 0) b.shl(b2); else a.shl(-b2);
  if (cmp(a, b) < 0) {
    a.shl(1);
    --b2;
  }
  // 55 bits: the significand, a rounding bit, and one more for the
  // tininess test; the rest only matters as nonzero.
  uint64_t q = 0;
  for (int i = 0; i < 55; ++i) {
    q <<= 1;
    if (cmp(a, b) >= 0) {
      a.sub_mul(b, 1);
      q |= 1;
    }
    a.shl(1);
  }
  const bool sticky = !a.is_zero();

  const int lowest = f.emin - frac_bits;  // place of the smallest subnormal bit
  int keep = b2 - lowest + 1;
  if (keep > f.mant) keep = f.mant;
  if (keep < 0) {
    errno = ERANGE;
    return sign;
  }
  const int shift = 55 - keep;
  uint64_t mant = q >> shift;
  const uint64_t rem = q & ((uint64_t(1) << shift) - 1);
  const uint64_t half = uint64_t(1) << (shift - 1);
  if (rem > half || (rem == half && (sticky || (mant & 1) != 0))) ++mant;

  if (keep < f.mant) {
    // Subnormal range. glibc reports underflow when the result is inexact
    // and still tiny after rounding to full precision.
    const bool inexact = rem != 0 || sticky;
    bool tiny = true;
    if (b2 == f.emin - 1) {
      const int fs = 55 - f.mant;
      const uint64_t fm = q >> fs;
      const uint64_t fr = q & ((uint64_t(1) << fs) - 1);
      const uint64_t fh = uint64_t(1) << (fs - 1);
      const bool fup = fr > fh || (fr == fh && (sticky || (fm & 1) != 0));
      tiny = !(fup && fm + 1 == (uint64_t(1) << f.mant));
    }
    if (tiny && inexact) errno = ERANGE;
    return sign | mant;  // a carry into the hidden bit encodes the smallest normal
  }
  if (mant == (uint64_t(1) << f.mant)) {
    mant >>= 1;
    ++b2;
  }
  if (b2 > f.emax) {
    errno = ERANGE;
    return sign | inf;
  }
  return sign | (uint64_t(b2 + f.emax) << frac_bits) | (mant & ((uint64_t(1) << frac_bits) - 1));
}

uint64_t parse(const char *s, char **end, const Layout &f) {
  Decimal dec;
  const char *stop = scan(s, dec);
  if (end != nullptr) *end = const_cast<char *>(stop != nullptr ? stop : s);
  if (stop == nullptr) return 0;
  return to_bits(dec, f);
}

}  // namespace

double fmt_strtod(const char *s, char **end) {
  const uint64_t bits = parse(s, end, kDouble);
  double v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

float fmt_strtof(const char *s, char **end) {
  const uint32_t bits = uint32_t(parse(s, end, kFloat));
  float v;
  memcpy(&v, &bits, sizeof v);
  return v;
}
