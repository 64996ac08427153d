// The default step where the motion is not smooth: stiff viscous friction on light joints against
// an implicit reference, impacts that accumulate on a light joint between two others, a joint
// thrown into its limits at any speed on every integrator, and a holding torque that exceeds
// friction's level for a millisecond inside a step.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/joint_limits.h"
#include "simulation/stepper.h"
#include "tests/simulation/test_arms.h"

namespace {

StepOptions Step(IntegratorKind integrator, int substeps = 1,
                 EngineKind engine = EngineKind::kRecursive) {
  return {engine, integrator, substeps, kDefaultTolerance};
}

// The file's arm from the start q put within its limits, every joint at the viscous and Coulomb
// coefficients given (negative: the file's own).
std::unique_ptr<Robot> Load(const std::string& file, const std::vector<double>& q, double viscous,
                            double coulomb) {
  std::unique_ptr<Robot> arm = LoadArm(file.c_str());
  if (viscous >= 0.0) {
    arm->viscousFriction = viscous;
    arm->coulombFriction = coulomb;
    arm->frictionSource = FrictionSource::kUniform;
  }
  for (std::size_t i = 0; i < q.size() && i < arm->links.size(); ++i) {
    arm->links[i]->q = q[i];
  }
  ClampStartToLimits(*arm);
  return arm;
}

// The joint positions after every tick of 0.1 s from the bent start (0.5, -1, 1.5, 0, ...), no
// Coulomb friction; and whether the run stayed finite and uncapped.
std::vector<double> Fall(const std::string& file, double viscous, const StepOptions& step,
                         bool* finite = nullptr) {
  std::unique_ptr<Robot> arm = Load(file, {0.5, -1.0, 1.5}, viscous, 0.0);
  Stepper stepper(*arm, step);
  std::vector<double> q;
  for (int t = 0; t < 10; ++t) {
    stepper.Forward(Zeros(static_cast<uint32_t>(arm->links.size()), 1));
    for (const auto& link : arm->links) {
      q.push_back(link->q);
    }
  }
  if (finite != nullptr) {
    *finite = StateIsFinite(*arm) && arm->cappedTicks == 0;
  }
  return q;
}

// E - E0 - W + D, the energy the arm made without work.
double Imbalance(const Robot& arm) {
  return arm.kineticEnergy + arm.potentialEnergy - arm.startEnergy - arm.work + arm.dissipated;
}

// Light wrists and a light gripper jaw under viscous friction up to 1e4, and files' own damping:
// the default step stays finite and uncapped and within 1e-6 rad of the implicit step in 500 and
// 250 substeps extrapolated (the implicit step is first order under viscous friction), beyond what
// that reference itself moves from 500 substeps to the extrapolation. Where joints strike their
// limits within the 0.1 s (the Z1-like arm with its own damping), the extrapolation does not hold
// across the impacts, and the reference is the default step at the tolerance 1e-12.
TEST(DefaultStep, StiffViscousFrictionAgainstTheImplicitReference) {
  const struct {
    const char* file;
    double viscous;
    bool impacts;
  } cases[] = {
      {"examples/industrial6.urdf", 10.0, false}, {"examples/industrial6.urdf", 1000.0, false},
      {"tests/urdf/z1_like.urdf", 100.0, false},  {"tests/urdf/panda_like.urdf", 1e4, false},
      {"examples/puma560.urdf", -1.0, false},     {"tests/urdf/ur5_like.urdf", 10.0, false},
      {"tests/urdf/z1_like.urdf", -1.0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " viscous " + std::to_string(c.viscous));
    bool finite = false;
    const std::vector<double> run = Fall(c.file, c.viscous, DefaultStepOptions(true), &finite);
    EXPECT_TRUE(finite);
    StepOptions tight = DefaultStepOptions(true);
    tight.tolerance = kMinTolerance;
    const std::vector<double> fine =
        Fall(c.file, c.viscous, c.impacts ? tight : Step(IntegratorKind::kImplicit, 500));
    const std::vector<double> half =
        c.impacts ? fine : Fall(c.file, c.viscous, Step(IntegratorKind::kImplicit, 250));
    double error = 0.0, margin = 0.0;
    for (std::size_t i = 0; i < run.size(); ++i) {
      const double reference = 2.0 * fine[i] - half[i];
      error = std::max(error, std::fabs(run[i] - reference));
      margin = std::max(margin, std::fabs(fine[i] - reference));
    }
    EXPECT_LE(error, 1e-6 + margin);
  }
}

// The Z1-like arm, its limits on, falling for 30 s from rest with its elbow bent: without friction
// its light gripper jaw comes to rest against a limit while the shoulder and the wrist rest at
// theirs, where impacts would accumulate; no tick reaches the cap, no tick raises the energy (no
// torque, no friction), and E - E0 = W - D holds to 1e-6 of the largest kinetic energy. With
// friction 0.1 (viscous and Coulomb) and torques 2 sin(1 + i), for 1 s from the bent start, a
// joint that friction stops a hair off its limit slides back into it: no cap, the same balance.
TEST(DefaultStep, ImpactsThatAccumulateOnALightJointComeToRestWithoutMakingEnergy) {
  const struct {
    std::vector<double> start;
    double friction, push;
    int ticks;
  } cases[] = {{{0.0, 1.0, -1.5}, 0.0, 0.0, 3000},
               {{0.5, 0.3, -0.2, 0.0, 0.0, 0.0, -1.0}, 0.0, 0.0, 3000},
               {{0.5, 0.0, 1.5}, 0.1, 2.0, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start.size());
    std::unique_ptr<Robot> arm = Load("tests/urdf/z1_like.urdf", c.start, c.friction, c.friction);
    const auto n = static_cast<uint32_t>(arm->links.size());
    matrix<double> torque = Zeros(n, 1);
    for (uint32_t i = 0; i < n; ++i) {
      torque(i, 0) = c.push * std::sin(1.0 + i);
    }
    Stepper stepper(*arm, DefaultStepOptions(true));
    double peak = 0.0, worst = 0.0, rise = 0.0, before = NAN;
    for (int t = 0; t < c.ticks; ++t) {
      stepper.Forward(torque);
      const double energy = arm->kineticEnergy + arm->potentialEnergy;
      peak = std::max(peak, arm->kineticEnergy);
      worst = std::max(worst, std::fabs(Imbalance(*arm)));
      rise = std::isnan(before) ? 0.0 : std::max(rise, energy - before);
      before = energy;
    }
    EXPECT_EQ(arm->cappedTicks, 0u);
    EXPECT_LE(worst, 1e-6 * peak);
    if (c.push == 0.0) {
      EXPECT_LE(rise, 1e-9 * peak);
      int atLimit = 0;
      for (std::size_t i = 0; i < n; ++i) {
        atLimit += JointAtLimit(*arm, i) != 0 ? 1 : 0;
      }
      EXPECT_GE(atLimit, 3);
    }
  }
}

// count rods of 1 kg and 0.3 m turning about x at their ends, without gravity or friction, each
// joint within [-1, 1], the first thrown at speed and the second the other way.
std::unique_ptr<Robot> Rods(int count, double speed) {
  auto arm = std::make_unique<Robot>(0.0, 0.0, 0.0, 0.0, 0.0);
  for (int i = 0; i < count; ++i) {
    arm->AddLink(1.0, 0.0, 0.15, 0.0, 0.0075, 0.0075, 0.0075, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0,
                 0.0, 0.0, 0.02);
    arm->links[i]->lower = -1.0;
    arm->links[i]->upper = 1.0;
    arm->links[i]->qd = i == 0 ? speed : -speed;
  }
  return arm;
}

// A rod without gravity thrown at 1.5 to 1.5e5 rad/s toward its upper limit stops there, at rest,
// its kinetic energy all dissipated, on every integrator and engine (the closed form's Euler
// ignores limits). Under gravity, fast enough to reach the upper limit (2.57 rad from hanging)
// within the first tick, it is there at the tick's end (gravity pulls it off by 3 mrad at most),
// then falls onto its lower limit and rests there.
//
// Two rods standing up, thrown apart into their limits under gravity at 1 to 1e5 rad/s: both
// joints reach their upper limits (the second swung through by the first's impact) and rest there,
// gravity pressing them in. Until a tick says that the balance is off (inaccurate) or that the
// state diverged, every tick keeps the balance within kBalanceAllowance of the motion's energy
// (1e-6 on dopri5, which never says either); a run not reported as diverged keeps a finite
// balance; and no joint ends at the limit opposite the one it crossed.
TEST(DefaultStep, AJointThrownIntoItsLimitStopsAtTheLimitItCrossesAtAnySpeed) {
  for (const EngineKind engine : kEngineKinds) {
    for (const IntegratorKind integrator : kIntegratorKinds) {
      if (engine == EngineKind::kClosedForm && integrator == IntegratorKind::kEuler) {
        continue;
      }
      const StepOptions step = Step(integrator, 1, engine);
      for (const double speed : {1.5, 150.0, 1.5e4, 1.5e5}) {
        SCOPED_TRACE(StepOptionsText(step) + " at " + std::to_string(speed));
        std::unique_ptr<Robot> rod = Rods(1, speed);
        Stepper stepper(*rod, step);
        for (int t = 0; t < 100; ++t) {
          stepper.Forward(Zeros(1, 1));
        }
        EXPECT_EQ(rod->links[0]->q, 1.0);
        EXPECT_EQ(rod->links[0]->qd, 0.0);
        const double kinetic = 0.5 * 0.03 * speed * speed;
        EXPECT_NEAR(rod->dissipated, kinetic, 1e-9 * kinetic);
        if (speed > 100.0) {
          std::unique_ptr<Robot> swung = Rods(1, speed);
          swung->gravity(2, 0) = -9.81;
          Stepper falls(*swung, step);
          falls.Forward(Zeros(1, 1));
          EXPECT_GE(swung->links[0]->q, 0.99);
          for (int t = 0; t < 200; ++t) {
            falls.Forward(Zeros(1, 1));
          }
          EXPECT_EQ(swung->links[0]->q, -1.0);
          EXPECT_EQ(swung->links[0]->qd, 0.0);
        }
      }
      for (const double speed : {1.0, 3.0, 10.0, 30.0, 100.0, 300.0, 1e3, 3e3, 1e4, 3e4, 1e5}) {
        SCOPED_TRACE(StepOptionsText(step) + " two links at " + std::to_string(speed));
        std::unique_ptr<Robot> arm = Rods(2, speed);
        arm->gravity(1, 0) = -9.81;
        Stepper thrown(*arm, step);
        const bool dopri5 = integrator == IntegratorKind::kDopri5;
        double peak = 0.0, low = arm->potentialEnergy, high = low;
        bool diverged = false, reported = false;
        for (int t = 0; t < 100 && !reported; ++t) {
          thrown.Forward(Zeros(2, 1));
          diverged = thrown.LastReport().Diverged();
          reported = diverged || thrown.LastReport().offBalance;
          peak = std::max(peak, arm->kineticEnergy);
          low = std::min(low, arm->potentialEnergy);
          high = std::max(high, arm->potentialEnergy);
          // The arm's energies and balance are those of the tick's start, which the tick before
          // checked.
          EXPECT_LE(std::fabs(Imbalance(*arm)),
                    (dopri5 ? 1e-6 : Stepper::kBalanceAllowance) * std::max(peak, high - low))
              << "tick " << t + 1;
        }
        EXPECT_FALSE(dopri5 && reported);
        EXPECT_EQ(reported && !diverged, arm->offBalanceTicks == 1);
        // A reported run goes on, at the step's accuracy; the arm shows the tick's balance from
        // the next tick on.
        for (int t = 0; t < 100; ++t) {
          thrown.Forward(Zeros(2, 1));
        }
        EXPECT_EQ(diverged, arm->unphysicalTicks > 0 || !StateIsFinite(*arm));
        if (!diverged) {
          EXPECT_TRUE(std::isfinite(arm->dissipated) && std::isfinite(arm->work));
        }
        if (StateIsFinite(*arm)) {
          EXPECT_EQ(arm->links[0]->q, 1.0);
        }
      }
    }
  }
}

// Two links without gravity, the first held by its own Coulomb friction against a torque of 0.5,
// the second spinning freely at 10 rad/s (exactly, on every step: its equation has no torque). The
// first joint's holding torque 0.5 - h(q1) 100 peaks once a turn; friction's level is set just
// below that peak so that it is exceeded for 1 ms, from 3.5 to 4.5 ms into the third tick: between
// the places a step of 10 ms looks at. The joint breaks away in that tick, not before.
TEST(DefaultStep, AHoldingTorqueThatExceedsFrictionForAMillisecondInsideAStepBreaksAway) {
  constexpr double kSpeed = 10.0, kPush = 0.5;
  std::unique_ptr<Robot> arm = MakeBuiltInRobot(2);
  arm->gravity.SetZero();
  arm->viscousFriction = arm->coulombFriction = 0.0;
  // The holding torque of the first joint, locked, with the second at q1 turning at kSpeed.
  const std::unique_ptr<Equation> equation = MakeEquation(EngineKind::kRecursive, *arm);
  const auto holding = [&](double q1) {
    const double q[2] = {0.0, q1}, qd[2] = {0.0, kSpeed};
    double tau[2] = {kPush, 0.0}, qdd[2] = {0.0, 0.0};
    const uint8_t locked[2] = {1, 0};
    equation->Evaluate(*arm, q, qd);
    equation->Solve(nullptr, tau, locked, qdd);
    return std::fabs(kPush - tau[0]);
  };
  // Where |holding| peaks, and its curvature there in time: a window of w about the peak lies
  // above peak - curvature w^2 / 8.
  double best = 0.0, peak = 0.0;
  for (int k = 0; k < 100000; ++k) {
    const double q1 = 2.0 * M_PI * k / 100000;
    if (holding(q1) > peak) {
      peak = holding(q1);
      best = q1;
    }
  }
  const double d = 1e-3;  // rad, a tenth of a millisecond of the turn
  const double curvature =
      -(holding(best + d) - 2.0 * peak + holding(best - d)) / (d * d) * kSpeed * kSpeed;
  const double level = peak - curvature * 1e-3 * 1e-3 / 8.0;
  const double at = 0.024;  // the window's middle, 4 ms into the third tick
  for (const StepOptions& step : {Step(IntegratorKind::kDopri5), Step(IntegratorKind::kRk4)}) {
    SCOPED_TRACE(StepOptionsText(step));
    std::unique_ptr<Robot> held = CloneRobot(*arm);
    held->links[0]->fileFriction = true;
    held->links[0]->fileCoulomb = level;
    held->links[1]->q = best - kSpeed * at;
    held->links[1]->qd = kSpeed;
    Stepper stepper(*held, step);
    matrix<double> torque = Zeros(2, 1);
    torque(0, 0) = kPush;
    for (int t = 1; t <= 3; ++t) {
      stepper.Forward(torque);
      EXPECT_EQ(held->links[0]->q != 0.0, t == 3) << t;
    }
  }
}

}  // namespace
