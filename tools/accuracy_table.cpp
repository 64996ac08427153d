// accuracy_table: what the integrators do to the motion, measured against references, as the
// Markdown tables of docs/integrators.md:
//   - the defaults' accuracy: every sample arm, the built-in arm as URDF, chains of 6 to 24 links
//     and the UR-, KUKA- and Panda-like arms of tests/urdf, 1 s from rest at q = 0 and at
//     (0.5, -1, 1.5, 0, ...), without friction and with viscous friction 0.1, against RK4 in 1000
//     substeps: the largest |q - q_ref| over the second and at its end, and the steps per tick;
//   - the error against the tolerance, 1e-4 to 1e-12;
//   - the energy: the frictionless six links over 600 s, the balance E - E0 - W + D with friction
//     and torques over 60 s, the largest rise of a tick with friction and no torque;
//   - the pendulum against its analytic cases on every integrator;
//   - what viscous friction on light wrists costs the error-controlled step;
//   - the cap's worst cases: the 100-link chain whipping, six links under 1000 N m.
// No timing: the costs are dynamics_bench's.
//   accuracy_table [--quick]     (--quick: one arm and short runs, to keep the program working)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dynamics/dynamics.h"
#include "robot/robot.h"
#include "simulation/stepper.h"
#include "urdf/urdf_loader.h"

namespace {

bool quick = false;

struct Arm {
  std::string name;
  std::function<std::unique_ptr<Robot>()> make;
};

Arm FileArm(const std::string& name, const std::string& path) {
  return {name, [path] {
            std::string error;
            std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error);
            if (!robot) {
              std::fprintf(stderr, "accuracy_table: %s\n", error.c_str());
              std::exit(2);
            }
            return robot;
          }};
}

Arm ChainArm(int n) {
  return {"chain of " + std::to_string(n), [n] { return MakeBuiltInRobot(n); }};
}

std::vector<Arm> Arms() {
  if (quick) {
    return {FileArm("industrial6.urdf", VELMOTH_EXAMPLES "/industrial6.urdf")};
  }
  std::vector<Arm> arms = {FileArm("built-in arm as URDF", VELMOTH_URDF_TESTS "/builtin_arm.urdf")};
  for (const char* sample :
       {"arm7_gripper", "double_pendulum", "industrial6", "planar_3link", "puma560", "scara"}) {
    arms.push_back(FileArm(std::string(sample) + ".urdf",
                           std::string(VELMOTH_EXAMPLES) + "/" + sample + ".urdf"));
  }
  for (int n : {6, 12, 24}) {
    arms.push_back(ChainArm(n));
  }
  for (const char* arm : {"ur5_like", "iiwa14_like", "panda_like"}) {
    arms.push_back(
        FileArm(std::string(arm) + ".urdf", std::string(VELMOTH_URDF_TESTS) + "/" + arm + ".urdf"));
  }
  return arms;
}

StepOptions Step(IntegratorKind integrator, int substeps = 1,
                 double tolerance = kDefaultTolerance) {
  return {EngineKind::kRecursive, integrator, substeps, tolerance};
}

struct Setting {
  double viscous = 0.0;
  double coulomb = 0.0;
  bool bent = false;  // from (0.5, -1, 1.5, 0, ...), else from q = 0
  double torque = 0.0;
};

struct Run {
  std::vector<double> q;  // every tick's joint positions, one after the other
  double stepsPerTick = 0.0;
  int capped = 0;
};

Run Simulate(const Arm& arm, const Setting& s, const StepOptions& step, int ticks) {
  std::unique_ptr<Robot> robot = arm.make();
  robot->viscousFriction = s.viscous;
  robot->coulombFriction = s.coulomb;
  const std::size_t n = robot->links.size();
  const double bent[] = {0.5, -1.0, 1.5};
  for (std::size_t i = 0; i < n && s.bent; ++i) {
    robot->links[i]->q = i < 3 ? bent[i] : 0.0;
  }
  Stepper stepper(*robot, step);
  matrix<double> torque(static_cast<uint32_t>(n), 1);
  for (uint32_t i = 0; i < n; ++i) {
    torque(i, 0) = s.torque * std::sin(1.0 + i);
  }
  Run run;
  long steps = 0;
  for (int t = 0; t < ticks; ++t) {
    stepper.Forward(torque);
    steps += stepper.LastSubsteps();
    run.capped += stepper.LastCapped() ? 1 : 0;
    for (const auto& link : robot->links) {
      run.q.push_back(link->q);
    }
  }
  run.stepsPerTick = static_cast<double>(steps) / ticks;
  return run;
}

