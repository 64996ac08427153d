// The first pass of every algorithm of the engine, from the base to the tip.
#include <cmath>

#include "recursive/chain.h"

namespace recursive {

using spatial::Cross;
using spatial::Mat3;
using spatial::Motion;
using spatial::Vec3;

namespace {

// t = r Rot_k(q) for the rotation Rot_k about axis k by the angle with sine s and cosine c, row
// by row: the columns of r not along k turn into each other.
void TurnAbout(const Mat3& r, int k, double s, double c, Mat3& t) {
  const int i = (k + 1) % 3, j = (k + 2) % 3;
  for (int row = 0; row < 3; ++row) {
    const double ri = r.m[row][i], rj = r.m[row][j];
    t.m[row][k] = r.m[row][k];
    t.m[row][i] = c * ri + s * rj;
    t.m[row][j] = c * rj - s * ri;
  }
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
    if (joint.motion == JointMotion::kTurn) {
      TurnAbout(joint.offset.r, joint.axis, std::sin(q[i]), std::cos(q[i]), x.r);
      x.p = joint.offset.p;
    } else if (joint.motion == JointMotion::kSlide) {
      x.r = joint.offset.r;
      x.p = joint.offset.p + q[i] * spatial::Col(joint.offset.r, joint.axis);
    } else {
      x = joint.offset;
    }
    if (qd == nullptr) {
      continue;
    }
    Motion s;  // S qd
    if (joint.motion == JointMotion::kTurn) {
      spatial::Add(s.w, joint.axis, qd[i]);
    } else if (joint.motion == JointMotion::kSlide) {
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
