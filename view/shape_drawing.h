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
  // Draws model from now on, keeping the lists of the meshes it shares with the model before (a
  // model that grows as its meshes are read); the lists of new meshes are made at the next Draw.
  void SetModel(std::shared_ptr<const VisualModel> model);

  // Draws the shapes of the links that placement covers, in robot's pose, at the current
  // model-view matrix (the world frame), which it leaves as it found it. Builds the lists first.
  void Draw(const Robot& robot, const ShapePlacement& placement);

  // Deletes the lists; the context they were made in must be current. Drawing builds them anew.
  void Release();

 private:
  void Build();
  void BuildUnitShapes();

  std::shared_ptr<const VisualModel> model_;
  struct MeshList {
    std::shared_ptr<const TriangleMesh> mesh;
    GLuint list = 0;
    bool translucent = false;
  };
  std::map<const TriangleMesh*, MeshList> meshes_;
  GLuint box_ = 0;
  GLuint cylinder_ = 0;
  GLuint sphere_ = 0;
  bool built_ = false;
  bool translucent_ = false;  // some colour has an alpha below 1
};
