// The step with a controller: held torques against the rod's own equation, the typed torques' law,
// efforts and the balance; and the laws' targets over the sample and test arms and the rates.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/controller.h"
#include "dynamics/dynamics.h"
#include "dynamics/kinematics.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/stepper.h"
#include "tests/simulation/test_arms.h"
#include "urdf/urdf_loader.h"

namespace {

using Vec = std::vector<double>;

constexpr double kG = 9.81;

matrix<double> Column(const Vec& v) {
  return MatrixFromRowMajor(static_cast<uint32_t>(v.size()), 1, v.data());
}

// The largest |a - b| of two vectors of one size.
double Gap(const Vec& a, const Vec& b) {
  double most = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    most = std::max(most, std::fabs(a[i] - b[i]));
  }
  return most;
}

// Every joint's q (or qd).
Vec Positions(const Robot& robot, double Link::*field = &Link::q) {
  Vec q;
  for (const auto& link : robot.links) {
    q.push_back((*link).*field);
  }
  return q;
}

Vec Velocities(const Robot& robot) {
  return Positions(robot, &Link::qd);
}

void SetPositions(Robot& robot, const Vec& q) {
  for (std::size_t i = 0; i < q.size(); ++i) {
    robot.links[i]->q = q[i];
    robot.links[i]->qd = 0.0;
  }
}

// A law that steps to its target (none: where the arm is), sampled `samples` times a tick.
ControllerSettings Law(ControllerKind kind, const Vec& target = {}, int samples = kContinuous) {
  ControllerSettings settings;
  settings.kind = kind;
  settings.samples = samples;
  settings.target = target;
  settings.trajectory = TrajectoryKind::kStep;
  return settings;
}

// Ticks of the stepper with the controller of these settings.
struct Controlled {
  Controlled(Robot& robot, const ControllerSettings& settings, StepOptions step)
      : robot(robot),
        controller(std::make_shared<Controller>(robot, settings)),
        stepper(robot, step),
        torque(Column(Vec(robot.links.size(), 0.0))) {
    stepper.SetController(controller);
  }
  void Run(int ticks) {
    for (int t = 0; t < ticks; ++t) {
      stepper.Forward(torque);
    }
  }
  Robot& robot;
  std::shared_ptr<Controller> controller;
  Stepper stepper;
  matrix<double> torque;
};

// The rod of 1 kg and 0.3 m about x at its end, frictionless, hanging straight down (q = -pi/2).
std::unique_ptr<Robot> Rod() {
  auto robot = std::make_unique<Robot>(0.0, 0.0, -kG, 0.0, 0.0);
  const double i = 0.3 * 0.3 / 12.0;
  robot->AddLink(1.0, 0.0, 0.15, 0.0, i, i, i, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 0.02);
  robot->links[0]->q = -M_PI / 2;
  return robot;
}

