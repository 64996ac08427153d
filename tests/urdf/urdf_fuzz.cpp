// libFuzzer target for the URDF loader (built with -DVELMOTH_FUZZ=ON and clang; see
// tests/urdf/CMakeLists.txt). Any text either loads into an arm the dynamics can evaluate, with at
// most the allowed number of joints and notices of one line each naming the source, or gives one
// line naming the source and the problem; it never crashes, hangs, leaks or prints. Every other
// input ends its chain at link b, the dictionary's second link.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dynamics/dynamics.h"
#include "urdf/urdf_loader.h"

namespace {

// Whether the line holds a control character: the file's own are shown escaped.
bool HasControl(const std::string& line) {
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::vector<std::string> notices;
  const UrdfOptions options{size % 2 == 0 ? "" : "b"};
  std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text, "fuzz", error, options, &notices);
  for (const std::string& line : notices) {
    if (!robot || line.rfind("fuzz: ", 0) != 0 || HasControl(line)) {
      __builtin_trap();
    }
  }
  if (robot) {
    if (!error.empty() || robot->links.size() > kUrdfMaxMovingJoints) {
      __builtin_trap();
    }
    // At rest the inertia and gravity terms of an arm that loaded are finite.
    const EquationTerms t = EvaluateEquationTerms(*robot);
    for (uint32_t i = 0; i < t.M.RowCount(); ++i) {
      for (uint32_t j = 0; j < t.M.RowCount(); ++j) {
        if (!std::isfinite(t.M(i, j)) || !std::isfinite(t.G(i, 0))) {
          __builtin_trap();
        }
      }
    }
  } else if (error.rfind("fuzz: ", 0) != 0 || error.size() == 6 || HasControl(error)) {
    __builtin_trap();
  }
  return 0;
}
