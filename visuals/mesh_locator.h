// Where the mesh files a robot description names are. A description names them as URIs:
// package://NAME/PATH (and Gazebo's model://NAME/PATH) is PATH inside the package folder NAME,
// file:///PATH an absolute path, and a bare path is taken from the description's own folder.
//
// A package folder is looked for, in this order, in each folder given with --package-path and then
// in each of ROS_PACKAGE_PATH: the folder itself when it is the package, else a folder NAME in it,
// else the package found below it (three levels deep at most; a package's own folders are not
// searched, as ROS does not); and last in the description's folder and each folder above it (the
// folder itself when it is the package, else a folder NAME in it). A folder is the package NAME
// when it is called NAME or its package.xml gives NAME as the package's name.
#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

struct PackageSearch {
  std::vector<std::string> paths;  // the folders of --package-path, then those of ROS_PACKAGE_PATH
  std::string fileFolder;          // the description's folder; empty: the working folder
};

// The folders of a ROS_PACKAGE_PATH value, in order: separated by ':', empty entries skipped. Null
// gives none.
std::vector<std::string> RosPackagePath(const char* value);

// A name that holds a NUL character (file:// with %00) is refused, and so is a package:// or
// model:// name whose path climbs out of its package ("..").
//
// Every search folder is looked through once, however many packages are looked for, and every
// package found (or not) is kept, so that ten thousand names of missing packages cost one search.
class MeshLocator {
 public:
  explicit MeshLocator(PackageSearch search);

  // The path of the regular file that uri names. Empty when there is none, with the reason in
  // problem (to follow "mesh 'URI' "). package is set to the folder of the package it is in, for
  // package:// and model:// names (empty for the others).
  std::string Locate(const std::string& uri, std::string& problem);
  std::string Locate(const std::string& uri, std::string& problem, std::string& package);

  // The folder of package name, or empty.
  std::string FindPackage(const std::string& name);

  // The package a package:// or model:// uri names, when it is not found; empty otherwise.
  std::string MissingPackage(const std::string& uri);

 private:
  std::string FindIn(const std::string& root, const std::string& name);
  // The name package.xml gives the folder's package, read once per folder.
  const std::string& DeclaredName(const std::string& folder);

  PackageSearch search_;
  std::map<std::string, std::string> found_;  // package name -> its folder (empty: not found)
  // For each search folder: every package name below it -> the first folder of that name.
  std::map<std::string, std::unordered_map<std::string, std::string>> below_;
  std::unordered_map<std::string, std::string> declared_;  // folder -> its package.xml's name
};
