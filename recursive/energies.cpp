// The kinetic and potential energy of the chain's state.
#include "recursive/chain.h"

namespace recursive {

using spatial::Mat3;
using spatial::Vec3;

Energies ChainEnergies(const ChainModel& model, const ChainData& data) {
  Energies e;
  Mat3 r;  // the link frame's axes and origin in the base frame
  r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0;
  Vec3 p;
  double kinetic = 0.0;
  for (int i = 0; i < model.Size(); ++i) {
    const JointModel& joint = model.joints[i];
    const spatial::Transform& x = data.x[i];
    p = r * x.p + p;
    r = r * x.r;
    // T = sum 1/2 v_i . I_i v_i; V = -sum m_i g . (o_i + R_i c_i)
    kinetic = kinetic + spatial::Dot(data.v[i], joint.body * data.v[i]);
    e.potential = e.potential - joint.body.m * spatial::Dot(data.gravity, p + r * joint.com);
  }
  e.kinetic = 0.5 * kinetic;
  return e;
}

}  // namespace recursive
