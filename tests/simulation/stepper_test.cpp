// The tick's integrators on the physics they promise: a rod against the analytic pendulum and its
// friction, joints that friction stops or holds, error control against a fine reference, the energy
// balance, the caps, ticks given up, and light wrists and long chains that stay finite and calm.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "dynamics/kinematics.h"
#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/stepper.h"

namespace {

constexpr double kG = 9.81;
constexpr double kMass = 1.0;
constexpr double kLength = 0.3;
// The rod about its end, and its gravity torque per radian at small angles.
constexpr double kInertia = kMass * kLength * kLength / 3.0;
constexpr double kStiffness = kMass * kG * kLength / 2.0;

// One uniform rod turning about x at its end, in a vertical plane: q = -pi/2 + phi hangs it at
// phi from straight down (or in a horizontal plane without gravity).
std::unique_ptr<Robot> Rod(double viscous, double coulomb, bool gravity = true) {
  auto robot = std::make_unique<Robot>(0.0, 0.0, gravity ? -kG : 0.0, coulomb, viscous);
  const double i = kMass * kLength * kLength / 12.0;
  robot->AddLink(kMass, 0.0, kLength / 2, 0.0, i, i, i, 0.0, 0.0, 0.0, 0.0, kLength, 0.0, 0.0, 0.0,
                 0.0, 0.02);
  return robot;
}

StepOptions Step(IntegratorKind integrator, int substeps = 1, double tolerance = 1e-9) {
  return {EngineKind::kRecursive, integrator, substeps, tolerance};
}

matrix<double> Column(const std::vector<double>& v) {
  return MatrixFromRowMajor(static_cast<uint32_t>(v.size()), 1, v.data());
}

matrix<double> Zeros(std::size_t n) {
  return Column(std::vector<double>(n, 0.0));
}

std::unique_ptr<Robot> FrictionlessArm(int links) {
  std::unique_ptr<Robot> arm = MakeBuiltInRobot(links);
  arm->viscousFriction = arm->coulombFriction = 0.0;
  return arm;
}

void Ticks(Stepper& stepper, const matrix<double>& torque, int ticks) {
  for (int t = 0; t < ticks; ++t) {
    stepper.Forward(torque);
  }
}

const IntegratorKind kAll[] = {IntegratorKind::kDopri5, IntegratorKind::kRk4,
                               IntegratorKind::kEuler, IntegratorKind::kImplicit};

// The rod swinging from phi0: phi after every tick.
std::vector<double> Swing(const StepOptions& step, double viscous, double coulomb, double phi0,
                          int ticks) {
  std::unique_ptr<Robot> rod = Rod(viscous, coulomb);
  rod->links[0]->q = -M_PI / 2 + phi0;
  Stepper stepper(*rod, step);
  std::vector<double> phi;
  for (int t = 0; t < ticks; ++t) {
    stepper.Forward(Zeros(1));
    phi.push_back(rod->links[0]->q + M_PI / 2);
  }
  return phi;
}

// A swing's turning points (by a parabola through the ticks around each) and its zero crossings
// (by a line between the ticks), as times and values.
struct Turns {
  std::vector<double> time, value, crossing;
};

Turns TurnsOf(const std::vector<double>& phi) {
  Turns turns;
  for (std::size_t k = 1; k + 1 < phi.size(); ++k) {
    const double a = phi[k - 1], b = phi[k], c = phi[k + 1];
    if ((b - a) * (c - b) < 0.0) {
      const double curve = a - 2.0 * b + c, offset = 0.5 * (a - c) / curve;
      turns.time.push_back(kTimeStep * (static_cast<double>(k + 1) + offset));
      turns.value.push_back(b - 0.25 * (a - c) * offset);
    }
    if (b * c < 0.0) {
      turns.crossing.push_back(kTimeStep * (static_cast<double>(k + 1) + b / (b - c)));
    }
  }
  return turns;
}

// Viscous friction only, from 0.01 rad: I phi'' + b phi' + k phi = 0 decays at b / 2I with the
// frequency sqrt(k/I - (b/2I)^2). Coulomb friction only, from 0.1 rad: each half swing is 2c/k
// shorter than the one before, and the rod comes to rest within |phi| <= asin(c / k).
TEST(Stepper, APendulumDecaysAsTheAnalyticOscillatorOnEveryIntegrator) {
  const double b = 0.01, c = 0.01;
  const double decay = b / (2.0 * kInertia);
  const double frequency = std::sqrt(kStiffness / kInertia - decay * decay);
  const struct {
    IntegratorKind integrator;
    int substeps;
    double viscousError;  // relative, of the decay rate and the frequency
    double coulombError;  // relative, of the decrement
  } cases[] = {{IntegratorKind::kDopri5, 1, 1e-4, 5e-3},
               {IntegratorKind::kRk4, 1, 1e-4, 5e-3},
               {IntegratorKind::kEuler, 10, 3e-2, 5e-3},
               {IntegratorKind::kImplicit, 1, 3e-3, 5e-3}};
  for (const auto& each : cases) {
    SCOPED_TRACE(IntegratorName(each.integrator));
    const StepOptions step = Step(each.integrator, each.substeps);
    const Turns viscous = TurnsOf(Swing(step, b, 0.0, 0.01, 500));
    ASSERT_GE(viscous.value.size(), 8u);
    const std::size_t last = viscous.value.size() - 1, crossings = viscous.crossing.size() - 1;
    EXPECT_NEAR(std::log(std::fabs(viscous.value[0] / viscous.value[last])) /
                    (viscous.time[last] - viscous.time[0]) / decay,
                1.0, each.viscousError);
    EXPECT_NEAR(M_PI * static_cast<double>(crossings) /
                    (viscous.crossing[crossings] - viscous.crossing[0]) / frequency,
                1.0, each.viscousError);

    const std::vector<double> phi = Swing(step, 0.0, c, 0.1, 1000);
    const Turns coulomb = TurnsOf(phi);
    ASSERT_GE(coulomb.value.size(), 5u);
    // The decrement over the first four half swings, from the start.
    const double decrement = (0.1 - std::fabs(coulomb.value[3])) / 4.0;
    EXPECT_NEAR(decrement / (2.0 * c / kStiffness), 1.0, each.coulombError);
    EXPECT_LE(std::fabs(phi.back()), std::asin(c / kStiffness));
    EXPECT_EQ(phi.back(), phi[phi.size() - 100]);  // at rest for the last second
  }
}

// At rest where gravity's torque is 0.9 c the rod stays exactly where it is; at 1.1 c it slides
// down at (|tau_g| - c) / I.
TEST(Stepper, CoulombFrictionHoldsBelowItsLevelAndGivesWayAboveItOnEveryIntegrator) {
  const double c = 0.1;
  for (IntegratorKind integrator : kAll) {
    for (const double level : {0.9, 1.1}) {
      SCOPED_TRACE(std::string(IntegratorName(integrator)) + " " + std::to_string(level));
      std::unique_ptr<Robot> rod = Rod(0.0, c);
      const double q0 = rod->links[0]->q = -M_PI / 2 + std::asin(level * c / kStiffness);
      Stepper stepper(*rod, Step(integrator));
      const double first = stepper.Forward(Zeros(1))(0, 0);
      if (level > 1.0) {
        // The tick's mean acceleration; gravity's torque grows by 0.1 % over it.
        EXPECT_NEAR(first / (-(level - 1.0) * c / kInertia), 1.0, 2e-3);
        continue;
      }
      Ticks(stepper, Zeros(1), 1000);
      EXPECT_EQ(rod->links[0]->q, q0);
      EXPECT_EQ(rod->links[0]->qd, 0.0);
    }
  }
}

// Without gravity, a rod sliding at v0 against viscous friction b and Coulomb friction c stops at
// t* = (I/b) ln(1 + b v0 / c), at q* = (I/b)(v0 + c/b)(1 - exp(-b t*/I)) - (c/b) t*, and stays
// there, never turning back; all its kinetic energy is dissipated. A torque below c holds a rod at
// rest; one above it moves the rod its way.
TEST(Stepper, AJointStopsWhereItsMotionSaysAndNeverTurnsBack) {
  const double b = 0.05, c = 0.02;
  const struct {
    IntegratorKind integrator;
    int substeps;
    double error;  // of the rest position, rad
  } cases[] = {{IntegratorKind::kDopri5, 1, 1e-12},
               {IntegratorKind::kRk4, 1, 1e-9},
               {IntegratorKind::kRk4, 4, 5e-12},
               {IntegratorKind::kEuler, 4, 2e-2},
               {IntegratorKind::kImplicit, 4, 2e-2}};
  for (const auto& each : cases) {
    SCOPED_TRACE(std::string(IntegratorName(each.integrator)) + " x " +
                 std::to_string(each.substeps));
    for (const double v0 : {0.5, 7.0, 1e-4}) {
      std::unique_ptr<Robot> rod = Rod(b, c, false);
      rod->links[0]->qd = v0;
      Stepper stepper(*rod, Step(each.integrator, each.substeps));
      double rest = NAN;
      for (int t = 0; t < 300; ++t) {
        stepper.Forward(Zeros(1));
        ASSERT_GE(rod->links[0]->qd, 0.0);
        rest = rod->links[0]->qd == 0.0 && std::isnan(rest) ? rod->links[0]->q : rest;
      }
      const double stop = kInertia / b * std::log(1.0 + b * v0 / c);
      const double at =
          kInertia / b * (v0 + c / b) * (1.0 - std::exp(-b * stop / kInertia)) - c / b * stop;
      EXPECT_EQ(rod->links[0]->q, rest);
      EXPECT_NEAR(rest, at, each.error * (1.0 + at));
      if (each.integrator == IntegratorKind::kDopri5) {
        EXPECT_NEAR(rod->dissipated, 0.5 * kInertia * v0 * v0, 1e-12);
      }
    }
    for (const double push : {0.019, -0.019, 0.021, -0.021}) {
      std::unique_ptr<Robot> rod = Rod(b, c, false);
      Stepper stepper(*rod, Step(each.integrator, each.substeps));
      Ticks(stepper, Column({push}), 20);
      EXPECT_EQ(rod->links[0]->q != 0.0, std::fabs(push) > c) << push;
      EXPECT_GE(rod->links[0]->q * push, 0.0) << push;
    }
  }
}

// Two links hanging from a pivot, the outer one let go from 2 rad, with Coulomb friction 1: the
// inner joint is held, breaks away when the swing pulls it harder than 1 N m, and is held again.
// After every tick each joint at rest takes no more than c to hold, the others sliding as they
// move.
TEST(Stepper, AJointAtRestIsHeldOnlyWhileItsHoldingTorqueIsWithinTheFrictionLevel) {
  const double c = 1.0;
  for (IntegratorKind integrator :
       {IntegratorKind::kDopri5, IntegratorKind::kRk4, IntegratorKind::kEuler}) {
    SCOPED_TRACE(IntegratorName(integrator));
    std::unique_ptr<Robot> arm = MakeBuiltInRobot(2);
    arm->viscousFriction = 0.0;
    arm->coulombFriction = c;
    arm->links[0]->q = -M_PI / 2;
    arm->links[1]->q = 2.0;
    Stepper stepper(*arm, Step(integrator));
    const std::unique_ptr<Equation> equation = MakeEquation(EngineKind::kRecursive, *arm);
    int breaks = 0;
    bool held = true;
    for (int t = 0; t < 300; ++t) {
      stepper.Forward(Zeros(2));
      std::vector<double> q, qd, tau, qdd(2, 0.0);
      std::vector<uint8_t> locked;
      for (const auto& link : arm->links) {
        q.push_back(link->q);
        qd.push_back(link->qd);
        locked.push_back(link->qd == 0.0);
        tau.push_back(link->qd == 0.0 ? 0.0 : -c * (link->qd > 0.0 ? 1.0 : -1.0));
      }
      equation->Evaluate(*arm, q.data(), qd.data());
      equation->Solve(nullptr, tau.data(), locked.data(), qdd.data());
      for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(!locked[i] || std::fabs(tau[i]) <= c * (1.0 + 1e-6)) << t << " " << i;
      }
      breaks += held && !locked[0] ? 1 : 0;
      held = locked[0];
    }
    EXPECT_GE(breaks, 2);
  }
}

