// The engine as the page sees it: one Simulation (the arm, its Stepper and the user's inputs, as
// the window's physics thread keeps them), the panel's text formats, the arm's shapes as the URDF
// parser reads them, and the tick clock that paces the window. The page's worker owns one
// Simulation and one Pacer; nothing here knows the page.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <urdf_parser/urdf_parser.h>

#include "app/tick_clock.h"
#include "recursive/chain.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/joint_limits.h"
#include "simulation/replay.h"
#include "simulation/run_csv.h"
#include "simulation/step_options.h"
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
    ++ticks_;
  }
  // Ticks since the arm was loaded.
  double Ticks() const { return static_cast<double>(ticks_); }

  // The window's Reset: every joint to zero at rest (a zero outside a joint's limits at the
  // nearest limit). The inputs stay.
  std::string Reset() {
    robot_->ResetJointState();
    std::string notice = ClampStartToLimits(*robot_);
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
    const ReplayArm arm =
        fromFile_ ? ReplayArm{{"--urdf", source}} : ReplayArm{{"--links", std::to_string(N())}};
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
    state.set("finite", StateIsFinite(*robot_));
    state.set("capped", !inverse_ && stepper_->LastCapped());
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
    const TickInputs inputs = InputsOf(*robot_, inverse_, torque_, accel_, stepper_->Options());
    if (!begun_) {
      begun_ = true;
      replay_ += ReplayLine(0, "q", startQ_) + ReplayLine(0, "qd", startQd_);
      replay_ += ReplayChanges(0, nullptr, inputs);
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

  // The torques a forward tick applies before the efforts: the user's. The control lab's
  // controllers and a drag's forces come in here.
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
    model_ = recursive::BuildChainModel(*robot_);
    data_ = recursive::ChainData(model_.Size());
    frames_ = recursive::BuildFrameModels(*robot_);
    q_.assign(n, 0.0);
    ticks_ = 0;
    return ClampStartToLimits(*robot_);
  }

  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Stepper> stepper_;
  bool fromFile_ = false;
  std::string error_;
  std::vector<std::string> notices_;
  bool inverse_ = false;
  matrix<double> torque_, accel_, lastTorque_, lastAccel_;
  recursive::ChainModel model_;
  recursive::ChainData data_{0};
  std::vector<recursive::FrameModel> frames_;
  std::vector<double> q_;
  uint64_t ticks_ = 0;
  // The replay being written.
  bool recording_ = false;
  bool begun_ = false;
  uint64_t rows_ = 0;
  std::string replay_;
  TickInputs inputs_;
  std::vector<double> startQ_, startQd_, setQ_;
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
      .function("reset", &Simulation::Reset)
      .function("restartStep", &Simulation::RestartStep)
      .function("startReplay", &Simulation::StartReplay)
      .function("stopReplay", &Simulation::StopReplay)
      .function("state", &Simulation::State)
      .function("csvHeader", &Simulation::CsvHeader)
      .function("csvRow", &Simulation::CsvRow)
      .function("frameNames", &Simulation::FrameNames)
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
