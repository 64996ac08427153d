// LabPanel: the control lab at the window's right edge: the controller's fields (ControlPanel)
// above the teach panel (TeachPanel). It owns neither the logic nor the dialog; while shown it
// brings both up to the arm twenty times per second, and at once after the controller's fields
// apply (a new law may change what the sliders do) or a slider moves (the target field shows the
// target it set).
#pragma once

#include <QTimer>
#include <QWidget>

class ControlForm;
class ControlPanel;
class TeachPanel;
class TeachPose;

class LabPanel : public QWidget {
  Q_OBJECT

 public:
  // How often the panel follows the arm while it is shown.
  static constexpr int kRefreshMs = 50;
  // Its width in pixels.
  static constexpr int kWidth = 340;

  LabPanel(ControlForm& form, TeachPose& teach, QWidget* parent = nullptr);

  ControlPanel& Controls() const { return *controls_; }
  TeachPanel& Teach() const { return *teach_; }

  void Refresh();
  // No more refreshes: the logic is going.
  void Stop() {
    stopped_ = true;
    timer_.stop();
  }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  ControlPanel* controls_;
  TeachPanel* teach_;
  QTimer timer_;
  bool stopped_ = false;
};
