// The control lab in the real main window, its tick timer running: its room on a 1366 x 768
// screen with arms of 1 to 24 joints, the teach panel posing the paused arm and setting the running
// law's target, the strip naming the joints whose torques saturate, and the plots of the
// reference, the error and the torques. Each test waits for the tick that carries what it looks
// for (the ticks come numbered), never for a time. Needs a display (Xvfb in CI).
#include <QAbstractButton>
#include <QApplication>
#include <QChart>
#include <QComboBox>
#include <QLineEdit>
#include <QLineSeries>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/velmoth_app.h"
#include "app/velmoth_dlg.h"
#include "app/windows/control_panel.h"
#include "app/windows/lab_panel.h"
#include "app/windows/main_window.h"
#include "app/windows/teach_panel.h"
#include "robot/robot.h"
#include "simulation/text_fields.h"
#include "tests/app/eventually.h"
#include "urdf/urdf_loader.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd.h"

namespace {

// The last tick shown and what it took of the controller.
class LastTick : public TickListener {
 public:
  void OnTick(const TickResult& tick) override {
    ++shown;
    serial = tick.serial;
    if (tick.inputs != nullptr) {
      controller = tick.inputs->controller;
    }
    started = tick.referenceStart != nullptr ? std::optional(*tick.referenceStart) : std::nullopt;
    work = tick.robot.work;
    dissipated = tick.robot.dissipated;
    startEnergy = tick.robot.startEnergy;
    energy = tick.robot.kineticEnergy + tick.robot.potentialEnergy;
    kinetic = tick.robot.kineticEnergy;
    torque = ValuesOf(tick.torque);
  }
  uint64_t shown = 0;   // ticks shown
  uint64_t serial = 0;  // the last one's number (a tick dropped at a pause leaves a gap)
  ControllerSettings controller;
  std::optional<ReferenceStart> started;
  double work = 0.0, dissipated = 0.0, startEnergy = 0.0, energy = 0.0, kinetic = 0.0;
  std::vector<double> torque;  // applied
};

}  // namespace

