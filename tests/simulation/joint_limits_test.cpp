// Joint limits and the joints' own friction against their analytic cases: a pendulum stopped at,
// resting on and pulled off a limit, an impact through the mass matrix, each joint's friction and
// damping, saturated efforts; the samples falling within their limits with the energy balance;
// and limits off with uniform friction being the arm without either, bit for bit.
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/joint_limits.h"
#include "simulation/stepper.h"
#include "tests/matrix/matrix_literal.h"
#include "urdf/urdf_loader.h"

namespace {

constexpr double kG = 9.81;
// One uniform rod of 1 kg and 0.3 m turning about x at its end: q = -pi/2 + phi hangs it at phi
// from straight down. Its inertia about the end, and gravity's torque per sin(phi).
constexpr double kInertia = 0.3 * 0.3 / 3.0;
constexpr double kGravityTorque = kG * 0.3 / 2.0;

// Without friction.
std::unique_ptr<Robot> Rod(bool gravity = true) {
  auto robot = std::make_unique<Robot>(0.0, 0.0, gravity ? -kG : 0.0, 0.0, 0.0);
  const double i = 0.3 * 0.3 / 12.0;
  robot->AddLink(1.0, 0.0, 0.15, 0.0, i, i, i, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 0.02);
  return robot;
}

StepOptions Step(IntegratorKind integrator, int substeps = 1) {
  return {EngineKind::kRecursive, integrator, substeps, kDefaultTolerance};
}

// Runs ticks of the torque on a stepper of its own.
void RunTicks(Robot& robot, const StepOptions& step, const matrix<double>& torque, int ticks) {
  Stepper stepper(robot, step);
  for (int t = 0; t < ticks; ++t) {
    stepper.Forward(torque);
  }
}

// The rod let go at phi = 1.5 falls onto its lower limit at phi = 0.5, where gravity keeps pushing
// it: it never passes the limit, the kinetic energy it has there, k (cos 0.5 - cos 1.5), is all
// dissipated, and it rests there, held against 0.99 times gravity's torque there, pulled away by
// 1.01 times. With the limits off it falls through; thrown into the limit it starts at, it stops
// at once, its kinetic energy dissipated.
TEST(JointLimits, APendulumStopsAtItsLimitRestsThereAndLeavesWhenPulledAway) {
  const double lower = -M_PI / 2 + 0.5;
  const double impact = kGravityTorque * (std::cos(0.5) - std::cos(1.5));
  const struct {
    StepOptions step;
    double dissipated;  // relative error of D against the kinetic energy at the impact
  } cases[] = {
      {Step(IntegratorKind::kDopri5), 1e-9},
      {Step(IntegratorKind::kRk4, 4), 1e-8},
      {Step(IntegratorKind::kEuler, 10), 1e-2},
      {Step(IntegratorKind::kImplicit), 2e-3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(StepOptionsText(c.step));
    std::unique_ptr<Robot> rod = Rod();
    Link& joint = *rod->links[0];
    joint.lower = lower;
    joint.q = -M_PI / 2 + 1.5;
    Stepper stepper(*rod, c.step);
    for (int t = 0; t < 100; ++t) {
      stepper.Forward(V({0.0}));
      ASSERT_GE(joint.q, lower - 1e-9) << t;
    }
    EXPECT_EQ(joint.q, lower);
    EXPECT_EQ(joint.qd, 0.0);
    EXPECT_EQ(JointAtLimit(*rod, 0), -1);
    EXPECT_NEAR(rod->dissipated / impact, 1.0, c.dissipated);
    for (const double pull : {0.99, 1.01}) {
      std::unique_ptr<Robot> resting = Rod();
      resting->links[0]->lower = resting->links[0]->q = lower;
      RunTicks(*resting, c.step, V({pull * kGravityTorque * std::sin(0.5)}), 50);
      EXPECT_EQ(resting->links[0]->q > lower, pull > 1.0) << pull;
    }
    rod->limits = false;
    stepper.Forward(V({0.0}));
    EXPECT_LT(joint.q, lower);
    std::unique_ptr<Robot> thrown = Rod(false);
    thrown->links[0]->lower = 0.0;
    thrown->links[0]->qd = -2.0;
    RunTicks(*thrown, c.step, V({0.0}), 2);
    EXPECT_EQ(thrown->links[0]->q, 0.0);
    EXPECT_EQ(thrown->dissipated, 0.5 * kInertia * 4.0);
    EXPECT_EQ(thrown->startEnergy, 0.5 * kInertia * 4.0);
  }
}

// A swing whose top only just passes the limit, between the places a step looks at: the joint
// turns there, and the touch is found at the turn. Let go at phi = -1 without friction, the rod
// would rise to phi = 1; its upper limit 1e-5 below takes the little energy it has left there
// (and gravity pulls it straight back).
TEST(JointLimits, ASwingThatTouchesTheLimitAtItsTopIsStopped) {
  const double top = -M_PI / 2 + 1.0 - 1e-5;
  for (const StepOptions& step : {Step(IntegratorKind::kDopri5), Step(IntegratorKind::kRk4)}) {
    SCOPED_TRACE(StepOptionsText(step));
    std::unique_ptr<Robot> rod = Rod();
    rod->links[0]->upper = top;
    rod->links[0]->q = -M_PI / 2 - 1.0;
    Stepper stepper(*rod, step);
    for (int t = 0; t < 60; ++t) {
      stepper.Forward(V({0.0}));
      ASSERT_LE(rod->links[0]->q, top);
    }
    const double left = kGravityTorque * (std::cos(1.0 - 1e-5) - std::cos(1.0));
    EXPECT_NEAR(rod->dissipated / left, 1.0, 0.01);
  }
}

// The impact of a two-link arm whose first joint reaches its upper limit: it stops, and the second
// keeps its share of the momentum, (M qd)_1 = M10 qd0 + M11 qd1 = M11 qd1', so that
// qd1' = qd1 + M10 qd0 / M11; the energy taken is what the kinetic energy lost. Where the second
// joint sits at a limit too, it stops as well if the impulse drives it into it, and otherwise moves
// off as if it had none. On either engine.
TEST(JointLimits, AnImpactChangesTheOtherJointAsTheMassMatrixSays) {
  const struct {
    double q1, qd0, qd1;
    int secondAt;  // -1, 1: the second joint sits at its lower or upper limit; 0: it has none
  } cases[] = {
      {0.0, 2.0, 0.0, 0},  {0.7, 1.5, -3.0, 0}, {-2.1, 0.4, 5.0, 0}, {2.5, 3.0, 1.0, 0},
      {0.0, 2.0, 0.0, -1}, {0.0, 2.0, 0.0, 1},  {0.3, 2.0, 0.5, 1},  {1.2, 1.0, -0.2, -1},
  };
  for (const EngineKind engine : kEngineKinds) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(EngineName(engine)) + " q1 " + std::to_string(c.q1) + " at " +
                   std::to_string(c.secondAt));
      std::unique_ptr<Robot> arm = MakeBuiltInRobot(2);
      arm->viscousFriction = arm->coulombFriction = 0.0;
      arm->links[0]->upper = 0.4;
      if (c.secondAt != 0) {
        (c.secondAt < 0 ? arm->links[1]->lower : arm->links[1]->upper) = c.q1;
      }
      arm->links[0]->q = 0.4;
      arm->links[1]->q = c.q1;
      arm->links[0]->qd = c.qd0;
      arm->links[1]->qd = c.qd1;
      const EquationTerms terms = EvaluateEquationTerms(*arm);
      const double m10 = terms.M(1, 0), m11 = terms.M(1, 1);
      const double before = arm->kineticEnergy;
      const std::unique_ptr<Equation> equation = MakeEquation(engine, *arm);
      JointLimits limits;
      limits.Fill(*arm);
      ImpactWork work;
      work.Resize(2);
      double q[2] = {0.4, c.q1}, qd[2] = {c.qd0, c.qd1};
      uint8_t at[2];
      const double taken = ImpactAt(*equation, *arm, limits, q, qd, at, work);

      // Free, the second joint keeps its momentum; at a limit the impulse drives it into, it stops.
      double expected = c.qd1 + m10 * c.qd0 / m11;
      if (c.secondAt != 0 && MovesInto(c.secondAt < 0 ? kAtLower : kAtUpper, expected)) {
        expected = 0.0;
      }
      EXPECT_EQ(qd[0], 0.0);
      EXPECT_NEAR(qd[1], expected, 1e-9 * std::fabs(expected) + 1e-15);
      const double after = 0.5 * m11 * expected * expected;
      EXPECT_NEAR(taken, before - after, 1e-12 * before);
      EXPECT_EQ(q[0], 0.4);
    }
  }
}

