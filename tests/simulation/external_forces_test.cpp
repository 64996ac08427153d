// Forces from outside the joints: the accelerations under forces, wrenches and the pull against
// M^-1 (tau + J_p^T F + J_w^T N - C qd - G) over the sample and test arms; a force on the rod as
// its own pendulum; the balance with a pull; payloads against the edited files; texts and replays.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/external_forces.h"
#include "simulation/force_options.h"
#include "simulation/payload.h"
#include "simulation/replay.h"
#include "simulation/stepper.h"
#include "tests/simulation/test_arms.h"
#include "urdf/urdf_loader.h"

namespace {

using Vec = std::vector<double>;

// A state inside every joint's limits: 0.3 rad (0.03 m) alternating in sign, and velocities.
void PlaceState(Robot& robot, Vec& q, Vec& qd) {
  q.clear();
  qd.clear();
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    Link& link = *robot.links[i];
    const double scale = link.jointType == Prismatic ? 0.1 : 1.0;
    double x = (i % 2 == 0 ? 0.3 : -0.3) * scale;
    x = std::min(std::max(x, link.lower + 1e-3), link.upper - 1e-3);
    link.q = x;
    link.qd = (i % 3 == 0 ? 0.5 : -0.7) * scale;
    q.push_back(link.q);
    qd.push_back(link.qd);
  }
}

// The frames a table takes of an arm: the first on a moving link, one in the middle, the last.
std::vector<recursive::FrameModel> Chosen(const Robot& robot) {
  std::vector<recursive::FrameModel> moving;
  for (const recursive::FrameModel& f : recursive::BuildFrameModels(robot)) {
    if (f.link >= 0) {
      moving.push_back(f);
    }
  }
  if (moving.size() < 3) {
    return moving;
  }
  return {moving.front(), moving[moving.size() / 2], moving.back()};
}

double MaxAbs(const Eigen::VectorXd& v) {
  return v.size() == 0 ? 0.0 : v.cwiseAbs().maxCoeff();
}

Eigen::Map<const Eigen::VectorXd> Column(const Vec& v) {
  return {v.data(), static_cast<Eigen::Index>(v.size())};
}

Eigen::MatrixXd ToEigen(const matrix<double>& m) {
  Eigen::MatrixXd e(m.RowCount(), m.ColCount());
  for (uint32_t i = 0; i < m.RowCount(); ++i) {
    for (uint32_t j = 0; j < m.ColCount(); ++j) {
      e(i, j) = m(i, j);
    }
  }
  return e;
}

// The placements of the links at the robot's state, for the Jacobians.
struct Placed {
  Placed(const Robot& robot, const Vec& q, const Vec& qd)
      : model(recursive::BuildChainModel(robot)), data(static_cast<int>(q.size())) {
    recursive::Kinematics(model, data, q.data(), qd.data(), {});
    recursive::Placements(model, data, qd.data());
  }
  recursive::ChainModel model;
  recursive::ChainData data;
};

// The accelerations of the torques tau at the robot's state by an engine.
Vec EngineQdd(EngineKind engine, Robot& robot, const Vec& q, const Vec& qd, Vec tau) {
  Vec qdd(q.size());
  const std::unique_ptr<Equation> equation = MakeEquation(engine, robot);
  equation->Evaluate(robot, q.data(), qd.data());
  equation->Solve(nullptr, tau.data(), nullptr, qdd.data());
  return qdd;
}

// The geometric Jacobian (6 x n) at point of the frame, and the frame's turn in the world.
using Jacobian = Eigen::Matrix<double, 6, Eigen::Dynamic, Eigen::RowMajor>;
Jacobian PointJacobian(const recursive::ChainModel& model, const recursive::ChainData& data,
                       recursive::FrameModel at, const double* point, Eigen::Matrix3d* turn) {
  if (turn != nullptr) {
    const spatial::Transform pose = recursive::FramePose(data, at);
    for (int a = 0; a < 9; ++a) {
      (*turn)(a / 3, a % 3) = pose.r.m[a / 3][a % 3];
    }
  }
  at.pose.p = at.pose.r * spatial::Vec3{point[0], point[1], point[2]} + at.pose.p;
  Jacobian j(6, model.Size());
  recursive::FrameJacobian(model, data, at, recursive::FrameAxes::kBase, j.data());
  return j;
}

// ---- the accelerations against the mass matrix and the frame Jacobian --------------------------

