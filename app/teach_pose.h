// TeachPose: the logic of the teach panel, without a toolkit. A slider per joint that moves (a
// joint held fixed has none), over the joint's limits, or +-180 degrees (+-1 m for a sliding joint)
// on a side without one, in tenths of a degree or of a millimetre; and a readout of the tool
// frame's position and roll-pitch-yaw (the frame the controller form names) at the arm's pose.
//
// What a slider does depends on the run. Paused, or running with a law that follows no target
// (the typed torques, gravity compensation), it puts the arm in that pose at rest: the joint moved
// goes where the slider is, the others stay where they are (CVelmothDlg::SetPose, a change of state
// outside the ticks as "Reset" is). Running with a law that follows a target, it sets the target
// (ControlForm::SetTarget): the joint positions the sliders show, or for task-pd the tool's
// position at the pose they show. The sliders show the arm's pose; while they set a joint law's
// target they show the target, and each value says where the arm is beside it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/velmoth_dlg.h"
#include "control/controller.h"
#include "recursive/chain.h"
#include "recursive/frames.h"

class ControlForm;

class TeachPose : public TickListener {
 public:
  // Slider steps per degree of a turning joint and per millimetre of a sliding one.
  static constexpr int kStepsPerUnit = 10;
  // The range of a joint without limits: +-180 degrees, +-1 m.
  static constexpr double kFreeTurn = 3.14159265358979323846;
  static constexpr double kFreeSlide = 1.0;

  struct Joint {
    std::size_t index;  // the arm's joint
    std::string name;
    bool slides;           // millimetres, else degrees
    int minimum, maximum;  // slider positions
  };

  // running: whether the run is running (not paused, not diverged).
  TeachPose(CVelmothDlg& dlg, ControlForm& form, std::function<bool()> running);

  const std::vector<Joint>& Joints() const { return joints_; }
  // Slider position of the value v (rad, m) of joint k, within its range; and the value of one.
  int PositionOf(std::size_t k, double v) const;
  double ValueAt(std::size_t k, int position) const;

  // Whether the sliders set the target now, rather than the pose.
  bool SetsTarget() const;
  // Where slider k stands now, and the text beside it ("12.3°", "45.0 mm"; while it sets a joint
  // law's target, "30.0° (at 28.5°)").
  int Position(std::size_t k) const;
  std::string ValueText(std::size_t k) const;

  // The user moved slider k to position.
  void OnSlider(std::size_t k, int position);

  // "tool0  x 0.512  y 0.000  z 0.800 m" and "roll 0.0°  pitch 90.0°  yaw 0.0°", on two lines.
  std::string ToolText();

  // Remembers where the reference started: the target of a law told to hold the pose it started
  // at.
  void OnTick(const TickResult& tick) override;
  void OnResetJointState(const Robot& robot) override;

 private:
  // The joint law's target now: the one set, else where its reference started, else the pose.
  std::vector<double> JointTarget() const;
  std::vector<double> Pose() const;
  // The base-frame position and rotation of frame f at q.
  spatial::Transform FrameAt(int f, const std::vector<double>& q);
  // The frame the controller form names, or the last one.
  int ToolFrame() const;

  CVelmothDlg& dlg_;
  ControlForm& form_;
  std::function<bool()> running_;
  std::vector<Joint> joints_;
  recursive::ChainModel model_;
  recursive::ChainData data_;
  std::vector<recursive::FrameModel> frames_;
  std::optional<ReferenceStart> start_;
};
