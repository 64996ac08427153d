#include "simulation/tick_torque.h"

#include <algorithm>

void TickTorque::Resize(int n) {
  n_ = n;
  const auto size = static_cast<std::size_t>(n);
  for (std::vector<double>* v : {&typed_, &effort_, &control_, &motor_, &held_, &tau_, &slope_}) {
    v->assign(size, 0.0);
  }
  saturated_.assign(size, 0);
  cut_.assign(size, 0);
}

void TickTorque::Begin(const Robot& robot, const double* typed, Controller* controller,
                       const std::vector<TorqueSource*>& sources, double time) {
  sources_ = &sources;
  controller_ = controller != nullptr && controller->Acts() ? controller : nullptr;
  continuous_ = controller_ != nullptr && controller_->Samples() == kContinuous;
  samples_ = controller_ != nullptr && !continuous_ ? controller_->Samples() : 1;
  time_ = time;
  efforts_ = robot.effortLimits;
  for (int i = 0; i < n_; ++i) {
    const auto k = static_cast<std::size_t>(i);
    typed_[k] = typed[i];
    effort_[k] = robot.links[k]->effort;
    control_[k] = 0.0;
  }
  std::fill(saturated_.begin(), saturated_.end(), 0);
}

bool TickTorque::Timed() const {
  if (continuous_ && controller_->Timed()) {
    return true;
  }
  return std::any_of(sources_->begin(), sources_->end(),
                     [](const TorqueSource* source) { return source->Timed(); });
}

void TickTorque::Saturate(const double* control, bool note) {
  for (int i = 0; i < n_; ++i) {
    const auto k = static_cast<std::size_t>(i);
    // sat(tau) = tau within +-effort, else the effort with tau's sign
    const double t = typed_[k] + control[i];
    const double effort = effort_[k];
    const bool cut = efforts_ && (t > effort || t < -effort);
    motor_[k] = cut ? (t > 0.0 ? effort : -effort) : t;
    cut_[k] = cut ? 1 : 0;
    if (note && cut) {
      saturated_[k] = 1;
    }
  }
}

void TickTorque::Sample(double s, const double* q, const double* qd) {
  if (continuous_) {
    return;
  }
  if (controller_ != nullptr) {
    controller_->Torque(s, q, qd, control_.data());
  }
  Saturate(control_.data(), true);
  held_ = motor_;
}

const double* TickTorque::At(double s, const double* q, const double* qd, const int8_t* motion) {
  if (continuous_) {
    controller_->Torque(s, q, qd, control_.data(), motion);
    Saturate(control_.data(), noting_);
    tau_ = motor_;
    if (const double* b = controller_->CompensatedViscous(); b != nullptr) {
      for (int i = 0; i < n_; ++i) {
        const auto k = static_cast<std::size_t>(i);
        slope_[k] = cut_[k] ? 0.0 : b[i];
      }
    }
  } else {
    tau_ = held_;
  }
  for (TorqueSource* source : *sources_) {
    source->AddTorque(time_ + s, q, qd, tau_.data());
  }
  return tau_.data();
}

const double* TickTorque::ViscousSlope() const {
  return continuous_ && controller_->CompensatedViscous() != nullptr ? slope_.data() : nullptr;
}

const double* TickTorque::Start(const double* q, const double* qd) {
  noting_ = true;
  const double* tau = At(0.0, q, qd);
  noting_ = false;
  return tau;
}
