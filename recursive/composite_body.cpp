// The mass matrix by composite rigid bodies: each link and everything beyond it as one rigid body.
#include <cstddef>

#include "recursive/chain.h"

namespace recursive {

using spatial::Force;
using spatial::Inertia6;

void CompositeBody(const ChainModel& model, ChainData& data, double* mass) {
  const int n = model.Size();
  const auto at = [n](int r, int c) { return static_cast<std::size_t>(n) * r + c; };
  // Ic_i = I_i + X_{i+1}^T Ic_{i+1} X_{i+1}: everything from link i to the tip as one body
  Inertia6 carried;
  for (int i = n - 1; i >= 0; --i) {
    Inertia6& ic = data.ia[i];
    ic = model.joints[i].body6;
    if (i + 1 < n) {
      spatial::AddTo(ic, carried);
    }
    if (i > 0) {
      carried = spatial::ToParent(data.x[i], ic);
    }
  }
  // M_ij = S_j^T (X_{j <- i})^T Ic_i S_i for j <= i: the force that moving joint i alone takes,
  // carried down to joint j
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    if (joint.motion == JointMotion::kNone) {
      for (int j = 0; j < n; ++j) {
        mass[at(i, j)] = mass[at(j, i)] = 0.0;
      }
      continue;
    }
    Force f = spatial::Col(data.ia[i], Coordinate(joint));
    mass[at(i, i)] = spatial::Get(f, Coordinate(joint));
    for (int j = i - 1; j >= 0; --j) {
      f = spatial::ToParent(data.x[j + 1], f);
      const JointModel& lower = model.joints[j];
      const double m =
          lower.motion != JointMotion::kNone ? spatial::Get(f, Coordinate(lower)) : 0.0;
      mass[at(i, j)] = mass[at(j, i)] = m;
    }
  }
}

}  // namespace recursive
