#include "simulation/replay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "robot/input_checks.h"
#include "simulation/command_line.h"
#include "simulation/joint_limits.h"
#include "simulation/run_csv.h"

namespace {

// A value that runs to the end of its line, with backslashes and line ends escaped.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  }
  return out;
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char c = text[++i];
      out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      out += text[i];
    }
  }
  return out;
}

void AppendNumbers(std::string& line, const double* values, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    line += i == 0 ? " " : ", ";
    AppendCsvNumber(line, values[i], '\0');
  }
}

std::string Line(uint64_t tick, const char* what, const double* values, std::size_t n) {
  std::string line = std::to_string(tick) + ' ' + what;
  AppendNumbers(line, values, n);
  return line + '\n';
}

// Numbers written by AppendNumbers: separated by commas, exactly as many as given.
bool ReadNumbers(const std::string& text, std::vector<double>& values) {
  values.clear();
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string field = text.substr(at, comma - at);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(field.c_str(), &end);
    while (end != nullptr && *end == ' ') {
      ++end;
    }
    if (field.find_first_not_of(' ') == std::string::npos || end == nullptr || *end != '\0') {
      return false;
    }
    values.push_back(value);
    at = comma + 1;
    if (comma + 1 == text.size()) {
      return false;  // a trailing comma
    }
  }
  return true;
}

bool ReadStep(const std::string& text, StepOptions& step) {
  CLI::App app;
  StepChoice choice;
  AddStepOptions(app, choice);
  try {
    app.parse(text, false);
  } catch (const CLI::ParseError&) {
    return false;
  }
  step = ResolveStepOptions(choice, false);
  return true;
}

// Controller options as the replay writes them, read back.
bool ReadController(const std::string& text, ControlChoice& choice) {
  CLI::App app;
  AddControlOptions(app, choice);
  try {
    app.parse(text, false);
  } catch (const CLI::ParseError&) {
    return false;
  }
  return true;
}

}  // namespace

TickInputs InputsOf(const Robot& robot, bool inverse, const matrix<double>& torque,
                    const matrix<double>& accel, const StepOptions& step,
                    const ControllerSettings& controller) {
  TickInputs in;
  in.inverse = inverse;
  for (uint32_t i = 0; i < torque.RowCount(); ++i) {
    in.torque.push_back(torque(i, 0));
  }
  for (uint32_t i = 0; i < accel.RowCount(); ++i) {
    in.accel.push_back(accel(i, 0));
  }
  in.viscous = robot.viscousFriction;
  in.coulomb = robot.coulombFriction;
  for (uint32_t k = 0; k < 3; ++k) {
    in.gravity[k] = robot.gravity(k, 0);
  }
  in.step = step;
  in.limits = robot.limits;
  in.friction = robot.frictionSource;
  in.effortLimits = robot.effortLimits;
  in.controller = controller;
  return in;
}

std::string ReplayHead(const std::string& recording, const ReplayArm& arm) {
  const std::string name = recording.substr(recording.rfind('/') + 1);
  std::string text = "# velmoth-sim run --replay " + Escaped(name) +
                     ".replay repeats the recording " + Escaped(name) +
                     " byte for byte.\n# Each line: the ticks recorded before it took effect, then "
                     "what changed.\n";
  for (const auto& [option, value] : arm) {
    text += "arm " + option + ' ' + Escaped(value) + '\n';
  }
  return text;
}

std::string ReplayLine(uint64_t tick, const char* what, const std::vector<double>& values) {
  return Line(tick, what, values.data(), values.size());
}

