// The tick's integrators on the physical behaviour they promise: with the default friction and no
// torque, arms with light wrists and long chains falling from horizontal stay finite, never chatter
// and never gain energy; Coulomb friction holds a joint at rest below its level and stops a slow
// one without reversing it; without friction Runge-Kutta keeps the energy and the implicit step
// does not diverge.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/stepper.h"

namespace {

// A six-joint arm of the industrial kind: heavy shoulder and elbow, a wrist of three 0.3 kg links
// with inertias near 1e-4 kg m^2, turning about z, y, y, x, y, x.
std::unique_ptr<Robot> LightWristArm() {
  auto robot = std::make_unique<Robot>(0.0, 0.0, -9.81, 0.1, 0.1);
  const struct {
    double mass, length, inertia;
    int axis;
  } links[] = {{8.0, 0.1, 0.05, Z},  {6.0, 0.4, 0.08, Y},  {4.0, 0.35, 0.04, Y},
               {0.3, 0.06, 1e-4, X}, {0.3, 0.06, 1e-4, Y}, {0.25, 0.04, 8e-5, X}};
  for (const auto& l : links) {
    robot->AddLink(l.mass, l.length / 2, 0.01, 0.0, l.inertia, l.inertia * 1.2, l.inertia * 1.1,
                   0.0, 0.0, 0.0, l.length, 0.0, 0.0, 0.0, 0.0, 0.0, 0.02);
    robot->links.back()->axis = l.axis;
  }
  return robot;
}

struct RunReport {
  long diverged = 0;        // the first tick whose state is not finite, 0 if none
  int longestFlipping = 0;  // the most consecutive ticks on which a joint's velocity changed sign
  double rise = 0.0;        // the most the energy rose above its start, / the peak kinetic energy
};

RunReport RunArm(Robot& robot, const StepOptions& options, long ticks) {
  Stepper stepper(robot, options);
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> torque(n, 1);
  torque.SetZero();
  RunReport report;
  std::vector<int> flipping(n, 0);
  std::vector<double> before(n, 0.0);
  double start = 0.0, peak = 0.0, highest = -INFINITY;
  for (long tick = 1; tick <= ticks && report.diverged == 0; ++tick) {
    stepper.Forward(torque);
    if (!StateIsFinite(robot)) {
      report.diverged = tick;
    }
    const double energy = robot.kineticEnergy + robot.potentialEnergy;
    start = tick == 1 ? energy : start;
    peak = std::max(peak, robot.kineticEnergy);
    highest = std::max(highest, energy);
    for (uint32_t i = 0; i < n; ++i) {
      const double v = robot.links[i]->qd;
      flipping[i] = v * before[i] < 0.0 ? flipping[i] + 1 : 0;
      report.longestFlipping = std::max(report.longestFlipping, flipping[i]);
      before[i] = v;
    }
  }
  report.rise = peak > 0.0 ? (highest - start) / peak : 0.0;
  return report;
}

const StepOptions kRobust{EngineKind::kRecursive, IntegratorKind::kImplicit, 1};

TEST(Stepper, LightWristsAndLongChainsStayFiniteCalmAndNeverGainEnergy) {
  const struct {
    std::string name;
    std::unique_ptr<Robot> (*make)();
  } arms[] = {
      {"light wrist", LightWristArm},
      {"6 links", [] { return MakeBuiltInRobot(6); }},
      {"12 links", [] { return MakeBuiltInRobot(12); }},
      {"30 links", [] { return MakeBuiltInRobot(30); }},
      {"100 links", [] { return MakeBuiltInRobot(100); }},
  };
  for (const auto& arm : arms) {
    SCOPED_TRACE(arm.name);
    std::unique_ptr<Robot> robot = arm.make();
    const RunReport report = RunArm(*robot, kRobust, 3000);
    EXPECT_EQ(report.diverged, 0);
    EXPECT_LT(report.longestFlipping, 10);
    EXPECT_LT(report.rise, 0.01);
  }
  // The closed form's Euler step, which the built-in arm keeps, cannot hold the light wrist.
  std::unique_ptr<Robot> wrist = LightWristArm();
  const RunReport old = RunArm(*wrist, StepOptions{}, 3000);
  EXPECT_TRUE(old.diverged != 0 || old.longestFlipping >= 10);
}

// One link turning about x in a plane across gravity, or hanging straight down, with torque tau
// and Coulomb friction 0.1: below the friction level it stays exactly where it is.
TEST(Stepper, CoulombFrictionHoldsBelowItsLevelAndStopsWithoutReversing) {
  const struct {
    double torque;
    double q0;  // pi/2 below the horizontal hangs the link down
    double qd0;
    bool gravity;
    bool rests;  // at rest at q0 (after at most one tick) for all ticks
  } cases[] = {
      {0.0, -M_PI / 2, 0.0, true, true},   {0.09, -M_PI / 2, 0.0, true, true},
      {-0.09, -M_PI / 2, 0.0, true, true}, {0.11, -M_PI / 2, 0.0, true, false},
      {0.05, 0.3, 0.0, false, true},       {0.0, 0.3, 0.004, false, true},
      {0.0, 0.3, -0.004, false, true},     {0.0, 0.3, 0.5, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "torque " << c.torque << ", q0 " << c.q0 << ", qd0 " << c.qd0);
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(1);
    robot->viscousFriction = 0.0;
    if (!c.gravity) {
      robot->gravity(2, 0) = 0.0;
    }
    Link& link = *robot->links[0];
    link.q = c.q0;
    link.qd = c.qd0;
    Stepper stepper(*robot, kRobust);
    matrix<double> torque(1, 1);
    torque(0, 0) = c.torque;
    double held = c.q0;
    bool rests = true;
    for (int tick = 1; tick <= 200; ++tick) {
      stepper.Forward(torque);
      // A slow joint stops within the tick, never turning back.
      EXPECT_GE(link.qd * c.qd0, 0.0);
      held = tick == 1 ? link.q : held;
      rests = rests && link.qd == 0.0 && link.q == held;
    }
    EXPECT_EQ(rests, c.rests);
    if (c.rests && c.qd0 == 0.0) {
      EXPECT_EQ(held, c.q0);
    }
  }
}

TEST(Stepper, WithoutFrictionRungeKuttaKeepsTheEnergyAndTheImplicitStepHolds) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(6);
  robot->viscousFriction = robot->coulombFriction = 0.0;
  Stepper stepper(*robot, {EngineKind::kRecursive, IntegratorKind::kRk4, 8});
  matrix<double> torque(6, 1);
  torque.SetZero();
  double drift = 0.0, swing = 0.0;
  for (int tick = 0; tick < 6000; ++tick) {
    stepper.Forward(torque);
    drift = std::max(drift, std::fabs(robot->kineticEnergy + robot->potentialEnergy));
    swing = std::max(swing, robot->kineticEnergy);
  }
  EXPECT_LT(drift, 0.1);
  EXPECT_GT(swing, 40.0);

