#include "app/tick_pacer.h"

#include <chrono>
#include <limits>
#include <utility>

TickPacer::~TickPacer() {
  Stop();
}

int64_t TickPacer::Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TickPacer::Start(Ready ready, Request request) {
  Stop();
  {
    const std::lock_guard<std::mutex> lock(guard_);
    ready_ = std::move(ready);
    request_ = std::move(request);
    stopping_ = false;
    clock_.Start(Now());
  }
  thread_ = std::thread([this] { Run(); });
}

void TickPacer::Stop() {
  {
    const std::lock_guard<std::mutex> lock(guard_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void TickPacer::Wake() {
  {
    const std::lock_guard<std::mutex> lock(guard_);
    woken_ = true;
  }
  wake_.notify_all();
}

void TickPacer::Stall(int64_t ns) {
  const std::lock_guard<std::mutex> lock(guard_);
  stallNs_ = ns;
}

void TickPacer::Run() {
  std::unique_lock<std::mutex> lock(guard_);
  const auto stirred = [this] { return stopping_ || woken_; };
  while (!stopping_) {
    woken_ = false;
    // Sleeps until the next period falls due (none while paused), or until woken.
    const int64_t due = clock_.NextDue();
    if (due == std::numeric_limits<int64_t>::max()) {
      wake_.wait(lock, stirred);
      continue;
    }
    if (Now() < due) {
      const std::chrono::steady_clock::time_point at{std::chrono::nanoseconds(due)};
      wake_.wait_until(lock, at, stirred);
      continue;
    }
    if (stallNs_ > 0) {
      const int64_t stall = std::exchange(stallNs_, 0);
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::nanoseconds(stall));
      lock.lock();
      continue;
    }
    // With the guard held throughout, Stop cannot come halfway through.
    clock_.RunBurst(&Now, ready_, [this] {
      request_();
      return true;
    });
  }
}
