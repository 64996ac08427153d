// The controllers against the equation of motion's own terms in closed form, at random states of
// several arms; the references' ends, derivatives and default durations, and which changes of the
// settings start them afresh.
#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/control_model.h"
#include "control/controller.h"
#include "control/trajectory.h"
#include "dynamics/dynamics.h"
#include "dynamics/kinematics.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "urdf/urdf_loader.h"

namespace {

using Vec = std::vector<double>;
using Matrix = matrix<double>;

std::unique_ptr<Robot> Arm(const std::string& file) {
  if (file.empty()) {
    return MakeBuiltInRobot();
  }
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(std::string(VELMOTH_SOURCE "/") + file, error);
  EXPECT_NE(robot, nullptr) << error;
  return robot;
}

// The built-in arm and arms of files with turning and sliding joints.
const char* const kArms[] = {"", "examples/puma560.urdf", "examples/scara.urdf",
                             "examples/arm7_gripper.urdf", "tests/urdf/ur5_like.urdf"};

Vec Random(std::mt19937& random, std::size_t n, double scale) {
  std::uniform_real_distribution<double> value(-scale, scale);
  Vec v(n);
  for (double& x : v) {
    x = value(random);
  }
  return v;
}

Matrix Col(const Vec& v) {
  return MatrixFromRowMajor(static_cast<uint32_t>(v.size()), 1, v.data());
}

Vec Values(const Matrix& m) {  // row-major
  Vec v;
  for (uint32_t k = 0; k < m.RowCount() * m.ColCount(); ++k) {
    v.push_back(m(k / m.ColCount(), k % m.ColCount()));
  }
  return v;
}

double Largest(const Vec& v) {
  double largest = 0.0;
  for (double x : v) {
    largest = std::max(largest, std::fabs(x));
  }
  return largest;
}

// M, C, G and F of the robot at (q, qd), in closed form.
EquationTerms ClosedForm(Robot& robot, const Vec& q, const Vec& qd) {
  for (std::size_t i = 0; i < q.size(); ++i) {
    robot.links[i]->q = q[i];
    robot.links[i]->qd = qd[i];
  }
  return EvaluateEquationTerms(robot);
}

// An arm and what its tick hands the controller: its gravity and its joints' friction.
struct Bench {
  explicit Bench(std::unique_ptr<Robot> arm) : robot(std::move(arm)), n(robot->links.size()) {
    for (std::size_t i = 0; i < n; ++i) {
      viscous.push_back(JointViscous(*robot, i));
      coulomb.push_back(JointCoulomb(*robot, i));
    }
    const Matrix& g = robot->gravity;
    environment = {{g(0, 0), g(1, 0), g(2, 0)}, viscous.data(), coulomb.data()};
  }
  // The controller's torques s into a tick begun at q, at (q, qd).
  Vec Tau(Controller& controller, const Vec& q, const Vec& qd, double s = 0.0) const {
    controller.BeginTick(q.data(), environment);
    Vec tau(q.size());
    controller.Torque(s, q.data(), qd.data(), tau.data());
    return tau;
  }
  Vec Tau(const ControllerSettings& settings, const Vec& q, const Vec& qd) const {
    Controller controller(*robot, settings);
    return Tau(controller, q, qd);
  }

  std::unique_ptr<Robot> robot;
  std::size_t n;
  Vec viscous, coulomb;
  ControlEnvironment environment;
};

void ExpectNear(const Vec& a, const Vec& b, double tolerance, const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  const double scale = std::max(1.0, Largest(b));
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_NEAR(a[i], b[i], tolerance * scale) << what << " [" << i << "]";
  }
}

// A law that steps straight to its target, with the gains given.
ControllerSettings Stepped(ControllerKind kind, Vec target, Vec kp = {}, Vec kd = {}) {
  ControllerSettings settings;
  settings.kind = kind;
  settings.target = std::move(target);
  settings.trajectory = TrajectoryKind::kStep;
  settings.kp = std::move(kp);
  settings.kd = std::move(kd);
  return settings;
}

