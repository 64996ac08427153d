// ShapeDrawing: a robot description's shapes in OpenGL 1.1. Every mesh becomes a display list once,
// and so do a unit box, cylinder and sphere, in the context current at the first drawing; a paint
// then only places and colours them. The lists belong to the shapes, not to a Robot: the view may
// be handed another Robot object of the same arm on every paint.
#pragma once

#include <GL/gl.h>

#include <map>
#include <memory>

#include "robot/robot.h"
#include "visuals/arm_extent.h"
#include "visuals/visual_model.h"

class ShapeDrawing {
 public:
  explicit ShapeDrawing(std::shared_ptr<const VisualModel> model);
  ShapeDrawing(const ShapeDrawing&) = delete;
  ShapeDrawing& operator=(const ShapeDrawing&) = delete;

  const VisualModel& Model() const { return *model_; }

  // Draws the shapes of the links that placement covers, in robot's pose, at the current
  // model-view matrix (the world frame), which it leaves as it found it. Builds the lists first.
  void Draw(const Robot& robot, const ShapePlacement& placement);

  // Deletes the lists; the context they were made in must be current. Drawing builds them anew.
  void Release();

 private:
  void Build();

  std::shared_ptr<const VisualModel> model_;
  std::map<const TriangleMesh*, GLuint> meshes_;
  GLuint box_ = 0;
  GLuint cylinder_ = 0;
  GLuint sphere_ = 0;
  bool built_ = false;
  bool translucent_ = false;  // some colour has an alpha below 1
};
