#include "simulation/text_fields.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Number text holds at most this many characters.
constexpr std::size_t kNumberTextLimit = 64;

// A NaN's sign means nothing: it is written "nan", never "-nan", which reads as a negative number.
double Shown(double value) {
  return std::isnan(value) ? std::fabs(value) : value;
}

}  // namespace

std::string NumberText(double value) {
  char text[kNumberTextLimit + 1] = {};
  // Fixed notation strictly inside one million in magnitude, decided on the unrounded value; the
  // bounds themselves, larger values and NaN take general notation.
  const bool fixed = value > -1000000.0 && value < 1000000.0;
  std::snprintf(text, sizeof text, fixed ? "%.3f" : "%.3g", Shown(value));
  text[kNumberTextLimit] = '\0';
  return text;
}

std::string VectorText(const matrix<double>& vector) {
  std::string text;
  const uint32_t n = vector.RowCount();
  for (uint32_t i = 0; i < n; ++i) {
    // Blank for a plus sign, at least 6 wide, two significant digits, then ", ".
    char element[32] = {};
    std::snprintf(element, sizeof element, "% 6.2g, ", Shown(vector(i, 0)));
    text += element;
  }
  return text;
}

void ReadVectorText(const std::string& text, matrix<double>& vector) {
  // The text is read to its end or to an embedded terminator, whichever comes first.
  const uint32_t n = vector.RowCount();
  uint32_t i = 0;
  const char* at = text.c_str();
  while (i < n && *at != '\0') {
    // An unreadable character gives 0 and leaves the position where it was.
    char* end = nullptr;
    vector(i, 0) = std::strtod(at, &end);
    at = end;
    // Exactly one separator after each number, whatever character it is.
    if (*at != '\0') {
      ++at;
    }
    ++i;
  }
  for (; i < n; ++i) {
    vector(i, 0) = 0.0;
  }
}

double ReadCoefficientText(const std::string& text) {
  return std::atof(text.c_str());
}