// Each joint takes its file's friction where the file gives it, the panel's elsewhere, and every
// joint the panel's with uniform friction: two links without gravity, the first with Coulomb
// friction 0.5 of its own, the second with none (the panel's 0.1). A torque of 0.25 on the first
// joint moves it only with uniform friction; on the second, it slides and the first stays held
// against the reaction (about 0.36 N m) while its friction is its own. On every integrator.
TEST(JointFriction, EachJointTakesItsOwnFrictionWhereTheFileGivesIt) {
  for (const IntegratorKind integrator : kIntegratorKinds) {
    for (const bool uniform : {false, true}) {
      for (const uint32_t pushed : {0u, 1u}) {
        SCOPED_TRACE(std::string(IntegratorName(integrator)) + (uniform ? " uniform" : " file") +
                     " joint " + std::to_string(pushed));
        std::unique_ptr<Robot> arm = MakeBuiltInRobot(2);
        arm->gravity.SetZero();
        arm->viscousFriction = 0.0;
        arm->coulombFriction = 0.1;
        arm->frictionSource = uniform ? FrictionSource::kUniform : FrictionSource::kFile;
        arm->links[0]->fileFriction = true;
        arm->links[0]->fileCoulomb = 0.5;
        matrix<double> torque = V({0.0, 0.0});
        torque(pushed, 0) = 0.25;
        RunTicks(*arm, Step(integrator), torque, 20);
        EXPECT_EQ(arm->links[0]->q != 0.0, uniform);
        EXPECT_EQ(arm->links[1]->q != 0.0, pushed == 1);
        EXPECT_EQ(JointCoulomb(*arm, 0), uniform ? 0.1 : 0.5);
      }
    }
  }
}

