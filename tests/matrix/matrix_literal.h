// Small matrices from nested braces, M({{1, 2}, {3, 4}}) and V({1, 2}), their elements as a list,
// bit-for-bit comparison, and the check of a fatal misuse in a child process.
#pragma once

#include <fcntl.h>
#include <unistd.h>

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
  const auto r = static_cast<uint32_t>(rows.size());
  matrix<double> m(r, r == 0 ? 0u : static_cast<uint32_t>(rows.begin()->size()));
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
  const auto bits = [](const matrix<double>& m) {
    std::vector<uint64_t> out{m.RowCount(), m.ColCount()};
    for (const double v : Elements(m)) {
      out.push_back(std::bit_cast<uint64_t>(v));
    }
    return out;
  };
  if (bits(a) == bits(b)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << a.RowCount() << "x" << a.ColCount() << " " << ::testing::PrintToString(Elements(a))
         << " vs " << b.RowCount() << "x" << b.ColCount() << " "
         << ::testing::PrintToString(Elements(b));
}

// In the child process of a death test: what the program writes to standard output goes where
// the test reads, standard error nowhere.
inline void OnlyStandardOutputIsRead() {
  std::cout.flush();
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDERR_FILENO);
}

// Expects statement to end the process with status 1 after writing exactly the line message to
// standard output, as a fatal matrix misuse does.
#define EXPECT_FATAL(statement, message) \
  EXPECT_EXIT(                           \
      {                                  \
        OnlyStandardOutputIsRead();      \
        statement;                       \
      },                                 \
      ::testing::ExitedWithCode(1),      \
      ::testing::Matcher<const std::string&>(::testing::Eq(std::string(message) + "\n")))
