// The terms of the joint-space equation of motion tau = M(q) qdd + C(q, qd) qd + G(q) + F(qd) and
// the two energies, for the Robot's current state. Jv and Jw hold the n link Jacobians
// (Jv[i] = LinearJacobian(i), Jw[i] = AngularJacobian(i)) of the state that the last
// UpdateLinkKinematics described; a missing entry of Jv or Jw, or of a derivative sequence, stops
// the program with the matrix index message. All are pure: they change nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "dynamics/kinematics.h"
#include "matrix/matrix.h"
#include "robot/robot.h"

// M = sum_i (Jv_i^T m_i Jv_i + Jw_i^T R_i I_i R_i^T Jw_i), n x n and symmetric: from M = 0, for
// each link M = M + (B + A), A = (((Jw_i^T R_i) I_i) R_i^T) Jw_i, B = (Jv_i^T m_i) Jv_i.
matrix<double> MassMatrix(const Robot& robot, const std::vector<matrix<double>>& Jv,
                          const std::vector<matrix<double>>& Jw);

// N[k] = dM/dq_k, n matrices n x n: the derivative of every link's term in M by the product rule,
// through the exact Jacobian derivatives a = dJv_i/dq_k and b = dJw_i/dq_k. With Ihat = (R I) R^T
// and dIhat = ((dR I) R^T) + ((R I) dR^T), each link adds
// W = ((((a^T Jv + Jv^T a) m) + (b^T Ihat) Jw) + (Jw^T dIhat) Jw) + (Jw^T Ihat) b.
std::vector<matrix<double>> MassMatrixDerivatives(const Robot& robot,
                                                  const std::vector<matrix<double>>& Jv,
                                                  const std::vector<matrix<double>>& Jw);

// C(k, j) = 1/2 sum_i (dM_kj/dq_i + dM_ki/dq_j - dM_ji/dq_k) qd_i, n x n: the Christoffel symbols
// of M, so that dM/dt - 2 C is skew-symmetric.
matrix<double> CoriolisMatrix(const Robot& robot, const std::vector<matrix<double>>& Jv,
                              const std::vector<matrix<double>>& Jw);

// G_i = -sum_j m_j g^T (column i of Jv_j), n x 1: the gradient of the potential energy, each term
// ((g^T m_j) Column3(Jv_j, i))(0, 0).
matrix<double> GravityVector(const Robot& robot, const std::vector<matrix<double>>& Jv);

// F_i = qd_i viscous_i + sign(qd_i) coulomb_i, n x 1, with the coefficients each joint takes
// (JointViscous, JointCoulomb: the panel's, or the file's own); the sign of an exactly zero
// velocity is 0.
matrix<double> FrictionVector(const Robot& robot);

// 1/2 qd^T M qd as (((qd^T 0.5) M) qd)(0, 0), with the M of MassMatrix for the same state.
double KineticEnergy(const Robot& robot, const matrix<double>& M);

// -sum_i m_i g^T p_i, subtracted link by link from a 1 x 1 zero: zero on the plane through the
// base normal to gravity.
double PotentialEnergy(const Robot& robot);

// The functions above are the defining matrix expressions, evaluated with the matrix library's
// operations in their order, so every shape behaves as the expressions do (a Jacobian with extra
// columns, a malformed gravity). The same sums on plain row-major arrays follow, for the inner
// loops of the tick; both give the same bits for well-formed inputs.
namespace flat {

// What the terms read: the Robot (masses, inertias, velocities, gravity, friction), the arrays of
// its last kinematics pass, and its Jacobians, Jv_i and Jw_i as 3 x n blocks at 3 n i.
struct TermInputs {
  const Robot* robot;
  const LinkFrames* frames;
  const double* Jv;
  const double* Jw;
};

// Working storage of CoriolisMatrix, kept between calls so that a tick allocates nothing.
struct CoriolisScratch {
  std::vector<double> N;             // n x (n x n): dM/dq_k at n^2 k
  std::vector<double> inertiaBody;   // n x 9: I_i, in the link frame
  std::vector<double> inertiaWorld;  // n x 9: R_i I_i R_i^T
  std::vector<double> rotatedBody;   // n x 9: R_i I_i
  std::vector<double> jwInertia;     // n x (n x 3): Jw_i^T R_i I_i R_i^T
  std::vector<double> a, b;          // 3 x n: dJv_i/dq_k, dJw_i/dq_k
  std::vector<double> bInertia;      // n x 3: (dJw_i/dq_k)^T Ihat_i
  std::vector<double> jwDInertia;    // n x 3: Jw_i^T dIhat_i/dq_k
};

void MassMatrix(const TermInputs& in, double* M);                                // n x n
void MassMatrixDerivatives(const TermInputs& in, CoriolisScratch& scratch);      // into scratch.N
void CoriolisMatrix(const TermInputs& in, CoriolisScratch& scratch, double* C);  // n x n
void GravityVector(const TermInputs& in, double* G);                             // n
void FrictionVector(const Robot& robot, double* F);                              // n
double KineticEnergy(const Robot& robot, const double* M);
double PotentialEnergy(const Robot& robot, const LinkFrames& frames);

}  // namespace flat
