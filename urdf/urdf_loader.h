// A serial arm of a URDF robot description as a Robot. The description is a tree of links; the
// arm is one chain of moving joints in it, from the root to an end link (see urdf_chain.h for how
// it is chosen). Revolute and continuous joints on the chain become Revolute links, prismatic
// joints Prismatic links. A fixed joint adds no link but joins its child's mass to the body it
// hangs from, and so does every moving joint off the chain, held fixed at position 0, with its
// whole subtree (a gripper's fingers, a second arm). The joints before the first moving joint
// place the arm on its base (the Robot's basePose); the masses fixed there take no part. Joint
// limits, damping and friction in the file are ignored: the Robot's own friction coefficients
// apply. A joint axis that is not +x, +y or +z, and every other pose of the file, is carried over
// exactly by turning the link frames so that the joint moves about (or along) the link's x axis;
// the Robot's masses, centres of mass and inertias are then expressed in those frames. Every link
// of the file becomes a named frame of the arm (Robot::frames), fixed to the arm's link it moves
// with (or to the base), so that tool and sensor frames and the file's shapes can be placed.
//
// Nothing is printed: the messages of the URDF parser become the error text. The loader switches
// the parser's message output for the duration of a call, so it must not run on two threads at
// once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "robot/robot.h"

// The most moving joints an arm may have (the built-in arm's limit as well).
inline constexpr int kUrdfMaxMovingJoints = 100;

// Larger files are refused before they are parsed.
inline constexpr std::size_t kUrdfMaxFileBytes = 16u << 20;

struct UrdfOptions {
  // The link the chain ends at; empty: the chain runs from the root until it parts into several
  // chains of moving joints, and ends at the link where it does.
  std::string tip;
};

// Loads the arm of a URDF file. On failure returns null and sets error to one line that names the
// file and the problem ("FILE: problem"), with no trailing newline. On success clears error. When
// notices is given, it is set to the lines to show the user after a load, each "FILE: text" with
// no newline (none after a failure): first which joints off the chain are held fixed, then each
// link, of those whose mass takes part, whose inertia no rigid body can have (in tree order).
std::unique_ptr<Robot> LoadUrdfRobot(const std::string& path, std::string& error,
                                     const UrdfOptions& options = {},
                                     std::vector<std::string>* notices = nullptr);

// The same for a description already in memory; source names it in the lines ("SOURCE: ...").
std::unique_ptr<Robot> LoadUrdfRobotFromText(const std::string& text, const std::string& source,
                                             std::string& error, const UrdfOptions& options = {},
                                             std::vector<std::string>* notices = nullptr);
