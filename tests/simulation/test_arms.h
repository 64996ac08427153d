// The arms the step's tests run over: the built-in one (an empty name, on its own step), the
// samples in examples/, then the test arms in tests/urdf/, the last of them the Z1-like arm with a
// light gripper jaw whose damping of 1 is stiff.
#pragma once

#include <memory>
#include <span>
#include <string>

#include <gtest/gtest.h>

#include "robot/robot.h"
#include "urdf/urdf_loader.h"

inline constexpr const char* kArms[] = {"",
                                        "examples/arm7_gripper.urdf",
                                        "examples/double_pendulum.urdf",
                                        "examples/industrial6.urdf",
                                        "examples/planar_3link.urdf",
                                        "examples/puma560.urdf",
                                        "examples/scara.urdf",
                                        "tests/urdf/builtin_arm.urdf",
                                        "tests/urdf/iiwa14_like.urdf",
                                        "tests/urdf/panda_like.urdf",
                                        "tests/urdf/ur5_like.urdf",
                                        "tests/urdf/z1_like.urdf"};

// Every arm but the Z1-like one.
inline constexpr std::span<const char* const> kArmsButZ1(kArms, std::size(kArms) - 1);

inline bool BuiltIn(const char* arm) {
  return *arm == '\0';
}

inline std::string ArmName(const char* arm) {
  return BuiltIn(arm) ? "built-in arm" : arm;
}

// The file's path in the source tree.
inline std::string ArmPath(const char* arm) {
  return std::string(VELMOTH_SOURCE "/") + arm;
}

inline std::unique_ptr<Robot> LoadArm(const char* arm) {
  if (BuiltIn(arm)) {
    return MakeBuiltInRobot();
  }
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(ArmPath(arm), error);
  EXPECT_NE(robot, nullptr) << error;
  return robot;
}
