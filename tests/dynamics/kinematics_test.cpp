// The kinematics pass and the link Jacobians: exact values of the built-in arm at rest, and every
// derivative against a central finite difference of what it differentiates, for an arm that turns
// and slides about every axis (also with a fixed joint).
#include <cstdint>
#include <functional>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "dynamics/jacobians.h"
#include "dynamics/kinematics.h"
#include "tests/dynamics/arms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

void ExpectNear(const matrix<double>& actual, const matrix<double>& expected, const char* what) {
  ASSERT_EQ(actual.RowCount(), expected.RowCount()) << what;
  ASSERT_EQ(actual.ColCount(), expected.ColCount()) << what;
  for (uint32_t r = 0; r < actual.RowCount(); ++r) {
    for (uint32_t c = 0; c < actual.ColCount(); ++c) {
      EXPECT_NEAR(actual(r, c), expected(r, c), 1e-7) << what << " (" << r << ", " << c << ")";
    }
  }
}

// (f at q_k + h - f at q_k - h) / 2h, with a kinematics pass before each evaluation.
matrix<double> CentralDifference(Robot& robot, uint32_t k,
                                 const std::function<matrix<double>(const Robot&)>& f) {
  const double q = robot.links[k]->q, h = 1e-6;
  robot.links[k]->q = q + h;
  UpdateLinkKinematics(robot);
  matrix<double> difference = f(robot);
  robot.links[k]->q = q - h;
  UpdateLinkKinematics(robot);
  difference -= f(robot);
  difference *= 1.0 / (2 * h);
  robot.links[k]->q = q;
  UpdateLinkKinematics(robot);
  return difference;
}

TEST(Kinematics, BuiltInArmAtRestLiesAlongY) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  UpdateLinkKinematics(*robot);
  for (uint32_t j = 0; j < 6; ++j) {
    SCOPED_TRACE(testing::Message() << "link " << j);
    const Link& link = *robot->links[j];
    EXPECT_TRUE(SameMatrix(link.originWorld, V({0, 0.3 * j, 0})));
    EXPECT_NEAR(link.comWorld(1, 0), 0.3 * j + 0.15, 1e-15);
    EXPECT_TRUE(SameMatrix(link.axisWorld, V({1, 0, 0})));
    EXPECT_TRUE(SameMatrix(link.rotationWorld, M({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}})));
    EXPECT_TRUE(SameMatrix(link.dRotationWorld[j], M({{0, 0, 0}, {0, 0, -1}, {0, 1, 0}})));
    // Jv_j: row 2 holds the lever arms 0.3 (j - c) + 0.15; Jw_j: row 0 holds ones up to j.
    const matrix<double> jv = LinearJacobian(*robot, j), jw = AngularJacobian(*robot, j);
    for (uint32_t c = 0; c < 6; ++c) {
      EXPECT_EQ(jv(0, c), 0.0);
      EXPECT_EQ(jv(1, c), 0.0);
      EXPECT_NEAR(jv(2, c), c <= j ? 0.3 * (j - c) + 0.15 : 0.0, 1e-15) << "column " << c;
      EXPECT_TRUE(SameMatrix(V({jw(0, c), jw(1, c), jw(2, c)}), V({c <= j ? 1.0 : 0.0, 0, 0})));
    }
  }
}

TEST(Jacobians, CrossProductIsOrderedAndRightHanded) {
  EXPECT_TRUE(SameMatrix(CrossProduct(V({1, 0, 0}), V({0, 1, 0})), V({0, 0, 1})));
  EXPECT_TRUE(SameMatrix(CrossProduct(V({0, 1, 0}), V({1, 0, 0})), V({0, 0, -1})));
  EXPECT_TRUE(SameMatrix(CrossProduct(V({1, 2, 3}), V({-4, 5, 0.5})), V({-14, -12.5, 13})));
}

// Every derivative of the pass and of the Jacobians against central differences at random
// states, and the exact zeros of the chain: nothing of link j depends on a joint beyond it.
void ExpectDerivativesMatchDifferences(Robot& robot, uint64_t seed) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  std::mt19937_64 random(seed);
  for (int state = 0; state < 3; ++state) {
    RandomState(robot, random);
    UpdateLinkKinematics(robot);
    for (uint32_t k = 0; k < n; ++k) {
      for (uint32_t j = 0; j < n; ++j) {
        SCOPED_TRACE(testing::Message() << "state " << state << ", link " << j << ", by q" << k);
        const Link& link = *robot.links[j];
        const auto field = [j](matrix<double> Link::*member) {
          return [j, member](const Robot& r) { return (*r.links[j]).*member; };
        };
        ExpectNear(link.dRotationWorld[k], CentralDifference(robot, k, field(&Link::rotationWorld)),
                   "dRotationWorld");
        ExpectNear(link.dAxisWorld[k], CentralDifference(robot, k, field(&Link::axisWorld)),
                   "dAxisWorld");
        ExpectNear(link.dOriginWorld[k], CentralDifference(robot, k, field(&Link::originWorld)),
                   "dOriginWorld");
        ExpectNear(link.dComWorld[k], CentralDifference(robot, k, field(&Link::comWorld)),
                   "dComWorld");
        if (k > j) {
          EXPECT_TRUE(SameMatrix(link.dComWorld[k], V({0, 0, 0})));
          EXPECT_TRUE(SameMatrix(link.dRotationWorld[k], M({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}})));
        }

        // Column k of Jv_j is dp_j/dq_k; column k of Jw_j is the axial vector of dR_j/dq_k R_j^T.
        const matrix<double> jv = LinearJacobian(robot, j), jw = AngularJacobian(robot, j);
        const matrix<double> spin = link.dRotationWorld[k] * Transpose(link.rotationWorld);
        ExpectNear(V({jv(0, k), jv(1, k), jv(2, k)}), link.dComWorld[k], "Jv column");
        ExpectNear(V({jw(0, k), jw(1, k), jw(2, k)}), V({spin(2, 1), spin(0, 2), spin(1, 0)}),
                   "Jw column");
        ExpectNear(
            LinearJacobianDerivative(robot, j, k),
            CentralDifference(robot, k, [j](const Robot& r) { return LinearJacobian(r, j); }),
            "LinearJacobianDerivative");
        ExpectNear(
            AngularJacobianDerivative(robot, j, k),
            CentralDifference(robot, k, [j](const Robot& r) { return AngularJacobian(r, j); }),
            "AngularJacobianDerivative");
      }
    }
  }
}

TEST(Kinematics, DerivativesAndJacobiansMatchCentralDifferences) {
  std::unique_ptr<Robot> robot = MakeGeneralArm();
  ExpectDerivativesMatchDifferences(*robot, 11);
}

TEST(Kinematics, FixedJointMovesNothingAndHasZeroColumns) {
  std::unique_ptr<Robot> robot = MakeGeneralArm();
  robot->links[3]->jointType = Fixed;
  ExpectDerivativesMatchDifferences(*robot, 12);
  for (uint32_t i = 3; i < 6; ++i) {
    const matrix<double> jv = LinearJacobian(*robot, i), jw = AngularJacobian(*robot, i);
    EXPECT_TRUE(jv(0, 3) == 0 && jv(1, 3) == 0 && jv(2, 3) == 0);
    EXPECT_TRUE(jw(0, 3) == 0 && jw(1, 3) == 0 && jw(2, 3) == 0);
  }
}

}  // namespace
