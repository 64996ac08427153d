// A recording's replay: everything that makes its ticks, kept in a small text file beside the
// recording (FILE.replay beside FILE), so that `velmoth-sim run --replay FILE.replay` prints the
// recording again byte for byte. The recording starts the step afresh; the file gives the arm, the
// state at its first tick, and every input the user changed, each at the tick it took effect:
//
//   # velmoth-sim run --replay run.csv.replay repeats the recording run.csv byte for byte.
//   arm --links 6
//   0 q 0, 0.5, -0.25, 0, 0, 0
//   0 qd 0, 0, 0, 0, 0, 0
//   0 step --engine closed-form --integrator euler --substeps 1
//   0 mode forward
//   0 torque 1, -2, 0.5, 0, 0, 0
//   ...
//   57 torque 1, 2, 3, 0, 0, 0
//   120 reset
//   130 step --engine recursive --integrator implicit --substeps 4
//   200 limits off
//   597 end
//
// An arm's own physics has lines of its own: "limits on|off" (a joint outside its limits when
// they go on is put at the nearest, as the window does), "friction file|uniform" and
// "efforts on|off"; a "reset" that leaves a joint at a limit (its zero outside them) is followed by
// the positions it left ("q"). A controller other than typed torques has "controller" lines, the
// velmoth-sim options that give its settings exactly (control_options.h), at the start and at
// every change; a recording that starts while a controller follows a reference has a "reference"
// line too: the ticks it has run, then the joint positions it started from. Forces held on the
// arm and the mouse's pull have the lines of force_options.h. A line's number is how
// many ticks were recorded before it took effect. "arm" lines give the
// velmoth-sim options that make the arm (--links N, or --urdf FILE and --tip LINK, and any
// --payload); "step" lines
// give the step options that velmoth-sim reads (AddStepOptions), so that a step that grows an
// option carries it here too. Numbers are written with %.17g and read back exactly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/control_settings.h"
#include "control/controller.h"
#include "robot/robot.h"
#include "simulation/control_options.h"
#include "simulation/external_forces.h"
#include "simulation/force_options.h"
#include "simulation/step_options.h"

// The velmoth-sim options that make an arm, names and values: --links N, or --urdf FILE and --tip,
// and --payload.
using ReplayArm = std::vector<std::pair<std::string, std::string>>;

// What the user set that the ticks depend on.
struct TickInputs {
  bool inverse = false;        // accelerations in (inverse mode), else torques in
  std::vector<double> torque;  // the torques of "Set Torque", one per joint
  std::vector<double> accel;   // the accelerations of "Set Accel.", one per joint
  double viscous = 0.0;        // the friction and gravity of "Set"
  double coulomb = 0.0;
  double gravity[3] = {0.0, 0.0, 0.0};
  StepOptions step;
  // The arm's own physics: its joints' limits, which friction they take, the efforts' saturation.
  bool limits = true;
  FrictionSource friction = FrictionSource::kFile;
  bool effortLimits = false;
  ControllerSettings controller;
  // The forces held on the arm and the mouse's pull (force_options.h has their lines).
  ArmForces forces;
};

// The inputs as the robot and the user's vectors (n x 1) hold them, with the controller's settings.
TickInputs InputsOf(const Robot& robot, bool inverse, const matrix<double>& torque,
                    const matrix<double>& accel, const StepOptions& step,
                    const ControllerSettings& controller = {});

// The file's first lines: what it is, for the recording named, and the arm (velmoth-sim options,
// in pairs of name and value).
std::string ReplayHead(const std::string& recording, const ReplayArm& arm);
// A line of numbers: "TICK WHAT v0, v1, ...".
std::string ReplayLine(uint64_t tick, const char* what, const std::vector<double>& values);
// The lines of what differs from `before` (everything when before is null), at `tick`.
std::string ReplayChanges(uint64_t tick, const TickInputs* before, const TickInputs& now);
std::string ReplayReset(uint64_t tick);
// The line of a reference's start: "TICK reference TICKS, q0, q1, ...".
std::string ReplayReference(uint64_t tick, const ReferenceStart& start);
std::string ReplayEnd(uint64_t ticks);

// One line of a replay after its tick number.
struct ReplayEvent {
  uint64_t tick = 0;
  // q, qd, mode, torque, accel, viscous, coulomb, gravity, step, reset, limits, friction,
  // efforts, controller, reference
  std::string what;
  std::vector<double> values;
  bool inverse = false;
  bool on = false;  // limits and efforts
  FrictionSource friction = FrictionSource::kFile;
  StepOptions step;
  ControlChoice control;  // a controller's options, read for an arm of any size
  ForceEvent force;       // forces, pull, cursor, release
  int line = 0;           // in the file, for messages
};

struct Replay {
  ReplayArm arm;                    // as the file names it
  std::vector<ReplayEvent> events;  // by tick, in the file's order
  std::optional<uint64_t> ticks;    // the recording's length, if it ended
};

// Reads a replay's text: "" or the problem, "line N: ...". A replay names its arm ("arm" lines)
// and ends with "end"; one without its end is refused unless cut is set (a recording cut short by
// a crash or a kill), which also drops a last line cut before its end.
std::string ParseReplay(const std::string& text, Replay& replay, bool cut = false);

// Whether the replay fits an arm of n joints, its friction coefficients finite and 0 or more: ""
// or the problem, "line N: ...".
std::string CheckReplay(const Replay& replay, uint32_t n);

// Whether the replay's forces and pulls fit the arm (its frames and links): "" or the problem.
std::string CheckReplayForces(const Replay& replay, const Robot& robot);

// Carries out one event before a tick: on the robot's state, friction, gravity and physics, the
// user's inputs, and the step (which the caller hands to its Stepper). A reset, and limits going
// on, put a joint outside its limits at the nearest, as the window's Reset and limits check do.
// The controller (may be null) takes the controller's settings and the reference's start, and a
// reset starts its reference afresh, as the window's do.
void ApplyReplayEvent(const ReplayEvent& event, Robot& robot, TickInputs& inputs,
                      Controller* controller = nullptr);
