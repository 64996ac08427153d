#include "view/framing.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
// The start view of an arm that moves in space: its heading and elevation, degrees.
constexpr double kThreeQuarterHeading = -45.0;
constexpr double kThreeQuarterElevation = 25.0;
// An arm that moves in a plane is seen at least this high above the horizon; a plane whose axis
// stands within kUprightAxis of the vertical is seen from kOverheadElevation.
constexpr double kSideElevation = 15.0;
constexpr double kUprightAxis = 30.0;
constexpr double kOverheadElevation = 60.0;
// A raised eye climbs in steps of this many degrees, up to the highest elevation.
constexpr double kRaiseStep = 5.0;
constexpr double kHighestElevation = 85.0;

struct V {
  double x, y, z;
  V operator+(const V& b) const { return {x + b.x, y + b.y, z + b.z}; }
  V operator-(const V& b) const { return {x - b.x, y - b.y, z - b.z}; }
  V operator*(double s) const { return {x * s, y * s, z * s}; }
  double Dot(const V& b) const { return x * b.x + y * b.y + z * b.z; }
  V Cross(const V& b) const { return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x}; }
  double Length() const { return std::sqrt(Dot(*this)); }
};

V FromPoint(const FramePoint& p) {
  return {p.x, p.y, p.z};
}

FramePoint ToPoint(const V& v) {
  return {v.x, v.y, v.z};
}

// The camera's turn of the world: Ry(tilt) Rz(spin), and back.
V Turn(const V& w, double spin, double tilt) {
  const double s = spin * kRadiansPerDegree, t = tilt * kRadiansPerDegree;
  const V spun{std::cos(s) * w.x - std::sin(s) * w.y, std::sin(s) * w.x + std::cos(s) * w.y, w.z};
  return {std::cos(t) * spun.x + std::sin(t) * spun.z, spun.y,
          -std::sin(t) * spun.x + std::cos(t) * spun.z};
}

V TurnBack(const V& v, double spin, double tilt) {
  const double s = spin * kRadiansPerDegree, t = tilt * kRadiansPerDegree;
  const V untilted{std::cos(t) * v.x - std::sin(t) * v.z, v.y,
                   std::sin(t) * v.x + std::cos(t) * v.z};
  return {std::cos(s) * untilted.x + std::sin(s) * untilted.y,
          -std::sin(s) * untilted.x + std::cos(s) * untilted.y, untilted.z};
}

// The camera's axes in its turned space, looking along -back (a unit vector) with z up.
struct Axes {
  V forward, right, up;
};

Axes CameraAxes(const V& back) {
  Axes axes;
  axes.forward = back * -1.0;
  V right = axes.forward.Cross({0.0, 0.0, 1.0});
  if (right.Length() < 1e-9) {
    right = {1.0, 0.0, 0.0};  // looking straight up or down
  }
  axes.right = right * (1.0 / right.Length());
  axes.up = axes.right.Cross(axes.forward);
  return axes;
}

// Where the eye goes along one of the view's axes (side; tanHalf, the tangent of the half-angle
// there) so that every ball shows within it and their picture is centred. A ball at lateral
// offset x and depth f lies inside when |x - s| + k sqrt(1 + tan^2) <= tan (f + w) for the eye at
// offset s and depth -w: a_i - tan w <= s <= b_i + tan w with a_i = x_i - tan f_i + k_i sqrt(1 +
// tan^2) and b_i = x_i + tan f_i - k_i sqrt(1 + tan^2). The least w is (max a - min b) / (2 tan),
// at s = (max a + min b) / 2.
struct Fit {
  double offset = 0.0;  // s
  double back = 0.0;    // w
};

Fit FitAlong(const std::vector<V>& centres, const std::vector<double>& radii, const V& side,
             const V& forward, double tanHalf) {
  const double slant = std::sqrt(1.0 + tanHalf * tanHalf);
  double highA = -1e300, lowB = 1e300;
  for (std::size_t i = 0; i < centres.size(); ++i) {
    const double x = centres[i].Dot(side), f = centres[i].Dot(forward);
    highA = std::max(highA, x - tanHalf * f + radii[i] * slant);
    lowB = std::min(lowB, x + tanHalf * f - radii[i] * slant);
  }
  return {0.5 * (highA + lowB), (highA - lowB) / (2.0 * tanHalf)};
}