  // The implicit step: 600 s of the six links stay finite; the twelve never gain energy.
  robot = MakeBuiltInRobot(6);
  robot->viscousFriction = robot->coulombFriction = 0.0;
  EXPECT_EQ(RunArm(*robot, kRobust, 60000).diverged, 0);
  robot = MakeBuiltInRobot(12);
  robot->viscousFriction = robot->coulombFriction = 0.0;
  EXPECT_LT(RunArm(*robot, kRobust, 3000).rise, 0.01);
}

// The closed form's Euler tick reports the tick's acceleration, its change of velocity over the
// tick, however many substeps it takes; and a state whose damped solve is singular (two joints on
// one axis, a massless link between them, a body so heavy that the damping rounds away) diverges
// into NaN instead of ending the process.
TEST(Stepper, TheClosedFormsEulerTickReportsTheTicksAccelerationAndDivergesOnASingularSolve) {
  for (const int substeps : {1, 4}) {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
    robot->links[0]->q = 0.3;
    Stepper stepper(*robot, {EngineKind::kClosedForm, IntegratorKind::kEuler, substeps});
    matrix<double> torque(3, 1);
    torque.SetZero();
    torque(1, 0) = 2.0;
    std::vector<double> before(3);
    for (int tick = 0; tick < 5; ++tick) {
      for (uint32_t i = 0; i < 3; ++i) {
        before[i] = robot->links[i]->qd;
      }
      const matrix<double>& accel = stepper.Forward(torque);
      for (uint32_t i = 0; i < 3; ++i) {
        const double change = (robot->links[i]->qd - before[i]) / 0.01;
        EXPECT_NEAR(accel(i, 0), change, 1e-9 * (1.0 + std::fabs(change))) << substeps;
        EXPECT_EQ(robot->links[i]->qdd, accel(i, 0));
      }
    }
  }

  auto robot = std::make_unique<Robot>(0.0, 0.0, -9.81, 0.1, 0.1);
  robot->AddLink(0.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.01);  // at the next joint
  robot->AddLink(1e10, 0, 0.15, 0, 1, 1, 1, 0, 0, 0, 0, 0.3, 0, 0, 0, 0, 0.01);
  Stepper stepper(*robot, StepOptions{});
  matrix<double> torque(2, 1);
  torque.SetZero();
  const matrix<double>& accel = stepper.Forward(torque);
  EXPECT_TRUE(std::isnan(accel(0, 0)) && std::isnan(accel(1, 0)));
  EXPECT_FALSE(StateIsFinite(*robot));
  stepper.Forward(torque);  // and the ticks go on
}

