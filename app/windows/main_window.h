// MainWindow: the simulator's window as the program shows it. The dialog (control panel above the
// 3-D view) with the status strip below the view, the run control and the instruments (live plots,
// recording, screenshots, the camera that keeps the arm in view) with their keys and buttons, all
// wired together here; the dialog's logic and the view know nothing of them.
//
// Keys (they work wherever the focus is and never change what is typed in the panel's fields): F4
// shows and hides the control lab at the right edge (the controller's fields and the teach panel;
// shown from the start when a controller is chosen at the start), F5 pauses and resumes, F6 runs a
// single tick (pausing first), F7 halves the speed and F8 doubles it, between 1/16 and 1; F9 opens
// and closes the plots, F10 starts and stops a recording, F11 saves a screenshot of the view, F12
// switches an arm from a file between its shapes and its figure; Home fits the arm into the view
// (as does a double-click in it), Shift+Home puts the camera back where it started: all the arm can
// reach, seen from where its motion shows. Ctrl and a left drag in the view pull a link with a
// spring (pull_control.h).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QToolButton>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/control_form.h"
#include "app/recorder.h"
#include "app/run_control.h"
#include "app/teach_pose.h"
#include "app/trace_buffer.h"
#include "app/velmoth_dlg.h"
#include "app/windows/lab_panel.h"
#include "app/windows/plots_window.h"
#include "app/windows/pull_control.h"
#include "app/windows/qt_dialog_window.h"
#include "app/windows/status_strip.h"
#include "visuals/shape_loader.h"
#include "visuals/visual_model.h"

class MainWindow : public QObject {
  Q_OBJECT

 public:
  // How often the status strip is refreshed, in milliseconds.
  static constexpr int kStripRefreshMs = 250;
  // How often the window looks for meshes the loader has read, and how many of its notices the
  // strip shows at most.
  static constexpr int kLoaderCheckMs = 50;
  static constexpr std::size_t kMaxLoaderNotices = 20;
  // While the run is running, the view is drawn again when it has not drawn for this long, also
  // when the ticks come slower; KeepFrames looks every kFrameCheckMs.
  static constexpr int kFrameKeepMs = 50;
  static constexpr int kFrameCheckMs = 10;
  // The substeps per tick the strip offers.
  static constexpr int kSubstepChoices[] = {1, 2, 4, 8, 16, 32, 64};
  // The error-controlled step's tolerances the strip offers.
  static constexpr double kToleranceChoices[] = {1e-4, 1e-6, 1e-8, 1e-9, 1e-10, 1e-12};

  // Asks the user where to record, suggesting a file; an empty answer cancels.
  using FileChooser = std::function<QString(const QString& suggested)>;

  // The window for an arm and its start (by default the built-in arm at rest).
  explicit MainWindow(ArmSetup arm = {});
  ~MainWindow() override;

  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The shapes of the arm's description, drawn in the view once it opens; call before Open.
  void SetShapes(std::shared_ptr<const VisualModel> shapes) { shapes_ = std::move(shapes); }
  // Or the loader that reads them while the window runs: the view draws the arm as its figure at
  // first and each link by its shapes as its meshes arrive, the strip says how many are read
  // ("meshes: 3 of 12") and then what could not be; the camera, unless the user moved it, starts
  // again on what the arm can reach once all are read. Closing the window stops the loader. Call
  // before Open.
  void SetShapeLoader(std::unique_ptr<ShapeLoader> loader) { loader_ = std::move(loader); }
  const ShapeLoader* Loader() const { return loader_.get(); }

  // Initialises the dialog and wires the strip, the keys, the run control and the instruments.
  // Does not show it.
  void Open();
  // Opens unless open, runs the dialog modally until it ends, then closes. Returns the modal
  // loop's result.
  int Exec();
  // Ends the dialog: a recording is written out and closed, no tick runs and no message reaches
  // the dialog's logic afterwards.
  void Close();

  QtDialogWindow& Window() { return window_; }
  CVelmothDlg& Dlg() { return dlg_; }
  RunControl& Run() { return *run_; }
  StatusStrip& Strip() { return *strip_; }
  // The mouse's pull; null without a view.
  PullControl* Pulls() const { return pull_.get(); }
  const TraceBuffer& Traces() const { return traces_; }
  const Recorder& Recording() const { return recorder_; }

  // Frames the view has shown since the window opened.
  uint64_t Frames() const { return run_ != nullptr ? run_->Frames() : 0; }

  // Brings the strip up to date now; it also does so by itself a few times per second.
  void RefreshStrip();

  // The plots window while it is open.
  PlotsWindow* Plots() const { return plots_.data(); }
  void TogglePlots();

  // The control lab; shown, the window grows by its width where the screen has the room, so that
  // the view keeps its size, and hidden gives the width back.
  LabPanel* Lab() const { return lab_.data(); }
  void ShowLab(bool show);
  void ToggleLab() { ShowLab(lab_ != nullptr && lab_->isHidden()); }

  // Starts recording every tick into path; a file that cannot be written is reported in a message
  // box and nothing is recorded. Returns whether the recording started.
  bool StartRecording(const QString& path);
  // The same with the file's name as the file system's bytes, which need not be UTF-8: the file
  // written is the file named.
  bool StartRecording(const std::string& fileName);
  // Stops a recording, or starts one: the first time in a file the user chooses, later in a new
  // file of the default name in the same folder.
  void ToggleRecording();
  // Replaces how the user chooses the first recording's file (a save dialog by default).
  void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

