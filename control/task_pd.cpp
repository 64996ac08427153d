// The law in task space: a spring and damper on a frame's position, through its Jacobian.
#include "control/controller.h"

void Controller::TaskPdLaw(double t, const double* q, const double* qd, double* tau) {
  const int n = n_;
  double target[3], targetRate[3], x[3], force[3];
  reference_.At(t, target, targetRate, nullptr);
  model_->FramePosition(frame_, q, x, jacobian_.data());
  // The frame's inertia where the arm is, for the null space and the default gains.
  double lambda[9];
  model_->PlacedFrameInertia(lambda);
  // e = x* - x, e' = xd* - J qd; F = Kx e + Dx e', by default Kx = Lambda(q) w^2, Dx = 2 Lambda(q)
  // w
  double e[3], rate[3];
  for (int k = 0; k < 3; ++k) {
    const double* row = jacobian_.data() + k * n;
    double xd = 0.0;
    for (int i = 0; i < n; ++i) {
      xd += row[i] * qd[i];
    }
    e[k] = target[k] - x[k];
    rate[k] = targetRate[k] - xd;
  }
  const double w = settings_.frequency;
  for (int k = 0; k < 3; ++k) {
    const double* kx = kp_.data() + 3 * k;
    const double* dx = kd_.data() + 3 * k;
    const double* l = lambda + 3 * k;
    double spring = 0.0, damper = 0.0;
    for (int c = 0; c < 3; ++c) {
      spring += (settings_.kp.empty() ? w * w * l[c] : kx[c]) * e[c];
      damper += (settings_.kd.empty() ? 2.0 * w * l[c] : dx[c]) * rate[c];
    }
    force[k] = spring + damper;
  }
  // The joints' damping -Kn qd, with what of it would move the frame taken out (on the positions
  // FramePosition placed).
  for (int i = 0; i < n; ++i) {
    const std::size_t row = static_cast<std::size_t>(i) * static_cast<std::size_t>(n);
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      sum += kn_[row + static_cast<std::size_t>(j)] * qd[j];
    }
    v_[static_cast<std::size_t>(i)] = -sum;
  }
  model_->NullSpace(lambda, v_.data(), qdd_.data());
  if (settings_.compensate) {
    model_->Gravity(q, gravity_, g_.data());
  }
  // tau = J^T F + N (-Kn qd) + G(q)
  for (int i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    double pull = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
      pull += jacobian_[static_cast<std::size_t>(axis * n + i)] * force[axis];
    }
    tau[i] = pull + qdd_[k] + (settings_.compensate ? g_[k] : 0.0);
  }
}
