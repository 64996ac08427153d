#include "app/windows/main_window.h"

#include <QBuffer>
#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "app/dialog_template.h"
#include "app/whole_file.h"
#include "robot/robot.h"
#include "simulation/joint_limits.h"
#include "simulation/step_options.h"
#include "simulation/step_report.h"
#include "simulation/text_fields.h"
#include "view/ogl_wnd_custom.h"

namespace {

// "tol 1e-09": a tolerance as the strip lists it, a text that reads back as the same number.
QString ToleranceItem(double tolerance) {
  const QString brief = QString::asprintf("%.0e", tolerance);
  return QStringLiteral("tol ") +
         (brief.toDouble() == tolerance ? brief : QString::asprintf("%.17g", tolerance));
}

// What a friction field's tool tip says: which joints take the panel's coefficient (what, "viscous
// friction coefficient"), and with the file's friction which take their own (member: the file's
// coefficient of a link).
QString FrictionTip(const Robot& robot, const char* what, double Link::*member) {
  const QString panel = QString::fromLatin1(what);
  if (robot.frictionSource == FrictionSource::kUniform || !HasFileFriction(robot)) {
    return QStringLiteral("The %1 of every joint").arg(panel);
  }
  QStringList own;
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    const Link& link = *robot.links[i];
    if (link.fileFriction) {
      own << QStringLiteral("%1 %2").arg(QString::fromStdString(JointName(robot, i)),
                                         QString::fromStdString(NumberText(link.*member)));
    }
  }
  return QStringLiteral(
             "Friction from the file: the joints with their own in the file take theirs (%1); "
             "the others this %2. \"Set\" with a value typed makes every joint take it.")
      .arg(own.join(QStringLiteral(", ")), panel);
}

}  // namespace

MainWindow::MainWindow(ArmSetup arm) : window_(kMainDialogTemplate) {
  // The arm's notices stay in the strip, each read whole, without the file's name that each starts
  // with: the strip names the file once, in its tool tip.
  const QString source = QString::fromStdString(arm.noticeSource);
  for (const std::string& notice : arm.notices) {
    QString text = QString::fromStdString(notice);
    if (!source.isEmpty() && text.startsWith(source + QStringLiteral(": "))) {
      text.remove(0, source.size() + 2);
    }
    notices_ << text;
  }
  dlg_.SetArmSetup(std::move(arm));
  dlg_.SetTicksOnThread(true);
  strip_ = new StatusStrip;
  strip_->SetNotices(notices_, source);
  window_.SetBottomBar(strip_);
  folder_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  recorder_.SetErrorHandler([this](const std::string& message) {
    ShowNote(QString());
    if (recordButton_ != nullptr) {
      recordButton_->setChecked(false);
    }
    ShowError(message);
  });
}

MainWindow::~MainWindow() {
  Close();
  delete plots_.data();
}

