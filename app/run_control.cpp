#include "app/run_control.h"

#include <cmath>
#include <cstdio>
#include <iterator>

#include "dynamics/dynamics.h"
#include "robot/robot.h"

namespace {

// A speed as the user reads it: "1", "1/2", ... "1/16".
std::string SpeedOf(int slowdown) {
  return slowdown == 1 ? "1" : "1/" + std::to_string(slowdown);
}

}  // namespace

void RateMeter::Sample(int64_t now, uint64_t count) {
  samples_.emplace_back(now, count);
  // Keep the newest sample that is at least a window old, as the start of the window.
  while (samples_.size() > 2 && now - std::next(samples_.begin())->first >= kWindowNs) {
    samples_.pop_front();
  }
}

double RateMeter::PerSecond() const {
  if (samples_.size() < 2 || samples_.back().first <= samples_.front().first) {
    return 0.0;
  }
  const double seconds = static_cast<double>(samples_.back().first - samples_.front().first) * 1e-9;
  return static_cast<double>(samples_.back().second - samples_.front().second) / seconds;
}

RunControl::RunControl(TickClock& clock, Clock now, std::function<void()> wake, std::mutex* guard)
    : clock_(clock), guard_(guard), now_(std::move(now)), wake_(std::move(wake)) {}

std::unique_lock<std::mutex> RunControl::Lock() const {
  return guard_ != nullptr ? std::unique_lock<std::mutex>(*guard_) : std::unique_lock<std::mutex>();
}

RunState RunControl::State() const {
  if (diverged_) {
    return RunState::kDiverged;
  }
  const auto lock = Lock();
  return clock_.Paused() ? RunState::kPaused : RunState::kRunning;
}

uint64_t RunControl::SlippedTicks() const {
  const auto lock = Lock();
  return clock_.SlippedTicks();
}

void RunControl::TogglePause() {
  if (diverged_) {
    return;
  }
  auto lock = Lock();
  const bool pause = !clock_.Paused();
  if (pause) {
    clock_.Pause(now_());
  } else {
    clock_.Resume(now_());
  }
  lock = {};
  if (pause && onPause_) {
    onPause_();
  }
  wake_();
}

void RunControl::Step() {
  if (diverged_) {
    return;
  }
  auto lock = Lock();
  const bool pause = !clock_.Paused();
  if (pause) {
    clock_.Pause(now_());
    // Settled before the step is asked for, so that the step is the one tick that follows.
    lock = {};
    if (onPause_) {
      onPause_();
    }
    lock = Lock();
  }
  clock_.RequestStep();
  lock = {};
  wake_();
}

void RunControl::Slower() {
  auto lock = Lock();
  for (int slowdown : TickClock::kSlowdowns) {
    if (slowdown > clock_.Slowdown()) {
      clock_.SetSlowdown(slowdown, now_());
      lock = {};
      wake_();
      return;
    }
  }
}

void RunControl::Faster() {
  auto lock = Lock();
  int faster = 0;
  for (int slowdown : TickClock::kSlowdowns) {
    if (slowdown < clock_.Slowdown()) {
      faster = slowdown;
    }
  }
  if (faster != 0) {
    clock_.SetSlowdown(faster, now_());
    lock = {};
    wake_();
  }
}

std::string RunControl::SpeedText() const {
  const auto lock = Lock();
  return SpeedOf(clock_.Slowdown());
}

double RunControl::SimulatedTime() const {
  return static_cast<double>(ticks_) * kTimeStep;
}

double RunControl::DivergedAt() const {
  return static_cast<double>(divergedTick_) * kTimeStep;
}

void RunControl::SampleRates() {
  const int64_t now = now_();
  tickRate_.Sample(now, ticks_);
  frameRate_.Sample(now, frames_);
  const auto lock = Lock();
  deferRate_.Sample(now, clock_.DeferredTicks());
}

double RunControl::RealTimeFactor() const {
  return tickRate_.PerSecond() * kTimeStep;
}

std::string RunControl::StatusText(double realTimeFactor, double framesPerSecond,
                                   bool hasView) const {
  char text[256];
  if (diverged_) {
    std::snprintf(text, sizeof text, "Diverged at t = %.2f s: press Reset", DivergedAt());
    return text;
  }
  const auto lock = Lock();
  const char* state = clock_.Paused() ? "paused" : "running";
  char frames[64] = "no view";
  if (hasView) {
    std::snprintf(frames, sizeof frames, "%.0f frames per second", framesPerSecond);
  }
  // Ticks slower than the speed allows: the run keeps their pace, and the strip says why.
  char pace[96] = "";
  const double cost = static_cast<double>(tickCostNs_) * 1e-6;
  const double allowed = kTimeStep * 1e3 * clock_.Slowdown();
  if (!clock_.Paused() && deferRate_.PerSecond() > 0.0 && cost >= allowed) {
    if (cost < 10'000.0) {
      std::snprintf(pace, sizeof pace, " (each tick takes %.0f ms, not %.0f ms)", cost, allowed);
    } else {
      std::snprintf(pace, sizeof pace, " (each tick takes %.0f s, not %.0f ms)", cost * 1e-3,
                    allowed);
    }
  }
  std::snprintf(text, sizeof text, "t = %.2f s    real time %.2f%s    %s    speed %s    %s",
                SimulatedTime(), realTimeFactor, pace, frames, SpeedOf(clock_.Slowdown()).c_str(),
                state);
  std::string line = text;
  if (clock_.SlippedTicks() > 0) {
    std::snprintf(text, sizeof text, "    slip %.2f s",
                  static_cast<double>(clock_.SlippedTicks()) * kTimeStep);
    line += text;
  }
  return line;
}

void RunControl::OnTick(const TickResult& tick) {
  ++ticks_;
  const bool unphysical = tick.robot.unphysicalTicks > unphysicalTicks_;
  unphysicalTicks_ = tick.robot.unphysicalTicks;
  if (!diverged_ && (!StateIsFinite(tick.robot) || unphysical)) {
    diverged_ = true;
    divergedTick_ = ticks_;
    const auto lock = Lock();
    clock_.Pause(now_());
  }
}

void RunControl::OnResetJointState(const Robot& /*robot*/) {
  if (diverged_) {
    diverged_ = false;
    wake_();
  }
}
