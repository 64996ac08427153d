// Recorder: writes every tick to a CSV file in the run format (run_csv.h), the tick column counting
// the ticks since the recording started. Rows are buffered and written out at least once a second
// (the window calls MaybeFlush a few times per second), when the recording stops and when the
// window closes, so that what was recorded survives the program being killed. A write error stops
// the recording and is reported once, naming the file and the reason; the simulation goes on.
#pragma once

#include <cstdint>
#include <cstdio>
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

  // Starts a recording into path (replacing the file) for an arm of n joints, writing the header
  // at once. Returns false, with the message in error, when the file cannot be written.
  bool Start(const std::string& path, uint32_t n, int64_t now, std::string& error);

  // Writes what is buffered and closes the file. False when that failed (the error is reported)
  // or when nothing was being recorded.
  bool Stop();

  bool Recording() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  uint64_t Rows() const { return rows_; }

  // Writes the buffered rows out when kFlushIntervalNs have passed since the last time.
  void MaybeFlush(int64_t now);

  // TickListener: appends the tick's row.
  void OnTick(const TickResult& tick) override;

 private:
  // Writes the buffered rows to the file: 0, or the error that stopped the write.
  int Write();
  // Reports why the recording stopped.
  void Fail(int error);

  std::FILE* file_ = nullptr;
  std::string path_;
  std::string buffer_;
  uint64_t rows_ = 0;
  int64_t lastFlush_ = 0;
  ErrorHandler onError_;
};

// The default name of a recording or screenshot started at the given local time:
// velmoth-YYYYMMDD-HHMMSS followed by the extension (".csv", ".png").
std::string TimestampedName(const std::tm& local, const char* extension);
