#include "app/tick_clock.h"

#include <algorithm>
#include <limits>

void TickClock::Start(int64_t now) {
  paused_ = false;
  stepsPending_ = 0;
  announced_ = 0;
  delivered_ = 0;
  slipped_ = 0;
  deferred_ = 0;
  retryAt_ = 0;
  Anchor(now);
}

void TickClock::Anchor(int64_t now) {
  anchor_ = now;
  consumed_ = 0;
}

int TickClock::BeginBurst(int64_t now) {
  announced_ = 0;
  if (paused_) {
    announced_ = stepsPending_ > 0 ? 1 : 0;
    stepsPending_ -= announced_;
    return announced_;
  }
  const int64_t pace = periodNs_ * slowdown_;
  const auto elapsed = static_cast<uint64_t>(now > anchor_ ? (now - anchor_) / pace : 0);
  const uint64_t due = elapsed > consumed_ ? elapsed - consumed_ : 0;
  if (due > static_cast<uint64_t>(kMaxBurstTicks)) {
    slipped_ += due - kMaxBurstTicks;
    consumed_ += due - kMaxBurstTicks;
    announced_ = kMaxBurstTicks;
  } else {
    announced_ = static_cast<int>(due);
  }
  return announced_;
}

void TickClock::Delivered() {
  if (announced_ > 0) {
    --announced_;
    ++consumed_;
  }
  ++delivered_;
}

void TickClock::Defer(int64_t now) {
  retryAt_ = now + periodNs_;
  if (paused_) {
    return;
  }
  const int64_t pace = periodNs_ * slowdown_;
  const auto elapsed = static_cast<uint64_t>(now > anchor_ ? (now - anchor_) / pace : 0);
  deferred_ += elapsed > consumed_ ? elapsed - consumed_ : 0;
  Anchor(now);
}

void TickClock::EndBurst() {
  if (!paused_) {
    slipped_ += static_cast<uint64_t>(announced_);
    consumed_ += static_cast<uint64_t>(announced_);
  }
  announced_ = 0;
}

void TickClock::RunBurst(const std::function<int64_t()>& now, const std::function<bool()>& ready,
                         const std::function<bool()>& deliver) {
  const int64_t start = now();
  if (!ready()) {
    Defer(start);
    return;
  }
  const int due = BeginBurst(start);
  for (int i = 0; i < due; ++i) {
    if (i > 0 && (Paused() || !WithinBudget(start, now()) || !ready())) {
      break;
    }
    if (!deliver()) {
      break;
    }
    Delivered();
  }
  EndBurst();
}

void TickClock::Pause(int64_t /*now*/) {
  paused_ = true;
  stepsPending_ = 0;
}

void TickClock::Resume(int64_t now) {
  if (!paused_) {
    return;
  }
  paused_ = false;
  stepsPending_ = 0;
  Anchor(now);
}

void TickClock::RequestStep() {
  if (paused_ && stepsPending_ < kMaxPendingSteps) {
    ++stepsPending_;
  }
}

void TickClock::SetSlowdown(int slowdown, int64_t now) {
  slowdown_ = slowdown > 0 ? slowdown : 1;
  Anchor(now);
}

int64_t TickClock::NextDue() const {
  if (paused_) {
    return stepsPending_ > 0 ? retryAt_ : std::numeric_limits<int64_t>::max();
  }
  const int64_t pace = periodNs_ * slowdown_;
  return std::max(retryAt_, anchor_ + static_cast<int64_t>(consumed_ + 1) * pace);
}
