// velmoth.Simulation: an arm, its state and the tick of both programs (Stepper), stepped from
// Python one tick at a time or run for many ticks in C++.
#include <cxxabi.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "control/controller.h"
#include "dynamics/dynamics.h"
#include "python/bindings.h"
#include "python/control_binding.h"
#include "python/convert.h"
#include "python/forces.h"
#include "python/trajectory.h"
#include "recursive/frames.h"
#include "simulation/equation.h"
#include "simulation/integrators.h"
#include "simulation/joint_limits.h"
#include "simulation/step_report.h"
#include "simulation/stepper.h"

namespace {

// A run on the main thread looks at the interpreter's signals (Ctrl-C) this often.
constexpr std::chrono::milliseconds kSignalInterval{50};
// It reads the clock about this often: every tick while ticks are slow, every so many while they
// are quick, so that reading it costs the run nothing measurable.
constexpr std::chrono::microseconds kClockInterval{1000};
constexpr uint64_t kMaxClockStride = 1u << 16;

// Takes the GIL back. An interpreter that is exiting ends any thread that asks it for the GIL
// (pthread_exit, whose unwinding would pass through C++ code that may not be left that way, and
// free Python objects without the GIL): such a thread waits here for the process to end instead.
void TakeGil(PyThreadState* state) {
  try {
    PyEval_RestoreThread(state);
  } catch (abi::__forced_unwind&) {
    for (;;) {
      pause();
    }
  }
}

// The GIL given up for a stretch of C++ work, and taken back at its end.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  ~GilReleased() { TakeGil(state_); }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

  // The GIL taken for a call into Python within the stretch, and given up again after it.
  class Held {
   public:
    explicit Held(GilReleased& released) : released_(released) { TakeGil(released_.state_); }
    ~Held() { released_.state_ = PyEval_SaveThread(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    GilReleased& released_;
  };

 private:
  PyThreadState* state_;
};

// When a run on the main thread should look at the interpreter's signals: asked once per tick,
// it says so once kSignalInterval has passed since it last did. Only the main thread handles
// them; elsewhere it never asks for the GIL.
class SignalWatch {
 public:
  using Clock = std::chrono::steady_clock;

  SignalWatch() : main_(_PyOS_IsMainThread() != 0), read_(Clock::now()), looked_(read_) {}

  bool Due() {
    if (!main_ || --countdown_ > 0) {
      return false;
    }
    const Clock::time_point now = Clock::now();
    stride_ = now - read_ < kClockInterval ? std::min(2 * stride_, kMaxClockStride)
                                           : std::max(stride_ / 2, uint64_t{1});
    countdown_ = stride_;
    read_ = now;
    if (now - looked_ < kSignalInterval) {
      return false;
    }
    looked_ = now;
    return true;
  }

 private:
  bool main_;
  uint64_t stride_ = 1;
  uint64_t countdown_ = 1;
  Clock::time_point read_, looked_;
};

// What a run adds to its rows beyond the run format: the positions of the frames it follows, the
// accelerations at each row's state, and the energies of the state it starts from, evaluated on a
// copy of the arm so that the run's own arm is left as the ticks leave it.
class RowExtras {
 public:
  RowExtras(const Robot& robot, EngineKind engine, std::vector<int> frames, bool evaluates)
      : count_(frames.size()) {
    if (!frames.empty()) {
      tracker_ = std::make_unique<recursive::FrameTracker>(robot, std::move(frames));
    }
    if (evaluates) {
      copy_ = CloneRobot(robot);
      equation_ = MakeEquation(engine, *copy_);
      const std::size_t n = robot.links.size();
      q_.resize(n);
      qd_.resize(n);
      net_.resize(n);
    }
  }

  std::size_t Frames() const { return count_; }

  // The frames' positions (3 each) and, where exact is given, the accelerations of the torques tau
  // at the robot's state: M qdd = tau - C qd - G - F, solved exactly.
  void Row(const Robot& robot, const double* tau, double* positions, double* exact) {
    if (tracker_) {
      tracker_->Track(robot, positions);
    }
    if (exact != nullptr) {
      Load(robot);
      for (std::size_t i = 0; i < q_.size(); ++i) {
        net_[i] = tau[i] - FrictionTorque(*copy_, i, qd_[i]);
      }
      equation_->Evaluate(*copy_, q_.data(), qd_.data());
      equation_->Solve(nullptr, net_.data(), nullptr, exact);
    }
  }

  void Energies(const Robot& robot, double& kinetic, double& potential) {
    Load(robot);
    equation_->Energies(*copy_, q_.data(), qd_.data(), kinetic, potential);
  }

 private:
  void Load(const Robot& robot) {
    for (std::size_t i = 0; i < q_.size(); ++i) {
      q_[i] = robot.links[i]->q;
      qd_[i] = robot.links[i]->qd;
    }
  }

  std::size_t count_;
  std::unique_ptr<recursive::FrameTracker> tracker_;
  std::unique_ptr<Robot> copy_;
  std::unique_ptr<Equation> equation_;
  std::vector<double> q_, qd_, net_;
};

class Simulation {
 public:
  VELMOTH_ZEROED_NEW

  Simulation(std::shared_ptr<ArmModel> arm, py::handle engine, py::handle integrator,
             py::handle substeps, py::handle tolerance, py::handle viscous, py::handle coulomb,
             py::handle gravity, py::handle q0, py::handle qd0, py::handle limits,
             py::handle friction, py::handle effortLimits, py::handle controller)
      : arm_(std::move(arm)), robot_(CloneRobot(arm_->Arm())), n_(robot_->links.size()) {
    StepOptions options = arm_->DefaultStep();
    if (!engine.is_none()) {
      options.engine = EngineFromName(TextArgument(engine, "engine"));
    }
    if (!integrator.is_none()) {
      options.integrator = IntegratorFromName(TextArgument(integrator, "integrator"));
    }
    if (!substeps.is_none()) {
      options.substeps = CheckedSubsteps(WholeArgument(substeps, "substeps"));
    }
    if (!tolerance.is_none()) {
      options.tolerance = CheckedTolerance(tolerance);
    }
    if (!viscous.is_none()) {
      robot_->viscousFriction = FrictionNumber(viscous, "viscous");
    }
    if (!coulomb.is_none()) {
      robot_->coulombFriction = FrictionNumber(coulomb, "coulomb");
    }
    if (!gravity.is_none()) {
      SetGravity(gravity);
    }
    robot_->limits = FlagArgument(limits, "limits");
    robot_->frictionSource = FrictionArgument(friction, !viscous.is_none() || !coulomb.is_none());
    robot_->effortLimits = FlagArgument(effortLimits, "effort_limits");
    input_ = matrix<double>(static_cast<uint32_t>(n_), 1);
    values_.resize(n_);
    tau_.assign(n_, 0.0);
    SetState(q0, qd0, "q0", "qd0");
    controller_ = std::make_shared<Controller>(*robot_, CheckedController(controller, *arm_));
    stepper_ = std::make_unique<Stepper>(*robot_, options);
    stepper_->SetController(controller_);
    forces_ = std::make_unique<HeldForces>(*arm_, *robot_);
    RefreshEnergies();
    ClampStart();
  }

