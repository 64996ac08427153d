// The 3-D view through real window events: COglWnd's navigation, projection and GL failure reports,
// and what COglWndCustom draws, read from the framebuffer where a camera built here from the view's
// state projects world points. The view is embedded in a frame, as the main window holds it.
#include <QMatrix4x4>
#include <QVector3D>
#include <QtTest>
#include <cfloat>
#include <cmath>
#include <memory>

#include "robot/robot.h"
#include "robot/transforms.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd_custom.h"

namespace {

class CountingView : public COglWnd {
 public:
  int paints = 0;

 protected:
  void DrawScene() override { ++paints; }
};

// Half a link's radius above its axis: inside the body, clear of the axis lines.
constexpr double kAboveAxis = 0.015;
const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255);
const QRgb kGrey = qRgb(128, 128, 128);
const QRgb kFace = qRgb(224, 224, 224);  // the buttons' face, unlike the window's colour
const QRgb kCovered = 0;                 // for Shows: any colour but the background

// The grid's half grey may be rounded either way.
QRgb Pixel(const QImage& image, QPoint p) {
  const QRgb c = image.pixel(p) | 0xff000000;
  return c == qRgb(127, 127, 127) ? kGrey : c;
}

// How many pixels have each colour.
QHash<QRgb, int> Colours(const QImage& image) {
  QHash<QRgb, int> count;
  for (int i = 0; i < image.width() * image.height(); ++i) {
    ++count[Pixel(image, QPoint(i % image.width(), i / image.width()))];
  }
  return count;
}

// Spin, tilt, the centre's y, z and x, the eye's x, y and z.
QList<double> Camera(const COglWnd& v) {
  return {v.Spin(),     v.Tilt(),  v.Center().y, v.Center().z,
          v.Center().x, v.Eye().x, v.Eye().y,    v.Eye().z};
}

void Wheel(COglWnd* view, QPoint angleDelta, int events) {
  for (int i = 0; i < events; ++i) {
    QWheelEvent e(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(), angleDelta,
                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &e);
  }
}

// A point given in the frame of link i after its joint; by default one inside the link's body.
QVector3D InLink(const Robot& robot, size_t i, QVector3D p = QVector3D(0, 0.15, kAboveAxis)) {
  matrix<double> t = Identity4();
  for (size_t k = 0; k < i; ++k) {
    t = t * JointTransform(*robot.links[k]) * LinkOffsetTransform(*robot.links[k]);
  }
  t = t * JointTransform(*robot.links[i]);
  const auto row = [&](uint32_t r) {
    return t(r, 0) * p.x() + t(r, 1) * p.y() + t(r, 2) * p.z() + t(r, 3);
  };
  return QVector3D(row(0), row(1), row(2));
}

}  // namespace

class OglWndTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, QColor(kFace));
    QApplication::setPalette(palette);
    COglWnd::SetMessageHook([this](const QString& text) { m_messages << text; });
    if (!qEnvironmentVariableIsSet("VELMOTH_EXPECT_NO_GL")) {
      QVERIFY(COglWnd::CheckGlPlatform());
      PinLoadedGlDrivers();
    }
  }
  void cleanup() {
    m_frame.reset();
    m_messages.clear();
    COglWnd::SetFaultHook({});
  }

  void drag_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QList<QPoint>>("path");    // the press, then the moves
    QTest::addColumn<QList<double>>("camera");  // spin, tilt, centre y, centre z
    QTest::newRow("left 36 right, 36 down in two moves turns 10 degrees each way")
        << Qt::LeftButton << QList<QPoint>{{100, 100}, {118, 110}, {136, 136}}
        << QList<double>{10, 10, 0, 0.8};
    QTest::newRow("right 100 left, 100 down pans +1 in y and z")
        << Qt::RightButton << QList<QPoint>{{200, 100}, {100, 200}} << QList<double>{0, 0, 1, 1.8};
    QTest::newRow("middle changes nothing")
        << Qt::MiddleButton << QList<QPoint>{{100, 100}, {136, 136}} << QList<double>{0, 0, 0, 0.8};
  }
  // Only moves with a button held during a drag count, and the release of any button ends the drag,
  // even while the pressed one is still held. The eye and the centre's x never move.
  void drag() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(QList<QPoint>, path);
    QFETCH(QList<double>, camera);
    CountingView* view = Show(new CountingView);
    QVERIFY(view != nullptr);
    QTest::mousePress(view, button, Qt::NoModifier, path[0]);
    const int paints = view->paints;
    for (qsizetype i = 1; i < path.size(); ++i) {
      QTest::mouseMove(view, path[i]);
    }
    QMouseEvent unheld(QEvent::MouseMove, QPointF(300, 250), view->mapToGlobal(QPointF(300, 250)),
                       Qt::NoButton, Qt::NoButton, Qt::NoModifier);  // as mouse tracking sends it
    QApplication::sendEvent(view, &unheld);
    QTRY_VERIFY(view->paints > paints);
    QTest::mouseRelease(view, button == Qt::LeftButton ? Qt::RightButton : Qt::LeftButton,
                        Qt::NoModifier, path.back());
    QTest::mouseMove(view, QPoint(10, 290));
    QTest::mouseRelease(view, button, Qt::NoModifier, QPoint(10, 290));
    QCOMPARE(Camera(*view), camera << 0 << 2.5 << 0 << 0.4);
  }

  void wheel_data() {
    QTest::addColumn<QPoint>("angleDelta");
    QTest::addColumn<int>("events");
    QTest::addColumn<double>("least");  // bounds of the eye's new distance, as a factor of the old
    QTest::addColumn<double>("most");
    const double ten = std::pow(0.9, 10);
    QTest::newRow("ten notches towards the user") << QPoint(0, -120) << 10 << ten << ten;
    QTest::newRow("one notch away") << QPoint(0, 120) << 1 << 1.1 << 1.1;
    QTest::newRow("any size of delta is one step") << QPoint(0, -15) << 2 << 0.81 << 0.81;
    QTest::newRow("horizontal only: no step") << QPoint(120, 0) << 3 << 1.0 << 1.0;
    // Steps that would collapse the eye onto the centre or send it to infinity are ignored.
    QTest::newRow("in, far past the limit") << QPoint(0, -120) << 20000 << DBL_MIN << 1e-3;
    // Out, the eye stops where the scene is still well in view and far inside the far plane.
    const double start = std::sqrt(2.5 * 2.5 + 0.4 * 0.4);
    QTest::newRow("out, far past the limit")
        << QPoint(0, 120) << 2000 << COglWnd::kMaxEyeDistance / 1.1 / start
        << COglWnd::kMaxEyeDistance / start;
  }
  // The eye moves along the line of sight to the look-at point, which stays.
  void wheel() {
    QFETCH(QPoint, angleDelta);
    QFETCH(int, events);
    QFETCH(double, least);
    QFETCH(double, most);
    CountingView* view = Show(new CountingView);
    QVERIFY(view != nullptr);
    const int paints = view->paints;
    Wheel(view, angleDelta, events);
    const double dx = view->Eye().x, dz = view->Eye().z - 0.8;
    const double f = std::sqrt(dx * dx + dz * dz) / std::sqrt(2.5 * 2.5 + 0.4 * 0.4);
    QVERIFY2(f >= least * (1 - 1e-12) && f <= most * (1 + 1e-12), qPrintable(QString::number(f)));
    QVERIFY(qAbs(dx / f - 2.5) < 1e-9 && qAbs(dz / f + 0.4) < 1e-9);
    QVERIFY(view->Eye().y == 0.0 && view->Center().z == 0.8);
    QTRY_VERIFY(most == 1.0 || view->paints > paints);
  }

  // An empty view still has a projection, at 1 x 1.
  void emptySize() {
    CountingView* view = Show(new CountingView);
    QVERIFY(view != nullptr);
    m_container->resize(0, 0);
    QTRY_COMPARE(view->ViewportSize(), QSize(1, 1));
    QCOMPARE(view->Aspect(), 1.0);
  }

  void glFailures_data() {
    using S = COglWnd::GlStep;
    QTest::addColumn<int>("step");  // the step made to fail; -1: none, -2: ask for a core profile
    QTest::addColumn<QString>("message");
    QTest::newRow("no failure") << -1 << QString();
    QTest::newRow("format") << int(S::ChooseFormat) << "ChoosePixelFormat failed.";
    QTest::newRow("surface") << int(S::SetFormat) << "SetPixelFormat failed.";
    QTest::newRow("context") << int(S::CreateContext) << "wglCreateContext failed";
    QTest::newRow("current") << int(S::MakeCurrent) << "wglMakeCurrent failed";
    QTest::newRow("release") << int(S::ReleaseContext) << "wglMakeCurrent failed";
    QTest::newRow("lost") << int(S::DeleteContext) << "wglDeleteContext failed";
    // A real refusal: a core profile has no fixed-function pipeline.
    QTest::newRow("core profile") << -2 << "ChoosePixelFormat failed.";
  }
  // Each failure is shown once; after a set-up failure the view never draws and its teardown has
  // nothing more to report.
  void glFailures() {
    QFETCH(int, step);
    QFETCH(QString, message);
    const bool atSetUp = !message.isEmpty() && step < int(COglWnd::GlStep::ReleaseContext);
    COglWnd::SetFaultHook([step](COglWnd::GlStep s) { return int(s) == step; });
    auto* view = new CountingView;
    QSurfaceFormat core = COglWnd::SurfaceFormat();
    core.setVersion(3, 3);
    core.setProfile(QSurfaceFormat::CoreProfile);
    view->setFormat(step == -2 ? core : COglWnd::SurfaceFormat());
    QVERIFY(Show(view) != nullptr);
    m_container->resize(300, 200);
    view->update();
    QTest::qWait(100);
    const QStringList all = message.isEmpty() ? QStringList() : QStringList{message};
    QCOMPARE(m_messages, atSetUp ? all : QStringList());
    QCOMPARE(view->paints > 0, !atSetUp);
    m_frame.reset();
    QCOMPARE(m_messages, all);
  }

  // Fit keeps the viewing direction and brings the whole reach of the arm into the picture, seen
  // from any turn of the camera and for any pose; Reset view restores the starting camera exactly.
  void fitAndResetView() {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot();
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(600, 300));
    QVERIFY(view != nullptr && view->IsGlReady());
    std::srand(7);
    const auto random = [](double scale) { return scale * (2.0 * std::rand() / RAND_MAX - 1.0); };
    for (int trial = 0; trial < 20; ++trial) {
      view->SetCamera({random(5), random(5), random(5)}, {random(1), random(1), random(1)},
                      random(180), random(90));
      const COglWnd::Point3 e = view->Eye(), c = view->Center();
      const double before[3] = {e.x - c.x, e.y - c.y, e.z - c.z};
      view->FitArm();
      const COglWnd::Point3 e2 = view->Eye(), c2 = view->Center();
      const double after[3] = {e2.x - c2.x, e2.y - c2.y, e2.z - c2.z};
      const double ratio = after[0] / before[0];
      for (int k = 0; k < 3; ++k) {
        QVERIFY(std::abs(after[k] - ratio * before[k]) < 1e-9 * std::abs(after[k]) + 1e-12);
      }
      QVERIFY(ratio > 0.0);
      for (auto& link : robot->links) {
        link->q = random(M_PI);
      }
      const QImage image = view->GrabFrame();
      for (size_t i = 0; i < robot->links.size(); ++i) {
        // The housing and both ends of the body.
        for (const QVector3D& p : {QVector3D(0, 0, 0), QVector3D(0, 0.3f, 0)}) {
          QVERIFY2(Inside(image, InLink(*robot, i, p)), qPrintable(QString::number(trial)));
        }
      }
    }
    view->ResetCamera();
    QCOMPARE(Camera(*view), (QList<double>{0, 0, 0, 0.8, 0, 2.5, 0, 0.4}));
  }

  // Fit centres the view on the first joint of an arm standing on a raised base: the base lands in
  // the middle of the picture, from any turn of the camera.
  void fitCentresOnARaisedBase() {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot();
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(600, 300));
    QVERIFY(view != nullptr && view->IsGlReady());
    for (const auto& [base, turn] :
         {std::pair{QVector3D(0, 0, 0.5), 0.0}, std::pair{QVector3D(0.3f, -0.2f, 1), 30.0}}) {
      robot->basePose = PoseTransform(base.x(), base.y(), base.z(), 0, 0, 0);
      view->SetCamera(COglWnd::kStartEye, COglWnd::kStartCenter, turn, turn / 2);
      view->FitArm();
      const QVector3D at = Project(view->GrabFrame(), base);
      QVERIFY2(std::abs(at.x() - 300) < 0.5 && std::abs(at.y() - 150) < 0.5,
               qPrintable(QStringLiteral("%1, %2").arg(at.x()).arg(at.y())));
    }
  }

  // A link with a fixed joint in the middle of the chain carries the next links as any other; the
  // last link, of its own length, reaches exactly to its end and no further.
  void aFixedJointInTheMiddleLeavesTheLastLinkItsLength() {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(4);
    const double lengths[] = {0.3, 0.5, 0.2, 0.4};
    const double q[] = {1.3, 0.7, -0.4, 0.3};  // the fixed joint's q is ignored
    for (int i = 0; i < 4; ++i) {
      robot->links[i]->offsetY = lengths[i];
      robot->links[i]->q = q[i];
    }
    robot->links[1]->jointType = Fixed;
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(1200, 600));
    QVERIFY(view != nullptr && view->IsGlReady());
    view->FitArm();
    const QImage image = view->GrabFrame();
    for (const double y : {0.05, 0.2, 0.37, 0.45, 0.55}) {  // it ends at 0.4
      QVERIFY2(Shows(image, InLink(*robot, 3, QVector3D(0, y, 0))) == (y < 0.4),
               qPrintable(QString::number(y)));
    }
  }

  // Run a second time by the test suite on a display without OpenGL (VELMOTH_EXPECT_NO_GL set).
  void noGlPlatform() {
    const bool noGl = qEnvironmentVariableIsSet("VELMOTH_EXPECT_NO_GL");
    QCOMPARE(COglWnd::CheckGlPlatform(), !noGl);
    QCOMPARE(m_messages, noGl ? QStringList{"ChoosePixelFormat failed."} : QStringList());
  }

  // At rest the arm lies along +y from the origin to (0, 1.8, 0) on the grid; the picture is saved
  // for people to look at. Then, seen with spin and tilt both in play, the joints move and some
  // links change kind: every body is where the transforms put it, and the old pose is gone.
  // Without links, and without a robot, only the grid and the axes are left.
  void scene() {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot();
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(1200, 600));
    QVERIFY(view != nullptr && view->IsGlReady());
    QImage image = view->GrabFrame();
    QVERIFY(image.save(QStringLiteral(VELMOTH_VIEW_PNG), "PNG"));
    QVERIFY(Pixel(image, {0, 0}) == kFace && Pixel(image, {1199, 0}) == kFace);
    for (int i = 0; i < kBuiltInLinkCount; ++i) {
      QVERIFY2(Shows(image, QVector3D(0, 0.3 * i + 0.15, kAboveAxis)),
               qPrintable(QString::number(i)));
    }
    QVERIFY(!Shows(image, {0, 1.9, kAboveAxis}) && !Shows(image, {0, 0.9, 0.1}));  // tip, above
    QVERIFY(Shows(image, {0.5, 0, 0}, kRed) && Shows(image, {0, 1.95, 0}, kGreen));
    QVERIFY(Shows(image, {0, 0, 1.2}, kBlue) && !Shows(image, {0, 1.8, 0.2}, kBlue));
    QVERIFY(Shows(image, {-0.5, -0.75, 0}, kGrey) && Shows(image, {-0.75, -0.5, 0}, kGrey));
    view->SetShowToolFrame(true);  // its triad stands in the frame after the last link
    QVERIFY(Shows(view->GrabFrame(), {0, 1.8, 0.2}, kBlue));
    view->SetShowToolFrame(false);

    view->SetCamera(COglWnd::kStartEye, COglWnd::kStartCenter, 10, 15);
    const double q[kBuiltInLinkCount] = {0.8, -0.5, 0.6, -0.9, 0.4, 0.7};
    for (int i = 0; i < kBuiltInLinkCount; ++i) {
      robot->links[i]->q = q[i];
    }
    robot->links[1]->jointType = Prismatic;  // along x, the slider from the joint to q = -0.5
    robot->links[3]->jointType = Fixed;      // q ignored
    robot->links[4]->jointType = 7;          // unknown: not drawn, yet it carries the next link
    image = view->GrabFrame();
    for (int i = 0; i < kBuiltInLinkCount; ++i) {
      QVERIFY2(Shows(image, InLink(*robot, i)) == (i != 4) &&
                   !Shows(image, QVector3D(0, 0.3 * i + 0.15, kAboveAxis)),
               qPrintable(QString::number(i)));
    }
    QVERIFY(Shows(image, InLink(*robot, 1, QVector3D(0.25, 0, 0))));

    robot->links.clear();
    image = view->GrabFrame();
    const QList<QRgb> colours = Colours(image).keys();
    QCOMPARE(QSet<QRgb>(colours.begin(), colours.end()),
             (QSet<QRgb>{kFace, kGrey, kRed, kGreen, kBlue}));
    view->SetRobot(nullptr);
    QCOMPARE(view->GrabFrame(), image);

    // Zoomed out as far as the wheel goes, the grid is still there to see.
    Wheel(view, QPoint(0, 120), 2000);
    const int grey = Colours(view->GrabFrame())[kGrey];
    QVERIFY2(grey > 100, qPrintable(QString::number(grey)));
  }

 private:
  // Shows the view inside a frame, as the main window holds it; null unless it is exposed and has
  // been through its GL set-up (or failed it).
  template <typename View>
  View* Show(View* view, QSize size = QSize(400, 300)) {
    m_frame = std::make_unique<QWidget>();
    m_frame->resize(size + QSize(20, 20));
    m_container = view->EmbedIn(m_frame.get());
    m_container->setGeometry(QRect(QPoint(10, 10), size));
    m_frame->show();
    m_view = view;
    if (!QTest::qWaitForWindowExposed(m_frame.get()) || !QTest::qWaitForWindowExposed(view)) {
      return nullptr;
    }
    QTest::qWait(20);  // the first paint
    return view;
  }

  // Whether the pixel where world point p lands has the colour; a line's colour, being one pixel
  // wide, may be up to two pixels away. Projection: 45 degrees vertically at the image's aspect,
  // the look-at camera, then the tilt about y and the spin about z.
  bool Shows(const QImage& image, const QVector3D& p, QRgb colour = kCovered) const {
    const QVector3D w = Project(image, p);
    const QPoint at(int(std::floor(w.x())), image.height() - 1 - int(std::floor(w.y())));
    const int r = colour == kCovered ? 0 : 2;
    for (int i = 0; i < (2 * r + 1) * (2 * r + 1); ++i) {
      const QPoint q = at + QPoint(i % (2 * r + 1) - r, i / (2 * r + 1) - r);
      if (image.rect().contains(q) &&
          (colour == kCovered ? Pixel(image, q) != kFace : Pixel(image, q) == colour)) {
        return true;
      }
    }
    return false;
  }

  // Where world point p lands in window coordinates (x right, y up, from the lower left).
  QVector3D Project(const QImage& image, const QVector3D& p) const {
    const COglWnd::Point3 &e = m_view->Eye(), &c = m_view->Center();
    QMatrix4x4 projection, camera;
    projection.perspective(45.0f, float(image.width()) / float(image.height()), 0.1f, 1e6f);
    camera.lookAt(QVector3D(e.x, e.y, e.z), QVector3D(c.x, c.y, c.z), QVector3D(0, 0, 1));
    camera.rotate(float(m_view->Tilt()), 0, 1, 0);
    camera.rotate(float(m_view->Spin()), 0, 0, 1);
    return p.project(camera, projection, image.rect());
  }

  // Whether world point p lands inside the image, 2 pixels in from its edges.
  bool Inside(const QImage& image, const QVector3D& p) const {
    const QVector3D w = Project(image, p);
    return w.x() >= 2 && w.y() >= 2 && w.x() < image.width() - 2 && w.y() < image.height() - 2;
  }

  std::unique_ptr<QWidget> m_frame;
  QWidget* m_container = nullptr;  // in m_frame, holding the view
  COglWnd* m_view = nullptr;       // inside m_container
  QStringList m_messages;
};

QTEST_MAIN(OglWndTest)
#include "ogl_wnd_test.moc"