// The built-in arm falling from a bent pose for 1 s without friction, against RK4 in 1000
// substeps: the error falls with the tolerance, by at least 30 for every 100, and the default is
// good to 1e-6 rad.
TEST(Stepper, TheErrorControlledStepIsAsAccurateAsItsTolerance) {
  const auto run = [](const StepOptions& step) {
    std::unique_ptr<Robot> arm = FrictionlessArm(6);
    for (std::size_t i = 0; i < 3; ++i) {
      arm->links[i]->q = 0.5 - 0.4 * static_cast<double>(i);
    }
    Stepper stepper(*arm, step);
    std::vector<double> q;
    for (int t = 0; t < 100; ++t) {
      stepper.Forward(Zeros(6));
      for (const auto& link : arm->links) {
        q.push_back(link->q);
      }
    }
    return q;
  };
  const std::vector<double> reference = run(Step(IntegratorKind::kRk4, 1000));
  const auto error = [&](double tolerance) {
    const std::vector<double> q = run(Step(IntegratorKind::kDopri5, 1, tolerance));
    double most = 0.0;
    for (std::size_t i = 0; i < q.size(); ++i) {
      most = std::max(most, std::fabs(q[i] - reference[i]));
    }
    return most;
  };
  double before = error(1e-5);
  for (const double tolerance : {1e-7, 1e-9}) {
    const double now = error(tolerance);
    EXPECT_GE(before / now, 30.0) << tolerance;
    EXPECT_LE(now, 10.0 * tolerance);
    before = now;
  }
  EXPECT_LE(error(kDefaultTolerance), 1e-6);
}

