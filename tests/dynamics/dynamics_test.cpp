// The dynamics against what is known without them (M, G and C qd are checked against KDL with the
// URDF loader, the built-in arm's ticks bit for bit by velmoth-sim's golden runs): closed forms of
// a single link; at random states of arms on which no factor of 0 or 1 hides a changed order, the
// terms bit for bit, invariants and derivatives; friction's sign rule; the step; and misuse.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "dynamics/kinematics.h"
#include "dynamics/terms.h"
#include "robot/transforms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

using ::testing::DoubleNear;
using ::testing::Pointwise;
using Mat = matrix<double>;

// The arms of the tests that hold for any arm: 0: no link, 1: one built-in link, 2: the built-in
// arm; 3: a general arm whose joints turn and slide about every axis, with rotated offsets,
// off-axis centres of mass and gravity, masses other than 1, full inertia tensors and friction, so
// that no term vanishes or hides by symmetry; 4: the general arm with joint 3 fixed.
std::unique_ptr<Robot> MakeTestArm(int which) {
  if (which < 3) {
    return MakeBuiltInRobot(which == 2 ? kBuiltInLinkCount : which);
  }
  auto robot = std::make_unique<Robot>(0.3, -1.2, -9.81, 0.02, 0.05);
  // mass, com, Ixx Iyy Izz Ixy Iyz Ixz, offset x y z roll pitch yaw, radius
  robot->AddLink(2.0, 0.02, -0.01, 0.12, 0.05, 0.04, 0.03, 0.002, -0.001, 0.003, 0.0, 0.05, 0.3,
                 0.2, -0.1, 0.4, 0.03);
  robot->AddLink(1.5, 0.15, 0.03, -0.02, 0.02, 0.06, 0.05, -0.004, 0.001, 0.002, 0.35, 0.0, 0.02,
                 -0.3, 0.25, 0.1, 0.03);
  robot->AddLink(0.8, 0.1, 0.02, 0.01, 0.01, 0.02, 0.02, 0.001, 0.0, -0.001, 0.2, -0.05, 0.0, 0.0,
                 0.3, -0.2, 0.03);
  robot->AddLink(1.1, 0.01, 0.12, 0.03, 0.03, 0.01, 0.03, 0.0, 0.002, 0.001, 0.0, 0.25, 0.05, 0.5,
                 0.0, 0.3, 0.03);
  robot->AddLink(0.6, -0.02, 0.01, 0.08, 0.008, 0.009, 0.004, 0.0005, 0.0, 0.0, 0.03, 0.0, 0.15,
                 0.0, -0.4, 0.0, 0.03);
  robot->AddLink(0.5, 0.05, 0.05, 0.02, 0.004, 0.005, 0.006, -0.0003, 0.0002, 0.0001, 0.1, 0.1, 0.0,
                 0.0, 0.0, 0.0, 0.03);
  const int32_t types[] = {Revolute,  Revolute, Prismatic, which == 4 ? Fixed : Revolute,
                           Prismatic, Revolute};
  const int32_t axes[] = {Z, Y, X, X, Z, Z};
  for (int i = 0; i < 6; ++i) {
    robot->links[i]->jointType = types[i];
    robot->links[i]->axis = axes[i];
  }
  return robot;
}

// Joint positions in [-pi, pi] (in [-0.5, 0.5] m when sliding), velocities in [-2, 2].
void RandomState(Robot& robot, std::mt19937_64& random) {
  std::uniform_real_distribution<double> angle(-3.14159, 3.14159), length(-0.5, 0.5),
      rate(-2.0, 2.0);
  for (auto& link : robot.links) {
    link->q = link->jointType == Prismatic ? length(random) : angle(random);
    link->qd = rate(random);
  }
}

// Jv_i and Jw_i of every link, from the robot's last kinematics pass.
std::pair<std::vector<Mat>, std::vector<Mat>> LinkJacobians(const Robot& robot) {
  std::pair<std::vector<Mat>, std::vector<Mat>> J;
  for (uint32_t i = 0; i < robot.links.size(); ++i) {
    J.first.push_back(LinearJacobian(robot, i));
    J.second.push_back(AngularJacobian(robot, i));
  }
  return J;
}

