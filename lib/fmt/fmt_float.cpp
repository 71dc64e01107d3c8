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
  if (cmp(r, s) >= 0) {
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
  if (held == 0) {  // v >= 2^(L-1) keeps the estimate within one
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
// the two big integers; 664 in all from fmt_snprintf down. An ordinary
// %.4f takes 15-80 big-integer word operations; %f of 1e308 about 19000.
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

// Significant digits read into the big integer. With more, the first
// result treats the rest as a sticky 1 and is then checked against the
// text itself (refine).
constexpr int kMaxDigits = 40;

// Largest operand: 10^365 (41 digits scaled down to the smallest
// subnormal) is below 2^1213, 38 words, and the numerator stays below twice
// it. Scaled up, the product stays below 10^310 (33 words).
constexpr int kParseWords = 39;
using QBig = Big<kParseWords>;

struct Layout {
  int mant;     // significand bits including the hidden one
  int emin;     // exponent of the smallest normal
  int emax;
  int dec_max;  // values >= 10^dec_max overflow
  int dec_min;  // values < 10^dec_min round to zero
  int frac() const { return mant - 1; }
  uint64_t inf() const { return uint64_t(2 * emax + 1) << frac(); }
};
constexpr Layout kDouble{53, -1022, 1023, 310, -324};
constexpr Layout kFloat{24, -126, 127, 40, -46};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c | 0x20) : c; }
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}
bool match(const char *s, const char *word) {
  for (; *word != 0; ++s, ++word)
    if (lower(*s) != *word) return false;
  return true;
}

enum class Kind { none, number, hex, inf, nan };

// What the scan found; decimal digits stay in the text, read again where
// needed, which keeps a big integer off this frame.
struct Decimal {
  Kind kind = Kind::none;
  bool neg = false;
  int nd = 0;          // significant digits kept, at most kMaxDigits; 0 for zero
  int64_t e10 = 0;     // value = (those digits) * 10^e10
  bool sticky = false; // nonzero digits past kMaxDigits
  const char *first = nullptr;  // first significant digit in the text
  bool point_seen = false;      // the point lies before it
  uint64_t hex = 0;    // hexadecimal: value = hex * 2^e2, sticky as above
  int64_t e2 = 0;
};

// Reads "e+12" / "p-3" if complete; s stays put otherwise.
const char *scan_exponent(const char *s, char letter, int64_t &exp) {
  if (lower(*s) != letter) return s;
  const char *p = s + 1;
  bool neg = false;
  if (*p == '+' || *p == '-') neg = *p++ == '-';
  if (*p < '0' || *p > '9') return s;
  int64_t x = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (x < 100000) x = x * 10 + (*p - '0');  // far past any range
  exp += neg ? -x : x;
  return p;
}

// 0x digits [. digits] [p exponent]; s points after the 0x. nullptr when
// no digit follows, then only the 0 counts.
const char *scan_hex(const char *s, Decimal &dec) {
  bool any = false, point = false;
  for (; hex_value(*s) >= 0 || (*s == '.' && !point); ++s) {
    if (*s == '.') {
      point = true;
      continue;
    }
    const int v = hex_value(*s);
    any = true;
    if (dec.hex == 0 && v == 0) {
      if (point) dec.e2 -= 4;
    } else if ((dec.hex >> 60) == 0) {
      dec.hex = dec.hex << 4 | uint64_t(v);
      if (point) dec.e2 -= 4;
    } else {
      dec.sticky |= v != 0;
      if (!point) dec.e2 += 4;
    }
  }
  if (!any) return nullptr;
  dec.kind = Kind::hex;
  return scan_exponent(s, 'p', dec.e2);
}

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
  if (s[0] == '0' && lower(s[1]) == 'x') {
    const char *end = scan_hex(s + 2, dec);
    if (end != nullptr) return end;
  }
  bool any = false, point = false;
  for (; (*s >= '0' && *s <= '9') || (*s == '.' && !point); ++s) {
    if (*s == '.') {
      point = true;
      continue;
    }
    any = true;
    const uint32_t v = uint32_t(*s - '0');
    if (dec.nd == 0 && v == 0) {  // leading zero
      if (point) --dec.e10;
      continue;
    }
    if (dec.nd == 0) {
      dec.first = s;
      dec.point_seen = point;
    }
    if (dec.nd < kMaxDigits) {
      ++dec.nd;
      if (point) --dec.e10;
    } else {
      dec.sticky |= v != 0;
      if (!point) ++dec.e10;
    }
  }
  if (!any) return nullptr;
  dec.kind = Kind::number;
  return scan_exponent(s, 'e', dec.e10);
}

