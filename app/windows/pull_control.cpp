#include "app/windows/pull_control.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/windows/status_strip.h"
#include "recursive/frames.h"
#include "simulation/stepper.h"
#include "view/ogl_wnd_custom.h"

namespace {

// The name a person reads for link k: its file's name (the first frame fixed to it), or linkK.
std::string LinkName(const Robot& robot, int k) {
  for (const recursive::FrameModel& frame : recursive::BuildFrameModels(robot)) {
    if (frame.link == k) {
      return frame.name;
    }
  }
  return "link" + std::to_string(k);
}

}  // namespace

PullControl::PullControl(CVelmothDlg& dlg, COglWndCustom& view, StatusStrip& strip)
    : dlg_(dlg),
      view_(&view),
      strip_(&strip),
      torques_(*dlg.m_pRobot),
      mass_(ArmMass(*dlg.m_pRobot)) {
  connect(&view, &COglWnd::pullPressed, this, &PullControl::Press);
  connect(&view, &COglWnd::pullDragged, this, &PullControl::Drag);
  connect(&view, &COglWnd::pullReleased, this, &PullControl::Release);
  connect(&view, &COglWnd::pullWheeled, this, &PullControl::Wheel);
}

void PullControl::Press(QPointF position) {
  if (view_ == nullptr || dlg_.m_pRobot == nullptr) {
    return;
  }
  const ArmPick pick = view_->PickAt(position);
  if (!pick.hit || pick.link < 0) {
    return;
  }
  Pull pull;
  pull.link = pick.link;
  std::copy(pick.local, pick.local + 3, pull.point);
  std::copy(pick.point, pick.point + 3, pull.target);
  depth_ = view_->DepthOf(pick.point);
  pull_ = pull;
  name_ = LinkName(*dlg_.m_pRobot, pick.link);
  Send();
}

void PullControl::Drag(QPointF position) {
  if (!pull_ || view_ == nullptr) {
    return;
  }
  view_->CursorPoint(position, depth_, pull_->target);
  Send();
}

void PullControl::Release() {
  if (!pull_) {
    return;
  }
  pull_.reset();
  dlg_.SetPull(std::nullopt);
  Show();
}

void PullControl::Wheel(int steps) {
  scale_ = std::clamp(scale_ * std::pow(kWheelFactor, steps), kMinScale, kMaxScale);
  if (pull_) {
    Send();
  }
}

void PullControl::Send() {
  PullGains(mass_, scale_, *pull_);
  dlg_.SetPull(pull_);
  Show();
}

void PullControl::OnTick(const TickResult& /*tick*/) {
  if (pull_) {
    Show();
  }
}

void PullControl::OnResetJointState(const Robot& /*robot*/) {
  if (pull_) {
    Show();
  }
}

void PullControl::Show() {
  if (view_ == nullptr || strip_ == nullptr) {
    return;
  }
  if (!pull_ || dlg_.m_pRobot == nullptr) {
    view_->SetPullMarker(std::nullopt);
    strip_->SetPull(QString());
    return;
  }
  const Robot& robot = *dlg_.m_pRobot;
  std::vector<double> q, qd;
  for (const auto& link : robot.links) {
    q.push_back(link->q);
    qd.push_back(link->qd);
  }
  // The pull as the ticks take it: its stiffness and damping as the step allows them here.
  const ControllerSettings& controller = dlg_.GetController();
  const int samples =
      controller.kind != ControllerKind::kTorque && controller.samples > 0 ? controller.samples : 1;
  COglWndCustom::PullMarker marker;
  double force[3];
  torques_.Set({{}, pull_});
  torques_.BeginTick(q.data(), Stepper::FixedStep(dlg_.GetStepOptions(), samples));
  torques_.PullAt(q.data(), qd.data(), marker.point, force);
  std::copy(pull_->target, pull_->target + 3, marker.target);
  marker.newtons = std::sqrt(force[0] * force[0] + force[1] * force[1] + force[2] * force[2]);
  if (!std::isfinite(marker.newtons)) {
    view_->SetPullMarker(std::nullopt);  // a state that diverged
    strip_->SetPull(QString());
    return;
  }
  view_->SetPullMarker(marker);
  strip_->SetPull(QStringLiteral("Pulling %1: %2 (%3 N/m; the wheel changes it)")
                      .arg(QString::fromStdString(name_), COglWndCustom::ForceText(marker.newtons),
                           QString::number(torques_.PullStiffness(), 'g', 3)));
}
