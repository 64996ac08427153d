// One substep of length h of each integrator on the equation of motion with the robot's joint
// friction, F(qd) = viscous qd + coulomb sign(qd). The state is (q, qd), n values each, changed in
// place; qdd receives the substep's acceleration, the mean rate at which it changed qd.
#pragma once

#include <cstdint>
#include <vector>

#include "robot/robot.h"
#include "simulation/equation.h"

// Working values of the substeps, sized for n joints once.
struct SubstepWork {
  void Resize(int n);

  std::vector<double> tau;
  std::vector<double> k[4];    // Runge-Kutta stages: accelerations
  std::vector<double> qs, vs;  // stages: states
  std::vector<uint8_t> locked;
  std::vector<int8_t> sliding;  // the sign of the Coulomb torque of a joint that is not locked
  // Energies of the state the substep started from.
  double kinetic = 0.0;
  double potential = 0.0;
};

// F(qd)_i = qd_i viscous + sign(qd_i) coulomb, the sign of 0 being 0.
double FrictionTorque(const Robot& robot, double qd);

// qdd = solve(tau - F(qd)); qd += qdd h; q += qd h.
void EulerSubstep(Equation& equation, Robot& robot, const matrix<double>& torque, double h,
                  double* q, double* qd, double* qdd, SubstepWork& work);

// A kick of length h with friction at its end, on the state the equation last evaluated, whose
// velocity terms it takes; qd is the velocity before and after it, qdd its acceleration. With b the
// viscous and c the Coulomb coefficient and qd' = qd + h qdd:
//   (M + h b E) qdd = tau - C qd - G - b qd - f,
// where for each joint either f = c sign(qd') (sliding), or qd' = 0 and |f| <= c (held at rest).
// The sliding and held joints are found by trying: each try is one solve with the held joints
// locked; a sliding joint whose velocity would change sign is held instead, a held joint that
// needs more than c to hold slides. So friction never reverses a joint, and a joint at rest stays
// there while the other torques on it stay below c. With c <= 0 friction is explicit, c sign(qd).
void FrictionKick(Equation& equation, Robot& robot, const matrix<double>& torque, double h,
                  double* qd, double* qdd, SubstepWork& work);

// Drift, kick, drift: q moves half the substep with qd; a kick of length h at that position, its
// velocity terms taken at qd + h/2 before (before: the acceleration of the substep before, 0 when
// there was none); q moves the other half with the new velocity. Second order in smooth motion,
// with one solve (more when friction holds joints); a joint held at rest does not drift.
void ImplicitSubstep(Equation& equation, Robot& robot, const matrix<double>& torque, double h,
                     const double* before, double* q, double* qd, double* qdd, SubstepWork& work);

// Classical fourth-order Runge-Kutta on qdd = solve(tau - F(qd)).
void Rk4Substep(Equation& equation, Robot& robot, const matrix<double>& torque, double h, double* q,
                double* qd, double* qdd, SubstepWork& work);