TEST(Dynamics, NoLinkAndOneLink) {
  std::unique_ptr<Robot> none = MakeBuiltInRobot(0);
  EXPECT_EQ(ForwardDynamics(*none, Mat(0, 1)).RowCount(), 0u);
  EXPECT_EQ(InverseDynamics(*none).RowCount(), 0u);
  EXPECT_EQ(LinearJacobian(*none, 0).ColCount(), 0u);
  // A pendulum: M = m 0.15^2 + Ixx, G = 9.81 m 0.15 cos q, its centre of mass 0.15 sin q high.
  std::unique_ptr<Robot> one = MakeBuiltInRobot(1);
  Link& link = *one->links[0];
  link.q = 0.7;
  link.qd = -1.3;
  link.qdd = 3;
  const double m = 0.15 * 0.15 + 0.01, g = 9.81 * 0.15 * std::cos(0.7), f = -1.3 * 0.1 - 0.1;
  EXPECT_NEAR(InverseDynamics(*one)(0, 0), m * 3 + g + f, 1e-14);
  EXPECT_NEAR(one->kineticEnergy, 0.5 * m * 1.69, 1e-15);
  EXPECT_NEAR(one->potentialEnergy, 9.81 * 0.15 * std::sin(0.7), 1e-14);
  EXPECT_NEAR(ForwardDynamics(*one, V({2}))(0, 0), m / (m * m + 1e-8) * (2 - g - f), 1e-11);
}

// Elements within 1e-7.
void ExpectNear(const Mat& actual, const Mat& expected, const char* what) {
  EXPECT_THAT(Elements(actual), Pointwise(DoubleNear(1e-7), Elements(expected))) << what;
}

