// COglWnd: the OpenGL view with a look-at camera and mouse navigation.
//
// The widget owns its GL context (through QOpenGLWidget), sets up the fixed lights and depth state
// once per context, keeps a perspective projection that follows its size, and turns, pans and zooms
// the camera with the mouse: left drag rotates, right drag pans, the wheel zooms. A paint clears
// the buffers and calls DrawScene, which subclasses override; this class draws nothing. Drawing
// uses OpenGL 1.1 fixed-function calls and GLU, so the context is a compatibility-profile one.
//
// GL set-up and teardown failures are shown to the user as OK message boxes through a replaceable
// hook; after a set-up failure the view stays on screen without a picture and never calls GL again.
#pragma once

#include <QOpenGLWidget>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QSurfaceFormat>
#include <functional>

class QEvent;
class QMouseEvent;
class QResizeEvent;
class QWheelEvent;

class COglWnd : public QOpenGLWidget {
  Q_OBJECT

 public:
  struct Point3 {
    double x;
    double y;
    double z;
  };

  // The steps of the GL set-up and teardown whose failure the user is told about.
  enum class GlStep {
    ChooseFormat,    // no context with the fixed-function pipeline can be had
    SetFormat,       // the context is not on a surface that OpenGL can draw to
    CreateContext,   // the context could not be made, or is not valid
    MakeCurrent,     // the context could not be made current for the set-up
    ReleaseContext,  // teardown: the context could not be made current to be released
    DeleteContext,   // teardown: the context was already lost
  };

  // Shows one failure text to the user. The default is a modal box with an OK button.
  using MessageHook = std::function<void(const QString& text)>;
  // For tests: returns true for a step that is to fail as if the GL binding had refused it.
  using FaultHook = std::function<bool(GlStep step)>;

  explicit COglWnd(QWidget* parent = nullptr);
  ~COglWnd() override;

  // A 24-bit RGB, 16-bit depth, double-buffered OpenGL 2.1 compatibility-profile format. Every view
  // asks for it; an application may also make it the default format before creating windows.
  static QSurfaceFormat SurfaceFormat();

  // Whether this platform can make a context with the fixed-function pipeline at all. When it
  // cannot, reports the failure through the message hook and returns false; a window must then not
  // create a view, since Qt cannot show a window holding an OpenGL widget without OpenGL.
  static bool CheckGlPlatform();

  // The text the user sees when a step fails.
  static QString StepMessage(GlStep step);

  // Replace the hooks; an empty function restores the default. Each returns the hook it replaced.
  static MessageHook SetMessageHook(MessageHook hook);
  static FaultHook SetFaultHook(FaultHook hook);

  // Camera state. Angles are in degrees; points in world coordinates, z up.
  const Point3& Eye() const { return m_eye; }
  const Point3& Center() const { return m_center; }
  double Spin() const { return m_spin; }
  double Tilt() const { return m_tilt; }
  double FovY() const { return m_fovY; }
  // 0 = no drag, 1 = rotate (left button), 2 = pan (right button), 3 = middle button.
  int MouseMode() const { return m_mouseMode; }
  QPoint LastMouse() const { return m_lastMouse; }

  // The viewport and aspect ratio of the last projection set-up, in framebuffer pixels.
  QSize ViewportSize() const { return m_viewport; }
  double Aspect() const { return m_aspect; }

  // True once the context has been set up and passed every check; paints draw only then.
  bool IsGlReady() const { return m_glReady; }

 protected:
  // Draws the scene. Entered with GL_MODELVIEW selected and equal to the identity, both buffers
  // cleared, lighting, colour material and the depth test as the set-up left them; the camera is
  // not applied yet, so an override that wants the navigable view starts with ApplyCamera.
  virtual void DrawScene() {}

  // Multiplies the current matrix by the look-at camera, then the tilt about y, then the spin about
  // z: world points are turned by the spin about z, then by the tilt about y, then viewed.
  void ApplyCamera() const;

  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;

  bool event(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  void InitGL();
  void ApplyProjection(int cx, int cy);
  void FailSetup(GlStep step);
  void CheckContextMade();
  void ShowPendingMessage();
  void ReleaseGL();

  Point3 m_eye{2.5, 0.0, 0.4};
  Point3 m_center{0.0, 0.0, 0.8};
  double m_spin = 0.0;
  double m_tilt = 0.0;
  double m_fovY = 45.0;
  int m_mouseMode = 0;
  QPoint m_lastMouse{0, 0};

  QSize m_viewport{1, 1};
  double m_aspect = 1.0;
  bool m_glReady = false;      // the context passed the set-up checks
  bool m_setupFailed = false;  // a set-up failure was found; reported once, never retried
  QString m_pendingMessage;    // a set-up failure not shown yet (shown once Qt is done with it)
};
