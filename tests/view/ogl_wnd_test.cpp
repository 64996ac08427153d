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
  using COglWnd::resizeGL;  // the window system gives a container of no size a 1 x 1 window

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
  return over(r, g) && over(r, b)   ? 'r'
         : over(g, r) && over(g, b) ? 'g'
         : over(b, r) && over(b, g) ? 'b'
         : over(r, b) && over(g, b) ? 'y'
         : over(r, g) && over(b, g) ? 'm'
                                    : '-';
}

QString Number(double x) {
  return QString::number(x, 'g', 17);
}

// A joint of a description: revolute about axis within +-limit, or fixed without an axis.
QString UrdfJoint(const QString& name, const QString& parent, const QString& child,
                  const QString& xyz, const QString& rpy, const QString& axis = {},
                  double limit = 1) {
  const QString turns = QString(
                            "<axis xyz='%1'/><limit lower='%2' upper='%3' effort='1' "
                            "velocity='1'/>")
                            .arg(axis, Number(-limit), Number(limit));
  return QString(
             "<joint name='%1' type='%2'><parent link='%3'/><child link='%4'/><origin "
             "xyz='%5' rpy='%6'/>%7</joint>")
      .arg(name, axis.isEmpty() ? "fixed" : "revolute", parent, child, xyz, rpy,
           axis.isEmpty() ? QString() : turns);
}

// A link of a description with its mass, inertia (the same about each axis), centre of mass up z
// and visuals.
QString UrdfLink(const QString& name, double mass, double inertia, double comZ,
                 const QString& visuals) {
  return QString(
             "<link name='%1'><inertial><origin xyz='0 0 %2'/><mass value='%3'/><inertia "
             "ixx='%4' iyy='%4' izz='%4' ixy='0' ixz='0' iyz='0'/></inertial>%5</link>")
      .arg(name, Number(comZ), Number(mass), Number(inertia), visuals);
}

// A chain of three links of the given length along z on a base (a box), turning about z, y and y,
// each drawn as a box; mounted on the floor, or hung upside down from a ceiling at height.
QString ChainText(double length, double hangAt) {
  const double l = length / 3, w = length / 15;
  const auto box = [](double side, double height) {
    return QString(
               "<visual><origin xyz='0 0 %1'/><geometry><box size='%2 %2 %3'/></geometry>"
               "</visual>")
        .arg(Number(height / 2), Number(side), Number(height));
  };
  QString text = "<robot name='chain'><link name='world'/><link name='l0'>" + box(3 * w, w) +
                 "</link>" +
                 UrdfJoint("mount", "world", "l0", "0 0 " + Number(std::max(hangAt, 0.0)),
                           hangAt > 0 ? "3.141592653589793 0 0" : "0 0 0");
  for (int i = 1; i <= 3; ++i) {
    const QString link = QString("l%1").arg(i);
    text += UrdfLink(link, 1, 0.01, l / 2, box(w, l)) +
            UrdfJoint("j" + link, QString("l%1").arg(i - 1), link, "0 0 " + Number(i == 1 ? w : l),
                      "0 0 0", i == 1 ? "0 0 1" : "0 1 0");
  }
  return text + "</robot>";
}

bool WriteFile(const QString& path, const QByteArray& data) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// A closed cylinder of 24 sides from a to b.
struct Tube {
  QVector3D a, b;
  float radius;
};

// The tubes as a binary STL file, taken into its frame by into.
QByteArray Stl(const std::vector<Tube>& tubes, const QMatrix4x4& into) {
  QByteArray data(84, '\0');
  quint32 count = 0;
  const auto add = [&](QVector3D p, QVector3D q, QVector3D r) {
    for (const QVector3D& x : {QVector3D::normal(p, q, r), p, q, r}) {
      const float xyz[3] = {x.x(), x.y(), x.z()};
      data.append(reinterpret_cast<const char*>(xyz), 12);
    }
    data.append(2, '\0');
    ++count;
  };
  for (const Tube& t : tubes) {
    const QVector3D a = into.map(t.a), b = into.map(t.b), w = (b - a).normalized();
    const QVector3D u =
        QVector3D::crossProduct(w, std::abs(w.x()) < 0.9f ? QVector3D(1, 0, 0) : QVector3D(0, 1, 0))
            .normalized();
    const QVector3D v = QVector3D::crossProduct(w, u);
    const auto rim = [&](int i) {
      const double angle = 2 * M_PI * (i % 24) / 24;
      return t.radius * (float(std::cos(angle)) * u + float(std::sin(angle)) * v);
    };
    for (int k = 0; k < 24; ++k) {
      add(a + rim(k), a + rim(k + 1), b + rim(k + 1));
      add(a + rim(k), b + rim(k + 1), b + rim(k));
      add(a, a + rim(k + 1), a + rim(k));
      add(b, b + rim(k), b + rim(k + 1));
    }
  }
  std::memcpy(data.data() + 80, &count, 4);
  return data;
}

