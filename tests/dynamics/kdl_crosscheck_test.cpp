// M, G and C qd against Orocos KDL at random states of the built-in and the general arm, on chains
// built here from the arms' own parameters.
#include <cstdint>
#include <memory>
#include <random>

#include <gtest/gtest.h>
#include <kdl/chain.hpp>

#include "tests/dynamics/kdl_agreement.h"

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
    SCOPED_TRACE(general ? "general arm" : "built-in arm");
    std::unique_ptr<Robot> robot = general ? MakeGeneralArm() : MakeBuiltInRobot();
    ExpectAgreesWithKdl(*robot, KdlChain(*robot), random, 50);
  }
}

}  // namespace
