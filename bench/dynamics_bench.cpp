// The cost of one simulation tick: forward (ForwardDynamics, then IntegrateStep) and inverse
// (IntegrateStep, then InverseDynamics), for 1 to 24 built-in links, next to one forward step of
// Orocos KDL's ChainFdSolver_RNE for the same arm, measured in the same run. Heap allocations are
// counted by replacing the global operator new in this program. The same two ticks for the sample
// arms in examples/, loaded from their URDF files.
//
// Then the tick of arms from URDF files with their defaults (the recursive engine and the
// error-controlled dopri5 step), next to MuJoCo's mj_step on the same file: the built-in arm, the
// industrial arm, the 7-joint arm with its gripper, and chains of 12 to 100 links; and the cap's
// worst cases (the 100-link chain whipping, six links under 1000 N m).
//
// Work against precision: 1 s of an arm without friction from (0.5, -1, 1.5, 0, ...) on our
// dopri5 at tolerances 1e-5 to 1e-11, and on MuJoCo's Euler and RK4 at 10 ms down to 0.1 ms per
// step, each against its own fine reference (our RK4 in 1000 substeps per tick, MuJoCo's RK4 at
// 10 us), with the cost of a 0.01 s tick; for the industrial arm, the UR-like arm and a chain
// of 12.
//
// After the run a summary gives the ratios of our ticks to KDL's and MuJoCo's steps, the growth
// exponents, and for each of our tolerances the cheapest MuJoCo setting that is as accurate.
//
// Then the frames' kinematics of the sample arms (every frame's pose; the tool frame's pose, both
// Jacobians and J-dot qd) next to one forward-dynamics pass of the same arm.
//
// Then one evaluation of each controller (gravity compensation, PD, computed torque, the task law)
// next to the forward-dynamics pass of the same arm, and a tick of the default step with computed
// torque continuous, at 1 kHz and at 100 Hz next to the same tick without a controller.
//
// Last the mass matrix alone, from the joint positions: the recursive engine's composite-body pass
// (with the placement pass it needs), the closed form's M, and MuJoCo's mj_crb (with the position
// stages it needs, and mj_fullM for the dense matrix), on chains of 6 to 100 links and the sample
// arms.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <kdl/chain.hpp>
#include <kdl/chainfdsolver_recursive_newton_euler.hpp>
#include <kdl/frames.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/segment.hpp>

#include <mujoco/mujoco.h>

#include "control/controller.h"
#include "dynamics/dynamics.h"
#include "dynamics/jacobians.h"
#include "dynamics/kinematics.h"
#include "dynamics/terms.h"
#include "recursive/chain.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/joint_limits.h"
#include "simulation/stepper.h"
#include "urdf/urdf_loader.h"

