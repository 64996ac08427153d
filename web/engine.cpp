// The engine as the page sees it: one Simulation (the arm, its Stepper and the user's inputs, as
// the window's physics thread keeps them), the panel's text formats, the arm's shapes as the URDF
// parser reads them, and the tick clock that paces the window. The page's worker owns one
// Simulation and one Pacer; nothing here knows the page.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <urdf_parser/urdf_parser.h>
#include <CLI/CLI.hpp>

#include "app/tick_clock.h"
#include "control/control_model.h"
#include "control/controller.h"
#include "control/default_gains.h"
#include "control/tool_readout.h"
#include "recursive/chain.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/control_options.h"
#include "simulation/external_forces.h"
#include "simulation/force_options.h"
#include "simulation/joint_limits.h"
#include "simulation/payload.h"
#include "simulation/replay.h"
#include "simulation/run_csv.h"
#include "simulation/step_options.h"
#include "simulation/step_report.h"
#include "simulation/stepper.h"
#include "simulation/text_fields.h"
#include "urdf/urdf_loader.h"

using emscripten::val;

namespace {

std::vector<double> NumbersOf(const val& array) {
  return emscripten::vecFromJSArray<double>(array);
}

val ArrayOf(const double* values, std::size_t n) {
  val array = val::array();
  for (std::size_t i = 0; i < n; ++i) {
    array.call<void>("push", values[i]);
  }
  return array;
}

val ArrayOf(const matrix<double>& column) {
  val array = val::array();
  for (uint32_t i = 0; i < column.RowCount(); ++i) {
    array.call<void>("push", column(i, 0));
  }
  return array;
}

val StringsOf(const std::vector<std::string>& texts) {
  val array = val::array();
  for (const std::string& text : texts) {
    array.call<void>("push", text);
  }
  return array;
}

// A pose x -> r x + p as 16 numbers of a 4 x 4 matrix, column by column (three.js's order).
void PushPose(val& out, const spatial::Transform& x) {
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      const double v = r == 3 ? (c == 3 ? 1.0 : 0.0)
                              : (c == 3 ? (r == 0   ? x.p.x
                                           : r == 1 ? x.p.y
                                                    : x.p.z)
                                        : x.r.m[r][c]);
      out.call<void>("push", v);
    }
  }
}

// An n x 1 vector of values, 0 where they end (a new matrix's elements are not set).
matrix<double> Column(const std::vector<double>& values, uint32_t n) {
  matrix<double> v(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    v(i, 0) = i < values.size() ? values[i] : 0.0;
  }
  return v;
}

// The diagonal of a square matrix, row-major.
val Diagonal(const std::vector<double>& m) {
  const auto n = static_cast<std::size_t>(std::lround(std::sqrt(static_cast<double>(m.size()))));
  val out = val::array();
  for (std::size_t i = 0; i < n; ++i) {
    out.call<void>("push", m[i * n + i]);
  }
  return out;
}

}  // namespace

// The arm, its step and what the user set, ticked as the window ticks it.
class Simulation {
 public:
  Simulation() { LoadBuiltIn(kBuiltInLinkCount); }

  // The built-in arm of `links` links (0 to 100), with the panel's defaults.
  bool LoadBuiltIn(int links) {
    if (links < 0 || links > kUrdfMaxMovingJoints) {
      error_ = "the built-in arm has 0 to 100 links, not " + std::to_string(links);
      return false;
    }
    Adopt(MakeBuiltInRobot(links), false);
    return true;
  }

  // The arm of a URDF description, loaded as velmoth-sim loads a file: false with Error() set when
  // it is refused; Notices() then are the lines velmoth-sim prints after loading it.
  bool LoadUrdf(const std::string& text, const std::string& source, const std::string& tip) {
    if (text.size() > kUrdfMaxFileBytes) {
      error_ = source + ": the file is larger than 16 MiB";
      return false;
    }
    std::string error;
    std::vector<std::string> notices;
    std::unique_ptr<Robot> robot =
        LoadUrdfRobotFromText(text, source, error, UrdfOptions{tip}, &notices);
    if (!robot) {
      error_ = error;
      return false;
    }
    const std::string clamped = Adopt(std::move(robot), true);
    notices_ = std::move(notices);
    if (!clamped.empty()) {
      notices_.push_back(source + ": " + clamped);
    }
    return true;
  }

  std::string Error() const { return error_; }
  val Notices() const { return StringsOf(notices_); }
  bool FromFile() const { return fromFile_; }
  int JointCount() const { return static_cast<int>(robot_->links.size()); }
  std::string Name() const { return robot_->name; }

