#include "visuals/arm_extent.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "robot/transforms.h"

namespace {

// The figure's housings and sliders reach at most this many link radii from their joint.
constexpr double kHousingReach = 2.2;

Pose3 FromMatrix(const matrix<double>& t) {
  Pose3 pose;
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      pose.r[i][j] = t(i, j);
    }
    pose.p[i] = t(i, 3);
  }
  return pose;
}

Pose3 FromParts(const double (&r)[3][3], const double (&p)[3]) {
  Pose3 pose;
  std::copy(&r[0][0], &r[0][0] + 9, &pose.r[0][0]);
  std::copy(p, p + 3, pose.p);
  return pose;
}

double Length(const double x[3]) {
  return std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
}

// The eight corners of a shape's own box, through pose.
template <typename Visit>
void ForCorners(const VisualShape& shape, const Pose3& pose, Visit visit) {
  double low[3], high[3];
  shape.Bounds(low, high);
  for (int c = 0; c < 8; ++c) {
    const double corner[3] = {c & 1 ? high[0] : low[0], c & 2 ? high[1] : low[1],
                              c & 4 ? high[2] : low[2]};
    double out[3];
    pose.Apply(corner, out);
    visit(out);
  }
}

// How far a sliding joint takes the next link: as far as its limits let it, or as it is now.
double Slide(const Link& link) {
  if (link.jointType != Prismatic) {
    return 0.0;
  }
  const bool limited = std::isfinite(link.lower) && std::isfinite(link.upper);
  return std::max(std::fabs(link.q),
                  limited ? std::max(std::fabs(link.lower), std::fabs(link.upper)) : 0.0);
}

}  // namespace

Pose3 Pose3::operator*(const Pose3& b) const {
  Pose3 out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      out.r[i][j] = r[i][0] * b.r[0][j] + r[i][1] * b.r[1][j] + r[i][2] * b.r[2][j];
    }
    out.p[i] = r[i][0] * b.p[0] + r[i][1] * b.p[1] + r[i][2] * b.p[2] + p[i];
  }
  return out;
}

void Pose3::Apply(const double x[3], double out[3]) const {
  for (int i = 0; i < 3; ++i) {
    out[i] = r[i][0] * x[0] + r[i][1] * x[1] + r[i][2] * x[2] + p[i];
  }
}

void Box3::Add(const double x[3], double grow) {
  for (int i = 0; i < 3; ++i) {
    low[i] = std::min(low[i], x[i] - grow);
    high[i] = std::max(high[i], x[i] + grow);
  }
}

std::vector<Pose3> IncomingFrames(const Robot& robot) {
  std::vector<Pose3> frames;
  frames.reserve(robot.links.size() + 1);
  Pose3 at = FromMatrix(robot.basePose);
  for (const std::unique_ptr<Link>& link : robot.links) {
    frames.push_back(at);
    at = at * FromMatrix(JointTransform(*link)) * FromMatrix(LinkOffsetTransform(*link));
  }
  frames.push_back(at);
  return frames;
}

std::vector<Pose3> LinkFrames(const Robot& robot) {
  std::vector<Pose3> frames = IncomingFrames(robot);
  frames.pop_back();
  for (std::size_t k = 0; k < frames.size(); ++k) {
    frames[k] = frames[k] * FromMatrix(JointTransform(*robot.links[k]));
  }
  return frames;
}

ShapePlacement PlaceShapes(const VisualModel& model, const Robot& robot) {
  ShapePlacement placement;
  std::map<std::string, int> byName;
  for (std::size_t f = 0; f < robot.frames.size(); ++f) {
    byName.emplace(robot.frames[f].name, static_cast<int>(f));
  }
  const auto linkOf = [&](int frame) {
    const int link = robot.frames[static_cast<std::size_t>(frame)].link;
    return link >= -1 && link < static_cast<int>(robot.links.size()) ? link : -2;
  };
  placement.covered.assign(robot.links.size() + 1, 0);
  placement.frameOf.reserve(model.shapes.size());
  for (const VisualShape& shape : model.shapes) {
    const auto it = byName.find(shape.frame);
    const int frame = it != byName.end() && linkOf(it->second) >= -1 ? it->second : -1;
    placement.frameOf.push_back(frame);
    if (frame >= 0) {
      placement.covered[static_cast<std::size_t>(linkOf(frame) + 1)] = 1;
    }
  }
  for (const std::string& name : model.failedFrames) {
    if (const auto it = byName.find(name); it != byName.end() && linkOf(it->second) >= -1) {
      placement.covered[static_cast<std::size_t>(linkOf(it->second) + 1)] = 0;
    }
  }
  return placement;
}

Pose3 ShapePose(const VisualModel& model, const ShapePlacement& placement, const Robot& robot,
                const std::vector<Pose3>& linkFrames, std::size_t i) {
  const VisualShape& shape = model.shapes[i];
  const NamedFrame& frame = robot.frames[static_cast<std::size_t>(placement.frameOf[i])];
  const Pose3 inLink =
      FromParts(frame.rotation, frame.origin) * FromParts(shape.rotation, shape.origin);
  return frame.link < 0 ? inLink : linkFrames[static_cast<std::size_t>(frame.link)] * inLink;
}

