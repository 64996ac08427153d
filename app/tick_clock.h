// TickClock: the simulation clock that paces the tick timer against a monotonic wall clock.
//
// Each tick advances the arm by one fixed step of simulated time. The clock says, on every timer
// event, how many whole periods have fallen due since the last tick delivered, so that ticks late
// because painting or other programs held the event loop are made up, back to back, and the arm
// moves at the speed of its physics. A stall must not turn into a burst that freezes the window, so
// a burst delivers at most kMaxBurstTicks ticks and starts no new one once kBurstBudgetNs of wall
// time have gone into it; periods beyond that are dropped and counted as slip, the one way in
// which simulated time falls behind.
//
// The simulation may not be ready for the ticks due (its thread is still busy with earlier ones):
// they are then deferred, neither owed nor slipped, and the run slows down to the pace the
// simulation keeps; the clock looks again a period later.
//
// Slow motion divides the pace: at slowdown d a period falls due every d x period of wall time
// (each tick is still one full step). While paused no period falls due; a step request delivers
// exactly one tick on the next event. Times are nanoseconds of a monotonic clock, given by the
// caller, so that the rule can be driven by a test's clock.
#pragma once

#include <cstdint>
#include <functional>

class TickClock {
 public:
  static constexpr int kMaxBurstTicks = 10;
  static constexpr int64_t kBurstBudgetNs = 40'000'000;

  // The slowdowns the run control offers: 1 (real time), 2, 4, 8 and 16.
  static constexpr int kSlowdowns[] = {1, 2, 4, 8, 16};

  explicit TickClock(int64_t periodNs) : periodNs_(periodNs) {}

  // Starts counting periods at now, running, with nothing due yet.
  void Start(int64_t now);

  // A burst for a timer event at now: the number of ticks to deliver, at most kMaxBurstTicks;
  // periods due beyond that are counted as slipped and are no longer owed. Call Delivered after
  // each tick and EndBurst when the burst is over.
  int BeginBurst(int64_t now);

  // Whether another tick of the burst that began at burstStart may start at now: false once the
  // burst has used its wall-time budget.
  static bool WithinBudget(int64_t burstStart, int64_t now) {
    return now - burstStart < kBurstBudgetNs;
  }

  // One tick of the current burst was delivered.
  void Delivered();

  // The simulation could not take the ticks due at now: while running they are forgiven and
  // counted as deferred, and the next one falls due a period from now; a step stays pending and
  // is tried again a period from now.
  void Defer(int64_t now);
  // Periods deferred since Start.
  uint64_t DeferredTicks() const { return deferred_; }

  // Ends the burst: ticks it announced but did not deliver are counted as slipped.
  void EndBurst();

  // One timer event's burst, from BeginBurst to EndBurst, at now(): unless ready() (the simulation
  // takes more ticks), the periods due are deferred. Otherwise deliver() is called for each tick
  // due, back to back: the first always, further ones only while the clock runs (a tick may pause
  // it), the burst is within its budget and the simulation is still ready. deliver returns false,
  // having delivered nothing, when no tick may follow (the dialog ended).
  void RunBurst(const std::function<int64_t()>& now, const std::function<bool()>& ready,
                const std::function<bool()>& deliver);

  void Pause(int64_t now);
  void Resume(int64_t now);
  bool Paused() const { return paused_; }

  // While paused: one more tick to deliver, one per event, however soon the next request comes
  // (F6 pressed twice is two ticks), up to kMaxPendingSteps waiting. Ignored while running.
  void RequestStep();
  bool StepPending() const { return stepsPending_ > 0; }
  int StepsPending() const { return stepsPending_; }

  // Steps asked for beyond these, while the ones before wait for slow ticks, are not kept: a key
  // held down does not leave a run behind it once released.
  static constexpr int kMaxPendingSteps = kMaxBurstTicks;

  // Sets the slowdown (1 = real time); the pace changes from now on, without owing or dropping
  // ticks for the time before.
  void SetSlowdown(int slowdown, int64_t now);
  int Slowdown() const { return slowdown_; }

  // When the next tick falls due; a paused clock with no step pending has none (INT64_MAX).
  int64_t NextDue() const;

  // Ticks delivered and ticks slipped since Start.
  uint64_t DeliveredTicks() const { return delivered_; }
  uint64_t SlippedTicks() const { return slipped_; }

 private:
  // Starts counting periods afresh at now.
  void Anchor(int64_t now);

  int64_t periodNs_;
  int64_t anchor_ = 0;     // wall time from which periods are counted
  uint64_t consumed_ = 0;  // periods since the anchor that were delivered or slipped
  int slowdown_ = 1;
  bool paused_ = false;
  int stepsPending_ = 0;  // steps asked for while paused, not delivered yet
  int announced_ = 0;     // ticks of the current burst not delivered yet
  uint64_t delivered_ = 0;
  uint64_t slipped_ = 0;
  uint64_t deferred_ = 0;
  int64_t retryAt_ = 0;  // no tick falls due before this wall time
};
