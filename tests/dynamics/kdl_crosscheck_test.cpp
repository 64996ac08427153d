// M, G and C qd against Orocos KDL's ChainDynParam (recursive Newton-Euler and composite bodies,
// a different method written by others) at random states of the built-in and the general arm.
#include <cstdint>
#include <memory>
#include <random>

#include <gtest/gtest.h>
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/jntarray.hpp>

#include "dynamics/dynamics.h"
#include "tests/dynamics/arms.h"

namespace {

// The arm as a KDL chain: a segment is the joint followed by the tip frame (the link's offset
// pose) and carries its inertia in that tip frame; a link's inertia is given in the frame after
// its joint.
KDL::Chain KdlChain(const Robot& robot) {
  using J = KDL::Joint;
  const J::JointType types[2][3] = {{J::RotX, J::RotY, J::RotZ}, {J::TransX, J::TransY, J::TransZ}};
  KDL::Chain chain;
  for (const auto& link : robot.links) {
    const KDL::Frame tip(KDL::Rotation::RPY(link->offsetRoll, link->offsetPitch, link->offsetYaw),
                         KDL::Vector(link->offsetX, link->offsetY, link->offsetZ));
    const matrix<double>&c = link->com, &I = link->inertia;
    const KDL::RigidBodyInertia inLinkFrame(
        link->mass, KDL::Vector(c(0, 0), c(1, 0), c(2, 0)),
        KDL::RotationalInertia(I(0, 0), I(1, 1), I(2, 2), I(0, 1), I(0, 2), I(1, 2)));
    const J joint(types[link->jointType == Prismatic ? 1 : 0][link->axis]);
    chain.addSegment(KDL::Segment(joint, tip, tip.Inverse() * inLinkFrame));
  }
  return chain;
}

TEST(KdlCrossCheck, MassGravityAndCoriolisAgreeAtRandomStates) {
  std::mt19937_64 random(1);
  for (bool general : {false, true}) {
    std::unique_ptr<Robot> robot = general ? MakeGeneralArm() : MakeBuiltInRobot();
    const auto n = static_cast<uint32_t>(robot->links.size());
    const KDL::Chain chain = KdlChain(*robot);
    const matrix<double>& g = robot->gravity;
    KDL::ChainDynParam kdl(chain, KDL::Vector(g(0, 0), g(1, 0), g(2, 0)));
    KDL::JntArray q(n), qd(n), coriolis(n), gravity(n);
    KDL::JntSpaceInertiaMatrix mass(n);
    for (int state = 0; state < 50; ++state) {
      SCOPED_TRACE(testing::Message()
                   << (general ? "general" : "built-in") << " arm, state " << state);
      RandomState(*robot, random);
      for (uint32_t i = 0; i < n; ++i) {
        q(i) = robot->links[i]->q;
        qd(i) = robot->links[i]->qd;
      }
      ASSERT_EQ(kdl.JntToMass(q, mass) | kdl.JntToGravity(q, gravity) |
                    kdl.JntToCoriolis(q, qd, coriolis),
                0);
      const EquationTerms t = EvaluateEquationTerms(*robot);
      const matrix<double> cqd = t.C * t.qd;
      for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
          EXPECT_NEAR(t.M(i, j), mass(i, j), 1e-10) << "M(" << i << ", " << j << ")";
        }
        EXPECT_NEAR(t.G(i, 0), gravity(i), 1e-10) << "G(" << i << ")";
        EXPECT_NEAR(cqd(i, 0), coriolis(i), 1e-10) << "(C qd)(" << i << ")";
      }
    }
  }
}

}  // namespace
