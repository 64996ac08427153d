#include "visuals/urdf_visuals.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
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

bool Said(const std::string& problem) {
  return problem != "cancelled";
}

}  // namespace

// A mesh file of the description: read once, with the links that name it.
struct UrdfShapes::MeshFile {
  std::string uri;
  bool read = false;
  std::shared_ptr<const TriangleMesh> mesh;
  std::string problem;             // why it cannot be drawn, to follow "mesh 'URI' "
  std::string package;             // the package it is in, when that package is not found
  std::vector<std::string> links;  // the links that name it
  std::unordered_set<std::string> linkSet;
};

UrdfShapes::UrdfShapes(const std::string& text, const std::string& source, PackageSearch search)
    : source_(source), locator_(std::make_unique<MeshLocator>(std::move(search))) {
  if (!CheckUrdfText(text).empty()) {
    return;
  }
  urdf::ModelInterfaceSharedPtr parsed;
  {
    const UrdfParserMessages silent;  // the loader has said what matters of the file
    try {
      parsed = urdf::parseURDF(text);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
      return;
    }
  }
  if (!parsed) {
    return;
  }
  const UrdfUnlink unlink{*parsed};
  // In the order of the file's names, so that the notices come out the same on every load.
  for (const auto& [name, link] : parsed->links_) {
    if (link) {
      Add(*link);
    }
  }
}

UrdfShapes::~UrdfShapes() = default;

void UrdfShapes::Fail(const std::string& link) {
  if (failedSet_.insert(link).second) {
    failed_.push_back(link);
  }
}

void UrdfShapes::Add(const urdf::Link& link) {
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
      notices_.push_back(PrintableLine(source_ + ": link " + Quoted(link.name) +
                                       " has a visual whose pose or size is not finite; that "
                                       "link is drawn as a figure"));
      Fail(link.name);
      continue;
    }
    SetPose(shape, visual->origin);
    std::copy(values, values + 3, shape.size);
    int file = -1;
    if (shape.kind == ShapeKind::kMesh) {
      const std::string& uri = static_cast<const urdf::Mesh&>(geometry).filename;
      // A scale that would draw nothing, or nothing sensible, leaves the link to its figure.
      std::string problem;
      for (int k = 0; k < 3 && problem.empty(); ++k) {
        problem = ScaleProblem(values[k]);
      }
      if (!problem.empty()) {
        char scale[96];
        std::snprintf(scale, sizeof scale, "%g %g %g", values[0], values[1], values[2]);
        notices_.push_back(PrintableLine(source_ + ": link " + Quoted(link.name) +
                                         " scales the mesh " + Quoted(uri) + " by " + scale +
                                         ", and " + problem + "; that link is drawn as a figure"));
        Fail(link.name);
        continue;
      }
      const auto [it, added] = fileIndex_.try_emplace(uri, files_.size());
      if (added) {
        files_.push_back(std::make_unique<MeshFile>());
        files_.back()->uri = uri;
      }
      file = static_cast<int>(it->second);
      MeshFile& named = *files_[it->second];
      if (named.linkSet.insert(link.name).second) {
        named.links.push_back(link.name);
      }
    }
    shapes_.push_back(std::move(shape));
    fileOf_.push_back(file);
  }
}

bool UrdfShapes::ReadNextMesh(const std::atomic<bool>* cancel) {
  if (read_ >= files_.size()) {
    return false;
  }
  MeshFile& file = *files_[read_];
  std::string problem, package;
  const std::string path = locator_->Locate(file.uri, problem, package);
  if (path.empty()) {
    file.problem = problem;
    file.package = locator_->MissingPackage(file.uri);
  } else {
    // Two names of one file (through links, or "..") share its triangles.
    std::error_code error;
    std::string key = std::filesystem::canonical(path, error).string();
    if (error) {
      key = path;
    }
    if (const auto known = byPath_.find(key); known != byPath_.end()) {
      file.mesh = known->second.first;
      file.problem = known->second.second;
    } else {
      std::vector<std::string> refused;
      file.mesh = ImportMesh(path, problem, {package, locator_.get(), cancel, &budget_, &refused});
      if (!file.mesh) {
        file.problem = problem.rfind(kRefusedMesh, 0) == 0
                           ? "is refused (" + path + "): " + problem.substr(sizeof kRefusedMesh - 1)
                       : Said(problem) ? "cannot be read (" + path + "): " + problem
                                       : problem;
      }
      // What the mesh names and could not be read is said with it, drawn or not.
      std::string names;
      for (const std::string& text : refused) {
        names += (names.empty() ? "" : "; ") + text;
      }
      if (!names.empty() && file.mesh) {
        notices_.push_back(PrintableLine(source_ + ": the mesh " + Quoted(file.uri) +
                                         " names files that are not read: " + names +
                                         "; it is drawn without them"));
      } else if (!names.empty() && Said(file.problem)) {
        file.problem += " (it names files that are not read: " + names + ")";
      }
      if (Said(file.problem)) {
        byPath_[key] = {file.mesh, file.problem};
      }
    }
  }
  file.read = true;
  ++read_;
  return true;
}

