// The options that choose a controller, the same in velmoth-sim's command line and in a
// recording's replay (whose "controller" lines are these options): the law, its target and
// reference, gains, rate and model. Vector texts are read as the panel reads them; a gain text of
// a single number is every joint's.
#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "control/control_settings.h"

// What the command line chose, as given; empty: the default.
struct ControlChoice {
  std::string controller;
  std::string target;
  std::string trajectory;
  std::string duration;
  std::string amplitude;
  std::string period;
  std::string rate;
  std::string frequency;
  std::string kp, kd, kn;
  std::string compensation;  // "on", "off"
  std::string tool;
  std::string massError;
  std::string modelFriction;  // "on", "off"
};

// Adds --controller, --target, --trajectory, --duration, --amplitude, --period, --control-rate,
// --frequency, --kp, --kd, --kn, --compensation, --tool, --model-mass-error and --model-friction.
void AddControlOptions(CLI::App& command, ControlChoice& choice);

// "" when every control option given is one the chosen controller takes, else the problem (e.g.
// "--target needs --controller pd, computed-torque or task-pd").
std::string CheckControlChoice(const CLI::App& command, const ControlChoice& choice);

// The settings chosen for an arm of n joints.
ControllerSettings ResolveControl(const ControlChoice& choice, uint32_t n);

// The options that give exactly these settings, every number with %.17g: what a replay writes.
std::string ControlArguments(const ControllerSettings& settings);
