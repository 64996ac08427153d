// The window program's command line. It is read before any window or display is touched, so that
// --help and --version work everywhere, a display or not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simulation/command_line.h"
#include "simulation/control_options.h"
#include "simulation/force_options.h"

struct WindowOptions {
  std::string record;  // --record FILE: record every tick to FILE from the start
  std::string urdf;    // --urdf FILE: an arm of a URDF file instead of the built-in one
  std::string tip;     // --tip LINK: where the file's chain ends
  // --package-path DIR, repeatable: where package:// meshes of the file are looked for first.
  std::vector<std::string> packagePaths;
  uint64_t links = 6;  // --links N: the built-in arm with N links
  bool linksGiven = false;
  std::string q0;   // --q0 TEXT: the joint positions at the start, as vector text
  std::string qd0;  // --qd0 TEXT: the joint velocities at the start
  // --viscous X, --coulomb X, --gravity TEXT: the friction and gravity at the start.
  std::optional<std::string> viscous;
  std::optional<std::string> coulomb;
  std::optional<std::string> gravity;
  // --engine, --integrator, --substeps: how the ticks advance the arm.
  StepChoice step;
  // --limits, --friction, --effort-limits: the arm's own physics.
  PhysicsChoice physics;
  // --controller, --target, --trajectory, --duration, --kp, --kd, --control-rate, ...: the
  // controller the ticks start with, as velmoth-sim's options choose it.
  ControlChoice control;
  // --force, --payload: forces held on the arm and point masses fixed to its frames.
  ForceChoice push;
};

// Reads velmoth's arguments into options. Returns -1 when the program should go on and open its
// window; otherwise the exit status to end with: 0 after --help or --version (printed on standard
// output; 1 when that cannot be written), 2 for a bad option (one line on standard error).
int ParseWindowOptions(int argc, char** argv, WindowOptions& options);