// Places the eye looking along -back (a world unit vector) as FramePoints says, turning back
// upwards while the eye would be on or under the floor and the points reach above it.
CameraPlacement Place(V back, double spin, double tilt, const Lens& lens,
                      const std::vector<FramePoint>& points, double maxDistance) {
  std::vector<V> turned;
  std::vector<double> radii;
  bool aboveFloor = false;
  for (const FramePoint& p : points) {
    turned.push_back(Turn(FromPoint(p), spin, tilt));
    radii.push_back(std::max(0.0, p.radius));
    aboveFloor = aboveFloor || p.z + p.radius > 0.0;
  }
  const double tanY = std::tan(0.5 * lens.fovY * kRadiansPerDegree) * kFrameMargin;
  const double tanX = tanY * lens.aspect;
  const double heading = std::atan2(back.y, back.x);
  double elevation = std::asin(std::clamp(back.z, -1.0, 1.0)) / kRadiansPerDegree;
  V eye{0.0, 0.0, 0.0}, center{0.0, 0.0, 0.0};
  for (;;) {
    const Axes axes = CameraAxes(Turn(back, spin, tilt));
    const Fit across = FitAlong(turned, radii, axes.right, axes.forward, tanX);
    const Fit upright = FitAlong(turned, radii, axes.up, axes.forward, tanY);
    // The centre is on the line of sight, as deep as the middle of the balls.
    double nearest = 1e300, farthest = -1e300;
    for (std::size_t i = 0; i < turned.size(); ++i) {
      nearest = std::min(nearest, turned[i].Dot(axes.forward) - radii[i]);
      farthest = std::max(farthest, turned[i].Dot(axes.forward) + radii[i]);
    }
    const double middle = 0.5 * (nearest + farthest);
    const double distance =
        std::clamp(middle + std::max(across.back, upright.back), 1e-6, maxDistance);
    eye =
        axes.right * across.offset + axes.up * upright.offset + axes.forward * (middle - distance);
    center = eye + axes.forward * distance;
    if (!aboveFloor || TurnBack(eye, spin, tilt).z > 1e-3 * distance ||
        elevation >= kHighestElevation) {
      break;
    }
    elevation = std::min(kHighestElevation, std::max(elevation + kRaiseStep, kRaiseStep));
    const double e = elevation * kRadiansPerDegree;
    back = {std::cos(heading) * std::cos(e), std::sin(heading) * std::cos(e), std::sin(e)};
  }
  CameraPlacement placed;
  placed.spin = spin;
  placed.tilt = tilt;
  placed.center = ToPoint(center);
  placed.eye = ToPoint(eye);
  return placed;
}

bool Finite(const FramePoint& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.radius);
}

// The points that are finite: a shape too large for doubles frames nothing.
std::vector<FramePoint> FinitePoints(const std::vector<FramePoint>& points) {
  std::vector<FramePoint> finite;
  for (const FramePoint& p : points) {
    if (Finite(p)) {
      finite.push_back(p);
    }
  }
  return finite;
}

V Unit(const V& v, const V& otherwise) {
  const double length = v.Length();
  return length > 0.0 && std::isfinite(length) ? v * (1.0 / length) : otherwise;
}

// A unit direction of the heading and elevation, degrees.
V Direction(double heading, double elevation) {
  const double h = heading * kRadiansPerDegree, e = elevation * kRadiansPerDegree;
  return {std::cos(h) * std::cos(e), std::sin(h) * std::cos(e), std::sin(e)};
}

}  // namespace

CameraPlacement FramePoints(const CameraPlacement& now, const Lens& lens,
                            const std::vector<FramePoint>& given, double maxDistance) {
  const std::vector<FramePoint> points = FinitePoints(given);
  if (points.empty()) {
    return now;
  }
  const V back = TurnBack(Unit(FromPoint(now.eye) - FromPoint(now.center), {1.0, 0.0, 0.0}),
                          now.spin, now.tilt);
  return Place(back, now.spin, now.tilt, lens, points, maxDistance);
}

CameraPlacement FrameReach(const FramePoint& reach, const FramePoint& back, const Lens& lens,
                           const std::vector<FramePoint>& points, double maxDistance) {
  std::vector<FramePoint> all = FinitePoints(points);
  FramePoint ball = Finite(reach) ? reach : FramePoint{};
  ball.radius = std::min(std::max(ball.radius, 0.0), maxDistance);
  all.push_back(ball);
  const V from = Unit(FromPoint(back), Direction(kThreeQuarterHeading, kThreeQuarterElevation));
  return Place(from, 0.0, 0.0, lens, all, maxDistance);
}

FramePoint MotionViewDirection(const std::vector<FramePoint>& turning,
                               const std::vector<FramePoint>& sliding) {
  const V spatial = Direction(kThreeQuarterHeading, kThreeQuarterElevation);
  if (turning.empty()) {
    return ToPoint(spatial);
  }
  const V axis = Unit(FromPoint(turning.front()), {0.0, 0.0, 0.0});
  bool planar = axis.Length() > 0.0;
  for (const FramePoint& t : turning) {
    planar = planar && Unit(FromPoint(t), {0.0, 0.0, 0.0}).Cross(axis).Length() < 1e-6;
  }
  for (const FramePoint& s : sliding) {
    planar = planar && std::fabs(Unit(FromPoint(s), {0.0, 0.0, 0.0}).Dot(axis)) < 1e-6;
  }
  if (!planar) {
    return ToPoint(spatial);
  }
  if (std::fabs(axis.z) > std::cos(kUprightAxis * kRadiansPerDegree)) {
    return ToPoint(Direction(kThreeQuarterHeading, kOverheadElevation));
  }
  // Of the two sides of the line, the one whose heading is nearer the front right.
  const auto apart = [](double heading) {
    return std::fabs(std::remainder(heading - kThreeQuarterHeading, 360.0));
  };
  const double h = std::atan2(axis.y, axis.x) / kRadiansPerDegree;
  const double e = std::asin(std::clamp(axis.z, -1.0, 1.0)) / kRadiansPerDegree;
  const bool flip = apart(h + 180.0) < apart(h);
  return ToPoint(Direction(flip ? h + 180.0 : h, std::max(flip ? -e : e, kSideElevation)));
}
