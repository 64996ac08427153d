// The dynamics interface of the simulation tick: forward dynamics (torques to accelerations),
// inverse dynamics (accelerations to torques) and the semi-implicit Euler step. Both dynamics
// operations evaluate tau = M(q) qdd + C(q, qd) qd + G(q) + F(qd) from scratch and store the
// kinetic and potential energy of the state they evaluated in the Robot.
#pragma once

#include "matrix/matrix.h"
#include "robot/robot.h"

// Simulated seconds per tick.
inline constexpr double kTimeStep = 0.01;

// Added, times the identity, to M Mt before the inversion in ForwardDynamics.
inline constexpr double kPseudoInverseDamping = 1e-8;

// The terms of the equation of motion for one state, and that state's joint velocities.
struct EquationTerms {
  matrix<double> M;   // mass matrix, n x n
  matrix<double> C;   // Coriolis and centrifugal matrix, n x n
  matrix<double> G;   // gravity torques, n x 1
  matrix<double> F;   // friction torques, n x 1
  matrix<double> qd;  // joint velocities, n x 1
};

// The evaluation both dynamics operations begin with: the kinematics pass, the link Jacobians,
// M, C, G and F for the current q and qd; stores kineticEnergy and then potentialEnergy in the
// Robot.
EquationTerms EvaluateEquationTerms(Robot& robot);

// qdd = Mt (M Mt + kPseudoInverseDamping I)^-1 (tau - C qd - G - F), n x 1: the damped right
// pseudo-inverse of M, not M^-1. Where M M^T + kPseudoInverseDamping I is singular in floating
// point (M so large that the damping rounds away), every element is NaN: a state with no
// accelerations, which the programs report as a divergence.
matrix<double> ForwardDynamics(Robot& robot, const matrix<double>& torque);

// tau = M qdd + C qd + G + F with qdd read from the links, n x 1.
matrix<double> InverseDynamics(Robot& robot);

// For each link in order: qdd = accel(i, 0); qd = qdd dt + qd; q = qd dt + q (the new velocity
// advances the position). accel needs at least n rows; only column 0 is read.
void IntegrateStep(Robot& robot, const matrix<double>& accel, double dt);
