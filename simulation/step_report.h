// What a tick's step did, and what the programs say of a tick that diverged or reached its cap:
// which step was used, why it failed, and what to do about it. The window's strip, velmoth-sim's
// standard error and Python's warnings all take their texts from here.
#pragma once

#include <cstdint>
#include <string>

#include "simulation/step_options.h"

struct StepReport {
  StepOptions step;          // the step the tick took
  bool forward = true;       // a forward tick (torques in); else inverse
  bool inputsFinite = true;  // the torques (or accelerations) given were all numbers
  bool finite = true;        // the state the tick left and its torques are finite
  bool unphysical = false;   // the energy grew without work beyond the step's allowance
  bool offBalance = false;   // the energy balance went off beyond the step's allowance (once)
  double gained = 0.0;       // by how much, J: E - E0 - W + D
  double motion = 0.0;       // the motion's energy it is measured against, J
  bool capped = false;       // the tick reached its cap of internal steps
  int steps = 0;             // internal steps tried
  int stiffSteps = 0;        // of them, the additive pair's (stiff viscous friction)
  double stiffness = 0.0;    // of viscous friction at the tick's start, 1/s (the default step)

  // A divergence: a state that is not finite, or plainly unphysical.
  bool Diverged() const { return !finite || unphysical; }
};

// "the state diverged at tick 12 (t = 0.12 s): CAUSE; REMEDY", naming the step, what made the
// state diverge (the torques given, a fixed step too coarse for the motion, energy made by a step
// that gave up refining, the cap of the error-controlled step) and what helps.
std::string DivergenceMessage(const StepReport& report, uint64_t tick);

// "tick 2 (t = 0.02 s) reached the cap of internal steps per tick (STEP) and CONSEQUENCE; REMEDY":
// what the cap of that step is, what the tick did once it reached it, and what helps.
std::string CapMessage(const StepReport& report, uint64_t tick);

// "tick 2 (t = 0.02 s) left the energy balance off by 0.031 J, 1 of the motion's energy: CAUSE;
// REMEDY", for a report whose offBalance is set.
std::string BalanceMessage(const StepReport& report, uint64_t tick);

// What makes the balance go off with this step and what helps: "the fixed 0.01 s step (STEP) is
// too coarse for this motion; more substeps, or the error-controlled step (dopri5)".
std::string BalanceCause(const StepOptions& step);
