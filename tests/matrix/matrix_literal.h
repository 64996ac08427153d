// Builds small matrices from nested braces in tests: M({{1, 2}, {3, 4}}).
#pragma once

#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

#include "matrix/matrix.h"

inline matrix<double> M(std::initializer_list<std::initializer_list<double>> rows) {
  const auto r = static_cast<uint32_t>(rows.size());
  const auto c = r == 0 ? 0u : static_cast<uint32_t>(rows.begin()->size());
  matrix<double> m(r, c);
  uint32_t i = 0;
  for (const auto& row : rows) {
    uint32_t j = 0;
    for (double v : row) {
      m(i, j++) = v;
    }
    ++i;
  }
  return m;
}

// A column vector.
inline matrix<double> V(std::initializer_list<double> values) {
  matrix<double> m(static_cast<uint32_t>(values.size()), 1);
  uint32_t i = 0;
  for (double v : values) {
    m(i++, 0) = v;
  }
  return m;
}

// The elements of m, row by row, read without detaching.
inline std::vector<double> Elements(const matrix<double>& m) {
  std::vector<double> out;
  for (uint32_t i = 0; i < m.RowCount(); ++i) {
    for (uint32_t j = 0; j < m.ColCount(); ++j) {
      out.push_back(m(i, j));
    }
  }
  return out;
}

// Same shape and bit-identical elements.
inline ::testing::AssertionResult SameMatrix(const matrix<double>& a, const matrix<double>& b) {
  if (a.RowCount() != b.RowCount() || a.ColCount() != b.ColCount()) {
    return ::testing::AssertionFailure() << "shapes " << a.RowCount() << "x" << a.ColCount()
                                         << " and " << b.RowCount() << "x" << b.ColCount();
  }
  for (uint32_t i = 0; i < a.RowCount(); ++i) {
    for (uint32_t j = 0; j < a.ColCount(); ++j) {
      if (a(i, j) != b(i, j)) {
        return ::testing::AssertionFailure()
               << "element (" << i << ", " << j << "): " << a(i, j) << " vs " << b(i, j);
      }
    }
  }
  return ::testing::AssertionSuccess();
}
