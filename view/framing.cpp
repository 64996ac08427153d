#include "view/framing.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
// The start view's heading and elevation, degrees.
constexpr double kThreeQuarterHeading = -45.0;
constexpr double kThreeQuarterElevation = 25.0;
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

// The distance from the centre, along back (the unit direction to the eye, in the camera's turned
// space), at which every turned point shows within the margin.
double Distance(const V& center, const V& back, const std::vector<V>& points, const Lens& lens) {
  const V forward = back * -1.0;
  V right = forward.Cross({0.0, 0.0, 1.0});
  if (right.Length() < 1e-9) {
    right = {1.0, 0.0, 0.0};  // looking straight up or down
  }
  right = right * (1.0 / right.Length());
  const V up = right.Cross(forward);
  const double tanY = std::tan(0.5 * lens.fovY * kRadiansPerDegree) * kFrameMargin;
  const double tanX = tanY * lens.aspect;
  double distance = 0.0;
  for (const V& p : points) {
    const V v = p - center;
    const double depth = v.Dot(forward);  // beyond the centre
    distance = std::max(
        {distance, std::fabs(v.Dot(right)) / tanX - depth, std::fabs(v.Dot(up)) / tanY - depth});
  }
  return distance;
}

struct Box {
  V low{1e300, 1e300, 1e300};
  V high{-1e300, -1e300, -1e300};
  explicit Box(const std::vector<FramePoint>& points) {
    for (const FramePoint& p : points) {
      low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
      high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
  }
  V Middle() const { return (low + high) * 0.5; }
};

// Places the eye at the least distance (at least least) along world direction back from the world
// centre, turning back upwards while the eye would be on or under the floor and the points reach
// above it.
CameraPlacement Place(V back, const V& center, double least, double spin, double tilt,
                      const Lens& lens, const std::vector<FramePoint>& points, double maxDistance) {
  std::vector<V> turned;
  bool aboveFloor = false;
  for (const FramePoint& p : points) {
    turned.push_back(Turn(FromPoint(p), spin, tilt));
    aboveFloor = aboveFloor || p.z > 0.0;
  }
  const V turnedCenter = Turn(center, spin, tilt);
  const double heading = std::atan2(back.y, back.x);
  double elevation = std::asin(std::clamp(back.z, -1.0, 1.0)) / kRadiansPerDegree;
  double distance = 0.0;
  for (;;) {
    distance =
        std::clamp(std::max(least, Distance(turnedCenter, Turn(back, spin, tilt), turned, lens)),
                   1e-6, maxDistance);
    const double eyeHeight = center.z + distance * back.z;
    if (!aboveFloor || eyeHeight > 1e-3 * distance || elevation >= kHighestElevation) {
      break;
    }
    elevation = std::min(kHighestElevation, std::max(elevation + kRaiseStep, kRaiseStep));
    const double e = elevation * kRadiansPerDegree;
    back = {std::cos(heading) * std::cos(e), std::sin(heading) * std::cos(e), std::sin(e)};
  }
  CameraPlacement placed;
  placed.spin = spin;
  placed.tilt = tilt;
  placed.center = ToPoint(turnedCenter);
  placed.eye = ToPoint(turnedCenter + Turn(back, spin, tilt) * distance);
  return placed;
}

bool Finite(const FramePoint& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
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

}  // namespace

CameraPlacement FramePoints(const CameraPlacement& now, const Lens& lens,
                            const std::vector<FramePoint>& given, double maxDistance) {
  const std::vector<FramePoint> points = FinitePoints(given);
  if (points.empty()) {
    return now;
  }
  V back = FromPoint(now.eye) - FromPoint(now.center);
  const double length = back.Length();
  if (!(length > 0.0) || !std::isfinite(length)) {
    back = {1.0, 0.0, 0.0};
  } else {
    back = TurnBack(back * (1.0 / length), now.spin, now.tilt);
  }
  return Place(back, Box(points).Middle(), 0.0, now.spin, now.tilt, lens, points, maxDistance);
}

CameraPlacement FrameFromAbove(const FramePoint& given, double radius, const Lens& lens,
                               const std::vector<FramePoint>& points, double maxDistance) {
  const FramePoint center = Finite(given) ? given : FramePoint{};
  if (!std::isfinite(radius)) {
    radius = maxDistance;
  }
  const double h = kThreeQuarterHeading * kRadiansPerDegree;
  const double e = kThreeQuarterElevation * kRadiansPerDegree;
  const V back{std::cos(h) * std::cos(e), std::sin(h) * std::cos(e), std::sin(e)};
  const double halfY = 0.5 * lens.fovY * kRadiansPerDegree;
  const double halfX = std::atan(lens.aspect * std::tan(halfY));
  const double sphere = radius / (kFrameMargin * std::sin(std::min(halfX, halfY)));
  std::vector<FramePoint> all = FinitePoints(points);
  all.push_back(center);
  return Place(back, FromPoint(center), sphere, 0.0, 0.0, lens, all, maxDistance);
}
