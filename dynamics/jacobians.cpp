#include "dynamics/jacobians.h"

#include <vector>

namespace {

// Where the kernels read the kinematics from: the links' working fields (through the matrices'
// read-only access, so a malformed field fails as a matrix access does), or a pass's arrays.
// Both give a 3-vector as three doubles.
class LinkFields {
 public:
  explicit LinkFields(const Robot& robot) : robot_(robot) {}
  uint32_t Count() const { return static_cast<uint32_t>(robot_.links.size()); }
  int32_t Type(uint32_t j) const { return robot_.links[j]->jointType; }
  void Axis(uint32_t j, double* v) const { Get(robot_.links[j]->axisWorld, v); }
  void Origin(uint32_t j, double* v) const { Get(robot_.links[j]->originWorld, v); }
  void Com(uint32_t j, double* v) const { Get(robot_.links[j]->comWorld, v); }
  void DAxis(uint32_t j, uint32_t k, double* v) const { Get(robot_.links[j]->dAxisWorld.at(k), v); }
  void DOrigin(uint32_t j, uint32_t k, double* v) const {
    Get(robot_.links[j]->dOriginWorld.at(k), v);
  }
  void DCom(uint32_t j, uint32_t k, double* v) const { Get(robot_.links[j]->dComWorld.at(k), v); }

 private:
  static void Get(const matrix<double>& m, double* v) {
    v[0] = m(0, 0);
    v[1] = m(1, 0);
    v[2] = m(2, 0);
  }
  const Robot& robot_;
};

class FrameArrays {
 public:
  explicit FrameArrays(const LinkFrames& f) : f_(f) {}
  uint32_t Count() const { return f_.n; }
  int32_t Type(uint32_t j) const { return f_.jointType[j]; }
  void Axis(uint32_t j, double* v) const { Get(f_.Z(j), v); }
  void Origin(uint32_t j, double* v) const { Get(f_.O(j), v); }
  void Com(uint32_t j, double* v) const { Get(f_.P(j), v); }
  void DAxis(uint32_t j, uint32_t k, double* v) const { Get(f_.DZ(j, k), v); }
  void DOrigin(uint32_t j, uint32_t k, double* v) const { Get(f_.DO(j, k), v); }
  void DCom(uint32_t j, uint32_t k, double* v) const { Get(f_.DP(j, k), v); }

