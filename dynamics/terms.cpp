#include "dynamics/terms.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "dynamics/jacobians.h"

// Every sum below is formed as the matrix operations form it, so that the loops give the bits of
// the matrix expressions written in the comments: a product element starts at 0.0 and adds the
// terms B(l, c) * A(r, l) for l ascending; a matrix sum X + Y gives Y(r, c) + X(r, c); a scaled
// matrix X * s gives s * X(r, c).

namespace {

// The link's inertia tensor, which must be 3 x 3 as every product with it requires.
void LoadInertia(const Link& link, double* I) {
  if (link.inertia.RowCount() != 3 || link.inertia.ColCount() != 3) {
    MatrixFatal(kMatrixMultiplyMessage);
  }
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 3; ++c) {
      I[3 * r + c] = link.inertia(r, c);
    }
  }
}

// out = a b for 3 x 3 a and b.
void Product33(const double* a, const double* b, double* out) {
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 3; ++c) {
      out[3 * r + c] =
          ((0.0 + b[c] * a[3 * r]) + b[3 + c] * a[3 * r + 1]) + b[6 + c] * a[3 * r + 2];
    }
  }
}

// out = a b^T for 3 x 3 a and b.
void ProductTransposed33(const double* a, const double* b, double* out) {
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 3; ++c) {
      out[3 * r + c] =
          ((0.0 + b[3 * c] * a[3 * r]) + b[3 * c + 1] * a[3 * r + 1]) + b[3 * c + 2] * a[3 * r + 2];
    }
  }
}

// out = j^T x for a 3 x n j (row-major) and a 3 x 3 x: n x 3, its first rows rows only.
void TransposedProduct3n(const double* j, uint32_t n, uint32_t rows, const double* x, double* out) {
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < 3; ++c) {
      out[3 * r + c] = ((0.0 + x[c] * j[r]) + x[3 + c] * j[n + r]) + x[6 + c] * j[2 * n + r];
    }
  }
}

// N[k] = N[k] + W for link i, with
// W = (a^T Jv + Jv^T a) m + (b^T Ihat) Jw + (Jw^T dIhat) Jw + (Jw^T Ihat) b,
// given a = dJv_i/dq_k, b = dJw_i/dq_k (3 x n) and the n x 3 products bI = b^T Ihat,
// jwdI = Jw^T dIhat, jwI = Jw^T Ihat; only its leading size x size block (rows and columns
// 0 ... size - 1, N[k] holding n columns). The operands never overlap, which lets the compiler
// work on two columns at once; each element still sees the same operations in the same order.
void AddLinkTerm(uint32_t n, uint32_t size, double m, const double* __restrict jv,
                 const double* __restrict jw, const double* __restrict a,
                 const double* __restrict b, const double* __restrict bI,
                 const double* __restrict jwdI, const double* __restrict jwI,
                 double* __restrict Nk) {
  for (uint32_t r = 0; r < size; ++r) {
    const double ar0 = a[r], ar1 = a[n + r], ar2 = a[2 * n + r];
    const double vr0 = jv[r], vr1 = jv[n + r], vr2 = jv[2 * n + r];
    const double bI0 = bI[3 * r], bI1 = bI[3 * r + 1], bI2 = bI[3 * r + 2];
    const double dI0 = jwdI[3 * r], dI1 = jwdI[3 * r + 1], dI2 = jwdI[3 * r + 2];
    const double wI0 = jwI[3 * r], wI1 = jwI[3 * r + 1], wI2 = jwI[3 * r + 2];
    double* __restrict Nrow = Nk + static_cast<std::size_t>(n) * r;
    for (uint32_t c = 0; c < size; ++c) {
      const double t1 = ((0.0 + jv[c] * ar0) + jv[n + c] * ar1) + jv[2 * n + c] * ar2;
      const double t2 = ((0.0 + a[c] * vr0) + a[n + c] * vr1) + a[2 * n + c] * vr2;
      double w = m * (t2 + t1);
      const double t3 = ((0.0 + jw[c] * bI0) + jw[n + c] * bI1) + jw[2 * n + c] * bI2;
      w = t3 + w;
      const double t4 = ((0.0 + jw[c] * dI0) + jw[n + c] * dI1) + jw[2 * n + c] * dI2;
      w = t4 + w;
      const double t5 = ((0.0 + b[c] * wI0) + b[n + c] * wI1) + b[2 * n + c] * wI2;
      w = t5 + w;
      Nrow[c] = w + Nrow[c];
    }
  }
}

