// Bit for bit, what the golden runs of velmoth-sim cannot show: on arms that turn and slide about
// every axis, with full inertia tensors, where no factor of 0 or 1 hides a changed order, the
// kinematics pass equals the chain of matrix products, and the tick's flat terms equal the
// matrix-valued terms, which evaluate the defining matrix expressions.
#include <bit>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "dynamics/terms.h"
#include "robot/transforms.h"
#include "tests/dynamics/arms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

using Mat = matrix<double>;

Mat Zero4() {
  Mat m(4, 4);
  m.SetZero();
  return m;
}

// The pass in matrix operations, into the links' working fields: T is the incoming frame of link
// j, D[k] its derivative by q_k; a sliding body follows its joint.
void Chain(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  Mat T = Identity4();
  std::vector<Mat> D(n, Zero4());
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
      D[k] = k > j ? Zero4() : (k == j ? T * dJ : D[k] * J);
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

TEST(BitExact, TheKinematicsPassAndTheTermsAreTheirMatrixExpressions) {
  AtRandomStates(3, 0, [](int arm, Robot& robot, const EquationTerms& t) {
    const auto n = static_cast<uint32_t>(robot.links.size());
    const double kinetic = robot.kineticEnergy, potential = robot.potentialEnergy;

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

    std::vector<Mat> Jv, Jw;
    LinkJacobians(robot, Jv, Jw);
    const Mat M = MassMatrix(robot, Jv, Jw);
    EXPECT_TRUE(SameMatrix(M, t.M));
    EXPECT_TRUE(SameMatrix(CoriolisMatrix(robot, Jv, Jw), t.C));
    EXPECT_TRUE(SameMatrix(GravityVector(robot, Jv), t.G));
    EXPECT_TRUE(SameMatrix(FrictionVector(robot), t.F));
    EXPECT_EQ(std::bit_cast<uint64_t>(KineticEnergy(robot, M)), std::bit_cast<uint64_t>(kinetic));
    EXPECT_EQ(std::bit_cast<uint64_t>(PotentialEnergy(robot)), std::bit_cast<uint64_t>(potential));
  });
}

}  // namespace