void MainWindow::Open() {
  window_.InitDialog(dlg_);
  open_ = true;
  // An arm with a name of its own (from its description file) names the window.
  if (!dlg_.m_pRobot->name.empty()) {
    window_.setWindowTitle(window_.windowTitle() + QStringLiteral(": ") +
                           QString::fromStdString(dlg_.m_pRobot->name));
  }
  // The ticks keep the pace of the dialog's own pacer, on a thread of its own.
  TickPacer& pacer = dlg_.Pacer();
  run_ = std::make_unique<RunControl>(
      pacer.Clock(), &TickPacer::Now, [&pacer] { pacer.Wake(); }, &pacer.Guard());
  // A pause stops the arm where the user sees it: the ticks that fell due but did not start are
  // dropped.
  run_->SetPauseHandler([this] { dlg_.SettleTicks(); });
  dlg_.AddTickListener(run_.get());
  dlg_.AddTickListener(&traces_);
  dlg_.AddTickListener(&recorder_);

  const auto run = [this](void (RunControl::*action)()) {
    return [this, action] { ((*run_).*action)(); };
  };
  pauseButton_ =
      AddAction(Qt::Key_F5, "Pause", "Pause or resume (F5)", run(&RunControl::TogglePause));
  AddAction(Qt::Key_F6, "Step", "One tick, pausing first (F6)", run(&RunControl::Step));
  AddAction(Qt::Key_F7, "Slower", "Half the speed, down to 1/16 (F7)", run(&RunControl::Slower));
  AddAction(Qt::Key_F8, "Faster", "Twice the speed, up to real time (F8)",
            run(&RunControl::Faster));
  AddAction(Qt::Key_F9, "Plots", "Open or close the live plots (F9)", [this] { TogglePlots(); });
  recordButton_ = AddAction(Qt::Key_F10, "Record", "Record every tick to a CSV file (F10)",
                            [this] { ToggleRecording(); });
  recordButton_->setCheckable(true);
  AddAction(Qt::Key_F11, "Screenshot", "Save the view as a PNG picture (F11)",
            [this] { TakeScreenshot(); });
  AddAction(Qt::Key_Home, "Fit", "Fit the arm as it is now into the view (Home, or double-click)",
            [this] { FitView(); });
  AddAction(Qt::SHIFT | Qt::Key_Home, "Reset view", "Put the camera back (Shift+Home)",
            [this] { ResetView(); });
  shapesButton_ = AddAction(Qt::Key_F12, "Shapes",
                            "Draw the links as the file's shapes, or as joints and bodies (F12)",
                            [this] { ToggleShapes(); });
  shapesButton_->setCheckable(true);
  shapesButton_->setEnabled(false);
  // The control lab at the right edge, shown from the start when the start chose a controller.
  form_ = std::make_unique<ControlForm>(dlg_);
  teach_ = std::make_unique<TeachPose>(
      dlg_, *form_, [this] { return run_ != nullptr && run_->State() == RunState::kRunning; });
  dlg_.AddTickListener(teach_.get());
  lab_ = new LabPanel(*form_, *teach_);
  lab_->setVisible(false);
  window_.SetSideBar(lab_);
  labButton_ = AddAction(Qt::Key_F4, "Lab",
                         "Show or hide the control lab: the controllers, their targets and "
                         "trajectories, and the teach panel (F4)",
                         [this] { ToggleLab(); });
  labButton_->setCheckable(true);
  ShowLab(dlg_.GetController().kind != ControllerKind::kTorque);
  for (QLineEdit* edit : window_.findChildren<QLineEdit*>()) {
    edit->installEventFilter(this);
  }

  AddStepChoices();
  AddPhysicsChoices();
  // A start outside the joint limits, said with the arm's notices.
  if (!dlg_.StartNotices().empty()) {
    for (const std::string& notice : dlg_.StartNotices()) {
      notices_ << QString::fromStdString(notice);
    }
    strip_->SetNotices(notices_, strip_->NoticeSource());
  }
  // The meshes being read: the view starts with what is read now (the figure, for the links that
  // wait for a mesh).
  if (loader_ != nullptr) {
    loaderVersion_ = loader_->Version();
    TakeLoaderState(loader_->Latest());
    if (!loaderDone_) {
      connect(&loaderTimer_, &QTimer::timeout, this, &MainWindow::FollowLoader);
      loaderTimer_.start(kLoaderCheckMs);
    }
  }

  if (COglWndCustom* view = window_.View()) {
    if (shapes_ != nullptr && !shapes_->Empty()) {
      view->SetShapes(shapes_);
      shapesButton_->setEnabled(true);
      shapesButton_->setChecked(true);
    }
    // Every arm starts with all it can reach in view, seen from where its motion shows.
    view->StartFramingReach();
    connect(view, &COglWnd::frameSwapped, this, [this] {
      sinceFrame_.start();
      run_->CountFrame();
    });
    connect(view, &COglWnd::doubleClicked, this, [this] { FitView(); });
    pull_ = std::make_unique<PullControl>(dlg_, *view, *strip_);
    dlg_.AddTickListener(pull_.get());
  }
  connect(&stripTimer_, &QTimer::timeout, this, &MainWindow::RefreshStrip);
  stripTimer_.start(kStripRefreshMs);
  connect(&frameTimer_, &QTimer::timeout, this, &MainWindow::KeepFrames);
  sinceFrame_.start();
  frameTimer_.start(kFrameCheckMs);
  RefreshStrip();
}

