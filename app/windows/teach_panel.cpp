#include "app/windows/teach_panel.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

namespace {

void SetText(QLabel* label, const QString& text) {
  if (label->text() != text) {
    label->setText(text);
  }
}

}  // namespace

TeachPanel::TeachPanel(TeachPose& teach, QWidget* parent) : QWidget(parent), teach_(teach) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 2, 4, 2);
  column->setSpacing(2);
  tool_ = new QLabel(this);
  tool_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  tool_->setToolTip(QStringLiteral(
      "The tool frame's position in the base frame and its roll, pitch and yaw: turns about the "
      "base frame's x, then y, then z axis"));
  mode_ = new QLabel(this);
  mode_->setWordWrap(true);
  column->addWidget(tool_);
  column->addWidget(mode_);

  auto* list = new QWidget;
  auto* grid = new QGridLayout(list);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(0);
  // Wide enough for the widest value of the arm's joints, a target's with the arm's beside it.
  bool slides = false;
  for (const TeachPose::Joint& joint : teach_.Joints()) {
    slides = slides || joint.slides;
  }
  const int valueWidth =
      fontMetrics().horizontalAdvance(slides ? QStringLiteral("-1000.0 mm (at -1000.0 mm)")
                                             : QStringLiteral("-180.0\u00b0 (at -180.0\u00b0)"));
  for (std::size_t k = 0; k < teach_.Joints().size(); ++k) {
    const TeachPose::Joint& joint = teach_.Joints()[k];
    auto* name = new QLabel(QString::fromStdString(joint.name), list);
    auto* slider = new QSlider(Qt::Horizontal, list);
    slider->setRange(joint.minimum, joint.maximum);
    slider->setSingleStep(TeachPose::kStepsPerUnit);     // 1 degree, 1 mm
    slider->setPageStep(10 * TeachPose::kStepsPerUnit);  // 10
    slider->setToolTip(QStringLiteral("%1: %2 to %3 %4")
                           .arg(name->text())
                           .arg(joint.minimum / double(TeachPose::kStepsPerUnit))
                           .arg(joint.maximum / double(TeachPose::kStepsPerUnit))
                           .arg(joint.slides ? QStringLiteral("mm") : QStringLiteral("\u00b0")));
    auto* value = new QLabel(list);
    value->setMinimumWidth(valueWidth);
    connect(slider, &QSlider::valueChanged, this, [this, k](int position) {
      teach_.OnSlider(k, position);
      emit moved();
    });
    const int row = static_cast<int>(k);
    grid->addWidget(name, row, 0);
    grid->addWidget(slider, row, 1);
    grid->addWidget(value, row, 2);
    sliders_.push_back(slider);
    values_.push_back(value);
  }
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(static_cast<int>(teach_.Joints().size()), 1);
  area_ = new QScrollArea(this);
  area_->setWidget(list);
  area_->setWidgetResizable(true);
  area_->setFrameShape(QFrame::NoFrame);
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  column->addWidget(area_, 1);
  Refresh();
}

void TeachPanel::Refresh() {
  for (std::size_t k = 0; k < sliders_.size(); ++k) {
    QSlider* slider = sliders_[k];
    if (!slider->isSliderDown()) {
      const int position = teach_.Position(k);
      if (slider->value() != position) {
        const bool blocked = slider->blockSignals(true);
        slider->setValue(position);
        slider->blockSignals(blocked);
      }
    }
    SetText(values_[k], QString::fromStdString(teach_.ValueText(k)));
  }
  SetText(tool_, QString::fromStdString(teach_.ToolText()));
  SetText(mode_,
          teach_.SetsTarget()
              ? QStringLiteral("The sliders set the target (running); pause to pose the arm.")
              : QStringLiteral("The sliders pose the arm at rest; running with pd, "
                               "computed-torque or task-pd, they set its target."));
}

QString TeachPanel::ValueText(std::size_t k) const {
  return values_.at(k)->text();
}

QString TeachPanel::ToolText() const {
  return tool_->text();
}

QString TeachPanel::ModeText() const {
  return mode_->text();
}
