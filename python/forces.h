// Forces from outside the joints in Python: loads read from Python values, the forces a Simulation
// holds until they change, and what the module adds for them (Robot.with_payload).
//
// A load is (frame, vector), (frame, vector, point) or (frame, vector, point, axes): vector of 3
// numbers is a force (N), of 6 a wrench (force, then moment in N m); point where the force acts, in
// the frame's coordinates (m, default its origin); axes 'world' (the base frame's, also 'base') or
// 'frame' (the frame's own, turning with it). Loads are one load, a sequence of loads, or None.
#pragma once

#include <vector>

#include "python/bindings.h"
#include "simulation/external_forces.h"
#include "simulation/payload.h"

class Stepper;

// The loads of value on the arm: TypeError or ValueError (naming what) for anything else, an
// unknown frame included.
std::vector<ExternalForce> ReadLoads(py::handle value, const ArmModel& arm, const char* what);

// The joint torques of loads at the state (q, qd), n values into tau (zeros without loads).
void LoadTorques(const ArmModel& arm, const std::vector<ExternalForce>& loads, const double* q,
                 double* tau);

// What a Simulation holds: forces and wrenches set by apply_force and apply_wrench until changed,
// with those of a run's forces(t) for each of its ticks.
class HeldForces {
 public:
  HeldForces(const ArmModel& arm, const Robot& robot) : arm_(arm), source_(robot) {}

  // Holds the load on frame at point in axes (replacing one held at the same frame, point and
  // axes; a zero one takes it away).
  void Hold(py::handle frame, py::handle vector, py::handle point, py::handle axes, bool wrench);
  // Lets go of every load (frame None) or of those on frame.
  void Clear(py::handle frame);
  // The loads held: a list of (frame, wrench (6,), point (3,), axes).
  py::list List() const;

  // Before a tick: the held loads, and those of extra (a run's forces(t), already read), on the
  // stepper's forward ticks.
  void ApplyTo(Stepper& stepper, const std::vector<ExternalForce>& extra = {});

 private:
  const ArmModel& arm_;
  std::vector<ExternalForce> held_;
  ForceSource source_;
  ArmForces applied_;
};

// A copy of the arm with the payload added (Robot.with_payload); ValueError for one that does not
// fit it.
std::shared_ptr<ArmModel> PayloadArm(const ArmModel& arm, const Payload& payload);

// Robot.with_payload.
void BindForces(py::module_& m);
