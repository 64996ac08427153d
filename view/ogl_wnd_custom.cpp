#include "view/ogl_wnd_custom.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "robot/transforms.h"

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr GLint kCylinderSlices = 25;

// Colours (r, g, b) of the scene.
constexpr double kGridGrey = 0.5;
constexpr double kHousingGrey = 0.5;
constexpr double kSliderGrey = 0.8;
constexpr double kBodyGrey = 0.7;

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

void COglWndCustom::SetShowToolFrame(bool show) {
  m_bShowToolFrame = show;
  update();
}

void COglWndCustom::SetRobot(const Robot* robot) {
  m_pRobot = robot;
  update();
}

void COglWndCustom::FitArm() {
  double reach = 0.0;
  double housing = 0.0;
  Point3 base{0.0, 0.0, 0.0};
  if (m_pRobot != nullptr) {
    const matrix<double>& pose = m_pRobot->basePose;
    base = {pose(0, 3), pose(1, 3), pose(2, 3)};
    for (const std::unique_ptr<Link>& link : m_pRobot->links) {
      reach += std::sqrt(link->offsetX * link->offsetX + link->offsetY * link->offsetY +
                         link->offsetZ * link->offsetZ);
      housing = std::max(housing, 1.3 * link->radius);
    }
  }
  // An arm without reach still gets a sensible view of its base.
  FitSphere(base, std::max(reach + housing, 0.5));
}

void COglWndCustom::DrawScene() {
  ApplyCamera();
  DrawGrid(5.0, 0.5);
  DrawRobot();
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

void COglWndCustom::DrawRevoluteJoint(const Link& link) {
  const double r = link.radius;
  glPushMatrix();
  OrientAlongJointAxis(link);
  glColor3d(kHousingGrey, kHousingGrey, kHousingGrey);
  DrawCylinder(2.5 * r, 1.3 * r);
  glPopMatrix();
  DrawBody(link);
}

void COglWndCustom::DrawPrismaticJoint(const Link& link) {
  const double r = link.radius;
  const double q = link.q;
  glPushMatrix();
  OrientAlongJointAxis(link);
  glColor3d(kHousingGrey, kHousingGrey, kHousingGrey);
  DrawBox(2.5 * r, 2.5 * r, 2.5 * r);
  // The slider reaches from the joint origin to the displacement q along the axis (the other way
  // when q is negative).
  glTranslated(0.0, 0.0, q * 0.5);
  glColor3d(kSliderGrey, kSliderGrey, kSliderGrey);
  DrawBox(1.5 * r, 1.5 * r, q);
  glPopMatrix();
  DrawBody(link);
}

// The matrix starts at the world frame the camera set and holds each link's incoming frame in turn.
// A link whose joint type is unknown draws nothing but still moves the links after it.
void COglWndCustom::DrawRobot() const {
  if (m_pRobot == nullptr) {
    return;
  }
  // The first joint sits where the arm's base pose puts it; a column of the housings' grey carries
  // it there from the world origin.
  const matrix<double>& base = m_pRobot->basePose;
  if (!m_pRobot->links.empty() && (base(0, 3) != 0.0 || base(1, 3) != 0.0 || base(2, 3) != 0.0)) {
    glColor3d(kHousingGrey, kHousingGrey, kHousingGrey);
    DrawSegment(base(0, 3), base(1, 3), base(2, 3), m_pRobot->links.front()->radius);
  }
  MultMatrixGL(base);
  for (const std::unique_ptr<Link>& link : m_pRobot->links) {
    glColor3d(kBodyGrey, kBodyGrey, kBodyGrey);
    switch (link->jointType) {
      case Fixed:
        DrawSegment(link->offsetX, link->offsetY, link->offsetZ, link->radius);
        break;
      case Revolute:
        DrawRevoluteJoint(*link);
        break;
      case Prismatic:
        DrawPrismaticJoint(*link);
        break;
      default:
        break;
    }
    MultMatrixGL(JointTransform(*link) * LinkOffsetTransform(*link));
  }
  if (m_bShowToolFrame) {
    DrawAxisTriad(0.3);
  }
}
