// The recursive engine: the equation of motion M(q) qdd + C(q, qd) qd + G(q) = tau of a Robot's
// chain computed link by link, in O(n), from the same links the closed form reads. A ChainModel
// holds what never changes (offsets, joint kinds, body inertias); a ChainData holds the working
// values of one state, sized once, so that no pass allocates. Every pass runs in a fixed order, so
// a state gives the same bits on every run.
//
// Link frames follow the arm's convention: link i's frame is its incoming frame (link i-1's frame
// carried by its offset pose, the base pose for link 0) turned or moved by its joint; mass, centre
// of mass and inertia are given in the link frame. Spatial vectors of link i are in link i's
// frame; gravity enters as an upward acceleration of the base (the base accelerates by -g).
//
// Friction is not part of these passes: the integrators add it (explicitly or implicitly).
#pragma once

#include <cstdint>
#include <vector>

#include "recursive/spatial.h"
#include "robot/robot.h"

namespace recursive {

// How a joint moves its link: turns about, or slides along, one axis of its incoming frame.
// kNone stands for a link whose joint cannot move (a fixed joint, or an axis code other than x, y,
// z): its coordinate never accelerates and takes no force.
enum class JointMotion : uint8_t { kNone, kTurn, kSlide };

struct JointModel {
  JointMotion motion = JointMotion::kNone;
  int axis = 0;  // 0, 1, 2: x, y, z of the incoming frame
  // The incoming frame in the parent link's frame (in the base frame for link 0).
  spatial::Transform offset;
  spatial::RigidInertia body;  // about the link frame's origin
  spatial::Inertia6 body6;     // the same as a 6 x 6 inertia
  spatial::Vec3 com;           // centre of mass in the link frame
  spatial::Sym3 inertiaAtCom;  // the rotational inertia about the centre of mass, link axes
};

// How the joint of a link moves: kNone unless it turns or slides along the x, y or z axis.
JointMotion MotionOf(const Link& link);

// The component of a spatial vector a joint moves along: its axis among the angular components
// (0..2) when it turns, among the linear ones (3..5) when it slides.
inline int Coordinate(const JointModel& joint) {
  return joint.motion == JointMotion::kSlide ? 3 + joint.axis : joint.axis;
}

struct ChainModel {
  std::vector<JointModel> joints;
  int Size() const { return static_cast<int>(joints.size()); }
};

// The chain of robot's links as they are now; a change of their masses, offsets or joints needs a
// new model (their joint state, friction and gravity do not).
ChainModel BuildChainModel(const Robot& robot);

// The working values of one state, per link.
struct ChainData {
  explicit ChainData(int n = 0) { Resize(n); }
  void Resize(int n);

  spatial::Vec3 gravity;
  std::vector<spatial::Transform> x;  // link frame in the parent frame
  std::vector<spatial::Motion> v;     // link velocity
  std::vector<spatial::Motion> c;     // velocity-product acceleration v x (S qd)
  std::vector<spatial::Force> bias;   // v x* I v: the body's velocity-product force
  std::vector<spatial::Inertia6> ia;  // articulated (or composite) inertia
  std::vector<spatial::Force> pa;     // articulated bias force
  std::vector<spatial::Force> u;      // ia S
  std::vector<double> d;              // S^T ia S + armature
  std::vector<double> uu;             // tau - S^T pa
  std::vector<spatial::Motion> a;     // link acceleration
  std::vector<spatial::Force> f;      // force through the joint
  // The composite-body pass's values, in the base frame's axes about its origin: each link frame
  // placed in the base frame, the composite inertia of the link and everything beyond it, and the
  // joints' motion axes as six rows of n (angular x, y, z, linear x, y, z), zero for a joint that
  // cannot move.
  std::vector<spatial::Transform> placement;
  std::vector<spatial::RigidInertia> composite;
  std::vector<double> axes;
};

// Pass from the base to the tip for the state (q, qd) under gravity g: every link's transform,
// velocity, and unless dynamics is false (for the energies alone), its velocity-product
// acceleration and force. The other passes work on this state. With qd null the pass places the
// links only (their transforms), which is all the mass matrix and the frames' poses need.
void Kinematics(const ChainModel& model, ChainData& data, const double* q, const double* qd,
                const spatial::Vec3& g, bool dynamics = true);

// Forward dynamics by the articulated-body method on the state of the last Kinematics:
// (M + A) qdd = tau - C qd - G for every free joint, A the diagonal of the joints' armatures
// armature[i] (null: none). A joint with locked[i] set moves with the acceleration qdd[i] it is
// given instead (a joint that cannot move, with 0), and tau[i] receives the generalized force it
// takes: (M qdd + C qd + G)_i + armature[i] qdd[i]. locked may be null (no joint locked). One
// pass from the tip to the base, one back.
void ArticulatedBody(const ChainModel& model, ChainData& data, const double* armature, double* tau,
                     const uint8_t* locked, double* qdd);

// The velocity change of an impulse, by the same passes on the positions of the last Kinematics:
// (M + A) dqd = p for the free joints, given their impulses p[i], A the diagonal of armature[i]
// (null: none); a locked joint changes its velocity by the dqd[i] it is given, and p[i] receives
// the impulse that takes, (M dqd)_i + armature[i] dqd[i]. Without velocity products and gravity,
// the same passes solve any linear system in M + A.
void ArticulatedImpulse(const ChainModel& model, ChainData& data, const double* armature, double* p,
                        const uint8_t* locked, double* dqd);

// Inverse dynamics by recursive Newton-Euler on the state of the last Kinematics:
// tau = M qdd + C qd + G. One pass from the base to the tip, one back.
void NewtonEuler(const ChainModel& model, ChainData& data, const double* qdd, double* tau);

// The mass matrix by composite rigid bodies, n x n row-major, for the q of the last Kinematics:
// M_ij = S_j . (Ic_i S_i) for j <= i, with the composite inertias Ic and the joint axes S in the
// base frame, so that each entry is one dot product of 6-vectors.
void CompositeBody(const ChainModel& model, ChainData& data, double* mass);

struct Energies {
  double kinetic = 0.0;
  double potential = 0.0;
};

// 1/2 sum v_i . I_i v_i and -sum m_i g . p_i (p_i the centre of mass in the base frame) for the
// state of the last Kinematics: the energies the closed form gives for the same state.
Energies ChainEnergies(const ChainModel& model, const ChainData& data);

}  // namespace recursive
