#include "app/physics_thread.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "app/dialog_template.h"
#include "robot/robot.h"
#include "simulation/joint_limits.h"
#include "simulation/stepper.h"

namespace {

int64_t WallNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Processor time of a thread (by default the calling one): unlike wall time, it does not grow
// while other programs have the processor.
int64_t ThreadCpuNs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

matrix<double> ColumnOf(const std::vector<double>& values) {
  matrix<double> column(static_cast<uint32_t>(values.size()), 1);
  for (uint32_t i = 0; i < column.RowCount(); ++i) {
    column(i, 0) = values[i];
  }
  return column;
}

std::vector<double> ValuesOf(const matrix<double>& column) {
  std::vector<double> values(column.RowCount());
  for (uint32_t i = 0; i < column.RowCount(); ++i) {
    values[i] = column(i, 0);
  }
  return values;
}

ArmState ArmState::Of(const Robot& robot) {
  ArmState state;
  for (const auto& link : robot.links) {
    state.q.push_back(link->q);
    state.qd.push_back(link->qd);
    state.qdd.push_back(link->qdd);
  }
  state.kinetic = robot.kineticEnergy;
  state.potential = robot.potentialEnergy;
  state.work = robot.work;
  state.dissipated = robot.dissipated;
  state.startEnergy = robot.startEnergy;
  state.cappedTicks = robot.cappedTicks;
  state.unphysicalTicks = robot.unphysicalTicks;
  state.offBalanceTicks = robot.offBalanceTicks;
  return state;
}

void ArmState::ApplyTo(Robot& robot) const {
  for (std::size_t i = 0; i < robot.links.size() && i < q.size(); ++i) {
    robot.links[i]->q = q[i];
    robot.links[i]->qd = qd[i];
    robot.links[i]->qdd = qdd[i];
  }
  robot.kineticEnergy = kinetic;
  robot.potentialEnergy = potential;
  robot.work = work;
  robot.dissipated = dissipated;
  robot.startEnergy = startEnergy;
  robot.cappedTicks = cappedTicks;
  robot.unphysicalTicks = unphysicalTicks;
  robot.offBalanceTicks = offBalanceTicks;
}

PhysicsThread::PhysicsThread(const Robot& arm, const StepOptions& step, bool threaded,
                             std::function<void()> done)
    : robot_(CloneRobot(arm)), done_(std::move(done)), threaded_(threaded) {
  stepper_ = std::make_unique<Stepper>(*robot_, step);
  stepper_->SetGiveUp([this] { return GiveUp(); });
  controller_ = std::make_shared<Controller>(*robot_, ControllerSettings{});
  stepper_->SetController(controller_);
  forces_ = std::make_unique<ForceSource>(*robot_);
  if (threaded_) {
    thread_ = std::thread([this] { Run(); });
    pthread_getcpuclockid(thread_.native_handle(), &cpuClock_);
  }
}

PhysicsThread::~PhysicsThread() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    giveUpAll_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

uint64_t PhysicsThread::Enqueue(Job job) {
  // Numbered and queued under one lock, so that the numbers follow the order of the queue.
  std::unique_lock<std::mutex> lock(mutex_);
  if (job.kind == Job::kTick) {
    if (job.standing) {
      job.tick = standing_;
    }
    job.tick.serial = ++lastSerial_;
  } else if (job.kind == Job::kReset) {
    // The ticks before it are moot: the one in progress is given up, those computed and those
    // queued go. Under the same lock as the queue, so that no tick asked for meanwhile by another
    // thread slips in ahead of the Reset and is shown after it.
    ++epoch_;
    results_.clear();
    DropTicks();
  }
  const uint64_t next = lastSerial_ + 1;
  if (!threaded_) {
    Carry(job, lock);
    return next;
  }
  queue_.push_back(std::move(job));
  lock.unlock();
  wake_.notify_all();
  return next;
}

void PhysicsThread::Submit(TickRequest tick) {
  Job job;
  job.tick = std::move(tick);
  Enqueue(std::move(job));
}

uint64_t PhysicsThread::NextSerial() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lastSerial_ + 1;
}

void PhysicsThread::SetStanding(TickRequest tick) {
  const std::lock_guard<std::mutex> lock(mutex_);
  standing_ = std::move(tick);
}

void PhysicsThread::SubmitStanding() {
  Job job;
  job.standing = true;
  Enqueue(std::move(job));
}

