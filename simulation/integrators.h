// The implicit step's substep, and the friction torque the programs report. The explicit methods
// (Euler, RK4, Dormand-Prince) are in runge_kutta.h, their ticks in explicit_tick.h.
#pragma once

#include <cstdint>
#include <vector>

#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/friction_modes.h"

// Working values of the implicit substeps, sized for n joints once.
struct SubstepWork {
  void Resize(int n);

  std::vector<double> qs, vs;  // the drifted position and the velocity of the kick's terms
  FrictionModes modes;         // the kick's modes: held joints are locked
  ModeSearch search;
  // The substep's share of the energy balance: the torques' work and what friction took.
  double work = 0.0;
  double dissipated = 0.0;
};

// F(qd)_i = qd_i viscous + sign(qd_i) coulomb, the sign of 0 being 0.
double FrictionTorque(const Robot& robot, double qd);

// A kick of length h with friction at its end, on the state the equation last evaluated, whose
// velocity terms it takes; qd is the velocity before and after it, qdd its acceleration. With b the
// viscous and c the Coulomb coefficients and qd' = qd + h qdd:
//   (M + h b E) qdd = tau - C qd - G - b qd - f,
// where for each joint either f = c sign(qd') (sliding), or qd' = 0 and |f| <= c (held at rest),
// decided by DecideModes (friction_modes.h). So friction never reverses a joint, and a joint at
// rest stays there while the other torques on it stay below c. With c <= 0 friction is explicit,
// c sign(qd). The added inertia h b takes the Robot's (uniform) viscous coefficient.
void FrictionKick(Equation& equation, Robot& robot, const double* tau,
                  const JointFriction& friction, double h, double* qd, double* qdd,
                  SubstepWork& work);

// Drift, kick, drift: q moves half the substep with qd; a kick of length h at that position, its
// velocity terms taken at qd + h/2 before (before: the acceleration of the substep before, 0 when
// there was none); q moves the other half with the new velocity. Second order in smooth motion,
// with one solve (more when friction holds joints); a joint held at rest does not drift. The
// substep's work and dissipation are force times displacement: tau . (q' - q) and
// (b qd' + f) . (q' - q) with the kick's friction.
void ImplicitSubstep(Equation& equation, Robot& robot, const double* tau,
                     const JointFriction& friction, double h, const double* before, double* q,
                     double* qd, double* qdd, SubstepWork& work);
