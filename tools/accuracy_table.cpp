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
//   - stiff damping: every arm at viscous 1 to 1e4 and at its file's own damping, the default step
//     against the implicit step in 1000 substeps, and the implicit step's own error;
//   - the cap's worst cases: the 100-link chain whipping, six links under 1000 N m;
//   - joint limits (docs/limits.md): the pendulum swinging into a limit on every integrator, the
//     impact of two links against the impulse through M, the samples and test arms falling for
//     30 s within their limits with the energy balance;
//   - the fixed steps' energy made without work: two links thrown into their limits at 1 to 1e5
//     rad/s, the arms falling for 30 s without limits, in all and in one tick.
// No timing: the costs are dynamics_bench's.
//   accuracy_table [--quick] [SECTION...]   (--quick: one arm and short runs, to keep the program
//                                          working; sections by name, e.g. stiff; default: all)
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
#include "simulation/equation.h"
#include "simulation/joint_limits.h"
#include "simulation/stepper.h"
#include "urdf/urdf_loader.h"

namespace {

// A Markdown table's heading: its first column's name and the others'.
void PrintHeading(const std::string& first, const std::vector<std::string>& columns) {
  std::printf("| %s |", first.c_str());
  for (const std::string& column : columns) {
    std::printf(" %s |", column.c_str());
  }
  std::printf("\n|---|");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::printf("---|");
  }
  std::printf("\n");
}

// %g of x.
std::string General(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", x);
  return text;
}

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
  for (const char* arm : {"ur5_like", "iiwa14_like", "panda_like", "z1_like"}) {
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
  double viscous = 0.0;  // every joint's; negative: each joint its file's own
  double coulomb = 0.0;
  bool bent = false;  // from (0.5, -1, 1.5, 0, ...), else from q = 0
  double torque = 0.0;
};

struct Run {
  std::vector<double> q;  // every tick's joint positions, one after the other
  double stepsPerTick = 0.0;
  long stiffSteps = 0;
  int capped = 0;
  bool finite = true;
};

