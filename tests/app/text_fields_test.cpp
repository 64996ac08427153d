// The panel's text formats: writing numbers and vectors, and the forgiving reading of vector and
// coefficient text, with the cases where a plausible implementation goes wrong (separators, the
// notation switch at one million, negative zero, text beyond the read limits).
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/text_fields.h"
#include "tests/matrix/matrix_literal.h"

namespace {

TEST(NumberText, FixedInsideOneMillionGeneralOutside) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.1, "0.100"},
      {-9.81, "-9.810"},
      {0.0, "0.000"},
      {1e-4, "0.000"},
      {-0.0, "-0.000"},
      {999999.4, "999999.400"},
      {999999.9999, "1000000.000"},  // chosen on the unrounded value
      {1000000.0, "1e+06"},
      {-1000000.0, "-1e+06"},
      {123456789.0, "1.23e+08"},
      {nan, "nan"},
      {inf, "inf"},
      {-std::numeric_limits<double>::max(), "-1.8e+308"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberText(c.value), c.text) << c.value;
  }
}

TEST(VectorText, EveryElementBlankSignedSixWideTwoDigitsAndComma) {
  struct Case {
    matrix<double> vector;
    const char* text;
  };
  const Case cases[] = {
      {V({0, 0, 0}), "     0,      0,      0, "},
      {V({0, 0, -9.81}), "     0,      0,   -9.8, "},
      {V({0.1, -0.5, 1, 12.3, 0.25}), "   0.1,   -0.5,      1,     12,   0.25, "},
      {V({-0.0}), "    -0, "},
      {V({1e300, -1234567}), " 1e+300, -1.2e+06, "},
      {matrix<double>(0, 1), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VectorText(c.vector), c.text);
  }
}

std::vector<double> Read(const std::string& text, uint32_t n) {
  matrix<double> v(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    v(i, 0) = 99;  // whatever the text does not give must become 0, not stay
  }
  ReadVectorText(text, v);
  EXPECT_EQ(v.RowCount(), n);
  EXPECT_EQ(v.ColCount(), 1u);
  return Elements(v);
}

TEST(ReadVectorText, OneSeparatorAfterEachNumberAndZerosForTheRest) {
  struct Case {
    std::string text;
    uint32_t n;
    std::vector<double> values;
  };
  const Case cases[] = {
      {"1, 2, 3", 6, {1, 2, 3, 0, 0, 0}},
      {"1 2 3 4 5 6 7", 6, {1, 2, 3, 4, 5, 6}},
      {"1,,2", 6, {1, 0, 2, 0, 0, 0}},  // the second comma is an element of its own
      {"1;2", 3, {1, 2, 0}},
      {"1x2", 3, {1, 2, 0}},
      {"1,5", 3, {1, 5, 0}},  // the comma is no decimal mark
      {"abc", 3, {0, 0, 0}},  // one zero per unreadable character
      {"", 3, {0, 0, 0}},
      {"   ", 3, {0, 0, 0}},
      {"1.5e2, -3", 3, {150, -3, 0}},
      {"1, 2, 3, 4, 5, 6, ", 6, {1, 2, 3, 4, 5, 6}},  // the trailing separator is ignored
      {"  -1.25 ,4", 3, {-1.25, 0, 4}},               // " ," is two characters: 0 between
      {"7", 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Read(c.text, c.n), c.values) << '"' << c.text << '"';
  }
  EXPECT_TRUE(std::signbit(Read("-0", 1)[0]));
}

TEST(ReadVectorText, ReadsOnlyTheFirst1023Characters) {
  // '7' and its separator end at character 1023; the '8' after them is beyond the limit.
  EXPECT_EQ(Read(std::string(1021, ' ') + "7,8", 3), (std::vector<double>{7, 0, 0}));
  EXPECT_EQ(Read(std::string(1020, ' ') + "7,8", 3), (std::vector<double>{7, 8, 0}));
  // A number cut by the limit is read as far as it goes.
  EXPECT_EQ(Read(std::string(1020, ' ') + "123456", 1), (std::vector<double>{123}));
}

TEST(ReadCoefficientText, LeadingNumberOfTheFirst63Characters) {
  struct Case {
    std::string text;
    double value;
  };
  const Case cases[] = {
      {"0.1", 0.1},
      {"0,5", 0.0},
      {"abc", 0.0},
      {" 2.5e1x", 25.0},
      {"", 0.0},
      {"-3", -3.0},
      {std::string(62, ' ') + "5", 5.0},  // the 63rd character is read
      {std::string(63, ' ') + "5", 0.0},  // the 64th is not
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadCoefficientText(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(TextFields, ReadingBackWhatThePanelWrote) {
  // A coefficient keeps three decimals; a vector keeps two significant digits, so "Set" without
  // editing turns gravity (0, 0, -9.81) into (0, 0, -9.8).
  EXPECT_EQ(ReadCoefficientText(NumberText(0.1)), 0.1);
  matrix<double> gravity = V({0, 0, -9.81});
  ReadVectorText(VectorText(gravity), gravity);
  EXPECT_TRUE(SameMatrix(gravity, V({0, 0, -9.8})));
}

}  // namespace
