#include "view/ogl_wnd.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPalette>
#include <QResizeEvent>
#include <QSurface>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

COglWnd::MessageHook& MessageHookSlot() {
  static COglWnd::MessageHook hook;
  return hook;
}

COglWnd::FaultHook& FaultHookSlot() {
  static COglWnd::FaultHook hook;
  return hook;
}

void ShowMessage(const QString& text) {
  if (const COglWnd::MessageHook& hook = MessageHookSlot()) {
    hook(text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), text,
                  QMessageBox::Ok);
  box.exec();
}

bool StepFails(COglWnd::GlStep step) {
  const COglWnd::FaultHook& hook = FaultHookSlot();
  return hook && hook(step);
}

// Fixed-function drawing needs a desktop OpenGL context that is not a core profile.
bool HasFixedFunction(const QSurfaceFormat& format) {
  return QOpenGLContext::openGLModuleType() == QOpenGLContext::LibGL &&
         format.renderableType() == QSurfaceFormat::OpenGL &&
         format.profile() != QSurfaceFormat::CoreProfile;
}

}  // namespace

COglWnd::COglWnd(QWindow* parent) : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate, parent) {
  setFormat(SurfaceFormat());
}

COglWnd::~COglWnd() {
  ShowPendingMessage();
  ReleaseGL();
}

QSurfaceFormat COglWnd::SurfaceFormat() {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setVersion(2, 1);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setRedBufferSize(8);
  format.setGreenBufferSize(8);
  format.setBlueBufferSize(8);
  format.setDepthBufferSize(16);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  return format;
}

// A context is made and made current on an offscreen surface, and the driver must then name its
// renderer: platforms that hand out contexts they cannot draw with fail here, before any window
// holds a view.
bool COglWnd::CheckGlPlatform() {
  bool usable = !StepFails(GlStep::ChooseFormat);
  if (usable) {
    QOpenGLContext probe;
    probe.setFormat(SurfaceFormat());
    QOffscreenSurface surface;
    surface.setFormat(SurfaceFormat());
    surface.create();
    usable = probe.create() && HasFixedFunction(probe.format()) && surface.isValid() &&
             probe.makeCurrent(&surface) && glGetString(GL_RENDERER) != nullptr;
    if (QOpenGLContext::currentContext() == &probe) {
      probe.doneCurrent();
    }
  }
  if (!usable) {
    ShowMessage(StepMessage(GlStep::ChooseFormat));
  }
  return usable;
}

QString COglWnd::StepMessage(GlStep step) {
  switch (step) {
    case GlStep::ChooseFormat:
      return QStringLiteral("ChoosePixelFormat failed.");
    case GlStep::SetFormat:
      return QStringLiteral("SetPixelFormat failed.");
    case GlStep::CreateContext:
      return QStringLiteral("wglCreateContext failed");
    case GlStep::MakeCurrent:
    case GlStep::ReleaseContext:
      return QStringLiteral("wglMakeCurrent failed");
    case GlStep::DeleteContext:
      return QStringLiteral("wglDeleteContext failed");
  }
  return QString();
}

COglWnd::MessageHook COglWnd::SetMessageHook(MessageHook hook) {
  return std::exchange(MessageHookSlot(), std::move(hook));
}

COglWnd::FaultHook COglWnd::SetFaultHook(FaultHook hook) {
  return std::exchange(FaultHookSlot(), std::move(hook));
}

QWidget* COglWnd::EmbedIn(QWidget* parent) {
  QWidget* container = QWidget::createWindowContainer(this, parent);
  // A click in the view takes the focus, as the view's own window does.
  container->setFocusPolicy(Qt::ClickFocus);
  return container;
}

namespace {

COglWnd::Point3 FromFramePoint(const FramePoint& p) {
  return {p.x, p.y, p.z};
}

FramePoint ToFramePoint(const COglWnd::Point3& p) {
  return {p.x, p.y, p.z};
}

}  // namespace

void COglWnd::SetCamera(const Point3& eye, const Point3& center, double spin, double tilt) {
  m_eye = eye;
  m_center = center;
  m_spin = spin;
  m_tilt = tilt;
  m_atStart = false;
  update();
}

void COglWnd::ResetCamera() {
  if (m_startFrame) {
    const CameraPlacement start =
        FrameReach(m_startFrame->reach, m_startFrame->back, Lens{m_fovY, m_aspect},
                   m_startFrame->points, kMaxEyeDistance);
    SetStartCamera(FromFramePoint(start.eye), FromFramePoint(start.center));
  }
  SetCamera(m_startEye, m_startCenter, 0.0, 0.0);
  m_atStart = true;
}

void COglWnd::SetStartCamera(const Point3& eye, const Point3& center) {
  m_startEye = eye;
  m_startCenter = center;
}

void COglWnd::FitPoints(const std::vector<FramePoint>& points) {
  const CameraPlacement now{ToFramePoint(m_eye), ToFramePoint(m_center), m_spin, m_tilt};
  const CameraPlacement fitted = FramePoints(now, Lens{m_fovY, m_aspect}, points, kMaxEyeDistance);
  SetCamera(FromFramePoint(fitted.eye), FromFramePoint(fitted.center), fitted.spin, fitted.tilt);
}