// A light-wristed arm pushed by torques against friction: E - E0 = W - D on the error-controlled
// step to 1e-6 of the largest kinetic energy, and on RK4 to its order; without torques no tick
// raises the energy. The balance starts afresh where the state is set from outside.
TEST(Stepper, TheEnergyBalanceAddsUp) {
  const struct {
    StepOptions step;
    double residual;  // of the balance, / the largest kinetic energy
  } cases[] = {
      {Step(IntegratorKind::kDopri5), 1e-6},
      {Step(IntegratorKind::kRk4, 8), 1e-3},
      // force times displacement: first order in the step
      {Step(IntegratorKind::kEuler, 8), 5e-2},
      {Step(IntegratorKind::kImplicit, 8), 5e-2},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(StepOptionsText(each.step));
    for (const double push : {0.0, 1.0}) {
      std::unique_ptr<Robot> arm = MakeBuiltInRobot(4);
      arm->viscousFriction = 0.2;
      arm->coulombFriction = 0.3;
      Stepper stepper(*arm, each.step);
      const matrix<double> torque = Column({2.0 * push, push, 0.0, -push});
      double peak = 0.0, worst = 0.0, rise = 0.0, before = 0.0, dissipated = 0.0;
      for (int t = 0; t < 1000; ++t) {
        stepper.Forward(torque);
        const double energy = arm->kineticEnergy + arm->potentialEnergy;
        peak = std::max(peak, arm->kineticEnergy);
        worst = std::max(worst, std::fabs(energy - arm->startEnergy - arm->work + arm->dissipated));
        rise = t > 0 ? std::max(rise, energy - before) : 0.0;
        before = energy;
        EXPECT_GE(arm->dissipated, dissipated);
        dissipated = arm->dissipated;
      }
      EXPECT_GT(dissipated, 1.0);
      EXPECT_LE(worst, each.residual * peak) << push;
      if (push == 0.0) {
        EXPECT_EQ(arm->work, 0.0);
        EXPECT_LE(rise, 1e-5 * peak);
      }
      // Set from outside, the state starts the balance again at its own energy.
      arm->links[1]->q += 0.5;
      stepper.Forward(torque);
      EXPECT_TRUE(arm->work == 0.0 && arm->dissipated == 0.0);
      EXPECT_EQ(arm->startEnergy, arm->kineticEnergy + arm->potentialEnergy);
    }
  }
}

