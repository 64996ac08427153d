// A controller of the arm's joints: one of the laws of control_settings.h on the controller's own
// model of the arm (control_model.h), following a reference (trajectory.h) that starts from the
// pose the arm is in when the controller is set, its target or trajectory changes, or the arm is
// put in a pose from outside the ticks (RestartReference). The Stepper asks it for torques at its
// sample instants, or at every state of the step (simulation/tick_torque.h), and moves its clock
// on by each tick it completes.
//
// Only the Stepper's thread may use it. Everything it computes is deterministic: the same ticks
// from the same reference start give the same torques, which a recording's replay relies on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "control/control_model.h"
#include "control/control_settings.h"
#include "control/trajectory.h"
#include "recursive/spatial.h"
#include "robot/robot.h"

// What the controller takes from the tick: the arm's gravity and the viscous and Coulomb friction
// coefficients its joints take (n values each).
struct ControlEnvironment {
  spatial::Vec3 gravity;
  const double* viscous = nullptr;
  const double* coulomb = nullptr;
};

// Where a reference started and how far it has run: what a recording keeps of it.
struct ReferenceStart {
  std::vector<double> from;  // the joint positions it started at
  uint64_t ticks = 0;        // the ticks it has run since
};

class Controller {
 public:
  // A controller of robot's arm (its joints, frames and masses as they are now).
  Controller(const Robot& robot, ControllerSettings settings);

  const ControllerSettings& Settings() const { return settings_; }
  // Takes effect from the next evaluation; the reference starts afresh at the next tick when the
  // change calls for it (RestartsReference).
  void SetSettings(ControllerSettings settings);
  // The reference starts afresh at the next tick, from the pose the arm is in then.
  void RestartReference();
  // The reference's start, none while it waits for the next tick (or for a law without one); and a
  // start to go on from (a recording's replay).
  std::optional<ReferenceStart> Start() const;
  void SetStart(const ReferenceStart& start);

  // Whether it applies torques (every law but torque); its samples per tick (0: continuous);
  // whether its torques change in time at a fixed state (a reference that still moves).
  bool Acts() const { return settings_.kind != ControllerKind::kTorque; }
  int Samples() const { return settings_.samples; }
  bool Timed() const;
  // The viscous coefficients b^ (n values) of the friction its law compensates, tau += b^ qd, so
  // that the step can take that part of its torque together with the arm's own viscous friction,
  // which it cancels; null when it compensates none.
  const double* CompensatedViscous() const;

  // Before a forward tick that starts at the joint positions q: a reference waiting to start
  // starts there. The environment holds for the tick.
  void BeginTick(const double* q, const ControlEnvironment& environment);
  // After a tick that was not given up: the reference's clock moves on by it.
  void EndTick();

  // The law's torques at time s into the tick and the state (q, qd): n values into tau. motion,
  // when given, is each joint's direction of motion in the step being taken (+1, -1, 0 at rest):
  // the friction model takes it for the sign of qd, so that the law is smooth where the step's
  // friction modes are (null: the signs of qd).
  void Torque(double s, const double* q, const double* qd, double* tau,
              const int8_t* motion = nullptr);

  // The reference's size: the joints' count n, 3 for task-pd, 0 for the laws without one.
  int ReferenceSize() const;
  // The reference q* (x* for task-pd) at time s into the tick, and the error q* - q (x* - x) at the
  // joint positions q; ReferenceSize() values each. Zeros before the reference starts.
  void Tracking(double s, const double* q, double* reference, double* error);

  // The gains in use (after BeginTick), square matrices row-major: Kp and Kd n x n (task-pd: Kx and
  // Dx, 3 x 3), Kn n x n.
  const std::vector<double>& Kp() const { return kp_; }
  const std::vector<double>& Kd() const { return kd_; }
  const std::vector<double>& Kn() const { return kn_; }
  // The frame task-pd moves (an index into the model's frames), and the model.
  int Frame() const { return frame_; }
  ControlModel& Model() { return *model_; }

 private:
  // The target, trajectory and gains from the settings and the reference's start.
  void Resolve();
  double Time(double s) const;
  // The laws, each in a file of its own.
  void GravityLaw(const double* q, double* tau);
  void PdLaw(double t, const double* q, const double* qd, double* tau);
  void ComputedTorqueLaw(double t, const double* q, const double* qd, double* tau,
                         const int8_t* motion);
  // Kp (q* - q) + Kd (qd* - qd) in joint space, with the reference in q_ and qd_.
  void Feedback(const double* q, const double* qd, double* out);
  void TaskPdLaw(double t, const double* q, const double* qd, double* tau);

  ControllerSettings settings_;
  std::unique_ptr<ControlModel> model_;
  double modelMassError_ = 0.0;
  int n_;
  bool pending_ = true;  // the reference starts at the next tick
  ReferenceStart start_;
  ControlEnvironment environment_;
  spatial::Vec3 gravity_;
  int frame_ = -1;
  ReferenceTrajectory reference_;
  std::vector<double> kp_, kd_, kn_;
  // Working values: the reference, the law's accelerations, gravity torques, frame values.
  std::vector<double> q_, qd_, qdd_, v_, g_, jacobian_;
  std::unique_ptr<Robot> robot_;  // the arm as it was made, for a model of another mass error
};