// A PD law without compensation held from each of `samples` instants per tick moves the rod as its
// own equation, I q'' = tau_k - k cos q with tau_k = Kp (q* - q_k) - Kd qd_k from the last sample,
// integrated by RK4 in 2000 steps between samples; on dopri5 and on RK4 in substeps that the
// samples cut. Evaluated at every state instead (continuous) it moves otherwise.
TEST(ControlStep, AHeldTorqueChangesOnlyAtTheSampleInstants) {
  const double inertia = 0.3 * 0.3 / 3.0, k = kG * 0.15, kp = 8.0, kd = 0.5, target = -0.6;
  const auto reference = [&](int samples, int ticks) {
    double q = -M_PI / 2, qd = 0.0;
    const double h = kTimeStep / samples / 2000;
    for (int s = 0; s < ticks * samples; ++s) {
      const double tau = kp * (target - q) - kd * qd;
      const auto accel = [&](double x) { return (tau - k * std::cos(x)) / inertia; };
      for (int step = 0; step < 2000; ++step) {
        const double a1 = accel(q), v1 = qd;
        const double a2 = accel(q + 0.5 * h * v1), v2 = qd + 0.5 * h * a1;
        const double a3 = accel(q + 0.5 * h * v2), v3 = qd + 0.5 * h * a2;
        const double a4 = accel(q + h * v3), v4 = qd + h * a3;
        q += h / 6 * (v1 + 2 * v2 + 2 * v3 + v4);
        qd += h / 6 * (a1 + 2 * a2 + 2 * a3 + a4);
      }
    }
    return Vec{q, qd};
  };
  ControllerSettings settings = Law(ControllerKind::kPd, {target});
  settings.kp = {kp};
  settings.kd = {kd};
  settings.compensate = false;
  const StepOptions steps[] = {{EngineKind::kRecursive, IntegratorKind::kDopri5, 1, 1e-12},
                               {EngineKind::kRecursive, IntegratorKind::kRk4, 20, 1e-9}};
  for (const StepOptions& step : steps) {
    for (int samples : {1, 2, 5, 10}) {
      SCOPED_TRACE(StepOptionsText(step) + ", " + std::to_string(samples) + " samples a tick");
      std::unique_ptr<Robot> rod = Rod();
      settings.samples = samples;
      Controlled run(*rod, settings, step);
      run.Run(40);
      const Vec expected = reference(samples, 40);
      EXPECT_NEAR(rod->links[0]->q, expected[0], 1e-9);
      EXPECT_NEAR(rod->links[0]->qd, expected[1], 1e-8);
      EXPECT_GE(run.stepper.LastSubsteps(), samples);
      if (samples == 2) {
        // The same law evaluated at every state moves the rod measurably otherwise.
        std::unique_ptr<Robot> other = Rod();
        settings.samples = kContinuous;
        Controlled continuous(*other, settings, step);
        continuous.Run(40);
        EXPECT_GT(std::fabs(other->links[0]->q - expected[0]), 1e-5);
      }
    }
  }
}

// Once per tick, the held torque is the tick's typed torque: the same ticks, bit for bit, as
// ticks given the law's torque at each tick's start. A controller of typed torques alone changes no
// tick of any step, the built-in arm's closed-form Euler tick among them.
TEST(ControlStep, ATorqueHeldForTheTickIsATypedTorqueAndTheTorqueLawChangesNothing) {
  const StepOptions steps[] = {DefaultStepOptions(false),
                               DefaultStepOptions(true),
                               {EngineKind::kRecursive, IntegratorKind::kRk4, 2, 1e-9},
                               {EngineKind::kClosedForm, IntegratorKind::kImplicit, 1, 1e-9},
                               {EngineKind::kRecursive, IntegratorKind::kImplicit, 2, 1e-9},
                               {EngineKind::kClosedForm, IntegratorKind::kRk4, 3, 1e-9}};
  for (const StepOptions& step : steps) {
    SCOPED_TRACE(StepOptionsText(step));
    std::unique_ptr<Robot> a = MakeBuiltInRobot(4), b = MakeBuiltInRobot(4);
    SetPositions(*a, {0.3, -0.2, 0.5, 0.1});
    SetPositions(*b, {0.3, -0.2, 0.5, 0.1});
    Controlled typed(*a, Law(ControllerKind::kTorque), step);
    Stepper plain(*b, step);
    typed.torque = Column({0.0, 0.7, 0.0, 0.0});
    // The closed form's Euler step diverges within 15 ticks of this fall.
    for (int t = 0; t < 10; ++t) {
      typed.stepper.Forward(typed.torque);
      plain.Forward(typed.torque);
    }
    EXPECT_EQ(Positions(*a), Positions(*b));
    EXPECT_EQ(Velocities(*a), Velocities(*b));
    EXPECT_EQ(a->work, b->work);

    // PD held per tick against its torques typed at each tick's start.
    std::unique_ptr<Robot> c = MakeBuiltInRobot(3), d = MakeBuiltInRobot(3);
    const ControllerSettings settings = Law(ControllerKind::kPd, {0.5, -0.3, 0.2}, 1);
    Controlled held(*c, settings, step);
    Controller law(*d, settings);
    Stepper plainPd(*d, step);
    Vec viscous(3, 0.1), coulomb(3, 0.1), tau(3);
    for (int t = 0; t < 50; ++t) {
      held.stepper.Forward(held.torque);
      const Vec q = Positions(*d), qd = Velocities(*d);
      law.BeginTick(q.data(), {{0.0, 0.0, -kG}, viscous.data(), coulomb.data()});
      law.Torque(0.0, q.data(), qd.data(), tau.data());
      law.EndTick();
      plainPd.Forward(Column(tau));
      ASSERT_EQ(Positions(*c), Positions(*d)) << t;
      EXPECT_EQ(held.stepper.LastTorque()(2, 0), plainPd.LastTorque()(2, 0));
    }
  }
}

