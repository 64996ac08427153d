// What the mouse points at: the ray from the view's camera through a point of the view, and the
// first place it meets the arm as the view draws it (the shapes of the links that their shapes
// draw, boxes, cylinders, spheres and meshes, and the figure of the others: housings, sliders,
// bodies and the column to the first joint), with the link there and the point in that link's
// frame. Plain geometry, without OpenGL: the view draws and this finds the same surfaces.
#pragma once

#include "robot/robot.h"
#include "visuals/visual_model.h"

// The view's camera (see COglWnd): the world turned by `spin` about z, then by `tilt` about y
// (degrees), seen from `eye` looking at `center` with z up, through a vertical field of view of
// fovY degrees at the view's aspect (width / height).
struct PickCamera {
  double eye[3] = {0.0, 0.0, 0.0};
  double center[3] = {0.0, 0.0, 1.0};
  double spin = 0.0;
  double tilt = 0.0;
  double fovY = 45.0;
  double aspect = 1.0;
};

// A ray in world coordinates: origin + t direction, direction of length 1.
struct Ray3 {
  double origin[3] = {0.0, 0.0, 0.0};
  double direction[3] = {0.0, 0.0, 1.0};
};

// The ray from the eye through the point (x, y) of a view of width x height (its pixels' corners
// from the top left, x to the right and y down: a pixel's centre is at its index plus one half).
Ray3 CameraRay(const PickCamera& camera, double x, double y, double width, double height);

// How far a world point lies in front of the eye along the line of sight.
double ViewDepth(const PickCamera& camera, const double point[3]);
// The point of the ray at that depth.
void PointAtDepth(const PickCamera& camera, const Ray3& ray, double depth, double out[3]);

struct ArmPick {
  bool hit = false;
  int link = -1;                      // the link hit, -1 for the base
  double point[3] = {0.0, 0.0, 0.0};  // where, in world coordinates
  double local[3] = {0.0, 0.0, 0.0};  // the same in the link's frame (after its joint)
  double distance = 0.0;              // along the ray
};

// The first surface of the arm the ray meets at least `from` along it (what lies nearer is clipped
// away), as the view draws robot: shapes null draws every link as its figure.
ArmPick PickArm(const Robot& robot, const VisualModel* shapes, const Ray3& ray, double from = 0.0);
