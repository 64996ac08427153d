// Stepper: the simulation tick, in one place for the window, velmoth-sim and Python. A forward tick
// takes the user's torques, finds the accelerations they cause and integrates them over
// kTimeStep; an inverse tick integrates the user's accelerations and finds the torques that
// produce them. The engine, the integrator, the substeps and the tolerance can change between
// ticks.
//
// The closed form with Euler in one substep is exactly ForwardDynamics then IntegrateStep (forward)
// and IntegrateStep then InverseDynamics (inverse), bit for bit. Every tick leaves the robot's
// energies as those of the state at the start of a forward tick and at the end of an inverse one,
// and each link's qdd as the tick's acceleration: the change of its velocity over the tick / dt.
//
// Forward ticks keep the energy balance E - E0 = W - D in the robot (work, dissipated,
// startEnergy), at the instant of its energies (the tick's start): W the work of the user's
// torques, D the energy friction took, each integrated by the integrator's own rule (the
// Runge-Kutta methods as components of their state, so Dormand-Prince controls their error too;
// the Euler and implicit steps as force times displacement). The balance starts afresh where the
// energy jumps outside the ticks: the first tick, a state or gravity changed from outside, after
// an inverse tick.
//
// The explicit integrators on either engine's exact solve (euler, rk4, dopri5) move the arm in
// friction modes and locate Coulomb friction's and the joint limits' events inside their steps
// (friction_modes.h, events.h, explicit_tick.h, joint_limits.h); their modes, rates and step size
// are carried from tick to tick. The implicit step locates a limit on the path of its substep
// (drift, kick, drift) and takes the substep again up to it. Every step but the closed form's
// Euler stops a joint at its limits (while the robot's limits are on); a position past a limit at
// the start of a tick, set from outside, is put at the limit. Each joint takes its own friction
// coefficients (JointViscous, JointCoulomb); with the robot's effort limits on, every forward tick
// applies the torques saturated at the joints' efforts.
//
// The implicit step refines where it must: a substep whose energy rose by more than its share of
// kEnergyAllowance beyond its W - D is taken again in halves, as is one whose accelerations
// changed faster than it could follow (an oscillation it would show as a velocity flipping sign on
// every tick); at most kMaxRefinement halvings. A tick that needed no refinement lets the next one
// start one halving coarser. It never changes velocities but by its kick.
//
// A tick that reaches its cap (kMaxInternalSteps, or the implicit step's last halving) finishes at
// the accuracy the cap allows and counts itself in the robot's cappedTicks. A forward tick of any
// step that locates events (all but the closed form's Euler) that leaves the energy grown without
// work since the balance started by more than kUnphysicalGain of the largest kinetic energy
// since then (or of the potential energy, where larger) is plainly unphysical: a divergence,
// finite or not, counted in the robot's unphysicalTicks. Short of that, the first such tick that
// leaves the balance off either way by more than kBalanceAllowance of the motion's energy since
// it started reports the state inaccurate (StepReport::offBalance), counted in the robot's
// offBalanceTicks: the run goes on, at the accuracy the step gives it.
// LastReport says what the last tick did, for the programs' messages (step_report.h).
//
// A tick can be given up between its internal steps (a window abandons one that the user made
// moot); it then leaves the robot as it was before it.
//
// A controller (control/controller.h) adds its torques to the typed ones in forward ticks, and so
// do the torque sources added (tick_torque.h). The controller's rate cuts the tick into equal
// pieces between its sample instants, each integrated as a tick of its own length (the fixed-step
// methods in ceil(substeps / samples) substeps, dopri5 in steps as long as its tolerance allows,
// its step size carried on): a held torque changes only where a piece ends, and the modes are
// decided again there, so that events, friction modes and dopri5's error control keep working.
// At the continuous rate, and with sources, the torques are asked at every state the step
// evaluates (the explicit methods then carry the time within the tick in their state), or once per
// substep by the implicit step (at the middle of its substep, where its kick takes its terms) and
// by the closed form's Euler step (at its start). The effort limits cut the motors' torques, the
// typed ones plus the controller's; W counts every torque applied. Without a controller and
// sources a tick is what it always was, bit for bit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "control/controller.h"
#include "dynamics/dynamics.h"
#include "matrix/matrix.h"
#include "robot/robot.h"
#include "simulation/equation.h"
#include "simulation/explicit_tick.h"
#include "simulation/friction_modes.h"
#include "simulation/integrators.h"
#include "simulation/joint_limits.h"
#include "simulation/runge_kutta.h"
#include "simulation/step_options.h"
#include "simulation/step_report.h"
#include "simulation/tick_torque.h"

