// The panel's text formats, at the cases where a plausible implementation goes wrong: the notation
// switch at one million, negative zero, separators, and text beyond the read limits; the names of
// the run format's frame columns.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "simulation/frame_columns.h"
#include "simulation/text_fields.h"
#include "tests/matrix/matrix_literal.h"

namespace {

TEST(TextFields, NumbersAndVectorsAreWrittenInTheirFormats) {
  // Fixed notation strictly inside one million, chosen on the unrounded value.
  std::string numbers;
  for (double x : {0.1, -9.81, 1e-4, -0.0, 999999.9999, 1e6, -1e6, 123456789.0}) {
    numbers += NumberText(x) + " ";
  }
  EXPECT_EQ(numbers, "0.100 -9.810 0.000 -0.000 1000000.000 1e+06 -1e+06 1.23e+08 ");
  EXPECT_EQ(VectorText(V({0, -9.81, 0.1, -0.5, 12.3, 0.25, -0.0, 1e300})),
            "     0,   -9.8,    0.1,   -0.5,     12,   0.25,     -0,  1e+300, ");
  EXPECT_EQ(VectorText(matrix<double>(0, 1)), "");
  // A diverged state: a NaN has no sign to show, infinities keep theirs.
  std::string diverged;
  for (double x : {-NAN, NAN, -INFINITY, INFINITY}) {
    diverged += NumberText(x) + " ";
  }
  EXPECT_EQ(diverged, "nan nan -inf inf ");
  EXPECT_EQ(VectorText(V({-NAN, -INFINITY})), "   nan,   -inf, ");
}

TEST(TextFields, VectorTextGivesOneElementPerNumberOrUnreadableCharacter) {
  const std::string blanks(1020, ' ');  // the panel's fields hand over 1023 characters at most
  const struct {
    std::string text;
    std::vector<double> values;
  } cases[] = {
      {"1, 2, 3", {1, 2, 3, 0, 0, 0}},
      {"1 2 3 4 5 6 7", {1, 2, 3, 4, 5, 6}},
      {"1,,2", {1, 0, 2, 0, 0, 0}},  // the second comma is an element of its own
      {"1x2", {1, 2, 0}},
      {"1,5", {1, 5, 0}},  // the comma is no decimal mark
      {"abc", {0, 0, 0}},  // one zero per unreadable character
      {"1.5e2, -3", {150, -3, 0}},
      {"1, 2, 3, 4, 5, 6, ", {1, 2, 3, 4, 5, 6}},  // the trailing separator is ignored
      {"  -1.25 ,4", {-1.25, 0, 4}},               // " ," is two characters: 0 between
      {blanks + "7,8", {7, 8, 0}},
      {blanks + " 7,8", {7, 8, 0}},  // but the text itself is read to its end
      {blanks + "123456", {123456}},
      {std::string("1,2\0"
                   "3",
                   5),
       {1, 2, 0}},  // an embedded terminator ends the text
  };
  for (const auto& c : cases) {
    matrix<double> v(static_cast<uint32_t>(c.values.size()), 1);
    for (uint32_t i = 0; i < v.RowCount(); ++i) {
      v(i, 0) = 99;  // whatever the text does not give must become 0, not stay
    }
    ReadVectorText(c.text, v);
    EXPECT_EQ(v.ColCount(), 1u);
    EXPECT_EQ(Elements(v), c.values) << '"' << c.text << '"';
  }
  matrix<double> zero(1, 1);
  ReadVectorText("-0", zero);
  EXPECT_TRUE(std::signbit(zero(0, 0)));
}

TEST(TextFields, CoefficientIsTheTextsLeadingNumber) {
  const std::string texts[] = {
      "0.1", "0,5", "abc", " 2.5e1x", std::string(62, ' ') + "5", std::string(63, ' ') + "5"};
  std::vector<double> values;
  for (const std::string& text : texts) {
    values.push_back(ReadCoefficientText(text));
  }
  EXPECT_EQ(values, (std::vector<double>{0.1, 0, 0, 25, 5, 5}));
}

// A frame's name is the file's: one with a comma or a quote must still give three columns.
TEST(TextFields, FrameColumnsKeepTheirNamesWholeAsCsv) {
  std::string header = "tick\n";
  AppendFrameHeader(header, {"tool0", "a,b", "say \"hi\""});
  EXPECT_EQ(header,
            "tick,tool0.x,tool0.y,tool0.z,\"a,b.x\",\"a,b.y\",\"a,b.z\",\"say \"\"hi\"\".x\","
            "\"say \"\"hi\"\".y\",\"say \"\"hi\"\".z\"\n");
}

}  // namespace
