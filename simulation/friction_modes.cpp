#include "simulation/friction_modes.h"

#include <algorithm>

void JointFriction::Fill(const Robot& robot) {
  const std::size_t n = robot.links.size();
  viscous.assign(n, robot.viscousFriction);
  coulomb.assign(n, robot.coulombFriction);
}

void FrictionModes::Resize(int n) {
  held.assign(static_cast<std::size_t>(n), 0);
  sign.assign(static_cast<std::size_t>(n), 0);
}

bool FrictionModes::AnyHeld() const {
  return std::find(held.begin(), held.end(), 1) != held.end();
}

void ModeSearch::Resize(int n) {
  rhs.resize(static_cast<std::size_t>(n));
  force.resize(static_cast<std::size_t>(n));
}

void DecideModes(Equation& equation, const double* tau, const JointFriction& friction,
                 double armature, double h, const double* qd, FrictionModes& modes, double* qdd,
                 ModeSearch& search) {
  const auto n = static_cast<int>(friction.viscous.size());
  const double* b = friction.viscous.data();
  const double* c = friction.coulomb.data();
  uint8_t* held = modes.held.data();
  int8_t* sign = modes.sign.data();
  double* rhs = search.rhs.data();
  bool holds = false;
  // A moving joint slides against its motion; a joint at rest that friction can hold is tried as
  // held.
  for (int i = 0; i < n; ++i) {
    sign[i] = static_cast<int8_t>(qd[i] > 0.0 ? 1 : qd[i] < 0.0 ? -1 : 0);
    held[i] = c[i] > 0.0 && sign[i] == 0;
    holds = holds || c[i] > 0.0;
  }
  // Trying every change at once settles in a few solves; should it ever cycle, changing only the
  // first joint that disagrees ends the search.
  const int allAtOnce = n + 2;
  const int limit = 4 * n + 8;
  for (int attempt = 0;; ++attempt) {
    for (int i = 0; i < n; ++i) {
      // tau - b qd - c s for a sliding joint; a held one stops within the kick, or stays at rest
      if (held[i]) {
        qdd[i] = h > 0.0 ? -qd[i] / h : 0.0;
        rhs[i] = 0.0;
      } else {
        rhs[i] = tau[i] - b[i] * qd[i] - sign[i] * c[i];
      }
    }
    equation.Solve(armature, rhs, holds ? held : nullptr, qdd);
    if (!holds || attempt == limit) {
      break;
    }
    bool settled = true;
    for (int i = 0; i < n; ++i) {
      if (c[i] <= 0.0) {
        continue;
      }
      bool change = false;
      if (held[i]) {
        // The friction that holds it: what drives the joint beyond what its motion takes.
        const double f = tau[i] - b[i] * qd[i] - rhs[i];
        if (f > c[i] || f < -c[i]) {
          change = true;
          if (settled || attempt < allAtOnce) {
            held[i] = 0;
            sign[i] = static_cast<int8_t>(f > c[i] ? 1 : -1);
          }
        }
      } else {
        // The velocity the kick ends with; at an instant, the direction a joint at rest takes.
        const double after = h > 0.0 ? qd[i] + h * qdd[i] : qd[i] != 0.0 ? qd[i] : qdd[i];
        if (sign[i] * after < 0.0) {
          change = true;
          if (settled || attempt < allAtOnce) {
            held[i] = 1;
          }
        }
      }
      settled = settled && !change;
    }
    if (settled) {
      break;
    }
  }
  for (int i = 0; i < n; ++i) {
    search.force[i] = held[i] ? tau[i] - b[i] * qd[i] - rhs[i] : sign[i] * c[i];
  }
}

ModeEquation::ModeEquation(Equation& equation, Robot& robot, const JointFriction& friction,
                           FrictionModes& modes)
    : equation_(equation),
      robot_(robot),
      friction_(friction),
      modes_(modes),
      n_(static_cast<int>(robot.links.size())) {
  holding_.resize(static_cast<std::size_t>(n_));
  search_.Resize(n_);
}

void ModeEquation::BalanceRates(const double* y, double* dy) const {
  const double* qd = y + n_;
  const double* b = friction_.viscous.data();
  const double* c = friction_.coulomb.data();
  double work = 0.0, dissipated = 0.0;
  for (int i = 0; i < n_; ++i) {
    work += tau_[i] * qd[i];
    dissipated += (b[i] * qd[i] + c[i] * modes_.sign[i]) * qd[i];
  }
  dy[2 * n_] = work;
  dy[2 * n_ + 1] = dissipated;
}

void ModeEquation::Rates(const double* y, double* dy) {
  const double* q = y;
  const double* qd = y + n_;
  double* qdd = dy + n_;
  const double* b = friction_.viscous.data();
  const double* c = friction_.coulomb.data();
  const uint8_t* held = modes_.held.data();
  equation_.Evaluate(robot_, q, qd);
  // qdd = solve(tau - b qd - c s) for the sliding joints; the held ones stay at rest.
  double* rhs = holding_.data();
  for (int i = 0; i < n_; ++i) {
    if (held[i]) {
      qdd[i] = 0.0;
      rhs[i] = 0.0;
    } else {
      rhs[i] = tau_[i] - b[i] * qd[i] - c[i] * modes_.sign[i];
    }
  }
  const bool anyHeld = modes_.AnyHeld();
  equation_.Solve(0.0, rhs, anyHeld ? held : nullptr, qdd);
  for (int i = 0; i < n_; ++i) {
    dy[i] = qd[i];
    // tau - (M qdd + C qd + G) of a held joint; nothing of a sliding one
    holding_[i] = held[i] ? tau_[i] - rhs[i] : 0.0;
  }
  BalanceRates(y, dy);
}

void ModeEquation::Decide(const double* y, double* dy) {
  const double* q = y;
  const double* qd = y + n_;
  equation_.Evaluate(robot_, q, qd);
  DecideModes(equation_, tau_, friction_, 0.0, 0.0, qd, modes_, dy + n_, search_);
  const uint8_t* held = modes_.held.data();
  for (int i = 0; i < n_; ++i) {
    dy[i] = qd[i];
    holding_[i] = held[i] ? search_.force[i] : 0.0;
  }
  BalanceRates(y, dy);
}
