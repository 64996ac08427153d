// Keeps the OpenGL driver modules loaded now in memory until the process ends. Mesa unloads its
// driver with the last context or the display connection, before the leak check that sanitizer
// builds run at exit; the driver's one-time allocations, still held by its own globals, would then
// be blamed on an unknown module that no suppression can name. With the driver kept, the check sees
// those references and reports only real leaks. Call once a view has drawn, before the application
// object goes; programs call it in sanitizer builds only.
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
      dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);  // never closed
    }
  }
}
