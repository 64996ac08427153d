// The controllers against the equation of motion's own terms, in closed form: each law's torques
// at random states (gravity G, PD, computed torque M v + C qd + G + F, the task law through the
// frame's Jacobian), the default gains from M's diagonal and the frame's inertia, the model's mass
// error against an arm whose last link is that much heavier, and the task law's joint damping,
// which accelerates no motion of the frame. The references: each trajectory's ends, its
// derivatives against differences, and its default duration's peak speed; which changes of the
// settings start the reference afresh, and a start handed on giving the same torques.
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

// M, C qd, G and F of the robot at (q, qd), in closed form.
struct Terms {
  Vec mass, bias, gravity, friction;  // M row-major, C qd, G, F
};

Terms ClosedForm(Robot& robot, const Vec& q, const Vec& qd) {
  const std::size_t n = q.size();
  for (std::size_t i = 0; i < n; ++i) {
    robot.links[i]->q = q[i];
    robot.links[i]->qd = qd[i];
  }
  const EquationTerms t = EvaluateEquationTerms(robot);
  Terms terms;
  for (uint32_t r = 0; r < n; ++r) {
    double cqd = 0.0;
    for (uint32_t c = 0; c < n; ++c) {
      terms.mass.push_back(t.M(r, c));
      cqd += t.C(r, c) * qd[c];
    }
    terms.bias.push_back(cqd);
    terms.gravity.push_back(t.G(r, 0));
    terms.friction.push_back(t.F(r, 0));
  }
  return terms;
}

ControlEnvironment Environment(const Robot& robot, Vec& viscous, Vec& coulomb) {
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    viscous.push_back(JointViscous(robot, i));
    coulomb.push_back(JointCoulomb(robot, i));
  }
  const matrix<double>& g = robot.gravity;
  return {{g(0, 0), g(1, 0), g(2, 0)}, viscous.data(), coulomb.data()};
}

void ExpectNear(const Vec& a, const Vec& b, double tolerance, const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  double scale = 1.0;
  for (double x : b) {
    scale = std::max(scale, std::fabs(x));
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_NEAR(a[i], b[i], tolerance * scale) << what << " [" << i << "]";
  }
}

// Each trajectory starts where it says, ends at the target at rest (the sine: about it), and its
// velocity and acceleration are the derivatives of its position and velocity; the default duration
// makes the largest peak speed the moderate speed (the quintic's 15/8, the trapezoid's 3/2 of its
// mean), and no shorter than the least duration.
TEST(ReferenceTrajectory, EndsDerivativesAndDefaultDuration) {
  const Vec from{0.2, -1.0, 0.05}, to{1.2, -0.5, 0.05}, amplitude{0.3, 0.1, 0.0};
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
    } else if (kind == TrajectoryKind::kStep) {
      EXPECT_EQ(q, to);
      EXPECT_EQ(qd, Vec(3, 0.0));
    } else {
      EXPECT_EQ(q, from);
      EXPECT_EQ(qd, Vec(3, 0.0));
      // The largest peak speed, half way, is the moderate speed: joint 0 moves 1 rad.
      path.At(0.5 * duration, nullptr, qd.data(), nullptr);
      EXPECT_NEAR(qd[0], kModerateSpeed, 1e-12);
      path.At(duration, q.data(), qd.data(), qdd.data());
      EXPECT_EQ(q, to);
      EXPECT_EQ(qd, Vec(3, 0.0));
      EXPECT_EQ(qdd, Vec(3, 0.0));
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
    std::unique_ptr<Robot> robot = Arm(file);
    const std::size_t n = robot->links.size();
    Vec viscous, coulomb;
    const ControlEnvironment environment = Environment(*robot, viscous, coulomb);
    const Vec q = Random(random, n, 0.8), qd = Random(random, n, 1.0);
    const Vec target = Random(random, n, 0.8);
    const Terms terms = ClosedForm(*robot, q, qd);
    const double kp = 30.0, kd = 4.0;
    const struct {
      ControllerKind kind;
      bool compensate, friction;
    } cases[] = {{ControllerKind::kGravity, true, true},
                 {ControllerKind::kPd, true, true},
                 {ControllerKind::kPd, false, true},
                 {ControllerKind::kComputedTorque, true, true},
                 {ControllerKind::kComputedTorque, true, false}};
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(ControllerName(c.kind)) + (c.compensate ? "" : " uncompensated") +
                   (c.friction ? "" : " without friction"));
      ControllerSettings settings;
      settings.kind = c.kind;
      settings.target = target;
      settings.trajectory = TrajectoryKind::kStep;
      settings.kp = {kp};
      settings.kd = {kd};
      settings.compensate = c.compensate;
      settings.modelFriction = c.friction;
      Controller controller(*robot, settings);
      controller.BeginTick(q.data(), environment);
      Vec tau(n), expected(n);
      controller.Torque(0.0, q.data(), qd.data(), tau.data());
      for (std::size_t i = 0; i < n; ++i) {
        const double v = kp * (target[i] - q[i]) - kd * qd[i];
        double mv = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
          mv += terms.mass[i * n + j] * (kp * (target[j] - q[j]) - kd * qd[j]);
        }
        switch (c.kind) {
          case ControllerKind::kGravity:
            expected[i] = terms.gravity[i];
            break;
          case ControllerKind::kPd:
            expected[i] = v + (c.compensate ? terms.gravity[i] : 0.0);
            break;
          default:
            expected[i] =
                mv + terms.bias[i] + terms.gravity[i] + (c.friction ? terms.friction[i] : 0.0);
        }
      }
      ExpectNear(tau, expected, 1e-10, "tau");
    }
  }
}