// Loads on each frame (its name filled in): a force at its origin and off it, wrenches in world and
// frame axes.
const ExternalForce kLoads[] = {
    {"", {3.0, -2.0, 5.0}, {}, {}, ForceAxes::kWorld},
    {"", {-4.0, 1.0, 2.5}, {}, {0.05, -0.03, 0.02}, ForceAxes::kWorld},
    {"", {1.0, 2.0, -3.0}, {0.3, -0.2, 0.5}, {0.02, 0.01, -0.04}, ForceAxes::kWorld},
    {"", {2.0, -1.0, 4.0}, {-0.4, 0.1, 0.2}, {-0.03, 0.04, 0.01}, ForceAxes::kFrame},
};

TEST(ExternalForces, AccelerationsAreTheMassMatrixInverseOfTheTorquesAndTheJacobianTransposeForce) {
  for (const char* file : kArmsButZ1) {
    std::unique_ptr<Robot> robot = LoadArm(file);
    robot->viscousFriction = robot->coulombFriction = 0.0;
    robot->frictionSource = FrictionSource::kUniform;
    Vec q, qd, tau;
    PlaceState(*robot, q, qd);
    for (std::size_t i = 0; i < q.size(); ++i) {
      tau.push_back(0.4 * static_cast<double>(i + 1) * (i % 2 == 0 ? 1.0 : -1.0));
    }
    // M, C and G of the closed form.
    const EquationTerms terms = EvaluateEquationTerms(*robot);
    const Eigen::MatrixXd m = ToEigen(terms.M);
    const Eigen::VectorXd h = ToEigen(terms.G) + ToEigen(terms.C) * Column(qd);
    const Placed placed(*robot, q, qd);
    for (const recursive::FrameModel& frame : Chosen(*robot)) {
      for (ExternalForce load : kLoads) {
        load.frame = frame.name;
        SCOPED_TRACE(ArmName(file) + ", " + frame.name + ", " + ForceText(load));
        Eigen::Matrix3d turn;
        const Jacobian j = PointJacobian(placed.model, placed.data, frame, load.point, &turn);
        Eigen::Vector3d f(load.force), mo(load.moment);
        if (load.axes == ForceAxes::kFrame) {
          f = turn * f;
          mo = turn * mo;
        }
        const Eigen::VectorXd ext = j.topRows(3).transpose() * f + j.bottomRows(3).transpose() * mo;
        const Eigen::VectorXd want = m.partialPivLu().solve(Column(tau) + ext - h);
        ExternalTorques torques(*robot);
        ASSERT_EQ(torques.Set({{load}, std::nullopt}), "");
        Vec net = tau, got(q.size(), 0.0);
        torques.Add(q.data(), qd.data(), got.data());
        EXPECT_LE(MaxAbs(Column(got) - ext), 1e-12 * std::max(1.0, MaxAbs(ext)));
        torques.Add(q.data(), qd.data(), net.data());
        for (EngineKind engine : kEngineKinds) {
          EXPECT_LE(MaxAbs(Column(EngineQdd(engine, *robot, q, qd, net)) - want),
                    1e-12 * MaxAbs(want))
              << EngineName(engine);
        }
      }
    }
  }
}

// The pull's torques: J_p^T (k (target - p) - c J_p qd) at the point of its link, and beyond its
// largest force the same direction at that size.
TEST(ExternalForces, ThePullIsASpringAndADamperThroughThePointsJacobian) {
  for (const char* file : kArmsButZ1) {
    SCOPED_TRACE(ArmName(file));
    std::unique_ptr<Robot> robot = LoadArm(file);
    Vec q, qd;
    PlaceState(*robot, q, qd);
    const Placed placed(*robot, q, qd);
    Pull pull{static_cast<int>(q.size()) - 1, {0.02, -0.05, 0.03}, {0.4, 0.3, 0.9}};
    PullGains(ArmMass(*robot), 2.0, pull);
    const double largest = std::exchange(pull.maxForce, INFINITY);
    recursive::FrameModel frame{"link", pull.link, {}};
    frame.pose.r.m[0][0] = frame.pose.r.m[1][1] = frame.pose.r.m[2][2] = 1.0;
    const Jacobian j = PointJacobian(placed.model, placed.data, frame, pull.point, nullptr);
    const spatial::Transform& link = placed.data.placement[std::size_t(pull.link)];
    const spatial::Vec3 at =
        link.r * spatial::Vec3{pull.point[0], pull.point[1], pull.point[2]} + link.p;
    const Eigen::Vector3d f =
        pull.stiffness * (Eigen::Vector3d(pull.target) - Eigen::Vector3d(at.x, at.y, at.z)) -
        pull.damping * (j.topRows(3) * Column(qd));
    const Eigen::VectorXd want = j.topRows(3).transpose() * f;
    for (const double limit : {double(INFINITY), largest}) {
      pull.maxForce = limit;
      ExternalTorques torques(*robot);
      ASSERT_EQ(torques.Set({{}, pull}), "");
      Vec got(q.size(), 0.0);
      torques.Add(q.data(), qd.data(), got.data());
      const double scale = std::min(1.0, limit / f.norm());
      EXPECT_LE(MaxAbs(Column(got) - scale * want), 1e-12 * MaxAbs(want)) << limit;
    }
    EXPECT_GT(f.norm(), largest);
  }
}

