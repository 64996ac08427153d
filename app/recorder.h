// Recorder: writes every tick to a CSV file in the run format (run_csv.h), the tick column counting
// the ticks since the recording started. Rows are buffered and written out at least once a second
// (the window calls MaybeFlush a few times per second), when the recording stops and when the
// window closes, so that what was recorded survives the program being killed. Only whole rows reach
// the file: a write error cuts the file back to its last complete row, stops the recording and is
// reported once, naming the file and the reason; the simulation goes on. Only regular files are
// recorded to (a FIFO nobody reads would block the window), and a file that could not take its
// header is removed rather than left empty.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

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

  // Starts a recording into path (replacing the file; the path is the file system's bytes) for an
  // arm of n joints, writing the header at once. Returns false, with the message in error, when
  // the file cannot be written.
  bool Start(const std::string& path, uint32_t n, int64_t now, std::string& error);

  // Writes what is buffered and closes the file. False when that failed (the error is reported)
  // or when nothing was being recorded.
  bool Stop();

  bool Recording() const { return file_ >= 0; }
  const std::string& Path() const { return path_; }
  uint64_t Rows() const { return rows_; }

  // Writes the buffered rows out when kFlushIntervalNs have passed since the last time.
  void MaybeFlush(int64_t now);

  // TickListener: appends the tick's row.
  void OnTick(const TickResult& tick) override;

 private:
  // Writes the buffered rows to the file: 0, or the error that stopped the write, after which the
  // file is cut back to what earlier writes completed.
  int Write();
  // Closes the file: 0, or the error of the close.
  int Close();
  // Reports why the recording stopped.
  void Fail(int error);

  int file_ = -1;
  std::string path_;
  off_t written_ = 0;  // the file's length after the last write that completed
  std::string buffer_;
  uint64_t rows_ = 0;
  int64_t lastFlush_ = 0;
  ErrorHandler onError_;
};

// The default name of a recording or screenshot started at the given local time:
// velmoth-YYYYMMDD-HHMMSS followed by the extension (".csv", ".png").
std::string TimestampedName(const std::tm& local, const char* extension);
