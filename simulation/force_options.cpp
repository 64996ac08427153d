#include "simulation/force_options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simulation/command_line.h"

namespace {

// Exactly `count` numbers separated by commas, each written in full and finite (or infinite where
// infinite is set, never NaN).
bool ReadExactly(const std::string& text, std::size_t count, double* out, bool infinite = false) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t comma = i + 1 < count ? text.find(',', at) : text.size();
    if (comma == std::string::npos) {
      return false;
    }
    const std::string field = text.substr(at, comma - at);
    char* end = nullptr;
    out[i] = std::strtod(field.c_str(), &end);
    if (field.empty() || field[0] == ' ' || end != field.c_str() + field.size() ||
        std::isnan(out[i]) || (!infinite && !std::isfinite(out[i]))) {
      return false;
    }
    at = comma + 1;
  }
  return true;
}

// FRAME:NUMBERS[@px,py,pz] split into its frame, its numbers and its point (all zero when absent).
std::string ReadFrameText(const std::string& text, const char* what, const char* numbers,
                          std::size_t count, std::string& frame, double* values, double point[3]) {
  const std::string usage =
      std::string("expects FRAME:") + numbers + "[@px,py,pz], not '" + Echo(text) + "'";
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    return std::string(what) + " " + usage;
  }
  frame = text.substr(0, colon);
  std::string rest = text.substr(colon + 1);
  point[0] = point[1] = point[2] = 0.0;
  const std::size_t at = rest.find('@');
  if (at != std::string::npos) {
    if (!ReadExactly(rest.substr(at + 1), 3, point)) {
      return std::string(what) + " " + usage;
    }
    rest = rest.substr(0, at);
  }
  if (!ReadExactly(rest, count, values)) {
    return std::string(what) + " " + usage;
  }
  return "";
}

std::string Number(double value) {
  char number[40];
  std::snprintf(number, sizeof number, "%.17g", value);
  return number;
}

std::string Triple(const double (&v)[3]) {
  return Number(v[0]) + "," + Number(v[1]) + "," + Number(v[2]);
}

// A text quoted for CLI11's splitting of a replay's line.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char ch : text) {
    quoted += ch == '"' || ch == '\\' ? std::string("\\") + ch : std::string(1, ch);
  }
  return quoted + '"';
}

std::string NumbersLine(uint64_t tick, const char* what, const std::vector<double>& values) {
  std::string line = std::to_string(tick) + ' ' + what;
  for (std::size_t i = 0; i < values.size(); ++i) {
    line += (i == 0 ? " " : ", ") + Number(values[i]);
  }
  return line + '\n';
}

// Numbers separated by commas (blanks after them allowed), as the replay writes them.
bool ReadNumbers(const std::string& text, std::size_t count, std::vector<double>& values,
                 bool infinite = false) {
  std::string compact;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == ' ' && i > 0 && text[i - 1] == ',')) {
      compact += text[i];
    }
  }
  values.assign(count, 0.0);
  return ReadExactly(compact, count, values.data(), infinite);
}

CLI::Validator Checked(bool payload) {
  return CLI::Validator(
      [payload](std::string& text) -> std::string {
        ExternalForce force;
        Payload load;
        const std::string problem =
            payload ? ReadPayloadText(text, load) : ReadForceText(text, force);
        // CLI11 puts the option's name before the message.
        return problem.substr(problem.find(' ') + 1);
      },
      "", payload ? "Payload" : "Force");
}

}  // namespace

std::string ReadForceText(const std::string& text, ExternalForce& force) {
  ExternalForce read;
  const std::string problem =
      ReadFrameText(text, "--force", "fx,fy,fz", 3, read.frame, read.force, read.point);
  if (problem.empty()) {
    force = read;
  }
  return problem;
}

std::string ReadPayloadText(const std::string& text, Payload& payload) {
  Payload read;
  std::string problem =
      ReadFrameText(text, "--payload", "mass", 1, read.frame, &read.mass, read.point);
  if (problem.empty() && read.mass < 0.0) {
    problem = "--payload expects a mass of 0 kg or more, not '" + Echo(text) + "'";
  }
  if (problem.empty()) {
    payload = read;
  }
  return problem;
}

std::string ForceText(const ExternalForce& force) {
  return force.frame + ":" + Triple(force.force) + "@" + Triple(force.point);
}

std::string PayloadText(const Payload& payload) {
  return payload.frame + ":" + Number(payload.mass) + "@" + Triple(payload.point);
}

void AddForceOptions(CLI::App& command, ForceChoice& choice) {
  command
      .add_option("--force", choice.forces,
                  "A force in world axes (N) at a point of a frame (its coordinates, m; default "
                  "its origin), held for the whole run (repeatable)")
      ->type_name("FRAME:fx,fy,fz[@px,py,pz]")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(Checked(false));
  command
      .add_option("--payload", choice.payloads,
                  "A point mass (kg) fixed to a frame at a point (its coordinates, m; default its "
                  "origin), added to its link's inertia (repeatable)")
      ->type_name("FRAME:mass[@px,py,pz]")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(Checked(true));
}

