#include "simulation/events.h"

#include <algorithm>
#include <cmath>

namespace {

// The stop events' roots are found to the last bits of theta; a break-away's, each try an
// evaluation of the equation, to a billionth of the step.
constexpr double kStopTolerance = 4e-16;
constexpr double kBreakAwayTolerance = 1e-9;
constexpr int kMaxIterations = 100;
// A sliding joint's velocity is looked at in this many places of the step, so that a velocity
// that crosses 0 and comes back within it is not missed where the extension shows it.
constexpr int kStopSamples = 4;
// The holding margin's parabola is looked at in this many places of a step (an even number).
constexpr int kMarginPoints = 16;

// The first zero of g between lo (g(lo) = glo >= 0) and hi (g(hi) = ghi < 0) by the Illinois
// method (regula falsi that halves the kept end's value when the same end is kept twice); returns
// a point at or just past it (g < 0 there).
template <typename G>
double Illinois(const G& g, double lo, double glo, double hi, double ghi, double tolerance) {
  int kept = 0;  // +1: lo was kept last time, -1: hi was
  for (int k = 0; k < kMaxIterations && hi - lo > tolerance; ++k) {
    double at = (lo * ghi - hi * glo) / (ghi - glo);
    // Regula falsi's point can sit on an end in rounding; the middle then goes on.
    if (!(at > lo && at < hi)) {
      at = 0.5 * (lo + hi);
    }
    const double value = g(at);
    if (value < 0.0) {
      hi = at;
      ghi = value;
      if (kept == -1) {
        glo *= 0.5;
      }
      kept = -1;
    } else {
      lo = at;
      glo = value;
      if (kept == 1) {
        ghi *= 0.5;
      }
      kept = 1;
    }
  }
  return hi;
}

// The earliest place in the step where a moving joint reaches a limit, if before best: the first
// zero of g = min(upper - q_i, q_i - lower) on the extension, sampled as the stops are, and where
// the joint's velocity turns between two samples (toward a limit, then away), at the turning point
// too, where the position comes nearest the limit.
void FindLimit(const Extension& extension, const JointLimits& limits, const FrictionModes& modes,
               int n, const double* y0, const double* y1, Event& best) {
  for (int i = 0; i < n; ++i) {
    const double lower = limits.lower[i], upper = limits.upper[i];
    if (modes.held[i] || (lower == -INFINITY && upper == INFINITY)) {
      continue;
    }
    // A joint that starts at a limit moving off it cannot reach that limit again before it turns
    // back: until a sample shows it turned, only the other limit counts (the extension may stray
    // past the one it leaves by its own error).
    const double away = y0[i] == upper ? -1.0 : y0[i] == lower ? 1.0 : 0.0;
    bool leaving = away * y0[n + i] > 0.0;
    const auto distance = [&](double q) {
      return !leaving ? std::min(upper - q, q - lower) : away > 0.0 ? upper - q : q - lower;
    };
    const auto g = [&](double theta) { return distance(extension.Component(i, theta)); };
    double lo = 0.0, glo = distance(y0[i]), vlo = y0[n + i];
    for (int k = 1; k <= kStopSamples && lo < best.theta; ++k) {
      const double theta = static_cast<double>(k) / kStopSamples;
      const double q = k == kStopSamples ? y1[i] : extension.Component(i, theta);
      const double v = k == kStopSamples ? y1[n + i] : extension.Component(n + i, theta);
      if (leaving && away * v <= 0.0) {
        // Turned back between the last sample and this one: from the turn on, both limits count.
        const auto speed = [&](double t) { return away * extension.Component(n + i, t); };
        lo = Illinois(speed, lo, away * vlo, theta, away * v, kStopTolerance);
        leaving = false;
        glo = std::max(distance(extension.Component(i, lo)), 0.0);
        vlo = extension.Component(n + i, lo);
      }
      const double at = distance(q);
      double value = at, hi = theta;
      if (at >= 0.0 && ((vlo > 0.0 && v < 0.0 && upper < INFINITY) ||
                        (vlo < 0.0 && v > 0.0 && lower > -INFINITY))) {
        // The turning point, where s qd_i (s the direction before it) reaches 0.
        const double s = vlo > 0.0 ? 1.0 : -1.0;
        const auto speed = [&](double t) { return s * extension.Component(n + i, t); };
        hi = Illinois(speed, lo, s * vlo, theta, s * v, kStopTolerance);
        value = g(hi);
      }
      if (value < 0.0) {
        const double root = Illinois(g, lo, std::max(glo, 0.0), hi, value, kStopTolerance);
        if (root < best.theta) {
          best = {EventKind::kLimit, i, root};
        }
        break;
      }
      lo = theta;
      glo = at;
      vlo = v;
    }
  }
}

}  // namespace

void EventWork::Resize(int size, int /*n*/) {
  y.resize(static_cast<std::size_t>(size));
  dy.resize(static_cast<std::size_t>(size));
}