// Every allocation through operator new in this program. The operators below pair malloc with
// free themselves; GCC cannot see that through inlining and would warn at every delete.
namespace {
std::size_t allocationCount = 0;
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  ++allocationCount;
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++allocationCount;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace {

const std::vector<int64_t> kLinkCounts = {1, 2, 3, 6, 12, 24};

// Three runs of each case, reported as mean, median and spread: the machine may be shared, and
// the summary compares medians.
void Repeated(benchmark::internal::Benchmark* b) {
  b->Repetitions(3)->ReportAggregatesOnly(true);
}

// A state in the middle of the fall, the same for every tick: the arm does not run away during a
// long measurement, and every tick does the same work.
struct ArmState {
  std::vector<double> q;
  std::vector<double> qd;
};

ArmState MovingState(std::size_t n) {
  ArmState s;
  for (std::size_t i = 0; i < n; ++i) {
    s.q.push_back(0.3 * std::sin(1.0 + 0.7 * static_cast<double>(i)));
    s.qd.push_back(0.8 * std::cos(2.0 + 1.3 * static_cast<double>(i)));
  }
  return s;
}

void Restore(Robot& robot, const ArmState& s) {
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    robot.links[i]->q = s.q[i];
    robot.links[i]->qd = s.qd[i];
  }
}

void ReportAllocations(benchmark::State& state, std::size_t before) {
  state.counters["allocs/tick"] = benchmark::Counter(static_cast<double>(allocationCount - before),
                                                     benchmark::Counter::kAvgIterations);
}

void BM_ForwardTick(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(static_cast<int>(n));
  const ArmState start = MovingState(n);
  matrix<double> torque(static_cast<uint32_t>(n), 1);
  torque.SetZero();
  // One tick first: the working storage grows to this arm's size once, not per tick.
  Restore(*robot, start);
  IntegrateStep(*robot, ForwardDynamics(*robot, torque), kTimeStep);
  const std::size_t before = allocationCount;
  for (auto _ : state) {
    Restore(*robot, start);
    const matrix<double> accel = ForwardDynamics(*robot, torque);
    IntegrateStep(*robot, accel, kTimeStep);
    benchmark::DoNotOptimize(robot->links[0]->q);
  }
  ReportAllocations(state, before);
}
BENCHMARK(BM_ForwardTick)->ArgName("links")->ArgsProduct({kLinkCounts})->Apply(Repeated);

void BM_InverseTick(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(static_cast<int>(n));
  const ArmState start = MovingState(n);
  matrix<double> accel(static_cast<uint32_t>(n), 1);
  for (uint32_t i = 0; i < n; ++i) {
    accel(i, 0) = 0.5 - 0.1 * i;
  }
  Restore(*robot, start);
  IntegrateStep(*robot, accel, kTimeStep);
  benchmark::DoNotOptimize(InverseDynamics(*robot));
  const std::size_t before = allocationCount;
  for (auto _ : state) {
    Restore(*robot, start);
    IntegrateStep(*robot, accel, kTimeStep);
    const matrix<double> torque = InverseDynamics(*robot);
    benchmark::DoNotOptimize(torque);
  }
  ReportAllocations(state, before);
}
BENCHMARK(BM_InverseTick)->ArgName("links")->ArgsProduct({kLinkCounts})->Apply(Repeated);

// The ticks of a sample arm, from the same moving state as the built-in arm's; the inverse tick
// asks for the same accelerations.
void BM_SampleTick(benchmark::State& state, const std::string& sample, bool forward) {
  std::string error;
  std::unique_ptr<Robot> robot =
      LoadUrdfRobot(std::string(VELMOTH_EXAMPLES) + "/" + sample + ".urdf", error);
  if (!robot) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::size_t n = robot->links.size();
  const ArmState start = MovingState(n);
  matrix<double> input(static_cast<uint32_t>(n), 1);
  for (uint32_t i = 0; i < n; ++i) {
    input(i, 0) = forward ? 0.0 : 0.5 - 0.1 * i;
  }
  Restore(*robot, start);
  IntegrateStep(*robot, forward ? ForwardDynamics(*robot, input) : input, kTimeStep);
  benchmark::DoNotOptimize(InverseDynamics(*robot));
  const std::size_t before = allocationCount;
  for (auto _ : state) {
    Restore(*robot, start);
    if (forward) {
      const matrix<double> accel = ForwardDynamics(*robot, input);
      IntegrateStep(*robot, accel, kTimeStep);
    } else {
      IntegrateStep(*robot, input, kTimeStep);
      const matrix<double> torque = InverseDynamics(*robot);
      benchmark::DoNotOptimize(torque);
    }
    benchmark::DoNotOptimize(robot->links[0]->q);
  }
  ReportAllocations(state, before);
}

void RegisterSampleTicks() {
  for (const char* sample : {"double_pendulum", "planar_3link", "scara", "puma560"}) {
    for (const bool forward : {true, false}) {
      benchmark::RegisterBenchmark(
          (std::string(forward ? "BM_SampleForwardTick/" : "BM_SampleInverseTick/") + sample)
              .c_str(),
          BM_SampleTick, std::string(sample), forward)
          ->Apply(Repeated);
    }
  }
}

// ---- Arms from URDF files: our tick with the defaults, next to MuJoCo's step -------------------

// A chain of the built-in kind as a URDF file: n links of 1 kg, 0.3 m along y, turning about x.
std::string ChainUrdf(int n) {
  std::string text = "<robot name='chain";
  text.append(std::to_string(n)).append("'><link name='l0'/>");
  for (int i = 1; i <= n; ++i) {
    const std::string parent = std::to_string(i - 1), child = std::to_string(i);
    text.append("<joint name='j").append(child).append("' type='continuous'><parent link='l");
    text.append(parent).append("'/><child link='l").append(child).append("'/><origin xyz='0 ");
    text.append(i == 1 ? "0" : "0.3").append(" 0'/><axis xyz='1 0 0'/></joint><link name='l");
    text.append(child).append(
        "'><inertial><origin xyz='0 0.15 0'/><mass value='1'/><inertia ixx='0.01' iyy='0.01' "
        "izz='0.01' ixy='0' ixz='0' iyz='0'/></inertial></link>");
  }
  return text + "</robot>";
}

struct UrdfArm {
  std::string name;
  std::string path;
};

// The arms measured: the built-in arm, the 7-joint arm with its gripper and the industrial arm,
// and chains of 12 to 100 links, written into a folder of their own for the run.
std::vector<UrdfArm>& UrdfArms() {
  static std::vector<UrdfArm> arms;
  return arms;
}

std::string& ChainFolder() {
  static std::string folder;
  return folder;
}

void WriteUrdfArms() {
  UrdfArms() = {{"builtin6", VELMOTH_URDF_TESTS "/builtin_arm.urdf"},
                {"industrial6", VELMOTH_EXAMPLES "/industrial6.urdf"},
                {"arm7_gripper", VELMOTH_EXAMPLES "/arm7_gripper.urdf"},
                {"puma560", VELMOTH_EXAMPLES "/puma560.urdf"}};
  char folder[] = "/tmp/velmoth_bench_XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    return;
  }
  ChainFolder() = folder;
  for (int n : {6, 12, 24, 48, 50, 100}) {
    const std::string path = ChainFolder() + "/chain" + std::to_string(n) + ".urdf";
    if (std::FILE* file = std::fopen(path.c_str(), "w")) {
      const std::string text = ChainUrdf(n);
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
      UrdfArms().push_back({"chain" + std::to_string(n), path});
    }
  }
}

void RemoveUrdfArms() {
  for (const UrdfArm& arm : UrdfArms()) {
    if (!ChainFolder().empty() && arm.path.rfind(ChainFolder(), 0) == 0) {
      std::remove(arm.path.c_str());
    }
  }
  if (!ChainFolder().empty()) {
    rmdir(ChainFolder().c_str());
  }
}

// One forward tick of the arm with the defaults of an arm from a file (the recursive engine, the
// dopri5 step at its default tolerance, the energies and the balance included). cold: every tick
// starts from the same moving state, so that nothing of the tick before is reused; otherwise the
// arm falls from its zero pose, tick after tick, and starts again every 3000 ticks (30 s), so that
// the mean covers the whole fall with the substeps its fast phases take. Without its physics, the
// arm's limits are off and its joints take the panel's friction.
void BM_DefaultTick(benchmark::State& state, const std::string& path, bool cold, bool physics) {
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error);
  if (!robot) {
    state.SkipWithError(error.c_str());
    return;
  }
  robot->limits = physics;
  robot->frictionSource = physics ? FrictionSource::kFile : FrictionSource::kUniform;
  const std::size_t n = robot->links.size();
  const ArmState start =
      cold ? MovingState(n) : ArmState{std::vector<double>(n), std::vector<double>(n)};
  matrix<double> torque(static_cast<uint32_t>(n), 1);
  torque.SetZero();
  Stepper stepper(*robot, DefaultStepOptions(true));
  Restore(*robot, start);
  stepper.Forward(torque);
  Restore(*robot, start);
  const std::size_t before = allocationCount;
  uint64_t ticks = 0, substeps = 0;
  for (auto _ : state) {
    if (cold || ticks % 3000 == 0) {
      Restore(*robot, start);
    }
    const matrix<double>& accel = stepper.Forward(torque);
    benchmark::DoNotOptimize(accel(0, 0));
    ++ticks;
    substeps += static_cast<uint64_t>(stepper.LastSubsteps());
  }
  ReportAllocations(state, before);
  state.counters["substeps/tick"] =
      benchmark::Counter(static_cast<double>(substeps), benchmark::Counter::kAvgIterations);
}

