// How a tick advances the arm: which engine evaluates the equation of motion, which integrator
// steps it, and in how many substeps per tick. The built-in arm keeps the closed form and the
// semi-implicit Euler step of one substep; arms from URDF files, whose light wrists that step
// cannot hold, take the recursive engine and the implicit step.
#pragma once

#include <optional>
#include <string>

enum class EngineKind {
  kClosedForm,  // M, C (Christoffel symbols), G and F in closed form, O(n^3.6)
  kRecursive,   // articulated bodies and Newton-Euler, link by link, O(n)
};

enum class IntegratorKind {
  // Semi-implicit Euler: qd += qdd h, then q += qd h. Friction is explicit. On the closed form it
  // solves with the damped pseudo-inverse, as the built-in arm always has.
  kEuler,
  // Drift, kick, drift with friction at the end of the kick: viscous friction implicit, and
  // Coulomb friction that brings a joint to rest and holds it while the other torques on it stay
  // below the friction level; substeps are added where the arm would otherwise gain energy or
  // change faster than the substep follows (see stepper.h). Both engines solve exactly.
  kImplicit,
  // Classical fourth-order Runge-Kutta, friction explicit; both engines solve exactly.
  kRk4,
};

// Every engine and integrator, in the order the programs list them.
inline constexpr EngineKind kEngineKinds[] = {EngineKind::kClosedForm, EngineKind::kRecursive};
inline constexpr IntegratorKind kIntegratorKinds[] = {
    IntegratorKind::kEuler, IntegratorKind::kImplicit, IntegratorKind::kRk4};

inline constexpr int kMaxSubsteps = 1000;

struct StepOptions {
  EngineKind engine = EngineKind::kClosedForm;
  IntegratorKind integrator = IntegratorKind::kEuler;
  int substeps = 1;  // per tick, 1 to kMaxSubsteps
};

// The names the programs use: "closed-form", "recursive"; "euler", "implicit", "rk4".
const char* EngineName(EngineKind engine);
const char* IntegratorName(IntegratorKind integrator);
std::optional<EngineKind> EngineNamed(const std::string& name);
std::optional<IntegratorKind> IntegratorNamed(const std::string& name);

// The defaults: the closed form with Euler for the built-in arm, the recursive engine with the
// implicit step for an arm from a file.
StepOptions DefaultStepOptions(bool fromFile);

// "recursive, implicit x 2" (the substeps only when more than one).
std::string StepOptionsText(const StepOptions& options);
