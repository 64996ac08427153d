// The texts of forces, pulls and payloads: velmoth-sim's (and the window's) --force and --payload,
// and the lines a recording's replay keeps of them.
//
//   --force FRAME:fx,fy,fz[@px,py,pz]    a force in world axes (N) at the point of the frame (its
//                                        coordinates, m; default its origin), held for the run
//   --payload FRAME:mass[@px,py,pz]      a point mass (kg) fixed to the frame at the point
//
// FRAME is everything before the last ':'; the numbers are written in full (strtod syntax, every
// one finite). Replay lines (replay.h):
//
//   TICK forces --force "FRAME:fx,fy,fz@px,py,pz" ...   the forces held from then on (none: no
//                                                        options)
//   TICK pull LINK, px, py, pz, k, c, f  the mouse's spring takes link LINK's point (p, in the
//                                        link's frame) with stiffness k, damping c and the
//                                        largest force f
//   TICK cursor x, y, z                  the point it pulls towards from then on
//   TICK release                         the pull ends
//
// and a payload is one of the arm's lines: "arm --payload FRAME:mass@px,py,pz".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "robot/robot.h"
#include "simulation/external_forces.h"
#include "simulation/payload.h"

// "" or the problem with the text.
std::string ReadForceText(const std::string& text, ExternalForce& force);
std::string ReadPayloadText(const std::string& text, Payload& payload);
// The texts that read back as exactly these (world axes and no moment for a force), %.17g.
std::string ForceText(const ExternalForce& force);
std::string PayloadText(const Payload& payload);

// What the command line gave, as texts.
struct ForceChoice {
  std::vector<std::string> forces;
  std::vector<std::string> payloads;
};

// Adds --force and --payload (both repeatable) to command; their texts are checked as they are
// read.
void AddForceOptions(CLI::App& command, ForceChoice& choice);

// The forces and payloads of the texts given, for robot: "" or the problem with the first that
// does not fit it (an unknown frame). The payloads are added to robot.
std::string ResolveForces(const ForceChoice& choice, Robot& robot,
                          std::vector<ExternalForce>& forces);

// The replay lines of what changed from `before` (null: the start, where only forces and a pull
// there are get lines) to `now`, at `tick`.
std::string ReplayForceChanges(uint64_t tick, const ArmForces* before, const ArmForces& now);

// One of the replay's force lines, read: "forces", "pull", "cursor", "release".
struct ForceEvent {
  std::vector<ExternalForce> forces;  // forces
  std::vector<double> values;         // pull: link, point, k, c; cursor: the point
};
// Whether `what` is a force line; if so, read says whether its values could be read.
bool ReadForceEvent(const std::string& what, const std::string& values, ForceEvent& event,
                    bool& read);
// Carries out a force line on the forces of the ticks that follow. Whether it was one.
bool ApplyForceEvent(const std::string& what, const ForceEvent& event, ArmForces& forces);

// Whether a replay's force lines (in its order, each with its line's number) fit the arm: "" or the
// problem, "line N: ..." (a frame it lacks, a pull's link beyond its links, a cursor without a
// pull).
struct ForceLine {
  int line = 0;
  std::string what;
  const ForceEvent* event = nullptr;
};
std::string CheckForceLines(const std::vector<ForceLine>& lines, const Robot& robot);