// The gravity vector's three components, as g^T (times a mass) times a 3 x 1 column reads them:
// the product needs g to have 3 rows.
void LoadGravity(const Robot& robot, double* g) {
  if (robot.gravity.RowCount() != 3) {
    MatrixFatal(kMatrixMultiplyMessage);
  }
  g[0] = robot.gravity(0, 0);
  g[1] = robot.gravity(1, 0);
  g[2] = robot.gravity(2, 0);
}

void Resize(std::vector<double>& v, std::size_t size) {
  if (v.size() != size) {
    v.resize(size);
  }
}

// The largest magnitude of a value read by the derivative sums for which they may leave out the
// terms a serial chain makes zero. The factors that meet such a zero are products of at most
// four of these values, times small counts (Ihat, dIhat, b^T Ihat, Jw^T dIhat, dJv/dq), so with
// every value within 2^128 none of them reaches the overflow threshold: each term left out is a
// finite number times zero, a zero, and adding a zero changes none of the sums it would enter
// (they start at +0.0 and so are never -0.0).
constexpr double kChainBound = 0x1p128;

// Whether every value of v is within kChainBound (a NaN is not).
bool Bounded(const double* v, std::size_t count) {
  bool within = true;
  for (std::size_t e = 0; e < count; ++e) {
    within = within & (std::fabs(v[e]) <= kChainBound);
  }
  return within;
}

bool Zero(const double* v, std::size_t count) {
  bool zero = true;
  for (std::size_t e = 0; e < count; ++e) {
    zero = zero & (v[e] == 0.0);
  }
  return zero;
}

// Whether the derivative sums may leave out the terms of a serial chain that are zero: every value
// they read is within kChainBound, the derivatives of link j's rotation, axis, origin and centre
// of mass by every later joint position are zero, and so are the columns of Jv_i and Jw_i beyond
// i. Then the term of link i in dM/dq_k is zero for i < k, and for i >= k it is zero outside rows
// and columns 0 ... i, as the Jacobians and their derivatives are. The inertias are read from
// inertiaBody (9 per link). Otherwise (a state that is not finite, or overflows) every term is
// formed, so that infinities and NaNs reach the same elements as the full sums would take them.
bool ChainStructured(const flat::TermInputs& in, const double* inertiaBody) {
  const LinkFrames& f = *in.frames;
  const uint32_t n = f.n;
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  bool structured = Bounded(f.rotation.data(), 9 * static_cast<std::size_t>(n)) &&
                    Bounded(f.axis.data(), 3 * static_cast<std::size_t>(n)) &&
                    Bounded(f.origin.data(), 3 * static_cast<std::size_t>(n)) &&
                    Bounded(f.com.data(), 3 * static_cast<std::size_t>(n)) &&
                    Bounded(f.dRotation.data(), 9 * nn) && Bounded(f.dAxis.data(), 3 * nn) &&
                    Bounded(f.dOrigin.data(), 3 * nn) && Bounded(f.dCom.data(), 3 * nn) &&
                    Bounded(in.Jv, 3 * nn) && Bounded(in.Jw, 3 * nn) &&
                    Bounded(inertiaBody, 9 * static_cast<std::size_t>(n));
  for (uint32_t j = 0; j < n && structured; ++j) {
    const double mass = in.robot->links[j]->mass;
    structured = std::fabs(mass) <= kChainBound;
    const std::size_t later = n - 1 - j;  // entries k = j + 1 ... n - 1
    if (later > 0) {
      structured = structured && Zero(f.DR(j, j + 1), 9 * later) &&
                   Zero(f.DZ(j, j + 1), 3 * later) && Zero(f.DO(j, j + 1), 3 * later) &&
                   Zero(f.DP(j, j + 1), 3 * later);
    }
    const std::size_t block = 3 * static_cast<std::size_t>(n);
    for (uint32_t r = 0; r < 3 && structured; ++r) {
      const std::size_t row = block * j + static_cast<std::size_t>(n) * r + j + 1;
      structured = Zero(in.Jv + row, later) && Zero(in.Jw + row, later);
    }
  }
  return structured;
}

}  // namespace

