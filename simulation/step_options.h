// How a tick advances the arm: which engine evaluates the equation of motion, which integrator
// steps it, in how many substeps per tick, and (for the error-controlled step) to what tolerance.
// The built-in arm keeps the closed form and the semi-implicit Euler step of one substep; arms from
// URDF files take the recursive engine and the error-controlled Dormand-Prince step.
#pragma once

#include <optional>
#include <string>

enum class EngineKind {
  kClosedForm,  // M, C (Christoffel symbols), G and F in closed form, O(n^3.6)
  kRecursive,   // articulated bodies and Newton-Euler, link by link, O(n)
};

enum class IntegratorKind {
  // Semi-implicit Euler: qd += qdd h, then q += qd h. On the closed form it solves with the damped
  // pseudo-inverse and takes friction as it comes, as the built-in arm always has; on the recursive
  // engine Coulomb friction stops and holds joints at located events (see friction_modes.h).
  kEuler,
  // Drift, kick, drift with friction at the end of the kick: viscous friction implicit, and
  // Coulomb friction that brings a joint to rest and holds it while the other torques on it stay
  // below the friction level; substeps are added where the arm would otherwise gain energy beyond
  // the work put in, or change faster than the substep follows (see stepper.h). Both engines solve
  // exactly.
  kImplicit,
  // Classical fourth-order Runge-Kutta with Coulomb friction's events located on its cubic Hermite
  // extension; both engines solve exactly.
  kRk4,
  // Dormand and Prince's embedded 5(4) Runge-Kutta pair with step-size control and its dense
  // output: as many steps per tick as the tolerance needs, events located on the dense output.
  kDopri5,
};

// Every engine and integrator, in the order the programs list them.
inline constexpr EngineKind kEngineKinds[] = {EngineKind::kClosedForm, EngineKind::kRecursive};
inline constexpr IntegratorKind kIntegratorKinds[] = {
    IntegratorKind::kEuler, IntegratorKind::kImplicit, IntegratorKind::kRk4,
    IntegratorKind::kDopri5};

inline constexpr int kMaxSubsteps = 1000;

// The error-controlled step's tolerance: the local error it allows per step, mixed absolute and
// relative, of every joint position and velocity and of the work and dissipated energy.
inline constexpr double kDefaultTolerance = 1e-9;
inline constexpr double kMinTolerance = 1e-12;
inline constexpr double kMaxTolerance = 1e-2;

struct StepOptions {
  EngineKind engine = EngineKind::kClosedForm;
  IntegratorKind integrator = IntegratorKind::kEuler;
  // Per tick, 1 to kMaxSubsteps; for dopri5 the fewest steps a tick takes (its longest step is the
  // tick / substeps).
  int substeps = 1;
  double tolerance = kDefaultTolerance;  // dopri5 only; kMinTolerance to kMaxTolerance
};

// The names the programs use: "closed-form", "recursive"; "euler", "implicit", "rk4", "dopri5".
const char* EngineName(EngineKind engine);
const char* IntegratorName(IntegratorKind integrator);
std::optional<EngineKind> EngineNamed(const std::string& name);
std::optional<IntegratorKind> IntegratorNamed(const std::string& name);

// The defaults: the closed form with Euler for the built-in arm, the recursive engine with the
// error-controlled step for an arm from a file.
StepOptions DefaultStepOptions(bool fromFile);

// "recursive, rk4 x 2" (the substeps only when more than one), "recursive, dopri5, tolerance
// 1e-09" (the tolerance with the error-controlled step).
std::string StepOptionsText(const StepOptions& options);

// "1e-09": a tolerance as the programs show it.
std::string ToleranceText(double tolerance);
