#include "app/teach_pose.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "app/control_form.h"
#include "control/tool_readout.h"
#include "robot/robot.h"

namespace {

constexpr double kDegrees = 180.0 / TeachPose::kFreeTurn;

}  // namespace

TeachPose::TeachPose(CVelmothDlg& dlg, ControlForm& form, std::function<bool()> running)
    : dlg_(dlg), form_(form), running_(std::move(running)) {
  const Robot* robot = dlg_.m_pRobot;
  if (robot == nullptr) {
    return;
  }
  model_ = recursive::BuildChainModel(*robot);
  data_.Resize(model_.Size());
  frames_ = recursive::BuildFrameModels(*robot);
  for (std::size_t i = 0; i < robot->links.size(); ++i) {
    const Link& link = *robot->links[i];
    const recursive::JointMotion motion = recursive::MotionOf(link);
    if (motion == recursive::JointMotion::kNone) {
      continue;
    }
    const bool slides = motion == recursive::JointMotion::kSlide;
    const double scale = (slides ? 1000.0 : kDegrees) * kStepsPerUnit;
    const double free = (slides ? kFreeSlide : kFreeTurn) * scale;
    // Inside the limits, to the step.
    int low = static_cast<int>(std::ceil(std::isfinite(link.lower) ? link.lower * scale : -free));
    int high = static_cast<int>(std::floor(std::isfinite(link.upper) ? link.upper * scale : free));
    if (high < low) {
      low = high = static_cast<int>(std::lround(0.5 * (link.lower + link.upper) * scale));
    }
    joints_.push_back({i, JointName(*robot, i), slides, low, high});
  }
}

int TeachPose::PositionOf(std::size_t k, double v) const {
  const Joint& joint = joints_[k];
  const double scale = (joint.slides ? 1000.0 : kDegrees) * kStepsPerUnit;
  const double position = std::round(v * scale);
  if (!(position > joint.minimum)) {  // NaN too
    return joint.minimum;
  }
  return position >= joint.maximum ? joint.maximum : static_cast<int>(position);
}

double TeachPose::ValueAt(std::size_t k, int position) const {
  const double steps = static_cast<double>(position) / kStepsPerUnit;
  return joints_[k].slides ? steps / 1000.0 : steps / kDegrees;
}

bool TeachPose::SetsTarget() const {
  return running_() && Tracks(dlg_.GetController().kind);
}

std::vector<double> TeachPose::Pose() const {
  std::vector<double> q;
  if (dlg_.m_pRobot != nullptr) {
    for (const auto& link : dlg_.m_pRobot->links) {
      q.push_back(link->q);
    }
  }
  return q;
}

std::vector<double> TeachPose::JointTarget() const {
  const std::vector<double> q = Pose();
  const std::vector<double>& target = dlg_.GetController().target;
  if (target.size() == q.size()) {
    return target;
  }
  return start_ && start_->from.size() == q.size() ? start_->from : q;
}

int TeachPose::Position(std::size_t k) const {
  const bool joints = SetsTarget() && dlg_.GetController().kind != ControllerKind::kTaskPd;
  const std::vector<double> q = joints ? JointTarget() : Pose();
  return PositionOf(k, q.at(joints_[k].index));
}

std::string TeachPose::ValueText(std::size_t k) const {
  const Joint& joint = joints_[k];
  const auto text = [&](double v) {
    char out[48];
    if (joint.slides) {
      std::snprintf(out, sizeof out, "%.1f mm", ShownRounded(v * 1000.0, 10.0));
    } else {
      std::snprintf(out, sizeof out, "%.1f\u00b0", ShownRounded(v * kDegrees, 10.0));
    }
    return std::string(out);
  };
  const double at = Pose().at(joint.index);
  if (SetsTarget() && dlg_.GetController().kind != ControllerKind::kTaskPd) {
    return text(JointTarget().at(joint.index)) + " (at " + text(at) + ")";
  }
  return text(at);
}

void TeachPose::OnSlider(std::size_t k, int position) {
  if (k >= joints_.size() || dlg_.m_pRobot == nullptr) {
    return;
  }
  const double value = ValueAt(k, position);
  const std::size_t i = joints_[k].index;
  if (!SetsTarget()) {
    std::vector<double> q = Pose();
    q[i] = value;
    dlg_.SetPose(q);
    return;
  }
  if (dlg_.GetController().kind == ControllerKind::kTaskPd) {
    // The tool's position at the pose the sliders show.
    std::vector<double> q = Pose();
    q[i] = value;
    const int frame = dlg_.GetController().frame.empty()
                          ? static_cast<int>(frames_.size()) - 1
                          : recursive::FindFrame(frames_, dlg_.GetController().frame);
    if (frame < 0) {
      return;
    }
    const spatial::Vec3 x = FrameAt(frame, q).p;
    form_.SetTarget({x.x, x.y, x.z});
    return;
  }
  std::vector<double> target = JointTarget();
  target[i] = value;
  form_.SetTarget(target);
}

spatial::Transform TeachPose::FrameAt(int f, const std::vector<double>& q) {
  recursive::Kinematics(model_, data_, q.data(), nullptr, {});
  recursive::Placements(model_, data_, nullptr);
  return recursive::FramePose(data_, frames_[static_cast<std::size_t>(f)]);
}

int TeachPose::ToolFrame() const {
  const int named = recursive::FindFrame(frames_, form_.Text(ControlForm::kTool));
  return named >= 0 ? named : static_cast<int>(frames_.size()) - 1;
}

std::string TeachPose::ToolText() {
  const int f = ToolFrame();
  if (f < 0 || dlg_.m_pRobot == nullptr) {
    return "";
  }
  const spatial::Transform pose = FrameAt(f, Pose());
  return ToolReadout(frames_[static_cast<std::size_t>(f)].name, pose);
}

void TeachPose::OnTick(const TickResult& tick) {
  if (tick.referenceStart != nullptr) {
    start_ = *tick.referenceStart;
  } else if (tick.reference != nullptr) {
    start_.reset();  // a reference that started with this tick, from where it began
  }
}

void TeachPose::OnResetJointState(const Robot& /*robot*/) {
  start_.reset();
}
