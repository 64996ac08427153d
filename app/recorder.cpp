#include "app/recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <utility>

#include "app/whole_file.h"
#include "simulation/run_csv.h"

Recorder::~Recorder() {
  Stop();
}

namespace {

// Opens path for writing from its start, creating it: the descriptor, or -1 with the reason.
// Anything but a regular file is refused before it is opened, and opening does not wait.
int OpenForRecording(const std::string& path, std::string& reason) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    reason = "not a regular file";
    return -1;
  }
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (file < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  // Whatever took the name between the check and the open is refused all the same.
  if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(file);
    reason = "not a regular file";
    return -1;
  }
  fcntl(file, F_SETFL, fcntl(file, F_GETFL) & ~O_NONBLOCK);
  return file;
}

}  // namespace

bool Recorder::Start(const std::string& path, uint32_t n, int64_t now, std::string& error) {
  Stop();
  std::string reason;
  const int file = OpenForRecording(path, reason);
  if (file < 0) {
    error = "Cannot record to " + path + ": " + reason;
    return false;
  }
  file_ = file;
  path_ = path;
  rows_ = 0;
  written_ = 0;
  lastFlush_ = now;
  buffer_ = RunCsvHeader(n);
  const int failure = Write();
  if (failure != 0) {
    Close();
    // A recording without its header is no recording: the file goes.
    unlink(path.c_str());
    error = "Cannot record to " + path + ": " + std::strerror(failure);
    return false;
  }
  return true;
}

bool Recorder::Stop() {
  if (file_ < 0) {
    return false;
  }
  int failure = Write();
  const int closing = Close();
  failure = failure != 0 ? failure : closing;
  if (failure != 0) {
    Fail(failure);
  }
  return failure == 0;
}

void Recorder::MaybeFlush(int64_t now) {
  if (file_ >= 0 && now - lastFlush_ >= kFlushIntervalNs) {
    lastFlush_ = now;
    if (const int failure = Write()) {
      Close();
      Fail(failure);
    }
  }
}

void Recorder::OnTick(const TickResult& tick) {
  if (file_ < 0) {
    return;
  }
  ++rows_;
  AppendRunCsvRow(buffer_, rows_, tick.robot, tick.torque);
}

int Recorder::Write() {
  const int failure = WriteAll(file_, buffer_.data(), buffer_.size());
  if (failure == 0) {
    written_ += static_cast<off_t>(buffer_.size());
  } else {
    // The buffer holds whole rows: cutting back to the last complete write leaves whole rows.
    [[maybe_unused]] const int cut = ftruncate(file_, written_);
  }
  buffer_.clear();
  return failure;
}

int Recorder::Close() {
  const int failure = close(std::exchange(file_, -1)) == 0 ? 0 : errno;
  return failure == EINTR ? 0 : failure;
}

void Recorder::Fail(int error) {
  if (onError_) {
    onError_("Recording to " + path_ + " stopped: " + std::strerror(error) + ".");
  }
}

std::string TimestampedName(const std::tm& local, const char* extension) {
  char name[64];
  std::strftime(name, sizeof name, "velmoth-%Y%m%d-%H%M%S", &local);
  return std::string(name) + extension;
}
