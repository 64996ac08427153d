#include "app/windows/status_strip.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

StatusStrip::StatusStrip(QWidget* parent) : QWidget(parent) {
  // Two rows: the buttons and the step's choices (the choices in a row of their own under the
  // buttons where the strip is too narrow for both); under them the status line and the note,
  // which so have the strip's whole width (a notice of the arm's file can be long).
  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(4, 1, 4, 1);
  rows->setSpacing(0);
  controls_ = new QHBoxLayout;
  controls_->setSpacing(8);
  buttons_ = new QHBoxLayout;
  buttons_->setSpacing(2);
  controls_->addLayout(buttons_);
  choices_ = new QHBoxLayout;
  choices_->setSpacing(2);
  controls_->addLayout(choices_);
  controls_->addStretch(1);
  rows->addLayout(controls_);
  wrapped_ = new QHBoxLayout;
  wrapped_->addStretch(1);
  rows->addLayout(wrapped_);
  noticeLabel_ = new QLabel;
  noticeLabel_->setWordWrap(true);
  noticeLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  noticeLabel_->setTextFormat(Qt::PlainText);
  noticeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  noticeArea_ = new QScrollArea(this);
  noticeArea_->setWidget(noticeLabel_);
  noticeArea_->setWidgetResizable(true);
  noticeArea_->setFrameShape(QFrame::NoFrame);
  noticeArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  noticeArea_->setFocusPolicy(Qt::NoFocus);
  noticeArea_->setBackgroundRole(QPalette::Window);
  noticeArea_->hide();
  rows->addWidget(noticeArea_);
  auto* texts = new QHBoxLayout;
  texts->setSpacing(8);
  status_ = new QLabel(this);
  joints_ = new QLabel(this);
  pull_ = new QLabel(this);
  note_ = new QLabel(this);
  // The note may be a long path; it gives way before the status does.
  note_->setMinimumWidth(0);
  note_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  note_->installEventFilter(this);
  // A line of text high even while empty, so that the strip's height does not change with them.
  for (QLabel* label : {status_, joints_, pull_, note_}) {
    label->setMinimumHeight(label->fontMetrics().height());
  }
  texts->addWidget(status_);
  texts->addWidget(joints_);
  texts->addWidget(pull_);
  texts->addWidget(note_, 1);
  rows->addLayout(texts);
  FitHeight();
}

// The choices beside the buttons where both fit the strip's width, else in the row under them.
bool StatusStrip::ArrangeControls() {
  const QMargins margins = layout()->contentsMargins();
  const int room = width() - margins.left() - margins.right();
  const int needed =
      buttons_->sizeHint().width() + controls_->spacing() + choices_->sizeHint().width();
  QBoxLayout* row = needed <= room ? controls_ : wrapped_;
  if (choices_->parent() == row) {
    return false;
  }
  static_cast<QBoxLayout*>(choices_->parent())->removeItem(choices_);
  row->insertLayout(row == controls_ ? 1 : 0, choices_);
  return true;
}

// A control that changed its size (a button's new text) asks for a new layout: the choices may
// have to change rows.
bool StatusStrip::event(QEvent* event) {
  if (event->type() == QEvent::LayoutRequest && ArrangeControls()) {
    FitHeight();
  }
  return QWidget::event(event);
}

// The notices as wrapped at the strip's width, then the rows as high as they need.
void StatusStrip::FitHeight() {
  ArrangeControls();
  if (!notices_.isEmpty()) {
    const QMargins margins = layout()->contentsMargins();
    const int width = std::max(1, this->width() - margins.left() - margins.right());
    const int cap = kMaxNoticeLines * noticeLabel_->fontMetrics().lineSpacing();
    int height = noticeLabel_->heightForWidth(width);
    if (height > cap) {  // a scroll bar takes some of the width
      height = cap;
    }
    noticeArea_->setFixedHeight(height);
  }
  layout()->activate();
  setFixedHeight(layout()->sizeHint().height());
}

void StatusStrip::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (event->oldSize().width() != event->size().width()) {
    FitHeight();
  }
}

void StatusStrip::SetNotices(const QStringList& notices, const QString& source) {
  notices_ = notices;
  noticeSource_ = source;
  // A line may break after a slash too, so that a long path wraps instead of being cut off.
  QString shown = notices.join(QLatin1Char('\n'));
  shown.replace(QLatin1Char('/'), QStringLiteral("/\u200b"));
  noticeLabel_->setText(shown);
  noticeLabel_->setToolTip((source.isEmpty() ? QString() : source + QStringLiteral(":\n")) +
                           notices.join(QLatin1Char('\n')));
  noticeArea_->setVisible(!notices.isEmpty());
  FitHeight();
}

void StatusStrip::Place(QWidget* control, QHBoxLayout* row, const QString& tip) {
  control->setToolTip(tip);
  // The strip's controls never take the focus away from the panel's edit fields.
  control->setFocusPolicy(Qt::NoFocus);
  row->addWidget(control);
  FitHeight();
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
  // As wide as its longest choice, however narrow the strip: a choice is never cut.
  choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  choice->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  Place(choice, choices_, tip);
  return choice;
}

QCheckBox* StatusStrip::AddCheck(const QString& text, const QString& tip) {
  auto* check = new QCheckBox(text, this);
  check->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  Place(check, choices_, tip);
  return check;
}

void StatusStrip::SetJoints(const QString& text) {
  joints_->setText(text);
}

QString StatusStrip::Joints() const {
  return joints_->text();
}

void StatusStrip::SetPull(const QString& text) {
  pull_->setText(text);
}

QString StatusStrip::Pull() const {
  return pull_->text();
}

void StatusStrip::SetStatus(const QString& text) {
  status_->setText(text);
}

QString StatusStrip::Status() const {
  return status_->text();
}

void StatusStrip::SetNote(const QString& text, const QString& path) {
  noteText_ = text;
  notePath_ = path;
  note_->setToolTip(text);
  ShowNote();
}

QString StatusStrip::Note() const {
  return noteText_;
}

QString StatusStrip::ShownNote() const {
  return note_->text();
}

bool StatusStrip::eventFilter(QObject* watched, QEvent* event) {
  if (watched == note_ && event->type() == QEvent::Resize) {
    ShowNote();
  }
  return QWidget::eventFilter(watched, event);
}

void StatusStrip::ShowNote() {
  const QFontMetrics metrics = note_->fontMetrics();
  const int room = note_->contentsRect().width();
  const qsizetype at = notePath_.isEmpty() ? -1 : noteText_.indexOf(notePath_);
  const qsizetype slash = notePath_.lastIndexOf(QLatin1Char('/'));
  if (metrics.horizontalAdvance(noteText_) <= room || at < 0 || slash <= 0) {
    note_->setText(noteText_);
    return;
  }
  // The text around the folder, and the folder in what room that leaves.
  const QString before = noteText_.left(at);
  const QString after = noteText_.mid(at + slash);
  const int folderRoom = std::max(0, room - metrics.horizontalAdvance(before + after));
  QString folder = metrics.elidedText(notePath_.left(slash), Qt::ElideMiddle, folderRoom);
  if (folder.isEmpty()) {
    folder = QStringLiteral("\u2026");
  }
  note_->setText(before + folder + after);
}