// A strip button and a key for one action; the key works in every window of the program, except
// where the focused control uses it itself (Home in an edit field).
QToolButton* MainWindow::AddAction(QKeyCombination key, const char* label, const char* tip,
                                   const std::function<void()>& action) {
  QToolButton* button = strip_->AddButton(QString::fromLatin1(label), QString::fromLatin1(tip));
  const auto act = [this, action] {
    if (run_ != nullptr) {
      action();
      RefreshStrip();
    }
  };
  connect(button, &QToolButton::clicked, this, act);
  auto* shortcut = new QShortcut(QKeySequence(key), &window_);
  shortcut->setContext(Qt::ApplicationShortcut);
  connect(shortcut, &QShortcut::activated, this, act);
  return button;
}

void MainWindow::AddStepChoices() {
  const StepOptions step = dlg_.GetStepOptions();
  QStringList engines, integrators, substeps;
  for (EngineKind e : kEngineKinds) {
    engines << QString::fromLatin1(EngineName(e));
  }
  for (IntegratorKind i : kIntegratorKinds) {
    integrators << QString::fromLatin1(IntegratorName(i));
  }
  for (int k : kSubstepChoices) {
    substeps << QStringLiteral("x %1").arg(k);
  }
  engineChoice_ = strip_->AddChoice(
      engines, QStringLiteral("The engine: the closed form, or the recursive one (O(n))"));
  integratorChoice_ = strip_->AddChoice(
      integrators,
      QStringLiteral("The integrator: semi-implicit Euler, the implicit step, fourth-order "
                     "Runge-Kutta, or Dormand-Prince 5(4) with error control"));
  substepsChoice_ = strip_->AddChoice(
      substeps, QStringLiteral("Substeps per 0.01 s tick (dopri5: the fewest steps per tick)"));
  QStringList tolerances;
  for (double t : kToleranceChoices) {
    tolerances << ToleranceItem(t);
  }
  toleranceChoice_ = strip_->AddChoice(
      tolerances, QStringLiteral("dopri5's tolerance: the local error it allows per step, "
                                 "absolute and relative, of every joint position and velocity"));
  engineChoice_->setCurrentText(QString::fromLatin1(EngineName(step.engine)));
  integratorChoice_->setCurrentText(QString::fromLatin1(IntegratorName(step.integrator)));
  const QString substepsNow = QStringLiteral("x %1").arg(step.substeps);
  if (substepsChoice_->findText(substepsNow) < 0) {
    substepsChoice_->addItem(substepsNow);
  }
  substepsChoice_->setCurrentText(substepsNow);
  const QString toleranceNow = ToleranceItem(step.tolerance);
  if (toleranceChoice_->findText(toleranceNow) < 0) {
    toleranceChoice_->addItem(toleranceNow);
  }
  toleranceChoice_->setCurrentText(toleranceNow);
  toleranceChoice_->setEnabled(step.integrator == IntegratorKind::kDopri5);
  for (QComboBox* choice : {engineChoice_.data(), integratorChoice_.data(), substepsChoice_.data(),
                            toleranceChoice_.data()}) {
    connect(choice, &QComboBox::currentIndexChanged, this, [this] { ChooseStep(); });
  }
}

void MainWindow::ChooseStep() {
  StepOptions step;
  step.engine =
      EngineNamed(engineChoice_->currentText().toStdString()).value_or(EngineKind::kClosedForm);
  step.integrator = IntegratorNamed(integratorChoice_->currentText().toStdString())
                        .value_or(IntegratorKind::kEuler);
  step.substeps = substepsChoice_->currentText().mid(2).toInt();
  step.tolerance = toleranceChoice_->currentText().mid(4).toDouble();
  toleranceChoice_->setEnabled(step.integrator == IntegratorKind::kDopri5);
  dlg_.SetStepOptions(step);
  RefreshStrip();
}