class Stepper {
 public:
  // The internal steps of an explicit tick beyond its substeps: events located (euler, rk4) or
  // steps tried (dopri5).
  static constexpr int kMaxInternalSteps = 200;
  // An implicit substep is halved at most this many times.
  static constexpr int kMaxRefinement = 6;
  // A substep taken again in halves must gain less than this fraction of what it gained before,
  // or it is not refined further.
  static constexpr double kRefinementGain = 0.75;
  // The energy an implicit tick may gain beyond W - D, as a fraction of the largest kinetic energy
  // since the balance started; a substep gets its share by its length.
  static constexpr double kEnergyAllowance = 1e-3;
  // The energy a forward tick may have made without work since the balance started, as a fraction
  // of the largest kinetic (or potential) energy since then, before the state is unphysical.
  static constexpr double kUnphysicalGain = 0.1;
  // The error of the energy balance, either way, a forward tick may leave since the balance
  // started, as a fraction of the motion's energy (its largest kinetic energy, or the swing of its
  // potential energy), before the state is reported inaccurate: the step is too coarse for it.
  static constexpr double kBalanceAllowance = 1e-3;
  // A substep may change a joint's velocity by this fraction of its speed (no less than
  // kSpeedFloor) more than the acceleration of the substep before it foretold.
  static constexpr double kChangeAllowance = 0.25;
  static constexpr double kSpeedFloor = 0.1;
  // The error-controlled step finds the stiffness of viscous friction anew after this many ticks.
  static constexpr int kStiffnessTicks = 8;

  // Steps robot, which must outlive the stepper and keep its links.
  Stepper(Robot& robot, StepOptions options);
  ~Stepper();

  const StepOptions& Options() const { return options_; }
  // Takes effect from the next tick; substeps are kept between 1 and kMaxSubsteps, the tolerance
  // between kMinTolerance and kMaxTolerance.
  void SetOptions(StepOptions options);

  // A forward tick with the user's torques (n x 1); returns the accelerations (n x 1).
  const matrix<double>& Forward(const matrix<double>& torque);
  // The torques the last forward tick applied (n x 1): the user's, or with effort limits each
  // saturated at its joint's effort, and a controller's with them; and which joints' were. The
  // sources' torques (external forces) are not among them.
  const matrix<double>& LastTorque() const { return applied_; }
  const std::vector<uint8_t>& Saturated() const { return saturated_; }
  // An inverse tick with the user's accelerations (n x 1); returns the torques (n x 1).
  const matrix<double>& Inverse(const matrix<double>& accel);

  // Internal steps the last forward tick took: substeps, pieces of them cut at events, the implicit
  // step's refinements, the error-controlled step's steps (rejected ones included).
  int LastSubsteps() const { return lastSubsteps_; }
  // Whether the last forward tick reached its cap.
  bool LastCapped() const { return lastCapped_; }
  // What the last forward tick's error-controlled step did: its steps of the additive pair, and
  // the stiffness of viscous friction it found (1/s).
  int LastStiffSteps() const { return report_.stiffSteps; }
  double LastStiffness() const { return report_.stiffness; }
  // What the last tick did: its step, whether it diverged or capped, and why.
  const StepReport& LastReport() const { return report_; }

  // The balance at the state the robot is in, as the next forward tick will report it: when the
  // robot still is where the last tick left it, W and D up to there and the energy the balance
  // started from (and true); otherwise false, the balance starting afresh from this state.
  bool BalanceGoesOn(double& work, double& dissipated, double& start) const;

  // The controller of the forward ticks, from the next tick on (null: none). It is shared with
  // whoever changes its settings between ticks; a new Stepper takes it over as it is.
  void SetController(std::shared_ptr<Controller> controller) {
    controller_ = std::move(controller);
  }
  const std::shared_ptr<Controller>& GetController() const { return controller_; }
  // A source of torques for the forward ticks from the next on (tick_torque.h); it must outlive
  // the stepper or be removed first.
  void AddTorqueSource(TorqueSource* source);
  void RemoveTorqueSource(TorqueSource* source);
  // The stepper's clock: the simulated time at the start of the next tick, 0.01 s more for every
  // tick done since it was made.
  double Time() const { return static_cast<double>(ticks_) * kTimeStep; }
  // The longest internal step a tick of these options takes without controlling its error, with
  // `samples` controller samples per tick (1 without a sampled controller): the tick over its
  // pieces and their substeps; 0 for dopri5, which controls its error (TorqueSource::BeginTick).
  static double FixedStep(const StepOptions& options, int samples);

  // Asked before every internal step of a forward tick (and before the solve of an inverse one):
  // true gives the tick up. A tick given up leaves everything the ticks keep in the robot (joint
  // state, energies, balance) as it was before it, and the next tick starts afresh, as after a
  // change made outside the ticks. Empty: ticks always finish.
  void SetGiveUp(std::function<bool()> giveUp) { giveUp_ = std::move(giveUp); }
  // Whether the last tick was given up.
  bool GaveUp() const { return gaveUp_; }

 private:
  struct Engine {
    std::unique_ptr<Equation> equation;
    std::unique_ptr<ModeEquation> modes;
  };

