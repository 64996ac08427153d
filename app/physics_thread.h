// PhysicsThread: the window's ticks, computed on a thread of their own so that no tick, however
// costly, holds up drawing, input or signals. It owns a copy of the arm that shares nothing with
// the window's (the matrix library's reference counts are not atomic) and the Stepper that
// advances it. The window hands it requests in order: ticks, each with its mode and the user's
// vectors as they were when it fell due, and the commands that change the arm (friction and
// gravity, its limits, friction source and efforts, the step, Reset). They are carried out in that
// order, always between two ticks; the ticks' results come back whole and in order, so that the
// window shows, plots and records one whole tick after another. The controller is the thread's
// too: its settings change by request between ticks (SetController), a Reset starts its reference
// afresh, and a new Stepper (RestartStep) takes it over with its reference as it is.
//
// The ticks of a run are asked for by the TickPacer as they fall due, each with the standing
// request: the mode and the vectors as the user last set them (SetStanding). Ticks computed wait
// for the window to take them; the window is told (done) when the first of them is there, so that
// one message shows them all, however late the window's thread comes to it.
//
// Ticks that have not started can be dropped (a pause); a tick in progress then finishes in the
// background. A Reset, or a pose set from outside the ticks (SetPose), makes the ticks before it
// moot: the one in progress is given up between two
// substeps (leaving the arm as it was), and no tick requested before the Reset is handed back.
//
// Made without a thread, every request is carried out at once in the caller's thread (the panel's
// tests without a display run so).
#pragma once

#include <time.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "control/controller.h"
#include "matrix/matrix.h"
#include "robot/robot.h"
#include "simulation/external_forces.h"
#include "simulation/replay.h"
#include "simulation/step_options.h"

class Stepper;

// What a tick leaves in the arm: every joint's position, velocity and acceleration, the two
// energies, the energy balance and the counts of ticks that reached their cap, that made energy
// without work and that found the balance off.
struct ArmState {
  std::vector<double> q, qd, qdd;
  double kinetic = 0.0;
  double potential = 0.0;
  double work = 0.0;
  double dissipated = 0.0;
  double startEnergy = 0.0;
  uint64_t cappedTicks = 0;
  uint64_t unphysicalTicks = 0;
  uint64_t offBalanceTicks = 0;

  static ArmState Of(const Robot& robot);
  void ApplyTo(Robot& robot) const;
};

// An n x 1 column of the values, and the values of an n x 1 column: the vectors cross between the
// threads as plain values (the matrix library's reference counts are not atomic).
matrix<double> ColumnOf(const std::vector<double>& values);
std::vector<double> ValuesOf(const matrix<double>& column);

// One tick to compute: kIdForward steps with the user's torques, kIdInverse with the user's
// accelerations, and 0 (neither mode chosen) leaves the arm as it is.
struct TickRequest {
  int mode = 0;
  std::vector<double> accel;
  std::vector<double> torque;
  // The forces held on the arm and the mouse's pull for the tick (external_forces.h).
  ArmForces forces{};
  uint64_t serial = 0;  // the thread's number for it (from 1, in the order asked), handed back
};

// One tick computed: the arm after it and the tick's two vectors (see TickResult).
struct TickDone {
  int mode = 0;
  ArmState state;
  std::vector<double> accel;
  std::vector<double> torque;  // forward: the torques applied (saturated at the efforts)
  int64_t costNs = 0;          // the wall time it took
  uint64_t serial = 0;         // the request's
  // What the tick took: the request's mode and vectors, the arm's friction, gravity and physics
  // and the step's options as they were when it was computed.
  TickInputs inputs;
  std::vector<uint8_t> saturated;  // forward: which torques were saturated
  // Where the joints were put between the tick before and this one (the limits switched on while
  // a joint was past one puts it at that limit); empty: nowhere.
  std::vector<double> setQ;
  // The controller's reference as the tick began it: where it started and the ticks it had run
  // (none while it waited for this tick to start it), what a recording that starts here keeps.
  std::optional<ReferenceStart> referenceStart;
  // The reference and the error at the tick's end (Controller::Tracking): the joints' q* and
  // q* - q, or a task's x* and x* - x; empty without a reference.
  std::vector<double> reference, error;
};

class PhysicsThread {
 public:
  // Work queued ahead of the tick in progress is kept below this many ticks and this much
  // estimated wall time, so that the user's commands reach the arm soon.
  static constexpr std::size_t kMaxQueuedTicks = 20;
  static constexpr int64_t kQueueBudgetNs = 40'000'000;
  // Ticks computed and not taken are kept below this many (2 s of ticks): a window whose thread
  // does not come to them for that long slows the run down rather than piling them up.
  static constexpr std::size_t kMaxUntakenTicks = 200;

  // Copies arm and steps the copy with step. threaded: on a thread of its own, which calls done
  // (on that thread) when a tick is handed back while none was waiting to be taken; otherwise
  // everything runs in the caller's thread and done is never called.
  PhysicsThread(const Robot& arm, const StepOptions& step, bool threaded,
                std::function<void()> done);
  // Gives the tick in progress up, drops the rest and joins the thread.
  ~PhysicsThread();

  PhysicsThread(const PhysicsThread&) = delete;
  PhysicsThread& operator=(const PhysicsThread&) = delete;

