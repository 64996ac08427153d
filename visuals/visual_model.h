// The shapes a robot description gives its links to be seen by: plain data, read once when the arm
// is loaded and drawn by the view on every paint. A shape sits in a named frame of the file (a
// link, found among Robot::frames by its name) at its own pose; a mesh shape holds triangles with
// normals (and per-vertex colours when its file gives them), shared by every shape that names the
// same file.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

struct Rgba {
  float r = 0.7f;
  float g = 0.7f;
  float b = 0.7f;
  float a = 1.0f;
};

// Triangles, three vertices each, in the mesh file's own frame and in metres. A part is the
// triangles of one colour: the colour its file gives them (a material's, or one per vertex), or
// none, where the shape's colour shows.
struct MeshPart {
  std::vector<float> positions;  // x, y, z per vertex
  std::vector<float> normals;    // unit normal per vertex
  std::vector<float> colours;    // r, g, b, a per vertex, or empty
  bool coloured = false;         // whether colour below is the part's own (without vertex colours)
  Rgba colour;
};

struct TriangleMesh {
  // The parts without a colour of their own come first, so that a drawing can give them the
  // shape's colour once and let the others set theirs.
  std::vector<MeshPart> parts;
  std::array<float, 3> low{0.0f, 0.0f, 0.0f};   // the bounding box of the vertices (all zero for
  std::array<float, 3> high{0.0f, 0.0f, 0.0f};  // a mesh without triangles)

  std::size_t TriangleCount() const;
};

enum class ShapeKind { kBox, kCylinder, kSphere, kMesh };

struct VisualShape {
  std::string frame;  // the file's link it belongs to
  ShapeKind kind = ShapeKind::kBox;
  // Its pose in the link's frame: x -> rotation x + origin.
  double rotation[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  double origin[3] = {0.0, 0.0, 0.0};
  // Box: the edge lengths along x, y, z. Cylinder (along z, centred): radius, radius, length.
  // Sphere: radius three times. Mesh: the scale along x, y, z.
  double size[3] = {1.0, 1.0, 1.0};
  // The colour of the shape where its mesh gives none for a vertex.
  Rgba colour;
  std::shared_ptr<const TriangleMesh> mesh;  // kMesh only

  // The box the shape fills in its own frame (before its pose): low and high corners.
  void Bounds(double low[3], double high[3]) const;
};

struct VisualModel {
  std::vector<VisualShape> shapes;
  // The file's links that are to be drawn as the arm's figure: one of their meshes could not be
  // read. They are listed once each.
  std::vector<std::string> failedFrames;

  bool Empty() const { return shapes.empty() && failedFrames.empty(); }
};
