#include "app/trace_buffer.h"

#include <cmath>

#include "dynamics/dynamics.h"
#include "robot/robot.h"

namespace {

// Markers kept: older ones have long left a 10 s window.
constexpr std::size_t kMaxResets = 16;

}  // namespace

TraceBuffer::Sample TraceBuffer::At(uint32_t i) const {
  const double* s = &data_[static_cast<std::size_t>((first_ + i) % kCapacity) * Stride()];
  const double* joints = s + 10;
  const double* references = joints + 3 * n_;
  const auto flags = static_cast<int>(s[9]);
  return Sample{s[0],
                s[1],
                s[2],
                s[3],
                s[4],
                s[5],
                s[6],
                static_cast<int>(s[7]),
                joints,
                joints + n_,
                joints + 2 * n_,
                (flags & 1) != 0,
                (flags & 2) != 0,
                static_cast<uint32_t>(s[8]),
                references,
                references + ReferenceRoom()};
}

double TraceBuffer::Now() const {
  return static_cast<double>(ticks_) * kTimeStep;
}

void TraceBuffer::OnTick(const TickResult& tick) {
  ++ticks_;
  if (stopped_) {
    return;
  }
  const auto n = static_cast<uint32_t>(tick.robot.links.size());
  if (n != n_ || data_.empty()) {
    n_ = n;
    first_ = 0;
    size_ = 0;
    data_.assign(static_cast<std::size_t>(kCapacity) * Stride(), 0.0);
  }
  const Robot& robot = tick.robot;
  const matrix<double>& output = tick.mode == kIdInverse ? tick.torque : tick.accel;
  // Checked before anything is written: once the ring is full, the slot of the new sample holds
  // the oldest one, which a tick that is not finite must leave in place.
  const double total = robot.kineticEnergy + robot.potentialEnergy;
  const double residual = total - robot.startEnergy - robot.work + robot.dissipated;
  bool finite = std::isfinite(robot.kineticEnergy) && std::isfinite(robot.potentialEnergy) &&
                std::isfinite(total) && std::isfinite(residual);
  for (uint32_t j = 0; j < n && finite; ++j) {
    finite = std::isfinite(robot.links[j]->q) && std::isfinite(output(j, 0)) &&
             std::isfinite(tick.torque(j, 0));
  }
  const uint32_t references = tick.reference != nullptr && tick.error != nullptr &&
                                      tick.reference->size() <= ReferenceRoom()
                                  ? static_cast<uint32_t>(tick.reference->size())
                                  : 0;
  for (uint32_t k = 0; k < references && finite; ++k) {
    finite = std::isfinite((*tick.reference)[k]) && std::isfinite((*tick.error)[k]);
  }
  if (!finite) {
    stopped_ = true;
    ++version_;
    return;
  }
  double* s = &data_[static_cast<std::size_t>((first_ + size_) % kCapacity) * Stride()];
  s[0] = Now();
  s[1] = robot.kineticEnergy;
  s[2] = robot.potentialEnergy;
  s[3] = total;
  s[4] = robot.work;
  s[5] = robot.dissipated;
  s[6] = residual;
  s[7] = tick.mode;
  s[8] = references;
  const bool controlled = tick.mode == kIdForward && tick.inputs != nullptr &&
                          tick.inputs->controller.kind != ControllerKind::kTorque;
  const bool task = controlled && tick.inputs->controller.kind == ControllerKind::kTaskPd;
  s[9] = (controlled ? 1 : 0) + (task ? 2 : 0);
  double* joints = s + 10;
  for (uint32_t j = 0; j < n; ++j) {
    joints[j] = robot.links[j]->q;
    joints[n + j] = output(j, 0);
    joints[2 * n + j] = tick.torque(j, 0);
  }
  for (uint32_t k = 0; k < references; ++k) {
    joints[3 * n + k] = (*tick.reference)[k];
    joints[3 * n + ReferenceRoom() + k] = (*tick.error)[k];
  }
  if (size_ < kCapacity) {
    ++size_;
  } else {
    first_ = (first_ + 1) % kCapacity;
  }
  ++version_;
}

void TraceBuffer::OnResetJointState(const Robot& /*robot*/) {
  size_ = 0;
  first_ = 0;
  stopped_ = false;
  if (resets_.size() == kMaxResets) {
    resets_.erase(resets_.begin());
  }
  resets_.push_back(Now());
  ++version_;
}
