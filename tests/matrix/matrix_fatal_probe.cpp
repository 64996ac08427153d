// Provokes one misuse of matrix<double>, named by the first argument, so that a test can watch
// the message on standard output and the exit status. Prints "survived" if nothing was fatal.
#include <cstdio>
#include <cstring>

#include "matrix/matrix.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  const char* which = argv[1];
  matrix<double> a(2, 3);
  a.SetZero();
  matrix<double> b(3, 2);
  b.SetZero();
  if (std::strcmp(which, "index") == 0) {
    a(2, 0) = 1.0;
  } else if (std::strcmp(which, "negative-index") == 0) {
    const matrix<double>& c = a;
    std::printf("%g\n", c(0, static_cast<uint32_t>(-1)));
  } else if (std::strcmp(which, "add") == 0) {
    (void)(a + b);
  } else if (std::strcmp(which, "subtract") == 0) {
    a -= b;
  } else if (std::strcmp(which, "multiply") == 0) {
    (void)(a * a);
  } else if (std::strcmp(which, "non-square") == 0) {
    (void)!a;
  } else if (std::strcmp(which, "singular") == 0) {
    matrix<double> s(2, 2);
    s(0, 0) = 1.0;
    s(0, 1) = 2.0;
    s(1, 0) = 2.0;
    s(1, 1) = 4.0;
    (void)!s;
  } else if (std::strcmp(which, "column3") == 0) {
    matrix<double> m(2, 2);
    m.SetZero();
    (void)Column3(m, 0);
  } else {
    return 2;
  }
  std::printf("survived\n");
  return 0;
}
