#include "app/control_form.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/velmoth_dlg.h"
#include "control/control_model.h"
#include "control/default_gains.h"
#include "recursive/frames.h"
#include "simulation/command_line.h"
#include "simulation/text_fields.h"

namespace {

// The fields as velmoth-sim's options hold them.
ControlChoice ChoiceOf(const std::array<std::string, ControlForm::kFieldCount>& t) {
  ControlChoice c;
  c.controller = t[ControlForm::kController];
  c.rate = t[ControlForm::kRate];
  c.target = t[ControlForm::kTarget];
  c.trajectory = t[ControlForm::kTrajectory];
  c.duration = t[ControlForm::kDuration];
  c.amplitude = t[ControlForm::kAmplitude];
  c.period = t[ControlForm::kPeriod];
  c.frequency = t[ControlForm::kFrequency];
  c.kp = t[ControlForm::kKp];
  c.kd = t[ControlForm::kKd];
  c.kn = t[ControlForm::kKn];
  c.compensation = t[ControlForm::kCompensation];
  c.tool = t[ControlForm::kTool];
  c.massError = t[ControlForm::kMassError];
  c.modelFriction = t[ControlForm::kModelFriction];
  return c;
}

// "%g" numbers separated by ", ": one value reads back as every joint's.
std::string Values(const std::vector<double>& values) {
  return ShortValuesText(values);
}

std::string Number(double value) {
  char number[32];
  std::snprintf(number, sizeof number, "%g", value);
  return number;
}

std::string TargetText(const std::vector<double>& target) {
  if (target.empty()) {
    return "";
  }
  matrix<double> column(static_cast<uint32_t>(target.size()), 1);
  for (uint32_t i = 0; i < column.RowCount(); ++i) {
    column(i, 0) = target[i];
  }
  return VectorText(column);
}

// The text without blanks at either end.
std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? ""
                                    : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// Whether text (not empty) is one number in full, finite, above min (or any when min is -inf).
bool ReadsAsNumber(const std::string& text, double min) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(value) && value > min;
}

// Diagonal entries of a square matrix, row-major.
std::vector<double> Diagonal(const std::vector<double>& m) {
  const auto n = static_cast<std::size_t>(std::lround(std::sqrt(static_cast<double>(m.size()))));
  std::vector<double> d(n);
  for (std::size_t i = 0; i < n; ++i) {
    d[i] = m[i * n + i];
  }
  return d;
}

std::string Shortened(const std::vector<double>& values) {
  char text[32];
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::snprintf(text, sizeof text, "%s%.3g", i == 0 ? "" : ", ", values[i]);
    out += text;
  }
  return out;
}

bool TaskSpace(const std::string& controller) {
  return controller == ControllerName(ControllerKind::kTaskPd);
}

}  // namespace

std::vector<std::string> ControlForm::Rates() {
  std::vector<std::string> rates{RateName(kContinuous)};
  for (int samples = 1; samples <= kMaxSamplesPerTick; ++samples) {
    rates.push_back(RateName(samples));
  }
  return rates;
}

ControlForm::ControlForm(CVelmothDlg& dlg) : dlg_(dlg) {
  if (dlg_.m_pRobot != nullptr) {
    for (const recursive::FrameModel& frame : recursive::BuildFrameModels(*dlg_.m_pRobot)) {
      frames_.push_back(frame.name);
    }
  }
  Show(dlg_.GetController());
}

