// The real dialog end to end, with its own tick timer running: sessions of typing and clicking,
// abuse of its inputs, resizing, the keys that may or may not end it and the order of its teardown.
// Needs a display (Xvfb in CI); meant for the sanitizer build, which turns a use after free into a
// failure.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPointer>
#include <QSurfaceFormat>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>

#include "app/dialog_template.h"
#include "app/qt_dialog_window.h"
#include "app/velmoth_app.h"
#include "app/velmoth_dlg.h"
#include "robot/robot.h"
#include "tests/app/gl_driver_pin.h"
#include "view/ogl_wnd.h"

namespace {
constexpr int kEditIds[] = {kIdKineticEnergy,   kIdPotentialEnergy, kIdTotalEnergy,
                            kIdJointAngle,      kIdJointTorque,     kIdJointAccel,
                            kIdViscousFriction, kIdCoulombFriction, kIdGravity};
}  // namespace

class DialogEndToEnd : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QtDialogWindow> window_;
  std::unique_ptr<CVelmothDlg> dlg_;
  QStringList boxes_;  // texts of the message boxes shown

  void Open() {
    window_ = std::make_unique<QtDialogWindow>(kMainDialogTemplate);
    dlg_ = std::make_unique<CVelmothDlg>(*window_);
    window_->InitDialog(*dlg_);
  }
  // As the application does: the window's end reaches the dialog's logic, which goes first.
  void Close() {
    if (window_ != nullptr) {
      window_->DestroyDialog();
    }
    dlg_.reset();
    window_.reset();
  }

  QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(window_->Control(id)); }
  Robot& Arm() { return *dlg_->m_pRobot; }
  bool ArmIsFinite() {
    for (const auto& link : Arm().links) {
      if (!std::isfinite(link->q) || !std::isfinite(link->qd) || !std::isfinite(link->qdd)) {
        return false;
      }
    }
    return true;
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
  // Lets the real timer run a few ticks.
  void RunTicks(int count) { QTest::qWait(count * static_cast<int>(kTickPeriodMs) + 20); }

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
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    Close();
    QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(QLatin1Char('\n'))));
  }

  // Each text goes into every edit that takes input, through "Set Torque", "Set", ticks, rapid mode
  // switching and "Set Accel."; then sane inputs and "Reset" bring the arm back.
  void aSessionSurvivesAnyInput_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("finite");
    QTest::newRow("torques") << QStringLiteral("1, 2, 3") << true;
    QTest::newRow("10 000 digits") << QString(10000, QLatin1Char('7')) << false;
    QTest::newRow("mixed characters") << QStringLiteral("1e308,-x;\t\xe9").repeated(1000) << false;
    QTest::newRow("nan") << QStringLiteral("nan, nan, nan, nan, nan, nan") << false;
    QTest::newRow("inf") << QStringLiteral("inf, -inf, inf") << false;
    QTest::newRow("1e308") << QStringLiteral("1e308, -1e308, 1e308, -1e308, 1e308, -1e308")
                           << false;
  }

  void aSessionSurvivesAnyInput() {
    QFETCH(QString, text);
    QFETCH(bool, finite);
    for (int id : kEditIds) {
      if (Edit(id)->isEnabled()) {
        Input(id, text);
      }
    }
    QCOMPARE(Edit(kIdJointTorque)->text(), text);
    Click(kIdSetTorque);
    Click(kIdSet);
    RunTicks(10);
    for (int i = 0; i <= 20; ++i) {  // rapid switching while the ticks run, ending in inverse mode
      Click(i % 2 == 0 ? kIdInverse : kIdForward);
      if (i % 4 == 0) {
        QTest::qWait(static_cast<int>(kTickPeriodMs));
      }
    }
    QVERIFY(Edit(kIdJointAccel)->isEnabled() && !Edit(kIdJointTorque)->isEnabled());
    Input(kIdJointAccel, text);
    Click(kIdSetAccel);
    RunTicks(10);
    QCOMPARE(ArmIsFinite(), finite);

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
    RunTicks(5);
    QVERIFY(ArmIsFinite());
  }

  void theViewKeepsItsPlaceUnderThePanel_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("as started") << QSize();
    QTest::newRow("larger") << QSize(1300, 1000);
    QTest::newRow("a pixel below the panel") << QSize(500, 131);
    QTest::newRow("as high as the panel") << QSize(500, 130);
    QTest::newRow("shorter than the panel") << QSize(400, 100);
  }

  void theViewKeepsItsPlaceUnderThePanel() {
    QFETCH(QSize, size);
    if (size.isValid()) {
      window_->resize(size);
      QTRY_COMPARE(window_->size(), size);
    }
    auto* view = qobject_cast<COglWnd*>(window_->ViewWidget());
    QTRY_VERIFY(view->IsGlReady());
    const QRect expected(0, 130, window_->width(), std::max(0, window_->height() - 130));
    QTRY_COMPARE(view->geometry(), expected);
    for (int id : kEditIds) {
      QVERIFY(window_->Control(id)->geometry().bottom() < 130);  // the panel stays above it
    }
    RunTicks(3);  // painting at that size
  }

  void withoutOpenGlThePanelRunsWithoutAView() {
    Close();
    COglWnd::SetFaultHook(
        [](COglWnd::GlStep step) { return step == COglWnd::GlStep::ChooseFormat; });
    Open();
    COglWnd::SetFaultHook(nullptr);
    QCOMPARE(boxes_, QStringList{COglWnd::StepMessage(COglWnd::GlStep::ChooseFormat)});
    boxes_.clear();
    QVERIFY(window_->ViewWidget() == nullptr && dlg_->m_pView == nullptr);
    window_->show();
    window_->resize(700, 500);
    RunTicks(5);
    QVERIFY(Arm().links[0]->q < 0.0);  // the arm falls
  }

  void enterNeitherEndsTheDialogNorClicks_data() {
    QTest::addColumn<int>("id");
    QTest::newRow("read-out") << int{kIdKineticEnergy};
    QTest::newRow("torques") << int{kIdJointTorque};
    QTest::newRow("accelerations") << int{kIdJointAccel};
    QTest::newRow("gravity") << int{kIdGravity};
    QTest::newRow("Reset button") << int{kIdReset};
    QTest::newRow("Set button") << int{kIdSet};
  }

  void enterNeitherEndsTheDialogNorClicks() {
    QFETCH(int, id);
    Input(kIdGravity, QStringLiteral("0, 0, 5"));  // "Set" would make gravity point up
    QWidget* target = window_->Control(id);
    if (!target->isEnabled()) {
      Click(kIdInverse);
    }
    RunTicks(5);
    const double q0 = Arm().links[0]->q;  // the arm is moving, further from 0 with every tick
    target->setFocus();  // key events go straight to the control, active window or not
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
    RunTicks(2);
    QVERIFY(window_->isVisible());
    QVERIFY(std::abs(Arm().links[0]->q) > std::abs(q0));  // no Reset
    QCOMPARE(Arm().gravity(2, 0), -9.81);                 // no Set
  }

  void escapeEndsTheDialogAndTheViewGoesBeforeTheRobot() {
    QPointer<QWidget> view = window_->ViewWidget();
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

    window_->DestroyDialog();
    QVERIFY(view.isNull() && dlg_->m_pRobot == nullptr);
    QCOMPARE(linksWhenViewWent, std::size_t{6});
    Click(kIdReset);  // nothing left to act on, and nothing breaks
  }

  // The program runs the dialog modally; F1 shows the help, Escape ends the run.
  void theProgramRunsTheDialogModallyWithHelpOnF1() {
    Close();
    bool shown = false;
    QTimer::singleShot(300, [&shown] {
      auto* modal = qobject_cast<QtDialogWindow*>(QApplication::activeModalWidget());
      if (modal == nullptr) {
        QApplication::closeAllWindows();
        return;
      }
      shown = modal->isVisible() && modal->ViewWidget() != nullptr;
      QTest::keyClick(modal, Qt::Key_F1);
      QTest::keyClick(modal, Qt::Key_Escape);
    });
    QCOMPARE(theApp.InitInstance(), false);
    QVERIFY(shown);
    QCOMPARE(boxes_, QStringList{QString::fromLatin1(kHelpText)});
    boxes_.clear();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
  }
};

int main(int argc, char** argv) {
  QSurfaceFormat::setDefaultFormat(COglWnd::SurfaceFormat());
  QApplication app(argc, argv);
  DialogEndToEnd test;
  const int failures = QTest::qExec(&test, argc, argv);
  PinLoadedGlDrivers();
  return failures;
}

#include "dialog_qtest.moc"
