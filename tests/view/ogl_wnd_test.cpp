// COglWnd: navigation through real mouse events, the projection that follows the size, and the
// reporting of GL set-up and teardown failures.
#include <GL/gl.h>

#include <QtTest>
#include <cmath>
#include <memory>
#include <numbers>

#include "tests/view/keep_gl_drivers.h"
#include "view/ogl_wnd.h"

namespace {

class CountingView : public COglWnd {
 public:
  using COglWnd::COglWnd;
  int paints = 0;

 protected:
  void DrawScene() override { ++paints; }
};

using GlStep = COglWnd::GlStep;
const double kInitialDistance = std::sqrt(2.5 * 2.5 + 0.4 * 0.4);

double EyeDistance(const COglWnd& v) {
  const double dx = v.Eye().x - v.Center().x, dy = v.Eye().y - v.Center().y;
  const double dz = v.Eye().z - v.Center().z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void SendWheel(QWidget* w, int delta) {
  QWheelEvent e(QPointF(50, 50), w->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, delta),
                Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

// A move with no button held, as mouse tracking delivers it.
void SendUnheldMove(QWidget* w, QPoint p) {
  QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::NoButton,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

}  // namespace

class OglWndTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!qEnvironmentVariableIsSet("VELMOTH_EXPECT_NO_GL")) {
      QVERIFY(COglWnd::CheckGlPlatform());
      KeepGlDriversLoaded();
    }
  }
  void init() {
    m_messages.clear();
    COglWnd::SetMessageHook([this](const QString& text) { m_messages << text; });
  }
  void cleanup() {
    m_frame.reset();
    COglWnd::SetMessageHook({});
    COglWnd::SetFaultHook({});
  }

  void drag_data();
  void drag();
  void wheel_data();
  void wheel();
  void wheelKeepsTheCamera();
  void projection_data();
  void projection();
  void glFailures_data();
  void glFailures();
  void coreProfileHasNoPicture();
  void noGlPlatform();

 private:
  // A view inside a frame, as the main window holds it, shown and exposed.
  CountingView* ShowView(QSize size = QSize(400, 300), const QSurfaceFormat* format = nullptr) {
    m_frame = std::make_unique<QWidget>();
    m_frame->resize(size + QSize(20, 20));
    auto* view = new CountingView(m_frame.get());
    if (format != nullptr) {
      view->setFormat(*format);
    }
    view->setGeometry(QRect(QPoint(10, 10), size));
    m_frame->show();
    return QTest::qWaitForWindowExposed(m_frame.get()) ? view : nullptr;
  }

  std::unique_ptr<QWidget> m_frame;
  QStringList m_messages;
};

void OglWndTest::drag_data() {
  QTest::addColumn<Qt::MouseButton>("pressed");
  QTest::addColumn<Qt::MouseButton>("released");
  QTest::addColumn<QList<QPoint>>("path");    // the press, then the moves
  QTest::addColumn<QList<double>>("camera");  // spin, tilt, centre y, centre z
  const QList<QPoint> diagonal{{100, 100}, {136, 136}};
  const QList<QPoint> pan{{200, 100}, {100, 200}};
  QTest::newRow("left 36 right, 36 down turns 10 degrees each way")
      << Qt::LeftButton << Qt::LeftButton << diagonal << QList<double>{10, 10, 0, 0.8};
  QTest::newRow("left in steps") << Qt::LeftButton << Qt::LeftButton
                                 << QList<QPoint>{{100, 100}, {118, 110}, {118, 110}, {136, 136}}
                                 << QList<double>{10, 10, 0, 0.8};
  QTest::newRow("right 100 left, 100 down pans +1 in y and z")
      << Qt::RightButton << Qt::RightButton << pan << QList<double>{0, 0, 1, 1.8};
  QTest::newRow("middle changes nothing")
      << Qt::MiddleButton << Qt::MiddleButton << diagonal << QList<double>{0, 0, 0, 0.8};
  QTest::newRow("left ended by a right release")
      << Qt::LeftButton << Qt::RightButton << diagonal << QList<double>{10, 10, 0, 0.8};
  QTest::newRow("right ended by a middle release")
      << Qt::RightButton << Qt::MiddleButton << pan << QList<double>{0, 0, 1, 1.8};
  QTest::newRow("middle ended by a left release")
      << Qt::MiddleButton << Qt::LeftButton << diagonal << QList<double>{0, 0, 0, 0.8};
}

