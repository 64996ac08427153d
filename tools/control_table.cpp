// control_table: the controllers' figures of docs/control.md, measured on the sample arms of
// examples/ and the test arms of tests/urdf/ (and the built-in arm) on their default steps. Prints
// Markdown tables:
//   - gravity compensation holding each arm at rest for 10 s, frictionless and with the file's
//     friction, at the continuous rate, 1 kHz and 100 Hz: the largest |q - q0| and |qd|;
//   - computed torque from an error of 0.1 rad (0.01 m) at rest, continuous, exact model: the
//     largest distance of each joint's error from e0 (1 + w t) e^(-w t) over 5 s;
//   - computed torque tracking a quintic of 1 rad in 1 s (every turning joint), with the file's
//     friction modelled: the largest |e| over 1.5 s at 100 Hz, 1 kHz and continuous;
//   - PD from 0.2 rad off, frictionless: |e| after 5 s with compensation, and without it how far
//     the error it rests at is from Kp^-1 G;
//   - the task law bringing the tool of every arm of 6 joints or more to a reachable target: the
//     distance after 5 s.
//   control_table [--quick]   (--quick: the built-in arm and two samples, shorter runs)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control/controller.h"
#include "dynamics/dynamics.h"
#include "dynamics/kinematics.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/stepper.h"
#include "urdf/urdf_loader.h"

namespace {

using Vec = std::vector<double>;

struct Arm {
  std::string name;  // as the tables show it
  std::string path;  // empty: the built-in arm
  bool sample;
};

std::unique_ptr<Robot> Load(const Arm& arm) {
  if (arm.path.empty()) {
    return MakeBuiltInRobot();
  }
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(arm.path, error);
  if (!robot) {
    std::fprintf(stderr, "control_table: %s\n", error.c_str());
    std::exit(2);
  }
  return robot;
}

StepOptions StepOf(const Arm& arm) {
  return DefaultStepOptions(!arm.path.empty());
}

void Frictionless(Robot& robot) {
  robot.viscousFriction = robot.coulombFriction = 0.0;
  robot.frictionSource = FrictionSource::kUniform;
}

// A pose 0.3 rad (0.03 m) from zero, alternating in sign, with `room` to move inside the limits.
Vec Pose(const Robot& robot, double room) {
  Vec q;
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    const Link& link = *robot.links[i];
    const double scale = link.jointType == Prismatic ? 0.1 : 1.0;
    const double margin = room * scale + 1e-3;
    q.push_back(std::min(std::max((i % 2 == 0 ? 0.3 : -0.3) * scale, link.lower + margin),
                         link.upper - margin));
  }
  return q;
}

void Put(Robot& robot, const Vec& q) {
  for (std::size_t i = 0; i < q.size(); ++i) {
    robot.links[i]->q = q[i];
    robot.links[i]->qd = 0.0;
  }
}

// Ticks of a stepper with a controller of these settings.
struct Run {
  Run(Robot& robot, const ControllerSettings& settings, const StepOptions& step)
      : controller(std::make_shared<Controller>(robot, settings)),
        stepper(robot, step),
        torque(static_cast<uint32_t>(robot.links.size()), 1) {
    torque.SetZero();
    stepper.SetController(controller);
  }
  void Ticks(int count) {
    for (int t = 0; t < count; ++t) {
      stepper.Forward(torque);
    }
  }
  std::shared_ptr<Controller> controller;
  Stepper stepper;
  matrix<double> torque;
};

double Largest(const Robot& robot, double Link::*field, const Vec& from) {
  double largest = 0.0;
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    largest = std::max(largest, std::fabs((*robot.links[i]).*field - (from.empty() ? 0 : from[i])));
  }
  return largest;
}