std::vector<Ball3> ArmOutline(const Robot& robot, const VisualModel* model) {
  std::vector<Ball3> balls;
  const auto add = [&balls](const double* x, double radius) {
    Ball3& ball = balls.emplace_back();
    std::copy(x, x + 3, ball.center);
    ball.radius = radius;
  };
  const std::vector<Pose3> incoming = IncomingFrames(robot);
  const std::vector<Pose3> frames = LinkFrames(robot);
  ShapePlacement placement;
  if (model != nullptr) {
    placement = PlaceShapes(*model, robot);
    for (std::size_t i = 0; i < model->shapes.size(); ++i) {
      const int frame = placement.frameOf[i];
      if (frame >= 0 && placement.Covers(robot.frames[static_cast<std::size_t>(frame)].link)) {
        ForCorners(model->shapes[i], ShapePose(*model, placement, robot, frames, i),
                   [&](const double* x) { add(x, 0.0); });
      }
    }
  }
  const bool shapes = model != nullptr;
  for (std::size_t k = 0; k < robot.links.size(); ++k) {
    const double r = robot.links[k]->radius;
    if (shapes && placement.Covers(static_cast<int>(k))) {
      if (JointAtLimit(robot, k) != 0) {
        add(incoming[k].p, kAtLimitHousingScale * kHousingReach * r);
      }
      continue;
    }
    add(incoming[k].p, kHousingReach * r);
    add(frames[k].p, kHousingReach * r);
    add(incoming[k + 1].p, r);
  }
  // The column from the floor to the first joint.
  if (!robot.links.empty() && !(shapes && placement.Covers(-1))) {
    const double origin[3] = {0.0, 0.0, 0.0};
    add(origin, robot.links.front()->radius);
    add(incoming.front().p, robot.links.front()->radius);
  }
  return balls;
}

Box3 ArmBox(const Robot& robot, const VisualModel* model) {
  Box3 box;
  for (const Ball3& ball : ArmOutline(robot, model)) {
    box.Add(ball.center, ball.radius);
  }
  return box;
}

std::vector<JointDirection> JointDirections(const Robot& robot) {
  std::vector<JointDirection> directions;
  const std::vector<Pose3> incoming = IncomingFrames(robot);
  for (std::size_t k = 0; k < robot.links.size(); ++k) {
    const Link& link = *robot.links[k];
    if ((link.jointType != Revolute && link.jointType != Prismatic) || link.axis < X ||
        link.axis > Z) {
      continue;
    }
    JointDirection& d = directions.emplace_back();
    for (int i = 0; i < 3; ++i) {
      d.axis[i] = incoming[k].r[i][link.axis];
    }
    d.turns = link.jointType == Revolute;
  }
  return directions;
}

Sphere3 ArmReach(const Robot& robot, const VisualModel* model) {
  Sphere3 sphere;
  const std::vector<Pose3> incoming = IncomingFrames(robot);
  std::copy(incoming.front().p, incoming.front().p + 3, sphere.center);
  // How far each link frame can be from the first joint: the lengths and slides before it.
  std::vector<double> before(robot.links.size(), 0.0);
  double sum = 0.0;
  for (std::size_t k = 0; k < robot.links.size(); ++k) {
    const Link& link = *robot.links[k];
    sum += Slide(link);
    before[k] = sum;
    const double offset[3] = {link.offsetX, link.offsetY, link.offsetZ};
    sum += Length(offset);
  }
  const auto reach = [&](double distance) { sphere.radius = std::max(sphere.radius, distance); };
  ShapePlacement placement;
  const bool shapes = model != nullptr;
  if (shapes) {
    placement = PlaceShapes(*model, robot);
    for (std::size_t i = 0; i < model->shapes.size(); ++i) {
      const int f = placement.frameOf[i];
      if (f < 0) {
        continue;
      }
      const NamedFrame& frame = robot.frames[static_cast<std::size_t>(f)];
      if (!placement.Covers(frame.link)) {
        continue;
      }
      const VisualShape& shape = model->shapes[i];
      const Pose3 inLink =
          FromParts(frame.rotation, frame.origin) * FromParts(shape.rotation, shape.origin);
      if (frame.link < 0) {
        ForCorners(shape, inLink, [&](const double* x) {
          const double d[3] = {x[0] - sphere.center[0], x[1] - sphere.center[1],
                               x[2] - sphere.center[2]};
          reach(Length(d));
        });
      } else {
        const double start = before[static_cast<std::size_t>(frame.link)];
        ForCorners(shape, inLink, [&](const double* x) { reach(start + Length(x)); });
      }
    }
  }
  for (std::size_t k = 0; k < robot.links.size(); ++k) {
    if (shapes && placement.Covers(static_cast<int>(k))) {
      continue;
    }
    const Link& link = *robot.links[k];
    const double offset[3] = {link.offsetX, link.offsetY, link.offsetZ};
    reach(before[k] + std::max(kHousingReach * link.radius, Length(offset) + link.radius));
  }
  // The housings drawn over the shapes at a limit; any joint with limits may come to one.
  for (std::size_t k = 0; k < robot.links.size() && shapes; ++k) {
    const Link& link = *robot.links[k];
    if (placement.Covers(static_cast<int>(k)) &&
        (std::isfinite(link.lower) || std::isfinite(link.upper))) {
      reach(before[k] - Slide(link) + kAtLimitHousingScale * kHousingReach * link.radius);
    }
  }
  if (!robot.links.empty() && !(shapes && placement.Covers(-1))) {
    reach(Length(sphere.center) + robot.links.front()->radius);
  }
  return sphere;
}