// The implicit step takes each joint's own viscous friction implicitly: a light rod sliding
// without gravity against damping of its own that an explicit kick would overshoot (h b / I = 3.3)
// ends its first tick at the implicit kick's qd0 I / (I + h b), then slows down to rest, never
// turning back, all its kinetic energy dissipated.
TEST(JointFriction, TheImplicitStepTakesEachJointsOwnDampingImplicitly) {
  std::unique_ptr<Robot> rod = Rod(false);
  const double b = 10.0;
  rod->links[0]->fileFriction = true;
  rod->links[0]->fileViscous = b;
  rod->links[0]->qd = 1.0;
  Stepper stepper(*rod, Step(IntegratorKind::kImplicit));
  stepper.Forward(V({0.0}));
  EXPECT_NEAR(rod->links[0]->qd, kInertia / (kInertia + kTimeStep * b), 1e-12);
  for (int t = 0; t < 50; ++t) {
    const double before = rod->links[0]->qd;
    stepper.Forward(V({0.0}));
    ASSERT_GE(rod->links[0]->qd, 0.0) << t;
    ASSERT_LE(rod->links[0]->qd, before) << t;
  }
  EXPECT_NEAR(rod->dissipated, 0.5 * kInertia, 1e-6);
}

// With effort limits each torque saturates at its joint's effort: the tick moves the arm as the
// saturated torques would, and says which joints saturated.
TEST(JointLimits, EffortLimitsSaturateTheTorques) {
  const auto run = [](bool limited, const matrix<double>& torque) {
    std::unique_ptr<Robot> arm = MakeBuiltInRobot(3);
    arm->effortLimits = limited;
    arm->links[0]->effort = 2.0;
    arm->links[2]->effort = 0.5;
    Stepper stepper(*arm, Step(IntegratorKind::kDopri5));
    for (int t = 0; t < 20; ++t) {
      stepper.Forward(torque);
    }
    EXPECT_EQ(stepper.Saturated(), std::vector<uint8_t>({limited, 0, 0}));
    std::vector<double> applied = Elements(stepper.LastTorque());
    applied.push_back(arm->links[2]->q);
    return applied;
  };
  EXPECT_EQ(run(true, V({-5.0, 3.0, 0.5})), run(false, V({-2.0, 3.0, 0.5})));
}

