#include "view/ogl_wnd_custom.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QFontMetrics>
#include <QOpenGLContext>
#include <QPainter>

#include "robot/transforms.h"
#include "view/shape_drawing.h"
#include "visuals/arm_extent.h"
#include "visuals/figure.h"

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr GLint kCylinderSlices = kFigureSlices;

// Colours (r, g, b) of the scene.
constexpr double kGridGrey = 0.5;
constexpr double kHousingGrey = 0.5;
constexpr double kSliderGrey = 0.8;
constexpr double kBodyGrey = 0.7;
// The housing of a joint that sits at one of its limits.
constexpr double kAtLimitColour[3] = {0.95, 0.5, 0.1};
// An at-limit housing is outlined in this dark grey, a little larger again, so that it shows on an
// orange arm too (over shapes it is drawn kAtLimitOverShapes larger, visuals/figure.h).
constexpr double kAtLimitOutline = 0.1;
constexpr double kAtLimitOutlineGrowth = 1.12;
constexpr float kAtLimitOutlineWidth = 2.0f;
// The pull: its colour, the points' size and the line's width in pixels, and where its text sits
// from the cursor's point (pixels right and up).
constexpr double kPullColour[3] = {0.85, 0.1, 0.65};
constexpr GLfloat kPullPointSize = 7.0f;
constexpr GLfloat kPullLineWidth = 2.0f;
constexpr GLfloat kPullTextOffset = 8.0f;

void Line(double x0, double y0, double z0, double x1, double y1, double z1) {
  glBegin(GL_LINES);
  glVertex3d(x0, y0, z0);
  glVertex3d(x1, y1, z1);
  glEnd();
}

// Turns the local z axis onto the joint axis of the link: housings and sliders are modelled along
// z.
void OrientAlongJointAxis(const Link& link) {
  switch (link.axis) {
    case X:
      glRotated(90.0, 0.0, 1.0, 0.0);
      break;
    case Y:
      glRotated(-90.0, 1.0, 0.0, 0.0);
      break;
    default:
      break;
  }
}

}  // namespace

COglWndCustom::COglWndCustom(Robot* robot, QWindow* parent) : COglWnd(parent), m_pRobot(robot) {}

COglWndCustom::~COglWndCustom() {
  ReleaseShapes();
}

void COglWndCustom::SetShowToolFrame(bool show) {
  m_bShowToolFrame = show;
  update();
}

void COglWndCustom::SetRobot(const Robot* robot) {
  m_pRobot = robot;
  update();
}

void COglWndCustom::ReleaseShapes() {
  if (m_shapes != nullptr && IsGlReady() && context() != nullptr) {
    makeCurrent();
    m_shapes->Release();
    doneCurrent();
  }
}

void COglWndCustom::SetShapes(std::shared_ptr<const VisualModel> shapes) {
  ReleaseShapes();
  m_shapes = shapes != nullptr ? std::make_unique<ShapeDrawing>(std::move(shapes)) : nullptr;
  update();
}

void COglWndCustom::UpdateShapes(std::shared_ptr<const VisualModel> shapes) {
  if (m_shapes == nullptr || shapes == nullptr) {
    SetShapes(std::move(shapes));
    return;
  }
  m_shapes->SetModel(std::move(shapes));
  update();
}

void COglWndCustom::SetShowShapes(bool show) {
  m_bShowShapes = show;
  update();
}

const VisualModel* COglWndCustom::ShownShapes() const {
  return m_shapes != nullptr && m_bShowShapes ? &m_shapes->Model() : nullptr;
}

namespace {

std::vector<FramePoint> Outline(const Robot& robot, const VisualModel* shapes) {
  std::vector<FramePoint> points;
  for (const Ball3& ball : ArmOutline(robot, shapes)) {
    points.push_back({ball.center[0], ball.center[1], ball.center[2], ball.radius});
  }
  // An arm without links still gets a sensible view of its base.
  if (points.empty()) {
    const matrix<double>& pose = robot.basePose;
    points.push_back({pose(0, 3), pose(1, 3), pose(2, 3), 0.5});
  }
  return points;
}

}  // namespace

