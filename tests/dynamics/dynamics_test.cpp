// Forward and inverse dynamics and the integration step: the built-in arm at rest (the damped
// pseudo-inverse's visible gap to M^-1, holding torques, inverse mode from rest), the step's
// arithmetic, and the energy drift of frictionless motion against the time step.
#include <cmath>
#include <cstdint>
#include <memory>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "tests/matrix/matrix_literal.h"

namespace {

matrix<double> Zeros(uint32_t n) {
  matrix<double> v(n, 1);
  v.SetZero();
  return v;
}

TEST(ForwardDynamics, StraightArmFallsWithTheDampedPseudoInverseGap) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const matrix<double> qdd = ForwardDynamics(*robot, Zeros(6));
  const EquationTerms t = EvaluateEquationTerms(*robot);
  const matrix<double> exact = (!t.M) * (t.G * -1.0);  // M^-1 (-G)

  EXPECT_NEAR(qdd(0, 0), -39.2, 0.05);
  EXPECT_NEAR(qdd(1, 0), 47.1, 0.05);
  // Same signs as M^-1 (-G), smaller magnitudes: about 0.01 % on joint 0 growing to about 3.7 %
  // on joint 5.
  double previousGap = 0;
  for (uint32_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(testing::Message() << "joint " << i);
    EXPECT_EQ(std::signbit(qdd(i, 0)), std::signbit(exact(i, 0)));
    const double gap = 1 - qdd(i, 0) / exact(i, 0);
    EXPECT_GT(gap, previousGap);
    previousGap = gap;
    if (i == 0) {
      EXPECT_NEAR(gap, 1e-4, 0.5e-4);
    }
  }
  EXPECT_NEAR(previousGap, 0.037, 0.002);
  EXPECT_EQ(robot->kineticEnergy, 0.0);
  EXPECT_EQ(robot->potentialEnergy, 0.0);
}

TEST(ForwardDynamics, HoldingTorquesKeepTheStraightArmStill) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const matrix<double> G = EvaluateEquationTerms(*robot).G;
  EXPECT_TRUE(SameMatrix(ForwardDynamics(*robot, G), Zeros(6)));
}

TEST(ForwardDynamics, MasslessArmDoesNotAccelerate) {
  Robot robot(0, 0, -9.81, 0.1, 0.1);
  for (int i = 0; i < 3; ++i) {
    robot.AddLink(0, 0, 0.15, 0, 0, 0, 0, 0, 0, 0, 0, 0.3, 0, 0, 0, 0, 0.03);
  }
  EXPECT_TRUE(SameMatrix(ForwardDynamics(robot, V({5, -3, 1})), Zeros(3)));
}

TEST(InverseDynamics, FromRestWithoutAccelerationHoldsTheArmEveryTick) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const matrix<double> G = EvaluateEquationTerms(*robot).G;
  for (int tick = 0; tick < 5; ++tick) {
    IntegrateStep(*robot, Zeros(6), kTimeStep);
    EXPECT_TRUE(SameMatrix(InverseDynamics(*robot), G)) << "tick " << tick;
    EXPECT_TRUE(SameMatrix(robot->GetJointAngles(), Zeros(6)));
    EXPECT_EQ(robot->kineticEnergy, 0.0);
    EXPECT_EQ(robot->potentialEnergy, 0.0);
  }
}

TEST(IntegrateStep, NewVelocityAdvancesThePositionAndOnlyColumnZeroCounts) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(2);
  // Three rows and two columns: row 2 and column 1 are ignored.
  IntegrateStep(*robot, M({{3, 100}, {-5, 100}, {7, 100}}), 0.01);
  IntegrateStep(*robot, V({1, 2}), 0.01);
  const Link& link = *robot->links[1];
  EXPECT_EQ(link.qdd, 2.0);
  EXPECT_EQ(link.qd, 2 * 0.01 + -5 * 0.01);
  EXPECT_EQ(link.q, (2 * 0.01 + -5 * 0.01) * 0.01 + (-5 * 0.01) * 0.01);
}

// The largest change of the total energy over one simulated second of frictionless fall.
double EnergyDrift(int links, double dt) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(links);
  robot->viscousFriction = 0;
  robot->coulombFriction = 0;
  const auto steps = static_cast<int>(std::lround(1.0 / dt));
  double start = 0, drift = 0;
  for (int step = 0; step <= steps; ++step) {
    const matrix<double> qdd = ForwardDynamics(*robot, Zeros(links));
    const double total = robot->kineticEnergy + robot->potentialEnergy;
    if (step == 0) {
      start = total;
    }
    drift = std::max(drift, std::abs(total - start));
    IntegrateStep(*robot, qdd, dt);
  }
  return drift;
}

TEST(IntegrateStep, EnergyDriftShrinksInProportionToTheTimeStep) {
  for (int links : {3, 6}) {
    const double coarse = EnergyDrift(links, 0.01);
    const double fine = EnergyDrift(links, 0.005);
    const double finer = EnergyDrift(links, 0.0025);
    SCOPED_TRACE(testing::Message()
                 << links << " links: " << coarse << ", " << fine << ", " << finer);
    EXPECT_NEAR(coarse / fine, 2.0, 0.5);
    EXPECT_NEAR(fine / finer, 2.0, 0.5);
  }
}

}  // namespace