void OglWndTest::drag() {
  QFETCH(Qt::MouseButton, pressed);
  QFETCH(Qt::MouseButton, released);
  QFETCH(QList<QPoint>, path);
  QFETCH(QList<double>, camera);
  CountingView* view = ShowView();
  QVERIFY(view != nullptr);
  view->setMouseTracking(true);
  const auto camera_is = [view](const QList<double>& c) {
    return qAbs(view->Spin() - c[0]) < 1e-12 && qAbs(view->Tilt() - c[1]) < 1e-12 &&
           qAbs(view->Center().y - c[2]) < 1e-12 && qAbs(view->Center().z - c[3]) < 1e-12 &&
           view->Center().x == 0.0 && view->Eye().x == 2.5 && view->Eye().z == 0.4;
  };

  SendUnheldMove(view, QPoint(20, 20));  // no drag: nothing
  QTest::mousePress(view, pressed, Qt::NoModifier, path[0]);
  QCOMPARE(view->MouseMode(), pressed == Qt::LeftButton ? 1 : pressed == Qt::RightButton ? 2 : 3);
  QCOMPARE(m_frame->focusWidget(), view);
  SendUnheldMove(view, QPoint(300, 250));  // a drag without a button held: nothing either
  QCOMPARE(view->LastMouse(), path[0]);
  for (qsizetype i = 1; i < path.size(); ++i) {
    const int paints = view->paints;
    QTest::mouseMove(view, path[i]);
    QCOMPARE(view->LastMouse(), path[i]);
    QTRY_VERIFY(view->paints > paints);  // every move repaints, whatever the mode
  }
  QVERIFY(camera_is(camera));

  QTest::mouseRelease(view, released, Qt::NoModifier, path.back());
  QCOMPARE(view->MouseMode(), 0);
  QCOMPARE(view->LastMouse(), QPoint(0, 0));
  QTest::mouseMove(view, QPoint(10, 290));  // the first button may still be held
  QVERIFY(camera_is(camera));
  if (pressed != released) {
    QTest::mouseRelease(view, pressed, Qt::NoModifier, QPoint(10, 290));
  }
}

void OglWndTest::wheel_data() {
  QTest::addColumn<int>("notches");
  QTest::addColumn<int>("delta");
  QTest::addColumn<double>("factor");
  QTest::newRow("ten notches towards the user") << 10 << -120 << std::pow(0.9, 10);
  QTest::newRow("one notch away") << 1 << 120 << 1.1;
  QTest::newRow("any size of delta is one step") << 2 << -15 << 0.81;
  QTest::newRow("no vertical delta, no step") << 3 << 0 << 1.0;
}

// The eye moves along the line of sight to the look-at point, which stays.
void OglWndTest::wheel() {
  QFETCH(int, notches);
  QFETCH(int, delta);
  QFETCH(double, factor);
  CountingView* view = ShowView();
  QVERIFY(view != nullptr);
  const int paints = view->paints;
  for (int i = 0; i < notches; ++i) {
    SendWheel(view, delta);
  }
  QVERIFY(qAbs(EyeDistance(*view) - factor * kInitialDistance) < 1e-12);
  QVERIFY(qAbs(view->Eye().x - 2.5 * factor) < 1e-12);
  QVERIFY(qAbs(view->Eye().z - (0.8 - 0.4 * factor)) < 1e-12);
  QCOMPARE(view->Eye().y, 0.0);
  QCOMPARE(view->Center().z, 0.8);
  if (factor != 1.0) {
    QTRY_VERIFY(view->paints > paints);
  }
}

// However long the wheel turns, the eye neither collapses onto the look-at point nor runs off to
// infinity, and turning back brings it back along the same line of sight.
void OglWndTest::wheelKeepsTheCamera() {
  CountingView* view = ShowView();
  QVERIFY(view != nullptr);
  for (const int delta : {-120, 120, -120}) {
    for (int i = 0; i < 20000; ++i) {
      SendWheel(view, delta);
    }
    const double d = EyeDistance(*view);
    QVERIFY(delta < 0 ? d > 0.0 && d < 1e-3 : std::isfinite(d) && d > 1e6);
    QVERIFY(qAbs(view->Eye().x / d - 2.5 / kInitialDistance) < 1e-9);
  }
}

void OglWndTest::projection_data() {
  QTest::addColumn<QSize>("size");
  QTest::addColumn<QSize>("viewport");
  QTest::newRow("400 x 300") << QSize(400, 300) << QSize(400, 300);
  QTest::newRow("0 x 0 gives 1 x 1") << QSize(0, 0) << QSize(1, 1);
  QTest::newRow("no width") << QSize(0, 200) << QSize(1, 200);
  QTest::newRow("no height") << QSize(300, 0) << QSize(300, 1);
}

