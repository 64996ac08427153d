// The first pass of every algorithm of the engine, from the base to the tip.
#include <cmath>

#include "recursive/chain.h"

namespace recursive {

using spatial::Cross;
using spatial::Mat3;
using spatial::Motion;
using spatial::Vec3;

namespace {

// r Rot_k(q) for the rotation Rot_k about axis k by the angle with sine s and cosine c, column by
// column: the columns of r not along k turn into each other.
Mat3 TurnAbout(const Mat3& r, int k, double s, double c) {
  const int i = (k + 1) % 3, j = (k + 2) % 3;
  const Vec3 ri = spatial::Col(r, i), rj = spatial::Col(r, j);
  Mat3 t = r;
  spatial::SetCol(t, i, c * ri + s * rj);
  spatial::SetCol(t, j, c * rj - s * ri);
  return t;
}

}  // namespace

void Kinematics(const ChainModel& model, ChainData& data, const double* q, const double* qd,
                const Vec3& g, bool dynamics) {
  const int n = model.Size();
  data.gravity = g;
  Motion parent;  // the base is at rest
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    spatial::Transform& x = data.x[i];
    // x = offset J(q_i): J turns about, or slides along, the joint's axis.
    x = joint.offset;
    Motion s;  // S qd
    if (joint.motion == JointMotion::kTurn) {
      x.r = TurnAbout(joint.offset.r, joint.axis, std::sin(q[i]), std::cos(q[i]));
      spatial::Add(s.w, joint.axis, qd[i]);
    } else if (joint.motion == JointMotion::kSlide) {
      x.p = x.p + q[i] * spatial::Col(joint.offset.r, joint.axis);
      spatial::Add(s.v, joint.axis, qd[i]);
    }
    // v_i = X_i v_parent + S qd; c_i = v_i x S qd; bias_i = v_i x* I_i v_i
    Motion& v = data.v[i];
    v = spatial::ToChild(x, parent) + s;
    if (dynamics) {
      data.c[i] = spatial::CrossMotion(v, s);
      data.bias[i] = spatial::CrossForce(v, joint.body * v);
    }
    parent = v;
  }
}

}  // namespace recursive
