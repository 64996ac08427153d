// Gauss-Jordan inversion: pivot choice, exact results, and the operand left untouched.
#include <cmath>

#include <gtest/gtest.h>

#include "tests/matrix/matrix_literal.h"

namespace {

TEST(MatrixInverse, KnownInverses) {
  struct Case {
    const char* name;
    matrix<double> m;
    std::vector<double> expected;
  };
  const Case cases[] = {
      {"empty", matrix<double>(0, 0), {}},
      {"scalar", M({{-2}}), {-0.5}},
      {"exchange", M({{0, 1}, {1, 0}}), {0, 1, 1, 0}},
      // Equal magnitudes in column 0: row 0 keeps the pivot; the result is (3, -5; 1, 1) / 8.
      {"equal magnitude pivot", M({{1, 5}, {-1, 3}}), {3.0 / 8, -5.0 / 8, 1.0 / 8, 1.0 / 8}},
      {"diagonal", M({{2, 0, 0}, {0, 4, 0}, {0, 0, 8}}), {0.5, 0, 0, 0, 0.25, 0, 0, 0, 0.125}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const matrix<double> inv = !c.m;
    EXPECT_EQ(inv.RowCount(), c.m.RowCount());
    EXPECT_EQ(Elements(inv), c.expected);
  }
}

TEST(MatrixInverse, PivotIsTheLargestMagnitudeAndTheResultIsExact) {
  // Partial pivoting picks row 2 (|-4|) first; the product with the original is the identity.
  const matrix<double> m = M({{1, 2, 0}, {2, 1, 3}, {-4, 0, 1}});
  const matrix<double> inv = !m;
  const matrix<double> p = m * inv;
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      EXPECT_NEAR(p(i, j), i == j ? 1.0 : 0.0, 1e-15);
    }
  }
}

TEST(MatrixInverse, NearSingularIsInvertedWithoutAMessage) {
  const double e = std::ldexp(1.0, -52);
  const matrix<double> inv = !M({{1, 1}, {1, 1 + e}});
  for (double v : Elements(inv)) {
    EXPECT_GT(std::fabs(v), 4.4e15);
    EXPECT_LT(std::fabs(v), 4.6e15);
  }
}

TEST(MatrixInverse, OperandIsNeverWritten) {
  matrix<double> m = M({{0, 2}, {3, 0}});
  EXPECT_EQ(m.HolderCount(), 1);
  const matrix<double> inv = !m;
  EXPECT_EQ(Elements(m), (std::vector<double>{0, 2, 3, 0}));
  EXPECT_EQ(m.HolderCount(), 1);
  EXPECT_EQ(Elements(inv), (std::vector<double>{0, 1.0 / 3, 0.5, 0}));
}

}  // namespace
