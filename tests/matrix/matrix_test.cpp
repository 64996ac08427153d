// The matrix library from outside: arithmetic and the order of its sums, the inversion's pivot
// rule, sharing and copy on write, shapes, and the fatal misuses.
#include <utility>

#include "tests/matrix/matrix_literal.h"

namespace {

using Values = std::vector<double>;

// The inverse of (2, 1; 4, 3), (1.5, -0.5; -2, 1): its rows were exchanged by pointer, so they
// no longer lie in storage order and every copy must walk the row pointers.
matrix<double> ExchangedRows() {
  return !M({{2, 1}, {4, 3}});
}

TEST(Matrix, ArithmeticTransposeIdentity4AndColumn3) {
  // Products sum from 0 in ascending order.
  const matrix<double> a = M({{1, 2}, {3, 4}}), b = M({{10, 20}, {30, 40}});
  EXPECT_EQ(Elements(a + b), (Values{11, 22, 33, 44}));
  EXPECT_EQ(Elements(b - a), (Values{9, 18, 27, 36}));
  EXPECT_EQ(Elements(a * b), (Values{70, 100, 150, 220}));
  EXPECT_EQ(Elements(2.0 * a), (Values{2, 4, 6, 8}));
  EXPECT_TRUE(SameMatrix(M({{1, 2, 3}}) * V({4, 5, 6}), M({{32}})));
  EXPECT_TRUE(SameMatrix(V({1, 2}) * M({{3, 4, 5}}), M({{3, 4, 5}, {6, 8, 10}})));
  EXPECT_TRUE(SameMatrix(matrix<double>(2, 0) * matrix<double>(0, 1), V({0, 0})));
  // (0 + 1e16) + 1 rounds back to 1e16, then - 1e16 gives 0; any other order gives 1 or 2. And
  // from +0.0 a lone -0.0 product gives +0.0.
  EXPECT_TRUE(SameMatrix(M({{1e16, 1, -1e16}}) * V({1, 1, 1}), M({{0}})));
  EXPECT_TRUE(SameMatrix(M({{-0.0}}) * V({1}), M({{0}})));

  EXPECT_TRUE(SameMatrix(Transpose(M({{1, 2}, {3, 4}, {5, 6}})), M({{1, 3, 5}, {2, 4, 6}})));
  EXPECT_TRUE(SameMatrix(Identity4(), M({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}})));
  // Rows 0..2 of a column, read through the modifiable access: a shared source is detached.
  matrix<double> t = M({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {0, 0, 0, 1}});
  const matrix<double> other = t;
  EXPECT_TRUE(SameMatrix(Column3(t, 1), V({2, 6, 10})));
  EXPECT_FALSE(t.SharesWith(other));
}

