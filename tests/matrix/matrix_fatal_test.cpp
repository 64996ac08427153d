// Every misuse of a matrix ends the process with status 1 and exactly one line on standard
// output. The misuse runs in a separate process so that its real standard output is observed.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

struct FatalCase {
  const char* which;
  const char* output;
};

class MatrixFatalTest : public ::testing::TestWithParam<FatalCase> {};

TEST_P(MatrixFatalTest, PrintsOneLineAndExitsWithStatusOne) {
  const FatalCase& c = GetParam();
  const std::string command = std::string(MATRIX_FATAL_PROBE) + " " + c.which + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[256];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    out.append(buffer, got);
  }
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(out, std::string(c.output) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    AllMessages, MatrixFatalTest,
    ::testing::Values(
        FatalCase{"index", "matrix<T>::operator(): Index out of range!"},
        FatalCase{"negative-index", "matrix<T>::operator(): Index out of range!"},
        FatalCase{"column3", "matrix<T>::operator(): Index out of range!"},
        FatalCase{"add", "matrix<T>::operator+= : Inconsistent matrix sizes in addition!"},
        FatalCase{"subtract", "matrix<T>::operator-= : Inconsistent matrix sizes in subtraction!"},
        FatalCase{"multiply",
                  "matrix<T>::operator*= : Inconsistent matrix sizes in multiplication!"},
        FatalCase{"non-square", "matrix<T>::operator!: Inversion of a non-square matrix"},
        FatalCase{"singular", "matrix<T>::operator!: Inversion of a singular matrix"}),
    [](const ::testing::TestParamInfo<FatalCase>& info) {
      std::string name = info.param.which;
      for (char& ch : name) {
        if (ch == '-') {
          ch = '_';
        }
      }
      return name;
    });

}  // namespace
