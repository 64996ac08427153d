// Sharing, copy on write, Resize and SetIdentity, observed from outside the handles.
#include <gtest/gtest.h>

#include "tests/matrix/matrix_literal.h"

namespace {

TEST(MatrixSharing, CopiesShareUntilAWriteOrAModifiableReadDetachesTheWriter) {
  matrix<double> a = M({{1, 2}, {3, 4}});
  matrix<double> b = a;
  EXPECT_TRUE(a.SharesWith(b));
  EXPECT_EQ(a.HolderCount(), 2);
  const matrix<double>& readOnly = b;
  EXPECT_EQ(readOnly(1, 1), 4);
  EXPECT_TRUE(a.SharesWith(b));  // the read-only access never detaches
  const double v = b(1, 1);      // the modifiable one does, even for a read
  EXPECT_EQ(v, 4);
  EXPECT_FALSE(a.SharesWith(b));
  b(0, 0) = 9;
  EXPECT_EQ(Elements(a), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(Elements(b), (std::vector<double>{9, 2, 3, 4}));
  EXPECT_EQ(a.HolderCount(), 1);
}

TEST(MatrixSharing, SelfAssignmentAndAssignmentBetweenSharersKeepTheRepresentation) {
  matrix<double> a = M({{5}});
  a = a;
  EXPECT_EQ(a.HolderCount(), 1);
  {
    matrix<double> b = a;
    a = b;  // gains before it releases: the shared representation survives
    EXPECT_TRUE(a.SharesWith(b));
    EXPECT_EQ(a.HolderCount(), 2);
  }
  EXPECT_EQ(a.HolderCount(), 1);
  EXPECT_EQ(a(0, 0), 5);
}

// Each in-place operation on a shared handle must leave the other holder untouched.
TEST(MatrixSharing, InPlaceOperationsNeverReachTheOtherHolder) {
  struct Case {
    const char* name;
    void (*apply)(matrix<double>&);
    std::vector<double> expected;
  };
  const Case cases[] = {
      {"+= self", [](matrix<double>& m) { m += m; }, {2, 4, 6, 8}},
      {"-= self", [](matrix<double>& m) { m -= m; }, {0, 0, 0, 0}},
      {"*= self", [](matrix<double>& m) { m *= m; }, {7, 10, 15, 22}},
      {"*= 3", [](matrix<double>& m) { m *= 3.0; }, {3, 6, 9, 12}},
      {"SetZero", [](matrix<double>& m) { m.SetZero(); }, {0, 0, 0, 0}},
      {"SetIdentity", [](matrix<double>& m) { m.SetIdentity(); }, {1, 0, 0, 1}},
      {"Resize", [](matrix<double>& m) { m.Resize(2, 2); }, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    matrix<double> a = M({{1, 2}, {3, 4}});
    matrix<double> b = a;
    c.apply(a);
    EXPECT_EQ(Elements(a), c.expected);
    EXPECT_EQ(Elements(b), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_FALSE(a.SharesWith(b));
    EXPECT_EQ(b.HolderCount(), 1);
  }
}

TEST(MatrixSharing, AddingASharerDoublesOnlyTheTarget) {
  matrix<double> a = M({{1, 2}});
  matrix<double> b = a;
  a += b;
  EXPECT_EQ(Elements(a), (std::vector<double>{2, 4}));
  EXPECT_EQ(Elements(b), (std::vector<double>{1, 2}));
}

TEST(MatrixShape, SetIdentityShrinksAndResizeNeverRevivesHiddenValues) {
  matrix<double> m = M({{7, 7, 7}, {7, 7, 7}});
  m.SetIdentity();
  EXPECT_EQ(m.RowCount(), 2u);
  EXPECT_EQ(m.ColCount(), 2u);
  EXPECT_EQ(Elements(m), (std::vector<double>{1, 0, 0, 1}));
  m.Resize(2, 3);  // back to the allocation shape: the old third column must read 0, not 7
  EXPECT_EQ(Elements(m), (std::vector<double>{1, 0, 0, 0, 1, 0}));
}

TEST(MatrixShape, ResizeKeepsTheTopLeftBlockAndZeroesTheRest) {
  struct Case {
    uint32_t rows, cols;
    std::vector<double> expected;
  };
  const Case cases[] = {
      {3, 3, {1, 2, 0, 3, 4, 0, 0, 0, 0}},
      {1, 1, {1}},
      {2, 1, {1, 3}},
      {1, 3, {1, 2, 0}},
      {0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << "x" << c.cols);
    matrix<double> m = M({{1, 2}, {3, 4}});
    m.Resize(c.rows, c.cols);
    EXPECT_EQ(m.RowCount(), c.rows);
    EXPECT_EQ(m.ColCount(), c.cols);
    EXPECT_EQ(Elements(m), c.expected);
  }
}

TEST(MatrixShape, ResizeAfterInversionFollowsTheExchangedRows) {
  // The inverse of a row exchange leaves rows out of buffer order; Resize must walk rowPtr.
  matrix<double> inv = !M({{0, 1}, {1, 0}});
  inv.Resize(2, 3);
  EXPECT_EQ(Elements(inv), (std::vector<double>{0, 1, 0, 1, 0, 0}));
}

}  // namespace
