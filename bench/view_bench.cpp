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
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <memory>

#include "robot/robot.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd_custom.h"

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

// A shown view of the built-in arm, ready to paint.
struct ShownView {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  BenchView view{robot.get()};

  ShownView() {
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

}  // namespace

int main(int argc, char** argv) {
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