Event FindEvent(const Extension& extension, ModeEquation& equation, const double* y0,
                const double* y1, const std::vector<double>& holdingStart,
                const std::vector<double>& holdingEnd, EventWork& work) {
  const int n = equation.Joints();
  const FrictionModes& modes = equation.Modes();
  const double* c = equation.Friction().coulomb.data();
  Event best;
  // Sliding joints: g = s qd_i on the extension.
  for (int i = 0; i < n; ++i) {
    const double s = modes.sign[i];
    if (modes.held[i] || c[i] <= 0.0 || s == 0.0) {
      continue;
    }
    const auto g = [&](double theta) { return s * extension.Component(n + i, theta); };
    double lo = 0.0, glo = s * y0[n + i];
    for (int k = 1; k <= kStopSamples; ++k) {
      const double theta = static_cast<double>(k) / kStopSamples;
      if (lo >= best.theta) {
        break;
      }
      const double value = k == kStopSamples ? s * y1[n + i] : g(theta);
      if (value < 0.0) {
        const double root = Illinois(g, lo, std::max(glo, 0.0), theta, value, kStopTolerance);
        if (root < best.theta) {
          best = {EventKind::kStop, i, root};
        }
        break;
      }
      lo = theta;
      glo = value;
    }
  }
  const JointLimits& limits = equation.Limits();
  if (limits.any) {
    FindLimit(extension, limits, modes, n, y0, y1, best);
  }
  // Held joints: g = c_i - |f_i| (one-sided at a limit), the least of them, known at both ends; a
  // break-away before the earliest stop is looked for where the end shows one.
  if (!modes.AnyHeld()) {
    return best;
  }
  const auto margin = [&](const std::vector<double>& holding) {
    double least = INFINITY;
    for (int i = 0; i < n; ++i) {
      if (modes.held[i]) {
        const uint8_t at = modes.limit[i];
        const double f = holding[i];
        const double g = at == (kAtLower | kAtUpper) ? INFINITY
                         : at == kAtUpper            ? c[i] + f
                         : at == kAtLower            ? c[i] - f
                                                     : c[i] - std::fabs(f);
        least = std::min(least, g);
      }
    }
    return least;
  };
  const auto g = [&](double theta) {
    extension.State(theta, work.y.data());
    equation.Rates(work.y.data(), work.dy.data());
    return margin(equation.Holding());
  };
  // The margin at the step's ends and in its middle (one evaluation and solve), and between them
  // on the parabola through the three, so that a holding torque that exceeds what holds it for a
  // part of the step is seen where the parabola dips below 0 (and then evaluated there). While
  // every joint is held nothing moves within the step, and its ends tell all.
  bool moving = false;
  for (int i = 0; i < n; ++i) {
    moving = moving || modes.held[i] == 0;
  }
  const double start = std::max(margin(holdingStart), 0.0), end = margin(holdingEnd);
  const double middle = moving ? g(0.5) : end;
  const auto parabola = [&](double theta) {
    return start * (1.0 - theta) * (1.0 - 2.0 * theta) + middle * 4.0 * theta * (1.0 - theta) +
           end * theta * (2.0 * theta - 1.0);
  };
  double lo = 0.0, glo = start, hi = -1.0, ghi = 0.0;
  for (int j = 1; j <= kMarginPoints && hi < 0.0; ++j) {
    const double theta = static_cast<double>(j) / kMarginPoints;
    if (theta >= best.theta) {
      break;
    }
    const double known = j == kMarginPoints ? end : j == kMarginPoints / 2 ? middle : NAN;
    const double at = !std::isnan(known) ? known : parabola(theta) < 0.0 ? g(theta) : INFINITY;
    if (at < 0.0) {
      hi = theta;
      ghi = at;
    } else if (at != INFINITY) {
      lo = theta;
      glo = at;
    }
  }
  // A break-away before the earliest stop, where the end shows one and no place before it did.
  if (hi < 0.0 && end < 0.0 && best.theta < 1.0) {
    const double atBest = g(best.theta);
    if (atBest < 0.0) {
      hi = best.theta;
      ghi = atBest;
    }
  } else if (hi < 0.0 && end < 0.0) {
    hi = 1.0;
    ghi = end;
  }
  if (hi < 0.0) {
    return best;
  }
  // Which joints break away, the decision that follows finds.
  return {EventKind::kBreakAway, -1,
          Illinois(g, lo, std::max(glo, 0.0), hi, ghi, kBreakAwayTolerance)};
}

void Apply(const Event& event, const ModeEquation& equation, double* y) {
  const int n = equation.Joints();
  const int i = event.joint;
  if (event.kind == EventKind::kStop) {
    y[n + i] = 0.0;
  } else if (event.kind == EventKind::kLimit) {
    // The limit the joint crossed: at the root it is there, the other one a range away.
    const JointLimits& limits = equation.Limits();
    const bool upper = std::fabs(y[i] - limits.upper[i]) <= std::fabs(y[i] - limits.lower[i]);
    y[i] = upper ? limits.upper[i] : limits.lower[i];
  }
}

void ApplyAtEnd(ModeEquation& equation, double* y) {
  const int n = equation.Joints();
  const FrictionModes& modes = equation.Modes();
  const double* c = equation.Friction().coulomb.data();
  for (int i = 0; i < n; ++i) {
    if (!modes.held[i] && c[i] > 0.0 && modes.sign[i] * y[n + i] < 0.0) {
      y[n + i] = 0.0;
    }
  }
}
