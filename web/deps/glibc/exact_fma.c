/* a * b + c rounded once, as x86-64's fused multiply-add computes it, for glibc's functions built
   for WebAssembly (which has no fused instruction): build-deps.sh makes every multiply-add that
   glibc's x86-64 build fuses a call of velmoth_fma.

   Boldo and Melquiond's emulation ("Emulation of FMA and correctly rounded sums: proved algorithms
   using rounding to odd", IEEE Trans. Computers 57(4), 2008, algorithm 5.4): the product split
   exactly into uh + ul (Dekker's product with Veltkamp's splitting), c + uh exactly into th + tl
   (Knuth's TwoSum), then RN(th + RO(tl + ul)) with RO rounding to odd. It holds while nothing
   overflows or underflows; arguments outside the range where that is sure (and zeros, infinities
   and NaNs) go to the C library's fma, which is exact everywhere but some ten times slower. */
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
