// The dynamics against what is known without them (M, G and C qd themselves are checked against
// KDL, the tick bit for bit by velmoth-sim's golden runs): the damped pseudo-inverse's visible gap
// to M^-1 and the holding torques of the built-in arm, a single link's closed forms; at random
// states, the invariants of the equation of motion and every derivative against a central
// difference; friction's sign rule; the step; and what misshapen inputs and indices beyond the
// links do.
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "dynamics/kinematics.h"
#include "dynamics/terms.h"
#include "tests/dynamics/arms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

using ::testing::DoubleNear;
using ::testing::Pointwise;

matrix<double> Zeros(uint32_t n) {
  matrix<double> v(n, 1);
  v.SetZero();
  return v;
}

TEST(Dynamics, BuiltInArmFallsThroughTheDampedPseudoInverseAndGHoldsIt) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const EquationTerms t = EvaluateEquationTerms(*robot);
  // Without torque: the signs of M^-1 (-G), magnitudes smaller by about 0.01 % on joint 0 growing
  // to about 3.7 % on joint 5.
  const matrix<double> qdd = ForwardDynamics(*robot, Zeros(6)), exact = (!t.M) * (t.G * -1.0);
  EXPECT_NEAR(qdd(0, 0), -39.2, 0.05);
  EXPECT_NEAR(qdd(1, 0), 47.1, 0.05);
  double gap = 0;
  for (uint32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(std::signbit(qdd(i, 0)), std::signbit(exact(i, 0))) << "joint " << i;
    EXPECT_GT(1 - qdd(i, 0) / exact(i, 0), gap) << "joint " << i;
    gap = 1 - qdd(i, 0) / exact(i, 0);
  }
  EXPECT_NEAR(1 - qdd(0, 0) / exact(0, 0), 1e-4, 0.5e-4);
  EXPECT_NEAR(gap, 0.037, 0.002);
  EXPECT_EQ(robot->kineticEnergy, 0.0);
  EXPECT_EQ(robot->potentialEnergy, 0.0);

  // The holding torques G keep it still; inverse mode from rest gives them on every tick.
  EXPECT_TRUE(SameMatrix(ForwardDynamics(*robot, t.G), Zeros(6)));
  for (int tick = 0; tick < 3; ++tick) {
    IntegrateStep(*robot, Zeros(6), kTimeStep);
    EXPECT_TRUE(SameMatrix(InverseDynamics(*robot), t.G)) << "tick " << tick;
    EXPECT_TRUE(SameMatrix(robot->GetJointAngles(), Zeros(6)));
  }
}

TEST(Dynamics, NoLinkAndOneLink) {
  std::unique_ptr<Robot> none = MakeBuiltInRobot(0);
  EXPECT_EQ(ForwardDynamics(*none, matrix<double>(0, 1)).RowCount(), 0u);
  EXPECT_EQ(InverseDynamics(*none).RowCount(), 0u);
  // A pendulum: M = m 0.15^2 + Ixx, G = 9.81 m 0.15 cos q, its centre of mass 0.15 sin q high.
  std::unique_ptr<Robot> one = MakeBuiltInRobot(1);
  Link& link = *one->links[0];
  link.q = 0.7;
  link.qd = -1.3;
  link.qdd = 3;
  const double m = 0.15 * 0.15 + 0.01, g = 9.81 * 0.15 * std::cos(0.7), f = -1.3 * 0.1 - 0.1;
  EXPECT_NEAR(InverseDynamics(*one)(0, 0), m * 3 + g + f, 1e-14);
  EXPECT_NEAR(one->kineticEnergy, 0.5 * m * 1.69, 1e-15);
  EXPECT_NEAR(one->potentialEnergy, 9.81 * 0.15 * std::sin(0.7), 1e-14);
  EXPECT_NEAR(ForwardDynamics(*one, V({2}))(0, 0), m / (m * m + 1e-8) * (2 - g - f), 1e-11);
}

// Elements within 1e-7.
void ExpectNear(const matrix<double>& actual, const matrix<double>& expected, const char* what) {
  EXPECT_THAT(Elements(actual), Pointwise(DoubleNear(1e-7), Elements(expected))) << what;
}

