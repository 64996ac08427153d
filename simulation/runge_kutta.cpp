#include "simulation/runge_kutta.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// Dormand and Prince's 5(4) pair: nodes, coefficients, the fifth-order weights (the seventh
// stage's row, evaluated at the new state: first same as last), the error weights b - b^ and
// Hairer's dense output coefficients.
constexpr double kA21 = 1.0 / 5.0;
constexpr double kA31 = 3.0 / 40.0, kA32 = 9.0 / 40.0;
constexpr double kA41 = 44.0 / 45.0, kA42 = -56.0 / 15.0, kA43 = 32.0 / 9.0;
constexpr double kA51 = 19372.0 / 6561.0, kA52 = -25360.0 / 2187.0, kA53 = 64448.0 / 6561.0,
                 kA54 = -212.0 / 729.0;
constexpr double kA61 = 9017.0 / 3168.0, kA62 = -355.0 / 33.0, kA63 = 46732.0 / 5247.0,
                 kA64 = 49.0 / 176.0, kA65 = -5103.0 / 18656.0;
constexpr double kB1 = 35.0 / 384.0, kB3 = 500.0 / 1113.0, kB4 = 125.0 / 192.0,
                 kB5 = -2187.0 / 6784.0, kB6 = 11.0 / 84.0;
constexpr double kE1 = 71.0 / 57600.0, kE3 = -71.0 / 16695.0, kE4 = 71.0 / 1920.0,
                 kE5 = -17253.0 / 339200.0, kE6 = 22.0 / 525.0, kE7 = -1.0 / 40.0;
constexpr double kD1 = -12715105075.0 / 11282082432.0, kD3 = 87487479700.0 / 32700410799.0,
                 kD4 = -10690763975.0 / 1880347072.0, kD5 = 701980252875.0 / 199316789632.0,
                 kD6 = -1453857185.0 / 822651844.0, kD7 = 69997945.0 / 29380423.0;

// The step-size control of Hairer's DOPRI5: PI control with beta = 0.04, safety factor 0.9, a
// step changed by a factor of 1/5 to 10 at most.
constexpr double kBeta = 0.04;
constexpr double kExponent = 0.2 - kBeta * 0.75;
constexpr double kSafety = 0.9;
constexpr double kMostShrink = 5.0;   // 1 / the smallest factor
constexpr double kLeastShrink = 0.1;  // 1 / the largest factor
constexpr double kOrder = 5.0;

// Kennedy and Carpenter's ARK3(2)4L[2]SA: the explicit tableau aE, the ESDIRK tableau aI (gamma on
// its diagonal, its first stage explicit), their common weights b (the ESDIRK's last row: stiffly
// accurate), the embedded weights bh and the dense output's b_i(theta) = d1_i theta + d2_i theta^2.
constexpr double kGamma = 1767732205903.0 / 4055673282236.0;
constexpr double kArkE[4][4] = {
    {0.0, 0.0, 0.0, 0.0},
    {1767732205903.0 / 2027836641118.0, 0.0, 0.0, 0.0},
    {5535828885825.0 / 10492691773637.0, 788022342437.0 / 10882634858940.0, 0.0, 0.0},
    {6485989280629.0 / 16251701735622.0, -4246266847089.0 / 9704473918619.0,
     10755448449292.0 / 10357097424841.0, 0.0}};
constexpr double kArkB[4] = {1471266399579.0 / 7840856788654.0, -4482444167858.0 / 7529755066697.0,
                             11266239266428.0 / 11593286722821.0, kGamma};
constexpr double kArkI[4][4] = {
    {0.0, 0.0, 0.0, 0.0},
    {kGamma, kGamma, 0.0, 0.0},
    {2746238789719.0 / 10658868560708.0, -640167445237.0 / 6845629431997.0, kGamma, 0.0},
    {kArkB[0], kArkB[1], kArkB[2], kGamma}};
constexpr double kArkBh[4] = {
    2756255671327.0 / 12835298489170.0, -10771552573575.0 / 22201958757719.0,
    9247589265047.0 / 10645013368117.0, 2193209047091.0 / 5459859503100.0};
