// The tick written directly in matrix operations, term by term as the equations read, with a new
// matrix for every intermediate result. The library forms the same operations in plain loops;
// its results must equal these bit for bit.
#include "tests/dynamics/reference_dynamics.h"

#include <cstdint>
#include <vector>

#include "robot/transforms.h"

namespace reference {
namespace {

using Mat = matrix<double>;
using Mats = std::vector<Mat>;

Mat Zero(uint32_t rows, uint32_t cols) {
  Mat m(rows, cols);
  m.SetZero();
  return m;
}

Mat Cross(const Mat& a, const Mat& b) {
  Mat c(3);
  c(0, 0) = a(1, 0) * b(2, 0) - a(2, 0) * b(1, 0);
  c(1, 0) = a(2, 0) * b(0, 0) - a(0, 0) * b(2, 0);
  c(2, 0) = a(0, 0) * b(1, 0) - a(1, 0) * b(0, 0);
  return c;
}

void SetColumn(Mat& m, uint32_t j, const Mat& v) {
  for (uint32_t r = 0; r < 3; ++r) {
    m(r, j) = v(r, 0);
  }
}

void Kinematics(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Mat T = Identity4();
  Mats D(n);
  for (Mat& d : D) {
    d = Zero(4, 4);
  }
  for (uint32_t j = 0; j < n; ++j) {
    Link& L = *robot.links[j];
    const auto a = static_cast<uint32_t>(L.axis);
    const Mat J = JointTransform(L), dJ = JointTransformDerivative(L), O = LinkOffsetTransform(L);
    L.axisWorld = Column3(T, a);
    L.originWorld = TranslationPart(T);
    L.dAxisWorld.resize(n);
    L.dOriginWorld.resize(n);
    for (uint32_t k = 0; k < n; ++k) {
      L.dAxisWorld[k] = Column3(D[k], a);
      L.dOriginWorld[k] = TranslationPart(D[k]);
    }
    for (uint32_t k = 0; k < n; ++k) {
      D[k] = k > j ? Zero(4, 4) : (k == j ? T * dJ : D[k] * J);
    }
    T = T * J;
    const bool slides = L.jointType == Prismatic;  // the sliding body follows its joint
    L.rotationWorld = RotationPart(T);
    L.comWorld = (slides ? TranslationPart(T) : L.originWorld) + L.rotationWorld * L.com;
    L.dComWorld.resize(n);
    L.dRotationWorld.resize(n);
    for (uint32_t k = 0; k < n; ++k) {
      L.dRotationWorld[k] = RotationPart(D[k]);
      L.dComWorld[k] =
          (slides ? TranslationPart(D[k]) : L.dOriginWorld[k]) + L.dRotationWorld[k] * L.com;
    }
    for (uint32_t k = 0; k < n; ++k) {
      D[k] = D[k] * O;
    }
    T = T * O;
  }
}

// Jv_i, Jw_i, or their derivatives by q_k when k is given.
Mat Jacobian(const Robot& robot, uint32_t i, bool linear, int64_t k = -1) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  const Link& body = *robot.links[i];
  Mat m = Zero(3, n);
  for (uint32_t j = 0; j <= i; ++j) {
    const Link& joint = *robot.links[j];
    const bool turns = joint.jointType == Revolute, slides = joint.jointType == Prismatic;
    if (k < 0) {
      if (linear && turns) {
        SetColumn(m, j, Cross(joint.axisWorld, body.comWorld - joint.originWorld));
      } else if ((linear && slides) || (!linear && turns)) {
        SetColumn(m, j, joint.axisWorld);
      }
    } else if (linear && turns) {
      const Mat dDiff = body.dComWorld[k] - joint.dOriginWorld[k];
      const Mat diff = body.comWorld - joint.originWorld;
      const Mat axisTerm = Cross(joint.axisWorld, dDiff);
      const Mat dAxisTerm = Cross(joint.dAxisWorld[k], diff);
      SetColumn(m, j, dAxisTerm + axisTerm);
    } else if ((linear && slides) || (!linear && turns)) {
      SetColumn(m, j, joint.dAxisWorld[k]);
    }
  }
  return m;
}

}  // namespace

