// The 3-D view through real window events: COglWnd's navigation, projection and GL failure reports,
// and what COglWndCustom draws (the figure, and the shapes of a description placed by their
// origins and scales), read from the framebuffer where a camera built here from the view's state
// projects world points; and how the start view and Fit frame arms of every size and mounting. The
// view is embedded in a frame, as the main window holds it.
#include <GL/gl.h>
#include <QMatrix4x4>
#include <QVector3D>

#include <QtTest>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

#include "robot/robot.h"
#include "robot/transforms.h"
#include "tests/app/eventually.h"
#include "urdf/urdf_loader.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd_custom.h"
#include "visuals/arm_extent.h"
#include "visuals/arm_pick.h"
#include "visuals/urdf_visuals.h"

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

// Which of the shapes' colours a pixel shows, lit as it is: the channels that stand out.
char Hue(QRgb c) {
  const int r = qRed(c), g = qGreen(c), b = qBlue(c);
  const auto over = [](int a, int x) { return a > 60 && a > 2 * x; };
  if (over(r, g) && over(r, b))
    return 'r';
  if (over(g, r) && over(g, b))
    return 'g';
  if (over(b, r) && over(b, g))
    return 'b';
  if (over(r, b) && over(g, b))
    return 'y';
  if (over(r, g) && over(b, g))
    return 'm';
  return '-';
}

// A chain of three links of the given length along z on a base (a box), turning about z, y and y,
// each drawn as a box; mounted on the floor, or hung upside down from a ceiling at height.
std::string ChainText(double length, double hangAt) {
  const double l = length / 3, w = length / 15;
  const auto number = [](double x) { return QString::number(x, 'g', 17).toStdString(); };
  const auto box = [&](double x, double y, double z, double at) {
    return "<visual><origin xyz='0 0 " + number(at) + "'/><geometry><box size='" + number(x) + " " +
           number(y) + " " + number(z) + "'/></geometry></visual>";
  };
  const auto link = [&](const std::string& name) {
    return "<link name='" + name + "'><inertial><origin xyz='0 0 " + number(l / 2) +
           "'/><mass value='1'/><inertia ixx='0.01' iyy='0.01' izz='0.01' ixy='0' ixz='0' "
           "iyz='0'/></inertial>" +
           box(w, w, l, l / 2) + "</link>";
  };
  const auto joint = [&](int i, const char* axis, double z) {
    return "<joint name='j" + std::to_string(i) + "' type='revolute'><parent link='l" +
           std::to_string(i - 1) + "'/><child link='l" + std::to_string(i) +
           "'/><origin xyz='0 0 " + number(z) + "'/><axis xyz='" + axis +
           "'/><limit lower='-1' upper='1' effort='1' velocity='1'/></joint>";
  };
  const std::string mount =
      hangAt > 0 ? "<origin xyz='0 0 " + number(hangAt) + "' rpy='3.141592653589793 0 0'/>"
                 : "<origin xyz='0 0 0'/>";
  return "<robot name='chain'><link name='world'/><joint name='mount' type='fixed'><parent "
         "link='world'/><child link='l0'/>" +
         mount + "</joint><link name='l0'>" + box(3 * w, 3 * w, w, w / 2) + "</link>" + link("l1") +
         link("l2") + link("l3") + joint(1, "0 0 1", w) + joint(2, "0 1 0", l) +
         joint(3, "0 1 0", l) + "</robot>";
}

// A closed cylinder of the given radius from a to b, as triangles (nine coordinates each).
std::vector<float> Cylinder(QVector3D a, QVector3D b, float radius) {
  const QVector3D w = (b - a).normalized();
  const QVector3D u =
      QVector3D::crossProduct(w, std::abs(w.x()) < 0.9f ? QVector3D(1, 0, 0) : QVector3D(0, 1, 0))
          .normalized();
  const QVector3D v = QVector3D::crossProduct(w, u);
  std::vector<float> triangles;
  const auto add = [&](QVector3D p, QVector3D q, QVector3D r) {
    for (const QVector3D& x : {p, q, r}) {
      triangles.insert(triangles.end(), {x.x(), x.y(), x.z()});
    }
  };
  constexpr int kSides = 24;
  for (int k = 0; k < kSides; ++k) {
    const auto rim = [&](int i) {
      const double t = 2 * M_PI * (i % kSides) / kSides;
      return radius * (float(std::cos(t)) * u + float(std::sin(t)) * v);
    };
    add(a + rim(k), a + rim(k + 1), b + rim(k + 1));
    add(a + rim(k), b + rim(k + 1), b + rim(k));
    add(a, a + rim(k + 1), a + rim(k));
    add(b, b + rim(k), b + rim(k + 1));
  }
  return triangles;
}