void Gravity(const std::vector<Arm>& arms, int ticks) {
  std::printf("| arm | friction | continuous: q, qd | 1 kHz | 100 Hz |\n|---|---|---|---|---|\n");
  for (const Arm& arm : arms) {
    for (bool friction : {false, true}) {
      std::printf("| %s | %s", arm.name.c_str(), friction ? "file" : "none");
      for (int samples : {kContinuous, 10, 1}) {
        std::unique_ptr<Robot> robot = Load(arm);
        if (!friction) {
          Frictionless(*robot);
        }
        const Vec q0 = Pose(*robot, 0.0);
        Put(*robot, q0);
        ControllerSettings s;
        s.kind = ControllerKind::kGravity;
        s.samples = samples;
        Run run(*robot, s, StepOf(arm));
        run.Ticks(ticks);
        std::printf(" | %.1e, %.1e", Largest(*robot, &Link::q, q0), Largest(*robot, &Link::qd, {}));
      }
      std::printf(" |\n");
    }
  }
}

void ClosedForm(const std::vector<Arm>& arms, int ticks) {
  std::printf("| arm | frictionless | friction modelled |\n|---|---|---|\n");
  const double w = kDefaultFrequency;
  for (const Arm& arm : arms) {
    std::printf("| %s", arm.name.c_str());
    for (bool friction : {false, true}) {
      std::unique_ptr<Robot> robot = Load(arm);
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
      Put(*robot, start);
      ControllerSettings s;
      s.kind = ControllerKind::kComputedTorque;
      s.target = target;
      s.trajectory = TrajectoryKind::kStep;
      Run run(*robot, s, StepOf(arm));
      double worst = 0.0;
      for (int t = 1; t <= ticks; ++t) {
        run.Ticks(1);
        const double time = t * kTimeStep;
        for (std::size_t i = 0; i < n; ++i) {
          const double expected = e0[i] * (1.0 + w * time) * std::exp(-w * time);
          worst = std::max(worst, std::fabs(target[i] - robot->links[i]->q - expected));
        }
      }
      std::printf(" | %.1e", worst);
    }
    std::printf(" |\n");
  }
}

void Tracking(const std::vector<Arm>& arms, int ticks) {
  std::printf("| arm | 100 Hz | 1 kHz | continuous |\n|---|---|---|---|\n");
  for (const Arm& arm : arms) {
    std::printf("| %s", arm.name.c_str());
    for (int samples : {1, 10, kContinuous}) {
      std::unique_ptr<Robot> robot = Load(arm);
      const std::size_t n = robot->links.size();
      // From zero (inside the limits), every turning joint 1 rad up, or down where the limit is
      // nearer.
      Vec start(n), target(n);
      for (std::size_t i = 0; i < n; ++i) {
        const Link& link = *robot->links[i];
        start[i] = std::min(std::max(0.0, link.lower), link.upper);
        target[i] = link.jointType != Revolute     ? start[i]
                    : start[i] + 1.0 <= link.upper ? start[i] + 1.0
                                                   : start[i] - 1.0;
      }
      Put(*robot, start);
      ControllerSettings s;
      s.kind = ControllerKind::kComputedTorque;
      s.target = target;
      s.duration = 1.0;
      s.samples = samples;
      Run run(*robot, s, StepOf(arm));
      Vec q(n), reference(n), error(n);
      double worst = 0.0;
      for (int t = 0; t < ticks; ++t) {
        run.Ticks(1);
        for (std::size_t i = 0; i < n; ++i) {
          q[i] = robot->links[i]->q;
        }
        run.controller->Tracking(0.0, q.data(), reference.data(), error.data());
        for (double e : error) {
          worst = std::max(worst, std::fabs(e));
        }
      }
      std::printf(" | %.1e rad", worst);
    }
    std::printf(" |\n");
  }
}

