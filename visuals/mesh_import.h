// Mesh files as triangles, through the Open Asset Import Library (COLLADA, STL, OBJ and the other
// formats it reads). The file's node transforms are applied; a COLLADA file's <unit meter> scales
// it to metres while its up_axis is not applied, as RViz and Gazebo do, so that the meshes of
// public robot descriptions sit as they do there. STL and OBJ files are taken as in metres. The
// colours a file gives its triangles (material diffuse colours, vertex colours) are kept; points
// and lines are left out.
#pragma once

//
// Every file is read through MeshFiles (mesh_files.h), and the work a mesh may cost is capped:
// before its polygons are cut into triangles, a mesh is refused when it holds more vertices or
// would make more triangles than a mesh may, when a polygon has more corners than a polygon may, or
// when its large polygons together would take too long to cut (the time grows with the square of
// a polygon's corners); and when it would take the robot's meshes past what they may hold in all.
// A mesh that scales itself by 0, by a negative or non-finite number, or by more than
// kMaxMeshScale (a COLLADA <unit meter>, or its root's transform) is refused too.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "visuals/visual_model.h"

class MeshLocator;

// Files larger than this are not read.
inline constexpr long long kMaxMeshFileBytes = 256ll << 20;

// The caps of one mesh file: its vertices as the file gives them, the triangles its faces make,
// the corners of one polygon, and the sum of the squares of the corners of its polygons of more
// than four (about 1 s of cutting them into triangles).
inline constexpr uint64_t kMaxMeshVertices = 3'000'000;
inline constexpr uint64_t kMaxMeshTriangles = 1'000'000;
inline constexpr uint64_t kMaxPolygonCorners = 1'000;
inline constexpr uint64_t kMaxPolygonWork = 40'000'000;
// The caps of all the meshes of one robot.
inline constexpr uint64_t kMaxRobotVertices = 9'000'000;
inline constexpr uint64_t kMaxRobotTriangles = 3'000'000;
// A scale (a mesh's own, or a description's <mesh scale>) must be above 0 and at most this.
inline constexpr double kMaxMeshScale = 1e6;

// What the meshes of a robot may still hold.
struct MeshBudget {
  uint64_t vertices = kMaxRobotVertices;
  uint64_t triangles = kMaxRobotTriangles;
};

// How a mesh file is read: the folder of the package it is in (empty for none), the locator for the
// package:// names it gives, a flag that stops the reading, the robot's budget (taken from when the
// mesh is read; null: the caps of one mesh only), and where the files it names that were refused
// are said ("'NAME' (PATH): REASON").
struct MeshRead {
  std::string package;
  MeshLocator* locator = nullptr;
  const std::atomic<bool>* cancel = nullptr;
  MeshBudget* budget = nullptr;
  std::vector<std::string>* refused = nullptr;
};

// The problem a refused mesh's text begins with; the rest says which cap.
inline constexpr char kRefusedMesh[] = "refused: ";

// The triangles of the mesh file at path; null with the reason in problem (one line, to follow
// "cannot be read: ", or kRefusedMesh and the cap) when it cannot be read, is refused or holds no
// triangle; "cancelled" when read.cancel was set.
std::shared_ptr<const TriangleMesh> ImportMesh(const std::string& path, std::string& problem,
                                               const MeshRead& read = {});

// "" when scale can scale a mesh (finite, above 0, at most kMaxMeshScale), else why not:
// "a scale must be finite, above 0 and at most 1e+06, not -1".
std::string ScaleProblem(double scale);
