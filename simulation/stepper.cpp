#include "simulation/stepper.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dynamics/dynamics.h"

Stepper::Stepper(Robot& robot, StepOptions options) : robot_(robot) {
  SetOptions(options);
  const std::size_t n = robot.links.size();
  work_.Resize(static_cast<int>(n));
  for (std::vector<double>* v : {&q_, &qd_, &qdd_, &change_, &savedQ_, &savedQd_, &lastQdd_}) {
    v->resize(n);
  }
  lastLocked_.resize(n);
  accel_ = matrix<double>(static_cast<uint32_t>(n), 1);
  torque_ = matrix<double>(static_cast<uint32_t>(n), 1);
}

void Stepper::SetOptions(StepOptions options) {
  options.substeps = std::clamp(options.substeps, 1, kMaxSubsteps);
  options_ = options;
}

Equation& Stepper::EngineEquation() {
  std::unique_ptr<Equation>& equation =
      equations_[options_.engine == EngineKind::kRecursive ? 1 : 0];
  if (!equation) {
    equation = MakeEquation(options_.engine, robot_);
  }
  return *equation;
}

bool Stepper::Unchanged() const {
  if (!left_ || options_.engine != leftOptions_.engine ||
      options_.integrator != leftOptions_.integrator) {
    return false;
  }
  for (uint32_t k = 0; k < 3; ++k) {
    if (robot_.gravity(k, 0) != leftGravity_[k]) {
      return false;
    }
  }
  for (std::size_t i = 0; i < q_.size(); ++i) {
    if (robot_.links[i]->q != q_[i] || robot_.links[i]->qd != qd_[i]) {
      return false;
    }
  }
  return true;
}

void Stepper::LoadState() {
  for (std::size_t i = 0; i < q_.size(); ++i) {
    q_[i] = robot_.links[i]->q;
    qd_[i] = robot_.links[i]->qd;
  }
}

void Stepper::StoreState(double kinetic, double potential) {
  for (std::size_t i = 0; i < q_.size(); ++i) {
    Link& link = *robot_.links[i];
    link.q = q_[i];
    link.qd = qd_[i];
  }
  robot_.kineticEnergy = kinetic;
  robot_.potentialEnergy = potential;
  left_ = true;
  leftOptions_ = options_;
  for (uint32_t k = 0; k < 3; ++k) {
    leftGravity_[k] = robot_.gravity(k, 0);
  }
}

void Stepper::BeginTick() {
  gaveUp_ = false;
  if (!giveUp_) {
    return;
  }
  startState_.clear();
  for (double Link::*field : {&Link::q, &Link::qd, &Link::qdd}) {
    for (const auto& link : robot_.links) {
      startState_.push_back((*link).*field);
    }
  }
  startState_.push_back(robot_.kineticEnergy);
  startState_.push_back(robot_.potentialEnergy);
}

bool Stepper::GiveUp() {
  if (!giveUp_ || !giveUp_()) {
    return false;
  }
  std::size_t k = 0;
  for (double Link::*field : {&Link::q, &Link::qd, &Link::qdd}) {
    for (const auto& link : robot_.links) {
      (*link).*field = startState_[k++];
    }
  }
  robot_.kineticEnergy = startState_[k++];
  robot_.potentialEnergy = startState_[k];
  gaveUp_ = true;
  left_ = false;
  return true;
}

const matrix<double>& Stepper::Forward(const matrix<double>& torque) {
  const auto n = static_cast<uint32_t>(q_.size());
  BeginTick();
  if (options_.engine == EngineKind::kClosedForm && options_.integrator == IntegratorKind::kEuler) {
    left_ = false;
    return ClosedFormEulerTick(torque);
  }
  if (torque.RowCount() != n || torque.ColCount() != 1) {
    MatrixFatal(kMatrixSubtractMessage);
  }
  const bool unchanged = Unchanged();
  LoadState();
  std::copy(qd_.begin(), qd_.end(), change_.begin());
  Equation& equation = EngineEquation();
  if (options_.integrator == IntegratorKind::kImplicit) {
    ImplicitTick(torque, equation, unchanged);
  } else {
    FixedTick(torque, equation);
  }
  if (gaveUp_) {
    return accel_;
  }
  if (accel_.RowCount() != n) {
    accel_ = matrix<double>(n, 1);
  }
  for (uint32_t i = 0; i < n; ++i) {
    // The tick's acceleration: the change of velocity over the tick.
    robot_.links[i]->qdd = accel_(i, 0) = (qd_[i] - change_[i]) / kTimeStep;
  }
  return accel_;
}

