// Forces from outside the joints: forces and wrenches held on the arm's frames, and the pull of the
// mouse's spring. They act on the joints through the Jacobian of the point they act at,
//
//   tau_ext = J_p(q)^T F + J_w(q)^T N,
//
// J_p the Jacobian of the point's velocity and J_w that of its link's angular velocity: a joint
// turning about the axis a through o takes a . ((p - o) x F + N), one sliding along a takes a . F,
// a joint that does not carry the point nothing. ForceSource hands them to the Stepper as a torque
// source (tick_torque.h): every state the step evaluates gets them at its own q (and the pull at
// its qd), and the energy balance's W counts their work. A force on the base, which never moves,
// does nothing.
//
// The pull is a spring-damper from a point of a link to a target point held for the tick (the
// cursor's, in the window): F = k (target - p) - c p', p' = J_p qd the point's velocity, of at most
// the pull's largest force (a hand that lifts the arm but does not fling it). A step of
// fixed length h integrates it explicitly, which holds only while k and c stay below what the arm's
// inertia at the point allows: each tick takes k and c at most
//
//   k <= kPullStepStiffness / (tr(L) h^2),   c <= kPullStepDamping / (tr(L) h),
//
// L = J_p M^-1 J_p^T the point's inverse inertia at the tick's start (its trace bounds the point's
// fastest mode: omega^2 <= k tr(L)), so that omega h <= 1/2 and c tr(L) h <= 1/2: the pull never
// makes the step diverge, and softens only where it would (a light point far out on a heavy arm, a
// stiff spring on a coarse step). The error-controlled step takes k and c as they are.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recursive/chain.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/tick_torque.h"

class Stepper;

// The axes a force is given in: the world's (the base frame's), or the frame's own, turning with
// it.
enum class ForceAxes : uint8_t { kWorld, kFrame };

// A force and a moment held on a frame of the arm (a wrench whose force acts at `point`).
struct ExternalForce {
  std::string frame;                   // its name among recursive::BuildFrameModels(robot)
  double force[3] = {0.0, 0.0, 0.0};   // N
  double moment[3] = {0.0, 0.0, 0.0};  // N m
  double point[3] = {0.0, 0.0, 0.0};   // in the frame's coordinates, m
  ForceAxes axes = ForceAxes::kWorld;

  bool operator==(const ExternalForce&) const = default;
};

// The mouse's spring on point `point` of link `link` (in the link's frame, after its joint).
struct Pull {
  int link = 0;
  double point[3] = {0.0, 0.0, 0.0};
  double target[3] = {0.0, 0.0, 0.0};  // world, m
  double stiffness = 0.0;              // k, N/m
  double damping = 0.0;                // c, N s/m
  double maxForce = INFINITY;          // |F| at most, N

  bool operator==(const Pull&) const = default;
};

// Everything that pushes the arm besides its joints' torques, as the user set it for a tick.
struct ArmForces {
  std::vector<ExternalForce> forces;
  std::optional<Pull> pull;

  bool Empty() const { return forces.empty() && !pull; }
  bool operator==(const ArmForces&) const = default;
};

// The pull's stiffness, damping and largest force for an arm of the given mass at the wheel's
// `scale` (1: the default): k = kPullStiffness m s, c = kPullDamping m sqrt(s), |F| <= kPullForce
// m, so that arms of any mass answer a pull alike.
inline constexpr double kPullStiffness = 100.0;  // N/m per kg: 10 rad/s on the whole arm's mass
inline constexpr double kPullDamping = 5.0;      // N s/m per kg
inline constexpr double kPullForce = 20.0;       // N per kg: twice the arm's weight
inline constexpr double kPullStepStiffness = 0.25;
inline constexpr double kPullStepDamping = 0.5;
void PullGains(double armMass, double scale, Pull& pull);
// The arm's mass: its links' masses summed.
double ArmMass(const Robot& robot);

// The joint torques of forces on an arm: resolves the frames once, then evaluates at any q.
class ExternalTorques {
 public:
  explicit ExternalTorques(const Robot& robot);

  // Takes these forces and pull from now on: "" or the problem (an unknown frame, the pull's link
  // out of range, a value that is not finite), which leaves them as they were.
  std::string Set(const ArmForces& forces);
  const ArmForces& Forces() const { return forces_; }
  bool Acts() const { return !forces_.Empty(); }

  // At the start of a tick from the positions q, with the step's longest fixed step (0: none): the
  // pull's stiffness and damping for the tick, those of the pull or less (see above).
  void BeginTick(const double* q, double step);
  // The pull's stiffness and damping that act (Set takes the pull's own).
  double PullStiffness() const { return stiffness_; }
  double PullDamping() const { return damping_; }

  // Adds tau_ext at the state (q, qd) to tau (n values each); qd is read for the pull's damping
  // only and may be null without a pull.
  void Add(const double* q, const double* qd, double* tau);

  // The pull's point in world coordinates and its force F at the state (q, qd); false without a
  // pull.
  bool PullAt(const double* q, const double* qd, double point[3], double force[3]);

  int Joints() const { return model_.Size(); }
  const std::vector<recursive::FrameModel>& Frames() const { return frames_; }

 private:
  // A force resolved: its link (-1: the base), where it acts in the link's frame, and the turn of
  // its axes into the link's (null rotation for world axes).
  struct Resolved {
    int link = -1;
    spatial::Vec3 at;
    spatial::Vec3 force, moment;
    bool frameAxes = false;
    spatial::Mat3 turn;  // the frame's axes in the link's
  };

  // Places the links at q.
  void Place(const double* q);
  // Adds J_p^T F + J_w^T N for the force f and moment m (world axes) at the world point p of link.
  void AddAt(int link, const spatial::Vec3& p, const spatial::Vec3& f, const spatial::Vec3& m,
             double* tau) const;
  // The world point of pull's point, and its velocity from qd.
  spatial::Vec3 PullPoint() const;
  // The pull's force at its point p (world) from the velocities qd.
  spatial::Vec3 PullForce(const spatial::Vec3& p, const double* qd) const;
  spatial::Vec3 PointVelocity(int link, const spatial::Vec3& p, const double* qd) const;

  recursive::ChainModel model_;
  recursive::ChainData data_;
  std::vector<recursive::FrameModel> frames_;
  // The pull's Jacobian J_p (3 x n, row-major) at the placements, into jacobian_.
  void PullJacobian(const spatial::Vec3& p);

  ArmForces forces_;
  std::vector<Resolved> resolved_;
  double stiffness_ = 0.0, damping_ = 0.0;  // the pull's, for the tick
  std::vector<double> jacobian_, impulse_, change_;
};

// The forces as a torque source of the Stepper's forward ticks.
class ForceSource : public TorqueSource {
 public:
  explicit ForceSource(const Robot& robot) : torques_(robot) {}

  // As ExternalTorques::Set.
  std::string Set(const ArmForces& forces) { return torques_.Set(forces); }
  const ArmForces& Forces() const { return torques_.Forces(); }

  // Puts the source on the stepper's forward ticks from the next on while forces act, and takes it
  // off while none do, so that a tick without forces is what it always was, bit for bit. Called
  // before each tick, with any stepper of the arm (a new one too).
  void ApplyTo(Stepper& stepper);

  void AddTorque(double t, const double* q, const double* qd, double* tau) override;
  void BeginTick(double time, const double* q, const double* qd, double step) override;

  ExternalTorques& Torques() { return torques_; }

 private:
  ExternalTorques torques_;
};