// With the efforts on, the typed torques plus the controller's are cut at each joint's effort,
// the joints cut are named, and the balance's W is the work of the torques applied: E - E0 = W - D
// holds at every rate.
TEST(ControlStep, EffortsCutTheControllersTorquesAndTheBalanceCountsWhatWasApplied) {
  for (int samples : {kContinuous, 10, 1}) {
    SCOPED_TRACE(samples);
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
    for (const auto& link : robot->links) {
      link->effort = 2.0;
    }
    robot->effortLimits = true;
    ControllerSettings settings = Law(ControllerKind::kPd, {1.0, -0.5, 0.5}, samples);
    settings.kp = {40.0};
    settings.kd = {1.0};
    Controlled run(*robot, settings, DefaultStepOptions(true));
    run.torque(0, 0) = 0.5;
    run.Run(1);
    // The first joint's law asks for more than 2 N m: cut, and named.
    EXPECT_EQ(run.stepper.LastTorque()(0, 0), 2.0);
    EXPECT_EQ(run.stepper.Saturated()[0], 1);
    double peak = 0.0;
    for (int t = 0; t < 300; ++t) {
      run.stepper.Forward(run.torque);
      for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_LE(std::fabs(run.stepper.LastTorque()(i, 0)), 2.0);
      }
      peak = std::max(peak, robot->kineticEnergy);
      const double balance = robot->kineticEnergy + robot->potentialEnergy - robot->startEnergy -
                             robot->work + robot->dissipated;
      ASSERT_LT(std::fabs(balance), 1e-6 * std::max(1.0, peak)) << t;
    }
  }
}

// ---- the targets, over the arms -----------------------------------------------------------------

// Over every arm of test_arms.h: the Z1-like arm's stiff gripper jaw is cancelled by computed
// torque's friction model. The samples are the built-in arm and those in examples/.
bool Sample(const char* arm) {
  return std::string(arm).rfind("tests/", 0) != 0;
}

StepOptions StepOf(const char* arm) {
  return DefaultStepOptions(!BuiltIn(arm));
}

// A pose inside every joint's limits with room to move by `room` either way: 0.3 rad (0.03 m)
// alternating in sign, moved inside.
Vec Pose(const Robot& robot, double room) {
  Vec q;
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    const Link& link = *robot.links[i];
    const bool slides = link.jointType == Prismatic;
    double x = (i % 2 == 0 ? 0.3 : -0.3) * (slides ? 0.1 : 1.0);
    const double margin = room * (slides ? 0.1 : 1.0) + 1e-3;
    x = std::min(std::max(x, link.lower + margin), link.upper - margin);
    q.push_back(x);
  }
  return q;
}

void Frictionless(Robot& robot) {
  robot.viscousFriction = robot.coulombFriction = 0.0;
  robot.frictionSource = FrictionSource::kUniform;
}

// Gravity compensation holds every arm still from a pose inside its limits, frictionless and with
// the file's friction, at the continuous rate and once per tick: after 10 s, |q - q0| <= 1e-9 and
// |qd| <= 1e-9; at 1 kHz too, for 2 s (ten pieces a tick cost the sanitizer build ten times as
// much; tools/control_table runs it for 10 s). (The built-in arm on its own step only
// frictionless: that step takes Coulomb friction as it comes, c sign(qd), so the rounding of G
// sets it chattering by c's impulses; every other step holds it.)
TEST(ControlTargets, GravityCompensationHoldsEveryArmAtRest) {
  for (const char* arm : kArms) {
    for (bool friction : {false, true}) {
      if (friction && BuiltIn(arm)) {
        continue;
      }
      for (int samples : {kContinuous, 10, 1}) {
        SCOPED_TRACE(ArmName(arm) + (friction ? ", with friction" : ", frictionless") + ", " +
                     RateName(samples));
        std::unique_ptr<Robot> robot = LoadArm(arm);
        if (!friction) {
          Frictionless(*robot);
        }
        const Vec q0 = Pose(*robot, 0.0);
        SetPositions(*robot, q0);
        Controlled run(*robot, Law(ControllerKind::kGravity, {}, samples), StepOf(arm));
        run.Run(samples == 10 ? 200 : 1000);
        EXPECT_LE(Gap(Positions(*robot), q0), 1e-9);
        EXPECT_LE(Gap(Velocities(*robot), Vec(q0.size(), 0.0)), 1e-9);
      }
    }
  }
}