  val JointNames() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < robot_->links.size(); ++i) {
      names.push_back(JointName(*robot_, i));
    }
    return StringsOf(names);
  }
  // Each joint's range, -Infinity and Infinity where it has none.
  val Lower() const {
    return JointValues([](const Link& l) { return l.lower; });
  }
  val Upper() const {
    return JointValues([](const Link& l) { return l.upper; });
  }
  bool HasLimits() const { return HasJointLimits(*robot_); }
  bool HasFileFriction() const { return ::HasFileFriction(*robot_); }

  // The user's inputs, from the next tick on.
  void SetInverse(bool inverse) { inverse_ = inverse; }
  bool Inverse() const { return inverse_; }
  void SetTorque(const val& torque) { torque_ = Column(NumbersOf(torque), N()); }
  void SetAccel(const val& accel) { accel_ = Column(NumbersOf(accel), N()); }
  val Torque() const { return ArrayOf(torque_); }
  val Accel() const { return ArrayOf(accel_); }

  // The panel's "Set": friction coefficients and gravity.
  void SetParameters(double viscous, double coulomb, const val& gravity) {
    robot_->viscousFriction = viscous;
    robot_->coulombFriction = coulomb;
    const std::vector<double> g = NumbersOf(gravity);
    for (uint32_t i = 0; i < 3; ++i) {
      robot_->gravity(i, 0) = i < g.size() ? g[i] : 0.0;
    }
  }
  double Viscous() const { return robot_->viscousFriction; }
  double Coulomb() const { return robot_->coulombFriction; }
  val Gravity() const { return ArrayOf(robot_->gravity); }

  // The step: false, changing nothing, for a name that is none of the programs'.
  bool SetStep(const std::string& engine, const std::string& integrator, int substeps,
               double tolerance) {
    const auto e = EngineNamed(engine);
    const auto i = IntegratorNamed(integrator);
    if (!e || !i || !std::isfinite(tolerance)) {
      return false;
    }
    StepOptions options{*e, *i, std::clamp(substeps, 1, kMaxSubsteps),
                        std::clamp(tolerance, kMinTolerance, kMaxTolerance)};
    stepper_->SetOptions(options);
    return true;
  }
  std::string Engine() const { return EngineName(stepper_->Options().engine); }
  std::string Integrator() const { return IntegratorName(stepper_->Options().integrator); }
  int Substeps() const { return stepper_->Options().substeps; }
  double Tolerance() const { return stepper_->Options().tolerance; }
  std::string StepText() const { return StepOptionsText(stepper_->Options()); }

  // The arm's own physics, as the window's strip sets it. Limits going on put a joint outside
  // them at the nearest; the notice says which (empty when none moved).
  std::string SetLimits(bool on) {
    robot_->limits = on;
    std::string notice = ClampStartToLimits(*robot_);
    if (!notice.empty() && recording_) {
      // Before the recording's first tick, its start.
      (begun_ ? setQ_ : startQ_) = JointPositions();
    }
    return notice;
  }
  bool Limits() const { return robot_->limits; }
  bool SetFrictionSource(const std::string& source) {
    if (source != "file" && source != "uniform") {
      return false;
    }
    robot_->frictionSource = source == "file" ? FrictionSource::kFile : FrictionSource::kUniform;
    return true;
  }
  std::string FrictionSourceName() const {
    return robot_->frictionSource == FrictionSource::kFile ? "file" : "uniform";
  }
  void SetEffortLimits(bool on) { robot_->effortLimits = on; }
  bool EffortLimits() const { return robot_->effortLimits; }

  // Joint positions and velocities set from outside (a start, a replay); the balance starts afresh.
  // The notice of ClampStartToLimits, or "".
  std::string SetState(const val& q, const val& qd) {
    const std::vector<double> qs = NumbersOf(q);
    const std::vector<double> qds = NumbersOf(qd);
    diverged_ = false;
    for (std::size_t i = 0; i < robot_->links.size(); ++i) {
      robot_->links[i]->q = i < qs.size() ? qs[i] : 0.0;
      robot_->links[i]->qd = i < qds.size() ? qds[i] : 0.0;
    }
    return ClampStartToLimits(*robot_);
  }

  // One tick of the window in the mode set: a forward tick of the user's torques or an inverse
  // tick of the user's accelerations. The accelerations and torques it leaves are Accelerations()
  // and Torques().
  void Tick() {
    if (!(forceSource_->Forces() == forces_)) {
      forceSource_->Set(forces_);  // checked when they were set
    }
    forceSource_->ApplyTo(*stepper_);
    if (recording_) {
      RecordInputs();
    }
    matrix<double> accel = accel_;
    matrix<double> torque = TickTorque();
    if (inverse_) {
      CopyInto(lastTorque_, stepper_->Inverse(accel));
      CopyInto(lastAccel_, accel);
    } else {
      CopyInto(lastAccel_, stepper_->Forward(torque));
      CopyInto(lastTorque_, stepper_->LastTorque());
    }
    const StepReport& report = stepper_->LastReport();
    diverged_ = report.Diverged();
    ++ticks_;
    // What the page says of the tick's accuracy, in velmoth-sim's words: the first tick that
    // reached the step's cap, and the first tick of each balance that went off, while the state
    // is one the run goes on from.
    note_.clear();
    if (!inverse_ && !diverged_ && stepper_->LastCapped() && !capNoted_) {
      capNoted_ = true;
      note_ = CapMessage(report, ticks_);
    }
    if (!inverse_ && !diverged_ && report.offBalance) {
      note_ += (note_.empty() ? "" : "\n") + BalanceMessage(report, ticks_);
    }
  }
  // The last tick's note on its accuracy, or "".
  std::string TickNote() const { return note_; }
  // Ticks since the arm was loaded.
  double Ticks() const { return static_cast<double>(ticks_); }

  // The window's Reset: every joint to zero at rest (a zero outside a joint's limits at the
  // nearest limit). The inputs stay.
  std::string Reset() { return SetPose(val::array()); }

  // The teach panel's pose, taken while paused: a Reset to the joint positions q (at rest, each
  // outside its limits at the nearest), the controller's reference starting afresh from there.
  std::string SetPose(const val& pose) {
    const std::vector<double> q = NumbersOf(pose);
    diverged_ = false;
    robot_->ResetJointState();
    for (std::size_t i = 0; i < q.size() && i < robot_->links.size(); ++i) {
      robot_->links[i]->q = q[i];
    }
    std::string notice = ClampStartToLimits(*robot_);
    controller_->RestartReference();
    if (recording_) {
      RecordReset();
    }
    return notice;
  }

  // The replay of a recording (replay.h), as the window writes it beside its recording: from the
  // next tick on, the arm, the state it starts from and every input as it changed, so that
  // `velmoth-sim run --replay NAME.replay` repeats the recording NAME byte for byte. The step
  // starts afresh (RestartStep), as a recording's does. A file's arm is named by its source.
  void StartReplay(const std::string& recording, const std::string& source) {
    RestartStep();
    ReplayArm arm =
        fromFile_ ? ReplayArm{{"--urdf", source}} : ReplayArm{{"--links", std::to_string(N())}};
    for (const std::string& payload : payloads_) {
      arm.emplace_back("--payload", payload);
    }
    replay_ = ReplayHead(recording, arm);
    recording_ = true;
    begun_ = false;
    rows_ = 0;
    startQ_ = JointPositions();
    startQd_.clear();
    for (const auto& link : robot_->links) {
      startQd_.push_back(link->qd);
    }
    setQ_.clear();
  }
  // The replay's text, ended; the recording stops.
  std::string StopReplay() {
    if (!recording_) {
      return "";
    }
    recording_ = false;
    return replay_ + ReplayEnd(rows_);
  }

  // A new Stepper with the same options: the step starts afresh, as a recording's first tick and
  // velmoth-sim's do.
  void RestartStep() {
    const StepOptions options = stepper_->Options();
    stepper_ = std::make_unique<Stepper>(*robot_, options);
    stepper_->SetController(controller_);
  }

  // The controller of the forward ticks from the next tick on, chosen by velmoth-sim's options
  // (control_options.h), read as velmoth-sim reads them: "" or the problem, nothing changed then.
  std::string SetController(const val& options) {
    std::vector<std::string> args = emscripten::vecFromJSArray<std::string>(options);
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    CLI::App command;
    ControlChoice choice;
    AddControlOptions(command, choice);
    try {
      command.parse(args);
    } catch (const CLI::ParseError& e) {
      return e.what();
    }
    if (std::string problem = CheckControlChoice(command, choice); !problem.empty()) {
      return problem;
    }
    if (!choice.tool.empty() && recursive::FindFrame(frames_, choice.tool) < 0) {
      return "--tool: the arm has no frame '" + choice.tool + "'";
    }
    controller_->SetSettings(ResolveControl(choice, N()));
    return "";
  }
  // A payload fixed to a frame, as velmoth-sim's --payload FRAME:mass[@px,py,pz] gives it: "" or
  // the problem, the arm unchanged then. Taken at load, before the first tick: the arm's step,
  // controller and forces are made anew for the heavier link, the state and the inputs stay.
  std::string AddPayloadText(const std::string& text) {
    Payload payload;
    if (const std::string problem = ReadPayloadText(text, payload); !problem.empty()) {
      return AsOption(problem);
    }
    if (const std::string problem = AddPayload(*robot_, payload); !problem.empty()) {
      return "--payload " + text + ": " + problem;
    }
    payloads_.push_back(text);
    const StepOptions options = stepper_->Options();
    const ControllerSettings settings = controller_->Settings();
    stepper_ = std::make_unique<Stepper>(*robot_, options);
    controller_ = std::make_shared<Controller>(*robot_, settings);
    stepper_->SetController(controller_);
    model_ = recursive::BuildChainModel(*robot_);
    forceSource_ = std::make_unique<ForceSource>(*robot_);
    pullTorques_ = std::make_unique<ExternalTorques>(*robot_);
    return "";
  }
  val Payloads() const { return StringsOf(payloads_); }

  // The forces held from the next tick on, as velmoth-sim's --force options give them: the texts
  // FRAME:fx,fy,fz[@px,py,pz] apart by spaces, each may follow a "--force" (an empty text lets go
  // of all). "" or the problem with the first that does not fit, the forces unchanged then.
  std::string SetForcesText(const std::string& text) {
    std::vector<ExternalForce> forces;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t start = text.find_first_not_of(" \t\r\n", at);
      if (start == std::string::npos) {
        break;
      }
      const std::size_t end = std::min(text.find_first_of(" \t\r\n", start), text.size());
      at = end;
      const std::string word = text.substr(start, end - start);
      if (word == "--force") {
        continue;
      }
      ExternalForce force;
      if (const std::string problem = ReadForceText(word, force); !problem.empty()) {
        return AsOption(problem);
      }
      ExternalTorques check(*robot_);
      if (const std::string problem = check.Set({{force}, std::nullopt}); !problem.empty()) {
        return "--force " + word + ": " + problem;
      }
      forces.push_back(force);
    }
    forces_.forces = std::move(forces);
    return "";
  }
  // The forces held, as --force texts that read back as exactly these.
  val Forces() const {
    std::vector<std::string> texts;
    for (const ExternalForce& force : forces_.forces) {
      texts.push_back(ForceText(force));
    }
    return StringsOf(texts);
  }

  // The mouse's pull, as the window's: from the next tick on a spring pulls point `point` of link
  // `link` (in the link's frame) towards the world point `target`, with the stiffness, damping and
  // largest force of the arm's mass at the wheel's scale (PullGains). False, nothing changed, for
  // a link the arm lacks or a point that is not finite.
  bool StartPull(int link, const val& point, const val& target) {
    const std::vector<double> p = NumbersOf(point);
    const std::vector<double> t = NumbersOf(target);
    if (link < 0 || link >= JointCount() || p.size() != 3 || t.size() != 3 ||
        !std::all_of(p.begin(), p.end(), [](double v) { return std::isfinite(v); }) ||
        !std::all_of(t.begin(), t.end(), [](double v) { return std::isfinite(v); })) {
      return false;
    }
    Pull pull;
    pull.link = link;
    std::copy(p.begin(), p.end(), pull.point);
    std::copy(t.begin(), t.end(), pull.target);
    PullGains(ArmMass(*robot_), pullScale_, pull);
    forces_.pull = pull;
    return true;
  }
  // The cursor's point, from the next tick on; nothing without a pull or for a point not finite.
  void MovePull(const val& target) {
    const std::vector<double> t = NumbersOf(target);
    if (!forces_.pull || t.size() != 3 ||
        !std::all_of(t.begin(), t.end(), [](double v) { return std::isfinite(v); })) {
      return;
    }
    std::copy(t.begin(), t.end(), forces_.pull->target);
  }
  // The wheel: each step makes the spring stiffer (positive) or softer by kWheelFactor, from
  // kMinScale to kMaxScale times the arm's default; it stays for the pulls that follow.
  void WheelPull(int steps) {
    pullScale_ = std::clamp(pullScale_ * std::pow(kWheelFactor, steps), kMinScale, kMaxScale);
    if (forces_.pull) {
      PullGains(ArmMass(*robot_), pullScale_, *forces_.pull);
    }
  }
  void ReleasePull() { forces_.pull.reset(); }
  double PullScale() const { return pullScale_; }

  // The pull as the ticks take it at the state now, for the view and the strip: null without one,
  // else {link, name, point (world), target, newtons, stiffness (as the step allows it here)}.
  val PullState() {
    if (!forces_.pull) {
      return val::null();
    }
    const std::vector<double> q = JointPositions();
    std::vector<double> qd;
    for (const auto& link : robot_->links) {
      qd.push_back(link->qd);
    }
    const ControllerSettings& controller = controller_->Settings();
    const int samples = controller.kind != ControllerKind::kTorque && controller.samples > 0
                            ? controller.samples
                            : 1;
    pullTorques_->Set({{}, forces_.pull});
    pullTorques_->BeginTick(q.data(), Stepper::FixedStep(stepper_->Options(), samples));
    double point[3], force[3];
    pullTorques_->PullAt(q.data(), qd.data(), point, force);
    const Pull& pull = *forces_.pull;
    val out = val::object();
    out.set("link", pull.link);
    out.set("name", LinkName(pull.link));
    out.set("point", ArrayOf(point, 3));
    out.set("target", ArrayOf(pull.target, 3));
    out.set("newtons", std::sqrt(force[0] * force[0] + force[1] * force[1] + force[2] * force[2]));
    out.set("stiffness", pullTorques_->PullStiffness());
    return out;
  }

  // The name a person reads for link k: its file's name (the first frame fixed to it), or linkK.
  std::string LinkName(int k) const {
    for (const recursive::FrameModel& frame : frames_) {
      if (frame.link == k) {
        return frame.name;
      }
    }
    return "link" + std::to_string(k);
  }

  // The teach panel's target while a law follows one: joint positions, or the tool's position.
  void SetTarget(const val& target) {
    ControllerSettings settings = controller_->Settings();
    settings.target = NumbersOf(target);
    controller_->SetSettings(std::move(settings));
  }
  // The controller as the panel shows it: its law, its line, the target set (empty: none), the
  // pose its reference started from (empty: none yet), the options that give it exactly, and the
  // default gains' diagonals where the law makes them (at the target, else where the arm is).
  val Control() const {
    const ControllerSettings& s = controller_->Settings();
    val out = val::object();
    out.set("kind", std::string(ControllerName(s.kind)));
    out.set("tracks", Tracks(s.kind));
    out.set("text", ControllerText(s));
    out.set("target", ArrayOf(s.target.data(), s.target.size()));
    const std::optional<ReferenceStart> start = controller_->Start();
    out.set("from", start ? ArrayOf(start->from.data(), start->from.size()) : val::array());
    out.set("frame", s.frame);
    out.set("arguments", ControlArguments(s));
    if (Tracks(s.kind)) {
      const bool task = s.kind == ControllerKind::kTaskPd;
      std::vector<double> q = JointPositions();
      if (!task && s.target.size() == q.size()) {
        q = s.target;
      }
      ControlModel model(*robot_, s.massError);
      const DefaultGains gains =
          task ? TaskGains(model, model.FrameNamed(s.frame), q.data(), s.frequency)
               : JointGains(model, s.kind, q.data(), s.frequency);
      out.set("kp", Diagonal(gains.kp));
      out.set("kd", Diagonal(gains.kd));
      out.set("kn", Diagonal(gains.kn));
    }
    return out;
  }

  // The position of the frame called name (as ToolText finds it) at the joint positions q: the
  // teach panel's target for task-pd. Empty for an arm without frames.
  val ToolPosition(const val& q, const std::string& name) {
    const int f = ToolFrame(name);
    if (f < 0) {
      return val::array();
    }
    std::vector<double> at = NumbersOf(q);
    at.resize(N(), 0.0);
    const spatial::Transform pose = FrameAt(f, at);
    const double x[3] = {pose.p.x, pose.p.y, pose.p.z};
    return ArrayOf(x, 3);
  }

  // How each joint moves: 0 held, 1 turns, 2 slides.
  val Motions() const {
    val out = val::array();
    for (const auto& link : robot_->links) {
      out.call<void>("push", static_cast<int>(recursive::MotionOf(*link)));
    }
    return out;
  }

  // The teach panel's readout of the frame called name (empty, or none such: the last frame) at
  // the joint positions now: "tool0  x 0.512  y 0.000  z 0.800 m" and
  // "roll 0.0°  pitch 90.0°  yaw 0.0°" on two lines; "" for an arm without frames.
  std::string ToolText(const std::string& name) {
    const int f = ToolFrame(name);
    if (f < 0) {
      return "";
    }
    const spatial::Transform pose = FrameAt(f, JointPositions());
    return ToolReadout(frames_[static_cast<std::size_t>(f)].name, pose);
  }

  // The state the last tick left: what the panel shows and the plots draw.
  val State() const {
    const uint32_t n = N();
    std::vector<double> q(n), qd(n), qdd(n);
    std::vector<double> at(n);
    for (uint32_t i = 0; i < n; ++i) {
      const Link& link = *robot_->links[i];
      q[i] = link.q;
      qd[i] = link.qd;
      qdd[i] = link.qdd;
      at[i] = JointAtLimit(*robot_, i);
    }
    val state = val::object();
    state.set("q", ArrayOf(q.data(), n));
    state.set("qd", ArrayOf(qd.data(), n));
    state.set("qdd", ArrayOf(qdd.data(), n));
    state.set("accel", ArrayOf(lastAccel_));
    state.set("torque", ArrayOf(lastTorque_));
    state.set("atLimit", ArrayOf(at.data(), n));
    state.set("kinetic", robot_->kineticEnergy);
    state.set("potential", robot_->potentialEnergy);
    state.set("work", robot_->work);
    state.set("dissipated", robot_->dissipated);
    state.set("startEnergy", robot_->startEnergy);
    // The run stops, as the window's does, where the tick diverged: a state that is not finite,
    // or one the step made energy for without work.
    state.set("finite", StateIsFinite(*robot_) && !diverged_);
    state.set("capped", !inverse_ && stepper_->LastCapped());
    // The reference and the error at the tick's end, while a law follows a reference.
    if (const int size = controller_->ReferenceSize(); size > 0) {
      std::vector<double> reference(static_cast<std::size_t>(size));
      std::vector<double> error(static_cast<std::size_t>(size));
      controller_->Tracking(0.0, q.data(), reference.data(), error.data());
      state.set("reference", ArrayOf(reference.data(), reference.size()));
      state.set("error", ArrayOf(error.data(), error.size()));
    }
    state.set("limitText",
              LimitStatusText(*robot_, inverse_ ? std::vector<uint8_t>() : stepper_->Saturated()));
    return state;
  }

  // The run format's header and the row of the last tick, numbered `tick`.
  std::string CsvHeader(bool balance) const { return RunCsvHeader(N(), balance); }
  std::string CsvRow(double tick, bool balance) const {
    std::string line;
    AppendRunCsvRow(line, static_cast<uint64_t>(tick), *robot_, lastTorque_, balance);
    return line;
  }

  // The arm's frames (BuildFrameModels) by name, and their poses and those of the arm's links at
  // the joint positions now, 16 numbers each (see PushPose), base first.
  val FrameNames() const {
    std::vector<std::string> names;
    for (const recursive::FrameModel& frame : frames_) {
      names.push_back(frame.name);
    }
    return StringsOf(names);
  }
  // The link each frame is fixed to, -1 for the base's, by the frames' order.
  val FrameLinks() const {
    val out = val::array();
    for (const recursive::FrameModel& frame : frames_) {
      out.call<void>("push", frame.link);
    }
    return out;
  }
  val Poses() {
    const uint32_t n = N();
    for (uint32_t i = 0; i < n; ++i) {
      q_[i] = robot_->links[i]->q;
    }
    recursive::Kinematics(model_, data_, q_.data(), nullptr, {});
    recursive::Placements(model_, data_, nullptr);
    val out = val::array();
    for (const recursive::FrameModel& frame : frames_) {
      PushPose(out, recursive::FramePose(data_, frame));
    }
    for (uint32_t i = 0; i < n; ++i) {
      PushPose(out, data_.placement[i]);
    }
    return out;
  }
  // The figure of each link: joint type, radius and offset to the next joint (x, y, z), in the
  // link's frame; 5 numbers a link.
  val Figure() const {
    val out = val::array();
    for (const auto& link : robot_->links) {
      for (double v : {static_cast<double>(link->jointType), link->radius, link->offsetX,
                       link->offsetY, link->offsetZ}) {
        out.call<void>("push", v);
      }
    }
    return out;
  }

 private:
  using JointValue = double (*)(const Link&);
  val JointValues(JointValue value) const {
    val out = val::array();
    for (const auto& link : robot_->links) {
      out.call<void>("push", value(*link));
    }
    return out;
  }

  uint32_t N() const { return static_cast<uint32_t>(robot_->links.size()); }

  // A text's problem as velmoth-sim's command line says it: "--force: expects ...".
  static std::string AsOption(const std::string& problem) {
    const std::size_t space = problem.find(' ');
    return problem.substr(0, space) + ": " + problem.substr(space + 1);
  }

  // The frame called name, else the last one; -1 for an arm without frames.
  int ToolFrame(const std::string& name) const {
    const int f = recursive::FindFrame(frames_, name);
    return f >= 0 ? f : static_cast<int>(frames_.size()) - 1;
  }
  spatial::Transform FrameAt(int f, const std::vector<double>& q) {
    std::copy(q.begin(), q.end(), q_.begin());
    recursive::Kinematics(model_, data_, q_.data(), nullptr, {});
    recursive::Placements(model_, data_, nullptr);
    return recursive::FramePose(data_, frames_[static_cast<std::size_t>(f)]);
  }

  std::vector<double> JointPositions() const {
    std::vector<double> q;
    for (const auto& link : robot_->links) {
      q.push_back(link->q);
    }
    return q;
  }

  // Before a tick of a recording: what it takes from the user that the tick before did not, and
  // where the limits put the joints since.
  void RecordInputs() {
    TickInputs inputs =
        InputsOf(*robot_, inverse_, torque_, accel_, stepper_->Options(), controller_->Settings());
    inputs.forces = forces_;
    if (!begun_) {
      begun_ = true;
      replay_ += ReplayLine(0, "q", startQ_) + ReplayLine(0, "qd", startQd_);
      replay_ += ReplayChanges(0, nullptr, inputs);
      // A reference that runs already goes on from where it is.
      if (const std::optional<ReferenceStart> start = controller_->Start()) {
        replay_ += ReplayReference(0, *start);
      }
      setQ_.clear();
    } else {
      replay_ += ReplayChanges(rows_, &inputs_, inputs);
    }
    inputs_ = inputs;
    if (!setQ_.empty()) {
      replay_ += ReplayLine(rows_, "q", setQ_);
      setQ_.clear();
    }
    ++rows_;
  }

  // A Reset during a recording: where it put the joints (zero, or a limit where zero is outside
  // them); before the first tick, the recording starts from there at rest.
  void RecordReset() {
    const std::vector<double> q = JointPositions();
    if (begun_) {
      replay_ += ReplayReset(rows_);
      if (std::any_of(q.begin(), q.end(), [](double v) { return v != 0.0; })) {
        replay_ += ReplayLine(rows_, "q", q);
      }
    } else {
      startQ_ = q;
      std::fill(startQd_.begin(), startQd_.end(), 0.0);
    }
    setQ_.clear();
  }

  // The Stepper's vectors are its own and go with it (a recording replaces it): copied element by
  // element into ours.
  static void CopyInto(matrix<double>& to, const matrix<double>& from) {
    for (uint32_t i = 0; i < to.RowCount(); ++i) {
      to(i, 0) = from(i, 0);
    }
  }

  // The torques a forward tick applies before the efforts: the user's (the Stepper adds the
  // controller's; forces from outside act through forceSource_, past the efforts).
  matrix<double> TickTorque() const { return torque_; }

  // Takes robot as the arm, at rest at zero (a zero outside a joint's limits at the nearest
  // limit: the notice, or "").
  std::string Adopt(std::unique_ptr<Robot> robot, bool fromFile) {
    stepper_.reset();
    robot_ = std::move(robot);
    fromFile_ = fromFile;
    recording_ = false;
    notices_.clear();
    error_.clear();
    const uint32_t n = N();
    torque_ = Column({}, n);
    accel_ = Column({}, n);
    lastTorque_ = Column({}, n);
    lastAccel_ = Column({}, n);
    stepper_ = std::make_unique<Stepper>(*robot_, DefaultStepOptions(fromFile));
    diverged_ = false;
    controller_ = std::make_shared<Controller>(*robot_, ControllerSettings{});
    stepper_->SetController(controller_);
    model_ = recursive::BuildChainModel(*robot_);
    data_ = recursive::ChainData(model_.Size());
    frames_ = recursive::BuildFrameModels(*robot_);
    q_.assign(n, 0.0);
    ticks_ = 0;
    note_.clear();
    capNoted_ = false;
    payloads_.clear();
    forces_ = ArmForces{};
    pullScale_ = 1.0;
    forceSource_ = std::make_unique<ForceSource>(*robot_);
    pullTorques_ = std::make_unique<ExternalTorques>(*robot_);
    return ClampStartToLimits(*robot_);
  }

  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Stepper> stepper_;
  std::shared_ptr<Controller> controller_;
  bool fromFile_ = false;
  std::string error_;
  std::vector<std::string> notices_;
  bool inverse_ = false;
  bool diverged_ = false;  // the last tick diverged
  matrix<double> torque_, accel_, lastTorque_, lastAccel_;
  recursive::ChainModel model_;
  recursive::ChainData data_{0};
  std::vector<recursive::FrameModel> frames_;
  std::vector<double> q_;
  uint64_t ticks_ = 0;
  std::string note_;       // the last tick's note on its accuracy
  bool capNoted_ = false;  // a tick of this arm has reached the cap
  // The replay being written.
  bool recording_ = false;
  bool begun_ = false;
  uint64_t rows_ = 0;
  std::string replay_;
  TickInputs inputs_;
  std::vector<double> startQ_, startQd_, setQ_;
  // What pushes the arm besides its joints: the payloads' texts, the forces held and the pull, the
  // source that hands them to the step, and the pull's force at a state for showing it.
  std::vector<std::string> payloads_;
  ArmForces forces_;
  double pullScale_ = 1.0;
  std::unique_ptr<ForceSource> forceSource_;
  std::unique_ptr<ExternalTorques> pullTorques_;
  static constexpr double kWheelFactor = 1.4142135623730951;
  static constexpr double kMinScale = 1.0 / 16.0;
  static constexpr double kMaxScale = 16.0;
};