void ControlForm::Show(const ControllerSettings& s) {
  texts_[kController] = ControllerName(s.kind);
  texts_[kRate] = RateName(s.samples);
  texts_[kTarget] = TargetText(s.target);
  texts_[kTrajectory] = TrajectoryName(s.trajectory);
  texts_[kDuration] = s.duration > 0.0 ? Number(s.duration) : "";
  texts_[kAmplitude] = Values(s.amplitude);
  texts_[kPeriod] = Number(s.period);
  texts_[kFrequency] = Number(s.frequency);
  texts_[kKp] = Values(s.kp);
  texts_[kKd] = Values(s.kd);
  texts_[kKn] = Values(s.kn);
  texts_[kCompensation] = s.compensate ? "on" : "off";
  texts_[kTool] = !s.frame.empty() || frames_.empty() ? s.frame : frames_.back();
  texts_[kMassError] = Number(s.massError);
  texts_[kModelFriction] = s.modelFriction ? "on" : "off";
  written_ = texts_;
  exact_.fill(true);
  shown_ = s;
  MakePlaceholders(s);
}

void ControlForm::SetText(Field field, std::string text) {
  if (field == kController && TaskSpace(text) != TaskSpace(texts_[kController])) {
    // Joint positions and gains mean nothing to a law on the tool's position, nor its to a joint
    // law's.
    for (Field f : {kTarget, kAmplitude, kKp, kKd}) {
      texts_[f].clear();
    }
  }
  texts_[field] = std::move(text);
}

bool ControlForm::Takes(Field field) const {
  const ControllerKind kind =
      ControllerNamed(texts_[kController]).value_or(ControllerKind::kTorque);
  const TrajectoryKind trajectory =
      TrajectoryNamed(texts_[kTrajectory]).value_or(TrajectoryKind::kQuintic);
  switch (field) {
    case kController:
    case kTool:  // the readout's frame, whatever the law
      return true;
    case kRate:
    case kMassError:
      return kind != ControllerKind::kTorque;
    case kDuration:
      return Tracks(kind) &&
             (trajectory == TrajectoryKind::kQuintic || trajectory == TrajectoryKind::kTrapezoid);
    case kAmplitude:
    case kPeriod:
      return Tracks(kind) && trajectory == TrajectoryKind::kSine;
    case kKn:
      return kind == ControllerKind::kTaskPd;
    case kCompensation:
      return kind == ControllerKind::kPd || kind == ControllerKind::kTaskPd;
    case kModelFriction:
      return kind == ControllerKind::kComputedTorque;
    case kTarget:
    case kTrajectory:
    case kFrequency:
    case kKp:
    case kKd:
      return Tracks(kind);
    case kFieldCount:
      break;
  }
  return false;
}

std::string ControlForm::Placeholder(Field field) const {
  return placeholders_[field];
}

void ControlForm::MakePlaceholders(const ControllerSettings& s) {
  placeholders_ = {};
  const bool task = s.kind == ControllerKind::kTaskPd;
  placeholders_[kTarget] = task ? "x, y, z: where the tool is" : "the pose the arm is in";
  placeholders_[kDuration] = "from the distance";
  placeholders_[kAmplitude] = task ? "0.02 m" : "0.2 rad, 0.02 m";
  placeholders_[kPeriod] = Number(kDefaultPeriod);
  placeholders_[kFrequency] = Number(kDefaultFrequency);
  placeholders_[kMassError] = "0: the exact model";
  const Robot* robot = dlg_.m_pRobot;
  if (robot == nullptr || !Tracks(s.kind)) {
    return;
  }
  // The defaults where the law makes them: at the target, or where the arm is when there is none.
  const std::size_t n = robot->links.size();
  std::vector<double> q(n);
  for (std::size_t i = 0; i < n; ++i) {
    q[i] = !task && s.target.size() == n ? s.target[i] : robot->links[i]->q;
  }
  ControlModel model(*robot, s.massError);
  const double w = s.frequency;
  DefaultGains gains;
  if (task) {
    gains = TaskGains(model, model.FrameNamed(s.frame), q.data(), w);
    placeholders_[kKn] = Shortened(Diagonal(gains.kn));
  } else {
    gains = JointGains(model, s.kind, q.data(), w);
  }
  placeholders_[kKp] = Shortened(Diagonal(gains.kp));
  placeholders_[kKd] = Shortened(Diagonal(gains.kd));
}