// Computed torque at the continuous rate with the exact model, from an error e0 at rest: every
// joint's error is e0 (1 + w t) e^(-w t), the critically damped solution of e'' + 2 w e' + w^2 e =
// 0, within 1e-8 rad (m) over 5 s, frictionless and with the file's friction modelled, on every
// arm's default step.
TEST(ControlTargets, ComputedTorquesErrorFollowsTheClosedForm) {
  const double w = kDefaultFrequency;
  for (const char* arm : kArms) {
    if (BuiltIn(arm)) {
      continue;  // its own step, semi-implicit Euler, is first order in 0.01 s
    }
    for (bool friction : {false, true}) {
      SCOPED_TRACE(ArmName(arm) + (friction ? ", with friction modelled" : ", frictionless"));
      std::unique_ptr<Robot> robot = LoadArm(arm);
      if (!friction) {
        Frictionless(*robot);
      }
      const std::size_t n = robot->links.size();
      const Vec start = Pose(*robot, 0.2);
      Vec e0(n), target(n);
      for (std::size_t i = 0; i < n; ++i) {
        e0[i] = (robot->links[i]->jointType == Prismatic ? 0.01 : 0.1) * (i % 2 == 0 ? 1 : -1);
        target[i] = start[i] + e0[i];
      }
      SetPositions(*robot, start);
      Controlled run(*robot, Law(ControllerKind::kComputedTorque, target), StepOf(arm));
      double worst = 0.0;
      for (int t = 1; t <= 500; ++t) {
        run.Run(1);
        const double time = t * kTimeStep;
        for (std::size_t i = 0; i < n; ++i) {
          const double expected = e0[i] * (1.0 + w * time) * std::exp(-w * time);
          worst = std::max(worst, std::fabs(target[i] - robot->links[i]->q - expected));
        }
      }
      EXPECT_LE(worst, 1e-8);
    }
  }
}

// Viscous friction stiff enough that the default step takes the additive pair (h b / M far past
// an explicit method's stability) is cancelled by computed torque's friction model: the closed
// loop is not stiff, so the step's stages solve with the damping left over. Tracking a quintic of
// 0.2 rad in 1 s, the error stays within 1e-8 and no tick reaches its cap.
TEST(ControlTargets, ComputedTorqueCancelsTheStiffDampingItModels) {
  for (double viscous : {100.0, 1e4}) {
    SCOPED_TRACE("viscous " + std::to_string(viscous));
    std::unique_ptr<Robot> robot = LoadArm("examples/industrial6.urdf");
    robot->frictionSource = FrictionSource::kUniform;
    robot->viscousFriction = viscous;
    robot->coulombFriction = 0.0;
    const Vec start = Pose(*robot, 0.2);
    Vec target = start;
    for (double& x : target) {
      x += 0.2;
    }
    SetPositions(*robot, start);
    ControllerSettings settings = Law(ControllerKind::kComputedTorque, target);
    settings.trajectory = TrajectoryKind::kQuintic;
    settings.duration = 1.0;
    Controlled run(*robot, settings, DefaultStepOptions(true));
    double worst = 0.0;
    Vec reference(start.size()), error(start.size());
    for (int t = 0; t < 150; ++t) {
      run.Run(1);
      run.controller->Tracking(0.0, Positions(*robot).data(), reference.data(), error.data());
      worst = std::max(worst, Gap(error, Vec(error.size(), 0.0)));
    }
    EXPECT_LE(worst, 1e-8);
    EXPECT_EQ(robot->cappedTicks, 0u);
  }
}

