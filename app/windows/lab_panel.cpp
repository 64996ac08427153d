#include "app/windows/lab_panel.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "app/windows/control_panel.h"
#include "app/windows/teach_panel.h"

LabPanel::LabPanel(ControlForm& form, TeachPose& teach, QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  const auto title = [this](const QString& text) {
    auto* label = new QLabel(text, this);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setContentsMargins(4, 4, 4, 0);
    return label;
  };
  controls_ = new ControlPanel(form, this);
  teach_ = new TeachPanel(teach, this);
  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  column->addWidget(title(QStringLiteral("Controller (F4 hides the lab)")));
  column->addWidget(controls_);
  column->addWidget(rule);
  column->addWidget(title(QStringLiteral("Teach")));
  column->addWidget(teach_, 1);
  setAutoFillBackground(true);
  // As narrow as the fields allow: beside the panel's controls on a screen 1366 pixels wide.
  setFixedWidth(kWidth);
  connect(controls_, &ControlPanel::applied, this, &LabPanel::Refresh);
  connect(teach_, &TeachPanel::moved, this, &LabPanel::Refresh);
  timer_.setParent(this);
  connect(&timer_, &QTimer::timeout, this, &LabPanel::Refresh);
}

void LabPanel::Refresh() {
  if (!stopped_) {
    controls_->Refresh();
    teach_->Refresh();
  }
}

void LabPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!stopped_) {
    Refresh();
    timer_.start(kRefreshMs);
  }
}

void LabPanel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  timer_.stop();
}
