// Joint friction as modes. Each joint either slides, with Coulomb's torque c s against a fixed sign
// s of its motion, or is held at rest by friction (locked: qd = 0, qdd = 0) while the torque that
// holds it stays within +-c. A joint resting at one of its limits is held the same way, the limit
// adding a force of its own side (joint_limits.h): at its upper limit it is held while the torque
// that drives it stays above -c, at its lower limit while it stays below c. Within a mode the
// equation of motion is smooth,
//   M qdd + C qd + G = tau - b qd - c s        (sliding joints; held joints have qdd = 0),
// so a Runge-Kutta step of it keeps its order; where the mode stops describing the motion (a
// sliding joint's velocity reaches 0, a held joint's holding torque reaches +-c) is an event,
// located inside the step (events.h), and there the modes are decided again. So is a moving joint
// reaching a limit, where the impact is resolved first.
//
// The decision is a search over locked joints: a joint at rest is tried as held; a held joint
// whose holding torque exceeds c (on the side no limit takes) slides in the direction of that
// torque; a sliding joint whose
// velocity the step (or, at an instant, its acceleration) would turn against its sign is held
// instead. Each try is one solve with the held joints locked. The implicit step's kick runs the
// same search over its substep (FrictionKick, integrators.h).
#pragma once

#include <cstdint>
#include <vector>

#include "matrix/matrix.h"
#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/joint_limits.h"

class TickTorque;

// The friction coefficients of each joint, filled from the Robot: those each joint takes
// (JointViscous, JointCoulomb).
struct JointFriction {
  void Fill(const Robot& robot);

  std::vector<double> viscous;  // b_i
  std::vector<double> coulomb;  // c_i; only c_i > 0 holds a joint and has events
};

// The friction mode of every joint.
struct FrictionModes {
  void Resize(int n);

  std::vector<uint8_t> held;  // 1: held at rest (locked at qdd = 0)
  std::vector<int8_t> sign;  // of a sliding joint: the direction it moves in (0: no Coulomb torque)
  // Where each joint is against its limits when the modes are decided (kAtLower, kAtUpper bits):
  // a joint at rest there is held; set by whoever decides them.
  std::vector<uint8_t> limit;
  // Whether any joint is held: the solves then lock joints.
  bool AnyHeld() const;
};

// Working values of the search, sized for n joints.
struct ModeSearch {
  void Resize(int n);

  std::vector<double> rhs;       // the solve's right-hand side, then the held joints' forces
  std::vector<double> force;     // the Coulomb torque of each joint: c s, or the holding torque
  std::vector<double> armature;  // the kick's added inertia h b_i
};

// Decides the modes over a kick of length h >= 0 from velocity qd on the state the equation last
// evaluated, with the user's torques tau and the joints' places against their limits in
// modes.limit: for h > 0 the implicit kick, viscous friction implicit,
//   (M + h B) qdd = tau - C qd - G - B qd - f,   qd' = qd + h qdd,   B = diag(b_i),
// whose held joints end at rest (qdd = -qd / h); for h = 0 the instant's accelerations, whose held
// joints stay at rest. qdd receives the accelerations of the modes decided, search.force each
// joint's Coulomb torque. A moving joint slides in the direction it moves; at an instant it is
// never held (only its velocity's event stops it).
void DecideModes(Equation& equation, const double* tau, const JointFriction& friction, double h,
                 const double* qd, FrictionModes& modes, double* qdd, ModeSearch& search);

// The equation of motion in fixed modes as a first-order system, with the balance's rates: for
// y = (q, qd, W, D), 2n + 2 values,
//   q' = qd,  qd' = qdd (held joints: 0),  W' = tau . qd,  D' = sum_i (b_i qd_i + c_i s_i) qd_i.
// Within a mode c_i s_i qd_i = c_i |qd_i|, so D is the energy friction takes.
class ModeEquation {
 public:
  ModeEquation(Equation& equation, Robot& robot, const JointFriction& friction,
               const JointLimits& limits, FrictionModes& modes);