  // Every call that reads or changes the simulation holds this; a second call meanwhile (a run on
  // another thread, or the simulation's own controller calling it) is refused.
  class Busy {
   public:
    explicit Busy(Simulation& s) : lock_(s.busy_, std::try_to_lock) {
      if (!s.stepper_) {
        ThrowUnmade("Simulation");
      }
      if (!lock_.owns_lock()) {
        throw std::runtime_error(
            "this Simulation is busy with another call (a run on another thread, or the run "
            "whose controller is calling); a Simulation takes one call at a time");
      }
    }

   private:
    std::unique_lock<std::mutex> lock_;
  };

  py::array_t<double> Step(py::handle torque) {
    Busy busy(*this);
    ReadInput(torque, "torque");
    forces_->ApplyTo(*stepper_);
    const matrix<double>& accel = stepper_->Forward(input_);
    ++tick_;
    KeepTorque(stepper_->LastTorque());
    py::array_t<double> result = Column(accel);
    if (stepper_->LastReport().unphysical) {
      WarnDiverged(stepper_->LastReport(), tick_, "the state it left is not physical");
    }
    if (stepper_->LastCapped()) {
      WarnCapped(stepper_->LastReport(), tick_);
    }
    if (stepper_->LastReport().offBalance) {
      WarnOffBalance(stepper_->LastReport(), tick_);
    }
    return result;
  }

  py::array_t<double> StepInverse(py::handle accel) {
    Busy busy(*this);
    ReadInput(accel, "accel");
    const matrix<double>& torque = stepper_->Inverse(input_);
    ++tick_;
    KeepTorque(torque);
    return Column(torque);
  }

  Trajectory Run(long long ticks, py::handle torque, const std::string& mode, py::handle accel,
                 long long every, py::handle controller, bool start, py::handle frames,
                 bool exactQdd, py::handle forces) {
    Busy busy(*this);
    if (ticks < 0) {
      throw py::value_error("ticks must be 0 or more, not " + std::to_string(ticks));
    }
    if (every < 1) {
      throw py::value_error("every must be 1 or more, not " + std::to_string(every));
    }
    if (mode != "forward" && mode != "inverse") {
      throw py::value_error("mode must be 'forward' or 'inverse', not '" + mode + "'");
    }
    const bool forward = mode == "forward";
    // A built-in controller becomes the simulation's; a callable is called before every tick.
    if (py::isinstance<ControllerObject>(controller)) {
      controller_->SetSettings(CheckedController(controller, *arm_));
      controller = py::none();
    }
    const bool controlled = !controller.is_none();
    if (controlled && !PyCallable_Check(controller.ptr())) {
      throw py::type_error(
          "controller must be callable, controller(time, q, qd) -> vector, or a "
          "velmoth.Controller");
    }
    const bool pushed = !forces.is_none();
    if (pushed && !PyCallable_Check(forces.ptr())) {
      throw py::type_error("forces must be callable: forces(time) -> loads");
    }
    std::vector<ExternalForce> extra;  // forces(t) of the tick
    const char* const input = forward ? "torque" : "accel";
    if (!(forward ? accel : torque).is_none()) {
      throw py::value_error(std::string(forward ? "accel" : "torque") + " is for mode='" +
                            (forward ? "inverse" : "forward") + "'; a " + mode + " run takes " +
                            input);
    }
    if (controlled && !(forward ? torque : accel).is_none()) {
      throw py::value_error(std::string("a run with a controller takes its ") + input +
                            " from the controller only");
    }
    ReadInput(forward ? torque : accel, input);
    std::vector<std::string> frameNames;
    std::vector<int> followed;
    if (!frames.is_none()) {
      if (py::isinstance<py::str>(frames)) {
        throw py::type_error("frames must be a list of frame names, not one name");
      }
      for (const py::handle name : frames) {
        frameNames.push_back(TextArgument(name, "a frame name"));
        followed.push_back(arm_->Frame(frameNames.back()));
      }
    }

    const auto count = static_cast<uint64_t>(ticks);
    const auto k = static_cast<uint64_t>(every);
    const std::size_t first = start ? 1 : 0;
    Trajectory trajectory(static_cast<std::size_t>(count / k) + first, arm_->jointNames,
                          StepOptionsText(stepper_->Options()), frameNames, exactQdd);
    const auto referenceSize = static_cast<std::size_t>(controller_->ReferenceSize());
    if (referenceSize > 0) {
      trajectory.KeepReference(referenceSize, referenceSize == 3 && controller_->Settings().kind ==
                                                                        ControllerKind::kTaskPd);
    }
    std::vector<double> rowQ(n_);
    TrajectoryWriter out(trajectory);
    RowExtras extras(*robot_, stepper_->Options().engine, std::move(followed), exactQdd || start);
    // Row r: the robot's state with the torques tau and the energies given.
    const auto record = [&](std::size_t r, const double* tau, double kinetic, double potential,
                            double work, double dissipated) {
      out.tick[r] = static_cast<int64_t>(tick_);
      out.time[r] = static_cast<double>(tick_) * kTimeStep;
      for (std::size_t i = 0; i < n_; ++i) {
        const Link& link = *robot_->links[i];
        out.q[r * n_ + i] = link.q;
        out.qd[r * n_ + i] = link.qd;
        out.qdd[r * n_ + i] = link.qdd;
        out.tau[r * n_ + i] = tau[i];
      }
      out.kinetic[r] = kinetic;
      out.potential[r] = potential;
      out.total[r] = kinetic + potential;
      out.work[r] = work;
      out.dissipated[r] = dissipated;
      extras.Row(*robot_, tau, out.positions + 3 * extras.Frames() * r,
                 out.exact == nullptr ? nullptr : out.exact + n_ * r);
      if (out.reference != nullptr) {
        // The reference at the row's time, and the error at its positions.
        for (std::size_t i = 0; i < n_; ++i) {
          rowQ[i] = robot_->links[i]->q;
        }
        controller_->Tracking(0.0, rowQ.data(), out.reference + referenceSize * r,
                              out.error + referenceSize * r);
      }
    };
    if (start) {
      double kinetic = 0.0, potential = 0.0, work = 0.0, dissipated = 0.0, from = 0.0;
      extras.Energies(*robot_, kinetic, potential);
      if (!stepper_->BalanceGoesOn(work, dissipated, from)) {
        work = dissipated = 0.0;
      }
      record(0, tau_.data(), kinetic, potential, work, dissipated);
    }
    const uint32_t n = static_cast<uint32_t>(n_);
    const char* const returned =
        forward ? "the controller's torque" : "the controller's accelerations";
    uint64_t diverged = 0;
    uint64_t capped = 0;
    uint64_t offBalance = 0;
    // The reports of the ticks that diverged, capped and found the balance off first.
    StepReport divergence, cap, balance;
    {
      SignalWatch signals;
      GilReleased released;
      for (uint64_t t = 1; t <= count; ++t) {
        const bool look = signals.Due();
        if (controlled || pushed || look) {
          const GilReleased::Held held(released);
          if (look && PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
          }
          if (controlled) {
            std::vector<double> q(n_), qd(n_);
            for (uint32_t i = 0; i < n; ++i) {
              q[i] = robot_->links[i]->q;
              qd[i] = robot_->links[i]->qd;
            }
            const py::object result =
                controller(static_cast<double>(tick_) * kTimeStep, VectorArray(q.data(), n_),
                           VectorArray(qd.data(), n_));
            if (result.is_none()) {
              throw py::type_error(std::string("the controller returned None; it must return "
                                               "the tick's ") +
                                   (forward ? "torques" : "accelerations") + ", " +
                                   std::to_string(n_) + " numbers");
            }
            ReadInput(result, returned);
          }
          if (pushed) {
            extra =
                ReadLoads(forces(static_cast<double>(tick_) * kTimeStep), *arm_, "forces(time)");
          }
        }
        forces_->ApplyTo(*stepper_, extra);
        // One tick as velmoth-sim runs it; the tau column is the torque applied or found.
        if (forward) {
          stepper_->Forward(input_);
          if (capped == 0 && stepper_->LastCapped()) {
            capped = tick_ + 1;
            cap = stepper_->LastReport();
          }
          if (offBalance == 0 && stepper_->LastReport().offBalance) {
            offBalance = tick_ + 1;
            balance = stepper_->LastReport();
          }
        }
        const matrix<double>& tau = forward ? stepper_->LastTorque() : stepper_->Inverse(input_);
        ++tick_;
        KeepTorque(tau);  // what `tau` reads, also when the run ends early
        if (diverged == 0 && (!Finite(tau) || stepper_->LastReport().Diverged())) {
          diverged = tick_;
          divergence = stepper_->LastReport();
        }
        if (t % k == 0) {
          record(first + static_cast<std::size_t>(t / k - 1), tau_.data(), robot_->kineticEnergy,
                 robot_->potentialEnergy, robot_->work, robot_->dissipated);
        }
      }
    }
    if (diverged != 0) {
      trajectory.divergedAt = py::int_(diverged);
      WarnDiverged(divergence, diverged, "the run went on");
    }
    if (capped != 0) {
      WarnCapped(cap, capped);
    }
    if (offBalance != 0 && (diverged == 0 || offBalance < diverged)) {
      WarnOffBalance(balance, offBalance);
    }
    return trajectory;
  }

