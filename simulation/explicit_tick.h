// A tick of an explicit method on the equation in friction modes: its steps, each cut short at the
// earliest event inside it (events.h), after which the modes are decided again and the tick goes
// on from there. The fixed-step methods (Euler, RK4) take the tick in equal substeps, an event
// splitting the substep it falls in; Dormand-Prince takes steps as long as its tolerance allows,
// the step size carried from tick to tick (the last step of a tick is cut to land on the tick's
// end without shrinking the size carried on).
//
// The internal steps of a tick are capped. The fixed-step methods locate at most `cap` events per
// tick; once they run out, the rest of the tick is one step whose sliding joints stop at its end if
// their velocity passed 0, and whose joints past a limit are put at it and stopped there by their
// impact. The error-controlled tick accepts no step without its error estimate; its tries are
// capped as AdaptiveTick says. Such a tick reports that it was capped: its accuracy is the cap's,
// not the tolerance's.
#pragma once

#include <functional>
#include <vector>

#include "simulation/events.h"
#include "simulation/friction_modes.h"
#include "simulation/runge_kutta.h"

struct TickOutcome {
  int steps = 0;           // internal steps tried (pieces of substeps, rejected steps included)
  int stiffSteps = 0;      // of them, steps of the additive pair
  double stiffness = 0.0;  // of viscous friction at the tick's start, 1/s
  bool capped = false;     // the cap was reached: the tick is less accurate than asked
  bool gaveUp = false;     // the tick was given up before its end
};

// Working values of a tick, sized for a system of `size` values and n joints.
struct TickWork {
  void Resize(int size, int n);

  std::vector<double> y1, k1;
  std::vector<double> holdingEnd;
  EventWork events;
};

// y and k: the state (W and D counting from 0 at the tick's start) and its rates in the modes
// decided there, holding the held joints' holding torques there; all three are left as at the
// tick's end. The equation's last evaluation may be of a state inside the
// last step.
// giveUp, when given, is asked before every step: true ends the tick there (gaveUp), its state
// left mid-tick for the caller to discard.
TickOutcome FixedTick(StepMethod& method, ModeEquation& f, double duration, int substeps, int cap,
                      double* y, double* k, std::vector<double>& holding, TickWork& work,
                      const std::function<bool()>& giveUp = {});

// The same with error control: at least `substeps` steps, step the size carried in and out (0:
// none yet, a starting step is chosen). Dormand-Prince takes the steps that viscous friction
// leaves within its stability, the additive pair (stiff) the others: a step longer than
// kStiffStep / the stiffness of viscous friction given (ModeEquation::ViscousStiffness, 1/s),
// unless the additive pair itself asked for a shorter one in this tick. Every step is accepted on
// its error estimate; when
// the tries reach twice the cap, the rest of the tick loosens its tolerance 100 times (at most to
// 1e-2) for each further twice the cap, and after eight times the cap one step of the additive
// pair ends the tick; such a tick reports that it was capped.
TickOutcome AdaptiveTick(Dopri5Method& method, ImexMethod& stiff, ModeEquation& f, double duration,
                         int substeps, int cap, double& step, double stiffness, double* y,
                         double* k, std::vector<double>& holding, TickWork& work,
                         const std::function<bool()>& giveUp = {});