void MainWindow::AddPhysicsChoices() {
  const Robot& robot = *dlg_.m_pRobot;
  limitsCheck_ = strip_->AddCheck(
      QStringLiteral("Limits"),
      QStringLiteral("The joints stop at the limits of the arm's file (an inelastic impact) and "
                     "rest there while pushed into them"));
  effortCheck_ = strip_->AddCheck(
      QStringLiteral("Efforts"),
      QStringLiteral("Each torque saturates at its joint's effort in the arm's file (the joints "
                     "that saturate are named after the status)"));
  frictionChoice_ = strip_->AddChoice(
      {QStringLiteral("friction: file"), QStringLiteral("friction: uniform")},
      QStringLiteral("Which friction the joints take: each joint with damping and friction in the "
                     "arm's file its own and the others the panel's, or every joint the panel's"));
  bool efforts = false;
  for (const auto& link : robot.links) {
    efforts = efforts || link->effort < INFINITY;
  }
  limitsCheck_->setEnabled(HasJointLimits(robot));
  effortCheck_->setEnabled(efforts);
  frictionChoice_->setEnabled(HasFileFriction(robot));
  ShowPhysics();
  connect(limitsCheck_, &QCheckBox::toggled, this, [this](bool on) {
    dlg_.SetLimits(on);
    RefreshStrip();
  });
  connect(effortCheck_, &QCheckBox::toggled, this, [this](bool on) {
    dlg_.SetEffortLimits(on);
    RefreshStrip();
  });
  connect(frictionChoice_, &QComboBox::currentIndexChanged, this, [this](int index) {
    dlg_.SetFrictionSource(index == 0 ? FrictionSource::kFile : FrictionSource::kUniform);
    RefreshStrip();
  });
}

void MainWindow::ShowPhysics() {
  const Robot* robot = dlg_.m_pRobot;
  if (robot == nullptr || limitsCheck_ == nullptr) {
    return;
  }
  for (QWidget* control :
       {static_cast<QWidget*>(limitsCheck_.data()), static_cast<QWidget*>(effortCheck_.data()),
        static_cast<QWidget*>(frictionChoice_.data())}) {
    control->blockSignals(true);
  }
  limitsCheck_->setChecked(robot->limits);
  effortCheck_->setChecked(robot->effortLimits);
  frictionChoice_->setCurrentIndex(robot->frictionSource == FrictionSource::kFile ? 0 : 1);
  for (QWidget* control :
       {static_cast<QWidget*>(limitsCheck_.data()), static_cast<QWidget*>(effortCheck_.data()),
        static_cast<QWidget*>(frictionChoice_.data())}) {
    control->blockSignals(false);
  }
  if (QWidget* field = window_.Control(kIdViscousFriction)) {
    field->setToolTip(FrictionTip(*robot, "viscous friction coefficient", &Link::fileViscous));
  }
  if (QWidget* field = window_.Control(kIdCoulombFriction)) {
    field->setToolTip(FrictionTip(*robot, "Coulomb friction level", &Link::fileCoulomb));
  }
  strip_->SetJoints(QString::fromStdString(LimitStatusText(*robot, dlg_.Saturated())));
}

int MainWindow::Exec() {
  if (!open_) {
    Open();
  }
  const int result = window_.exec();
  Close();
  return result;
}

void MainWindow::Close() {
  closing_ = true;
  // The meshes still being read are given up at once.
  loaderTimer_.stop();
  if (loader_ != nullptr) {
    loader_->Stop();
  }
  stripTimer_.stop();
  frameTimer_.stop();
  recorder_.Stop();
  ShowPendingErrors();
  if (lab_ != nullptr) {
    lab_->Stop();
  }
  if (open_) {
    open_ = false;
    if (teach_ != nullptr) {
      dlg_.RemoveTickListener(teach_.get());
    }
    if (pull_ != nullptr) {
      dlg_.RemoveTickListener(pull_.get());
      pull_.reset();
    }
    window_.DestroyDialog();
    dlg_.RemoveTickListener(&recorder_);
    dlg_.RemoveTickListener(&traces_);
    dlg_.RemoveTickListener(run_.get());
  }
  if (plots_ != nullptr) {
    plots_->close();
  }
}