std::string ResolveForces(const ForceChoice& choice, Robot& robot,
                          std::vector<ExternalForce>& forces) {
  for (const std::string& text : choice.payloads) {
    Payload payload;
    std::string problem = ReadPayloadText(text, payload);
    problem = problem.empty() ? AddPayload(robot, payload) : problem;
    if (!problem.empty()) {
      return "--payload " + text + ": " + problem;
    }
  }
  forces.clear();
  for (const std::string& text : choice.forces) {
    ExternalForce force;
    std::string problem = ReadForceText(text, force);
    if (problem.empty()) {
      ExternalTorques check(robot);
      problem = check.Set({{force}, std::nullopt});
    }
    if (!problem.empty()) {
      return "--force " + text + ": " + problem;
    }
    forces.push_back(force);
  }
  return "";
}

std::string ReplayForceChanges(uint64_t tick, const ArmForces* before, const ArmForces& now) {
  std::string text;
  const std::string at = std::to_string(tick) + ' ';
  if (before == nullptr ? !now.forces.empty() : before->forces != now.forces) {
    text += at + "forces";
    for (const ExternalForce& force : now.forces) {
      text += " --force " + Quoted(ForceText(force));
    }
    text += '\n';
  }
  const Pull* was = before != nullptr && before->pull ? &*before->pull : nullptr;
  if (!now.pull) {
    if (was != nullptr) {
      text += at + "release\n";
    }
    return text;
  }
  const Pull& pull = *now.pull;
  const bool same = was != nullptr && was->link == pull.link &&
                    std::memcmp(was->point, pull.point, sizeof pull.point) == 0 &&
                    std::memcmp(&was->stiffness, &pull.stiffness, sizeof pull.stiffness) == 0 &&
                    std::memcmp(&was->damping, &pull.damping, sizeof pull.damping) == 0 &&
                    std::memcmp(&was->maxForce, &pull.maxForce, sizeof pull.maxForce) == 0;
  if (!same) {
    text += NumbersLine(tick, "pull",
                        {static_cast<double>(pull.link), pull.point[0], pull.point[1],
                         pull.point[2], pull.stiffness, pull.damping, pull.maxForce});
  }
  if (!same || std::memcmp(was->target, pull.target, sizeof pull.target) != 0) {
    text += NumbersLine(tick, "cursor", {pull.target[0], pull.target[1], pull.target[2]});
  }
  return text;
}

bool ReadForceEvent(const std::string& what, const std::string& values, ForceEvent& event,
                    bool& read) {
  if (what == "forces") {
    std::vector<std::string> texts;
    CLI::App app;
    app.add_option("--force", texts)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    read = true;
    try {
      app.parse(values, false);
    } catch (const CLI::ParseError&) {
      read = false;
    }
    event.forces.clear();
    for (const std::string& text : texts) {
      ExternalForce force;
      read = read && ReadForceText(text, force).empty();
      event.forces.push_back(force);
    }
    return true;
  }
  if (what == "pull") {
    // Only the largest force may be infinite (none).
    read = ReadNumbers(values, 7, event.values, true) &&
           std::all_of(event.values.begin(), event.values.end() - 1,
                       [](double x) { return std::isfinite(x); }) &&
           event.values[0] >= 0.0 && event.values[0] == std::floor(event.values[0]) &&
           event.values[0] < 1e9;
    return true;
  }
  if (what == "cursor") {
    read = ReadNumbers(values, 3, event.values);
    return true;
  }
  if (what == "release") {
    read = values.empty();
    return true;
  }
  return false;
}

bool ApplyForceEvent(const std::string& what, const ForceEvent& event, ArmForces& forces) {
  const std::vector<double>& v = event.values;
  if (what == "forces") {
    forces.forces = event.forces;
  } else if (what == "pull") {
    Pull pull;
    if (forces.pull) {
      std::memcpy(pull.target, forces.pull->target, sizeof pull.target);
    }
    pull.link = static_cast<int>(v[0]);
    for (int k = 0; k < 3; ++k) {
      pull.point[k] = v[1 + static_cast<std::size_t>(k)];
    }
    pull.stiffness = v[4];
    pull.damping = v[5];
    pull.maxForce = v[6];
    forces.pull = pull;
  } else if (what == "cursor") {
    if (forces.pull) {
      for (int k = 0; k < 3; ++k) {
        forces.pull->target[k] = v[static_cast<std::size_t>(k)];
      }
    }
  } else if (what == "release") {
    forces.pull.reset();
  } else {
    return false;
  }
  return true;
}

std::string CheckForceLines(const std::vector<ForceLine>& lines, const Robot& robot) {
  ExternalTorques check(robot);
  bool pulling = false;
  for (const ForceLine& l : lines) {
    const std::string where = "line " + std::to_string(l.line) + ": ";
    if (l.what == "forces") {
      if (const std::string problem = check.Set({l.event->forces, std::nullopt});
          !problem.empty()) {
        return where + problem;
      }
    } else if (l.what == "pull") {
      const auto link = static_cast<std::size_t>(l.event->values[0]);
      if (link >= robot.links.size()) {
        return where + "the pull's link " + std::to_string(link) + " for an arm of " +
               std::to_string(robot.links.size()) + " links";
      }
      pulling = true;
    } else if (l.what == "cursor" && !pulling) {
      return where + "a cursor without a pull";
    } else if (l.what == "release") {
      pulling = false;
    }
  }
  return "";
}
