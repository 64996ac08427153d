// The only way the Open Asset Import Library reaches the file system: the mesh file and every file
// it names (an OBJ file's material library, a glTF file's buffers, ...) are opened through
// MeshFiles, never by the importer's own file system, so that none of them can hang the loading or
// lead it out of its package.
//
// A file is opened only when it is a regular file (a FIFO, a folder, a device or a loop of links
// is refused at once: it is opened without waiting and checked before anything is read) of at most
// kMaxMeshFileBytes, and it is read whole into memory before the importer sees it. The names a
// mesh gives are resolved as a description's names are: package:// and model:// in their package,
// file:// and absolute paths as they are, and other names from the mesh's folder; for a mesh in a
// package, a name that leads out of the package is refused. Each refusal is kept with its reason,
// to be said with the mesh. Reading stops, as if the files ended, once cancel is set.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <assimp/IOSystem.hpp>

class MeshLocator;

class MeshFiles : public Assimp::IOSystem {
 public:
  // mesh: the mesh file's path; package: the folder of its package (empty for none); locator
  // resolves package:// names (may be null: then none is found); cancel may be null.
  MeshFiles(std::string mesh, std::string package, MeshLocator* locator,
            const std::atomic<bool>* cancel);

  bool Exists(const char* file) const override;
  char getOsSeparator() const override { return '/'; }
  Assimp::IOStream* Open(const char* file, const char* mode = "rb") override;
  void Close(Assimp::IOStream* stream) override;

  // The files the mesh named that were refused, one text each: "'NAME' (PATH): REASON".
  const std::vector<std::string>& Refused() const { return refused_; }
  // Why the mesh file itself could not be opened, or "".
  const std::string& MeshProblem() const { return meshProblem_; }

 private:
  // The path that name (as the importer hands it over) stands for, and the name as the mesh wrote
  // it; false with the reason when it is refused before it is looked at.
  bool Resolve(const char* name, std::string& path, std::string& written,
               std::string& reason) const;

  std::string mesh_;
  std::string folder_;
  std::string package_;
  MeshLocator* locator_;
  const std::atomic<bool>* cancel_;
  std::vector<std::string> refused_;
  std::string meshProblem_;
};

// Reads the regular file at path whole (at most kMaxMeshFileBytes) without ever waiting on it:
// "" or the reason it is refused ("not a regular file", "larger than 256 MiB", or the system's
// reason). Stops, with "cancelled", once cancel is set.
std::string ReadRegularFile(const std::string& path, std::string& bytes,
                            const std::atomic<bool>* cancel);