void COglWndCustom::FitArm() {
  if (m_pRobot != nullptr) {
    FitPoints(Outline(*m_pRobot, ShownShapes()));
  }
}

void COglWndCustom::StartFramingReach() {
  if (m_pRobot == nullptr) {
    return;
  }
  const VisualModel* shapes = ShownShapes();
  const Sphere3 reach = ArmReach(*m_pRobot, shapes);
  std::vector<FramePoint> turning, sliding;
  for (const JointDirection& joint : JointDirections(*m_pRobot)) {
    (joint.turns ? turning : sliding).push_back({joint.axis[0], joint.axis[1], joint.axis[2]});
  }
  StartFraming({reach.center[0], reach.center[1], reach.center[2], std::max(reach.radius, 0.05)},
               MotionViewDirection(turning, sliding), Outline(*m_pRobot, shapes));
}

void COglWndCustom::DrawScene() {
  ApplyCamera();
  DrawGrid(5.0, 0.5);
  DrawRobot();
  if (m_pull) {
    DrawPull();
  }
}

PickCamera COglWndCustom::Camera() const {
  PickCamera camera;
  const Point3 &eye = Eye(), &center = Center();
  camera.eye[0] = eye.x;
  camera.eye[1] = eye.y;
  camera.eye[2] = eye.z;
  camera.center[0] = center.x;
  camera.center[1] = center.y;
  camera.center[2] = center.z;
  camera.spin = Spin();
  camera.tilt = Tilt();
  camera.fovY = FovY();
  camera.aspect = Aspect();
  return camera;
}

// A mouse position names the corner of the pixel it is on; the ray goes through its centre.
ArmPick COglWndCustom::PickAt(QPointF position) const {
  if (m_pRobot == nullptr) {
    return {};
  }
  const Ray3 ray = CameraRay(Camera(), position.x() + 0.5, position.y() + 0.5, width(), height());
  return PickArm(*m_pRobot, ShownShapes(), ray, NearPlane());
}

void COglWndCustom::CursorPoint(QPointF position, double depth, double out[3]) const {
  const PickCamera camera = Camera();
  const Ray3 ray = CameraRay(camera, position.x() + 0.5, position.y() + 0.5, width(), height());
  PointAtDepth(camera, ray, depth, out);
}

double COglWndCustom::DepthOf(const double point[3]) const {
  return ViewDepth(Camera(), point);
}

void COglWndCustom::SetPullMarker(const std::optional<PullMarker>& marker) {
  m_pull = marker;
  update();
}

QString COglWndCustom::ForceText(double newtons) {
  return QString::number(newtons, 'f', newtons < 10.0 ? 2 : 1) + QStringLiteral(" N");
}

void COglWndCustom::DrawPull() {
  const PullMarker& pull = *m_pull;
  // The matrix holds what the arm left: the camera again, then world coordinates.
  glLoadIdentity();
  ApplyCamera();
  glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_POINT_BIT | GL_LINE_BIT | GL_COLOR_BUFFER_BIT);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glColor3d(kPullColour[0], kPullColour[1], kPullColour[2]);
  glPointSize(kPullPointSize);
  glBegin(GL_POINTS);
  glVertex3dv(pull.point);
  glVertex3dv(pull.target);
  glEnd();
  glLineWidth(kPullLineWidth);
  glBegin(GL_LINES);
  glVertex3dv(pull.point);
  glVertex3dv(pull.target);
  glEnd();
  // The text as a picture drawn at the cursor's point (nothing when that lies outside the view).
  const QString text = ForceText(pull.newtons);
  const qreal ratio = devicePixelRatio();
  if (text != m_labelText || m_label.isNull()) {
    QFont font;
    font.setPixelSize(static_cast<int>(13 * ratio));
    font.setBold(true);
    const QFontMetrics metrics(font);
    QImage label(metrics.horizontalAdvance(text) + 4, metrics.height() + 2,
                 QImage::Format_RGBA8888);
    label.fill(Qt::transparent);
    QPainter painter(&label);
    painter.setFont(font);
    painter.setPen(
        QColor::fromRgbF(kPullColour[0] * 0.6, kPullColour[1] * 0.6, kPullColour[2] * 0.6));
    painter.drawText(label.rect(), Qt::AlignCenter, text);
    painter.end();
    m_label = label.mirrored();  // OpenGL's rows run from the bottom
    m_labelText = text;
  }
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glRasterPos3dv(pull.target);
  glBitmap(0, 0, 0.0f, 0.0f, kPullTextOffset * static_cast<GLfloat>(ratio),
           kPullTextOffset * static_cast<GLfloat>(ratio), nullptr);
  glDrawPixels(m_label.width(), m_label.height(), GL_RGBA, GL_UNSIGNED_BYTE, m_label.constBits());
  glPopAttrib();
}

