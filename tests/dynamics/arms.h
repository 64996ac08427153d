// Next to the built-in arm, a general arm whose joints turn and slide about every axis, with
// rotated offsets, off-axis centres of mass and gravity, masses other than 1, full inertia tensors
// and friction, so that no term vanishes or hides by symmetry; and random states for either.
#pragma once

#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "robot/robot.h"

inline std::unique_ptr<Robot> MakeGeneralArm() {
  auto robot = std::make_unique<Robot>(0.3, -1.2, -9.81, 0.02, 0.05);
  // mass, com, Ixx Iyy Izz Ixy Iyz Ixz, offset x y z roll pitch yaw, radius
  robot->AddLink(2.0, 0.02, -0.01, 0.12, 0.05, 0.04, 0.03, 0.002, -0.001, 0.003, 0.0, 0.05, 0.3,
                 0.2, -0.1, 0.4, 0.03);
  robot->AddLink(1.5, 0.15, 0.03, -0.02, 0.02, 0.06, 0.05, -0.004, 0.001, 0.002, 0.35, 0.0, 0.02,
                 -0.3, 0.25, 0.1, 0.03);
  robot->AddLink(0.8, 0.1, 0.02, 0.01, 0.01, 0.02, 0.02, 0.001, 0.0, -0.001, 0.2, -0.05, 0.0, 0.0,
                 0.3, -0.2, 0.03);
  robot->AddLink(1.1, 0.01, 0.12, 0.03, 0.03, 0.01, 0.03, 0.0, 0.002, 0.001, 0.0, 0.25, 0.05, 0.5,
                 0.0, 0.3, 0.03);
  robot->AddLink(0.6, -0.02, 0.01, 0.08, 0.008, 0.009, 0.004, 0.0005, 0.0, 0.0, 0.03, 0.0, 0.15,
                 0.0, -0.4, 0.0, 0.03);
  robot->AddLink(0.5, 0.05, 0.05, 0.02, 0.004, 0.005, 0.006, -0.0003, 0.0002, 0.0001, 0.1, 0.1, 0.0,
                 0.0, 0.0, 0.0, 0.03);
  const int32_t types[] = {Revolute, Revolute, Prismatic, Revolute, Prismatic, Revolute};
  const int32_t axes[] = {Z, Y, X, X, Z, Z};
  for (int i = 0; i < 6; ++i) {
    robot->links[i]->jointType = types[i];
    robot->links[i]->axis = axes[i];
  }
  return robot;
}

// The arms of the tests that hold for any arm: 0: no link, 1: one built-in link, 2: the built-in
// arm, 3: the general arm, 4: the general arm with joint 3 fixed.
inline constexpr int kTestArmCount = 5;
inline std::unique_ptr<Robot> MakeTestArm(int which) {
  if (which < 3) {
    return MakeBuiltInRobot(which == 2 ? kBuiltInLinkCount : which);
  }
  std::unique_ptr<Robot> robot = MakeGeneralArm();
  if (which == 4) {
    robot->links[3]->jointType = Fixed;
  }
  return robot;
}

// Joint positions in [-pi, pi] (in [-0.5, 0.5] m when sliding), velocities in [-2, 2].
inline void RandomState(Robot& robot, std::mt19937_64& random) {
  std::uniform_real_distribution<double> angle(-3.14159, 3.14159), length(-0.5, 0.5),
      rate(-2.0, 2.0);
  for (auto& link : robot.links) {
    link->q = link->jointType == Prismatic ? length(random) : angle(random);
    link->qd = rate(random);
  }
}

// Jv_i and Jw_i of every link, from the robot's last kinematics pass.
inline void LinkJacobians(const Robot& robot, std::vector<matrix<double>>& Jv,
                          std::vector<matrix<double>>& Jw) {
  for (uint32_t i = 0; i < robot.links.size(); ++i) {
    Jv.push_back(LinearJacobian(robot, i));
    Jw.push_back(AngularJacobian(robot, i));
  }
}

// Runs check(arm, robot, terms) at three random states of each test arm from `first` on, with the
// terms evaluated for that state and the arm and state in every failure's trace.
template <typename Check>
void AtRandomStates(uint64_t seed, int first, Check check) {
  std::mt19937_64 random(seed);
  for (int arm = first; arm < kTestArmCount; ++arm) {
    std::unique_ptr<Robot> robot = MakeTestArm(arm);
    for (int state = 0; state < 3; ++state) {
      SCOPED_TRACE(testing::Message() << "arm " << arm << ", state " << state);
      RandomState(*robot, random);
      check(arm, *robot, EvaluateEquationTerms(*robot));
    }
  }
}
