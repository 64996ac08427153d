// Events of a step: where, inside a step just taken in fixed modes, the modes stop describing the
// motion. Every event is the first zero of an event function g(theta) on the step's continuous
// extension, theta in [0, 1] being the fraction of the step; g >= 0 while the mode holds:
//
//   kStop       a sliding joint's velocity reaches 0:       g = s qd_i(theta)
//   kBreakAway  a held joint's holding torque reaches +-c:  g = c_i - |f_i(theta)|
//
// Functions of the state alone (kStop) are sampled on the extension and their root found by the
// Illinois method on it, at no cost of the equation; functions that need the solve (kBreakAway) are
// tested at the step's end, where the next step's first evaluation gives them for free, and when
// one has turned negative their root is found by the Illinois method on states interpolated by the
// extension, each one evaluation and solve. The step then ends at the earliest event (just past the
// root, so that the event is seen by the decision that follows), the event is applied to the state
// (Apply), and the modes are decided again (ModeEquation::Decide).
//
// Adding a kind of event (joint limits, say) takes three things, and nothing of the integrators:
//   - its mode: a joint resting at a limit is locked like a held joint, with a one-sided holding
//     force (FrictionModes and DecideModes learn the new mode and when it ends);
//   - its event functions, beside those of FindEvent: a position reaching a limit,
//     g = q_max - q_i (of the state alone, found as kStop is), and a limit's holding force turning
//     to pull the joint away (needing the solve, found as kBreakAway is);
//   - what the event does to the state, in Apply: an inelastic impact stops the joint through M,
//     qd' = qd + M^-1 J^T p with the impulse p found by the locked-joint solve (the joint locked
//     at the velocity change that stops it), and the energy it takes goes to the dissipated D.
#pragma once

#include <cstdint>
#include <vector>

#include "simulation/friction_modes.h"

enum class EventKind : uint8_t { kNone, kStop, kBreakAway };

struct Event {
  EventKind kind = EventKind::kNone;
  int joint = -1;      // the joint that stops; -1 for a break-away (the decision finds which)
  double theta = 1.0;  // where in the step, as a fraction of it
};

// A step's continuous extension: the state (q, qd, W, D) anywhere in the step.
class Extension {
 public:
  virtual ~Extension() = default;
  // y(theta) for every component.
  virtual void State(double theta, double* y) const = 0;
  // Component j of y(theta).
  virtual double Component(int j, double theta) const = 0;
};

// Working values of the search, sized for a system of `size` values and n joints.
struct EventWork {
  void Resize(int size, int n);

  std::vector<double> y;   // an interpolated state
  std::vector<double> dy;  // its rates
};

// The earliest event of the step from y0 to y1 on its extension, given the held joints' holding
// torques at both ends; kNone with theta 1 when there is none. The equation may be evaluated at
// interpolated states.
Event FindEvent(const Extension& extension, ModeEquation& equation, const double* y0,
                const double* y1, const std::vector<double>& holdingStart,
                const std::vector<double>& holdingEnd, EventWork& work);

// What the event does to the state at it: a joint that stops is at rest from there.
void Apply(const Event& event, int n, double* y);

// The fallback when no more events may be located in a tick: applies at the step's end what the
// step passed (sliding joints whose velocity turned against their sign stop there).
void ApplyAtEnd(ModeEquation& equation, double* y);