bool ControlForm::Apply() {
  problem_.clear();
  const struct {
    Field field;
    const char* name;
    double min;
    const char* expects;
  } numbers[] = {
      {kDuration, "Duration", 0.0, "a number of seconds above 0"},
      {kPeriod, "Period", 0.0, "a number of seconds above 0"},
      {kFrequency, "Frequency", 0.0, "a frequency above 0 (rad/s)"},
      {kMassError, "Model mass error", -INFINITY, "a mass in kg"},
  };
  for (const auto& number : numbers) {
    const std::string text = Trimmed(texts_[number.field]);
    if (Takes(number.field) && !Untouched(number.field) && !text.empty() &&
        !ReadsAsNumber(text, number.min)) {
      problem_ =
          std::string(number.name) + ": expects " + number.expects + ", not '" + Echo(text) + "'";
      return false;
    }
  }
  if (dlg_.m_pRobot == nullptr) {
    return false;
  }
  ControlChoice choice = ChoiceOf(texts_);
  for (Field f : {kDuration, kPeriod, kFrequency, kMassError}) {
    const std::string text = Trimmed(texts_[f]);
    (f == kDuration    ? choice.duration
     : f == kPeriod    ? choice.period
     : f == kFrequency ? choice.frequency
                       : choice.massError) = text;
  }
  ControllerSettings s = ResolveControl(choice, static_cast<uint32_t>(dlg_.m_pRobot->links.size()));
  // A field left as the form wrote it keeps the exact values behind its text.
  const auto keep = [&](Field f, auto member) {
    if (Untouched(f)) {
      s.*member = shown_.*member;
    }
  };
  keep(kTarget, &ControllerSettings::target);
  keep(kDuration, &ControllerSettings::duration);
  keep(kAmplitude, &ControllerSettings::amplitude);
  keep(kPeriod, &ControllerSettings::period);
  keep(kFrequency, &ControllerSettings::frequency);
  keep(kKp, &ControllerSettings::kp);
  keep(kKd, &ControllerSettings::kd);
  keep(kKn, &ControllerSettings::kn);
  keep(kMassError, &ControllerSettings::massError);
  // What the law does not take is left at its default, as velmoth-sim's options leave it.
  const ControllerSettings defaults;
  const bool task = s.kind == ControllerKind::kTaskPd;
  if (!Takes(kTarget)) {
    s.target.clear();
    s.trajectory = defaults.trajectory;
    s.frequency = defaults.frequency;
    s.kp.clear();
    s.kd.clear();
  }
  if (!Takes(kDuration)) {
    s.duration = 0.0;
  }
  if (!Takes(kAmplitude)) {
    s.amplitude.clear();
    s.period = defaults.period;
  }
  if (!task) {
    s.kn.clear();
    s.frame.clear();
  } else if (!frames_.empty() && s.frame == frames_.back()) {
    s.frame.clear();  // the default frame
  }
  if (!Takes(kCompensation)) {
    s.compensate = true;
  }
  if (!Takes(kModelFriction)) {
    s.modelFriction = true;
  }
  if (!Takes(kRate)) {
    s.samples = kContinuous;
    s.massError = 0.0;
  }
  dlg_.SetController(s);
  // What was typed stays as typed; each field the law took stands for what it set, the others
  // are read again when the law takes them.
  written_ = texts_;
  for (std::size_t f = 0; f < kFieldCount; ++f) {
    exact_[f] = Takes(static_cast<Field>(f));
  }
  shown_ = s;
  MakePlaceholders(s);
  return true;
}

std::string ControlForm::Status() const {
  return ControllerText(dlg_.GetController());
}

void ControlForm::SetTarget(const std::vector<double>& target) {
  ControllerSettings s = dlg_.GetController();
  s.target = target;
  dlg_.SetController(s);
  texts_[kTarget] = written_[kTarget] = TargetText(target);
  exact_[kTarget] = true;
  shown_.target = target;
  MakePlaceholders(s);
}
