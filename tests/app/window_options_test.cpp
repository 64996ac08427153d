// The window program's command line: each option lands in its own setting and in no other.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/window_options.h"

namespace {

// Every setting of the options as text, by the option that sets it.
std::map<std::string, std::string> Settings(const WindowOptions& o) {
  const auto given = [](const std::optional<std::string>& text) {
    return text ? "'" + *text + "'" : std::string("absent");
  };
  std::string paths;
  for (const std::string& path : o.packagePaths) {
    paths += "[" + path + "]";
  }
  return {{"--record", o.record},
          {"--package-path", paths},
          {"--urdf", o.urdf},
          {"--tip", o.tip},
          {"--links", std::to_string(o.links) + (o.linksGiven ? " given" : "")},
          {"--q0", o.q0},
          {"--qd0", o.qd0},
          {"--viscous", given(o.viscous)},
          {"--coulomb", given(o.coulomb)},
          {"--gravity", given(o.gravity)},
          {"--engine", o.step.engine},
          {"--integrator", o.step.integrator},
          {"--substeps", std::to_string(o.step.substeps)},
          {"--controller", o.control.controller},
          {"--target", o.control.target},
          {"--control-rate", o.control.rate},
          {"--kp", o.control.kp}};
}

TEST(WindowOptions, EachOptionLandsInItsOwnSetting) {
  const struct {
    std::vector<const char*> args;
    std::map<std::string, std::string> changed;  // from the defaults
  } cases[] = {
      {{"--record", "run.csv"}, {{"--record", "run.csv"}}},
      {{"--urdf", "arm.urdf", "--tip", "hand"}, {{"--urdf", "arm.urdf"}, {"--tip", "hand"}}},
      {{"--urdf", "a.urdf", "--package-path", "x", "--package-path", "y z"},
       {{"--urdf", "a.urdf"}, {"--package-path", "[x][y z]"}}},
      {{"--links", "3"}, {{"--links", "3 given"}}},
      {{"--q0", "0.5, -1"}, {{"--q0", "0.5, -1"}}},
      {{"--qd0", "2"}, {{"--qd0", "2"}}},
      {{"--viscous", "0.3"}, {{"--viscous", "'0.3'"}}},
      {{"--coulomb", "0.7"}, {{"--coulomb", "'0.7'"}}},
      {{"--coulomb="}, {{"--coulomb", "''"}}},  // given but empty: read as 0 later
      {{"--gravity", "0, 0, -1"}, {{"--gravity", "'0, 0, -1'"}}},
      {{"--engine", "recursive"}, {{"--engine", "recursive"}}},
      {{"--integrator", "rk4"}, {{"--integrator", "rk4"}}},
      {{"--substeps", "4"}, {{"--substeps", "4"}}},
      {{"--controller", "pd", "--target", "0.5, -1", "--control-rate", "1000", "--kp", "40"},
       {{"--controller", "pd"},
        {"--target", "0.5, -1"},
        {"--control-rate", "1000"},
        {"--kp", "40"}}},
  };
  const std::map<std::string, std::string> defaults = Settings(WindowOptions{});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::vector<char*> argv = {const_cast<char*>("velmoth")};
    for (const char* arg : c.args) {
      argv.push_back(const_cast<char*>(arg));
    }
    WindowOptions options;
    ASSERT_EQ(ParseWindowOptions(static_cast<int>(argv.size()), argv.data(), options), -1);
    std::map<std::string, std::string> expected = defaults;
    for (const auto& [option, value] : c.changed) {
      expected[option] = value;
    }
    EXPECT_EQ(Settings(options), expected);
  }
}

// --package-path finds a file's meshes: without --urdf it is refused, as --tip is.
TEST(WindowOptions, PackagePathNeedsAFile) {
  std::vector<char*> argv = {const_cast<char*>("velmoth"), const_cast<char*>("--package-path"),
                             const_cast<char*>("x")};
  WindowOptions options;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ParseWindowOptions(static_cast<int>(argv.size()), argv.data(), options), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "velmoth: --package-path finds the meshes of a URDF file and needs --urdf\n");
}

// The controller's options are velmoth-sim's, refused as velmoth-sim refuses them: a gain without a
// law that takes it, a rate that is no divisor of the tick.
TEST(WindowOptions, TheControllersOptionsAreVelmothSims) {
  const struct {
    std::vector<const char*> args;
    const char* error;
  } cases[] = {
      {{"--kp", "40"}, "velmoth: --kp needs --controller pd, computed-torque or task-pd\n"},
      {{"--controller", "pd", "--control-rate", "300.5"},
       "velmoth: --control-rate: expects continuous or 100, 200, ..., 1000 (samples per second), "
       "not '300.5'\n"},
  };
  for (const auto& c : cases) {
    std::vector<char*> argv = {const_cast<char*>("velmoth")};
    for (const char* arg : c.args) {
      argv.push_back(const_cast<char*>(arg));
    }
    WindowOptions options;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParseWindowOptions(static_cast<int>(argv.size()), argv.data(), options), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
  }
}

}  // namespace
