// libFuzzer target for the URDF loader (built with -DVELMOTH_FUZZ=ON and clang; see
// tests/urdf/CMakeLists.txt). Any text either loads into an arm the dynamics can evaluate, with at
// most the allowed number of joints and notices of one line each naming the source, or gives one
// line naming the source and the problem; it never crashes, hangs, leaks or prints. Every other
// input ends its chain at link b, the dictionary's second link.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dynamics/dynamics.h"
#include "urdf/urdf_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::vector<std::string> notices;
  const UrdfOptions options{size % 2 == 0 ? "" : "b"};
  std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text, "fuzz", error, options, &notices);
  for (const std::string& line : notices) {
    if (!robot || line.rfind("fuzz: ", 0) != 0 || line.find_first_of("\n\r") != line.npos) {
      __builtin_trap();
    }
  }
  if (robot) {
    if (!error.empty() || robot->links.size() > kUrdfMaxMovingJoints) {
      __builtin_trap();
    }
    EvaluateEquationTerms(*robot);
  } else if (error.rfind("fuzz: ", 0) != 0 || error.size() == 6 ||
             error.find_first_of("\n\r") != std::string::npos) {
    __builtin_trap();
  }
  return 0;
}