void PhysicsThread::SetParameters(double viscous, double coulomb,
                                  const std::array<double, 3>& gravity) {
  Job job;
  job.kind = Job::kParameters;
  job.viscous = viscous;
  job.coulomb = coulomb;
  job.gravity = gravity;
  Enqueue(std::move(job));
}

void PhysicsThread::SetOptions(const StepOptions& step) {
  Job job;
  job.kind = Job::kOptions;
  job.step = step;
  Enqueue(std::move(job));
}

void PhysicsThread::SetPhysics(bool limits, FrictionSource friction, bool effortLimits) {
  Job job;
  job.kind = Job::kPhysics;
  job.limits = limits;
  job.friction = friction;
  job.effortLimits = effortLimits;
  Enqueue(std::move(job));
}

void PhysicsThread::SetController(const ControllerSettings& settings) {
  Job job;
  job.kind = Job::kController;
  job.controller = settings;
  Enqueue(std::move(job));
}

uint64_t PhysicsThread::RestartStep() {
  Job job;
  job.kind = Job::kRestart;
  return Enqueue(std::move(job));
}

void PhysicsThread::Reset() {
  SetPose({});
}

void PhysicsThread::SetPose(std::vector<double> q) {
  Job job;
  job.kind = Job::kReset;
  job.pose = std::move(q);
  Enqueue(std::move(job));
}

void PhysicsThread::DropPending() {
  const std::lock_guard<std::mutex> lock(mutex_);
  DropTicks();
}

void PhysicsThread::DropTicks() {
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                              [](const Job& job) { return job.kind == Job::kTick; }),
               queue_.end());
}

bool PhysicsThread::WaitIdle(int64_t timeoutNs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, std::chrono::nanoseconds(timeoutNs),
                        [this] { return tickStartNs_ == 0 && QueuedTicks() == 0; });
}

std::optional<TickDone> PhysicsThread::Take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (results_.empty()) {
    return std::nullopt;
  }
  TickDone done = std::move(results_.front());
  results_.pop_front();
  return done;
}

std::size_t PhysicsThread::QueuedTicks() const {
  return static_cast<std::size_t>(std::count_if(
      queue_.begin(), queue_.end(), [](const Job& job) { return job.kind == Job::kTick; }));
}

std::size_t PhysicsThread::Done() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return results_.size();
}

std::size_t PhysicsThread::Outstanding() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return QueuedTicks() + (tickStartNs_ != 0 ? 1 : 0) + results_.size();
}

bool PhysicsThread::CanQueue() const {
  // Ticks computed and not taken yet are no work of the thread's.
  std::size_t ahead = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (results_.size() >= kMaxUntakenTicks) {
      return false;
    }
    ahead = QueuedTicks() + (tickStartNs_ != 0 ? 1 : 0);
  }
  return ahead == 0 ||
         (ahead < kMaxQueuedTicks && static_cast<int64_t>(ahead) * WorkNs() < kQueueBudgetNs);
}

int64_t PhysicsThread::WorkNs() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (tickStartNs_ == 0) {
    return lastWorkNs_;
  }
  const int64_t held = heldNs_ + (heldSinceNs_ != 0 ? WallNs() - heldSinceNs_ : 0);
  return std::max(lastWorkNs_, ThreadCpuNs(cpuClock_) - tickStartCpuNs_ + held);
}

int64_t PhysicsThread::CostNs() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return tickStartNs_ != 0 ? std::max(lastCostNs_, WallNs() - tickStartNs_) : lastCostNs_;
}

void PhysicsThread::Hold(bool hold) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    held_ = hold;
  }
  wake_.notify_all();
}

bool PhysicsThread::Holding() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return heldSinceNs_ != 0;
}

// Asked by the Stepper before every substep, on the thread.
bool PhysicsThread::GiveUp() {
  const auto moot = [this] { return giveUpAll_ || epoch_ != tickEpoch_; };
  std::unique_lock<std::mutex> lock(mutex_);
  if (held_ && !moot()) {
    heldSinceNs_ = WallNs();
    wake_.wait(lock, [&] { return !held_ || moot(); });
    heldNs_ += WallNs() - heldSinceNs_;
    heldSinceNs_ = 0;
  }
  return moot();
}

