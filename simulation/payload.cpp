#include "simulation/payload.h"

#include <cmath>

#include "recursive/frames.h"

std::string AddPayload(Robot& robot, const Payload& payload) {
  const std::vector<recursive::FrameModel> frames = recursive::BuildFrameModels(robot);
  const int f = recursive::FindFrame(frames, payload.frame);
  if (f < 0) {
    std::string error = "the arm has no frame '" + payload.frame + "'; its frames are";
    for (std::size_t i = 0; i < frames.size(); ++i) {
      error += (i == 0 ? " '" : ", '") + frames[i].name + "'";
    }
    return error;
  }
  if (!(payload.mass >= 0.0) || !std::isfinite(payload.mass)) {
    return "the payload's mass must be a finite number of kilograms, 0 or more";
  }
  for (double x : payload.point) {
    if (!std::isfinite(x)) {
      return "the payload's point is not finite";
    }
  }
  const recursive::FrameModel& frame = frames[static_cast<std::size_t>(f)];
  if (frame.link < 0) {
    return "the frame '" + payload.frame + "' is fixed to the base, which never moves";
  }
  if (payload.mass == 0.0) {
    return "";
  }
  Link& link = *robot.links[static_cast<std::size_t>(frame.link)];
  // The point in the link's frame.
  const spatial::Vec3 local{payload.point[0], payload.point[1], payload.point[2]};
  const spatial::Vec3 p = frame.pose.r * local + frame.pose.p;
  const double m = link.mass, mp = payload.mass, total = m + mp;
  const double c[3] = {link.com(0, 0), link.com(1, 0), link.com(2, 0)};
  const double at[3] = {p.x, p.y, p.z};
  double joint[3];
  for (int k = 0; k < 3; ++k) {
    joint[k] = (m * c[k] + mp * at[k]) / total;
  }
  // I' = I + m (|d|^2 E - d d^T) + mp (|e|^2 E - e e^T)
  double d[3], e[3];
  for (int k = 0; k < 3; ++k) {
    d[k] = c[k] - joint[k];
    e[k] = at[k] - joint[k];
  }
  const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  const double ee = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      const double delta = i == j ? 1.0 : 0.0;
      link.inertia(i, j) =
          link.inertia(i, j) + m * (dd * delta - d[i] * d[j]) + mp * (ee * delta - e[i] * e[j]);
    }
  }
  link.mass = total;
  for (uint32_t k = 0; k < 3; ++k) {
    link.com(k, 0) = joint[k];
  }
  return "";
}
