#include "visuals/mesh_import.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include <assimp/config.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include "visuals/mesh_files.h"

namespace {

// A part's key: no colour of its own, one colour, or colours per vertex.
using ColourKey = std::tuple<int, float, float, float, float>;

// The diffuse colour a material gives, unless it is the importer's stand-in for a file without
// materials or the colour comes from a texture (which is not drawn).
bool OwnColour(const aiMaterial* material, Rgba& colour) {
  if (material == nullptr) {
    return false;
  }
  aiString name;
  if (material->Get(AI_MATKEY_NAME, name) == AI_SUCCESS &&
      name == aiString(AI_DEFAULT_MATERIAL_NAME)) {
    return false;
  }
  aiColor4D diffuse;
  if (material->GetTextureCount(aiTextureType_DIFFUSE) > 0 ||
      aiGetMaterialColor(material, AI_MATKEY_COLOR_DIFFUSE, &diffuse) != AI_SUCCESS) {
    return false;
  }
  float opacity = 1.0f;
  if (material->Get(AI_MATKEY_OPACITY, opacity) != AI_SUCCESS || !(opacity > 0.0f)) {
    opacity = 1.0f;
  }
  colour = {std::clamp(diffuse.r, 0.0f, 1.0f), std::clamp(diffuse.g, 0.0f, 1.0f),
            std::clamp(diffuse.b, 0.0f, 1.0f), std::clamp(opacity, 0.0f, 1.0f)};
  return true;
}

class Collector {
 public:
  explicit Collector(const aiScene& scene) : scene_(scene) {}

  // Every mesh of node and its children, placed by the transforms down to it.
  void Add(const aiNode& node, const aiMatrix4x4& above) {
    const aiMatrix4x4 at = above * node.mTransformation;
    aiMatrix3x3 normalTransform(at);
    normalTransform.Inverse().Transpose();
    for (unsigned m = 0; m < node.mNumMeshes; ++m) {
      if (node.mMeshes[m] < scene_.mNumMeshes) {
        AddMesh(*scene_.mMeshes[node.mMeshes[m]], at, normalTransform);
      }
    }
    for (unsigned c = 0; c < node.mNumChildren; ++c) {
      Add(*node.mChildren[c], at);
    }
  }

  std::shared_ptr<TriangleMesh> Finish() {
    auto mesh = std::make_shared<TriangleMesh>();
    for (auto& [key, part] : parts_) {  // the key orders parts without a colour first
      mesh->parts.push_back(std::move(part));
    }
    mesh->low = {static_cast<float>(low_[0]), static_cast<float>(low_[1]),
                 static_cast<float>(low_[2])};
    mesh->high = {static_cast<float>(high_[0]), static_cast<float>(high_[1]),
                  static_cast<float>(high_[2])};
    if (mesh->TriangleCount() == 0) {
      mesh->low = mesh->high = {0.0f, 0.0f, 0.0f};
    }
    return mesh;
  }