// A UR5-like arm laid out as the public description of the UR5 is: the package ur_description
// with its meshes, joint frames turned off the links (the upper arm and forearm along their z, the
// shoulder lift turned by a quarter about y), a base frame turned by pi beside base_link, a tool0
// frame, and visuals placed by origins of their own, each mesh in its own frame. The kinematics
// and masses are the UR5's published ones; the meshes are cylinders of the links' sizes. Returns
// the URDF file's path.
std::string WriteUr5LikeWithMeshes(const QString& folder) {
  const QString package = folder + "/ur_description", meshes = package + "/meshes/ur5/visual/";
  const float half = float(M_PI / 2);
  const struct {
    const char* name;
    double mass, inertia;
    QVector3D xyz, rpy;  // the visual's origin in the link
  } links[] = {
      {"base_link", 4.0, 0.0061, {}, {0, 0, float(M_PI)}},
      {"shoulder_link", 3.7, 0.0102, {}, {}},
      {"upper_arm_link", 8.393, 0.2269, {0, 0, 0.13585f}, {half, 0, -half}},
      {"forearm_link", 2.275, 0.0312, {0, 0, 0.0165f}, {half, 0, -half}},
      {"wrist_1_link", 1.219, 0.0026, {}, {half, 0, 0}},
      {"wrist_2_link", 1.219, 0.0026, {}, {}},
      {"wrist_3_link", 0.1879, 0.0001, {}, {half, 0, 0}},
  };
  const std::vector<Tube> tubes[] = {
      // each link's mesh, in the link's frame
      {{{0, 0, 0}, {0, 0, 0.086f}, 0.075f}},
      {{{0, 0, -0.03f}, {0, 0, 0.07f}, 0.06f}, {{0, -0.02f, 0}, {0, 0.14f, 0}, 0.06f}},
      {{{0, 0, 0}, {0, 0, 0.425f}, 0.045f},
       {{0, 0.02f, 0}, {0, -0.09f, 0}, 0.06f},
       {{0, 0, 0.425f}, {0, -0.125f, 0.425f}, 0.055f}},
      {{{0, 0, 0}, {0, 0, 0.39225f}, 0.038f}, {{0, 0.03f, 0}, {0, -0.06f, 0}, 0.045f}},
      {{{0, -0.04f, 0}, {0, 0.12f, 0}, 0.04f}},
      {{{0, 0, -0.04f}, {0, 0, 0.12f}, 0.04f}},
      {{{0, 0.05f, 0}, {0, 0.0823f, 0}, 0.035f}},
  };
  const char* quarter = "0 1.570796325 0";
  const struct {
    const char *name, *parent, *child, *xyz, *rpy, *axis;
  } joints[] = {
      {"base_link-base_fixed_joint", "base_link", "base", "0 0 0", "0 0 -3.14159265", ""},
      {"shoulder_pan_joint", "base_link", "shoulder_link", "0 0 0.089159", "0 0 0", "0 0 1"},
      {"shoulder_lift_joint", "shoulder_link", "upper_arm_link", "0 0.13585 0", quarter, "0 1 0"},
      {"elbow_joint", "upper_arm_link", "forearm_link", "0 -0.1197 0.425", "0 0 0", "0 1 0"},
      {"wrist_1_joint", "forearm_link", "wrist_1_link", "0 0 0.39225", quarter, "0 1 0"},
      {"wrist_2_joint", "wrist_1_link", "wrist_2_link", "0 0.093 0", "0 0 0", "0 0 1"},
      {"wrist_3_joint", "wrist_2_link", "wrist_3_link", "0 0 0.09465", "0 0 0", "0 1 0"},
      {"wrist_3_link-tool0_fixed_joint", "wrist_3_link", "tool0", "0 0.0823 0", "-1.570796325 0 0",
       ""},
  };
  QString text =
      "<robot name='ur5'><material name='grey'><color rgba='0.7 0.7 0.7 1'/></material>"
      "<link name='base'/><link name='tool0'/>";
  bool written = QDir().mkpath(package + "/urdf") && QDir().mkpath(meshes) &&
                 WriteFile(package + "/package.xml",
                           "<package format='2'><name>ur_description</name></package>\n");
  const auto triple = [](QVector3D v) {
    return Number(v.x()) + " " + Number(v.y()) + " " + Number(v.z());
  };
  for (int i = 0; i < 7; ++i) {
    const auto& [name, mass, inertia, xyz, rpy] = links[i];
    QMatrix4x4 pose;  // URDF's rpy: Rz(y) Ry(p) Rx(r)
    pose.translate(xyz);
    pose.rotate(float(rpy.z() * 180 / M_PI), 0, 0, 1);
    pose.rotate(float(rpy.y() * 180 / M_PI), 0, 1, 0);
    pose.rotate(float(rpy.x() * 180 / M_PI), 1, 0, 0);
    const QString mesh = QString(name).remove("_link");
    written = written && WriteFile(meshes + mesh + ".stl", Stl(tubes[i], pose.inverted()));
    text += UrdfLink(name, mass, inertia, 0,
                     QString("<visual><origin xyz='%1' rpy='%2'/><geometry><mesh filename='package:"
                             "//ur_description/meshes/ur5/visual/%3.stl'/></geometry><material "
                             "name='grey'/></visual>")
                         .arg(triple(xyz), triple(rpy), mesh));
  }
  for (const auto& j : joints) {
    text += UrdfJoint(j.name, j.parent, j.child, j.xyz, j.rpy, j.axis, 6.2832);
  }
  const QString path = package + "/urdf/ur5.urdf";
  return written && WriteFile(path, (text + "</robot>").toUtf8()) ? path.toStdString() : "";
}