void COglWndCustom::DrawGrid(double size, double step) {
  glDisable(GL_LIGHTING);
  glColor3d(kGridGrey, kGridGrey, kGridGrey);
  const double h = size * 0.5;
  // A step that is not positive, or so small that the count overflows, draws no lines.
  const double count = step > 0.0 ? std::trunc(h / step) : 0.0;
  const int n = count >= 0.0 && count <= 100000.0 ? static_cast<int>(count) : 0;
  for (int i = -n; i <= n; ++i) {
    const double t = i * step;
    // The two lines through the origin stop there on their positive side; the axes continue them.
    const double e = i != 0 ? h : 0.0;
    Line(t, -h, 0.0, t, e, 0.0);
    Line(-h, t, 0.0, e, t, 0.0);
  }
  glColor3d(1.0, 0.0, 0.0);
  Line(0.0, 0.0, 0.0, h, 0.0, 0.0);
  glColor3d(0.0, 1.0, 0.0);
  Line(0.0, 0.0, 0.0, 0.0, h, 0.0);
  glColor3d(0.0, 0.0, 1.0);
  Line(0.0, 0.0, 0.0, 0.0, 0.0, h);
  glEnable(GL_LIGHTING);
}

void COglWndCustom::DrawAxisTriad(double length) {
  glDisable(GL_LIGHTING);
  glColor3d(0.0, 0.0, 1.0);
  Line(0.0, 0.0, 0.0, 0.0, 0.0, length);
  glColor3d(0.0, 1.0, 0.0);
  Line(0.0, 0.0, 0.0, 0.0, length, 0.0);
  glColor3d(1.0, 0.0, 0.0);
  Line(0.0, 0.0, 0.0, length, 0.0, 0.0);
  glEnable(GL_LIGHTING);
}

void COglWndCustom::DrawCylinder(double length, double radius) {
  GLUquadric* quadric = gluNewQuadric();
  const double h = length * 0.5;
  glTranslated(0.0, 0.0, -h);
  gluQuadricOrientation(quadric, GLU_INSIDE);
  gluDisk(quadric, 0.0, radius, kCylinderSlices, 1);  // bottom cap, facing -z
  gluQuadricOrientation(quadric, GLU_OUTSIDE);
  gluCylinder(quadric, radius, radius, 2.0 * h, kCylinderSlices, 1);
  glTranslated(0.0, 0.0, 2.0 * h);
  gluDisk(quadric, 0.0, radius, kCylinderSlices, 1);  // top cap, facing +z
  glTranslated(0.0, 0.0, -h);
  gluDeleteQuadric(quadric);
}

