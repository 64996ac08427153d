// The library's loops against the tick written directly in matrix operations: every tick's
// result, energy and joint state must agree bit for bit, since results are
// compared exactly with other builds over long chaotic runs. The matrix-valued stage functions
// must give the bits of the tick's own evaluation.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "dynamics/kinematics.h"
#include "dynamics/terms.h"
#include "tests/dynamics/arms.h"
#include "tests/dynamics/reference_dynamics.h"
#include "tests/matrix/matrix_literal.h"

namespace {

bool Same(double x, double y) {
  return (x == y && std::signbit(x) == std::signbit(y)) || (std::isnan(x) && std::isnan(y));
}

// Same shape and the same bits, NaN matching NaN.
::testing::AssertionResult SameBits(const matrix<double>& a, const matrix<double>& b) {
  if (a.RowCount() != b.RowCount() || a.ColCount() != b.ColCount()) {
    return ::testing::AssertionFailure() << "shapes differ";
  }
  for (uint32_t i = 0; i < a.RowCount(); ++i) {
    for (uint32_t j = 0; j < a.ColCount(); ++j) {
      if (!Same(a(i, j), b(i, j))) {
        return ::testing::AssertionFailure()
               << "element (" << i << ", " << j << "): " << a(i, j) << " vs " << b(i, j);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Ticks of the library and of the matrix form side by side on two copies of one arm.
void ExpectSameTicks(Robot& mine, Robot& theirs, bool forward, const matrix<double>& input,
                     int ticks) {
  for (int tick = 1; tick <= ticks; ++tick) {
    SCOPED_TRACE(testing::Message() << "tick " << tick);
    matrix<double> a, b;
    if (forward) {
      a = ForwardDynamics(mine, input);
      b = reference::ForwardDynamics(theirs, input);
      IntegrateStep(mine, a, kTimeStep);
      IntegrateStep(theirs, b, kTimeStep);
    } else {
      IntegrateStep(mine, input, kTimeStep);
      IntegrateStep(theirs, input, kTimeStep);
      a = InverseDynamics(mine);
      b = reference::InverseDynamics(theirs);
    }
    ASSERT_TRUE(SameBits(a, b));
    ASSERT_TRUE(Same(mine.kineticEnergy, theirs.kineticEnergy));
    ASSERT_TRUE(Same(mine.potentialEnergy, theirs.potentialEnergy));
    for (std::size_t i = 0; i < mine.links.size(); ++i) {
      ASSERT_TRUE(Same(mine.links[i]->q, theirs.links[i]->q) &&
                  Same(mine.links[i]->qd, theirs.links[i]->qd))
          << "joint " << i;
    }
  }
}

TEST(BitExact, ChaoticSixLinkFallMatchesTheMatrixFormTickByTick) {
  auto mine = MakeBuiltInRobot(), theirs = MakeBuiltInRobot();
  ExpectSameTicks(*mine, *theirs, true, V({0.5, -0.3, 0.2, 0.0, -0.1, 0.05}), 400);
}

TEST(BitExact, InverseTicksMatchTheMatrixForm) {
  auto mine = MakeBuiltInRobot(), theirs = MakeBuiltInRobot();
  ExpectSameTicks(*mine, *theirs, false, V({1, -2, 3, -4, 5, -6}), 150);
}

TEST(BitExact, ArmTurningAndSlidingAboutEveryAxisMatchesTheMatrixForm) {
  // Masses other than 1 and full inertia tensors: no factor hides a changed order.
  auto mine = MakeGeneralArm(), theirs = MakeGeneralArm();
  for (Robot* robot : {mine.get(), theirs.get()}) {
    robot->viscousFriction = 0.05;
    robot->coulombFriction = 0.02;
  }
  ExpectSameTicks(*mine, *theirs, true, V({0.1, 0.2, -0.3, 0.0, 0.4, 0.1}), 200);
  ExpectSameTicks(*mine, *theirs, false, V({0.1, 0.2, -0.3, 0.0, 0.4, 0.1}), 20);
}

TEST(BitExact, NonFiniteStatesAndEverySizeMatchTheMatrixForm) {
  // A torque beyond any finite acceleration turns the state into infinities and NaN, which the
  // tick carries on with.
  const double huge = std::numeric_limits<double>::max();
  auto mine = MakeBuiltInRobot(), theirs = MakeBuiltInRobot();
  ExpectSameTicks(*mine, *theirs, true, V({huge, -huge, huge, 0, 0, 0}), 5);
  for (int n : {0, 1, 2, 12}) {
    SCOPED_TRACE(testing::Message() << n << " links");
    matrix<double> zero(static_cast<uint32_t>(n), 1);
    zero.SetZero();
    auto a = MakeBuiltInRobot(n), b = MakeBuiltInRobot(n);
    ExpectSameTicks(*a, *b, true, zero, 10);
    ExpectSameTicks(*a, *b, false, zero, 3);
  }
}

TEST(BitExact, StageFunctionsGiveTheBitsOfTheTicksEvaluation) {
  std::mt19937_64 random(7);
  for (bool general : {false, true}) {
    std::unique_ptr<Robot> robot = general ? MakeGeneralArm() : MakeBuiltInRobot();
    robot->viscousFriction = 0.3;
    robot->coulombFriction = 0.2;
    RandomState(*robot, random);
    const EquationTerms t = EvaluateEquationTerms(*robot);
    const EquationTerms r = reference::EvaluateEquationTerms(*robot);
    std::vector<matrix<double>> Jv, Jw;
    for (uint32_t i = 0; i < robot->links.size(); ++i) {
      Jv.push_back(LinearJacobian(*robot, i));
      Jw.push_back(AngularJacobian(*robot, i));
    }
    EXPECT_TRUE(SameBits(t.M, r.M) && SameBits(t.C, r.C) && SameBits(t.G, r.G) &&
                SameBits(t.F, r.F));
    EXPECT_TRUE(SameBits(MassMatrix(*robot, Jv, Jw), t.M));
    EXPECT_TRUE(SameBits(CoriolisMatrix(*robot, Jv, Jw), t.C));
    EXPECT_TRUE(SameBits(GravityVector(*robot, Jv), t.G));
    EXPECT_TRUE(SameBits(FrictionVector(*robot), t.F));
    EXPECT_TRUE(Same(KineticEnergy(*robot, t.M), robot->kineticEnergy));
    EXPECT_TRUE(Same(PotentialEnergy(*robot), robot->potentialEnergy));
  }
}

}  // namespace