// The window's tick clock, driven by the page's worker: each Burst says how many ticks to compute
// now, as the window's pacer asks its physics thread for them, with the ticks still waiting and
// what one costs standing in for the thread's queue (it takes no more once they amount to
// kQueueWork or kQueueTicks: the periods are then deferred and the run slows to the physics' pace).
class Pacer {
 public:
  static constexpr double kQueueWorkNs = 40e6;
  static constexpr int kQueueTicks = 20;

  explicit Pacer(double periodMs) : clock_(static_cast<int64_t>(periodMs * 1e6)) {}

  void Start(double nowMs) { clock_.Start(Ns(nowMs)); }
  int Burst(double nowMs, int waiting, double tickCostMs) {
    const int64_t now = Ns(nowMs);
    int asked = 0;
    const auto ready = [&] {
      const int queued = waiting + asked;
      return queued < kQueueTicks && queued * tickCostMs * 1e6 < kQueueWorkNs;
    };
    clock_.RunBurst([now] { return now; }, ready,
                    [&] {
                      ++asked;
                      return true;
                    });
    return asked;
  }
  // When the next tick falls due (ms), Infinity when none will.
  double NextDue() const {
    const int64_t due = clock_.NextDue();
    return due == INT64_MAX ? INFINITY : static_cast<double>(due) * 1e-6;
  }
  void Pause(double nowMs) { clock_.Pause(Ns(nowMs)); }
  void Resume(double nowMs) { clock_.Resume(Ns(nowMs)); }
  bool Paused() const { return clock_.Paused(); }
  void Step() { clock_.RequestStep(); }
  void SetSlowdown(int slowdown, double nowMs) { clock_.SetSlowdown(slowdown, Ns(nowMs)); }
  int Slowdown() const { return clock_.Slowdown(); }
  double Delivered() const { return static_cast<double>(clock_.DeliveredTicks()); }
  double Slipped() const { return static_cast<double>(clock_.SlippedTicks()); }
  double Deferred() const { return static_cast<double>(clock_.DeferredTicks()); }

