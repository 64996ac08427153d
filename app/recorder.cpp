#include "app/recorder.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "simulation/run_csv.h"

Recorder::~Recorder() {
  Stop();
}

bool Recorder::Start(const std::string& path, uint32_t n, int64_t now, std::string& error) {
  Stop();
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    error = "Cannot record to " + path + ": " + std::strerror(errno);
    return false;
  }
  file_ = file;
  path_ = path;
  rows_ = 0;
  lastFlush_ = now;
  buffer_ = RunCsvHeader(n);
  const int failure = Write();
  if (failure != 0) {
    std::fclose(std::exchange(file_, nullptr));
    error = "Cannot record to " + path + ": " + std::strerror(failure);
    return false;
  }
  return true;
}

bool Recorder::Stop() {
  if (file_ == nullptr) {
    return false;
  }
  int failure = Write();
  if (std::fclose(std::exchange(file_, nullptr)) != 0 && failure == 0) {
    failure = errno;
  }
  if (failure != 0) {
    Fail(failure);
  }
  return failure == 0;
}

void Recorder::MaybeFlush(int64_t now) {
  if (file_ != nullptr && now - lastFlush_ >= kFlushIntervalNs) {
    lastFlush_ = now;
    if (const int failure = Write()) {
      std::fclose(std::exchange(file_, nullptr));
      Fail(failure);
    }
  }
}

void Recorder::OnTick(const TickResult& tick) {
  if (file_ == nullptr) {
    return;
  }
  ++rows_;
  AppendRunCsvRow(buffer_, rows_, tick.robot, tick.torque);
}

int Recorder::Write() {
  errno = 0;
  const bool written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size() &&
                       std::fflush(file_) == 0;
  buffer_.clear();
  return written ? 0 : (errno != 0 ? errno : EIO);
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
