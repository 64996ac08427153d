// Small matrices from nested braces, M({{1, 2}, {3, 4}}) and V({1, 2}), their elements as a list,
// bit-for-bit comparison, and the check of a fatal misuse in a child process.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "matrix/matrix.h"

inline matrix<double> M(std::initializer_list<std::initializer_list<double>> rows) {
  matrix<double> m(rows.size(), rows.size() == 0 ? 0 : rows.begin()->size());
  for (uint32_t i = 0; i < m.RowCount(); ++i) {
    for (uint32_t j = 0; j < m.ColCount(); ++j) {
      m(i, j) = rows.begin()[i].begin()[j];
    }
  }
  return m;
}

// A column vector.
inline matrix<double> V(std::initializer_list<double> values) {
  return Transpose(M({values}));
}

// The elements of m, row by row, read without detaching.
inline std::vector<double> Elements(const matrix<double>& m) {
  std::vector<double> out;
  for (uint32_t e = 0; e < m.RowCount() * m.ColCount(); ++e) {
    out.push_back(m(e / m.ColCount(), e % m.ColCount()));
  }
  return out;
}

// Same shape and bit-identical elements.
inline ::testing::AssertionResult SameMatrix(const matrix<double>& a, const matrix<double>& b) {
  const std::vector<double> x = Elements(a), y = Elements(b);
  const auto bits = [](double p, double q) {
    return std::bit_cast<uint64_t>(p) == std::bit_cast<uint64_t>(q);
  };
  if (a.RowCount() == b.RowCount() && a.ColCount() == b.ColCount() &&
      std::equal(x.begin(), x.end(), y.begin(), y.end(), bits)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << a.RowCount() << "x" << a.ColCount() << " " << ::testing::PrintToString(x) << " vs "
         << b.RowCount() << "x" << b.ColCount() << " " << ::testing::PrintToString(y);
}

// Expects statement to end the process with status 1 after writing exactly the line message to
// standard output, as a fatal matrix misuse does; the child's standard error is not read.
#define EXPECT_FATAL(statement, message)                  \
  EXPECT_EXIT(                                            \
      {                                                   \
        std::cout.flush();                                \
        std::fflush(stdout);                              \
        dup2(STDERR_FILENO, STDOUT_FILENO);               \
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO); \
        statement;                                        \
      },                                                  \
      ::testing::ExitedWithCode(1),                       \
      ::testing::Matcher<const std::string&>(::testing::Eq(std::string(message) + "\n")))