void MainWindow::RefreshStrip() {
  if (run_ == nullptr || strip_ == nullptr) {
    return;
  }
  const int64_t now = QtDialogWindow::Now();
  recorder_.MaybeFlush(now);
  run_->SetTickCost(dlg_.TickCostNs());
  run_->SampleRates();
  strip_->SetStatus(QString::fromStdString(run_->StatusText(
      run_->RealTimeFactor(), run_->FramesPerSecond(), window_.View() != nullptr)));
  if (pauseButton_ != nullptr) {
    pauseButton_->setText(run_->State() == RunState::kRunning ? QStringLiteral("Pause")
                                                              : QStringLiteral("Resume"));
  }
  ShowPhysics();
  // What the sliders do follows the run at once (a pause makes them pose the arm).
  if (lab_ != nullptr && lab_->isVisible()) {
    lab_->Refresh();
  }
  NoteAccuracy();
  if (recorder_.Recording()) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(recorder_.Path()));
    strip_->SetNote(QStringLiteral("Recording %1: %2 ticks").arg(path).arg(recorder_.Rows()), path);
  } else {
    strip_->SetNote(note_, notePath_);
  }
}

void MainWindow::NoteAccuracy() {
  if (dlg_.m_pRobot == nullptr) {
    return;
  }
  // Once a tick reached the step's cap, the strip says so (once).
  if (!capNoted_ && dlg_.m_pRobot->cappedTicks > 0) {
    capNoted_ = true;
    ShowNote(QStringLiteral(
        "A tick reached the step's cap of internal steps and ran at the accuracy the cap allows, "
        "coarser than the tolerance: a motion this fast needs a coarser tolerance or more time"));
  }
  // And so once for each balance that a tick found off.
  const uint64_t off = dlg_.m_pRobot->offBalanceTicks;
  if (off != balanceNoted_) {
    balanceNoted_ = off;
    if (off > 0) {
      ShowNote(QStringLiteral("The energy balance went off by more than a thousandth of the "
                              "motion's energy: ") +
               QString::fromStdString(BalanceCause(dlg_.GetStepOptions())));
    }
  }
}

void MainWindow::ShowNotices(const std::vector<std::string>& loaderNotices,
                             const QString& progress) {
  QStringList notices = notices_;
  // Thousands of notices (a description of thousands of missing meshes) would take the strip
  // seconds to lay out: the first ones are shown, and all go to standard error.
  const std::size_t shown = std::min(loaderNotices.size(), kMaxLoaderNotices);
  for (std::size_t i = 0; i < shown; ++i) {
    notices << QString::fromStdString(loaderNotices[i]);
  }
  if (shown < loaderNotices.size()) {
    notices << QStringLiteral(
                   "... and %1 more notices of the meshes, on standard error once all "
                   "are read")
                   .arg(loaderNotices.size() - shown);
  }
  if (!progress.isEmpty()) {
    notices << progress;
  }
  if (strip_ != nullptr && notices != strip_->Notices()) {
    strip_->SetNotices(notices, strip_->NoticeSource());
  }
}

void MainWindow::FollowLoader() {
  if (loader_ == nullptr || loaderDone_ || closing_ || loader_->Version() == loaderVersion_) {
    return;
  }
  loaderVersion_ = loader_->Version();
  const ShapeLoader::State state = loader_->Latest();
  COglWndCustom* view = window_.View();
  // Where the user has not moved the camera, it starts again from above the arm as drawn at last.
  const bool atStart =
      view != nullptr && view->Eye().x == view->StartEye().x &&
      view->Eye().y == view->StartEye().y && view->Eye().z == view->StartEye().z &&
      view->Center().x == view->StartCenter().x && view->Center().y == view->StartCenter().y &&
      view->Center().z == view->StartCenter().z && view->Spin() == 0.0 && view->Tilt() == 0.0;
  TakeLoaderState(state);
  if (view != nullptr && shapes_ != nullptr && !shapes_->Empty()) {
    const bool had = view->HasShapes();
    view->UpdateShapes(shapes_);
    if (!had) {
      shapesButton_->setEnabled(true);
      shapesButton_->setChecked(view->ShowShapes());
    }
    if (loaderDone_ && atStart && !dlg_.m_pRobot->frames.empty()) {
      view->StartFramingReach();
    }
  }
  if (loaderDone_) {
    loaderTimer_.stop();
  }
}

