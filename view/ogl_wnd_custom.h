// COglWndCustom: the 3-D view of the arm. Every paint draws the floor grid with the world axes and
// then the arm in its current pose, placing each link by its joint and offset transforms from the
// Robot's joint positions. An arm is drawn as its figure (housings at the joints, bodies between
// them), or, for an arm whose description gives its links shapes, by those shapes: each link that
// has shapes is drawn by them and the others as their figure. The view reads the Robot and never
// changes it. A joint that sits at one of its limits has an orange housing (drawn over the shapes
// of a link that they draw). The Robot is not owned and must outlive the view (or be detached with
// SetRobot(nullptr) first).
#pragma once

#include <memory>

#include "matrix/matrix.h"
#include "robot/robot.h"
#include "view/ogl_wnd.h"
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

  // Frames the arm as it is drawn now (see COglWnd::FitPoints): the corners of the box it fills.
  void FitArm();

  // Makes the start camera a view from above at three quarters of everything the arm can reach
  // (its revolute joints in any pose), and of the arm as it is now, and goes there.
  void StartFromAboveArm();

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

  bool m_bShowToolFrame = false;
  bool m_bShowShapes = true;
  const Robot* m_pRobot;
  std::unique_ptr<ShapeDrawing> m_shapes;
};
