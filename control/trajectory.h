// The reference a controller follows: q*(t), qd*(t), qdd*(t) of every component (a joint, or an
// axis of a frame's position) from t = 0, when it starts at `from`, towards `to`:
//
//   step       q* = to from the start, at rest
//   quintic    q* = from + (to - from) s(t / T), s(u) = 10 u^3 - 15 u^4 + 6 u^5: rest to rest with
//              zero acceleration at both ends, the path of least jerk; at `to` from T on
//   trapezoid  the velocity rises at a constant acceleration for T/3, cruises at 1.5 (to - from)/T
//              for T/3 and falls to 0 over the last T/3; at `to` from T on
//   sine       q* = to + a sin(2 pi t / P), about the target, amplitude a and period P
//
// Every component of a quintic or trapezoid shares the duration T, so that they arrive together.
#pragma once

#include <vector>

#include "control/control_settings.h"

// A moderate speed for the default duration: of a turning joint (rad/s), and of a sliding joint
// or a frame's position (m/s); no default duration is shorter than kMinDuration.
inline constexpr double kModerateSpeed = 1.0;
inline constexpr double kModerateSlideSpeed = 0.2;
inline constexpr double kMinDuration = 0.5;

class ReferenceTrajectory {
 public:
  ReferenceTrajectory() = default;
  // duration: T of a quintic or trapezoid, > 0; amplitude and period: the sine's (amplitude one
  // value per component).
  ReferenceTrajectory(TrajectoryKind kind, std::vector<double> from, std::vector<double> to,
                      double duration, std::vector<double> amplitude, double period);

  TrajectoryKind Kind() const { return kind_; }
  int Size() const { return static_cast<int>(to_.size()); }
  double Duration() const { return duration_; }

  // q*, qd* and qdd* at time t since the start (before it: at the start); any may be null.
  void At(double t, double* q, double* qd, double* qdd) const;

 private:
  TrajectoryKind kind_ = TrajectoryKind::kStep;
  std::vector<double> from_, to_, amplitude_;
  double duration_ = 0.0;
  double period_ = kDefaultPeriod;
};

// The duration a quintic or trapezoid from `from` to `to` takes by default: its largest
// component's distance covered at a peak speed of speed[i] (the quintic's peak speed is 15/8 of
// its mean, the trapezoid's 3/2), and no less than kMinDuration.
double DefaultDuration(TrajectoryKind kind, const std::vector<double>& from,
                       const std::vector<double>& to, const std::vector<double>& speed);