// The samples and the test arms falling with the defaults for 30 s from rest at 0 and at
// (0.5, -1, 1.5, 0, ...), each start put within the limits: every joint stays within its limits,
// the run stays finite, and E - E0 = W - D holds to 1e-6 of the largest kinetic energy. The
// SCARA's quill, which gravity pulls down, rests at its lower end.
TEST(JointLimits, TheSamplesFallingStayWithinTheirLimitsAndKeepTheBalance) {
  const std::string arms[] = {
      "examples/arm7_gripper.urdf", "examples/double_pendulum.urdf", "examples/industrial6.urdf",
      "examples/planar_3link.urdf", "examples/puma560.urdf",         "examples/scara.urdf",
      "tests/urdf/ur5_like.urdf",   "tests/urdf/iiwa14_like.urdf",   "tests/urdf/panda_like.urdf"};
  for (const std::string& file : arms) {
    for (const bool bent : {false, true}) {
      SCOPED_TRACE(file + (bent ? " bent" : " at 0"));
      std::string error;
      std::unique_ptr<Robot> arm = LoadUrdfRobot(VELMOTH_SOURCE "/" + file, error);
      ASSERT_NE(arm, nullptr) << error;
      const std::size_t n = arm->links.size();
      for (std::size_t i = 0; bent && i < 3 && i < n; ++i) {
        arm->links[i]->q = (i == 0 ? 0.5 : i == 1 ? -1.0 : 1.5);
      }
      ClampStartToLimits(*arm);
      matrix<double> rest(static_cast<uint32_t>(n), 1);
      rest.SetZero();
      Stepper stepper(*arm, DefaultStepOptions(true));
      double peak = 0.0, worst = 0.0, past = 0.0;
      for (int t = 0; t < 3000; ++t) {
        stepper.Forward(rest);
        ASSERT_TRUE(StateIsFinite(*arm)) << t;
        const double energy = arm->kineticEnergy + arm->potentialEnergy;
        peak = std::max(peak, arm->kineticEnergy);
        worst = std::max(worst, std::fabs(energy - arm->startEnergy - arm->work + arm->dissipated));
        for (const auto& link : arm->links) {
          past = std::max({past, link->q - link->upper, link->lower - link->q});
        }
      }
      EXPECT_LE(past, 1e-9);
      EXPECT_LE(worst, 1e-6 * peak);
      EXPECT_EQ(arm->cappedTicks, 0u);
      if (file == "examples/scara.urdf") {
        EXPECT_EQ(arm->links[2]->q, arm->links[2]->upper);
      }
    }
  }
}

