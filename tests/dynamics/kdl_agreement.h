// M, G and C qd of an arm against Orocos KDL's ChainDynParam (recursive Newton-Euler and composite
// bodies, a different method written by others) on a KDL chain of the same arm, within 1e-10 at
// random states.
#pragma once

#include <cstdint>
#include <random>

#include <gtest/gtest.h>
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/jntarray.hpp>

#include "dynamics/dynamics.h"
#include "tests/dynamics/arms.h"

inline void ExpectAgreesWithKdl(Robot& robot, const KDL::Chain& chain, std::mt19937_64& random,
                                int states) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  ASSERT_EQ(chain.getNrOfJoints(), n);
  const matrix<double>& g = robot.gravity;
  KDL::ChainDynParam kdl(chain, KDL::Vector(g(0, 0), g(1, 0), g(2, 0)));
  KDL::JntArray q(n), qd(n), coriolis(n), gravity(n);
  KDL::JntSpaceInertiaMatrix mass(n);
  for (int state = 0; state < states; ++state) {
    SCOPED_TRACE(testing::Message() << "state " << state);
    RandomState(robot, random);
    for (uint32_t i = 0; i < n; ++i) {
      q(i) = robot.links[i]->q;
      qd(i) = robot.links[i]->qd;
    }
    ASSERT_EQ(
        kdl.JntToMass(q, mass) | kdl.JntToGravity(q, gravity) | kdl.JntToCoriolis(q, qd, coriolis),
        0);
    const EquationTerms t = EvaluateEquationTerms(robot);
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
