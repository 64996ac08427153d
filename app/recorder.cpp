#include "app/recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <utility>

#include "app/whole_file.h"
#include "simulation/replay.h"
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

bool Recorder::Start(const std::string& path, const Robot& robot, const ReplayArm& arm,
                     uint64_t first, int64_t now, std::string& error) {
  Stop();
  const std::string replayPath = path + ".replay";
  for (Output* out : {&csv_, &replay_}) {
    const std::string& name = out == &csv_ ? path : replayPath;
    std::string reason;
    const int file = OpenForRecording(name, reason);
    if (file < 0) {
      error = "Cannot record to " + name + ": " + reason;
      Close();
      if (out == &replay_) {
        unlink(path.c_str());  // the rows' file was made (or emptied) for nothing
      }
      return false;
    }
    struct stat status {};
    fstat(file, &status);
    *out = Output{file, name, status.st_dev, status.st_ino, 0, {}};
  }
  rows_ = 0;
  lastFlush_ = now;
  first_ = first;
  begun_ = false;
  q_.clear();
  qd_.clear();
  for (const auto& link : robot.links) {
    q_.push_back(link->q);
    qd_.push_back(link->qd);
  }
  csv_.buffer = RunCsvHeader(static_cast<uint32_t>(robot.links.size()));
  replay_.buffer = ReplayHead(path, arm);
  const std::string failure = Write();
  if (!failure.empty()) {
    Close();
    // A recording without its headers is no recording: the files go.
    unlink(path.c_str());
    unlink(replayPath.c_str());
    error = "Cannot record to " + path + ": " + failure;
    return false;
  }
  return true;
}

bool Recorder::Stop() {
  if (csv_.file < 0) {
    return false;
  }
  replay_.buffer += ReplayEnd(rows_);
  const std::string failure = Finish();
  if (!failure.empty()) {
    Fail(failure);
  }
  return failure.empty();
}

void Recorder::MaybeFlush(int64_t now) {
  if (csv_.file >= 0 && now - lastFlush_ >= kFlushIntervalNs) {
    lastFlush_ = now;
    std::string failure = Lost();
    failure = failure.empty() ? Write() : failure;
    if (!failure.empty()) {
      Close();
      Fail(failure);
    }
  }
}

void Recorder::OnTick(const TickResult& tick) {
  if (csv_.file < 0) {
    return;
  }
  if (!begun_ && tick.serial != 0 && tick.serial < first_) {
    // A tick requested before the recording: the recording starts from where it leaves the arm.
    for (std::size_t i = 0; i < q_.size(); ++i) {
      q_[i] = tick.robot.links[i]->q;
      qd_[i] = tick.robot.links[i]->qd;
    }
    return;
  }
  if (!begun_) {
    begun_ = true;
    replay_.buffer += ReplayLine(0, "q", q_) + ReplayLine(0, "qd", qd_);
    if (tick.inputs != nullptr) {
      replay_.buffer += ReplayChanges(0, nullptr, *tick.inputs);
    }
    // A reference that runs already goes on from where it is.
    if (tick.referenceStart != nullptr) {
      replay_.buffer += ReplayReference(0, *tick.referenceStart);
    }
  } else if (tick.inputs != nullptr) {
    replay_.buffer += ReplayChanges(rows_, &inputs_, *tick.inputs);
  }
  if (tick.inputs != nullptr) {
    inputs_ = *tick.inputs;
  }
  if (tick.setQ != nullptr) {
    replay_.buffer += ReplayLine(rows_, "q", *tick.setQ);
  }
  ++rows_;
  AppendRunCsvRow(csv_.buffer, rows_, tick.robot, tick.torque);
}

void Recorder::OnResetJointState(const Robot& robot) {
  if (csv_.file < 0) {
    return;
  }
  // Where the Reset put the joints: at zero, or at the nearest limit where zero is outside them.
  std::vector<double> q(q_.size());
  bool atZero = true;
  for (std::size_t i = 0; i < q.size(); ++i) {
    q[i] = robot.links[i]->q;
    atZero = atZero && q[i] == 0.0;
  }
  if (begun_) {
    replay_.buffer += ReplayReset(rows_);
    if (!atZero) {
      replay_.buffer += ReplayLine(rows_, "q", q);
    }
  } else {
    // The recording starts from rest: the ticks requested before it are dropped.
    q_ = q;
    std::fill(qd_.begin(), qd_.end(), 0.0);
  }
}

std::string Recorder::Named(const Output& out) const {
  return &out == &csv_ ? std::string() : "its replay file " + out.path + ": ";
}

std::string Recorder::Write() {
  std::string failure;
  for (Output* out : {&csv_, &replay_}) {
    const int error =
        failure.empty() ? WriteAll(out->file, out->buffer.data(), out->buffer.size()) : 0;
    if (error != 0) {
      failure = Named(*out) + std::strerror(error);
    } else if (failure.empty()) {
      out->written += static_cast<off_t>(out->buffer.size());
    }
  }
  if (!failure.empty()) {
    // The buffers hold whole rows and lines: cutting back to the last complete writes leaves
    // whole rows, and a replay that ends where they do.
    for (Output* out : {&csv_, &replay_}) {
      [[maybe_unused]] const int cut = ftruncate(out->file, out->written);
    }
  }
  csv_.buffer.clear();
  replay_.buffer.clear();
  return failure;
}

std::string Recorder::Lost() const {
  for (const Output* out : {&csv_, &replay_}) {
    struct stat open {};
    struct stat named {};
    const bool deleted = fstat(out->file, &open) == 0 && open.st_nlink == 0;
    const bool gone = stat(out->path.c_str(), &named) != 0;
    const bool replaced = !gone && (named.st_dev != out->device || named.st_ino != out->inode);
    if (deleted || gone || replaced) {
      const std::string what = std::string(replaced  ? "replaced"
                                           : deleted ? "deleted"
                                                     : "moved away") +
                               " while it was being recorded";
      return out == &csv_
                 ? "the file was " + what + "; its " + std::to_string(rows_) + " ticks are lost"
                 : "its replay file " + out->path + " was " + what;
    }
  }
  return "";
}

std::string Recorder::Close() {
  std::string failure;
  for (Output* out : {&csv_, &replay_}) {
    if (out->file >= 0 && close(std::exchange(out->file, -1)) != 0 && errno != EINTR &&
        failure.empty()) {
      failure = Named(*out) + std::strerror(errno);
    }
  }
  return failure;
}

std::string Recorder::Finish() {
  std::string failure = Lost();
  failure = failure.empty() ? Write() : failure;
  const std::string closing = Close();
  return failure.empty() ? closing : failure;
}

void Recorder::Fail(const std::string& reason) {
  if (onError_) {
    onError_("Recording to " + csv_.path + " stopped: " + reason + ".");
  }
}

std::string TimestampedName(const std::tm& local, const char* extension) {
  char name[64];
  std::strftime(name, sizeof name, "velmoth-%Y%m%d-%H%M%S", &local);
  return std::string(name) + extension;
}
