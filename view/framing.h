// Where the camera goes to frame an arm. The view's camera looks from an eye at a centre with z up,
// after turning the world by a spin about z and then a tilt about y (see COglWnd); these functions
// work on that camera and on world points, without OpenGL.
#pragma once

#include <vector>

struct FramePoint {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

struct CameraPlacement {
  FramePoint eye;
  FramePoint center;
  double spin = 0.0;  // degrees
  double tilt = 0.0;  // degrees
};

struct Lens {
  double fovY = 45.0;   // degrees
  double aspect = 1.0;  // width / height
};

// The points of an arm fill the view up to this share of its half-width and half-height.
inline constexpr double kFrameMargin = 0.9;

// Keeps the camera's spin, tilt and viewing direction and looks at the middle of points' box from
// as near as lets every point show within kFrameMargin of the view's edges, and no farther than
// maxDistance. Where that would put the eye on or under the floor (z = 0) while some point is above
// it, the eye is raised: the direction turns upwards, keeping its heading, until the eye is above
// the floor. No points: the camera as it is.
CameraPlacement FramePoints(const CameraPlacement& now, const Lens& lens,
                            const std::vector<FramePoint>& points, double maxDistance);

// A view from above at three quarters (from the front right of an arm reaching along x, 25 degrees
// up), without spin or tilt, looking at the sphere's centre from far enough for the whole sphere to
// show, and every point too; the eye is raised above the floor as FramePoints does.
CameraPlacement FrameFromAbove(const FramePoint& center, double radius, const Lens& lens,
                               const std::vector<FramePoint>& points, double maxDistance);