// ---- in the step -------------------------------------------------------------------------------

// The built-in link, 1 kg and 0.3 m about x (I = 0.01 + 0.15^2 about the joint), with a force
// (0, 0, -f) held at its end, or pulled there by the spring towards a target: its own pendulum,
// I q'' = tau(q, q'), integrated here by RK4 in 10^4 steps a second. The step, which takes the
// torques at every state it evaluates, follows it to 1e-8 rad; torques held over each tick miss by
// a tenth of a radian. Stiffly damped (b = 300 N m s/rad), the error-controlled step takes the
// additive pair, whose stages and their iterates take the torques too.
TEST(ExternalForces, AForceOnTheRodMovesItAsItsOwnPendulum) {
  const double inertia = 0.01 + 0.15 * 0.15, length = 0.3, f = 2.0;
  const double c = 0.8, target[3] = {0.0, 0.1, 0.35};
  struct Case {
    bool pulled;
    IntegratorKind integrator;
    double damping;
    double k;  // the pull's stiffness
  };
  for (const Case& each : {Case{false, IntegratorKind::kDopri5, 0.0, 40.0},
                           {false, IntegratorKind::kRk4, 0.0, 40.0},
                           {true, IntegratorKind::kDopri5, 0.0, 40.0},
                           {true, IntegratorKind::kRk4, 0.0, 40.0},
                           {false, IntegratorKind::kDopri5, 300.0, 4000.0},
                           {true, IntegratorKind::kDopri5, 300.0, 4000.0}}) {
    const bool pulled = each.pulled;
    const double k = each.k;
    SCOPED_TRACE(std::string(pulled ? "pulled" : "a force") + ", " +
                 IntegratorName(each.integrator) + ", b " + std::to_string(each.damping));
    // q'' = tau / I: gravity on the centre of mass, the force at the end.
    const auto rate = [&](double th, double w) {
      const double py = length * std::cos(th), pz = length * std::sin(th);
      double fy = 0.0, fz = -f;
      if (pulled) {
        fy = k * (target[1] - py) - c * (-w * pz);
        fz = k * (target[2] - pz) - c * (w * py);
      }
      return (-9.81 * 0.15 * std::cos(th) + py * fz - pz * fy - each.damping * w) / inertia;
    };
    double th = 0.2, w = 0.0;
    const double h = 1e-4;
    for (int s = 0; s < 10000; ++s) {
      const double k1 = rate(th, w), v1 = w;
      const double k2 = rate(th + 0.5 * h * v1, w + 0.5 * h * k1), v2 = w + 0.5 * h * k1;
      const double k3 = rate(th + 0.5 * h * v2, w + 0.5 * h * k2), v3 = w + 0.5 * h * k2;
      const double k4 = rate(th + h * v3, w + h * k3), v4 = w + h * k3;
      th += h / 6.0 * (v1 + 2.0 * v2 + 2.0 * v3 + v4);
      w += h / 6.0 * (k1 + 2.0 * k2 + 2.0 * k3 + k4);
    }
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(1);
    robot->viscousFriction = each.damping;
    robot->coulombFriction = 0.0;
    robot->links[0]->q = 0.2;
    Stepper stepper(*robot, {EngineKind::kRecursive, each.integrator, 10, kDefaultTolerance});
    ForceSource source(*robot);
    ArmForces forces;
    if (pulled) {
      forces.pull = Pull{0, {0.0, length, 0.0}, {target[0], target[1], target[2]}, k, c};
    } else {
      forces.forces.push_back({"tool", {0.0, 0.0, -f}, {}, {}, ForceAxes::kWorld});
    }
    ASSERT_EQ(source.Set(forces), "");
    matrix<double> torque(1, 1);
    torque.SetZero();
    int stiff = 0;
    for (int t = 0; t < 100; ++t) {
      source.ApplyTo(stepper);
      stepper.Forward(torque);
      stiff += stepper.LastStiffSteps();
      // The tick reports the motor's torque, not the force's.
      ASSERT_EQ(stepper.LastTorque()(0, 0), 0.0);
    }
    EXPECT_EQ(stiff > 0, each.damping > 0.0);
    EXPECT_NEAR(robot->links[0]->q, th, 1e-8);
    EXPECT_NEAR(robot->links[0]->qd, w, 1e-7);
  }
}

