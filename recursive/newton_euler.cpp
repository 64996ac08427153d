// Inverse dynamics by recursive Newton-Euler: the forward pass gives every link its acceleration
// and the force its motion takes, the backward pass gathers the forces onto the joints.
#include "recursive/chain.h"

namespace recursive {

using spatial::Force;
using spatial::Motion;

void NewtonEuler(const ChainModel& model, ChainData& data, const double* qdd, double* tau) {
  const int n = model.Size();
  // a_i = X_i a_parent + c_i + S qdd_i, from the base's -g; f_i = I_i a_i + bias_i
  Motion parent{{}, {-data.gravity.x, -data.gravity.y, -data.gravity.z}};
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    Motion a = spatial::ToChild(data.x[i], parent) + data.c[i];
    if (joint.motion != JointMotion::kNone) {
      spatial::Add(a, Coordinate(joint), qdd[i]);
    }
    data.a[i] = a;
    data.f[i] = joint.body * a + data.bias[i];
    parent = a;
  }
  // f_parent += X_i^T f_i; tau_i = S^T f_i
  Force carried;
  for (int i = n - 1; i >= 0; --i) {
    const JointModel& joint = model.joints[i];
    Force& f = data.f[i];
    if (i + 1 < n) {
      f = f + carried;
    }
    tau[i] = joint.motion != JointMotion::kNone ? spatial::Get(f, Coordinate(joint)) : 0.0;
    if (i > 0) {
      carried = spatial::ToParent(data.x[i], f);
    }
  }
}

}  // namespace recursive