 private:
  static void Get(const double* from, double* v) {
    v[0] = from[0];
    v[1] = from[1];
    v[2] = from[2];
  }
  const LinkFrames& f_;
};

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

template <typename Source>
void FillLinear(const Source& s, uint32_t i, double* out) {
  const uint32_t n = s.Count();
  ZeroFill(n, out);
  double p[3], z[3], o[3], diff[3], column[3];
  s.Com(i, p);
  for (uint32_t j = 0; j <= i; ++j) {
    const int32_t type = s.Type(j);
    if (type == Revolute) {
      // z_j x (p_i - o_j)
      s.Axis(j, z);
      s.Origin(j, o);
      Difference(p, o, diff);
      Cross(z, diff, column);
      SetColumn(n, j, column, out);
    } else if (type == Prismatic) {
      // z_j
      s.Axis(j, z);
      SetColumn(n, j, z, out);
    }
  }
}

template <typename Source>
void FillAngular(const Source& s, uint32_t i, double* out) {
  const uint32_t n = s.Count();
  ZeroFill(n, out);
  double z[3];
  for (uint32_t j = 0; j <= i; ++j) {
    if (s.Type(j) == Revolute) {
      // z_j
      s.Axis(j, z);
      SetColumn(n, j, z, out);
    }
  }
}

template <typename Source>
void FillLinearDerivative(const Source& s, uint32_t i, uint32_t k, double* out) {
  const uint32_t n = s.Count();
  ZeroFill(n, out);
  double p[3], dp[3], z[3], dz[3], o[3], dO[3];
  double dDiff[3], diff[3], axisTerm[3], dAxisTerm[3], column[3];
  s.Com(i, p);
  for (uint32_t j = 0; j <= i; ++j) {
    const int32_t type = s.Type(j);
    if (type == Revolute) {
      // dz_j/dq_k x (p_i - o_j) + z_j x (dp_i/dq_k - do_j/dq_k), the dz term first in the sum
      s.DCom(i, k, dp);
      s.DOrigin(j, k, dO);
      s.Axis(j, z);
      s.DAxis(j, k, dz);
      s.Origin(j, o);
      Difference(dp, dO, dDiff);
      Difference(p, o, diff);
      Cross(z, dDiff, axisTerm);
      Cross(dz, diff, dAxisTerm);
      // The sum of two matrices adds the right operand to the left one: axisTerm + dAxisTerm.
      column[0] = axisTerm[0] + dAxisTerm[0];
      column[1] = axisTerm[1] + dAxisTerm[1];
      column[2] = axisTerm[2] + dAxisTerm[2];
      SetColumn(n, j, column, out);
    } else if (type == Prismatic) {
      // dz_j/dq_k
      s.DAxis(j, k, dz);
      SetColumn(n, j, dz, out);
    }
  }
}

template <typename Source>
void FillAngularDerivative(const Source& s, uint32_t i, uint32_t k, double* out) {
  const uint32_t n = s.Count();
  ZeroFill(n, out);
  double dz[3];
  for (uint32_t j = 0; j <= i; ++j) {
    if (s.Type(j) == Revolute) {
      // dz_j/dq_k
      s.DAxis(j, k, dz);
      SetColumn(n, j, dz, out);
    }
  }
}

// Checks the link index as a sequence access does: an index beyond the links stops the program.
uint32_t CheckedCount(const Robot& robot, uint32_t i) {
  (void)robot.links.at(i);
  return static_cast<uint32_t>(robot.links.size());
}

}  // namespace

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
  const uint32_t n = CheckedCount(robot, i);
  std::vector<double> out(3 * static_cast<std::size_t>(n));
  FillLinear(LinkFields(robot), i, out.data());
  return MatrixFromRowMajor(3, n, out.data());
}

matrix<double> AngularJacobian(const Robot& robot, uint32_t i) {
  const uint32_t n = CheckedCount(robot, i);
  std::vector<double> out(3 * static_cast<std::size_t>(n));
  FillAngular(LinkFields(robot), i, out.data());
  return MatrixFromRowMajor(3, n, out.data());
}

matrix<double> LinearJacobianDerivative(const Robot& robot, uint32_t i, uint32_t k) {
  const uint32_t n = CheckedCount(robot, i);
  std::vector<double> out(3 * static_cast<std::size_t>(n));
  FillLinearDerivative(LinkFields(robot), i, k, out.data());
  return MatrixFromRowMajor(3, n, out.data());
}

matrix<double> AngularJacobianDerivative(const Robot& robot, uint32_t i, uint32_t k) {
  const uint32_t n = CheckedCount(robot, i);
  std::vector<double> out(3 * static_cast<std::size_t>(n));
  FillAngularDerivative(LinkFields(robot), i, k, out.data());
  return MatrixFromRowMajor(3, n, out.data());
}

namespace flat {

void LinearJacobian(const LinkFrames& frames, uint32_t i, double* out) {
  FillLinear(FrameArrays(frames), i, out);
}

void AngularJacobian(const LinkFrames& frames, uint32_t i, double* out) {
  FillAngular(FrameArrays(frames), i, out);
}

void LinearJacobianDerivative(const LinkFrames& frames, uint32_t i, uint32_t k, double* out) {
  FillLinearDerivative(FrameArrays(frames), i, k, out);
}

void AngularJacobianDerivative(const LinkFrames& frames, uint32_t i, uint32_t k, double* out) {
  FillAngularDerivative(FrameArrays(frames), i, k, out);
}

}  // namespace flat
