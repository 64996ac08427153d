#include "simulation/explicit_tick.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// A last step of a tick at most this much longer than the step size is stretched to the end; a
// longer rest is taken in two equal steps.
constexpr double kStretch = 1.01;
// After an impact, a step ends this much past the soonest stop the rates predict.
constexpr double kPastStop = 1.5;
// A step times the stiffness of viscous friction beyond which the additive pair takes it:
// Dormand-Prince's stability interval on the negative real axis reaches about 3.3. Where the
// additive pair asked for a shorter step itself, the explicit pair goes on with steps up to
// kExplicitStep / the stiffness, and asks the additive pair again after kRetryStiff of them.
constexpr double kStiffStep = 2.0;
constexpr double kExplicitStep = 3.0;
constexpr int kRetryStiff = 8;
// The loosest tolerance a tick whose tries ran out keeps, and after how many tries (times the
// cap) one step of the additive pair, with its events, ends the tick whatever its error.
constexpr double kLoosest = 1e-2;
constexpr int kLastResort = 8;

// After a step from y to work.y1 (rates work.k1, holding torques work.holdingEnd): the state moves
// to the earliest event, which is applied and after which the modes are decided again, or to the
// step's end. Without events (the cap reached), sliding joints whose velocity passed 0 stop at
// the end, where the modes are decided again (and joints past a limit put at it, with their
// impact). Returns the fraction of the step taken.
double Advance(StepMethod& method, ModeEquation& f, bool events, double* y, double* k,
               std::vector<double>& holding, TickWork& work) {
  const std::size_t size = work.y1.size();
  if (events) {
    const Event event =
        FindEvent(method, f, y, work.y1.data(), holding, work.holdingEnd, work.events);
    if (event.kind != EventKind::kNone) {
      method.State(event.theta, y);
      Apply(event, f, y);
      f.Decide(y, k);
      holding = f.Holding();
      return event.theta;
    }
  }
  std::copy(work.y1.begin(), work.y1.end(), y);
  if (events) {
    std::copy(work.k1.begin(), work.k1.begin() + static_cast<std::ptrdiff_t>(size), k);
    holding = work.holdingEnd;
  } else {
    ApplyAtEnd(f, y);
    f.Decide(y, k);
    holding = f.Holding();
  }
  return 1.0;
}

}  // namespace

void TickWork::Resize(int size, int n) {
  y1.resize(static_cast<std::size_t>(size));
  k1.resize(static_cast<std::size_t>(size));
  holdingEnd.resize(static_cast<std::size_t>(n));
  events.Resize(size, n);
}

TickOutcome FixedTick(StepMethod& method, ModeEquation& f, double duration, int substeps, int cap,
                      double* y, double* k, std::vector<double>& holding, TickWork& work,
                      const std::function<bool()>& giveUp) {
  TickOutcome outcome;
  const double nominal = duration / substeps;
  for (int s = 0; s < substeps; ++s) {
    // The substep, or what an event left of it.
    for (double rest = nominal; rest > 0.0;) {
      if (giveUp && giveUp()) {
        outcome.gaveUp = true;
        return outcome;
      }
      const bool events = outcome.steps < substeps + cap;
      outcome.capped = outcome.capped || !events;
      method.Step(f, rest, y, k, work.y1.data(), work.k1.data());
      work.holdingEnd = f.Holding();
      ++outcome.steps;
      const double theta = Advance(method, f, events, y, k, holding, work);
      rest = theta >= 1.0 ? 0.0 : rest - theta * rest;
    }
  }
  return outcome;
}

