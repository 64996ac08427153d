#include "robot/input_checks.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Shortest(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  for (int digits = 1; digits < 17; ++digits) {
    char shorter[32];
    std::snprintf(shorter, sizeof shorter, "%.*g", digits, value);
    if (std::strtod(shorter, nullptr) == value) {
      return shorter;
    }
  }
  return text;
}

}  // namespace

std::string FrictionProblem(const std::string& what, double value) {
  if (std::isfinite(value) && value >= 0.0) {
    return "";
  }
  return what + " must be finite and 0 or more, not " + Shortest(value);
}

std::string StartProblem(const std::string& what, const double* values, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(values[i])) {
      return what + " must be finite, not " + Shortest(values[i]) + " at index " +
             std::to_string(i);
    }
  }
  return "";
}