TEST(Dynamics, InvariantsAndDerivativesHoldAtRandomStates) {
  AtRandomStates(5, 2, [](int, Robot& robot, const EquationTerms& t) {
    const auto n = static_cast<uint32_t>(robot.links.size());
    std::vector<matrix<double>> Jv, Jw;
    LinkJacobians(robot, Jv, Jw);
    const std::vector<matrix<double>> N = MassMatrixDerivatives(robot, Jv, Jw);

    // M is symmetric (its values are checked against KDL); dM/dt = sum_i N[i] qd_i, and
    // dM/dt - 2 C is skew-symmetric.
    matrix<double> mDot(n, n);
    mDot.SetZero();
    for (uint32_t i = 0; i < n; ++i) {
      mDot += N[i] * robot.links[i]->qd;
    }
    const matrix<double> s = mDot - t.C * 2.0;
    EXPECT_THAT(Elements(t.M), Pointwise(DoubleNear(1e-13), Elements(Transpose(t.M))));
    EXPECT_THAT(Elements(s), Pointwise(DoubleNear(1e-11), Elements(Transpose(s) * -1.0)));

    // Every derivative by q_k against the central difference of what it differentiates, read
    // after a kinematics pass; the pass's own derivatives enter N and the Jacobian derivatives.
    for (uint32_t k = 0; k < n; ++k) {
      SCOPED_TRACE(testing::Message() << "by q" << k);
      const auto slope = [&robot, k](auto f) {
        const double q = robot.links[k]->q, h = 1e-6;
        robot.links[k]->q = q + h;
        UpdateLinkKinematics(robot);
        const matrix<double> ahead = f();
        robot.links[k]->q = q - h;
        UpdateLinkKinematics(robot);
        const matrix<double> behind = f();
        robot.links[k]->q = q;
        UpdateLinkKinematics(robot);
        return (ahead - behind) * (1 / (2 * h));
      };
      ExpectNear(N[k], slope([&] { return EvaluateEquationTerms(robot).M; }), "N");
      EXPECT_NEAR(t.G(k, 0), slope([&] { return V({PotentialEnergy(robot)}); })(0, 0), 1e-6);
      for (uint32_t j = 0; j < n; ++j) {
        SCOPED_TRACE(testing::Message() << "link " << j);
        const Link& link = *robot.links[j];
        ExpectNear(LinearJacobianDerivative(robot, j, k),
                   slope([&] { return LinearJacobian(robot, j); }), "dJv");
        ExpectNear(AngularJacobianDerivative(robot, j, k),
                   slope([&] { return AngularJacobian(robot, j); }), "dJw");
        // Column k of Jv_j is dp_j/dq_k; column k of Jw_j the axial vector of dR_j/dq_k R_j^T.
        matrix<double> jv = Jv[j], jw = Jw[j];
        const matrix<double> spin =
            slope([&] { return link.rotationWorld; }) * Transpose(link.rotationWorld);
        ExpectNear(Column3(jv, k), slope([&] { return link.comWorld; }), "Jv column");
        ExpectNear(Column3(jw, k), V({spin(2, 1), spin(0, 2), spin(1, 0)}), "Jw column");
      }
    }
  });
}

TEST(Dynamics, FrictionTakesTheSignOfAnyVelocityButExactlyZeroAndTheStepUsesTheNewVelocity) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
  robot->viscousFriction = 0.5;
  robot->coulombFriction = 0.25;
  robot->links[0]->qd = 1e-300;
  robot->links[1]->qd = -2.0;
  EXPECT_TRUE(SameMatrix(FrictionVector(*robot), V({0.25, -1.25, 0})));

  // Column 0 of the first n rows only; the new velocity advances the position.
  IntegrateStep(*robot, M({{3, 7}, {-4, 7}, {0.5, 7}, {7, 7}}), 0.01);
  const Link &second = *robot->links[1], &third = *robot->links[2];
  EXPECT_EQ((std::vector<double>{second.qdd, second.qd, second.q, third.qdd, third.qd, third.q}),
            (std::vector<double>{-4, -4 * 0.01 - 2.0, (-4 * 0.01 - 2.0) * 0.01, 0.5, 0.5 * 0.01,
                                 0.5 * 0.01 * 0.01}));
}

TEST(Dynamics, IndicesBeyondTheLinksAndMisshapenInputsBehaveAsTheirMatrixExpressions) {
  std::mt19937_64 random(7);
  std::unique_ptr<Robot> robot = MakeGeneralArm();  // turning joints 0, 1, 3 and 5
  RandomState(*robot, random);
  const EquationTerms t = EvaluateEquationTerms(*robot);
  const uint32_t n = 6;
  // The angular Jacobians never read link i: beyond the last link they are those of the last.
  EXPECT_TRUE(SameMatrix(AngularJacobian(*robot, n), AngularJacobian(*robot, n - 1)));
  EXPECT_TRUE(SameMatrix(AngularJacobianDerivative(*robot, 99, 2),
                         AngularJacobianDerivative(*robot, n - 1, 2)));
  EXPECT_EQ(LinearJacobian(*MakeBuiltInRobot(0), 0).ColCount(), 0u);
  // Where link i or entry k must be read and does not exist: the matrix index message.
  EXPECT_FATAL(LinearJacobian(*robot, n), kMatrixIndexMessage);
  EXPECT_FATAL(LinearJacobianDerivative(*robot, 1, n), kMatrixIndexMessage);
  EXPECT_FATAL(AngularJacobianDerivative(*robot, n, n), kMatrixIndexMessage);

  // Jacobians with a column too many: Column3 never reads it, so G is unchanged, but M's sum
  // meets shapes that differ. A sequence too short is an index beyond it.
  std::vector<matrix<double>> Jv, Jw, wide;
  for (uint32_t i = 0; i < n; ++i) {
    Jv.push_back(LinearJacobian(*robot, i));
    Jw.push_back(AngularJacobian(*robot, i));
    wide.push_back(Jv.back());
    wide.back().Resize(3, n + 1);
  }
  EXPECT_TRUE(SameMatrix(GravityVector(*robot, wide), t.G));
  EXPECT_FATAL(MassMatrix(*robot, wide, wide), kMatrixAddMessage);
  EXPECT_FATAL(MassMatrix(*robot, Jv, {Jw[0]}), kMatrixIndexMessage);

  // The tick's inputs: torques n x 1, accelerations with n rows and a column, gravity 3 x 1.
  EXPECT_FATAL(ForwardDynamics(*robot, Zeros(n - 1)), kMatrixSubtractMessage);
  EXPECT_FATAL(ForwardDynamics(*robot, matrix<double>(n, 2)), kMatrixSubtractMessage);
  EXPECT_FATAL(IntegrateStep(*robot, Zeros(n - 1), kTimeStep), kMatrixIndexMessage);
  EXPECT_FATAL(IntegrateStep(*robot, matrix<double>(n, 0), kTimeStep), kMatrixIndexMessage);
  robot->gravity = V({0, 0, -9.81, 0});
  EXPECT_FATAL(GravityVector(*robot, Jv), kMatrixMultiplyMessage);
  EXPECT_FATAL(EvaluateEquationTerms(*robot), kMatrixMultiplyMessage);
}

}  // namespace