  int Joints() const { return n_; }
  // With time, y carries the time within the tick as one more value, t' = 1.
  int Size() const { return 2 * n_ + 2 + (timed_ ? 1 : 0); }
  const JointFriction& Friction() const { return friction_; }
  const JointLimits& Limits() const { return limits_; }
  FrictionModes& Modes() { return modes_; }
  Equation& Engine() { return equation_; }

  // The user's torques of the tick (n values), kept by pointer.
  void SetTorque(const double* tau) { tau_ = tau; }
  // The torques of the last state evaluated.
  const double* Torque() const { return tau_; }
  // Torques that change with the state (a controller evaluated at every state, external forces):
  // asked at every state evaluated, in the place of SetTorque's; timed, at the time y carries.
  // Null: SetTorque's.
  void SetTorqueAt(TickTorque* torque, bool timed);

  // dy = f(y) in the current modes; holding() then gives each held joint's holding torque,
  // tau - (M qdd + C qd + G): what friction must supply to keep it at rest.
  void Rates(const double* y, double* dy);
  // Decides the modes at y (an instant: DecideModes with h = 0), then dy = f(y) in them. First,
  // with limits, positions past a limit are put at it and the impact of joints at a limit moving
  // into it is resolved (joint_limits.h): their velocities change, and D takes the energy. Then a
  // joint the impact left moving off a limit whose acceleration brings it back within the
  // resolution of positions is at the accumulation point of its impacts and stops there too.
  void Decide(double* y, double* dy);
  const std::vector<double>& Holding() const { return holding_; }
  // Whether the last decision resolved an impact.
  bool Struck() const { return impact_.struck; }
  // The resolution of positions below which a joint's return to its limit after an impact is taken
  // as resting there (joint_limits.h): a tolerance, relative to 1 + |q|.
  void SetResolution(double resolution) { resolution_ = resolution; }
  // After an impact: the soonest a sliding joint's friction would stop it at the rates dy of y
  // (|qd_i / qdd_i| of a joint slowing down), infinity when none slows down.
  double SoonestStop(const double* y, const double* dy) const;

  // The implicit stage of the additive Runge-Kutta step (runge_kutta.h), whose velocity v solves
  //   M (v - r) = a (tau - C v - G - B v - c s)
  // at the positions of the stage's state y, whose velocities are the last iterate v, by
  // simplified Newton iteration with the Jacobian of the viscous term: each iterate v' = r + a x
  // from the last one, v, with
  //   (M + a B) x = tau(y) - C(q, v) v - G - c s - B r,
  // one evaluation and one solve (the implicit step's kick, held joints locked at rest); torques
  // that change with the state are taken at y. Leaves the new iterate in v.
  void StageIterate(const double* y, const double* r, double a, double* v);
  // The explicit part of the additive step's rates at y: q' = qd, the balance's W' and D' (with
  // the torques at y), and 0 for the velocities; no evaluation of the arm.
  void ExplicitRates(const double* y, double* dy);
  // The stiffness of viscous friction at the positions q: the largest eigenvalue of M^-1 B (the
  // rate at which it damps the lightest joint's motion, 1/s), by four steps of the power method on
  // B^1/2 M^-1 B^1/2 from every damped joint alike; at most the true one. 0 without viscous
  // friction. B is what the torques last asked for do not cancel of it (TickTorque::ViscousSlope).
  double ViscousStiffness(const double* q);

  // The energies of the state last evaluated by Rates or Decide.
  double KineticEnergy() { return equation_.KineticEnergy(); }
  double PotentialEnergy() { return equation_.PotentialEnergy(); }

 private:
  void BalanceRates(const double* y, double* dy) const;
  // The torques at y, when they change with the state; inMode: y is a state of a step in the
  // current modes, whose sliding joints' directions the torques may take (a friction model's).
  void TorqueAt(const double* y, bool inMode);

  Equation& equation_;
  Robot& robot_;
  const JointFriction& friction_;
  const JointLimits& limits_;
  FrictionModes& modes_;
  int n_;
  const double* tau_ = nullptr;
  TickTorque* torqueAt_ = nullptr;
  bool timed_ = false;
  std::vector<double> holding_;
  ModeSearch search_;
  ImpactWork impact_;
  std::vector<uint8_t> settle_;
  std::vector<double> viscousForce_, armature_, power_, damping_;
  double resolution_ = 1e-9;
};