constexpr double kArkD[4][2] = {
    {4655552711362.0 / 22874653954995.0, -215264564351.0 / 13552729205753.0},
    {-18682724506714.0 / 9892148508045.0, 17870216137069.0 / 13817060693119.0},
    {34259539580243.0 / 13192909600954.0, -28141676662227.0 / 17317692491321.0},
    {584795268549.0 / 6622622206610.0, 2508943948391.0 / 7218656332882.0}};
constexpr double kArkExponent = 1.0 / 3.0 - kBeta * 0.75;
// The iteration of an implicit stage: at most this many iterates, until one changes the velocities
// by less than this part of the tolerance.
constexpr int kMaxIterations = 6;
constexpr double kConvergence = 1.0 / 30.0;

}  // namespace

// ---- semi-implicit Euler ----------------------------------------------------------------------

void EulerMethod::Resize(int size) {
  y0_.resize(static_cast<std::size_t>(size));
  y1_.resize(static_cast<std::size_t>(size));
}

double EulerMethod::Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
                         double* k1) {
  const int n = f.Joints();
  const double* tau = f.Torque();
  const double* b = f.Friction().viscous.data();
  const double* c = f.Friction().coulomb.data();
  const int8_t* sign = f.Modes().sign.data();
  double work = 0.0, dissipated = 0.0;
  for (int i = 0; i < n; ++i) {
    // qd' = qdd h + qd; q' = qd' h + q
    y1[n + i] = k0[n + i] * h + y[n + i];
    y1[i] = y1[n + i] * h + y[i];
    // force times displacement: the torques' work and friction's, at the start's velocity
    const double moved = y1[i] - y[i];
    work += tau[i] * moved;
    dissipated += (b[i] * y[n + i] + c[i] * sign[i]) * moved;
  }
  y1[2 * n] = y[2 * n] + work;
  y1[2 * n + 1] = y[2 * n + 1] + dissipated;
  const std::size_t size = y0_.size();
  // The values beyond the balance (the time within the tick) advance with their rates.
  for (std::size_t j = static_cast<std::size_t>(2 * n + 2); j < size; ++j) {
    y1[j] = y[j] + h * k0[j];
  }
  std::copy(y, y + size, y0_.begin());
  std::copy(y1, y1 + size, y1_.begin());
  f.Rates(y1, k1);
  return 0.0;
}

void EulerMethod::State(double theta, double* y) const {
  for (std::size_t j = 0; j < y0_.size(); ++j) {
    y[j] = y0_[j] + theta * (y1_[j] - y0_[j]);
  }
}

double EulerMethod::Component(int j, double theta) const {
  return y0_[j] + theta * (y1_[j] - y0_[j]);
}

// ---- classical Runge-Kutta ----------------------------------------------------------------------

void Rk4Method::Resize(int size) {
  for (std::vector<double>* v : {&k_[0], &k_[1], &k_[2], &stage_, &y0_, &y1_, &hk0_, &hk1_}) {
    v->resize(static_cast<std::size_t>(size));
  }
}

double Rk4Method::Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
                       double* k1) {
  const std::size_t size = stage_.size();
  double* s = stage_.data();
  double* k2 = k_[0].data();
  double* k3 = k_[1].data();
  double* k4 = k_[2].data();
  // k2 at y + h/2 k1, k3 at y + h/2 k2, k4 at y + h k3
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + 0.5 * h * k0[j];
  }
  f.Rates(s, k2);
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + 0.5 * h * k2[j];
  }
  f.Rates(s, k3);
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + h * k3[j];
  }
  f.Rates(s, k4);
  // y' = y + h/6 (k1 + 2 k2 + 2 k3 + k4)
  for (std::size_t j = 0; j < size; ++j) {
    y1[j] = y[j] + h / 6.0 * (k0[j] + 2.0 * k2[j] + 2.0 * k3[j] + k4[j]);
  }
  f.Rates(y1, k1);
  for (std::size_t j = 0; j < size; ++j) {
    y0_[j] = y[j];
    y1_[j] = y1[j];
    hk0_[j] = h * k0[j];
    hk1_[j] = h * k1[j];
  }
  return 0.0;
}