// Each trajectory starts where it says, ends at the target at rest (the sine: about it), and its
// velocity and acceleration are the derivatives of its position and velocity; the default duration
// makes the largest peak speed the moderate speed (the quintic's 15/8, the trapezoid's 3/2 of its
// mean), and no shorter than the least duration.
TEST(ReferenceTrajectory, EndsDerivativesAndDefaultDuration) {
  const Vec from{0.2, -1.0, 0.05}, to{1.2, -0.5, 0.05}, amplitude{0.3, 0.1, 0.0}, rest(3, 0.0);
  const Vec speed{kModerateSpeed, kModerateSpeed, kModerateSlideSpeed};
  for (TrajectoryKind kind : kTrajectoryKinds) {
    SCOPED_TRACE(TrajectoryName(kind));
    const double duration = DefaultDuration(kind, from, to, speed);
    const ReferenceTrajectory path(kind, from, to, duration, amplitude, 1.5);
    Vec q(3), qd(3), qdd(3);
    path.At(0.0, q.data(), qd.data(), qdd.data());
    if (kind == TrajectoryKind::kSine) {
      EXPECT_EQ(q, to);
      EXPECT_NEAR(qd[0], 0.3 * 2.0 * M_PI / 1.5, 1e-12);
    } else {
      EXPECT_EQ(q, kind == TrajectoryKind::kStep ? to : from);
      EXPECT_EQ(qd, rest);
    }
    if (kind == TrajectoryKind::kQuintic || kind == TrajectoryKind::kTrapezoid) {
      // The largest peak speed, half way, is the moderate speed: joint 0 moves 1 rad.
      path.At(0.5 * duration, nullptr, qd.data(), nullptr);
      EXPECT_NEAR(qd[0], kModerateSpeed, 1e-12);
      path.At(duration, q.data(), qd.data(), qdd.data());
      EXPECT_EQ(q, to);
      EXPECT_EQ(qd, rest);
      EXPECT_EQ(qdd, rest);
    }
    // Derivatives by central differences, away from the trapezoid's corners.
    const double h = 1e-6;
    for (double t : {0.13, 0.41, 0.77, 1.21}) {
      Vec before(3), after(3), vBefore(3), vAfter(3);
      path.At(t - h, before.data(), vBefore.data(), nullptr);
      path.At(t + h, after.data(), vAfter.data(), nullptr);
      path.At(t, q.data(), qd.data(), qdd.data());
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR((after[i] - before[i]) / (2 * h), qd[i], 1e-7) << t;
        EXPECT_NEAR((vAfter[i] - vBefore[i]) / (2 * h), qdd[i], 2e-5) << t;
      }
    }
  }
  // A short move takes the least duration.
  EXPECT_EQ(DefaultDuration(TrajectoryKind::kQuintic, {0.0}, {0.01}, {1.0}), kMinDuration);
}

// At random states of every arm, each law's torques are what the closed form's terms make of it:
// gravity G; PD Kp e - Kd qd + G (and without compensation no G); computed torque
// M (Kp e - Kd qd) + C qd + G + F, its friction modelled or not; with the gains given.
TEST(Controller, EachLawIsItsEquationOfTheClosedFormsTerms) {
  std::mt19937 random(31);
  for (const char* file : kArms) {
    SCOPED_TRACE(*file ? file : "built-in arm");
    const Bench bench(Arm(file));
    const Vec q = Random(random, bench.n, 0.8), qd = Random(random, bench.n, 1.0);
    const Vec target = Random(random, bench.n, 0.8);
    const EquationTerms t = ClosedForm(*bench.robot, q, qd);
    const double kp = 30.0, kd = 4.0;
    const Matrix v = kp * (Col(target) - Col(q)) - kd * Col(qd);
    const Matrix computed = t.M * v + t.C * Col(qd) + t.G;
    const struct {
      ControllerKind kind;
      bool compensate, friction;
      Matrix expected;
    } cases[] = {{ControllerKind::kGravity, true, true, t.G},
                 {ControllerKind::kPd, true, true, v + t.G},
                 {ControllerKind::kPd, false, true, v},
                 {ControllerKind::kComputedTorque, true, true, computed + t.F},
                 {ControllerKind::kComputedTorque, true, false, computed}};
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(ControllerName(c.kind)) + (c.compensate ? "" : " uncompensated") +
                   (c.friction ? "" : " without friction"));
      ControllerSettings settings = Stepped(c.kind, target, {kp}, {kd});
      settings.compensate = c.compensate;
      settings.modelFriction = c.friction;
      ExpectNear(bench.Tau(settings, q, qd), Values(c.expected), 1e-10, "tau");
    }
  }
}