// Rounds q * 2^(b2-54) (q with its top bit 54 set; sticky: more nonzero
// bits below) half to even into layout f. Returns magnitude bits.
uint64_t round_bits(uint64_t q, bool sticky, int64_t b2, const Layout &f, bool &erange) {
  const int64_t lowest = f.emin - f.frac();  // place of the smallest subnormal bit
  int64_t keep = b2 - lowest + 1;
  if (keep > f.mant) keep = f.mant;
  if (keep < 0) {
    erange = true;
    return 0;
  }
  const int shift = 55 - int(keep);
  uint64_t mant = q >> shift;
  const uint64_t rem = q & ((uint64_t(1) << shift) - 1);
  const uint64_t half = uint64_t(1) << (shift - 1);
  if (rem > half || (rem == half && (sticky || (mant & 1) != 0))) ++mant;

  if (keep < f.mant) {
    // Subnormal range. glibc reports underflow when the result is inexact
    // and still tiny after rounding to full precision.
    bool tiny = true;
    if (b2 == f.emin - 1) {
      const int fs = 55 - f.mant;
      const uint64_t fm = q >> fs;
      const uint64_t fr = q & ((uint64_t(1) << fs) - 1);
      const uint64_t fh = uint64_t(1) << (fs - 1);
      const bool up = fr > fh || (fr == fh && (sticky || (fm & 1) != 0));
      tiny = !(up && fm + 1 == (uint64_t(1) << f.mant));
    }
    if (tiny && (rem != 0 || sticky)) erange = true;
    return mant;  // a carry into the hidden bit encodes the smallest normal
  }
  if (mant == (uint64_t(1) << f.mant)) {
    mant >>= 1;
    ++b2;
  }
  if (b2 > f.emax) {
    erange = true;
    return f.inf();
  }
  return (uint64_t(b2 + f.emax) << f.frac()) | (mant & ((uint64_t(1) << f.frac()) - 1));
}

// The significant digits of the text, the point skipped.
struct TextDigits {
  const char *p;
  bool point;
  int next() {
    if (*p == '.' && !point) {
      point = true;
      ++p;
    }
    return *p >= '0' && *p <= '9' ? *p++ - '0' : -1;
  }
};

// Magnitude bits of a decimal number, rounded half to even. Kept out of
// line so that its big integers and refine's never share a frame.
__attribute__((noinline)) uint64_t decimal_bits(const Decimal &dec, const Layout &f,
                                                bool &erange) {
  if (dec.nd == 0) return 0;
  // The kept digits, and a 1 after them standing for any later ones.
  int nd = dec.nd;
  int64_t e10 = dec.e10;
  QBig a, b;
  a.set(0);
  TextDigits t{dec.first, dec.point_seen};
  uint32_t chunk = 0;
  int chunk_n = 0;
  const int total = nd + (dec.sticky ? 1 : 0);
  for (int i = 0; i < total; ++i) {
    chunk = chunk * 10 + uint32_t(i < nd ? t.next() : 1);
    if (++chunk_n == 9 || i == total - 1) {
      a.mul_pow10(chunk_n);
      a.add(chunk);
      chunk = 0;
      chunk_n = 0;
    }
  }
  if (dec.sticky) {
    ++nd;
    --e10;
  }
  const int64_t mag = nd + e10;  // 10^(mag-1) <= value < 10^mag
  if (mag > f.dec_max) {
    erange = true;
    return f.inf();
  }
  if (mag < f.dec_min) {
    erange = true;
    return 0;
  }
  // value = a/b exactly, then a/b scaled into [1, 2) by 2^b2.
  b.set(1);
  if (e10 > 0) a.mul_pow10(int(e10)); else b.mul_pow10(int(-e10));
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
  return round_bits(q, !a.is_zero(), b2, f, erange);
}

uint64_t hex_bits(const Decimal &dec, const Layout &f, bool &erange) {
  if (dec.hex == 0) return 0;
  const int len = 64 - __builtin_clzll(dec.hex);
  uint64_t q = dec.hex;
  bool sticky = dec.sticky;
  if (len > 55) {
    sticky |= (q & ((uint64_t(1) << (len - 55)) - 1)) != 0;
    q >>= len - 55;
  } else {
    q <<= 55 - len;
  }
  int64_t b2 = dec.e2 + len - 1;
  if (b2 > 100000) b2 = 100000;  // both clamps far past any range
  if (b2 < -100000) b2 = -100000;
  return round_bits(q, sticky, b2, f, erange);
}

