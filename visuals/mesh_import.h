// Mesh files as triangles, through the Open Asset Import Library (COLLADA, STL, OBJ and the other
// formats it reads). The file's node transforms are applied; a COLLADA file's <unit meter> scales
// it to metres while its up_axis is not applied, as RViz and Gazebo do, so that the meshes of
// public robot descriptions sit as they do there. STL and OBJ files are taken as in metres. The
// colours a file gives its triangles (material diffuse colours, vertex colours) are kept; points
// and lines are left out.
#pragma once

#include <memory>
#include <string>

#include "visuals/visual_model.h"

// Files larger than this are not read.
inline constexpr long long kMaxMeshFileBytes = 256ll << 20;

// The triangles of the mesh file at path; null with the reason in problem (one line, to follow
// "cannot be read: ") when it cannot be read or holds no triangle.
std::shared_ptr<const TriangleMesh> ImportMesh(const std::string& path, std::string& problem);
