#include "dynamics/dynamics.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "dynamics/jacobians.h"
#include "dynamics/kinematics.h"
#include "dynamics/terms.h"

// The loops below form every sum as the matrix operations would (see terms.cpp): a product
// element adds B(l, c) * A(r, l) to 0.0 for l ascending, X + Y gives Y + X element by element.

namespace {

// Everything one evaluation computes, kept per thread between ticks so that a tick of an arm of
// unchanged size allocates no working storage.
struct Workspace {
  LinkFrames frames;
  std::vector<double> Jv;  // n x (3 x n)
  std::vector<double> Jw;  // n x (3 x n)
  flat::CoriolisScratch coriolis;
  std::vector<double> M;   // n x n
  std::vector<double> C;   // n x n
  std::vector<double> G;   // n
  std::vector<double> F;   // n
  std::vector<double> qd;  // n
  std::vector<double> x;   // n: partial sums of the right-hand side
  std::vector<double> P;   // n x n
};

Workspace& ThreadWorkspace() {
  static thread_local Workspace workspace;
  return workspace;
}

void Resize(std::vector<double>& v, std::size_t size) {
  if (v.size() != size) {
    v.resize(size);
  }
}

// The evaluation both dynamics operations begin with: the kinematics pass, Jv_i then Jw_i for
// each link, M, C, G and F in this order, the kinetic and then the potential energy into the
// Robot, and qd.
void Evaluate(Robot& robot, Workspace& w) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  const std::size_t block = 3 * static_cast<std::size_t>(n);
  UpdateLinkKinematics(robot, w.frames);
  Resize(w.Jv, block * n);
  Resize(w.Jw, block * n);
  for (uint32_t i = 0; i < n; ++i) {
    flat::LinearJacobian(w.frames, i, &w.Jv[block * i]);
    flat::AngularJacobian(w.frames, i, &w.Jw[block * i]);
  }
  Resize(w.M, nn);
  Resize(w.C, nn);
  Resize(w.G, n);
  Resize(w.F, n);
  Resize(w.qd, n);
  Resize(w.x, n);
  Resize(w.P, nn);

  const flat::TermInputs in{&robot, &w.frames, w.Jv.data(), w.Jw.data()};
  flat::MassMatrix(in, w.M.data());
  flat::CoriolisMatrix(in, w.coriolis, w.C.data());
  flat::GravityVector(in, w.G.data());
  flat::FrictionVector(robot, w.F.data());
  robot.kineticEnergy = flat::KineticEnergy(robot, w.M.data());
  robot.potentialEnergy = flat::PotentialEnergy(robot, w.frames);
  for (uint32_t i = 0; i < n; ++i) {
    w.qd[i] = robot.links[i]->qd;
  }
}

// x = C qd, then x = x + G, as the matrices would form them.
void CoriolisAndGravity(const Workspace& w, uint32_t n, double* x) {
  for (uint32_t r = 0; r < n; ++r) {
    double cqd = 0.0;
    for (uint32_t l = 0; l < n; ++l) {
      cqd = cqd + w.qd[l] * w.C[static_cast<std::size_t>(n) * r + l];
    }
    x[r] = cqd;
  }
  for (uint32_t r = 0; r < n; ++r) {
    x[r] = w.G[r] + x[r];
  }
}

}  // namespace

EquationTerms EvaluateEquationTerms(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Workspace& w = ThreadWorkspace();
  Evaluate(robot, w);
  return EquationTerms{MatrixFromRowMajor(n, n, w.M.data()), MatrixFromRowMajor(n, n, w.C.data()),
                       MatrixFromRowMajor(n, 1, w.G.data()), MatrixFromRowMajor(n, 1, w.F.data()),
                       MatrixFromRowMajor(n, 1, w.qd.data())};
}

matrix<double> ForwardDynamics(Robot& robot, const matrix<double>& torque) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Workspace& w = ThreadWorkspace();
  Evaluate(robot, w);
  const double* M = w.M.data();

  // S = M M^T + E with E = 1e-8 I (the identity, then times the damping)
  matrix<double> S(n, n);
  for (uint32_t r = 0; r < n; ++r) {
    for (uint32_t c = 0; c < n; ++c) {
      double mmt = 0.0;
      for (uint32_t l = 0; l < n; ++l) {
        mmt = mmt + M[static_cast<std::size_t>(n) * c + l] * M[static_cast<std::size_t>(n) * r + l];
      }
      const double e = kPseudoInverseDamping * (r == c ? 1.0 : 0.0);
      S(r, c) = e + mmt;
    }
  }
  // P = M^T S^-1, with the matrix library's inversion. Once M's entries are so large that the
  // damping is lost in rounding, S can be exactly singular: the state has no accelerations.
  matrix<double> inverse(n, n);
  if (!TryInverse(S, inverse)) {
    if (torque.RowCount() != n || torque.ColCount() != 1) {
      MatrixFatal(kMatrixSubtractMessage);
    }
    matrix<double> none(n, 1);
    for (uint32_t r = 0; r < n; ++r) {
      none(r, 0) = std::numeric_limits<double>::quiet_NaN();
    }
    return none;
  }
  double* P = w.P.data();
  for (uint32_t r = 0; r < n; ++r) {
    for (uint32_t c = 0; c < n; ++c) {
      double p = 0.0;
      for (uint32_t l = 0; l < n; ++l) {
        p = p + inverse(l, c) * M[static_cast<std::size_t>(n) * l + r];
      }
      P[static_cast<std::size_t>(n) * r + c] = p;
    }
  }

  // b = tau - ((C qd + G) + F); tau must be n x 1 as the subtraction requires
  if (torque.RowCount() != n || torque.ColCount() != 1) {
    MatrixFatal(kMatrixSubtractMessage);
  }
  double* b = w.x.data();
  CoriolisAndGravity(w, n, b);
  for (uint32_t r = 0; r < n; ++r) {
    b[r] = torque(r, 0) - (w.F[r] + b[r]);
  }

  // qdd = P b
  matrix<double> qdd(n, 1);
  for (uint32_t r = 0; r < n; ++r) {
    double a = 0.0;
    for (uint32_t l = 0; l < n; ++l) {
      a = a + b[l] * P[static_cast<std::size_t>(n) * r + l];
    }
    qdd(r, 0) = a;
  }
  return qdd;
}

matrix<double> InverseDynamics(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Workspace& w = ThreadWorkspace();
  Evaluate(robot, w);

  // tau = ((M qdd + C qd) + G) + F
  matrix<double> tau(n, 1);
  for (uint32_t r = 0; r < n; ++r) {
    double mqdd = 0.0;
    double cqd = 0.0;
    for (uint32_t l = 0; l < n; ++l) {
      mqdd = mqdd + robot.links[l]->qdd * w.M[static_cast<std::size_t>(n) * r + l];
    }
    for (uint32_t l = 0; l < n; ++l) {
      cqd = cqd + w.qd[l] * w.C[static_cast<std::size_t>(n) * r + l];
    }
    tau(r, 0) = w.F[r] + (w.G[r] + (cqd + mqdd));
  }
  return tau;
}

void IntegrateStep(Robot& robot, const matrix<double>& accel, double dt) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  for (uint32_t i = 0; i < n; ++i) {
    Link& link = *robot.links[i];
    // qdd = a(i, 0); qd = qdd dt + qd; q = qd dt + q with the new velocity (semi-implicit Euler)
    link.qdd = accel(i, 0);
    link.qd = link.qdd * dt + link.qd;
    link.q = link.qd * dt + link.q;
  }
}