// An arm whose file gives limits and friction of its own, run with limits off and uniform friction,
// moves bit for bit as the same arm written without them (its limited joints continuous), on every
// integrator and engine.
TEST(JointLimits, OffWithUniformFrictionIsTheArmWithoutEitherBitForBit) {
  std::ifstream file(VELMOTH_SOURCE "/examples/planar_3link.urdf");
  const std::string text(std::istreambuf_iterator<char>(file), {});
  ASSERT_NE(text.find("<dynamics"), std::string::npos);
  std::string plain = std::regex_replace(text, std::regex("<(limit|dynamics)[^>]*/>"), "");
  plain = std::regex_replace(plain, std::regex("type=\"revolute\""), "type=\"continuous\"");
  std::string error;
  for (const EngineKind engine : kEngineKinds) {
    for (const IntegratorKind integrator : kIntegratorKinds) {
      SCOPED_TRACE(std::string(EngineName(engine)) + ", " + IntegratorName(integrator));
      std::unique_ptr<Robot> own = LoadUrdfRobotFromText(text, "own", error);
      std::unique_ptr<Robot> none = LoadUrdfRobotFromText(plain, "none", error);
      ASSERT_TRUE(own && none && HasJointLimits(*own) && !HasJointLimits(*none));
      own->limits = false;
      own->frictionSource = FrictionSource::kUniform;
      const StepOptions step{engine, integrator, 1, kDefaultTolerance};
      Stepper a(*own, step), b(*none, step);
      const matrix<double> torque = V({8.0, -3.0, 0.5});
      for (int t = 0; t < 300; ++t) {
        a.Forward(torque);
        b.Forward(torque);
        for (std::size_t i = 0; i < 3; ++i) {
          ASSERT_EQ(own->links[i]->q, none->links[i]->q) << t;
          ASSERT_EQ(own->links[i]->qd, none->links[i]->qd) << t;
        }
        ASSERT_EQ(own->dissipated, none->dissipated) << t;
      }
    }
  }
}

// A start outside the limits is put at the nearest limit, and the notice names each joint moved;
// inside them, or with the limits off, nothing moves and nothing is said.
TEST(JointLimits, AStartOutsideIsPutAtTheNearestLimit) {
  std::unique_ptr<Robot> arm = MakeBuiltInRobot(3);
  const auto place = [&](std::size_t i, double lower, double upper, double q) {
    arm->links[i]->lower = lower;
    arm->links[i]->upper = upper;
    arm->links[i]->q = q;
  };
  place(0, -1.0, 1.0, 0.5);
  place(2, 0.0, 0.2, 0.3);
  arm->links[1]->q = 7.0;
  EXPECT_EQ(ClampStartToLimits(*arm),
            "the start is outside the joint limits: 'joint2' starts at 0.2 (limits 0 to 0.2) "
            "instead of 0.3");
  EXPECT_EQ(arm->links[2]->q, 0.2);
  arm->links[0]->q = -3.0;
  arm->limits = false;
  EXPECT_EQ(ClampStartToLimits(*arm), "");
  arm->limits = true;
  EXPECT_NE(ClampStartToLimits(*arm).find("'joint0' starts at -1"), std::string::npos);
  EXPECT_EQ(ClampStartToLimits(*arm), "");
  EXPECT_EQ(LimitStatusText(*arm, {0, 1, 0}),
            "at a limit: joint0 (lower), joint2 (upper); saturated: joint1");
  // Far beyond a limit (an inverse tick, or the limits off) is past it, not at it; within the
  // tolerance it is still at it.
  const double upper = arm->links[2]->upper, lower = arm->links[0]->lower;
  struct Case {
    bool limits;
    double q0, q2;
    const char* text;
  } const cases[] = {
      {true, lower, upper + 0.5 * kPastLimitTolerance,
       "at a limit: joint0 (lower), joint2 (upper)"},
      {true, lower, upper + 33.0, "at a limit: joint0 (lower); past a limit: joint2 (upper)"},
      {true, lower - 2 * kPastLimitTolerance, 0.1, "past a limit: joint0 (lower)"},
      {false, lower, upper + 33.0, "past a limit: joint2 (upper)"},
      {false, lower, upper, ""},
  };
  for (const Case& c : cases) {
    arm->limits = c.limits;
    arm->links[0]->q = c.q0;
    arm->links[2]->q = c.q2;
    EXPECT_EQ(LimitStatusText(*arm, {}), c.text) << c.q0 << " " << c.q2;
  }
}

}  // namespace
