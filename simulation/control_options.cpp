#include "simulation/control_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "matrix/matrix.h"
#include "simulation/command_line.h"
#include "simulation/text_fields.h"

namespace {

// Accepts a number written in full that lies in [min, max] (above min when open).
CLI::Validator Number(double min, double max, bool open, const std::string& what) {
  return CLI::Validator(
      [min, max, open, what](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool whole = !text.empty() && end == text.c_str() + text.size();
        const bool inside = value <= max && (open ? value > min : value >= min);
        if (!whole || !std::isfinite(value) || !inside) {
          return "expects " + what + ", not '" + Echo(text) + "'";
        }
        return std::string();
      },
      "", "Number");
}

CLI::Validator Named(const std::vector<std::string>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  }
  return CLI::Validator(
      [names, list](std::string& text) -> std::string {
        for (const std::string& name : names) {
          if (text == name) {
            return std::string();
          }
        }
        return "expects " + list + ", not '" + Echo(text) + "'";
      },
      "", "Named");
}

CLI::Validator Rate() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return RateNamed(text) ? std::string()
                               : "expects continuous or 100, 200, ..., 1000 (samples per second), "
                                 "not '" +
                                     Echo(text) + "'";
      },
      "", "Rate");
}

// n values of vector text (size n), or the one number a text of a single number holds.
std::vector<double> Values(const std::string& text, uint32_t n, bool single) {
  if (text.empty()) {
    return {};
  }
  if (single) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    while (end != nullptr && (*end == ' ' || *end == '\t')) {
      ++end;
    }
    if (end != text.c_str() && end != nullptr && *end == '\0') {
      return {value};
    }
  }
  matrix<double> v(n, 1);
  ReadVectorText(text, v);
  std::vector<double> values(n);
  for (uint32_t i = 0; i < n; ++i) {
    values[i] = v(i, 0);
  }
  return values;
}

std::string Numbers(const std::vector<double>& values) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    char number[40];
    std::snprintf(number, sizeof number, "%s%.17g", i == 0 ? "" : ",", values[i]);
    text += number;
  }
  return text;
}

std::string Number(double value) {
  char number[40];
  std::snprintf(number, sizeof number, "%.17g", value);
  return number;
}

}  // namespace

void AddControlOptions(CLI::App& command, ControlChoice& c) {
  std::vector<std::string> controllers, trajectories;
  for (ControllerKind kind : kControllerKinds) {
    controllers.emplace_back(ControllerName(kind));
  }
  for (TrajectoryKind kind : kTrajectoryKinds) {
    trajectories.emplace_back(TrajectoryName(kind));
  }
  command
      .add_option("--controller", c.controller,
                  "torque, gravity, pd, computed-torque or task-pd: the typed torques alone, plus "
                  "g(q), a PD law with gravity compensation, computed torque, or a PD law on the "
                  "tool's position (default: torque)")
      ->type_name("NAME")
      ->check(Named(controllers));
  command
      .add_option("--target", c.target,
                  "The target: joint positions (task-pd: the tool's x, y, z in the base frame) "
                  "(default: the start)")
      ->type_name("TEXT");
  command
      .add_option("--trajectory", c.trajectory,
                  "step, quintic, trapezoid or sine: the reference goes to the target at once, "
                  "along a quintic (rest to rest, least jerk) or a trapezoidal velocity profile, "
                  "or is a sine about it (default: quintic)")
      ->type_name("NAME")
      ->check(Named(trajectories));
  command
      .add_option("--duration", c.duration,
                  "Seconds the quintic or trapezoid takes (default: its largest distance at 1 "
                  "rad/s or 0.2 m/s at its peak, at least 0.5)")
      ->type_name("S")
      ->check(Number(0.0, 1e9, true, "a number of seconds above 0"));
  command
      .add_option("--amplitude", c.amplitude,
                  "The sine's amplitude per joint (task-pd: per axis); one number is every "
                  "joint's (default: 0.2 rad, 0.02 m)")
      ->type_name("TEXT");
  command.add_option("--period", c.period, "The sine's period (default: 2 s)")
      ->type_name("S")
      ->check(Number(0.0, 1e9, true, "a number of seconds above 0"));
  command
      .add_option("--control-rate", c.rate,
                  "continuous, or samples per second, 100 to 1000 in steps of 100: the "
                  "controller's torque is held between samples (default: continuous)")
      ->type_name("RATE")
      ->check(Rate());
  command
      .add_option("--frequency", c.frequency,
                  "The default gains' natural frequency, critically damped (default: 10 rad/s)")
      ->type_name("W")
      ->check(Number(0.0, 1e6, true, "a frequency above 0"));
  command
      .add_option(
          "--kp", c.kp,
          "Proportional gains per joint (task-pd: per axis); one number is every joint's "
          "(default: W^2 M, M the mass matrix at the target; computed-torque W^2; task-pd W^2 "
          "times the tool's inertia)")
      ->type_name("TEXT");
  command
      .add_option("--kd", c.kd,
                  "Derivative gains per joint (task-pd: per axis); one number is every joint's "
                  "(default: 2 W M; computed-torque 2 W; task-pd 2 W times the tool's inertia)")
      ->type_name("TEXT");
  command.add_option("--kn", c.kn, "task-pd: the joints' damping per joint (default: W M)")
      ->type_name("TEXT");
  command
      .add_option("--compensation", c.compensation,
                  "on or off: pd and task-pd add the gravity torques g(q) (default: on)")
      ->type_name("ON/OFF")
      ->check(Named({"on", "off"}));
  command
      .add_option("--tool", c.tool, "task-pd: the frame it moves (default: the arm's last frame)")
      ->type_name("FRAME");
  command
      .add_option("--model-mass-error", c.massError,
                  "The controller's model gives the arm's last link this much more mass (kg; "
                  "negative: less) (default: 0, the exact model)")
      ->type_name("KG")
      ->check(Number(-1e9, 1e9, false, "a mass in kg"));
  command
      .add_option("--model-friction", c.modelFriction,
                  "on or off: computed-torque models the joints' friction (default: on)")
      ->type_name("ON/OFF")
      ->check(Named({"on", "off"}));
}

