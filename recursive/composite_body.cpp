// The mass matrix by composite rigid bodies: each link and everything beyond it as one rigid body.
// Everything is kept in the base frame's axes about its origin, so that the inner loop of the
// matrix is a plain dot product of 6-vectors, with no transform.
#include <cstddef>

#include "recursive/chain.h"
#include "recursive/frames.h"

namespace recursive {

using spatial::RigidInertia;
using spatial::Transform;
using spatial::Vec3;

void CompositeBody(const ChainModel& model, ChainData& data, double* mass) {
  const int n = model.Size();
  const auto stride = static_cast<std::size_t>(n);
  double* const axes = data.axes.data();
  double* const s[6] = {axes,
                        axes + stride,
                        axes + 2 * stride,
                        axes + 3 * stride,
                        axes + 4 * stride,
                        axes + 5 * stride};
  // oX_i = oX_{i-1} X_i; Y_i, the body's inertia about the base origin; S_i, the joint's motion
  // in the base frame: (a, p x a) turning about the axis a through p, (0, a) sliding along it.
  Placements(model, data, nullptr);
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    const Transform& placed = data.placement[i];
    // Y_i about the base origin, from its centre of mass c there:
    // (m, m c, R Ic R^T + m (|c|^2 E - c c^T)).
    const Vec3 c = placed.r * joint.com + placed.p;
    const double m = joint.body.m;
    const Vec3 h = m * c;
    const spatial::Sym3 turned = spatial::Rotate(placed.r, joint.inertiaAtCom);
    const double xx = h.x * c.x, yy = h.y * c.y, zz = h.z * c.z;
    data.composite[i] = {m,
                         h,
                         {turned.xx + (yy + zz), turned.yy + (xx + zz), turned.zz + (xx + yy),
                          turned.xy - h.x * c.y, turned.xz - h.x * c.z, turned.yz - h.y * c.z}};
    const int k = joint.axis;
    const Vec3 a{placed.r.m[0][k], placed.r.m[1][k], placed.r.m[2][k]};
    if (joint.motion == JointMotion::kTurn) {
      const Vec3 v = spatial::Cross(placed.p, a);
      s[0][i] = a.x;
      s[1][i] = a.y;
      s[2][i] = a.z;
      s[3][i] = v.x;
      s[4][i] = v.y;
      s[5][i] = v.z;
    } else {
      const double slide = joint.motion == JointMotion::kSlide ? 1.0 : 0.0;
      s[0][i] = s[1][i] = s[2][i] = 0.0;
      s[3][i] = slide * a.x;
      s[4][i] = slide * a.y;
      s[5][i] = slide * a.z;
    }
  }
  // From the tip: Ic_i = Y_i + Ic_{i+1}; F_i = Ic_i S_i; M_ij = M_ji = S_j . F_i for j <= i.
  for (int i = n - 1; i >= 0; --i) {
    RigidInertia& ic = data.composite[i];
    if (i + 1 < n) {
      spatial::AddTo(ic, data.composite[i + 1]);
    }
    // (n, f) = (I w + h x v, m v - h x w)
    const Vec3 w{s[0][i], s[1][i], s[2][i]}, v{s[3][i], s[4][i], s[5][i]};
    const Vec3 moment = ic.i * w + spatial::Cross(ic.h, v);
    const Vec3 force = ic.m * v - spatial::Cross(ic.h, w);
    const double f0 = moment.x, f1 = moment.y, f2 = moment.z, f3 = force.x, f4 = force.y,
                 f5 = force.z;
    double* __restrict const row = mass + stride * i;
    const double* __restrict const s0 = s[0];
    const double* __restrict const s1 = s[1];
    const double* __restrict const s2 = s[2];
    const double* __restrict const s3 = s[3];
    const double* __restrict const s4 = s[4];
    const double* __restrict const s5 = s[5];
    for (int j = 0; j <= i; ++j) {
      row[j] = s0[j] * f0 + s1[j] * f1 + s2[j] * f2 + s3[j] * f3 + s4[j] * f4 + s5[j] * f5;
    }
    for (int j = 0; j < i; ++j) {
      mass[stride * j + i] = row[j];
    }
  }
}

}  // namespace recursive
