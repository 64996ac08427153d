// The tick written directly in matrix operations, term by term as the equations read, with a new
// matrix for every intermediate result. The library forms the same operations in flat loops; since
// results are compared exactly with other builds over long chaotic runs, every tick's result and
// energies must equal these bit for bit.
#include <bit>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "robot/transforms.h"
#include "tests/dynamics/arms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

using Mat = matrix<double>;

Mat Zero(uint32_t rows, uint32_t cols) {
  Mat m(rows, cols);
  m.SetZero();
  return m;
}

// T is the incoming frame of link j, D[k] its derivative by q_k.
void Kinematics(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Mat T = Identity4();
  std::vector<Mat> D(n, Zero(4, 4));
  for (uint32_t j = 0; j < n; ++j) {
    Link& L = *robot.links[j];
    const auto a = static_cast<uint32_t>(L.axis);
    const Mat J = JointTransform(L), dJ = JointTransformDerivative(L), O = LinkOffsetTransform(L);
    const bool slides = L.jointType == Prismatic;  // the sliding body follows its joint
    L.axisWorld = Column3(T, a);
    L.originWorld = TranslationPart(T);
    L.dAxisWorld = L.dOriginWorld = L.dRotationWorld = L.dComWorld = std::vector<Mat>(n);
    for (uint32_t k = 0; k < n; ++k) {
      L.dAxisWorld[k] = Column3(D[k], a);
      L.dOriginWorld[k] = TranslationPart(D[k]);
      D[k] = k > j ? Zero(4, 4) : (k == j ? T * dJ : D[k] * J);
      L.dRotationWorld[k] = RotationPart(D[k]);
      L.dComWorld[k] =
          (slides ? TranslationPart(D[k]) : L.dOriginWorld[k]) + L.dRotationWorld[k] * L.com;
      D[k] = D[k] * O;
    }
    T = T * J;
    L.rotationWorld = RotationPart(T);
    L.comWorld = (slides ? TranslationPart(T) : L.originWorld) + L.rotationWorld * L.com;
    T = T * O;
  }
}

// Jv_i or Jw_i, or its derivative by q_k when k >= 0.
Mat Jacobian(const Robot& robot, uint32_t i, bool linear, int64_t k) {
  const Link& body = *robot.links[i];
  Mat m = Zero(3, static_cast<uint32_t>(robot.links.size()));
  for (uint32_t j = 0; j <= i; ++j) {
    const Link& joint = *robot.links[j];
    const bool turns = joint.jointType == Revolute, slides = joint.jointType == Prismatic;
    Mat column = Zero(3, 1);
    if (linear && turns) {
      const Mat lever = body.comWorld - joint.originWorld;
      column = k < 0 ? CrossProduct(joint.axisWorld, lever)
                     : CrossProduct(joint.axisWorld, body.dComWorld[k] - joint.dOriginWorld[k]) +
                           CrossProduct(joint.dAxisWorld[k], lever);
    } else if (turns || (linear && slides)) {
      column = k < 0 ? joint.axisWorld : joint.dAxisWorld[k];
    }
    for (uint32_t r = 0; r < 3; ++r) {
      m(r, j) = column(r, 0);
    }
  }
  return m;
}