TickOutcome AdaptiveTick(Dopri5Method& method, ImexMethod& stiff, ModeEquation& f, double duration,
                         int substeps, int cap, double& step, double stiffness, double* y,
                         double* k, std::vector<double>& holding, TickWork& work,
                         const std::function<bool()>& giveUp) {
  TickOutcome outcome;
  const double longest = duration / substeps;
  if (!(step > 0.0)) {
    method.Restart();
    stiff.Restart();
    step = method.StartingStep(f, y, k, longest);
  }
  outcome.stiffness = stiffness;
  // The tolerance the tick keeps: the one asked for, loosened where the tries run out.
  const double asked = method.Tolerance();
  double tolerance = asked;
  int allowed = 2 * cap;
  double stiffAsked = 0.0;  // the additive pair's own next step in this tick (0: none yet)
  int held = 0;             // explicit steps since, held at the limit of their stability
  for (double elapsed = 0.0; elapsed < duration;) {
    if (giveUp && giveUp()) {
      outcome.gaveUp = true;
      break;
    }
    if (outcome.steps >= allowed) {
      // The tries ran out: the rest of the tick keeps its error control and its events at a
      // looser tolerance (100 times, as far as kLoosest), and counts as capped.
      outcome.capped = true;
      tolerance = std::min(kLoosest, 100.0 * tolerance);
      allowed += 2 * cap;
      method.SetTolerance(tolerance);
      stiff.SetTolerance(tolerance);
      f.SetResolution(tolerance);
    }
    const bool lastResort = outcome.steps >= kLastResort * cap;
    const double remaining = duration - elapsed;
    double h = std::min(step, longest);
    // The last step lands on the tick's end: stretched a little, or the rest in two halves.
    bool last = false, cut = false;
    if (remaining <= kStretch * h || lastResort) {
      cut = remaining < h;
      h = remaining;
      last = true;
    } else if (remaining < 2.0 * h) {
      cut = true;
      h = 0.5 * remaining;
    }
    // After an impact, a joint the impulse set sliding against friction may stop again at once (a
    // light wrist, in nanoseconds): the step ends a little past the stop its rates predict rather
    // than straddle it, its length kept for the step after.
    bool predicted = false;
    if (f.Struck() && !lastResort) {
      const double stop = kPastStop * f.SoonestStop(y, k);
      if (stop > 0.0 && stop < h) {
        h = stop;
        last = false;
        cut = predicted = true;
      }
    }
    // Where the step would be beyond the explicit pair's stability under viscous friction, the
    // additive pair takes it, unless it asked for a step within that stability itself in this tick
    // (the motion, not the damping, sets the step): then the explicit pair, its step kept within
    // kExplicitStep / the stiffness.
    // After kRetryStiff such steps held at that limit, the additive pair is asked again.
    bool useStiff = h * stiffness > kStiffStep || lastResort;
    if (useStiff && !lastResort && stiffAsked > 0.0 && stiffAsked * stiffness <= kStiffStep) {
      useStiff = false;
      if (h * stiffness > kExplicitStep) {
        h = kExplicitStep / stiffness;
        last = false;
        cut = true;
        if (++held >= kRetryStiff) {
          stiffAsked = 0.0;
          held = 0;
        }
      }
    }
    StepMethod& used = useStiff ? static_cast<StepMethod&>(stiff) : method;
    const double err = used.Step(f, h, y, k, work.y1.data(), work.k1.data());
    ++outcome.steps;
    if (useStiff) {
      ++outcome.stiffSteps;
    }
    if (!(err <= 1.0) && !lastResort) {
      // Rejected, a step that is not a number too.
      step = useStiff ? stiff.NextStep(h, err, false) : method.NextStep(h, err, false);
      stiffAsked = useStiff ? step : stiffAsked;
      continue;
    }
    outcome.capped = outcome.capped || lastResort;
    const double next = useStiff ? stiff.NextStep(h, err, true) : method.NextStep(h, err, true);
    stiffAsked = useStiff ? next : stiffAsked;
    work.holdingEnd = f.Holding();
    // The last resort's events, too, run out after one cap more.
    const bool events = outcome.steps <= (kLastResort + 1) * cap;
    const double theta = Advance(used, f, events, y, k, holding, work);
    elapsed = theta >= 1.0 && last ? duration : elapsed + theta * h;
    step = cut ? std::max(step, next) : next;
  }
  if (tolerance != asked) {
    method.SetTolerance(asked);
    stiff.SetTolerance(asked);
    f.SetResolution(asked);
  }
  return outcome;
}
