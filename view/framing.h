// Where the camera goes to frame an arm. The view's camera looks from an eye at a centre with z up,
// after turning the world by a spin about z and then a tilt about y (see COglWnd); these functions
// work on that camera and on world points, without OpenGL.
#pragma once

#include <vector>

// A world point, or a ball about it: what is to be seen reaches radius from it.
struct FramePoint {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double radius = 0.0;
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

// Keeps the camera's spin, tilt and viewing direction and moves the eye to where the points'
// picture is centred in the view and as large as the margin lets it be, in width or in height:
// every point (every ball whole) shows within kFrameMargin of the view's edges, one of them on that
// margin. The centre is then on the line of sight at the depth of the middle of the points, no
// farther than maxDistance. Where the eye would be on or under the floor (z = 0) while some point
// is above it, the direction turns upwards, keeping its heading, until the eye is above the floor.
// No points: the camera as it is.
CameraPlacement FramePoints(const CameraPlacement& now, const Lens& lens,
                            const std::vector<FramePoint>& points, double maxDistance);

// A camera without spin or tilt looking along -back (back: a world direction from what is seen
// towards the eye, any length) that frames the ball reach and the points as FramePoints does, the
// eye raised above the floor as FramePoints raises it.
CameraPlacement FrameReach(const FramePoint& reach, const FramePoint& back, const Lens& lens,
                           const std::vector<FramePoint>& points, double maxDistance);

// The direction (from the arm towards the eye, a unit vector) from which the motion of an arm with
// joints turning about the world directions turning and sliding along sliding shows best. An arm
// whose joints all turn about one line and slide across it moves in the plane across that line: it
// is seen face on, from the side of the line nearer the front right (heading -45 degrees), raised
// to at least 15 degrees above the horizon; where that line stands within 30 degrees of the
// vertical, the plane is seen from 60 degrees above. Any other arm moves in space and is seen from
// the front right at three quarters, 25 degrees above the horizon.
FramePoint MotionViewDirection(const std::vector<FramePoint>& turning,
                               const std::vector<FramePoint>& sliding);
