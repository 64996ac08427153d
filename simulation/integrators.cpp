#include "simulation/integrators.h"

void SubstepWork::Resize(int n) {
  const auto size = static_cast<std::size_t>(n);
  qs.resize(size);
  vs.resize(size);
  modes.Resize(n);
  search.Resize(n);
}

double FrictionTorque(const Robot& robot, double qd) {
  const double sign = qd > 0.0 ? 1.0 : qd < 0.0 ? -1.0 : 0.0;
  return qd * robot.viscousFriction + sign * robot.coulombFriction;
}

void FrictionKick(Equation& equation, Robot& robot, const double* tau,
                  const JointFriction& friction, double h, double* qd, double* qdd,
                  SubstepWork& work) {
  const auto n = static_cast<int>(robot.links.size());
  DecideModes(equation, tau, friction, h * robot.viscousFriction, h, qd, work.modes, qdd,
              work.search);
  const uint8_t* held = work.modes.held.data();
  for (int i = 0; i < n; ++i) {
    qd[i] = held[i] ? 0.0 : qdd[i] * h + qd[i];
  }
}

void ImplicitSubstep(Equation& equation, Robot& robot, const double* tau,
                     const JointFriction& friction, double h, const double* before, double* q,
                     double* qd, double* qdd, SubstepWork& work) {
  const auto n = static_cast<int>(robot.links.size());
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
