/* velmoth_fma against the C library's fma, bit for bit, on cases from every exponent range and on
   the hard ones: results at a tie between two doubles, sums that cancel, tiny and huge terms.
   Prints the first case that differs, or "N cases agree". Built with Emscripten by
   tests/web/engine.test.mjs. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

double velmoth_fma(double a, double b, double c);

static uint64_t state = 0x9e3779b97f4a7c15ull;
static uint64_t next(void) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

/* A double with a random significand and sign and an exponent in [lo, hi]. */
static double number(int lo, int hi) {
  const uint64_t r = next();
  const int e = lo + (int)(next() % (uint64_t)(hi - lo + 1));
  return ldexp(1.0 + (double)(r >> 12) * 0x1p-52, e) * ((r & 1) ? -1.0 : 1.0);
}

static int same(double x, double y) {
  uint64_t u, v;
  memcpy(&u, &x, 8);
  memcpy(&v, &y, 8);
  return u == v;
}

/* x with the last bit of its significand cleared. */
static double from_bits_even(double x) {
  uint64_t u;
  memcpy(&u, &x, 8);
  u &= ~(uint64_t)1;
  memcpy(&x, &u, 8);
  return x;
}

static long cases = 0;
static int check(double a, double b, double c) {
  ++cases;
  const double want = fma(a, b, c), got = velmoth_fma(a, b, c);
  if (!same(want, got)) {
    printf("fma(%a, %a, %a) = %a, velmoth_fma gives %a\n", a, b, c, want, got);
    return 0;
  }
  return 1;
}

int main(void) {
  const int ranges[][2] = {{-3, 3}, {-60, 60}, {-460, 460}, {-1074, 1023}};
  for (int k = 0; k < 2000000; ++k) {
    const int *ra = ranges[k % 4], *rc = ranges[(k / 4) % 4];
    const double a = number(ra[0], ra[1]), b = number(ra[0], ra[1]);
    /* c at random, at the product's size, cancelling it, or a few ulps beside it. */
    double c = number(rc[0], rc[1]);
    if (k % 5 == 1)
      c = a * b * number(-2, 2);
    if (k % 5 == 2)
      c = -(a * b);
    if (k % 5 == 3)
      c = -(a * b) * (1.0 + (double)(int)(next() % 9 - 4) * 0x1p-52);
    if (!check(a, b, c))
      return 1;
    /* Double rounding: c + a * b a hair above the tie between c (even) and the double after it, the
       hair being the product's low half, which a sum rounded twice loses. */
    {
      const int i = (int)(next() % 200) - 100, j = (int)(next() % 200) - 100;
      const double m = from_bits_even(1.0 + (double)(next() >> 12) * 0x1p-52);
      const double sign = (next() & 1) ? -1.0 : 1.0;
      const double x = ldexp(1.0 - 0x1p-53, i), y = ldexp(1.0 + 0x1p-52, j - 53);
      if (!check(sign * x, y, sign * ldexp(m, i + j)) ||
          !check(y, sign * x, sign * ldexp(m, i + j))) {
        return 1;
      }
    }
    /* Zero factors and zero addends, with products that underflow among them. */
    if (!check(0.0, b, c) || !check(a, -0.0, c) || !check(a, b, 0.0) || !check(a, b, -0.0) ||
        !check(-0.0, b, 0.0) || !check(0.0, -b, -0.0)) {
      return 1;
    }
    /* Sums beside a power of two, where the doubles below lie twice as close: a product near the
       halfway point below 2^k or above it, a few ulps either side. */
    {
      const int k = (int)(next() % 400) - 200;
      const double sign = (next() & 1) ? -1.0 : 1.0;
      const double x = ldexp(1.0 + (double)(next() % 16) * 0x1p-52, k - 54);
      const double y = 1.0 - (double)(next() % 16) * 0x1p-53;
      if (!check(sign * x, -y, sign * ldexp(1.0, k)) ||
          !check(sign * x, 2.0 * y, sign * ldexp(1.0, k))) {
        return 1;
      }
    }
    /* Ties: short significands whose product needs one bit more than a double has, with c making
       the exact sum fall halfway between two doubles. */
    const double sa = ldexp((double)(next() >> 37 | 1), -27),
                 sb = ldexp((double)(next() >> 37 | 1), -26);
    const double p = sa * sb;
    if (!check(sa, sb, -p + ldexp(1.0, -60)) || !check(sa, sb, ldexp(1.0, (int)(next() % 60))) ||
        !check(sa, sb, -p) || !check(-sa, sb, p * 0x1p-53)) {
      return 1;
    }
  }
  const double special[] = {0.0,       -0.0,     INFINITY, -INFINITY, NAN,
                            0x1p-1074, 0x1p1023, 1.0,      -1.0,      0x1.fffffffffffffp1023};
  const int n = sizeof special / sizeof special[0];
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k)
        if (!(isnan(fma(special[i], special[j], special[k])) &&
              isnan(velmoth_fma(special[i], special[j], special[k]))) &&
            !check(special[i], special[j], special[k]))
          return 1;
  printf("%ld cases agree\n", cases);
  return 0;
}
