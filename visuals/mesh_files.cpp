#include "visuals/mesh_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <assimp/IOStream.hpp>

#include "visuals/mesh_import.h"
#include "visuals/mesh_locator.h"

namespace {

constexpr std::size_t kReadChunk = 1 << 20;

// A file read whole, as the importer reads it.
class MemoryFile : public Assimp::IOStream {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}

  size_t Read(void* buffer, size_t size, size_t count) override {
    if (size == 0 || count == 0) {
      return 0;
    }
    const size_t items = std::min(count, (bytes_.size() - at_) / size);
    std::memcpy(buffer, bytes_.data() + at_, items * size);
    at_ += items * size;
    return items;
  }
  size_t Write(const void* /*buffer*/, size_t /*size*/, size_t /*count*/) override { return 0; }
  // An offset from the end is negative (wrapped in the unsigned argument).
  aiReturn Seek(size_t offset, aiOrigin origin) override {
    const auto signedOffset = static_cast<long long>(offset);
    const auto size = static_cast<long long>(bytes_.size());
    const long long target = origin == aiOrigin_SET   ? signedOffset
                             : origin == aiOrigin_CUR ? static_cast<long long>(at_) + signedOffset
                                                      : size + signedOffset;
    if (target < 0 || target > size) {
      return aiReturn_FAILURE;
    }
    at_ = static_cast<size_t>(target);
    return aiReturn_SUCCESS;
  }
  size_t Tell() const override { return at_; }
  size_t FileSize() const override { return bytes_.size(); }
  void Flush() override {}

 private:
  std::string bytes_;
  size_t at_ = 0;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// path with "." and ".." taken out, as written (links are not followed).
std::string Lexical(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    const std::string part = path.substr(at, slash - at);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (path.empty() || path[0] != '/') {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = slash + 1;
  }
  std::string out = !path.empty() && path[0] == '/' ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    out += (i == 0 ? "" : "/") + parts[i];
  }
  return out.empty() ? "." : out;
}

}  // namespace

std::string ReadRegularFile(const std::string& path, std::string& bytes,
                            const std::atomic<bool>* cancel) {
  bytes.clear();
  // Opening does not wait (a FIFO without a writer would), and what was opened is looked at
  // before anything is read from it.
  const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (file < 0) {
    return std::strerror(errno);
  }
  struct stat status {};
  std::string problem;
  if (fstat(file, &status) != 0) {
    problem = std::strerror(errno);
  } else if (S_ISDIR(status.st_mode)) {
    problem = "not a regular file (a folder)";
  } else if (!S_ISREG(status.st_mode)) {
    problem = "not a regular file";
  } else if (status.st_size > kMaxMeshFileBytes) {
    problem = "larger than " + std::to_string(kMaxMeshFileBytes >> 20) + " MiB";
  } else {
    bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < bytes.size() && problem.empty()) {
      if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
        problem = "cancelled";
        break;
      }
      const ssize_t got =
          read(file, bytes.data() + done, std::min(kReadChunk, bytes.size() - done));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        problem = got < 0 ? std::strerror(errno) : "it became shorter while it was read";
        break;
      }
      done += static_cast<std::size_t>(got);
    }
  }
  close(file);
  if (!problem.empty()) {
    bytes.clear();
  }
  return problem;
}

MeshFiles::MeshFiles(std::string mesh, std::string package, MeshLocator* locator,
                     const std::atomic<bool>* cancel)
    : mesh_(std::move(mesh)),
      folder_(FolderOf(mesh_)),
      package_(std::move(package)),
      locator_(locator),
      cancel_(cancel) {}

bool MeshFiles::Resolve(const char* name, std::string& path, std::string& written,
                        std::string& reason) const {
  const std::string given = name != nullptr ? name : "";
  if (given == mesh_) {
    path = written = mesh_;
    return true;
  }
  // The importers put the mesh's folder before the name the mesh gives; an absolute name
  // follows it with a second slash.
  written = given;
  const std::string prefix = folder_ == "/" ? "/" : folder_ + "/";
  if (given.size() > prefix.size() && given.compare(0, prefix.size(), prefix) == 0) {
    written = given.substr(prefix.size());
  }
  if (written.find("://") != std::string::npos) {
    std::string package;
    path = locator_ != nullptr ? locator_->Locate(written, reason, package) : "";
    if (path.empty()) {
      reason = locator_ != nullptr ? "it " + reason : "it names a package";
      return false;
    }
  } else {
    path = written[0] == '/' ? written : prefix + written;
  }
  if (!package_.empty()) {
    const std::string root = Lexical(package_), at = Lexical(path);
    if (at.compare(0, root.size(), root) != 0 ||
        (at.size() > root.size() && at[root.size()] != '/')) {
      reason = "it leads out of the mesh's package";
      return false;
    }
  }
  return true;
}

bool MeshFiles::Exists(const char* file) const {
  std::string path, written, reason;
  struct stat status {};
  return Resolve(file, path, written, reason) && stat(path.c_str(), &status) == 0 &&
         S_ISREG(status.st_mode);
}

Assimp::IOStream* MeshFiles::Open(const char* file, const char* mode) {
  if (mode == nullptr || mode[0] != 'r') {
    return nullptr;  // nothing is written
  }
  std::string path, written, reason;
  std::string bytes;
  if (Resolve(file, path, written, reason)) {
    struct stat status {};
    // What is not there is the importer's to say (it looks for files under several names).
    if (lstat(path.c_str(), &status) != 0 && errno == ENOENT) {
      return nullptr;
    }
    reason = ReadRegularFile(path, bytes, cancel_);
  }
  if (!reason.empty()) {
    if (path == mesh_) {
      meshProblem_ = reason;
    } else {
      const std::string text = "'" + written + "'" +
                               (path.empty() || path == written ? "" : " (" + path + ")") + ": " +
                               reason;
      if (std::find(refused_.begin(), refused_.end(), text) == refused_.end()) {
        refused_.push_back(text);
      }
    }
    return nullptr;
  }
  return new MemoryFile(std::move(bytes));
}

void MeshFiles::Close(Assimp::IOStream* stream) {
  delete stream;
}
