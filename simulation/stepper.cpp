#include "simulation/stepper.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dynamics/dynamics.h"

Stepper::Stepper(Robot& robot, StepOptions options) : robot_(robot) {
  SetOptions(options);
  const auto n = static_cast<int>(robot.links.size());
  const int size = 2 * n + 2;
  const auto count = static_cast<std::size_t>(n);
  work_.Resize(n);
  modes_.Resize(n);
  for (std::vector<double>* v : {&tau_, &q_, &qd_, &change_, &qdd_, &savedQ_, &savedQd_, &lastQdd_,
                                 &holding_, &middleQ_, &middleQd_}) {
    v->resize(count);
  }
  tickTorque_.Resize(n);
  substepTorque_ = matrix<double>(static_cast<uint32_t>(n), 1);
  lastLocked_.resize(count);
  at_.resize(count);
  saturated_.resize(count);
  impact_.Resize(n);
  y_.resize(static_cast<std::size_t>(size));
  k_.resize(static_cast<std::size_t>(size));
  euler_.Resize(size);
  rk4_.Resize(size);
  dopri5_.Resize(size);
  imex_.Resize(size);
  tickValues_.Resize(size, n);
  accel_ = matrix<double>(static_cast<uint32_t>(n), 1);
  torque_ = matrix<double>(static_cast<uint32_t>(n), 1);
  applied_ = matrix<double>(static_cast<uint32_t>(n), 1);
  applied_.SetZero();
}

Stepper::~Stepper() = default;

void Stepper::SetOptions(StepOptions options) {
  options.substeps = std::clamp(options.substeps, 1, kMaxSubsteps);
  options.tolerance = std::isnan(options.tolerance)
                          ? kDefaultTolerance
                          : std::clamp(options.tolerance, kMinTolerance, kMaxTolerance);
  options_ = options;
}

Stepper::Engine& Stepper::EngineEquation() {
  Engine& engine = engines_[options_.engine == EngineKind::kRecursive ? 1 : 0];
  if (!engine.equation) {
    engine.equation = MakeEquation(options_.engine, robot_);
    engine.modes =
        std::make_unique<ModeEquation>(*engine.equation, robot_, friction_, limits_, modes_);
  }
  return engine;
}

