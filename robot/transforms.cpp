#include "robot/transforms.h"

#include <cmath>

namespace {

matrix<double> Zero4() {
  matrix<double> m(4, 4);
  m.SetZero();
  return m;
}

// Writes a 3 x 3 rotation block and a translation into rows 0..2 of t.
void SetRows(matrix<double>& t, const double (&r)[3][4]) {
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 4; ++j) {
      t(i, j) = r[i][j];
    }
  }
}

}  // namespace

matrix<double> PoseTransform(double x, double y, double z, double roll, double pitch, double yaw) {
  const double sr = std::sin(roll), cr = std::cos(roll);
  const double sp = std::sin(pitch), cp = std::cos(pitch);
  const double sy = std::sin(yaw), cy = std::cos(yaw);
  matrix<double> t(4, 4);
  SetRows(t, {{cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr, x},
              {sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr, y},
              {-sp, cp * sr, cp * cr, z}});
  t(3, 0) = 0.0;
  t(3, 1) = 0.0;
  t(3, 2) = 0.0;
  t(3, 3) = 1.0;
  return t;
}

matrix<double> JointTransform(const Link& link) {
  const double q = link.q;
  if (link.jointType == Prismatic) {
    switch (link.axis) {
      case X:
        return PoseTransform(q, 0, 0, 0, 0, 0);
      case Y:
        return PoseTransform(0, q, 0, 0, 0, 0);
      case Z:
        return PoseTransform(0, 0, q, 0, 0, 0);
      default:
        break;
    }
  } else if (link.jointType == Revolute) {
    switch (link.axis) {
      case X:
        return PoseTransform(0, 0, 0, q, 0, 0);
      case Y:
        return PoseTransform(0, 0, 0, 0, q, 0);
      case Z:
        return PoseTransform(0, 0, 0, 0, 0, q);
      default:
        break;
    }
  }
  return PoseTransform(0, 0, 0, 0, 0, 0);
}

matrix<double> JointTransformDerivative(const Link& link) {
  const double q = link.q;
  if (link.jointType == Prismatic) {
    switch (link.axis) {
      case X:
        return TranslationDerivativeX();
      case Y:
        return TranslationDerivativeY();
      case Z:
        return TranslationDerivativeZ();
      default:
        break;
    }
  } else if (link.jointType == Revolute) {
    switch (link.axis) {
      case X:
        return PoseRollDerivative(q, 0, 0);
      case Y:
        return PosePitchDerivative(0, q, 0);
      case Z:
        return PoseYawDerivative(0, 0, q);
      default:
        break;
    }
  }
  return Zero4();
}

matrix<double> LinkOffsetTransform(const Link& link) {
  return PoseTransform(link.offsetX, link.offsetY, link.offsetZ, link.offsetRoll, link.offsetPitch,
                       link.offsetYaw);
}

matrix<double> TranslationDerivativeX() {
  matrix<double> m = Zero4();
  m(0, 3) = 1.0;
  return m;
}

matrix<double> TranslationDerivativeY() {
  matrix<double> m = Zero4();
  m(1, 3) = 1.0;
  return m;
}

matrix<double> TranslationDerivativeZ() {
  matrix<double> m = Zero4();
  m(2, 3) = 1.0;
  return m;
}

matrix<double> PoseRollDerivative(double roll, double pitch, double yaw) {
  const double sr = std::sin(roll), cr = std::cos(roll);
  const double sp = std::sin(pitch), cp = std::cos(pitch);
  const double sy = std::sin(yaw), cy = std::cos(yaw);
  matrix<double> d = Zero4();
  SetRows(d, {{0.0, cy * sp * cr + sy * sr, sy * cr - cy * sp * sr, 0.0},
              {0.0, sy * sp * cr - cy * sr, -sy * sp * sr - cy * cr, 0.0},
              {0.0, cp * cr, -cp * sr, 0.0}});
  return d;
}

matrix<double> PosePitchDerivative(double roll, double pitch, double yaw) {
  const double sr = std::sin(roll), cr = std::cos(roll);
  const double sp = std::sin(pitch), cp = std::cos(pitch);
  const double sy = std::sin(yaw), cy = std::cos(yaw);
  matrix<double> d = Zero4();
  SetRows(d, {{-cy * sp, cy * cp * sr, cy * cp * cr, 0.0},
              {-sy * sp, sy * cp * sr, sy * cp * cr, 0.0},
              {-cp, -sp * sr, -sp * cr, 0.0}});
  return d;
}

matrix<double> PoseYawDerivative(double roll, double pitch, double yaw) {
  const double sr = std::sin(roll), cr = std::cos(roll);
  const double sp = std::sin(pitch), cp = std::cos(pitch);
  const double sy = std::sin(yaw), cy = std::cos(yaw);
  matrix<double> d = Zero4();
  SetRows(d, {{-sy * cp, -sy * sp * sr - cy * cr, cy * sr - sy * sp * cr, 0.0},
              {cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr, 0.0},
              {0.0, 0.0, 0.0, 0.0}});
  return d;
}

matrix<double> RotationPart(const matrix<double>& t) {
  matrix<double> r(3, 3);
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      r(i, j) = t(i, j);
    }
  }
  return r;
}

matrix<double> TranslationPart(const matrix<double>& t) {
  matrix<double> v(3);
  v(0, 0) = t(0, 3);
  v(1, 0) = t(1, 3);
  v(2, 0) = t(2, 3);
  return v;
}
