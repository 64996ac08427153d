// The named frames of the arm and where they are: the placement pass and the frames' poses.
#include "recursive/frames.h"

#include <utility>

#include "robot/transforms.h"

namespace recursive {

using spatial::Motion;
using spatial::Transform;

namespace {

Transform Identity() {
  Transform x;
  x.r.m[0][0] = x.r.m[1][1] = x.r.m[2][2] = 1.0;
  return x;
}

}  // namespace

std::vector<FrameModel> BuildFrameModels(const Robot& robot) {
  std::vector<FrameModel> frames;
  if (!robot.frames.empty()) {
    for (const NamedFrame& named : robot.frames) {
      FrameModel& frame = frames.emplace_back();
      frame.name = named.name;
      frame.link = named.link;
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          frame.pose.r.m[i][j] = named.rotation[i][j];
        }
      }
      frame.pose.p = {named.origin[0], named.origin[1], named.origin[2]};
    }
    return frames;
  }
  frames.push_back({"base", -1, Identity()});
  const int n = static_cast<int>(robot.links.size());
  for (int i = 0; i < n; ++i) {
    frames.push_back({"link" + std::to_string(i), i, Identity()});
  }
  if (n > 0) {
    const matrix<double> end = LinkOffsetTransform(*robot.links[n - 1]);
    FrameModel& tool = frames.emplace_back();
    tool.name = "tool";
    tool.link = n - 1;
    for (uint32_t i = 0; i < 3; ++i) {
      for (uint32_t j = 0; j < 3; ++j) {
        tool.pose.r.m[i][j] = end(i, j);
      }
    }
    tool.pose.p = {end(0, 3), end(1, 3), end(2, 3)};
  }
  return frames;
}

int FindFrame(const std::vector<FrameModel>& frames, std::string_view name) {
  for (std::size_t f = 0; f < frames.size(); ++f) {
    if (frames[f].name == name) {
      return static_cast<int>(f);
    }
  }
  return -1;
}

void Placements(const ChainModel& model, ChainData& data, const double* qd) {
  const int n = model.Size();
  // oX_i = oX_{i-1} X_i
  for (int i = 0; i < n; ++i) {
    if (i == 0) {
      data.placement[0] = data.x[0];
    } else {
      spatial::Compose(data.placement[i - 1], data.x[i], data.placement[i]);
    }
  }
  if (qd == nullptr) {
    return;
  }
  // a_i = X_i a_{i-1} + v_i x S_i qd_i, from a base at rest
  Motion parent;
  for (int i = 0; i < n; ++i) {
    const JointModel& joint = model.joints[i];
    Motion s;
    if (joint.motion != JointMotion::kNone) {
      spatial::Add(s, Coordinate(joint), qd[i]);
    }
    parent = data.a[i] = spatial::ToChild(data.x[i], parent) + spatial::CrossMotion(data.v[i], s);
  }
}

Transform FramePose(const ChainData& data, const FrameModel& frame) {
  if (frame.link < 0) {
    return frame.pose;
  }
  Transform pose;
  spatial::Compose(data.placement[frame.link], frame.pose, pose);
  return pose;
}

FrameTracker::FrameTracker(const Robot& robot, std::vector<int> frames)
    : model_(BuildChainModel(robot)),
      data_(model_.Size()),
      frames_(BuildFrameModels(robot)),
      chosen_(std::move(frames)),
      q_(static_cast<std::size_t>(model_.Size())) {}

void FrameTracker::Track(const Robot& robot, double* positions) {
  for (std::size_t i = 0; i < q_.size(); ++i) {
    q_[i] = robot.links[i]->q;
  }
  Kinematics(model_, data_, q_.data(), nullptr, {});
  Placements(model_, data_, nullptr);
  for (std::size_t k = 0; k < chosen_.size(); ++k) {
    const spatial::Vec3 p = FramePose(data_, frames_[static_cast<std::size_t>(chosen_[k])]).p;
    positions[3 * k] = p.x;
    positions[3 * k + 1] = p.y;
    positions[3 * k + 2] = p.z;
  }
}

}  // namespace recursive
