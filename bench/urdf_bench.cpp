// Loading a URDF file: the PUMA 560 sample, and generated chains of 6, 25 and 100 moving joints
// with a fixed joint and a massive link between every two of them (the worst a file may hold),
// read from a file as velmoth-sim and the window read them; and the shapes of the industrial arm
// sample, its seven meshes (COLLADA, STL and OBJ) found through its package and read, as the
// window reads them before it opens.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "urdf/urdf_loader.h"
#include "visuals/urdf_visuals.h"

namespace {

const char kInertial[] =
    "<inertial><origin xyz=\"0.1 0.02 0\" rpy=\"0.1 0.2 0.3\"/><mass value=\"1.5\"/>"
    "<inertia ixx=\"0.02\" iyy=\"0.03\" izz=\"0.04\" ixy=\"0.001\" ixz=\"0\" iyz=\"0.002\"/>"
    "</inertial>";

// `moving` joints turning about a tilted axis, each followed by a fixed joint.
std::string Chain(int64_t moving) {
  std::string text = "<?xml version=\"1.0\"?>\n<robot name=\"chain\">\n<link name=\"l0\"/>\n";
  int64_t link = 0;
  const auto add = [&](const char* type, const char* more) {
    const std::string parent = "l" + std::to_string(link), child = "l" + std::to_string(++link);
    text += "<joint name=\"j" + std::to_string(link) + "\" type=\"" + type + "\"><parent link=\"" +
            parent + "\"/><child link=\"" + child +
            "\"/><origin xyz=\"0.2 0 0.05\" rpy=\"0 0.3 0\"/>" + more + "</joint>\n<link name=\"" +
            child + "\">" + kInertial + "</link>\n";
  };
  for (int64_t j = 0; j < moving; ++j) {
    add("continuous", "<axis xyz=\"0 0.6 0.8\"/>");
    add("fixed", "");
  }
  return text + "</robot>\n";
}

void Load(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    std::string error;
    std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error);
    if (!robot) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(robot->links.data());
  }
}

void BM_LoadChain(benchmark::State& state) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("velmoth_urdf_bench_" + std::to_string(getpid()) + ".urdf"))
                               .string();
  std::ofstream(path) << Chain(state.range(0));
  Load(state, path);
  std::remove(path.c_str());
}
BENCHMARK(BM_LoadChain)
    ->ArgName("joints")
    ->Arg(6)
    ->Arg(25)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond);

void BM_LoadPuma560(benchmark::State& state) {
  Load(state, std::string(VELMOTH_EXAMPLES) + "/puma560.urdf");
}
BENCHMARK(BM_LoadPuma560)->Unit(benchmark::kMillisecond);

void BM_LoadShapesIndustrial6(benchmark::State& state) {
  const std::string path = std::string(VELMOTH_EXAMPLES) + "/industrial6.urdf";
  for (auto _ : state) {
    std::vector<std::string> notices;
    const VisualModel model = LoadUrdfVisuals(path, PackageSearchFor(path, {}), notices);
    if (model.shapes.size() != 7 || !notices.empty()) {
      state.SkipWithError("the sample's meshes did not load");
      return;
    }
    benchmark::DoNotOptimize(model.shapes.data());
  }
}
BENCHMARK(BM_LoadShapesIndustrial6)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