double Rk4Method::Component(int j, double theta) const {
  // u = (1 - t) y0 + t y1 + t (t - 1) ((1 - 2t)(y1 - y0) + (t - 1) h f0 + t h f1)
  const double t = theta;
  const double d = y1_[j] - y0_[j];
  return (1.0 - t) * y0_[j] + t * y1_[j] +
         t * (t - 1.0) * ((1.0 - 2.0 * t) * d + (t - 1.0) * hk0_[j] + t * hk1_[j]);
}

void Rk4Method::State(double theta, double* y) const {
  for (std::size_t j = 0; j < y0_.size(); ++j) {
    y[j] = Component(static_cast<int>(j), theta);
  }
}

// ---- Dormand-Prince 5(4) -----------------------------------------------------------------------

void Dopri5Method::Resize(int size) {
  for (std::vector<double>& k : k_) {
    k.resize(static_cast<std::size_t>(size));
  }
  for (std::vector<double>& r : r_) {
    r.resize(static_cast<std::size_t>(size));
  }
  stage_.resize(static_cast<std::size_t>(size));
}

double Dopri5Method::Weight(double a, double b) const {
  return tolerance_ * (1.0 + std::max(std::fabs(a), std::fabs(b)));
}

double Dopri5Method::Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
                          double* k1) {
  const std::size_t size = stage_.size();
  double* s = stage_.data();
  double* k2 = k_[0].data();
  double* k3 = k_[1].data();
  double* k4 = k_[2].data();
  double* k5 = k_[3].data();
  double* k6 = k_[4].data();
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + h * (kA21 * k0[j]);
  }
  f.Rates(s, k2);
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + h * (kA31 * k0[j] + kA32 * k2[j]);
  }
  f.Rates(s, k3);
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + h * (kA41 * k0[j] + kA42 * k2[j] + kA43 * k3[j]);
  }
  f.Rates(s, k4);
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + h * (kA51 * k0[j] + kA52 * k2[j] + kA53 * k3[j] + kA54 * k4[j]);
  }
  f.Rates(s, k5);
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + h * (kA61 * k0[j] + kA62 * k2[j] + kA63 * k3[j] + kA64 * k4[j] + kA65 * k5[j]);
  }
  f.Rates(s, k6);
  // y' = y + h (b1 k1 + b3 k3 + b4 k4 + b5 k5 + b6 k6); k7 = f(y')
  for (std::size_t j = 0; j < size; ++j) {
    y1[j] = y[j] + h * (kB1 * k0[j] + kB3 * k3[j] + kB4 * k4[j] + kB5 * k5[j] + kB6 * k6[j]);
  }
  f.Rates(y1, k1);
  // The error estimate h sum (b_i - b^_i) k_i, in the maximum norm weighed by the tolerance.
  double err = 0.0;
  for (std::size_t j = 0; j < size; ++j) {
    const double e =
        h * (kE1 * k0[j] + kE3 * k3[j] + kE4 * k4[j] + kE5 * k5[j] + kE6 * k6[j] + kE7 * k1[j]);
    // A component that is not a number fails the step.
    const double scaled = std::fabs(e) / Weight(y[j], y1[j]);
    err = scaled > err || std::isnan(scaled) ? scaled : err;
  }
  // The dense output's coefficients.
  for (std::size_t j = 0; j < size; ++j) {
    const double ydiff = y1[j] - y[j];
    const double bspl = h * k0[j] - ydiff;
    r_[0][j] = y[j];
    r_[1][j] = ydiff;
    r_[2][j] = bspl;
    r_[3][j] = ydiff - h * k1[j] - bspl;
    r_[4][j] =
        h * (kD1 * k0[j] + kD3 * k3[j] + kD4 * k4[j] + kD5 * k5[j] + kD6 * k6[j] + kD7 * k1[j]);
  }
  return err;
}

