// Stepper: the simulation tick, in one place for the window and velmoth-sim. A forward tick takes
// the user's torques, finds the accelerations they cause and integrates them over kTimeStep; an
// inverse tick integrates the user's accelerations and finds the torques that produce them. The
// engine, the integrator and the substeps can change between ticks.
//
// The closed form with Euler in one substep is exactly ForwardDynamics then IntegrateStep (forward)
// and IntegrateStep then InverseDynamics (inverse), bit for bit. Every tick leaves the robot's
// energies as those of the state at the start of a forward tick and at the end of an inverse one,
// and each link's qdd as the tick's acceleration: the change of its velocity over the tick / dt.
//
// The implicit step keeps an energy budget. With friction that only takes energy away, the arm's
// energy can rise by no more than the work of the user's torques, tau . (q' - q) for a constant
// tau; what a substep gains beyond that is error of the step. Such a substep is taken again in two
// halves, down to kMaxRefinement halvings; then the velocities are scaled down to the budget. So
// the arm never gains energy it was not given (within kEnergyAllowance of the largest kinetic
// energy it has had), and a fast or stiff motion gets the substeps it needs while a calm one takes
// one. The budget starts afresh when the state, gravity or the step changes outside the ticks.
// A substep whose accelerations changed faster than it could follow (an oscillation it would show
// as a velocity flipping sign on every tick) makes the rest of the tick, or the next one, finer; a
// tick that needed no refinement lets the next one start one halving coarser.
//
// A tick can be given up between its substeps (a window abandons one that the user made moot); it
// then leaves the robot as it was before it.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "matrix/matrix.h"
#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/integrators.h"
#include "simulation/step_options.h"

class Stepper {
 public:
  // A substep is halved at most this many times.
  static constexpr int kMaxRefinement = 12;
  // A substep taken again in halves must gain less than this fraction of what it gained before,
  // or it is not refined further.
  static constexpr double kRefinementGain = 0.75;
  // The energy a substep may gain beyond the budget, as a fraction of the largest kinetic energy
  // since the budget started.
  static constexpr double kEnergyAllowance = 1e-3;
  // A substep may change a joint's velocity by this fraction of its speed (no less than
  // kSpeedFloor) more than the acceleration of the substep before it foretold.
  static constexpr double kChangeAllowance = 0.25;
  static constexpr double kSpeedFloor = 0.1;

  // Steps robot, which must outlive the stepper and keep its links.
  Stepper(Robot& robot, StepOptions options);

  const StepOptions& Options() const { return options_; }
  // Takes effect from the next tick; substeps are kept between 1 and kMaxSubsteps.
  void SetOptions(StepOptions options);

  // A forward tick with the user's torques (n x 1); returns the accelerations (n x 1).
  const matrix<double>& Forward(const matrix<double>& torque);
  // An inverse tick with the user's accelerations (n x 1); returns the torques (n x 1).
  const matrix<double>& Inverse(const matrix<double>& accel);

  // Substeps the last forward tick took (more than asked for where the implicit step refined).
  int LastSubsteps() const { return lastSubsteps_; }

  // Asked before every substep of a forward tick (and before the solve of an inverse one): true
  // gives the tick up. A tick given up leaves the robot's joint state and energies as they were
  // before it, and the next tick starts afresh, as after a change made outside the ticks. Empty:
  // ticks always finish.
  void SetGiveUp(std::function<bool()> giveUp) { giveUp_ = std::move(giveUp); }
  // Whether the last tick was given up.
  bool GaveUp() const { return gaveUp_; }

 private:
  // The equation of the chosen engine, built on first use.
  Equation& EngineEquation();
  // The forward ticks of the closed form's own Euler step, of the implicit step and of the others.
  const matrix<double>& ClosedFormEulerTick(const matrix<double>& torque);
  void ImplicitTick(const matrix<double>& torque, Equation& equation, bool unchanged);
  void FixedTick(const matrix<double>& torque, Equation& equation);

  // Whether the accelerations of the substep of length h just taken changed too fast to follow;
  // known: the accelerations of the substep before it are at hand.
  bool ChangeTooFast(double h, bool known);
  // Whether the robot still is where the last tick left it, under the same gravity and step.
  bool Unchanged() const;
  void LoadState();
  void StoreState(double kinetic, double potential);

  // Notes the robot's state at the start of a tick, so that a tick given up can put it back.
  void BeginTick();
  // Whether the tick is to be given up; if so, puts the robot back as it was at its start.
  bool GiveUp();

  Robot& robot_;
  StepOptions options_;
  std::function<bool()> giveUp_;
  bool gaveUp_ = false;
  std::vector<double> startState_;  // q, qd, qdd of every joint, then the two energies
  std::unique_ptr<Equation> equations_[2];
  SubstepWork work_;
  std::vector<double> q_, qd_, qdd_, change_, savedQ_, savedQd_, lastQdd_;
  std::vector<uint8_t> lastLocked_;
  matrix<double> accel_;
  matrix<double> torque_;

  // What the last tick left: state and gravity as it stored them, the step it took.
  bool left_ = false;
  double leftGravity_[3] = {};
  StepOptions leftOptions_;
  // The implicit step's energy budget, the largest kinetic energy since it started, and the
  // refinement the last tick ended with.
  double budget_ = 0.0;
  double peakKinetic_ = 0.0;
  double endKinetic_ = 0.0;  // the energies of the state the last substep ended in
  double endPotential_ = 0.0;
  int refinement_ = 0;
  bool settled_ = true;  // the last tick needed no refinement
  int lastSubsteps_ = 0;
};
