// The kinetic and potential energy of the chain's state.
#include "recursive/chain.h"

namespace recursive {

using spatial::Vec3;

Energies ChainEnergies(const ChainModel& model, const ChainData& data) {
  // With g_i, gravity in link i's axes (g_i = r_i^T g_i-1), and o_i its origin in the base frame:
  // V = -sum m_i g . (o_i + R_i c_i) = -sum m_i (g . o_i + g_i . c_i), where
  // g . o_i = g . o_i-1 + g_i-1 . p_i.
  Energies e;
  Vec3 g = data.gravity;
  double height = 0.0;  // g . o_i
  double kinetic = 0.0;
  for (int i = 0; i < model.Size(); ++i) {
    const JointModel& joint = model.joints[i];
    const spatial::Transform& x = data.x[i];
    height = height + spatial::Dot(g, x.p);
    g = spatial::MulTransposed(x.r, g);
    // T = sum 1/2 v_i . I_i v_i
    kinetic = kinetic + spatial::Dot(data.v[i], joint.body * data.v[i]);
    e.potential = e.potential - joint.body.m * (height + spatial::Dot(g, joint.com));
  }
  e.kinetic = 0.5 * kinetic;
  return e;
}

}  // namespace recursive