// The default gains: PD's Kp = M w^2 and Kd = 2 M w with M at the target, computed torque's
// w^2 E and 2 w E; gains given make diagonal matrices, a single value every joint's, one left out
// the default's diagonal element.
TEST(Controller, DefaultGainsComeFromTheMassMatrixAtTheTarget) {
  for (const char* file : kArms) {
    SCOPED_TRACE(*file ? file : "built-in arm");
    std::unique_ptr<Robot> robot = Arm(file);
    const std::size_t n = robot->links.size();
    Vec viscous, coulomb;
    const ControlEnvironment environment = Environment(*robot, viscous, coulomb);
    std::mt19937 random(7);
    const Vec target = Random(random, n, 0.6), start(n, 0.0);
    const Terms terms = ClosedForm(*robot, target, Vec(n, 0.0));
    ControllerSettings settings;
    settings.kind = ControllerKind::kPd;
    settings.target = target;
    settings.frequency = 7.0;
    Controller pd(*robot, settings);
    pd.BeginTick(start.data(), environment);
    for (std::size_t k = 0; k < n * n; ++k) {
      const double m = terms.mass[k];
      EXPECT_NEAR(pd.Kp()[k], m * 49.0, 1e-10 * std::max(1.0, std::fabs(m) * 49.0));
      EXPECT_NEAR(pd.Kd()[k], m * 14.0, 1e-10 * std::max(1.0, std::fabs(m) * 14.0));
    }
    settings.kind = ControllerKind::kComputedTorque;
    settings.kp = {3.0};
    settings.kd = {1.0, 2.0};
    Controller ct(*robot, settings);
    ct.BeginTick(start.data(), environment);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        const double kd = i != j ? 0.0 : i == 0 ? 1.0 : i == 1 ? 2.0 : 14.0;
        EXPECT_EQ(ct.Kp()[i * n + j], i == j ? 3.0 : 0.0);
        EXPECT_EQ(ct.Kd()[i * n + j], kd);
      }
    }
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
    std::unique_ptr<Robot> robot = Arm(file);
    const std::size_t n = robot->links.size();
    Vec viscous, coulomb;
    const ControlEnvironment environment = Environment(*robot, viscous, coulomb);
    const Vec q = Random(random, n, 0.8), qd = Random(random, n, 1.0);
    const std::vector<recursive::FrameModel> frames = recursive::BuildFrameModels(*robot);
    const recursive::FrameModel& tool = frames.back();
    // J at q from the frames' own Jacobian; G and M in closed form.
    recursive::ChainModel chain = recursive::BuildChainModel(*robot);
    recursive::ChainData data(chain.Size());
    recursive::Kinematics(chain, data, q.data(), nullptr, {});
    recursive::Placements(chain, data, nullptr);
    Vec jacobian(6 * n);
    recursive::FrameJacobian(chain, data, tool, recursive::FrameAxes::kBase, jacobian.data());
    const spatial::Vec3 at = recursive::FramePose(data, tool).p;
    const Terms terms = ClosedForm(*robot, q, Vec(n, 0.0));

    ControllerSettings settings;
    settings.kind = ControllerKind::kTaskPd;
    settings.target = {at.x + 0.05, at.y - 0.02, at.z + 0.03};
    settings.trajectory = TrajectoryKind::kStep;
    settings.kp = {100.0};
    settings.kd = {10.0};
    settings.kn = {0.0};
    Controller task(*robot, settings);
    task.BeginTick(q.data(), environment);
    Vec tau(n);
    task.Torque(0.0, q.data(), qd.data(), tau.data());
    double force[3];
    for (int k = 0; k < 3; ++k) {
      double xd = 0.0;
      for (std::size_t j = 0; j < n; ++j) {
        xd += jacobian[k * n + j] * qd[j];
      }
      force[k] = 100.0 * (settings.target[k] - (k == 0 ? at.x : k == 1 ? at.y : at.z)) - 10.0 * xd;
    }
    Vec expected(n);
    for (std::size_t i = 0; i < n; ++i) {
      expected[i] = jacobian[i] * force[0] + jacobian[n + i] * force[1] +
                    jacobian[2 * n + i] * force[2] + terms.gravity[i];
    }
    ExpectNear(tau, expected, 1e-10, "J^T F + G");

    // The damping alone, with the spring at its target and no gravity: tau = N (-Kn qd).
    settings.target = {at.x, at.y, at.z};
    settings.kp = {0.0};
    settings.kd = {0.0};
    settings.kn = {3.0};
    settings.compensate = false;
    Controller damped(*robot, settings);
    damped.BeginTick(q.data(), environment);
    damped.Torque(0.0, q.data(), qd.data(), tau.data());
    // J M^-1 tau = 0, by the closed form's M; and tau is not nothing.
    Robot& arm = *robot;
    ClosedForm(arm, q, Vec(n, 0.0));
    const EquationTerms t = EvaluateEquationTerms(arm);
    const matrix<double> accel =
        (!t.M) * MatrixFromRowMajor(static_cast<uint32_t>(n), 1, tau.data());
    double moved = 0.0, size = 0.0;
    for (int k = 0; k < 3; ++k) {
      double v = 0.0;
      for (std::size_t j = 0; j < n; ++j) {
        v += jacobian[k * n + j] * accel(static_cast<uint32_t>(j), 0);
      }
      moved = std::max(moved, std::fabs(v));
    }
    for (double x : tau) {
      size = std::max(size, std::fabs(x));
    }
    EXPECT_GT(size, 1e-3);
    EXPECT_LT(moved, 1e-9 * std::max(1.0, size));

    // Kx = (J M^-1 J^T)^+ w^2, a pseudo-inverse where the frame cannot move along some direction
    // (the built-in arm's, along x): A Kx A = w^2 A for A = J M^-1 J^T.
    settings.kp.clear();
    settings.kd.clear();
    Controller defaults(*robot, settings);
    defaults.BeginTick(q.data(), environment);
    const matrix<double> inverse = !t.M;
    double a[3][3], largest = 0.0;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        a[r][c] = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
          for (std::size_t j = 0; j < n; ++j) {
            a[r][c] += jacobian[r * n + i] *
                       inverse(static_cast<uint32_t>(i), static_cast<uint32_t>(j)) *
                       jacobian[c * n + j];
          }
        }
        largest = std::max(largest, std::fabs(a[r][c]));
      }
    }
    const Vec& kx = defaults.Kp();
    const double w2 = kDefaultFrequency * kDefaultFrequency;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        double aka = 0.0;
        for (int k = 0; k < 3; ++k) {
          for (int l = 0; l < 3; ++l) {
            aka += a[r][k] * kx[static_cast<std::size_t>(3 * k + l)] * a[l][c];
          }
        }
        EXPECT_NEAR(aka, w2 * a[r][c], 1e-9 * w2 * largest) << r << c;
      }
    }
  }
}