  // Where recordings and screenshots go unless the user chose otherwise: the user's documents.
  QString OutputFolder() const { return folder_; }
  void SetOutputFolder(const QString& folder) { folder_ = folder; }

  // Saves the view's picture as a PNG in the output folder; returns its path, empty on failure
  // (which is reported in a message box).
  QString TakeScreenshot();

  void FitView();
  void ResetView();
  // Switches the view between the arm's shapes and its figure (when it has shapes).
  void ToggleShapes();
  QToolButton* ShapesButton() const { return shapesButton_.data(); }

  // The strip's choices of the step: engine, integrator and substeps per tick.
  QComboBox* EngineChoice() const { return engineChoice_.data(); }
  QComboBox* IntegratorChoice() const { return integratorChoice_.data(); }
  QComboBox* SubstepsChoice() const { return substepsChoice_.data(); }
  QComboBox* ToleranceChoice() const { return toleranceChoice_.data(); }
  // The strip's choices of the arm's physics: its limits, its efforts, and which friction its
  // joints take ("friction: file" or "friction: uniform").
  QCheckBox* LimitsCheck() const { return limitsCheck_.data(); }
  QCheckBox* EffortCheck() const { return effortCheck_.data(); }
  QComboBox* FrictionChoice() const { return frictionChoice_.data(); }

 protected:
  // Lets Home and Shift+Home reach the view from an edit field, which would keep them.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QToolButton* AddAction(QKeyCombination key, const char* label, const char* tip,
                         const std::function<void()>& action);
  QString NewFileName(const char* extension) const;
  // Adds the step's choices to the strip (engine, integrator, substeps, tolerance), showing the
  // dialog's step, and follows them.
  void AddStepChoices();
  void ChooseStep();
  // Adds the physics' choices to the strip, showing the arm's, and follows them; ShowPhysics
  // shows the arm's as they are now (the panel's "Set" may have changed the friction's source),
  // with the friction fields' tool tips saying which coefficients the joints take.
  void AddPhysicsChoices();
  void ShowPhysics();
  // Shows note in the strip until the recording's count takes its place; path is the file it
  // names, whose folder gives way first where the strip is narrow.
  void ShowNote(const QString& note, const QString& path = QString());
  // Says in the strip that a tick reached the step's cap (once), or found the energy balance off
  // (once per balance).
  void NoteAccuracy();
  // Shows an error in a message box. While the window runs, the box opens once the event loop is
  // back at its top, so that no timer waits for the box to close (the strip and the ticks go on);
  // errors still waiting when the window closes are shown then.
  void ShowError(const std::string& message);
  void ShowPendingErrors();
  // Draws the view again when it has not drawn for kFrameKeepMs.
  void KeepFrames();
  // Takes what the loader has read since the last look: the shapes into the view, its notices and
  // progress into the strip.
  void FollowLoader();
  void TakeLoaderState(const ShapeLoader::State& state);
  // The notices with the loader's (and its progress while it reads).
  void ShowNotices(const std::vector<std::string>& loaderNotices, const QString& progress);

  QtDialogWindow window_;
  CVelmothDlg dlg_{window_};
  QPointer<StatusStrip> strip_;
  QPointer<QToolButton> pauseButton_;
  QPointer<QToolButton> recordButton_;
  QPointer<QToolButton> shapesButton_;
  std::shared_ptr<const VisualModel> shapes_;
  std::unique_ptr<ShapeLoader> loader_;
  uint64_t loaderVersion_ = 0;
  bool loaderDone_ = false;
  QTimer loaderTimer_;
  QStringList notices_;  // the arm's and the start's
  QPointer<QComboBox> engineChoice_;
  QPointer<QComboBox> integratorChoice_;
  QPointer<QComboBox> substepsChoice_;
  QPointer<QComboBox> toleranceChoice_;
  QPointer<QCheckBox> limitsCheck_;
  QPointer<QCheckBox> effortCheck_;
  QPointer<QComboBox> frictionChoice_;
  bool capNoted_ = false;      // the strip said that ticks reached the step's cap
  uint64_t balanceNoted_ = 0;  // the arm's offBalanceTicks when the strip last said so
  std::unique_ptr<RunControl> run_;
  std::unique_ptr<PullControl> pull_;
  TraceBuffer traces_;
  Recorder recorder_;
  QPointer<PlotsWindow> plots_;
  QTimer stripTimer_;
  QTimer frameTimer_;
  QElapsedTimer sinceFrame_;  // since the last frame shown
  bool open_ = false;
  bool closing_ = false;
  std::vector<std::string> pendingErrors_;
  QString folder_;
  bool fileChosen_ = false;
  FileChooser chooseFile_;
  QString note_;
  QString notePath_;
  // The control lab's logic and its panel; they go before the dialog they act on.
  std::unique_ptr<ControlForm> form_;
  std::unique_ptr<TeachPose> teach_;
  QPointer<LabPanel> lab_;
  QPointer<QToolButton> labButton_;
};
