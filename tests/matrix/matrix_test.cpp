// The matrix library from outside: arithmetic and the order of its sums, the inversion's pivot
// rule, sharing and copy on write, shapes, and the fatal misuses.
#include <utility>

#include "tests/matrix/matrix_literal.h"

namespace {

using Values = std::vector<double>;
using Mat = matrix<double>;

TEST(Matrix, ArithmeticTransposeIdentity4AndColumn3) {
  const Mat a = M({{1, 2}, {3, 4}}), b = M({{10, 20}, {30, 40}});
  EXPECT_TRUE(SameMatrix(a + b, M({{11, 22}, {33, 44}})));
  EXPECT_TRUE(SameMatrix(b - a, M({{9, 18}, {27, 36}})));
  EXPECT_TRUE(SameMatrix(a * b, M({{70, 100}, {150, 220}})));
  EXPECT_TRUE(SameMatrix(2.0 * a, M({{2, 4}, {6, 8}})));
  EXPECT_TRUE(SameMatrix(M({{1, 2, 3}}) * V({4, 5, 6}), M({{32}})));
  EXPECT_TRUE(SameMatrix(V({1, 2}) * M({{3, 4, 5}}), M({{3, 4, 5}, {6, 8, 10}})));
  EXPECT_TRUE(SameMatrix(Mat(2, 0) * Mat(0, 1), V({0, 0})));
  // Products sum from 0 in ascending order: (0 + 1e16) + 1 rounds back to 1e16, then - 1e16 gives
  // 0, where any other order gives 1 or 2; and from +0.0 a lone -0.0 product gives +0.0.
  EXPECT_TRUE(SameMatrix(M({{1e16, 1, -1e16}}) * V({1, 1, 1}), M({{0}})));
  EXPECT_TRUE(SameMatrix(M({{-0.0}}) * V({1}), M({{0}})));
  EXPECT_TRUE(SameMatrix(Transpose(M({{1, 2}, {3, 4}, {5, 6}})), M({{1, 3, 5}, {2, 4, 6}})));
  EXPECT_TRUE(SameMatrix(Identity4(), M({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}})));
  // Rows 0..2 of a column, read through the modifiable access: a shared source is detached.
  Mat t = M({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {0, 0, 0, 1}});
  const Mat other = t;
  EXPECT_TRUE(SameMatrix(Column3(t, 1), V({2, 6, 10})));
  EXPECT_FALSE(t.SharesWith(other));
}

TEST(Matrix, InversesFollowThePivotRuleToTheLastBit) {
  const struct {
    const char* name;
    Mat m;
    Values expected;
  } cases[] = {
      {"empty", Mat(0, 0), {}},
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
    Mat tried;
    EXPECT_TRUE(TryInverse(c.m, tried));
    EXPECT_EQ(Elements(tried), c.expected);
    EXPECT_EQ(Elements(c.m), before);
    EXPECT_EQ(c.m.HolderCount(), 1);
  }
  // A singular matrix (its second pivot column exactly zero) is said to be, and nothing is set.
  Mat kept = M({{7}});
  EXPECT_FALSE(TryInverse(M({{1, 2}, {2, 4}}), kept));
  EXPECT_EQ(Elements(kept), Values{7});
}

TEST(Matrix, CopiesShareUntilAWriteOrAModifiableReadDetachesTheWriter) {
  Mat a = M({{1, 2}, {3, 4}});
  Mat b = a;
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

// Each operation on one of two holders of the inverse of (2, 1; 4, 3), (1.5, -0.5; -2, 1), whose
// rows were exchanged by pointer, so that they no longer lie in storage order and every copy must
// walk the row pointers: the other holder keeps its elements and is left alone. A resize keeps the
// top left of the logical shape and zeroes the rest.
TEST(Matrix, InPlaceOperationsAndResizesNeverReachTheOtherHolder) {
  const struct {
    const char* name;
    void (*apply)(Mat& m, const Mat& other);
    Mat expected;
  } cases[] = {
      {"+= itself", [](auto& m, auto&) { m += m; }, M({{3, -1}, {-4, 2}})},
      {"+= the other", [](auto& m, auto& o) { m += o; }, M({{3, -1}, {-4, 2}})},
      {"-= itself", [](auto& m, auto&) { m -= m; }, M({{0, 0}, {0, 0}})},
      {"*= itself", [](auto& m, auto&) { m *= m; }, M({{3.25, -1.25}, {-5, 2}})},
      {"*= 2", [](auto& m, auto&) { m *= 2.0; }, M({{3, -1}, {-4, 2}})},
      {"SetZero", [](auto& m, auto&) { m.SetZero(); }, M({{0, 0}, {0, 0}})},
      {"SetIdentity", [](auto& m, auto&) { m.SetIdentity(); }, M({{1, 0}, {0, 1}})},
      {"Resize 2x2", [](auto& m, auto&) { m.Resize(2, 2); }, M({{1.5, -0.5}, {-2, 1}})},
      {"Resize 3x3", [](auto& m, auto&) { m.Resize(3, 3); },
       M({{1.5, -0.5, 0}, {-2, 1, 0}, {0, 0, 0}})},
      {"Resize 2x1", [](auto& m, auto&) { m.Resize(2, 1); }, V({1.5, -2})},
      {"Resize 1x3", [](auto& m, auto&) { m.Resize(1, 3); }, M({{1.5, -0.5, 0}})},
      {"Resize 0x0", [](auto& m, auto&) { m.Resize(0, 0); }, Mat(0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Mat a = !M({{2, 1}, {4, 3}});
    const Mat b = a;
    c.apply(a, b);
    EXPECT_TRUE(SameMatrix(a, c.expected));
    EXPECT_TRUE(SameMatrix(b, M({{1.5, -0.5}, {-2, 1}})));
    EXPECT_EQ(b.HolderCount(), 1);
  }
  // Back to the allocation after a shrink: the hidden third column reads 0, not 7.
  Mat m = M({{7, 7, 7}, {7, 7, 7}});
  m.SetIdentity();
  EXPECT_TRUE(SameMatrix(m, M({{1, 0}, {0, 1}})));
  m.Resize(2, 3);
  EXPECT_TRUE(SameMatrix(m, M({{1, 0, 0}, {0, 1, 0}})));
}

TEST(Matrix, MisuseEndsTheProcessWithStatus1AndOneLineOnStandardOutput) {
  Mat a(2, 3), b(3, 2), small(2, 2);
  const Mat singular = M({{1, 2}, {2, 4}});
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
