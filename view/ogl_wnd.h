// COglWnd: the OpenGL view with a look-at camera and mouse navigation.
//
// The view is a window of its own (QOpenGLWindow) that a dialog embeds in a window container: it
// owns its GL context, sets up the fixed lights and depth state once per context, keeps a
// perspective projection that follows its size, and turns, pans and zooms the camera with the
// mouse: left drag rotates, right drag pans, the wheel zooms. Ctrl and a left drag turn nothing:
// they are a pull, which the view reports (pullPressed, pullDragged, pullReleased, and the wheel
// while pulling as pullWheeled) for its owner to act on. A paint clears the buffers and calls
// DrawScene, which subclasses override; this class draws nothing. Drawing uses OpenGL 1.1
// fixed-function calls and GLU, so the context is a compatibility-profile one.
//
// Being a native window of its own, the view is drawn and swapped by itself: the widgets around it
// are painted by Qt's raster engine and never composed through OpenGL, which keeps a frame cheap
// under a software renderer.
//
// GL set-up and teardown failures are shown to the user as OK message boxes through a replaceable
// hook; after a set-up failure the view stays on screen without a picture and never calls GL again.
#pragma once

#include <QImage>
#include <QOpenGLWindow>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QSurfaceFormat>
#include <functional>
#include <optional>
#include <vector>

#include "view/framing.h"

class QMouseEvent;
class QWheelEvent;
class QWidget;

class COglWnd : public QOpenGLWindow {
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

  // The initial camera: the eye, the look-at point and the field of view.
  static constexpr Point3 kStartEye{2.5, 0.0, 0.4};
  static constexpr Point3 kStartCenter{0.0, 0.0, 0.8};
  static constexpr double kStartFovY = 45.0;

  // Zoom limits of the eye's distance from the look-at point. The far one keeps the whole scene
  // well inside the far clipping plane and large enough to be seen.
  static constexpr double kMinEyeDistance = 1.0e-6;
  static constexpr double kMaxEyeDistance = 100.0;

  // Near and far clipping planes of the projection. The near plane comes closer, to a twentieth of
  // the eye's distance from the look-at point, when the camera is nearer than 2 m, so that small
  // arms can be seen from close by.
  static constexpr double kNearPlane = 0.1;
  static constexpr double kFarPlane = 1000000.0;

  explicit COglWnd(QWindow* parent = nullptr);
  ~COglWnd() override;

  // A 24-bit RGB, 16-bit depth, double-buffered OpenGL 2.1 compatibility-profile format. Every view
  // asks for it.
  static QSurfaceFormat SurfaceFormat();

  // Whether this platform can make a context with the fixed-function pipeline in a window of its
  // own. When it cannot, reports the failure through the message hook and returns false; a window
  // must then not create a view.
  static bool CheckGlPlatform();

  // The text the user sees when a step fails.
  static QString StepMessage(GlStep step);

  // Replace the hooks; an empty function restores the default. Each returns the hook it replaced.
  static MessageHook SetMessageHook(MessageHook hook);
  static FaultHook SetFaultHook(FaultHook hook);

  // Puts the view into a container widget of parent and returns the container, which owns the
  // view from then on: deleting the container deletes the view.
  QWidget* EmbedIn(QWidget* parent);

  // Camera state. Angles are in degrees; points in world coordinates, z up.
  const Point3& Eye() const { return m_eye; }
  const Point3& Center() const { return m_center; }
  double Spin() const { return m_spin; }
  double Tilt() const { return m_tilt; }
  double FovY() const { return m_fovY; }
  // 0 = no drag, 1 = rotate (left button), 2 = pan (right button), 3 = middle button, 4 = pull
  // (Ctrl and the left button).
  int MouseMode() const { return m_mouseMode; }
  QPoint LastMouse() const { return m_lastMouse; }

  // Moves the camera: eye and look-at point, spin and tilt. The view repaints.
  void SetCamera(const Point3& eye, const Point3& center, double spin, double tilt);

  // Puts the camera back where it started: the start camera, without spin or tilt.
  void ResetCamera();
  // Makes eye and center the start camera (kStartEye and kStartCenter at first).
  void SetStartCamera(const Point3& eye, const Point3& center);
  const Point3& StartEye() const { return m_startEye; }
  const Point3& StartCenter() const { return m_startCenter; }
  // Whether the camera is at the start camera: after ResetCamera, until the camera is moved.
  bool AtStart() const { return m_atStart; }

  // Frames world points and balls (what is to be seen) as FramePoints does: the viewing direction,
  // spin and tilt stay unless the eye would be under the floor.
  void FitPoints(const std::vector<FramePoint>& points);

  // Makes the start camera a view along -back that frames the ball reach and the points (see
  // FrameReach) at the view's shape, and moves the camera there. While the camera stays there, a
  // new size of the view frames them anew, so that they stay whole in view.
  void StartFraming(const FramePoint& reach, const FramePoint& back,
                    const std::vector<FramePoint>& points);

  // The near clipping plane of the camera as it is now.
  double NearPlane() const;

  // The viewport and aspect ratio of the last projection set-up, in framebuffer pixels.
  QSize ViewportSize() const { return m_viewport; }
  double Aspect() const { return m_aspect; }

  // True once the context has been set up and passed every check; paints draw only then.
  bool IsGlReady() const { return m_glReady; }

  // Paints one frame into the back buffer and returns it, at the view's pixel size; a null image
  // when the view cannot draw.
  QImage GrabFrame();

 signals:
  // A double-click with the left button in the view.
  void doubleClicked();
  // A pull: Ctrl and the left button pressed at position (device-independent pixels from the view's
  // top left), the mouse moved while it is held, any button released, and the wheel turned while
  // pulling (steps: notches, positive away from the user), which then does not zoom.
  void pullPressed(QPointF position);
  void pullDragged(QPointF position);
  void pullReleased();
  void pullWheeled(int steps);

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

  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  void InitGL();
  void ApplyProjection(int cx, int cy);
  // Loads the perspective projection of the viewport's aspect and the camera's near plane.
  void LoadProjection() const;
  void FailSetup(GlStep step);
  void ShowPendingMessage();
  void ReleaseGL();

  struct StartFrame {
    FramePoint reach, back;
    std::vector<FramePoint> points;
  };
  std::optional<StartFrame> m_startFrame;  // what the start camera frames, if it frames anything
  bool m_atStart = true;
  Point3 m_startEye = kStartEye;
  Point3 m_startCenter = kStartCenter;
  Point3 m_eye = kStartEye;
  Point3 m_center = kStartCenter;
  double m_spin = 0.0;
  double m_tilt = 0.0;
  double m_fovY = kStartFovY;
  int m_mouseMode = 0;
  QPoint m_lastMouse{0, 0};

  QSize m_viewport{1, 1};
  double m_aspect = 1.0;
  bool m_glReady = false;      // the context passed the set-up checks
  bool m_setupFailed = false;  // a set-up failure was found; reported once, never retried
  QString m_pendingMessage;    // a set-up failure not shown yet (shown once Qt is done with it)
};