const matrix<double>& Stepper::ClosedFormEulerTick(const matrix<double>& torque) {
  // The closed form's own tick, ForwardDynamics then IntegrateStep, per substep; the energies are
  // those of the first substep's start.
  const int substeps = options_.substeps;
  const double h = kTimeStep / substeps;
  const auto n = static_cast<uint32_t>(q_.size());
  double kinetic = 0.0, potential = 0.0;
  std::fill(change_.begin(), change_.end(), 0.0);
  for (int s = 0; s < substeps; ++s) {
    if (GiveUp()) {
      return accel_;
    }
    accel_ = ForwardDynamics(robot_, torque);
    IntegrateStep(robot_, accel_, h);
    if (s == 0) {
      kinetic = robot_.kineticEnergy;
      potential = robot_.potentialEnergy;
    }
    for (uint32_t i = 0; i < n; ++i) {
      change_[i] += accel_(i, 0);
    }
  }
  lastSubsteps_ = substeps;
  if (substeps == 1) {
    return accel_;
  }
  accel_ = matrix<double>(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    robot_.links[i]->qdd = accel_(i, 0) = change_[i] / substeps;
  }
  robot_.kineticEnergy = kinetic;
  robot_.potentialEnergy = potential;
  return accel_;
}

void Stepper::FixedTick(const matrix<double>& torque, Equation& equation) {
  const int substeps = options_.substeps;
  const double h = kTimeStep / substeps;
  double kinetic = 0.0, potential = 0.0;
  for (int s = 0; s < substeps; ++s) {
    if (GiveUp()) {
      return;
    }
    if (options_.integrator == IntegratorKind::kEuler) {
      EulerSubstep(equation, robot_, torque, h, q_.data(), qd_.data(), qdd_.data(), work_);
    } else {
      Rk4Substep(equation, robot_, torque, h, q_.data(), qd_.data(), qdd_.data(), work_);
    }
    if (s == 0) {
      kinetic = work_.kinetic;
      potential = work_.potential;
    }
  }
  lastSubsteps_ = substeps;
  StoreState(kinetic, potential);
}

void Stepper::ImplicitTick(const matrix<double>& torque, Equation& equation, bool unchanged) {
  const auto n = q_.size();
  const double b = robot_.viscousFriction, c = robot_.coulombFriction;
  // Friction that can give energy (a negative coefficient) leaves no budget to keep.
  const bool budgeted = b >= 0.0 && c >= 0.0;
  // The energies of the start: those the last tick ended with, or else of the state as it is.
  if (!unchanged) {
    equation.Energies(robot_, q_.data(), qd_.data(), endKinetic_, endPotential_);
    budget_ = endKinetic_ + endPotential_;
    peakKinetic_ = endKinetic_;
    refinement_ = 0;
    settled_ = true;
    std::fill(lastQdd_.begin(), lastQdd_.end(), 0.0);
  }
  const double kinetic = endKinetic_, potential = endPotential_;
  // A tick starts as fine as the last one ended, or one halving coarser when the last one needed
  // no refinement.
  int level = settled_ ? std::max(0, refinement_ - 1) : refinement_;
  bool settled = true;
  int taken = 0;
  double energy = kinetic + potential;  // of the current state
  bool retried = false;                 // the current substep is being taken again
  double lastGain = 0.0;                // what it gained the last time
  bool known = unchanged;  // the last substep's accelerations are those before this one
  const double nominal = kTimeStep / options_.substeps;
  for (int s = 0; s < options_.substeps; ++s) {
    double rest = nominal;
    for (int pieces = 1 << level; pieces > 0;) {
      if (GiveUp()) {
        return;
      }
      const double h = pieces == 1 ? rest : rest / pieces;
      std::copy(q_.begin(), q_.end(), savedQ_.begin());
      std::copy(qd_.begin(), qd_.end(), savedQd_.begin());
      ImplicitSubstep(equation, robot_, torque, h, lastQdd_.data(), q_.data(), qd_.data(),
                      qdd_.data(), work_);
      // The work of the torques, constant over the substep: tau . (q' - q).
      double work = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        work += torque(static_cast<uint32_t>(i), 0) * (q_[i] - savedQ_[i]);
      }
      const double before = energy;
      equation.Energies(robot_, q_.data(), qd_.data(), endKinetic_, endPotential_);
      energy = endKinetic_ + endPotential_;
      const double gained = energy - (budget_ + work);
      const double stepGain = energy - (before + work);
      const double allowance = kEnergyAllowance * std::max(peakKinetic_, endKinetic_);
      if (budgeted && gained > allowance) {
        // Halving a substep at least halves the error it makes; a gain that halving does not
        // reduce so is no error of this substep's length, and refining further would not help.
        // A substep whose own gain is within its share of the allowance only meets a budget
        // spent before it, and refining it would not help either.
        const bool helps = !(retried && stepGain > kRefinementGain * lastGain) &&
                           stepGain > allowance * (h / kTimeStep);
        if (level < kMaxRefinement && helps) {
          // Taken again in two halves.
          retried = true;
          lastGain = stepGain;
          energy = before;
          std::copy(savedQ_.begin(), savedQ_.end(), q_.begin());
          std::copy(savedQd_.begin(), savedQd_.end(), qd_.begin());
          ++level;
          pieces *= 2;
          settled = false;
          continue;
        }
        // As fine as it goes: the velocities are scaled down to what the budget allows.
        const double room = endKinetic_ - gained + allowance;
        const double scale = endKinetic_ > 0.0 && room > 0.0 ? std::sqrt(room / endKinetic_) : 0.0;
        for (double& v : qd_) {
          v *= scale;
        }
        endKinetic_ = endKinetic_ * scale * scale;
        energy = endKinetic_ + endPotential_;
      }
      retried = false;
      budget_ = budget_ + work;
      peakKinetic_ = std::max(peakKinetic_, endKinetic_);
      ++taken;
      rest = rest - h;
      --pieces;
      // Accelerations that change much within a substep (an oscillation the substep cannot
      // follow, which it would show as a velocity flipping sign every tick) refine the rest.
      if (ChangeTooFast(h, known) && level < kMaxRefinement) {
        // The rest of the tick, or else the next one, goes finer.
        settled = false;
        ++level;
        pieces *= 2;
      }
      known = true;
    }
  }
  refinement_ = level;
  settled_ = settled;
  lastSubsteps_ = taken;
  StoreState(kinetic, potential);
}

