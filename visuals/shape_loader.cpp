#include "visuals/shape_loader.h"

#include <chrono>
#include <utility>

ShapeLoader::ShapeLoader(std::unique_ptr<UrdfShapes> shapes,
                         std::function<void(std::size_t)> beforeMesh)
    : shapes_(std::move(shapes)), beforeMesh_(std::move(beforeMesh)) {
  Publish(shapes_->MeshesRead() == shapes_->MeshCount());
  if (!latest_.finished) {
    thread_ = std::thread([this] { Run(); });
  }
}

ShapeLoader::~ShapeLoader() {
  Stop();
}

void ShapeLoader::Stop() {
  cancel_.store(true);
  if (thread_.joinable()) {
    thread_.join();
  }
}

ShapeLoader::State ShapeLoader::Latest() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

void ShapeLoader::Publish(bool finished) {
  State state;
  state.model = std::make_shared<const VisualModel>(shapes_->Model());
  state.notices = shapes_->Notices();
  state.read = shapes_->MeshesRead();
  state.total = shapes_->MeshCount();
  state.finished = finished;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    latest_ = std::move(state);
  }
  version_.fetch_add(1);
}

void ShapeLoader::Run() {
  using Clock = std::chrono::steady_clock;
  // A state is published after each mesh, unless publishing would take more than a tenth of the
  // thread's time (a description of thousands of shapes): then after a pause ten times as long
  // as the last publishing took.
  Clock::time_point published = Clock::now();
  Clock::duration cost{};
  bool pending = false;
  while (!cancel_.load()) {
    if (beforeMesh_) {
      if (pending) {
        Publish(false);  // what is read is seen while the hook holds the reading
        pending = false;
      }
      beforeMesh_(shapes_->MeshesRead());
      if (cancel_.load()) {
        break;
      }
    }
    if (!shapes_->ReadNextMesh(&cancel_)) {
      break;
    }
    if (shapes_->MeshesRead() == shapes_->MeshCount()) {
      break;
    }
    pending = true;
    const Clock::time_point now = Clock::now();
    if (now - published >= 10 * cost) {
      Publish(false);
      pending = false;
      published = Clock::now();
      cost = published - now;
    }
  }
  // Stopped before the end, the meshes not read are left to their links' figures, unsaid.
  Publish(shapes_->MeshesRead() == shapes_->MeshCount());
}

std::string MeshProgressText(std::size_t read, std::size_t total) {
  return "meshes: " + std::to_string(read) + " of " + std::to_string(total);
}
