#include "visuals/urdf_visuals.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>

#include <urdf_parser/urdf_parser.h>

#include "urdf/urdf_parse.h"
#include "urdf/urdf_text.h"
#include "visuals/mesh_import.h"

namespace {

std::string Quoted(const std::string& name) {
  return "'" + name + "'";
}

bool Finite(const urdf::Pose& pose) {
  const urdf::Vector3& p = pose.position;
  const urdf::Rotation& q = pose.rotation;
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(q.x) &&
         std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

// The rotation of a unit quaternion (the parser normalises the file's roll, pitch and yaw).
void SetPose(VisualShape& shape, const urdf::Pose& pose) {
  double x = pose.rotation.x, y = pose.rotation.y, z = pose.rotation.z, w = pose.rotation.w;
  const double n = std::sqrt(x * x + y * y + z * z + w * w);
  if (n > 0.0) {
    x /= n, y /= n, z /= n, w /= n;
  } else {
    w = 1.0;
  }
  const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                          {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                          {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
  std::copy(&r[0][0], &r[0][0] + 9, &shape.rotation[0][0]);
  shape.origin[0] = pose.position.x;
  shape.origin[1] = pose.position.y;
  shape.origin[2] = pose.position.z;
}

// The visual's colour: its material's, unless that material has only a texture.
void SetColour(VisualShape& shape, const urdf::Visual& visual) {
  const urdf::MaterialSharedPtr& material = visual.material;
  if (!material) {
    return;
  }
  const urdf::Color& c = material->color;
  const bool unset = c.r == 0.0f && c.g == 0.0f && c.b == 0.0f && c.a == 1.0f;
  if ((unset && !material->texture_filename.empty()) ||
      !(std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && std::isfinite(c.a))) {
    return;
  }
  shape.colour = {std::clamp(c.r, 0.0f, 1.0f), std::clamp(c.g, 0.0f, 1.0f),
                  std::clamp(c.b, 0.0f, 1.0f), std::clamp(c.a, 0.0f, 1.0f)};
}

// The mesh files of the description: each read once, with the links that name them.
struct MeshFile {
  std::shared_ptr<const TriangleMesh> mesh;
  std::string problem;             // why it cannot be drawn, to follow "mesh 'URI' "
  std::string package;             // the package it is in, when that package is not found
  std::vector<std::string> links;  // the links that name it, when it cannot
};

class Reader {
 public:
  Reader(const PackageSearch& search, VisualModel& model) : locator_(search), model_(model) {}

  void Add(const urdf::Link& link, std::vector<std::string>& notices, const std::string& source) {
    for (const urdf::VisualSharedPtr& visual : link.visual_array) {
      if (!visual || !visual->geometry) {
        continue;
      }
      VisualShape shape;
      shape.frame = link.name;
      SetColour(shape, *visual);
      const urdf::Geometry& geometry = *visual->geometry;
      double values[3] = {0.0, 0.0, 0.0};
      switch (geometry.type) {
        case urdf::Geometry::SPHERE: {
          const double r = static_cast<const urdf::Sphere&>(geometry).radius;
          shape.kind = ShapeKind::kSphere;
          values[0] = values[1] = values[2] = r;
          break;
        }
        case urdf::Geometry::BOX: {
          const urdf::Vector3& d = static_cast<const urdf::Box&>(geometry).dim;
          shape.kind = ShapeKind::kBox;
          values[0] = d.x, values[1] = d.y, values[2] = d.z;
          break;
        }
        case urdf::Geometry::CYLINDER: {
          const auto& c = static_cast<const urdf::Cylinder&>(geometry);
          shape.kind = ShapeKind::kCylinder;
          values[0] = values[1] = c.radius;
          values[2] = c.length;
          break;
        }
        case urdf::Geometry::MESH: {
          const auto& m = static_cast<const urdf::Mesh&>(geometry);
          shape.kind = ShapeKind::kMesh;
          values[0] = m.scale.x, values[1] = m.scale.y, values[2] = m.scale.z;
          break;
        }
        default:
          continue;
      }
      if (!Finite(visual->origin) || !std::isfinite(values[0]) || !std::isfinite(values[1]) ||
          !std::isfinite(values[2])) {
        notices.push_back(PrintableLine(source + ": link " + Quoted(link.name) +
                                        " has a visual whose pose or size is not finite; that "
                                        "link is drawn as a figure"));
        Fail(link.name);
        continue;
      }
      SetPose(shape, visual->origin);
      std::copy(values, values + 3, shape.size);
      if (shape.kind == ShapeKind::kMesh) {
        const std::string& uri = static_cast<const urdf::Mesh&>(geometry).filename;
        MeshFile& file = Mesh(uri);
        if (!file.mesh) {
          if (std::find(file.links.begin(), file.links.end(), link.name) == file.links.end()) {
            file.links.push_back(link.name);
          }
          Fail(link.name);
          continue;
        }
        shape.mesh = file.mesh;
      }
      model_.shapes.push_back(std::move(shape));
    }
  }

  // One line for each mesh file that cannot be drawn, in the order the description names them;
  // the meshes of a package that is not found share one line.
  void Notices(std::vector<std::string>& notices, const std::string& source) const {
    std::vector<std::string> said;  // the reasons given so far
    for (const std::string& uri : order_) {
      const MeshFile& file = files_.at(uri);
      const std::string& reason = file.package.empty() ? file.problem : file.package;
      if (file.mesh || std::find(said.begin(), said.end(), reason) != said.end()) {
        continue;
      }
      said.push_back(reason);
      std::vector<std::string> links;
      std::size_t meshes = 0;
      for (const std::string& other : order_) {
        const MeshFile& same = files_.at(other);
        if (!same.mesh && (same.package.empty() ? same.problem : same.package) == reason) {
          ++meshes;
          for (const std::string& link : same.links) {
            if (std::find(links.begin(), links.end(), link) == links.end()) {
              links.push_back(link);
            }
          }
        }
      }
      std::string text = "the mesh " + Quoted(uri) + " " + file.problem;
      if (!file.package.empty()) {
        text = "package " + Quoted(file.package) +
               " is in no folder of --package-path or ROS_PACKAGE_PATH, nor above the file (" +
               (meshes == 1 ? "the mesh " + Quoted(uri) : std::to_string(meshes) + " meshes") + ")";
      }
      std::string names;
      for (const std::string& link : links) {
        names += (names.empty() ? "" : ", ") + Quoted(link);
      }
      notices.push_back(PrintableLine(
          source + ": " + text + "; link" + (links.size() > 1 ? "s " : " ") + names + " " +
          (links.size() > 1 ? "are drawn as figures" : "is drawn as a figure")));
    }
  }

 private:
  MeshFile& Mesh(const std::string& uri) {
    auto [it, added] = files_.try_emplace(uri);
    if (!added) {
      return it->second;
    }
    order_.push_back(uri);
    MeshFile& file = it->second;
    std::string problem;
    const std::string path = locator_.Locate(uri, problem);
    if (path.empty()) {
      file.problem = problem;
      file.package = locator_.MissingPackage(uri);
      return file;
    }
    // Two names of one file (through links, or "..") share its triangles.
    std::error_code error;
    std::string key = std::filesystem::canonical(path, error).string();
    if (error) {
      key = path;
    }
    if (const auto read = byPath_.find(key); read != byPath_.end()) {
      file.mesh = read->second.first;
      file.problem = read->second.second;
      return file;
    }
    file.mesh = ImportMesh(path, problem);
    if (!file.mesh) {
      file.problem = "cannot be read (" + path + "): " + problem;
    }
    byPath_[key] = {file.mesh, file.problem};
    return file;
  }

  void Fail(const std::string& link) {
    std::vector<std::string>& failed = model_.failedFrames;
    if (std::find(failed.begin(), failed.end(), link) == failed.end()) {
      failed.push_back(link);
    }
  }

  MeshLocator locator_;
  VisualModel& model_;
  std::map<std::string, MeshFile> files_;
  std::vector<std::string> order_;
  // By the file's canonical path: its triangles, or why it cannot be read.
  std::map<std::string, std::pair<std::shared_ptr<const TriangleMesh>, std::string>> byPath_;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return "";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

PackageSearch PackageSearchFor(const std::string& path,
                               const std::vector<std::string>& packagePaths) {
  PackageSearch search;
  search.paths = packagePaths;
  for (std::string& folder : RosPackagePath(std::getenv("ROS_PACKAGE_PATH"))) {
    search.paths.push_back(std::move(folder));
  }
  search.fileFolder = FolderOf(path);
  return search;
}

VisualModel LoadUrdfVisualsFromText(const std::string& text, const std::string& source,
                                    const PackageSearch& search,
                                    std::vector<std::string>& notices) {
  VisualModel model;
  if (!CheckUrdfText(text).empty()) {
    return model;
  }
  urdf::ModelInterfaceSharedPtr parsed;
  {
    const UrdfParserMessages silent;  // the loader has said what matters of the file
    try {
      parsed = urdf::parseURDF(text);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
      return model;
    }
  }
  if (!parsed) {
    return model;
  }
  const UrdfUnlink unlink{*parsed};
  Reader reader(search, model);
  // In the order of the file's names, so that the notices come out the same on every load.
  for (const auto& [name, link] : parsed->links_) {
    if (link) {
      reader.Add(*link, notices, source);
    }
  }
  reader.Notices(notices, source);
  return model;
}

VisualModel LoadUrdfVisuals(const std::string& path, const PackageSearch& search,
                            std::vector<std::string>& notices) {
  std::string text;
  if (!ReadUrdfFile(path, text).empty()) {
    return VisualModel();
  }
  return LoadUrdfVisualsFromText(text, path, search, notices);
}
