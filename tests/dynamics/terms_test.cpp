// The equation-of-motion terms: the closed forms of the built-in arm at rest, and at random states
// the invariants that hold for any arm: M symmetric positive definite, N[k] = dM/dq_k, dM/dt - 2C
// skew-symmetric, G the gradient of the potential energy; friction's sign rule.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/jacobians.h"
#include "dynamics/kinematics.h"
#include "dynamics/terms.h"
#include "tests/dynamics/arms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

struct Terms {
  matrix<double> M, C, G;
  std::vector<matrix<double>> N;
  double potential;
};

Terms Evaluate(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  UpdateLinkKinematics(robot);
  std::vector<matrix<double>> Jv, Jw;
  for (uint32_t i = 0; i < n; ++i) {
    Jv.push_back(LinearJacobian(robot, i));
    Jw.push_back(AngularJacobian(robot, i));
  }
  return {MassMatrix(robot, Jv, Jw), CoriolisMatrix(robot, Jv, Jw), GravityVector(robot, Jv),
          MassMatrixDerivatives(robot, Jv, Jw), PotentialEnergy(robot)};
}

// Whether a symmetric matrix has a Cholesky factor with positive pivots.
bool PositiveDefinite(const matrix<double>& a) {
  const uint32_t n = a.RowCount();
  matrix<double> l(n, n);
  l.SetZero();
  for (uint32_t j = 0; j < n; ++j) {
    for (uint32_t i = j; i < n; ++i) {
      double s = a(i, j);
      for (uint32_t k = 0; k < j; ++k) {
        s -= l(i, k) * l(j, k);
      }
      if (i == j && !(s > 0)) {
        return false;
      }
      l(i, j) = i == j ? std::sqrt(s) : s / l(j, j);
    }
  }
  return true;
}

TEST(Terms, BuiltInArmAtRestHasTheClosedForms) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const Terms t = Evaluate(*robot);
  for (uint32_t a = 0; a < 6; ++a) {
    for (uint32_t b = 0; b < 6; ++b) {
      double m = 0;
      for (uint32_t i = std::max(a, b); i < 6; ++i) {
        m += (0.3 * (i - a) + 0.15) * (0.3 * (i - b) + 0.15) + 0.01;
      }
      EXPECT_NEAR(t.M(a, b), m, 1e-12) << "M(" << a << ", " << b << ")";
      EXPECT_EQ(t.C(a, b), 0.0);
    }
    double g = 0;
    for (uint32_t j = a; j < 6; ++j) {
      g += 0.3 * (j - a) + 0.15;
    }
    EXPECT_NEAR(t.G(a, 0), 9.81 * g, 1e-12) << "G(" << a << ")";
  }
  EXPECT_NEAR(t.M(0, 0), 6.495, 1e-12);
  EXPECT_NEAR(t.M(5, 5), 0.15 * 0.15 + 0.01, 1e-15);
  EXPECT_EQ(t.potential, 0.0);
  EXPECT_TRUE(SameMatrix(FrictionVector(*robot), V({0, 0, 0, 0, 0, 0})));
  EXPECT_EQ(KineticEnergy(*robot, t.M), 0.0);
}

TEST(Terms, InvariantsHoldAtRandomStates) {
  std::mt19937_64 random(5);
  const double h = 1e-6;
  for (bool general : {false, true}) {
    std::unique_ptr<Robot> robot = general ? MakeGeneralArm() : MakeBuiltInRobot();
    const auto n = static_cast<uint32_t>(robot->links.size());
    for (int state = 0; state < 4; ++state) {
      SCOPED_TRACE(testing::Message() << (general ? "general" : "built-in") << " state " << state);
      RandomState(*robot, random);
      const Terms t = Evaluate(*robot);
      EXPECT_TRUE(PositiveDefinite(t.M));

      // dM/dt = sum_i N[i] qd_i; dM/dt - 2 C is skew-symmetric.
      matrix<double> mDot(n, n);
      mDot.SetZero();
      for (uint32_t i = 0; i < n; ++i) {
        mDot += t.N[i] * robot->links[i]->qd;
      }
      const matrix<double> s = mDot - t.C * 2.0;
      for (uint32_t r = 0; r < n; ++r) {
        for (uint32_t c = 0; c < n; ++c) {
          EXPECT_NEAR(t.M(r, c), t.M(c, r), 1e-13);
          EXPECT_NEAR(s(r, c), -s(c, r), 1e-11) << "(" << r << ", " << c << ")";
        }
      }

      // N[k] and G_k against central differences of M and of the potential energy by q_k.
      for (uint32_t k = 0; k < n; ++k) {
        const double q = robot->links[k]->q;
        robot->links[k]->q = q + h;
        const Terms ahead = Evaluate(*robot);
        robot->links[k]->q = q - h;
        const Terms behind = Evaluate(*robot);
        robot->links[k]->q = q;
        for (uint32_t r = 0; r < n; ++r) {
          for (uint32_t c = 0; c < n; ++c) {
            EXPECT_NEAR(t.N[k](r, c), (ahead.M(r, c) - behind.M(r, c)) / (2 * h), 1e-7)
                << "N[" << k << "](" << r << ", " << c << ")";
          }
        }
        EXPECT_NEAR(t.G(k, 0), (ahead.potential - behind.potential) / (2 * h), 1e-6)
            << "G(" << k << ")";
      }
    }
  }
}

TEST(Terms, FrictionTakesTheSignOfTheVelocityWithoutDeadBand) {
  // viscous 0.5, Coulomb 0.2: {qd, F}
  const double cases[][2] = {{0.0, 0.0},      {-0.0, 0.0}, {1e-300, 0.2},
                             {-1e-300, -0.2}, {2.0, 1.2},  {-2.0, -1.2}};
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(1);
  robot->viscousFriction = 0.5;
  robot->coulombFriction = 0.2;
  for (const auto& c : cases) {
    robot->links[0]->qd = c[0];
    EXPECT_NEAR(FrictionVector(*robot)(0, 0), c[1], 1e-15) << "qd " << c[0];
  }
  robot->links[0]->qd = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(FrictionVector(*robot)(0, 0)));
}

}  // namespace
