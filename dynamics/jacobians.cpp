#include "dynamics/jacobians.h"

namespace {

// The matrix-valued Jacobians: the column rule written in matrix operations, reading the links'
// working fields.

// Link j of the robot. A link that does not exist is a failed index, as in a matrix access.
const Link& LinkAt(const Robot& robot, uint32_t j) {
  if (!(j < robot.links.size())) {
    MatrixFatal(kMatrixIndexMessage);
  }
  return *robot.links[j];
}

// Column j of m becomes the 3 x 1 v, element by element.
void SetColumn(matrix<double>& m, uint32_t j, const matrix<double>& v) {
  for (uint32_t r = 0; r < 3; ++r) {
    m(r, j) = v(r, 0);
  }
}

// The Jacobians on the arrays of a kinematics pass: the same operations in the same order.

// a x b = (a1 b2 - a2 b1, a2 b0 - a0 b2, a0 b1 - a1 b0)
void Cross(const double* a, const double* b, double* out) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// a - b, element by element.
void Difference(const double* a, const double* b, double* out) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}

void ZeroFill(uint32_t n, double* out) {
  for (uint32_t e = 0; e < 3 * n; ++e) {
    out[e] = 0.0;
  }
}

void SetColumn(uint32_t n, uint32_t j, const double* v, double* out) {
  out[j] = v[0];
  out[n + j] = v[1];
  out[2 * n + j] = v[2];
}

}  // namespace

matrix<double> Zeros(uint32_t rows, uint32_t cols) {
  matrix<double> m(rows, cols);
  m.SetZero();
  return m;
}

const matrix<double>& SequenceEntry(const std::vector<matrix<double>>& sequence, uint32_t k) {
  if (!(k < sequence.size())) {
    MatrixFatal(kMatrixIndexMessage);
  }
  return sequence[k];
}

matrix<double> CrossProduct(const matrix<double>& a, const matrix<double>& b) {
  const double u[3] = {a(0, 0), a(1, 0), a(2, 0)};
  const double v[3] = {b(0, 0), b(1, 0), b(2, 0)};
  double w[3];
  Cross(u, v, w);
  matrix<double> c(3);
  c(0, 0) = w[0];
  c(1, 0) = w[1];
  c(2, 0) = w[2];
  return c;
}

matrix<double> LinearJacobian(const Robot& robot, uint32_t i) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> J = Zeros(3, n);
  for (uint32_t j = 0; j <= i && j < n; ++j) {
    const Link& joint = *robot.links[j];
    if (joint.jointType == Revolute) {
      // z_j x (p_i - o_j)
      SetColumn(J, j, CrossProduct(joint.axisWorld, LinkAt(robot, i).comWorld - joint.originWorld));
    } else if (joint.jointType == Prismatic) {
      SetColumn(J, j, joint.axisWorld);
    }
  }
  return J;
}

matrix<double> AngularJacobian(const Robot& robot, uint32_t i) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> J = Zeros(3, n);
  for (uint32_t j = 0; j <= i && j < n; ++j) {
    const Link& joint = *robot.links[j];
    if (joint.jointType == Revolute) {
      SetColumn(J, j, joint.axisWorld);
    }
  }
  return J;
}

matrix<double> LinearJacobianDerivative(const Robot& robot, uint32_t i, uint32_t k) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> J = Zeros(3, n);
  for (uint32_t j = 0; j <= i && j < n; ++j) {
    const Link& joint = *robot.links[j];
    if (joint.jointType == Revolute) {
      // dz_j/dq_k x (p_i - o_j) + z_j x (dp_i/dq_k - do_j/dq_k), the dz term first in the sum
      const Link& body = LinkAt(robot, i);
      const matrix<double> dDiff =
          SequenceEntry(body.dComWorld, k) - SequenceEntry(joint.dOriginWorld, k);
      const matrix<double> diff = body.comWorld - joint.originWorld;
      const matrix<double> axisTerm = CrossProduct(joint.axisWorld, dDiff);
      const matrix<double> dAxisTerm = CrossProduct(SequenceEntry(joint.dAxisWorld, k), diff);
      SetColumn(J, j, dAxisTerm + axisTerm);
    } else if (joint.jointType == Prismatic) {
      SetColumn(J, j, SequenceEntry(joint.dAxisWorld, k));
    }
  }
  return J;
}

matrix<double> AngularJacobianDerivative(const Robot& robot, uint32_t i, uint32_t k) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> J = Zeros(3, n);
  for (uint32_t j = 0; j <= i && j < n; ++j) {
    const Link& joint = *robot.links[j];
    if (joint.jointType == Revolute) {
      SetColumn(J, j, SequenceEntry(joint.dAxisWorld, k));
    }
  }
  return J;
}

namespace flat {

void LinearJacobian(const LinkFrames& f, uint32_t i, double* out) {
  const uint32_t n = f.n;
  ZeroFill(n, out);
  double diff[3], column[3];
  for (uint32_t j = 0; j <= i; ++j) {
    if (f.jointType[j] == Revolute) {
      Difference(f.P(i), f.O(j), diff);
      Cross(f.Z(j), diff, column);
      SetColumn(n, j, column, out);
    } else if (f.jointType[j] == Prismatic) {
      SetColumn(n, j, f.Z(j), out);
    }
  }
}

void AngularJacobian(const LinkFrames& f, uint32_t i, double* out) {
  const uint32_t n = f.n;
  ZeroFill(n, out);
  for (uint32_t j = 0; j <= i; ++j) {
    if (f.jointType[j] == Revolute) {
      SetColumn(n, j, f.Z(j), out);
    }
  }
}

void LinearJacobianDerivative(const LinkFrames& f, uint32_t i, uint32_t k, double* out) {
  const uint32_t n = f.n;
  ZeroFill(n, out);
  double dDiff[3], diff[3], axisTerm[3], dAxisTerm[3], column[3];
  for (uint32_t j = 0; j <= i; ++j) {
    if (f.jointType[j] == Revolute) {
      Difference(f.DP(i, k), f.DO(j, k), dDiff);
      Difference(f.P(i), f.O(j), diff);
      Cross(f.Z(j), dDiff, axisTerm);
      Cross(f.DZ(j, k), diff, dAxisTerm);
      // The sum of two matrices adds the right operand to the left one: axisTerm + dAxisTerm.
      column[0] = axisTerm[0] + dAxisTerm[0];
      column[1] = axisTerm[1] + dAxisTerm[1];
      column[2] = axisTerm[2] + dAxisTerm[2];
      SetColumn(n, j, column, out);
    } else if (f.jointType[j] == Prismatic) {
      SetColumn(n, j, f.DZ(j, k), out);
    }
  }
}

void AngularJacobianDerivative(const LinkFrames& f, uint32_t i, uint32_t k, double* out) {
  const uint32_t n = f.n;
  ZeroFill(n, out);
  for (uint32_t j = 0; j <= i; ++j) {
    if (f.jointType[j] == Revolute) {
      SetColumn(n, j, f.DZ(j, k), out);
    }
  }
}

}  // namespace flat
