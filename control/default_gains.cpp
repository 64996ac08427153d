#include "control/default_gains.h"

namespace {

// s times the model's M at q, n x n row-major.
std::vector<double> Scaled(ControlModel& model, const double* q, double s) {
  const auto n = static_cast<std::size_t>(model.Joints());
  std::vector<double> m(n * n);
  model.MassMatrix(q, m.data());
  for (double& x : m) {
    x *= s;
  }
  return m;
}

}  // namespace

DefaultGains JointGains(ControlModel& model, ControllerKind kind, const double* q, double w) {
  const auto n = static_cast<std::size_t>(model.Joints());
  DefaultGains gains;
  gains.kn.assign(n * n, 0.0);
  if (kind == ControllerKind::kComputedTorque) {
    // Kp = w^2 E, Kd = 2 w E
    gains.kp.assign(n * n, 0.0);
    gains.kd.assign(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      gains.kp[i * n + i] = w * w;
      gains.kd[i * n + i] = 2.0 * w;
    }
    return gains;
  }
  // Kp = M w^2, Kd = 2 M w
  gains.kp = Scaled(model, q, w * w);
  gains.kd = Scaled(model, q, 2.0 * w);
  return gains;
}

DefaultGains TaskGains(ControlModel& model, int f, const double* q, double w) {
  DefaultGains gains;
  gains.kp.assign(9, 0.0);
  gains.kd.assign(9, 0.0);
  // Kn = 2 zeta_n w M
  gains.kn = Scaled(model, q, 2.0 * kNullDamping * w);
  if (f < 0) {
    return gains;
  }
  // Kx = Lambda w^2, Dx = 2 Lambda w
  double lambda[9];
  model.FrameInertia(f, q, lambda);
  for (std::size_t k = 0; k < 9; ++k) {
    gains.kp[k] = lambda[k] * w * w;
    gains.kd[k] = 2.0 * lambda[k] * w;
  }
  return gains;
}
