/* a * b + c rounded once, as x86-64's fused multiply-add computes it, for glibc's functions built
   for WebAssembly (which has no fused instruction): build-deps.sh makes every multiply-add that
   glibc's x86-64 build fuses a call of velmoth_fma.

   Boldo and Melquiond's emulation ("Emulation of FMA and correctly rounded sums: proved algorithms
   using rounding to odd", IEEE Trans. Computers 57(4), 2008, algorithm 5.4): the product split
   exactly into uh + ul (Dekker's product with Veltkamp's splitting), c + uh exactly into th + tl
   (Knuth's TwoSum), then RN(th + RO(tl + ul)) with RO rounding to odd. It holds while nothing
   overflows or underflows; arguments outside the range where that is sure (and zeros, infinities
   and NaNs) go to the C library's fma, which is exact everywhere but some ten times slower.

   Ahead of it, a floating-point filter decides most calls from the multiply and the add alone, as
   adaptive exact predicates do: with p = RN(a b) and s = RN(p + c), the exact a b + c is
   s + r + e, r the sum's error (TwoSum, exact) and |e| <= ulp(p) / 2 <= 2^-53 |p| the product's.
   Wherever |r| + 2^-53 |p| stays below the distance from s to the nearest point halfway to
   another double, a b + c lies inside the interval that rounds to s, so s is the fused result.
   Where a small product is added to a larger term, as in glibc's polynomials, the filter all but
   always holds; where the product outweighs the addend, the emulation decides. */
#include <math.h>
#include <stdint.h>
#include <string.h>

static uint64_t bits(double x) {
  uint64_t u;
  memcpy(&u, &x, sizeof u);
  return u;
}

static double from_bits(uint64_t u) {
  double x;
  memcpy(&x, &u, sizeof x);
  return x;
}

/* The biased exponent of x. */
static int exponent(double x) {
  return (int)((bits(x) >> 52) & 0x7ff);
}

__attribute__((always_inline)) double velmoth_fma(double a, double b, double c) {
  const double p = a * b;
  /* A zero factor: the product is an exact zero (or a NaN, as the fused one), and the one
     rounding is the sum's. */
  if (a == 0.0 || b == 0.0) {
    return p + c;
  }
  const int ep = exponent(p);
  /* A zero addend and a normal product: the fused result is the product rounded once. */
  if (c == 0.0 && ep != 0 && ep != 0x7ff) {
    return p;
  }
  /* The filter, for p and s = p + c normal and far from both ends of the range (r exact, 2^-53 |p|
     exact and not below ulp(p) / 2). */
  const double s = p + c;
  const int es = exponent(s);
  if (ep >= 1023 - 900 && ep < 1023 + 900 && es >= 1023 - 900 && es < 1023 + 900) {
    /* r = p + c - s exactly (Knuth's TwoSum). */
    const double pv = s - c;
    const double r = (p - pv) + (c - (s - pv));
    /* The halfway points beside s: ulp(s) / 2 away, or ulp(s) / 4 below a power of two, where
       the doubles below lie twice as close. */
    const double ulp = from_bits((uint64_t)(es - 52) << 52);
    const double d = (bits(s) & 0xfffffffffffffull) == 0 ? 0.25 * ulp : 0.5 * ulp;
    /* Rounding is monotonic and d a double: the rounded sum below d puts the exact one below. */
    if (fabs(r) + 0x1p-53 * fabs(p) < d) {
      return s;
    }
  }
  /* |a|, |b| in [2^-450, 2^450), c zero or |c| in [2^-900, 2^900): the product's halves, the
     sums and their errors are all normal numbers, and no splitting overflows. */
  const int ea = exponent(a), eb = exponent(b), ec = exponent(c);
  if (ea < 1023 - 450 || ea >= 1023 + 450 || eb < 1023 - 450 || eb >= 1023 + 450 ||
      (c != 0.0 && (ec < 1023 - 900 || ec >= 1023 + 900))) {
    return fma(a, b, c);
  }
  /* uh + ul = a * b exactly. */
  const double split = 134217729.0; /* 2^27 + 1 */
  const double ca = split * a, cb = split * b;
  const double ah = ca - (ca - a), al = a - ah;
  const double bh = cb - (cb - b), bl = b - bh;
  const double uh = a * b;
  const double ul = ((ah * bh - uh) + ah * bl + al * bh) + al * bl;
  /* th + tl = c + uh exactly. */
  const double th = c + uh;
  const double cv = th - uh;
  const double tl = (c - cv) + (uh - (th - cv));
  /* v = RO(tl + ul): the sum rounded to nearest, moved one ulp towards the exact sum when it is
     inexact and its last bit is even, so that the last bit tells it was inexact. */
  double v = tl + ul;
  const double vv = v - ul;
  const double e = (tl - vv) + (ul - (v - vv));
  if (e != 0.0 && (bits(v) & 1) == 0) {
    /* Towards e: a larger magnitude when e has v's sign, a smaller one otherwise (v is not 0
       here: a sum that rounds to 0 is exact). */
    const int away = (e > 0.0) == (v > 0.0);
    v = from_bits(away ? bits(v) + 1 : bits(v) - 1);
  }
  return th + v;
}