// 45 degrees vertically at the aspect of the viewport; GL keeps matrices in single precision.
void OglWndTest::projection() {
  QFETCH(QSize, size);
  QFETCH(QSize, viewport);
  CountingView* view = ShowView(QSize(500, 350));
  QVERIFY(view != nullptr);
  view->resize(size);
  const double aspect = double(viewport.width()) / viewport.height();
  QCOMPARE(view->ViewportSize(), viewport);
  QCOMPARE(view->Aspect(), aspect);
  view->makeCurrent();
  GLint vp[4] = {};
  glGetIntegerv(GL_VIEWPORT, vp);
  QCOMPARE(QSize(vp[2], vp[3]), viewport);
  GLdouble p[16] = {};
  glGetDoublev(GL_PROJECTION_MATRIX, p);
  const double f = 1.0 / std::tan(std::numbers::pi / 8.0);
  QVERIFY(qAbs(p[5] / f - 1.0) < 1e-6);
  QVERIFY(qAbs(p[0] / (f / aspect) - 1.0) < 1e-6);
}

void OglWndTest::glFailures_data() {
  QTest::addColumn<int>("step");  // -1: no failure
  QTest::addColumn<QString>("atSetUp");
  QTest::addColumn<QString>("atTeardown");
  QTest::newRow("no failure") << -1 << QString() << QString();
  QTest::newRow("format") << int(GlStep::ChooseFormat) << "ChoosePixelFormat failed." << QString();
  QTest::newRow("surface") << int(GlStep::SetFormat) << "SetPixelFormat failed." << QString();
  QTest::newRow("context") << int(GlStep::CreateContext) << "wglCreateContext failed" << QString();
  QTest::newRow("current") << int(GlStep::MakeCurrent) << "wglMakeCurrent failed" << QString();
  QTest::newRow("release") << int(GlStep::ReleaseContext) << QString() << "wglMakeCurrent failed";
  QTest::newRow("lost") << int(GlStep::DeleteContext) << QString() << "wglDeleteContext failed";
}

// Each failure is shown once; after a set-up failure the view never draws and its teardown has
// nothing more to report.
void OglWndTest::glFailures() {
  QFETCH(int, step);
  QFETCH(QString, atSetUp);
  QFETCH(QString, atTeardown);
  COglWnd::SetFaultHook([step](GlStep s) { return int(s) == step; });
  CountingView* view = ShowView();
  QVERIFY(view != nullptr);
  const QStringList setUp = atSetUp.isEmpty() ? QStringList() : QStringList{atSetUp};
  QTRY_COMPARE(m_messages, setUp);
  view->resize(300, 200);
  QTest::qWait(50);
  QCOMPARE(m_messages, setUp);
  QCOMPARE(view->IsGlReady(), atSetUp.isEmpty());
  QCOMPARE(view->paints > 0, atSetUp.isEmpty());
  m_frame.reset();
  QCOMPARE(m_messages, atTeardown.isEmpty() ? setUp : setUp + QStringList{atTeardown});
}

// A real refusal: a core-profile context has no fixed-function pipeline.
void OglWndTest::coreProfileHasNoPicture() {
  QSurfaceFormat core = COglWnd::SurfaceFormat();
  core.setVersion(3, 3);
  core.setProfile(QSurfaceFormat::CoreProfile);
  CountingView* view = ShowView(QSize(300, 200), &core);
  QVERIFY(view != nullptr);
  QTRY_COMPARE(m_messages, QStringList{"ChoosePixelFormat failed."});
  view->repaint();
  QCOMPARE(view->paints, 0);
  m_frame.reset();
  QCOMPARE(m_messages, QStringList{"ChoosePixelFormat failed."});
}

// Run a second time by the test suite on a display without OpenGL (VELMOTH_EXPECT_NO_GL set).
void OglWndTest::noGlPlatform() {
  const bool noGl = qEnvironmentVariableIsSet("VELMOTH_EXPECT_NO_GL");
  QCOMPARE(COglWnd::CheckGlPlatform(), !noGl);
  QCOMPARE(m_messages, noGl ? QStringList{"ChoosePixelFormat failed."} : QStringList());
}

QTEST_MAIN(OglWndTest)
#include "ogl_wnd_test.moc"
