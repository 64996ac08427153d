// COglWndCustom: what the scene puts on screen, read from the view's framebuffer. World points are
// projected with the view's camera state and GL projection; a point inside a body must be covered
// (not background), a point on a line must show the line's colour nearby.
#include <GL/gl.h>
#include <GL/glu.h>

#include <QtTest>
#include <cmath>
#include <memory>

#include "robot/robot.h"
#include "robot/transforms.h"
#include "tests/view/keep_gl_drivers.h"
#include "view/ogl_wnd_custom.h"

namespace {

// Wide enough for the whole arm at rest (to y = 1.8) and the end of the y axis beyond it.
const QSize kSceneSize(1200, 600);
// Half the link radius: this far above a body's axis is inside the body and clear of the axis
// lines.
constexpr double kAboveAxis = 0.015;
const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255);

QRgb Background() {
  return QGuiApplication::palette().color(QPalette::Button).rgb() | 0xff000000;
}
QRgb PixelAt(const QImage& image, QPoint p) {
  return image.pixel(p) | 0xff000000;
}
bool IsGrey(QRgb c) {
  return c == qRgb(127, 127, 127) || c == qRgb(128, 128, 128);
}

// Lines are one pixel wide: look within two pixels.
bool ColourNear(const QImage& image, QPoint p, QRgb colour) {
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      const QPoint q = p + QPoint(dx, dy);
      if (image.rect().contains(q) &&
          (colour == 0 ? IsGrey(PixelAt(image, q)) : PixelAt(image, q) == colour)) {
        return true;
      }
    }
  }
  return false;
}

struct WorldPoint {
  double x, y, z;
};

// A point given in the frame of link i after its joint (incoming frame x joint transform).
WorldPoint InLinkFrame(const Robot& robot, size_t i, double x, double y, double z) {
  matrix<double> t = Identity4();
  for (size_t k = 0; k < i; ++k) {
    t = t * JointTransform(*robot.links[k]) * LinkOffsetTransform(*robot.links[k]);
  }
  t = t * JointTransform(*robot.links[i]);
  return {t(0, 0) * x + t(0, 1) * y + t(0, 2) * z + t(0, 3),
          t(1, 0) * x + t(1, 1) * y + t(1, 2) * z + t(1, 3),
          t(2, 0) * x + t(2, 1) * y + t(2, 2) * z + t(2, 3)};
}

}  // namespace

class OglWndCustomTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(COglWnd::CheckGlPlatform());
    KeepGlDriversLoaded();
  }
  void cleanup() { m_view.reset(); }

  void defaultScene();
  void posedArm();
  void onlyGridWithoutArm_data();
  void onlyGridWithoutArm();
  void linkKinds_data();
  void linkKinds();

 private:
  QImage Show(Robot* robot) {
    m_view = std::make_unique<COglWndCustom>(robot);
    m_view->resize(kSceneSize);
    m_view->show();
    if (!QTest::qWaitForWindowExposed(m_view.get()) || !m_view->IsGlReady()) {
      return QImage();
    }
    return m_view->grabFramebuffer();
  }

  // Where a world point lands in the framebuffer image (row 0 at the top).
  QPoint Project(const WorldPoint& p) {
    m_view->makeCurrent();
    GLdouble projection[16], modelview[16];
    GLint viewport[4];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    const COglWnd::Point3 &e = m_view->Eye(), &c = m_view->Center();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    gluLookAt(e.x, e.y, e.z, c.x, c.y, c.z, 0.0, 0.0, 1.0);
    glRotated(m_view->Tilt(), 0.0, 1.0, 0.0);
    glRotated(m_view->Spin(), 0.0, 0.0, 1.0);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glPopMatrix();
    GLdouble wx = 0, wy = 0, wz = 0;
    gluProject(p.x, p.y, p.z, modelview, projection, viewport, &wx, &wy, &wz);
    return QPoint(int(std::floor(wx)), viewport[3] - 1 - int(std::floor(wy)));
  }

  bool Covered(const QImage& image, const WorldPoint& p) {
    const QPoint q = Project(p);
    return image.rect().contains(q) && PixelAt(image, q) != Background();
  }

  std::unique_ptr<COglWndCustom> m_view;
};

// The built-in arm at rest lies along +y from the origin to (0, 1.8, 0) on the grid; the picture is
// saved for people to look at.
void OglWndCustomTest::defaultScene() {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const QImage image = Show(robot.get());
  QCOMPARE(image.size(), kSceneSize);
  QVERIFY(image.save(QStringLiteral(VELMOTH_VIEW_PNG), "PNG"));

  for (const QPoint& p : {QPoint(0, 0), QPoint(1199, 0), QPoint(600, 0), QPoint(0, 200)}) {
    QCOMPARE(PixelAt(image, p), Background());
  }
  for (int i = 0; i < kBuiltInLinkCount; ++i) {
    QVERIFY2(Covered(image, {0.0, 0.3 * i + 0.15, kAboveAxis}), qPrintable(QString::number(i)));
  }
  QVERIFY(!Covered(image, {0.0, 1.9, kAboveAxis}));  // beyond the tip
  QVERIFY(!Covered(image, {0.0, 0.9, 0.1}));         // above the arm
  QVERIFY(ColourNear(image, Project({0.5, 0.0, 0.0}), kRed));
  QVERIFY(ColourNear(image, Project({0.0, 1.95, 0.0}), kGreen));
  QVERIFY(ColourNear(image, Project({0.0, 0.0, 1.2}), kBlue));
  QVERIFY(ColourNear(image, Project({-1.0, -0.75, 0.0}), 0));  // grid line x = -1
  QVERIFY(ColourNear(image, Project({-0.75, -1.0, 0.0}), 0));  // grid line y = -1

  // The tool triad, when shown, stands in the frame after the last link: at the tip.
  QVERIFY(!ColourNear(image, Project({0.0, 1.8, 0.2}), kBlue));
  m_view->SetShowToolFrame(true);
  QVERIFY(ColourNear(m_view->grabFramebuffer(), Project({0.0, 1.8, 0.2}), kBlue));
}

