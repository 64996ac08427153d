#include "recursive/chain.h"

#include <cstdint>

#include "matrix/matrix.h"
#include "robot/transforms.h"

namespace recursive {

namespace {

spatial::Transform FromMatrix(const matrix<double>& t) {
  spatial::Transform x;
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      x.r.m[i][j] = t(i, j);
    }
  }
  x.p = {t(0, 3), t(1, 3), t(2, 3)};
  return x;
}

}  // namespace

JointMotion MotionOf(const Link& link) {
  if (link.axis < X || link.axis > Z) {
    return JointMotion::kNone;
  }
  return link.jointType == Revolute    ? JointMotion::kTurn
         : link.jointType == Prismatic ? JointMotion::kSlide
                                       : JointMotion::kNone;
}

ChainModel BuildChainModel(const Robot& robot) {
  using spatial::Vec3;
  ChainModel model;
  model.joints.resize(robot.links.size());
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    const Link& link = *robot.links[i];
    JointModel& joint = model.joints[i];
    joint.motion = MotionOf(link);
    joint.axis = joint.motion != JointMotion::kNone ? link.axis : 0;
    joint.offset = FromMatrix(i == 0 ? robot.basePose : LinkOffsetTransform(*robot.links[i - 1]));
    // I about the origin = I about the centre of mass + m (|c|^2 E - c c^T), h = m c.
    const double m = link.mass;
    const Vec3 c{link.com(0, 0), link.com(1, 0), link.com(2, 0)};
    const matrix<double>& ic = link.inertia;
    spatial::RigidInertia& body = joint.body;
    body.m = m;
    body.h = m * c;
    body.i = {ic(0, 0) + m * (c.y * c.y + c.z * c.z),
              ic(1, 1) + m * (c.x * c.x + c.z * c.z),
              ic(2, 2) + m * (c.x * c.x + c.y * c.y),
              ic(0, 1) - m * c.x * c.y,
              ic(0, 2) - m * c.x * c.z,
              ic(1, 2) - m * c.y * c.z};
    joint.body6 = spatial::FromRigid(body);
    joint.com = c;
    joint.inertiaAtCom = {ic(0, 0), ic(1, 1), ic(2, 2), ic(0, 1), ic(0, 2), ic(1, 2)};
  }
  return model;
}

void ChainData::Resize(int n) {
  const auto size = static_cast<std::size_t>(n);
  x.resize(size);
  v.resize(size);
  c.resize(size);
  bias.resize(size);
  ia.resize(size);
  pa.resize(size);
  u.resize(size);
  d.resize(size);
  uu.resize(size);
  a.resize(size);
  f.resize(size);
  placement.resize(size);
  composite.resize(size);
  axes.resize(6 * size);
}

}  // namespace recursive