void COglWndCustom::DrawBox(double a, double b, double c) {
  const double ha = a / 2.0;
  const double hb = b / 2.0;
  const double hc = c / 2.0;
  glBegin(GL_QUADS);
  glNormal3d(0.0, 0.0, 1.0);
  glVertex3d(ha, hb, hc);
  glVertex3d(ha, -hb, hc);
  glVertex3d(-ha, -hb, hc);
  glVertex3d(-ha, hb, hc);

  glNormal3d(0.0, 0.0, -1.0);
  glVertex3d(-ha, hb, -hc);
  glVertex3d(-ha, -hb, -hc);
  glVertex3d(ha, -hb, -hc);
  glVertex3d(ha, hb, -hc);

  glNormal3d(1.0, 0.0, 0.0);
  glVertex3d(ha, hb, hc);
  glVertex3d(ha, hb, -hc);
  glVertex3d(ha, -hb, -hc);
  glVertex3d(ha, -hb, hc);

  glNormal3d(-1.0, 0.0, 0.0);
  glVertex3d(-ha, hb, hc);
  glVertex3d(-ha, hb, -hc);
  glVertex3d(-ha, -hb, -hc);
  glVertex3d(-ha, -hb, hc);

  glNormal3d(0.0, 1.0, 0.0);
  glVertex3d(-ha, hb, hc);
  glVertex3d(ha, hb, hc);
  glVertex3d(ha, hb, -hc);
  glVertex3d(-ha, hb, -hc);

  glNormal3d(0.0, -1.0, 0.0);
  glVertex3d(-ha, -hb, hc);
  glVertex3d(ha, -hb, hc);
  glVertex3d(ha, -hb, -hc);
  glVertex3d(-ha, -hb, -hc);
  glEnd();
}

// The two rotations turn the cylinder's z axis onto the direction of (x, y, z); the translation
// puts its bottom cap at the origin and its top cap at the point.
void COglWndCustom::DrawSegment(double x, double y, double z, double radius) {
  glPushMatrix();
  const double rho2 = x * x + y * y;
  const double length = std::sqrt(rho2 + z * z);
  glRotated(std::atan2(y, x) * kDegreesPerRadian, 0.0, 0.0, 1.0);
  glRotated(90.0 - std::atan2(z, std::sqrt(rho2)) * kDegreesPerRadian, 0.0, 1.0, 0.0);
  glTranslated(0.0, 0.0, length * 0.5);
  DrawCylinder(length, radius);
  glPopMatrix();
}

// OpenGL keeps matrices column by column: element (k, j) goes to index 4j + k.
void COglWndCustom::MultMatrixGL(const matrix<double>& m) {
  GLdouble gl[16];
  for (uint32_t j = 0; j < 4; ++j) {
    for (uint32_t k = 0; k < 3; ++k) {
      gl[4 * j + k] = m(k, j);
    }
  }
  gl[3] = 0.0;
  gl[7] = 0.0;
  gl[11] = 0.0;
  gl[15] = 1.0;
  glMultMatrixd(gl);
}

// The body of a link: a segment from the joint origin to the offset point, in the frame the joint
// has moved the link to.
void COglWndCustom::DrawBody(const Link& link) {
  glPushMatrix();
  MultMatrixGL(JointTransform(link));
  glColor3d(kBodyGrey, kBodyGrey, kBodyGrey);
  DrawSegment(link.offsetX, link.offsetY, link.offsetZ, link.radius);
  glPopMatrix();
}

void COglWndCustom::DrawHousing(const Link& link, bool atLimit, double scale) {
  const double r = link.radius * scale;
  glPushMatrix();
  OrientAlongJointAxis(link);
  if (atLimit) {
    glColor3d(kAtLimitColour[0], kAtLimitColour[1], kAtLimitColour[2]);
  } else {
    glColor3d(kHousingGrey, kHousingGrey, kHousingGrey);
  }
  if (link.jointType == Prismatic) {
    DrawBox(kHousingLength * r, kHousingLength * r, kHousingLength * r);
  } else {
    DrawCylinder(kHousingLength * r, kHousingRadius * r);
  }
  if (atLimit) {
    // Its edges, unlit and dark, a little outside it: the orange alone would not show against
    // orange shapes.
    glPushAttrib(GL_ENABLE_BIT | GL_LINE_BIT | GL_CURRENT_BIT);
    glDisable(GL_LIGHTING);
    glLineWidth(kAtLimitOutlineWidth);
    glColor3d(kAtLimitOutline, kAtLimitOutline, kAtLimitOutline);
    const double h = 0.5 * kHousingLength * r * kAtLimitOutlineGrowth;
    if (link.jointType == Prismatic) {
      // The box's twelve edges.
      for (int a = 0; a < 3; ++a) {
        for (const double u : {-h, h}) {
          for (const double v : {-h, h}) {
            double p0[3], p1[3];
            p0[a] = -h, p1[a] = h;
            p0[(a + 1) % 3] = p1[(a + 1) % 3] = u;
            p0[(a + 2) % 3] = p1[(a + 2) % 3] = v;
            Line(p0[0], p0[1], p0[2], p1[0], p1[1], p1[2]);
          }
        }
      }
    } else {
      // The rims of the two caps and four lines along the side.
      const double radius = kHousingRadius * r * kAtLimitOutlineGrowth;
      for (const double z : {-h, h}) {
        glBegin(GL_LINE_LOOP);
        for (int k = 0; k < kCylinderSlices; ++k) {
          const double angle = 2.0 * M_PI * k / kCylinderSlices;
          glVertex3d(radius * std::cos(angle), radius * std::sin(angle), z);
        }
        glEnd();
      }
      for (int k = 0; k < 4; ++k) {
        const double angle = 0.5 * M_PI * k;
        Line(radius * std::cos(angle), radius * std::sin(angle), -h, radius * std::cos(angle),
             radius * std::sin(angle), h);
      }
    }
    glPopAttrib();
  }
  glPopMatrix();
}

