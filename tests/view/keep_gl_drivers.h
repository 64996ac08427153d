// Keeps the OpenGL drivers loaded at the time of the call in memory until the process ends.
//
// Mesa unloads its driver when the X connection closes, which happens before the leak check at
// exit. The driver's one-time allocations are then reported as leaks of an unknown module that no
// suppression can name. Kept loaded, they are attributed to the driver and suppressed by
// tests/lsan_suppressions.txt. Call it once a GL context has been made.
#pragma once

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>

inline void KeepGlDriversLoaded() {
  std::vector<std::string> drivers;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) -> int {
        const char* name = info->dlpi_name;
        if (name != nullptr && std::strstr(name, "_dri.so") != nullptr) {
          static_cast<std::vector<std::string>*>(data)->emplace_back(name);
        }
        return 0;
      },
      &drivers);
  for (const std::string& path : drivers) {
    // Never closed: RTLD_NODELETE keeps the driver mapped after its last dlclose.
    dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}