bool Stepper::StateKept() const {
  if (!left_) {
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

bool Stepper::Unchanged() const {
  return options_.engine == leftOptions_.engine && options_.integrator == leftOptions_.integrator &&
         StateKept();
}

void Stepper::LoadState() {
  for (std::size_t i = 0; i < q_.size(); ++i) {
    q_[i] = robot_.links[i]->q;
    qd_[i] = robot_.links[i]->qd;
  }
}

void Stepper::StoreState() {
  for (std::size_t i = 0; i < q_.size(); ++i) {
    Link& link = *robot_.links[i];
    link.q = q_[i];
    link.qd = qd_[i];
  }
  robot_.kineticEnergy = kinetic_;
  robot_.potentialEnergy = potential_;
  left_ = true;
  leftOptions_ = options_;
  for (uint32_t k = 0; k < 3; ++k) {
    leftGravity_[k] = robot_.gravity(k, 0);
  }
}

bool Stepper::BalanceGoesOn(double& work, double& dissipated, double& start) const {
  if (!StateKept()) {
    return false;
  }
  work = balanceW_;
  dissipated = balanceD_;
  start = balanceStart_;
  return true;
}

void Stepper::KeepBalance(bool continues) {
  if (!continues) {
    balanceW_ = 0.0;
    balanceD_ = 0.0;
    balanceStart_ = kinetic_ + potential_;
    motionKinetic_ = kinetic_;
    potentialLow_ = potentialHigh_ = potential_;
    balanceOffNoted_ = false;
  }
  robot_.work = balanceW_;
  robot_.dissipated = balanceD_;
  robot_.startEnergy = balanceStart_;
  balanceW_ = balanceW_ + tickW_;
  balanceD_ = balanceD_ + tickD_;
  lastCapped_ = capped_;
  if (capped_) {
    ++robot_.cappedTicks;
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
  for (double Robot::*field : {&Robot::kineticEnergy, &Robot::potentialEnergy, &Robot::work,
                               &Robot::dissipated, &Robot::startEnergy}) {
    startState_.push_back(robot_.*field);
  }
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
  for (double Robot::*field : {&Robot::kineticEnergy, &Robot::potentialEnergy, &Robot::work,
                               &Robot::dissipated, &Robot::startEnergy}) {
    robot_.*field = startState_[k++];
  }
  gaveUp_ = true;
  left_ = false;
  ratesKept_ = false;
  return true;
}

void Stepper::AddTorqueSource(TorqueSource* source) {
  sources_.push_back(source);
}

void Stepper::RemoveTorqueSource(TorqueSource* source) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

double Stepper::FixedStep(const StepOptions& options, int samples) {
  if (options.integrator == IntegratorKind::kDopri5) {
    return 0.0;
  }
  // The tick's pieces between samples, each in ceil(substeps / samples) substeps.
  samples = std::max(samples, 1);
  const int substeps = std::clamp(options.substeps, 1, kMaxSubsteps);
  return kTimeStep / samples / ((substeps + samples - 1) / samples);
}

void Stepper::EndTick() {
  ++ticks_;
  if (controller_) {
    controller_->EndTick();
  }
}

const matrix<double>& Stepper::Forward(const matrix<double>& torque) {
  const auto n = static_cast<uint32_t>(q_.size());
  BeginTick();
  const bool continues = StateKept();
  tickW_ = tickD_ = 0.0;
  capped_ = false;
  report_.stiffSteps = 0;
  report_.stiffness = 0.0;
  controlled_ = (controller_ && controller_->Acts()) || !sources_.empty();
  if (controlled_ && torque.RowCount() == n && torque.ColCount() == 1) {
    return ControlledTick(torque, continues);
  }
  controlled_ = false;
  // The torques applied: the user's, saturated at the joints' efforts where they are on.
  const bool sized = torque.RowCount() == n && torque.ColCount() == 1;
  if (sized) {
    ApplyEfforts(robot_, torque, tau_.data(), saturated_.data());
    for (uint32_t i = 0; i < n; ++i) {
      applied_(i, 0) = tau_[i];
    }
  }
  const matrix<double>& given = sized ? applied_ : torque;
  if (options_.engine == EngineKind::kClosedForm && options_.integrator == IntegratorKind::kEuler) {
    const matrix<double>& accel = ClosedFormEulerTick(given);
    if (!gaveUp_) {
      KeepBalance(continues);
      Report(true, torque, applied_, false);
      EndTick();
    }
    return accel;
  }
  if (!sized) {
    MatrixFatal(kMatrixSubtractMessage);
  }
  const bool unchanged = Unchanged();
  LoadState();
  std::copy(qd_.begin(), qd_.end(), change_.begin());
  friction_.Fill(robot_);
  limits_.Fill(robot_);
  // A position set past a limit from outside starts at the limit.
  if (limits_.any) {
    ClampPositions(limits_, q_.data());
  }
  Engine& engine = EngineEquation();
  if (options_.integrator == IntegratorKind::kImplicit) {
    ImplicitTick(*engine.equation, unchanged);
  } else {
    ExplicitTick(*engine.modes, unchanged);
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
  StoreState();
  KeepBalance(continues);
  Report(true, torque, applied_, true);
  EndTick();
  return accel_;
}

const matrix<double>& Stepper::ControlledTick(const matrix<double>& torque, bool continues) {
  const auto n = static_cast<uint32_t>(q_.size());
  const bool closedFormEuler =
      options_.engine == EngineKind::kClosedForm && options_.integrator == IntegratorKind::kEuler;
  const bool unchanged = Unchanged();
  LoadState();
  std::copy(qd_.begin(), qd_.end(), change_.begin());
  friction_.Fill(robot_);
  limits_.Fill(robot_);
  // A position set past a limit from outside starts at the limit (the closed form's Euler step
  // knows no limits).
  if (limits_.any && !closedFormEuler) {
    ClampPositions(limits_, q_.data());
  }
  // The controller starts its reference here if it waits to, and takes its first sample; the
  // torques the tick reports are those of its start.
  for (uint32_t i = 0; i < n; ++i) {
    tau_[i] = torque(i, 0);
  }
  Controller* controller = controller_.get();
  if (controller != nullptr) {
    const matrix<double>& g = robot_.gravity;
    controller->BeginTick(
        q_.data(),
        {{g(0, 0), g(1, 0), g(2, 0)}, friction_.viscous.data(), friction_.coulomb.data()});
  }
  tickTorque_.Begin(robot_, tau_.data(), controller, sources_, Time());
  const double step = FixedStep(options_, tickTorque_.Samples());
  for (TorqueSource* source : sources_) {
    source->BeginTick(Time(), q_.data(), qd_.data(), step);
  }
  tickTorque_.Sample(0.0, q_.data(), qd_.data());
  // The torques the tick reports are the motors' at its start: the sources act from outside.
  tickTorque_.Start(q_.data(), qd_.data());
  const double* start = tickTorque_.Motor();
  for (uint32_t i = 0; i < n; ++i) {
    applied_(i, 0) = start[i];
  }
  ratesKept_ = false;
  if (closedFormEuler) {
    ClosedFormEulerTick(applied_);
    saturated_ = tickTorque_.Saturated();
    if (gaveUp_) {
      return accel_;
    }
    KeepBalance(continues);
    Report(true, torque, applied_, false);
    EndTick();
    return accel_;
  }
  Engine& engine = EngineEquation();
  if (options_.integrator == IntegratorKind::kImplicit) {
    ImplicitTick(*engine.equation, unchanged);
  } else {
    ExplicitTick(*engine.modes, unchanged);
  }
  saturated_ = tickTorque_.Saturated();
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
  StoreState();
  KeepBalance(continues);
  Report(true, torque, applied_, true);
  EndTick();
  return accel_;
}

const double* Stepper::SubstepTorque(double s, double h, bool middle) {
  if (!tickTorque_.Varies()) {
    return tickTorque_.Held();
  }
  if (!middle) {
    return tickTorque_.At(s, q_.data(), qd_.data());
  }
  // The implicit substep's kick takes its terms half way: q + h/2 qd, qd + h/2 qdd before.
  for (std::size_t i = 0; i < q_.size(); ++i) {
    middleQ_[i] = qd_[i] * (0.5 * h) + q_[i];
    middleQd_[i] = lastQdd_[i] * (0.5 * h) + qd_[i];
  }
  return tickTorque_.At(s + 0.5 * h, middleQ_.data(), middleQd_.data());
}

void Stepper::Report(bool forward, const matrix<double>& input, const matrix<double>& output,
                     bool checkEnergy) {
  report_.step = options_;
  report_.forward = forward;
  report_.capped = forward && capped_;
  report_.steps = forward ? lastSubsteps_ : options_.substeps;
  const auto allFinite = [](const matrix<double>& m) {
    for (uint32_t i = 0; i < m.RowCount(); ++i) {
      if (!std::isfinite(m(i, 0))) {
        return false;
      }
    }
    return true;
  };
  report_.inputsFinite = allFinite(input);
  report_.finite = allFinite(output) && StateIsFinite(robot_);
  report_.unphysical = false;
  report_.offBalance = false;
  report_.gained = 0.0;
  report_.motion = 0.0;
  if (!forward) {
    return;
  }
  // The motion since the balance started (the start's and every tick's end): its largest kinetic
  // energy and the range of its potential energy.
  motionKinetic_ = std::max({motionKinetic_, kinetic_, endKinetic_});
  potentialLow_ = std::min({potentialLow_, potential_, endPotential_});
  potentialHigh_ = std::max({potentialHigh_, potential_, endPotential_});
  if (!checkEnergy) {
    return;
  }
  // What the steps made beyond the work and friction's dissipation since the balance started.
  const double gained = endKinetic_ + endPotential_ - balanceStart_ - balanceW_ + balanceD_;
  // A balance that is not a number is a state that is not finite: its energy, or the work or
  // dissipation of the tick, which the arm shows from the next tick on.
  if (!std::isfinite(gained)) {
    report_.finite = false;
    return;
  }
  // Energy made without work is measured against the largest kinetic energy since the balance
  // started, or the potential energy where that is larger (an arm let go from rest has none to
  // speak of at first).
  const double peak =
      std::max({motionKinetic_, std::fabs(potentialLow_), std::fabs(potentialHigh_)});
  if (gained > kUnphysicalGain * peak) {
    report_.unphysical = true;
    report_.gained = gained;
    ++robot_.unphysicalTicks;
    return;
  }
  // The balance off either way by more than kBalanceAllowance of the motion's energy: its largest
  // kinetic energy, or the swing of its potential energy where larger (neither depends on where
  // the potential's zero lies), and no less than a millionth of the potential energy itself, the
  // scale of the rounding of the sums. Said once per balance.
  const double motion =
      std::max({motionKinetic_, potentialHigh_ - potentialLow_, 1e-6 * std::fabs(endPotential_)});
  if (!balanceOffNoted_ && std::fabs(gained) > kBalanceAllowance * motion) {
    balanceOffNoted_ = true;
    report_.offBalance = true;
    report_.gained = gained;
    report_.motion = motion;
    ++robot_.offBalanceTicks;
  }
}

const matrix<double>& Stepper::ClosedFormEulerTick(const matrix<double>& torque) {
  // The closed form's own tick, ForwardDynamics then IntegrateStep, per substep; the energies are
  // those of the first substep's start. Its W and D are force times displacement, beside it.
  // With a controller, the tick's pieces between its samples, each in ceil(substeps / samples)
  // substeps; the torques of each substep are held from its start.
  const int samples = controlled_ ? tickTorque_.Samples() : 1;
  const int perSample = (options_.substeps + samples - 1) / samples;
  const int substeps = samples * perSample;
  const double h = kTimeStep / samples / perSample;
  const auto n = static_cast<uint32_t>(q_.size());
  std::fill(change_.begin(), change_.end(), 0.0);
  ratesKept_ = false;
  for (int s = 0; s < substeps; ++s) {
    if (GiveUp()) {
      return accel_;
    }
    LoadState();
    if (controlled_ && s > 0 && s % perSample == 0) {
      tickTorque_.Sample(kTimeStep / samples * (s / perSample), q_.data(), qd_.data());
    }
    if (controlled_) {
      const double* tau = SubstepTorque(h * s, h, false);
      for (uint32_t i = 0; i < n; ++i) {
        substepTorque_(i, 0) = tau[i];
      }
    }
    const matrix<double>& applied = controlled_ ? substepTorque_ : torque;
    accel_ = ForwardDynamics(robot_, applied);
    IntegrateStep(robot_, accel_, h);
    if (s == 0) {
      kinetic_ = robot_.kineticEnergy;
      potential_ = robot_.potentialEnergy;
    }
    for (uint32_t i = 0; i < n; ++i) {
      change_[i] += accel_(i, 0);
      const double moved = robot_.links[i]->q - q_[i];
      tickW_ += applied(i, 0) * moved;
      tickD_ += FrictionTorque(robot_, i, qd_[i]) * moved;
    }
  }
  lastSubsteps_ = substeps;
  // What the tick left, so that the next one knows whether the balance goes on.
  LoadState();
  left_ = true;
  leftOptions_ = options_;
  for (uint32_t k = 0; k < 3; ++k) {
    leftGravity_[k] = robot_.gravity(k, 0);
  }
  if (substeps == 1) {
    return accel_;
  }
  accel_ = matrix<double>(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    robot_.links[i]->qdd = accel_(i, 0) = change_[i] / substeps;
  }
  robot_.kineticEnergy = kinetic_;
  robot_.potentialEnergy = potential_;
  return accel_;
}

void Stepper::ExplicitTick(ModeEquation& equation, bool unchanged) {
  const int n = equation.Joints();
  // With a controller or sources: the held torques, or the torques asked at every state (with the
  // time in the state when they change in time).
  const bool varies = controlled_ && tickTorque_.Varies();
  equation.SetTorqueAt(varies ? &tickTorque_ : nullptr, varies && tickTorque_.Timed());
  equation.SetTorque(controlled_ ? tickTorque_.Held() : tau_.data());
  const int size = equation.Size();
  if (static_cast<int>(y_.size()) != size) {
    y_.resize(static_cast<std::size_t>(size));
    k_.resize(static_cast<std::size_t>(size));
    euler_.Resize(size);
    rk4_.Resize(size);
    dopri5_.Resize(size);
    imex_.Resize(size);
    tickValues_.Resize(size, n);
  }
  // The rates the last tick ended with serve as this one's first, unless anything they depend on
  // changed.
  const bool kept = !controlled_ && unchanged && ratesKept_ && lastTau_ == tau_ &&
                    lastFriction_.viscous == friction_.viscous &&
                    lastFriction_.coulomb == friction_.coulomb && lastLimits_ == limits_;
  double* y = y_.data();
  double* k = k_.data();
  for (int i = 0; i < n; ++i) {
    y[i] = q_[i];
    y[n + i] = qd_[i];
  }
  y[2 * n] = y[2 * n + 1] = 0.0;
  if (size > 2 * n + 2) {
    y[2 * n + 2] = 0.0;  // the time within the tick
  }
  if (kept) {
    kinetic_ = endKinetic_;
    potential_ = endPotential_;
  } else if (limits_.any) {
    // The energies of the start, before the decision resolves an impact there (whose loss D takes).
    equation.Engine().Energies(robot_, y, y + n, kinetic_, potential_);
    equation.Decide(y, k);
    holding_ = equation.Holding();
  } else {
    equation.Decide(y, k);
    holding_ = equation.Holding();
    kinetic_ = equation.KineticEnergy();
    potential_ = equation.PotentialEnergy();
  }
  if (!unchanged) {
    carriedStep_ = 0.0;
  }
  TickOutcome outcome;
  equation.SetResolution(options_.integrator == IntegratorKind::kDopri5 ? options_.tolerance
                                                                        : kDefaultTolerance);
  const std::function<bool()> giveUp = [this] { return GiveUp(); };
  // The tick's pieces between the controller's samples (one without a controller), each with its
  // share of the substeps and of the cap. A new sample changes the held torques: the modes are
  // decided again where it is taken.
  const int samples = controlled_ ? tickTorque_.Samples() : 1;
  const int substeps = (options_.substeps + samples - 1) / samples;
  const int cap = std::max(1, kMaxInternalSteps / samples);
  const double piece = kTimeStep / samples;
  if (options_.integrator == IntegratorKind::kDopri5) {
    dopri5_.SetTolerance(options_.tolerance);
    imex_.SetTolerance(options_.tolerance);
    // How fast viscous friction damps the lightest motion: found anew at a new start, a change of
    // the torques, friction or limits, and every kStiffnessTicks ticks (M changes slowly; a rate
    // found too low only makes the explicit pair's error control take shorter steps).
    if (!kept || ++stiffnessAge_ >= kStiffnessTicks) {
      stiffness_ = equation.ViscousStiffness(y);
      stiffnessAge_ = 0;
    }
  }
  for (int sample = 0; sample < samples; ++sample) {
    if (sample > 0) {
      tickTorque_.Sample(piece * sample, y, y + n);
      equation.SetTorque(tickTorque_.Held());
      equation.Decide(y, k);
      holding_ = equation.Holding();
    }
    TickOutcome part;
    if (options_.integrator == IntegratorKind::kDopri5) {
      part = AdaptiveTick(dopri5_, imex_, equation, piece, substeps, cap, carriedStep_, stiffness_,
                          y, k, holding_, tickValues_, giveUp);
    } else {
      StepMethod& method = options_.integrator == IntegratorKind::kEuler
                               ? static_cast<StepMethod&>(euler_)
                               : static_cast<StepMethod&>(rk4_);
      part = FixedTick(method, equation, piece, substeps, cap, y, k, holding_, tickValues_, giveUp);
    }
    outcome.steps += part.steps;
    outcome.stiffSteps += part.stiffSteps;
    outcome.stiffness = part.stiffness;
    outcome.capped = outcome.capped || part.capped;
    if (part.gaveUp) {
      return;
    }
    if (part.diverged) {
      break;  // the state is not finite: the tick's report says so
    }
  }
  // The energies of the tick's end (the events' search may have evaluated states inside its last
  // step after it).
  equation.Engine().Energies(robot_, y, y + n, endKinetic_, endPotential_);
  for (int i = 0; i < n; ++i) {
    q_[i] = y[i];
    qd_[i] = y[n + i];
  }
  tickW_ = y[2 * n];
  tickD_ = y[2 * n + 1];
  capped_ = outcome.capped;
  lastSubsteps_ = outcome.steps;
  report_.stiffSteps = outcome.stiffSteps;
  report_.stiffness = outcome.stiffness;
  ratesKept_ = true;
  lastTau_ = tau_;
  lastFriction_ = friction_;
  lastLimits_ = limits_;
}

void Stepper::ImplicitTick(Equation& equation, bool unchanged) {
  ratesKept_ = false;
  // The energies of the start: those the last tick ended with, or else of the state as it is.
  if (!unchanged) {
    equation.Energies(robot_, q_.data(), qd_.data(), endKinetic_, endPotential_);
    peakKinetic_ = endKinetic_;
    refinement_ = 0;
    settled_ = true;
    std::fill(lastQdd_.begin(), lastQdd_.end(), 0.0);
  }
  kinetic_ = endKinetic_;
  potential_ = endPotential_;
  // A tick starts as fine as the last one ended, or one halving coarser when the last one needed
  // no refinement.
  int level = settled_ ? std::max(0, refinement_ - 1) : refinement_;
  bool settled = true;
  int taken = 0;
  double energy = kinetic_ + potential_;  // of the current state
  bool retried = false;                   // the current substep is being taken again
  double lastGain = 0.0;                  // what it gained the last time
  bool known = unchanged;  // the last substep's accelerations are those before this one
  // With a controller, the tick's pieces between its samples, each in ceil(substeps / samples)
  // substeps; a substep's torques are the held ones, or those at the middle of its path.
  const int samples = controlled_ ? tickTorque_.Samples() : 1;
  const int perSample = (options_.substeps + samples - 1) / samples;
  const double nominal = kTimeStep / samples / perSample;
  int cuts = 0;     // substeps cut short at a limit
  double at = 0.0;  // the time into the tick
  for (int s = 0; s < samples * perSample; ++s) {
    if (controlled_ && s > 0 && s % perSample == 0) {
      tickTorque_.Sample(kTimeStep / samples * (s / perSample), q_.data(), qd_.data());
    }
    double rest = nominal;
    for (int pieces = 1 << level; pieces > 0;) {
      if (GiveUp()) {
        return;
      }
      double h = pieces == 1 ? rest : rest / pieces;
      const double* tau = controlled_ ? nullptr : tau_.data();
      if (limits_.any) {
        // A joint at a limit moving into it stops first; the impact's loss is the tick's D.
        const double loss =
            ImpactAt(equation, robot_, limits_, q_.data(), qd_.data(), at_.data(), impact_);
        tickD_ = tickD_ + loss;
        energy = energy - loss;
      }
      std::copy(q_.begin(), q_.end(), savedQ_.begin());
      std::copy(qd_.begin(), qd_.end(), savedQd_.begin());
      if (controlled_) {
        tau = SubstepTorque(at, h, true);
      }
      ImplicitSubstep(equation, robot_, tau, friction_, limits_, h, lastQdd_.data(), q_.data(),
                      qd_.data(), qdd_.data(), work_);
      // A joint that passes a limit on the substep's path: the substep is taken again up to where
      // it reaches it (once the cuts run out, it is put at the limit at the substep's end), and
      // the impact there stops it.
      bool cut = false;
      if (limits_.any) {
        const double theta =
            LimitOnPath(limits_, savedQ_.data(), savedQd_.data(), q_.data(), qd_.data(), h);
        if (theta < 1.0) {
          cut = cuts < kMaxInternalSteps;
          if (cut) {
            ++cuts;
            h = theta * h;
            std::copy(savedQ_.begin(), savedQ_.end(), q_.begin());
            std::copy(savedQd_.begin(), savedQd_.end(), qd_.begin());
            if (controlled_) {
              tau = SubstepTorque(at, h, true);
            }
            ImplicitSubstep(equation, robot_, tau, friction_, limits_, h, lastQdd_.data(),
                            q_.data(), qd_.data(), qdd_.data(), work_);
          } else {
            capped_ = true;
          }
          work_.dissipated = work_.dissipated + ImpactAt(equation, robot_, limits_, q_.data(),
                                                         qd_.data(), at_.data(), impact_);
        }
      }
      const double before = energy;
      equation.Energies(robot_, q_.data(), qd_.data(), endKinetic_, endPotential_);
      energy = endKinetic_ + endPotential_;
      // What the substep gained beyond the work put in and what friction took: error of the step.
      const double gained = energy - before - work_.work + work_.dissipated;
      const double share = kEnergyAllowance * std::max(peakKinetic_, endKinetic_) * (h / kTimeStep);
      if (gained > share) {
        // Halving a substep at least halves the error it makes; a gain that halving does not
        // reduce so is no error of this substep's length, and refining further would not help.
        const bool helps = !(retried && gained > kRefinementGain * lastGain);
        if (level < kMaxRefinement && helps) {
          // Taken again in two halves.
          retried = true;
          lastGain = gained;
          energy = before;
          std::copy(savedQ_.begin(), savedQ_.end(), q_.begin());
          std::copy(savedQd_.begin(), savedQd_.end(), qd_.begin());
          ++level;
          pieces *= 2;
          settled = false;
          continue;
        }
        capped_ = capped_ || level >= kMaxRefinement;
      }
      retried = false;
      tickW_ = tickW_ + work_.work;
      tickD_ = tickD_ + work_.dissipated;
      peakKinetic_ = std::max(peakKinetic_, endKinetic_);
      ++taken;
      rest = rest - h;
      at = at + h;
      if (!cut) {
        --pieces;
      }
      // Accelerations that change much within a substep (an oscillation the substep cannot
      // follow, which it would show as a velocity flipping sign every tick) refine the rest.
      if (ChangeTooFast(h, known)) {
        if (level < kMaxRefinement) {
          // The rest of the tick, or else the next one, goes finer.
          settled = false;
          ++level;
          pieces *= 2;
        } else {
          capped_ = true;
        }
      }
      known = true;
    }
  }
  refinement_ = level;
  settled_ = settled;
  lastSubsteps_ = taken;
}

bool Stepper::ChangeTooFast(double h, bool known) {
  const uint8_t* locked = work_.modes.held.data();
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
  ratesKept_ = false;
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
    robot_.work = robot_.dissipated = 0.0;
    robot_.startEnergy = robot_.kineticEnergy + robot_.potentialEnergy;
    Report(false, accel, torque_, false);
    EndTick();
    return torque_;
  }

  // The accelerations are given: Euler and the implicit step advance qd, then q with it;
  // Runge-Kutta integrates a constant acceleration exactly.
  LoadState();
  for (uint32_t i = 0; i < n; ++i) {
    qdd_[i] = accel(i, 0);
  }
  const bool exact =
      options_.integrator == IntegratorKind::kRk4 || options_.integrator == IntegratorKind::kDopri5;
  for (int s = 0; s < substeps; ++s) {
    for (uint32_t i = 0; i < n; ++i) {
      if (exact) {
        q_[i] = q_[i] + h * qd_[i] + 0.5 * h * h * qdd_[i];
        qd_[i] = qd_[i] + h * qdd_[i];
      } else {
        qd_[i] = qdd_[i] * h + qd_[i];
        q_[i] = qd_[i] * h + q_[i];
      }
    }
  }
  Equation& equation = *EngineEquation().equation;
  equation.Evaluate(robot_, q_.data(), qd_.data());
  double* tau = tau_.data();
  equation.Inverse(qdd_.data(), tau);
  kinetic_ = equation.KineticEnergy();
  potential_ = equation.PotentialEnergy();
  StoreState();
  left_ = false;
  // An inverse tick keeps no balance: it starts afresh at every one.
  robot_.work = robot_.dissipated = 0.0;
  robot_.startEnergy = kinetic_ + potential_;
  if (torque_.RowCount() != n) {
    torque_ = matrix<double>(n, 1);
  }
  for (uint32_t i = 0; i < n; ++i) {
    robot_.links[i]->qdd = qdd_[i];
    // tau = M qdd + C qd + G + F
    torque_(i, 0) = tau[i] + FrictionTorque(robot_, i, qd_[i]);
  }
  Report(false, accel, torque_, false);
  EndTick();
  return torque_;
}
