// TeachPanel: the teach panel's widgets, a thin layer over TeachPose (the logic, tested without a
// display). The tool frame's position and roll-pitch-yaw at the top; under it, in a list that
// scrolls when the arm has more joints than the room shows, a slider per moving joint with its name
// and its value beside it. A line says what the sliders do now: paused they pose the arm at rest,
// running with a law that follows a target they set it. Refresh brings the sliders and the texts
// up to the arm; a slider the user holds keeps where the user holds it.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "app/teach_pose.h"

class QLabel;
class QScrollArea;
class QSlider;

class TeachPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TeachPanel(TeachPose& teach, QWidget* parent = nullptr);

  QSlider* Slider(std::size_t k) const { return sliders_.at(k); }
  std::size_t Sliders() const { return sliders_.size(); }
  QString ValueText(std::size_t k) const;
  QString ToolText() const;
  QString ModeText() const;
  const QScrollArea* SliderArea() const { return area_; }

  void Refresh();

 signals:
  // A slider moved the arm or the target.
  void moved();

 private:
  TeachPose& teach_;
  QLabel* tool_ = nullptr;
  QLabel* mode_ = nullptr;
  QScrollArea* area_ = nullptr;
  std::vector<QSlider*> sliders_;
  std::vector<QLabel*> values_;
};