// Longest exact expansion of a halfway point: 2^-1075 has 1075 places.
constexpr int kMaxExpansion = 1100;

// Sign of (the text's value - m * 2^e), exactly.
__attribute__((noinline)) int cmp_text(const Decimal &dec, uint64_t m, int e) {
  if (m == 0) return 1;
  Digits g;
  g.start(m, e);
  const int64_t lead = dec.nd - 1 + dec.e10;  // place of the first digit
  if (lead != g.k) return lead > g.k ? 1 : -1;
  TextDigits t{dec.first, dec.point_seen};
  for (int i = 0; i < kMaxExpansion && !(g.held < 0 && g.r.is_zero()); ++i) {
    const int a = t.next(), b = g.next();
    if (a != b) return a > b ? 1 : -1;  // a text that ends (-1) is below
  }
  for (int a = t.next(); a >= 0; a = t.next())
    if (a != 0) return 1;
  return 0;
}

// m * 2^e of magnitude bits `bits`; inf decodes as 2^(emax+1).
void decode(uint64_t bits, const Layout &f, uint64_t &m, int &e) {
  const int be = int(bits >> f.frac());
  m = bits & ((uint64_t(1) << f.frac()) - 1);
  if (be != 0) m |= uint64_t(1) << f.frac();
  e = (be != 0 ? be : 1) - f.emax - f.frac();
}

// Sign of (text - the point halfway between magnitudes lo and lo+1).
int cmp_halfway(const Decimal &dec, uint64_t lo, const Layout &f) {
  uint64_t ma, mb;
  int ea, eb;
  decode(lo, f, ma, ea);
  decode(lo + 1, f, mb, eb);
  if (eb > ea) mb <<= 1;  // lo+1 starts a binade
  return cmp_text(dec, ma + mb, ea - 1);
}

// With digits past kMaxDigits the text lies strictly between its first 40
// digits and the next 40-digit number, and `bits` is right for some point
// in that gap. One halfway point at most can fall inside it (the gap is far
// narrower than an ulp); compare the text with the two around `bits`.
uint64_t refine(const Decimal &dec, uint64_t bits, const Layout &f, bool &erange) {
  const uint64_t inf = f.inf();
  int c;
  if (bits > 0 && (c = cmp_halfway(dec, bits - 1, f)) <= 0) {
    if (c < 0 || (bits & 1) != 0) --bits;
  } else if (bits < inf && (c = cmp_halfway(dec, bits, f)) >= 0) {
    if (c > 0 || (bits & 1) != 0) ++bits;
  }
  const uint64_t min_normal = uint64_t(1) << f.frac();
  if (bits == inf) {
    erange = true;
  } else if (bits < min_normal) {
    uint64_t m;
    int e;
    decode(bits, f, m, e);
    erange = cmp_text(dec, m, e) != 0;
  } else if (bits == min_normal) {
    // Tiny unless it would round up to 2^emin at full precision too.
    const int fs = f.mant + 1;
    erange = cmp_text(dec, (uint64_t(1) << fs) - 1, f.emin - fs) < 0;
  } else {
    erange = false;
  }
  return bits;
}

// Stack on the chip: 632 bytes from fmt_strtod down, through decimal_bits;
// refine's path is shallower.
uint64_t parse(const char *s, char **end, const Layout &f) {
  Decimal dec;
  const char *stop = scan(s, dec);
  if (end != nullptr) *end = const_cast<char *>(stop != nullptr ? stop : s);
  if (stop == nullptr) return 0;
  const uint64_t sign = uint64_t(dec.neg ? 1 : 0) << (f.mant == 53 ? 63 : 31);
  bool erange = false;
  uint64_t bits;
  switch (dec.kind) {
    case Kind::inf: bits = f.inf(); break;
    case Kind::nan: bits = f.inf() | (uint64_t(1) << (f.frac() - 1)); break;
    case Kind::hex: bits = hex_bits(dec, f, erange); break;
    default:
      bits = decimal_bits(dec, f, erange);
      if (dec.sticky) bits = refine(dec, bits, f, erange);
      break;
  }
  if (erange) errno = ERANGE;
  return sign | bits;
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
