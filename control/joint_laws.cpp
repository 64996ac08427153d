// The laws in joint space: gravity compensation, PD and computed torque.
#include <cmath>

#include "control/controller.h"

void Controller::GravityLaw(const double* q, double* tau) {
  // tau = G(q)
  model_->Gravity(q, gravity_, tau);
}

void Controller::PdLaw(double t, const double* q, const double* qd, double* tau) {
  reference_.At(t, q_.data(), qd_.data(), nullptr);
  if (settings_.compensate) {
    model_->Gravity(q, gravity_, g_.data());
  }
  // tau = Kp (q* - q) + Kd (qd* - qd) + G(q)
  Feedback(q, qd, tau);
  for (int i = 0; i < n_; ++i) {
    tau[i] += settings_.compensate ? g_[static_cast<std::size_t>(i)] : 0.0;
  }
}

void Controller::Feedback(const double* q, const double* qd, double* out) {
  const int n = n_;
  for (int i = 0; i < n; ++i) {
    const std::size_t row = static_cast<std::size_t>(i) * static_cast<std::size_t>(n);
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      const auto k = static_cast<std::size_t>(j);
      sum += kp_[row + k] * (q_[k] - q[j]) + kd_[row + k] * (qd_[k] - qd[j]);
    }
    out[i] = sum;
  }
}

void Controller::ComputedTorqueLaw(double t, const double* q, const double* qd, double* tau,
                                   const int8_t* motion) {
  reference_.At(t, q_.data(), qd_.data(), qdd_.data());
  // v = qdd* + Kd (qd* - qd) + Kp (q* - q)
  Feedback(q, qd, v_.data());
  for (int i = 0; i < n_; ++i) {
    v_[static_cast<std::size_t>(i)] += qdd_[static_cast<std::size_t>(i)];
  }
  // tau = M v + C qd + G, one Newton-Euler pass
  model_->InverseDynamics(q, qd, v_.data(), gravity_, tau);
  if (!settings_.modelFriction || environment_.viscous == nullptr) {
    return;
  }
  // + b qd + c sigma: sigma the direction of the motion (inside a step, the direction its friction
  // mode gives, so that a velocity crossing 0 between two of its events changes nothing); for a
  // joint at rest, the sign of v, so that the torque that starts it also overcomes the friction
  // that holds it, unless v is below what an error of kRestResolution commands: the reference is
  // reached, and friction holds the joint there (compensating it would kick the joint by c either
  // way at every rounding of v).
  const std::size_t n = static_cast<std::size_t>(n_);
  for (std::size_t i = 0; i < n; ++i) {
    const double v = v_[i], least = kRestResolution * std::fabs(kp_[i * n + i]);
    const double moving = motion != nullptr ? motion[i] : qd[i];
    const double towards = moving != 0.0 ? moving : std::fabs(v) > least ? v : 0.0;
    const double sigma = towards > 0.0 ? 1.0 : towards < 0.0 ? -1.0 : 0.0;
    tau[i] += environment_.viscous[i] * qd[i] + environment_.coulomb[i] * sigma;
  }
}
