#include "app/windows/status_strip.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <algorithm>

StatusStrip::StatusStrip(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 1, 4, 1);
  layout->setSpacing(8);
  buttons_ = new QHBoxLayout;
  buttons_->setSpacing(2);
  layout->addLayout(buttons_);
  choices_ = new QHBoxLayout;
  choices_->setSpacing(2);
  layout->addLayout(choices_);
  status_ = new QLabel(this);
  note_ = new QLabel(this);
  // The note may be a long path; it gives way before the status does.
  note_->setMinimumWidth(0);
  note_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(status_);
  layout->addWidget(note_, 1);
  setFixedHeight(sizeHint().height());
}

void StatusStrip::Place(QWidget* control, QHBoxLayout* row, const QString& tip) {
  control->setToolTip(tip);
  // The strip's controls never take the focus away from the panel's edit fields.
  control->setFocusPolicy(Qt::NoFocus);
  row->addWidget(control);
  setFixedHeight(std::max(height(), sizeHint().height()));
}

QToolButton* StatusStrip::AddButton(const QString& text, const QString& tip) {
  auto* button = new QToolButton(this);
  button->setText(text);
  button->setAutoRaise(true);
  Place(button, buttons_, tip);
  return button;
}

QComboBox* StatusStrip::AddChoice(const QStringList& items, const QString& tip) {
  auto* choice = new QComboBox(this);
  choice->addItems(items);
  Place(choice, choices_, tip);
  return choice;
}

void StatusStrip::SetStatus(const QString& text) {
  status_->setText(text);
}

QString StatusStrip::Status() const {
  return status_->text();
}

void StatusStrip::SetNote(const QString& text) {
  note_->setText(text);
  note_->setToolTip(text);
}

QString StatusStrip::Note() const {
  return note_->text();
}