// Six links pushed hard: the error-controlled step (at 1e4 N m each) reaches its cap of tries on
// every tick, says so, and ends each tick within the tries its last resort allows, finite; the
// implicit step (at 1000 N m) reaches its last halving. A calm arm does not.
TEST(Stepper, ATickThatReachesTheCapSaysSo) {
  const struct {
    StepOptions step;
    double torque;
  } cases[] = {{Step(IntegratorKind::kDopri5), 1e4}, {Step(IntegratorKind::kImplicit), 1000.0}};
  for (const auto& each : cases) {
    SCOPED_TRACE(StepOptionsText(each.step));
    std::unique_ptr<Robot> arm = MakeBuiltInRobot(6);
    Stepper stepper(*arm, each.step);
    for (int t = 0; t < 5; ++t) {
      stepper.Forward(Column(std::vector<double>(6, each.torque)));
      EXPECT_LE(stepper.LastSubsteps(), 9 * Stepper::kMaxInternalSteps + 1);
    }
    EXPECT_TRUE(stepper.LastCapped());
    EXPECT_TRUE(stepper.LastReport().capped);
    EXPECT_GE(arm->cappedTicks, 3u);
    EXPECT_TRUE(StateIsFinite(*arm));
    std::unique_ptr<Robot> calm = MakeBuiltInRobot(6);
    Stepper calmStepper(*calm, each.step);
    Ticks(calmStepper, Zeros(6), 50);
    EXPECT_EQ(calm->cappedTicks, 0u);
  }
}