// The largest difference over the run, and at its end.
std::pair<double, double> Errors(const Run& a, const Run& b, std::size_t n) {
  double most = 0.0, end = 0.0;
  for (std::size_t i = 0; i < a.q.size(); ++i) {
    const double d = std::fabs(a.q[i] - b.q[i]);
    most = std::max(most, d);
    end = i + n >= a.q.size() ? std::max(end, d) : end;
  }
  return {most, end};
}

std::size_t Joints(const Arm& arm) {
  return arm.make()->links.size();
}

void AccuracyOfTheDefaults() {
  std::printf("\n## The defaults' accuracy over 1 s, against RK4 in 1000 substeps\n\n");
  std::printf("| arm | start | friction | largest error (rad) | at 1 s | steps per tick |\n");
  std::printf("|---|---|---|---|---|---|\n");
  const int ticks = quick ? 20 : 100;
  double worst = 0.0;
  for (const Arm& arm : Arms()) {
    for (const bool bent : {false, true}) {
      for (const double viscous : {0.0, 0.1}) {
        const Setting s{viscous, 0.0, bent};
        const Run reference = Simulate(arm, s, Step(IntegratorKind::kRk4, 1000), ticks);
        const Run run = Simulate(arm, s, DefaultStepOptions(true), ticks);
        const auto [most, end] = Errors(run, reference, Joints(arm));
        worst = std::max(worst, most);
        std::printf("| %s | %s | %s | %.1e | %.1e | %.1f |\n", arm.name.c_str(),
                    bent ? "(0.5, -1, 1.5, 0, ...)" : "q = 0", viscous > 0 ? "viscous 0.1" : "none",
                    most, end, run.stepsPerTick);
      }
    }
  }
  std::printf("\nlargest error of all: %.1e rad\n", worst);
}

void ErrorAgainstTheTolerance() {
  std::printf("\n## The error against the tolerance (1 s from the bent start, no friction)\n\n");
  const std::vector<double> tolerances =
      quick ? std::vector<double>{1e-4, 1e-6} : std::vector<double>{1e-4, 1e-6, 1e-8, 1e-10, 1e-12};
  std::printf("| arm |");
  for (double t : tolerances) {
    std::printf(" %g |", t);
  }
  std::printf(" error / 100 x tighter |\n|---|");
  for (std::size_t k = 0; k <= tolerances.size(); ++k) {
    std::printf("---|");
  }
  std::printf("\n");
  std::vector<Arm> arms = Arms();
  if (!quick) {
    arms = {arms[0], arms[3], arms[7], arms[8], arms[10], arms[11], arms[12]};
  }
  const int ticks = quick ? 20 : 100;
  for (const Arm& arm : arms) {
    const Setting s{0.0, 0.0, true};
    const Run reference = Simulate(arm, s, Step(IntegratorKind::kRk4, 1000), ticks);
    std::vector<double> errors;
    std::printf("| %s |", arm.name.c_str());
    for (double t : tolerances) {
      const Run run = Simulate(arm, s, Step(IntegratorKind::kDopri5, 1, t), ticks);
      errors.push_back(Errors(run, reference, Joints(arm)).first);
      std::printf(" %.1e (%.1f) |", errors.back(), run.stepsPerTick);
    }
    for (std::size_t k = 1; k < errors.size(); ++k) {
      std::printf(" %.0f%s", errors[k - 1] / errors[k], k + 1 < errors.size() ? "," : " |\n");
    }
  }
  std::printf("\n(steps per tick in brackets)\n");
}