void COglWnd::StartFraming(const FramePoint& reach, const FramePoint& back,
                           const std::vector<FramePoint>& points) {
  m_startFrame = StartFrame{reach, back, points};
  ResetCamera();
}

double COglWnd::NearPlane() const {
  const double dx = m_eye.x - m_center.x, dy = m_eye.y - m_center.y, dz = m_eye.z - m_center.z;
  const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
  return std::isfinite(distance) ? std::clamp(0.05 * distance, 1e-6, kNearPlane) : kNearPlane;
}

QImage COglWnd::GrabFrame() {
  if (!m_glReady || context() == nullptr) {
    return QImage();
  }
  makeCurrent();
  paintGL();
  glFinish();
  return grabFramebuffer();
}

void COglWnd::ApplyCamera() const {
  gluLookAt(m_eye.x, m_eye.y, m_eye.z, m_center.x, m_center.y, m_center.z, 0.0, 0.0, 1.0);
  glRotated(m_tilt, 0.0, 1.0, 0.0);
  glRotated(m_spin, 0.0, 0.0, 1.0);
}

// Qt calls this once per context, with the context current. The checks run in the order of the
// set-up; the first that fails is reported and the view then never draws.
void COglWnd::initializeGL() {
  m_glReady = false;
  QOpenGLContext* ctx = context();
  if (StepFails(GlStep::ChooseFormat) || (ctx != nullptr && !HasFixedFunction(ctx->format()))) {
    FailSetup(GlStep::ChooseFormat);
    return;
  }
  if (StepFails(GlStep::SetFormat) ||
      (ctx != nullptr && (ctx->surface() == nullptr || !ctx->surface()->supportsOpenGL()))) {
    FailSetup(GlStep::SetFormat);
    return;
  }
  if (StepFails(GlStep::CreateContext) || ctx == nullptr || !ctx->isValid()) {
    FailSetup(GlStep::CreateContext);
    return;
  }
  if (StepFails(GlStep::MakeCurrent) || QOpenGLContext::currentContext() != ctx) {
    FailSetup(GlStep::MakeCurrent);
    return;
  }
  m_glReady = true;
  InitGL();
}

void COglWnd::InitGL() {
  // The background is the face colour of the panel's buttons, so the view blends with the dialog.
  const QColor face = QGuiApplication::palette().color(QPalette::Button);
  glClearColor(static_cast<GLfloat>(face.red() / 255.0), static_cast<GLfloat>(face.green() / 255.0),
               static_cast<GLfloat>(face.blue() / 255.0), 1.0f);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);  // OpenGL's default: white, from the viewer's direction
  glEnable(GL_LIGHT1);
  static const GLfloat kAmbient[] = {0.0f, 0.1f, 0.2f, 0.0f};
  static const GLfloat kDiffuse[] = {0.5f, 0.5f, 0.5f, 0.0f};
  static const GLfloat kSpecular[] = {0.5f, 0.5f, 0.5f, 0.0f};
  static const GLfloat kPosition[] = {100.0f, 100.0f, -400.0f, 1.0f};
  glLightfv(GL_LIGHT1, GL_AMBIENT, kAmbient);
  glLightfv(GL_LIGHT1, GL_DIFFUSE, kDiffuse);
  glLightfv(GL_LIGHT1, GL_SPECULAR, kSpecular);
  // Given while the model-view matrix is the identity, the position is in eye coordinates: the
  // light stays fixed relative to the viewer whatever the camera does.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glLightfv(GL_LIGHT1, GL_POSITION, kPosition);

  // From here on glColor sets the front material's ambient and diffuse colour.
  glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);
}

// Qt passes device-independent sizes, an empty one included; the viewport and aspect use the
// framebuffer's pixels. The context need not be current when Qt calls this.
void COglWnd::resizeGL(int w, int h) {
  if (!m_glReady) {
    return;
  }
  makeCurrent();
  const qreal ratio = devicePixelRatio();
  ApplyProjection(qRound(w * ratio), qRound(h * ratio));
}

// A size below 1 becomes 1, which keeps the aspect ratio finite. The matrix mode is left at
// GL_PROJECTION; paints select GL_MODELVIEW themselves.
void COglWnd::ApplyProjection(int cx, int cy) {
  cx = std::max(cx, 1);
  cy = std::max(cy, 1);
  const double aspect = static_cast<double>(cx) / static_cast<double>(cy);
  glViewport(0, 0, cx, cy);
  m_viewport = QSize(cx, cy);
  m_aspect = aspect;
  if (m_atStart && m_startFrame) {
    ResetCamera();  // the start camera frames what it shows at the view's new shape
  }
  LoadProjection();
  update();
}

void COglWnd::LoadProjection() const {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(m_fovY, m_aspect, NearPlane(), kFarPlane);
}

void COglWnd::paintGL() {
  if (!m_glReady) {
    return;
  }
  LoadProjection();  // the near plane follows the camera
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawScene();
}

