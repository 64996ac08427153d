// Where an arm is, for placing its shapes and framing it in a view: the world pose of every link
// frame and of every shape, which of the arm's links its shapes draw, the box the arm fills now,
// and a sphere it stays inside whatever its joints do.
#pragma once

#include <vector>

#include "robot/robot.h"
#include "visuals/figure.h"
#include "visuals/visual_model.h"

// A rigid pose: x -> r x + p.
struct Pose3 {
  double r[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  double p[3] = {0.0, 0.0, 0.0};

  Pose3 operator*(const Pose3& b) const;
  void Apply(const double x[3], double out[3]) const;
};

// The world pose of each link's frame (after its joint) in the arm's current pose, base first.
std::vector<Pose3> LinkFrames(const Robot& robot);
// The incoming frame of each link (before its joint), and last the frame after the last link.
std::vector<Pose3> IncomingFrames(const Robot& robot);

// How a description's shapes sit on an arm. shapes[i] is in robot.frames[frameOf[i]] (-1 when the
// arm has no frame of that name: the shape is not drawn). Which of the arm's links are drawn by
// their shapes: covered[k + 1] for link k, covered[0] for the base. A link is drawn by its shapes
// when it has at least one and none of the file's links fixed to it failed to load; otherwise it is
// drawn as the arm's figure.
struct ShapePlacement {
  std::vector<int> frameOf;
  std::vector<char> covered;

  bool Covers(int link) const { return covered[static_cast<std::size_t>(link + 1)] != 0; }
};
ShapePlacement PlaceShapes(const VisualModel& model, const Robot& robot);

// The world pose of shape i, placed by PlaceShapes, with the link frames of LinkFrames.
Pose3 ShapePose(const VisualModel& model, const ShapePlacement& placement, const Robot& robot,
                const std::vector<Pose3>& linkFrames, std::size_t i);

struct Box3 {
  double low[3] = {1e300, 1e300, 1e300};
  double high[3] = {-1e300, -1e300, -1e300};

  bool Empty() const { return !(low[0] <= high[0]); }
  void Add(const double x[3], double grow = 0.0);
};

// Over a link drawn by its shapes, the housing of a joint at one of its limits is drawn this much
// larger than the figure's, to show outside them.
inline constexpr double kAtLimitHousingScale = kAtLimitOverShapes;

// What the arm fills in world coordinates in its current pose, as drawn, as balls that hold it: its
// figure (the link bodies and housings, the column from the floor to the first joint) or, where
// model is given, the shapes of the links they draw (the corners of each shape's own box) with the
// housings of their joints at a limit, and the figure of the others.
struct Ball3 {
  double center[3] = {0.0, 0.0, 0.0};
  double radius = 0.0;
};
std::vector<Ball3> ArmOutline(const Robot& robot, const VisualModel* model);

// The box of ArmOutline.
Box3 ArmBox(const Robot& robot, const VisualModel* model);

// The world direction of each moving joint's axis in the arm's current pose, and whether it turns
// about it (or slides along it).
struct JointDirection {
  double axis[3] = {0.0, 0.0, 0.0};
  bool turns = true;
};
std::vector<JointDirection> JointDirections(const Robot& robot);

// A sphere about the first joint that holds the arm as drawn in every pose of its revolute joints
// and of its sliding joints within their limits (as they are now, where they have none), with the
// shapes of the base.
struct Sphere3 {
  double center[3] = {0.0, 0.0, 0.0};
  double radius = 0.0;
};
Sphere3 ArmReach(const Robot& robot, const VisualModel* model);