bool Stepper::ChangeTooFast(double h, bool known) {
  const uint8_t* locked = work_.locked.data();
  bool fast = false;
  for (std::size_t i = 0; i < qdd_.size(); ++i) {
    // The velocity error of the substep, about h/2 |qdd - qdd before|, of a joint that slid in
    // both substeps.
    const bool sliding = locked[i] == 0 && lastLocked_[i] == 0;
    const double scale = std::max(kSpeedFloor, std::fabs(qd_[i]));
    fast = fast || (known && sliding &&
                    0.5 * h * std::fabs(qdd_[i] - lastQdd_[i]) > kChangeAllowance * scale);
    lastQdd_[i] = qdd_[i];
    lastLocked_[i] = locked[i];
  }
  return fast;
}

const matrix<double>& Stepper::Inverse(const matrix<double>& accel) {
  const int substeps = options_.substeps;
  const double h = kTimeStep / substeps;
  const auto n = static_cast<uint32_t>(q_.size());
  left_ = false;
  BeginTick();
  if (GiveUp()) {
    return torque_;
  }
  if (options_.engine == EngineKind::kClosedForm && options_.integrator == IntegratorKind::kEuler) {
    // The closed form's own tick: IntegrateStep per substep, then InverseDynamics.
    for (int s = 0; s < substeps; ++s) {
      IntegrateStep(robot_, accel, h);
    }
    torque_ = InverseDynamics(robot_);
    return torque_;
  }

  // The accelerations are given: Euler and the implicit step advance qd, then q with it;
  // Runge-Kutta integrates a constant acceleration exactly.
  LoadState();
  for (uint32_t i = 0; i < n; ++i) {
    qdd_[i] = accel(i, 0);
  }
  for (int s = 0; s < substeps; ++s) {
    for (uint32_t i = 0; i < n; ++i) {
      if (options_.integrator == IntegratorKind::kRk4) {
        q_[i] = q_[i] + h * qd_[i] + 0.5 * h * h * qdd_[i];
        qd_[i] = qd_[i] + h * qdd_[i];
      } else {
        qd_[i] = qdd_[i] * h + qd_[i];
        q_[i] = qd_[i] * h + q_[i];
      }
    }
  }
  Equation& equation = EngineEquation();
  equation.Evaluate(robot_, q_.data(), qd_.data());
  double* tau = work_.tau.data();
  equation.Inverse(qdd_.data(), tau);
  StoreState(equation.KineticEnergy(), equation.PotentialEnergy());
  left_ = false;
  if (torque_.RowCount() != n) {
    torque_ = matrix<double>(n, 1);
  }
  for (uint32_t i = 0; i < n; ++i) {
    robot_.links[i]->qdd = qdd_[i];
    // tau = M qdd + C qd + G + F
    torque_(i, 0) = tau[i] + FrictionTorque(robot_, qd_[i]);
  }
  return torque_;
}