EquationTerms EvaluateEquationTerms(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Kinematics(robot);
  Mats Jv, Jw;
  for (uint32_t i = 0; i < n; ++i) {
    Jv.push_back(Jacobian(robot, i, true));
    Jw.push_back(Jacobian(robot, i, false));
  }
  Mat qd(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    qd(i, 0) = robot.links[i]->qd;
  }

  Mat M = Zero(n, n);
  for (uint32_t i = 0; i < n; ++i) {
    const Link& L = *robot.links[i];
    const Mat& R = L.rotationWorld;
    const Mat A = (((Transpose(Jw[i]) * R) * L.inertia) * Transpose(R)) * Jw[i];
    const Mat B = (Transpose(Jv[i]) * L.mass) * Jv[i];
    M = M + (B + A);
  }

  Mats N(n);
  for (Mat& m : N) {
    m = Zero(n, n);
  }
  for (uint32_t k = 0; k < n; ++k) {
    for (uint32_t i = 0; i < n; ++i) {
      const Link& L = *robot.links[i];
      const Mat &R = L.rotationWorld, &dR = L.dRotationWorld[k], &I = L.inertia;
      const Mat a = Jacobian(robot, i, true, k), b = Jacobian(robot, i, false, k);
      const Mat Ih = (R * I) * Transpose(R);
      const Mat dIh = ((dR * I) * Transpose(R)) + ((R * I) * Transpose(dR));
      const Mat W =
          (((Transpose(a) * Jv[i] + Transpose(Jv[i]) * a) * L.mass) + (Transpose(b) * Ih) * Jw[i]) +
          (Transpose(Jw[i]) * dIh) * Jw[i] + (Transpose(Jw[i]) * Ih) * b;
      N[k] = N[k] + W;
    }
  }
  Mat C = Zero(n, n);
  for (uint32_t k = 0; k < n; ++k) {
    for (uint32_t j = 0; j < n; ++j) {
      for (uint32_t i = 0; i < n; ++i) {
        C(k, j) = C(k, j) + ((N[j](k, i) + N[i](k, j)) - N[k](j, i)) * qd(i, 0);
      }
      C(k, j) = 0.5 * C(k, j);
    }
  }

  Mat G = Zero(n, 1), F(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t j = 0; j < n; ++j) {
      Mat jv = Jv[j];
      G(i, 0) =
          G(i, 0) - ((Transpose(robot.gravity) * robot.links[j]->mass) * Column3(jv, i))(0, 0);
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    const double v = qd(i, 0), sign = v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0);
    F(i, 0) = v * robot.viscousFriction + sign * robot.coulombFriction;
  }

  robot.kineticEnergy = (((Transpose(qd) * 0.5) * M) * qd)(0, 0);
  Mat pe = Zero(1, 1);
  for (uint32_t i = 0; i < n; ++i) {
    pe = pe - (Transpose(robot.gravity) * robot.links[i]->mass) * robot.links[i]->comWorld;
  }
  robot.potentialEnergy = pe(0, 0);
  return {M, C, G, F, qd};
}

matrix<double> ForwardDynamics(Robot& robot, const matrix<double>& torque) {
  const EquationTerms t = reference::EvaluateEquationTerms(robot);
  Mat E(t.M.RowCount(), t.M.RowCount());
  E.SetIdentity();
  E = E * kPseudoInverseDamping;
  const Mat Mt = Transpose(t.M);
  const Mat inverse = !(t.M * Mt + E);
  const Mat P = Transpose(t.M) * inverse;
  return P * (torque - ((t.C * t.qd + t.G) + t.F));
}

matrix<double> InverseDynamics(Robot& robot) {
  const EquationTerms t = reference::EvaluateEquationTerms(robot);
  Mat qdd(t.M.RowCount(), 1);
  for (uint32_t i = 0; i < qdd.RowCount(); ++i) {
    qdd(i, 0) = robot.links[i]->qdd;
  }
  return ((t.M * qdd + t.C * t.qd) + t.G) + t.F;
}

}  // namespace reference
