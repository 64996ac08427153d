// The real dialog end to end, with its own tick timer running: typing, clicking, resizing, the
// keys that may or may not end it, the order of its teardown, and abuse of its inputs. Needs a
// display (Xvfb in CI); meant for the sanitizer build, which turns a use after free into a failure.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPointer>
#include <QSurfaceFormat>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstring>
#include <memory>

#include "app/dialog_template.h"
#include "app/qt_dialog_window.h"
#include "app/text_fields.h"
#include "app/velmoth_app.h"
#include "app/velmoth_dlg.h"
#include "robot/robot.h"
#include "tests/app/gl_driver_pin.h"
#include "view/ogl_wnd.h"

namespace {

constexpr int kEditIds[] = {kIdKineticEnergy,   kIdPotentialEnergy, kIdTotalEnergy,
                            kIdJointAngle,      kIdJointTorque,     kIdJointAccel,
                            kIdViscousFriction, kIdCoulombFriction, kIdGravity};

bool StateIsFinite(const Robot& robot) {
  for (const auto& link : robot.links) {
    if (!std::isfinite(link->q) || !std::isfinite(link->qd) || !std::isfinite(link->qdd)) {
      return false;
    }
  }
  return true;
}

}  // namespace

class DialogEndToEnd : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QtDialogWindow> window_;
  std::unique_ptr<CVelmothDlg> dlg_;
  QStringList boxes_;  // texts of the message boxes shown

  QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(window_->Control(id)); }
  QAbstractButton* Button(int id) { return qobject_cast<QAbstractButton*>(window_->Control(id)); }
  Robot& Arm() { return *dlg_->m_pRobot; }
  COglWnd* View() { return qobject_cast<COglWnd*>(window_->ViewWidget()); }

  void Click(int id) {
    QAbstractButton* b = Button(id);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
  }

  void TypeInto(int id, const QString& text) {
    QLineEdit* e = Edit(id);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, text);
  }

  void PasteInto(int id, const QString& text) {
    QLineEdit* e = Edit(id);
    QGuiApplication::clipboard()->setText(text);
    e->setFocus();
    e->selectAll();
    QTest::keySequence(e, QKeySequence::Paste);
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
    window_ = std::make_unique<QtDialogWindow>(kMainDialogTemplate);
    dlg_ = std::make_unique<CVelmothDlg>(*window_);
    window_->InitDialog(*dlg_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    // As the application does: the window's end reaches the dialog's logic, which goes first.
    if (window_ != nullptr) {
      window_->DestroyDialog();
    }
    dlg_.reset();
    window_.reset();
    QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(QLatin1Char('\n'))));
  }

  void startsInForwardModeAndTheArmFalls() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("Velmoth"));
    QVERIFY(!window_->windowIcon().isNull());
    // A window of its own in the task bar, resizable, with a close button and no other.
    QCOMPARE(window_->windowType(), Qt::Window);
    const Qt::WindowFlags flags = window_->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(window_->minimumSize() != window_->maximumSize());
    QCOMPARE(window_->focusWidget(), window_->Control(kIdKineticEnergy));
    QVERIFY(View() != nullptr && View()->isVisible());
    QCOMPARE(View()->geometry(), QRect(0, 130, window_->width(), window_->height() - 130));
    QTRY_VERIFY(View()->IsGlReady());
    // The panel's controls lie above the view.
    for (int id : kEditIds) {
      QVERIFY(window_->Control(id)->geometry().bottom() < 130);
    }
    QTRY_VERIFY(!Edit(kIdJointAccel)->text().isEmpty());
    RunTicks(5);
    QVERIFY(Arm().links[0]->q < 0.0);  // the base joint turns the arm down towards -z
    QVERIFY(Edit(kIdJointAngle)->text() != VectorText(matrix<double>(6)).c_str());
  }

  void tabOrderFollowsTheTemplate() {
    QList<QWidget*> expected;
    for (const ControlTemplate& c : kMainDialogTemplate.controls) {
      if (c.style & kStyleTabStop) {
        expected.append(window_->Control(c.id));
      }
    }
    QList<QWidget*> chain;
    for (QWidget* w = expected.first(); chain.size() < expected.size(); w = w->nextInFocusChain()) {
      if (expected.contains(w)) {
        chain.append(w);
      }
    }
    QCOMPARE(chain, expected);
    QCOMPARE(window_->Control(kIdForward)->focusPolicy(), Qt::ClickFocus);
  }

  void controlTextIsReadWithinTheBuffer_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("read");
    QTest::newRow("fits") << QStringLiteral("1, 2") << 8 << QByteArray("1, 2");
    QTest::newRow("cut to size - 1") << QStringLiteral("123456") << 4 << QByteArray("123");
    QTest::newRow("size 1") << QStringLiteral("9") << 1 << QByteArray("");
    QTest::newRow("one byte per character")
        << QStringLiteral("\u00e9\u4e00x") << 8 << QByteArray("\xe9?x");
  }

  void controlTextIsReadWithinTheBuffer() {
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(QByteArray, read);
    Edit(kIdGravity)->setText(text);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    QCOMPARE(window_->GetDlgItemText(kIdGravity, buffer, size), read.size());
    QCOMPARE(QByteArray(buffer), read);
    QCOMPARE(buffer[read.size() + 1], '#');  // nothing written past the terminator
    QCOMPARE(window_->GetDlgItemText(kIdGravity, buffer, 0), 0);
    QCOMPARE(window_->GetDlgItemText(4242, buffer, 16), 0);
    QCOMPARE(buffer[0], '\0');
  }

  void withoutOpenGlThePanelStillRuns() {
    window_->DestroyDialog();
    dlg_.reset();
    window_.reset();
    COglWnd::SetFaultHook(
        [](COglWnd::GlStep step) { return step == COglWnd::GlStep::ChooseFormat; });
    window_ = std::make_unique<QtDialogWindow>(kMainDialogTemplate);
    dlg_ = std::make_unique<CVelmothDlg>(*window_);
    window_->InitDialog(*dlg_);
    COglWnd::SetFaultHook(nullptr);
    QCOMPARE(boxes_, QStringList{COglWnd::StepMessage(COglWnd::GlStep::ChooseFormat)});
    boxes_.clear();
    QVERIFY(window_->ViewWidget() == nullptr);
    QVERIFY(dlg_->m_pView == nullptr);
    window_->show();
    window_->resize(700, 500);
    RunTicks(5);
    QVERIFY(Arm().links[0]->q < 0.0);
    QVERIFY(!Edit(kIdJointAngle)->text().isEmpty());
  }

  void resizeKeepsTheViewUnderThePanel_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("larger") << QSize(1300, 1000);
    QTest::newRow("smaller") << QSize(500, 300);
    QTest::newRow("shorter than the panel") << QSize(400, 100);
  }

  void resizeKeepsTheViewUnderThePanel() {
    QFETCH(QSize, size);
    window_->resize(size);
    QTRY_COMPARE(window_->size(), size);
    const QRect expected(0, 130, size.width(), std::max(0, size.height() - 130));
    QTRY_COMPARE(window_->ViewWidget()->geometry(), expected);
    RunTicks(3);  // painting at the new size
  }

  void enterNeitherEndsTheDialogNorClicks_data() {
    QTest::addColumn<int>("id");
    for (int id : kEditIds) {
      QTest::newRow(qPrintable(QString::number(id))) << id;
    }
    QTest::newRow("Reset button") << int{kIdReset};
    QTest::newRow("Set button") << int{kIdSet};
  }

  void enterNeitherEndsTheDialogNorClicks() {
    QFETCH(int, id);
    TypeInto(kIdGravity, QStringLiteral("0, 0, 5"));  // "Set" would make gravity point up
    QWidget* target = window_->Control(id);
    if (!target->isEnabled()) {
      Click(kIdInverse);
    }
    RunTicks(5);
    const double q0 = Arm().links[0]->q;  // the arm is falling, further from 0 with every tick
    target->setFocus();  // key events go straight to the control, active window or not
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(target, key);
    }
    RunTicks(2);
    QVERIFY(window_->isVisible());
    QVERIFY(dlg_->m_pRobot != nullptr);
    QVERIFY(std::abs(Arm().links[0]->q) > std::abs(q0));  // no Reset
    QCOMPARE(Arm().gravity(2, 0), -9.81);                 // no Set
  }

  void escapeEndsTheDialogAndTheViewGoesBeforeTheRobot() {
    QPointer<QWidget> view = View();
    bool robotAliveWhenViewWent = false;
    connect(view, &QObject::destroyed, this,
            [&] { robotAliveWhenViewWent = dlg_->m_pRobot != nullptr; });
    QTest::keyClick(Edit(kIdJointTorque), Qt::Key_Escape);
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->result(), int{QDialog::Rejected});
    // No tick runs after the end.
    const QString angles = Edit(kIdJointAngle)->text();
    QTest::qWait(50);
    QCOMPARE(Edit(kIdJointAngle)->text(), angles);

    window_->DestroyDialog();
    QVERIFY(view.isNull());
    QVERIFY(robotAliveWhenViewWent);
    QVERIFY(dlg_->m_pRobot == nullptr);
    Click(kIdReset);  // nothing left to act on, and nothing breaks
  }

  void closeButtonEndsTheDialog() {
    window_->close();
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->result(), int{QDialog::Rejected});
  }

  void theApplicationRunsTheDialogModallyUntilEscape() {
    window_.reset();
    dlg_.reset();
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
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
  }

  void abusedInputsNeitherCrashNorStick_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("10 000 characters") << QString(10000, QLatin1Char('7'));
    QTest::newRow("10 000 mixed characters") << QStringLiteral("1e308,-x;\t\xe9").repeated(1000);
    QTest::newRow("nan") << QStringLiteral("nan, nan, nan, nan, nan, nan");
    QTest::newRow("inf") << QStringLiteral("inf, -inf, inf");
    QTest::newRow("1e308") << QStringLiteral("1e308, -1e308, 1e308, -1e308, 1e308, -1e308");
  }

  void abusedInputsNeitherCrashNorStick() {
    QFETCH(QString, text);
    for (int id : kEditIds) {
      if (Edit(id)->isEnabled()) {
        PasteInto(id, text);
      }
    }
    QVERIFY(Edit(kIdJointTorque)->text().size() == text.size());
    Click(kIdSetTorque);
    Click(kIdSet);
    RunTicks(10);
    Click(kIdInverse);
    PasteInto(kIdJointAccel, text);
    Click(kIdSetAccel);
    RunTicks(10);
    QVERIFY(!StateIsFinite(Arm()));  // the numbers go non-finite, nothing crashes

    // Sane inputs and "Reset" bring the arm back.
    TypeInto(kIdJointAccel, QStringLiteral("0"));
    Click(kIdSetAccel);
    Click(kIdForward);
    TypeInto(kIdJointTorque, QStringLiteral("0"));
    Click(kIdSetTorque);
    TypeInto(kIdViscousFriction, QStringLiteral("0.1"));
    TypeInto(kIdCoulombFriction, QStringLiteral("0.1"));
    TypeInto(kIdGravity, QStringLiteral("0, 0, -9.81"));
    Click(kIdSet);
    Click(kIdReset);
    RunTicks(5);
    QVERIFY(StateIsFinite(Arm()));
    QVERIFY(std::isfinite(Arm().kineticEnergy + Arm().potentialEnergy));
  }

  void rapidModeSwitchingDuringTicks() {
    for (int i = 0; i < 200; ++i) {
      Click(i % 2 == 0 ? kIdInverse : kIdForward);
      if (i % 10 == 0) {
        QTest::qWait(static_cast<int>(kTickPeriodMs));
      }
      const bool forward = i % 2 == 1;
      QCOMPARE(Edit(kIdJointTorque)->isEnabled(), forward);
      QCOMPARE(Edit(kIdJointAccel)->isEnabled(), !forward);
    }
    RunTicks(3);
    QVERIFY(StateIsFinite(Arm()));
    QVERIFY(window_->IsDlgButtonChecked(kIdForward) == kChecked);
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