  Terms EvaluateTermsHere(py::handle torque, py::handle accel, py::handle q, py::handle qd,
                          py::handle engine) {
    Busy busy(*this);
    std::vector<double> t(n_), a(n_), qs(n_), qds(n_);
    ReadJointVector(torque, n_, "torque", t.data());
    ReadJointVector(accel, n_, "accel", a.data());
    for (std::size_t i = 0; i < n_; ++i) {
      qs[i] = robot_->links[i]->q;
      qds[i] = robot_->links[i]->qd;
    }
    if (!q.is_none()) {
      ReadJointVector(q, n_, "q", qs.data());
    }
    if (!qd.is_none()) {
      ReadJointVector(qd, n_, "qd", qds.data());
    }
    const EngineKind kind = engine.is_none() ? stepper_->Options().engine
                                             : EngineFromName(TextArgument(engine, "engine"));
    if (!AllFinite(qs) || !AllFinite(qds)) {
      throw py::value_error("the state is not finite: set q and qd, or give them to terms()");
    }
    return EvaluateTerms(CloneRobot(*robot_), kind, qs.data(), qds.data(), t.data(), a.data());
  }

  void Reset(py::handle q, py::handle qd) {
    Busy busy(*this);
    SetState(q, qd);
    tick_ = 0;
    std::fill(tau_.begin(), tau_.end(), 0.0);
    stepper_ = std::make_unique<Stepper>(*robot_, stepper_->Options());
    stepper_->SetController(controller_);
    controller_->RestartReference();
    RefreshEnergies();
    ClampStart();
  }

  py::object GetController() {
    Busy busy(*this);
    return ControllerObjectOf(controller_->Settings());
  }

  void SetController(py::handle controller) {
    Busy busy(*this);
    controller_->SetSettings(CheckedController(controller, *arm_));
  }

  // The reference and the error now (after the last tick), or None.
  py::object Tracking(bool error) {
    Busy busy(*this);
    const auto size = static_cast<std::size_t>(controller_->ReferenceSize());
    if (size == 0 || !controller_->Start()) {
      return py::none();
    }
    std::vector<double> q(n_), reference(size), e(size);
    for (std::size_t i = 0; i < n_; ++i) {
      q[i] = robot_->links[i]->q;
    }
    controller_->Tracking(0.0, q.data(), reference.data(), e.data());
    return error ? VectorArray(e.data(), size) : VectorArray(reference.data(), size);
  }

  py::object Kinematics() {
    std::vector<double> q(n_), qd(n_);
    {
      Busy busy(*this);
      for (std::size_t i = 0; i < n_; ++i) {
        q[i] = robot_->links[i]->q;
        qd[i] = robot_->links[i]->qd;
      }
    }
    return MakeKinematics(arm_, VectorArray(q.data(), n_), VectorArray(qd.data(), n_));
  }