// PD with gravity compensation and the default gains settles from 0.2 rad (0.02 m) off to within
// 1e-6 of the target in 5 s on every sample arm, frictionless: the arms' own Coulomb friction of
// 0.1 N m would hold light wrists short of it, where Kp e falls below the friction level.
// Without compensation it settles where Kp e = G(q): its error is Kp^-1 G at the pose it rests at
// (limits off, so that no joint rests against one; the built-in arm on dopri5, as its own Euler
// step diverges on the fall gravity starts it with).
TEST(ControlTargets, PdSettlesAndWithoutCompensationSagsByTheGravityOverItsGain) {
  for (const char* arm : kArms) {
    if (!Sample(arm)) {
      continue;
    }
    for (bool compensate : {true, false}) {
      SCOPED_TRACE(ArmName(arm) + (compensate ? "" : ", uncompensated"));
      std::unique_ptr<Robot> robot = LoadArm(arm);
      Frictionless(*robot);
      robot->limits = compensate;
      const std::size_t n = robot->links.size();
      const Vec target = Pose(*robot, 0.2);
      Vec start = target;
      for (std::size_t i = 0; i < n; ++i) {
        start[i] -= robot->links[i]->jointType == Prismatic ? 0.02 : 0.2;
      }
      SetPositions(*robot, start);
      ControllerSettings settings = Law(ControllerKind::kPd, target);
      settings.compensate = compensate;
      Controlled run(*robot, settings, compensate ? StepOf(arm) : DefaultStepOptions(true));
      // Without compensation, gravity takes the arm far (light wrists that carry a hand by radians,
      // their stiffness Kp = M w^2 being small) to where its inertia is not the target's and its
      // modes are slower: it runs until it rests, for at most 60 s.
      run.Run(500);
      for (int t = 500; !compensate && t < 6000; t += 100) {
        const Vec qd = Velocities(*robot);
        if (std::all_of(qd.begin(), qd.end(), [](double v) { return std::fabs(v) < 1e-10; })) {
          break;
        }
        run.Run(100);
      }
      const Vec q = Positions(*robot);
      if (compensate) {
        EXPECT_LE(Gap(target, q), 1e-6);
        continue;
      }
      ASSERT_LT(Gap(Velocities(*robot), Vec(n, 0.0)), 1e-9) << "not at rest";
      // Kp^-1 G with G at the pose it rests at, in closed form.
      const auto size = static_cast<uint32_t>(n);
      const matrix<double> sag = (!MatrixFromRowMajor(size, size, run.controller->Kp().data())) *
                                 EvaluateEquationTerms(*robot).G;
      for (uint32_t i = 0; i < size; ++i) {
        EXPECT_NEAR(target[i] - q[i], sag(i, 0), 1e-6) << i;
      }
    }
  }
}

// The task law with its default gains brings the tool (the arm's last frame) from where it is at a
// pose 0.2 rad off to the tool's place at that pose, a reachable target, within 1e-6 m in 5 s, on
// every arm of six joints or more, frictionless.
TEST(ControlTargets, TheTaskLawBringsTheToolToAReachableTarget) {
  for (const char* arm : kArms) {
    std::unique_ptr<Robot> robot = LoadArm(arm);
    const std::size_t n = robot->links.size();
    if (n < 6 || BuiltIn(arm)) {
      continue;
    }
    SCOPED_TRACE(arm);
    Frictionless(*robot);
    const Vec pose = Pose(*robot, 0.2);
    Vec start = pose;
    for (std::size_t i = 0; i < n; ++i) {
      start[i] -= 0.2;
    }
    // The tool at the pose.
    recursive::FrameTracker tool(
        *robot, {static_cast<int>(recursive::BuildFrameModels(*robot).size()) - 1});
    SetPositions(*robot, pose);
    Vec target(3), at(3);
    tool.Track(*robot, target.data());
    SetPositions(*robot, start);
    Controlled run(*robot, Law(ControllerKind::kTaskPd, target), StepOf(arm));
    run.Run(500);
    tool.Track(*robot, at.data());
    const double miss = std::hypot(target[0] - at[0], target[1] - at[1], target[2] - at[2]);
    EXPECT_LE(miss, 1e-6);
  }
}

}  // namespace