Run Simulate(const Arm& arm, const Setting& s, const StepOptions& step, int ticks) {
  std::unique_ptr<Robot> robot = arm.make();
  // The friction given is every joint's, as --viscous and --coulomb give it, or the file's.
  if (s.viscous >= 0.0) {
    robot->viscousFriction = s.viscous;
    robot->coulombFriction = s.coulomb;
    robot->frictionSource = FrictionSource::kUniform;
  }
  const std::size_t n = robot->links.size();
  const double bent[] = {0.5, -1.0, 1.5};
  for (std::size_t i = 0; i < n && s.bent; ++i) {
    robot->links[i]->q = i < 3 ? bent[i] : 0.0;
  }
  ClampStartToLimits(*robot);
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
    run.stiffSteps += stepper.LastStiffSteps();
    run.finite = run.finite && StateIsFinite(*robot);
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
  std::vector<std::string> columns;
  for (double t : tolerances) {
    columns.push_back(General(t));
  }
  columns.emplace_back("error / 100 x tighter");
  PrintHeading("arm", columns);
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
      // An arm that the start puts at rest against its limits has no kinetic energy to compare.
      char rises[32] = "-", residuals[32] = "at rest";
      if (push == 0.0 && peak > 0.0) {
        std::snprintf(rises, sizeof rises, "%.1e", rise / peak);
      }
      if (peak > 0.0) {
        std::snprintf(residuals, sizeof residuals, "%.1e", residual / peak);
      }
      std::printf("| %s | %s | %s | %s | %.1f |\n", arm.name.c_str(),
                  push > 0 ? "2 sin(1 + i) N m" : "none", residuals, rises,
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

// Stiff damping: 1 s from (0.5, -1, 1.5, 0, ...) put within the limits, every arm at viscous 1 to
// 1e4 and at its file's own damping, no Coulomb friction. The reference: the implicit step, first
// order under viscous friction, in 1000 and 500 substeps (10 and 20 us) extrapolated, 2 q_1000 -
// q_500. The default step's largest |q - q_ref| at any tick and at 1 s, its steps per tick, the
// additive pair's share of them and the ticks capped; its largest difference from itself at the
// tolerance 1e-12 (the extrapolation does not hold across impacts and Coulomb friction's stops);
// and the implicit step's error at 1, 10 and 1000 substeps.
void StiffDamping() {
  std::printf("\n## Stiff damping: the default step against the implicit step extrapolated\n\n");
  std::printf(
      "| arm | viscous | largest error (rad) | at 1 s | steps per tick | additive | capped | "
      "against 1e-12 | implicit x 1 | implicit x 10 | implicit x 1000 |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|\n");
  const int ticks = quick ? 10 : 100;
  double worst = 0.0;
  for (const Arm& arm : Arms()) {
    for (const double viscous : {-1.0, 1.0, 10.0, 100.0, 1000.0, 1e4}) {
      const Setting s{viscous, 0.0, true};
      const std::size_t n = Joints(arm);
      const Run reference = Simulate(arm, s, Step(IntegratorKind::kImplicit, 1000), ticks);
      const Run run = Simulate(arm, s, DefaultStepOptions(true), ticks);
      const Run coarse = Simulate(arm, s, Step(IntegratorKind::kImplicit, 1), ticks);
      const Run fine = Simulate(arm, s, Step(IntegratorKind::kImplicit, 10), ticks);
      const Run half = Simulate(arm, s, Step(IntegratorKind::kImplicit, 500), ticks);
      Run extrapolated = reference;
      for (std::size_t i = 0; i < extrapolated.q.size(); ++i) {
        extrapolated.q[i] = 2.0 * reference.q[i] - half.q[i];
      }
      const auto [most, end] = Errors(run, extrapolated, n);
      const Run tight = Simulate(arm, s, Step(IntegratorKind::kDopri5, 1, kMinTolerance), ticks);
      worst = std::max(worst, run.finite ? most : INFINITY);
      const long steps = static_cast<long>(run.stepsPerTick * ticks + 0.5);
      std::printf("| %s | %s | %.1e | %.1e | %.1f | %.0f%% | %d | %.1e | %.1e | %.1e | %.1e |\n",
                  arm.name.c_str(), viscous < 0.0 ? "file's" : ToleranceText(viscous).c_str(),
                  run.finite ? most : INFINITY, end, run.stepsPerTick,
                  steps > 0 ? 100.0 * static_cast<double>(run.stiffSteps) / steps : 0.0, run.capped,
                  Errors(run, tight, n).first, Errors(coarse, extrapolated, n).first,
                  Errors(fine, extrapolated, n).first, Errors(reference, extrapolated, n).first);
    }
  }
  std::printf("\nlargest error of all: %.1e rad\n", worst);
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

// A rod of 1 kg and 0.3 m about its end, q = -pi/2 + phi hanging at phi, let go at phi = 1.5 onto
// its lower limit at phi = 0.5: the largest excursion past the limit, the dissipated energy against
// the kinetic energy at the impact, k (cos 0.5 - cos 1.5), where it ends, and whether a torque of
// 0.99 and of 1.01 times gravity's at the limit keeps it there.
void LimitPendulum() {
  std::printf("\n## Joint limits: the pendulum swinging into its lower limit\n\n");
  std::printf(
      "| integrator | largest excursion past the limit | D / kinetic energy at the impact "
      "- 1 | at rest on the limit after 1 s | 0.99 x gravity's torque | 1.01 x |\n");
  std::printf("|---|---|---|---|---|---|\n");
  const double k = 9.81 * 0.15, lower = -M_PI / 2 + 0.5;
  const auto rod = [&](double q) {
    auto robot = std::make_unique<Robot>(0.0, 0.0, -9.81, 0.0, 0.0);
    const double i = 0.3 * 0.3 / 12.0;
    robot->AddLink(1.0, 0.0, 0.15, 0.0, i, i, i, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 0.02);
    robot->links[0]->lower = lower;
    robot->links[0]->q = q;
    return robot;
  };
  const StepOptions steps[] = {{EngineKind::kRecursive, IntegratorKind::kDopri5, 1, 1e-9},
                               {EngineKind::kRecursive, IntegratorKind::kRk4, 1, 1e-9},
                               {EngineKind::kRecursive, IntegratorKind::kRk4, 4, 1e-9},
                               {EngineKind::kRecursive, IntegratorKind::kEuler, 10, 1e-9},
                               {EngineKind::kRecursive, IntegratorKind::kImplicit, 1, 1e-9}};
  matrix<double> torque(1, 1);
  for (const StepOptions& step : steps) {
    std::unique_ptr<Robot> robot = rod(-M_PI / 2 + 1.5);
    Stepper stepper(*robot, step);
    torque(0, 0) = 0.0;
    double past = 0.0;
    for (int t = 0; t < 100; ++t) {
      stepper.Forward(torque);
      past = std::max(past, lower - robot->links[0]->q);
    }
    const bool rests = robot->links[0]->q == lower && robot->links[0]->qd == 0.0;
    const double impact = k * (std::cos(0.5) - std::cos(1.5));
    std::string pulled[2];
    for (int p = 0; p < 2; ++p) {
      std::unique_ptr<Robot> resting = rod(lower);
      Stepper held(*resting, step);
      torque(0, 0) = (p == 0 ? 0.99 : 1.01) * k * std::sin(0.5);
      for (int t = 0; t < 100; ++t) {
        held.Forward(torque);
      }
      char text[64];
      std::snprintf(text, sizeof text, "%s (%.2g rad)",
                    resting->links[0]->q == lower ? "stays" : "leaves",
                    resting->links[0]->q - lower);
      pulled[p] = text;
    }
    std::printf("| `%s` | %.1e rad | %+.1e | %s | %s | %s |\n", StepOptionsText(step).c_str(), past,
                robot->dissipated / impact - 1.0, rests ? "yes" : "no", pulled[0].c_str(),
                pulled[1].c_str());
  }
}

// Two built-in links, the first reaching its upper limit at 0.4 with qd0 while the second swings at
// q1 with qd1: after the impact qd0' = 0 and qd1' = qd1 + M10 qd0 / M11 (the second joint keeps its
// share of the momentum), the energy taken 1/2 qd M qd - 1/2 M11 qd1'^2. The largest relative
// errors over a grid of states, on either engine.
void TwoLinkImpact() {
  std::printf("\n## Joint limits: the impact of two links against the impulse through M\n\n");
  std::printf("| engine | states | largest relative error of qd1' | of the energy taken |\n");
  std::printf("|---|---|---|---|\n");
  for (const EngineKind engine : kEngineKinds) {
    double worst = 0.0, worstEnergy = 0.0;
    int states = 0;
    for (double q1 = -3.0; q1 <= 3.0; q1 += quick ? 1.5 : 0.25) {
      for (const double qd0 : {0.1, 1.0, 5.0}) {
        for (const double qd1 : {-4.0, -0.5, 0.0, 0.5, 4.0}) {
          std::unique_ptr<Robot> arm = MakeBuiltInRobot(2);
          arm->viscousFriction = arm->coulombFriction = 0.0;
          arm->links[0]->upper = 0.4;
          arm->links[0]->q = 0.4;
          arm->links[1]->q = q1;
          arm->links[0]->qd = qd0;
          arm->links[1]->qd = qd1;
          const EquationTerms terms = EvaluateEquationTerms(*arm);
          const double before = arm->kineticEnergy;
          const double expected = qd1 + terms.M(1, 0) * qd0 / terms.M(1, 1);
          const double taken = before - 0.5 * terms.M(1, 1) * expected * expected;
          JointLimits limits;
          limits.Fill(*arm);
          ImpactWork work;
          work.Resize(2);
          double q[2] = {0.4, q1}, qd[2] = {qd0, qd1};
          uint8_t at[2];
          const double lost = ImpactAt(*MakeEquation(engine, *arm), *arm, limits, q, qd, at, work);
          worst =
              std::max(worst, std::fabs(qd[1] - expected) / std::max(std::fabs(expected), 1e-3));
          worstEnergy = std::max(worstEnergy, std::fabs(lost - taken) / taken);
          ++states;
        }
      }
    }
    std::printf("| `%s` | %d | %.1e | %.1e |\n", EngineName(engine), states, worst, worstEnergy);
  }
}

// The samples and the test arms falling with the defaults for 30 s from rest at 0 and at
// (0.5, -1, 1.5, 0, ...), put within their limits: the largest excursion past a limit, the largest
// |E - E0 - W + D| against the largest kinetic energy, the impacts (ticks whose D jumped by more
// than friction could take), the steps per tick and the ticks capped.
void SamplesWithinTheirLimits() {
  std::printf("\n## Joint limits: the samples falling for 30 s with the defaults\n\n");
  std::printf(
      "| arm | start | largest excursion past a limit | balance / peak kinetic energy | "
      "joints at a limit at the end | steps per tick | ticks capped |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  const int ticks = quick ? 200 : 3000;
  for (const Arm& arm : Arms()) {
    for (const bool bent : {false, true}) {
      std::unique_ptr<Robot> robot = arm.make();
      const std::size_t n = robot->links.size();
      for (std::size_t i = 0; bent && i < 3 && i < n; ++i) {
        robot->links[i]->q = i == 0 ? 0.5 : i == 1 ? -1.0 : 1.5;
      }
      ClampStartToLimits(*robot);
      Stepper stepper(*robot, DefaultStepOptions(true));
      matrix<double> torque(static_cast<uint32_t>(n), 1);
      torque.SetZero();
      double past = 0.0, peak = 0.0, worst = 0.0;
      long steps = 0;
      for (int t = 0; t < ticks; ++t) {
        stepper.Forward(torque);
        steps += stepper.LastSubsteps();
        const double energy = robot->kineticEnergy + robot->potentialEnergy;
        peak = std::max(peak, robot->kineticEnergy);
        worst = std::max(worst,
                         std::fabs(energy - robot->startEnergy - robot->work + robot->dissipated));
        for (const auto& link : robot->links) {
          past = std::max({past, link->q - link->upper, link->lower - link->q});
        }
      }
      int atLimit = 0;
      for (std::size_t i = 0; i < n; ++i) {
        atLimit += JointAtLimit(*robot, i) != 0 ? 1 : 0;
      }
      std::printf("| %s | %s | %.1e | %.1e | %d | %.1f | %llu |\n", arm.name.c_str(),
                  bent ? "(0.5, -1, 1.5, 0, ...)" : "0", past, peak > 0.0 ? worst / peak : 0.0,
                  atLimit, static_cast<double>(steps) / ticks,
                  static_cast<unsigned long long>(robot->cappedTicks));
    }
  }
}

// The fixed steps' balance, and dopri5's beside them: the largest |E - E0 - W + D| over a run
// against the motion's energy (its largest kinetic energy, or its potential energy's swing), and
// the tick that said the balance was off ("D": a tick reported the divergence). A two-joint arm
// (two rods of 1 kg and 0.3 m, standing up, limits +-1, gravity, no friction) thrown at
// qd = (s, -s) for 1 s, and the arms falling for 30 s from (0.5, -1, 1.5, 0, ...) without limits
// or friction.
void FixedStepGains() {
  const std::vector<StepOptions> steps = {
      {EngineKind::kRecursive, IntegratorKind::kEuler, 1, kDefaultTolerance},
      {EngineKind::kRecursive, IntegratorKind::kRk4, 1, kDefaultTolerance},
      {EngineKind::kRecursive, IntegratorKind::kImplicit, 1, kDefaultTolerance},
      {EngineKind::kClosedForm, IntegratorKind::kRk4, 1, kDefaultTolerance},
      {EngineKind::kClosedForm, IntegratorKind::kImplicit, 1, kDefaultTolerance},
      {EngineKind::kRecursive, IntegratorKind::kDopri5, 1, kDefaultTolerance}};
  const auto cell = [](std::unique_ptr<Robot> robot, const StepOptions& step, int ticks) {
    Stepper stepper(*robot, step);
    matrix<double> torque(static_cast<uint32_t>(robot->links.size()), 1);
    torque.SetZero();
    double peak = 0.0, low = robot->potentialEnergy, high = low, most = 0.0;
    int said = 0;
    for (int t = 0; t < ticks; ++t) {
      stepper.Forward(torque);
      if (stepper.LastReport().Diverged()) {
        return std::string("D");
      }
      if (said == 0 && stepper.LastReport().offBalance) {
        said = t + 1;
      }
      const double off = robot->kineticEnergy + robot->potentialEnergy - robot->startEnergy -
                         robot->work + robot->dissipated;
      peak = std::max(peak, robot->kineticEnergy);
      low = std::min(low, robot->potentialEnergy);
      high = std::max(high, robot->potentialEnergy);
      const double motion = std::max(peak, high - low);
      most = std::max(most, motion > 0.0 ? std::fabs(off) / motion : 0.0);
    }
    char text[64];
    std::snprintf(text, sizeof text, said > 0 ? "%.1e, said at %d" : "%.1e", most, said);
    return std::string(text);
  };
  std::printf(
      "\n## The fixed steps: the balance against the motion's energy, and the tick that "
      "said it was off\n\n");
  const std::vector<double> speeds =
      quick ? std::vector<double>{30.0, 1e3}
            : std::vector<double>{1.0, 3.0, 10.0, 30.0, 100.0, 300.0, 1e3, 1e4, 1e5};
  std::vector<std::string> columns;
  for (const double speed : speeds) {
    columns.push_back(General(speed));
  }
  PrintHeading("two rods thrown at", columns);
  for (const StepOptions& step : steps) {
    std::printf("| %s |", StepOptionsText(step).c_str());
    for (const double speed : speeds) {
      auto arm = std::make_unique<Robot>(0.0, 0.0, 0.0, 0.0, 0.0);
      for (int i = 0; i < 2; ++i) {
        arm->AddLink(1.0, 0.0, 0.15, 0.0, 0.0075, 0.0075, 0.0075, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0,
                     0.0, 0.0, 0.02);
        arm->links[i]->lower = -1.0;
        arm->links[i]->upper = 1.0;
      }
      arm->gravity(1, 0) = -9.81;
      arm->links[0]->qd = speed;
      arm->links[1]->qd = -speed;
      std::printf(" %s |", cell(std::move(arm), step, 100).c_str());
    }
    std::printf("\n");
  }
  const int ticks = quick ? 200 : 3000;
  columns.clear();
  for (const StepOptions& step : steps) {
    columns.push_back(StepOptionsText(step));
  }
  std::printf("\n");
  PrintHeading("falling " + std::to_string(ticks / 100) + " s", columns);
  for (const Arm& arm : Arms()) {
    std::printf("| %s |", arm.name.c_str());
    for (const StepOptions& step : steps) {
      std::unique_ptr<Robot> robot = arm.make();
      robot->limits = false;
      robot->viscousFriction = robot->coulombFriction = 0.0;
      robot->frictionSource = FrictionSource::kUniform;
      for (std::size_t i = 0; i < 3 && i < robot->links.size(); ++i) {
        robot->links[i]->q = i == 0 ? 0.5 : i == 1 ? -1.0 : 1.5;
      }
      std::printf(" %s |", cell(std::move(robot), step, ticks).c_str());
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> chosen;
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "--quick") == 0) {
      quick = true;
    } else {
      chosen.emplace_back(argv[a]);
    }
  }
  std::printf("# The integrators measured (accuracy_table%s)\n", quick ? " --quick" : "");
  const struct {
    const char* name;
    void (*run)();
  } sections[] = {{"defaults", AccuracyOfTheDefaults},
                  {"tolerance", ErrorAgainstTheTolerance},
                  {"energy", Energy},
                  {"pendulum", Pendulum},
                  {"viscous", ViscousStiffness},
                  {"stiff", StiffDamping},
                  {"cap", Cap},
                  {"limit-pendulum", LimitPendulum},
                  {"impact", TwoLinkImpact},
                  {"limits", SamplesWithinTheirLimits},
                  {"fixed-gains", FixedStepGains}};
  for (const auto& section : sections) {
    if (chosen.empty() || std::find(chosen.begin(), chosen.end(), section.name) != chosen.end()) {
      section.run();
    }
  }
  return 0;
}