 private:
  void AddMesh(const aiMesh& mesh, const aiMatrix4x4& at, const aiMatrix3x3& normalTransform) {
    if ((mesh.mPrimitiveTypes & aiPrimitiveType_TRIANGLE) == 0) {
      return;
    }
    const aiMaterial* material = mesh.mMaterialIndex < scene_.mNumMaterials
                                     ? scene_.mMaterials[mesh.mMaterialIndex]
                                     : nullptr;
    const bool vertexColours = mesh.HasVertexColors(0);
    Rgba colour;
    const bool coloured = !vertexColours && OwnColour(material, colour);
    const ColourKey key = vertexColours ? ColourKey{2, 0.0f, 0.0f, 0.0f, 0.0f}
                          : coloured    ? ColourKey{1, colour.r, colour.g, colour.b, colour.a}
                                        : ColourKey{0, 0.0f, 0.0f, 0.0f, 0.0f};
    MeshPart& part = parts_[key];
    part.coloured = coloured;
    part.colour = colour;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
      const aiFace& face = mesh.mFaces[f];
      if (face.mNumIndices != 3) {
        continue;
      }
      aiVector3D p[3];
      bool inside = true;
      for (int k = 0; k < 3; ++k) {
        inside = inside && face.mIndices[k] < mesh.mNumVertices;
      }
      if (!inside) {
        continue;
      }
      for (int k = 0; k < 3; ++k) {
        p[k] = at * mesh.mVertices[face.mIndices[k]];
      }
      // Where the file gives no usable normal, the triangle's own.
      aiVector3D flat = (p[1] - p[0]) ^ (p[2] - p[0]);
      flat = flat.Length() > 0.0f ? flat.Normalize() : aiVector3D(0.0f, 0.0f, 1.0f);
      for (int k = 0; k < 3; ++k) {
        const unsigned v = face.mIndices[k];
        aiVector3D n = mesh.HasNormals() ? normalTransform * mesh.mNormals[v] : aiVector3D();
        const float length = n.Length();
        n = std::isfinite(length) && length > 1e-12f ? n / length : flat;
        part.positions.insert(part.positions.end(), {p[k].x, p[k].y, p[k].z});
        part.normals.insert(part.normals.end(), {n.x, n.y, n.z});
        if (vertexColours) {
          const aiColor4D& c = mesh.mColors[0][v];
          part.colours.insert(part.colours.end(), {c.r, c.g, c.b, c.a});
        }
        for (int i = 0; i < 3; ++i) {
          low_[i] = std::min(low_[i], static_cast<double>(p[k][i]));
          high_[i] = std::max(high_[i], static_cast<double>(p[k][i]));
        }
      }
    }
  }

  const aiScene& scene_;
  std::map<ColourKey, MeshPart> parts_;
  double low_[3] = {INFINITY, INFINITY, INFINITY};
  double high_[3] = {-INFINITY, -INFINITY, -INFINITY};
};