void PhysicsThread::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) {
      return;
    }
    const Job job = std::move(queue_.front());
    queue_.pop_front();
    // The window is told once for the ticks it finds waiting: when the first is handed back.
    const bool first = Carry(job, lock) && results_.size() == 1;
    idle_.notify_all();
    if (first && done_) {
      lock.unlock();
      done_();
      lock.lock();
    }
  }
}

// Called and returning with the lock held; computes without it.
bool PhysicsThread::Carry(const Job& job, std::unique_lock<std::mutex>& lock) {
  switch (job.kind) {
    case Job::kParameters:
      robot_->viscousFriction = job.viscous;
      robot_->coulombFriction = job.coulomb;
      for (uint32_t k = 0; k < 3; ++k) {
        robot_->gravity(k, 0) = job.gravity[k];
      }
      return false;
    case Job::kOptions:
      stepper_->SetOptions(job.step);
      return false;
    case Job::kPhysics:
      robot_->limits = job.limits;
      robot_->frictionSource = job.friction;
      robot_->effortLimits = job.effortLimits;
      if (!ClampStartToLimits(*robot_).empty()) {
        setQ_ = ArmState::Of(*robot_).q;
      }
      return false;
    case Job::kRestart:
      stepper_ = std::make_unique<Stepper>(*robot_, stepper_->Options());
      stepper_->SetGiveUp([this] { return GiveUp(); });
      stepper_->SetController(controller_);
      return false;
    case Job::kReset:
      setQ_.clear();  // the Reset's own positions stand for it
      robot_->ResetJointState();
      for (std::size_t i = 0; i < job.pose.size() && i < robot_->links.size(); ++i) {
        robot_->links[i]->q = job.pose[i];
      }
      ClampStartToLimits(*robot_);
      controller_->RestartReference();
      return false;
    case Job::kController:
      controller_->SetSettings(job.controller);
      return false;
    case Job::kTick:
      break;
  }
  if (stopping_) {
    return false;
  }
  tickEpoch_ = epoch_;
  tickStartNs_ = WallNs();
  tickStartCpuNs_ = ThreadCpuNs();
  heldNs_ = 0;
  lock.unlock();
  std::optional<TickDone> tick = ComputeTick(job.tick);
  lock.lock();
  lastCostNs_ = WallNs() - tickStartNs_;
  lastWorkNs_ = ThreadCpuNs() - tickStartCpuNs_ + heldNs_;
  tickStartNs_ = 0;
  // A tick given up, or one that a Reset made moot meanwhile, is not handed back.
  if (!tick || tickEpoch_ != epoch_) {
    return false;
  }
  tick->setQ = std::move(setQ_);
  setQ_.clear();
  results_.push_back(std::move(*tick));
  return true;
}

// On the thread (or the caller's, without one), without the lock.
std::optional<TickDone> PhysicsThread::ComputeTick(const TickRequest& request) {
  const int64_t start = WallNs();
  TickDone tick;
  tick.serial = request.serial;
  tick.mode = request.mode;
  tick.accel = request.accel;
  tick.torque = request.torque;
  tick.referenceStart = controller_->Start();
  // Forces that do not fit the arm are refused and those before kept; the window sends none.
  if (!(forces_->Forces() == request.forces)) {
    forces_->Set(request.forces);
  }
  forces_->ApplyTo(*stepper_);
  if (request.mode == kIdForward) {
    tick.accel = ValuesOf(stepper_->Forward(ColumnOf(request.torque)));
    tick.torque = ValuesOf(stepper_->LastTorque());
    tick.saturated = stepper_->Saturated();
  } else if (request.mode == kIdInverse) {
    tick.torque = ValuesOf(stepper_->Inverse(ColumnOf(request.accel)));
  }
  if (request.mode != 0 && stepper_->GaveUp()) {
    return std::nullopt;
  }
  tick.state = ArmState::Of(*robot_);
  tick.inputs = InputsOf(*robot_, request.mode == kIdInverse, ColumnOf(request.torque),
                         ColumnOf(request.accel), stepper_->Options(), controller_->Settings());
  tick.inputs.forces = forces_->Forces();
  if (const int size = controller_->ReferenceSize(); size > 0) {
    tick.reference.resize(static_cast<std::size_t>(size));
    tick.error.resize(static_cast<std::size_t>(size));
    controller_->Tracking(0.0, tick.state.q.data(), tick.reference.data(), tick.error.data());
  }
  tick.costNs = WallNs() - start;
  return tick;
}
