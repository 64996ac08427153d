// Keeps the OpenGL driver modules that are loaded now in memory until the process ends. Mesa's
// drivers are unloaded when the last context goes; the leak check at exit then no longer sees the
// driver's own references to its one-time allocations and reports them from an unknown module,
// where no suppression can name them. Call once a view has been shown, before the application
// object goes.
#pragma once

#include <dlfcn.h>

#include <fstream>
#include <set>
#include <string>

inline void PinLoadedGlDrivers() {
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> pinned;
  std::string line;
  while (std::getline(maps, line)) {
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos) {
      continue;
    }
    const std::string path = line.substr(slash);
    const bool driver =
        path.find("_dri.so") != std::string::npos || path.find("libgallium") != std::string::npos;
    if (driver && pinned.insert(path).second) {
      dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
  }
}
