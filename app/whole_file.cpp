#include "app/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

int WriteAll(int file, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = write(file, data, size);
    if (count > 0) {
      data += count;
      size -= static_cast<std::size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      return count == 0 ? EIO : errno;
    }
  }
  return 0;
}

int WriteWholeFile(const std::string& path, const std::string& data) {
  std::string name = path + ".XXXXXX";
  std::vector<char> temporary(name.begin(), name.end());
  temporary.push_back('\0');
  const int file = mkostemp(temporary.data(), O_CLOEXEC);
  if (file < 0) {
    return errno;
  }
  // A new file is private to its owner; the picture should be as readable as any other file.
  const mode_t mask = umask(0);
  umask(mask);
  [[maybe_unused]] const int readable = fchmod(file, 0666 & ~mask);
  int failure = WriteAll(file, data.data(), data.size());
  if (close(file) != 0 && failure == 0 && errno != EINTR) {
    failure = errno;
  }
  if (failure == 0 && std::rename(temporary.data(), path.c_str()) != 0) {
    failure = errno;
  }
  if (failure != 0) {
    unlink(temporary.data());
  }
  return failure;
}