// The view stops drawing at once; the message waits for the event loop, so that a modal box never
// runs inside Qt's own context set-up or painting.
void COglWnd::FailSetup(GlStep step) {
  m_glReady = false;
  if (m_setupFailed) {
    return;
  }
  m_setupFailed = true;
  m_pendingMessage = StepMessage(step);
  QMetaObject::invokeMethod(
      this, [this] { ShowPendingMessage(); }, Qt::QueuedConnection);
}

void COglWnd::ShowPendingMessage() {
  if (m_pendingMessage.isEmpty()) {
    return;
  }
  ShowMessage(std::exchange(m_pendingMessage, QString()));
}

// Teardown of a context that was set up: make it current once more to release it, then check that
// it was still alive. Both failures are reported and the teardown goes on; Qt deletes the context.
// A context Qt has already released in order (it does so when the view changes windows) needs
// nothing.
void COglWnd::ReleaseGL() {
  QOpenGLContext* ctx = context();
  if (!m_glReady || ctx == nullptr) {
    return;
  }
  m_glReady = false;
  makeCurrent();
  if (StepFails(GlStep::ReleaseContext) || QOpenGLContext::currentContext() != ctx) {
    ShowMessage(StepMessage(GlStep::ReleaseContext));
  } else {
    doneCurrent();
  }
  if (StepFails(GlStep::DeleteContext) || !ctx->isValid()) {
    ShowMessage(StepMessage(GlStep::DeleteContext));
  }
}

// A press starts a drag that lasts until any of the three buttons is released; only a drag started
// here moves the camera. The press also takes the keyboard focus.
void COglWnd::mousePressEvent(QMouseEvent* e) {
  int mode = 0;
  switch (e->button()) {
    case Qt::LeftButton:
      mode = (e->modifiers() & Qt::ControlModifier) != 0 ? 4 : 1;
      break;
    case Qt::RightButton:
      mode = 2;
      break;
    case Qt::MiddleButton:
      mode = 3;
      break;
    default:
      QOpenGLWindow::mousePressEvent(e);
      return;
  }
  m_mouseMode = mode;
  m_lastMouse = e->position().toPoint();
  requestActivate();
  e->accept();
  if (mode == 4) {
    emit pullPressed(e->position());
  }
}

void COglWnd::mouseReleaseEvent(QMouseEvent* e) {
  switch (e->button()) {
    case Qt::LeftButton:
    case Qt::RightButton:
    case Qt::MiddleButton: {
      const bool pulled = m_mouseMode == 4;
      m_lastMouse = QPoint(0, 0);
      m_mouseMode = 0;
      e->accept();
      if (pulled) {
        emit pullReleased();
      }
      return;
    }
    default:
      QOpenGLWindow::mouseReleaseEvent(e);
      return;
  }
}

// Moves change the camera only during a drag with a button still held: a move without a button
// (mouse tracking, or a release that went elsewhere) changes nothing.
void COglWnd::mouseMoveEvent(QMouseEvent* e) {
  if (m_mouseMode == 0 || e->buttons() == Qt::NoButton) {
    QOpenGLWindow::mouseMoveEvent(e);
    return;
  }
  const QPoint p = e->position().toPoint();
  if (m_mouseMode == 4) {
    m_lastMouse = p;
    e->accept();
    emit pullDragged(e->position());
    return;
  }
  const double dx = static_cast<double>(p.x() - m_lastMouse.x());
  const double dy = static_cast<double>(p.y() - m_lastMouse.y());
  if (m_mouseMode == 1) {
    // 100 degrees per 360 pixels.
    m_spin += dx / 3.6;
    m_tilt += dy / 3.6;
  } else if (m_mouseMode == 2) {
    // The eye stays, so panning also turns the line of sight.
    m_center.y -= dx / 100.0;
    m_center.z += dy / 100.0;
  }
  m_atStart = m_atStart && m_mouseMode == 3;
  update();
  m_lastMouse = p;
  e->accept();
}

void COglWnd::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    emit doubleClicked();
  }
  QOpenGLWindow::mouseDoubleClickEvent(e);
}

// One event is one step whatever its size: towards the user (negative) the eye comes to 0.9 of its
// distance from the look-at point, away from the user it goes to 1.1. The look-at point stays.
void COglWnd::wheelEvent(QWheelEvent* e) {
  const int delta = e->angleDelta().y();
  if (delta == 0) {
    // Horizontal wheels and the start and end markers of touchpad scrolling carry no vertical step.
    QOpenGLWindow::wheelEvent(e);
    return;
  }
  e->accept();
  if (m_mouseMode == 4) {
    emit pullWheeled(delta > 0 ? 1 : -1);
    return;
  }
  const double f = delta < 0 ? 0.9 : 1.1;
  const double dx = m_eye.x - m_center.x;
  const double dy = m_eye.y - m_center.y;
  const double dz = m_eye.z - m_center.z;
  const double distance = f * std::sqrt(dx * dx + dy * dy + dz * dz);
  if (delta < 0 ? distance < kMinEyeDistance : distance > kMaxEyeDistance) {
    return;
  }
  m_eye = Point3{m_center.x + f * dx, m_center.y + f * dy, m_center.z + f * dz};
  m_atStart = false;
  update();
}
