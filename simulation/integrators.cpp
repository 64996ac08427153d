#include "simulation/integrators.h"

#include <algorithm>
#include <cmath>

void SubstepWork::Resize(int n) {
  const auto size = static_cast<std::size_t>(n);
  qs.resize(size);
  vs.resize(size);
  modes.Resize(n);
  search.Resize(n);
  impact.Resize(n);
}

double FrictionTorque(const Robot& robot, std::size_t i, double qd) {
  const double sign = qd > 0.0 ? 1.0 : qd < 0.0 ? -1.0 : 0.0;
  return qd * JointViscous(robot, i) + sign * JointCoulomb(robot, i);
}

void FrictionKick(Equation& equation, Robot& robot, const double* tau,
                  const JointFriction& friction, double h, double* qd, double* qdd,
                  SubstepWork& work) {
  const auto n = static_cast<int>(robot.links.size());
  DecideModes(equation, tau, friction, h, qd, work.modes, qdd, work.search);
  const uint8_t* held = work.modes.held.data();
  for (int i = 0; i < n; ++i) {
    qd[i] = held[i] ? 0.0 : qdd[i] * h + qd[i];
  }
}

void ImplicitSubstep(Equation& equation, Robot& robot, const double* tau,
                     const JointFriction& friction, const JointLimits& limits, double h,
                     const double* before, double* q, double* qd, double* qdd, SubstepWork& work) {
  const auto n = static_cast<int>(robot.links.size());
  if (limits.any) {
    MarkLimits(limits, q, work.modes.limit.data());
  } else {
    std::fill(work.modes.limit.begin(), work.modes.limit.end(), 0);
  }
  double* middle = work.qs.data();
  double* velocity = work.vs.data();
  // q drifts half the substep with qd; the kick's velocity terms are those of the velocity the
  // acceleration before foretells for the middle of the substep.
  for (int i = 0; i < n; ++i) {
    middle[i] = qd[i] * (0.5 * h) + q[i];
    velocity[i] = before[i] * (0.5 * h) + qd[i];
  }
  equation.Evaluate(robot, middle, velocity);
  FrictionKick(equation, robot, tau, friction, h, qd, qdd, work);
  // ... and the other half with the new velocity; the torques and friction work over the move.
  const double* b = friction.viscous.data();
  const double* f = work.search.force.data();
  work.work = 0.0;
  work.dissipated = 0.0;
  for (int i = 0; i < n; ++i) {
    const double start = q[i];
    q[i] = qd[i] * (0.5 * h) + middle[i];
    work.work += tau[i] * (q[i] - start);
    work.dissipated += (b[i] * qd[i] + f[i]) * (q[i] - start);
  }
}

double LimitOnPath(const JointLimits& limits, const double* q0, const double* qd0, const double* q,
                   const double* qd, double h) {
  double first = 1.0;
  for (std::size_t i = 0; i < limits.lower.size(); ++i) {
    // The path's middle, as the substep drifted to it, and each limit it passes: in the first half
    // at q0 + qd0 t, in the second at middle + qd (t - h/2).
    const double middle = qd0[i] * (0.5 * h) + q0[i];
    const struct {
      double limit, side;
    } limitsOf[] = {{limits.lower[i], -1.0}, {limits.upper[i], 1.0}};
    for (const auto& [limit, side] : limitsOf) {
      double t = 0.0;
      if (!std::isfinite(limit)) {
        continue;
      } else if (side * (middle - limit) > 0.0) {
        t = (limit - q0[i]) / qd0[i];
      } else if (side * (q[i] - limit) > 0.0) {
        t = 0.5 * h + (limit - middle) / qd[i];
      } else {
        continue;  // the path stays short of it
      }
      first = std::min(first, std::max(t / h, 0.0));
    }
  }
  return first;
}
