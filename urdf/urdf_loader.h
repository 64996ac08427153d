// The serial arm of a URDF robot description as a Robot. Revolute and continuous joints become
// Revolute links, prismatic joints Prismatic links; a fixed joint adds no link but joins its
// child's mass to the body it hangs from, and the fixed joints before the first moving joint place
// the arm on its base (the Robot's basePose). Joint limits, damping and friction in the file are
// ignored: the Robot's own friction coefficients apply. A joint axis that is not +x, +y or +z, and
// every other pose of the file, is carried over exactly by turning the link frames so that the
// joint moves about (or along) the link's x axis; the Robot's masses, centres of mass and inertias
// are then expressed in those frames.
//
// Nothing is printed: the messages of the URDF parser become the error text. The loader switches
// the parser's message output for the duration of a call, so it must not run on two threads at
// once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "robot/robot.h"

// The most moving joints an arm may have (the built-in arm's limit as well).
inline constexpr int kUrdfMaxMovingJoints = 100;

// Larger files are refused before they are parsed.
inline constexpr std::size_t kUrdfMaxFileBytes = 16u << 20;

// Loads the serial arm of a URDF file. On failure returns null and sets error to one line
// that names the file and the problem ("FILE: problem"), with no trailing newline.
std::unique_ptr<Robot> LoadUrdfRobot(const std::string& path, std::string& error);

// The same for a description already in memory; source names it in the error ("SOURCE: problem").
std::unique_ptr<Robot> LoadUrdfRobotFromText(const std::string& text, const std::string& source,
                                             std::string& error);