// One mj_step of MuJoCo on the same file: Euler, 0.01 s, no contacts, viscous damping 0.1 on
// every joint; the arm falls from its zero pose and starts again every 3000 steps.
void BM_MujocoStep(benchmark::State& state, const std::string& path) {
  char error[1000] = "";
  mjModel* model = mj_loadXML(path.c_str(), nullptr, error, sizeof error);
  if (model == nullptr) {
    state.SkipWithError(error);
    return;
  }
  model->opt.timestep = kTimeStep;
  model->opt.integrator = mjINT_EULER;
  model->opt.disableflags |= mjDSBL_CONTACT;
  for (int i = 0; i < model->nv; ++i) {
    model->dof_damping[i] = 0.1;
  }
  mjData* data = mj_makeData(model);
  uint64_t steps = 0;
  for (auto _ : state) {
    if (steps++ % 3000 == 0) {
      mj_resetData(model, data);
    }
    mj_step(model, data);
    benchmark::DoNotOptimize(data->qpos[0]);
  }
  state.counters["dofs"] = model->nv;
  mj_deleteData(data);
  mj_deleteModel(model);
}

// One tick of the cap's worst cases with the defaults: n built-in links pushed by `torque` each,
// from horizontal, starting again every 1000 ticks (10 s).
void BM_CapWorstCase(benchmark::State& state, int links, double torque) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(links);
  Stepper stepper(*robot, DefaultStepOptions(true));
  matrix<double> torques(static_cast<uint32_t>(links), 1);
  for (uint32_t i = 0; i < static_cast<uint32_t>(links); ++i) {
    torques(i, 0) = torque;
  }
  uint64_t ticks = 0, steps = 0, capped = 0;
  for (auto _ : state) {
    if (ticks++ % 1000 == 0) {
      robot->ResetJointState();
    }
    benchmark::DoNotOptimize(stepper.Forward(torques)(0, 0));
    steps += static_cast<uint64_t>(stepper.LastSubsteps());
    capped += stepper.LastCapped() ? 1 : 0;
  }
  state.counters["steps/tick"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kAvgIterations);
  state.counters["capped"] =
      benchmark::Counter(static_cast<double>(capped), benchmark::Counter::kAvgIterations);
}

// ---- Work against precision ------------------------------------------------------------------

constexpr int kWorkTicks = 100;  // 1 s
const double kWorkTolerances[] = {1e-5, 1e-7, 1e-9, 1e-11};
const int kMujocoStepsUs[] = {10000, 5000, 2000, 1000, 500, 200, 100};

struct WorkArm {
  std::string name, path;
};

std::vector<WorkArm>& WorkArms() {
  static std::vector<WorkArm> arms;
  return arms;
}

// The errors measured, by case name ("ours/ARM/TOL", "mujoco/ARM/INTEGRATOR/DT"): the largest
// |q - q_ref| at the end of the second.
std::map<std::string, double>& WorkErrors() {
  static std::map<std::string, double> errors;
  return errors;
}

// The arm without friction and without its limits, as MuJoCo's model below (constraints off).
std::unique_ptr<Robot> FrictionlessBent(const std::string& path) {
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error);
  if (robot) {
    robot->viscousFriction = robot->coulombFriction = 0.0;
    robot->frictionSource = FrictionSource::kUniform;
    robot->limits = false;
    const double bent[] = {0.5, -1.0, 1.5};
    for (std::size_t i = 0; i < robot->links.size() && i < 3; ++i) {
      robot->links[i]->q = bent[i];
    }
  }
  return robot;
}

std::vector<double> OursAfterOneSecond(const std::string& path, const StepOptions& step) {
  std::unique_ptr<Robot> robot = FrictionlessBent(path);
  Stepper stepper(*robot, step);
  matrix<double> torque(static_cast<uint32_t>(robot->links.size()), 1);
  torque.SetZero();
  for (int t = 0; t < kWorkTicks; ++t) {
    stepper.Forward(torque);
  }
  std::vector<double> q;
  for (const auto& link : robot->links) {
    q.push_back(link->q);
  }
  return q;
}

double Largest(const std::vector<double>& a, const std::vector<double>& b) {
  double most = 0.0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    most = std::max(most, std::isfinite(a[i]) ? std::fabs(a[i] - b[i]) : INFINITY);
  }
  return most;
}

// MuJoCo's model of the file without damping, friction loss, armature or constraints, at the
// bent start.
struct MujocoArm {
  explicit MujocoArm(const std::string& path) {
    char error[1000] = "";
    model = mj_loadXML(path.c_str(), nullptr, error, sizeof error);
    if (model == nullptr) {
      return;
    }
    model->opt.disableflags |= mjDSBL_CONSTRAINT;
    for (int i = 0; i < model->nv; ++i) {
      model->dof_damping[i] = 0.0;
      model->dof_armature[i] = 0.0;
      model->dof_frictionloss[i] = 0.0;
    }
    data = mj_makeData(model);
  }
  ~MujocoArm() {
    if (model != nullptr) {
      mj_deleteData(data);
      mj_deleteModel(model);
    }
  }
  void Start() {
    mj_resetData(model, data);
    const double bent[] = {0.5, -1.0, 1.5};
    for (int i = 0; i < model->nq && i < 3; ++i) {
      data->qpos[i] = bent[i];
    }
  }
  // One second with the integrator at the step dt.
  std::vector<double> AfterOneSecond(int integrator, double dt) {
    model->opt.integrator = integrator;
    model->opt.timestep = dt;
    Start();
    const auto steps = static_cast<long>(std::llround(kWorkTicks * kTimeStep / dt));
    for (long k = 0; k < steps; ++k) {
      mj_step(model, data);
    }
    return std::vector<double>(data->qpos, data->qpos + model->nq);
  }
  mjModel* model = nullptr;
  mjData* data = nullptr;
};