// A model whose last link is 0.7 kg heavier (its inertia scaled with its mass) computes the
// gravity torques and computed torque of the arm whose last link is: heavier, and for a light
// link down to massless.
TEST(Controller, TheModelsMassErrorIsAHeavierLastLink) {
  for (double error : {0.7, -0.3, -100.0}) {
    SCOPED_TRACE(error);
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(4), heavier = MakeBuiltInRobot(4);
    Link& last = *heavier->links.back();
    const double mass = std::max(last.mass + error, 0.0);
    last.inertia = last.inertia * (mass / last.mass);
    last.mass = mass;
    Vec viscous, coulomb;
    const ControlEnvironment environment = Environment(*robot, viscous, coulomb);
    const Vec q{0.3, -0.5, 0.8, 0.2}, qd{0.5, -0.2, 0.1, 1.0};
    ControllerSettings settings;
    settings.kind = ControllerKind::kComputedTorque;
    settings.target = {0.1, 0.2, 0.3, 0.4};
    settings.trajectory = TrajectoryKind::kStep;
    Controller exact(*heavier, settings);
    settings.massError = error;
    Controller wrong(*robot, settings);
    Vec a(4), b(4);
    for (Controller* c : {&exact, &wrong}) {
      c->BeginTick(q.data(), environment);
    }
    exact.Torque(0.0, q.data(), qd.data(), a.data());
    wrong.Torque(0.0, q.data(), qd.data(), b.data());
    ExpectNear(b, a, 1e-12, "computed torque");
  }
}