 private:
  static int64_t Ns(double ms) { return static_cast<int64_t>(std::llround(ms * 1e6)); }
  TickClock clock_;
};

namespace {

// The panel's text formats.
std::string NumberTextOf(double value) {
  return NumberText(value);
}
std::string VectorTextOf(const val& values) {
  const std::vector<double> v = NumbersOf(values);
  return VectorText(Column(v, static_cast<uint32_t>(v.size())));
}
val ReadVector(const std::string& text, int n) {
  matrix<double> v(static_cast<uint32_t>(std::max(n, 0)), 1);
  ReadVectorText(text, v);
  return ArrayOf(v);
}
double ReadCoefficient(const std::string& text) {
  return ReadCoefficientText(text);
}
std::string ToleranceTextOf(double tolerance) {
  return ToleranceText(tolerance);
}

// The <visual> shapes of a description as the parser reads them, for the view: one object a shape
// {frame, kind: box|cylinder|sphere|mesh, xyz, rpy, size (box: edges; cylinder: radius, length;
// sphere: radius; mesh: scale), file (mesh), rgba (null: none given)}. Nothing for a description
// the parser refuses; the loader says why.
val Visuals(const std::string& text) {
  val out = val::array();
  urdf::ModelInterfaceSharedPtr model;
  try {
    model = urdf::parseURDF(text);
  } catch (...) {
    return out;
  }
  if (!model) {
    return out;
  }
  std::vector<urdf::LinkSharedPtr> links;
  model->getLinks(links);
  for (const urdf::LinkSharedPtr& link : links) {
    for (const urdf::VisualSharedPtr& visual : link->visual_array) {
      if (!visual || !visual->geometry) {
        continue;
      }
      val shape = val::object();
      shape.set("frame", link->name);
      const urdf::Pose& pose = visual->origin;
      double roll = 0.0, pitch = 0.0, yaw = 0.0;
      pose.rotation.getRPY(roll, pitch, yaw);
      const double xyz[3] = {pose.position.x, pose.position.y, pose.position.z};
      const double rpy[3] = {roll, pitch, yaw};
      shape.set("xyz", ArrayOf(xyz, 3));
      shape.set("rpy", ArrayOf(rpy, 3));
      const urdf::Geometry& geometry = *visual->geometry;
      double size[3] = {1.0, 1.0, 1.0};
      if (geometry.type == urdf::Geometry::BOX) {
        const auto& box = static_cast<const urdf::Box&>(geometry);
        size[0] = box.dim.x;
        size[1] = box.dim.y;
        size[2] = box.dim.z;
        shape.set("kind", std::string("box"));
      } else if (geometry.type == urdf::Geometry::CYLINDER) {
        const auto& cylinder = static_cast<const urdf::Cylinder&>(geometry);
        size[0] = size[1] = cylinder.radius;
        size[2] = cylinder.length;
        shape.set("kind", std::string("cylinder"));
      } else if (geometry.type == urdf::Geometry::SPHERE) {
        size[0] = size[1] = size[2] = static_cast<const urdf::Sphere&>(geometry).radius;
        shape.set("kind", std::string("sphere"));
      } else if (geometry.type == urdf::Geometry::MESH) {
        const auto& mesh = static_cast<const urdf::Mesh&>(geometry);
        size[0] = mesh.scale.x;
        size[1] = mesh.scale.y;
        size[2] = mesh.scale.z;
        shape.set("kind", std::string("mesh"));
        shape.set("file", mesh.filename);
      } else {
        continue;
      }
      shape.set("size", ArrayOf(size, 3));
      urdf::MaterialSharedPtr material = visual->material;
      if (material && material->color.a == 0.0f && material->color.r == 0.0f &&
          material->color.g == 0.0f && material->color.b == 0.0f && !material->name.empty()) {
        const urdf::MaterialSharedPtr named = model->getMaterial(material->name);
        if (named) {
          material = named;
        }
      }
      if (material) {
        const double rgba[4] = {material->color.r, material->color.g, material->color.b,
                                material->color.a};
        shape.set("rgba", ArrayOf(rgba, 4));
      } else {
        shape.set("rgba", val::null());
      }
      out.call<void>("push", shape);
    }
  }
  return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(velmoth) {
  using emscripten::class_;
  using emscripten::function;
  class_<Simulation>("Simulation")
      .constructor<>()
      .function("loadBuiltIn", &Simulation::LoadBuiltIn)
      .function("loadUrdf", &Simulation::LoadUrdf)
      .function("error", &Simulation::Error)
      .function("notices", &Simulation::Notices)
      .function("fromFile", &Simulation::FromFile)
      .function("jointCount", &Simulation::JointCount)
      .function("name", &Simulation::Name)
      .function("jointNames", &Simulation::JointNames)
      .function("lower", &Simulation::Lower)
      .function("upper", &Simulation::Upper)
      .function("hasLimits", &Simulation::HasLimits)
      .function("hasFileFriction", &Simulation::HasFileFriction)
      .function("setInverse", &Simulation::SetInverse)
      .function("inverse", &Simulation::Inverse)
      .function("setTorque", &Simulation::SetTorque)
      .function("setAccel", &Simulation::SetAccel)
      .function("torque", &Simulation::Torque)
      .function("accel", &Simulation::Accel)
      .function("setParameters", &Simulation::SetParameters)
      .function("viscous", &Simulation::Viscous)
      .function("coulomb", &Simulation::Coulomb)
      .function("gravity", &Simulation::Gravity)
      .function("setStep", &Simulation::SetStep)
      .function("engine", &Simulation::Engine)
      .function("integrator", &Simulation::Integrator)
      .function("substeps", &Simulation::Substeps)
      .function("tolerance", &Simulation::Tolerance)
      .function("stepText", &Simulation::StepText)
      .function("setLimits", &Simulation::SetLimits)
      .function("limits", &Simulation::Limits)
      .function("setFrictionSource", &Simulation::SetFrictionSource)
      .function("frictionSource", &Simulation::FrictionSourceName)
      .function("setEffortLimits", &Simulation::SetEffortLimits)
      .function("effortLimits", &Simulation::EffortLimits)
      .function("setState", &Simulation::SetState)
      .function("tick", &Simulation::Tick)
      .function("ticks", &Simulation::Ticks)
      .function("tickNote", &Simulation::TickNote)
      .function("reset", &Simulation::Reset)
      .function("setPose", &Simulation::SetPose)
      .function("setController", &Simulation::SetController)
      .function("addPayload", &Simulation::AddPayloadText)
      .function("payloads", &Simulation::Payloads)
      .function("setForces", &Simulation::SetForcesText)
      .function("forces", &Simulation::Forces)
      .function("startPull", &Simulation::StartPull)
      .function("movePull", &Simulation::MovePull)
      .function("wheelPull", &Simulation::WheelPull)
      .function("releasePull", &Simulation::ReleasePull)
      .function("pullScale", &Simulation::PullScale)
      .function("pullState", &Simulation::PullState)
      .function("linkName", &Simulation::LinkName)
      .function("setTarget", &Simulation::SetTarget)
      .function("control", &Simulation::Control)
      .function("motions", &Simulation::Motions)
      .function("toolText", &Simulation::ToolText)
      .function("toolPosition", &Simulation::ToolPosition)
      .function("restartStep", &Simulation::RestartStep)
      .function("startReplay", &Simulation::StartReplay)
      .function("stopReplay", &Simulation::StopReplay)
      .function("state", &Simulation::State)
      .function("csvHeader", &Simulation::CsvHeader)
      .function("csvRow", &Simulation::CsvRow)
      .function("frameNames", &Simulation::FrameNames)
      .function("frameLinks", &Simulation::FrameLinks)
      .function("poses", &Simulation::Poses)
      .function("figure", &Simulation::Figure);
  class_<Pacer>("Pacer")
      .constructor<double>()
      .function("start", &Pacer::Start)
      .function("burst", &Pacer::Burst)
      .function("nextDue", &Pacer::NextDue)
      .function("pause", &Pacer::Pause)
      .function("resume", &Pacer::Resume)
      .function("paused", &Pacer::Paused)
      .function("step", &Pacer::Step)
      .function("setSlowdown", &Pacer::SetSlowdown)
      .function("slowdown", &Pacer::Slowdown)
      .function("delivered", &Pacer::Delivered)
      .function("slipped", &Pacer::Slipped)
      .function("deferred", &Pacer::Deferred);
  function("numberText", &NumberTextOf);
  function("vectorText", &VectorTextOf);
  function("readVector", &ReadVector);
  function("readCoefficient", &ReadCoefficient);
  function("toleranceText", &ToleranceTextOf);
  function("visuals", &Visuals);
}
