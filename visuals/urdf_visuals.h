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

#include <string>
#include <vector>

#include "visuals/mesh_locator.h"
#include "visuals/visual_model.h"

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
