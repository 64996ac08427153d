#include "control/trajectory.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The quintic's and the trapezoid's peak speed over their mean speed.
constexpr double kQuinticPeak = 15.0 / 8.0;
constexpr double kTrapezoidPeak = 1.5;

}  // namespace

ReferenceTrajectory::ReferenceTrajectory(TrajectoryKind kind, std::vector<double> from,
                                         std::vector<double> to, double duration,
                                         std::vector<double> amplitude, double period)
    : kind_(kind),
      from_(std::move(from)),
      to_(std::move(to)),
      amplitude_(std::move(amplitude)),
      duration_(duration),
      period_(period) {
  from_.resize(to_.size(), 0.0);
  amplitude_.resize(to_.size(), 0.0);
}

void ReferenceTrajectory::At(double t, double* q, double* qd, double* qdd) const {
  const int n = Size();
  t = std::max(t, 0.0);
  // The path's fraction s and its first and second derivatives in time, the same for every
  // component: q* = from + (to - from) s.
  double s = 1.0, ds = 0.0, dds = 0.0;
  if (kind_ == TrajectoryKind::kQuintic && t < duration_) {
    // s = 10 u^3 - 15 u^4 + 6 u^5, u = t / T
    const double T = duration_, u = t / T;
    s = u * u * u * (10.0 + u * (-15.0 + 6.0 * u));
    ds = u * u * (30.0 + u * (-60.0 + 30.0 * u)) / T;
    dds = u * (60.0 + u * (-180.0 + 120.0 * u)) / (T * T);
  } else if (kind_ == TrajectoryKind::kTrapezoid && t < duration_) {
    // a = 4.5 / T^2 for t < T/3, 0 up to 2T/3, -a after; the cruising speed is a T / 3.
    const double T = duration_, third = T / 3.0, a = 4.5 / (T * T);
    if (t < third) {
      s = 0.5 * a * t * t;
      ds = a * t;
      dds = a;
    } else if (t < 2.0 * third) {
      s = 0.5 * a * third * third + a * third * (t - third);
      ds = a * third;
    } else {
      const double left = T - t;
      s = 1.0 - 0.5 * a * left * left;
      ds = a * left;
      dds = -a;
    }
  }
  if (kind_ == TrajectoryKind::kSine) {
    // q* = to + a sin(w t), w = 2 pi / P
    const double w = 2.0 * M_PI / period_;
    const double sine = std::sin(w * t), cosine = std::cos(w * t);
    for (int i = 0; i < n; ++i) {
      if (q != nullptr) {
        q[i] = to_[i] + amplitude_[i] * sine;
      }
      if (qd != nullptr) {
        qd[i] = amplitude_[i] * w * cosine;
      }
      if (qdd != nullptr) {
        qdd[i] = -amplitude_[i] * w * w * sine;
      }
    }
    return;
  }
  for (int i = 0; i < n; ++i) {
    const double d = to_[i] - from_[i];
    if (q != nullptr) {
      q[i] = s >= 1.0 ? to_[i] : from_[i] + d * s;
    }
    if (qd != nullptr) {
      qd[i] = d * ds;
    }
    if (qdd != nullptr) {
      qdd[i] = d * dds;
    }
  }
}

double DefaultDuration(TrajectoryKind kind, const std::vector<double>& from,
                       const std::vector<double>& to, const std::vector<double>& speed) {
  const double peak = kind == TrajectoryKind::kTrapezoid ? kTrapezoidPeak : kQuinticPeak;
  double longest = kMinDuration;
  for (std::size_t i = 0; i < to.size() && i < from.size(); ++i) {
    const double v = i < speed.size() && speed[i] > 0.0 ? speed[i] : kModerateSpeed;
    longest = std::max(longest, peak * std::fabs(to[i] - from[i]) / v);
  }
  return longest;
}
