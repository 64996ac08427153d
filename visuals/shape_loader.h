// ShapeLoader: a description's mesh files read on a thread of its own, so that a window can show
// the arm at once, drawn as its figure, and each link by its shapes as its meshes arrive. The
// reading is bounded (see mesh_import.h and mesh_files.h) and stops as soon as the loader is
// stopped or destroyed: the mesh being read is given up, what is read so far stays.
//
// The window looks at Version now and then and takes Latest when it changed: the shapes read so
// far (links still waiting for a mesh are drawn as figures), the notices so far, and how many mesh
// files are read of how many.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "visuals/urdf_visuals.h"
#include "visuals/visual_model.h"

class ShapeLoader {
 public:
  struct State {
    std::shared_ptr<const VisualModel> model;
    std::vector<std::string> notices;
    std::size_t read = 0;
    std::size_t total = 0;
    bool finished = false;
  };

  // Starts reading the meshes of shapes (whose description is read already; its state before any
  // mesh is Latest at once). beforeMesh, when given, is called on the thread before each mesh file
  // with its number, what is read before it published (tests hold the reading there).
  explicit ShapeLoader(std::unique_ptr<UrdfShapes> shapes,
                       std::function<void(std::size_t)> beforeMesh = {});
  ~ShapeLoader();
  ShapeLoader(const ShapeLoader&) = delete;
  ShapeLoader& operator=(const ShapeLoader&) = delete;

  // Stops the reading and waits for the thread, which ends as soon as the mesh file it is in
  // gives way; Latest keeps what was read.
  void Stop();
  bool Stopping() const { return cancel_.load(); }

  uint64_t Version() const { return version_.load(); }
  State Latest() const;

 private:
  void Run();
  void Publish(bool finished);

  std::unique_ptr<UrdfShapes> shapes_;
  std::function<void(std::size_t)> beforeMesh_;
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> version_{0};
  mutable std::mutex mutex_;
  State latest_;
  std::thread thread_;
};

// "meshes: 3 of 12": the progress the window shows while meshes are read.
std::string MeshProgressText(std::size_t read, std::size_t total);