// After the joints move, every body is where the transforms put it, and the old pose is gone; seen
// through a camera turned by a drag, so that spin and tilt are both in play.
void OglWndCustomTest::posedArm() {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  QVERIFY(!Show(robot.get()).isNull());
  QTest::mousePress(m_view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
  QTest::mouseMove(m_view.get(), QPoint(136, 154));
  QTest::mouseRelease(m_view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(136, 154));
  const double q[kBuiltInLinkCount] = {0.8, -0.5, 0.6, -0.9, 0.4, 0.7};
  for (int i = 0; i < kBuiltInLinkCount; ++i) {
    robot->links[i]->q = q[i];
  }
  const QImage image = m_view->grabFramebuffer();
  for (int i = 0; i < kBuiltInLinkCount; ++i) {
    QVERIFY2(Covered(image, InLinkFrame(*robot, i, 0.0, 0.15, kAboveAxis)),
             qPrintable(QStringLiteral("link %1, new pose").arg(i)));
    QVERIFY2(!Covered(image, {0.0, 0.3 * i + 0.15, kAboveAxis}),
             qPrintable(QStringLiteral("link %1, old pose").arg(i)));
  }
}

void OglWndCustomTest::onlyGridWithoutArm_data() {
  QTest::addColumn<bool>("noRobot");
  QTest::newRow("robot without links") << false;
  QTest::newRow("no robot") << true;
}

// Every pixel is background, grid grey or an axis colour, and each of them appears.
void OglWndCustomTest::onlyGridWithoutArm() {
  QFETCH(bool, noRobot);
  Robot empty(0.0, 0.0, -9.81, 0.1, 0.1);
  const QImage image = Show(noRobot ? nullptr : &empty);
  QVERIFY(!image.isNull());
  QMap<QString, int> counts;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = PixelAt(image, QPoint(x, y));
      const QString kind = c == Background() ? "background"
                           : IsGrey(c)       ? "grey"
                           : c == kRed       ? "red"
                           : c == kGreen     ? "green"
                           : c == kBlue      ? "blue"
                                             : QColor(c).name();
      ++counts[kind];
    }
  }
  QCOMPARE(counts.keys(), (QStringList{"background", "blue", "green", "grey", "red"}));
  QVERIFY(counts["grey"] > 1000 && counts["red"] > 20 && counts["green"] > 100);
}

void OglWndCustomTest::linkKinds_data() {
  QTest::addColumn<int>("jointType");  // of the first link; a second, revolute link follows if
  QTest::addColumn<bool>("twoLinks");  // twoLinks
  QTest::addColumn<int>("axis");
  QTest::addColumn<double>("q");
  QTest::addColumn<QList<double>>("covered");  // y of points (0, y, kAboveAxis)
  QTest::addColumn<QList<double>>("empty");
  QTest::newRow("fixed: drawn, q ignored")
      << int(Fixed) << true << int(X) << 0.5 << QList<double>{0.15, 0.45} << QList<double>{0.75};
  QTest::newRow("unknown type: not drawn, still moves the next link")
      << 7 << true << int(X) << 0.5 << QList<double>{0.45} << QList<double>{0.15, 0.75};
  QTest::newRow("negative type alike")
      << -1 << true << int(X) << 0.5 << QList<double>{0.45} << QList<double>{0.15, 0.75};
  QTest::newRow("prismatic along y, slider to q, body beyond")
      << int(Prismatic) << false << int(Y) << 0.6 << QList<double>{0.3, 0.75}
      << QList<double>{-0.3, 1.0};
  QTest::newRow("prismatic with q < 0 extends the other way")
      << int(Prismatic) << false << int(Y) << -0.6 << QList<double>{-0.3, -0.45}
      << QList<double>{0.3};
  QTest::newRow("prismatic at zero has no slider")
      << int(Prismatic) << false << int(Y) << 0.0 << QList<double>{0.15}
      << QList<double>{-0.15, 0.45};
}

void OglWndCustomTest::linkKinds() {
  QFETCH(int, jointType);
  QFETCH(bool, twoLinks);
  QFETCH(int, axis);
  QFETCH(double, q);
  QFETCH(QList<double>, covered);
  QFETCH(QList<double>, empty);
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(twoLinks ? 2 : 1);
  robot->links[0]->jointType = jointType;
  robot->links[0]->axis = axis;
  robot->links[0]->q = q;
  const QImage image = Show(robot.get());
  QVERIFY(!image.isNull());
  for (const double y : covered) {
    QVERIFY2(Covered(image, {0.0, y, kAboveAxis}), qPrintable(QString::number(y)));
  }
  for (const double y : empty) {
    QVERIFY2(!Covered(image, {0.0, y, kAboveAxis}), qPrintable(QString::number(y)));
  }
}

QTEST_MAIN(OglWndCustomTest)
#include "ogl_wnd_custom_test.moc"
