#include "simulation/explicit_tick.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// A last step of a tick at most this much longer than the step size is stretched to the end; a
// longer rest is taken in two equal steps.
constexpr double kStretch = 1.01;

// After a step from y to work.y1 (rates work.k1, holding torques work.holdingEnd): the state moves
// to the earliest event, which is applied and after which the modes are decided again, or to the
// step's end. Without events (the cap reached), sliding joints whose velocity passed 0 stop at
// the end, where the modes are decided again. Returns the fraction of the step taken.
double Advance(StepMethod& method, ModeEquation& f, bool events, double* y, double* k,
               std::vector<double>& holding, TickWork& work) {
  const int n = f.Joints();
  const std::size_t size = work.y1.size();
  if (events) {
    const Event event =
        FindEvent(method, f, y, work.y1.data(), holding, work.holdingEnd, work.events);
    if (event.kind != EventKind::kNone) {
      method.State(event.theta, y);
      Apply(event, n, y);
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

TickOutcome AdaptiveTick(Dopri5Method& method, ModeEquation& f, double duration, int substeps,
                         int cap, double& step, double* y, double* k, std::vector<double>& holding,
                         TickWork& work, const std::function<bool()>& giveUp) {
  TickOutcome outcome;
  const double longest = duration / substeps;
  const double shortest = duration / cap;
  if (!(step > 0.0)) {
    method.Restart();
    step = method.StartingStep(f, y, k, longest);
  }
  for (double elapsed = 0.0; elapsed < duration;) {
    if (giveUp && giveUp()) {
      outcome.gaveUp = true;
      return outcome;
    }
    const double remaining = duration - elapsed;
    double h = std::min(step, longest);
    // The last step lands on the tick's end: stretched a little, or the rest in two halves.
    bool last = false, cut = false;
    if (remaining <= kStretch * h) {
      cut = remaining < h;
      h = remaining;
      last = true;
    } else if (remaining < 2.0 * h) {
      cut = true;
      h = 0.5 * remaining;
    }
    // No step is shorter than the cap permits: one that is, is taken at that length whatever its
    // error. Once the steps tried reach twice the cap, one step ends the tick.
    const bool events = outcome.steps < 2 * cap;
    bool forced = !events;
    if (!events) {
      h = remaining;
      last = true;
    } else if (h < shortest) {
      last = remaining <= shortest;
      h = last ? remaining : shortest;
      forced = true;
    }
    const double err = method.Step(f, h, y, k, work.y1.data(), work.k1.data());
    ++outcome.steps;
    if (err > 1.0 && !forced) {
      step = method.NextStep(h, err, false);
      continue;
    }
    outcome.capped = outcome.capped || err > 1.0 || !events;
    const double next = method.NextStep(h, err, true);
    work.holdingEnd = f.Holding();
    const double theta = Advance(method, f, events, y, k, holding, work);
    elapsed = theta >= 1.0 && last ? duration : elapsed + theta * h;
    step = cut ? std::max(step, next) : next;
  }
  return outcome;
}
