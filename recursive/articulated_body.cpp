// Forward dynamics by the articulated-body method, with locked joints (hybrid dynamics): the
// backward pass gathers each subtree into one articulated inertia and bias force, the forward pass
// gives each joint its acceleration from its parent's.
#include "recursive/chain.h"

namespace recursive {

using spatial::Force;
using spatial::Inertia6;
using spatial::Motion;

void ArticulatedBody(const ChainModel& model, ChainData& data, const double* armature, double* tau,
                     const uint8_t* locked, double* qdd) {
  const int n = model.Size();
  // The bias force the subtree below the current link hands to it, in its frame; its inertia is
  // handed over in the link's own ia.
  Force carriedBias;
  for (int i = n - 1; i >= 0; --i) {
    const JointModel& joint = model.joints[i];
    // IA_i = I_i + children's Ia; pA_i = bias_i + children's pa
    Inertia6& ia = data.ia[i];
    if (i + 1 < n) {
      spatial::Sum(joint.body6, ia, ia);
    } else {
      ia = joint.body6;
    }
    Force& pa = data.pa[i];
    pa = i + 1 < n ? data.bias[i] + carriedBias : data.bias[i];

    const bool free = joint.motion != JointMotion::kNone && (locked == nullptr || locked[i] == 0);
    if (free) {
      // U = IA S, D = S^T IA S + armature, u = tau - S^T pA;
      // Ia = IA - U U^T / D, pa = pA + Ia c + U u / D
      const int k = Coordinate(joint);
      const Force u = spatial::Col(ia, k);
      const double d = spatial::Get(u, k) + (armature != nullptr ? armature[i] : 0.0);
      const double uu = tau[i] - spatial::Get(pa, k);
      data.u[i] = u;
      data.d[i] = d;
      data.uu[i] = uu;
      const double inverseD = 1.0 / d;
      const Inertia6 reduced = spatial::Downdate(ia, u, inverseD);
      const double scale = uu * inverseD;
      carriedBias = pa + reduced * data.c[i] + Force{scale * u.n, scale * u.f};
      if (i > 0) {
        spatial::ToParent(data.x[i], reduced, data.ia[i - 1]);
      }
    } else {
      // A locked joint moves with its given acceleration: Ia = IA, pa = pA + IA (c + S qdd)
      Motion c = data.c[i];
      if (joint.motion != JointMotion::kNone) {
        spatial::Add(c, Coordinate(joint), qdd[i]);
      }
      carriedBias = pa + ia * c;
      if (i > 0) {
        spatial::ToParent(data.x[i], ia, data.ia[i - 1]);
      }
    }
    // (Each branch turns its own inertia into the parent's frame, into the parent's ia, where the
    // parent adds its body: no copy of it is made.)
    if (i > 0) {
      carriedBias = spatial::ToParent(data.x[i], carriedBias);
    }
  }

  // The base accelerates upwards by -g, which puts gravity on every link.
  Motion parent{{}, {-data.gravity.x, -data.gravity.y, -data.gravity.z}};
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    // a' = X_i a_parent + c_i
    Motion a = spatial::ToChild(data.x[i], parent) + data.c[i];
    const bool free = joint.motion != JointMotion::kNone && (locked == nullptr || locked[i] == 0);
    if (free) {
      // qdd = (u - U^T a') / D; a = a' + S qdd
      const int k = Coordinate(joint);
      qdd[i] = (data.uu[i] - spatial::Dot(a, data.u[i])) / data.d[i];
      spatial::Add(a, k, qdd[i]);
    } else if (joint.motion != JointMotion::kNone) {
      // tau = S^T (IA a + pA) + armature qdd
      const int k = Coordinate(joint);
      spatial::Add(a, k, qdd[i]);
      tau[i] = spatial::Get(data.ia[i] * a + data.pa[i], k) +
               (armature != nullptr ? armature[i] : 0.0) * qdd[i];
    } else {
      qdd[i] = 0.0;
      tau[i] = 0.0;
    }
    data.a[i] = a;
    parent = a;
  }
}

}  // namespace recursive
