// Joint and link transforms: exact values where they are known, every derivative against a
// central finite difference of the transform it differentiates, and the built-in arm's chain.
#include <cmath>
#include <functional>

#include <gtest/gtest.h>

#include "robot/transforms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

// Central difference of f at x, element by element; compared with tolerance tol.
void ExpectDerivative(const std::function<matrix<double>(double)>& f, double x,
                      const matrix<double>& derivative, double tol = 1e-8) {
  const double h = 1e-6;
  const matrix<double> ahead = f(x + h);
  const matrix<double> behind = f(x - h);
  ASSERT_EQ(derivative.RowCount(), 4u);
  ASSERT_EQ(derivative.ColCount(), 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    for (uint32_t j = 0; j < 4; ++j) {
      EXPECT_NEAR(derivative(i, j), (ahead(i, j) - behind(i, j)) / (2 * h), tol)
          << "element (" << i << ", " << j << ")";
    }
  }
}

TEST(Transforms, PoseTransformAtZeroIsExactlyTheIdentity) {
  EXPECT_TRUE(SameMatrix(PoseTransform(0, 0, 0, 0, 0, 0), Identity4()));
}

TEST(Transforms, PoseTransformTranslatesAndRotates) {
  const matrix<double> t = PoseTransform(1, 2, 3, M_PI / 2, 0, 0);
  EXPECT_NEAR(t(0, 1), 0, 1e-15);
  EXPECT_NEAR(t(1, 1), 0, 1e-15);
  EXPECT_NEAR(t(2, 1), 1, 1e-15);  // roll by pi/2 maps y onto z
  EXPECT_EQ(Elements(TranslationPart(t)), (std::vector<double>{1, 2, 3}));
  // Yaw, pitch and roll compose as Rz * Ry * Rx.
  const double roll = 0.3, pitch = -0.7, yaw = 1.1;
  const matrix<double> composed = PoseTransform(0, 0, 0, 0, 0, yaw) *
                                  PoseTransform(0, 0, 0, 0, pitch, 0) *
                                  PoseTransform(0, 0, 0, roll, 0, 0);
  const matrix<double> direct = PoseTransform(0, 0, 0, roll, pitch, yaw);
  for (uint32_t i = 0; i < 4; ++i) {
    for (uint32_t j = 0; j < 4; ++j) {
      EXPECT_NEAR(direct(i, j), composed(i, j), 1e-15);
    }
  }
}

TEST(Transforms, PoseDerivativesMatchFiniteDifferences) {
  const double angles[][3] = {{0.3, -0.7, 1.1}, {2.5, 0.4, -2.9}, {-1.2, 1.5, 0.2}};
  for (const auto& a : angles) {
    const double r = a[0], p = a[1], y = a[2];
    SCOPED_TRACE(testing::Message() << r << ", " << p << ", " << y);
    ExpectDerivative([&](double v) { return PoseTransform(0.5, -1, 2, v, p, y); }, r,
                     PoseRollDerivative(r, p, y));
    ExpectDerivative([&](double v) { return PoseTransform(0.5, -1, 2, r, v, y); }, p,
                     PosePitchDerivative(r, p, y));
    ExpectDerivative([&](double v) { return PoseTransform(0.5, -1, 2, r, p, v); }, y,
                     PoseYawDerivative(r, p, y));
    ExpectDerivative([&](double v) { return PoseTransform(v, 2, 3, r, p, y); }, 0.1,
                     TranslationDerivativeX());
    ExpectDerivative([&](double v) { return PoseTransform(1, v, 3, r, p, y); }, 0.1,
                     TranslationDerivativeY());
    ExpectDerivative([&](double v) { return PoseTransform(1, 2, v, r, p, y); }, 0.1,
                     TranslationDerivativeZ());
  }
}

TEST(Transforms, JointDerivativeMatchesFiniteDifferenceForEveryJointKindAndAxis) {
  for (int32_t type : {int32_t{Fixed}, int32_t{Revolute}, int32_t{Prismatic}, 7}) {
    for (int32_t axis : {int32_t{X}, int32_t{Y}, int32_t{Z}, 3, -1}) {
      SCOPED_TRACE(testing::Message() << "type " << type << " axis " << axis);
      Link link;
      link.jointType = type;
      link.axis = axis;
      link.q = 0.6;
      ExpectDerivative(
          [&](double q) {
            Link moved = link;
            moved.q = q;
            return JointTransform(moved);
          },
          link.q, JointTransformDerivative(link));
      const bool moves = (type == Revolute || type == Prismatic) && axis >= 0 && axis <= 2;
      if (!moves) {
        EXPECT_TRUE(SameMatrix(JointTransform(link), Identity4()));
        matrix<double> zero(4, 4);
        zero.SetZero();
        EXPECT_TRUE(SameMatrix(JointTransformDerivative(link), zero));
      }
    }
  }
}

TEST(Transforms, RevoluteAboutXAtHalfARadian) {
  Link link;
  link.q = 0.5;
  EXPECT_TRUE(SameMatrix(JointTransform(link), PoseTransform(0, 0, 0, 0.5, 0, 0)));
  const matrix<double> d = JointTransformDerivative(link);
  EXPECT_EQ(Elements(d), (std::vector<double>{0, 0, 0, 0,                            //
                                              0, -std::sin(0.5), -std::cos(0.5), 0,  //
                                              0, std::cos(0.5), -std::sin(0.5), 0,   //
                                              0, 0, 0, 0}));
}

TEST(Transforms, BuiltInArmChainAtRestLiesAlongY) {
  auto robot = MakeBuiltInRobot();
  matrix<double> frame = Identity4();
  for (size_t i = 0; i < robot->links.size(); ++i) {
    EXPECT_EQ(frame(0, 3), 0) << "link " << i;
    EXPECT_NEAR(frame(1, 3), 0.3 * static_cast<double>(i), 1e-15) << "link " << i;
    EXPECT_EQ(frame(2, 3), 0) << "link " << i;
    frame = frame * JointTransform(*robot->links[i]) * LinkOffsetTransform(*robot->links[i]);
  }
  const matrix<double> tip = TranslationPart(frame);
  EXPECT_EQ(tip(0, 0), 0);
  EXPECT_NEAR(tip(1, 0), 1.8, 1e-15);
  EXPECT_EQ(tip(2, 0), 0);
}

TEST(Transforms, BuiltInArmBentAtTheFirstJointRisesInZ) {
  auto robot = MakeBuiltInRobot(2);
  robot->links[0]->q = M_PI / 2;  // turning about x carries +y onto +z
  matrix<double> frame = Identity4();
  for (const auto& link : robot->links) {
    frame = frame * JointTransform(*link) * LinkOffsetTransform(*link);
  }
  EXPECT_NEAR(frame(1, 3), 0, 1e-15);
  EXPECT_NEAR(frame(2, 3), 0.6, 1e-15);
}

}  // namespace
