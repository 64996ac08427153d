// The loader against hostile meshes: how long a mesh that names a FIFO, a folder, /dev/zero or a
// loop of links takes to give its notice; ten thousand visuals of missing files, or of missing
// packages along a wide search path, to give theirs; a polygon of a million corners to be refused;
// how long stopping the loader takes while it reads a large mesh; and what the window does
// before it opens (the arm and its description read, the loader started) for the industrial arm,
// the ten thousand missing meshes and the hostile meshes. --quick makes the large cases small
// (the test suite's run).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "urdf/urdf_loader.h"
#include "urdf/urdf_text.h"
#include "visuals/shape_loader.h"
#include "visuals/urdf_visuals.h"

namespace {

namespace fs = std::filesystem;

bool quick = false;

const fs::path& Folder() {
  static const fs::path folder = [] {
    const fs::path f =
        fs::temp_directory_path() / ("velmoth_mesh_bench_" + std::to_string(getpid()));
    fs::remove_all(f);
    fs::create_directories(f / "m" / "folder");
    mkfifo((f / "m" / "fifo").c_str(), 0600);
    fs::create_symlink("loop_b", f / "m" / "loop_a");
    fs::create_symlink("loop_a", f / "m" / "loop_b");
    return f;
  }();
  return folder;
}

std::string Write(const std::string& name, const std::string& text) {
  const fs::path path = Folder() / name;
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

const char kInertial[] =
    "<inertial><mass value='1'/><inertia ixx='1' iyy='1' izz='1' ixy='0' ixz='0' iyz='0'/>"
    "</inertial>";

// A base and one moving link with the given visuals.
std::string Arm(const std::string& visuals) {
  return std::string(
             "<robot name='r'><link name='base'/><joint name='j' type='revolute'><parent "
             "link='base'/><child link='l'/><axis xyz='0 0 1'/><limit lower='-1' "
             "upper='1' effort='1' velocity='1'/></joint><link name='l'>") +
         kInertial + visuals + "</link></robot>";
}

std::string MeshVisual(const std::string& uri) {
  return "<visual><geometry><mesh filename='" + uri + "'/></geometry></visual>";
}

void Notices(benchmark::State& state, const std::string& text, const PackageSearch& search,
             std::size_t expected) {
  for (auto _ : state) {
    std::vector<std::string> notices;
    const VisualModel model = LoadUrdfVisualsFromText(text, "r.urdf", search, notices);
    if (notices.size() != expected) {
      state.SkipWithError(("notices: " + std::to_string(notices.size())).c_str());
      return;
    }
    benchmark::DoNotOptimize(model.shapes.data());
  }
}

// An OBJ file naming `named` as its material library: one notice, within what time.
void BM_MeshNamesAHostileFile(benchmark::State& state, const char* named) {
  Write(std::string("m/") + named + ".obj",
        std::string("mtllib ") + named + "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  Notices(state, Arm(MeshVisual(std::string("m/") + named + ".obj")), {{}, Folder().string()}, 1);
}
BENCHMARK_CAPTURE(BM_MeshNamesAHostileFile, fifo, "fifo")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MeshNamesAHostileFile, folder, "folder")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MeshNamesAHostileFile, dev_zero, "/dev/zero")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MeshNamesAHostileFile, link_loop, "loop_a")->Unit(benchmark::kMillisecond);

// A glTF file whose buffer is a FIFO.
void BM_GltfBufferIsAFifo(benchmark::State& state) {
  Write("m/fifo.gltf",
        R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
 "nodes": [{"mesh": 0}], "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
 "buffers": [{"uri": "fifo", "byteLength": 36}], "bufferViews": [{"buffer": 0, "byteLength": 36}],
 "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
   "min": [0, 0, 0], "max": [1, 1, 0]}]})");
  Notices(state, Arm(MeshVisual("m/fifo.gltf")), {{}, Folder().string()}, 1);
}
BENCHMARK(BM_GltfBufferIsAFifo)->Unit(benchmark::kMillisecond);

std::string ManyMissing(int count, bool packages) {
  std::string visuals;
  for (int i = 0; i < count; ++i) {
    visuals += MeshVisual(packages ? "package://gone_" + std::to_string(i) + "/m.stl"
                                   : "missing/" + std::to_string(i) + ".stl");
  }
  return Arm(visuals);
}

