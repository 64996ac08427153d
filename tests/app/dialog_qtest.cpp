// The real main window end to end, with its own tick timer running: abuse of its inputs, resizing,
// the keys that may or may not end it, the order of its teardown, the run control and the
// instruments. Needs a display (Xvfb in CI); the sanitizer build turns a use after free into a
// failure.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <QAbstractButton>
#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QValueAxis>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "app/dialog_template.h"
#include "app/velmoth_app.h"
#include "app/velmoth_dlg.h"
#include "app/windows/control_panel.h"
#include "app/windows/main_window.h"
#include "app/windows/qt_dialog_window.h"
#include "app/windows/teach_panel.h"
#include "robot/robot.h"
#include "simulation/run_csv.h"
#include "simulation/stepper.h"
#include "simulation/text_fields.h"
#include "tests/app/eventually.h"
#include "tests/app/panel_helpers.h"
#include "urdf/urdf_loader.h"
#include "urdf/urdf_text.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd_custom.h"
#include "visuals/arm_pick.h"
#include "visuals/shape_loader.h"
#include "visuals/urdf_visuals.h"

// While it lives, files this process writes may not grow beyond the given size (0: no limit), as
// on a disk that fills: a write past it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(int bytes) {
    getrlimit(RLIMIT_FSIZE, &before_);
    if (bytes > 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(bytes), before_.rlim_max};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &before_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit before_{};
};

// What a tick shown left in the arm, by the number the physics thread gave it.
struct ShownTick {
  uint64_t serial = 0;
  panel_test::Vec state;  // every q, then every qd, then every qdd
  bool finite = false;
};

// Keeps every tick the dialog shows, so that a test can look at the tick that carried what it did.
class TickLog : public TickListener {
 public:
  void OnTick(const TickResult& tick) override {
    shown.push_back({tick.serial, panel_test::State(tick.robot), StateIsFinite(tick.robot)});
    if (shown.size() > 10000) {
      shown.pop_front();
    }
  }
  std::deque<ShownTick> shown;
};

