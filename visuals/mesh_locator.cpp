#include "visuals/mesh_locator.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <system_error>
#include <utility>

#include <tinyxml2.h>

namespace {

namespace fs = std::filesystem;

// A package is looked for at most this deep below a search folder, and in at most this many
// folders in all, so that a search path as wide as / still ends soon.
constexpr int kSearchDepth = 3;
constexpr int kMaxFoldersSearched = 20000;
constexpr off_t kMaxPackageXmlBytes = 1 << 20;

bool IsFolder(const std::string& path) {
  struct stat s {};
  return !path.empty() && stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) {
    return name;
  }
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string BaseName(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The package name that folder's package.xml gives, or empty.
std::string PackageXmlName(const std::string& folder) {
  const std::string file = Join(folder, "package.xml");
  struct stat s {};
  if (stat(file.c_str(), &s) != 0 || !S_ISREG(s.st_mode) || s.st_size > kMaxPackageXmlBytes) {
    return "";
  }
  tinyxml2::XMLDocument document;
  if (document.LoadFile(file.c_str()) != tinyxml2::XML_SUCCESS) {
    return "";
  }
  const tinyxml2::XMLElement* package = document.FirstChildElement("package");
  const tinyxml2::XMLElement* name = package ? package->FirstChildElement("name") : nullptr;
  const char* text = name ? name->GetText() : nullptr;
  std::string value = text ? text : "";
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) {
    value.pop_back();
  }
  std::size_t start = 0;
  while (start < value.size() && std::isspace(static_cast<unsigned char>(value[start]))) {
    ++start;
  }
  return value.substr(start);
}

// Whether path, read as written, stays inside its first folder: no ".." climbs above it.
bool StaysInside(const std::string& inside) {
  int depth = 0;
  std::size_t at = 0;
  while (at <= inside.size()) {
    const std::size_t slash = std::min(inside.find('/', at), inside.size());
    const std::string part = inside.substr(at, slash - at);
    if (part == "..") {
      if (--depth < 0) {
        return false;
      }
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    at = slash + 1;
  }
  return true;
}

// %XX escapes of a file URI's path, decoded; a malformed escape stays as written.
std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The scheme of a URI ("package", "file", ...), empty for a plain path.
std::string SchemeOf(const std::string& uri) {
  const std::size_t at = uri.find("://");
  return at == std::string::npos ? "" : uri.substr(0, at);
}

// The package's name and the path inside it of a package:// or model:// URI.
bool SplitPackageUri(const std::string& uri, std::string& name, std::string& inside) {
  const std::string scheme = SchemeOf(uri);
  if (scheme != "package" && scheme != "model") {
    return false;
  }
  const std::string rest = uri.substr(scheme.size() + 3);
  const std::size_t slash = rest.find('/');
  name = rest.substr(0, slash);
  inside = slash == std::string::npos ? "" : rest.substr(slash + 1);
  return true;
}

}  // namespace

std::vector<std::string> RosPackagePath(const char* value) {
  std::vector<std::string> folders;
  if (value == nullptr) {
    return folders;
  }
  std::string entry;
  for (const char* c = value;; ++c) {
    if (*c == ':' || *c == '\0') {
      if (!entry.empty()) {
        folders.push_back(std::move(entry));
      }
      entry.clear();
      if (*c == '\0') {
        break;
      }
    } else {
      entry += *c;
    }
  }
  return folders;
}

MeshLocator::MeshLocator(PackageSearch search) : search_(std::move(search)) {}

const std::string& MeshLocator::DeclaredName(const std::string& folder) {
  auto [it, added] = declared_.try_emplace(folder);
  if (added) {
    it->second = PackageXmlName(folder);
  }
  return it->second;
}

std::string MeshLocator::FindIn(const std::string& root, const std::string& name) {
  if (!IsFolder(root)) {
    return "";
  }
  if (BaseName(root) == name || DeclaredName(root) == name) {
    return root;
  }
  if (const std::string inside = Join(root, name); IsFolder(inside)) {
    return inside;
  }
  auto [index, added] = below_.try_emplace(root);
  if (added) {
    // Breadth first, so that the package nearest the search folder is the one kept for its name.
    std::deque<std::pair<std::string, int>> folders{{root, 0}};
    int searched = 0;
    while (!folders.empty() && searched < kMaxFoldersSearched) {
      auto [folder, depth] = folders.front();
      folders.pop_front();
      ++searched;
      std::error_code error;
      for (fs::directory_iterator it(folder, error), end; !error && it != end;
           it.increment(error)) {
        const std::string child = it->path().string();
        const std::string base = it->path().filename().string();
        if (base.empty() || base[0] == '.' || !IsFolder(child)) {
          continue;
        }
        const std::string declared = PackageXmlName(child);
        index->second.try_emplace(base, child);
        if (!declared.empty()) {
          index->second.try_emplace(declared, child);
        } else if (depth + 1 < kSearchDepth) {
          folders.emplace_back(child, depth + 1);
        }
      }
    }
  }
  const auto it = index->second.find(name);
  return it != index->second.end() ? it->second : "";
}

std::string MeshLocator::FindPackage(const std::string& name) {
  if (const auto it = found_.find(name); it != found_.end()) {
    return it->second;
  }
  std::string folder;
  for (const std::string& root : search_.paths) {
    folder = FindIn(root, name);
    if (!folder.empty()) {
      break;
    }
  }
  if (folder.empty()) {
    std::error_code error;
    fs::path at = fs::absolute(search_.fileFolder.empty() ? "." : search_.fileFolder, error);
    for (; !error && !at.empty(); at = at.parent_path()) {
      const std::string here = at.string();
      if ((BaseName(here) == name || DeclaredName(here) == name) && IsFolder(here)) {
        folder = here;
      } else if (IsFolder(Join(here, name))) {
        folder = Join(here, name);
      }
      if (!folder.empty() || at == at.root_path()) {
        break;
      }
    }
  }
  found_[name] = folder;
  return folder;
}

std::string MeshLocator::MissingPackage(const std::string& uri) {
  std::string name, inside;
  return SplitPackageUri(uri, name, inside) && !name.empty() && FindPackage(name).empty() ? name
                                                                                          : "";
}

std::string MeshLocator::Locate(const std::string& uri, std::string& problem) {
  std::string package;
  return Locate(uri, problem, package);
}

std::string MeshLocator::Locate(const std::string& uri, std::string& problem,
                                std::string& package) {
  std::string path, name, inside;
  package.clear();
  const std::string scheme = SchemeOf(uri);
  if (uri.find('\0') != std::string::npos) {
    problem = "is refused: it holds a NUL character";
    return "";
  }
  if (SplitPackageUri(uri, name, inside)) {
    if (name.empty() || inside.empty()) {
      problem = "names no file inside a package";
      return "";
    }
    if (!StaysInside(inside)) {
      problem = "is refused: it climbs out of its package ('..')";
      return "";
    }
    const std::string folder = FindPackage(name);
    if (folder.empty()) {
      problem = "is not found: package '" + name +
                "' is in no folder of --package-path or ROS_PACKAGE_PATH, nor above the file";
      return "";
    }
    path = Join(folder, inside);
    package = folder;
  } else if (scheme == "file") {
    std::string rest = uri.substr(7);
    if (rest.rfind("localhost/", 0) == 0) {
      rest = rest.substr(9);
    }
    rest = PercentDecoded(rest);
    // %00 would cut the name short: the file opened would not be the file named.
    if (rest.find('\0') != std::string::npos) {
      problem = "is refused: it holds a NUL character (%00)";
      return "";
    }
    path = !rest.empty() && rest[0] == '/' ? rest : Join(search_.fileFolder, rest);
  } else if (!scheme.empty()) {
    problem = "is not read: only package://, model://, file:// and file paths are";
    return "";
  } else if (uri.empty()) {
    problem = "is empty";
    return "";
  } else {
    path = uri[0] == '/' ? uri : Join(search_.fileFolder, uri);
  }
  struct stat s {};
  if (stat(path.c_str(), &s) != 0) {
    problem = "is not found: " + path;
    return "";
  }
  if (!S_ISREG(s.st_mode)) {
    problem = "is not a regular file: " + path;
    return "";
  }
  problem.clear();
  return path;
}
