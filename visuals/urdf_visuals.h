// The <visual> elements of a URDF robot description as shapes to draw: boxes, cylinders, spheres
// and meshes, each with its origin, its scale (meshes) and its colour. The colour is the visual's
// <material> (its own <color rgba>, or the named material the file defines at the top); a mesh's
// own colours win over it, as in RViz, so that a coloured COLLADA file keeps its colours and an STL
// file takes the visual's. Each mesh file is read once however many visuals name it.
//
// Reading never fails: a mesh that is missing or cannot be read, and a visual whose numbers are not
// finite, give one notice line each ("FILE: ..."), and their links are listed as failed, to be
// drawn as the arm's figure. Like the loader, it switches the URDF parser's message output while it
// runs, so it must not run on two threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "visuals/mesh_import.h"
#include "visuals/mesh_locator.h"
#include "visuals/visual_model.h"

namespace urdf {
class Link;
}

// The shapes of one description, read in two steps: the description when it is made (which must
// not run on two threads at once, see above), then its mesh files one by one, which may run on a
// thread of its own (one at a time for one UrdfShapes). Model and Notices tell what is read so
// far: a link whose mesh is still to be read is drawn as its figure meanwhile.
class UrdfShapes {
 public:
  UrdfShapes(const std::string& text, const std::string& source, PackageSearch search);
  ~UrdfShapes();
  UrdfShapes(const UrdfShapes&) = delete;
  UrdfShapes& operator=(const UrdfShapes&) = delete;

  // The mesh files the description names (each once), and how many are read.
  std::size_t MeshCount() const { return files_.size(); }
  std::size_t MeshesRead() const { return read_; }
  // Reads the next mesh file; false when all are read. Stops reading, as soon as it can, once
  // cancel is set (the mesh is then drawn as its figure, without a notice).
  bool ReadNextMesh(const std::atomic<bool>* cancel = nullptr);

  VisualModel Model() const;
  // The notices so far: the description's, and one line for each mesh file that cannot be drawn
  // (the meshes of a package that is not found share one).
  std::vector<std::string> Notices() const;

 private:
  struct MeshFile;
  void Add(const urdf::Link& link);
  void Fail(const std::string& link);

  std::string source_;
  std::unique_ptr<MeshLocator> locator_;
  std::vector<VisualShape> shapes_;
  std::vector<int> fileOf_;  // the mesh file of each shape, -1 for none
  std::vector<std::unique_ptr<MeshFile>> files_;
  std::unordered_map<std::string, std::size_t> fileIndex_;
  std::size_t read_ = 0;
  std::vector<std::string> failed_;
  std::unordered_set<std::string> failedSet_;
  std::vector<std::string> notices_;
  MeshBudget budget_;
  // By the file's canonical path: its triangles, or why it cannot be read.
  std::map<std::string, std::pair<std::shared_ptr<const TriangleMesh>, std::string>> byPath_;
};

// Where the meshes of the description at path are looked for: the folders of --package-path, then
// those of ROS_PACKAGE_PATH (from the environment), then the description's folder and those above
// it.
PackageSearch PackageSearchFor(const std::string& path,
                               const std::vector<std::string>& packagePaths);

// The shapes of the description at path (read as the loader reads it). Notices are appended.
VisualModel LoadUrdfVisuals(const std::string& path, const PackageSearch& search,
                            std::vector<std::string>& notices);

// The same for a description in memory; source names it in the notices.
VisualModel LoadUrdfVisualsFromText(const std::string& text, const std::string& source,
                                    const PackageSearch& search, std::vector<std::string>& notices);