// With a pull that follows a moving cursor and forces and a wrench held, friction and limits on:
// E - E0 - W + D stays within 1e-6 of the peak kinetic energy over 60 s, on the arms' own step.
TEST(ExternalForces, TheEnergyBalanceCountsTheWorkOfThePullAndTheForces) {
  for (const char* file :
       {"examples/double_pendulum.urdf", "examples/puma560.urdf", "tests/urdf/panda_like.urdf"}) {
    SCOPED_TRACE(ArmName(file));
    std::unique_ptr<Robot> robot = LoadArm(file);
    const auto n = static_cast<uint32_t>(robot->links.size());
    Stepper stepper(*robot, DefaultStepOptions(true));
    ForceSource source(*robot);
    const std::vector<recursive::FrameModel> frames = Chosen(*robot);
    ArmForces forces;
    forces.forces.push_back({frames.back().name, {0.0, 1.5, -2.0}, {}, {0.01, 0.0, 0.02}});
    forces.forces.push_back(
        {frames.front().name, {0.5, 0.0, 0.0}, {0.0, 0.1, 0.05}, {}, ForceAxes::kFrame});
    Pull pull;
    pull.link = static_cast<int>(n) - 1;
    pull.point[2] = 0.02;
    PullGains(ArmMass(*robot), 1.0, pull);
    matrix<double> torque(n, 1);
    torque.SetZero();
    double peak = 0.0, worst = 0.0;
    for (int t = 0; t < 6000; ++t) {
      // A cursor on a circle of 0.2 m, the pull on for 2 s of every 3.
      const double s = t * kTimeStep;
      pull.target[0] = 0.3 + 0.2 * std::cos(s);
      pull.target[1] = 0.2 * std::sin(s);
      pull.target[2] = 0.6;
      forces.pull = std::fmod(s, 3.0) < 2.0 ? std::optional<Pull>(pull) : std::nullopt;
      ASSERT_EQ(source.Set(forces), "");
      source.ApplyTo(stepper);
      stepper.Forward(torque);
      peak = std::max(peak, robot->kineticEnergy);
      worst = std::max(worst, std::fabs(robot->kineticEnergy + robot->potentialEnergy -
                                        robot->startEnergy - robot->work + robot->dissipated));
    }
    EXPECT_GT(peak, 0.1);
    EXPECT_LE(worst, 1e-6 * peak);
  }
}

// ---- payloads -----------------------------------------------------------------------------------