class LabEndToEnd : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindow> main_;
  QtDialogWindow* window_ = nullptr;
  CVelmothDlg* dlg_ = nullptr;
  LastTick last_;
  QStringList boxes_;

  void Open(ArmSetup arm) {
    main_ = std::make_unique<MainWindow>(std::move(arm));
    main_->Open();
    window_ = &main_->Window();
    dlg_ = &main_->Dlg();
    dlg_->AddTickListener(&last_);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
  }
  static ArmSetup File(const char* name) {
    ArmSetup arm;
    arm.make = [name] {
      std::string error;
      return LoadUrdfRobot(std::string(VELMOTH_EXAMPLES "/") + name, error);
    };
    arm.step = DefaultStepOptions(true);
    return arm;
  }
  static ArmSetup Links(int n, ControllerKind kind) {
    ArmSetup arm;
    arm.make = [n] { return MakeBuiltInRobot(n); };
    arm.controller.kind = kind;
    arm.step = DefaultStepOptions(true);
    return arm;
  }
  // A turning joint's slider position in radians, as the teach panel reads it.
  static double Radians(int position) { return position / 10.0 / (180.0 / M_PI); }
  LabPanel& Lab() { return *main_->Lab(); }
  ControlPanel& Controls() { return Lab().Controls(); }
  TeachPanel& Teach() { return Lab().Teach(); }
  RunControl& Run() { return main_->Run(); }
  Robot& Arm() { return *dlg_->m_pRobot; }
  void Key(int key) { QTest::keyClick(window_->Control(kIdJointTorque), Qt::Key(key)); }
  // Runs the event loop until the tick after `serial` has been shown.
  void WaitPast(uint64_t serial) {
    QTRY_VERIFY_WITH_TIMEOUT(last_.serial > serial, thread_test::kGuardMs);
  }
  // Pauses and waits until no tick is left to show.
  void Pause() {
    Key(Qt::Key_F5);
    QCOMPARE(Run().State(), RunState::kPaused);
    QTRY_VERIFY_WITH_TIMEOUT(dlg_->m_pPhysics->Outstanding() == 0, thread_test::kGuardMs);
  }
  // Chooses an entry of one of the controller's lists as a user does, with the keyboard.
  void Choose(ControlForm::Field field, const QString& item) {
    auto* choice = qobject_cast<QComboBox*>(Controls().FieldWidget(field));
    QVERIFY(choice != nullptr && choice->isEnabled());
    const int index = choice->findData(item);
    QVERIFY(index >= 0);
    choice->setFocus();
    while (choice->currentIndex() != index) {
      QTest::keyClick(choice, choice->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
    }
  }
  // Types into one of the controller's fields and presses Enter.
  void Type(ControlForm::Field field, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(Controls().FieldWidget(field));
    QVERIFY(edit != nullptr && edit->isEnabled());
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }

 private slots:
  void initTestCase() {
    COglWnd::SetMessageHook([this](const QString& text) { boxes_.append(text); });
    QtDialogWindow::SetMessageBoxHook(
        [this](QWidget*, const QString& text) { boxes_.append(text); });
  }

  void cleanup() {
    if (dlg_ != nullptr) {
      dlg_->RemoveTickListener(&last_);
    }
    main_.reset();
    window_ = nullptr;
    dlg_ = nullptr;
    last_ = LastTick();
    QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(QLatin1Char('\n'))));
    boxes_.clear();
  }

  // On a screen of 1366 x 768 the window with the lab fits whole: the panel's controls beside the
  // lab, not under it, the view as wide as the rest and most of the height, the controller's
  // fields in sight; a slider per joint, every one within reach, scrolling only where the arm has
  // more joints than the room shows.
  void theLabFitsAScreenOf1366By768_data() {
    QTest::addColumn<int>("joints");
    QTest::newRow("1 joint") << 1;
    QTest::newRow("6 joints") << 6;
    QTest::newRow("24 joints") << 24;
    QTest::newRow("40 joints") << 40;
  }
  void theLabFitsAScreenOf1366By768() {
    QFETCH(int, joints);
    Open(Links(joints, ControllerKind::kPd));
    QVERIFY(!Lab().isHidden());
    // The screen less a title bar of 30 pixels.
    window_->resize(1366, 738);
    QTRY_COMPARE_WITH_TIMEOUT(window_->size(), QSize(1366, 738), thread_test::kGuardMs);
    const QRect lab = Lab().geometry();
    QCOMPARE(lab.right(), window_->width() - 1);
    QCOMPARE(lab.top(), 0);
    QCOMPARE(lab.bottom() + 1, main_->Strip().geometry().top());
    for (const ControlTemplate& control : kMainDialogTemplate.controls) {
      if (control.id != kStaticId) {
        QVERIFY2(window_->Control(control.id)->geometry().right() < lab.left(),
                 qPrintable(QString::number(control.id)));
      }
    }
    const QRect view = window_->ViewWidget()->geometry();
    QTRY_COMPARE_WITH_TIMEOUT(
        window_->ViewWidget()->geometry(),
        QRect(0, kViewTop, lab.left(), main_->Strip().geometry().top() - kViewTop),
        thread_test::kGuardMs);
    QVERIFY2(view.width() >= 900 && view.height() >= 450,
             qPrintable(QStringLiteral("%1 x %2").arg(view.width()).arg(view.height())));
    for (int f = 0; f < ControlForm::kFieldCount; ++f) {
      QWidget* field = Controls().FieldWidget(static_cast<ControlForm::Field>(f));
      const QRect at(field->mapTo(&Lab(), QPoint(0, 0)), field->size());
      QVERIFY2(Lab().rect().contains(at), qPrintable(QString::number(f)));
    }
    QCOMPARE(Teach().Sliders(), std::size_t(joints));
    const QScrollArea* area = Teach().SliderArea();
    QVERIFY(area->height() >= 8 * Teach().Slider(0)->height());
    qInfo("%d joints: the sliders' list %d px high in %d px", joints,
          area->widget()->sizeHint().height(), area->viewport()->height());
    QCOMPARE(area->verticalScrollBar()->maximum() > 0, joints > 24);
    const_cast<QScrollArea*>(area)->ensureWidgetVisible(Teach().Slider(std::size_t(joints - 1)));
    QTRY_VERIFY_WITH_TIMEOUT(!Teach().Slider(std::size_t(joints - 1))->visibleRegion().isEmpty(),
                             thread_test::kGuardMs);
    // Hidden, the lab gives the view its width back.
    Key(Qt::Key_F4);
    QVERIFY(Lab().isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(window_->ViewWidget()->width(), window_->width(),
                              thread_test::kGuardMs);
  }

  // Paused, a slider puts the arm in its pose at rest at once; the next tick (F6) starts from
  // there, its energy balance afresh: no work, nothing dissipated, the energy it starts from the
  // pose's, at rest.
  void theTeachPanelPosesThePausedArm() {
    Open(Links(6, ControllerKind::kGravity));
    const uint64_t before = last_.serial;
    WaitPast(before);
    Pause();
    QSlider* slider = Teach().Slider(2);
    slider->setFocus();
    const std::vector<double> q = ValuesOf(Arm().GetJointAngles());
    const int was = slider->value();
    QTest::keyClick(slider, Qt::Key_PageUp);
    QCOMPARE(slider->value(), was + 100);  // 10 degrees
    QCOMPARE(Arm().links[2]->q, Radians(slider->value()));
    QCOMPARE(Arm().links[2]->qd, 0.0);
    for (int i : {0, 1, 3, 4, 5}) {
      QCOMPARE(Arm().links[static_cast<std::size_t>(i)]->q, q[static_cast<std::size_t>(i)]);
    }
    QVERIFY2(Teach().ValueText(2).endsWith(QStringLiteral("\u00b0")),
             qPrintable(Teach().ValueText(2)));
    QVERIFY(Teach().ModeText().contains(QLatin1String("pose")));
    const uint64_t paused = last_.serial;
    const uint64_t shown = last_.shown;
    Key(Qt::Key_F6);
    WaitPast(paused);
    QCOMPARE(last_.shown, shown + 1);
    QCOMPARE(last_.kinetic, 0.0);
    QCOMPARE(last_.work, 0.0);
    QCOMPARE(last_.dissipated, 0.0);
    QCOMPARE(last_.startEnergy, last_.energy);
    // Gravity compensation holds the pose.
    QVERIFY(std::abs(Arm().links[2]->q - Radians(slider->value())) < 1e-9);
  }

  // Running with computed torque, a slider sets the target: the ticks from the one that takes it
  // follow a reference that starts afresh there, to the joint's new target and the others' old one,
  // and the arm gets there; the target field shows it. Typed into the field, a target does the
  // same.
  void theTeachPanelSetsTheRunningLawsTarget() {
    Open(Links(3, ControllerKind::kTorque));
    QVERIFY(Lab().isHidden());
    Key(Qt::Key_F4);
    QVERIFY(!Lab().isHidden());
    Choose(ControlForm::kController, QStringLiteral("computed-torque"));
    QCOMPARE(dlg_->GetController().kind, ControllerKind::kComputedTorque);
    QTRY_VERIFY_WITH_TIMEOUT(
        last_.controller.kind == ControllerKind::kComputedTorque && last_.started,
        thread_test::kGuardMs);
    const std::vector<double> held = last_.started->from;
    QVERIFY(Teach().ModeText().contains(QLatin1String("target")));
    QSlider* slider = Teach().Slider(1);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_PageDown);
    std::vector<double> target = held;
    target[1] = Radians(slider->value());
    QCOMPARE(dlg_->GetController().target, target);
    auto* field = qobject_cast<QLineEdit*>(Controls().FieldWidget(ControlForm::kTarget));
    QCOMPARE(field->text().toStdString(), VectorText(ColumnOf(target)));
    QTRY_VERIFY_WITH_TIMEOUT(last_.controller.target == target && last_.started,
                             thread_test::kGuardMs);
    QCOMPARE(last_.started->ticks + 1 <= last_.serial, true);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(Arm().links[1]->q - target[1]) < 1e-3, thread_test::kGuardMs);

    Type(ControlForm::kTarget, QStringLiteral("0.5, 0, -0.25"));
    QCOMPARE(dlg_->GetController().target, (std::vector<double>{0.5, 0.0, -0.25}));
    QVERIFY(Controls().Status().startsWith(
        QLatin1String("computed-torque to 0.5, 0, -0.25 along a quintic")));
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(Arm().links[2]->q + 0.25) < 1e-3, thread_test::kGuardMs);
    QCOMPARE(Teach().Slider(0)->value(), 286);  // 0.5 rad, the target's
  }

  // A law whose torques reach the joints' efforts, with the efforts on: the strip names the joints
  // that saturate, those whose torque the tick cut at the effort at any of its samples; and none
  // once the efforts are off. The first joint's target lies a radian beyond its upper limit (2.97):
  // its torque is cut from the first tick on and, once it rests there, at the start of every tick,
  // while the others come to rest at their targets held within their efforts. Which tick the
  // window shows last when the check runs depends on the machine; the state at rest does not.
  void theStripNamesTheJointsThatSaturate() {
    ArmSetup arm = File("industrial6.urdf");
    arm.effortLimits = true;
    arm.controller.kind = ControllerKind::kPd;
    arm.controller.target = {4.0, 0.5, -0.5, 0.0, 0.0, 0.0};
    arm.controller.trajectory = TrajectoryKind::kStep;
    arm.controller.frequency = 40.0;
    Open(std::move(arm));
    const auto joints = [this] {
      main_->RefreshStrip();
      return main_->Strip().Joints();
    };
    const auto named = [&joints] {
      const QString text = joints();
      const qsizetype at = text.indexOf(QLatin1String("saturated: "));
      return at < 0 ? QStringList() : text.mid(at + 11).split(QStringLiteral(", "));
    };
    const QString first = QString::fromStdString(JointName(Arm(), 0));
    QTRY_VERIFY_WITH_TIMEOUT(named() == QStringList{first}, thread_test::kGuardMs);
    for (std::size_t j = 0; j < Arm().links.size(); ++j) {
      const bool cut = std::abs(last_.torque.at(j)) == Arm().links[j]->effort;
      QVERIFY2(cut == (j == 0), qPrintable(QStringLiteral("%1: %2").arg(j).arg(joints())));
    }
    main_->EffortCheck()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!joints().contains(QLatin1String("saturated")), thread_test::kGuardMs);
  }

  // While a controller acts, the plots show q* dotted beside q in each joint's colour, the error
  // per joint and the torques against the efforts (dotted at +- each effort); the typed torques
  // alone show neither chart.
  void thePlotsShowTheReferenceTheErrorAndTheTorques() {
    ArmSetup arm = File("planar_3link.urdf");
    arm.controller.kind = ControllerKind::kComputedTorque;
    arm.controller.target = {0.5, -0.5, 0.25};
    Open(std::move(arm));
    main_->TogglePlots();
    PlotsWindow* plots = main_->Plots();
    QTRY_VERIFY_WITH_TIMEOUT(plots->ChartShown(4) && plots->ChartShown(5), thread_test::kGuardMs);
    const auto line = [plots](int chart, int j) {
      return qobject_cast<QLineSeries*>(plots->Chart(chart)->series().at(j));
    };
    for (int j = 0; j < 3; ++j) {
      QCOMPARE(line(4, j)->name(), QString::fromStdString(JointName(Arm(), std::size_t(j))));
      QCOMPARE(line(4, j)->pen(), line(1, j)->pen());
      QCOMPARE(line(5, j)->pen(), line(1, j)->pen());
      QCOMPARE(plots->Extras(1).at(std::size_t(j))->pen().color(), line(1, j)->pen().color());
    }
    QCOMPARE(plots->Extras(5).size(), std::size_t{6});  // every joint has an effort
    QTRY_VERIFY_WITH_TIMEOUT(!plots->Extras(1).front()->points().isEmpty(), thread_test::kGuardMs);
    QCOMPARE(plots->Extras(5).front()->points().front().y(), Arm().links[0]->effort);
    QCOMPARE(plots->Extras(5).at(1)->points().front().y(), -Arm().links[0]->effort);
    Choose(ControlForm::kController, QStringLiteral("torque"));
    Click(kIdReset);
    QTRY_VERIFY_WITH_TIMEOUT(!plots->ChartShown(4) && !plots->ChartShown(5), thread_test::kGuardMs);
  }

 private:
  void Click(int id) {
    auto* button = qobject_cast<QAbstractButton*>(window_->Control(id));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetUpApplication();
  LabEndToEnd test;
  const int failures = QTest::qExec(&test, argc, argv);
  PinLoadedGlDrivers();
  return failures;
}

#include "lab_qtest.moc"
