// What a controller is, as the programs choose it (velmoth-sim's options, Python's objects, the
// window's panel) and a recording's replay keeps it: its law, its target and the reference that
// leads there, its gains, its sample rate and the model of the arm it computes with.
//
// The laws (q* the reference, e = q* - q, g the model's gravity torques, F its friction):
//   torque           tau = the typed torques alone (no controller)
//   gravity          tau = g(q) + the typed torques: the arm floats
//   pd               tau = Kp e + Kd (qd* - qd) + g(q), the compensation switchable off
//   computed-torque  tau = M(q) (qdd* + Kd (qd* - qd) + Kp e) + C(q, qd) qd + g(q) + F(qd)
//   task-pd          tau = J(q)^T (Kx (x* - x) + Dx (xd* - xd)) + N (-Kn qd) + g(q), x the
//                    position of a frame (the tool), J its Jacobian's linear rows, N what leaves
//                    the frame where it is; Kx and Dx by default Lambda(q) w^2 and 2 Lambda(q) w,
//                    the frame's inertia where the arm is (the operational-space form)
// The typed torques are added to every law's. Every gain left out takes its default
// (default_gains.cpp): critically damped at the natural frequency `frequency`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ControllerKind : uint8_t { kTorque, kGravity, kPd, kComputedTorque, kTaskPd };

// How the reference moves from the pose it starts at to the target: at once (step), along a
// quintic of rest-to-rest minimum jerk, along a trapezoidal velocity profile (accelerating,
// cruising and braking a third of the time each), or as a sine about the target.
enum class TrajectoryKind : uint8_t { kStep, kQuintic, kTrapezoid, kSine };

// Every law and trajectory, in the order the programs list them.
inline constexpr ControllerKind kControllerKinds[] = {
    ControllerKind::kTorque, ControllerKind::kGravity, ControllerKind::kPd,
    ControllerKind::kComputedTorque, ControllerKind::kTaskPd};
inline constexpr TrajectoryKind kTrajectoryKinds[] = {
    TrajectoryKind::kStep, TrajectoryKind::kQuintic, TrajectoryKind::kTrapezoid,
    TrajectoryKind::kSine};

// The sample rate: samples per 0.01 s tick, 1 (100 Hz) to kMaxSamplesPerTick (1 kHz), or
// kContinuous, the law evaluated at every state the step evaluates.
inline constexpr int kContinuous = 0;
inline constexpr int kMaxSamplesPerTick = 10;

// Computed torque leaves a joint at rest to its friction while the acceleration it commands is
// below what an error of this many radians (metres) commands: the reference is reached.
inline constexpr double kRestResolution = 1e-9;

// The default gains' natural frequency, rad/s.
inline constexpr double kDefaultFrequency = 10.0;
// A sine's default amplitude (rad; m for a sliding joint and for a frame's position) and period.
inline constexpr double kDefaultAmplitude = 0.2;
inline constexpr double kDefaultSlideAmplitude = 0.02;
inline constexpr double kDefaultPeriod = 2.0;

struct ControllerSettings {
  ControllerKind kind = ControllerKind::kTorque;
  int samples = kContinuous;
  // The target: one value per joint, or for task-pd the frame's position (x, y, z in the base
  // frame); empty: where the arm is when the reference starts.
  std::vector<double> target;
  TrajectoryKind trajectory = TrajectoryKind::kQuintic;
  double duration = 0.0;           // s; 0: from the distance at a moderate speed (trajectory.h)
  std::vector<double> amplitude;   // the sine's, per joint or axis; empty: the defaults
  double period = kDefaultPeriod;  // the sine's, s
  double frequency = kDefaultFrequency;
  // The gains, per joint (task-pd: kp and kd are Kx and Dx per axis, kn the joints' damping);
  // empty: the defaults; a single value is every joint's (every axis's).
  std::vector<double> kp, kd, kn;
  bool compensate = true;  // pd and task-pd: add g(q)
  std::string frame;       // task-pd: the frame it moves; empty: the arm's last frame
  // The model's error: its last link this much heavier than the arm's, kg (negative: lighter);
  // and whether computed torque models the joints' friction.
  double massError = 0.0;
  bool modelFriction = true;
};

bool operator==(const ControllerSettings& a, const ControllerSettings& b);

// Whether the reference starts afresh when the settings change from a to b: a new law, target,
// trajectory, duration, amplitude, period or frame. New gains, rate or model keep it going.
bool RestartsReference(const ControllerSettings& a, const ControllerSettings& b);

// Whether the law follows a reference (pd, computed-torque, task-pd).
bool Tracks(ControllerKind kind);

// "torque", "gravity", "pd", "computed-torque", "task-pd"; "step", "quintic", "trapezoid", "sine".
const char* ControllerName(ControllerKind kind);
const char* TrajectoryName(TrajectoryKind kind);
std::optional<ControllerKind> ControllerNamed(const std::string& name);
std::optional<TrajectoryKind> TrajectoryNamed(const std::string& name);

// A rate as the programs write it: "continuous", or the samples per second ("1000"); and read it
// back: "continuous", or 100 times a whole number of samples per tick from 1 to 10 (nullopt
// otherwise).
std::string RateName(int samples);
std::optional<int> RateNamed(const std::string& text);

// "pd to 0.5, 0.2 along a quintic of 1.5 s, 1 kHz": a line for the strip and the messages.
std::string ControllerText(const ControllerSettings& settings);

// Numbers as "%g", separated by ", ": the short form the panel and ControllerText show.
std::string ShortValuesText(const std::vector<double>& values);