void Energy() {
  std::printf("\n## Energy\n\n");
  // The frictionless six links from horizontal.
  const int ticks = quick ? 1000 : 60000;
  for (const StepOptions& step :
       {DefaultStepOptions(true), Step(IntegratorKind::kRk4, 8), Step(IntegratorKind::kImplicit)}) {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(6);
    robot->viscousFriction = robot->coulombFriction = 0.0;
    Stepper stepper(*robot, step);
    matrix<double> torque(6, 1);
    torque.SetZero();
    double peak = 0.0, drift = 0.0;
    for (int t = 0; t < ticks; ++t) {
      stepper.Forward(torque);
      peak = std::max(peak, robot->kineticEnergy);
      drift = std::max(drift, std::fabs(robot->kineticEnergy + robot->potentialEnergy));
    }
    std::printf(
        "six links, no friction, %d s, %s: largest |E - E0| %.2e of the peak kinetic "
        "energy (%.1f J)\n",
        ticks / 100, StepOptionsText(step).c_str(), drift / peak, peak);
  }
  std::printf(
      "\n| arm | torques | largest \\|E - E0 - W + D\\| / peak kinetic | largest rise of a "
      "tick / peak kinetic | steps per tick |\n|---|---|---|---|---|\n");
  const int balanceTicks = quick ? 200 : 6000;
  for (const Arm& arm : Arms()) {
    for (const double push : {0.0, 2.0}) {
      std::unique_ptr<Robot> robot = arm.make();
      const std::size_t n = robot->links.size();
      const double bent[] = {0.5, -1.0, 1.5};
      for (std::size_t i = 0; i < n; ++i) {
        robot->links[i]->q = i < 3 ? bent[i] : 0.0;
      }
      Stepper stepper(*robot, DefaultStepOptions(true));
      matrix<double> torque(static_cast<uint32_t>(n), 1);
      for (uint32_t i = 0; i < n; ++i) {
        torque(i, 0) = push * std::sin(1.0 + i);
      }
      double peak = 0.0, residual = 0.0, rise = 0.0, before = 0.0;
      long steps = 0;
      for (int t = 0; t < balanceTicks; ++t) {
        stepper.Forward(torque);
        steps += stepper.LastSubsteps();
        const double energy = robot->kineticEnergy + robot->potentialEnergy;
        peak = std::max(peak, robot->kineticEnergy);
        residual = std::max(
            residual, std::fabs(energy - robot->startEnergy - robot->work + robot->dissipated));
        rise = t > 0 ? std::max(rise, energy - before) : 0.0;
        before = energy;
      }
      char rises[32] = "-";
      if (push == 0.0) {
        std::snprintf(rises, sizeof rises, "%.1e", rise / peak);
      }
      std::printf("| %s | %s | %.1e | %s | %.1f |\n", arm.name.c_str(),
                  push > 0 ? "2 sin(1 + i) N m" : "none", residual / peak, rises,
                  static_cast<double>(steps) / balanceTicks);
    }
  }
  std::printf("\n(friction 0.1 viscous and 0.1 Coulomb, %d s from (0.5, -1, 1.5, 0, ...))\n",
              balanceTicks / 100);
}

// One uniform rod about its end in a vertical plane (m = 1 kg, L = 0.3 m, I = m L^2 / 3).
std::unique_ptr<Robot> Rod(double viscous, double coulomb) {
  auto robot = std::make_unique<Robot>(0.0, 0.0, -9.81, coulomb, viscous);
  const double i = 0.3 * 0.3 / 12.0;
  robot->AddLink(1.0, 0.0, 0.15, 0.0, i, i, i, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 0.02);
  return robot;
}

std::vector<double> Swing(const StepOptions& step, double viscous, double coulomb, double phi0,
                          int ticks) {
  std::unique_ptr<Robot> rod = Rod(viscous, coulomb);
  rod->links[0]->q = -M_PI / 2 + phi0;
  Stepper stepper(*rod, step);
  matrix<double> torque(1, 1);
  torque.SetZero();
  std::vector<double> phi;
  for (int t = 0; t < ticks; ++t) {
    stepper.Forward(torque);
    phi.push_back(rod->links[0]->q + M_PI / 2);
  }
  return phi;
}

