// The controller's settings, its reference and its gains; the laws are in files of their own.
#include "control/controller.h"

#include <utility>

#include "control/default_gains.h"
#include "dynamics/dynamics.h"

namespace {

// The gains of `size` components: the full default matrix (size x size, row-major) when none are
// given, else the diagonal matrix of those given (a single value is every component's, one left
// out takes the default's diagonal element).
std::vector<double> Gains(const std::vector<double>& given, const std::vector<double>& full,
                          std::size_t size) {
  if (given.empty()) {
    return full;
  }
  std::vector<double> gains(size * size, 0.0);
  for (std::size_t i = 0; i < size; ++i) {
    gains[i * size + i] = given.size() == 1  ? given[0]
                          : i < given.size() ? given[i]
                                             : full[i * size + i];
  }
  return gains;
}

// values per component: a single value is every component's, a missing one the default.
std::vector<double> Chosen(const std::vector<double>& values, std::vector<double> defaults) {
  for (std::size_t i = 0; i < defaults.size(); ++i) {
    if (values.size() == 1) {
      defaults[i] = values[0];
    } else if (i < values.size()) {
      defaults[i] = values[i];
    }
  }
  return defaults;
}

}  // namespace

Controller::Controller(const Robot& robot, ControllerSettings settings)
    : settings_(std::move(settings)),
      model_(std::make_unique<ControlModel>(robot, settings_.massError)),
      modelMassError_(settings_.massError),
      n_(static_cast<int>(robot.links.size())),
      robot_(CloneRobot(robot)) {
  const auto n = static_cast<std::size_t>(n_);
  for (std::vector<double>* v : {&q_, &qd_, &qdd_, &v_, &g_}) {
    v->resize(n);
  }
  jacobian_.resize(3 * n);
}

void Controller::SetSettings(ControllerSettings settings) {
  const bool restart = RestartsReference(settings_, settings);
  settings_ = std::move(settings);
  if (settings_.massError != modelMassError_) {
    model_ = std::make_unique<ControlModel>(*robot_, settings_.massError);
    modelMassError_ = settings_.massError;
  }
  if (restart) {
    pending_ = true;
  } else if (!pending_) {
    Resolve();
  }
}

void Controller::RestartReference() {
  pending_ = true;
}

std::optional<ReferenceStart> Controller::Start() const {
  if (pending_ || !Tracks(settings_.kind)) {
    return std::nullopt;
  }
  return start_;
}

void Controller::SetStart(const ReferenceStart& start) {
  start_ = start;
  start_.from.resize(static_cast<std::size_t>(n_), 0.0);
  pending_ = false;
  Resolve();
}

const double* Controller::CompensatedViscous() const {
  return settings_.kind == ControllerKind::kComputedTorque && settings_.modelFriction
             ? environment_.viscous
             : nullptr;
}

bool Controller::Timed() const {
  if (!Tracks(settings_.kind) || pending_) {
    return Tracks(settings_.kind) && settings_.trajectory != TrajectoryKind::kStep;
  }
  switch (reference_.Kind()) {
    case TrajectoryKind::kStep:
      return false;
    case TrajectoryKind::kSine:
      return true;
    default:
      return Time(0.0) < reference_.Duration();
  }
}

void Controller::BeginTick(const double* q, const ControlEnvironment& environment) {
  environment_ = environment;
  gravity_ = environment.gravity;
  if (pending_) {
    start_.from.assign(q, q + n_);
    start_.ticks = 0;
    pending_ = false;
    Resolve();
  }
}

void Controller::EndTick() {
  if (!pending_) {
    ++start_.ticks;
  }
}

double Controller::Time(double s) const {
  return static_cast<double>(start_.ticks) * kTimeStep + s;
}

int Controller::ReferenceSize() const {
  return settings_.kind == ControllerKind::kTaskPd ? 3 : Tracks(settings_.kind) ? n_ : 0;
}

void Controller::Resolve() {
  const int n = n_;
  const bool task = settings_.kind == ControllerKind::kTaskPd;
  frame_ = model_->FrameNamed(settings_.frame);
  if (frame_ < 0) {
    frame_ = model_->FrameNamed("");
  }
  // Where the reference starts and where it goes, with the moderate speed of each component.
  std::vector<double> from = start_.from, speed(static_cast<std::size_t>(n)),
                      amplitude(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const bool slides = model_->Slides(i);
    speed[static_cast<std::size_t>(i)] = slides ? kModerateSlideSpeed : kModerateSpeed;
    amplitude[static_cast<std::size_t>(i)] = slides ? kDefaultSlideAmplitude : kDefaultAmplitude;
  }
  if (task) {
    from.assign(3, 0.0);
    if (frame_ >= 0) {
      model_->FramePosition(frame_, start_.from.data(), from.data(), nullptr);
    }
    speed.assign(3, kModerateSlideSpeed);
    amplitude.assign(3, kDefaultSlideAmplitude);
  }
  const std::size_t size = from.size();
  std::vector<double> to = settings_.target.size() == size ? settings_.target : from;
  const double duration = settings_.duration > 0.0
                              ? settings_.duration
                              : DefaultDuration(settings_.trajectory, from, to, speed);
  reference_ = ReferenceTrajectory(settings_.trajectory, from, to, duration,
                                   Chosen(settings_.amplitude, amplitude), settings_.period);
  // The gains, at the target (task-pd: at the start).
  const DefaultGains defaults =
      task ? TaskGains(*model_, frame_, start_.from.data(), settings_.frequency)
           : JointGains(*model_, settings_.kind, to.data(), settings_.frequency);
  const std::size_t axes = task ? 3 : static_cast<std::size_t>(n);
  kp_ = Gains(settings_.kp, defaults.kp, axes);
  kd_ = Gains(settings_.kd, defaults.kd, axes);
  kn_ = Gains(settings_.kn, defaults.kn, static_cast<std::size_t>(n));
}

void Controller::Torque(double s, const double* q, const double* qd, double* tau,
                        const int8_t* motion) {
  if (pending_) {
    BeginTick(q, environment_);
  }
  const double t = Time(s);
  switch (settings_.kind) {
    case ControllerKind::kGravity:
      GravityLaw(q, tau);
      return;
    case ControllerKind::kPd:
      PdLaw(t, q, qd, tau);
      return;
    case ControllerKind::kComputedTorque:
      ComputedTorqueLaw(t, q, qd, tau, motion);
      return;
    case ControllerKind::kTaskPd:
      TaskPdLaw(t, q, qd, tau);
      return;
    case ControllerKind::kTorque:
      break;
  }
  for (int i = 0; i < n_; ++i) {
    tau[i] = 0.0;
  }
}

void Controller::Tracking(double s, const double* q, double* reference, double* error) {
  const int size = ReferenceSize();
  if (pending_) {
    for (int k = 0; k < size; ++k) {
      reference[k] = error[k] = 0.0;
    }
    return;
  }
  reference_.At(Time(s), reference, nullptr, nullptr);
  double x[3] = {0.0, 0.0, 0.0};
  const double* at = q;
  if (settings_.kind == ControllerKind::kTaskPd) {
    model_->FramePosition(frame_, q, x, nullptr);
    at = x;
  }
  for (int k = 0; k < size; ++k) {
    // e = q* - q
    error[k] = reference[k] - at[k];
  }
}