void Pd(const std::vector<Arm>& arms, int ticks) {
  std::printf(
      "| arm | with compensation: error after 5 s | without: error - Kp^-1 G at rest |\n"
      "|---|---|---|\n");
  for (const Arm& arm : arms) {
    if (!arm.sample) {
      continue;
    }
    std::printf("| %s", arm.name.c_str());
    for (bool compensate : {true, false}) {
      std::unique_ptr<Robot> robot = Load(arm);
      Frictionless(*robot);
      robot->limits = compensate;
      const std::size_t n = robot->links.size();
      const Vec target = Pose(*robot, 0.2);
      Vec start = target;
      for (std::size_t i = 0; i < n; ++i) {
        start[i] -= robot->links[i]->jointType == Prismatic ? 0.02 : 0.2;
      }
      Put(*robot, start);
      ControllerSettings s;
      s.kind = ControllerKind::kPd;
      s.target = target;
      s.trajectory = TrajectoryKind::kStep;
      s.compensate = compensate;
      Run run(*robot, s, compensate ? StepOf(arm) : DefaultStepOptions(true));
      run.Ticks(ticks);
      for (int t = ticks; !compensate && t < 12 * ticks; t += 100) {
        if (Largest(*robot, &Link::qd, {}) < 1e-10) {
          break;
        }
        run.Ticks(100);
      }
      double worst = 0.0;
      if (compensate) {
        worst = Largest(*robot, &Link::q, target);
      } else {
        const EquationTerms terms = EvaluateEquationTerms(*robot);
        const auto size = static_cast<uint32_t>(n);
        const matrix<double> sag =
            (!MatrixFromRowMajor(size, size, run.controller->Kp().data())) * terms.G;
        for (uint32_t i = 0; i < size; ++i) {
          worst = std::max(worst, std::fabs(target[i] - robot->links[i]->q - sag(i, 0)));
        }
      }
      std::printf(" | %.1e", worst);
    }
    std::printf(" |\n");
  }
}

void Task(const std::vector<Arm>& arms, int ticks) {
  std::printf("| arm | frictionless | with the file's friction |\n|---|---|---|\n");
  for (const Arm& arm : arms) {
    std::unique_ptr<Robot> probe = Load(arm);
    if (probe->links.size() < 6 || arm.path.empty()) {
      continue;
    }
    std::printf("| %s", arm.name.c_str());
    for (bool friction : {false, true}) {
      std::unique_ptr<Robot> robot = Load(arm);
      if (!friction) {
        Frictionless(*robot);
      }
      const Vec pose = Pose(*robot, 0.2);
      Vec start = pose;
      for (double& q : start) {
        q -= 0.2;
      }
      const int last = static_cast<int>(recursive::BuildFrameModels(*robot).size()) - 1;
      recursive::FrameTracker tool(*robot, {last});
      Vec target(3), at(3);
      Put(*robot, pose);
      tool.Track(*robot, target.data());
      Put(*robot, start);
      ControllerSettings s;
      s.kind = ControllerKind::kTaskPd;
      s.target = target;
      s.trajectory = TrajectoryKind::kStep;
      Run run(*robot, s, StepOf(arm));
      run.Ticks(ticks);
      tool.Track(*robot, at.data());
      std::printf(" | %.1e m", std::hypot(target[0] - at[0], target[1] - at[1], target[2] - at[2]));
    }
    std::printf(" |\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  std::vector<Arm> arms = {{"built-in arm", "", true}};
  const char* const samples[] = {"arm7_gripper", "double_pendulum", "industrial6",
                                 "planar_3link", "puma560",         "scara"};
  const char* const tests[] = {"builtin_arm", "iiwa14_like", "panda_like", "ur5_like"};
  for (const char* name : samples) {
    arms.push_back({name, std::string(VELMOTH_EXAMPLES "/") + name + ".urdf", true});
  }
  for (const char* name : tests) {
    arms.push_back({name, std::string(VELMOTH_URDF_TESTS "/") + name + ".urdf", false});
  }
  if (quick) {
    arms = {arms[0], arms[3], arms[5]};
  }
  const int scale = quick ? 10 : 1;
  std::printf("Gravity compensation at rest after %g s: the largest |q - q0| (rad, m) and |qd|\n\n",
              10.0 / scale);
  Gravity(arms, 1000 / scale);
  std::printf(
      "\nComputed torque, continuous: the largest distance of the error from the closed "
      "form over %g s\n\n",
      5.0 / scale);
  ClosedForm(arms, 500 / scale);
  std::printf(
      "\nComputed torque tracking a quintic of 1 rad in 1 s: the largest |e| over "
      "%g s\n\n",
      1.5 / (quick ? 5 : 1));
  Tracking(arms, quick ? 30 : 150);
  std::printf("\nPD, frictionless, from 0.2 rad off\n\n");
  Pd(arms, 500 / scale);
  std::printf("\nThe task law: the tool's distance from a reachable target after %g s\n\n",
              5.0 / scale);
  Task(arms, 500 / scale);
  return 0;
}
