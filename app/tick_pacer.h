// TickPacer: the simulation's tick timer on a thread of its own. It keeps a TickClock against the
// monotonic wall clock and asks for one tick for every period that falls due, by the clock's rules
// (TickClock::RunBurst), without waiting for the window's thread. A repaint of the view or of the
// plots that holds that thread up then delays only when the ticks are shown, never when they are
// computed, and no simulated time is lost to it. The clock's catch-up limit applies to the pacer
// itself: a pacer that the machine gave no processor for a while makes the periods up in a burst of
// at most TickClock::kMaxBurstTicks, and the rest slips. A simulation that is not ready for more
// ticks has the periods deferred: the run slows down to its pace.
//
// The clock is shared with the window's thread, which pauses, steps and slows it down: every use of
// it holds Guard(), and the pacer holds it for a whole burst, so that no tick of a burst is asked
// for after a pause that interrupted it. Wake() makes the pacer look at the clock again after such
// a change.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "app/tick_clock.h"

class TickPacer {
 public:
  // Whether the simulation takes another tick now, and the request for one. Both are called on the
  // pacer's thread with Guard() held.
  using Ready = std::function<bool()>;
  using Request = std::function<void()>;

  explicit TickPacer(int64_t periodNs) : clock_(periodNs) {}
  // Stops the thread.
  ~TickPacer();

  TickPacer(const TickPacer&) = delete;
  TickPacer& operator=(const TickPacer&) = delete;

  // Starts the clock, running, and the thread that asks for the ticks.
  void Start(Ready ready, Request request);
  // Ends the thread and waits for it: no request follows. The clock stays as it was.
  void Stop();

  // The clock, to be used with Guard() held.
  TickClock& Clock() { return clock_; }
  std::mutex& Guard() { return guard_; }
  // Makes the thread look at the clock again (after a pause, step or change of speed).
  void Wake();

  // The monotonic wall clock the pacer runs on, in nanoseconds.
  static int64_t Now();

  // A test's seam: before its next burst the thread waits this long without the guard, as a thread
  // the machine gives no processor would.
  void Stall(int64_t ns);

 private:
  void Run();

  TickClock clock_;
  std::mutex guard_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool stopping_ = false;
  int64_t stallNs_ = 0;
  Ready ready_;
  Request request_;
  std::thread thread_;
};