EquationTerms Evaluate(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Kinematics(robot);
  std::vector<Mat> Jv, Jw, N(n, Zero(n, n));
  Mat qd(n, 1), M = Zero(n, n), C = Zero(n, n), G = Zero(n, 1), F(n, 1), pe = Zero(1, 1);
  for (uint32_t i = 0; i < n; ++i) {
    Jv.push_back(Jacobian(robot, i, true, -1));
    Jw.push_back(Jacobian(robot, i, false, -1));
    qd(i, 0) = robot.links[i]->qd;
  }
  for (uint32_t i = 0; i < n; ++i) {
    const Link& L = *robot.links[i];
    const Mat &R = L.rotationWorld, &I = L.inertia, Ih = (R * I) * Transpose(R);
    M = M + ((Transpose(Jv[i]) * L.mass) * Jv[i] +
             (((Transpose(Jw[i]) * R) * I) * Transpose(R)) * Jw[i]);
    for (uint32_t k = 0; k < n; ++k) {
      const Mat& dR = L.dRotationWorld[k];
      const Mat a = Jacobian(robot, i, true, k), b = Jacobian(robot, i, false, k);
      const Mat dIh = ((dR * I) * Transpose(R)) + ((R * I) * Transpose(dR));
      N[k] =
          N[k] +
          ((((Transpose(a) * Jv[i] + Transpose(Jv[i]) * a) * L.mass + (Transpose(b) * Ih) * Jw[i]) +
            (Transpose(Jw[i]) * dIh) * Jw[i]) +
           (Transpose(Jw[i]) * Ih) * b);
    }
    pe = pe - (Transpose(robot.gravity) * L.mass) * L.comWorld;
  }
  for (uint32_t k = 0; k < n; ++k) {
    for (uint32_t j = 0; j < n; ++j) {
      for (uint32_t i = 0; i < n; ++i) {
        C(k, j) = C(k, j) + ((N[j](k, i) + N[i](k, j)) - N[k](j, i)) * qd(i, 0);
      }
      C(k, j) = 0.5 * C(k, j);
      G(k, 0) =
          G(k, 0) - ((Transpose(robot.gravity) * robot.links[j]->mass) * Column3(Jv[j], k))(0, 0);
    }
    const double v = qd(k, 0), sign = v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0);
    F(k, 0) = v * robot.viscousFriction + sign * robot.coulombFriction;
  }
  robot.kineticEnergy = (((Transpose(qd) * 0.5) * M) * qd)(0, 0);
  robot.potentialEnergy = pe(0, 0);
  return {M, C, G, F, qd};
}

// One tick: forward, the accelerations of the torques and then the step; inverse, the step with
// the accelerations and then the torques that give them.
Mat Tick(Robot& robot, bool forward, const Mat& input) {
  if (!forward) {
    IntegrateStep(robot, input, kTimeStep);
  }
  const EquationTerms t = Evaluate(robot);
  if (!forward) {
    return ((t.M * input + t.C * t.qd) + t.G) + t.F;
  }
  Mat E(t.M.RowCount(), t.M.RowCount());
  E.SetIdentity();
  const Mat P = Transpose(t.M) * !(t.M * Transpose(t.M) + E * kPseudoInverseDamping);
  const Mat qdd = P * (input - ((t.C * t.qd + t.G) + t.F));
  IntegrateStep(robot, qdd, kTimeStep);
  return qdd;
}

TEST(BitExact, TicksEqualTheMatrixFormBitForBit) {
  const struct {
    bool general;  // the general arm, where no factor of 1 or 0 hides a changed order
    bool forward;
    Mat input;
    int ticks;
  } cases[] = {
      {false, true, V({0.5, -0.3, 0.2, 0.0, -0.1, 0.05}), 400},  // the built-in arm's chaotic fall
      {false, false, V({1, -2, 3, -4, 5, -6}), 300},
      {true, true, V({0.1, 0.2, -0.3, 0.0, 0.4, 0.1}), 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "general " << c.general << ", forward " << c.forward);
    auto mine = c.general ? MakeGeneralArm() : MakeBuiltInRobot();
    auto theirs = c.general ? MakeGeneralArm() : MakeBuiltInRobot();
    for (int tick = 1; tick <= c.ticks; ++tick) {
      Mat a;
      if (c.forward) {
        a = ForwardDynamics(*mine, c.input);
        IntegrateStep(*mine, a, kTimeStep);
      } else {
        IntegrateStep(*mine, c.input, kTimeStep);
        a = InverseDynamics(*mine);
      }
      const Mat b = Tick(*theirs, c.forward, c.input);
      // The result, then the kinetic and the potential energy; the joint states follow.
      std::vector<double> x = Elements(a), y = Elements(b);
      x.insert(x.end(), {mine->kineticEnergy, mine->potentialEnergy});
      y.insert(y.end(), {theirs->kineticEnergy, theirs->potentialEnergy});
      ASSERT_EQ(x.size(), y.size());
      for (std::size_t e = 0; e < x.size(); ++e) {
        ASSERT_EQ(std::bit_cast<uint64_t>(x[e]), std::bit_cast<uint64_t>(y[e]))
            << "tick " << tick << ", value " << e;
      }
    }
  }
}

}  // namespace
