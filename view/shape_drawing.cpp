#include "view/shape_drawing.h"

#include <GL/glu.h>

#include <utility>

#include "visuals/figure.h"

namespace {

constexpr GLint kSlices = kShapeSlices;
constexpr GLint kStacks = kShapeStacks;

// Edges of length 1, centred. A face on the side s (+1 or -1) of axis a has its corners in the
// order of the two axes after a, counter-clockwise seen from outside.
void UnitBox() {
  static const GLfloat kCorners[4][2] = {
      {-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
  glBegin(GL_QUADS);
  for (int a = 0; a < 3; ++a) {
    for (const GLfloat s : {1.0f, -1.0f}) {
      GLfloat normal[3] = {0.0f, 0.0f, 0.0f};
      normal[a] = s;
      glNormal3fv(normal);
      for (int k = 0; k < 4; ++k) {
        const auto& c = kCorners[s > 0.0f ? k : 3 - k];
        GLfloat p[3];
        p[a] = 0.5f * s;
        p[(a + 1) % 3] = c[0];
        p[(a + 2) % 3] = c[1];
        glVertex3fv(p);
      }
    }
  }
  glEnd();
}

// Radius 1, length 1 along z, centred, with both caps.
void UnitCylinder(GLUquadric* quadric) {
  glPushMatrix();
  glTranslatef(0.0f, 0.0f, -0.5f);
  gluQuadricOrientation(quadric, GLU_INSIDE);
  gluDisk(quadric, 0.0, 1.0, kSlices, 1);
  gluQuadricOrientation(quadric, GLU_OUTSIDE);
  gluCylinder(quadric, 1.0, 1.0, 1.0, kSlices, 1);
  glTranslatef(0.0f, 0.0f, 1.0f);
  gluDisk(quadric, 0.0, 1.0, kSlices, 1);
  glPopMatrix();
}

void CompileMesh(const TriangleMesh& mesh) {
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  for (const MeshPart& part : mesh.parts) {
    if (part.coloured) {
      glColor4f(part.colour.r, part.colour.g, part.colour.b, part.colour.a);
    }
    const bool perVertex = !part.colours.empty();
    if (perVertex) {
      glEnableClientState(GL_COLOR_ARRAY);
      glColorPointer(4, GL_FLOAT, 0, part.colours.data());
    }
    glVertexPointer(3, GL_FLOAT, 0, part.positions.data());
    glNormalPointer(GL_FLOAT, 0, part.normals.data());
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(part.positions.size() / 3));
    if (perVertex) {
      glDisableClientState(GL_COLOR_ARRAY);
    }
  }
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

// OpenGL keeps matrices column by column.
void MultPose(const Pose3& pose) {
  const GLdouble m[16] = {
      pose.r[0][0], pose.r[1][0], pose.r[2][0], 0.0, pose.r[0][1], pose.r[1][1], pose.r[2][1], 0.0,
      pose.r[0][2], pose.r[1][2], pose.r[2][2], 0.0, pose.p[0],    pose.p[1],    pose.p[2],    1.0};
  glMultMatrixd(m);
}

}  // namespace

ShapeDrawing::ShapeDrawing(std::shared_ptr<const VisualModel> model) : model_(std::move(model)) {}

void ShapeDrawing::SetModel(std::shared_ptr<const VisualModel> model) {
  model_ = std::move(model);
  built_ = false;
}

void ShapeDrawing::Build() {
  built_ = true;
  if (box_ == 0) {
    BuildUnitShapes();
  }
  if (box_ == 0) {
    return;
  }
  translucent_ = false;
  for (const VisualShape& shape : model_->shapes) {
    const TriangleMesh* mesh = shape.mesh.get();
    translucent_ = translucent_ || shape.colour.a < 1.0f;
    if (mesh == nullptr) {
      continue;
    }
    auto [it, added] = meshes_.try_emplace(mesh, MeshList{});
    if (added) {
      MeshList& made = it->second;
      made.mesh = shape.mesh;  // kept, so that no other mesh comes to its address
      for (const MeshPart& part : mesh->parts) {
        made.translucent = made.translucent || (part.coloured && part.colour.a < 1.0f);
        for (std::size_t k = 3; k < part.colours.size() && !made.translucent; k += 4) {
          made.translucent = part.colours[k] < 1.0f;
        }
      }
      made.list = glGenLists(1);
      if (made.list != 0) {
        glNewList(made.list, GL_COMPILE);
        CompileMesh(*mesh);
        glEndList();
      }
    }
    translucent_ = translucent_ || it->second.translucent;
  }
}

void ShapeDrawing::BuildUnitShapes() {
  box_ = glGenLists(3);
  if (box_ == 0) {
    return;
  }
  cylinder_ = box_ + 1;
  sphere_ = box_ + 2;
  glNewList(box_, GL_COMPILE);
  UnitBox();
  glEndList();
  GLUquadric* quadric = gluNewQuadric();
  glNewList(cylinder_, GL_COMPILE);
  UnitCylinder(quadric);
  glEndList();
  glNewList(sphere_, GL_COMPILE);
  gluSphere(quadric, 1.0, kSlices, kStacks);
  glEndList();
  gluDeleteQuadric(quadric);
}

void ShapeDrawing::Release() {
  if (box_ != 0) {
    glDeleteLists(box_, 3);
  }
  for (const auto& [mesh, made] : meshes_) {
    if (made.list != 0) {
      glDeleteLists(made.list, 1);
    }
  }
  meshes_.clear();
  box_ = cylinder_ = sphere_ = 0;
  built_ = false;
  translucent_ = false;
}

void ShapeDrawing::Draw(const Robot& robot, const ShapePlacement& placement) {
  if (!built_) {
    Build();
  }
  const std::vector<Pose3> frames = LinkFrames(robot);
  // Scaled shapes need their normals made unit again; colours with alpha below 1 show through.
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
  glEnable(GL_NORMALIZE);
  if (translucent_) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  for (std::size_t i = 0; i < model_->shapes.size(); ++i) {
    const int frame = placement.frameOf[i];
    if (frame < 0 || !placement.Covers(robot.frames[static_cast<std::size_t>(frame)].link)) {
      continue;
    }
    const VisualShape& shape = model_->shapes[i];
    GLuint list = 0;
    switch (shape.kind) {
      case ShapeKind::kBox:
        list = box_;
        break;
      case ShapeKind::kCylinder:
        list = cylinder_;
        break;
      case ShapeKind::kSphere:
        list = sphere_;
        break;
      case ShapeKind::kMesh: {
        const auto it = meshes_.find(shape.mesh.get());
        list = it != meshes_.end() ? it->second.list : 0;
        break;
      }
    }
    if (list == 0) {
      continue;
    }
    glPushMatrix();
    MultPose(ShapePose(*model_, placement, robot, frames, i));
    glScaled(shape.size[0], shape.size[1], shape.size[2]);
    glColor4f(shape.colour.r, shape.colour.g, shape.colour.b, shape.colour.a);
    glCallList(list);
    glPopMatrix();
  }
  glPopAttrib();
}
