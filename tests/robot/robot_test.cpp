// The Robot record: links, joint state, and the built-in arm.
#include <gtest/gtest.h>

#include "robot/robot.h"
#include "tests/matrix/matrix_literal.h"

namespace {

TEST(Robot, AddLinkStoresEveryArgumentAndMirrorsTheProductsOfInertia) {
  Robot robot(1, 2, 3, 0.4, 0.5);
  EXPECT_EQ(Elements(robot.gravity), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(robot.coulombFriction, 0.4);
  EXPECT_EQ(robot.viscousFriction, 0.5);
  robot.AddLink(2, 0.1, 0.2, 0.3, 11, 22, 33, 12, 23, 13, 1, 2, 3, 0.7, 0.8, 0.9, 0.05);
  ASSERT_EQ(robot.links.size(), 1u);
  const Link& link = *robot.links[0];
  EXPECT_EQ(link.jointType, Revolute);
  EXPECT_EQ(link.axis, X);
  EXPECT_EQ(link.mass, 2);
  EXPECT_EQ(Elements(link.com), (std::vector<double>{0.1, 0.2, 0.3}));
  EXPECT_EQ(Elements(link.inertia), (std::vector<double>{11, 12, 13, 12, 22, 23, 13, 23, 33}));
  EXPECT_EQ((std::vector<double>{link.offsetX, link.offsetY, link.offsetZ, link.offsetRoll,
                                 link.offsetPitch, link.offsetYaw, link.radius}),
            (std::vector<double>{1, 2, 3, 0.7, 0.8, 0.9, 0.05}));
  EXPECT_EQ((std::vector<double>{link.q, link.qd, link.qdd}), (std::vector<double>{0, 0, 0}));
  EXPECT_TRUE(link.dRotationWorld.empty());
  EXPECT_TRUE(link.dComWorld.empty());
}

TEST(Robot, JointAnglesAndResetTouchOnlyTheJointState) {
  Robot empty(0, 0, -9.81, 0.1, 0.1);
  EXPECT_EQ(empty.GetJointAngles().RowCount(), 0u);
  EXPECT_EQ(empty.GetJointAngles().ColCount(), 1u);
  empty.ResetJointState();

  auto robot = MakeBuiltInRobot();
  ASSERT_EQ(robot->links.size(), static_cast<size_t>(kBuiltInLinkCount));
  for (size_t i = 0; i < robot->links.size(); ++i) {
    robot->links[i]->q = 0.1 * static_cast<double>(i + 1);
    robot->links[i]->qd = 1;
    robot->links[i]->qdd = 2;
  }
  EXPECT_EQ(Elements(robot->GetJointAngles()),
            (std::vector<double>{0.1, 0.2, 0.1 * 3, 0.4, 0.5, 0.1 * 6}));
  robot->kineticEnergy = 3;
  robot->potentialEnergy = 4;
  robot->ResetJointState();
  EXPECT_EQ(Elements(robot->GetJointAngles()), (std::vector<double>(6, 0.0)));
  for (const auto& link : robot->links) {
    EXPECT_EQ(link->qd, 0);
    EXPECT_EQ(link->qdd, 0);
  }
  EXPECT_EQ(robot->kineticEnergy, 3);
  EXPECT_EQ(robot->potentialEnergy, 4);
  EXPECT_EQ(Elements(robot->gravity), (std::vector<double>{0, 0, -9.81}));
}

}  // namespace