void MainWindow::TakeLoaderState(const ShapeLoader::State& state) {
  loaderDone_ = state.finished;
  shapes_ = state.model;
  ShowNotices(state.notices,
              state.finished ? QString()
                             : QString::fromStdString(MeshProgressText(state.read, state.total)));
  if (loaderDone_) {
    // What could not be drawn is said once on standard error too, as the loader's notices are.
    for (const std::string& notice : state.notices) {
      std::fprintf(stderr, "velmoth: %s\n", notice.c_str());
    }
    std::fflush(stderr);
  }
}

void MainWindow::KeepFrames() {
  COglWndCustom* view = window_.View();
  if (view != nullptr && sinceFrame_.elapsed() >= kFrameKeepMs && run_ != nullptr &&
      run_->State() == RunState::kRunning && window_.isVisible()) {
    view->update();
  }
}

void MainWindow::ShowError(const std::string& message) {
  pendingErrors_.push_back(message);
  if (!open_ || closing_) {
    ShowPendingErrors();
  } else if (pendingErrors_.size() == 1) {
    QMetaObject::invokeMethod(this, &MainWindow::ShowPendingErrors, Qt::QueuedConnection);
  }
}

void MainWindow::ShowPendingErrors() {
  while (!pendingErrors_.empty()) {
    const std::string message = pendingErrors_.front();
    pendingErrors_.erase(pendingErrors_.begin());
    window_.MessageBox(message.c_str());
  }
}

void MainWindow::ShowNote(const QString& note, const QString& path) {
  note_ = note;
  notePath_ = path;
  if (strip_ != nullptr) {
    strip_->SetNote(note, path);
  }
}

void MainWindow::TogglePlots() {
  if (plots_ != nullptr) {
    plots_->close();
    return;
  }
  QStringList names;
  for (std::size_t j = 0; dlg_.m_pRobot != nullptr && j < dlg_.m_pRobot->links.size(); ++j) {
    names << QString::fromStdString(JointName(*dlg_.m_pRobot, j));
  }
  plots_ = new PlotsWindow(traces_, names, &window_);
  std::vector<double> efforts;
  for (std::size_t j = 0; dlg_.m_pRobot != nullptr && j < dlg_.m_pRobot->links.size(); ++j) {
    efforts.push_back(dlg_.m_pRobot->links[j]->effort);
  }
  plots_->SetEfforts(std::move(efforts));
  plots_->show();
}

void MainWindow::ShowLab(bool show) {
  if (lab_ == nullptr || lab_->isHidden() != show) {
    return;
  }
  const int side = lab_->width();
  lab_->setVisible(show);
  if (show) {
    const QScreen* screen = window_.screen();
    const int frame = window_.frameGeometry().width() - window_.width();
    const int room =
        screen != nullptr ? screen->availableGeometry().width() - frame : window_.width() + side;
    window_.resize(std::max(window_.minimumWidth(), std::min(window_.width() + side, room)),
                   window_.height());
  } else {
    window_.resize(std::max(window_.minimumWidth(), window_.width() - side), window_.height());
  }
  if (labButton_ != nullptr) {
    labButton_->setChecked(show);
  }
}

QString MainWindow::NewFileName(const char* extension) const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const QString name = QString::fromStdString(TimestampedName(local, extension));
  QString path = QDir(folder_).filePath(name);
  // A second file within the same second gets a number.
  for (int i = 2; QFileInfo::exists(path); ++i) {
    path = QDir(folder_).filePath(QFileInfo(name).completeBaseName() +
                                  QStringLiteral("-%1").arg(i) + extension);
  }
  return path;
}