// Ten thousand visuals naming missing files, each its own.
void BM_MissingMeshes(benchmark::State& state) {
  const int count = quick ? 100 : static_cast<int>(state.range(0));
  Notices(state, ManyMissing(count, false), {{}, Folder().string()}, count);
}
BENCHMARK(BM_MissingMeshes)->Arg(10000)->Unit(benchmark::kMillisecond);

// Ten thousand visuals naming missing packages, looked for along /usr (as wide as a search path
// gets: the search stops at its cap of folders) and above the file.
void BM_MissingPackages(benchmark::State& state) {
  const int count = quick ? 100 : static_cast<int>(state.range(0));
  Notices(state, ManyMissing(count, true), {{"/usr"}, Folder().string()}, count);
}
BENCHMARK(BM_MissingPackages)->Arg(10000)->Unit(benchmark::kMillisecond);

std::string Polygon(int corners) {
  std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf";
  for (int i = 0; i < corners; ++i) {
    text += " " + std::to_string(i % 3 + 1);
  }
  return text + "\n";
}

// The 2 MB OBJ file of one polygon of a million corners, refused by the cap.
void BM_MillionCornerPolygon(benchmark::State& state) {
  Write("m/polygon.obj", Polygon(quick ? 2000 : 1000000));
  Notices(state, Arm(MeshVisual("m/polygon.obj")), {{}, Folder().string()}, 1);
}
BENCHMARK(BM_MillionCornerPolygon)->Unit(benchmark::kMillisecond);

// Stopping the loader while it reads a mesh near the caps (polygons of 64 corners making a
// million triangles, 16 MB): from Stop to the thread's end.
void BM_StopWhileReading(benchmark::State& state) {
  std::string text;
  const int corners = 64, polygons = quick ? 100 : 15000;
  for (int i = 0; i < corners; ++i) {
    text += "v " + std::to_string(std::cos(i * 0.0981)) + " " +
            std::to_string(std::sin(i * 0.0981)) + " 0\n";
  }
  std::string face = "f";
  for (int i = 1; i <= corners; ++i) {
    face += " " + std::to_string(i);
  }
  for (int p = 0; p < polygons; ++p) {
    text += face + "\n";
  }
  Write("m/large.obj", text);
  const std::string description = Arm(MeshVisual("m/large.obj"));
  for (auto _ : state) {
    state.PauseTiming();
    ShapeLoader loader(
        std::make_unique<UrdfShapes>(description, "r.urdf", PackageSearch{{}, Folder().string()}));
    usleep(100000);  // well inside the reading
    state.ResumeTiming();
    loader.Stop();
  }
}
BENCHMARK(BM_StopWhileReading)->Unit(benchmark::kMillisecond)->Iterations(5);

// What the window does before it opens: the arm loaded from its file, the description read for
// its shapes and the loader started (then stopped at once, as a window closed right away would).
void BM_BeforeTheWindow(benchmark::State& state, int which) {
  std::string path;
  if (which == 0) {
    path = VELMOTH_EXAMPLES "/industrial6.urdf";
  } else if (which == 1) {
    path = Write("missing.urdf", ManyMissing(quick ? 100 : 10000, false));
  } else {
    Write("m/polygon.obj", Polygon(quick ? 2000 : 1000000));
    Write("m/fifo.obj", "mtllib fifo\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    path = Write("hostile.urdf", Arm(MeshVisual("m/polygon.obj") + MeshVisual("m/fifo.obj") +
                                     MeshVisual("m/fifo")));
  }
  for (auto _ : state) {
    std::string error, text;
    std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error);
    if (!robot || !ReadUrdfFile(path, text).empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
    ShapeLoader loader(std::make_unique<UrdfShapes>(text, path, PackageSearchFor(path, {})));
    benchmark::DoNotOptimize(loader.Version());
  }
}
BENCHMARK_CAPTURE(BM_BeforeTheWindow, industrial6, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BeforeTheWindow, ten_thousand_missing, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BeforeTheWindow, hostile, 2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Folder());
  return 0;
}