// The default gains: PD's Kp = M w^2 and Kd = 2 M w with M at the target, computed torque's
// w^2 E and 2 w E; gains given make diagonal matrices, one left out the default's diagonal
// element (a single value for every joint: the laws' test).
TEST(Controller, DefaultGainsComeFromTheMassMatrixAtTheTarget) {
  for (const char* file : kArms) {
    SCOPED_TRACE(*file ? file : "built-in arm");
    const Bench bench(Arm(file));
    const std::size_t n = bench.n;
    std::mt19937 random(7);
    const Vec target = Random(random, n, 0.6), start(n, 0.0);
    const Vec mass = Values(ClosedForm(*bench.robot, target, Vec(n, 0.0)).M);
    ControllerSettings settings;
    settings.kind = ControllerKind::kPd;
    settings.target = target;
    settings.frequency = 7.0;
    Controller pd(*bench.robot, settings);
    bench.Tau(pd, start, start);
    for (std::size_t k = 0; k < n * n; ++k) {
      for (const auto& [gain, scale] : {std::pair{pd.Kp()[k], 49.0}, std::pair{pd.Kd()[k], 14.0}}) {
        EXPECT_NEAR(gain, mass[k] * scale, 1e-10 * std::max(1.0, std::fabs(mass[k]) * scale));
      }
    }
    settings.kind = ControllerKind::kComputedTorque;
    settings.kd = {1.0, 2.0};
    Controller ct(*bench.robot, settings);
    bench.Tau(ct, start, start);
    Vec kp(n * n, 0.0), kd(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      kp[i * n + i] = 49.0;
      kd[i * n + i] = i == 0 ? 1.0 : i == 1 ? 2.0 : 14.0;
    }
    EXPECT_EQ(ct.Kp(), kp);
    EXPECT_EQ(ct.Kd(), kd);
  }
}

// The task law at random states: its torques are J^T F + the joints' damping + G, F the spring and
// damper on the frame's position, J the frame's Jacobian as the kinematics give it; the damping
// part, M^-1 of it, moves the frame not at all (J M^-1 tau_n = 0); the default Kx is the frame's
// inertia (J M^-1 J^T)^-1 times w^2.
TEST(Controller, TheTaskLawPullsTheFrameAndDampsOnlyWhatLeavesItWhereItIs) {
  std::mt19937 random(5);
  for (const char* file : {"", "examples/puma560.urdf", "examples/arm7_gripper.urdf"}) {
    SCOPED_TRACE(*file ? file : "built-in arm");
    const Bench bench(Arm(file));
    const std::size_t n = bench.n;
    const Vec q = Random(random, n, 0.8), qd = Random(random, n, 1.0);
    const std::vector<recursive::FrameModel> frames = recursive::BuildFrameModels(*bench.robot);
    // J at q from the frames' own Jacobian; G and M in closed form.
    recursive::ChainModel chain = recursive::BuildChainModel(*bench.robot);
    recursive::ChainData data(chain.Size());
    recursive::Kinematics(chain, data, q.data(), nullptr, {});
    recursive::Placements(chain, data, nullptr);
    Vec jacobian(6 * n);
    recursive::FrameJacobian(chain, data, frames.back(), recursive::FrameAxes::kBase,
                             jacobian.data());
    const Matrix J = MatrixFromRowMajor(3, static_cast<uint32_t>(n), jacobian.data());
    const spatial::Vec3 at = recursive::FramePose(data, frames.back()).p;
    const EquationTerms t = ClosedForm(*bench.robot, q, Vec(n, 0.0));
    const Matrix inverse = !t.M;

    ControllerSettings settings =
        Stepped(ControllerKind::kTaskPd, {at.x + 0.05, at.y - 0.02, at.z + 0.03}, {100.0}, {10.0});
    settings.kn = {0.0};
    const Matrix force =
        100.0 * (Col(settings.target) - Col({at.x, at.y, at.z})) - 10.0 * (J * Col(qd));
    ExpectNear(bench.Tau(settings, q, qd), Values(Transpose(J) * force + t.G), 1e-10, "J^T F + G");

    // The damping alone, with the spring at its target and no gravity: tau = N (-Kn qd), and
    // J M^-1 tau = 0 by the closed form's M; tau is not nothing.
    settings.target = {at.x, at.y, at.z};
    settings.kp = settings.kd = {0.0};
    settings.kn = {3.0};
    settings.compensate = false;
    const Vec tau = bench.Tau(settings, q, qd);
    EXPECT_GT(Largest(tau), 1e-3);
    EXPECT_LT(Largest(Values(J * (inverse * Col(tau)))), 1e-9 * std::max(1.0, Largest(tau)));

    // Kx = (J M^-1 J^T)^+ w^2, a pseudo-inverse where the frame cannot move along some direction
    // (the built-in arm's, along x): A Kx A = w^2 A for A = J M^-1 J^T.
    settings.kp.clear();
    settings.kd.clear();
    Controller defaults(*bench.robot, settings);
    bench.Tau(defaults, q, qd);
    const Matrix a = J * inverse * Transpose(J);
    const double w2 = kDefaultFrequency * kDefaultFrequency;
    const Vec aka = Values(a * MatrixFromRowMajor(3, 3, defaults.Kp().data()) * a);
    const Vec expected = Values(w2 * a);
    for (std::size_t k = 0; k < 9; ++k) {
      EXPECT_NEAR(aka[k], expected[k], 1e-9 * w2 * Largest(Values(a))) << k;
    }
  }
}

