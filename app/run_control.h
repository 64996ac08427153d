// RunControl: pause, single step, slow motion and divergence for the running simulation, and the
// text of the status strip that reports them. It acts on the tick timer's clock and follows every
// tick of the dialog; it knows no toolkit, so its rules run in tests without a display.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "app/tick_clock.h"
#include "app/velmoth_dlg.h"

struct Robot;

enum class RunState { kRunning, kPaused, kDiverged };

// Events per second of simulated or wall time over a sliding window: fed with a running count at
// a few instants per second, it answers the rate over about the last second.
class RateMeter {
 public:
  static constexpr int64_t kWindowNs = 1'000'000'000;

  // The running count at now.
  void Sample(int64_t now, uint64_t count);

  // The count's growth per second over the last window; 0 until two samples lie apart.
  double PerSecond() const;

 private:
  std::deque<std::pair<int64_t, uint64_t>> samples_;
};

class RunControl : public TickListener {
 public:
  using Clock = std::function<int64_t()>;

  // clock is the tick timer's; now reads the monotonic wall clock it runs on, and wake asks the
  // timer to look at the clock again (after a resume, step or change of speed). A clock that
  // another thread uses too is used only with guard held (see TickPacer); wake is called without.
  RunControl(TickClock& clock, Clock now, std::function<void()> wake, std::mutex* guard = nullptr);

  RunState State() const;

  // Running becomes paused and paused running; a diverged run stays paused until "Reset".
  void TogglePause();
  // Pauses if running, then delivers exactly one tick.
  void Step();
  // Halves or doubles the speed, between 1/16 and 1.
  void Slower();
  void Faster();

  // The speed as the user reads it: "1", "1/2", ... "1/16".
  std::string SpeedText() const;

  // Simulated seconds since the dialog started: the ticks run so far, each one step long.
  double SimulatedTime() const;
  uint64_t Ticks() const { return ticks_; }
  // Ticks the clock dropped as slip since it started.
  uint64_t SlippedTicks() const;
  // The simulated time of the tick that left the state not finite, or made energy without work;
  // meaningful when diverged.
  double DivergedAt() const;

  // Called after the user's pause (F5, or F6 while running) stopped the clock.
  void SetPauseHandler(std::function<void()> handler) { onPause_ = std::move(handler); }

  // What a tick costs in wall time now, for the strip's account of a run that the simulation
  // cannot keep at its speed.
  void SetTickCost(int64_t ns) { tickCostNs_ = ns; }

  // A frame of the view was shown.
  void CountFrame() { ++frames_; }
  uint64_t Frames() const { return frames_; }
  // Takes the tick and frame counts at the wall clock's now; called a few times per second, it
  // makes the two rates below those of about the last second.
  void SampleRates();
  // Simulated seconds per wall-clock second: the ticks' rate times the step, so 1 at full speed and
  // 1/4 at a quarter, however many frames the view shows.
  double RealTimeFactor() const;
  double FramesPerSecond() const { return frameRate_.PerSecond(); }

  // One line for the status strip: simulated time, measured real-time factor and frame rate, the
  // speed, the state and, once ticks have been dropped, the slip. When the ticks took longer than
  // the speed allows within about the last second, the real-time factor says so and by how much.
  std::string StatusText(double realTimeFactor, double framesPerSecond, bool hasView) const;

  // TickListener: counts the tick and pauses the clock when it left the state not finite.
  void OnTick(const TickResult& tick) override;
  // "Reset" clears the diverged mark; the run stays paused until the user resumes it.
  void OnResetJointState(const Robot& robot) override;

 private:
  // The clock's guard, held while the clock is used: an empty lock when there is none.
  std::unique_lock<std::mutex> Lock() const;

  TickClock& clock_;
  std::mutex* guard_;
  Clock now_;
  std::function<void()> wake_;
  uint64_t ticks_ = 0;
  uint64_t frames_ = 0;
  RateMeter tickRate_;
  RateMeter frameRate_;
  RateMeter deferRate_;  // periods the clock deferred because the simulation was busy
  std::function<void()> onPause_;
  int64_t tickCostNs_ = 0;
  bool diverged_ = false;
  uint64_t divergedTick_ = 0;
  // The arm's count of ticks that made energy without work, as the last tick left it: one more is
  // a divergence too.
  uint64_t unphysicalTicks_ = 0;
};