class DialogEndToEnd : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindow> main_;
  QtDialogWindow* window_ = nullptr;
  CVelmothDlg* dlg_ = nullptr;
  QStringList boxes_;  // texts of the message boxes shown
  TickLog log_;
  static constexpr int kEditIds[] = {kIdKineticEnergy,   kIdPotentialEnergy, kIdTotalEnergy,
                                     kIdJointAngle,      kIdJointTorque,     kIdJointAccel,
                                     kIdViscousFriction, kIdCoulombFriction, kIdGravity};

  void Open(ArmSetup arm = {}) {
    main_ = std::make_unique<MainWindow>(std::move(arm));
    main_->Open();
    window_ = &main_->Window();
    dlg_ = &main_->Dlg();
    log_.shown.clear();
    dlg_->AddTickListener(&log_);
  }
  void Close() {
    main_.reset();
    window_ = nullptr;
    dlg_ = nullptr;
  }

  QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(window_->Control(id)); }
  Robot& Arm() { return *dlg_->m_pRobot; }
  RunControl& Run() { return main_->Run(); }
  // Runs the event loop until a tick has run; returns the ticks run so far.
  uint64_t AfterNextTick() {
    const uint64_t ticks = Run().Ticks();
    while (Run().Ticks() == ticks) {
      QCoreApplication::processEvents();
    }
    return Run().Ticks();
  }
  // Waits for a burst of exactly one tick, which ran in the period it fell due: right after it the
  // clock owes nothing. Returns the ticks run so far.
  uint64_t AfterOnTimeTick() {
    for (;;) {
      const uint64_t before = Run().Ticks();
      if (AfterNextTick() == before + 1) {
        return before + 1;
      }
    }
  }
  void Key(int key) { QTest::keyClick(Edit(kIdJointTorque), Qt::Key(key)); }
  bool ArmIsFinite() {
    const panel_test::Vec state = panel_test::State(Arm());
    return std::all_of(state.begin(), state.end(), [](double x) { return std::isfinite(x); });
  }

  void Click(int id) {
    auto* button = qobject_cast<QAbstractButton*>(window_->Control(id));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
  // Pastes the text over what the edit holds.
  void Input(int id, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    Edit(id)->setFocus();
    Edit(id)->selectAll();
    QTest::keySequence(Edit(id), QKeySequence::Paste);
  }
  // Waits until count more ticks have run, however busy the machine is.
  void WaitTicks(int count) {
    const uint64_t until = Run().Ticks() + static_cast<uint64_t>(count);
    QTRY_VERIFY_WITH_TIMEOUT(Run().Ticks() >= until, thread_test::kGuardMs);
  }
  // The number of the first tick that carries everything asked of the dialog until now.
  uint64_t NextTick() const { return dlg_->m_pPhysics->NextSerial(); }
  // Runs the event loop until the tick numbered serial (or, where that one was dropped, the first
  // after it) has been shown, and gives what it left in the arm; false after the guard's time
  // without. orDiverged: a run that diverged before that tick shows none after it, and the tick
  // that diverged is given instead. (The pacer asks for ticks on a thread of its own: a tick
  // numbered before NextTick() may already carry what the dialog was asked, and diverge.)
  bool TickShown(uint64_t serial, ShownTick& tick, bool orDiverged = false) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
      for (const ShownTick& shown : log_.shown) {
        if (shown.serial >= serial) {
          tick = shown;
          return true;
        }
      }
      if (orDiverged && Run().State() == RunState::kDiverged && !log_.shown.empty()) {
        tick = log_.shown.back();
        return true;
      }
      if (waited.elapsed() > thread_test::kGuardMs) {
        // What the run was doing, for the failure's message.
        PhysicsThread& physics = *dlg_->m_pPhysics;
        qWarning(
            "tick %llu never shown: the last shown %llu, next %llu, outstanding %zu, done "
            "%zu, can queue %d, %s, %llu ticks",
            static_cast<unsigned long long>(serial),
            static_cast<unsigned long long>(log_.shown.empty() ? 0 : log_.shown.back().serial),
            static_cast<unsigned long long>(physics.NextSerial()), physics.Outstanding(),
            physics.Done(), physics.CanQueue() ? 1 : 0,
            Run().State() == RunState::kPaused     ? "paused"
            : Run().State() == RunState::kDiverged ? "diverged"
                                                   : "running",
            static_cast<unsigned long long>(Run().Ticks()));
        return false;
      }
      QTest::qWait(1);
    }
  }
  // Steps one tick while paused and gives what it left in the arm.
  bool Step(ShownTick& tick) {
    const uint64_t serial = NextTick();
    Run().Step();
    return TickShown(serial, tick);
  }
  // Waits while paused until every tick requested has been shown.
  void Settle() {
    QTRY_VERIFY_WITH_TIMEOUT(dlg_->m_pPhysics->Outstanding() == 0, thread_test::kGuardMs);
    QCoreApplication::processEvents();
  }
  // Waits until the view has drawn another frame.
  void WaitFrame() {
    const uint64_t frames = main_->Frames();
    QTRY_VERIFY_WITH_TIMEOUT(main_->Frames() > frames, thread_test::kGuardMs);
  }

 private slots:
  void initTestCase() {
    COglWnd::SetMessageHook([this](const QString& text) { boxes_.append(text); });
    QtDialogWindow::SetMessageBoxHook(
        [this](QWidget*, const QString& text) { boxes_.append(text); });
  }

  void init() {
    boxes_.clear();
    Open();
    window_->show();
    window_->activateWindow();  // the keys act in the active window
    QVERIFY(QTest::qWaitForWindowActive(window_));
  }

  void cleanup() {
    Close();
    QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(QLatin1Char('\n'))));
  }

  // The panel writes and reads numbers with a period whatever the user's language. The test suite
  // runs this program once more under a decimal-comma language (VELMOTH_EXPECT_LANGUAGE names it),
  // which must then be in force for everything but numbers; the recording's comparison with
  // velmoth-sim catches any text of the panel or the recorder that followed the language.
  void numbersKeepThePeriodInAnyLanguage() {
    if (const char* language = std::getenv("VELMOTH_EXPECT_LANGUAGE")) {
      QVERIFY2(QString::fromLatin1(std::setlocale(LC_MONETARY, nullptr)).startsWith(language),
               "the language is not in force: is its locale generated?");
      QCOMPARE(std::localeconv()->mon_decimal_point, ",");
    }
    QCOMPARE(std::localeconv()->decimal_point, ".");
    QCOMPARE(Edit(kIdViscousFriction)->text(), QStringLiteral("0.100"));
    Input(kIdViscousFriction, QStringLiteral("0.5"));
    Input(kIdGravity, QStringLiteral("1.5, 2, -3"));
    Click(kIdSet);
    QCOMPARE(Arm().viscousFriction, 0.5);
    QCOMPARE(panel_test::Column(Arm().gravity), (panel_test::Vec{1.5, 2.0, -3.0}));
  }

  // Each text goes into every edit that takes input, through "Set Torque", "Set", ticks, rapid mode
  // switching and "Set Accel."; then sane inputs and "Reset" bring the arm back. A state that left
  // the finite paused the run as diverged at the first tick that took the text: "Reset" leaves it
  // paused at rest, F5 runs it on. The sane text's friction (its first number) is low enough for
  // the Euler step to stay finite however many ticks the machine's pace lets run.
  void aSessionSurvivesAnyInput_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("finite");
    QTest::addColumn<bool>("refused");  // as a friction coefficient, by "Set"
    QTest::newRow("torques") << QStringLiteral("0.2, -0.5, 0.3") << true << false;
    QTest::newRow("10 000 digits") << QString(10000, QLatin1Char('7')) << false << false;
    QTest::newRow("mixed characters")
        << QStringLiteral("1e308,-x;\t\xe9").repeated(1000) << false << false;
    QTest::newRow("nan") << QStringLiteral("nan, nan, nan, nan, nan, nan") << false << true;
    QTest::newRow("inf") << QStringLiteral("inf, -inf, inf") << false << true;
    QTest::newRow("1e308") << QStringLiteral("1e308, -1e308, 1e308, -1e308, 1e308, -1e308") << false
                           << false;
  }

  void aSessionSurvivesAnyInput() {
    QFETCH(QString, text);
    QFETCH(bool, finite);
    QFETCH(bool, refused);
    for (int id : kEditIds) {
      if (Edit(id)->isEnabled()) {
        Input(id, text);
      }
    }
    QCOMPARE(Edit(kIdJointTorque)->text(), text);
    Click(kIdSetTorque);
    const uint64_t torque = NextTick();  // the first tick sure to take the torques
    Click(kIdSet);
    // A friction coefficient no friction can have is refused in a box, and nothing is set.
    QCOMPARE(boxes_.size(), refused ? 1 : 0);
    QVERIFY(!refused ||
            boxes_.front().startsWith(QLatin1String("Set is refused: viscous must be")));
    boxes_.clear();
    ShownTick taken;
    QVERIFY(TickShown(torque, taken, /*orDiverged=*/true));
    QCOMPARE(taken.finite, finite);
    for (int i = 0; i <= 20; ++i) {  // rapid switching while the ticks run, ending in inverse mode
      Click(i % 2 == 0 ? kIdInverse : kIdForward);
      if (i % 4 == 0) {  // a diverged run shows no more ticks
        QVERIFY(!finite || TickShown(NextTick(), taken));
        QCoreApplication::processEvents();
      }
    }
    QVERIFY(Edit(kIdJointAccel)->isEnabled() && !Edit(kIdJointTorque)->isEnabled());
    Input(kIdJointAccel, text);
    Click(kIdSetAccel);
    if (finite) {
      QVERIFY(TickShown(NextTick(), taken));
      QVERIFY(taken.finite);
    }
    QCOMPARE(ArmIsFinite(), finite);
    QCOMPARE(Run().State() == RunState::kDiverged, !finite);

    Input(kIdJointAccel, QStringLiteral("0"));
    Click(kIdSetAccel);
    Click(kIdForward);
    for (const auto& [id, sane] : {std::pair{kIdJointTorque, "0"},
                                   {kIdViscousFriction, "0.1"},
                                   {kIdCoulombFriction, "0.1"},
                                   {kIdGravity, "0, 0, -9.81"}}) {
      Input(id, QString::fromLatin1(sane));
    }
    for (int id : {kIdSetTorque, kIdSet, kIdReset}) {
      Click(id);
    }
    const uint64_t reset = NextTick();
    if (!finite) {
      QCOMPARE(panel_test::State(Arm()), panel_test::Vec(18, 0.0));
      QCOMPARE(Run().State(), RunState::kPaused);
      Key(Qt::Key_F5);
    }
    QVERIFY(TickShown(reset + 4, taken));
    QVERIFY(taken.finite && ArmIsFinite());
  }

  void theViewKeepsItsPlaceUnderThePanel_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("as started") << QSize();
    QTest::newRow("larger") << QSize(1300, 1000);
    QTest::newRow("as high as the panel") << QSize(500, 130);
    QTest::newRow("shorter than the panel") << QSize(400, 100);
  }

  void theViewKeepsItsPlaceUnderThePanel() {
    QFETCH(QSize, size);
    if (size.isValid()) {
      window_->resize(size);
      QTRY_COMPARE_WITH_TIMEOUT(window_->size(), size, thread_test::kGuardMs);
    }
    QTRY_VERIFY_WITH_TIMEOUT(window_->View()->IsGlReady(), thread_test::kGuardMs);
    // The strip takes a second row where its width needs it: the view follows its height.
    const auto expected = [this] {
      const int strip = main_->Strip().height();
      return QRect(0, 130, window_->width(), std::max(0, window_->height() - 130 - strip));
    };
    QTRY_COMPARE_WITH_TIMEOUT(window_->ViewWidget()->geometry(), expected(), thread_test::kGuardMs);
    const int strip = main_->Strip().height();
    QCOMPARE(main_->Strip().geometry(),
             QRect(0, window_->height() - strip, window_->width(), strip));  // below the view
    for (int id : kEditIds) {
      QVERIFY(window_->Control(id)->geometry().bottom() < 130);  // the panel stays above it
    }
    WaitFrame();  // painting at that size
  }

  // A failed OpenGL set-up ends in its message, shown in a real modal box whose event loop runs
  // while the window holds the broken view, and the panel runs on: without a view when the
  // platform has no usable OpenGL at all, with an empty one when the view's own set-up fails. The
  // test suite runs this once more on Qt's offscreen platform.
  void aGlFailureEndsInItsMessageAndThePanelRuns_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("hasView");
    QTest::newRow("no OpenGL") << int(COglWnd::GlStep::ChooseFormat) << false;
    QTest::newRow("context refused") << int(COglWnd::GlStep::CreateContext) << true;
    QTest::newRow("context not current") << int(COglWnd::GlStep::MakeCurrent) << true;
  }

  void aGlFailureEndsInItsMessageAndThePanelRuns() {
    QFETCH(int, step);
    QFETCH(bool, hasView);
    Close();
    boxes_.clear();
    COglWnd::SetFaultHook([step](COglWnd::GlStep s) { return int(s) == step; });
    COglWnd::SetMessageHook([this](const QString& text) {
      boxes_.append(text);
      QMessageBox box(QMessageBox::Warning, QStringLiteral("Velmoth"), text, QMessageBox::Ok);
      QTimer::singleShot(200, &box, &QMessageBox::accept);
      box.exec();
    });
    Open();
    window_->show();
    window_->resize(700, 500);
    QTRY_VERIFY_WITH_TIMEOUT(!boxes_.isEmpty(), thread_test::kGuardMs);
    ShownTick fallen;
    QVERIFY(TickShown(30, fallen));
    COglWnd::SetFaultHook(nullptr);
    COglWnd::SetMessageHook([this](const QString& text) { boxes_.append(text); });
    QCOMPARE(boxes_, QStringList{COglWnd::StepMessage(COglWnd::GlStep(step))});
    boxes_.clear();
    QCOMPARE(window_->View() != nullptr, hasView);
    QVERIFY(!hasView || !window_->View()->IsGlReady());
    main_->RefreshStrip();
    QCOMPARE(main_->Strip().Status().contains(QLatin1String("no view")), !hasView);
    QVERIFY(fallen.state[0] < 0.0);  // the arm falls
  }

  void enterNeitherEndsTheDialogNorClicks_data() {
    QTest::addColumn<int>("id");
    QTest::newRow("read-out") << int{kIdKineticEnergy};
    QTest::newRow("disabled input, enabled in inverse mode") << int{kIdJointAccel};
    QTest::newRow("gravity") << int{kIdGravity};
    QTest::newRow("Set button") << int{kIdSet};
  }

  void enterNeitherEndsTheDialogNorClicks() {
    QFETCH(int, id);
    Input(kIdGravity, QStringLiteral("0, 0, 5"));  // "Set" would make gravity point up
    QWidget* target = window_->Control(id);
    ShownTick tick;
    QVERIFY(TickShown(5, tick));
    if (!target->isEnabled()) {
      Click(kIdInverse);  // the arm moves on at the velocities it has
    }
    QVERIFY(TickShown(NextTick(), tick));
    const std::size_t resets = main_->Traces().Resets().size();
    target->setFocus();  // key events go straight to the control, active window or not
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
    QVERIFY(TickShown(NextTick(), tick));  // the ticks go on
    QVERIFY(window_->isVisible());
    QCOMPARE(main_->Traces().Resets().size(), resets);  // no Reset
    QVERIFY(tick.state[6] != 0.0);                      // still moving
    QCOMPARE(Arm().gravity(2, 0), -9.81);               // no Set
  }

  void escapeEndsTheDialogAndTheViewGoesBeforeTheRobot() {
    QPointer<COglWndCustom> view = window_->View();
    std::size_t linksWhenViewWent = 0;  // a robot already deleted is a use after free here
    QObject connection;                 // ends the connection with this function
    connect(view, &QObject::destroyed, &connection,
            [&] { linksWhenViewWent = Arm().links.size(); });
    QTest::keyClick(Edit(kIdJointTorque), Qt::Key_Escape);
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->result(), int{QDialog::Rejected});
    const QString angles = Edit(kIdJointAngle)->text();
    QTest::qWait(50);
    QCOMPARE(Edit(kIdJointAngle)->text(), angles);  // no tick after the end

    main_->Close();
    QVERIFY(view.isNull() && dlg_->m_pRobot == nullptr);
    QCOMPARE(linksWhenViewWent, std::size_t{6});
    Click(kIdReset);  // nothing left to act on, and nothing breaks
  }

  // The arm of a URDF file, a gripper whose fingers are held: the window bears its name, the strip
  // says which joints are held (no message box), the panel's vectors have its joints, and it moves
  // from where it was started on the step of arms from files, which the strip can change.
  void anArmFromAFileNamesTheWindowAndFillsThePanel() {
    Close();
    ArmSetup arm;
    const auto load = [](std::vector<std::string>* notices) {
      std::string error;
      return LoadUrdfRobot(VELMOTH_EXAMPLES "/arm7_gripper.urdf", error, {}, notices);
    };
    QVERIFY(load(&arm.notices) != nullptr);
    arm.make = [load] { return load(nullptr); };
    arm.q0 = "0.5, 0.8";
    arm.step = DefaultStepOptions(true);
    Open(std::move(arm));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Velmoth: arm7_gripper"));
    QVERIFY(main_->Strip().Notices().join("").contains(QStringLiteral("held fixed (finger_left")));
    QCOMPARE(main_->EngineChoice()->currentText(), QStringLiteral("recursive"));
    QCOMPARE(main_->IntegratorChoice()->currentText(), QStringLiteral("dopri5"));
    QCOMPARE(main_->ToleranceChoice()->currentText(), QStringLiteral("tol 1e-09"));
    main_->ToleranceChoice()->setCurrentText(QStringLiteral("tol 1e-06"));
    QCOMPARE(dlg_->GetStepOptions().tolerance, 1e-6);
    window_->show();
    ShownTick tick;
    QVERIFY(TickShown(5, tick));
    QCOMPARE(Edit(kIdJointAngle)->text().count(QLatin1Char(',')), 7);
    // The first joint turns about the vertical and friction holds it; the shoulder falls.
    QCOMPARE(tick.state[0], 0.5);
    QVERIFY(tick.state[1] > 0.8);
    // Switched while it runs, the next ticks take the closed form's Euler step.
    main_->EngineChoice()->setCurrentText(QStringLiteral("closed-form"));
    main_->IntegratorChoice()->setCurrentText(QStringLiteral("euler"));
    const StepOptions step = dlg_->GetStepOptions();
    QVERIFY(step.engine == EngineKind::kClosedForm && step.integrator == IntegratorKind::kEuler);
    QVERIFY(!main_->ToleranceChoice()->isEnabled());  // the tolerance is dopri5's
    const uint64_t switched = NextTick();
    ShownTick before;
    QVERIFY(TickShown(switched - 1, before) && TickShown(switched, tick));
    QVERIFY(before.serial < switched);
    QVERIFY(tick.state[1] != before.state[1] && tick.finite);
    // The plots name the joints as the file does.
    main_->TogglePlots();
    QStringList names;
    for (std::size_t j = 0; j < Arm().links.size(); ++j) {
      names << QString::fromStdString(JointName(Arm(), j));
    }
    for (int chart : {1, 2}) {
      QStringList shown;
      for (QAbstractSeries* line : main_->Plots()->Chart(chart)->series()) {
        shown << line->name();
      }
      QCOMPARE(shown.mid(0, names.size()), names);
    }
    QCOMPARE(names.front(), QStringLiteral("joint1"));
  }

  // The file's physics in the strip: the SCARA started with its quill past its end says so with the
  // arm's notices; the quill resting there is named after the status; its checks switch the limits
  // (the quill falls through) and the efforts (the shoulder's torque saturates, and is named). The
  // planar arm's elbow has friction of its own: the friction fields' tool tips say so, and "Set"
  // with a coefficient typed shows the panel's friction as every joint's.
  // A step too coarse for the motion: the strip says so once the tick that found the balance off
  // is shown, naming the step and the remedy; the built-in arm's own step is never checked.
  void theStripSaysWhenTheBalanceGoesOff() {
    const QString off = QStringLiteral(
        "The energy balance went off by more than a thousandth of the motion's energy: the fixed "
        "0.01 s step (recursive, euler) is too coarse for this motion; more substeps, or the "
        "error-controlled step (dopri5)");
    for (const EngineKind engine : {EngineKind::kClosedForm, EngineKind::kRecursive}) {
      Close();
      ArmSetup arm;
      arm.step = {engine, IntegratorKind::kEuler, 1, kDefaultTolerance};
      Open(std::move(arm));
      window_->show();
      Run().TogglePause();
      Click(kIdSetTorque);
      ShownTick tick;
      for (int t = 0; t < 3; ++t) {
        QVERIFY(Step(tick));
      }
      main_->RefreshStrip();
      QCOMPARE(Arm().offBalanceTicks, uint64_t{engine == EngineKind::kRecursive ? 1u : 0u});
      QCOMPARE(main_->Strip().Note() == off, engine == EngineKind::kRecursive);
    }
  }

  void theFilesPhysicsShowsInTheStrip() {
    Close();
    const auto load = [](const char* file) {
      return [file] {
        std::string error;
        return LoadUrdfRobot(std::string(VELMOTH_EXAMPLES "/") + file, error);
      };
    };
    ArmSetup arm;
    arm.make = load("scara.urdf");
    arm.q0 = "0, 0, 0.3";
    arm.step = DefaultStepOptions(true);
    Open(std::move(arm));
    window_->show();
    QVERIFY(main_->Strip().Notices().join("").contains(QStringLiteral("'quill' starts at 0.2")));
    QVERIFY(main_->LimitsCheck()->isEnabled() && main_->LimitsCheck()->isChecked());
    QVERIFY(main_->EffortCheck()->isEnabled() && !main_->EffortCheck()->isChecked());
    QVERIFY(!main_->FrictionChoice()->isEnabled());  // no joint has friction of its own
    // Paused, each change is carried by the tick stepped after it, which the strip then shows.
    Run().TogglePause();
    const auto joints = [this] {
      main_->RefreshStrip();
      return main_->Strip().Joints();
    };
    Input(kIdJointTorque, QStringLiteral("100"));
    Click(kIdSetTorque);
    ShownTick tick;
    QVERIFY(Step(tick));
    QCOMPARE(joints(), QStringLiteral("at a limit: quill (upper)"));
    main_->EffortCheck()->click();
    QVERIFY(Arm().effortLimits);
    QVERIFY(Step(tick));
    QCOMPARE(joints(), QStringLiteral("at a limit: quill (upper); saturated: shoulder"));
    main_->LimitsCheck()->click();
    QVERIFY(!Arm().limits);
    QVERIFY(Step(tick));
    QVERIFY(tick.state[2] > 0.2);

    Close();
    arm = ArmSetup();
    arm.make = load("planar_3link.urdf");
    arm.step = DefaultStepOptions(true);
    Open(std::move(arm));
    window_->show();
    QVERIFY(main_->FrictionChoice()->isEnabled());
    QCOMPARE(main_->FrictionChoice()->currentText(), QStringLiteral("friction: file"));
    QVERIFY(Edit(kIdCoulombFriction)->toolTip().contains(QStringLiteral("elbow 0.1")));
    Input(kIdCoulombFriction, QStringLiteral("0.3"));
    Click(kIdSet);
    main_->RefreshStrip();
    QCOMPARE(main_->FrictionChoice()->currentText(), QStringLiteral("friction: uniform"));
    QCOMPARE(Edit(kIdCoulombFriction)->toolTip(),
             QStringLiteral("The Coulomb friction level of every joint"));
    main_->FrictionChoice()->setCurrentIndex(0);
    QCOMPARE(Arm().frictionSource, FrictionSource::kFile);
  }

  // The plots read whole at their default size: every chart's title fits its width, the time axis
  // has its ticks on whole multiples of 2 s, and the value axes' labels are short and apart.
  void thePlotsReadWhole() {
    main_->TogglePlots();
    PlotsWindow* plots = main_->Plots();
    QVERIFY(QTest::qWaitForWindowExposed(plots));
    WaitTicks(20);
    plots->Refresh();
    for (int i = 0; i < 4; ++i) {
      QChart* chart = plots->Chart(i);
      const int title = QFontMetrics(chart->titleFont()).horizontalAdvance(chart->title());
      QVERIFY2(title < chart->size().width() - 20, qPrintable(QStringLiteral("%1: %2 of %3")
                                                                  .arg(chart->title())
                                                                  .arg(title)
                                                                  .arg(chart->size().width())));
      auto* time = qobject_cast<QValueAxis*>(chart->axes(Qt::Horizontal).front());
      QVERIFY(time->tickType() == QValueAxis::TicksDynamic && time->tickAnchor() == 0.0 &&
              time->tickInterval() == PlotsWindow::kTimeTickSeconds);
      auto* value = qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).front());
      const QString format = value->labelFormat();
      QVERIFY(!format.isEmpty());  // not Qt's own, which writes as many decimals as the range
      for (int k = 0; k < value->tickCount(); ++k) {
        const double at =
            value->min() + k * (value->max() - value->min()) / (value->tickCount() - 1);
        QVERIFY2(QString::asprintf(qPrintable(format), at).size() <= 9,
                 qPrintable(format + QStringLiteral(" of %1").arg(at)));
      }
    }
  }

  void valueAxesLabelTheirTicksExactlyAndShort_data() {
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("labels");
    QTest::newRow("a residual of nanojoules")
        << -4e-9 << 4e-9 << 5 << "-4e-09 -2e-09 0e+00 2e-09 4e-09";
    QTest::newRow("whole joules") << 0.0 << 50.0 << 6 << "0 10 20 30 40 50";
    QTest::newRow("tenths") << 12.2 << 12.8 << 4 << "12.2 12.4 12.6 12.8";
    QTest::newRow("tenths of a thousand")
        << 1000.1 << 1000.5 << 5 << "1000.1 1000.2 1000.3 1000.4 1000.5";
    QTest::newRow("quarters") << -0.5 << 0.25 << 4 << "-0.50 -0.25 0.00 0.25";
    QTest::newRow("large, in halves")
        << 0.0 << 2e5 << 5 << "0.0e+00 5.0e+04 1.0e+05 1.5e+05 2.0e+05";
    QTest::newRow("no range") << 1.0 << 1.0 << 3 << "1 1 1";
  }
  void valueAxesLabelTheirTicksExactlyAndShort() {
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, ticks);
    QFETCH(QString, labels);
    const QString format = PlotsWindow::ValueLabelFormat(low, high, ticks);
    QStringList written;
    for (int k = 0; k < ticks; ++k) {
      written << QString::asprintf(qPrintable(format), low + k * (high - low) / (ticks - 1));
    }
    QCOMPARE(written.join(' '), labels);
  }

  // The strip's lists and checks show their texts whole at the window's default size, whichever
  // choice and button text is shown: where one row cannot hold them, the choices take a second.
  void theStripsChoicesAreNeverCut() {
    Close();
    ArmSetup arm;
    arm.make = [] {
      std::string error;
      return LoadUrdfRobot(VELMOTH_EXAMPLES "/planar_3link.urdf", error);
    };
    arm.step = DefaultStepOptions(true);
    Open(std::move(arm));
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    main_->FrictionChoice()->setCurrentText(QStringLiteral("friction: uniform"));
    main_->IntegratorChoice()->setCurrentText(QStringLiteral("implicit"));
    Run().TogglePause();  // the longer "Resume"
    main_->RefreshStrip();
    const QList<QComboBox*> choices = main_->Strip().findChildren<QComboBox*>();
    QVERIFY(choices.size() >= 5);
    // The first text that does not fit, once the strip is laid out; none.
    const auto cut = [&] {
      for (QComboBox* choice : choices) {
        QStyleOptionComboBox option;
        option.initFrom(choice);
        const QRect room = choice->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, choice);
        for (int i = 0; i < choice->count(); ++i) {
          if (choice->fontMetrics().horizontalAdvance(choice->itemText(i)) > room.width()) {
            return QStringLiteral("%1: %2 px in %3 of a list %4 wide (hint %5), window %6")
                .arg(choice->itemText(i))
                .arg(choice->fontMetrics().horizontalAdvance(choice->itemText(i)))
                .arg(room.width())
                .arg(choice->width())
                .arg(choice->sizeHint().width())
                .arg(window_->width());
          }
        }
      }
      for (QCheckBox* check : main_->Strip().findChildren<QCheckBox*>()) {
        if (check->width() < check->sizeHint().width()) {
          return check->text();
        }
      }
      return QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(cut(), QString(), thread_test::kGuardMs);
  }

  // Each joint has a colour of its own, far from the others' for twelve joints, and the same in
  // both charts; the thirteenth and fourteenth take the first colours again, dashed.
  void theJointsHaveTheirOwnColours() {
    Close();
    ArmSetup arm;
    arm.make = [] { return MakeBuiltInRobot(14); };
    Open(std::move(arm));
    main_->TogglePlots();
    PlotsWindow* plots = main_->Plots();
    QTRY_COMPARE_WITH_TIMEOUT(plots->Chart(2)->series().size(), 14, thread_test::kGuardMs);
    const auto pen = [plots](int chart, int j) {
      return qobject_cast<QLineSeries*>(plots->Chart(chart)->series().at(j))->pen();
    };
    // CIE L*a*b* of a colour, for how far apart two look.
    const auto lab = [](QColor c) {
      const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
      };
      const double r = linear(c.redF()), g = linear(c.greenF()), b = linear(c.blueF());
      const auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116; };
      const double x = f((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047);
      const double y = f(0.2126 * r + 0.7152 * g + 0.0722 * b);
      const double z = f((0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883);
      return std::array<double, 3>{116 * y - 16, 500 * (x - y), 200 * (y - z)};
    };
    for (int i = 0; i < 14; ++i) {
      QCOMPARE(pen(1, i), pen(2, i));
      QCOMPARE(pen(1, i).style(), i < 12 ? Qt::SolidLine : Qt::DashLine);
      QCOMPARE(plots->Chart(1)->series().at(i)->name(), QStringLiteral("joint%1").arg(i));
      for (int k = 0; k < i && i < 12; ++k) {
        const auto a = lab(pen(1, i).color()), b = lab(pen(1, k).color());
        const double distance = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
        QVERIFY2(distance > 25,
                 qPrintable(QStringLiteral("%1 %2: %3").arg(i).arg(k).arg(distance)));
      }
    }
    QCOMPARE(pen(1, 12).color(), pen(1, 0).color());
  }

  void noticesReadWholeAtTheDefaultSize_data() {
    QTest::addColumn<QString>("file");  // a sample, or empty: six held joints, two odd inertias
    QTest::newRow("the gripper's held fingers") << QStringLiteral("arm7_gripper");
    QTest::newRow("the PUMA's two inertias") << QStringLiteral("puma560");
    QTest::newRow("six held joints and two inertias") << QString();
  }
  // Every notice of the arm's file is shown whole at the window's default size, wrapped to the
  // strip's width, with nothing to scroll; the view keeps most of the room.
  void noticesReadWholeAtTheDefaultSize() {
    QFETCH(QString, file);
    Close();
    std::string fingers, joints;
    for (int i = 1; i <= 6; ++i) {
      const std::string n = std::to_string(i);
      fingers += "<link name='gripper_finger_" + n +
                 "_proximal_link'/><joint name='gripper_finger_" + n +
                 "_proximal_joint' type='revolute'><parent link='gripper_palm_link'/><child "
                 "link='gripper_finger_" +
                 n +
                 "_proximal_link'/><axis xyz='0 1 0'/><limit "
                 "lower='0' upper='1' effort='1' velocity='1'/></joint>";
    }
    const auto link = [](const char* name, const char* ixx) {
      return std::string("<link name='") + name + "'><inertial><mass value='1'/><inertia ixx='" +
             ixx + "' iyy='0.1' izz='0.1' ixy='0' ixz='0' iyz='0'/></inertial></link>";
    };
    const std::string text =
        "<robot name='hand'>" + link("base_link", "0.1") + link("upper_arm_link", "1") +
        link("gripper_palm_link", "1") +
        "<joint name='shoulder_joint' type='revolute'><parent link='base_link'/><child "
        "link='upper_arm_link'/><axis xyz='0 0 1'/><limit lower='0' upper='1' effort='1' "
        "velocity='1'/></joint><joint name='wrist_joint' type='revolute'><parent "
        "link='upper_arm_link'/><child link='gripper_palm_link'/><axis xyz='0 1 0'/><limit "
        "lower='0' upper='1' effort='1' velocity='1'/></joint>" +
        fingers + "</robot>";
    const std::string path = file.isEmpty() ? "/home/student/robots/six_finger_hand_description/"
                                              "urdf/six_finger_hand.urdf"
                                            : VELMOTH_EXAMPLES "/" + file.toStdString() + ".urdf";
    ArmSetup arm;
    std::string error;
    const bool loaded = file.isEmpty()
                            ? LoadUrdfRobotFromText(text, path, error, {}, &arm.notices) != nullptr
                            : LoadUrdfRobot(path, error, {}, &arm.notices) != nullptr;
    QVERIFY2(loaded, error.c_str());
    QCOMPARE(arm.notices.size(), file == "arm7_gripper" ? 1u : file.isEmpty() ? 3u : 2u);
    // Each notice starts with the file's name, which the strip leaves to its tool tip.
    QStringList notices;
    for (const std::string& notice : arm.notices) {
      QVERIFY(notice.rfind(path + ": ", 0) == 0);
      notices << QString::fromStdString(notice.substr(path.size() + 2));
    }
    arm.noticeSource = path;
    Open(std::move(arm));
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    const StatusStrip& strip = main_->Strip();
    QCOMPARE(strip.Notices(), notices);
    QCOMPARE(strip.NoticeLabel()->text().remove(QChar(0x200b)), notices.join('\n'));
    QVERIFY(strip.NoticeLabel()->toolTip().startsWith(QString::fromStdString(path) + ":\n"));
    const QScrollArea* area = strip.NoticeArea();
    QTRY_COMPARE_WITH_TIMEOUT(area->verticalScrollBar()->maximum(), 0, thread_test::kGuardMs);
    const int needed = strip.NoticeLabel()->heightForWidth(area->viewport()->width());
    QVERIFY2(area->viewport()->height() >= needed,
             qPrintable(QStringLiteral("%1 < %2").arg(area->viewport()->height()).arg(needed)));
    QVERIFY(area->geometry().right() < strip.width());
    QVERIFY(strip.NoticeLabel()->minimumSizeHint().width() <= area->viewport()->width());
    const int view = window_->ViewWidget()->height();
    qInfo("window %dx%d: notices %d px, strip %d px, view %d px", window_->width(),
          window_->height(), area->height(), strip.height(), view);
    QVERIFY(view > window_->height() / 2);
  }

  // A tick that does not end (held by the test, as a tick of unbounded cost would be): the view
  // goes on drawing, the strip says why the run is slow, F5 pauses, F6 asks for a step, F11 saves
  // the picture and Escape ends the window, all while the tick is still held; the end gives it up.
  void aTickThatDoesNotEndHoldsNothingUp() {
    QTemporaryDir folder;
    main_->SetOutputFolder(folder.path());
    PhysicsThread& physics = *dlg_->m_pPhysics;
    WaitTicks(5);
    Key(Qt::Key_F5);
    physics.Hold(true);
    Key(Qt::Key_F5);  // the first tick after resuming is held
    QTRY_VERIFY_WITH_TIMEOUT(physics.Holding(), thread_test::kGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(dlg_->TickCostNs() >= 100'000'000, thread_test::kGuardMs);
    const uint64_t ticks = Run().Ticks();
    const uint64_t frames = main_->Frames();
    QTRY_VERIFY_WITH_TIMEOUT(main_->Frames() >= frames + 3, thread_test::kGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(main_->Strip().Status().contains(QLatin1String("(each tick takes ")),
                             thread_test::kGuardMs);
    QVERIFY2(main_->Strip().Status().contains(QLatin1String(" ms, not 10 ms)")),
             qPrintable(main_->Strip().Status()));
    Key(Qt::Key_F5);
    QCOMPARE(Run().State(), RunState::kPaused);
    QCOMPARE(physics.Outstanding(), std::size_t{1});  // the ticks queued behind it are dropped
    Key(Qt::Key_F6);
    Key(Qt::Key_F11);
    QVERIFY(main_->Strip().Note().startsWith(QLatin1String("Screenshot: ")));
    QTest::qWait(50);
    QCOMPARE(Run().Ticks(), ticks);  // the tick is still held
    QCOMPARE(physics.Outstanding(), std::size_t{1});
    QTest::keyClick(Edit(kIdJointTorque), Qt::Key_Escape);
    QVERIFY(!window_->isVisible());
    main_->Close();  // gives the held tick up and joins the thread
    QVERIFY(dlg_->m_pPhysics == nullptr);
  }

  // While ticks are held, the user pauses, steps, types torques and switches the step: the
  // recording is the run a plain stepper computes with each torque and step from the tick it was
  // set for on (a tick held when the torque was typed keeps the torque it started with), and the
  // panel shows the last tick recorded.
  void slowTicksRecordTheRunTheUserAskedFor() {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("run.csv"));
    PhysicsThread& physics = *dlg_->m_pPhysics;
    const auto rows = [this] { return main_->Recording().Rows(); };
    const auto settled = [&] { return physics.Outstanding() == 0; };
    Key(Qt::Key_F5);
    Click(kIdReset);
    QVERIFY(main_->StartRecording(file));
    // What the reference does before each row: the torques and the step from that row on.
    struct Change {
      uint64_t row;
      QString torque;
      StepOptions step;
    };
    std::vector<Change> changes{{1, QStringLiteral("0"), dlg_->GetStepOptions()}};
    const auto holdAndStep = [&] {
      physics.Hold(true);
      Key(Qt::Key_F6);
      QTRY_VERIFY_WITH_TIMEOUT(physics.Holding(), thread_test::kGuardMs);
    };
    const auto change = [&](const QString& torque, const StepOptions& step, const QString& text,
                            QComboBox* choice) {
      Input(kIdJointTorque, torque);
      Click(kIdSetTorque);
      choice->setCurrentText(text);
      // The held tick keeps what it started with; the next one takes the new ones.
      changes.push_back({rows() + 2, torque, step});
    };
    holdAndStep();
    change(QStringLiteral("1, -2, 0.5"), {EngineKind::kClosedForm, IntegratorKind::kImplicit, 1},
           QStringLiteral("implicit"), main_->IntegratorChoice());
    Key(Qt::Key_F6);  // a second step, taken once the first is done
    physics.Hold(false);
    QTRY_COMPARE_WITH_TIMEOUT(rows(), uint64_t(2), thread_test::kGuardMs);
    Key(Qt::Key_F5);  // running
    WaitTicks(20);
    physics.Hold(true);
    QTRY_VERIFY_WITH_TIMEOUT(physics.Holding(), thread_test::kGuardMs);
    Key(Qt::Key_F5);  // paused while a tick is held: it finishes in the background
    QCOMPARE(Run().State(), RunState::kPaused);
    physics.Hold(false);
    QTRY_VERIFY_WITH_TIMEOUT(settled(), thread_test::kGuardMs);
    change(QStringLiteral("0, 3"), {EngineKind::kRecursive, IntegratorKind::kImplicit, 1},
           QStringLiteral("recursive"), main_->EngineChoice());
    changes.back().row = rows() + 1;
    for (int i = 0; i < 3; ++i) {
      const uint64_t before = rows();
      Key(Qt::Key_F6);
      QTRY_COMPARE_WITH_TIMEOUT(rows(), before + 1, thread_test::kGuardMs);
    }
    Key(Qt::Key_F10);
    QVERIFY(!main_->Recording().Recording());

    std::unique_ptr<Robot> arm = MakeBuiltInRobot();
    Stepper stepper(*arm, changes[0].step);
    matrix<double> torque(6, 1);
    std::string expected = RunCsvHeader(6);
    std::size_t next = 0;
    for (uint64_t row = 1; row <= rows(); ++row) {
      if (next < changes.size() && changes[next].row == row) {
        ReadVectorText(changes[next].torque.toStdString(), torque);
        stepper.SetOptions(changes[next].step);
        ++next;
      }
      stepper.Forward(torque);
      AppendRunCsvRow(expected, row, *arm, torque);
    }
    QCOMPARE(next, changes.size());
    QFile recorded(file);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    QCOMPARE(recorded.readAll().toStdString(), expected);
    // Its replay puts each change where it took effect, not where it was typed.
    QProcess sim;
    sim.start(QStringLiteral(VELMOTH_SIM), {QStringLiteral("run"), QStringLiteral("--replay"),
                                            file + QStringLiteral(".replay")});
    QVERIFY(sim.waitForFinished(thread_test::kGuardMs));
    QCOMPARE(sim.readAllStandardOutput().toStdString(), expected);
    QCOMPARE(Edit(kIdJointAngle)->text(),
             QString::fromStdString(VectorText(arm->GetJointAngles())));
    QCOMPARE(Edit(kIdTotalEnergy)->text(),
             QString::fromStdString(NumberText(arm->kineticEnergy + arm->potentialEnergy)));
  }

  // A recording that fails while the window runs says so in a box, and while the box is up the
  // strip and the arm go on.
  void theStripRunsOnWhileAnErrorBoxIsUp() {
    QTemporaryDir folder;
    bool movedWhileUp = false;
    const QtDialogWindow::MessageBoxHook before =
        QtDialogWindow::SetMessageBoxHook([&](QWidget*, const QString& text) {
          boxes_.append(text);
          const QString status = main_->Strip().Status();
          QElapsedTimer waited;
          waited.start();
          while (main_->Strip().Status() == status && waited.elapsed() < thread_test::kGuardMs) {
            QTest::qWait(10);
          }
          movedWhileUp = main_->Strip().Status() != status;
        });
    {
      const FileSizeLimit limit(300);  // the header fits, a second of rows does not
      QVERIFY(main_->StartRecording(folder.filePath(QStringLiteral("run.csv"))));
      QTRY_VERIFY_WITH_TIMEOUT(!boxes_.isEmpty(), thread_test::kGuardMs);
    }
    QtDialogWindow::SetMessageBoxHook(before);
    QVERIFY2(boxes_[0].contains(QLatin1String(" stopped: ")), qPrintable(boxes_[0]));
    boxes_.clear();
    QVERIFY(movedWhileUp);
  }

  // An arm whose closed-form solve becomes singular (the scara's quill flung out by 1000 N on the
  // built-in arm's step) diverges: the run pauses and says so, and the window stays.
  void aSingularSolveIsADivergence() {
    Close();
    ArmSetup arm;
    arm.make = [] {
      std::string error;
      return LoadUrdfRobot(VELMOTH_EXAMPLES "/scara.urdf", error);
    };
    Open(std::move(arm));
    window_->show();
    Input(kIdJointTorque, QStringLiteral("1000, 1000, 1000, 1000"));
    Click(kIdSetTorque);
    QTRY_COMPARE_WITH_TIMEOUT(Run().State(), RunState::kDiverged, thread_test::kGuardMs);
    QVERIFY(window_->isVisible() && !ArmIsFinite());
  }

  // The program runs the dialog modally; F1 shows the help, Escape ends the run.
  void theProgramRunsTheDialogModallyWithHelpOnF1() {
    Close();
    bool shown = false;
    // Looks for the modal dialog until it is up and has the keyboard (or a long time has passed):
    // F1 is a key of the active window, and a window just shown becomes active a little later.
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    connect(&poll, &QTimer::timeout, [&] {
      auto* modal = qobject_cast<QtDialogWindow*>(QApplication::activeModalWidget());
      if ((modal == nullptr || !modal->isActiveWindow()) &&
          waited.elapsed() < thread_test::kGuardMs) {
        if (modal != nullptr) {
          modal->activateWindow();
        }
        return;
      }
      poll.stop();
      if (modal == nullptr) {
        QApplication::closeAllWindows();
        return;
      }
      shown = modal->isVisible() && modal->View() != nullptr;
      QTest::keyClick(modal, Qt::Key_F1);
      QTest::keyClick(modal, Qt::Key_Escape);
    });
    poll.start(50);
    QCOMPARE(theApp.InitInstance(), false);
    QVERIFY(shown);
    QCOMPARE(boxes_, QStringList{QString::fromLatin1(kHelpText)});
    boxes_.clear();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
  }

  // A stall of the window's thread (a slow repaint) costs no simulated time: the ticks that fell
  // due meanwhile were computed as they fell due and are all shown at once, more than the catch-up
  // limit. A stall of the pacer, the thread that keeps the pace, is made up in a burst of at most
  // the cap, and the rest slips, as the strip shows.
  void stallsAreMadeUpInBursts() {
    const uint64_t before = AfterOnTimeTick();
    // The window's thread stalls (takes no event) until more ticks than a burst are done.
    QElapsedTimer stalled;
    stalled.start();
    while (dlg_->m_pPhysics->Done() <= TickClock::kMaxBurstTicks &&
           stalled.elapsed() < thread_test::kGuardMs) {
      QThread::msleep(1);
    }
    const uint64_t shown = AfterNextTick() - before;
    QVERIFY2(shown > TickClock::kMaxBurstTicks, qPrintable(QString::number(shown)));
    const uint64_t slipped = Run().SlippedTicks();
    dlg_->Pacer().Stall(500'000'000);
    QTRY_VERIFY_WITH_TIMEOUT(Run().SlippedTicks() >= slipped + 50 - TickClock::kMaxBurstTicks,
                             thread_test::kGuardMs);
    main_->RefreshStrip();
    QVERIFY2(main_->Strip().Status().contains(QLatin1String("    slip ")),
             qPrintable(main_->Strip().Status()));
  }

  // F5 stops the arm, F6 moves it by exactly one tick, F7 slows it down; the keys work while the
  // focus is in the view or in an edit field, whose text they leave alone.
  // Ctrl and a left drag on a link pull it with the spring: paused, the pull stands and moves
  // nothing until F6's tick takes it; running, every tick does. The strip names the link and the
  // view draws the pull with its force; releasing ends it. A Ctrl drag on empty space does nothing.
  void aCtrlDragPullsALink() {
    Close();
    ArmSetup arm;
    arm.gravity = "0, 0, 0";
    Open(std::move(arm));
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    COglWndCustom* view = window_->View();
    QTRY_VERIFY_WITH_TIMEOUT(view != nullptr && view->IsGlReady(), thread_test::kGuardMs);
    Key(Qt::Key_F5);
    QCOMPARE(Run().State(), RunState::kPaused);
    // A point of link 4 and a point of nothing, as the view draws them.
    QPoint on(-1, -1), off(-1, -1);
    for (int y = 5; y < view->height() - 5 && on.x() < 0; y += 2) {
      for (int x = 5; x < view->width() - 5; x += 2) {
        const ArmPick pick = view->PickAt(QPointF(x, y));
        if (pick.hit && pick.link == 4 && on.x() < 0) {
          on = QPoint(x, y);
        } else if (!pick.hit && off.x() < 0) {
          off = QPoint(x, y);
        }
      }
    }
    QVERIFY(on.x() >= 0 && off.x() >= 0);
    QTest::mousePress(view, Qt::LeftButton, Qt::ControlModifier, off);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ControlModifier, off);
    QVERIFY(!dlg_->Forces().pull);
    QTest::mousePress(view, Qt::LeftButton, Qt::ControlModifier, on);
    QTest::mouseMove(view, on - QPoint(0, 40));
    QVERIFY(dlg_->Forces().pull && dlg_->Forces().pull->link == 4);
    QVERIFY2(main_->Strip().Pull().startsWith(QStringLiteral("Pulling link4: ")),
             qPrintable(main_->Strip().Pull()));
    QVERIFY(view->GetPullMarker() && view->GetPullMarker()->newtons > 0.0);
    const panel_test::Vec still = panel_test::State(Arm());
    const uint64_t ticks = Run().Ticks();
    QTest::qWait(100);
    QCOMPARE(panel_test::State(Arm()), still);
    Key(Qt::Key_F6);
    QTRY_COMPARE_WITH_TIMEOUT(Run().Ticks(), ticks + 1, thread_test::kGuardMs);
    QVERIFY(panel_test::State(Arm()) != still);
    // The wheel while pulling makes the spring stiffer and zooms nothing.
    const double stiffness = dlg_->Forces().pull->stiffness;
    const COglWnd::Point3 eye = view->Eye();
    QWheelEvent wheel(QPointF(on), view->mapToGlobal(QPointF(on)), QPoint(), QPoint(0, 120),
                      Qt::LeftButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
    QVERIFY(dlg_->Forces().pull->stiffness > stiffness);
    QCOMPARE(view->Eye().x, eye.x);
    Key(Qt::Key_F5);
    WaitTicks(20);
    const double moved = Arm().links[3]->q;
    QVERIFY(std::abs(moved - still[3]) > 1e-3);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ControlModifier, on - QPoint(0, 40));
    QVERIFY(!dlg_->Forces().pull && !view->GetPullMarker());
    QVERIFY(main_->Strip().Pull().isEmpty());
  }

  void pauseStepAndSlowMotion() {
    QTest::mouseClick(window_->View(), Qt::LeftButton, {}, QPoint(50, 50));
    QTest::keyClick(window_->View(), Qt::Key_F5);
    QCOMPARE(Run().State(), RunState::kPaused);
    Settle();  // a tick in progress at the pause is still shown
    const uint64_t ticks = Run().Ticks();
    const QString angles = Edit(kIdJointAngle)->text();
    QTest::qWait(100);
    QCOMPARE(Run().Ticks(), ticks);
    QCOMPARE(Edit(kIdJointAngle)->text(), angles);
    Key(Qt::Key_F6);
    QTRY_COMPARE_WITH_TIMEOUT(Run().Ticks(), ticks + 1, thread_test::kGuardMs);
    QTest::qWait(50);
    QCOMPARE(Run().Ticks(), ticks + 1);
    QVERIFY(Edit(kIdJointAngle)->text() != angles);
    QCOMPARE(Edit(kIdJointTorque)->text(), QString::fromStdString(panel_test::kSixZeros));

    // The pace of each speed is the clock's, tested with a clock of the test's (run_control_test);
    // here the keys reach it, and the run goes on at the new speed.
    Key(Qt::Key_F7);
    Key(Qt::Key_F7);
    Key(Qt::Key_F5);
    main_->RefreshStrip();
    QVERIFY(main_->Strip().Status().contains(QLatin1String("speed 1/4    running")));
    QCOMPARE(QString::fromStdString(Run().SpeedText()), QStringLiteral("1/4"));
    ShownTick tick;
    QVERIFY(TickShown(NextTick() + 2, tick));
  }

  // A recording is velmoth-sim's run, byte for byte, however the ticks came: single steps while
  // paused, then running with the clock, through a stall that made it deliver them in a burst. Its
  // tick column counts from the start of the recording, and the panel shows the last row's numbers.
  void aRecordingIsVelmothSimsRun() {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("run.csv"));
    Key(Qt::Key_F5);
    Input(kIdJointTorque, QStringLiteral("1, -2, 0.5"));
    Click(kIdSetTorque);
    Click(kIdReset);
    QVERIFY(main_->StartRecording(file));
    for (int i = 0; i < 5; ++i) {
      Key(Qt::Key_F6);
      QTRY_COMPARE_WITH_TIMEOUT(main_->Recording().Rows(), uint64_t(i + 1), thread_test::kGuardMs);
    }
    Key(Qt::Key_F5);
    AfterOnTimeTick();
    QThread::msleep(95);
    AfterNextTick();
    WaitTicks(20);
    Key(Qt::Key_F5);
    main_->RefreshStrip();
    const uint64_t rows = main_->Recording().Rows();
    QVERIFY(main_->Strip().Note().contains(QStringLiteral("%1: %2 ticks").arg(file).arg(rows)));
    Key(Qt::Key_F10);  // stops the recording
    QVERIFY(!main_->Recording().Recording());
    QVERIFY(main_->Strip().Note().startsWith(QLatin1String("Recorded")));

    QFile recorded(file);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    QProcess sim;
    sim.start(QStringLiteral(VELMOTH_SIM),
              {QStringLiteral("run"), QStringLiteral("--torque"), QStringLiteral("1, -2, 0.5"),
               QStringLiteral("--ticks"), QString::number(rows)});
    QVERIFY(sim.waitForFinished(thread_test::kGuardMs));
    const QByteArray expected = sim.readAllStandardOutput();
    QVERIFY(rows > 30 && expected.count('\n') == qsizetype(rows + 1));
    QCOMPARE(recorded.readAll(), expected);
    panel_test::Vec last;
    for (const QByteArray& number : expected.trimmed().split('\n').back().split(',')) {
      last.push_back(number.toDouble());
    }
    QCOMPARE(Edit(kIdJointAngle)->text(), QString::fromStdString(panel_test::RowText(last, 2)));
    QCOMPARE(Edit(kIdTotalEnergy)->text(), QString::fromStdString(NumberText(last.at(28))));
  }

  // A recording started in the middle of a run on a step that carries state from tick to tick,
  // while a tick is still being computed, and switched while it records, is what velmoth-sim
  // prints from its replay.
  void aRecordingStartedMidRunIsItsReplay() {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("mid.csv"));
    main_->EngineChoice()->setCurrentText(QStringLiteral("recursive"));
    main_->IntegratorChoice()->setCurrentText(QStringLiteral("implicit"));
    WaitTicks(20);
    PhysicsThread& physics = *dlg_->m_pPhysics;
    physics.Hold(true);
    QTRY_VERIFY_WITH_TIMEOUT(physics.Holding(), thread_test::kGuardMs);
    QVERIFY(main_->StartRecording(file));
    physics.Hold(false);
    WaitTicks(10);
    main_->SubstepsChoice()->setCurrentText(QStringLiteral("x 2"));
    Click(kIdReset);
    WaitTicks(10);
    Key(Qt::Key_F10);
    QVERIFY(main_->Strip().Note().startsWith(QLatin1String("Recorded")));
    QFile recorded(file);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    QProcess sim;
    sim.start(QStringLiteral(VELMOTH_SIM), {QStringLiteral("run"), QStringLiteral("--replay"),
                                            file + QStringLiteral(".replay")});
    QVERIFY(sim.waitForFinished(thread_test::kGuardMs));
    QCOMPARE(sim.exitCode(), 0);
    // The implicit step may leave the energy balance off by more than its allowance, depending on
    // how far the arm had fallen when the recording started, which depends on the machine's pace;
    // velmoth-sim then says so, as the window does, and the run goes on. It says nothing else.
    for (const QByteArray& line : sim.readAllStandardError().split('\n')) {
      QVERIFY2(line.isEmpty() || (line.startsWith("velmoth-sim: warning: tick ") &&
                                  line.contains(" left the energy balance off by ")),
               line.constData());
    }
    QCOMPARE(sim.readAllStandardOutput(), recorded.readAll());
  }

  // A recording through the control lab's changes, made while the arm runs and while it is paused
  // (a law chosen from its list, a target typed, the rate, a slider's target while running and its
  // pose while paused, the typed torques alone again), is what velmoth-sim prints from its replay.
  void aRecordingThroughTheLabsChangesIsItsReplay() {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("lab.csv"));
    main_->EngineChoice()->setCurrentText(QStringLiteral("recursive"));
    main_->IntegratorChoice()->setCurrentText(QStringLiteral("dopri5"));
    Key(Qt::Key_F4);
    ControlPanel& controls = main_->Lab()->Controls();
    TeachPanel& teach = main_->Lab()->Teach();
    const auto choose = [&](ControlForm::Field field, const QString& item) {
      auto* choice = qobject_cast<QComboBox*>(controls.FieldWidget(field));
      const int index = choice->findData(item);
      while (index >= 0 && choice->currentIndex() != index) {
        QTest::keyClick(choice, choice->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
      }
    };
    QVERIFY(main_->StartRecording(file));
    WaitTicks(5);
    choose(ControlForm::kController, QStringLiteral("pd"));
    WaitTicks(10);
    auto* target = qobject_cast<QLineEdit*>(controls.FieldWidget(ControlForm::kTarget));
    target->setFocus();
    QTest::keyClicks(target, QStringLiteral("0.3, -0.2, 0.1"));
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(dlg_->GetController().target, (std::vector<double>{0.3, -0.2, 0.1, 0, 0, 0}));
    WaitTicks(10);
    choose(ControlForm::kRate, QStringLiteral("1000"));
    QCOMPARE(dlg_->GetController().samples, 10);
    WaitTicks(10);
    QTest::keyClick(teach.Slider(3), Qt::Key_PageUp);
    WaitTicks(10);
    Key(Qt::Key_F5);
    QTest::keyClick(teach.Slider(0), Qt::Key_PageDown);
    for (int i = 0; i < 3; ++i) {
      const uint64_t before = main_->Recording().Rows();
      Key(Qt::Key_F6);
      QTRY_COMPARE_WITH_TIMEOUT(main_->Recording().Rows(), before + 1, thread_test::kGuardMs);
    }
    Key(Qt::Key_F5);
    WaitTicks(10);
    choose(ControlForm::kController, QStringLiteral("torque"));
    WaitTicks(5);
    Key(Qt::Key_F10);
    QVERIFY(main_->Strip().Note().startsWith(QLatin1String("Recorded")));
    QFile recorded(file);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    QFile replay(file + QStringLiteral(".replay"));
    QVERIFY(replay.open(QIODevice::ReadOnly));
    const QByteArray lines = replay.readAll();
    QVERIFY2(lines.contains(" controller --controller pd --control-rate 1000") &&
                 lines.contains(" reset\n"),
             lines.constData());
    QProcess sim;
    sim.start(QStringLiteral(VELMOTH_SIM), {QStringLiteral("run"), QStringLiteral("--replay"),
                                            file + QStringLiteral(".replay")});
    QVERIFY(sim.waitForFinished(thread_test::kGuardMs));
    QCOMPARE(sim.readAllStandardOutput(), recorded.readAll());
  }

  // A target that cannot be written gives a message naming the file and the reason, and the
  // simulation goes on. Only regular files are recorded to, and a file that could not even take
  // its header (a disk that is full) is not left behind.
  void aRecordingThatCannotBeWrittenSaysWhy_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");  // in the user's language
    QTest::addColumn<int>("sizeLimit");   // bytes a file may grow to, 0 for no limit
    QTest::newRow("device") << QStringLiteral("/dev/full") << QStringLiteral("not a regular file")
                            << 0;
    QTest::newRow("missing folder") << QStringLiteral("/nonexistent-velmoth/run.csv")
                                    << QString::fromLocal8Bit(strerror(ENOENT)) << 0;
    QTest::newRow("full") << QDir::temp().filePath(QStringLiteral("velmoth-full.csv"))
                          << QString::fromLocal8Bit(strerror(EFBIG)) << 16;
  }
  void aRecordingThatCannotBeWrittenSaysWhy() {
    QFETCH(QString, file);
    QFETCH(QString, reason);
    QFETCH(int, sizeLimit);
    {
      const FileSizeLimit limit(sizeLimit);
      QVERIFY(!main_->StartRecording(file));
    }
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].contains(file) && boxes_[0].contains(reason), qPrintable(boxes_[0]));
    boxes_.clear();
    QVERIFY(sizeLimit == 0 || !QFile::exists(file));
    WaitTicks(5);
    QVERIFY(!main_->Recording().Recording());
  }

  // A recording writes the file it was asked for, even under a name that is not UTF-8; at the
  // window's default width the strip keeps the file's name and the tick count in sight and
  // shortens the folder instead.
  void aRecordingKeepsItsNameAndTheStripItsCount() {
    QTemporaryDir folder;
    const QString deep = folder.filePath(QString(100, QLatin1Char('f')) + QStringLiteral("/") +
                                         QString(100, QLatin1Char('g')));
    QVERIFY(QDir().mkpath(deep));
    const std::string file = QFile::encodeName(deep).toStdString() + "/run-\xff\xfe.csv";
    QVERIFY(main_->StartRecording(file));
    WaitTicks(3);
    main_->RefreshStrip();
    const QString shown = main_->Strip().ShownNote();
    const QString count = QStringLiteral(".csv: %1 ticks").arg(main_->Recording().Rows());
    QVERIFY2(shown.startsWith(QLatin1String("Recording /")) &&
                 shown.contains(QLatin1String("/run-")) && shown.endsWith(count) &&
                 main_->Strip().Note().contains(deep),
             qPrintable(shown));
    QLabel* note = nullptr;
    for (QLabel* label : main_->Strip().findChildren<QLabel*>()) {
      note = label->text() == shown ? label : note;
    }
    QVERIFY(note != nullptr &&
            note->fontMetrics().horizontalAdvance(shown) <= note->contentsRect().width());
    Key(Qt::Key_F10);
    struct stat written {};
    QVERIFY(stat(file.c_str(), &written) == 0 && written.st_size > 0);
    std::remove(file.c_str());  // QTemporaryDir cannot name them to remove them
    std::remove((file + ".replay").c_str());
  }

  // The plots follow every tick, at most 30 times a second, stand still while paused, start again
  // with a marker at "Reset" and stop at the last finite point of a run that diverged.
  void livePlots() {
    Key(Qt::Key_F9);
    PlotsWindow* plots = main_->Plots();
    QVERIFY(plots != nullptr && plots->isVisible());
    const auto points = [plots](int chart, int line = 0) {
      return qobject_cast<QLineSeries*>(plots->Chart(chart)->series().at(line))->points();
    };
    WaitTicks(50);
    // However busy the machine, at most 30 drawings a second (a bound slowness cannot break), and
    // the drawings follow the ticks.
    const int refreshes = plots->Refreshes();
    QElapsedTimer wall;
    wall.start();
    QTRY_VERIFY_WITH_TIMEOUT(plots->Refreshes() > refreshes + 2, thread_test::kGuardMs);
    const int drawn = plots->Refreshes() - refreshes;
    QVERIFY2(drawn <= 1 + wall.elapsed() * 30 / 1000, qPrintable(QString::number(drawn)));
    QCOMPARE(plots->Chart(1)->series().size(), 6);
    QVERIFY(points(0).size() > 40 && points(2, 5).size() > 40);

    Key(Qt::Key_F5);
    Settle();
    // The last tick shown is drawn at the next refresh; then, paused, nothing moves.
    QTRY_COMPARE_WITH_TIMEOUT(points(0).back().x(), main_->Traces().Now(), thread_test::kGuardMs);
    const QList<QPointF> paused = points(1);
    QTest::qWait(3 * PlotsWindow::kRefreshMs);
    QCOMPARE(points(1), paused);

    Click(kIdReset);
    ShownTick tick;
    for (int i = 0; i < 20; ++i) {
      QVERIFY(Step(tick));
    }
    QTRY_COMPARE_WITH_TIMEOUT(points(0).back().x(), main_->Traces().Now(), thread_test::kGuardMs);
    const double reset = main_->Traces().Resets().back();
    QVERIFY(points(0).front().x() > reset);
    QCOMPARE(points(0).size(), 20);
    const QList<QPointF> marker = points(0, 5);  // the five energies, then the marker
    QVERIFY(marker.size() == 2 && marker[0].x() == reset && marker[1].x() == reset);

    Input(kIdJointTorque, QStringLiteral("1e308"));
    Click(kIdSetTorque);
    Key(Qt::Key_F5);
    QTRY_COMPARE_WITH_TIMEOUT(Run().State(), RunState::kDiverged, thread_test::kGuardMs);
    plots->Refresh();
    QVERIFY(std::isfinite(points(0).back().y()));
    QVERIFY(points(0).back().x() < main_->Traces().Now());
    Key(Qt::Key_F9);
    QTRY_VERIFY_WITH_TIMEOUT(main_->Plots() == nullptr, thread_test::kGuardMs);
  }

  // A screenshot that cannot be written whole (a disk that fills) leaves no file behind, not even
  // a cut-off one, and says why; the strip does not claim it.
  void aScreenshotThatCannotBeWrittenLeavesNothing() {
    QTemporaryDir folder;
    main_->SetOutputFolder(folder.path());
    {
      const FileSizeLimit limit(64);
      QVERIFY(main_->TakeScreenshot().isEmpty());
    }
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].contains(folder.path()) &&
                 boxes_[0].contains(QString::fromLocal8Bit(strerror(EFBIG))),
             qPrintable(boxes_[0]));
    boxes_.clear();
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(!main_->Strip().Note().startsWith(QLatin1String("Screenshot")));
    // A folder that cannot be made (the system's own files take none) is named with the reason
    // it cannot, not with the file's, which would be that the folder does not exist.
    const int unmade = mkdir("/sys/velmoth-test", 0777) == 0 ? 0 : errno;
    QVERIFY(unmade != 0 && unmade != ENOENT);
    main_->SetOutputFolder(QStringLiteral("/sys/velmoth-test/pictures"));
    QVERIFY(main_->TakeScreenshot().isEmpty());
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].contains(main_->OutputFolder()) &&
                 boxes_[0].contains(QString::fromLocal8Bit(strerror(unmade))),
             qPrintable(boxes_[0]));
    boxes_.clear();
  }

  // The plots are drawn anew only when the trace changed: not while nothing ticks, nor for ticks
  // after the trace stopped at a divergence; once after new ticks, a divergence or a "Reset".
  void thePlotsDoNotRedrawWhileNothingChanges() {
    TraceBuffer trace;
    PlotsWindow plots(trace);
    plots.show();
    std::unique_ptr<Robot> robot = MakeBuiltInRobot();
    matrix<double> zero(6, 1);
    zero.SetZero();  // a new matrix holds whatever its memory held
    const auto tick = [&] { trace.OnTick(TickResult{*robot, kIdForward, zero, zero}); };
    int drawn = plots.Refreshes();  // the first drawing
    // What changes, then whether that draws the plots anew.
    const std::pair<std::function<void()>, bool> steps[] = {
        {[] {}, false},
        {[&] { tick(), tick(); }, true},
        {[] {}, false},
        {[&] { robot->kineticEnergy = NAN, tick(); }, true},  // a divergence
        {[&] { robot->kineticEnergy = 0.0, tick(), tick(); }, false},
        {[&] { trace.OnResetJointState(*robot); }, true},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
      steps[i].first();
      plots.Refresh();
      plots.Refresh();
      QTest::qWait(2 * PlotsWindow::kRefreshMs);  // its own timer too
      drawn += steps[i].second ? 1 : 0;
      QVERIFY2(plots.Refreshes() == drawn, qPrintable(QString::number(i)));
    }
  }

  // F11 saves the view's picture at its pixel size in the output folder and says where; Home and
  // a double-click fit the arm into the view, Shift+Home restores the start, and Home in an edit
  // field stays the edit's own.
  void screenshotAndCamera() {
    QTemporaryDir folder;
    main_->SetOutputFolder(folder.path());
    Key(Qt::Key_F11);
    const QString note = main_->Strip().Note();
    QVERIFY2(note.startsWith(QStringLiteral("Screenshot: %1/velmoth-").arg(folder.path())),
             qPrintable(note));
    const QImage picture(note.mid(12));
    QCOMPARE(picture.size(), window_->View()->size() * window_->View()->devicePixelRatio());

    COglWndCustom* view = window_->View();
    // Home and Shift+Home act wherever the focus is, an edit field too, and leave its text alone.
    Edit(kIdJointTorque)->setText(QStringLiteral("1, 2"));
    Edit(kIdJointTorque)->setCursorPosition(3);
    QVERIFY(view->AtStart());
    const COglWnd::Point3 eye = view->Eye(), center = view->Center();
    const auto atStart = [&] {
      return view->Eye().x == eye.x && view->Eye().z == eye.z && view->Center().z == center.z &&
             view->AtStart();
    };
    Key(Qt::Key_Home);
    QVERIFY(!atStart());
    QCOMPARE(Edit(kIdJointTorque)->text(), QStringLiteral("1, 2"));
    QTest::keyClick(Edit(kIdJointTorque), Qt::Key_Home, Qt::ShiftModifier);
    QVERIFY(atStart());
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::keyClick(view, Qt::Key_Home);
    QVERIFY(!atStart());
    QTest::keyClick(view, Qt::Key_Home, Qt::ShiftModifier);
    QVERIFY(atStart());
    QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(50, 50));
    QVERIFY(!atStart());
    // The built-in arm has no shapes: F12 changes nothing.
    QVERIFY(!main_->ShapesButton()->isEnabled());
    Key(Qt::Key_F12);
    QVERIFY(!view->HasShapes());
  }

  // An arm from a file with shapes starts drawn by them, seen from above; F12 (from an edit
  // field) and the strip's button switch to the figure and back.
  void theShapesKeySwitchesBetweenShapesAndFigure() {
    Close();
    const std::string path = VELMOTH_EXAMPLES "/industrial6.urdf";
    ArmSetup arm;
    arm.make = [path] {
      std::string error;
      return LoadUrdfRobot(path, error);
    };
    std::vector<std::string> notices;
    main_ = std::make_unique<MainWindow>(std::move(arm));
    main_->SetShapes(
        std::make_shared<VisualModel>(LoadUrdfVisuals(path, PackageSearchFor(path, {}), notices)));
    QVERIFY(notices.empty());
    main_->Open();
    window_ = &main_->Window();
    dlg_ = &main_->Dlg();
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    COglWndCustom* view = window_->View();
    QVERIFY(view->HasShapes() && view->ShowShapes() && main_->ShapesButton()->isChecked());
    QVERIFY(view->Eye().z > 0 && view->Eye().y < 0 && view->Eye().x > 0);  // from above, ahead
    Edit(kIdJointTorque)->setFocus();
    Key(Qt::Key_F12);
    QVERIFY(!view->ShowShapes() && !main_->ShapesButton()->isChecked());
    QTest::mouseClick(main_->ShapesButton(), Qt::LeftButton);
    QVERIFY(view->ShowShapes() && main_->ShapesButton()->isChecked());
    WaitFrame();  // painting with them
  }

  // The window opens at once while its meshes are still to be read (a gate holds the loader before
  // its first mesh): the arm drawn as its figure, the strip saying how many are read. A recording
  // made meanwhile, across the meshes' arrival, is its replay byte for byte. Once all are read, the
  // picture is the one of the same arm whose meshes were read before the window opened.
  void meshesArriveWhileTheWindowRuns() {
    Close();
    const std::string path = VELMOTH_EXAMPLES "/industrial6.urdf";
    const auto make = [path] {
      ArmSetup arm;
      arm.make = [path] {
        std::string error;
        return LoadUrdfRobot(path, error);
      };
      arm.simArm = {{"--urdf", path}};
      arm.gravity = "0, 0, 0";  // at rest, so that the two pictures are of one pose
      return arm;
    };
    std::string text;
    QVERIFY(ReadUrdfFile(path, text).empty());
    std::mutex mutex;
    std::condition_variable opened;
    bool go = false;
    ShapeLoader* loader = nullptr;
    auto shapes = std::make_unique<UrdfShapes>(text, path, PackageSearchFor(path, {}));
    std::unique_lock<std::mutex> making(mutex);  // the gate sees the loader once it is made
    auto owned = std::make_unique<ShapeLoader>(std::move(shapes), [&](std::size_t) {
      std::unique_lock<std::mutex> lock(mutex);
      while (!opened.wait_for(lock, std::chrono::milliseconds(1),
                              [&] { return go || loader->Stopping(); })) {
      }
    });
    loader = owned.get();
    making.unlock();
    main_ = std::make_unique<MainWindow>(make());
    main_->SetShapeLoader(std::move(owned));
    main_->Open();
    window_ = &main_->Window();
    dlg_ = &main_->Dlg();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    COglWndCustom* view = window_->View();
    QVERIFY(main_->Strip().Notices().contains(QStringLiteral("meshes: 0 of 7")));
    QVERIFY(view->HasShapes() && view->ShownShapes()->shapes.empty());  // all figure
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("loading.csv"));
    QVERIFY(main_->StartRecording(file));
    WaitTicks(10);
    {
      const std::lock_guard<std::mutex> lock(mutex);
      go = true;
    }
    opened.notify_all();
    QTRY_VERIFY_WITH_TIMEOUT(main_->Loader()->Latest().finished, thread_test::kGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(main_->Strip().Notices().isEmpty(), thread_test::kGuardMs);
    QCOMPARE(view->ShownShapes()->shapes.size(), std::size_t(7));
    WaitTicks(10);
    main_->ToggleRecording();  // stops it
    QVERIFY(!main_->Recording().Recording());
    QFile recorded(file);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    QProcess sim;
    sim.start(QStringLiteral(VELMOTH_SIM), {QStringLiteral("run"), QStringLiteral("--replay"),
                                            file + QStringLiteral(".replay")});
    QVERIFY(sim.waitForFinished(thread_test::kGuardMs));
    QCOMPARE(sim.readAllStandardError(), QByteArray());
    QCOMPARE(recorded.readAll(), sim.readAllStandardOutput());
    Run().TogglePause();  // paused: the arm rests for the pictures
    const QImage loaded = view->GrabFrame();
    const QSize size = window_->size();
    Close();

    std::vector<std::string> notices;
    main_ = std::make_unique<MainWindow>(make());
    main_->SetShapes(
        std::make_shared<VisualModel>(LoadUrdfVisuals(path, PackageSearchFor(path, {}), notices)));
    main_->Open();
    window_ = &main_->Window();
    dlg_ = &main_->Dlg();
    window_->resize(size);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    Run().TogglePause();
    QCOMPARE(window_->View()->GrabFrame(), loaded);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetUpApplication();
  DialogEndToEnd test;
  const int failures = QTest::qExec(&test, argc, argv);
  PinLoadedGlDrivers();
  return failures;
}

#include "dialog_qtest.moc"
