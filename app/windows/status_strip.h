// StatusStrip: the strip below the 3-D view. Small tool buttons, the choices of the step (engine,
// integrator, substeps) and of the arm's physics (checks and lists) in a row, or in two where the
// strip is too narrow for one (a choice is never cut); under them the
// notices of how the arm was loaded, each wrapped to the strip's width so that it reads whole (the
// strip grows to hold them, up to kMaxNoticeLines lines of text, and scrolls beyond); and last the
// run's status line (simulated time, real-time factor, frame rate, speed, state), the joints at a
// limit or saturated, and a note for what the instruments are doing (the file being recorded, the
// last screenshot). The window updates the texts a few times per
// second; the buttons and choices only report what the user did.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QResizeEvent;
class QScrollArea;
class QToolButton;

class StatusStrip : public QWidget {
  Q_OBJECT

 public:
  // The notices take at most this many lines of text; beyond, they scroll.
  static constexpr int kMaxNoticeLines = 8;

  explicit StatusStrip(QWidget* parent = nullptr);

  // Adds a tool button after the others; tip is its tool tip (say which key does the same).
  QToolButton* AddButton(const QString& text, const QString& tip);

  // Adds a drop-down list of choices after the buttons; tip is its tool tip.
  QComboBox* AddChoice(const QStringList& items, const QString& tip);
  // Adds a check box after the choices; tip is its tool tip.
  QCheckBox* AddCheck(const QString& text, const QString& tip);

  void SetStatus(const QString& text);
  QString Status() const;
  // The joints at a limit and those whose torques saturate, after the status.
  void SetJoints(const QString& text);
  QString Joints() const;
  // The mouse's pull (the link and the force), after the joints; empty while there is none.
  void SetPull(const QString& text);
  QString Pull() const;
  // Shows text as the note. Where it is wider than the strip and holds path, the path's folder is
  // shortened in its middle, so that the file's name and the rest of the text stay whole.
  void SetNote(const QString& text, const QString& path = QString());
  // The note's whole text, and the text as it is shown.
  QString Note() const;
  QString ShownNote() const;

  // Shows the notices, one after the other, each from a line of its own; none hides them. source
  // names the file they are about, in their tool tip.
  void SetNotices(const QStringList& notices, const QString& source = QString());
  QStringList Notices() const { return notices_; }
  QString NoticeSource() const { return noticeSource_; }
  // The label that shows them, and the area that holds it.
  const QLabel* NoticeLabel() const { return noticeLabel_; }
  const QScrollArea* NoticeArea() const { return noticeArea_; }

 protected:
  // Fits the note to its new width.
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Fits the notices to a new width.
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Adds control to the row with its tool tip, never taking the focus.
  void Place(QWidget* control, QHBoxLayout* row, const QString& tip);
  // Keeps the strip as high as its rows need, the controls arranged in its width.
  void FitHeight();
  // Moves the choices to the row they fit in; true when they moved.
  bool ArrangeControls();
  // Shows the note in the width it has.
  void ShowNote();

  QHBoxLayout* controls_;
  QHBoxLayout* wrapped_;
  QHBoxLayout* buttons_;
  QHBoxLayout* choices_;
  QLabel* status_;
  QLabel* joints_;
  QLabel* pull_;
  QLabel* note_;
  QLabel* noticeLabel_;
  QScrollArea* noticeArea_;
  QStringList notices_;
  QString noticeSource_;
  QString noteText_;
  QString notePath_;
};