// Our dopri5 at a tolerance: one iteration is the second (kWorkTicks ticks).
void BM_OursWorkPrecision(benchmark::State& state, const std::string& name, const std::string& path,
                          double tolerance) {
  const std::string key = "ours/" + name + "/" + ToleranceText(tolerance);
  if (WorkErrors().count(key) == 0) {
    static std::map<std::string, std::vector<double>> references;
    if (references.count(name) == 0) {
      references[name] =
          OursAfterOneSecond(path, {EngineKind::kRecursive, IntegratorKind::kRk4, 1000});
    }
    WorkErrors()[key] = Largest(
        OursAfterOneSecond(path, {EngineKind::kRecursive, IntegratorKind::kDopri5, 1, tolerance}),
        references[name]);
  }
  std::unique_ptr<Robot> robot = FrictionlessBent(path);
  const std::size_t n = robot->links.size();
  const ArmState start{[&] {
                         std::vector<double> q;
                         for (const auto& link : robot->links) {
                           q.push_back(link->q);
                         }
                         return q;
                       }(),
                       std::vector<double>(n)};
  matrix<double> torque(static_cast<uint32_t>(n), 1);
  torque.SetZero();
  for (auto _ : state) {
    Restore(*robot, start);
    Stepper stepper(*robot, {EngineKind::kRecursive, IntegratorKind::kDopri5, 1, tolerance});
    for (int t = 0; t < kWorkTicks; ++t) {
      benchmark::DoNotOptimize(stepper.Forward(torque)(0, 0));
    }
  }
  state.counters["error"] = WorkErrors()[key];
}

// MuJoCo's integrator at the step dt: one iteration is the second.
void BM_MujocoWorkPrecision(benchmark::State& state, const std::string& name,
                            const std::string& path, int integrator, int dtUs) {
  MujocoArm arm(path);
  if (arm.model == nullptr) {
    state.SkipWithError("MuJoCo cannot load the file");
    return;
  }
  const std::string key = "mujoco/" + name + "/" + (integrator == mjINT_RK4 ? "rk4" : "euler") +
                          "/" + std::to_string(dtUs);
  if (WorkErrors().count(key) == 0) {
    static std::map<std::string, std::vector<double>> references;
    if (references.count(name) == 0) {
      references[name] = arm.AfterOneSecond(mjINT_RK4, 1e-5);
    }
    WorkErrors()[key] = Largest(arm.AfterOneSecond(integrator, dtUs * 1e-6), references[name]);
  }
  arm.model->opt.integrator = integrator;
  arm.model->opt.timestep = dtUs * 1e-6;
  const long steps = kWorkTicks * static_cast<long>(std::llround(kTimeStep / (dtUs * 1e-6)));
  for (auto _ : state) {
    arm.Start();
    for (long k = 0; k < steps; ++k) {
      mj_step(arm.model, arm.data);
    }
    benchmark::DoNotOptimize(arm.data->qpos[0]);
  }
  state.counters["error"] = WorkErrors()[key];
}

void RegisterWorkPrecision() {
  WorkArms() = {{"industrial6", VELMOTH_EXAMPLES "/industrial6.urdf"},
                {"ur5_like", VELMOTH_URDF_TESTS "/ur5_like.urdf"}};
  for (const UrdfArm& arm : UrdfArms()) {
    if (arm.name == "chain12") {
      WorkArms().push_back({arm.name, arm.path});
    }
  }
  for (const WorkArm& arm : WorkArms()) {
    for (double tolerance : kWorkTolerances) {
      benchmark::RegisterBenchmark(
          ("BM_OursWorkPrecision/" + arm.name + "/" + ToleranceText(tolerance)).c_str(),
          BM_OursWorkPrecision, arm.name, arm.path, tolerance);
    }
    for (int integrator : {mjINT_EULER, mjINT_RK4}) {
      for (int dt : kMujocoStepsUs) {
        benchmark::RegisterBenchmark(
            ("BM_MujocoWorkPrecision/" + arm.name +
             (integrator == mjINT_RK4 ? "/rk4/" : "/euler/") + std::to_string(dt))
                .c_str(),
            BM_MujocoWorkPrecision, arm.name, arm.path, integrator, dt);
      }
    }
  }
}

// ---- Stiff damping: a second of falling under strong viscous friction
// ----------------------------

// One iteration is a second (100 ticks) of falling from (0.5, -1, 1.5, 0, ...) put within the
// limits, every joint at the viscous coefficient given (negative: the file's own), on the step
// given: the default step against the implicit step at 1 and 1000 substeps (the finest it takes).
// The time per tick is the time / 100.
void BM_StiffSecond(benchmark::State& state, const std::string& path, double viscous,
                    StepOptions step) {
  std::string error;
  std::unique_ptr<Robot> arm = LoadUrdfRobot(path, error);
  if (!arm) {
    state.SkipWithError(error.c_str());
    return;
  }
  if (viscous >= 0.0) {
    arm->viscousFriction = viscous;
    arm->coulombFriction = 0.0;
    arm->frictionSource = FrictionSource::kUniform;
  }
  const std::size_t n = arm->links.size();
  for (std::size_t i = 0; i < 3 && i < n; ++i) {
    arm->links[i]->q = i == 0 ? 0.5 : i == 1 ? -1.0 : 1.5;
  }
  ClampStartToLimits(*arm);
  matrix<double> torque(static_cast<uint32_t>(n), 1);
  torque.SetZero();
  uint64_t steps = 0;
  for (auto _ : state) {
    std::unique_ptr<Robot> robot = CloneRobot(*arm);
    Stepper stepper(*robot, step);
    for (int t = 0; t < 100; ++t) {
      benchmark::DoNotOptimize(stepper.Forward(torque)(0, 0));
      steps += static_cast<uint64_t>(stepper.LastSubsteps());
    }
  }
  state.counters["steps/tick"] =
      benchmark::Counter(static_cast<double>(steps) / 100.0, benchmark::Counter::kAvgIterations);
}