  // ---- state and settings ----
  py::array_t<double> Joint(double Link::*field) {
    Busy busy(*this);
    for (std::size_t i = 0; i < n_; ++i) {
      values_[i] = (*robot_->links[i]).*field;
    }
    return VectorArray(values_.data(), n_);
  }

  void SetJoint(double Link::*field, py::handle value, const char* what) {
    Busy busy(*this);
    ReadJointVector(value, n_, what, values_.data());
    for (std::size_t i = 0; i < n_; ++i) {
      (*robot_->links[i]).*field = values_[i];
    }
    // A pose set from outside the ticks: the controller's reference starts afresh from it.
    controller_->RestartReference();
    RefreshEnergies();
    ClampStart();
  }

  py::array_t<double> Torque() {
    Busy busy(*this);
    return VectorArray(tau_.data(), n_);
  }

  double Number(double Robot::*field) {
    Busy busy(*this);
    return (*robot_).*field;
  }

  // The panel's friction coefficients, which every joint then takes (as the window's "Set").
  void SetFriction(double Robot::*field, py::handle value, const char* what) {
    Busy busy(*this);
    (*robot_).*field = FrictionNumber(value, what);
    robot_->frictionSource = FrictionSource::kUniform;
  }

  std::string Friction() {
    Busy busy(*this);
    return FrictionName(robot_->frictionSource);
  }

  void SetFrictionSource(py::handle value) {
    Busy busy(*this);
    robot_->frictionSource = FrictionArgument(value, false);
  }

  bool Flag(bool Robot::*field) {
    Busy busy(*this);
    return (*robot_).*field;
  }

  void SetFlag(bool Robot::*field, py::handle value, const char* what) {
    Busy busy(*this);
    (*robot_).*field = FlagArgument(value, what);
    if (field == &Robot::limits) {
      ClampStart();
    }
  }

  py::array_t<int8_t> AtLimit() {
    Busy busy(*this);
    py::array_t<int8_t> array(static_cast<py::ssize_t>(n_));
    int8_t* a = array.mutable_data();
    for (std::size_t i = 0; i < n_; ++i) {
      a[i] = static_cast<int8_t>(JointAtLimit(*robot_, i));
    }
    return array;
  }

  py::array_t<bool> Saturated() {
    Busy busy(*this);
    py::array_t<bool> array(static_cast<py::ssize_t>(n_));
    bool* a = array.mutable_data();
    for (std::size_t i = 0; i < n_; ++i) {
      a[i] = tick_ > 0 && stepper_->Saturated()[i] != 0;
    }
    return array;
  }

  py::array_t<double> Gravity() {
    Busy busy(*this);
    return Column(robot_->gravity);
  }

  void SetGravityChecked(py::handle value) {
    Busy busy(*this);
    SetGravity(value);
    RefreshEnergies();
  }

  StepOptions Options() {
    Busy busy(*this);
    return stepper_->Options();
  }

  void SetOptions(const StepOptions& options) {
    Busy busy(*this);
    stepper_->SetOptions(options);
  }

  double Total() {
    Busy busy(*this);
    return robot_->kineticEnergy + robot_->potentialEnergy;
  }

  void SetTolerance(py::handle value) {
    Busy busy(*this);
    StepOptions o = stepper_->Options();
    o.tolerance = CheckedTolerance(value);
    stepper_->SetOptions(o);
  }

  bool StateFinite() {
    Busy busy(*this);
    return StateIsFinite(*robot_);
  }

  int LastSubsteps() {
    Busy busy(*this);
    return stepper_->LastSubsteps();
  }

  // Never refused: a simulation that is running says so.
  std::string Repr() {
    if (!stepper_) {
      ThrowUnmade("Simulation");
    }
    const std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
    if (!lock.owns_lock()) {
      return "<velmoth.Simulation: " + std::to_string(n_) + " joints, running>";
    }
    return "<velmoth.Simulation: " + std::to_string(n_) + " joints, " +
           StepOptionsText(stepper_->Options()) + ", tick " + std::to_string(tick_) + ">";
  }

  const std::shared_ptr<ArmModel>& Arm() const { return arm_; }
  // The forces held; with Busy held.
  HeldForces& Forces() { return *forces_; }
  std::size_t Dof() const { return n_; }
  uint64_t Tick() {
    Busy busy(*this);
    return tick_;
  }

 private:
  void ReadInput(py::handle value, const char* what) {
    ReadJointVector(value, n_, what, values_.data());
    for (std::size_t i = 0; i < n_; ++i) {
      input_(static_cast<uint32_t>(i), 0) = values_[i];
    }
  }

  // A start outside the joint limits is put at the nearest, with a LimitWarning; the energies are
  // then those of the state it starts from.
  void ClampStart() {
    const std::string notice = ClampStartToLimits(*robot_);
    if (notice.empty()) {
      return;
    }
    RefreshEnergies();
    if (PyErr_WarnEx(LimitWarningType().ptr(), notice.c_str(), 2) != 0) {
      throw py::error_already_set();
    }
  }

  // AccuracyWarning for the first tick of a run (or a step) that reached the step's cap.
  static void WarnCapped(const StepReport& report, uint64_t tick) {
    const std::string text = CapMessage(report, tick) + "; the run went on";
    if (PyErr_WarnEx(AccuracyWarningType().ptr(), text.c_str(), 1) != 0) {
      throw py::error_already_set();
    }
  }

  // AccuracyWarning for the first tick of a balance that found it off beyond the step's allowance.
  static void WarnOffBalance(const StepReport& report, uint64_t tick) {
    const std::string text = BalanceMessage(report, tick) + "; the run went on";
    if (PyErr_WarnEx(AccuracyWarningType().ptr(), text.c_str(), 1) != 0) {
      throw py::error_already_set();
    }
  }

  // DivergenceWarning for the tick that diverged, its cause and remedy, and what followed.
  static void WarnDiverged(const StepReport& report, uint64_t tick, const char* then) {
    const std::string text = DivergenceMessage(report, tick) + "; " + then;
    if (PyErr_WarnEx(DivergenceWarningType().ptr(), text.c_str(), 1) != 0) {
      throw py::error_already_set();
    }
  }

  void KeepTorque(const matrix<double>& tau) {
    for (std::size_t i = 0; i < n_; ++i) {
      tau_[i] = tau(static_cast<uint32_t>(i), 0);
    }
  }

  void SetGravity(py::handle value) {
    double g[3];
    ReadGravity(value, g);
    for (uint32_t k = 0; k < 3; ++k) {
      robot_->gravity(k, 0) = g[k];
    }
  }

