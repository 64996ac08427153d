#include "control/control_settings.h"

#include <charconv>
#include <cstdio>

bool operator==(const ControllerSettings& a, const ControllerSettings& b) {
  return a.kind == b.kind && a.samples == b.samples && a.target == b.target &&
         a.trajectory == b.trajectory && a.duration == b.duration && a.amplitude == b.amplitude &&
         a.period == b.period && a.frequency == b.frequency && a.kp == b.kp && a.kd == b.kd &&
         a.kn == b.kn && a.compensate == b.compensate && a.frame == b.frame &&
         a.massError == b.massError && a.modelFriction == b.modelFriction;
}

bool RestartsReference(const ControllerSettings& a, const ControllerSettings& b) {
  return a.kind != b.kind || a.target != b.target || a.trajectory != b.trajectory ||
         a.duration != b.duration || a.amplitude != b.amplitude || a.period != b.period ||
         a.frame != b.frame;
}

bool Tracks(ControllerKind kind) {
  return kind == ControllerKind::kPd || kind == ControllerKind::kComputedTorque ||
         kind == ControllerKind::kTaskPd;
}

const char* ControllerName(ControllerKind kind) {
  switch (kind) {
    case ControllerKind::kGravity:
      return "gravity";
    case ControllerKind::kPd:
      return "pd";
    case ControllerKind::kComputedTorque:
      return "computed-torque";
    case ControllerKind::kTaskPd:
      return "task-pd";
    case ControllerKind::kTorque:
      break;
  }
  return "torque";
}

const char* TrajectoryName(TrajectoryKind kind) {
  switch (kind) {
    case TrajectoryKind::kStep:
      return "step";
    case TrajectoryKind::kTrapezoid:
      return "trapezoid";
    case TrajectoryKind::kSine:
      return "sine";
    case TrajectoryKind::kQuintic:
      break;
  }
  return "quintic";
}

std::optional<ControllerKind> ControllerNamed(const std::string& name) {
  for (ControllerKind kind : kControllerKinds) {
    if (name == ControllerName(kind)) {
      return kind;
    }
  }
  return std::nullopt;
}

std::optional<TrajectoryKind> TrajectoryNamed(const std::string& name) {
  for (TrajectoryKind kind : kTrajectoryKinds) {
    if (name == TrajectoryName(kind)) {
      return kind;
    }
  }
  return std::nullopt;
}

std::string RateName(int samples) {
  return samples == kContinuous ? "continuous" : std::to_string(100 * samples);
}

std::optional<int> RateNamed(const std::string& text) {
  if (text == "continuous") {
    return kContinuous;
  }
  int hertz = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, hertz);
  const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || error != std::errc() || end != last || hertz % 100 != 0 || hertz < 100 ||
      hertz > 100 * kMaxSamplesPerTick) {
    return std::nullopt;
  }
  return hertz / 100;
}

std::string ShortValuesText(const std::vector<double>& values) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    char number[32];
    std::snprintf(number, sizeof number, "%s%g", i == 0 ? "" : ", ", values[i]);
    text += number;
  }
  return text;
}

std::string ControllerText(const ControllerSettings& s) {
  std::string text = ControllerName(s.kind);
  if (!Tracks(s.kind)) {
    return text;
  }
  text += s.target.empty() ? " holding the start" : " to " + ShortValuesText(s.target);
  if (s.trajectory == TrajectoryKind::kSine) {
    char period[32];
    std::snprintf(period, sizeof period, "%g", s.period);
    text += std::string(", a sine of period ") + period + " s";
  } else if (s.trajectory != TrajectoryKind::kStep) {
    text += std::string(" along a ") + TrajectoryName(s.trajectory);
    if (s.duration > 0.0) {
      char duration[32];
      std::snprintf(duration, sizeof duration, " of %g s", s.duration);
      text += duration;
    }
  }
  text +=
      s.samples == kContinuous ? ", continuous" : ", " + std::to_string(100 * s.samples) + " Hz";
  return text;
}
