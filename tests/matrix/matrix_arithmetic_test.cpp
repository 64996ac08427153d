// Arithmetic results, shapes, and the summation order of the product.
#include <cmath>

#include <gtest/gtest.h>

#include "tests/matrix/matrix_literal.h"

namespace {

TEST(MatrixArithmetic, ValueFormsLeaveTheirOperandsUnchanged) {
  const matrix<double> a = M({{1, 2}, {3, 4}});
  const matrix<double> b = M({{10, 20}, {30, 40}});
  EXPECT_EQ(Elements(a + b), (std::vector<double>{11, 22, 33, 44}));
  EXPECT_EQ(Elements(b - a), (std::vector<double>{9, 18, 27, 36}));
  EXPECT_EQ(Elements(a * b), (std::vector<double>{70, 100, 150, 220}));
  EXPECT_EQ(Elements(2.0 * a), Elements(a * 2.0));
  EXPECT_EQ(Elements(a * 0.0), (std::vector<double>{0, 0, 0, 0}));
  EXPECT_EQ(Elements(a), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(Elements(b), (std::vector<double>{10, 20, 30, 40}));
}

TEST(MatrixArithmetic, ProductShapes) {
  const matrix<double> row = M({{1, 2, 3}});
  const matrix<double> col = V({4, 5, 6});
  const matrix<double> dot = row * col;
  EXPECT_EQ(dot.RowCount(), 1u);
  EXPECT_EQ(dot.ColCount(), 1u);
  EXPECT_EQ(dot(0, 0), 32);
  const matrix<double> outer = col * row;
  EXPECT_EQ(Elements(outer), (std::vector<double>{4, 8, 12, 5, 10, 15, 6, 12, 18}));
  matrix<double> wide(2, 3);
  wide.SetZero();
  matrix<double> tall(3, 4);
  tall.SetZero();
  EXPECT_EQ((wide * tall).RowCount(), 2u);
  EXPECT_EQ((wide * tall).ColCount(), 4u);
  // An empty inner dimension gives zeros of the outer shape.
  EXPECT_EQ(Elements(matrix<double>(2, 0) * matrix<double>(0, 2)),
            (std::vector<double>{0, 0, 0, 0}));
}

TEST(MatrixArithmetic, ProductSumsInAscendingOrderFromZero) {
  // (0 + 1e16) + 1 rounds back to 1e16, then - 1e16 gives 0; any other order gives 1 or 2.
  const matrix<double> row = M({{1e16, 1, -1e16}});
  EXPECT_EQ((row * V({1, 1, 1}))(0, 0), 0.0);
  // Starting from +0.0 turns a lone -0.0 product into +0.0.
  const double z = (M({{-0.0}}) * V({1}))(0, 0);
  EXPECT_EQ(z, 0.0);
  EXPECT_FALSE(std::signbit(z));
}

TEST(MatrixArithmetic, TransposeIdentityAndColumn) {
  EXPECT_EQ(Elements(Transpose(M({{1, 2}, {3, 4}, {5, 6}}))),
            (std::vector<double>{1, 3, 5, 2, 4, 6}));

  matrix<double> i1 = Identity4();
  const matrix<double> i2 = Identity4();
  i1(0, 0) = 5;
  EXPECT_EQ(i2(0, 0), 1);
  EXPECT_EQ(Elements(i2), Elements(M({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}})));

  matrix<double> t = M({{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}});
  EXPECT_EQ(Elements(Column3(t, 3)), (std::vector<double>{1, 2, 3}));
  matrix<double> wide = M({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}, {13, 14, 15, 16, 17, 18}});
  EXPECT_EQ(Elements(Column3(wide, 1)), (std::vector<double>{2, 8, 14}));
}

TEST(MatrixArithmetic, Column3DetachesASharedSource) {
  matrix<double> a = M({{1}, {2}, {3}});
  matrix<double> b = a;
  const matrix<double> c = Column3(a, 0);
  EXPECT_FALSE(a.SharesWith(b));
  EXPECT_EQ(Elements(c), Elements(b));
}

}  // namespace
