#include "control/tool_readout.h"

#include <cmath>
#include <cstdio>

double ShownRounded(double value, double scale) {
  const double rounded = std::round(value * scale) / scale;
  return rounded == 0.0 ? 0.0 : rounded;
}

std::string ToolReadout(const std::string& frame, const spatial::Transform& pose) {
  constexpr double kDegrees = 180.0 / 3.14159265358979323846;
  const auto& r = pose.r.m;
  // Roll about x, then pitch about y, then yaw about z, all of the base frame: r = Rz Ry Rx.
  const double roll = std::atan2(r[2][1], r[2][2]);
  const double pitch = std::atan2(-r[2][0], std::hypot(r[2][1], r[2][2]));
  const double yaw = std::atan2(r[1][0], r[0][0]);
  char text[256];
  std::snprintf(text, sizeof text,
                "%s  x %.3f  y %.3f  z %.3f m\nroll %.1f\u00b0  pitch %.1f\u00b0  yaw %.1f\u00b0",
                frame.c_str(), ShownRounded(pose.p.x, 1000.0), ShownRounded(pose.p.y, 1000.0),
                ShownRounded(pose.p.z, 1000.0), ShownRounded(roll * kDegrees, 10.0),
                ShownRounded(pitch * kDegrees, 10.0), ShownRounded(yaw * kDegrees, 10.0));
  return text;
}