// The reference starts afresh from the arm's pose at the next tick when the law, target or
// trajectory change, not when the gains or the rate do; a start handed to another controller
// (a recording's replay) gives the same torques at the same time.
TEST(Controller, TheReferenceStartsAfreshOnlyWhereTheSettingsCallForIt) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
  Vec viscous, coulomb;
  const ControlEnvironment environment = Environment(*robot, viscous, coulomb);
  ControllerSettings settings;
  settings.kind = ControllerKind::kPd;
  settings.target = {1.0, 0.5, -0.5};
  Controller controller(*robot, settings);
  const Vec start{0.0, 0.1, 0.2}, later{0.3, 0.3, 0.3}, qd{0.1, 0.0, -0.1};
  EXPECT_FALSE(controller.Start());
  controller.BeginTick(start.data(), environment);
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
      {"target",
       [](ControllerSettings& s) {
         s.target = {0.0, 0.0, 0.0};
       },
       true},
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
    controller.BeginTick(later.data(), environment);
    EXPECT_EQ(controller.Start()->from, c.restarts ? later : start);
    EXPECT_EQ(controller.Start()->ticks, c.restarts ? 0u : 30u);
    // Back to where it was, for the next change.
    controller.SetStart({start, 30});
  }
  controller.RestartReference();
  EXPECT_FALSE(controller.Start());

  // The same start in another controller: the same torques.
  controller.SetStart({start, 57});
  Controller again(*robot, controller.Settings());
  again.SetStart(*controller.Start());
  Vec a(3), b(3);
  for (Controller* c : {&controller, &again}) {
    c->BeginTick(later.data(), environment);
  }
  controller.Torque(0.004, later.data(), qd.data(), a.data());
  again.Torque(0.004, later.data(), qd.data(), b.data());
  EXPECT_EQ(a, b);
}

}  // namespace
