// M, G and C qd against Orocos KDL's ChainDynParam (recursive Newton-Euler and composite bodies,
// a different method written by others) at random states of the built-in arm and of an arm that
// turns and slides about every axis.
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/frames.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/jntspaceinertiamatrix.hpp>
#include <kdl/joint.hpp>
#include <kdl/rigidbodyinertia.hpp>
#include <kdl/rotationalinertia.hpp>
#include <kdl/segment.hpp>

#include "dynamics/dynamics.h"
#include "tests/dynamics/arms.h"

namespace {

constexpr double kTolerance = 1e-10;
constexpr int kStates = 60;

KDL::Joint KdlJoint(const Link& link) {
  static const KDL::Joint::JointType kTurn[] = {KDL::Joint::RotX, KDL::Joint::RotY,
                                                KDL::Joint::RotZ};
  static const KDL::Joint::JointType kSlide[] = {KDL::Joint::TransX, KDL::Joint::TransY,
                                                 KDL::Joint::TransZ};
  return KDL::Joint(link.jointType == Prismatic ? kSlide[link.axis] : kTurn[link.axis]);
}

// The arm as a KDL chain: a segment is the joint followed by the tip frame (the link's offset
// pose) and carries its inertia in that tip frame; a link's inertia is given in the frame after
// its joint.
KDL::Chain KdlChain(const Robot& robot) {
  KDL::Chain chain;
  for (const auto& link : robot.links) {
    const KDL::Frame tip(KDL::Rotation::RPY(link->offsetRoll, link->offsetPitch, link->offsetYaw),
                         KDL::Vector(link->offsetX, link->offsetY, link->offsetZ));
    const matrix<double>& c = link->com;
    const matrix<double>& I = link->inertia;
    const KDL::RigidBodyInertia inLinkFrame(
        link->mass, KDL::Vector(c(0, 0), c(1, 0), c(2, 0)),
        KDL::RotationalInertia(I(0, 0), I(1, 1), I(2, 2), I(0, 1), I(0, 2), I(1, 2)));
    chain.addSegment(KDL::Segment(KdlJoint(*link), tip, tip.Inverse() * inLinkFrame));
  }
  return chain;
}

void ExpectSameAsKdl(Robot& robot, uint64_t seed) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  const KDL::Chain chain = KdlChain(robot);
  ASSERT_EQ(chain.getNrOfJoints(), n);
  KDL::ChainDynParam kdl(
      chain, KDL::Vector(robot.gravity(0, 0), robot.gravity(1, 0), robot.gravity(2, 0)));
  std::mt19937_64 random(seed);
  KDL::JntArray q(n), qd(n), coriolis(n), gravity(n);
  KDL::JntSpaceInertiaMatrix mass(n);

  for (int state = 0; state < kStates; ++state) {
    RandomState(robot, random);
    for (uint32_t i = 0; i < n; ++i) {
      q(i) = robot.links[i]->q;
      qd(i) = robot.links[i]->qd;
    }
    ASSERT_EQ(kdl.JntToMass(q, mass), 0);
    ASSERT_EQ(kdl.JntToGravity(q, gravity), 0);
    ASSERT_EQ(kdl.JntToCoriolis(q, qd, coriolis), 0);

    const EquationTerms t = EvaluateEquationTerms(robot);
    const matrix<double> cqd = t.C * t.qd;
    SCOPED_TRACE(testing::Message() << "state " << state);
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t j = 0; j < n; ++j) {
        EXPECT_NEAR(t.M(i, j), mass(i, j), kTolerance) << "M(" << i << ", " << j << ")";
      }
      EXPECT_NEAR(t.G(i, 0), gravity(i), kTolerance) << "G(" << i << ")";
      EXPECT_NEAR(cqd(i, 0), coriolis(i), kTolerance) << "(C qd)(" << i << ")";
    }
  }
}

TEST(KdlCrossCheck, BuiltInArmAgreesAtRandomStates) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  ExpectSameAsKdl(*robot, 1);
}

TEST(KdlCrossCheck, ArmTurningAndSlidingAboutEveryAxisAgreesAtRandomStates) {
  std::unique_ptr<Robot> robot = MakeGeneralArm();
  ExpectSameAsKdl(*robot, 2);
}

}  // namespace