// The implicit step refines where the arm gains energy it was not given: a pushed arm, whose
// energy the torques' work raises, takes few substeps (the work taken with the wrong sign would
// count twice as gained, and refine to the end).
TEST(Stepper, TheImplicitStepRefinesOnlyWhereTheEnergyExceedsTheWorkPutIn) {
  std::unique_ptr<Robot> arm = MakeBuiltInRobot(3);
  Stepper stepper(*arm, Step(IntegratorKind::kImplicit));
  int substeps = 0;
  for (int t = 0; t < 200; ++t) {
    stepper.Forward(Column({5.0, -4.0, 1.0}));
    substeps += stepper.LastSubsteps();
  }
  EXPECT_LT(substeps, 2 * 200);
  EXPECT_GT(arm->work, 20.0);
}

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

// With the default friction and no torque, arms with light wrists and long chains falling from
// horizontal stay finite, never chatter (a velocity flipping sign tick after tick) and never gain
// energy.
TEST(Stepper, LightWristsAndLongChainsStayFiniteCalmAndNeverGainEnergy) {
  const struct {
    std::string name;
    std::unique_ptr<Robot> (*make)();
    StepOptions step;
  } arms[] = {
      {"light wrist", LightWristArm, Step(IntegratorKind::kImplicit)},
      {"light wrist", LightWristArm, Step(IntegratorKind::kDopri5)},
      {"12 links", [] { return MakeBuiltInRobot(12); }, Step(IntegratorKind::kDopri5)},
      {"30 links", [] { return MakeBuiltInRobot(30); }, Step(IntegratorKind::kImplicit)},
      {"100 links", [] { return MakeBuiltInRobot(100); }, Step(IntegratorKind::kImplicit)},
  };
  for (const auto& arm : arms) {
    SCOPED_TRACE(arm.name + ", " + StepOptionsText(arm.step));
    std::unique_ptr<Robot> robot = arm.make();
    Stepper stepper(*robot, arm.step);
    const std::size_t n = robot->links.size();
    std::vector<int> flipping(n, 0);
    std::vector<double> before(n, 0.0);
    int longestFlipping = 0;
    double start = 0.0, peak = 0.0, highest = -INFINITY;
    for (int tick = 1; tick <= 3000 && StateIsFinite(*robot); ++tick) {
      stepper.Forward(Zeros(n));
      const double energy = robot->kineticEnergy + robot->potentialEnergy;
      start = tick == 1 ? energy : start;
      peak = std::max(peak, robot->kineticEnergy);
      highest = std::max(highest, energy);
      for (std::size_t i = 0; i < n; ++i) {
        const double v = robot->links[i]->qd;
        flipping[i] = v * before[i] < 0.0 ? flipping[i] + 1 : 0;
        longestFlipping = std::max(longestFlipping, flipping[i]);
        before[i] = v;
      }
    }
    EXPECT_TRUE(StateIsFinite(*robot));
    EXPECT_LT(longestFlipping, 10);
    EXPECT_LT((highest - start) / peak, 0.01);
  }
}

