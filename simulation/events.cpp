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
  // Held joints: g = c_i - |f_i|, the least of them, known at both ends; a break-away before the
  // earliest stop is looked for where the end shows one.
  if (!modes.AnyHeld()) {
    return best;
  }
  const auto margin = [&](const std::vector<double>& holding) {
    double least = INFINITY;
    for (int i = 0; i < n; ++i) {
      if (modes.held[i]) {
        least = std::min(least, c[i] - std::fabs(holding[i]));
      }
    }
    return least;
  };
  const double atEnd = margin(holdingEnd);
  if (atEnd >= 0.0) {
    return best;
  }
  const auto g = [&](double theta) {
    extension.State(theta, work.y.data());
    equation.Rates(work.y.data(), work.dy.data());
    return margin(equation.Holding());
  };
  double hi = 1.0, ghi = atEnd;
  if (best.theta < 1.0) {
    ghi = g(best.theta);
    if (ghi >= 0.0) {
      return best;
    }
    hi = best.theta;
  }
  const double start = std::max(margin(holdingStart), 0.0);
  // Which joints break away, the decision that follows finds.
  return {EventKind::kBreakAway, -1, Illinois(g, 0.0, start, hi, ghi, kBreakAwayTolerance)};
}

void Apply(const Event& event, int n, double* y) {
  if (event.kind == EventKind::kStop) {
    y[n + event.joint] = 0.0;
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