void COglWndCustom::DrawRevoluteJoint(const Link& link, bool atLimit) {
  DrawHousing(link, atLimit, 1.0);
  DrawBody(link);
}

void COglWndCustom::DrawPrismaticJoint(const Link& link, bool atLimit) {
  const double r = link.radius;
  const double q = link.q;
  DrawHousing(link, atLimit, 1.0);
  glPushMatrix();
  OrientAlongJointAxis(link);
  // The slider reaches from the joint origin to the displacement q along the axis (the other way
  // when q is negative).
  glTranslated(0.0, 0.0, q * 0.5);
  glColor3d(kSliderGrey, kSliderGrey, kSliderGrey);
  DrawBox(kSliderWidth * r, kSliderWidth * r, q);
  glPopMatrix();
  DrawBody(link);
}

// The matrix starts at the world frame the camera set and holds each link's incoming frame in turn.
// A link whose joint type is unknown draws nothing but still moves the links after it. Links that
// their shapes draw skip their figure; the shapes are placed from the world frame.
void COglWndCustom::DrawRobot() const {
  if (m_pRobot == nullptr) {
    return;
  }
  const VisualModel* shapes = ShownShapes();
  ShapePlacement placement;
  if (shapes != nullptr) {
    placement = PlaceShapes(*shapes, *m_pRobot);
    glPushMatrix();
    m_shapes->Draw(*m_pRobot, placement);
    glPopMatrix();
  }
  const auto figure = [&](int k) { return shapes == nullptr || !placement.Covers(k); };
  // The first joint sits where the arm's base pose puts it; a column of the housings' grey carries
  // it there from the world origin.
  const matrix<double>& base = m_pRobot->basePose;
  if (!m_pRobot->links.empty() && figure(-1) &&
      (base(0, 3) != 0.0 || base(1, 3) != 0.0 || base(2, 3) != 0.0)) {
    glColor3d(kHousingGrey, kHousingGrey, kHousingGrey);
    DrawSegment(base(0, 3), base(1, 3), base(2, 3), m_pRobot->links.front()->radius);
  }
  MultMatrixGL(base);
  for (std::size_t k = 0; k < m_pRobot->links.size(); ++k) {
    const Link& link = *m_pRobot->links[k];
    const bool atLimit = JointAtLimit(*m_pRobot, k) != 0;
    if (figure(static_cast<int>(k))) {
      glColor3d(kBodyGrey, kBodyGrey, kBodyGrey);
      switch (link.jointType) {
        case Fixed:
          DrawSegment(link.offsetX, link.offsetY, link.offsetZ, link.radius);
          break;
        case Revolute:
          DrawRevoluteJoint(link, atLimit);
          break;
        case Prismatic:
          DrawPrismaticJoint(link, atLimit);
          break;
        default:
          break;
      }
    } else if (atLimit) {
      // The shapes hide the joint: its housing shows over them.
      DrawHousing(link, true, kAtLimitHousingScale);
    }
    MultMatrixGL(JointTransform(link) * LinkOffsetTransform(link));
  }
  if (m_bShowToolFrame) {
    DrawAxisTriad(0.3);
  }
}