bool MainWindow::StartRecording(const QString& path) {
  return StartRecording(QFile::encodeName(path).toStdString());
}

bool MainWindow::StartRecording(const std::string& fileName) {
  std::string error;
  // The recording's replay starts the step afresh; so does the window's, from the next tick on,
  // and the recording with it.
  const uint64_t first = dlg_.RestartStep();
  if (!recorder_.Start(fileName, *dlg_.m_pRobot, dlg_.SimArm(), first, QtDialogWindow::Now(),
                       error)) {
    window_.MessageBox(error.c_str());
    return false;
  }
  folder_ = QFileInfo(QFile::decodeName(QByteArray::fromStdString(fileName))).absolutePath();
  fileChosen_ = true;
  if (recordButton_ != nullptr) {
    recordButton_->setChecked(true);
  }
  RefreshStrip();
  return true;
}

void MainWindow::ToggleRecording() {
  NoteAccuracy();
  if (recorder_.Recording()) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(recorder_.Path()));
    const uint64_t rows = recorder_.Rows();
    // A final write that failed has said so in its message; the strip then claims nothing.
    if (recorder_.Stop()) {
      ShowNote(QStringLiteral("Recorded %1 ticks to %2").arg(rows).arg(path), path);
    }
    recordButton_->setChecked(false);
    return;
  }
  QDir().mkpath(folder_);
  QString path = NewFileName(".csv");
  if (!fileChosen_) {
    path = chooseFile_ ? chooseFile_(path)
                       : QFileDialog::getSaveFileName(&window_, QStringLiteral("Record to"), path,
                                                      QStringLiteral("CSV files (*.csv)"));
  }
  if (path.isEmpty() || !StartRecording(path)) {
    recordButton_->setChecked(false);
  }
}

QString MainWindow::TakeScreenshot() {
  COglWndCustom* view = window_.View();
  const QImage picture = view != nullptr ? view->GrabFrame() : QImage();
  if (picture.isNull()) {
    window_.MessageBox("There is no picture of the arm to save: the 3-D view is not available.");
    return QString();
  }
  // A folder that cannot be made is named with its own reason (the file's would be "no such file").
  std::error_code unmade;
  std::filesystem::create_directories(QFile::encodeName(folder_).toStdString(), unmade);
  if (unmade) {
    window_.MessageBox(
        QStringLiteral("Cannot save the screenshot: the folder %1 cannot be made: %2.")
            .arg(folder_, QString::fromLocal8Bit(unmade.message().c_str()))
            .toLocal8Bit());
    return QString();
  }
  const QString path = NewFileName(".png");
  // The picture is encoded in memory and written whole, or not at all (see whole_file.h).
  QByteArray encoded;
  QBuffer buffer(&encoded);
  const bool pictured = buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG");
  const int failure =
      pictured ? WriteWholeFile(QFile::encodeName(path).toStdString(), encoded.toStdString()) : 0;
  if (!pictured || failure != 0) {
    const QString reason = pictured ? QString::fromLocal8Bit(std::strerror(failure))
                                    : QStringLiteral("the picture could not be encoded");
    window_.MessageBox(
        QStringLiteral("Cannot save the screenshot to %1: %2.").arg(path, reason).toLocal8Bit());
    return QString();
  }
  ShowNote(QStringLiteral("Screenshot: %1").arg(path), path);
  return path;
}

void MainWindow::FitView() {
  if (COglWndCustom* view = window_.View()) {
    view->FitArm();
  }
}

void MainWindow::ResetView() {
  if (COglWndCustom* view = window_.View()) {
    view->ResetCamera();
  }
}

void MainWindow::ToggleShapes() {
  COglWndCustom* view = window_.View();
  if (view == nullptr || !view->HasShapes()) {
    return;
  }
  view->SetShowShapes(!view->ShowShapes());
  shapesButton_->setChecked(view->ShowShapes());
}

// An edit field claims Home for itself before any shortcut sees it; refusing the claim lets the
// view's keys act wherever the focus is.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Home &&
        (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}