void RegisterStiffSeconds() {
  const struct {
    std::string name, path;
    double viscous;
  } cases[] = {{"industrial6/viscous10", VELMOTH_EXAMPLES "/industrial6.urdf", 10.0},
               {"industrial6/viscous1000", VELMOTH_EXAMPLES "/industrial6.urdf", 1000.0},
               {"z1_like/own", VELMOTH_URDF_TESTS "/z1_like.urdf", -1.0},
               {"panda_like/viscous100", VELMOTH_URDF_TESTS "/panda_like.urdf", 100.0}};
  for (const auto& c : cases) {
    const StepOptions steps[] = {DefaultStepOptions(true),
                                 {EngineKind::kRecursive, IntegratorKind::kImplicit, 1, 0.0},
                                 {EngineKind::kRecursive, IntegratorKind::kImplicit, 1000, 0.0}};
    const char* names[] = {"/default", "/implicit", "/implicit_x1000"};
    for (int k = 0; k < 3; ++k) {
      benchmark::RegisterBenchmark(("BM_StiffSecond/" + c.name + names[k]).c_str(), BM_StiffSecond,
                                   c.path, c.viscous, steps[k])
          ->Unit(benchmark::kMillisecond)
          ->Apply(Repeated);
    }
  }
}

// The ticks are measured on the built-in arm, the samples and chains of 12 to 100 links.
bool TickArm(const UrdfArm& arm) {
  return arm.name != "chain6" && arm.name != "chain50" && arm.name != "puma560";
}

void RegisterUrdfTicks() {
  benchmark::RegisterBenchmark("BM_CapWorstCase/chain100_falling", BM_CapWorstCase, 100, 0.0)
      ->Apply(Repeated);
  benchmark::RegisterBenchmark("BM_CapWorstCase/six_links_1000Nm", BM_CapWorstCase, 6, 1000.0)
      ->Apply(Repeated);
  for (const UrdfArm& arm : UrdfArms()) {
    if (!TickArm(arm)) {
      continue;
    }
    benchmark::RegisterBenchmark(("BM_DefaultTick/" + arm.name).c_str(), BM_DefaultTick, arm.path,
                                 true, true)
        ->Apply(Repeated);
    benchmark::RegisterBenchmark(("BM_DefaultRun/" + arm.name).c_str(), BM_DefaultTick, arm.path,
                                 false, true)
        ->Apply(Repeated);
    // The same moving tick with no limit reached and without the arm's physics, next to it: what
    // looking for the limits costs a tick where none is active.
    benchmark::RegisterBenchmark(("BM_DefaultTick/" + arm.name + "/without_limits").c_str(),
                                 BM_DefaultTick, arm.path, true, false)
        ->Apply(Repeated);
    benchmark::RegisterBenchmark(("BM_MujocoStep/" + arm.name).c_str(), BM_MujocoStep, arm.path)
        ->Apply(Repeated);
  }
}

// ---- The mass matrix alone, from the joint positions -------------------------------------------

// The arms whose mass matrix is measured: chains of 6 to 100 links and the sample arms.
bool MassArm(const UrdfArm& arm) {
  return arm.name != "builtin6" && arm.name != "chain48";
}

std::unique_ptr<Robot> LoadOrSkip(benchmark::State& state, const std::string& path) {
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error);
  if (!robot) {
    state.SkipWithError(error.c_str());
  }
  return robot;
}

// An arm's chain for the engine's passes, and the moving state they start from; robot is null
// (and the benchmark skipped) when the file cannot be loaded.
struct Chain {
  Chain(benchmark::State& state, const std::string& path) : robot(LoadOrSkip(state, path)) {
    if (robot) {
      n = static_cast<int>(robot->links.size());
      model = recursive::BuildChainModel(*robot);
      data.Resize(n);
      s = MovingState(static_cast<std::size_t>(n));
    }
  }

  std::unique_ptr<Robot> robot;
  int n = 0;
  recursive::ChainModel model;
  recursive::ChainData data;
  ArmState s;
};

// M by composite rigid bodies: the pass that places the links, then the composite-body pass.
void BM_RecursiveMass(benchmark::State& state, const std::string& path) {
  Chain chain(state, path);
  auto& [robot, n, model, data, s] = chain;
  if (!robot) {
    return;
  }
  std::vector<double> mass(static_cast<std::size_t>(n) * n);
  const std::size_t before = allocationCount;
  for (auto _ : state) {
    recursive::Kinematics(model, data, s.q.data(), s.qd.data(), {0.0, 0.0, -9.81}, false);
    recursive::CompositeBody(model, data, mass.data());
    benchmark::DoNotOptimize(mass.data());
    benchmark::ClobberMemory();
  }
  ReportAllocations(state, before);
}

// The closed form's M: its kinematics pass, the link Jacobians, M.
void BM_ClosedFormMass(benchmark::State& state, const std::string& path) {
  const std::unique_ptr<Robot> robot = LoadOrSkip(state, path);
  if (!robot) {
    return;
  }
  const auto n = static_cast<uint32_t>(robot->links.size());
  Restore(*robot, MovingState(n));
  LinkFrames frames;
  const std::size_t block = 3 * static_cast<std::size_t>(n);
  std::vector<double> jv(block * n), jw(block * n), mass(static_cast<std::size_t>(n) * n);
  for (auto _ : state) {
    UpdateLinkKinematics(*robot, frames);
    for (uint32_t i = 0; i < n; ++i) {
      flat::LinearJacobian(frames, i, &jv[block * i]);
      flat::AngularJacobian(frames, i, &jw[block * i]);
    }
    flat::MassMatrix({robot.get(), &frames, jv.data(), jw.data()}, mass.data());
    benchmark::DoNotOptimize(mass.data());
    benchmark::ClobberMemory();
  }
}