  // The energies of the state as it stands, by the engine of the next tick: those of a new start,
  // or of a state or gravity set between ticks (until the next tick reports its own).
  void RefreshEnergies() {
    std::vector<double> q(n_), qd(n_);
    for (std::size_t i = 0; i < n_; ++i) {
      q[i] = robot_->links[i]->q;
      qd[i] = robot_->links[i]->qd;
    }
    if (!AllFinite(q) || !AllFinite(qd)) {
      return;
    }
    double kinetic = 0.0, potential = 0.0;
    const std::unique_ptr<Robot> copy = CloneRobot(*robot_);
    MakeEquation(stepper_->Options().engine, *copy)
        ->Energies(*copy, q.data(), qd.data(), kinetic, potential);
    robot_->kineticEnergy = kinetic;
    robot_->potentialEnergy = potential;
    // The energy balance at this state: as the last tick left it, or afresh from here.
    if (!stepper_->BalanceGoesOn(robot_->work, robot_->dissipated, robot_->startEnergy)) {
      robot_->work = robot_->dissipated = 0.0;
      robot_->startEnergy = kinetic + potential;
    }
  }

  // A new start: joint state (zeros where None), no acceleration.
  void SetState(py::handle q, py::handle qd, const char* qName = "q", const char* qdName = "qd") {
    std::vector<double> qs(n_), qds(n_);
    ReadJointVector(q, n_, qName, qs.data());
    ReadJointVector(qd, n_, qdName, qds.data());
    for (std::size_t i = 0; i < n_; ++i) {
      Link& link = *robot_->links[i];
      link.q = qs[i];
      link.qd = qds[i];
      link.qdd = 0.0;
    }
  }

  static bool AllFinite(const std::vector<double>& v) {
    for (double x : v) {
      if (!std::isfinite(x)) {
        return false;
      }
    }
    return true;
  }

  // velmoth-sim's test of a tick: its torques and the state it left.
  bool Finite(const matrix<double>& tau) const {
    for (uint32_t i = 0; i < tau.RowCount(); ++i) {
      if (!std::isfinite(tau(i, 0))) {
        return false;
      }
    }
    return StateIsFinite(*robot_);
  }

  py::array_t<double> Column(const matrix<double>& m) {
    py::array_t<double> array(static_cast<py::ssize_t>(m.RowCount()));
    double* a = array.mutable_data();
    for (uint32_t i = 0; i < m.RowCount(); ++i) {
      a[i] = m(i, 0);
    }
    return array;
  }

  std::shared_ptr<ArmModel> arm_;
  std::unique_ptr<Robot> robot_;
  std::size_t n_;
  std::unique_ptr<Stepper> stepper_;
  std::shared_ptr<Controller> controller_;  // the stepper's, kept over a reset
  std::unique_ptr<HeldForces> forces_;      // apply_force's and apply_wrench's
  matrix<double> input_;                    // the tick's torques or accelerations, n x 1
  std::vector<double> values_;              // a joint vector read or written
  std::vector<double> tau_;                 // the last tick's torques, applied or found
  uint64_t tick_ = 0;
  std::mutex busy_;
};

const char* const kSimulationDoc =
    R"doc(An arm in motion: its state and the tick of the Velmoth window and velmoth-sim.

Simulation(robot, *, engine=None, integrator=None, substeps=None,
           tolerance=None, viscous=None, coulomb=None, gravity=(0, 0, -9.81),
           q0=None, qd0=None, limits=True, friction=None, effort_limits=False,
           controller=None)

Every tick advances the arm by 0.01 s with the very code both programs run
(their Stepper), with the same defaults: the built-in arm takes the closed
form with the Euler step, an arm from a URDF file the recursive engine with
the error-controlled dopri5 step at tolerance 1e-9, one substep each,
viscous and Coulomb friction 0.1 and gravity (0, 0, -9.81) unless told
otherwise. So a run from a new Simulation is bit for bit what ``velmoth-sim
run`` prints with the same options:

    >>> import velmoth
    >>> arm = velmoth.Robot.builtin(2)
    >>> sim = velmoth.Simulation(arm, viscous=0, coulomb=0)
    >>> run = sim.run(1000, every=10)
    >>> run.q[-1], run.total[-1]

is velmoth-sim run --links 2 --viscous 0 --coulomb 0 --ticks 1000 --every 10.

Vectors are NumPy arrays of one element per moving joint (robot.dof); any
sequence of finite numbers of that length is taken, None means zeros. A
vector of the wrong length or with an element that is not finite raises
ValueError before anything is computed.

engine        'closed-form' or 'recursive' (default: the robot's)
integrator    'euler', 'implicit', 'rk4' or 'dopri5' (default: the robot's)
substeps      substeps per tick, 1 to 1000 (the implicit step may add more;
              for dopri5 the fewest steps per tick)
tolerance     dopri5's tolerance, 1e-12 to 0.01: the local error allowed per
              step, absolute and relative, of each joint position and
              velocity and of the work and dissipated energy
viscous       the panel's viscous friction coefficient (default: 0.1)
coulomb       the panel's Coulomb friction level (default: 0.1)
friction      'file': each joint with <dynamics damping friction> in its
              URDF file takes its own coefficients, the others viscous and
              coulomb; 'uniform': every joint takes viscous and coulomb
              (default: 'file', but 'uniform' when viscous or coulomb is
              given)
gravity       the gravity vector (3,)
q0, qd0       joint positions and velocities to start from (default: zero,
              at rest); a joint outside its limits starts at the nearest,
              with a velmoth.LimitWarning
limits        whether the joints stop at their file's limits (default: True;
              the built-in arm has none)
effort_limits whether the torques saturate at the joints' efforts (default:
              False)

step(torque) runs one forward tick and step_inverse(accel) one inverse tick
from Python; run(ticks, ...) runs many in C++, releasing the GIL (a
controller, if given, is called with the GIL once per tick), and returns a
Trajectory. terms() evaluates the equation of motion of the current state
without stepping. The state (q, qd), friction, gravity and the step can be
changed between ticks, as in the window. apply_force and apply_wrench hold
forces on the arm's frames until changed (velmoth-sim --force), and
run(forces=f) adds those of f(time) tick by tick.

work and dissipated (and a Trajectory's columns of them) keep the energy
balance of forward ticks: total - work + dissipated stays at the energy the
balance started from. It starts afresh when the state or gravity is set
from outside the ticks, at reset(), and after an inverse tick.

A tick that reaches the step's cap of internal steps ends at the accuracy
the cap allows; run() then warns once with velmoth.AccuracyWarning. So does
the first tick that leaves the balance off, either way, by more than 1e-3
of the motion's energy (its largest kinetic energy, or its potential
energy's swing) since it started: the step is too coarse for the motion.

A Simulation takes one call at a time: a call while a run is going on in
another thread (or from the run's own controller) raises RuntimeError.
Different Simulations run in parallel threads freely, also of the same
Robot.)doc";

}  // namespace

void BindSimulation(py::module_& m) {
  // Methods take the simulation by reference, never as a pointer: an instance that Python made
  // without __init__ (Simulation.__new__) is then refused instead of followed.
  using S = Simulation;
  py::class_<S>(m, "Simulation", Doc(kSimulationDoc))
      .def(py::init<std::shared_ptr<ArmModel>, py::handle, py::handle, py::handle, py::handle,
                    py::handle, py::handle, py::handle, py::handle, py::handle, py::handle,
                    py::handle, py::handle, py::handle>(),
           py::arg("robot"), py::kw_only(), py::arg("engine") = py::none(),
           py::arg("integrator") = py::none(), py::arg("substeps") = py::none(),
           py::arg("tolerance") = py::none(), py::arg("viscous") = py::none(),
           py::arg("coulomb") = py::none(), py::arg("gravity") = py::make_tuple(0.0, 0.0, -9.81),
           py::arg("q0") = py::none(), py::arg("qd0") = py::none(), py::arg("limits") = true,
           py::arg("friction") = py::none(), py::arg("effort_limits") = false,
           py::arg("controller") = py::none(),
           Doc("Simulation(robot, *, engine=None, integrator=None, substeps=None, tolerance=None, "
               "viscous=None, coulomb=None, gravity=(0, 0, -9.81), q0=None, qd0=None, "
               "limits=True, friction=None, effort_limits=False, controller=None)\n\n"
               "A simulation of a copy of `robot` starting at q0, qd0 (default: zero, at rest; "
               "a joint outside its limits starts at the nearest, with a LimitWarning), tick 0. "
               "engine, integrator, substeps and tolerance default to the robot's; viscous and "
               "coulomb to 0.1 (see the class). controller: a velmoth.Controller (Gravity, PD, "
               "ComputedTorque, TaskPD) whose torques the forward ticks add to theirs."))
      .def(
          "step", [](S& s, py::handle torque) { return s.Step(torque); },
          py::arg("torque") = py::none(),
          Doc("step(torque=None) -> numpy.ndarray\n\nOne forward tick of 0.01 s with the joint "
              "torques `torque` (n,) (zeros for None), as velmoth-sim run --mode forward ticks: "
              "the "
              "accelerations the torques cause are integrated. Returns the tick's mean "
              "accelerations (its change of velocity over 0.01 s, not the accelerations at the "
              "state it leaves), (n,). A tick whose state stops being finite "
              "raises nothing: see `finite`; one whose step made energy without work "
              "warns with velmoth.DivergenceWarning."))
      .def(
          "step_inverse", [](S& s, py::handle accel) { return s.StepInverse(accel); },
          py::arg("accel") = py::none(),
          Doc("step_inverse(accel=None) -> numpy.ndarray\n\nOne inverse tick with the joint "
              "accelerations `accel` (n,): they are integrated over 0.01 s, then the torques that "
              "produce them at the new state are found and returned, (n,), as velmoth-sim run "
              "--mode inverse ticks."))
      .def(
          "run",
          [](S& s, long long ticks, py::handle torque, const std::string& mode, py::handle accel,
             long long every, py::handle controller, bool start, py::handle frames, bool exactQdd,
             py::handle forces) {
            return s.Run(ticks, torque, mode, accel, every, controller, start, frames, exactQdd,
                         forces);
          },
          py::arg("ticks") = 100, py::arg("torque") = py::none(), py::kw_only(),
          py::arg("mode") = "forward", py::arg("accel") = py::none(), py::arg("every") = 1,
          py::arg("controller") = py::none(), py::arg("start") = false,
          py::arg("frames") = py::none(), py::arg("exact_qdd") = false,
          py::arg("forces") = py::none(),
          Doc(R"doc(run(ticks=100, torque=None, *, mode='forward', accel=None, every=1, controller=None, start=False, frames=None, exact_qdd=False, forces=None) -> Trajectory

Runs `ticks` ticks in C++ and returns every `every`-th as a row of a
Trajectory, as ``velmoth-sim run --ticks TICKS --every K`` prints them (from
a new Simulation, bit for bit). mode='forward' applies the constant torques
`torque` (n,); mode='inverse' imposes the constant accelerations `accel`
(n,) and records the torques they take. The rows' tick numbers go on from
the simulation's `tick`. start=True adds first a row of the state the run
starts from (tick 0 of a new Simulation): its q and qd, the last tick's qdd
and tau (zeros before the first tick) and the energies of that state.
frames=['tool0', ...] records those frames' positions in every row
(Trajectory.frames, Robot.frame_names); exact_qdd=True the accelerations at
each row's state (Trajectory.exact_qdd), which Trajectory.qdd is not.

controller, if given, is called before every tick as controller(time, q,
qd), with the time (s) and the joint positions and velocities (n,) the tick
starts from, and returns the tick's torques (forward) or accelerations
(inverse), (n,); `torque` or `accel` must then be None. A velmoth.Controller
instead becomes sim.controller, evaluated in C++ (see Controller), and the
run records its reference and error (Trajectory.reference, .error). It must not call
this Simulation (it would be refused as busy). An exception it raises, or a
vector it returns of the wrong length or not finite, or None, ends the run
there: the simulation keeps the ticks done.

forces, if given, is called before every tick as forces(time) and returns
the loads that act over that tick besides those held (apply_force): None,
one load (frame, vector[, point[, axes]]) or a list of them, as
forward_dynamics' wrench takes them: a push for some ticks, an impulse of
one (the force times 0.01 s). It is called with the GIL, like a controller.

The GIL is released during the run, so other threads go on (and runs of
other Simulations on other threads go on in parallel); with a controller it
is taken for each call only. Ctrl-C ends a long run on the main thread with
KeyboardInterrupt within a twentieth of a second (after the tick going on).
An interpreter that exits while a run goes on in another thread ends with
it, cleanly.
When a tick leaves the state or the torques not finite, or its step made
energy without work (more than a tenth of the largest kinetic or potential
energy since the balance started: a state plainly unphysical though
finite), the run goes on, as velmoth-sim's does, and then warns once with
velmoth.DivergenceWarning, naming the cause and the remedy;
Trajectory.diverged_at gives that first tick. A tick that reaches the
step's cap of internal steps, and the first that leaves the energy balance
off by more than 1e-3 of the motion's energy, warn once with
velmoth.AccuracyWarning.)doc"))
      .def(
          "terms",
          [](S& s, py::handle torque, py::handle accel, py::handle q, py::handle qd,
             py::handle engine) { return s.EvaluateTermsHere(torque, accel, q, qd, engine); },
          py::arg("torque") = py::none(), py::arg("accel") = py::none(), py::kw_only(),
          py::arg("q") = py::none(), py::arg("qd") = py::none(), py::arg("engine") = py::none(),
          Doc("terms(torque=None, accel=None, *, q=None, qd=None, engine=None) -> Terms\n\nThe "
              "equation of motion of the current state (or of q, qd where given) with the "
              "simulation's friction and gravity, as ``velmoth-sim terms`` evaluates it: M, C, G, "
              "F and the energies in closed form, the exact accelerations of `torque` (qdd) and "
              "the torques of `accel` (tau) by `engine` (default: the simulation's). Nothing "
              "changes: the simulation neither steps nor moves."))
      .def(
          "apply_force",
          [](S& s, py::handle frame, py::handle force, py::handle point, py::handle axes) {
            S::Busy busy(s);
            s.Forces().Hold(frame, force, point, axes, false);
          },
          py::arg("frame"), py::arg("force"), py::arg("point") = py::make_tuple(0.0, 0.0, 0.0),
          py::arg("axes") = "world",
          Doc("apply_force(frame, force, point=(0, 0, 0), axes='world')\n\nHolds the force "
              "(fx, fy, fz) in N on `frame` at `point` (in the frame's coordinates, m) from the "
              "next forward tick until changed, as ``velmoth-sim --force FRAME:fx,fy,fz@px,py,pz`` "
              "does: every state the step evaluates takes the joint torques J_p(q)^T F, and the "
              "energy balance's work counts them. axes='world' gives the force in the world's "
              "(the base frame's) axes, 'frame' in the frame's own, turning with it. A force at "
              "the same frame, point and axes replaces the one held there; a zero force takes it "
              "away. `tau` stays the motors' torques."))
      .def(
          "apply_wrench",
          [](S& s, py::handle frame, py::handle wrench, py::handle point, py::handle axes) {
            S::Busy busy(s);
            s.Forces().Hold(frame, wrench, point, axes, true);
          },
          py::arg("frame"), py::arg("wrench"), py::arg("point") = py::make_tuple(0.0, 0.0, 0.0),
          py::arg("axes") = "world",
          Doc("apply_wrench(frame, wrench, point=(0, 0, 0), axes='world')\n\nHolds the wrench "
              "(fx, fy, fz, mx, my, mz), a force in N at `point` and a moment in N m, on `frame` "
              "until changed, as apply_force holds a force: the joints take J_p(q)^T F + "
              "J_w(q)^T N."))
      .def(
          "clear_forces",
          [](S& s, py::handle frame) {
            S::Busy busy(s);
            s.Forces().Clear(frame);
          },
          py::arg("frame") = py::none(),
          Doc("clear_forces(frame=None)\n\nLets go of every force and wrench held, or of those on "
              "`frame`."))
      .def_property_readonly(
          "forces",
          [](S& s) {
            S::Busy busy(s);
            return s.Forces().List();
          },
          Doc("The forces and wrenches held: a list of (frame, wrench (6,), point (3,), axes), "
              "the wrench's force first."))
      .def(
          "reset", [](S& s, py::handle q, py::handle qd) { s.Reset(q, qd); },
          py::arg("q") = py::none(), py::arg("qd") = py::none(),
          Doc("reset(q=None, qd=None)\n\nStarts again as a new Simulation of the same robot, "
              "with the same step, friction and gravity: at q, qd (default: zero, at rest, as the "
              "window's Reset), tick 0, with "
              "the energies of that state and a fresh step (the energy balance, the step size "
              "carried and the implicit step's refinement start anew)."))
      .def(
          "kinematics", [](S& s) { return s.Kinematics(); },
          Doc("kinematics() -> Kinematics\n\nThe poses, Jacobians and J-dot qd of the arm's "
              "frames in the current state (q, qd): velmoth.kinematics(sim.robot, sim.q, "
              "sim.qd)."))
      .def_property_readonly(
          "robot", [](const S& s) { return s.Arm(); },
          Doc("The Robot simulated (the simulation steps a copy)."))
      .def_property_readonly(
          "dof", [](const S& s) { return s.Dof(); }, Doc("The number of moving joints, n."))
      .def_property(
          "q", [](S& s) { return s.Joint(&Link::q); },
          [](S& s, py::handle v) { s.SetJoint(&Link::q, v, "q"); },
          Doc("Joint positions (n,), rad (m for a sliding joint). Setting them moves the arm "
              "before the next tick."))
      .def_property(
          "qd", [](S& s) { return s.Joint(&Link::qd); },
          [](S& s, py::handle v) { s.SetJoint(&Link::qd, v, "qd"); },
          Doc("Joint velocities (n,). Setting them takes effect from the next tick."))
      .def_property_readonly(
          "qdd", [](S& s) { return s.Joint(&Link::qdd); },
          Doc("The last tick's mean accelerations (n,): its change of velocity over 0.01 s, "
              "not the accelerations at the state it left (Simulation.terms(tau).qdd are)."))
      .def_property_readonly(
          "tau", [](S& s) { return s.Torque(); },
          Doc("The last tick's joint torques (n,): applied (step, forward runs) or found "
              "(step_inverse, inverse runs); zeros before the first tick."))
      .def_property_readonly(
          "kinetic", [](S& s) { return s.Number(&Robot::kineticEnergy); },
          Doc("The kinetic energy the last tick reported, J (of the state at the start of a "
              "forward tick, at the end of an inverse one); before the first tick, and after q, "
              "qd or gravity are set, that of the state as it stands."))
      .def_property_readonly(
          "potential", [](S& s) { return s.Number(&Robot::potentialEnergy); },
          Doc("The potential energy the last tick reported, J; before the first tick, and after "
              "q, qd or gravity are set, that of the state as it stands."))
      .def_property_readonly(
          "total", [](S& s) { return s.Total(); }, Doc("kinetic + potential, J."))
      .def_property_readonly(
          "work", [](S& s) { return s.Number(&Robot::work); },
          Doc("The work of the joint torques since the energy balance started, J, at the instant "
              "of `kinetic` and `potential` (0 after an inverse tick)."))
      .def_property_readonly(
          "dissipated", [](S& s) { return s.Number(&Robot::dissipated); },
          Doc("The energy friction took since the energy balance started, J, at the instant of "
              "`kinetic` and `potential` (0 after an inverse tick). total - work + dissipated is "
              "the energy the balance started from."))
      .def_property(
          "viscous", [](S& s) { return s.Number(&Robot::viscousFriction); },
          [](S& s, py::handle v) { s.SetFriction(&Robot::viscousFriction, v, "viscous"); },
          Doc("The panel's viscous friction coefficient, N m s/rad: of every joint with "
              "friction='uniform', of the joints without their own with 'file'. Setting it sets "
              "friction='uniform', as the window's Set does."))
      .def_property(
          "coulomb", [](S& s) { return s.Number(&Robot::coulombFriction); },
          [](S& s, py::handle v) { s.SetFriction(&Robot::coulombFriction, v, "coulomb"); },
          Doc("The panel's Coulomb friction level, N m: of every joint with friction='uniform', of "
              "the joints without their own with 'file'. Setting it sets friction='uniform'."))
      .def_property(
          "friction", [](S& s) { return s.Friction(); },
          [](S& s, py::handle v) { s.SetFrictionSource(v); },
          Doc("Which friction coefficients the joints take: 'file', each joint with "
              "<dynamics damping friction> in its URDF file its own (Robot.joint_damping, "
              "Robot.joint_friction) and the others `viscous` and `coulomb`; or 'uniform', every "
              "joint those."))
      .def_property(
          "limits", [](S& s) { return s.Flag(&Robot::limits); },
          [](S& s, py::handle v) { s.SetFlag(&Robot::limits, v, "limits"); },
          Doc("Whether the joints stop at their limits (Robot.lower_limits, upper_limits): an "
              "inelastic impact, whose energy goes to `dissipated`, then held there while pushed "
              "into them. Switched on with a joint outside, it is put at the nearest limit (a "
              "LimitWarning). The closed form's Euler tick ignores them."))
      .def_property(
          "effort_limits", [](S& s) { return s.Flag(&Robot::effortLimits); },
          [](S& s, py::handle v) { s.SetFlag(&Robot::effortLimits, v, "effort_limits"); },
          Doc("Whether the torques of forward ticks saturate at the joints' efforts "
              "(Robot.efforts); `tau` and a run's tau are then the torques applied."))
      .def_property_readonly(
          "at_limit", [](S& s) { return s.AtLimit(); },
          Doc("Where each joint is against its limits (n,), int8: -1 at its lower limit, 1 at its "
              "upper one, 0 between them (always 0 with limits off)."))
      .def_property_readonly(
          "saturated", [](S& s) { return s.Saturated(); },
          Doc("Which joints' torques the last forward tick saturated at their efforts (n,), "
              "bool."))
      .def_property(
          "gravity", [](S& s) { return s.Gravity(); },
          [](S& s, py::handle g) { s.SetGravityChecked(g); },
          Doc("The gravity vector (3,) in the base frame, m/s^2."))
      .def_property(
          "engine", [](S& s) { return std::string(EngineName(s.Options().engine)); },
          [](S& s, const std::string& name) {
            StepOptions o = s.Options();
            o.engine = EngineFromName(name);
            s.SetOptions(o);
          },
          Doc("The engine of the next ticks: 'closed-form' or 'recursive'."))
      .def_property(
          "integrator", [](S& s) { return std::string(IntegratorName(s.Options().integrator)); },
          [](S& s, const std::string& name) {
            StepOptions o = s.Options();
            o.integrator = IntegratorFromName(name);
            s.SetOptions(o);
          },
          Doc("The integrator of the next ticks: 'euler', 'implicit', 'rk4' or 'dopri5'."))
      .def_property(
          "substeps", [](S& s) { return s.Options().substeps; },
          [](S& s, py::handle substeps) {
            StepOptions o = s.Options();
            o.substeps = CheckedSubsteps(WholeArgument(substeps, "substeps"));
            s.SetOptions(o);
          },
          Doc("Substeps per tick of the next ticks, 1 to 1000 (dopri5: the fewest steps per "
              "tick)."))
      .def_property(
          "tolerance", [](S& s) { return s.Options().tolerance; },
          [](S& s, py::handle value) { s.SetTolerance(value); },
          Doc("dopri5's tolerance for the next ticks, 1e-12 to 0.01: the local error allowed per "
              "step, absolute and relative, of each joint position and velocity and of the work "
              "and dissipated energy."))
      .def_property_readonly(
          "last_substeps", [](S& s) { return s.LastSubsteps(); },
          Doc("The internal steps the last forward tick took: `substeps`, more where the implicit "
              "step refined or an event cut a substep; dopri5's steps, rejected ones included."))
      .def_property(
          "controller", [](S& s) { return s.GetController(); },
          [](S& s, py::handle c) { s.SetController(c); },
          Doc("The velmoth.Controller whose torques the forward ticks add to theirs, or None (the "
              "torques given alone). Set, it takes effect from the next tick; its reference starts "
              "afresh there when its law, target or trajectory is new (and after q, qd or "
              "reset() set the pose)."))
      .def_property_readonly(
          "reference", [](S& s) { return s.Tracking(false); },
          Doc("The controller's reference now, (n,) (TaskPD: its frame's x*, (3,)), or None "
              "(no reference, or none started yet)."))
      .def_property_readonly(
          "error", [](S& s) { return s.Tracking(true); },
          Doc("The reference less the joint positions now (TaskPD: less the frame's position), or "
              "None."))
      .def_property_readonly(
          "tick", [](S& s) { return s.Tick(); }, Doc("Ticks since the start (or the last reset)."))
      .def_property_readonly(
          "time", [](S& s) { return static_cast<double>(s.Tick()) * kTimeStep; },
          Doc("Simulated time since the start, s: tick x 0.01."))
      .def_property_readonly(
          "finite", [](S& s) { return s.StateFinite(); },
          Doc("Whether every joint position, velocity and acceleration and both "
              "energies are finite; False once a run has diverged into numbers that are "
              "not (a run whose step made energy without work diverges finite: "
              "see velmoth.DivergenceWarning and Trajectory.diverged_at)."))
      .def("__repr__", [](S& s) { return s.Repr(); });
}
