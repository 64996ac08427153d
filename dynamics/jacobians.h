// Link Jacobians: the 3 x n matrices that map the joint velocities to the velocity of a link's
// centre of mass (linear) and to its angular velocity (angular), and their exact derivatives by a
// joint position. All read the working fields of the last UpdateLinkKinematics and change nothing.
// Column j belongs to joint j; columns beyond link i, and those of joints that are neither
// Revolute nor Prismatic, are 0. Only columns j = 0 ... min(i, n - 1) are formed, and link i's
// comWorld and dComWorld are read only for a Revolute column; so i may be n or more when nothing
// of link i is needed. A link or derivative entry that must be read but does not exist stops the
// program with the matrix index message, as a matrix access does.
#pragma once

#include <cstdint>
#include <vector>

#include "dynamics/kinematics.h"
#include "matrix/matrix.h"
#include "robot/robot.h"

// A new rows x cols matrix of zeros, as the matrix-valued terms start their sums.
matrix<double> Zeros(uint32_t rows, uint32_t cols);

// Entry k of a sequence of matrices (a derivative sequence, the Jacobians of the links); stops the
// program with the matrix index message when there is no entry k.
const matrix<double>& SequenceEntry(const std::vector<matrix<double>>& sequence, uint32_t k);

// a x b for 3 x 1 a and b: (a1 b2 - a2 b1, a2 b0 - a0 b2, a0 b1 - a1 b0).
matrix<double> CrossProduct(const matrix<double>& a, const matrix<double>& b);

// Jv_i: column j is z_j x (p_i - o_j) for a Revolute joint, z_j for a Prismatic one.
matrix<double> LinearJacobian(const Robot& robot, uint32_t i);

// Jw_i: column j is z_j for a Revolute joint, 0 for a Prismatic one.
matrix<double> AngularJacobian(const Robot& robot, uint32_t i);

// dJv_i/dq_k: column j is dz_j/dq_k x (p_i - o_j) + z_j x (dp_i/dq_k - do_j/dq_k) for a
// Revolute joint, dz_j/dq_k for a Prismatic one.
matrix<double> LinearJacobianDerivative(const Robot& robot, uint32_t i, uint32_t k);

// dJw_i/dq_k: column j is dz_j/dq_k for a Revolute joint, 0 for a Prismatic one.
matrix<double> AngularJacobianDerivative(const Robot& robot, uint32_t i, uint32_t k);

// The same four on the arrays of a kinematics pass, into out: 3 x n, row-major (element (r, j) at
// r * n + j), every element written; i and k below n. Bit for bit the results of the functions
// above, which are the matrix operations that these loops follow.
namespace flat {
void LinearJacobian(const LinkFrames& frames, uint32_t i, double* out);
void AngularJacobian(const LinkFrames& frames, uint32_t i, double* out);
void LinearJacobianDerivative(const LinkFrames& frames, uint32_t i, uint32_t k, double* out);
void AngularJacobianDerivative(const LinkFrames& frames, uint32_t i, uint32_t k, double* out);
}  // namespace flat
