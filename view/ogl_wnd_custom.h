// COglWndCustom: the 3-D view of the arm. Every paint draws the floor grid with the world axes and
// then the arm in its current pose, placing each link by its joint and offset transforms from the
// Robot's joint positions. An arm is drawn as its figure (housings at the joints, bodies between
// them), or, for an arm whose description gives its links shapes, by those shapes: each link that
// has shapes is drawn by them and the others as their figure. The view reads the Robot and never
// changes it. A joint that sits at one of its limits has an orange housing (drawn over the shapes
// of a link that they draw). The Robot is not owned and must outlive the view (or be detached with
// SetRobot(nullptr) first).
//
// For a pull with the mouse the view finds what lies under a point of it, as it draws it (PickAt,
// visuals/arm_pick.h), and the world's points at a depth under the cursor; and it draws the pull
// its owner gives it (SetPullMarker): the point pulled, a line to the cursor's point and the force
// in newtons beside it, over the arm.
#pragma once

#include <QImage>
#include <QPointF>
#include <QString>
#include <memory>
#include <optional>

#include "matrix/matrix.h"
#include "robot/robot.h"
#include "view/ogl_wnd.h"
#include "visuals/arm_pick.h"
#include "visuals/visual_model.h"

class ShapeDrawing;

class COglWndCustom : public COglWnd {
  Q_OBJECT

 public:
  explicit COglWndCustom(Robot* robot, QWindow* parent = nullptr);
  ~COglWndCustom() override;

  // Whether an axis triad of length 0.3 is drawn at the frame after the last link (off at first).
  bool ShowToolFrame() const { return m_bShowToolFrame; }
  void SetShowToolFrame(bool show);

  // The arm drawn; null draws just the grid and axes.
  const Robot* GetRobot() const { return m_pRobot; }
  void SetRobot(const Robot* robot);

  // The shapes of the arm's description (null: none), drawn from then on while ShowShapes is on.
  // They are made into display lists once, at the next paint.
  void SetShapes(std::shared_ptr<const VisualModel> shapes);
  // The same for shapes that grow as their meshes are read: the display lists of the meshes made
  // already are kept, and only the new ones are made at the next paint.
  void UpdateShapes(std::shared_ptr<const VisualModel> shapes);
  bool HasShapes() const { return m_shapes != nullptr; }
  // The shapes drawn now, or null for the figure alone.
  const VisualModel* ShownShapes() const;
  // Whether links with shapes are drawn by them (on) or every link as its figure (off); on at
  // first.
  bool ShowShapes() const { return m_bShowShapes; }
  void SetShowShapes(bool show);

  // Frames the arm as it is drawn now (see COglWnd::FitPoints): the balls that hold its figure and
  // the corners of its shapes.
  void FitArm();

  // Makes the start camera frame everything the arm can reach (its revolute joints in any pose),
  // and the arm as it is now, seen from the direction that shows its motion (see
  // MotionViewDirection), and goes there.
  void StartFramingReach();

  // The camera as it is now, for picking.
  PickCamera Camera() const;
  // What the view draws of the arm under position (device-independent pixels from the view's top
  // left, as the mouse's events give it), no nearer than the near clipping plane.
  ArmPick PickAt(QPointF position) const;
  // The world point under position at a depth along the line of sight (ViewDepth), and a world
  // point's depth.
  void CursorPoint(QPointF position, double depth, double out[3]) const;
  double DepthOf(const double point[3]) const;

  // The pull drawn over the arm: the point pulled and the cursor's point (world), and the force.
  struct PullMarker {
    double point[3] = {0.0, 0.0, 0.0};
    double target[3] = {0.0, 0.0, 0.0};
    double newtons = 0.0;
  };
  // Draws it from the next paint on; none draws no pull.
  void SetPullMarker(const std::optional<PullMarker>& marker);
  const std::optional<PullMarker>& GetPullMarker() const { return m_pull; }
  // The force's text beside the cursor's point: "12.3 N".
  static QString ForceText(double newtons);

 protected:
  // The camera, the grid of 5 x 5 m in 0.5 m steps with the world axes, then the arm.
  void DrawScene() override;

  // The helpers draw into the current context at the current model-view matrix. All but DrawRobot
  // and MultMatrixGL leave the matrix as they found it.

  // Floor grid in the plane z = 0, size x size, lines every step, and the three world axes of
  // length size / 2 (red x, green y, blue z). Unlit.
  static void DrawGrid(double size, double step);
  // Three unlit axis lines from the origin.
  static void DrawAxisTriad(double length);
  // Closed cylinder along z, centred at the origin.
  static void DrawCylinder(double length, double radius);
  // Box of edge lengths a, b, c along x, y, z, centred at the origin.
  static void DrawBox(double a, double b, double c);
  // Closed cylinder from the origin to (x, y, z).
  static void DrawSegment(double x, double y, double z, double radius);
  // Multiplies the current matrix by rows 0..2 of m (at least 3 x 4); the bottom row is always
  // taken as (0, 0, 0, 1).
  static void MultMatrixGL(const matrix<double>& m);
  // The housing of a link's joint, in its incoming frame along the joint axis: a cylinder for a
  // revolute joint, a box for a prismatic one; grey, or orange at a limit and outlined in dark
  // grey (so that it shows on an orange arm too); scale times its size.
  static void DrawHousing(const Link& link, bool atLimit, double scale);
  // Housing and body of a revolute link, in the link's incoming frame.
  static void DrawRevoluteJoint(const Link& link, bool atLimit = false);
  // Housing, slider and body of a prismatic link, in the link's incoming frame.
  static void DrawPrismaticJoint(const Link& link, bool atLimit = false);
  // The base pose, then every link base first, leaving the matrix at the frame after the last link,
  // then the optional tool triad there.
  void DrawRobot() const;

 private:
  static void DrawBody(const Link& link);
  // Deletes the display lists of the shapes in the view's context.
  void ReleaseShapes();
  // The pull, in world coordinates, seen through the arm.
  void DrawPull();

  bool m_bShowToolFrame = false;
  bool m_bShowShapes = true;
  const Robot* m_pRobot;
  std::unique_ptr<ShapeDrawing> m_shapes;
  std::optional<PullMarker> m_pull;
  QString m_labelText;  // the force's text, and its picture as glDrawPixels takes it
  QImage m_label;
};
