// A payload: a point mass fixed to a frame of the arm (a load in the gripper, a tool), made part of
// the link that frame is fixed to. The link's mass, centre of mass and inertia become those of the
// two bodies together:
//
//   m' = m + mp,  c' = (m c + mp p) / m',
//   I' = I + m (|d|^2 E - d d^T) + mp (|e|^2 E - e e^T),  d = c - c', e = p - c',
//
// I about the centre of mass in the link's axes, p the point in the link's frame. So the arm with a
// payload is the arm whose file has that mass fixed at that point of the link.
#pragma once

#include <string>
#include <vector>

#include "robot/robot.h"

struct Payload {
  std::string frame;                  // its name among recursive::BuildFrameModels(robot)
  double mass = 0.0;                  // kg, 0 or more
  double point[3] = {0.0, 0.0, 0.0};  // in the frame's coordinates, m

  bool operator==(const Payload&) const = default;
};

// Adds the payload to the robot's links: "" or the problem (an unknown frame, a frame on the base,
// a mass that is negative or not finite, a point that is not finite), which leaves the robot as it
// was. The robot's engines must be made after it (a Stepper made before does not see it).
std::string AddPayload(Robot& robot, const Payload& payload);