bool AllFinite(const TriangleMesh& mesh) {
  for (const MeshPart& part : mesh.parts) {
    for (float x : part.positions) {
      if (!std::isfinite(x)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

std::size_t TriangleMesh::TriangleCount() const {
  std::size_t count = 0;
  for (const MeshPart& part : parts) {
    count += part.positions.size() / 9;
  }
  return count;
}

std::string ScaleProblem(double scale) {
  if (std::isfinite(scale) && scale > 0.0 && scale <= kMaxMeshScale) {
    return "";
  }
  char text[96];
  std::snprintf(text, sizeof text, "a scale must be finite, above 0 and at most %g, not %g",
                kMaxMeshScale, scale);
  return text;
}

namespace {

// Why the scene, as read and before its polygons are cut, is more than may be drawn, or "".
std::string OverCaps(const aiScene& scene, const MeshBudget* budget) {
  uint64_t vertices = 0, triangles = 0, work = 0, largest = 0;
  for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
    const aiMesh& mesh = *scene.mMeshes[m];
    vertices += mesh.mNumVertices;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
      const uint64_t corners = mesh.mFaces[f].mNumIndices;
      largest = std::max(largest, corners);
      if (corners > kMaxPolygonCorners) {
        break;
      }
      triangles += corners >= 3 ? corners - 2 : 0;
      work += corners > 4 ? corners * corners : 0;
    }
  }
  const auto over = [](uint64_t count, const char* what, uint64_t cap, const char* whose) {
    return std::string(kRefusedMesh) + std::to_string(count) + what + ", more than the " +
           std::to_string(cap) + whose;
  };
  if (largest > kMaxPolygonCorners) {
    return over(largest, " corners in one polygon", kMaxPolygonCorners, " a polygon may have");
  }
  if (vertices > kMaxMeshVertices) {
    return over(vertices, " vertices", kMaxMeshVertices, " a mesh may have");
  }
  if (triangles > kMaxMeshTriangles) {
    return over(triangles, " triangles to make", kMaxMeshTriangles, " a mesh may have");
  }
  if (work > kMaxPolygonWork) {
    return over(work,
                " as the sum of the squares of the corners of its polygons of more than four "
                "(the time cutting them into triangles takes)",
                kMaxPolygonWork, " a mesh may have");
  }
  if (budget != nullptr && (vertices > budget->vertices || triangles > budget->triangles)) {
    return std::string(kRefusedMesh) + "with it the robot's meshes would hold more than " +
           (vertices > budget->vertices ? std::to_string(kMaxRobotVertices) + " vertices"
                                        : std::to_string(kMaxRobotTriangles) + " triangles") +
           ", what a robot's meshes may hold in all";
  }
  return "";
}

// The importer's reason, on one line, or otherwise.
std::string ImporterError(const Assimp::Importer& importer, const char* otherwise) {
  std::string reason = importer.GetErrorString();
  std::replace(reason.begin(), reason.end(), '\n', ' ');
  return reason.empty() ? otherwise : reason;
}

// Why the scale the file gives itself (COLLADA's unit lands in the root's transform) is refused.
std::string OwnScaleProblem(const aiNode& root) {
  const aiMatrix4x4& t = root.mTransformation;
  const double columns[3][3] = {{t.a1, t.b1, t.c1}, {t.a2, t.b2, t.c2}, {t.a3, t.b3, t.c3}};
  const double determinant =
      columns[0][0] * (columns[1][1] * columns[2][2] - columns[1][2] * columns[2][1]) -
      columns[1][0] * (columns[0][1] * columns[2][2] - columns[0][2] * columns[2][1]) +
      columns[2][0] * (columns[0][1] * columns[1][2] - columns[0][2] * columns[1][1]);
  for (const auto& column : columns) {
    const double length =
        std::sqrt(column[0] * column[0] + column[1] * column[1] + column[2] * column[2]);
    const double signedLength = determinant < 0.0 ? -length : length;
    if (std::string problem = ScaleProblem(std::isfinite(determinant) ? signedLength : NAN);
        !problem.empty()) {
      return std::string(kRefusedMesh) +
             "it scales itself (its COLLADA <unit>, or its root's transform): " + problem;
    }
  }
  return "";
}

}  // namespace

std::shared_ptr<const TriangleMesh> ImportMesh(const std::string& path, std::string& problem,
                                               const MeshRead& read) {
  Assimp::Importer importer;
  auto* files = new MeshFiles(path, read.package, read.locator, read.cancel);
  importer.SetIOHandler(files);  // the importer owns it
  importer.SetPropertyBool(AI_CONFIG_IMPORT_COLLADA_IGNORE_UP_DIRECTION, true);
  importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                              aiPrimitiveType_POINT | aiPrimitiveType_LINE);
  // Read first, counted, and only then cut into triangles: the cutting is what can take long.
  const aiScene* scene = importer.ReadFile(path, 0);
  const auto cancelled = [&] {
    return read.cancel != nullptr && read.cancel->load(std::memory_order_relaxed);
  };
  if (read.refused != nullptr) {
    *read.refused = files->Refused();
  }
  if (cancelled()) {
    problem = "cancelled";
    return nullptr;
  }
  if (!files->MeshProblem().empty()) {
    problem = files->MeshProblem();
    return nullptr;
  }
  if (scene == nullptr || scene->mRootNode == nullptr) {
    problem = ImporterError(importer, "not a mesh the importer knows");
    return nullptr;
  }
  problem = OverCaps(*scene, read.budget);
  problem = problem.empty() ? OwnScaleProblem(*scene->mRootNode) : problem;
  if (!problem.empty()) {
    return nullptr;
  }
  scene = importer.ApplyPostProcessing(aiProcess_Triangulate | aiProcess_SortByPType |
                                       aiProcess_GenSmoothNormals);
  if (cancelled()) {
    problem = "cancelled";
    return nullptr;
  }
  if (scene == nullptr || scene->mRootNode == nullptr) {
    problem = ImporterError(importer, "the importer could not make triangles of it");
    return nullptr;
  }
  Collector collector(*scene);
  collector.Add(*scene->mRootNode, aiMatrix4x4());
  std::shared_ptr<TriangleMesh> mesh = collector.Finish();
  if (mesh->TriangleCount() == 0) {
    problem = "it holds no triangles";
    return nullptr;
  }
  if (!AllFinite(*mesh)) {
    problem = "it holds coordinates that are not finite";
    return nullptr;
  }
  if (read.budget != nullptr) {
    uint64_t vertices = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
      vertices += scene->mMeshes[m]->mNumVertices;
    }
    read.budget->vertices -= std::min(read.budget->vertices, vertices);
    read.budget->triangles -= std::min<uint64_t>(read.budget->triangles, mesh->TriangleCount());
  }
  problem.clear();
  return mesh;
}