  // Requests a tick; the thread numbers it.
  void Submit(TickRequest tick);
  // The number the next tick requested will bear: every request made before this call (a command,
  // a new standing request) is carried by that tick and those after it.
  uint64_t NextSerial() const;
  // The request that SubmitStanding copies, from the next one on; and a tick with it.
  void SetStanding(TickRequest tick);
  void SubmitStanding();
  // From the next tick on: "Set"'s friction and gravity, and the step.
  void SetParameters(double viscous, double coulomb, const std::array<double, 3>& gravity);
  void SetOptions(const StepOptions& step);
  // From the next tick on: the arm's limits (switched on, a joint outside them is put at the
  // nearest), which friction its joints take, and whether its torques saturate at the efforts.
  void SetPhysics(bool limits, FrictionSource friction, bool effortLimits);
  // From the next tick on, the controller's settings (control_settings.h); its reference starts
  // afresh where they call for it.
  void SetController(const ControllerSettings& settings);
  // From the next tick on, a new Stepper of the same options: nothing carried from earlier ticks.
  // Returns the number the next tick requested will bear.
  uint64_t RestartStep();
  // Every joint at zero (or at the nearest limit where zero is outside), at rest, from the next
  // tick on; the ticks requested before are moot.
  void Reset();
  // The same with the joints at q (n values; one outside its limits at the nearest) instead of at
  // zero: the teach panel's pose.
  void SetPose(std::vector<double> q);
  // Drops the ticks requested that have not started.
  void DropPending();
  // Waits until no tick is in progress or queued, at most timeoutNs; true when none is.
  bool WaitIdle(int64_t timeoutNs);

  // The oldest tick computed and not taken yet, in order.
  std::optional<TickDone> Take();
  // Ticks requested and not taken yet (queued, in progress, or computed).
  std::size_t Outstanding() const;
  // Ticks computed and not taken yet.
  std::size_t Done() const;
  // Whether another tick may be requested now without giving the thread too much work.
  bool CanQueue() const;
  // The wall time a tick takes: the last one's, or the one in progress's so far when longer.
  int64_t CostNs() const;
  // The same in the thread's processor time, which does not grow while other programs have the
  // processor: what the thread's work is judged by (a held tick counts as computing).
  int64_t WorkNs() const;

  // A test's seam: while held, a tick that starts waits before its first substep (as a tick of
  // unbounded cost would) until released or given up.
  void Hold(bool hold);
  // Whether a tick is waiting on the hold now (a tick's cost alone cannot tell: the last one's
  // stays until the next ends).
  bool Holding() const;

 private:
  struct Job {
    enum Kind {
      kTick,
      kParameters,
      kOptions,
      kPhysics,
      kRestart,
      kReset,
      kController
    } kind = kTick;
    TickRequest tick;
    // A tick of the standing request, taken under the same lock that numbers it, so that a tick
    // numbered after a new standing request carries it.
    bool standing = false;
    double viscous = 0.0, coulomb = 0.0;
    std::array<double, 3> gravity{};
    StepOptions step;
    bool limits = true, effortLimits = false;
    FrictionSource friction = FrictionSource::kFile;
    ControllerSettings controller;
    std::vector<double> pose;  // kReset: where the joints go, empty: zero
  };

  // Queues the job, numbering a tick; returns the number the next tick will bear.
  uint64_t Enqueue(Job job);
  void Run();
  // Carries out a job; true when it handed back a tick.
  bool Carry(const Job& job, std::unique_lock<std::mutex>& lock);
  // The tick, or nothing when it was given up.
  std::optional<TickDone> ComputeTick(const TickRequest& request);
  bool GiveUp();
  std::size_t QueuedTicks() const;
  // Drops the ticks queued; with the lock held.
  void DropTicks();

  std::unique_ptr<Robot> robot_;  // the thread's own arm
  std::unique_ptr<Stepper> stepper_;
  std::shared_ptr<Controller> controller_;
  std::unique_ptr<ForceSource> forces_;  // the request's forces, on the stepper while they act
  std::function<void()> done_;
  bool threaded_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // work for the thread, or a release of the hold
  std::condition_variable idle_;  // a tick ended
  std::deque<Job> queue_;
  std::deque<TickDone> results_;
  TickRequest standing_;
  std::vector<double> setQ_;  // where the joints were put since the last tick handed back
  uint64_t lastSerial_ = 0;   // the number of the last tick requested
  int64_t lastCostNs_ = 0;
  int64_t lastWorkNs_ = 0;
  int64_t tickStartNs_ = 0;                       // when the tick in progress started, 0 for none
  int64_t tickStartCpuNs_ = 0;                    // the thread's processor time then
  int64_t heldNs_ = 0;                            // how long the tick in progress was held
  int64_t heldSinceNs_ = 0;                       // since when it is held, 0 while it is not
  clockid_t cpuClock_ = CLOCK_THREAD_CPUTIME_ID;  // the thread's processor-time clock
  bool held_ = false;
  bool stopping_ = false;
  // Grows with every Reset; the thread reads it between substeps without the lock.
  std::atomic<uint64_t> epoch_{0};
  std::atomic<bool> giveUpAll_{false};
  uint64_t tickEpoch_ = 0;  // the thread's: the epoch of the tick in progress
  std::thread thread_;
};