// The closed form's solve with joints locked to given accelerations is the recursive engine's:
// the free joints feel the locked ones' coupling, M_FL qdd_L, taken off their torques, and the
// locked ones take the forces that move them so.
TEST(Equation, BothEnginesSolveAlikeWithJointsLocked) {
  std::unique_ptr<Robot> robot = LightWristArm();
  const std::vector<double> q = {0.3, -0.7, 1.1, 0.4, -0.2, 0.9};
  const std::vector<double> qd = {0.5, -1.0, 0.2, 2.0, -1.5, 0.7};
  const std::vector<uint8_t> patterns[] = {
      {0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {0, 1, 0, 1, 0, 0}, {0, 0, 0, 1, 1, 1}};
  for (const auto& locked : patterns) {
    std::vector<double> results[2][2];  // engine, then qdd and tau
    for (const EngineKind engine : {EngineKind::kClosedForm, EngineKind::kRecursive}) {
      const auto e = static_cast<std::size_t>(engine == EngineKind::kRecursive);
      std::unique_ptr<Equation> equation = MakeEquation(engine, *robot);
      equation->Evaluate(*robot, q.data(), qd.data());
      std::vector<double> tau = {1.0, -2.0, 0.5, 0.1, 0.0, -0.05};
      std::vector<double> qdd = {0.0, 3.0, 0.0, -4.0, 2.0, 1.0};  // for the locked joints
      equation->Solve(0.01, tau.data(), locked.data(), qdd.data());
      results[e][0] = qdd;
      results[e][1] = tau;
    }
    for (int k = 0; k < 2; ++k) {
      for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_NEAR(results[0][k][i], results[1][k][i], 1e-10 * (1.0 + std::fabs(results[1][k][i])))
            << "locked " << int(locked[0]) << int(locked[1]) << int(locked[2]) << int(locked[3])
            << int(locked[4]) << int(locked[5]) << (k == 0 ? ", qdd " : ", tau ") << i;
      }
    }
  }
}

}  // namespace
