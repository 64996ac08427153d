// Keeps the OpenGL driver modules loaded now in memory until the process ends: Mesa unloads them
// with the last context, and the leak check at exit would then report their one-time allocations
// from an unknown module that no suppression can name. Call once a view has been shown, before the
// application object goes.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

inline void PinLoadedGlDrivers() {
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> pinned;
  for (std::string line; std::getline(maps, line);) {
    const std::string path = line.substr(std::min(line.find('/'), line.size()));
    const bool driver =
        path.find("_dri.so") != std::string::npos || path.find("libgallium") != std::string::npos;
    if (driver && pinned.insert(path).second) {
      dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
  }
}
