// The dynamics against what is known without them: the closed forms of the built-in arm at rest and
// the damped pseudo-inverse's visible gap to M^-1; at random states, the invariants of the equation
// of motion and every derivative against a central difference; friction's sign rule; the energy
// drift of frictionless motion (and so the step) against the time step.
#include <algorithm>
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

TEST(Dynamics, BuiltInArmAtRestHasTheClosedFormsAndFallsThroughTheDampedPseudoInverse) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const EquationTerms t = EvaluateEquationTerms(*robot);
  for (uint32_t a = 0; a < 6; ++a) {
    double g = 0;
    for (uint32_t b = 0; b < 6; ++b) {
      double m = 0;
      for (uint32_t i = std::max(a, b); i < 6; ++i) {
        m += (0.3 * (i - a) + 0.15) * (0.3 * (i - b) + 0.15) + 0.01;
      }
      EXPECT_NEAR(t.M(a, b), m, 1e-12) << "M(" << a << ", " << b << ")";
      EXPECT_EQ(t.C(a, b), 0.0);
      g += b >= a ? 9.81 * (0.3 * (b - a) + 0.15) : 0.0;
    }
    EXPECT_NEAR(t.G(a, 0), g, 1e-12) << "G(" << a << ")";
  }

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
  for (int tick = 0; tick < 5; ++tick) {
    IntegrateStep(*robot, Zeros(6), kTimeStep);
    EXPECT_TRUE(SameMatrix(InverseDynamics(*robot), t.G)) << "tick " << tick;
    EXPECT_TRUE(SameMatrix(robot->GetJointAngles(), Zeros(6)));
  }
}

// Whether a symmetric matrix has only positive pivots in Gaussian elimination.
bool PositiveDefinite(matrix<double> a) {
  for (uint32_t j = 0; j < a.RowCount(); ++j) {
    if (!(a(j, j) > 0)) {
      return false;
    }
    for (uint32_t i = j + 1; i < a.RowCount(); ++i) {
      for (uint32_t k = j + 1; k < a.RowCount(); ++k) {
        a(i, k) -= a(i, j) / a(j, j) * a(j, k);
      }
    }
  }
  return true;
}

// Elements within 1e-7.
void ExpectNear(const matrix<double>& actual, const matrix<double>& expected, const char* what) {
  EXPECT_THAT(Elements(actual), Pointwise(DoubleNear(1e-7), Elements(expected))) << what;
}