double Dopri5Method::Component(int j, double theta) const {
  const double t1 = 1.0 - theta;
  return r_[0][j] + theta * (r_[1][j] + t1 * (r_[2][j] + theta * (r_[3][j] + t1 * r_[4][j])));
}

void Dopri5Method::State(double theta, double* y) const {
  for (std::size_t j = 0; j < stage_.size(); ++j) {
    y[j] = Component(static_cast<int>(j), theta);
  }
}

double Dopri5Method::NextStep(double h, double err, bool accepted) {
  const double power = std::pow(err, kExponent);
  if (!accepted) {
    rejected_ = true;
    return std::isnan(power) ? h / kMostShrink : h / std::min(kMostShrink, power / kSafety);
  }
  double factor = power / std::pow(errorBefore_, kBeta);
  factor = std::max(kLeastShrink, std::min(kMostShrink, factor / kSafety));
  double next = h / factor;
  errorBefore_ = std::max(err, 1e-4);
  if (rejected_) {
    next = std::min(next, h);
  }
  rejected_ = false;
  return next;
}

void Dopri5Method::Restart() {
  errorBefore_ = 1e-4;
  rejected_ = false;
}

double Dopri5Method::StartingStep(ModeEquation& f, const double* y, const double* k0, double hMax) {
  const std::size_t size = stage_.size();
  double dnf = 0.0, dny = 0.0;
  for (std::size_t j = 0; j < size; ++j) {
    const double sk = tolerance_ * (1.0 + std::fabs(y[j]));
    dnf += (k0[j] / sk) * (k0[j] / sk);
    dny += (y[j] / sk) * (y[j] / sk);
  }
  double h = dnf <= 1e-10 || dny <= 1e-10 ? 1e-6 : std::sqrt(dny / dnf) * 0.01;
  h = std::min(h, hMax);
  // One explicit Euler step estimates the second derivative.
  double* s = stage_.data();
  double* k = k_[0].data();
  for (std::size_t j = 0; j < size; ++j) {
    s[j] = y[j] + h * k0[j];
  }
  f.Rates(s, k);
  double der2 = 0.0;
  for (std::size_t j = 0; j < size; ++j) {
    const double sk = tolerance_ * (1.0 + std::fabs(y[j]));
    der2 += ((k[j] - k0[j]) / sk) * ((k[j] - k0[j]) / sk);
  }
  der2 = std::sqrt(der2) / h;
  const double der12 = std::max(std::fabs(der2), std::sqrt(dnf));
  const double h1 =
      der12 <= 1e-15 ? std::max(1e-6, h * 1e-3) : std::pow(0.01 / der12, 1.0 / kOrder);
  return std::min({100.0 * h, h1, hMax});
}

// ---- additive Runge-Kutta ARK3(2)4L[2]SA ------------------------------------------------------

void ImexMethod::Resize(int size) {
  size_ = size;
  for (int i = 0; i < kStages; ++i) {
    explicit_[i].resize(static_cast<std::size_t>(size));
    implicit_[i].resize(static_cast<std::size_t>(size));
  }
  stage_.resize(static_cast<std::size_t>(size));
  y0_.resize(static_cast<std::size_t>(size));
  r_.resize(static_cast<std::size_t>(size));
  v_.resize(static_cast<std::size_t>(size));
}

