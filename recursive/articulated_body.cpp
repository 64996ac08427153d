// Forward dynamics by the articulated-body method, with locked joints (hybrid dynamics): the
// backward pass gathers each subtree into one articulated inertia and bias force, the forward pass
// gives each joint its acceleration from its parent's. The same passes without velocity products
// and gravity solve M dqd = p for an impulse.
#include "recursive/chain.h"

namespace recursive {

using spatial::Force;
using spatial::Inertia6;
using spatial::Motion;

namespace {

// kDynamics: (M + armature E) qdd = tau - C qd - G. Otherwise M qdd = tau, the velocity products,
// gravity and the armature left out: the same passes on the same inertias, for impulses.
template <bool kDynamics>
void Passes(const ChainModel& model, ChainData& data, const double* armature, double* tau,
            const uint8_t* locked, double* qdd) {
  const int n = model.Size();
  // What the subtree below the current link hands to it, in its frame.
  Inertia6 carriedInertia;
  Force carriedBias;
  for (int i = n - 1; i >= 0; --i) {
    const JointModel& joint = model.joints[i];
    // IA_i = I_i + children's Ia; pA_i = bias_i + children's pa
    Inertia6& ia = data.ia[i];
    ia = joint.body6;
    if (i + 1 < n) {
      spatial::AddTo(ia, carriedInertia);
    }
    Force& pa = data.pa[i];
    if constexpr (kDynamics) {
      pa = i + 1 < n ? data.bias[i] + carriedBias : data.bias[i];
    } else {
      pa = i + 1 < n ? carriedBias : Force{};
    }
    // The armature of joint i: 0.0 when there is none (added all the same, as to every joint).
    const double added = kDynamics && armature != nullptr ? armature[i] : 0.0;

    const bool free = joint.motion != JointMotion::kNone && (locked == nullptr || locked[i] == 0);
    if (free) {
      // U = IA S, D = S^T IA S + armature, u = tau - S^T pA;
      // Ia = IA - U U^T / D, pa = pA + Ia c + U u / D
      const int k = Coordinate(joint);
      const Force u = spatial::Col(ia, k);
      const double d = kDynamics ? spatial::Get(u, k) + added : spatial::Get(u, k);
      const double uu = tau[i] - spatial::Get(pa, k);
      data.u[i] = u;
      data.d[i] = d;
      data.uu[i] = uu;
      const double inverseD = 1.0 / d;
      const Inertia6 reduced = spatial::Downdate(ia, u, inverseD);
      const double scale = uu * inverseD;
      if constexpr (kDynamics) {
        carriedBias = pa + reduced * data.c[i] + Force{scale * u.n, scale * u.f};
      } else {
        carriedBias = pa + Force{scale * u.n, scale * u.f};
      }
      carriedInertia = reduced;
    } else {
      // A locked joint moves with its given acceleration: Ia = IA, pa = pA + IA (c + S qdd)
      Motion c = kDynamics ? data.c[i] : Motion{};
      if (joint.motion != JointMotion::kNone) {
        spatial::Add(c, Coordinate(joint), qdd[i]);
      }
      carriedBias = pa + ia * c;
      carriedInertia = ia;
    }
    if (i > 0) {
      carriedInertia = spatial::ToParent(data.x[i], carriedInertia);
      carriedBias = spatial::ToParent(data.x[i], carriedBias);
    }
  }

  // The base accelerates upwards by -g, which puts gravity on every link.
  Motion parent =
      kDynamics ? Motion{{}, {-data.gravity.x, -data.gravity.y, -data.gravity.z}} : Motion{};
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    // a' = X_i a_parent + c_i
    Motion a = kDynamics ? spatial::ToChild(data.x[i], parent) + data.c[i]
                         : spatial::ToChild(data.x[i], parent);
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
      const double force = spatial::Get(data.ia[i] * a + data.pa[i], k);
      if constexpr (kDynamics) {
        tau[i] = force + (armature != nullptr ? armature[i] : 0.0) * qdd[i];
      } else {
        tau[i] = force;
      }
    } else {
      qdd[i] = 0.0;
      tau[i] = 0.0;
    }
    data.a[i] = a;
    parent = a;
  }
}

}  // namespace

void ArticulatedBody(const ChainModel& model, ChainData& data, const double* armature, double* tau,
                     const uint8_t* locked, double* qdd) {
  Passes<true>(model, data, armature, tau, locked, qdd);
}

void ArticulatedImpulse(const ChainModel& model, ChainData& data, double* p, const uint8_t* locked,
                        double* dqd) {
  Passes<false>(model, data, nullptr, p, locked, dqd);
}

}  // namespace recursive