std::string ReplayChanges(uint64_t tick, const TickInputs* before, const TickInputs& now) {
  std::string text;
  const std::string at = std::to_string(tick) + ' ';
  if (before == nullptr || StepArguments(before->step) != StepArguments(now.step)) {
    text += at + "step " + StepArguments(now.step) + '\n';
  }
  if (before == nullptr || before->inverse != now.inverse) {
    text += at + "mode " + (now.inverse ? "inverse" : "forward") + '\n';
  }
  if (before == nullptr || before->limits != now.limits) {
    text += at + "limits " + (now.limits ? "on" : "off") + '\n';
  }
  if (before == nullptr || before->friction != now.friction) {
    text += at + "friction " + (now.friction == FrictionSource::kFile ? "file" : "uniform") + '\n';
  }
  if (before == nullptr || before->effortLimits != now.effortLimits) {
    text += at + "efforts " + (now.effortLimits ? "on" : "off") + '\n';
  }
  // A controller at its first line only when there is one: recordings without keep their lines.
  if (before == nullptr ? !(now.controller == ControllerSettings{})
                        : !(before->controller == now.controller)) {
    text += at + "controller " + ControlArguments(now.controller) + '\n';
  }
  // Compared bit for bit, so that -0.0 after 0.0, and every NaN, are written as they are.
  const auto field = [&](const char* name, const double* value, std::size_t n, const double* was,
                         std::size_t wasN) {
    if (before == nullptr || n != wasN ||
        (n > 0 && std::memcmp(value, was, n * sizeof(double)) != 0)) {
      text += Line(tick, name, value, n);
    }
  };
  const TickInputs none;
  const TickInputs& b = before != nullptr ? *before : none;
  field("torque", now.torque.data(), now.torque.size(), b.torque.data(), b.torque.size());
  field("accel", now.accel.data(), now.accel.size(), b.accel.data(), b.accel.size());
  field("viscous", &now.viscous, 1, &b.viscous, 1);
  field("coulomb", &now.coulomb, 1, &b.coulomb, 1);
  field("gravity", now.gravity, 3, b.gravity, 3);
  text += ReplayForceChanges(tick, before != nullptr ? &before->forces : nullptr, now.forces);
  return text;
}

std::string ReplayReset(uint64_t tick) {
  return std::to_string(tick) + " reset\n";
}

std::string ReplayReference(uint64_t tick, const ReferenceStart& start) {
  std::vector<double> values{static_cast<double>(start.ticks)};
  values.insert(values.end(), start.from.begin(), start.from.end());
  return Line(tick, "reference", values.data(), values.size());
}

std::string ReplayEnd(uint64_t ticks) {
  return std::to_string(ticks) + " end\n";
}

std::string ParseReplay(const std::string& text, Replay& replay, bool cut) {
  replay = Replay{};
  // A cut recording's replay may end inside a line: that line never took effect.
  const std::string whole =
      cut && !text.empty() && text.back() != '\n' ? text.substr(0, text.rfind('\n') + 1) : text;
  std::istringstream lines(whole);
  int number = 0;
  uint64_t last = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (line.empty() || line[0] == '#') {
      continue;
    }
    if (replay.ticks) {
      return where + "nothing may follow the end";
    }
    const std::size_t space = line.find(' ');
    const std::string first = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (first == "arm") {
      const std::size_t gap = rest.find(' ');
      const std::string option = rest.substr(0, gap);
      if (!replay.events.empty() ||
          (option != "--links" && option != "--urdf" && option != "--tip" &&
           option != "--payload") ||
          gap == std::string::npos) {
        return where +
               "an arm line gives --links N, --urdf FILE, --tip LINK or --payload, before any tick";
      }
      replay.arm.emplace_back(option, Unescaped(rest.substr(gap + 1)));
      continue;
    }
    ReplayEvent event;
    event.line = number;
    const bool digits =
        !first.empty() && first.find_first_not_of("0123456789") == std::string::npos;
    char* end = nullptr;
    errno = 0;
    event.tick = digits ? std::strtoull(first.c_str(), &end, 10) : 0;
    if (!digits || errno != 0 || event.tick < last) {
      return where + "expected a tick number no smaller than the one before, not '" + Echo(first) +
             "'";
    }
    last = event.tick;
    const std::size_t gap = rest.find(' ');
    event.what = rest.substr(0, gap);
    const std::string values = gap == std::string::npos ? "" : rest.substr(gap + 1);
    if (event.what == "end" && values.empty()) {
      replay.ticks = event.tick;
      continue;
    }
    bool read = true;
    if (event.what == "reset") {
      read = values.empty();
    } else if (event.what == "mode") {
      read = values == "forward" || values == "inverse";
      event.inverse = values == "inverse";
    } else if (event.what == "limits" || event.what == "efforts") {
      read = values == "on" || values == "off";
      event.on = values == "on";
    } else if (event.what == "friction") {
      read = values == "file" || values == "uniform";
      event.friction = values == "file" ? FrictionSource::kFile : FrictionSource::kUniform;
    } else if (event.what == "step") {
      read = ReadStep(values, event.step);
    } else if (event.what == "controller") {
      read = ReadController(values, event.control);
    } else if (event.what == "reference") {
      read = ReadNumbers(values, event.values) && !event.values.empty() && event.values[0] >= 0.0 &&
             event.values[0] == std::floor(event.values[0]) && event.values[0] < 1.8e19;
    } else if (event.what == "q" || event.what == "qd" || event.what == "torque" ||
               event.what == "accel" || event.what == "viscous" || event.what == "coulomb" ||
               event.what == "gravity") {
      read = ReadNumbers(values, event.values);
      const std::size_t count = event.values.size();
      read = read && (event.what == "gravity"                              ? count == 3
                      : event.what == "viscous" || event.what == "coulomb" ? count == 1
                                                                           : true);
    } else if (!ReadForceEvent(event.what, values, event.force, read)) {
      return where + "unknown entry '" + Echo(event.what) + "'";
    }
    if (!read) {
      return where + "cannot read the " + event.what + " '" + Echo(values) + "'";
    }
    replay.events.push_back(std::move(event));
  }
  // What the window writes first and last: a file without them is no replay, or a cut one.
  const bool armed = std::any_of(replay.arm.begin(), replay.arm.end(),
                                 [](const auto& arm) { return arm.first != "--tip"; });
  if (!armed) {
    return "no arm line (arm --links N or arm --urdf FILE): not a recording's replay";
  }
  if (!replay.ticks && !cut) {
    return "no end line: the recording was cut before it ended (the program was killed or "
           "crashed); --cut replays it up to its last complete tick";
  }
  return "";
}

