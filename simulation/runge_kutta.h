// The explicit methods of the recursive engine's ticks, each a step of the equation in fixed
// friction modes (ModeEquation) with its own continuous extension, on which the step's events are
// located (events.h):
//
//   EulerMethod   semi-implicit Euler, qd' = qd + h qdd, q' = q + h qd'; W and D by force times
//                 displacement, tau . (q' - q) and (b qd + c s) . (q' - q); linear extension.
//   Rk4Method     classical fourth-order Runge-Kutta on (q, qd, W, D); cubic Hermite extension
//                 from the states and rates at both ends (Hairer, Norsett and Wanner I, II.6).
//   Dopri5Method  Dormand and Prince's 5(4) pair (FSAL, local extrapolation), its error estimate
//                 in a mixed absolute/relative maximum norm, its fourth-order dense output (HNW I,
//                 II.5-II.6), the PI step-size control of Hairer's DOPRI5 and its starting step.
//   ImexMethod    Kennedy and Carpenter's additive Runge-Kutta pair ARK3(2)4L[2]SA (Appl. Numer.
//                 Math. 44, 2003): the velocities' equation, qd' = M^-1 (tau - C qd - G - B qd
//                 - c s), in the L-stable, stiffly accurate ESDIRK tableau, q' = qd and the
//                 balance's rates in the explicit one; third order, an embedded second-order
//                 estimate, their second-order dense output. Each implicit stage is solved by
//                 simplified Newton iteration with the Jacobian of viscous friction, a solve in
//                 M + h gamma B per iterate (ModeEquation::StageIterate), until its change is
//                 below a thirtieth of the tolerance. The step of stiff viscous friction.
//
// y is (q, qd, W, D): 2n + 2 values. Every method takes the rates k0 = f(y) at its start and leaves
// the rates at its end, f(y'), which the next step starts from (the methods' last evaluation).
#pragma once

#include <vector>

#include "simulation/events.h"
#include "simulation/friction_modes.h"

class StepMethod : public Extension {
 public:
  // Sizes the working values for a system of `size` values.
  virtual void Resize(int size) = 0;
  // One step of length h from y with rates k0: y1 and its rates k1 in the same modes (the
  // equation's Holding() then is that of y1). Returns the step's estimated local error in units
  // of the tolerance (a step is good at 1 or less); 0 for methods without an estimate.
  virtual double Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
                      double* k1) = 0;
};

class EulerMethod : public StepMethod {
 public:
  void Resize(int size) override;
  double Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
              double* k1) override;
  void State(double theta, double* y) const override;
  double Component(int j, double theta) const override;

 private:
  std::vector<double> y0_, y1_;
};

class Rk4Method : public StepMethod {
 public:
  void Resize(int size) override;
  double Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
              double* k1) override;
  void State(double theta, double* y) const override;
  double Component(int j, double theta) const override;

 private:
  std::vector<double> k_[3], stage_;
  // The step's ends for the extension: states and rates times h.
  std::vector<double> y0_, y1_, hk0_, hk1_;
};

class Dopri5Method : public StepMethod {
 public:
  void Resize(int size) override;
  // The tolerance of the error estimate: component j's error is weighed by
  // tolerance (1 + max(|y_j|, |y1_j|)).
  void SetTolerance(double tolerance) { tolerance_ = tolerance; }
  double Tolerance() const { return tolerance_; }
  double Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
              double* k1) override;
  void State(double theta, double* y) const override;
  double Component(int j, double theta) const override;

  // The step after one of length h with error err (in units of the tolerance) by Hairer's PI
  // control: h (err_before^beta / err^(1/5 - 3 beta / 4)) times a safety factor, kept between
  // h / 5 and 10 h; no growth right after a rejection. Accepted tells whether err <= 1.
  double NextStep(double h, double err, bool accepted);
  // Forgets the error of the step before (a new start of the integration).
  void Restart();
  // A starting step for y with rates k0 after Hairer and Wanner (HNW I, II.4): from the sizes of
  // y, f(y) and the second derivative estimated by one more evaluation; at most hMax.
  double StartingStep(ModeEquation& f, const double* y, const double* k0, double hMax);

 private:
  double Weight(double a, double b) const;

  double tolerance_ = 1e-9;
  std::vector<double> k_[5];  // stages 2 to 6
  std::vector<double> stage_;
  // The dense output's coefficients: y(theta) = r0 + theta (r1 + (1 - theta) (r2 + theta (r3 +
  // (1 - theta) r4))).
  std::vector<double> r_[5];
  double errorBefore_ = 1e-4;
  bool rejected_ = false;
};

class ImexMethod : public StepMethod {
 public:
  void Resize(int size) override;
  // The tolerance, weighed as Dormand-Prince's.
  void SetTolerance(double tolerance) { tolerance_ = tolerance; }
  double Step(ModeEquation& f, double h, const double* y, const double* k0, double* y1,
              double* k1) override;
  void State(double theta, double* y) const override;
  double Component(int j, double theta) const override;

  // The step after one of length h with error err, by the PI control of Dormand-Prince's for the
  // embedded order 2: h (err_before^beta / err^(1/3 - 3 beta / 4)) times 0.9, between h / 5 and
  // 10 h; no growth right after a rejection.
  double NextStep(double h, double err, bool accepted);
  void Restart();

 private:
  static constexpr int kStages = 4;
  double tolerance_ = 1e-9;
  int size_ = 0;
  // The stages' explicit and implicit rates (the implicit one nonzero in the velocities alone),
  // a stage's state, and the step's ends for the dense output.
  std::vector<double> explicit_[kStages], implicit_[kStages];
  std::vector<double> stage_, y0_, r_, v_;
  double h_ = 0.0;
  double errorBefore_ = 1e-4;
  bool rejected_ = false;
};
