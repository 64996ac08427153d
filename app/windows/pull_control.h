// PullControl: the mouse's pull on the arm, wired between the view and the dialog. Ctrl and a left
// drag on a link (the view reports them) take the point of the link under the cursor, on the link
// as the view draws it (its shapes, or its figure); from then on a spring pulls that point towards
// the cursor's point at the depth it was taken at, F = k (cursor - p) - c p', k and c in proportion
// to the arm's mass (PullGains), so that arms of any mass answer alike; the wheel while pulling
// makes it stiffer or softer. The dialog's ticks take the pull as it stands when each falls due
// (CVelmothDlg::SetPull); releasing the button ends it. After every tick shown the view draws the
// point, the line to the cursor and the force in newtons, and the strip names the link.
//
// A press on empty space, or on the base (which never moves), does nothing. Paused, nothing moves
// the arm, so neither does the pull, which stands: each tick that F6 runs takes it. Inverse ticks
// take their accelerations as typed and no pull.
#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <optional>
#include <string>

#include "app/velmoth_dlg.h"
#include "simulation/external_forces.h"

class COglWndCustom;
class StatusStrip;

class PullControl : public QObject, public TickListener {
  Q_OBJECT

 public:
  // Each step of the wheel changes the stiffness by this factor (and the damping by its square
  // root), from kMinScale to kMaxScale times the arm's default.
  static constexpr double kWheelFactor = 1.4142135623730951;
  static constexpr double kMinScale = 1.0 / 16.0;
  static constexpr double kMaxScale = 16.0;

  // For the dialog's arm (its robot exists), drawn in view, named in strip.
  PullControl(CVelmothDlg& dlg, COglWndCustom& view, StatusStrip& strip);

  // The pull handed to the ticks, none while there is none.
  const std::optional<Pull>& Current() const { return pull_; }
  // The wheel's factor on the arm's default stiffness.
  double Scale() const { return scale_; }

  // The view's reports: Ctrl and the left button pressed, the mouse dragged, released, the wheel
  // turned by steps (positive: stiffer).
  void Press(QPointF position);
  void Drag(QPointF position);
  void Release();
  void Wheel(int steps);

  // TickListener: the pull as the tick left the arm.
  void OnTick(const TickResult& tick) override;
  void OnResetJointState(const Robot& robot) override;

 private:
  // Hands the pull to the dialog and shows it.
  void Send();
  // Draws it in the view and says it in the strip, at the state of the dialog's arm.
  void Show();

  CVelmothDlg& dlg_;
  QPointer<COglWndCustom> view_;
  QPointer<StatusStrip> strip_;
  ExternalTorques torques_;  // the pull's force at a state, for showing it
  double mass_ = 0.0;
  double scale_ = 1.0;
  double depth_ = 0.0;  // the depth the point was taken at, along the line of sight
  std::optional<Pull> pull_;
  std::string name_;  // the link's
};
