// The step with a controller: a held torque changes only at the sample instants (the rod against
// its own equation integrated finely with the torque held from each sample), a controller of typed
// torques changes no tick, the efforts cut the controller's torques and the energy balance counts
// what was applied; and the targets, as tables over the sample and test arms and the rates: gravity
// compensation holds every arm at rest, computed torque's error follows the closed form of
// e'' + Kd e' + Kp e = 0, PD settles and without compensation sags by Kp^-1 G, and the task law
// brings the tool to a reachable target.
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
#include "urdf/urdf_loader.h"

namespace {

using Vec = std::vector<double>;

constexpr double kG = 9.81;

matrix<double> Zeros(std::size_t n) {
  matrix<double> m(static_cast<uint32_t>(n), 1);
  m.SetZero();
  return m;
}

Vec Positions(const Robot& robot) {
  Vec q;
  for (const auto& link : robot.links) {
    q.push_back(link->q);
  }
  return q;
}

Vec Velocities(const Robot& robot) {
  Vec qd;
  for (const auto& link : robot.links) {
    qd.push_back(link->qd);
  }
  return qd;
}

void SetPositions(Robot& robot, const Vec& q) {
  for (std::size_t i = 0; i < q.size(); ++i) {
    robot.links[i]->q = q[i];
    robot.links[i]->qd = 0.0;
  }
}

// Ticks of the stepper with the controller of these settings.
struct Controlled {
  Controlled(Robot& robot, const ControllerSettings& settings, StepOptions step)
      : robot(robot),
        controller(std::make_shared<Controller>(robot, settings)),
        stepper(robot, step),
        torque(Zeros(robot.links.size())) {
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

// The rod of 1 kg and 0.3 m about x at its end, frictionless; q = -pi/2 hangs it straight down.
std::unique_ptr<Robot> Rod() {
  auto robot = std::make_unique<Robot>(0.0, 0.0, -kG, 0.0, 0.0);
  const double i = 0.3 * 0.3 / 12.0;
  robot->AddLink(1.0, 0.0, 0.15, 0.0, i, i, i, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 0.02);
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
  ControllerSettings settings;
  settings.kind = ControllerKind::kPd;
  settings.target = {target};
  settings.trajectory = TrajectoryKind::kStep;
  settings.kp = {kp};
  settings.kd = {kd};
  settings.compensate = false;
  const StepOptions steps[] = {{EngineKind::kRecursive, IntegratorKind::kDopri5, 1, 1e-12},
                               {EngineKind::kRecursive, IntegratorKind::kRk4, 20, 1e-9}};
  for (const StepOptions& step : steps) {
    for (int samples : {1, 2, 5, 10}) {
      SCOPED_TRACE(StepOptionsText(step) + ", " + std::to_string(samples) + " samples a tick");
      std::unique_ptr<Robot> rod = Rod();
      rod->links[0]->q = -M_PI / 2;
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
        other->links[0]->q = -M_PI / 2;
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
                               {EngineKind::kClosedForm, IntegratorKind::kImplicit, 1, 1e-9}};
  for (const StepOptions& step : steps) {
    SCOPED_TRACE(StepOptionsText(step));
    std::unique_ptr<Robot> a = MakeBuiltInRobot(4), b = MakeBuiltInRobot(4);
    SetPositions(*a, {0.3, -0.2, 0.5, 0.1});
    SetPositions(*b, {0.3, -0.2, 0.5, 0.1});
    ControllerSettings settings;
    settings.kind = ControllerKind::kTorque;
    Controlled typed(*a, settings, step);
    Stepper plain(*b, step);
    matrix<double> torque = Zeros(4);
    torque(1, 0) = 0.7;
    typed.torque = torque;
    // The closed form's Euler step diverges within 15 ticks of this fall.
    for (int t = 0; t < 10; ++t) {
      typed.stepper.Forward(typed.torque);
      plain.Forward(torque);
    }
    EXPECT_EQ(Positions(*a), Positions(*b));
    EXPECT_EQ(Velocities(*a), Velocities(*b));
    EXPECT_EQ(a->work, b->work);
  }
  // PD held per tick against its torques typed at each tick's start.
  const StepOptions held[] = {DefaultStepOptions(true),
                              DefaultStepOptions(false),
                              {EngineKind::kRecursive, IntegratorKind::kImplicit, 2, 1e-9},
                              {EngineKind::kClosedForm, IntegratorKind::kRk4, 3, 1e-9}};
  for (const StepOptions& step : held) {
    SCOPED_TRACE(StepOptionsText(step));
    std::unique_ptr<Robot> a = MakeBuiltInRobot(3), b = MakeBuiltInRobot(3);
    ControllerSettings settings;
    settings.kind = ControllerKind::kPd;
    settings.target = {0.5, -0.3, 0.2};
    settings.trajectory = TrajectoryKind::kStep;
    settings.samples = 1;
    Controlled held(*a, settings, step);
    Controller law(*b, settings);
    Stepper plain(*b, step);
    Vec viscous(3, 0.1), coulomb(3, 0.1);
    for (int t = 0; t < 50; ++t) {
      held.stepper.Forward(held.torque);
      const Vec q = Positions(*b), qd = Velocities(*b);
      law.BeginTick(q.data(), {{0.0, 0.0, -kG}, viscous.data(), coulomb.data()});
      Vec tau(3);
      law.Torque(0.0, q.data(), qd.data(), tau.data());
      law.EndTick();
      plain.Forward(MatrixFromRowMajor(3, 1, tau.data()));
      ASSERT_EQ(Positions(*a), Positions(*b)) << t;
      EXPECT_EQ(held.stepper.LastTorque()(2, 0), plain.LastTorque()(2, 0));
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
    ControllerSettings settings;
    settings.kind = ControllerKind::kPd;
    settings.target = {1.0, -0.5, 0.5};
    settings.trajectory = TrajectoryKind::kStep;
    settings.kp = {40.0};
    settings.kd = {1.0};
    settings.samples = samples;
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

struct ArmFile {
  const char* file;  // empty: the built-in arm on its own step
  bool sample;       // one of examples/
};

const ArmFile kArms[] = {
    {"", true},
    {"examples/arm7_gripper.urdf", true},
    {"examples/double_pendulum.urdf", true},
    {"examples/industrial6.urdf", true},
    {"examples/planar_3link.urdf", true},
    {"examples/puma560.urdf", true},
    {"examples/scara.urdf", true},
    {"tests/urdf/builtin_arm.urdf", false},
    {"tests/urdf/iiwa14_like.urdf", false},
    {"tests/urdf/panda_like.urdf", false},
    {"tests/urdf/ur5_like.urdf", false},
    // A light gripper jaw whose damping of 1 is stiff: computed torque's friction model cancels it
    {"tests/urdf/z1_like.urdf", false},
};

std::unique_ptr<Robot> Arm(const ArmFile& arm) {
  if (*arm.file == '\0') {
    return MakeBuiltInRobot();
  }
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(std::string(VELMOTH_SOURCE "/") + arm.file, error);
  EXPECT_NE(robot, nullptr) << error;
  return robot;
}

StepOptions StepOf(const ArmFile& arm) {
  return DefaultStepOptions(*arm.file != '\0');
}

// A pose inside every joint's limits with room to move by `room` either way: 0.3 rad (0.03 m)
// alternating in sign, moved inside.
Vec Pose(const Robot& robot, double sign, double room) {
  Vec q;
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    const Link& link = *robot.links[i];
    const bool slides = link.jointType == Prismatic;
    double x = sign * (i % 2 == 0 ? 0.3 : -0.3) * (slides ? 0.1 : 1.0);
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
  for (const ArmFile& arm : kArms) {
    for (bool friction : {false, true}) {
      if (friction && *arm.file == '\0') {
        continue;
      }
      for (int samples : {kContinuous, 10, 1}) {
        SCOPED_TRACE(std::string(*arm.file ? arm.file : "built-in arm") +
                     (friction ? ", with friction" : ", frictionless") + ", " + RateName(samples));
        std::unique_ptr<Robot> robot = Arm(arm);
        if (!friction) {
          Frictionless(*robot);
        }
        const Vec q0 = Pose(*robot, 1.0, 0.0);
        SetPositions(*robot, q0);
        ControllerSettings settings;
        settings.kind = ControllerKind::kGravity;
        settings.samples = samples;
        Controlled run(*robot, settings, StepOf(arm));
        run.Run(samples == 10 ? 200 : 1000);
        const Vec q = Positions(*robot), qd = Velocities(*robot);
        for (std::size_t i = 0; i < q.size(); ++i) {
          EXPECT_LE(std::fabs(q[i] - q0[i]), 1e-9) << i;
          EXPECT_LE(std::fabs(qd[i]), 1e-9) << i;
        }
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
  for (const ArmFile& arm : kArms) {
    if (*arm.file == '\0') {
      continue;  // its own step, semi-implicit Euler, is first order in 0.01 s
    }
    for (bool friction : {false, true}) {
      SCOPED_TRACE(std::string(*arm.file ? arm.file : "built-in arm") +
                   (friction ? ", with friction modelled" : ", frictionless"));
      std::unique_ptr<Robot> robot = Arm(arm);
      if (!friction) {
        Frictionless(*robot);
      }
      const std::size_t n = robot->links.size();
      const Vec start = Pose(*robot, 1.0, 0.2);
      Vec e0(n), target(n);
      for (std::size_t i = 0; i < n; ++i) {
        e0[i] = (robot->links[i]->jointType == Prismatic ? 0.01 : 0.1) * (i % 2 == 0 ? 1 : -1);
        target[i] = start[i] + e0[i];
      }
      SetPositions(*robot, start);
      ControllerSettings settings;
      settings.kind = ControllerKind::kComputedTorque;
      settings.target = target;
      settings.trajectory = TrajectoryKind::kStep;
      Controlled run(*robot, settings, StepOf(arm));
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
    std::unique_ptr<Robot> robot = Arm({"examples/industrial6.urdf", true});
    robot->frictionSource = FrictionSource::kUniform;
    robot->viscousFriction = viscous;
    robot->coulombFriction = 0.0;
    const Vec start = Pose(*robot, 1.0, 0.2);
    Vec target = start;
    for (double& x : target) {
      x += 0.2;
    }
    SetPositions(*robot, start);
    ControllerSettings settings;
    settings.kind = ControllerKind::kComputedTorque;
    settings.target = target;
    settings.duration = 1.0;
    Controlled run(*robot, settings, DefaultStepOptions(true));
    double worst = 0.0;
    Vec reference(start.size()), error(start.size());
    for (int t = 0; t < 150; ++t) {
      run.Run(1);
      const Vec q = Positions(*robot);
      run.controller->Tracking(0.0, q.data(), reference.data(), error.data());
      for (double e : error) {
        worst = std::max(worst, std::fabs(e));
      }
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
  for (const ArmFile& arm : kArms) {
    if (!arm.sample) {
      continue;
    }
    for (bool compensate : {true, false}) {
      SCOPED_TRACE(std::string(*arm.file ? arm.file : "built-in arm") +
                   (compensate ? "" : ", uncompensated"));
      std::unique_ptr<Robot> robot = Arm(arm);
      Frictionless(*robot);
      robot->limits = compensate;
      const std::size_t n = robot->links.size();
      const Vec target = Pose(*robot, 1.0, 0.2);
      Vec start = target;
      for (std::size_t i = 0; i < n; ++i) {
        start[i] -= robot->links[i]->jointType == Prismatic ? 0.02 : 0.2;
      }
      SetPositions(*robot, start);
      ControllerSettings settings;
      settings.kind = ControllerKind::kPd;
      settings.target = target;
      settings.trajectory = TrajectoryKind::kStep;
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
        for (std::size_t i = 0; i < n; ++i) {
          EXPECT_LE(std::fabs(target[i] - q[i]), 1e-6) << i;
        }
        continue;
      }
      // Kp^-1 G with G at the pose it rests at, in closed form.
      const EquationTerms terms = EvaluateEquationTerms(*robot);
      const auto size = static_cast<uint32_t>(n);
      const matrix<double> sag =
          (!MatrixFromRowMajor(size, size, run.controller->Kp().data())) * terms.G;
      for (uint32_t i = 0; i < size; ++i) {
        ASSERT_LT(std::fabs(robot->links[i]->qd), 1e-9) << "not at rest";
      }
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
  for (const ArmFile& arm : kArms) {
    std::unique_ptr<Robot> robot = Arm(arm);
    const std::size_t n = robot->links.size();
    if (n < 6 || *arm.file == '\0') {
      continue;
    }
    SCOPED_TRACE(arm.file);
    Frictionless(*robot);
    const Vec pose = Pose(*robot, 1.0, 0.2);
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
    ControllerSettings settings;
    settings.kind = ControllerKind::kTaskPd;
    settings.target = target;
    settings.trajectory = TrajectoryKind::kStep;
    Controlled run(*robot, settings, StepOf(arm));
    run.Run(500);
    tool.Track(*robot, at.data());
    const double miss = std::hypot(target[0] - at[0], target[1] - at[1], target[2] - at[2]);
    EXPECT_LE(miss, 1e-6);
  }
}

}  // namespace
