// StatusStrip: the strip below the 3-D view. Small tool buttons and the choices of the step
// (engine, integrator, substeps) in a row; under them the run's status line (simulated time,
// real-time factor, frame rate, speed, state) and a note for what the instruments are doing (the
// file being recorded, the last screenshot) or how the arm was loaded. The window updates the
// texts a few times per second; the buttons and choices only report what the user did.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QToolButton;

class StatusStrip : public QWidget {
  Q_OBJECT

 public:
  explicit StatusStrip(QWidget* parent = nullptr);

  // Adds a tool button after the others; tip is its tool tip (say which key does the same).
  QToolButton* AddButton(const QString& text, const QString& tip);

  // Adds a drop-down list of choices after the buttons; tip is its tool tip.
  QComboBox* AddChoice(const QStringList& items, const QString& tip);

  void SetStatus(const QString& text);
  QString Status() const;
  // Shows text as the note. Where it is wider than the strip and holds path, the path's folder is
  // shortened in its middle, so that the file's name and the rest of the text stay whole.
  void SetNote(const QString& text, const QString& path = QString());
  // The note's whole text, and the text as it is shown.
  QString Note() const;
  QString ShownNote() const;

 protected:
  // Fits the note to its new width.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Adds control to the row with its tool tip, never taking the focus.
  void Place(QWidget* control, QHBoxLayout* row, const QString& tip);
  // Keeps the strip as high as its rows need.
  void FitHeight();
  // Shows the note in the width it has.
  void ShowNote();

  QHBoxLayout* buttons_;
  QHBoxLayout* choices_;
  QLabel* status_;
  QLabel* note_;
  QString noteText_;
  QString notePath_;
};