// A payload on a frame is the arm whose file has a link of that point mass fixed to the frame
// there: M, C qd + G and the accelerations within 1e-12, over the URDF arms, frames and points.
TEST(Payloads, APayloadIsTheFileWithThatMassFixedToTheFrame) {
  const double points[][3] = {{0.0, 0.0, 0.0}, {0.04, -0.02, 0.07}};
  for (const char* file : kArmsButZ1) {
    if (BuiltIn(file)) {
      continue;
    }
    std::stringstream read;
    read << std::ifstream(ArmPath(file)).rdbuf();
    const std::string text = read.str();
    std::unique_ptr<Robot> plain = LoadArm(file);
    for (const recursive::FrameModel& frame : Chosen(*plain)) {
      for (const auto& point : points) {
        SCOPED_TRACE(ArmName(file) + ", " + frame.name + ", " + std::to_string(point[2]));
        const Payload payload{frame.name, 1.7, {point[0], point[1], point[2]}};
        std::unique_ptr<Robot> loaded = LoadArm(file);
        ASSERT_EQ(AddPayload(*loaded, payload), "");
        char inertial[400];
        std::snprintf(inertial, sizeof inertial,
                      "<link name='payload_mass'><inertial><origin xyz='%.17g %.17g %.17g'/>"
                      "<mass value='1.7'/><inertia ixx='0' iyy='0' izz='0' ixy='0' ixz='0' "
                      "iyz='0'/></inertial></link><joint name='payload_mount' type='fixed'>"
                      "<parent link='%s'/><child link='payload_mass'/></joint></robot>",
                      point[0], point[1], point[2], frame.name.c_str());
        std::string edited = text.substr(0, text.rfind("</robot>")) + inertial;
        std::string error;
        std::unique_ptr<Robot> file2 = LoadUrdfRobotFromText(edited, "edited", error);
        ASSERT_NE(file2, nullptr) << error;
        ASSERT_EQ(file2->links.size(), loaded->links.size());
        Vec q, qd;
        PlaceState(*loaded, q, qd);
        PlaceState(*file2, q, qd);
        const Eigen::MatrixXd a = ToEigen(EvaluateEquationTerms(*loaded).M);
        const Eigen::MatrixXd b = ToEigen(EvaluateEquationTerms(*file2).M);
        EXPECT_LE((a - b).cwiseAbs().maxCoeff(), 1e-12 * b.cwiseAbs().maxCoeff());
        const Vec tau(q.size(), 0.3);
        const Vec qddA = EngineQdd(EngineKind::kRecursive, *loaded, q, qd, tau);
        const Vec qddB = EngineQdd(EngineKind::kRecursive, *file2, q, qd, tau);
        EXPECT_LE(MaxAbs(Column(qddA) - Column(qddB)), 1e-12 * MaxAbs(Column(qddB)));
      }
    }
  }
}

TEST(Payloads, ABadPayloadLeavesTheArmAsItWas) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(2);
  const Payload bad[] = {{"nowhere", 1.0, {}},
                         {"base", 1.0, {}},
                         {"tool", -1.0, {}},
                         {"tool", NAN, {}},
                         {"tool", 1.0, {0.0, INFINITY, 0.0}}};
  for (const Payload& payload : bad) {
    EXPECT_NE(AddPayload(*robot, payload), "") << payload.frame << " " << payload.mass;
    EXPECT_EQ(robot->links[1]->mass, 1.0);
  }
  ASSERT_EQ(AddPayload(*robot, {"tool", 2.0, {0.0, 0.0, 0.0}}), "");
  // 1 kg at 0.15 and 2 kg at 0.3 along the link: 3 kg at 0.25.
  EXPECT_EQ(robot->links[1]->mass, 3.0);
  EXPECT_NEAR(robot->links[1]->com(1, 0), 0.25, 1e-15);
}

// ---- texts and replay lines ---------------------------------------------------------------------

TEST(ForceTexts, FramesNumbersAndPointsAreReadExactly) {
  const ExternalForce good[] = {{"tool", {1.0, -2.0, 3.5}},
                                {"tool", {0.0, 0.0, -9.81}, {}, {0.1, 0.0, -1e-3}},
                                {"ns:link", {1.0, 2.0, 3.0}}};
  const char* const texts[] = {"tool:1,-2,3.5", "tool:0,0,-9.81@0.1,0,-1e-3", "ns:link:1,2,3"};
  for (std::size_t i = 0; i < std::size(good); ++i) {
    ExternalForce force, again;
    EXPECT_EQ(ReadForceText(texts[i], force), "") << texts[i];
    EXPECT_EQ(force, good[i]) << texts[i];
    EXPECT_EQ(ReadForceText(ForceText(force), again), "");
    EXPECT_EQ(again, force);
  }
  for (const char* bad : {"tool:1,2", "tool:1,2,3,4", "tool:1,2,x", "tool:1,2,3@1,2",
                          "tool:1,2,inf", ":1,2,3", "tool", "tool:1, 2,3"}) {
    ExternalForce force;
    EXPECT_NE(ReadForceText(bad, force), "") << bad;
  }
  Payload payload;
  EXPECT_EQ(ReadPayloadText("tool:2.5@0,0,0.05", payload), "");
  EXPECT_EQ(payload, (Payload{"tool", 2.5, {0.0, 0.0, 0.05}}));
  EXPECT_NE(ReadPayloadText("tool:-1", payload), "");
  EXPECT_NE(ReadPayloadText("tool:1,2", payload), "");
}