VisualModel UrdfShapes::Model() const {
  VisualModel model;
  model.failedFrames = failed_;
  std::unordered_set<std::string> figure(failedSet_);
  // A link waiting for a mesh, or whose mesh cannot be drawn, is drawn as its figure.
  for (const std::unique_ptr<MeshFile>& file : files_) {
    if (!file->mesh) {
      for (const std::string& link : file->links) {
        if (figure.insert(link).second) {
          model.failedFrames.push_back(link);
        }
      }
    }
  }
  model.shapes.reserve(shapes_.size());
  for (std::size_t i = 0; i < shapes_.size(); ++i) {
    const int file = fileOf_[i];
    if (file < 0) {
      model.shapes.push_back(shapes_[i]);
    } else if (files_[static_cast<std::size_t>(file)]->mesh) {
      model.shapes.push_back(shapes_[i]);
      model.shapes.back().mesh = files_[static_cast<std::size_t>(file)]->mesh;
    }
  }
  return model;
}

std::vector<std::string> UrdfShapes::Notices() const {
  std::vector<std::string> notices = notices_;
  // One line for each mesh file that cannot be drawn, in the order the description names them;
  // the meshes of a package that is not found share one line.
  struct Group {
    const MeshFile* first = nullptr;
    std::size_t meshes = 0;
    std::vector<std::string> links;
    std::unordered_set<std::string> linkSet;
  };
  std::vector<Group> groups;
  std::unordered_map<std::string, std::size_t> byReason;
  for (const std::unique_ptr<MeshFile>& file : files_) {
    if (!file->read || file->mesh || !Said(file->problem)) {
      continue;
    }
    const std::string& reason = file->package.empty() ? file->problem : file->package;
    const auto [it, added] = byReason.try_emplace(reason, groups.size());
    if (added) {
      groups.emplace_back().first = file.get();
    }
    Group& group = groups[it->second];
    ++group.meshes;
    for (const std::string& link : file->links) {
      if (group.linkSet.insert(link).second) {
        group.links.push_back(link);
      }
    }
  }
  for (const Group& group : groups) {
    const MeshFile& file = *group.first;
    std::string text = "the mesh " + Quoted(file.uri) + " " + file.problem;
    if (!file.package.empty()) {
      text = "package " + Quoted(file.package) +
             " is in no folder of --package-path or ROS_PACKAGE_PATH, nor above the file (" +
             (group.meshes == 1 ? "the mesh " + Quoted(file.uri)
                                : std::to_string(group.meshes) + " meshes") +
             ")";
    }
    std::string names;
    for (const std::string& link : group.links) {
      names += (names.empty() ? "" : ", ") + Quoted(link);
    }
    const bool several = group.links.size() > 1;
    notices.push_back(PrintableLine(source_ + ": " + text + "; link" + (several ? "s " : " ") +
                                    names + " " +
                                    (several ? "are drawn as figures" : "is drawn as a figure")));
  }
  return notices;
}

namespace {

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
  UrdfShapes shapes(text, source, search);
  while (shapes.ReadNextMesh()) {
  }
  for (std::string& notice : shapes.Notices()) {
    notices.push_back(std::move(notice));
  }
  return shapes.Model();
}

VisualModel LoadUrdfVisuals(const std::string& path, const PackageSearch& search,
                            std::vector<std::string>& notices) {
  std::string text;
  if (!ReadUrdfFile(path, text).empty()) {
    return VisualModel();
  }
  return LoadUrdfVisualsFromText(text, path, search, notices);
}
