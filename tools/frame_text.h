// velmoth-sim's text of the arm's frames: the kinematics command's lines and the frames a run
// follows, by name.
#pragma once

#include <string>
#include <vector>

#include "robot/robot.h"

// The indices (into recursive::BuildFrameModels(robot)) of the frames called names, or an empty
// list and error set ("the arm has no frame 'x'; its frames are ...") for the first unknown name.
std::vector<int> FindFrames(const Robot& robot, const std::vector<std::string>& names,
                            std::string& error);

// The kinematics command's lines for the state (q, qd), n values each, in the terms command's
// format NAME ROWS COLS values... (row-major, %.17g), for each frame (every frame when frames is
// empty): pose:FRAME 4 4 (its pose in the base frame), jacobian:FRAME 6 n and jdot_qd:FRAME 6 1
// in the base frame's axes, jacobian_frame:FRAME and jdot_qd_frame:FRAME in the frame's own;
// rows 0-2 linear (of the frame's origin), rows 3-5 angular.
std::string KinematicsText(const Robot& robot, const std::vector<double>& q,
                           const std::vector<double>& qd, std::vector<int> frames);