// MuJoCo's M: the position stages it needs (mj_kinematics, mj_comPos), mj_crb, and mj_fullM for
// the dense matrix.
void BM_MujocoMass(benchmark::State& state, const std::string& path) {
  char error[1000] = "";
  mjModel* model = mj_loadXML(path.c_str(), nullptr, error, sizeof error);
  if (model == nullptr) {
    state.SkipWithError(error);
    return;
  }
  mjData* data = mj_makeData(model);
  const ArmState s = MovingState(static_cast<std::size_t>(model->nq));
  for (int i = 0; i < model->nq; ++i) {
    data->qpos[i] = s.q[static_cast<std::size_t>(i)];
  }
  std::vector<mjtNum> dense(static_cast<std::size_t>(model->nv) * model->nv);
  for (auto _ : state) {
    mj_kinematics(model, data);
    mj_comPos(model, data);
    mj_crb(model, data);
    mj_fullM(model, dense.data(), data->qM);
    benchmark::DoNotOptimize(dense.data());
    benchmark::ClobberMemory();
  }
  state.counters["dofs"] = model->nv;
  mj_deleteData(data);
  mj_deleteModel(model);
}

void RegisterMassMatrices() {
  for (const UrdfArm& arm : UrdfArms()) {
    if (!MassArm(arm)) {
      continue;
    }
    benchmark::RegisterBenchmark(("BM_RecursiveMass/" + arm.name).c_str(), BM_RecursiveMass,
                                 arm.path)
        ->Apply(Repeated);
    benchmark::RegisterBenchmark(("BM_ClosedFormMass/" + arm.name).c_str(), BM_ClosedFormMass,
                                 arm.path)
        ->Apply(Repeated);
    benchmark::RegisterBenchmark(("BM_MujocoMass/" + arm.name).c_str(), BM_MujocoMass, arm.path)
        ->Apply(Repeated);
  }
}

// ---- Frame kinematics next to forward dynamics -------------------------------------------------

// The frame a controller follows: the last frame of the file (the tool).
void BM_FrameKinematics(benchmark::State& state, const std::string& path, bool all) {
  Chain chain(state, path);
  auto& [robot, n, model, data, s] = chain;
  if (!robot) {
    return;
  }
  const std::vector<recursive::FrameModel> frames = recursive::BuildFrameModels(*robot);
  std::vector<double> jacobian(6 * static_cast<std::size_t>(n)), local(jacobian.size());
  double drift[6], localDrift[6];
  const std::size_t before = allocationCount;
  for (auto _ : state) {
    if (all) {
      // Every frame's pose: the placements need no velocities.
      recursive::Kinematics(model, data, s.q.data(), nullptr, {});
      recursive::Placements(model, data, nullptr);
      for (const recursive::FrameModel& frame : frames) {
        benchmark::DoNotOptimize(recursive::FramePose(data, frame));
      }
    } else {
      const recursive::FrameModel& tool = frames.back();
      recursive::Kinematics(model, data, s.q.data(), s.qd.data(), {});
      recursive::Placements(model, data, s.qd.data());
      benchmark::DoNotOptimize(recursive::FramePose(data, tool));
      recursive::FrameJacobian(model, data, tool, recursive::FrameAxes::kBase, jacobian.data());
      recursive::FrameJacobian(model, data, tool, recursive::FrameAxes::kFrame, local.data());
      recursive::FrameDriftAcceleration(data, tool, recursive::FrameAxes::kBase, drift);
      recursive::FrameDriftAcceleration(data, tool, recursive::FrameAxes::kFrame, localDrift);
      benchmark::DoNotOptimize(drift);
      benchmark::DoNotOptimize(localDrift);
    }
    benchmark::ClobberMemory();
  }
  ReportAllocations(state, before);
  state.counters["frames"] = static_cast<double>(frames.size());
}

// One forward-dynamics pass of the recursive engine: Kinematics, then the articulated bodies.
void BM_ForwardPass(benchmark::State& state, const std::string& path) {
  Chain chain(state, path);
  auto& [robot, n, model, data, s] = chain;
  if (!robot) {
    return;
  }
  std::vector<double> tau(static_cast<std::size_t>(n), 0.5), qdd(static_cast<std::size_t>(n));
  for (auto _ : state) {
    recursive::Kinematics(model, data, s.q.data(), s.qd.data(), {0.0, 0.0, -9.81});
    recursive::ArticulatedBody(model, data, nullptr, tau.data(), nullptr, qdd.data());
    benchmark::DoNotOptimize(qdd.data());
    benchmark::ClobberMemory();
  }
}

void RegisterFrameKinematics() {
  for (const UrdfArm& arm : UrdfArms()) {
    if (arm.name != "industrial6" && arm.name != "arm7_gripper" && arm.name != "puma560") {
      continue;
    }
    benchmark::RegisterBenchmark(("BM_ToolKinematics/" + arm.name).c_str(), BM_FrameKinematics,
                                 arm.path, false)
        ->Apply(Repeated);
    benchmark::RegisterBenchmark(("BM_AllFramePoses/" + arm.name).c_str(), BM_FrameKinematics,
                                 arm.path, true)
        ->Apply(Repeated);
    benchmark::RegisterBenchmark(("BM_ForwardPass/" + arm.name).c_str(), BM_ForwardPass, arm.path)
        ->Apply(Repeated);
  }
}

// ---- Controllers next to forward dynamics ------------------------------------------------------

