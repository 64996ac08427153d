// The Robot record and the transforms of its chain: what AddLink and ResetJointState touch, and
// every transform derivative against a central finite difference. Where the transforms put the
// links is checked through the dynamics (against KDL, and velmoth-sim's golden runs) and the view.
#include <algorithm>
#include <functional>

#include "robot/transforms.h"
#include "tests/matrix/matrix_literal.h"

namespace {

using Values = std::vector<double>;

// Everything a Robot holds besides q, qd and qdd, working fields and their sizes included.
Values AllButTheJointState(const Robot& robot) {
  Values all = Elements(robot.gravity);
  all.insert(all.end(), {robot.coulombFriction, robot.viscousFriction, robot.kineticEnergy,
                         robot.potentialEnergy});
  const auto add = [&all](const matrix<double>& m) {
    const Values e = Elements(m);
    all.insert(all.end(), e.begin(), e.end());
  };
  for (const auto& l : robot.links) {
    all.insert(all.end(), {double(l->jointType), double(l->axis), l->mass, l->offsetX, l->offsetY,
                           l->offsetZ, l->offsetRoll, l->offsetPitch, l->offsetYaw, l->radius});
    for (const matrix<double>* m :
         {&l->com, &l->inertia, &l->rotationWorld, &l->axisWorld, &l->originWorld, &l->comWorld}) {
      add(*m);
    }
    for (const auto* s : {&l->dRotationWorld, &l->dAxisWorld, &l->dOriginWorld, &l->dComWorld}) {
      all.push_back(double(s->size()));
      std::for_each(s->begin(), s->end(), add);
    }
  }
  return all;
}

TEST(Robot, AddLinkStoresEveryArgumentAndResetChangesOnlyTheJointState) {
  Robot robot(1, 2, 3, 0.4, 0.5);
  robot.AddLink(2, 0.1, 0.2, 0.3, 11, 22, 33, 12, 23, 13, 1, 2, 3, 0.7, 0.8, 0.9, 0.05);
  AddBuiltInLink(robot);
  const Values all = AllButTheJointState(robot);  // the working fields are not set yet
  EXPECT_EQ(Values(all.begin(), all.begin() + 29),
            (Values{1,   2,    3,   0.4, 0.5, 0,  0,  Revolute, X,  2,  1,  2,  3,  0.7, 0.8,
                    0.9, 0.05, 0.1, 0.2, 0.3, 11, 12, 13,       12, 22, 23, 13, 23, 33}))
      << "the inertia is mirrored";

  // Working fields and energies as a dynamics call would leave them, then a Reset.
  double value = 0;
  Values angles;
  for (auto& l : robot.links) {
    for (matrix<double>* m : {&l->rotationWorld, &l->axisWorld, &l->originWorld, &l->comWorld}) {
      *m = V({++value, ++value, ++value});
    }
    for (auto* s : {&l->dRotationWorld, &l->dAxisWorld, &l->dOriginWorld, &l->dComWorld}) {
      s->assign(2, V({++value, ++value, ++value}));
    }
    angles.push_back(l->q = ++value);
    l->qd = ++value;
    l->qdd = ++value;
  }
  robot.kineticEnergy = 3;
  EXPECT_EQ(Elements(robot.GetJointAngles()), angles);
  const Values before = AllButTheJointState(robot);
  robot.ResetJointState();
  EXPECT_EQ(AllButTheJointState(robot), before);
  for (const auto& l : robot.links) {
    EXPECT_EQ((Values{l->q, l->qd, l->qdd}), (Values{0, 0, 0}));
  }
}

// Central difference of f at x, element by element, against derivative.
void ExpectDerivative(const std::function<matrix<double>(double)>& f, double x,
                      const matrix<double>& derivative) {
  const double h = 1e-6;
  const Values ahead = Elements(f(x + h)), behind = Elements(f(x - h)), d = Elements(derivative);
  ASSERT_EQ(d.size(), 16u);
  for (std::size_t e = 0; e < 16; ++e) {
    EXPECT_NEAR(d[e], (ahead[e] - behind[e]) / (2 * h), 1e-8) << "element " << e;
  }
}

TEST(Transforms, DerivativesMatchFiniteDifferences) {
  for (const double r : {0.3, 2.5, -1.2}) {
    const double p = r - 1, y = 2 * r;
    SCOPED_TRACE(testing::Message() << r << ", " << p << ", " << y);
    ExpectDerivative([&](double v) { return PoseTransform(0.5, -1, 2, v, p, y); }, r,
                     PoseRollDerivative(r, p, y));
    ExpectDerivative([&](double v) { return PoseTransform(0.5, -1, 2, r, v, y); }, p,
                     PosePitchDerivative(r, p, y));
    ExpectDerivative([&](double v) { return PoseTransform(0.5, -1, 2, r, p, v); }, y,
                     PoseYawDerivative(r, p, y));
  }
  // Every joint kind and axis code (sliding ones give the translation derivatives); those that do
  // not move are the identity with derivative 0.
  for (int32_t type : {int32_t{Fixed}, int32_t{Revolute}, int32_t{Prismatic}, 7}) {
    for (int32_t axis : {int32_t{X}, int32_t{Y}, int32_t{Z}, 3, -1}) {
      SCOPED_TRACE(testing::Message() << "type " << type << " axis " << axis);
      Link link;
      link.jointType = type;
      link.axis = axis;
      const auto at = [link](double q) mutable {
        link.q = q;
        return JointTransform(link);
      };
      link.q = 0.6;
      ExpectDerivative(at, link.q, JointTransformDerivative(link));
      if ((type != Revolute && type != Prismatic) || axis < 0 || axis > 2) {
        EXPECT_EQ(Elements(JointTransform(link)), Elements(Identity4()));
        EXPECT_EQ(Elements(JointTransformDerivative(link)), Values(16, 0.0));
      }
    }
  }
}

}  // namespace