// Without friction the six links keep their energy over a minute on the error-controlled step, to
// 1e-5 of the largest kinetic energy; the implicit step stays finite for ten minutes.
TEST(Stepper, WithoutFrictionTheEnergyStays) {
  std::unique_ptr<Robot> robot = FrictionlessArm(6);
  Stepper stepper(*robot, Step(IntegratorKind::kDopri5));
  double drift = 0.0, swing = 0.0;
  for (int tick = 0; tick < 6000; ++tick) {
    stepper.Forward(Zeros(6));
    drift = std::max(drift, std::fabs(robot->kineticEnergy + robot->potentialEnergy));
    swing = std::max(swing, robot->kineticEnergy);
  }
  EXPECT_LT(drift, 1e-5 * swing);
  EXPECT_GT(swing, 40.0);

  robot = FrictionlessArm(6);
  Stepper implicit(*robot, Step(IntegratorKind::kImplicit));
  Ticks(implicit, Zeros(6), 60000);
  EXPECT_TRUE(StateIsFinite(*robot));
}

// The joint state, the energies and the balance, for comparing arms bit for bit.
std::vector<double> Snapshot(const Robot& robot) {
  std::vector<double> state;
  for (const auto& link : robot.links) {
    state.insert(state.end(), {link->q, link->qd, link->qdd});
  }
  state.insert(state.end(), {robot.kineticEnergy, robot.potentialEnergy, robot.work,
                             robot.dissipated, robot.startEnergy});
  return state;
}

