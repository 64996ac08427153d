// The velocity change of an impulse by the articulated-body method, with locked joints: the passes
// of articulated_body.cpp without velocity products and gravity, which solve (M + A) dqd = p.
// (A file of its own, so that each pass keeps the inlining of the spatial algebra to itself.)
#include "recursive/chain.h"

namespace recursive {

using spatial::Force;
using spatial::Inertia6;
using spatial::Motion;

void ArticulatedImpulse(const ChainModel& model, ChainData& data, const double* armature, double* p,
                        const uint8_t* locked, double* dqd) {
  const int n = model.Size();
  // The backward pass without bias forces: pa gathers only the impulses of the free joints and
  // the velocity changes given to the locked ones.
  Force carriedImpulse;  // the subtree's inertia is handed over in the link's own ia
  for (int i = n - 1; i >= 0; --i) {
    const JointModel& joint = model.joints[i];
    Inertia6& ia = data.ia[i];
    Force& pa = data.pa[i];
    pa = Force{};
    if (i + 1 < n) {
      spatial::Sum(joint.body6, ia, ia);
      pa = carriedImpulse;
    } else {
      ia = joint.body6;
    }
    const bool free = joint.motion != JointMotion::kNone && (locked == nullptr || locked[i] == 0);
    if (free) {
      // U = IA S, D = S^T IA S + armature, u = p - S^T pA; Ia = IA - U U^T / D, pa = pA + U u / D
      const int k = Coordinate(joint);
      const Force u = spatial::Col(ia, k);
      const double d = spatial::Get(u, k) + (armature != nullptr ? armature[i] : 0.0);
      const double uu = p[i] - spatial::Get(pa, k);
      data.u[i] = u;
      data.d[i] = d;
      data.uu[i] = uu;
      const double inverseD = 1.0 / d;
      const double scale = uu * inverseD;
      if (i > 0) {
        spatial::ToParent(data.x[i], spatial::Downdate(ia, u, inverseD), data.ia[i - 1]);
      }
      carriedImpulse = pa + Force{scale * u.n, scale * u.f};
    } else {
      // pa = pA + IA S dqd
      Motion change;
      if (joint.motion != JointMotion::kNone) {
        spatial::Add(change, Coordinate(joint), dqd[i]);
      }
      carriedImpulse = pa + ia * change;
      if (i > 0) {
        spatial::ToParent(data.x[i], ia, data.ia[i - 1]);
      }
    }
    if (i > 0) {
      carriedImpulse = spatial::ToParent(data.x[i], carriedImpulse);
    }
  }
  // The forward pass from the base, which does not move.
  Motion parent;
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    Motion a = spatial::ToChild(data.x[i], parent);
    const bool free = joint.motion != JointMotion::kNone && (locked == nullptr || locked[i] == 0);
    if (free) {
      // dqd = (u - U^T a') / D
      dqd[i] = (data.uu[i] - spatial::Dot(a, data.u[i])) / data.d[i];
      spatial::Add(a, Coordinate(joint), dqd[i]);
    } else if (joint.motion != JointMotion::kNone) {
      // p = S^T (IA a + pA) + armature dqd
      const int k = Coordinate(joint);
      spatial::Add(a, k, dqd[i]);
      p[i] = spatial::Get(data.ia[i] * a + data.pa[i], k) +
             (armature != nullptr ? armature[i] * dqd[i] : 0.0);
    } else {
      dqd[i] = 0.0;
      p[i] = 0.0;
    }
    parent = a;
  }
}

}  // namespace recursive