TEST(Dynamics, InvariantsAndDerivativesHoldAtRandomStates) {
  std::mt19937_64 random(5);
  for (int arm = 0; arm < 3; ++arm) {  // built-in, general, general with a fixed joint
    std::unique_ptr<Robot> robot = arm == 0 ? MakeBuiltInRobot() : MakeGeneralArm();
    if (arm == 2) {
      robot->links[3]->jointType = Fixed;
    }
    const auto n = static_cast<uint32_t>(robot->links.size());
    for (int state = 0; state < 3; ++state) {
      SCOPED_TRACE(testing::Message() << "arm " << arm << ", state " << state);
      RandomState(*robot, random);
      const EquationTerms t = EvaluateEquationTerms(*robot);
      std::vector<matrix<double>> Jv, Jw;
      for (uint32_t i = 0; i < n; ++i) {
        Jv.push_back(LinearJacobian(*robot, i));
        Jw.push_back(AngularJacobian(*robot, i));
      }
      const std::vector<matrix<double>> N = MassMatrixDerivatives(*robot, Jv, Jw);

      // M is symmetric positive definite (a fixed joint's row is 0); dM/dt = sum_i N[i] qd_i,
      // and dM/dt - 2 C is skew-symmetric.
      EXPECT_TRUE(arm == 2 || PositiveDefinite(t.M));
      matrix<double> mDot(n, n);
      mDot.SetZero();
      for (uint32_t i = 0; i < n; ++i) {
        mDot += N[i] * robot->links[i]->qd;
      }
      const matrix<double> s = mDot - t.C * 2.0;
      EXPECT_THAT(Elements(t.M), Pointwise(DoubleNear(1e-13), Elements(Transpose(t.M))));
      EXPECT_THAT(Elements(s), Pointwise(DoubleNear(1e-11), Elements(Transpose(s) * -1.0)));

      // Every derivative by q_k against the central difference of what it differentiates, read
      // after a kinematics pass; the pass's own derivatives enter N and the Jacobian derivatives.
      for (uint32_t k = 0; k < n; ++k) {
        SCOPED_TRACE(testing::Message() << "by q" << k);
        const auto slope = [&robot, k](auto f) {
          const double q = robot->links[k]->q, h = 1e-6;
          robot->links[k]->q = q + h;
          UpdateLinkKinematics(*robot);
          const matrix<double> ahead = f();
          robot->links[k]->q = q - h;
          UpdateLinkKinematics(*robot);
          const matrix<double> behind = f();
          robot->links[k]->q = q;
          UpdateLinkKinematics(*robot);
          return (ahead - behind) * (1 / (2 * h));
        };
        ExpectNear(N[k], slope([&] { return EvaluateEquationTerms(*robot).M; }), "N");
        EXPECT_NEAR(t.G(k, 0), slope([&] { return V({PotentialEnergy(*robot)}); })(0, 0), 1e-6);
        for (uint32_t j = 0; j < n; ++j) {
          SCOPED_TRACE(testing::Message() << "link " << j);
          const Link& link = *robot->links[j];
          ExpectNear(LinearJacobianDerivative(*robot, j, k),
                     slope([&] { return LinearJacobian(*robot, j); }), "dJv");
          ExpectNear(AngularJacobianDerivative(*robot, j, k),
                     slope([&] { return AngularJacobian(*robot, j); }), "dJw");
          // Column k of Jv_j is dp_j/dq_k; column k of Jw_j the axial vector of dR_j/dq_k R_j^T.
          matrix<double> jv = Jv[j], jw = Jw[j];
          const matrix<double> spin =
              slope([&] { return link.rotationWorld; }) * Transpose(link.rotationWorld);
          ExpectNear(Column3(jv, k), slope([&] { return link.comWorld; }), "Jv column");
          ExpectNear(Column3(jw, k), V({spin(2, 1), spin(0, 2), spin(1, 0)}), "Jw column");
        }
      }
    }
  }
}

TEST(Dynamics, FrictionTakesTheSignOfAnyVelocityButExactlyZero) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
  robot->viscousFriction = 0.5;
  robot->coulombFriction = 0.25;
  robot->links[0]->qd = 1e-300;
  robot->links[1]->qd = -2.0;
  EXPECT_TRUE(SameMatrix(FrictionVector(*robot), V({0.25, -1.25, 0})));
}

TEST(Dynamics, EnergyDriftShrinksInProportionToTheTimeStep) {
  // The largest change of the total energy over one simulated second of frictionless fall.
  const auto drift = [](int links, double dt) {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(links);
    robot->viscousFriction = 0;
    robot->coulombFriction = 0;
    double start = 0, largest = 0;
    for (int step = 0; step <= std::lround(1.0 / dt); ++step) {
      const matrix<double> qdd = ForwardDynamics(*robot, Zeros(links));
      const double total = robot->kineticEnergy + robot->potentialEnergy;
      start = step == 0 ? total : start;
      largest = std::max(largest, std::abs(total - start));
      IntegrateStep(*robot, qdd, dt);
    }
    return largest;
  };
  for (int links : {3, 6}) {
    const double coarse = drift(links, 0.01), fine = drift(links, 0.005),
                 finer = drift(links, 0.0025);
    SCOPED_TRACE(testing::Message()
                 << links << " links: " << coarse << ", " << fine << ", " << finer);
    EXPECT_NEAR(coarse / fine, 2.0, 0.5);
    EXPECT_NEAR(fine / finer, 2.0, 0.5);
  }
}

}  // namespace