// A tick given up, at its first or a later substep, leaves the arm exactly as it was, and the tick
// after it is the one a new stepper takes from that state: on every engine and integrator, forward
// and inverse (an inverse tick is asked once).
TEST(Stepper, ATickGivenUpLeavesTheArmAsItWas) {
  const StepOptions steps[] = {{EngineKind::kClosedForm, IntegratorKind::kEuler, 4},
                               {EngineKind::kClosedForm, IntegratorKind::kRk4, 3},
                               {EngineKind::kRecursive, IntegratorKind::kImplicit, 4},
                               {EngineKind::kRecursive, IntegratorKind::kEuler, 3},
                               {EngineKind::kRecursive, IntegratorKind::kDopri5, 3}};
  const struct {
    bool inverse;
    int at;  // the question that gives the tick up
  } ways[] = {{false, 1}, {false, 3}, {true, 1}};
  const matrix<double> input = Column({-1.0, -0.5, 0.0, 0.5, 1.0, 1.5});
  for (const StepOptions& step : steps) {
    for (const auto& way : ways) {
      SCOPED_TRACE(StepOptionsText(step) + (way.inverse ? " inverse " : " forward ") +
                   std::to_string(way.at));
      std::unique_ptr<Robot> robot = MakeBuiltInRobot(6);
      Stepper stepper(*robot, step);
      const auto tick = [&](Stepper& s) { way.inverse ? s.Inverse(input) : s.Forward(input); };
      for (int i = 0; i < 3; ++i) {
        tick(stepper);
      }
      const std::vector<double> before = Snapshot(*robot);
      int asked = 0;
      stepper.SetGiveUp([&] { return ++asked == way.at; });
      tick(stepper);
      EXPECT_TRUE(stepper.GaveUp());
      EXPECT_EQ(Snapshot(*robot), before);

      std::unique_ptr<Robot> fresh = CloneRobot(*robot);
      Stepper reference(*fresh, step);
      stepper.SetGiveUp(nullptr);
      tick(stepper);
      tick(reference);
      EXPECT_FALSE(stepper.GaveUp());
      EXPECT_EQ(Snapshot(*robot), Snapshot(*fresh));
    }
  }
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
    for (int tick = 0; tick < 5; ++tick) {
      std::vector<double> before;
      for (const auto& link : robot->links) {
        before.push_back(link->qd);
      }
      const matrix<double>& accel = stepper.Forward(Column({0.0, 2.0, 0.0}));
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
  const matrix<double>& accel = stepper.Forward(Zeros(2));
  EXPECT_TRUE(std::isnan(accel(0, 0)) && std::isnan(accel(1, 0)));
  EXPECT_FALSE(StateIsFinite(*robot));
  stepper.Forward(Zeros(2));  // and the ticks go on
}

// The closed form's solve with joints locked to given accelerations is the recursive engine's:
// the free joints feel the locked ones' coupling, M_FL qdd_L, taken off their torques, and the
// locked ones take the forces that move them so.
TEST(Equation, BothEnginesSolveAlikeWithJointsLocked) {
  std::unique_ptr<Robot> robot = LightWristArm();
  const std::vector<double> q = {0.3, -0.7, 1.1, 0.4, -0.2, 0.9};
  const std::vector<double> qd = {0.5, -1.0, 0.2, 2.0, -1.5, 0.7};
  const std::vector<double> armature(6, 0.01);
  const std::vector<uint8_t> patterns[] = {
      {0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {0, 1, 0, 1, 0, 0}, {0, 0, 0, 1, 1, 1}};
  for (const auto& locked : patterns) {
    SCOPED_TRACE(::testing::PrintToString(locked));
    std::vector<double> solved[2];  // qdd then tau, of each engine
    for (const EngineKind engine : {EngineKind::kClosedForm, EngineKind::kRecursive}) {
      std::unique_ptr<Equation> equation = MakeEquation(engine, *robot);
      equation->Evaluate(*robot, q.data(), qd.data());
      std::vector<double> tau = {1.0, -2.0, 0.5, 0.1, 0.0, -0.05};
      std::vector<double> qdd = {0.0, 3.0, 0.0, -4.0, 2.0, 1.0};  // for the locked joints
      equation->Solve(armature.data(), tau.data(), locked.data(), qdd.data());
      qdd.insert(qdd.end(), tau.begin(), tau.end());
      solved[engine == EngineKind::kRecursive] = qdd;
    }
    for (std::size_t i = 0; i < 12; ++i) {
      EXPECT_NEAR(solved[0][i], solved[1][i], 1e-10 * (1.0 + std::fabs(solved[1][i])))
          << (i < 6 ? "qdd " : "tau ") << i % 6;
    }
  }
}

}  // namespace
