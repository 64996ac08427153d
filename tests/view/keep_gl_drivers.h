// Mesa unloads its driver when the X connection closes, before the leak check at exit; the driver's
// one-time allocations would then be blamed on an unknown module that no suppression can name.
// Called once a GL context exists, this keeps the loaded drivers mapped until the process ends.
#pragma once

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>

inline void KeepGlDriversLoaded() {
  std::vector<std::string> drivers;  // opened after the walk, not while the loader is locked
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) -> int {
        if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "_dri.so") != nullptr) {
          static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name);
        }
        return 0;
      },
      &drivers);
  for (const std::string& path : drivers) {
    dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);  // never closed
  }
}