// Writes triangles as a binary STL file, each vertex taken through the inverse of the rigid pose.
bool WriteStl(const QString& path, const std::vector<float>& triangles, const QMatrix4x4& pose) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    return false;
  }
  const QMatrix4x4 into = pose.inverted();
  QByteArray data(80, '\0');
  const auto count = static_cast<quint32>(triangles.size() / 9);
  data.append(reinterpret_cast<const char*>(&count), 4);
  for (std::size_t t = 0; t < triangles.size(); t += 9) {
    QVector3D p[3];
    for (int i = 0; i < 3; ++i) {
      p[i] = into.map(
          QVector3D(triangles[t + 3 * i], triangles[t + 3 * i + 1], triangles[t + 3 * i + 2]));
    }
    const QVector3D n = QVector3D::normal(p[0], p[1], p[2]);
    for (const QVector3D& x : {n, p[0], p[1], p[2]}) {
      const float xyz[3] = {x.x(), x.y(), x.z()};
      data.append(reinterpret_cast<const char*>(xyz), 12);
    }
    data.append(2, '\0');
  }
  return file.write(data) == data.size();
}

// A UR5-like arm laid out as the public description of the UR5 is: the package ur_description
// with its meshes, joint frames turned off the links (the upper arm and forearm along their z, the
// shoulder lift turned by a quarter about y), a base frame turned by pi beside base_link, a tool0
// frame, and visuals placed by origins of their own, each mesh in its own frame. The kinematics
// and masses are the UR5's published ones; the meshes are cylinders of the links' sizes. Returns
// the URDF file's path.
std::string WriteUr5LikeWithMeshes(const QString& folder) {
  const QString package = folder + QStringLiteral("/ur_description");
  QDir().mkpath(package + QStringLiteral("/urdf"));
  QDir().mkpath(package + QStringLiteral("/meshes/ur5/visual"));
  QFile manifest(package + QStringLiteral("/package.xml"));
  if (!manifest.open(QIODevice::WriteOnly) ||
      manifest.write("<package format='2'><name>ur_description</name></package>\n") <= 0) {
    return {};
  }
  struct Part {
    const char* link;
    std::vector<std::vector<float>> cylinders;  // in the link's frame
    QVector3D origin, rpy;                      // the visual's origin in the link
  };
  const auto along = [](float x0, float y0, float z0, float x1, float y1, float z1, float r) {
    return Cylinder(QVector3D(x0, y0, z0), QVector3D(x1, y1, z1), r);
  };
  const Part parts[] = {
      {"base_link", {along(0, 0, 0, 0, 0, 0.086f, 0.075f)}, {}, {0, 0, float(M_PI)}},
      {"shoulder_link",
       {along(0, 0, -0.03f, 0, 0, 0.07f, 0.06f), along(0, -0.02f, 0, 0, 0.14f, 0, 0.06f)},
       {},
       {}},
      {"upper_arm_link",
       {along(0, 0, 0, 0, 0, 0.425f, 0.045f), along(0, 0.02f, 0, 0, -0.09f, 0, 0.06f),
        along(0, 0.0f, 0.425f, 0, -0.125f, 0.425f, 0.055f)},
       {0, 0, 0.13585f},
       {float(M_PI / 2), 0, float(-M_PI / 2)}},
      {"forearm_link",
       {along(0, 0, 0, 0, 0, 0.39225f, 0.038f), along(0, 0.03f, 0, 0, -0.06f, 0, 0.045f)},
       {0, 0, 0.0165f},
       {float(M_PI / 2), 0, float(-M_PI / 2)}},
      {"wrist_1_link", {along(0, -0.04f, 0, 0, 0.12f, 0, 0.04f)}, {}, {float(M_PI / 2), 0, 0}},
      {"wrist_2_link", {along(0, 0, -0.04f, 0, 0, 0.12f, 0.04f)}, {}, {}},
      {"wrist_3_link", {along(0, 0.05f, 0, 0, 0.0823f, 0, 0.035f)}, {}, {float(M_PI / 2), 0, 0}},
  };
  const auto number = [](double x) { return QString::number(x, 'g', 9).toStdString(); };
  std::map<std::string, std::string> visual;
  for (const Part& part : parts) {
    QMatrix4x4 pose;
    pose.translate(part.origin);
    pose.rotate(float(part.rpy.z() * 180 / M_PI), 0, 0, 1);  // URDF's rpy: Rz(y) Ry(p) Rx(r)
    pose.rotate(float(part.rpy.y() * 180 / M_PI), 0, 1, 0);
    pose.rotate(float(part.rpy.x() * 180 / M_PI), 1, 0, 0);
    std::vector<float> triangles;
    for (const std::vector<float>& c : part.cylinders) {
      triangles.insert(triangles.end(), c.begin(), c.end());
    }
    const std::string name = QString::fromLatin1(part.link).remove("_link").toStdString();
    if (!WriteStl(package + QString::fromStdString("/meshes/ur5/visual/" + name + ".stl"),
                  triangles, pose)) {
      return {};
    }
    visual[part.link] = "<visual><origin xyz='" + number(part.origin.x()) + " " +
                        number(part.origin.y()) + " " + number(part.origin.z()) + "' rpy='" +
                        number(part.rpy.x()) + " " + number(part.rpy.y()) + " " +
                        number(part.rpy.z()) +
                        "'/><geometry><mesh filename='package://ur_description/meshes/ur5/"
                        "visual/" +
                        name + ".stl'/></geometry><material name='grey'/></visual>";
  }
  const auto link = [&](const char* name, double mass, double inertia) {
    return std::string("<link name='") + name + "'><inertial><mass value='" + number(mass) +
           "'/><inertia ixx='" + number(inertia) + "' iyy='" + number(inertia) + "' izz='" +
           number(inertia) + "' ixy='0' ixz='0' iyz='0'/></inertial>" + visual[name] + "</link>";
  };
  const auto joint = [&](const char* name, const char* type, const char* parent, const char* child,
                         const char* xyz, const char* rpy, const char* axis) {
    return std::string("<joint name='") + name + "' type='" + type + "'><parent link='" + parent +
           "'/><child link='" + child + "'/><origin xyz='" + xyz + "' rpy='" + rpy + "'/>" +
           (axis != nullptr ? std::string("<axis xyz='") + axis +
                                  "'/><limit lower='-6.2832' upper='6.2832' effort='150' "
                                  "velocity='3.15'/>"
                            : std::string()) +
           "</joint>";
  };
  const char* quarter = "0 1.570796325 0";
  const std::string text =
      "<robot name='ur5'><material name='grey'><color rgba='0.7 0.7 0.7 1'/></material>" +
      link("base_link", 4.0, 0.0061) + link("shoulder_link", 3.7, 0.0102) +
      link("upper_arm_link", 8.393, 0.2269) + link("forearm_link", 2.275, 0.0312) +
      link("wrist_1_link", 1.219, 0.0026) + link("wrist_2_link", 1.219, 0.0026) +
      link("wrist_3_link", 0.1879, 0.0001) + "<link name='base'/><link name='tool0'/>" +
      joint("base_link-base_fixed_joint", "fixed", "base_link", "base", "0 0 0", "0 0 -3.14159265",
            nullptr) +
      joint("shoulder_pan_joint", "revolute", "base_link", "shoulder_link", "0 0 0.089159", "0 0 0",
            "0 0 1") +
      joint("shoulder_lift_joint", "revolute", "shoulder_link", "upper_arm_link", "0 0.13585 0",
            quarter, "0 1 0") +
      joint("elbow_joint", "revolute", "upper_arm_link", "forearm_link", "0 -0.1197 0.425", "0 0 0",
            "0 1 0") +
      joint("wrist_1_joint", "revolute", "forearm_link", "wrist_1_link", "0 0 0.39225", quarter,
            "0 1 0") +
      joint("wrist_2_joint", "revolute", "wrist_1_link", "wrist_2_link", "0 0.093 0", "0 0 0",
            "0 0 1") +
      joint("wrist_3_joint", "revolute", "wrist_2_link", "wrist_3_link", "0 0 0.09465", "0 0 0",
            "0 1 0") +
      joint("wrist_3_link-tool0_fixed_joint", "fixed", "wrist_3_link", "tool0", "0 0.0823 0",
            "-1.570796325 0 0", nullptr) +
      "</robot>\n";
  const QString path = package + QStringLiteral("/urdf/ur5.urdf");
  QFile urdf(path);
  if (!urdf.open(QIODevice::WriteOnly) ||
      urdf.write(text.data(), qint64(text.size())) != qint64(text.size())) {
    return {};
  }
  return path.toStdString();
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
    QTRY_VERIFY_WITH_TIMEOUT(view->paints > paints, thread_test::kGuardMs);
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
    QTRY_VERIFY_WITH_TIMEOUT(most == 1.0 || view->paints > paints, thread_test::kGuardMs);
  }

  // Ctrl and the left button pull: the view reports the press, the moves and the release, and the
  // wheel while pulling, and turns, pans and zooms nothing; without Ctrl the left button turns.
  void pullIsReportedAndMovesNoCamera() {
    CountingView* view = Show(new CountingView);
    QVERIFY(view != nullptr);
    QList<QPointF> pressed, dragged;
    int released = 0, wheeled = 0;
    connect(view, &COglWnd::pullPressed, this, [&](QPointF p) { pressed << p; });
    connect(view, &COglWnd::pullDragged, this, [&](QPointF p) { dragged << p; });
    connect(view, &COglWnd::pullReleased, this, [&] { ++released; });
    connect(view, &COglWnd::pullWheeled, this, [&](int steps) { wheeled += steps; });
    QTest::mousePress(view, Qt::LeftButton, Qt::ControlModifier, QPoint(100, 100));
    QCOMPARE(view->MouseMode(), 4);
    QTest::mouseMove(view, QPoint(140, 120));
    Wheel(view, QPoint(0, 120), 3);
    Wheel(view, QPoint(0, -120), 1);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ControlModifier, QPoint(140, 120));
    QCOMPARE(pressed, QList<QPointF>{QPointF(100, 100)});
    QCOMPARE(dragged, QList<QPointF>{QPointF(140, 120)});
    QCOMPARE(released, 1);
    QCOMPARE(wheeled, 2);
    QCOMPARE(Camera(*view), QList<double>({0, 0, 0, 0.8, 0, 2.5, 0, 0.4}));
    // Without Ctrl: a turn, and no pull.
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(view, QPoint(136, 100));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(136, 100));
    QCOMPARE(view->Spin(), 10.0);
    QCOMPARE(pressed.size(), 1);
    QCOMPARE(released, 1);
  }

  void pickingLandsOnTheDrawnSurface_data() {
    QTest::addColumn<QString>("arm");  // a sample's name, or empty for the built-in arm
    QTest::addColumn<bool>("shapes");
    QTest::newRow("the built-in arm's figure") << QString() << false;
    QTest::newRow("boxes, cylinders and spheres: puma560") << "puma560" << true;
    QTest::newRow("meshes: industrial6") << "industrial6" << true;
    QTest::newRow("a file's arm as its figure: scara") << "scara" << false;
  }
  // At every pixel well inside the arm's picture, the point picked there lies where the depth
  // buffer says the drawn surface is (at the pixel, or beside it where the pixel lies on an edge in
  // front of another surface), within a pixel's size at that depth, on a link; at every pixel well
  // inside the background, nothing is picked.
  void pickingLandsOnTheDrawnSurface() {
    QFETCH(QString, arm);
    QFETCH(bool, shapes);
    std::string error;
    const std::string path = VELMOTH_EXAMPLES "/" + arm.toStdString() + ".urdf";
    std::unique_ptr<Robot> robot = arm.isEmpty() ? MakeBuiltInRobot() : LoadUrdfRobot(path, error);
    QVERIFY2(robot != nullptr, error.c_str());
    for (std::size_t i = 0; i < robot->links.size(); ++i) {
      robot->links[i]->q =
          std::clamp(0.4 * std::sin(1.0 + i), robot->links[i]->lower, robot->links[i]->upper);
    }
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(320, 240));
    QVERIFY(view != nullptr && view->IsGlReady());
    if (!arm.isEmpty()) {
      std::vector<std::string> notices;
      view->SetShapes(std::make_shared<VisualModel>(
          LoadUrdfVisuals(path, PackageSearchFor(path, {}), notices)));
      view->SetShowShapes(shapes);
    }
    view->FitArm();
    const QImage image = view->GrabFrame();
    QVERIFY(!image.isNull());
    view->makeCurrent();
    const int w = image.width(), h = image.height();
    std::vector<float> depth(static_cast<std::size_t>(w) * h);
    glReadPixels(0, 0, w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    const auto at = [&](int x, int y) {
      return depth[static_cast<std::size_t>(h - 1 - y) * w + x];
    };
    const float background = 1.0f;
    // The camera the paint used, to turn a depth back into a world point.
    const COglWnd::Point3 &e = view->Eye(), &c = view->Center();
    QMatrix4x4 projection, camera;
    projection.perspective(float(view->FovY()), float(w) / float(h), float(view->NearPlane()),
                           float(COglWnd::kFarPlane));
    camera.lookAt(QVector3D(e.x, e.y, e.z), QVector3D(c.x, c.y, c.z), QVector3D(0, 0, 1));
    camera.rotate(float(view->Tilt()), 0, 1, 0);
    camera.rotate(float(view->Spin()), 0, 0, 1);
    const double ratio = double(w) / view->width();
    int onArm = 0, empty = 0;
    double worst = 0.0;
    for (int y = 2; y < h - 2; y += 3) {
      for (int x = 2; x < w - 2; x += 3) {
        bool inside = true, outside = true;
        for (int k = 0; k < 25; ++k) {
          const float d = at(x + k % 5 - 2, y + k / 5 - 2);
          inside = inside && d < background;
          outside = outside && d == background;
        }
        if (!inside && !outside) {
          continue;  // an edge: the polygons and the true surfaces part within a pixel
        }
        const ArmPick pick = view->PickAt(QPointF(x / ratio, y / ratio));
        if (outside) {
          QVERIFY2(!pick.hit, qPrintable(QString("picked empty space at %1, %2").arg(x).arg(y)));
          ++empty;
          continue;
        }
        if (!pick.hit) {
          continue;  // the grid or the axes, drawn but not the arm
        }
        // The drawn surface at the pixel or, at an edge between two surfaces where the pixel's
        // centre falls to the one behind, at a pixel beside it.
        const QVector3D picked(pick.point[0], pick.point[1], pick.point[2]);
        const double distance = (camera.map(picked) - QVector3D(0, 0, 0)).length();
        const double pixel = 2.0 * distance * std::tan(view->FovY() * M_PI / 360.0) / h;
        double off = 1e300;
        for (int k = 0; k < 9; ++k) {
          const int px = x + k % 3 - 1, py = y + k / 3 - 1;
          const QVector3D drawn = QVector3D(px + 0.5f, h - 1 - py + 0.5f, at(px, py))
                                      .unproject(camera, projection, QRect(0, 0, w, h));
          off = std::min(off, double((drawn - picked).length()) / pixel);
        }
        worst = std::max(worst, off);
        QVERIFY2(
            off <= 1.0,
            qPrintable(
                QString("%1 pixels off at %2, %3, link %4").arg(off).arg(x).arg(y).arg(pick.link)));
        QVERIFY(pick.link >= -1 && pick.link < int(robot->links.size()));
        ++onArm;
      }
    }
    view->doneCurrent();
    qInfo("%d pixels on the arm, at most %.3f pixels off the drawn surface; %d empty", onArm, worst,
          empty);
    QVERIFY(onArm > 30 && empty > 30);
  }

  // An empty view still has a projection, at 1 x 1.
  void emptySize() {
    CountingView* view = Show(new CountingView);
    QVERIFY(view != nullptr);
    m_container->resize(0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(view->ViewportSize(), QSize(1, 1), thread_test::kGuardMs);
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
    const QStringList all = message.isEmpty() ? QStringList() : QStringList{message};
    if (atSetUp) {  // the message waits for the event loop; the view never paints
      QTRY_COMPARE_WITH_TIMEOUT(m_messages, all, thread_test::kGuardMs);
      QCOMPARE(view->paints, 0);
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(view->paints > 0, thread_test::kGuardMs);
      QCOMPARE(m_messages, QStringList());
    }
    m_frame.reset();
    QCOMPARE(m_messages, all);
  }

  void framing_data() {
    QTest::addColumn<QString>("arm");  // a sample, "builtin", "ur5", or a chain (of length, hung)
    QTest::addColumn<double>("length");
    QTest::addColumn<double>("hangAt");
    QTest::addColumn<QSize>("size");
    const QSize window(1052, 465), tall(400, 600);  // the window's view at its default size
    for (const char* arm : {"builtin", "ur5", "arm7_gripper", "industrial6", "puma560", "scara",
                            "planar_3link", "double_pendulum"}) {
      QTest::newRow(arm) << QString::fromLatin1(arm) << 0.0 << 0.0 << window;
    }
    QTest::newRow("builtin, tall view") << QStringLiteral("builtin") << 0.0 << 0.0 << tall;
    QTest::newRow("ur5, tall view") << QStringLiteral("ur5") << 0.0 << 0.0 << tall;
    QTest::newRow("0.1 m chain") << QString() << 0.1 << 0.0 << window;
    QTest::newRow("10 m chain, tall view") << QString() << 10.0 << 0.0 << tall;
    QTest::newRow("1 m chain hung 2 m up") << QString() << 1.0 << 2.0 << window;
  }
  // As pictures: the arm's pixels are those that change when it is taken out of the scene. The
  // start view shows all the arm can reach: the arm is in view in its start pose and in any other,
  // seen from the side of its motion (the planar arms face on). Fit, from wherever the camera was
  // (below the floor too) and in any pose, brings the whole arm into the picture, filling at least
  // half of the view's width or height (so at least half of its smaller side), the eye above the
  // floor, seen from the same direction unless raised over the floor. Reset view (Shift+Home) puts
  // back the start, which a new size of the view frames anew.
  void framing() {
    QFETCH(QString, arm);
    QFETCH(double, length);
    QFETCH(double, hangAt);
    QFETCH(QSize, size);
    QTemporaryDir folder;
    std::string error;
    std::unique_ptr<Robot> robot;
    std::shared_ptr<VisualModel> shapes;
    if (arm == "builtin") {
      robot = MakeBuiltInRobot();
    } else {
      const std::string path = arm.isEmpty()  ? "chain.urdf"
                               : arm == "ur5" ? WriteUr5LikeWithMeshes(folder.path())
                                              : VELMOTH_EXAMPLES "/" + arm.toStdString() + ".urdf";
      const std::string text = arm.isEmpty() ? ChainText(length, hangAt) : std::string();
      robot = arm.isEmpty() ? LoadUrdfRobotFromText(text, path, error) : LoadUrdfRobot(path, error);
      QVERIFY2(robot != nullptr, error.c_str());
      std::vector<std::string> notices;
      const PackageSearch search = PackageSearchFor(path, {});
      shapes = std::make_shared<VisualModel>(
          arm.isEmpty() ? LoadUrdfVisualsFromText(text, path, search, notices)
                        : LoadUrdfVisuals(path, search, notices));
      QVERIFY2(notices.empty(), notices.empty() ? "" : notices.front().c_str());
      QVERIFY(!shapes->shapes.empty() && shapes->failedFrames.empty());
    }
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), size);
    QVERIFY(view != nullptr && view->IsGlReady());
    view->SetShapes(shapes);
    view->StartFramingReach();
    const COglWnd::Point3 startEye = view->Eye();
    QVERIFY2(startEye.z > 0, qPrintable(QString::number(startEye.z)));
    QVERIFY(ArmInPicture(*view, robot.get(), "start"));
    if (arm == "builtin" || arm == "planar_3link" || arm == "double_pendulum") {
      // Face on to the plane it moves in, from its side nearer the front right.
      const QVector3D sight = (WorldCenter(*view) - WorldEye(*view)).normalized();
      const QVector3D across = arm == "builtin" ? QVector3D(1, 0, 0) : QVector3D(0, 1, 0);
      QVERIFY2(std::abs(QVector3D::dotProduct(sight, across)) > 0.95,
               qPrintable(QStringLiteral("%1 %2 %3").arg(sight.x()).arg(sight.y()).arg(sight.z())));
    }

    std::srand(7);
    const auto random = [](double scale) { return scale * (2.0 * std::rand() / RAND_MAX - 1.0); };
    // Wherever the joints go, the start view holds the arm.
    for (int pose = 0; pose < 4; ++pose) {
      for (auto& link : robot->links) {
        const bool limited = std::isfinite(link->lower) && std::isfinite(link->upper);
        link->q = limited ? link->lower + (link->upper - link->lower) * (0.5 + random(0.5))
                          : random(M_PI);
      }
      QVERIFY(ArmInPicture(*view, robot.get(), qPrintable(QStringLiteral("pose %1").arg(pose))));
    }
    const double far = 3 * std::max(1.0, length);
    for (int trial = 0; trial < 10; ++trial) {
      view->SetShowShapes(trial % 3 != 2);
      view->SetCamera({random(far), random(far), random(far)}, {random(1), random(1), random(1)},
                      random(180), random(90));
      const QVector3D before = WorldEye(*view) - WorldCenter(*view);
      for (auto& link : robot->links) {
        link->q = trial == 0 ? 0.0 : random(M_PI);
      }
      view->FitArm();
      QVERIFY(!view->AtStart());
      QVERIFY(
          ArmInPicture(*view, robot.get(), qPrintable(QStringLiteral("fit %1").arg(trial)), 0.5));
      QVERIFY(WorldEye(*view).z() > 0);
      // The direction stayed, or turned upwards keeping its heading.
      const QVector3D a = (WorldEye(*view) - WorldCenter(*view)).normalized(),
                      b = before.normalized();
      if (QVector3D::crossProduct(a, b).length() > 1e-4) {
        QVERIFY(a.z() > b.z());
        QVERIFY(std::abs(a.x() * b.y() - a.y() * b.x()) < 1e-4 &&
                a.x() * b.x() + a.y() * b.y() > 0);
      }
    }
    view->ResetCamera();
    QVERIFY(view->AtStart());
    QVERIFY(view->Eye().x == startEye.x && view->Eye().z == startEye.z && view->Spin() == 0);
    // At a new size the start view frames the reach anew: still the whole arm.
    m_container->resize(size.height(), size.width());
    QTRY_COMPARE_WITH_TIMEOUT(view->ViewportSize(), QSize(size.height(), size.width()),
                              thread_test::kGuardMs);
    QVERIFY(view->AtStart());
    QVERIFY(ArmInPicture(*view, robot.get(), "start, turned size"));
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

  // Seen from the side (+y to the right), each kind of shape covers what its origin, rotation and
  // size give it, in its colour: a box stood up by a quarter turn about x, a cylinder, a sphere, a
  // mesh scaled in y and z, and a mesh whose own colour wins over the shape's. A link whose mesh
  // failed is drawn as its figure, its other shapes left out; and with the shapes off, all is the
  // figure again, the column from the floor to the first joint too.
  void shapesArePlacedByOriginRotationAndScale() {
    std::string error;
    std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(
        "<robot name='r'><link name='base'/><joint name='j' type='revolute'><parent link='base'/>"
        "<child link='l1'/><origin xyz='0 0.8 0.5'/><axis xyz='0 0 1'/><limit lower='-1' "
        "upper='1' effort='1' velocity='1'/></joint><link name='l1'><inertial><origin xyz='0 0 "
        "0.2'/><mass value='1'/><inertia ixx='1' iyy='1' izz='1' ixy='0' ixz='0' iyz='0'/>"
        "</inertial></link></robot>",
        "r.urdf", error);
    QVERIFY2(robot != nullptr, error.c_str());
    auto square = std::make_shared<TriangleMesh>();  // the unit square in the y-z plane
    square->parts.resize(2);
    square->parts[0].positions = {0, 0, 0, 0, 1, 0, 0, 1, 1};
    square->parts[1].positions = {0, 0, 0, 0, 1, 1, 0, 0, 1};
    square->parts[1].coloured = true;
    square->parts[1].colour = {1, 0, 1, 1};
    for (MeshPart& part : square->parts) {
      part.normals = {1, 0, 0, 1, 0, 0, 1, 0, 0};
    }
    square->high = {0, 1, 1};
    auto model = std::make_shared<VisualModel>();
    const auto add = [&](ShapeKind kind, QVector3D at, QVector3D size, Rgba colour,
                         const char* frame = "base") {
      VisualShape& shape = model->shapes.emplace_back();
      shape.frame = frame;
      shape.kind = kind;
      shape.origin[0] = at.x(), shape.origin[1] = at.y(), shape.origin[2] = at.z();
      shape.size[0] = size.x(), shape.size[1] = size.y(), shape.size[2] = size.z();
      shape.colour = colour;
      shape.mesh = kind == ShapeKind::kMesh ? square : nullptr;
      return &shape;
    };
    VisualShape* box = add(ShapeKind::kBox, {0, -0.5, 0.8}, {0.1, 0.3, 0.05}, {1, 0, 0, 1});
    box->rotation[1][1] = box->rotation[2][2] = 0;  // a quarter turn about x: y goes to z
    box->rotation[2][1] = 1, box->rotation[1][2] = -1;
    add(ShapeKind::kCylinder, {0, -0.2, 0.8}, {0.05, 0.05, 0.3}, {0, 1, 0, 1});
    add(ShapeKind::kSphere, {0, 0.1, 0.8}, {0.08, 0.08, 0.08}, {0, 0, 1, 1});
    add(ShapeKind::kMesh, {0, 0.3, 0.7}, {1, 0.1, 0.2}, {1, 1, 0, 1});
    add(ShapeKind::kBox, {0, 0, 0.6}, {0.2, 0.2, 0.2}, {0, 1, 0, 1}, "l1");
    model->failedFrames = {"l1"};
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(600, 400));
    QVERIFY(view != nullptr && view->IsGlReady());
    view->SetShapes(model);
    view->SetCamera({3, 0, 0.8}, {0, 0.15, 0.8}, 0, 0);
    const QImage image = view->GrabFrame();
    const auto hue = [&](QVector3D p) {
      const QVector3D w = Project(image, p);
      return Hue(image.pixel(int(w.x()), image.height() - 1 - int(w.y())));
    };
    const struct {
      QVector3D at;
      char hue;
    } expected[] = {
        {{0, -0.5, 0.92f}, 'r'},  {{0, -0.5, 0.98f}, '-'},  {{0, -0.44f, 0.8f}, '-'},
        {{0, -0.2f, 0.92f}, 'g'}, {{0, -0.2f, 0.98f}, '-'}, {{0, -0.16f, 0.8f}, 'g'},
        {{0, -0.12f, 0.8f}, '-'}, {{0, 0.1f, 0.8f}, 'b'},   {{0, 0.16f, 0.8f}, 'b'},
        {{0, 0.1f, 0.9f}, '-'},   {{0, 0.38f, 0.72f}, 'y'}, {{0, 0.32f, 0.88f}, 'm'},
        {{0, 0.45f, 0.8f}, '-'},  {{0, 0.35f, 0.95f}, '-'}, {{0, 0.8f, 1.1f}, '-'},
    };
    for (const auto& e : expected) {
      QVERIFY2(hue(e.at) == e.hue,
               qPrintable(
                   QStringLiteral("%1, %2: %3").arg(e.at.y()).arg(e.at.z()).arg(QChar(hue(e.at)))));
    }
    QVERIFY(Shows(image, {0, 0.8f, 0.7f}));    // the figure of the link whose mesh failed
    QVERIFY(!Shows(image, {0, 0.4f, 0.25f}));  // the base has shapes: no column
    view->SetShowShapes(false);
    const QImage figure = view->GrabFrame();
    QVERIFY(!Shows(figure, {0, -0.5, 0.92f}) && !Shows(figure, {0, 0.1f, 0.8f}));
    QVERIFY(Shows(figure, {0, 0.4f, 0.25f}) && Shows(figure, {0, 0.8f, 0.7f}));
  }

  // Run a second time by the test suite on a display without OpenGL (VELMOTH_EXPECT_NO_GL set).
  // A joint that sits at one of its limits has an orange housing (the figure's, or drawn over the
  // shapes that cover its link); between its limits, or with them off, a grey one.
  void aJointAtALimitHasAnOrangeHousing() {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
    robot->links[1]->upper = 0.0;
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(600, 400));
    QVERIFY(view != nullptr && view->IsGlReady());
    // From +x, the housing's end cap at joint 1, above the bodies' radius.
    view->SetCamera({2, 0.3, 0.3}, {0, 0.3, 0}, 0, 0);
    const QVector3D cap(0.0375f, 0.3f, 0.035f);
    const auto hue = [&] {
      const QImage image = view->GrabFrame();
      const QVector3D w = Project(image, cap);
      return Hue(image.pixel(int(w.x()), image.height() - 1 - int(w.y())));
    };
    QCOMPARE(hue(), 'y');
    robot->limits = false;
    QCOMPARE(hue(), '-');
    robot->limits = true;
    robot->links[1]->upper = 0.5;
    QCOMPARE(hue(), '-');
  }

  // On an arm whose own shapes are orange, the housing of a joint at its limit still shows: it is
  // outlined in dark grey, which nothing else in the picture is.
  void aJointAtALimitShowsOnAnOrangeArm() {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
    robot->frames = {{"l1", 1}};
    auto model = std::make_shared<VisualModel>();
    VisualShape& box = model->shapes.emplace_back();
    box.frame = "l1";
    box.origin[1] = 0.15;
    box.size[0] = box.size[2] = 0.12;
    box.size[1] = 0.3;
    box.colour = {0.95f, 0.5f, 0.1f, 1.0f};  // the housing's own orange
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(600, 400));
    QVERIFY(view != nullptr && view->IsGlReady());
    view->SetShapes(model);
    view->SetCamera({2, 0.3, 0.6}, {0, 0.3, 0}, 0, 0);
    const auto dark = [&] {
      int count = 0;
      const QImage image = view->GrabFrame();
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
          const QRgb c = image.pixel(x, y);
          count += qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60 ? 1 : 0;
        }
      }
      return count;
    };
    QCOMPARE(dark(), 0);
    robot->links[1]->upper = 0.0;
    QVERIFY2(dark() > 50, qPrintable(QString::number(dark())));
  }

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
  // The eye and the look-at point in world coordinates: the camera's spin and tilt turned back.
  QVector3D WorldEye(const COglWnd& v) const { return Unturned(v, v.Eye()); }
  QVector3D WorldCenter(const COglWnd& v) const { return Unturned(v, v.Center()); }
  QVector3D Unturned(const COglWnd& v, const COglWnd::Point3& p) const {
    QMatrix4x4 turn;
    turn.rotate(float(v.Tilt()), 0, 1, 0);
    turn.rotate(float(v.Spin()), 0, 0, 1);
    return turn.inverted().map(QVector3D(p.x, p.y, p.z));
  }

  // Whether the arm's pixels (those that change when the arm is taken out of the scene) lie whole
  // in the picture, clear of its edges, and fill at least the share fill of its width or height.
  bool ArmInPicture(COglWndCustom& view, const Robot* robot, const char* what, double fill = 0.0) {
    const QImage with = view.GrabFrame();
    view.SetRobot(nullptr);
    const QImage without = view.GrabFrame();
    view.SetRobot(robot);
    QRect arm;
    for (int y = 0; y < with.height(); ++y) {
      for (int x = 0; x < with.width(); ++x) {
        if (with.pixel(x, y) != without.pixel(x, y)) {
          arm |= QRect(x, y, 1, 1);
        }
      }
    }
    const QRect inside = with.rect().adjusted(1, 1, -1, -1);
    const bool whole = !arm.isEmpty() && inside.contains(arm);
    const bool fills = arm.width() >= fill * with.width() || arm.height() >= fill * with.height();
    if (std::strcmp(what, "start") == 0 || std::strcmp(what, "fit 0") == 0) {
      qInfo("%s: the arm fills %.0f %% of the width, %.0f %% of the height", what,
            100.0 * arm.width() / with.width(), 100.0 * arm.height() / with.height());
    }
    if (!whole || !fills) {
      qWarning("eye %g %g %g centre %g %g %g spin %g tilt %g", view.Eye().x, view.Eye().y,
               view.Eye().z, view.Center().x, view.Center().y, view.Center().z, view.Spin(),
               view.Tilt());
      qWarning("%s: the arm's pixels %d,%d %dx%d in a picture of %dx%d", what, arm.x(), arm.y(),
               arm.width(), arm.height(), with.width(), with.height());
    }
    return whole && fills;
  }

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