// What a recording writes of forces and pulls reads back as the same forces for every tick: a
// pull that starts, follows the cursor (written only where it moved), changes its stiffness and
// ends, and forces that change, with values that only %.17g keeps.
TEST(ForceTexts, ReplayLinesGiveBackTheForcesOfEveryTick) {
  std::vector<ArmForces> ticks(7);
  Pull pull{1, {0.1, 1.0 / 3.0, -0.0}, {0.5, 0.25, 1e-300}, 321.5, 2.0 / 7.0, INFINITY};
  ticks[1].pull = pull;
  ticks[2].pull = pull;  // unchanged: no line
  pull.target[0] = 0.1 + 0.2;
  ticks[3].pull = pull;
  pull.stiffness = 642.0;
  pull.maxForce = 1e3 / 3.0;
  ticks[4].pull = pull;
  ticks[4].forces.push_back({"a frame:x", {1.0, 2.0, 3.0}, {}, {0.0, 0.0, 1e-17}});
  ticks[5].forces = ticks[4].forces;
  ticks[6].forces.push_back({"tool\"q", {-1.0 / 3.0, 0.0, 0.0}, {}, {}});
  std::string text = ReplayHead("run.csv", {{"--links", "3"}, {"--payload", "tool:1@0,0,0.1"}});
  for (std::size_t t = 0; t < ticks.size(); ++t) {
    TickInputs now;
    now.forces = ticks[t];
    TickInputs before;
    if (t > 0) {
      before.forces = ticks[t - 1];
    }
    text += ReplayChanges(t, t == 0 ? nullptr : &before, now);
  }
  text += ReplayEnd(ticks.size());
  EXPECT_EQ(text.find("2 cursor"), std::string::npos) << text;
  EXPECT_NE(text.find("3 cursor"), std::string::npos) << text;
  EXPECT_EQ(text.find("3 pull"), std::string::npos) << text;
  Replay replay;
  ASSERT_EQ(ParseReplay(text, replay), "") << text;
  EXPECT_EQ(replay.arm.back().second, "tool:1@0,0,0.1");
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
  EXPECT_NE(CheckReplayForces(replay, *robot), "");  // "a frame:x" is not one of its frames
  TickInputs inputs;
  auto event = replay.events.begin();
  for (std::size_t t = 0; t < ticks.size(); ++t) {
    for (; event != replay.events.end() && event->tick <= t; ++event) {
      ApplyReplayEvent(*event, *robot, inputs);
    }
    EXPECT_EQ(inputs.forces, ticks[t]) << t;
    if (inputs.forces.pull) {
      EXPECT_EQ(std::signbit(inputs.forces.pull->point[2]), true);
    }
  }
}

TEST(ForceTexts, ACursorNeedsAPullAndAPullALinkOfTheArm) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(2);
  // A replay of the two-link arm with these lines.
  const auto of = [](const char* lines) {
    return std::string("arm --links 2\n") + lines + "5 end\n";
  };
  for (const char* lines : {"0 cursor 1, 2, 3\n", "0 pull 2, 0, 0, 0, 1, 1, inf\n",
                            "0 pull 0, 0, 0, 0, 1, 1, 5\n1 release\n2 cursor 1, 2, 3\n",
                            "0 forces --force \"nowhere:1,2,3\"\n"}) {
    Replay replay;
    ASSERT_EQ(ParseReplay(of(lines), replay), "") << lines;
    EXPECT_NE(CheckReplayForces(replay, *robot), "") << lines;
  }
  for (const char* lines : {"0 pull 0.5, 0, 0, 0, 1, 1, 5\n", "0 pull 0, 0, 0, 0, 1, 1\n",
                            "0 pull 0, 0, 0, 0, inf, 1, 5\n", "0 cursor 1, 2\n", "0 release now\n",
                            "0 forces --force tool:1\n", "0 forces --force\n"}) {
    Replay replay;
    EXPECT_NE(ParseReplay(of(lines), replay), "") << lines;
  }
  // The same lines in a sound replay are taken.
  Replay replay;
  EXPECT_EQ(ParseReplay(of("0 pull 1, 0, 0, 0, 1, 1, 5\n1 cursor 1, 2, 3\n2 release\n"), replay),
            "");
  EXPECT_EQ(CheckReplayForces(replay, *robot), "");
}

}  // namespace