std::string CheckReplay(const Replay& replay, uint32_t n) {
  for (const ReplayEvent& event : replay.events) {
    const bool joints =
        event.what == "q" || event.what == "qd" || event.what == "torque" || event.what == "accel";
    if (event.what == "reference" && event.values.size() != n + 1) {
      return "line " + std::to_string(event.line) + ": the reference of " +
             std::to_string(event.values.size() - 1) + " joint positions for an arm of " +
             std::to_string(n) + " joints";
    }
    if (joints && event.values.size() != n) {
      return "line " + std::to_string(event.line) + ": " + std::to_string(event.values.size()) +
             " values of " + event.what + " for an arm of " + std::to_string(n) + " joints";
    }
    if (event.what == "viscous" || event.what == "coulomb") {
      if (std::string problem = FrictionProblem(event.what, event.values[0]); !problem.empty()) {
        return "line " + std::to_string(event.line) + ": " + problem;
      }
    }
  }
  return "";
}

std::string CheckReplayForces(const Replay& replay, const Robot& robot) {
  std::vector<ForceLine> lines;
  for (const ReplayEvent& event : replay.events) {
    lines.push_back({event.line, event.what, &event.force});
  }
  return CheckForceLines(lines, robot);
}

void ApplyReplayEvent(const ReplayEvent& event, Robot& robot, TickInputs& inputs,
                      Controller* controller) {
  const std::vector<double>& v = event.values;
  if (ApplyForceEvent(event.what, event.force, inputs.forces)) {
    return;
  }
  if (event.what == "controller") {
    inputs.controller = ResolveControl(event.control, static_cast<uint32_t>(robot.links.size()));
    if (controller != nullptr) {
      controller->SetSettings(inputs.controller);
    }
    return;
  }
  if (event.what == "reference") {
    if (controller != nullptr) {
      controller->SetStart(
          {std::vector<double>(v.begin() + 1, v.end()), static_cast<uint64_t>(v[0])});
    }
    return;
  }
  if (event.what == "reset" && controller != nullptr) {
    controller->RestartReference();
  }
  if (event.what == "q" || event.what == "qd") {
    double Link::*field = event.what == "q" ? &Link::q : &Link::qd;
    for (std::size_t i = 0; i < v.size() && i < robot.links.size(); ++i) {
      (*robot.links[i]).*field = v[i];
    }
  } else if (event.what == "reset") {
    robot.ResetJointState();
  } else if (event.what == "limits") {
    robot.limits = inputs.limits = event.on;
    ClampStartToLimits(robot);
  } else if (event.what == "friction") {
    robot.frictionSource = inputs.friction = event.friction;
  } else if (event.what == "efforts") {
    robot.effortLimits = inputs.effortLimits = event.on;
  } else if (event.what == "mode") {
    inputs.inverse = event.inverse;
  } else if (event.what == "step") {
    inputs.step = event.step;
  } else if (event.what == "torque") {
    inputs.torque = v;
  } else if (event.what == "accel") {
    inputs.accel = v;
  } else if (event.what == "viscous") {
    robot.viscousFriction = inputs.viscous = v[0];
  } else if (event.what == "coulomb") {
    robot.coulombFriction = inputs.coulomb = v[0];
  } else if (event.what == "gravity") {
    for (uint32_t k = 0; k < 3; ++k) {
      robot.gravity(k, 0) = inputs.gravity[k] = v[k];
    }
  }
}