// The pass in matrix operations, into the links' working fields: T is the incoming frame of link
// j, D[k] its derivative by q_k; a sliding body follows its joint.
void Chain(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Mat T = Identity4();
  std::vector<Mat> D(n, Zeros(4, 4));
  for (uint32_t j = 0; j < n; ++j) {
    Link& L = *robot.links[j];
    const auto a = static_cast<uint32_t>(L.axis);
    const Mat J = JointTransform(L), dJ = JointTransformDerivative(L), O = LinkOffsetTransform(L);
    const bool slides = L.jointType == Prismatic;
    L.axisWorld = Column3(T, a);
    L.originWorld = TranslationPart(T);
    L.dAxisWorld = L.dOriginWorld = L.dRotationWorld = L.dComWorld = std::vector<Mat>(n);
    for (uint32_t k = 0; k < n; ++k) {
      L.dAxisWorld[k] = Column3(D[k], a);
      L.dOriginWorld[k] = TranslationPart(D[k]);
      D[k] = k > j ? Zeros(4, 4) : (k == j ? T * dJ : D[k] * J);
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

// dM/dq_k of the tick's loops for the robot's state, n x n at n^2 k.
std::vector<double> FlatMassMatrixDerivatives(Robot& robot) {
  LinkFrames frames;
  UpdateLinkKinematics(robot, frames);
  const std::size_t n = robot.links.size(), block = 3 * n;
  std::vector<double> jv(block * n), jw(block * n);
  for (uint32_t i = 0; i < n; ++i) {
    flat::LinearJacobian(frames, i, &jv[block * i]);
    flat::AngularJacobian(frames, i, &jw[block * i]);
  }
  flat::CoriolisScratch scratch;
  flat::MassMatrixDerivatives({&robot, &frames, jv.data(), jw.data()}, scratch);
  return scratch.N;
}

// The tick's M, C, G, F, energies and dM/dq at the robot's state bit for bit against the matrix
// expressions; returns dM/dq of those.
std::vector<Mat> ExpectTheTermsAreTheirMatrixExpressions(Robot& robot) {
  const EquationTerms t = EvaluateEquationTerms(robot);
  const double kinetic = robot.kineticEnergy, potential = robot.potentialEnergy;
  const auto n = static_cast<uint32_t>(robot.links.size());
  const std::vector<double> flatN = FlatMassMatrixDerivatives(robot);
  const auto [Jv, Jw] = LinkJacobians(robot);
  const Mat M = MassMatrix(robot, Jv, Jw);
  EXPECT_TRUE(SameMatrix(M, t.M));
  EXPECT_TRUE(SameMatrix(CoriolisMatrix(robot, Jv, Jw), t.C));
  EXPECT_TRUE(SameMatrix(GravityVector(robot, Jv), t.G));
  EXPECT_TRUE(SameMatrix(FrictionVector(robot), t.F));
  EXPECT_EQ(std::bit_cast<uint64_t>(KineticEnergy(robot, M)), std::bit_cast<uint64_t>(kinetic));
  EXPECT_EQ(std::bit_cast<uint64_t>(PotentialEnergy(robot)), std::bit_cast<uint64_t>(potential));
  std::vector<Mat> N = MassMatrixDerivatives(robot, Jv, Jw);
  for (uint32_t k = 0; k < n; ++k) {
    EXPECT_TRUE(SameMatrix(MatrixFromRowMajor(n, n, &flatN[std::size_t{n} * n * k]), N[k]))
        << "dM/dq" << k;
  }
  return N;
}

// The kinematics pass and the tick's terms bit for bit against the matrix expressions; then the
// invariants of the equation of motion, and every derivative against a central difference.
TEST(Dynamics, AtRandomStatesTheTermsAreTheirMatrixExpressionsAndTheirDerivativesSlopes) {
  std::mt19937_64 random(3);
  for (int state = 0; state < 15; ++state) {
    const int arm = state / 3;  // three random states of each test arm
    SCOPED_TRACE(testing::Message() << "arm " << arm << ", state " << state % 3);
    const std::unique_ptr<Robot> tested = MakeTestArm(arm);
    Robot& robot = *tested;
    RandomState(robot, random);
    const std::vector<Mat> N = ExpectTheTermsAreTheirMatrixExpressions(robot);
    const EquationTerms t = EvaluateEquationTerms(robot);
    const auto n = static_cast<uint32_t>(robot.links.size());
    std::unique_ptr<Robot> twin = MakeTestArm(arm);
    for (uint32_t j = 0; j < n; ++j) {
      twin->links[j]->q = robot.links[j]->q;
    }
    Chain(*twin);
    for (uint32_t j = 0; j < n; ++j) {
      SCOPED_TRACE(testing::Message() << "link " << j);
      const Link &a = *robot.links[j], &b = *twin->links[j];
      for (auto f : {&Link::rotationWorld, &Link::axisWorld, &Link::originWorld, &Link::comWorld}) {
        EXPECT_TRUE(SameMatrix(a.*f, b.*f));
      }
      for (auto f :
           {&Link::dRotationWorld, &Link::dAxisWorld, &Link::dOriginWorld, &Link::dComWorld}) {
        ASSERT_EQ((a.*f).size(), n);
        for (uint32_t k = 0; k < n; ++k) {
          EXPECT_TRUE(SameMatrix((a.*f)[k], (b.*f)[k])) << "entry " << k;
        }
      }
    }

    // M is symmetric; dM/dt = sum_i N[i] qd_i, and dM/dt - 2 C is skew-symmetric.
    Mat mDot = Zeros(n, n);
    for (uint32_t i = 0; i < n; ++i) {
      mDot += N[i] * robot.links[i]->qd;
    }
    const Mat s = mDot - t.C * 2.0;
    EXPECT_THAT(Elements(t.M), Pointwise(DoubleNear(1e-13), Elements(Transpose(t.M))));
    EXPECT_THAT(Elements(s), Pointwise(DoubleNear(1e-11), Elements(Transpose(s) * -1.0)));

    // Every derivative by q_k against the central difference of what it differentiates, read
    // after a kinematics pass; the pass's own derivatives enter N and the Jacobian derivatives.
    const auto [Jv, Jw] = LinkJacobians(robot);
    for (uint32_t k = 0; k < n; ++k) {
      SCOPED_TRACE(testing::Message() << "by q" << k);
      const auto slope = [&robot, k](auto f) {
        const double q = robot.links[k]->q, h = 1e-6;
        Mat at[2];
        for (int side = 0; side < 2; ++side) {
          robot.links[k]->q = side == 0 ? q + h : q - h;
          UpdateLinkKinematics(robot);
          at[side] = f();
        }
        robot.links[k]->q = q;
        UpdateLinkKinematics(robot);
        return (at[0] - at[1]) * (1 / (2 * h));
      };
      ExpectNear(N[k], slope([&] { return EvaluateEquationTerms(robot).M; }), "N");
      EXPECT_NEAR(t.G(k, 0), slope([&] { return V({PotentialEnergy(robot)}); })(0, 0), 1e-6);
      for (uint32_t j = 0; j < n; ++j) {
        SCOPED_TRACE(testing::Message() << "link " << j);
        const Link& link = *robot.links[j];
        ExpectNear(LinearJacobianDerivative(robot, j, k),
                   slope([&] { return LinearJacobian(robot, j); }), "dJv");
        ExpectNear(AngularJacobianDerivative(robot, j, k),
                   slope([&] { return AngularJacobian(robot, j); }), "dJw");
        // Column k of Jv_j is dp_j/dq_k; column k of Jw_j the axial vector of dR_j/dq_k R_j^T.
        Mat jv = Jv[j], jw = Jw[j];
        const Mat spin = slope([&] { return link.rotationWorld; }) * Transpose(link.rotationWorld);
        ExpectNear(Column3(jv, k), slope([&] { return link.comWorld; }), "Jv column");
        ExpectNear(Column3(jw, k), V({spin(2, 1), spin(0, 2), spin(1, 0)}), "Jw column");
      }
    }
  }
}

// The tick's loops leave out the terms a serial chain makes zero only where each would be a finite
// number times zero: for states that are not finite, or whose products overflow, the terms have
// their infinities and NaNs in the same elements, with the same bits, as the matrix expressions.
TEST(Dynamics, TheTermsLeftOutOfTheDerivativesAreZeroInEveryState) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    int arm;
    void (*change)(Robot&);
  };
  const Case cases[] = {
      {"an infinite position", 3, [](Robot& r) { r.links[2]->q = inf; }},
      {"a NaN position", 2, [](Robot& r) { r.links[0]->q = nan; }},
      {"an infinite velocity", 3, [](Robot& r) { r.links[1]->qd = -inf; }},
      {"an infinite mass", 3, [](Robot& r) { r.links[1]->mass = inf; }},
      {"a NaN inertia", 2, [](Robot& r) { r.links[3]->inertia(1, 2) = nan; }},
      // Finite, but R I R^T overflows: its products with the zero columns of Jw are NaN.
      {"an inertia whose rotation overflows", 2,
       [](Robot& r) {
         r.links[0]->q = 0.7;
         for (uint32_t e = 0; e < 9; ++e) {
           r.links[0]->inertia(e / 3, e % 3) = 1e308;
         }
       }},
  };
  std::mt19937_64 random(11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::unique_ptr<Robot> tested = MakeTestArm(c.arm);
    RandomState(*tested, random);
    c.change(*tested);
    ExpectTheTermsAreTheirMatrixExpressions(*tested);
  }
}

TEST(Dynamics, FrictionTakesTheSignOfAnyVelocityButExactlyZeroAndTheStepUsesTheNewVelocity) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
  robot->viscousFriction = 0.5;
  robot->coulombFriction = 0.25;
  robot->links[0]->qd = 1e-300;
  robot->links[1]->qd = -2.0;
  EXPECT_TRUE(SameMatrix(FrictionVector(*robot), V({0.25, -1.25, 0})));

  // Column 0 of the first n rows only; the new velocity advances the position.
  IntegrateStep(*robot, M({{3, 7}, {-4, 7}, {0.5, 7}, {7, 7}}), 0.01);
  const Link &second = *robot->links[1], &third = *robot->links[2];
  EXPECT_EQ((std::vector<double>{second.qdd, second.qd, second.q, third.qdd, third.qd, third.q}),
            (std::vector<double>{-4, -4 * 0.01 - 2.0, (-4 * 0.01 - 2.0) * 0.01, 0.5, 0.5 * 0.01,
                                 0.5 * 0.01 * 0.01}));
}