std::string CheckControlChoice(const CLI::App& command, const ControlChoice& c) {
  const ControllerKind kind = ControllerNamed(c.controller).value_or(ControllerKind::kTorque);
  const auto given = [&](const char* name) { return command.count(name) > 0; };
  const struct {
    const char* option;
    bool takes;
    const char* needs;
  } rules[] = {
      {"--target", Tracks(kind), "--controller pd, computed-torque or task-pd"},
      {"--trajectory", Tracks(kind), "--controller pd, computed-torque or task-pd"},
      {"--duration", Tracks(kind), "--controller pd, computed-torque or task-pd"},
      {"--frequency", Tracks(kind), "--controller pd, computed-torque or task-pd"},
      {"--kp", Tracks(kind), "--controller pd, computed-torque or task-pd"},
      {"--kd", Tracks(kind), "--controller pd, computed-torque or task-pd"},
      {"--kn", kind == ControllerKind::kTaskPd, "--controller task-pd"},
      {"--tool", kind == ControllerKind::kTaskPd, "--controller task-pd"},
      {"--compensation", kind == ControllerKind::kPd || kind == ControllerKind::kTaskPd,
       "--controller pd or task-pd"},
      {"--model-friction", kind == ControllerKind::kComputedTorque, "--controller computed-torque"},
      {"--control-rate", kind != ControllerKind::kTorque, "a --controller other than torque"},
      {"--model-mass-error", kind != ControllerKind::kTorque, "a --controller other than torque"},
      {"--amplitude", Tracks(kind) && c.trajectory == "sine", "--trajectory sine"},
      {"--period", Tracks(kind) && c.trajectory == "sine", "--trajectory sine"},
  };
  for (const auto& rule : rules) {
    if (given(rule.option) && !rule.takes) {
      return std::string(rule.option) + " needs " + rule.needs;
    }
  }
  return "";
}

ControllerSettings ResolveControl(const ControlChoice& c, uint32_t n) {
  ControllerSettings s;
  s.kind = ControllerNamed(c.controller).value_or(ControllerKind::kTorque);
  const uint32_t size = s.kind == ControllerKind::kTaskPd ? 3 : n;
  s.target = Values(c.target, size, false);
  s.trajectory = TrajectoryNamed(c.trajectory).value_or(TrajectoryKind::kQuintic);
  if (!c.duration.empty()) {
    s.duration = std::strtod(c.duration.c_str(), nullptr);
  }
  s.amplitude = Values(c.amplitude, size, true);
  if (!c.period.empty()) {
    s.period = std::strtod(c.period.c_str(), nullptr);
  }
  s.samples = RateNamed(c.rate).value_or(kContinuous);
  if (!c.frequency.empty()) {
    s.frequency = std::strtod(c.frequency.c_str(), nullptr);
  }
  s.kp = Values(c.kp, size, true);
  s.kd = Values(c.kd, size, true);
  s.kn = Values(c.kn, n, true);
  s.compensate = c.compensation != "off";
  s.frame = c.tool;
  if (!c.massError.empty()) {
    s.massError = std::strtod(c.massError.c_str(), nullptr);
  }
  s.modelFriction = c.modelFriction != "off";
  return s;
}

std::string ControlArguments(const ControllerSettings& s) {
  std::string text = std::string("--controller ") + ControllerName(s.kind) + " --control-rate " +
                     RateName(s.samples) + " --trajectory " + TrajectoryName(s.trajectory);
  const std::pair<const char*, const std::vector<double>*> vectors[] = {
      {"--target", &s.target},
      {"--amplitude", &s.amplitude},
      {"--kp", &s.kp},
      {"--kd", &s.kd},
      {"--kn", &s.kn}};
  for (const auto& [option, values] : vectors) {
    if (!values->empty()) {
      text += std::string(" ") + option + ' ' + Numbers(*values);
    }
  }
  if (s.duration > 0.0) {
    text += " --duration " + Number(s.duration);
  }
  text += " --period " + Number(s.period) + " --frequency " + Number(s.frequency) +
          " --compensation " + (s.compensate ? "on" : "off") + " --model-mass-error " +
          Number(s.massError) + " --model-friction " + (s.modelFriction ? "on" : "off");
  if (!s.frame.empty()) {
    std::string quoted;
    for (char ch : s.frame) {
      quoted += ch == '"' || ch == '\\' ? std::string("\\") + ch : std::string(1, ch);
    }
    text += " --tool \"" + quoted + "\"";
  }
  return text;
}