// One evaluation of the law at a moving state, its reference under way.
void BM_ControllerEvaluation(benchmark::State& state, const std::string& path,
                             ControllerKind kind) {
  Chain chain(state, path);
  auto& [robot, n, model, data, s] = chain;
  if (!robot) {
    return;
  }
  ControllerSettings settings;
  settings.kind = kind;
  if (kind == ControllerKind::kTaskPd) {
    settings.target = {0.3, 0.2, 0.5};
  } else {
    settings.target.assign(static_cast<std::size_t>(n), 0.4);
  }
  settings.duration = 2.0;
  Controller controller(*robot, settings);
  const std::vector<double> viscous(static_cast<std::size_t>(n), 0.1), coulomb(viscous);
  controller.BeginTick(s.q.data(), {{0.0, 0.0, -9.81}, viscous.data(), coulomb.data()});
  for (int t = 0; t < 50; ++t) {
    controller.EndTick();
  }
  std::vector<double> tau(static_cast<std::size_t>(n));
  const std::size_t before = allocationCount;
  for (auto _ : state) {
    controller.Torque(0.004, s.q.data(), s.qd.data(), tau.data());
    benchmark::DoNotOptimize(tau.data());
    benchmark::ClobberMemory();
  }
  ReportAllocations(state, before);
}

// A tick of the arm's default step holding a pose by computed torque at the rate given (samples
// per tick, 0: continuous, -1: no controller), from the same moving state every time.
void BM_ControlledTick(benchmark::State& state, const std::string& path, int samples) {
  Chain chain(state, path);
  auto& [robot, n, model, data, s] = chain;
  if (!robot) {
    return;
  }
  Stepper stepper(*robot, DefaultStepOptions(true));
  if (samples >= 0) {
    ControllerSettings settings;
    settings.kind = ControllerKind::kComputedTorque;
    settings.samples = samples;
    settings.target = s.q;
    settings.trajectory = TrajectoryKind::kStep;
    stepper.SetController(std::make_shared<Controller>(*robot, settings));
  }
  matrix<double> torque(static_cast<uint32_t>(n), 1);
  torque.SetZero();
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) {
      robot->links[static_cast<std::size_t>(i)]->q = s.q[static_cast<std::size_t>(i)];
      robot->links[static_cast<std::size_t>(i)]->qd = s.qd[static_cast<std::size_t>(i)];
    }
    benchmark::DoNotOptimize(stepper.Forward(torque));
  }
}

void RegisterControllers() {
  const std::pair<const char*, ControllerKind> laws[] = {
      {"gravity", ControllerKind::kGravity},
      {"pd", ControllerKind::kPd},
      {"computed-torque", ControllerKind::kComputedTorque},
      {"task-pd", ControllerKind::kTaskPd}};
  for (const UrdfArm& arm : UrdfArms()) {
    if (arm.name != "industrial6" && arm.name != "arm7_gripper" && arm.name != "chain24") {
      continue;
    }
    for (const auto& [name, kind] : laws) {
      benchmark::RegisterBenchmark(("BM_Controller/" + std::string(name) + "/" + arm.name).c_str(),
                                   BM_ControllerEvaluation, arm.path, kind)
          ->Apply(Repeated);
    }
    if (arm.name == "chain24") {
      benchmark::RegisterBenchmark(("BM_ForwardPass/" + arm.name).c_str(), BM_ForwardPass, arm.path)
          ->Apply(Repeated);
    }
    for (const auto& [name, samples] :
         {std::pair<const char*, int>{"none", -1}, {"continuous", 0}, {"1kHz", 10}, {"100Hz", 1}}) {
      benchmark::RegisterBenchmark(
          ("BM_ComputedTorqueTick/" + std::string(name) + "/" + arm.name).c_str(),
          BM_ControlledTick, arm.path, samples)
          ->Apply(Repeated);
    }
  }
}

// The built-in arm as a KDL chain: each segment turns about x, then moves 0.3 m along y; its
// inertia is given in that tip frame, where the centre of mass lies 0.15 m back along y.
KDL::Chain KdlBuiltInArm(std::size_t n) {
  KDL::Chain chain;
  for (std::size_t i = 0; i < n; ++i) {
    chain.addSegment(KDL::Segment(
        KDL::Joint(KDL::Joint::RotX), KDL::Frame(KDL::Vector(0.0, 0.3, 0.0)),
        KDL::RigidBodyInertia(1.0, KDL::Vector(0.0, -0.15, 0.0),
                              KDL::RotationalInertia(0.01, 0.01, 0.01, 0.0, 0.0, 0.0))));
  }
  return chain;
}

// One forward step of KDL: accelerations by ChainFdSolver_RNE, then the same semi-implicit Euler.
void BM_KdlForwardStep(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const KDL::Chain chain = KdlBuiltInArm(n);
  KDL::ChainFdSolver_RNE solver(chain, KDL::Vector(0.0, 0.0, -9.81));
  const ArmState start = MovingState(n);
  const auto joints = static_cast<unsigned int>(n);
  KDL::JntArray q(joints), qd(joints), qdd(joints), torque(joints);
  const KDL::Wrenches external(n, KDL::Wrench::Zero());
  for (auto _ : state) {
    for (unsigned int i = 0; i < joints; ++i) {
      q(i) = start.q[i];
      qd(i) = start.qd[i];
    }
    solver.CartToJnt(q, qd, torque, external, qdd);
    for (unsigned int i = 0; i < joints; ++i) {
      qd(i) = qdd(i) * kTimeStep + qd(i);
      q(i) = qd(i) * kTimeStep + q(i);
    }
    benchmark::DoNotOptimize(q(0));
  }
}
BENCHMARK(BM_KdlForwardStep)->ArgName("links")->ArgsProduct({kLinkCounts})->Apply(Repeated);