TEST(Dynamics, IndicesBeyondTheLinksAndMisshapenInputsBehaveAsTheirMatrixExpressions) {
  std::mt19937_64 random(7);
  std::unique_ptr<Robot> robot = MakeTestArm(3);
  RandomState(*robot, random);
  EvaluateEquationTerms(*robot);
  const uint32_t n = 6;
  // The angular Jacobians never read link i: beyond the last link they are those of the last.
  EXPECT_TRUE(SameMatrix(AngularJacobianDerivative(*robot, 99, 2),
                         AngularJacobianDerivative(*robot, n - 1, 2)));
  // Where link i or entry k must be read and does not exist: the matrix index message.
  const auto [Jv, Jw] = LinkJacobians(*robot);
  EXPECT_FATAL(LinearJacobian(*robot, n), kMatrixIndexMessage);
  EXPECT_FATAL(LinearJacobianDerivative(*robot, 1, n), kMatrixIndexMessage);
  EXPECT_FATAL(AngularJacobianDerivative(*robot, n, n), kMatrixIndexMessage);
  EXPECT_FATAL(MassMatrix(*robot, Jv, {Jw[0]}), kMatrixIndexMessage);
  // Jacobians with a column too many: Column3 never reads it, so G is unchanged, but M's sum
  // meets shapes that differ.
  std::vector<Mat> wide = Jv;
  for (Mat& jv : wide) {
    jv.Resize(3, n + 1);
  }
  EXPECT_TRUE(SameMatrix(GravityVector(*robot, wide), GravityVector(*robot, Jv)));
  EXPECT_FATAL(MassMatrix(*robot, wide, wide), kMatrixAddMessage);

  // The tick's inputs: torques n x 1, accelerations with n rows and a column, gravity 3 x 1.
  EXPECT_FATAL(ForwardDynamics(*robot, Zeros(n - 1, 1)), kMatrixSubtractMessage);
  EXPECT_FATAL(ForwardDynamics(*robot, Mat(n, 2)), kMatrixSubtractMessage);
  EXPECT_FATAL(IntegrateStep(*robot, Zeros(n - 1, 1), kTimeStep), kMatrixIndexMessage);
  EXPECT_FATAL(IntegrateStep(*robot, Mat(n, 0), kTimeStep), kMatrixIndexMessage);
  robot->gravity = V({0, 0, -9.81, 0});
  EXPECT_FATAL(GravityVector(*robot, Jv), kMatrixMultiplyMessage);
  EXPECT_FATAL(EvaluateEquationTerms(*robot), kMatrixMultiplyMessage);
}

}  // namespace