void Pendulum() {
  std::printf("\n## The pendulum against its analytic cases\n\n");
  std::printf("One uniform rod, 1 kg, 0.3 m, about its end: I = m L^2 / 3, k = m g L / 2.\n\n");
  std::printf(
      "| integrator | viscous 0.01: decay rate | frequency | Coulomb 0.01: decrement / "
      "(2c/k) | rest in the band | held at 0.9 c, 10 s | acceleration at 1.1 c / "
      "-(\\|tau_g\\| - c)/I |\n|---|---|---|---|---|---|---|\n");
  const double inertia = 0.03, stiffness = 9.81 * 0.15, b = 0.01, c = 0.01;
  const double decay = b / (2 * inertia);
  const double frequency = std::sqrt(stiffness / inertia - decay * decay);
  for (const StepOptions& step :
       {Step(IntegratorKind::kDopri5), Step(IntegratorKind::kRk4), Step(IntegratorKind::kEuler),
        Step(IntegratorKind::kEuler, 10), Step(IntegratorKind::kImplicit)}) {
    const std::vector<double> viscous = Swing(step, b, 0.0, 0.01, 500);
    std::vector<double> peakTime, peak, crossing;
    for (std::size_t k = 1; k + 1 < viscous.size(); ++k) {
      const double p = viscous[k - 1], q = viscous[k], r = viscous[k + 1];
      if ((q - p) * (r - q) < 0.0) {
        const double offset = 0.5 * (p - r) / (p - 2 * q + r);
        peakTime.push_back(0.01 * (static_cast<double>(k + 1) + offset));
        peak.push_back(q - 0.25 * (p - r) * offset);
      }
      if (q * r < 0.0) {
        crossing.push_back(0.01 * (static_cast<double>(k + 1) + q / (q - r)));
      }
    }
    const double measuredDecay =
        std::log(std::fabs(peak.front() / peak.back())) / (peakTime.back() - peakTime.front());
    const double measuredFrequency =
        M_PI * static_cast<double>(crossing.size() - 1) / (crossing.back() - crossing.front());
    const std::vector<double> coulomb = Swing(step, 0.0, c, 0.1, 1000);
    std::vector<double> turns;
    for (std::size_t k = 1; k + 1 < coulomb.size(); ++k) {
      const double p = coulomb[k - 1], q = coulomb[k], r = coulomb[k + 1];
      if ((q - p) * (r - q) < 0.0) {
        turns.push_back(q - 0.25 * (p - r) * 0.5 * (p - r) / (p - 2 * q + r));
      }
    }
    const double decrement = (0.1 - std::fabs(turns[3])) / 4.0;
    const bool inBand = std::fabs(coulomb.back()) <= std::asin(c / stiffness);
    // Held at 0.9 c, and given way at 1.1 c (friction 0.1).
    std::string held, accel;
    for (const double level : {0.9, 1.1}) {
      std::unique_ptr<Robot> rod = Rod(0.0, 0.1);
      const double q0 = -M_PI / 2 + std::asin(level * 0.1 / stiffness);
      rod->links[0]->q = q0;
      Stepper stepper(*rod, step);
      matrix<double> torque(1, 1);
      torque.SetZero();
      const double first = stepper.Forward(torque)(0, 0);
      for (int t = 0; t < 999; ++t) {
        stepper.Forward(torque);
      }
      char text[64];
      if (level < 1.0) {
        std::snprintf(text, sizeof text, "moved %.1e rad", rod->links[0]->q - q0);
        held = text;
      } else {
        std::snprintf(text, sizeof text, "%.4f", first / (-(level - 1.0) * 0.1 / inertia));
        accel = text;
      }
    }
    std::printf("| %s | %+.1e | %+.1e | %+.1e | %s | %s | %s |\n", StepOptionsText(step).c_str(),
                measuredDecay / decay - 1.0, measuredFrequency / frequency - 1.0,
                decrement / (2 * c / stiffness) - 1.0, inBand ? "yes" : "no", held.c_str(),
                accel.c_str());
  }
  std::printf(
      "\n(relative errors; the acceleration is the first tick's mean, over which gravity's "
      "torque grows by about 0.1 %%)\n");
}

void ViscousStiffness() {
  std::printf("\n## What viscous friction costs the error-controlled step\n\n");
  std::printf(
      "| arm | viscous | steps per tick | largest error over 1 s (rad) |\n|---|---|---|---|\n");
  std::vector<Arm> arms = Arms();
  if (!quick) {
    arms = {arms[3], arms[5], arms[10], arms[12]};
  }
  const int ticks = quick ? 20 : 100;
  for (const Arm& arm : arms) {
    for (const double viscous : {0.0, 0.1, 1.0}) {
      const Setting s{viscous, 0.0, true};
      const Run reference = Simulate(arm, s, Step(IntegratorKind::kRk4, 1000), ticks);
      const Run run = Simulate(arm, s, DefaultStepOptions(true), ticks);
      std::printf("| %s | %g | %.1f | %.1e |\n", arm.name.c_str(), viscous, run.stepsPerTick,
                  Errors(run, reference, Joints(arm)).first);
    }
  }
}

void Cap() {
  std::printf("\n## The cap's worst cases (%d steps per tick)\n\n", Stepper::kMaxInternalSteps);
  std::printf("| case | steps per tick: mean | largest | ticks capped |\n|---|---|---|---|\n");
  const int ticks = quick ? 20 : 1000;
  const struct {
    std::string name;
    int links;
    double torque;
  } cases[] = {{"100 links falling from horizontal, 10 s", quick ? 12 : 100, 0.0},
               {"6 links under 1000 N m each, 10 s", 6, 1000.0}};
  for (const auto& c : cases) {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(c.links);
    Stepper stepper(*robot, DefaultStepOptions(true));
    matrix<double> torque(static_cast<uint32_t>(c.links), 1);
    for (uint32_t i = 0; i < static_cast<uint32_t>(c.links); ++i) {
      torque(i, 0) = c.torque;
    }
    long steps = 0;
    int most = 0, capped = 0;
    for (int t = 0; t < ticks; ++t) {
      stepper.Forward(torque);
      steps += stepper.LastSubsteps();
      most = std::max(most, stepper.LastSubsteps());
      capped += stepper.LastCapped() ? 1 : 0;
    }
    std::printf("| %s | %.1f | %d | %d of %d |\n", c.name.c_str(),
                static_cast<double>(steps) / ticks, most, capped, ticks);
  }
}

}  // namespace

int main(int argc, char** argv) {
  quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  std::printf("# The integrators measured (accuracy_table%s)\n", quick ? " --quick" : "");
  AccuracyOfTheDefaults();
  ErrorAgainstTheTolerance();
  Energy();
  Pendulum();
  ViscousStiffness();
  Cap();
  return 0;
}
