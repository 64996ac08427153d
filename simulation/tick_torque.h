// The torques a forward tick applies, at any state of its step. The mode equation asks for them at
// every state it evaluates (ModeEquation::SetTorqueAt), the implicit and the closed form's Euler
// steps once per substep:
//
//   tau(t, q, qd) = sat(tau_typed + tau_control) + sum_k tau_k(t, q, qd)
//
// tau_typed: the torques of "Set Torque" (constant over the tick). tau_control: the controller's
// (control/controller.h), held from one sample instant to the next, or at the continuous rate its
// law at (t, q, qd) itself. sat: each joint's torque cut at its effort while the arm's effort
// limits are on; it applies to the motors' torques alone. tau_k: the torques of the sources added
// with Stepper::AddTorqueSource, at (t, q, qd). t is the time within the tick (0 to 0.01 s). The
// energy balance's W integrates tau . qd, so every torque applied, the sources' too, is counted.
//
// To add a source of torques (an external force through its point's Jacobian, tau = J_p(q)^T F, a
// spring the mouse pulls): derive from TorqueSource, add its torques in AddTorque (and say Timed()
// when they change in time at a fixed state), and hand it to Stepper::AddTorqueSource. Every step
// then asks it at every state it evaluates and counts its work; nothing else changes.
#pragma once

#include <cstdint>
#include <vector>

#include "control/controller.h"
#include "robot/robot.h"

class TorqueSource {
 public:
  virtual ~TorqueSource() = default;
  // Adds the source's joint torques (n values) at the state (q, qd) at time t (the Stepper's
  // clock, Stepper::Time(), plus the time within the tick) to tau.
  virtual void AddTorque(double t, const double* q, const double* qd, double* tau) = 0;
  // Whether the torques change in time at a fixed state (the step then carries the time).
  virtual bool Timed() const { return false; }
  // Before every forward tick, at its start state (q, qd) and time: what the source holds for the
  // tick. step is the longest internal step the tick takes without controlling its error (the
  // fixed-step methods' substeps; 0 for the error-controlled step), for a source whose torques
  // must stay within what such a step can integrate. Nothing by default.
  virtual void BeginTick(double /*time*/, const double* /*q*/, const double* /*qd*/,
                         double /*step*/) {}
};

class TickTorque {
 public:
  void Resize(int n);

  // A tick at `time` (the Stepper's clock) from the state (q, qd): the typed torques (n values),
  // the robot's efforts while its effort limits are on, the controller (null: none) and the
  // sources. The controller's first sample is taken there.
  void Begin(const Robot& robot, const double* typed, Controller* controller,
             const std::vector<TorqueSource*>& sources, double time);

  // Whether the torques change with the state between two samples (a continuous controller, or a
  // source), and whether they change in time at a fixed state.
  bool Varies() const { return continuous_ || !sources_->empty(); }
  bool Timed() const;
  // The samples per tick: the controller's, 1 without a controller or at the continuous rate.
  int Samples() const { return samples_; }

  // A sample instant at time s into the tick at the state (q, qd): the controller's torques are
  // held from there (nothing at the continuous rate).
  void Sample(double s, const double* q, const double* qd);
  // tau at time s into the tick and the state (q, qd), n values valid until the next call. Inside a
  // step in fixed friction modes, motion gives each joint's direction of motion in them (+1, -1;
  // 0 at rest), which a controller's friction model takes; null at an instant.
  const double* At(double s, const double* q, const double* qd, const int8_t* motion = nullptr);
  // The same at the tick's start, whose saturation is noted.
  const double* Start(const double* q, const double* qd);
  // The motors' torques, sat(tau_typed + tau_control), of the last Start, Sample or evaluation at a
  // state: without the sources', which act on the joints from outside (Start's are the torques the
  // tick reports).
  const double* Motor() const { return motor_.data(); }
  // The torques while they do not vary (the last sample's).
  const double* Held() const { return held_.data(); }
  // The part of the last torques At gave that is viscous, d tau_i / d qd_i = s_i, as a continuous
  // controller's friction model adds it (b^ qd, where the joint's motor torque was not cut at its
  // effort); null when no such part. The stiff step takes it with the arm's own viscous friction.
  const double* ViscousSlope() const;

  // Which joints' motor torques were cut at their efforts, at the tick's start and at its samples.
  const std::vector<uint8_t>& Saturated() const { return saturated_; }

 private:
  // sat(typed + control) into motor_, noting the joints cut when note is set.
  void Saturate(const double* control, bool note);

  int n_ = 0;
  const std::vector<TorqueSource*>* sources_ = nullptr;
  Controller* controller_ = nullptr;
  bool continuous_ = false;
  int samples_ = 1;
  double time_ = 0.0;
  bool efforts_ = false;
  bool noting_ = false;  // the evaluation notes which joints saturate
  std::vector<double> typed_, effort_, control_, motor_, held_, tau_, slope_;
  std::vector<uint8_t> saturated_, cut_;
};