// A model whose last link is 0.7 kg heavier (its inertia scaled with its mass) computes the
// gravity torques and computed torque of the arm whose last link is: heavier, and for a light
// link down to massless.
TEST(Controller, TheModelsMassErrorIsAHeavierLastLink) {
  for (double error : {0.7, -0.3, -100.0}) {
    SCOPED_TRACE(error);
    const Bench bench(MakeBuiltInRobot(4));
    std::unique_ptr<Robot> heavier = MakeBuiltInRobot(4);
    Link& last = *heavier->links.back();
    const double mass = std::max(last.mass + error, 0.0);
    last.inertia = last.inertia * (mass / last.mass);
    last.mass = mass;
    const Vec q{0.3, -0.5, 0.8, 0.2}, qd{0.5, -0.2, 0.1, 1.0};
    ControllerSettings settings = Stepped(ControllerKind::kComputedTorque, {0.1, 0.2, 0.3, 0.4});
    Controller exact(*heavier, settings);
    settings.massError = error;
    ExpectNear(bench.Tau(settings, q, qd), bench.Tau(exact, q, qd), 1e-12, "computed torque");
  }
}

// The reference starts afresh from the arm's pose at the next tick when the law, target or
// trajectory change, not when the gains or the rate do; a start handed to another controller
// (a recording's replay) gives the same torques at the same time.
TEST(Controller, TheReferenceStartsAfreshOnlyWhereTheSettingsCallForIt) {
  const Bench bench(MakeBuiltInRobot(3));
  ControllerSettings settings;
  settings.kind = ControllerKind::kPd;
  settings.target = {1.0, 0.5, -0.5};
  Controller controller(*bench.robot, settings);
  const Vec start{0.0, 0.1, 0.2}, later{0.3, 0.3, 0.3}, qd{0.1, 0.0, -0.1};
  EXPECT_FALSE(controller.Start());
  controller.BeginTick(start.data(), bench.environment);
  for (int t = 0; t < 30; ++t) {
    controller.EndTick();
  }
  ASSERT_TRUE(controller.Start());
  EXPECT_EQ(controller.Start()->from, start);
  EXPECT_EQ(controller.Start()->ticks, 30u);

  const struct {
    const char* what;
    void (*change)(ControllerSettings&);
    bool restarts;
  } changes[] = {
      {"gains", [](ControllerSettings& s) { s.kp = {5.0}; }, false},
      {"rate", [](ControllerSettings& s) { s.samples = 10; }, false},
      {"model", [](ControllerSettings& s) { s.massError = 0.1; }, false},
      {"target", [](ControllerSettings& s) { s.target.assign(3, 0.0); }, true},
      {"trajectory", [](ControllerSettings& s) { s.trajectory = TrajectoryKind::kTrapezoid; },
       true},
      {"duration", [](ControllerSettings& s) { s.duration = 3.0; }, true},
      {"law", [](ControllerSettings& s) { s.kind = ControllerKind::kComputedTorque; }, true},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    ControllerSettings changed = controller.Settings();
    c.change(changed);
    controller.SetSettings(changed);
    EXPECT_EQ(!controller.Start(), c.restarts);
    controller.BeginTick(later.data(), bench.environment);
    EXPECT_EQ(controller.Start()->from, c.restarts ? later : start);
    EXPECT_EQ(controller.Start()->ticks, c.restarts ? 0u : 30u);
    controller.SetStart({start, 30});  // back to where it was, for the next change
  }
  controller.RestartReference();
  EXPECT_FALSE(controller.Start());

  // The same start in another controller: the same torques.
  controller.SetStart({start, 57});
  Controller again(*bench.robot, controller.Settings());
  again.SetStart(*controller.Start());
  EXPECT_EQ(bench.Tau(controller, later, qd, 0.004), bench.Tau(again, later, qd, 0.004));
}

}  // namespace
