// Recorder: writes every tick to a CSV file in the run format (run_csv.h), the tick column counting
// the ticks since the recording started, and beside it (FILE.replay) the recording's replay: the
// arm, the state it started from and every input as it changed, each at its tick (replay.h), which
// `velmoth-sim run --replay` repeats byte for byte (with a controller's reference as the recording
// finds it running). Rows are buffered and written out at least
// once a second (the window calls MaybeFlush a few times per second), when the recording stops and
// when the window closes, so that what was recorded survives the program being killed. Only whole
// rows and lines reach the files: a write error cuts both back to their last complete write, stops
// the recording and is reported once, naming the file and the reason; the simulation goes on. So
// is a file that was deleted, moved away or replaced while it was being recorded, whose ticks are
// lost. Only regular files are recorded to (a FIFO nobody reads would block the window), and a
// recording that could not take its headers is removed rather than left empty.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "app/velmoth_dlg.h"

class Recorder : public TickListener {
 public:
  static constexpr int64_t kFlushIntervalNs = 1'000'000'000;

  // Told, once, why a recording stopped on its own.
  using ErrorHandler = std::function<void(const std::string& message)>;

  Recorder() = default;
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

  // Starts a recording into path (replacing the file and its replay; the path is the file
  // system's bytes) of the robot as it is, made as `arm` makes it, writing the headers at once.
  // The recording begins with the tick numbered `first` (TickResult::serial; the ticks before it
  // that are still to come move the start along), or with the next tick when first is 0. Returns
  // false, with the message in error, when the files cannot be written.
  bool Start(const std::string& path, const Robot& robot, const ReplayArm& arm, uint64_t first,
             int64_t now, std::string& error);

  // Writes what is buffered and closes the file. False when that failed (the error is reported)
  // or when nothing was being recorded.
  bool Stop();

  bool Recording() const { return csv_.file >= 0; }
  const std::string& Path() const { return csv_.path; }
  uint64_t Rows() const { return rows_; }

  // Writes the buffered rows out when kFlushIntervalNs have passed since the last time.
  void MaybeFlush(int64_t now);

  // TickListener: appends the tick's row, and to the replay what the tick took from the user
  // that the tick before did not; the replay takes a "Reset" too.
  void OnTick(const TickResult& tick) override;
  void OnResetJointState(const Robot& robot) override;

 private:
  // One of the two files: the rows, or the replay.
  struct Output {
    int file = -1;
    std::string path;
    dev_t device = 0;  // what the path named when it was opened
    ino_t inode = 0;
    off_t written = 0;  // the file's length after the last write that completed
    std::string buffer;
  };

  // Writes what is buffered to both files: "", or why the write stopped (naming the file), after
  // which both are cut back to what earlier writes completed.
  std::string Write();
  // "" for the rows' file, "its replay file PATH: " for the other, to lead a reason.
  std::string Named(const Output& out) const;
  // Why a file is lost (deleted, moved away or replaced while recording), or "".
  std::string Lost() const;
  // Closes both files: "", or the error of a close.
  std::string Close();
  // Writes out, checks and closes: "" when the recording is whole, else the reason.
  std::string Finish();
  // Reports why the recording stopped.
  void Fail(const std::string& reason);

  Output csv_, replay_;
  uint64_t first_ = 0;          // the first tick recorded
  bool begun_ = false;          // it came
  std::vector<double> q_, qd_;  // until then, the state it will start from
  TickInputs inputs_;           // as the replay last wrote them
  uint64_t rows_ = 0;
  int64_t lastFlush_ = 0;
  ErrorHandler onError_;
};

// The default name of a recording or screenshot started at the given local time:
// velmoth-YYYYMMDD-HHMMSS followed by the extension (".csv", ".png").
std::string TimestampedName(const std::tm& local, const char* extension);
