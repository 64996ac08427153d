// Events of a step: where, inside a step just taken in fixed modes, the modes stop describing the
// motion. Every event is the first zero of an event function g(theta) on the step's continuous
// extension, theta in [0, 1] being the fraction of the step; g >= 0 while the mode holds:
//
//   kStop       a sliding joint's velocity reaches 0:       g = s qd_i(theta)
//   kLimit      a moving joint reaches a limit:             g = min(upper_i - q_i, q_i - lower_i)
//   kBreakAway  a held joint's holding torque f_i leaves what friction and a limit hold:
//               g = c_i - |f_i|, or c_i + f_i at its upper limit and c_i - f_i at its lower one
//
// Functions of the state alone (kStop, kLimit) are sampled on the extension and their root found
// by the Illinois method on it, at no cost of the equation; a joint's velocity that turns between
// two samples is followed to where it turns, so that a position that touches a limit between them
// is seen. Functions that need the solve (kBreakAway) are known at the step's ends (where the
// step's evaluations give them), evaluated in its middle (one evaluation and solve, while a joint
// is held and another moves) and looked at in between on the parabola through those three values,
// so that a holding torque that exceeds friction's level for a part of a step is seen; their root
// is then found by the Illinois method on states interpolated by the extension. The step
// then ends at the earliest event (just past the root, so that the event is seen by the decision
// that follows), the event is applied to the state (Apply), and the modes are decided again
// (ModeEquation::Decide), which resolves a limit's impact through M first (joint_limits.h).
#pragma once

#include <cstdint>
#include <vector>

#include "simulation/friction_modes.h"

enum class EventKind : uint8_t { kNone, kStop, kLimit, kBreakAway };

struct Event {
  EventKind kind = EventKind::kNone;
  int joint = -1;      // the joint that stops or reaches a limit; -1 for a break-away (the decision
                       // finds which)
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

// What the event does to the state at it: a joint that stops is at rest from there; a joint that
// reaches a limit is put at the limit it crossed (its impact is the decision's).
void Apply(const Event& event, const ModeEquation& equation, double* y);

// The fallback when no more events may be located in a tick: applies at the step's end what the
// step passed (sliding joints whose velocity turned against their sign stop there; joints past a
// limit are put at it by the decision that follows, and their impact resolved).
void ApplyAtEnd(ModeEquation& equation, double* y);
