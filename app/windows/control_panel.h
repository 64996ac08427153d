// ControlPanel: the lab's controller fields as widgets, a thin layer over ControlForm (the logic,
// tested without a display). The law, the control rate, the trajectory, the tool frame and the
// checks take effect as they are chosen; the texts (the "Target:" field in the panel's vector
// format, the duration, the sine's amplitude and period, the gains' frequency and the gains, the
// model's mass error) when Enter is pressed in one of them or "Apply" is clicked. An empty field
// shows its default as a placeholder; a number that cannot be read is said under the fields and
// changes nothing.
#pragma once

#include <QWidget>
#include <array>

#include "app/control_form.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ControlPanel : public QWidget {
  Q_OBJECT

 public:
  explicit ControlPanel(ControlForm& form, QWidget* parent = nullptr);

  // The widget of a field: a QLineEdit, a QComboBox or a QCheckBox.
  QWidget* FieldWidget(ControlForm::Field field) const { return widgets_[field]; }
  QPushButton* ApplyButton() const { return apply_; }
  // The settings in force and the last problem, as shown.
  QString Status() const;
  QString Problem() const;

  // Shows the form's texts, choices, defaults and what the law takes.
  void Refresh();
  // Applies the fields (as "Apply" does).
  void Apply();

 signals:
  // The controller's settings were handed to the dialog.
  void applied();

 private:
  QLineEdit* AddEdit(ControlForm::Field field);
  QComboBox* AddChoice(ControlForm::Field field, const std::vector<std::string>& items);
  QCheckBox* AddCheck(ControlForm::Field field, const QString& text);

  ControlForm& form_;
  std::array<QWidget*, ControlForm::kFieldCount> widgets_{};
  QPushButton* apply_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* problem_ = nullptr;
};