namespace flat {

void MassMatrix(const TermInputs& in, double* M) {
  const LinkFrames& f = *in.frames;
  const uint32_t n = f.n;
  const std::size_t block = 3 * static_cast<std::size_t>(n);
  for (std::size_t e = 0; e < static_cast<std::size_t>(n) * n; ++e) {
    M[e] = 0.0;
  }
  // Per row r of Jw^T: (Jw^T R)(r, .), then times I, then times R^T, all 1 x 3.
  double x1[3], x2[3], x3[3], mjv[3];
  for (uint32_t i = 0; i < n; ++i) {
    const Link& link = *in.robot->links[i];
    double I[9];
    LoadInertia(link, I);
    const double m = link.mass;
    const double* R = f.R(i);
    const double* jv = in.Jv + block * i;
    const double* jw = in.Jw + block * i;
    for (uint32_t r = 0; r < n; ++r) {
      // X1 = Jw^T R; X2 = X1 I; X3 = X2 R^T (row r of each)
      for (uint32_t c = 0; c < 3; ++c) {
        x1[c] = ((0.0 + R[c] * jw[r]) + R[3 + c] * jw[n + r]) + R[6 + c] * jw[2 * n + r];
      }
      for (uint32_t c = 0; c < 3; ++c) {
        x2[c] = ((0.0 + I[c] * x1[0]) + I[3 + c] * x1[1]) + I[6 + c] * x1[2];
      }
      for (uint32_t c = 0; c < 3; ++c) {
        x3[c] = ((0.0 + R[3 * c] * x2[0]) + R[3 * c + 1] * x2[1]) + R[3 * c + 2] * x2[2];
      }
      // Jv^T m (row r)
      for (uint32_t l = 0; l < 3; ++l) {
        mjv[l] = m * jv[l * n + r];
      }
      double* Mrow = M + static_cast<std::size_t>(n) * r;
      for (uint32_t c = 0; c < n; ++c) {
        // A = X3 Jw; B = (Jv^T m) Jv; M = M + (B + A)
        const double A = ((0.0 + jw[c] * x3[0]) + jw[n + c] * x3[1]) + jw[2 * n + c] * x3[2];
        const double B = ((0.0 + jv[c] * mjv[0]) + jv[n + c] * mjv[1]) + jv[2 * n + c] * mjv[2];
        Mrow[c] = (A + B) + Mrow[c];
      }
    }
  }
}

void MassMatrixDerivatives(const TermInputs& in, CoriolisScratch& s) {
  const LinkFrames& f = *in.frames;
  const uint32_t n = f.n;
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  const std::size_t block = 3 * static_cast<std::size_t>(n);
  Resize(s.N, n * nn);
  Resize(s.inertiaBody, 9 * static_cast<std::size_t>(n));
  Resize(s.inertiaWorld, 9 * static_cast<std::size_t>(n));
  Resize(s.rotatedBody, 9 * static_cast<std::size_t>(n));
  Resize(s.jwInertia, block * n);
  Resize(s.a, block);
  Resize(s.b, block);
  Resize(s.bInertia, block);
  Resize(s.jwDInertia, block);
  for (std::size_t e = 0; e < n * nn; ++e) {
    s.N[e] = 0.0;
  }

  // Per link: I; R I; Ihat = (R I) R^T; Jw^T Ihat.
  for (uint32_t i = 0; i < n; ++i) {
    double* I = &s.inertiaBody[9 * i];
    LoadInertia(*in.robot->links[i], I);
    const double* R = f.R(i);
    double* RI = &s.rotatedBody[9 * i];
    double* Ihat = &s.inertiaWorld[9 * i];
    Product33(R, I, RI);
    ProductTransposed33(RI, R, Ihat);
    TransposedProduct3n(in.Jw + block * i, n, n, Ihat, &s.jwInertia[block * i]);
  }
  // On a chain of bounded values, link i adds nothing to dM/dq_k for k > i, and only its leading
  // (i + 1) x (i + 1) block otherwise: the zeros are left out.
  const bool structured = ChainStructured(in, s.inertiaBody.data());

  double* a = s.a.data();
  double* b = s.b.data();
  double* bI = s.bInertia.data();
  double* jwdI = s.jwDInertia.data();
  for (uint32_t k = 0; k < n; ++k) {
    double* Nk = &s.N[nn * k];
    for (uint32_t i = structured ? k : 0; i < n; ++i) {
      const uint32_t size = structured ? i + 1 : n;
      const double m = in.robot->links[i]->mass;
      const double* I = &s.inertiaBody[9 * i];
      const double* R = f.R(i);
      const double* dR = f.DR(i, k);
      const double* RI = &s.rotatedBody[9 * i];
      const double* Ihat = &s.inertiaWorld[9 * i];
      const double* jv = in.Jv + block * i;
      const double* jw = in.Jw + block * i;
      const double* jwI = &s.jwInertia[block * i];
      flat::LinearJacobianDerivative(f, i, k, a);
      flat::AngularJacobianDerivative(f, i, k, b);

      // dIhat = ((dR I) R^T) + ((R I) dR^T)
      double dRI[9], first[9], second[9], dIhat[9];
      Product33(dR, I, dRI);
      ProductTransposed33(dRI, R, first);
      ProductTransposed33(RI, dR, second);
      for (uint32_t e = 0; e < 9; ++e) {
        dIhat[e] = second[e] + first[e];
      }
      // b^T Ihat and Jw^T dIhat, n x 3
      TransposedProduct3n(b, n, size, Ihat, bI);
      TransposedProduct3n(jw, n, size, dIhat, jwdI);

      AddLinkTerm(n, size, m, jv, jw, a, b, bI, jwdI, jwI, Nk);
    }
  }
}

void CoriolisMatrix(const TermInputs& in, CoriolisScratch& s, double* C) {
  MassMatrixDerivatives(in, s);
  const uint32_t n = in.frames->n;
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  const double* N = s.N.data();
  // C(k, j) = 1/2 sum_i ((N[j](k, i) + N[i](k, j)) - N[k](j, i)) qd_i
  for (uint32_t k = 0; k < n; ++k) {
    for (uint32_t j = 0; j < n; ++j) {
      double sum = 0.0;
      for (uint32_t i = 0; i < n; ++i) {
        const double qd = in.robot->links[i]->qd;
        sum = sum + ((N[nn * j + n * k + i] + N[nn * i + n * k + j]) - N[nn * k + n * j + i]) * qd;
      }
      C[n * k + j] = 0.5 * sum;
    }
  }
}

void GravityVector(const TermInputs& in, double* G) {
  const uint32_t n = in.frames->n;
  const std::size_t block = 3 * static_cast<std::size_t>(n);
  double g[3] = {0.0, 0.0, 0.0};
  if (n > 0) {
    LoadGravity(*in.robot, g);
  }
  for (uint32_t i = 0; i < n; ++i) {
    double sum = 0.0;
    for (uint32_t j = 0; j < n; ++j) {
      // G_i = G_i - ((g^T m_j) c_ji)(0, 0), c_ji = column i of Jv_j
      const double m = in.robot->links[j]->mass;
      const double* jv = in.Jv + block * j;
      const double gm0 = m * g[0], gm1 = m * g[1], gm2 = m * g[2];
      sum = sum - (((0.0 + jv[i] * gm0) + jv[n + i] * gm1) + jv[2 * n + i] * gm2);
    }
    G[i] = sum;
  }
}

void FrictionVector(const Robot& robot, double* F) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  for (uint32_t i = 0; i < n; ++i) {
    const double qd = robot.links[i]->qd;
    const double sign = qd > 0.0 ? 1.0 : (qd < 0.0 ? -1.0 : 0.0);
    // F_i = qd_i viscous_i + sign(qd_i) coulomb_i, with the coefficients joint i takes
    F[i] = qd * JointViscous(robot, i) + sign * JointCoulomb(robot, i);
  }
}

