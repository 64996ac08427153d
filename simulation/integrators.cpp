#include "simulation/integrators.h"

namespace {

// Accelerations for the state (q, qd) under tau - F(qd), with the energies of the state when
// asked for.
void Accelerations(Equation& equation, Robot& robot, const matrix<double>& torque, const double* q,
                   const double* qd, double* qdd, SubstepWork& work, bool energies) {
  const auto n = static_cast<int>(robot.links.size());
  equation.Evaluate(robot, q, qd);
  if (energies) {
    work.kinetic = equation.KineticEnergy();
    work.potential = equation.PotentialEnergy();
  }
  for (int i = 0; i < n; ++i) {
    work.tau[i] = torque(static_cast<uint32_t>(i), 0) - FrictionTorque(robot, qd[i]);
  }
  equation.Solve(0.0, work.tau.data(), nullptr, qdd);
}

}  // namespace

void SubstepWork::Resize(int n) {
  const auto size = static_cast<std::size_t>(n);
  tau.resize(size);
  for (std::vector<double>& stage : k) {
    stage.resize(size);
  }
  qs.resize(size);
  vs.resize(size);
  locked.resize(size);
  sliding.resize(size);
}

double FrictionTorque(const Robot& robot, double qd) {
  const double sign = qd > 0.0 ? 1.0 : qd < 0.0 ? -1.0 : 0.0;
  return qd * robot.viscousFriction + sign * robot.coulombFriction;
}

void EulerSubstep(Equation& equation, Robot& robot, const matrix<double>& torque, double h,
                  double* q, double* qd, double* qdd, SubstepWork& work) {
  const auto n = static_cast<int>(robot.links.size());
  Accelerations(equation, robot, torque, q, qd, qdd, work, true);
  for (int i = 0; i < n; ++i) {
    qd[i] = qdd[i] * h + qd[i];
    q[i] = qd[i] * h + q[i];
  }
}

void FrictionKick(Equation& equation, Robot& robot, const matrix<double>& torque, double h,
                  double* qd, double* qdd, SubstepWork& work) {
  const auto n = static_cast<int>(robot.links.size());
  const double b = robot.viscousFriction;
  const double c = robot.coulombFriction;
  uint8_t* locked = work.locked.data();
  int8_t* sliding = work.sliding.data();
  const bool holds = c > 0.0;
  // A moving joint slides against its motion; a joint at rest is tried as held.
  for (int i = 0; i < n; ++i) {
    sliding[i] = static_cast<int8_t>(qd[i] > 0.0 ? 1 : qd[i] < 0.0 ? -1 : 0);
    locked[i] = holds && sliding[i] == 0;
  }
  // Trying every change at once settles in a few solves; should it ever cycle, changing only the
  // first joint that disagrees ends the search.
  const int allAtOnce = n + 2;
  const int limit = 4 * n + 8;
  for (int attempt = 0;; ++attempt) {
    for (int i = 0; i < n; ++i) {
      // tau - b qd - c sign for a sliding joint (without holding, the sign of qd, which sliding
      // keeps); a held one stops within the substep
      if (locked[i]) {
        qdd[i] = -qd[i] / h;
        work.tau[i] = 0.0;
      } else {
        work.tau[i] = torque(static_cast<uint32_t>(i), 0) - b * qd[i] - sliding[i] * c;
      }
    }
    equation.Solve(h * b, work.tau.data(), holds ? locked : nullptr, qdd);
    if (!holds || attempt == limit) {
      break;
    }
    bool settled = true;
    for (int i = 0; i < n; ++i) {
      bool change = false;
      if (locked[i]) {
        // The friction that holds it: what drives the joint beyond what its motion takes.
        const double f = torque(static_cast<uint32_t>(i), 0) - b * qd[i] - work.tau[i];
        if (f > c || f < -c) {
          change = true;
          if (settled || attempt < allAtOnce) {
            locked[i] = 0;
            sliding[i] = static_cast<int8_t>(f > c ? 1 : -1);
          }
        }
      } else if (sliding[i] * (qd[i] + h * qdd[i]) < 0.0) {
        change = true;
        if (settled || attempt < allAtOnce) {
          locked[i] = 1;
        }
      }
      settled = settled && !change;
    }
    if (settled) {
      break;
    }
  }
  for (int i = 0; i < n; ++i) {
    qd[i] = holds && locked[i] ? 0.0 : qdd[i] * h + qd[i];
  }
}

void ImplicitSubstep(Equation& equation, Robot& robot, const matrix<double>& torque, double h,
                     const double* before, double* q, double* qd, double* qdd, SubstepWork& work) {
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
  FrictionKick(equation, robot, torque, h, qd, qdd, work);
  // ... and the other half with the new velocity
  for (int i = 0; i < n; ++i) {
    q[i] = qd[i] * (0.5 * h) + middle[i];
  }
}

void Rk4Substep(Equation& equation, Robot& robot, const matrix<double>& torque, double h, double* q,
                double* qd, double* qdd, SubstepWork& work) {
  const auto n = static_cast<int>(robot.links.size());
  double* qs = work.qs.data();
  double* vs = work.vs.data();
  // k1 at (q, qd); k2 at (q + h/2 qd, qd + h/2 k1); k3 at (q + h/2 v2, qd + h/2 k2);
  // k4 at (q + h v3, qd + h k3)
  Accelerations(equation, robot, torque, q, qd, work.k[0].data(), work, true);
  for (int i = 0; i < n; ++i) {
    qs[i] = q[i] + 0.5 * h * qd[i];
    vs[i] = qd[i] + 0.5 * h * work.k[0][i];
  }
  Accelerations(equation, robot, torque, qs, vs, work.k[1].data(), work, false);
  // q' accumulates qd + 2 v2 + 2 v3 + v4 in qdd's place until the end
  for (int i = 0; i < n; ++i) {
    qdd[i] = qd[i] + 2.0 * vs[i];
    qs[i] = q[i] + 0.5 * h * vs[i];
    vs[i] = qd[i] + 0.5 * h * work.k[1][i];
  }
  Accelerations(equation, robot, torque, qs, vs, work.k[2].data(), work, false);
  for (int i = 0; i < n; ++i) {
    qdd[i] = qdd[i] + 2.0 * vs[i];
    qs[i] = q[i] + h * vs[i];
    vs[i] = qd[i] + h * work.k[2][i];
  }
  Accelerations(equation, robot, torque, qs, vs, work.k[3].data(), work, false);
  for (int i = 0; i < n; ++i) {
    const double velocitySum = qdd[i] + vs[i];
    qdd[i] = (work.k[0][i] + 2.0 * work.k[1][i] + 2.0 * work.k[2][i] + work.k[3][i]) / 6.0;
    q[i] = q[i] + h / 6.0 * velocitySum;
    qd[i] = qd[i] + h * qdd[i];
  }
}
