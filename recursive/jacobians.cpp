// Frame Jacobians and J-dot qd, from the placements of the links.
#include "recursive/frames.h"

namespace recursive {

using spatial::Cross;
using spatial::Motion;
using spatial::Transform;
using spatial::Vec3;

namespace {

// Writes the linear part v and the angular part w into entry (rows 0..5, column c) of a 6 x n
// matrix, turned into the frame's axes (by r^T) when asked.
void Put(double* out, int n, int c, Vec3 v, Vec3 w, const spatial::Mat3& r, FrameAxes axes) {
  if (axes == FrameAxes::kFrame) {
    v = spatial::MulTransposed(r, v);
    w = spatial::MulTransposed(r, w);
  }
  const double values[6] = {v.x, v.y, v.z, w.x, w.y, w.z};
  for (int k = 0; k < 6; ++k) {
    out[k * n + c] = values[k];
  }
}

}  // namespace

void FrameJacobian(const ChainModel& model, const ChainData& data, const FrameModel& frame,
                   FrameAxes axes, double* jacobian) {
  const int n = model.Size();
  const Transform pose = FramePose(data, frame);
  // Column j: (a_j x (p - o_j), a_j) for a joint turning about the axis a_j through o_j, (a_j, 0)
  // for one sliding along it; zero beyond the frame's link.
  for (int j = 0; j < n; ++j) {
    const JointModel& joint = model.joints[j];
    Vec3 v, w;
    if (j <= frame.link && joint.motion != JointMotion::kNone) {
      const Transform& o = data.placement[j];
      const Vec3 a = spatial::Col(o.r, joint.axis);
      if (joint.motion == JointMotion::kTurn) {
        v = Cross(a, pose.p - o.p);
        w = a;
      } else {
        v = a;
      }
    }
    Put(jacobian, n, j, v, w, pose.r, axes);
  }
}

void FrameDriftAcceleration(const ChainData& data, const FrameModel& frame, FrameAxes axes,
                            double* acceleration) {
  if (frame.link < 0) {
    for (int k = 0; k < 6; ++k) {
      acceleration[k] = 0.0;
    }
    return;
  }
  // In the link's axes, with the link's velocity (w, v) and acceleration (dw, dv) at its origin
  // and r the frame's origin: the classical acceleration dv + dw x r + w x (v + w x r).
  const Motion& vel = data.v[frame.link];
  const Motion& acc = data.a[frame.link];
  const Vec3& r = frame.pose.p;
  const Vec3 linear = acc.v + Cross(acc.w, r) + Cross(vel.w, vel.v + Cross(vel.w, r));
  const spatial::Mat3& turn = axes == FrameAxes::kBase
                                  ? data.placement[frame.link].r
                                  : frame.pose.r;  // read transposed below for the frame's axes
  const Vec3 v = axes == FrameAxes::kBase ? turn * linear : spatial::MulTransposed(turn, linear);
  const Vec3 w = axes == FrameAxes::kBase ? turn * acc.w : spatial::MulTransposed(turn, acc.w);
  const double values[6] = {v.x, v.y, v.z, w.x, w.y, w.z};
  for (int k = 0; k < 6; ++k) {
    acceleration[k] = values[k];
  }
}

}  // namespace recursive