// Keeps the CPU time per iteration of every case for the summary (the median of its runs): on a
// shared machine it is not inflated by time spent waiting for the processor.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  explicit SummaryReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (single || median) {
        const std::string& args = run.run_name.args;
        seconds_[run.run_name.function_name + (args.empty() ? "" : "/" + args)] =
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
  }

  void PrintSummary() const {
    const double forward = Find("BM_ForwardTick/links:6");
    const double kdl = Find("BM_KdlForwardStep/links:6");
    if (forward > 0 && kdl > 0) {
      std::printf("forward tick / KDL forward step, built-in arm: %.2f\n", forward / kdl);
    }
    for (const UrdfArm& arm : UrdfArms()) {
      const double mujoco = Find("BM_MujocoStep/" + arm.name);
      const double cold = Find("BM_DefaultTick/" + arm.name);
      const double run = Find("BM_DefaultRun/" + arm.name);
      if (mujoco > 0 && cold > 0 && run > 0) {
        std::printf("%-13s default tick / mj_step: %.2f from a moving state, %.2f over a fall\n",
                    arm.name.c_str(), cold / mujoco, run / mujoco);
      }
    }
    for (const char* name : {"BM_DefaultTick", "BM_DefaultRun", "BM_MujocoStep"}) {
      const double t12 = Find(std::string(name) + "/chain12");
      const double t100 = Find(std::string(name) + "/chain100");
      if (t12 > 0 && t100 > 0) {
        std::printf("%s: growth exponent from 12 to 100 links: %.2f\n", name,
                    std::log(t100 / t12) / std::log(100.0 / 12.0));
      }
    }
    PrintWorkPrecision();
    for (const char* name : {"BM_ForwardTick", "BM_InverseTick", "BM_KdlForwardStep"}) {
      const double t12 = Find(std::string(name) + "/links:12");
      const double t24 = Find(std::string(name) + "/links:24");
      if (t12 > 0 && t24 > 0) {
        std::printf("%s: growth exponent from 12 to 24 links: %.2f\n", name,
                    std::log(t24 / t12) / std::log(2.0));
      }
    }
    for (const UrdfArm& arm : UrdfArms()) {
      const double ours = Find("BM_RecursiveMass/" + arm.name);
      const double closed = Find("BM_ClosedFormMass/" + arm.name);
      const double mujoco = Find("BM_MujocoMass/" + arm.name);
      if (ours > 0 && closed > 0 && mujoco > 0) {
        std::printf(
            "%-13s mass matrix: composite bodies %.3g us, / closed form %.3f, / mj_crb %.3f\n",
            arm.name.c_str(), ours * 1e6, ours / closed, ours / mujoco);
      }
    }
    for (const UrdfArm& arm : UrdfArms()) {
      const double tool = Find("BM_ToolKinematics/" + arm.name);
      const double poses = Find("BM_AllFramePoses/" + arm.name);
      const double forward = Find("BM_ForwardPass/" + arm.name);
      if (tool > 0 && poses > 0 && forward > 0) {
        std::printf(
            "%-13s / forward dynamics: tool frame's pose, Jacobians, J-dot qd %.2f; every "
            "frame's pose %.2f\n",
            arm.name.c_str(), tool / forward, poses / forward);
      }
    }
    for (const char* name : {"BM_RecursiveMass", "BM_MujocoMass"}) {
      const double t6 = Find(std::string(name) + "/chain6");
      const double t100 = Find(std::string(name) + "/chain100");
      if (t6 > 0 && t100 > 0) {
        std::printf("%s: growth exponent from 6 to 100 links: %.2f\n", name,
                    std::log(t100 / t6) / std::log(100.0 / 6.0));
      }
    }
  }

 private:
  // For each arm and tolerance: our error and cost per tick, and the cheapest MuJoCo setting whose
  // error is no larger, with its cost.
  void PrintWorkPrecision() const {
    for (const WorkArm& arm : WorkArms()) {
      for (double tolerance : kWorkTolerances) {
        const std::string ours = "ours/" + arm.name + "/" + ToleranceText(tolerance);
        const double seconds =
            Find("BM_OursWorkPrecision/" + arm.name + "/" + ToleranceText(tolerance));
        if (WorkErrors().count(ours) == 0 || seconds <= 0) {
          continue;
        }
        const double error = WorkErrors().at(ours), cost = seconds / kWorkTicks;
        std::string best = "none";
        double bestCost = INFINITY, bestError = NAN;
        for (const char* integrator : {"euler", "rk4"}) {
          for (int dt : kMujocoStepsUs) {
            const std::string tail = arm.name + "/" + integrator + "/" + std::to_string(dt);
            const auto it = WorkErrors().find("mujoco/" + tail);
            const double t = Find("BM_MujocoWorkPrecision/" + tail) / kWorkTicks;
            if (it != WorkErrors().end() && it->second <= error && t > 0 && t < bestCost) {
              best = std::string(integrator) + " at " + std::to_string(dt) + " us";
              bestCost = t;
              bestError = it->second;
            }
          }
        }
        std::printf("%-12s dopri5 %-6s error %.1e, %.3g us per tick; ", arm.name.c_str(),
                    ToleranceText(tolerance).c_str(), error, cost * 1e6);
        if (std::isfinite(bestCost)) {
          std::printf(
              "cheapest MuJoCo as accurate: %s (error %.1e, %.3g us per tick): ratio "
              "%.2f\n",
              best.c_str(), bestError, bestCost * 1e6, cost / bestCost);
        } else {
          std::printf("no MuJoCo setting tried is as accurate\n");
        }
      }
    }
  }

  double Find(const std::string& name) const {
    const auto it = seconds_.find(name);
    return it == seconds_.end() ? 0.0 : it->second;
  }

  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RegisterSampleTicks();
  // MuJoCo's warnings (a chain that its step cannot hold) would go to standard output and a log
  // file of its own.
  mju_user_warning = [](const char*) {};
  WriteUrdfArms();
  RegisterUrdfTicks();
  RegisterStiffSeconds();
  RegisterWorkPrecision();
  RegisterMassMatrices();
  RegisterFrameKinematics();
  RegisterControllers();
  // Colours only on a terminal, as the library's own console output does.
  SummaryReporter reporter(isatty(STDOUT_FILENO) == 1 ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  RemoveUrdfArms();
  return 0;
}