double KineticEnergy(const Robot& robot, const double* M) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  // ((qd^T 0.5) M) qd: u = (qd^T 0.5) M, then u qd
  double energy = 0.0;
  for (uint32_t c = 0; c < n; ++c) {
    double u = 0.0;
    for (uint32_t l = 0; l < n; ++l) {
      u = u + M[static_cast<std::size_t>(n) * l + c] * (0.5 * robot.links[l]->qd);
    }
    energy = energy + robot.links[c]->qd * u;
  }
  return energy;
}

double PotentialEnergy(const Robot& robot, const LinkFrames& frames) {
  const uint32_t n = frames.n;
  double g[3] = {0.0, 0.0, 0.0};
  if (n > 0) {
    LoadGravity(robot, g);
    // The 1 x 1 accumulator minus a product with as many rows as g has columns.
    if (robot.gravity.ColCount() != 1) {
      MatrixFatal(kMatrixSubtractMessage);
    }
  }
  // PE = PE - (g^T m_i) p_i
  double energy = 0.0;
  for (uint32_t i = 0; i < n; ++i) {
    const double m = robot.links[i]->mass;
    const double* p = frames.P(i);
    const double gm0 = m * g[0], gm1 = m * g[1], gm2 = m * g[2];
    energy = energy - (((0.0 + p[0] * gm0) + p[1] * gm1) + p[2] * gm2);
  }
  return energy;
}

}  // namespace flat

