// TraceBuffer: the last seconds of the run, one sample per tick, for the live plots. A sample holds
// the simulated time, the kinetic, potential and total energy, the energy balance (the work of the
// torques, the energy friction took, and the balance's residual E - E0 - W + D), every joint angle,
// the panel's output of that tick (the accelerations in forward mode, the torques in inverse
// mode), the torques the tick applied (forward) or found (inverse), and while a controller acts
// its reference and error (q* and q* - q, or for task-pd the tool's x* and x* - x). The buffer is a
// ring: the oldest sample goes when a new one comes once it is full.
//
// "Reset" starts the trace again at the current simulated time and leaves a marker there. A tick
// whose numbers are not finite (the run diverged) is not kept, and the trace stops at the last
// finite sample until the next "Reset".
#pragma once

#include <cstdint>
#include <vector>

#include "app/velmoth_dlg.h"

class TraceBuffer : public TickListener {
 public:
  // Samples kept: 10 s of simulated time and one more, so that the window's edges both have one.
  static constexpr uint32_t kCapacity = 1001;

  // One sample's values; the spans (angles, output, torque) have one element per joint, the
  // reference and the error `references` elements.
  struct Sample {
    double time;
    double kinetic;
    double potential;
    double total;
    double work;
    double dissipated;
    double residual;
    int mode;  // kIdForward or kIdInverse: what the output is; 0 when neither mode ran
    const double* angles;
    const double* output;
    const double* torque;
    bool controlled;  // a controller other than the typed torques acted (forward)
    bool task;        // the reference is the tool's position (task-pd), not the joints'
    uint32_t references;
    const double* reference;
    const double* error;
  };

  uint32_t Joints() const { return n_; }
  uint32_t Size() const { return size_; }
  // The i-th sample from the oldest (0) to the newest (Size() - 1).
  Sample At(uint32_t i) const;

  // Simulated time of the newest tick seen, kept or not.
  double Now() const;
  // Simulated times of the "Reset"s, oldest first (the last few only).
  const std::vector<double>& Resets() const { return resets_; }
  // Whether the trace stopped at a tick that was not finite.
  bool Stopped() const { return stopped_; }
  // Grows by one with every change, so that a reader can tell whether to draw again.
  uint64_t Version() const { return version_; }

  void OnTick(const TickResult& tick) override;
  void OnResetJointState(const Robot& robot) override;

 private:
  // Room for a reference of the joints or of the tool's position.
  uint32_t ReferenceRoom() const { return n_ > 3 ? n_ : 3; }
  uint32_t Stride() const { return 10 + 3 * n_ + 2 * ReferenceRoom(); }

  uint32_t n_ = 0;
  uint32_t first_ = 0;  // index of the oldest sample
  uint32_t size_ = 0;
  uint64_t ticks_ = 0;
  uint64_t version_ = 0;
  bool stopped_ = false;
  std::vector<double> data_;  // kCapacity samples of Stride() values
  std::vector<double> resets_;
};
