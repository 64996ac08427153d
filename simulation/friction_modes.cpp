#include "simulation/friction_modes.h"

#include <algorithm>
#include <cmath>

#include "simulation/tick_torque.h"

void JointFriction::Fill(const Robot& robot) {
  const std::size_t n = robot.links.size();
  viscous.resize(n);
  coulomb.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    viscous[i] = JointViscous(robot, i);
    coulomb[i] = JointCoulomb(robot, i);
  }
}

void FrictionModes::Resize(int n) {
  held.assign(static_cast<std::size_t>(n), 0);
  sign.assign(static_cast<std::size_t>(n), 0);
  limit.assign(static_cast<std::size_t>(n), 0);
}

bool FrictionModes::AnyHeld() const {
  return std::find(held.begin(), held.end(), 1) != held.end();
}

void ModeSearch::Resize(int n) {
  rhs.resize(static_cast<std::size_t>(n));
  force.resize(static_cast<std::size_t>(n));
  armature.resize(static_cast<std::size_t>(n));
}

void DecideModes(Equation& equation, const double* tau, const JointFriction& friction, double h,
                 const double* qd, FrictionModes& modes, double* qdd, ModeSearch& search) {
  const auto n = static_cast<int>(friction.viscous.size());
  const double* b = friction.viscous.data();
  const double* c = friction.coulomb.data();
  uint8_t* held = modes.held.data();
  int8_t* sign = modes.sign.data();
  const uint8_t* limit = modes.limit.data();
  double* rhs = search.rhs.data();
  // The kick's viscous friction is implicit: its added inertia h b_i.
  double* armature = nullptr;
  if (h > 0.0) {
    armature = search.armature.data();
    for (int i = 0; i < n; ++i) {
      armature[i] = h * b[i];
    }
  }
  bool holds = false;
  // A moving joint slides against its motion; a joint at rest that friction or a limit can hold
  // is tried as held.
  for (int i = 0; i < n; ++i) {
    sign[i] = static_cast<int8_t>(qd[i] > 0.0 ? 1 : qd[i] < 0.0 ? -1 : 0);
    held[i] = (c[i] > 0.0 || limit[i] != 0) && sign[i] == 0;
    holds = holds || c[i] > 0.0 || limit[i] != 0;
  }
  // Trying every change at once settles in a few solves; should it ever cycle, changing only the
  // first joint that disagrees ends the search.
  const int allAtOnce = n + 2;
  const int tries = 4 * n + 8;
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
    if (!holds || attempt == tries) {
      break;
    }
    bool settled = true;
    for (int i = 0; i < n; ++i) {
      if (c[i] <= 0.0 && limit[i] == 0) {
        continue;
      }
      bool change = false;
      if (held[i]) {
        // The friction that holds it: what drives the joint beyond what its motion takes. A limit
        // takes all of it on its own side: the joint leaves only away from it.
        const double f = tau[i] - b[i] * qd[i] - rhs[i];
        const bool up = f > c[i] && (limit[i] & kAtUpper) == 0;
        const bool down = f < -c[i] && (limit[i] & kAtLower) == 0;
        if (up || down) {
          change = true;
          if (settled || attempt < allAtOnce) {
            held[i] = 0;
            sign[i] = static_cast<int8_t>(up ? 1 : -1);
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
                           const JointLimits& limits, FrictionModes& modes)
    : equation_(equation),
      robot_(robot),
      friction_(friction),
      limits_(limits),
      modes_(modes),
      n_(static_cast<int>(robot.links.size())) {
  holding_.resize(static_cast<std::size_t>(n_));
  search_.Resize(n_);
  impact_.Resize(n_);
  settle_.resize(static_cast<std::size_t>(n_));
  viscousForce_.resize(static_cast<std::size_t>(n_));
  armature_.resize(static_cast<std::size_t>(n_));
  power_.resize(static_cast<std::size_t>(n_));
  damping_.resize(static_cast<std::size_t>(n_));
}

void ModeEquation::SetTorqueAt(TickTorque* torque, bool timed) {
  torqueAt_ = torque;
  timed_ = torque != nullptr && timed;
}

void ModeEquation::TorqueAt(const double* y, bool inMode) {
  if (torqueAt_ != nullptr) {
    tau_ = torqueAt_->At(timed_ ? y[2 * n_ + 2] : 0.0, y, y + n_,
                         inMode ? modes_.sign.data() : nullptr);
  }
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
  if (timed_) {
    dy[2 * n_ + 2] = 1.0;
  }
}

void ModeEquation::Rates(const double* y, double* dy) {
  const double* q = y;
  const double* qd = y + n_;
  double* qdd = dy + n_;
  const double* b = friction_.viscous.data();
  const double* c = friction_.coulomb.data();
  const uint8_t* held = modes_.held.data();
  TorqueAt(y, true);
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
  equation_.Solve(nullptr, rhs, anyHeld ? held : nullptr, qdd);
  for (int i = 0; i < n_; ++i) {
    dy[i] = qd[i];
    // tau - (M qdd + C qd + G) of a held joint; nothing of a sliding one
    holding_[i] = held[i] ? tau_[i] - rhs[i] : 0.0;
  }
  BalanceRates(y, dy);
}

void ModeEquation::Decide(double* y, double* dy) {
  double* q = y;
  double* qd = y + n_;
  if (limits_.any) {
    // A joint within the resolution of positions of a limit is at it: a stop a hair off its limit
    // would otherwise leave it sliding back into it in ever shorter steps.
    for (int i = 0; i < n_; ++i) {
      const double near = resolution_ * (1.0 + std::fabs(q[i]));
      if (std::fabs(q[i] - limits_.lower[i]) <= near) {
        q[i] = limits_.lower[i];
      } else if (std::fabs(q[i] - limits_.upper[i]) <= near) {
        q[i] = limits_.upper[i];
      }
    }
    // D += what the impact of joints at their limits takes, at these positions.
    y[2 * n_ + 1] += ImpactAt(equation_, robot_, limits_, q, qd, modes_.limit.data(), impact_);
  } else {
    std::fill(modes_.limit.begin(), modes_.limit.end(), 0);
    impact_.struck = false;
  }
  TorqueAt(y, false);
  equation_.Evaluate(robot_, q, qd);
  DecideModes(equation_, tau_, friction_, 0.0, qd, modes_, dy + n_, search_);
  // After an impact, the joints it left moving off a limit that their acceleration brings back at
  // once, within the resolution of positions, are at the accumulation point of their impacts: they
  // stop there too (joint_limits.h); then the modes are decided again. Each round stops one joint
  // more at least.
  for (int round = 0; impact_.struck && round < n_; ++round) {
    const double* qdd = dy + n_;
    bool any = false;
    for (int i = 0; i < n_; ++i) {
      const uint8_t at = modes_.limit[i];
      const double away = at == kAtUpper ? -1.0 : at == kAtLower ? 1.0 : 0.0;
      settle_[i] = away * qd[i] > 0.0 && away * qdd[i] < 0.0 &&
                   qd[i] * qd[i] <= -2.0 * away * qdd[i] * resolution_ * (1.0 + std::fabs(q[i]));
      any = any || settle_[i] != 0;
    }
    if (!any) {
      break;
    }
    equation_.Evaluate(robot_, q, qd);
    y[2 * n_ + 1] +=
        ResolveImpacts(equation_, modes_.limit.data(), n_, qd, impact_, settle_.data());
    TorqueAt(y, false);
    equation_.Evaluate(robot_, q, qd);
    DecideModes(equation_, tau_, friction_, 0.0, qd, modes_, dy + n_, search_);
  }
  const uint8_t* held = modes_.held.data();
  for (int i = 0; i < n_; ++i) {
    dy[i] = qd[i];
    holding_[i] = held[i] ? search_.force[i] : 0.0;
  }
  BalanceRates(y, dy);
}

double ModeEquation::SoonestStop(const double* y, const double* dy) const {
  const double* c = friction_.coulomb.data();
  double soonest = INFINITY;
  for (int i = 0; i < n_; ++i) {
    const double s = modes_.sign[i];
    if (!modes_.held[i] && c[i] > 0.0 && s * dy[n_ + i] < 0.0) {
      soonest = std::min(soonest, -s * y[n_ + i] / (s * dy[n_ + i]));
    }
  }
  return soonest;
}

void ModeEquation::StageIterate(const double* y, const double* r, double a, double* v) {
  const double* b = friction_.viscous.data();
  const double* c = friction_.coulomb.data();
  const uint8_t* held = modes_.held.data();
  TorqueAt(y, true);
  equation_.Evaluate(robot_, y, v);
  const double* slope = torqueAt_ != nullptr ? torqueAt_->ViscousSlope() : nullptr;
  if (slope == nullptr) {
    // (M + a B) x = tau - C v - G - c s - B r; a held joint stays at rest.
    for (int i = 0; i < n_; ++i) {
      viscousForce_[i] = held[i] ? 0.0 : tau_[i] - c[i] * modes_.sign[i] - b[i] * r[i];
      armature_[i] = a * b[i];
      power_[i] = 0.0;
    }
  } else {
    // The torques hold a viscous part S qd that cancels some of the arm's own (a controller's
    // friction model): the iteration's Jacobian takes the rest, D = max(B - S, 0),
    //   (M + a D) x = tau - C v - G - c s - B v + D (v - r).
    for (int i = 0; i < n_; ++i) {
      const double d = std::max(b[i] - slope[i], 0.0);
      viscousForce_[i] =
          held[i] ? 0.0 : tau_[i] - c[i] * modes_.sign[i] - b[i] * v[i] + d * (v[i] - r[i]);
      armature_[i] = a * d;
      power_[i] = 0.0;
    }
  }
  const bool anyHeld = modes_.AnyHeld();
  equation_.Solve(armature_.data(), viscousForce_.data(), anyHeld ? held : nullptr, power_.data());
  for (int i = 0; i < n_; ++i) {
    v[i] = held[i] ? 0.0 : r[i] + a * power_[i];
  }
}

double ModeEquation::ViscousStiffness(const double* q) {
  // The damping the torques do not cancel (a controller's friction model may cancel the arm's).
  const double* b = friction_.viscous.data();
  if (const double* slope = torqueAt_ != nullptr ? torqueAt_->ViscousSlope() : nullptr) {
    for (int i = 0; i < n_; ++i) {
      damping_[i] = std::max(b[i] - slope[i], 0.0);
    }
    b = damping_.data();
  }
  bool damped = false;
  for (int i = 0; i < n_; ++i) {
    power_[i] = b[i] > 0.0 ? 1.0 : 0.0;
    damped = damped || b[i] > 0.0;
  }
  if (!damped) {
    return 0.0;
  }
  equation_.Evaluate(robot_, q, power_.data());
  // x <- B^1/2 M^-1 B^1/2 x; its Rayleigh quotient x . S x / x . x.
  double rate = 0.0;
  for (int iteration = 0; iteration < 4; ++iteration) {
    double before = 0.0;
    for (int i = 0; i < n_; ++i) {
      viscousForce_[i] = std::sqrt(b[i]) * power_[i];
      before += power_[i] * power_[i];
    }
    equation_.Impulse(nullptr, viscousForce_.data(), nullptr, armature_.data());
    double along = 0.0, size = 0.0;
    for (int i = 0; i < n_; ++i) {
      const double next = std::sqrt(b[i]) * armature_[i];
      along += power_[i] * next;
      size += next * next;
      power_[i] = next;
    }
    rate = along / before;
    if (!(size > 0.0)) {
      break;
    }
    const double scale = 1.0 / std::sqrt(size);
    for (int i = 0; i < n_; ++i) {
      power_[i] *= scale;
    }
  }
  return std::isfinite(rate) ? rate : 0.0;
}

void ModeEquation::ExplicitRates(const double* y, double* dy) {
  TorqueAt(y, true);
  for (int i = 0; i < n_; ++i) {
    dy[i] = y[n_ + i];
    dy[n_ + i] = 0.0;
  }
  BalanceRates(y, dy);
}
