/* glibc's sin, cos, atan2 and pow on a few million arguments, hashed function by function, with
   a hard case of pow's (its exact value a hair from halfway between two doubles) printed whole.
   Built natively against the machine's libm and with Emscripten against the page's copy of
   glibc's functions by tests/web/engine.test.mjs, which wants the two outputs equal. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static uint64_t state = 0x12345678abcdefull;
static double uniform(double lo, double hi) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return lo + (hi - lo) * ((double)(state >> 11) * 0x1p-53);
}

static uint64_t hash[5] = {0xcbf29ce484222325ull, 0xcbf29ce484222325ull, 0xcbf29ce484222325ull,
                           0xcbf29ce484222325ull, 0xcbf29ce484222325ull};
static void mix(int k, double v) {
  uint64_t u;
  memcpy(&u, &v, sizeof u);
  hash[k] = (hash[k] ^ u) * 0x100000001b3ull;
}

int main(void) {
  for (int i = 0; i < 3000000; ++i) {
    const double x = i % 3 == 0   ? uniform(-1, 1)
                     : i % 3 == 1 ? uniform(-10, 10)
                                  : uniform(-1e4, 1e4);
    mix(0, sin(x));
    mix(1, cos(x));
    mix(2, atan2(x, uniform(-3, 3)));
    const double base = uniform(1e-6, 10), exponent = uniform(-5, 5);
    mix(3, pow(base, exponent));
    /* The step size's powers: an error to a fixed power. */
    mix(4, pow(fabs(x) + 1e-3, -0.2));
  }
  printf("sin %016llx\ncos %016llx\natan2 %016llx\npow %016llx\npow(e, -0.2) %016llx\n",
         (unsigned long long)hash[0], (unsigned long long)hash[1], (unsigned long long)hash[2],
         (unsigned long long)hash[3], (unsigned long long)hash[4]);
  /* volatile: computed by the library, not by the compiler. */
  volatile double base = 0x1.279dccf68c1c2p+3, exponent = -0x1.31dbd5ce51844p+1;
  printf("pow(%a, %a) = %a\n", base, exponent, pow(base, exponent));
  return 0;
}
