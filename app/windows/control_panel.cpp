#include "app/windows/control_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "control/control_settings.h"

namespace {

using F = ControlForm;

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// What each field is, for its tool tip.
const char* TipOf(F::Field field) {
  switch (field) {
    case F::kController:
      return "torque: the typed torques alone. gravity: plus g(q), the arm floats. pd: Kp e + Kd "
             "e' + g(q). computed-torque: M(q) (q*'' + Kd e' + Kp e) + C q' + g(q) + friction, "
             "the error obeys e'' + Kd e' + Kp e = 0. task-pd: a PD law on the tool's position";
    case F::kRate:
      return "continuous: the law at every state the step evaluates. 100 to 1000 Hz: a digital "
             "controller, its torque held between samples";
    case F::kTarget:
      return "The target in the panel's vector format: joint positions (rad, m for sliding "
             "joints); for task-pd the tool's x, y, z in the base frame (m). Empty: where the arm "
             "is when the law starts";
    case F::kTrajectory:
      return "step: the target at once. quintic: rest to rest with the least jerk. trapezoid: "
             "constant acceleration, cruise, braking, a third of the time each. sine: about the "
             "target";
    case F::kDuration:
      return "Seconds the quintic or trapezoid takes; empty: its largest distance at a peak of "
             "1 rad/s (0.2 m/s), at least 0.5 s";
    case F::kAmplitude:
      return "The sine's amplitude per joint (task-pd: per axis); one number is every joint's";
    case F::kPeriod:
      return "The sine's period, s";
    case F::kFrequency:
      return "The default gains' natural frequency w, critically damped (rad/s)";
    case F::kKp:
      return "Proportional gains per joint (task-pd: per axis); one number is every joint's. "
             "Empty: "
             "pd M(q*) w^2 (the whole matrix, its diagonal shown), computed-torque w^2, task-pd "
             "the tool's inertia times w^2";
    case F::kKd:
      return "Derivative gains per joint (task-pd: per axis); one number is every joint's. Empty: "
             "pd 2 M(q*) w, computed-torque 2 w, task-pd twice the tool's inertia times w";
    case F::kKn:
      return "task-pd: the joints' damping of the motion that leaves the tool where it is";
    case F::kCompensation:
      return "pd and task-pd add the gravity torques g(q); without, the arm sags by Kp^-1 g(q)";
    case F::kTool:
      return "The tool frame: the frame task-pd moves and the teach panel reads out";
    case F::kMassError:
      return "The controller's model gives the arm's last link this much more mass (kg; negative: "
             "less), as an unknown payload: model error becomes tracking error";
    case F::kModelFriction:
      return "computed-torque models the joints' friction";
    case F::kFieldCount:
      break;
  }
  return "";
}

}  // namespace

ControlPanel::ControlPanel(ControlForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);
  std::vector<std::string> controllers, trajectories;
  for (ControllerKind kind : kControllerKinds) {
    controllers.emplace_back(ControllerName(kind));
  }
  for (TrajectoryKind kind : kTrajectoryKinds) {
    trajectories.emplace_back(TrajectoryName(kind));
  }
  const auto label = [this](const char* text) { return new QLabel(QString::fromUtf8(text), this); };
  int row = 0;
  const auto pair = [&](const char* left, QWidget* a, const char* right, QWidget* b) {
    grid->addWidget(label(left), row, 0);
    grid->addWidget(a, row, 1);
    if (b != nullptr) {
      grid->addWidget(label(right), row, 2);
      grid->addWidget(b, row, 3);
    }
    ++row;
  };
  pair("Controller", AddChoice(F::kController, controllers), "Rate",
       AddChoice(F::kRate, ControlForm::Rates()));
  grid->addWidget(label("Target:"), row, 0);
  grid->addWidget(AddEdit(F::kTarget), row++, 1, 1, 3);
  pair("Trajectory", AddChoice(F::kTrajectory, trajectories), "Duration", AddEdit(F::kDuration));
  pair("Amplitude", AddEdit(F::kAmplitude), "Period", AddEdit(F::kPeriod));
  pair("\u03c9 (rad/s)", AddEdit(F::kFrequency), "Kn", AddEdit(F::kKn));
  grid->addWidget(label("Kp"), row, 0);
  grid->addWidget(AddEdit(F::kKp), row++, 1, 1, 3);
  grid->addWidget(label("Kd"), row, 0);
  grid->addWidget(AddEdit(F::kKd), row++, 1, 1, 3);
  pair("Tool", AddChoice(F::kTool, form_.Frames()), "Mass error", AddEdit(F::kMassError));
  grid->addWidget(AddCheck(F::kCompensation, QStringLiteral("g(q) compensation")), row, 0, 1, 2);
  grid->addWidget(AddCheck(F::kModelFriction, QStringLiteral("model friction")), row++, 2, 1, 2);
  apply_ = new QPushButton(QStringLiteral("Apply"), this);
  apply_->setToolTip(
      QStringLiteral("Hands the fields to the controller (Enter in a field does "
                     "the same); the lists and checks take effect at once"));
  apply_->setAutoDefault(false);
  connect(apply_, &QPushButton::clicked, this, &ControlPanel::Apply);
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  grid->addWidget(apply_, row, 0);
  grid->addWidget(status_, row++, 1, 1, 3);
  problem_ = new QLabel(this);
  problem_->setWordWrap(true);
  problem_->setStyleSheet(QStringLiteral("color: #b00000"));
  grid->addWidget(problem_, row++, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  Refresh();
}

