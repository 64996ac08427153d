#include "simulation/command_line.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

std::string Echo(const std::string& text) {
  return text.size() <= kEchoLimit ? text : text.substr(0, kEchoLimit - 3) + "...";
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  while (!text.empty() && text.back() == ' ') {
    text.pop_back();
  }
  return text;
}

CLI::Validator WholeNumber(uint64_t min, uint64_t max) {
  std::string range = max == UINT64_MAX ? "a whole number of " + std::to_string(min) + " or more"
                                        : "a whole number from " + std::to_string(min) + " to " +
                                              std::to_string(max);
  return CLI::Validator(
      [min, max, range](std::string& text) -> std::string {
        uint64_t value = 0;
        const char* first = text.data();
        const char* last = first + text.size();
        const bool digits = !text.empty() && text.find_first_not_of("0123456789") == text.npos;
        const auto [end, error] = std::from_chars(first, last, value);
        if (!digits || error != std::errc() || end != last || value < min || value > max) {
          return "expects " + range + ", not '" + Echo(text) + "'";
        }
        return std::string();
      },
      "", "WholeNumber");
}

CLI::Validator FileName() {
  return CLI::Validator(
      [](const std::string& text) {
        return text.empty() ? std::string("expects a file name, not ''") : std::string();
      },
      "", "FileName");
}

std::string ParseErrorLine(const CLI::ParseError& error) {
  const std::string text = OneLine(error.what());
  // CLI11 words it "--name: At Most 1 required but received N".
  const std::string_view repeated = ": At Most 1 required but received ";
  const std::size_t at = text.find(repeated);
  if (error.get_name() == "ArgumentMismatch" && at != std::string::npos && at > 0) {
    return text.substr(0, at) + " is given " + text.substr(at + repeated.size()) +
           " times; give it once";
  }
  return text;
}

void GiveEmptyValues(std::vector<const char*>& args, std::deque<std::string>& storage) {
  for (auto a = args.begin() + 1; a != args.end(); ++a) {
    const std::string_view text = *a;
    if (text.size() > 3 && text.starts_with("--") && text.ends_with('=')) {
      *a = storage.emplace_back(text.substr(0, text.size() - 1)).c_str();
      a = args.insert(a + 1, "");
    }
  }
}

namespace {

// Accepts exactly one of names.
CLI::Validator OneOf(const std::vector<std::string>& names, const char* what) {
  std::string list;
  for (const std::string& name : names) {
    list += (list.empty() ? "" : ",") + name;
  }
  return CLI::Validator(
      [names, list](std::string& text) -> std::string {
        for (const std::string& name : names) {
          if (text == name) {
            return std::string();
          }
        }
        std::string expected;
        for (std::size_t i = 0; i < names.size(); ++i) {
          expected += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
        }
        return "expects " + expected + ", not '" + Echo(text) + "'";
      },
      "{" + list + "}", what);
}

std::vector<std::string> EngineNames() {
  std::vector<std::string> names;
  for (EngineKind kind : kEngineKinds) {
    names.emplace_back(EngineName(kind));
  }
  return names;
}

std::vector<std::string> IntegratorNames() {
  std::vector<std::string> names;
  for (IntegratorKind kind : kIntegratorKinds) {
    names.emplace_back(IntegratorName(kind));
  }
  return names;
}

}  // namespace

void AddStepOptions(CLI::App& command, StepChoice& choice, bool engineOnly) {
  command
      .add_option("--engine", choice.engine,
                  "closed-form or recursive (default: closed-form for the built-in arm, recursive "
                  "for a URDF file)")
      ->type_name("ENGINE")
      ->check(OneOf(EngineNames(), "Engine"));
  if (engineOnly) {
    return;
  }
  command
      .add_option("--integrator", choice.integrator,
                  "euler, implicit, rk4 or dopri5 (default: euler for the built-in arm, dopri5 for "
                  "a URDF file)")
      ->type_name("NAME")
      ->check(OneOf(IntegratorNames(), "Integrator"));
  command
      .add_option("--substeps", choice.substeps,
                  "Substeps per 0.01 s tick, 1 to " + std::to_string(kMaxSubsteps) +
                      " (default: 1; with dopri5 the fewest steps a tick takes)")
      ->type_name("N")
      ->check(WholeNumber(1, kMaxSubsteps));
  command
      .add_option("--tolerance", choice.tolerance,
                  "dopri5's tolerance, " + ToleranceText(kMinTolerance) + " to " +
                      ToleranceText(kMaxTolerance) +
                      " (default: " + ToleranceText(kDefaultTolerance) +
                      "): the local error allowed per step, absolute and relative, of each "
                      "joint position and velocity and of the work and dissipated energy")
      ->type_name("TOL")
      ->check(Tolerance());
}

CLI::Validator Tolerance() {
  const std::string range = ToleranceText(kMinTolerance) + " to " + ToleranceText(kMaxTolerance);
  return CLI::Validator(
      [range](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool whole = !text.empty() && end == text.c_str() + text.size();
        if (!whole || !(value >= kMinTolerance && value <= kMaxTolerance)) {
          return "expects a number from " + range + ", not '" + Echo(text) + "'";
        }
        return std::string();
      },
      "", "Tolerance");
}

StepOptions ResolveStepOptions(const StepChoice& choice, bool fromFile) {
  StepOptions options = DefaultStepOptions(fromFile);
  if (const auto engine = EngineNamed(choice.engine)) {
    options.engine = *engine;
  }
  if (const auto integrator = IntegratorNamed(choice.integrator)) {
    options.integrator = *integrator;
  }
  if (choice.substeps > 0) {
    options.substeps = static_cast<int>(choice.substeps);
  }
  if (choice.tolerance > 0.0) {
    options.tolerance = choice.tolerance;
  }
  return options;
}

void AddPhysicsOptions(CLI::App& command, PhysicsChoice& choice, bool frictionOnly) {
  command
      .add_option("--friction", choice.friction,
                  "file or uniform: each joint takes the viscous and Coulomb coefficients its URDF "
                  "file gives it (<dynamics damping friction>), the others --viscous and "
                  "--coulomb; or every joint takes those (default: file, but uniform when "
                  "--viscous or --coulomb is given)")
      ->type_name("SOURCE")
      ->check(OneOf({"file", "uniform"}, "Friction"));
  if (frictionOnly) {
    return;
  }
  command
      .add_option("--limits", choice.limits,
                  "on or off: joints stop at the limits of their URDF file, an inelastic impact, "
                  "and rest there while pushed into them (default: on; the built-in arm has none)")
      ->type_name("ON/OFF")
      ->check(OneOf({"on", "off"}, "Limits"));
  command.add_flag("--effort-limits", choice.effortLimits,
                   "Saturate each applied torque at its joint's effort in the URDF file");
}

void ApplyPhysicsChoice(const PhysicsChoice& choice, bool panelFriction, Robot& robot) {
  robot.limits = choice.limits != "off";
  const bool uniform = choice.friction.empty() ? panelFriction : choice.friction == "uniform";
  robot.frictionSource = uniform ? FrictionSource::kUniform : FrictionSource::kFile;
  robot.effortLimits = choice.effortLimits;
}

std::string StepArguments(const StepOptions& options) {
  char tolerance[40];
  std::snprintf(tolerance, sizeof tolerance, "%.17g", options.tolerance);
  return std::string("--engine ") + EngineName(options.engine) + " --integrator " +
         IntegratorName(options.integrator) + " --substeps " + std::to_string(options.substeps) +
         " --tolerance " + tolerance;
}
