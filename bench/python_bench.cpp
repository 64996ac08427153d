// What the Python module costs next to the C++ tick it calls, for the built-in arm and arms of the
// sample files on their default steps: BM_CppTick runs the Stepper's forward ticks in C++;
// BM_PythonRun runs the same ticks with Simulation.run called from Python (a row of the trajectory
// recorded per tick); BM_PythonStep calls Simulation.step once per tick from a Python loop. Every
// iteration falls from rest for kTicks ticks. The interpreter is embedded; the module is the one
// in the build tree. After the run a summary gives run's cost over the C++ tick (in percent) and
// the cost of a step() call beyond the tick (in microseconds), from the medians of three
// repetitions of CPU time.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "robot/robot.h"
#include "simulation/stepper.h"
#include "urdf/urdf_loader.h"

namespace py = pybind11;

namespace {

constexpr int kTicks = 1000;

struct Arm {
  std::string name;
  std::string urdf;  // empty: the built-in arm of 6 links
};

const std::vector<Arm>& Arms() {
  static const std::vector<Arm> arms = {
      {"builtin6", ""},
      {"industrial6", VELMOTH_EXAMPLES "/industrial6.urdf"},
      {"puma560", VELMOTH_EXAMPLES "/puma560.urdf"},
      {"double_pendulum", VELMOTH_EXAMPLES "/double_pendulum.urdf"},
  };
  return arms;
}

std::unique_ptr<Robot> MakeArm(const Arm& arm) {
  if (arm.urdf.empty()) {
    return MakeBuiltInRobot();
  }
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(arm.urdf, error);
  if (!robot) {
    std::fprintf(stderr, "python_bench: %s\n", error.c_str());
  }
  return robot;
}

void BM_CppTick(benchmark::State& state, const Arm& arm) {
  std::unique_ptr<Robot> robot = MakeArm(arm);
  if (!robot) {
    state.SkipWithError("the arm cannot be loaded");
    return;
  }
  const StepOptions options = DefaultStepOptions(!arm.urdf.empty());
  // No torque, as the Python side runs: the matrix library leaves a new matrix's elements unset.
  matrix<double> torque(static_cast<uint32_t>(robot->links.size()), 1);
  torque.SetZero();
  for (auto _ : state) {
    // As Simulation.reset: at rest, a new step.
    robot->ResetJointState();
    Stepper stepper(*robot, options);
    for (int t = 0; t < kTicks; ++t) {
      benchmark::DoNotOptimize(stepper.Forward(torque));
    }
  }
  state.SetItemsProcessed(state.iterations() * kTicks);
}

// The Python side: a Simulation of the arm, and the functions that run its ticks.
py::object Simulation(const Arm& arm) {
  py::module_ velmoth = py::module_::import("velmoth");
  py::object robot = arm.urdf.empty() ? velmoth.attr("Robot").attr("builtin")()
                                      : velmoth.attr("Robot").attr("from_urdf")(arm.urdf);
  return velmoth.attr("Simulation")(robot);
}

py::object PythonFunction(const char* name) {
  static py::dict scope = [] {
    py::dict d;
    d["__builtins__"] = py::module_::import("builtins");
    py::exec(R"(
import numpy as np

def run_ticks(sim, n):
    sim.reset()
    sim.run(n, np.zeros(sim.dof))

def step_ticks(sim, n):
    sim.reset()
    step, tau = sim.step, np.zeros(sim.dof)
    for _ in range(n):
        step(tau)
)",
             d);
    return d;
  }();
  return scope[name];
}

void BM_PythonRun(benchmark::State& state, const Arm& arm) {
  py::object sim = Simulation(arm);
  py::object run = PythonFunction("run_ticks");
  for (auto _ : state) {
    run(sim, kTicks);
  }
  state.SetItemsProcessed(state.iterations() * kTicks);
}

void BM_PythonStep(benchmark::State& state, const Arm& arm) {
  py::object sim = Simulation(arm);
  py::object step = PythonFunction("step_ticks");
  for (auto _ : state) {
    step(sim, kTicks);
  }
  state.SetItemsProcessed(state.iterations() * kTicks);
}

// Keeps the CPU time per tick of every case (the median where repeated) for the summary: on a
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
        seconds_[run.run_name.function_name] =
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) / kTicks;
      }
    }
  }

  void PrintSummary() const {
    std::printf("\n%-16s %12s %14s %8s %15s %12s\n", "arm", "C++ tick", "run per tick", "run",
                "step() call", "step over");
    for (const Arm& arm : Arms()) {
      const double tick = Find("BM_CppTick/" + arm.name);
      const double run = Find("BM_PythonRun/" + arm.name);
      const double step = Find("BM_PythonStep/" + arm.name);
      if (tick > 0 && run > 0 && step > 0) {
        std::printf("%-16s %9.3f us %11.3f us %+7.1f%% %12.3f us %9.3f us\n", arm.name.c_str(),
                    tick * 1e6, run * 1e6, (run / tick - 1.0) * 100.0, step * 1e6,
                    (step - tick) * 1e6);
      }
    }
  }

 private:
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
  py::scoped_interpreter interpreter;
  py::module_::import("sys").attr("path").attr("insert")(0, VELMOTH_PYTHON_MODULE_DIR);
  for (const Arm& arm : Arms()) {
    benchmark::RegisterBenchmark(("BM_CppTick/" + arm.name).c_str(), BM_CppTick, arm)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(3)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark(("BM_PythonRun/" + arm.name).c_str(), BM_PythonRun, arm)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(3)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark(("BM_PythonStep/" + arm.name).c_str(), BM_PythonStep, arm)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(3)
        ->ReportAggregatesOnly(true);
  }
  SummaryReporter reporter(isatty(STDOUT_FILENO) == 1 ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
