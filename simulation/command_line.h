// What the two programs' command lines share: option values checked as plain whole numbers,
// "--name=" read as an empty value, messages of one line that quote values briefly, and the
// options that choose the engine, the integrator and the substeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "robot/robot.h"
#include "simulation/step_options.h"

// The programs' version, the project's.
inline constexpr char kVelmothVersion[] = VELMOTH_VERSION;

// A value quoted in a message is cut to this many characters.
inline constexpr std::size_t kEchoLimit = 80;

// text as a message quotes it: at most kEchoLimit characters, a longer text cut with "...".
std::string Echo(const std::string& text);

// A message as one line: line ends become blanks, trailing blanks go.
std::string OneLine(std::string text);

// Accepts only plain decimal digits, from min to max: CLI11's own integer conversion would also
// take "0x10", "010" as octal and a wrapped "-1".
CLI::Validator WholeNumber(uint64_t min, uint64_t max);

// Accepts any text but the empty one, which names no file.
CLI::Validator FileName();

// A parse error as the one line a program prints after its name. An option given more often than
// it is taken says so, in place of CLI11's "At Most 1 required but received 2".
std::string ParseErrorLine(const CLI::ParseError& error);

// Rewrites every "--name=" among args (after the program's name) as "--name" followed by an empty
// argument, as "--name ''" gives it; CLI11 would take the next argument as the value instead. The
// new texts are kept in storage.
void GiveEmptyValues(std::vector<const char*>& args, std::deque<std::string>& storage);

// What the command line chose of the step; what it left out takes the arm's defaults.
struct StepChoice {
  std::string engine;
  std::string integrator;
  uint64_t substeps = 0;   // 0: the integrator's default
  double tolerance = 0.0;  // 0: the default
};

// Accepts a tolerance: a number from kMinTolerance to kMaxTolerance, written in full.
CLI::Validator Tolerance();

// Adds --engine and, unless only the engine matters, --integrator, --substeps and --tolerance to
// command.
void AddStepOptions(CLI::App& command, StepChoice& choice, bool engineOnly = false);

// The step for an arm (from a file or built in) with what the command line chose.
StepOptions ResolveStepOptions(const StepChoice& choice, bool fromFile);

// What the command line chose of the arm's own physics: its limits, which friction coefficients
// its joints take, and whether its torques saturate at their efforts.
struct PhysicsChoice {
  std::string limits;    // "on", "off"; empty: on
  std::string friction;  // "file", "uniform"; empty: see ApplyPhysicsChoice
  bool effortLimits = false;
};

// Adds --friction to command and, unless only friction matters, --limits and --effort-limits.
void AddPhysicsOptions(CLI::App& command, PhysicsChoice& choice, bool frictionOnly = false);

// Sets the robot's limits, friction source and effort limits as chosen. Without --friction, the
// joints take the file's friction unless the panel's coefficients were given (panelFriction,
// --viscous or --coulomb), which, as the panel's "Set" with values typed, every joint takes.
void ApplyPhysicsChoice(const PhysicsChoice& choice, bool panelFriction, Robot& robot);
// The options of AddStepOptions that give exactly these step options, each of them:
// "--engine closed-form --integrator euler --substeps 1 --tolerance 1.0000000000000001e-09". A
// field added to StepOptions needs its option here and in AddStepOptions, or recordings lose it.
std::string StepArguments(const StepOptions& options);