double ImexMethod::Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
                        double* k1) {
  const int n = f.Joints();
  const std::size_t size = stage_.size();
  double* s = stage_.data();
  const auto weight = [&](double a, double b) {
    return tolerance_ * (1.0 + std::max(std::fabs(a), std::fabs(b)));
  };
  // The first stage is y: the velocities' rate is implicit, the others explicit.
  for (std::size_t j = 0; j < size; ++j) {
    const bool velocity = j >= static_cast<std::size_t>(n) && j < static_cast<std::size_t>(2 * n);
    explicit_[0][j] = velocity ? 0.0 : k0[j];
    implicit_[0][j] = velocity ? k0[j] : 0.0;
  }
  const double a = h * kGamma;
  for (int stage = 1; stage < kStages; ++stage) {
    // Y = y + h sum_j<stage (aE kE_j + aI kI_j) + h gamma kI_stage, the last term in the
    // velocities alone: v = r + h gamma qd'(q, v), solved by iteration from the velocity the last
    // stage's rate foretells.
    for (std::size_t j = 0; j < size; ++j) {
      double sum = 0.0;
      for (int l = 0; l < stage; ++l) {
        sum += kArkE[stage][l] * explicit_[l][j] + kArkI[stage][l] * implicit_[l][j];
      }
      s[j] = y[j] + h * sum;
    }
    double* r = r_.data();
    double* v = v_.data();
    for (int i = 0; i < n; ++i) {
      r[i] = s[n + i];
      v[i] = r[i] + a * implicit_[stage - 1][n + i];
    }
    bool converged = false;
    for (int iteration = 0; iteration < kMaxIterations && !converged; ++iteration) {
      std::copy(v, v + n, s + n);
      f.StageIterate(s, r, a, v);
      double change = 0.0;
      for (int i = 0; i < n; ++i) {
        const double scaled = std::fabs(v[i] - s[n + i]) / weight(v[i], s[n + i]);
        change = scaled > change || std::isnan(scaled) ? scaled : change;
      }
      converged = change <= kConvergence;
    }
    if (!converged) {
      return INFINITY;  // taken again shorter
    }
    // The stage's rates: the implicit one from its equation, (v - r) / (h gamma); the explicit
    // ones (q' = qd, the balance) at the stage's state.
    std::copy(v, v + n, s + n);
    for (std::size_t j = 0; j < size; ++j) {
      implicit_[stage][j] = 0.0;
    }
    for (int i = 0; i < n; ++i) {
      implicit_[stage][n + i] = (v[i] - r[i]) / a;
    }
    f.ExplicitRates(s, explicit_[stage].data());
  }
  // y' = y + h sum b_l (kE_l + kI_l): the velocities are the last stage's (stiffly accurate), the
  // positions and the balance take the weights b, which differ from the explicit tableau's last
  // row.
  for (std::size_t j = 0; j < size; ++j) {
    double sum = 0.0;
    for (int l = 0; l < kStages; ++l) {
      sum += kArkB[l] * (explicit_[l][j] + implicit_[l][j]);
    }
    y1[j] = y[j] + h * sum;
  }
  f.Rates(y1, k1);
  double err = 0.0;
  for (std::size_t j = 0; j < size; ++j) {
    double e = 0.0;
    for (int l = 0; l < kStages; ++l) {
      e += (kArkB[l] - kArkBh[l]) * (explicit_[l][j] + implicit_[l][j]);
    }
    // A component that is not a number fails the step.
    const double scaled = std::fabs(h * e) / weight(y[j], y1[j]);
    err = scaled > err || std::isnan(scaled) ? scaled : err;
  }
  std::copy(y, y + size, y0_.begin());
  h_ = h;
  return err;
}

double ImexMethod::Component(int j, double theta) const {
  double sum = 0.0;
  for (int l = 0; l < kStages; ++l) {
    const double weight = theta * (kArkD[l][0] + theta * kArkD[l][1]);
    sum += weight * (explicit_[l][j] + implicit_[l][j]);
  }
  return y0_[j] + h_ * sum;
}

void ImexMethod::State(double theta, double* y) const {
  for (int j = 0; j < size_; ++j) {
    y[j] = Component(j, theta);
  }
}

double ImexMethod::NextStep(double h, double err, bool accepted) {
  const double power = std::pow(err, kArkExponent);
  if (!accepted) {
    rejected_ = true;
    // A failed step (not a number) is taken again at the shortest factor.
    return std::isnan(power) ? h / kMostShrink : h / std::min(kMostShrink, power / kSafety);
  }
  double factor = power / std::pow(errorBefore_, kBeta);
  factor = std::max(kLeastShrink, std::min(kMostShrink, factor / kSafety));
  double next = h / factor;
  errorBefore_ = std::max(err, 1e-4);
  if (rejected_) {
    next = std::min(next, h);
  }
  rejected_ = false;
  return next;
}

void ImexMethod::Restart() {
  errorBefore_ = 1e-4;
  rejected_ = false;
}