QLineEdit* ControlPanel::AddEdit(ControlForm::Field field) {
  auto* edit = new QLineEdit(this);
  edit->setToolTip(QString::fromUtf8(TipOf(field)));
  connect(edit, &QLineEdit::textEdited, this,
          [this, field](const QString& text) { form_.SetText(field, text.toStdString()); });
  connect(edit, &QLineEdit::returnPressed, this, &ControlPanel::Apply);
  widgets_[field] = edit;
  return edit;
}

QComboBox* ControlPanel::AddChoice(ControlForm::Field field,
                                   const std::vector<std::string>& items) {
  auto* choice = new QComboBox(this);
  for (const std::string& item : items) {
    const QString text = Text(item);
    choice->addItem(field == F::kRate && text != QLatin1String("continuous")
                        ? text + QStringLiteral(" Hz")
                        : text,
                    text);
  }
  choice->setToolTip(QString::fromUtf8(TipOf(field)));
  choice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  choice->setMinimumContentsLength(6);
  connect(choice, &QComboBox::activated, this, [this, field, choice](int index) {
    form_.SetText(field, choice->itemData(index).toString().toStdString());
    Apply();
  });
  widgets_[field] = choice;
  return choice;
}

QCheckBox* ControlPanel::AddCheck(ControlForm::Field field, const QString& text) {
  auto* check = new QCheckBox(text, this);
  check->setToolTip(QString::fromUtf8(TipOf(field)));
  connect(check, &QCheckBox::clicked, this, [this, field](bool on) {
    form_.SetText(field, on ? "on" : "off");
    Apply();
  });
  widgets_[field] = check;
  return check;
}

void ControlPanel::Apply() {
  if (form_.Apply()) {
    emit applied();
  }
  Refresh();
}

void ControlPanel::Refresh() {
  for (int f = 0; f < ControlForm::kFieldCount; ++f) {
    const auto field = static_cast<ControlForm::Field>(f);
    QWidget* widget = widgets_[f];
    if (widget == nullptr) {
      continue;
    }
    const QString text = Text(form_.Text(field));
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      if (edit->text() != text) {
        edit->setText(text);
      }
      edit->setPlaceholderText(Text(form_.Placeholder(field)));
    } else if (auto* choice = qobject_cast<QComboBox*>(widget)) {
      const int index = choice->findData(text);
      if (index >= 0 && index != choice->currentIndex()) {
        choice->setCurrentIndex(index);
      }
    } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
      check->setChecked(text == QLatin1String("on"));
    }
    widget->setEnabled(form_.Takes(field));
  }
  status_->setText(Text(form_.Status()));
  problem_->setText(Text(form_.Problem()));
  problem_->setVisible(!form_.Problem().empty());
}

QString ControlPanel::Status() const {
  return status_->text();
}

QString ControlPanel::Problem() const {
  return problem_->text();
}