// The matrix-valued terms are the defining matrix expressions themselves, in their order; the flat
// loops above form the same sums for the tick.

matrix<double> MassMatrix(const Robot& robot, const std::vector<matrix<double>>& Jv,
                          const std::vector<matrix<double>>& Jw) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> M = Zeros(n, n);
  for (uint32_t i = 0; i < n; ++i) {
    const Link& link = *robot.links[i];
    const matrix<double>& jv = SequenceEntry(Jv, i);
    const matrix<double>& jw = SequenceEntry(Jw, i);
    const matrix<double>& R = link.rotationWorld;
    const matrix<double> A = (((Transpose(jw) * R) * link.inertia) * Transpose(R)) * jw;
    const matrix<double> B = (Transpose(jv) * link.mass) * jv;
    M = M + (B + A);
  }
  return M;
}

std::vector<matrix<double>> MassMatrixDerivatives(const Robot& robot,
                                                  const std::vector<matrix<double>>& Jv,
                                                  const std::vector<matrix<double>>& Jw) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  std::vector<matrix<double>> N(n, Zeros(n, n));
  for (uint32_t k = 0; k < n; ++k) {
    for (uint32_t i = 0; i < n; ++i) {
      const Link& link = *robot.links[i];
      const matrix<double>& jv = SequenceEntry(Jv, i);
      const matrix<double>& jw = SequenceEntry(Jw, i);
      const matrix<double>& R = link.rotationWorld;
      const matrix<double>& I = link.inertia;
      const matrix<double>& dR = SequenceEntry(link.dRotationWorld, k);
      const matrix<double> a = LinearJacobianDerivative(robot, i, k);
      const matrix<double> b = AngularJacobianDerivative(robot, i, k);
      const matrix<double> Ihat = (R * I) * Transpose(R);
      const matrix<double> dIhat = ((dR * I) * Transpose(R)) + ((R * I) * Transpose(dR));
      const matrix<double> W =
          ((((Transpose(a) * jv + Transpose(jv) * a) * link.mass) + (Transpose(b) * Ihat) * jw) +
           (Transpose(jw) * dIhat) * jw) +
          (Transpose(jw) * Ihat) * b;
      N[k] = N[k] + W;
    }
  }
  return N;
}

matrix<double> CoriolisMatrix(const Robot& robot, const std::vector<matrix<double>>& Jv,
                              const std::vector<matrix<double>>& Jw) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  const std::vector<matrix<double>> N = MassMatrixDerivatives(robot, Jv, Jw);
  matrix<double> C = Zeros(n, n);
  for (uint32_t k = 0; k < n; ++k) {
    for (uint32_t j = 0; j < n; ++j) {
      for (uint32_t i = 0; i < n; ++i) {
        C(k, j) = C(k, j) + ((N[j](k, i) + N[i](k, j)) - N[k](j, i)) * robot.links[i]->qd;
      }
      C(k, j) = 0.5 * C(k, j);
    }
  }
  return C;
}

matrix<double> GravityVector(const Robot& robot, const std::vector<matrix<double>>& Jv) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> G = Zeros(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t j = 0; j < n; ++j) {
      // Column3 reads through the modifiable access: it works on its own handle of Jv[j].
      matrix<double> jv = SequenceEntry(Jv, j);
      const matrix<double> gm = Transpose(robot.gravity) * robot.links[j]->mass;
      G(i, 0) = G(i, 0) - (gm * Column3(jv, i))(0, 0);
    }
  }
  return G;
}

matrix<double> FrictionVector(const Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  std::vector<double> F(n);
  flat::FrictionVector(robot, F.data());
  return MatrixFromRowMajor(n, 1, F.data());
}

double KineticEnergy(const Robot& robot, const matrix<double>& M) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  matrix<double> qd(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    qd(i, 0) = robot.links[i]->qd;
  }
  return (((Transpose(qd) * 0.5) * M) * qd)(0, 0);
}

double PotentialEnergy(const Robot& robot) {
  matrix<double> pe = Zeros(1, 1);
  for (const auto& link : robot.links) {
    pe = pe - (Transpose(robot.gravity) * link->mass) * link->comWorld;
  }
  return pe(0, 0);
}