  // The equation of the chosen engine, built on first use.
  Engine& EngineEquation();
  // The forward ticks of the closed form's own Euler step, of the implicit step and of the
  // explicit methods. Each leaves the tick's start energies, its W and D and whether it capped in
  // kinetic_, potential_, tickW_, tickD_ and capped_.
  const matrix<double>& ClosedFormEulerTick(const matrix<double>& torque);
  void ImplicitTick(Equation& equation, bool unchanged);
  void ExplicitTick(ModeEquation& equation, bool unchanged);
  // A forward tick with the controller or the sources: the typed torques, unsaturated.
  const matrix<double>& ControlledTick(const matrix<double>& torque, bool continues);
  // The torques of a substep from s into the tick of length h, at its start (the closed form's
  // Euler) or at the middle the implicit step's kick takes its terms at.
  const double* SubstepTorque(double s, double h, bool middle);
  // After a tick that was not given up: the clock and the controller's move on.
  void EndTick();

  // Whether the accelerations of the substep of length h just taken changed too fast to follow;
  // known: the accelerations of the substep before it are at hand.
  bool ChangeTooFast(double h, bool known);
  // Whether the robot still is where the last tick left it, under the same gravity; and (for
  // Unchanged) with the same engine and integrator.
  bool StateKept() const;
  bool Unchanged() const;
  void LoadState();
  void StoreState();
  // Puts the balance at the tick's start into the robot, then adds the tick's W and D.
  void KeepBalance(bool continues);
  // Fills the report of the tick just taken: whether its inputs, state and torques are finite and,
  // for a forward tick that locates events, whether it made energy without work.
  void Report(bool forward, const matrix<double>& input, const matrix<double>& output,
              bool checkEnergy);

  // Notes what the ticks keep in the robot at the start of a tick, so that a tick given up can put
  // it back.
  void BeginTick();
  // Whether the tick is to be given up; if so, puts the robot back as it was at its start.
  bool GiveUp();

  Robot& robot_;
  StepOptions options_;
  std::shared_ptr<Controller> controller_;
  std::vector<TorqueSource*> sources_;
  TickTorque tickTorque_;
  bool controlled_ = false;  // the tick being taken has a controller or sources
  uint64_t ticks_ = 0;
  std::vector<double> middleQ_, middleQd_;
  matrix<double> substepTorque_;
  std::function<bool()> giveUp_;
  bool gaveUp_ = false;
  std::vector<double> startState_;  // q, qd, qdd of every joint, the energies and the balance
  Engine engines_[2];
  JointFriction friction_;
  JointLimits limits_;
  FrictionModes modes_;
  std::vector<double> tau_;
  matrix<double> applied_;
  std::vector<uint8_t> saturated_;
  std::vector<double> q_, qd_, change_;
  matrix<double> accel_;
  matrix<double> torque_;

  // The explicit methods: their state (q, qd, W, D), its rates in the current modes, the held
  // joints' torques; whether the rates are those of the state the last tick left, under its
  // torques and friction; the step size carried.
  EulerMethod euler_;
  Rk4Method rk4_;
  Dopri5Method dopri5_;
  ImexMethod imex_;
  TickWork tickValues_;
  std::vector<double> y_, k_, holding_;
  bool ratesKept_ = false;
  std::vector<double> lastTau_;
  JointFriction lastFriction_;
  JointLimits lastLimits_;
  double carriedStep_ = 0.0;
  // The stiffness of viscous friction, and the ticks since it was found.
  double stiffness_ = 0.0;
  int stiffnessAge_ = 0;

  // The implicit step's working values, the refinement the last tick ended with, and the largest
  // kinetic energy since the balance started.
  SubstepWork work_;
  std::vector<double> qdd_, savedQ_, savedQd_, lastQdd_;
  std::vector<uint8_t> lastLocked_;
  std::vector<uint8_t> at_;  // where the joints are against their limits
  ImpactWork impact_;
  int refinement_ = 0;
  bool settled_ = true;  // the last tick needed no refinement
  double peakKinetic_ = 0.0;

  // What the last tick left: state and gravity as it stored them, the step it took, the energies
  // of its end state.
  bool left_ = false;
  double leftGravity_[3] = {};
  StepOptions leftOptions_;
  double endKinetic_ = 0.0;
  double endPotential_ = 0.0;

  // The tick being taken: its start energies, its share of the balance, whether it capped.
  double kinetic_ = 0.0;
  double potential_ = 0.0;
  double tickW_ = 0.0;
  double tickD_ = 0.0;
  bool capped_ = false;
  // The balance since it started, up to the state the last tick left, and the energy it started
  // from.
  double balanceW_ = 0.0;
  double balanceD_ = 0.0;
  double balanceStart_ = 0.0;

  int lastSubsteps_ = 0;
  bool lastCapped_ = false;
  StepReport report_;
  // The motion since the balance started: its largest kinetic energy, the range of its potential
  // energy; and whether a tick found the balance off by more than kBalanceAllowance.
  double motionKinetic_ = 0.0;
  double potentialLow_ = 0.0;
  double potentialHigh_ = 0.0;
  bool balanceOffNoted_ = false;
};