TEST(Matrix, InversesFollowThePivotRuleToTheLastBit) {
  const struct {
    const char* name;
    matrix<double> m;
    Values expected;
  } cases[] = {
      {"empty", matrix<double>(0, 0), {}},
      {"scalar", M({{-2}}), {-0.5}},
      {"exchange", M({{0, 1}, {1, 0}}), {0, 1, 1, 0}},
      // The largest magnitude in column 0 (3) is the pivot: the result is the correctly rounded
      // inverse, one bit of which the first non-zero pivot (-1) misses.
      {"largest pivot", M({{-1, 2}, {3, 1}}), {-1.0 / 7, 2.0 / 7, 3.0 / 7, 1.0 / 7}},
      // Equal magnitudes: the upper row keeps the pivot; the lower one gives 1/6 a bit too large.
      {"tie keeps the upper row", M({{3, -1}, {-3, 3}}), {0.5, 1.0 / 6, 0.5, 0.5}},
      {"near singular, no message",
       M({{1, 1}, {1, 1 + 0x1p-52}}),
       {0x1p52 + 1, -0x1p52, -0x1p52, 0x1p52}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Values before = Elements(c.m);
    EXPECT_EQ(Elements(!c.m), c.expected);
    matrix<double> tried;
    EXPECT_TRUE(TryInverse(c.m, tried));
    EXPECT_EQ(Elements(tried), c.expected);
    EXPECT_EQ(Elements(c.m), before);
    EXPECT_EQ(c.m.HolderCount(), 1);
  }
  // A singular matrix (its second pivot column exactly zero) is said to be, and nothing is set.
  matrix<double> kept = M({{7}});
  EXPECT_FALSE(TryInverse(M({{1, 2}, {2, 4}}), kept));
  EXPECT_EQ(Elements(kept), Values{7});
}

TEST(Matrix, CopiesShareUntilAWriteOrAModifiableReadDetachesTheWriter) {
  matrix<double> a = M({{1, 2}, {3, 4}});
  matrix<double> b = a;
  EXPECT_EQ(a.HolderCount(), 2);
  EXPECT_EQ(std::as_const(b)(1, 1), 4);
  EXPECT_TRUE(a.SharesWith(b));  // the read-only access never detaches
  EXPECT_EQ(b(1, 1), 4);         // the modifiable one does, even for a read
  EXPECT_FALSE(a.SharesWith(b));
  b(0, 0) = 9;
  EXPECT_EQ(Elements(a), (Values{1, 2, 3, 4}));
  // Assignment gains before it releases: between sharers, and to itself, nothing is freed.
  a = a;
  b = a;
  a = b;
  EXPECT_EQ(a.HolderCount(), 2);
  EXPECT_EQ(Elements(b), (Values{1, 2, 3, 4}));
}

TEST(Matrix, InPlaceOperationsNeverReachTheOtherHolder) {
  const struct {
    const char* name;
    void (*apply)(matrix<double>& m, const matrix<double>& other);
    Values expected;
  } cases[] = {
      {"+= itself", [](auto& m, auto&) { m += m; }, {3, -1, -4, 2}},
      {"+= the other", [](auto& m, auto& o) { m += o; }, {3, -1, -4, 2}},
      {"-= itself", [](auto& m, auto&) { m -= m; }, {0, 0, 0, 0}},
      {"*= itself", [](auto& m, auto&) { m *= m; }, {3.25, -1.25, -5, 2}},
      {"*= 2", [](auto& m, auto&) { m *= 2.0; }, {3, -1, -4, 2}},
      {"SetZero", [](auto& m, auto&) { m.SetZero(); }, {0, 0, 0, 0}},
      {"SetIdentity", [](auto& m, auto&) { m.SetIdentity(); }, {1, 0, 0, 1}},
      {"Resize", [](auto& m, auto&) { m.Resize(2, 2); }, {1.5, -0.5, -2, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    matrix<double> a = ExchangedRows();
    const matrix<double> b = a;
    c.apply(a, b);
    EXPECT_EQ(Elements(a), c.expected);
    EXPECT_EQ(Elements(b), (Values{1.5, -0.5, -2, 1}));
    EXPECT_EQ(b.HolderCount(), 1);
  }
}

TEST(Matrix, ResizeKeepsTheTopLeftOfTheLogicalShapeAndZeroesTheRest) {
  matrix<double> m = M({{7, 7, 7}, {7, 7, 7}});
  m.SetIdentity();
  EXPECT_TRUE(SameMatrix(m, M({{1, 0}, {0, 1}})));
  m.Resize(2, 3);  // back to the allocation: the hidden third column reads 0, not 7
  EXPECT_TRUE(SameMatrix(m, M({{1, 0, 0}, {0, 1, 0}})));
  const struct {
    uint32_t rows, cols;
    Values expected;
  } cases[] = {{3, 3, {1.5, -0.5, 0, -2, 1, 0, 0, 0, 0}},
               {2, 1, {1.5, -2}},
               {1, 3, {1.5, -0.5, 0}},
               {0, 0, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << "x" << c.cols);
    matrix<double> r = ExchangedRows();
    r.Resize(c.rows, c.cols);
    EXPECT_EQ(r.RowCount(), c.rows);
    EXPECT_EQ(r.ColCount(), c.cols);
    EXPECT_EQ(Elements(r), c.expected);
  }
}

TEST(Matrix, MisuseEndsTheProcessWithStatus1AndOneLineOnStandardOutput) {
  matrix<double> a(2, 3), b(3, 2), small(2, 2);
  const matrix<double> singular = M({{1, 2}, {2, 4}});
  const char* const index = "matrix<T>::operator(): Index out of range!";
  EXPECT_FATAL(a(2, 0) = 1.0, index);
  EXPECT_FATAL(std::printf("%g", std::as_const(a)(0, static_cast<uint32_t>(-1))), index);
  EXPECT_FATAL(Column3(small, 0), index);
  EXPECT_FATAL(a + b, "matrix<T>::operator+= : Inconsistent matrix sizes in addition!");
  EXPECT_FATAL(a -= b, "matrix<T>::operator-= : Inconsistent matrix sizes in subtraction!");
  EXPECT_FATAL(a * a, "matrix<T>::operator*= : Inconsistent matrix sizes in multiplication!");
  EXPECT_FATAL(!a, "matrix<T>::operator!: Inversion of a non-square matrix");
  EXPECT_FATAL(!singular, "matrix<T>::operator!: Inversion of a singular matrix");
}

}  // namespace
