// The tick the page's engine takes, natively: one forward tick with the arm's default step, on the
// built-in arm of 1 to 24 links and on every sample arm, from rest under gravity (the arm falling,
// as the page opens). bench/page_bench.mjs measures the same ticks compiled to WebAssembly in
// headless Chromium and sets the two side by side.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "robot/robot.h"
#include "simulation/step_options.h"
#include "simulation/stepper.h"
#include "urdf/urdf_loader.h"

namespace {

// Ticks from rest, started afresh every kRunTicks ticks so that the arm's motion stays that of the
// page's first seconds.
constexpr int kRunTicks = 300;

void TickArm(benchmark::State& state, std::unique_ptr<Robot> robot, bool fromFile) {
  if (!robot) {
    state.SkipWithError("the arm cannot be loaded");
    return;
  }
  const auto n = static_cast<uint32_t>(robot->links.size());
  matrix<double> torque(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    torque(i, 0) = 0.0;
  }
  auto stepper = std::make_unique<Stepper>(*robot, DefaultStepOptions(fromFile));
  int ticks = 0;
  for (auto _ : state) {
    if (++ticks == kRunTicks) {
      state.PauseTiming();
      robot->ResetJointState();
      stepper = std::make_unique<Stepper>(*robot, DefaultStepOptions(fromFile));
      ticks = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(stepper->Forward(torque));
  }
}

void BM_PageTickBuiltIn(benchmark::State& state) {
  TickArm(state, MakeBuiltInRobot(static_cast<int>(state.range(0))), false);
}
BENCHMARK(BM_PageTickBuiltIn)->ArgName("links")->DenseRange(1, 24);

void BM_PageTickSample(benchmark::State& state, const std::string& file) {
  std::string error;
  TickArm(state, LoadUrdfRobot(std::string(VELMOTH_EXAMPLES) + "/" + file, error), true);
}

const int registered = [] {
  for (const char* file : {"arm7_gripper.urdf", "double_pendulum.urdf", "industrial6.urdf",
                           "planar_3link.urdf", "puma560.urdf", "scara.urdf"}) {
    benchmark::RegisterBenchmark((std::string("BM_PageTickSample/") + file).c_str(),
                                 BM_PageTickSample, std::string(file));
  }
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
