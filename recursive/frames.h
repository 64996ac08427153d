// The arm's named frames and their kinematics, as passes of the recursive engine: after
// Kinematics has placed each link on its parent, Placements places every link in the base frame
// (and with the velocities, gives each link its acceleration at qdd = 0); a frame is then its
// link's placement times its fixed pose. Jacobians are read off the joint axes and origins in the
// base frame. Everything is O(n) per frame and allocates nothing.
//
// Vectors of a frame's motion are 6 long: the linear velocity (or acceleration) of the frame's
// origin first, then its angular velocity, in the base frame's axes or in the frame's own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "recursive/chain.h"
#include "recursive/spatial.h"
#include "robot/robot.h"

namespace recursive {

// A frame fixed to link `link` of the chain (-1: the base), with its pose in that link's frame.
struct FrameModel {
  std::string name;
  int link = -1;
  spatial::Transform pose;
};

// The frames of robot: those of its description file (every link of the file, the frames fixed to
// the moving links included), or, for an arm without them (the built-in arm), "base" (the base
// frame), "link0", "link1", ... (each link's frame, where its joint turns) and "tool" (the end of
// the last link: its frame carried by its offset pose).
std::vector<FrameModel> BuildFrameModels(const Robot& robot);

// The index of the frame called name, or -1.
int FindFrame(const std::vector<FrameModel>& frames, std::string_view name);

// After Kinematics: every link frame in the base frame, into data.placement; with qd (the
// velocities of that Kinematics, which must have had them), also each link's acceleration at
// qdd = 0 without gravity, a_i = X_i a_{i-1} + v_i x S_i qd_i, into data.a.
void Placements(const ChainModel& model, ChainData& data, const double* qd);

// The frame's pose in the base frame, from the placements.
spatial::Transform FramePose(const ChainData& data, const FrameModel& frame);

enum class FrameAxes { kBase, kFrame };

// The geometric Jacobian of the frame, 6 x n row-major: v = J qd, with v the linear velocity of
// the frame's origin and its angular velocity, in the base frame's axes or the frame's own. A
// column is zero for a joint that does not carry the frame or cannot move. From the placements.
void FrameJacobian(const ChainModel& model, const ChainData& data, const FrameModel& frame,
                   FrameAxes axes, double* jacobian);

// J-dot qd of the frame, 6 values: its acceleration when qdd = 0 (the classical acceleration of
// its origin, then the angular one), so that a = J qdd + J-dot qd in the same axes. From the
// placements with their accelerations.
void FrameDriftAcceleration(const ChainData& data, const FrameModel& frame, FrameAxes axes,
                            double* acceleration);

// The base-frame positions of chosen frames at a robot's joint positions: the columns a run adds
// for them.
class FrameTracker {
 public:
  // frames: indices into BuildFrameModels(robot).
  FrameTracker(const Robot& robot, std::vector<int> frames);

  int Count() const { return static_cast<int>(chosen_.size()); }
  // x, y, z of each chosen frame, in order, at the robot's joint positions.
  void Track(const Robot& robot, double* positions);

 private:
  ChainModel model_;
  ChainData data_;
  std::vector<FrameModel> frames_;
  std::vector<int> chosen_;
  std::vector<double> q_;
};

}  // namespace recursive
