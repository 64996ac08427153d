// Paint cost of the 3-D view with the built-in arm, at the size the main window gives the view.
//
// The main window is 601 x 402 dialog units; with an 8-point dialog font a unit is about 1.5 px
// wide and 1.6 px high, so its client area is about 900 x 650 px and the view below the 130 px
// panel about 900 x 520 px. The benchmarks use 1000 x 650 px, a little more than that, so the
// figures are on the safe side. Times are wall-clock: Mesa's software renderer works on threads of
// its own.
//
//   PaintScene    one paint of the scene into the view's framebuffer, waited for with glFinish:
//                 what the view itself costs per simulation tick.
//   UpdateWindow  update() as the simulation tick calls it, then the event loop until the view has
//                 painted: the paint plus the swap of the view's own window to the X server.
//   PaintShapes   one paint of an arm from a file drawn with its shapes (display lists made at the
//                 first paint), and PaintFigure the same arm as its figure: by default the
//                 industrial arm sample with its meshes; `view_bench --urdf FILE [--package-path
//                 DIR]...` paints another file's arm (FILE at its zero pose, seen from above as the
//                 window starts it).
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "robot/robot.h"
#include "urdf/urdf_loader.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd_custom.h"
#include "visuals/urdf_visuals.h"

namespace {

constexpr int kViewWidth = 1000;
constexpr int kViewHeight = 650;

class BenchView : public COglWndCustom {
 public:
  using COglWndCustom::COglWndCustom;

  void PaintOnce() {
    makeCurrent();
    paintGL();
    glFinish();
  }

  // Schedules a repaint and runs the event loop until it has happened.
  void UpdateOnce() {
    const long before = paints;
    update();
    while (paints == before) {
      QApplication::processEvents(QEventLoop::AllEvents);
    }
  }

  long paints = 0;

 protected:
  void DrawScene() override {
    ++paints;
    COglWndCustom::DrawScene();
  }
};

// The arm from a file that PaintShapes and PaintFigure paint.
std::string armFile = VELMOTH_EXAMPLES "/industrial6.urdf";
std::vector<std::string> packagePaths;

// A shown view of the built-in arm (or of robot), ready to paint.
struct ShownView {
  std::unique_ptr<Robot> robot;
  BenchView view;

  explicit ShownView(std::unique_ptr<Robot> arm = MakeBuiltInRobot())
      : robot(std::move(arm)), view(robot.get()) {
    view.resize(kViewWidth, kViewHeight);
    view.show();
    QElapsedTimer waited;
    waited.start();
    while (!(view.isExposed() && view.IsGlReady()) && waited.elapsed() < 10000) {
      QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
  }
};

void BM_PaintScene(benchmark::State& state) {
  ShownView shown;
  if (!shown.view.IsGlReady()) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  for (auto _ : state) {
    shown.view.PaintOnce();
  }
}
BENCHMARK(BM_PaintScene)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UpdateWindow(benchmark::State& state) {
  ShownView shown;
  if (!shown.view.IsGlReady()) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  for (auto _ : state) {
    shown.view.UpdateOnce();
  }
}
BENCHMARK(BM_UpdateWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

void PaintArmFromFile(benchmark::State& state, bool shapes) {
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobot(armFile, error);
  if (robot == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<std::string> notices;
  auto model = std::make_shared<VisualModel>(
      LoadUrdfVisuals(armFile, PackageSearchFor(armFile, packagePaths), notices));
  ShownView shown(std::move(robot));
  if (!shown.view.IsGlReady()) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  shown.view.SetShapes(model);
  shown.view.SetShowShapes(shapes);
  shown.view.StartFramingReach();
  shown.view.PaintOnce();  // the display lists
  std::size_t triangles = 0;
  for (const VisualShape& shape : model->shapes) {
    triangles += shape.mesh != nullptr ? shape.mesh->TriangleCount() : 0;
  }
  for (auto _ : state) {
    shown.view.PaintOnce();
  }
  state.counters["mesh_triangles"] = static_cast<double>(triangles);
  state.counters["notices"] = static_cast<double>(notices.size());
}

void BM_PaintShapes(benchmark::State& state) {
  PaintArmFromFile(state, true);
}
BENCHMARK(BM_PaintShapes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PaintFigure(benchmark::State& state) {
  PaintArmFromFile(state, false);
}
BENCHMARK(BM_PaintFigure)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // --urdf FILE and --package-path DIR are ours; the rest is Google Benchmark's.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--urdf") == 0 && i + 1 < argc) {
      armFile = argv[++i];
    } else if (std::strcmp(argv[i], "--package-path") == 0 && i + 1 < argc) {
      packagePaths.push_back(argv[++i]);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  QApplication app(argc, argv);
  if (!COglWnd::CheckGlPlatform()) {
    return 1;
  }
  // The smoke run in the sanitizer build checks for leaks at exit; see the header.
  PinLoadedGlDrivers();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