// An arm and the shapes of its description: "builtin" (no shapes), "ur5" or a chain (an empty
// name: of the length, hung at hangAt) written into folder, a public arm unpacked by the test
// suite ("wam": the Barrett WAM, "kr5": the KUKA KR5 sixx R650), or a sample's name.
struct Arm {
  std::unique_ptr<Robot> robot;
  std::shared_ptr<VisualModel> shapes;
  std::string error;  // why there is no robot, or what is amiss with its shapes
};

Arm LoadArm(const QString& name, const QString& folder, double length = 0, double hangAt = 0) {
  Arm arm;
  if (name == "builtin") {
    arm.robot = MakeBuiltInRobot();
    return arm;
  }
  const QString chain = folder + "/chain.urdf";
  const std::string path =
      name.isEmpty()
          ? (WriteFile(chain, ChainText(length, hangAt).toUtf8()) ? chain.toStdString() : "")
      : name == "ur5" ? WriteUr5LikeWithMeshes(folder)
      : name == "wam" ? VELMOTH_PUBLIC_ARMS "/herb_description/wam.urdf"
      : name == "kr5" ? VELMOTH_PUBLIC_ARMS "/kr5/KR5 sixx R650.urdf"
                      : VELMOTH_EXAMPLES "/" + name.toStdString() + ".urdf";
  arm.robot = LoadUrdfRobot(path, arm.error);
  std::vector<std::string> notices;
  arm.shapes =
      std::make_shared<VisualModel>(LoadUrdfVisuals(path, PackageSearchFor(path, {}), notices));
  if (arm.error.empty()) {
    arm.error = !notices.empty()                    ? notices.front()
                : arm.shapes->shapes.empty()        ? "no shapes"
                : !arm.shapes->failedFrames.empty() ? "a mesh failed"
                                                    : "";
  }
  return arm;
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

  void navigate_data() {
    QTest::addColumn<Qt::MouseButton>("button");  // pressed (none: no drag), with Ctrl for a pull
    QTest::addColumn<bool>("pull");
    QTest::addColumn<QList<QPoint>>("path");  // the press, then the moves
    QTest::addColumn<QPoint>("wheel");        // the wheel's delta after the moves, events times
    QTest::addColumn<int>("events");
    QTest::addColumn<QList<double>>("camera");  // spin, tilt, centre y and z
    QTest::addColumn<double>("least");  // bounds of the eye's new distance, as a factor of the old
    QTest::addColumn<double>("most");
    const auto row = [](const char* name, Qt::MouseButton button, bool pull, QList<QPoint> path,
                        QPoint wheel, int events, QList<double> camera, double least, double most) {
      QTest::newRow(name) << button << pull << path << wheel << events << camera << least << most;
    };
    const QList<double> still{0, 0, 0, 0.8};
    row("left 36 right, 36 down in two moves turns 10 degrees each way", Qt::LeftButton, false,
        {{100, 100}, {118, 110}, {136, 136}}, {}, 0, {10, 10, 0, 0.8}, 1, 1);
    row("right 100 left, 100 down pans +1 in y and z", Qt::RightButton, false,
        {{200, 100}, {100, 200}}, {}, 0, {0, 0, 1, 1.8}, 1, 1);
    row("middle changes nothing", Qt::MiddleButton, false, {{100, 100}, {136, 136}}, {}, 0, still,
        1, 1);
    row("a pull is reported and neither turns nor zooms", Qt::LeftButton, true,
        {{100, 100}, {140, 120}, {150, 90}}, {0, 120}, 3, still, 1, 1);
    row("a pull's wheel: any size of delta is one step", Qt::LeftButton, true, {{100, 100}},
        {0, -15}, 2, still, 1, 1);
    row("one notch away", Qt::NoButton, false, {}, {0, 120}, 1, still, 1.1, 1.1);
    row("any size of delta towards is one step", Qt::NoButton, false, {}, {0, -15}, 2, still, 0.81,
        0.81);
    row("horizontal only: no step", Qt::NoButton, false, {}, {120, 0}, 3, still, 1, 1);
    // Steps that would collapse the eye onto the centre or send it to infinity are ignored.
    row("in, far past the limit", Qt::NoButton, false, {}, {0, -120}, 20000, still, DBL_MIN, 1e-3);
    // Out, the eye stops where the scene is still well in view and far inside the far plane.
    const double start = std::sqrt(2.5 * 2.5 + 0.4 * 0.4);
    row("out, far past the limit", Qt::NoButton, false, {}, {0, 120}, 2000, still,
        COglWnd::kMaxEyeDistance / 1.1 / start, COglWnd::kMaxEyeDistance / start);
  }
  // A drag: only moves with a button held count, and the release of any button ends it, even while
  // the pressed one is still held. The wheel moves the eye along the line of sight to the look-at
  // point, which stays. Neither moves the eye off that line nor the centre's x; each change
  // repaints. A pull (Ctrl and the left button) reports its press, its moves, its one release and
  // the wheel's steps (positive away from the user) instead; nothing else reports a pull.
  void navigate() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, pull);
    QFETCH(QList<QPoint>, path);
    QFETCH(QPoint, wheel);
    QFETCH(int, events);
    QFETCH(QList<double>, camera);
    QFETCH(double, least);
    QFETCH(double, most);
    CountingView* view = Show(new CountingView);
    QVERIFY(view != nullptr);
    QList<QPointF> pressed, dragged;
    int released = 0, steps = 0;
    connect(view, &COglWnd::pullPressed, this, [&](QPointF p) { pressed << p; });
    connect(view, &COglWnd::pullDragged, this, [&](QPointF p) { dragged << p; });
    connect(view, &COglWnd::pullReleased, this, [&] { ++released; });
    connect(view, &COglWnd::pullWheeled, this, [&](int s) { steps += s; });
    if (button != Qt::NoButton) {
      QTest::mousePress(view, button, pull ? Qt::ControlModifier : Qt::NoModifier, path[0]);
    }
    const int paints = view->paints;
    for (qsizetype i = 1; i < path.size(); ++i) {
      QTest::mouseMove(view, path[i]);
    }
    Wheel(view, wheel, events);
    QMouseEvent unheld(QEvent::MouseMove, QPointF(300, 250), view->mapToGlobal(QPointF(300, 250)),
                       Qt::NoButton, Qt::NoButton, Qt::NoModifier);  // as mouse tracking sends it
    QApplication::sendEvent(view, &unheld);
    const bool changed = !pull && (button != Qt::NoButton || most != 1.0);
    QTRY_VERIFY_WITH_TIMEOUT(!changed || view->paints > paints, thread_test::kGuardMs);
    QTest::mouseRelease(view, button == Qt::LeftButton ? Qt::RightButton : Qt::LeftButton,
                        Qt::NoModifier, path.value(path.size() - 1));
    QTest::mouseMove(view, QPoint(10, 290));
    QTest::mouseRelease(view, button, Qt::NoModifier, QPoint(10, 290));
    const COglWnd::Point3 &eye = view->Eye(), &centre = view->Center();
    QCOMPARE((QList<double>{view->Spin(), view->Tilt(), centre.y, centre.z, centre.x, eye.y}),
             camera << 0 << 0);
    const double dx = eye.x, dz = eye.z - 0.8;
    const double f = std::sqrt(dx * dx + dz * dz) / std::sqrt(2.5 * 2.5 + 0.4 * 0.4);
    QVERIFY2(f >= least * (1 - 1e-12) && f <= most * (1 + 1e-12), qPrintable(QString::number(f)));
    QVERIFY(qAbs(dx / f - 2.5) < 1e-9 && qAbs(dz / f + 0.4) < 1e-9);
    QVERIFY(events > 0 || (eye.x == 2.5 && eye.z == 0.4));
    QCOMPARE(pressed, pull ? QList<QPointF>{path[0]} : QList<QPointF>());
    QCOMPARE(dragged, pull ? QList<QPointF>(path.begin() + 1, path.end()) : QList<QPointF>());
    QCOMPARE(released, pull ? 1 : 0);
    QCOMPARE(steps, pull ? events * (wheel.y() > 0 ? 1 : -1) : 0);
  }

  void picking_data() {
    QTest::addColumn<QString>("arm");
    QTest::addColumn<bool>("shapes");
    QTest::newRow("the built-in arm's figure") << "builtin" << false;
    QTest::newRow("boxes, cylinders and spheres: puma560") << "puma560" << true;
    QTest::newRow("meshes: industrial6") << "industrial6" << true;
    QTest::newRow("a file's arm as its figure: scara") << "scara" << false;
  }
  // At every pixel well inside the arm's picture, the point picked there lies where the depth
  // buffer says the drawn surface is (at the pixel, or beside it where the pixel lies on an edge in
  // front of another surface), within a pixel's size at that depth, on a link; at every pixel well
  // inside the background, nothing is picked.
  void picking() {
    QFETCH(QString, arm);
    QFETCH(bool, shapes);
    const Arm a = LoadArm(arm, QString());
    QVERIFY2(a.robot != nullptr && a.error.empty(), a.error.c_str());
    for (std::size_t i = 0; i < a.robot->links.size(); ++i) {
      Link& link = *a.robot->links[i];
      link.q = std::clamp(0.4 * std::sin(1.0 + i), link.lower, link.upper);
    }
    COglWndCustom* view = Show(new COglWndCustom(a.robot.get()), QSize(320, 240));
    QVERIFY(view != nullptr && view->IsGlReady());
    view->SetShapes(a.shapes);
    view->SetShowShapes(shapes);
    view->FitArm();
    const QImage image = view->GrabFrame();
    QVERIFY(!image.isNull());
    view->makeCurrent();
    const int w = image.width(), h = image.height();
    std::vector<float> depth(static_cast<std::size_t>(w) * h);
    glReadPixels(0, 0, w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    view->doneCurrent();
    const auto at = [&](int x, int y) {
      return depth[static_cast<std::size_t>(h - 1 - y) * w + x];
    };
    QMatrix4x4 projection, camera;  // the paint's, to turn a depth back into a world point
    Cameras(image, projection, camera);
    const double ratio = double(w) / view->width();
    int onArm = 0, empty = 0;
    for (int y = 2; y < h - 2; y += 3) {
      for (int x = 2; x < w - 2; x += 3) {
        bool inside = true, outside = true;
        for (int k = 0; k < 25; ++k) {
          const float d = at(x + k % 5 - 2, y + k / 5 - 2);
          inside = inside && d < 1.0f;
          outside = outside && d == 1.0f;
        }
        if (!inside && !outside) {
          continue;  // an edge: the polygons and the true surfaces part within a pixel
        }
        const ArmPick pick = view->PickAt(QPointF(x / ratio, y / ratio));
        QVERIFY2(inside || !pick.hit,
                 qPrintable(QString("picked empty space at %1, %2").arg(x).arg(y)));
        empty += outside ? 1 : 0;
        if (!pick.hit) {
          continue;  // empty space, or the grid or the axes, drawn but not the arm
        }
        const QVector3D picked(pick.point[0], pick.point[1], pick.point[2]);
        const double pixel =
            2.0 * camera.map(picked).length() * std::tan(view->FovY() * M_PI / 360.0) / h;
        double off = 1e300;
        for (int k = 0; k < 9; ++k) {
          const int px = x + k % 3 - 1, py = y + k / 3 - 1;
          const QVector3D drawn = QVector3D(px + 0.5f, h - 1 - py + 0.5f, at(px, py))
                                      .unproject(camera, projection, QRect(0, 0, w, h));
          off = std::min(off, double((drawn - picked).length()) / pixel);
        }
        QVERIFY2(off <= 1.0, qPrintable(QString("%1 pixels off at %2, %3").arg(off).arg(x).arg(y)));
        QVERIFY(pick.link >= -1 && pick.link < int(a.robot->links.size()));
        ++onArm;
      }
    }
    QVERIFY2(onArm > 30 && empty > 30,
             qPrintable(QString("%1 on the arm, %2 empty").arg(onArm).arg(empty)));
  }

  // An empty view still has a projection, at 1 x 1.
  void emptySize() {
    CountingView* view = Show(new CountingView);
    QVERIFY(view != nullptr);
    m_container->resize(0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(view->ViewportSize(), QSize(1, 1), thread_test::kGuardMs);
    view->resizeGL(0, 0);
    QCOMPARE(view->ViewportSize(), QSize(1, 1));
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
    QSurfaceFormat format = COglWnd::SurfaceFormat();
    if (step == -2) {
      format.setVersion(3, 3);
      format.setProfile(QSurfaceFormat::CoreProfile);
    }
    view->setFormat(format);
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
    QTest::addColumn<QString>("arm");  // as LoadArm takes it; a chain: of length, hung at hangAt
    QTest::addColumn<double>("length");
    QTest::addColumn<double>("hangAt");
    QTest::addColumn<QSize>("size");
    const QSize window(1052, 465), tall(400, 600);  // the window's view at its default size
    for (const char* arm : {"builtin", "ur5", "wam", "kr5", "arm7_gripper", "industrial6",
                            "puma560", "scara", "planar_3link", "double_pendulum"}) {
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
    const Arm loaded = LoadArm(arm, folder.path(), length, hangAt);
    QVERIFY2(loaded.robot != nullptr && loaded.error.empty(), loaded.error.c_str());
    Robot* robot = loaded.robot.get();
    COglWndCustom* view = Show(new COglWndCustom(robot), size);
    QVERIFY(view != nullptr && view->IsGlReady());
    view->SetShapes(loaded.shapes);
    view->StartFramingReach();
    const COglWnd::Point3 startEye = view->Eye();
    QVERIFY2(startEye.z > 0, qPrintable(QString::number(startEye.z)));
    // From the look-at point to the eye, in world coordinates.
    const auto back = [&] { return World(*view, view->Eye()) - World(*view, view->Center()); };
    QVERIFY(ArmInPicture(*view, robot, "start"));
    if (arm == "builtin" || arm == "planar_3link" || arm == "double_pendulum") {
      // Face on to the plane it moves in, from its side nearer the front right.
      const QVector3D sight = -back().normalized();
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
      QVERIFY(ArmInPicture(*view, robot, QStringLiteral("pose %1").arg(pose)));
    }
    const double far = 3 * std::max(1.0, length);
    for (int trial = 0; trial < 10; ++trial) {
      view->SetShowShapes(trial % 3 != 2);
      view->SetCamera({random(far), random(far), random(far)}, {random(1), random(1), random(1)},
                      random(180), random(90));
      const QVector3D b = back().normalized();
      for (auto& link : robot->links) {
        link->q = trial == 0 ? 0.0 : random(M_PI);
      }
      view->FitArm();
      QVERIFY(!view->AtStart());
      QVERIFY(ArmInPicture(*view, robot, QStringLiteral("fit %1").arg(trial), 0.5));
      QVERIFY(World(*view, view->Eye()).z() > 0);
      // The direction stayed, or turned upwards keeping its heading.
      const QVector3D a = back().normalized();
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
    QVERIFY(ArmInPicture(*view, robot, "start, turned size"));
  }

  // A link with a fixed joint in the middle of the chain carries the next links as any other; each
  // link is drawn of its own length, the last reaching exactly to its end and no further.
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
    for (int i = 0; i < 3; ++i) {  // the others, the fixed one too, reach along theirs
      QVERIFY2(Shows(image, InLink(*robot, i, QVector3D(0, 0.8 * lengths[i], 0))),
               qPrintable(QString::number(i)));
    }
  }

  // Seen from the side (+y to the right), each kind of shape covers what its origin, rotation and
  // size give it, in its colour: a box stood up by a quarter turn about x, a cylinder, a sphere, a
  // mesh scaled in y and z, and a mesh whose own colour wins over the shape's. A link whose mesh
  // failed is drawn as its figure, its other shapes left out; and with the shapes off, all is the
  // figure again, the column from the floor to the first joint too.
  void shapesArePlacedByOriginRotationAndScale() {
    std::string error;
    const QString text = "<robot name='r'><link name='base'/>" +
                         UrdfJoint("j", "base", "l1", "0 0.8 0.5", "0 0 0", "0 0 1") +
                         UrdfLink("l1", 1, 1, 0.2, "") + "</robot>";
    std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text.toStdString(), "r.urdf", error);
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
      const char hue = Hue(image.pixel(PixelOf(image, e.at)));
      QVERIFY2(
          hue == e.hue,
          qPrintable(QStringLiteral("%1, %2: %3").arg(e.at.y()).arg(e.at.z()).arg(QChar(hue))));
    }
    QVERIFY(Shows(image, {0, 0.8f, 0.7f}));    // the figure of the link whose mesh failed
    QVERIFY(!Shows(image, {0, 0.4f, 0.25f}));  // the base has shapes: no column
    view->SetShowShapes(false);
    const QImage figure = view->GrabFrame();
    QVERIFY(!Shows(figure, {0, -0.5, 0.92f}) && !Shows(figure, {0, 0.1f, 0.8f}));
    QVERIFY(Shows(figure, {0, 0.4f, 0.25f}) && Shows(figure, {0, 0.8f, 0.7f}));
  }

  void aJointAtALimitIsOrangeAndOutlined_data() {
    QTest::addColumn<bool>("orangeArm");  // the link drawn by a box of the housing's own orange
    QTest::addColumn<double>("upper");    // joint 1's upper limit; it sits at 0
    QTest::addColumn<bool>("limits");
    QTest::newRow("figure, at its limit") << false << 0.0 << true;
    QTest::newRow("figure, limits off") << false << 0.0 << false;
    QTest::newRow("figure, between its limits") << false << 0.5 << true;
    QTest::newRow("orange arm, at its limit") << true << 0.0 << true;
    QTest::newRow("orange arm, between its limits") << true << 0.5 << true;
  }
  // A joint that sits at one of its limits has an orange housing (the figure's, or drawn over the
  // shapes that cover its link), outlined in dark grey, which nothing else in the picture is, so
  // that it shows on an orange arm too; between its limits, or with them off, a grey one.
  void aJointAtALimitIsOrangeAndOutlined() {
    QFETCH(bool, orangeArm);
    QFETCH(double, upper);
    QFETCH(bool, limits);
    const bool atLimit = limits && upper == 0.0;
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
    robot->links[1]->upper = upper;
    robot->limits = limits;
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
    view->SetShapes(orangeArm ? model : nullptr);
    view->SetCamera({2, 0.3, 0.3}, {0, 0.3, 0}, 0, 0);  // from +x, joint 1 in the middle
    const QImage image = view->GrabFrame();
    if (!orangeArm) {  // the housing's end cap at joint 1, above the bodies' radius
      QCOMPARE(Hue(image.pixel(PixelOf(image, {0.0375f, 0.3f, 0.035f}))), atLimit ? 'y' : '-');
      return;
    }
    int dark = 0;
    for (auto [c, n] : Colours(image).asKeyValueRange()) {
      dark += qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60 ? n : 0;
    }
    QVERIFY2(atLimit ? dark > 50 : dark == 0, qPrintable(QString::number(dark)));
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
  // Without links, and without a robot, only the grid and the axes are left, on the background of
  // the buttons' face.
  void scene() {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot();
    COglWndCustom* view = Show(new COglWndCustom(robot.get()), QSize(1200, 600));
    QVERIFY(view != nullptr && view->IsGlReady());
    QImage image = view->GrabFrame();
    QVERIFY(image.save(QStringLiteral(VELMOTH_VIEW_PNG), "PNG"));
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
  // A point of the camera (its eye, its look-at point) in world coordinates: its spin and tilt
  // turned back.
  QVector3D World(const COglWnd& v, const COglWnd::Point3& p) const {
    QMatrix4x4 turn;
    turn.rotate(float(v.Tilt()), 0, 1, 0);
    turn.rotate(float(v.Spin()), 0, 0, 1);
    return turn.inverted().map(QVector3D(p.x, p.y, p.z));
  }

  // Whether the arm's pixels (those that change when the arm is taken out of the scene) lie whole
  // in the picture, clear of its edges, and fill at least the share fill of its width or height.
  bool ArmInPicture(COglWndCustom& view, const Robot* robot, const QString& what, double fill = 0) {
    const QImage with = view.GrabFrame();
    view.SetRobot(nullptr);
    const QImage without = view.GrabFrame();
    view.SetRobot(robot);
    QRect arm;
    for (int i = 0; i < with.width() * with.height(); ++i) {
      const QPoint p(i % with.width(), i / with.width());
      arm |= with.pixel(p) != without.pixel(p) ? QRect(p, QSize(1, 1)) : QRect();
    }
    const bool whole = !arm.isEmpty() && with.rect().adjusted(1, 1, -1, -1).contains(arm);
    const bool fills = arm.width() >= fill * with.width() || arm.height() >= fill * with.height();
    if (!whole || !fills) {
      qWarning(
          "%s: the arm's pixels %d,%d %dx%d in a picture of %dx%d; eye %g %g %g centre %g %g "
          "%g spin %g tilt %g",
          qPrintable(what), arm.x(), arm.y(), arm.width(), arm.height(), with.width(),
          with.height(), view.Eye().x, view.Eye().y, view.Eye().z, view.Center().x, view.Center().y,
          view.Center().z, view.Spin(), view.Tilt());
    }
    return whole && fills;
  }

  // Shows the view inside a frame, as the main window holds it; null unless it is exposed and has
  // painted its first frame, through its GL set-up (or a failure of it).
  template <typename View>
  View* Show(View* view, QSize size = QSize(400, 300)) {
    m_frame = std::make_unique<QWidget>();
    m_frame->resize(size + QSize(20, 20));
    m_container = view->EmbedIn(m_frame.get());
    m_container->setGeometry(QRect(QPoint(10, 10), size));
    QSignalSpy swapped(view, &QOpenGLWindow::frameSwapped);
    m_frame->show();
    m_view = view;
    const bool shown = QTest::qWaitForWindowExposed(m_frame.get()) &&
                       QTest::qWaitForWindowExposed(view) &&
                       QTest::qWaitFor([&] { return !swapped.isEmpty(); }, thread_test::kGuardMs);
    return shown ? view : nullptr;
  }

  // The camera of a paint of the size of image: 45 degrees vertically at its aspect between the
  // view's clipping planes, the look-at camera, then the tilt about y and the spin about z.
  void Cameras(const QImage& image, QMatrix4x4& projection, QMatrix4x4& camera) const {
    const COglWnd::Point3 &e = m_view->Eye(), &c = m_view->Center();
    projection.perspective(45.0f, float(image.width()) / float(image.height()),
                           float(m_view->NearPlane()), float(COglWnd::kFarPlane));
    camera.lookAt(QVector3D(e.x, e.y, e.z), QVector3D(c.x, c.y, c.z), QVector3D(0, 0, 1));
    camera.rotate(float(m_view->Tilt()), 0, 1, 0);
    camera.rotate(float(m_view->Spin()), 0, 0, 1);
  }

  // The pixel of image where world point p lands.
  QPoint PixelOf(const QImage& image, const QVector3D& p) const {
    QMatrix4x4 projection, camera;
    Cameras(image, projection, camera);
    const QVector3D w = p.project(camera, projection, image.rect());
    return QPoint(int(std::floor(w.x())), image.height() - 1 - int(std::floor(w.y())));
  }

  // Whether the pixel where world point p lands has the colour; a line's colour, being one pixel
  // wide, may be up to two pixels away.
  bool Shows(const QImage& image, const QVector3D& p, QRgb colour = kCovered) const {
    const QPoint at = PixelOf(image, p);
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

  std::unique_ptr<QWidget> m_frame;
  QWidget* m_container = nullptr;  // in m_frame, holding the view
  COglWnd* m_view = nullptr;       // inside m_container
  QStringList m_messages;
};

QTEST_MAIN(OglWndTest)
#include "ogl_wnd_test.moc"
